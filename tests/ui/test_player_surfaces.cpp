// Playback through libmpv into our own surfaces, with the picture read back from the
// widgets: both the OpenGL layer and the software one, fallback from the native player,
// surface hand-over, failed loads and the lifetime of the engine.
#include "media/LibMPVLibrary.h"
#include "media/MPVPlayerEngine.h"
#include "media/VideoPlayerController.h"
#include "support/PictureSupport.h"
#include "support/TestSupport.h"
#include "ui/player/FullscreenPlayerWindow.h"
#include "ui/player/MPVOpenGLLayer.h"
#include "ui/player/PlayerSurfaces.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace {

using lktest::waitFor;

// Share of pixels that are clearly not black.
double litFraction(const QImage &image)
{
    if (image.isNull())
        return 0;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    qint64 lit = 0;
    for (int y = 0; y < img.height(); y += 2) {
        const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); x += 2)
            if (qRed(line[x]) + qGreen(line[x]) + qBlue(line[x]) > 60)
                ++lit;
    }
    return double(lit) / (((img.width() + 1) / 2) * ((img.height() + 1) / 2));
}

bool showsPicture(UnifiedVideoSurface &surface, int timeoutMs = 8000)
{
    return waitFor([&] { return litFraction(surface.grabPicture()) > 0.3; }, timeoutMs);
}

struct Clips {
    QString dir;
    bool ok = false;
    Clips()
    {
        dir = lktest::sandboxRoot() + "/clips";
        const QStringList h264{"-c:v", "libx264", "-pix_fmt", "yuv420p"};
        ok = lktest::makeClip(dir + "/clip.mkv", 6, 320, 240, h264)
             && lktest::makeClip(dir + "/clip.webm", 6, 320, 240, {"-c:v", "libvpx-vp9", "-b:v", "300k"})
             && lktest::makeClip(dir + "/vp9.mp4", 8, 320, 240, {"-c:v", "libvpx-vp9", "-b:v", "300k"})
             && lktest::makeClip(dir + "/h264.mp4", 8, 320, 240, h264);
        // Pictures that tell up from down: a plain one and a phone-style one turned by its
        // track header (the file holds the picture lying on its side).
        ok = ok && lktest::makeMarkedClip(dir + "/marked.mkv", 6, 320, 180, h264)
             && lktest::makeMarkedClip(dir + "/marked.mp4", 6, 320, 180, h264)
             && lktest::makeMarkedClip(dir + "/turned.mp4", 6, 320, 180, h264)
             && lktest::setTrackRotation(dir + "/turned.mp4", 90);
        QFile bad(dir + "/broken.mkv");
        ok = ok && bad.open(QIODevice::WriteOnly) && bad.write(QByteArray(4096, 'x')) == 4096;
    }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(dir + "/" + name); }
};

const Clips &clips()
{
    static Clips c;
    return c;
}

// A window holding one surface for a controller.
struct Stage {
    QWidget window;
    UnifiedVideoSurface *surface;
    explicit Stage(VideoPlayerController &c)
    {
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        surface = new UnifiedVideoSurface(&c, &window);
        layout->addWidget(surface);
        window.resize(320, 240);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
};

// The picture a surface shows, paused, against ffmpeg's frame of the same time: the same
// way up and the same shape.
void expectShowsFrameOf(UnifiedVideoSurface &surface, VideoPlayerController &c, const QString &path)
{
    QImage shown;
    QImage truth;
    double score = -1;
    // The surface may still show an earlier frame for a moment after the pause.
    waitFor([&] {
        shown = lktest::withoutBlackBorders(surface.grabPicture());
        truth = lktest::ffmpegFrame(path, c.currentTime());
        score = lktest::pictureCorrelation(shown, truth);
        return score > 0.9;
    }, 6000);
    EXPECT_GT(score, 0.9) << "shown " << shown.width() << "x" << shown.height() << " at " << c.currentTime();
    EXPECT_NEAR(lktest::aspectOf(shown), lktest::aspectOf(truth), 0.1);
}

void playAndPause(VideoPlayerController &c, double past = 1.0)
{
    c.play();
    ASSERT_TRUE(waitFor([&] { return c.currentTime() > past; })) << "time " << c.currentTime();
    c.pause();
    QTest::qWait(200);
}

class MPVSurfaces : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(clips().ok) << "ffmpeg could not make the fixture clips";
        ASSERT_NE(LibMPVLibrary::shared(), nullptr) << "libmpv is required on this machine";
        MPVPlayerLayerView::setForceSoftwareRendering(GetParam());
        if (!GetParam() && !MPVPlayerLayerView::openGLAvailable())
            GTEST_SKIP() << "no OpenGL context can be made here";
    }
    void TearDown() override { MPVPlayerLayerView::setForceSoftwareRendering(false); }
};

} // namespace

