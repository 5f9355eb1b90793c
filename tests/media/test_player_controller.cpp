// The player controller against real clips: the native player for the native formats,
// libmpv's engine state for the rest (pictures are checked in the ui tests).
#include "media/LibMPVLibrary.h"
#include "media/MediaMetadataService.h"
#include "media/MPVPlayerEngine.h"
#include "media/NativeDecodability.h"
#include "media/VideoPlayerController.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <functional>

namespace {

using lktest::waitFor;

class ControllerClips : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = lktest::sandboxRoot() + "/clips";
        QDir().mkpath(dir);
        ok = lktest::makeClip(dir + "/h264.mp4", 4, 160, 120, {"-c:v", "libx264", "-pix_fmt", "yuv420p"}, true)
             && lktest::makeClip(dir + "/vp9.mp4", 4, 160, 120, {"-c:v", "libvpx-vp9", "-b:v", "200k"})
             && lktest::makeClip(dir + "/clip.mkv", 4, 160, 120, {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    }
    static QUrl clip(const QString &name) { return QUrl::fromLocalFile(dir + "/" + name); }
    void SetUp() override { ASSERT_TRUE(ok) << "ffmpeg could not make the fixture clips"; }

    static inline QString dir;
    static inline bool ok = false;
};

} // namespace

TEST_F(ControllerClips, NativeMp4PlaysThroughTheNativePlayerWithTimeAdvancing)
{
    VideoPlayerController c;
    c.load(clip("h264.mp4"));
    EXPECT_FALSE(c.isUsingMPV());
    EXPECT_TRUE(c.canPlayCurrentFile());
    ASSERT_TRUE(waitFor([&] { return c.duration() > 3.5; })) << "duration " << c.duration();
    c.play();
    ASSERT_TRUE(waitFor([&] { return c.currentTime() > 0.8; })) << "time " << c.currentTime();
    EXPECT_TRUE(c.isPlaying());
    EXPECT_FALSE(c.isUsingMPV());
    EXPECT_TRUE(c.lastVideoFrame().isValid());
}

TEST_F(ControllerClips, PausedNativeFileShowsItsFirstFrameAndFollowsSeeks)
{
    VideoPlayerController c;
    QSignalSpy frames(&c, &VideoPlayerController::videoFrameChanged);
    c.load(clip("h264.mp4"));
    ASSERT_TRUE(waitFor([&] { return !c.stillImage().isNull(); })) << "no picture before playing";
    EXPECT_EQ(c.stillImage().size(), QSize(160, 120));
    EXPECT_FALSE(c.isPlaying());
    EXPECT_FALSE(frames.isEmpty());
    const QImage first = c.stillImage();
    ASSERT_TRUE(waitFor([&] { return c.duration() > 3.5; }));
    frames.clear();
    c.seek(2.0);
    ASSERT_TRUE(waitFor([&] { return !frames.isEmpty(); })) << "a seek while paused left the old picture";
    EXPECT_NE(c.stillImage(), first);
    QTest::qWait(300);
    EXPECT_FALSE(c.isPlaying());
    EXPECT_NEAR(c.currentTime(), 2.0, 0.05);
    EXPECT_FALSE(c.isUsingMPV());

    // Once the player runs, its own frames take over and the still is dropped.
    c.play();
    ASSERT_TRUE(waitFor([&] { return c.lastVideoFrame().isValid(); }));
    EXPECT_TRUE(c.stillImage().isNull());
    // A file of libmpv gets no still: libmpv shows its own first frame.
    c.load(clip("clip.mkv"));
    QTest::qWait(300);
    EXPECT_TRUE(c.stillImage().isNull());
}

// A file that fails in the native player goes to libmpv, and the native player serves the
// next file as before (the failed one is replaced, with its outputs).
TEST_F(ControllerClips, AFileTheNativePlayerFailsGoesToLibmpvAndTheNextNativeFilePlays)
{
    if (!LibMPVLibrary::shared())
        GTEST_SKIP() << "libmpv is not installed";
    const QString broken = dir + "/broken.mp4";
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a video");
    }
    VideoPlayerController c;
    for (int round = 0; round < 2; ++round) {
        c.load(QUrl::fromLocalFile(broken), false, true);
        ASSERT_TRUE(waitFor([&] { return c.isUsingMPV(); })) << "round " << round << ": no fallback to libmpv";
        c.load(clip("h264.mp4"), false, true);
        EXPECT_FALSE(c.isUsingMPV());
        ASSERT_TRUE(waitFor([&] { return c.currentTime() > 0.5; })) << "round " << round << ": time " << c.currentTime();
        EXPECT_TRUE(c.lastVideoFrame().isValid());
        EXPECT_EQ(c.lastVideoFrame().size(), QSize(160, 120));
    }
}

TEST(NativeDecodability, CodecsDecide)
{
    const QString dir = lktest::sandboxRoot() + "/decode";
    ASSERT_TRUE(lktest::makeClip(dir + "/a.mp4", 1, 64, 48, {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
    ASSERT_TRUE(lktest::makeClip(dir + "/b.mp4", 1, 64, 48, {"-c:v", "libvpx-vp9"}));
    ASSERT_TRUE(lktest::makeClip(dir + "/c.mov", 1, 64, 48, {"-c:v", "mjpeg"}));
    EXPECT_EQ(probeNativeDecodability(dir + "/a.mp4"), NativeDecodability::decodableVideo);
    EXPECT_EQ(probeNativeDecodability(dir + "/b.mp4"), NativeDecodability::undecodableVideo);
    EXPECT_EQ(probeNativeDecodability(dir + "/c.mov"), NativeDecodability::decodableVideo);
    EXPECT_EQ(probeNativeDecodability(dir + "/missing.mp4"), NativeDecodability::unknown);
}

// The controller's own probe and the media facts must send a file the same way, or the
// inspector would move a file to libmpv that the controller kept (or the reverse).
TEST(NativeDecodability, AgreesWithTheMediaFacts)
{
    const QString dir = lktest::sandboxRoot() + "/agree";
    struct Clip {
        const char *name;
        QStringList args;
    };
    const Clip clips[] = {
        {"h264.mp4", {"-c:v", "libx264", "-pix_fmt", "yuv420p"}},
        {"mpeg4.mp4", {"-c:v", "mpeg4"}},
        {"mpeg2.mpg", {"-c:v", "mpeg2video"}},
        {"mjpeg.mov", {"-c:v", "mjpeg"}},
        {"h263.3gp", {"-c:v", "h263", "-s", "176x144"}},
        {"h263p.mov", {"-c:v", "h263p"}},
        {"vp9.mp4", {"-c:v", "libvpx-vp9"}},
    };
    MediaMetadataService media;
    for (const Clip &c : clips) {
        SCOPED_TRACE(c.name);
        const QString path = dir + "/" + c.name;
        ASSERT_TRUE(lktest::makeClip(path, 1, 64, 48, c.args));
        QFuture<VideoMediaInfo> future = media.metadata(QUrl::fromLocalFile(path));
        ASSERT_TRUE(waitFor([&] { return future.isFinished(); }));
        const VideoMediaInfo facts = future.result();
        EXPECT_EQ(probeNativeDecodability(path) == NativeDecodability::decodableVideo, facts.isPlayableNatively);
    }
}