TEST_P(MPVSurfaces, MkvAndWebmPlayThroughLibmpvWithAPicture)
{
    for (const char *name : {"clip.mkv", "clip.webm"}) {
        SCOPED_TRACE(name);
        VideoPlayerController c;
        Stage stage(c);
        c.load(clips().url(name), false, true);
        EXPECT_TRUE(c.isUsingMPV());
        EXPECT_TRUE(c.canPlayCurrentFile());
        ASSERT_TRUE(waitFor([&] { return c.currentTime() > 0.5; })) << "time " << c.currentTime();
        EXPECT_TRUE(c.isPlaying());
        EXPECT_NEAR(c.duration(), 6.0, 0.2);
        EXPECT_TRUE(stage.surface->showsMPV());
        EXPECT_TRUE(showsPicture(*stage.surface)) << litFraction(stage.surface->grabPicture());
    }
}

TEST_P(MPVSurfaces, PictureIsUprightInEveryViewAndTurnedAsTheFileSays)
{
    for (const char *name : {"marked.mkv", "turned.mp4"}) {
        SCOPED_TRACE(name);
        const QString path = clips().dir + "/" + name;
        VideoPlayerController c;
        Stage stage(c);
        c.load(QUrl::fromLocalFile(path), true, false);
        ASSERT_TRUE(waitFor([&] { return c.duration() > 5; }));
        ASSERT_TRUE(stage.surface->showsMPV());
        // The paused picture before playing, then a played one.
        expectShowsFrameOf(*stage.surface, c, path);
        ASSERT_NO_FATAL_FAILURE(playAndPause(c));
        expectShowsFrameOf(*stage.surface, c, path);

        // The full-screen window shows the same picture the same way up.
        stage.surface->hide();
        FullscreenPlayerWindowManager::shared().present(*VideoFile::make(path, 1, QDateTime::currentDateTime(), {}),
                                                         &c, AppLanguage::en, {}, {});
        QWidget *window = FullscreenPlayerWindowManager::shared().window();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        auto *fullscreen = window->findChild<UnifiedVideoSurface *>();
        ASSERT_NE(fullscreen, nullptr);
        c.refreshSurface();
        ASSERT_NO_FATAL_FAILURE(playAndPause(c, c.currentTime() + 0.5));
        expectShowsFrameOf(*fullscreen, c, path);
        FullscreenPlayerWindowManager::shared().dismiss(false);
        stage.surface->show();
    }
}

INSTANTIATE_TEST_SUITE_P(Renderers, MPVSurfaces, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Software" : "OpenGL"; });

TEST_P(MPVSurfaces, SurfaceRoundTripKeepsThePicture)
{
    // Inspector surface -> full-screen surface -> back: each hand-over frees one render
    // context and makes another, which must not leave libmpv with video switched off.
    VideoPlayerController c;
    Stage inspector(c);
    c.load(clips().url("clip.mkv"), false, true);
    ASSERT_TRUE(showsPicture(*inspector.surface));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        {
            inspector.surface->hide();
            Stage fullscreen(c);
            EXPECT_TRUE(showsPicture(*fullscreen.surface)) << "full-screen surface stayed black";
        }
        inspector.surface->show();
        c.refreshSurface();
        EXPECT_TRUE(showsPicture(*inspector.surface)) << "inspector surface stayed black after return";
    }
    EXPECT_TRUE(c.canPlayCurrentFile());
    EXPECT_TRUE(c.isPlaying());
}

TEST_P(MPVSurfaces, NativeFileThatDoesNotDecodeFallsBackAtTheSamePosition)
{
    VideoPlayerController c;
    Stage stage(c);
    c.load(clips().url("vp9.mp4"), false, true, false, 3.0);
    ASSERT_TRUE(waitFor([&] { return c.isUsingMPV(); })) << "no fallback to libmpv";
    EXPECT_TRUE(c.canPlayCurrentFile());
    ASSERT_TRUE(waitFor([&] { return c.currentTime() > 3.0; }));
    EXPECT_LT(c.currentTime(), 6.0);
    EXPECT_TRUE(c.isPlaying());
    EXPECT_TRUE(showsPicture(*stage.surface));
}

TEST_P(MPVSurfaces, FailedLoadIsReportedAsNotPlayable)
{
    VideoPlayerController c;
    Stage stage(c);
    c.load(clips().url("broken.mkv"), false, true);
    ASSERT_TRUE(waitFor([&] { return !c.canPlayCurrentFile(); })) << "a broken file was taken as playing";
    EXPECT_FALSE(c.isPlaying());
    QTest::qWait(300); // polling must not flip it back
    EXPECT_FALSE(c.isPlaying());
    EXPECT_FALSE(c.canPlayCurrentFile());
    // The next good file plays again.
    c.load(clips().url("clip.mkv"), false, true);
    EXPECT_TRUE(c.canPlayCurrentFile());
    ASSERT_TRUE(waitFor([&] { return c.currentTime() > 0.3; }));
    EXPECT_TRUE(c.canPlayCurrentFile());
}

TEST_P(MPVSurfaces, UnreadableFileAfterAReadableOneKeepsNoneOfItsFacts)
{
    for (const bool playing : {false, true}) {
        SCOPED_TRACE(playing ? "playing" : "paused");
        VideoPlayerController c;
        Stage stage(c);
        c.load(clips().url("clip.mkv"), false, playing);
        ASSERT_TRUE(waitFor([&] { return c.duration() > 5 && (!playing || c.currentTime() > 0.5); }));
        c.load(clips().url("broken.mkv"), false, false);
        ASSERT_TRUE(waitFor([&] { return !c.canPlayCurrentFile(); }));
        QTest::qWait(300); // a late reading of the old file would land here
        EXPECT_EQ(c.duration(), 0);
        EXPECT_EQ(c.currentTime(), 0);
    }
}

TEST_P(MPVSurfaces, StartTimeIsAppliedOnceTheFileHasLoaded)
{
    VideoPlayerController c;
    Stage stage(c);
    // Loaded while no surface can draw: the file opens late, the start must survive.
    stage.surface->hide();
    c.load(clips().url("clip.mkv"), false, false, false, 4.0);
    EXPECT_DOUBLE_EQ(c.currentTime(), 4.0);
    QTest::qWait(400);
    stage.surface->show();
    ASSERT_TRUE(waitFor([&] { return c.mpvEngine()->getDouble("time-pos").value_or(0) > 3.5; }))
        << "time-pos " << c.mpvEngine()->getDouble("time-pos").value_or(-1);
    // The controller learns the position by polling, so it may still hold the reading from
    // before libmpv carried out the seek.
    EXPECT_TRUE(waitFor([&] { return std::abs(c.currentTime() - 4.0) <= 0.3; })) << "time " << c.currentTime();
    EXPECT_FALSE(c.isPlaying());
}

TEST_P(MPVSurfaces, PlayOrPauseDuringAPendingLoadDecidesWhatTheLoadDoes)
{
    struct Case {
        bool autoplay;
        bool requestPlay;
    };
    for (const Case k : {Case{false, true}, Case{true, false}}) {
        SCOPED_TRACE(k.requestPlay ? "play while pending" : "pause while pending");
        VideoPlayerController c;
        Stage stage(c);
        stage.surface->hide(); // e.g. a closed inspector
        c.load(clips().url("clip.mkv"), false, k.autoplay);
        // No render context exists yet, so the engine keeps the load for later.
        ASSERT_TRUE(c.mpvEngine()->pendingLoad().has_value());
        k.requestPlay ? c.play() : c.pause();
        EXPECT_EQ(c.mpvEngine()->pendingLoad()->autoPlay, k.requestPlay);
        ASSERT_TRUE(waitFor([&] { return c.duration() > 5; }));
        if (k.requestPlay) {
            // How soon playback gets going depends on the machine's load.
            EXPECT_TRUE(waitFor([&] { return c.currentTime() > 0.3; })) << "time " << c.currentTime();
        } else {
            QTest::qWait(600); // room for a wrong start to show
            EXPECT_LT(c.currentTime(), 0.1);
        }
        EXPECT_EQ(c.isPlaying(), k.requestPlay);
        stage.surface->show();
        EXPECT_TRUE(showsPicture(*stage.surface));
    }
}

TEST_P(MPVSurfaces, HiddenSurfaceKeepsPlaybackGoing)
{
    VideoPlayerController c;
    Stage stage(c);
    c.load(clips().url("clip.mkv"), false, true);
    ASSERT_TRUE(showsPicture(*stage.surface));
    stage.surface->hide();
    const double before = c.currentTime();
    // Event-driven rather than a fixed 1.2 s: a loaded machine may play slower than real time.
    EXPECT_TRUE(waitFor([&] { return c.currentTime() > before + 0.6; }))
        << "playback stalled while no surface was visible: " << before << " -> " << c.currentTime();
    EXPECT_TRUE(c.isPlaying());
    EXPECT_TRUE(c.canPlayCurrentFile());
}

TEST_P(MPVSurfaces, ControllerGoneLeavesNoEngine)
{
    const int before = MPVPlayerEngine::liveEngineCount();
    {
        auto c = std::make_unique<VideoPlayerController>();
        Stage stage(*c);
        c->load(clips().url("clip.mkv"), false, true);
        ASSERT_TRUE(waitFor([&] { return c->currentTime() > 0.2; }));
        EXPECT_EQ(MPVPlayerEngine::liveEngineCount(), before + 1);
        c.reset(); // the surface outlives its controller for a moment
        stage.window.repaint();
    }
    EXPECT_EQ(MPVPlayerEngine::liveEngineCount(), before);
}

TEST_P(MPVSurfaces, TransportReachesLibmpv)
{
    VideoPlayerController c;
    Stage stage(c);
    c.load(clips().url("clip.mkv"), false, false);
    ASSERT_TRUE(waitFor([&] { return c.duration() > 5; }));
    MPVPlayerEngine *e = c.mpvEngine();

    c.seek(2.5);
    ASSERT_TRUE(waitFor([&] { return std::abs(e->getDouble("time-pos").value_or(0) - 2.5) < 0.1; }));
    c.seek(60);
    EXPECT_DOUBLE_EQ(c.currentTime(), c.duration());

    c.setPlaybackRate(1.5f);
    EXPECT_DOUBLE_EQ(e->getDouble("speed").value_or(0), 1.5);
    c.setVolume(1.4f);
    EXPECT_FLOAT_EQ(c.volume(), 1.0f);
    EXPECT_DOUBLE_EQ(e->getDouble("volume").value_or(0), 100.0);
    c.setVolume(0.4f);
    EXPECT_NEAR(e->getDouble("volume").value_or(0), 40.0, 1e-4);
    c.toggleMute();
    EXPECT_TRUE(c.isMuted());
    EXPECT_EQ(e->getFlag("mute"), std::optional<bool>(true));
    c.setVolume(0.5f);
    EXPECT_FALSE(c.isMuted());
    EXPECT_EQ(e->getFlag("mute"), std::optional<bool>(false));
    c.setLooping(true);
    EXPECT_EQ(e->getString("loop-file").value_or(""), "inf");
    c.setLooping(false);
    EXPECT_EQ(e->getString("loop-file").value_or(""), "no");

    // Looping: playing through the end starts again instead of stopping.
    c.setLooping(true);
    c.seek(5.0);
    c.play();
    ASSERT_TRUE(waitFor([&] { return c.currentTime() < 1.0 && c.currentTime() > 0; }, 8000));
    EXPECT_TRUE(c.isPlaying());
}

TEST(NativeSurface, StillAndPlayedPictureAreUprightAndTurnedAsTheFileSays)
{
    ASSERT_TRUE(clips().ok);
    // The platform player plays only where a sound output exists.
    lktest::NullSoundServer sound;
    ASSERT_TRUE(sound.running()) << "pulseaudio is required on this machine";
    for (const char *name : {"marked.mp4", "turned.mp4"}) {
        SCOPED_TRACE(name);
        const QString path = clips().dir + "/" + name;
        // ffmpeg's frame is read before the player starts: the platform player gives up on
        // its picture when the GUI thread is held up while it starts. The picture does not
        // change over the clip, so one frame is the truth for every moment.
        const QImage truth = lktest::ffmpegFrame(path, 2.0);
        ASSERT_FALSE(truth.isNull());
        VideoPlayerController c;
        Stage stage(c);
        auto expectShowsTruth = [&](const char *when) {
            SCOPED_TRACE(when);
            QImage shown;
            double score = -1;
            waitFor([&] {
                shown = lktest::withoutBlackBorders(stage.surface->grabPicture());
                score = lktest::pictureCorrelation(shown, truth);
                return score > 0.9;
            }, 6000);
            EXPECT_GT(score, 0.9) << "shown " << shown.width() << "x" << shown.height();
            EXPECT_NEAR(lktest::aspectOf(shown), lktest::aspectOf(truth), 0.1);
        };
        c.load(QUrl::fromLocalFile(path), false, false, false, 2.0);
        ASSERT_FALSE(c.isUsingMPV());
        // Before playing: the still decoded at the start position.
        ASSERT_TRUE(waitFor([&] { return !c.stillImage().isNull(); }));
        expectShowsTruth("still");
        // Playing: the platform player's own frames.
        c.play();
        ASSERT_TRUE(waitFor([&] { return c.currentTime() > 2.5 && c.lastVideoFrame().isValid(); }, 15000))
            << "time " << c.currentTime() << ", libmpv " << c.isUsingMPV();
        ASSERT_FALSE(c.isUsingMPV()) << "the platform player did not play the file";
        expectShowsTruth("playing");
        EXPECT_TRUE(c.isPlaying());
        EXPECT_FALSE(c.isUsingMPV());
        // Paused on the player's last frame.
        c.pause();
        ASSERT_TRUE(waitFor([&] { return !c.isPlaying(); }));
        expectShowsTruth("paused");
        EXPECT_TRUE(c.stillImage().isNull());
    }
}
