// The whole window as a user meets it: real clips in the home folder, the tree pane and the
// inspector of the program, rows selected and played. What shows is compared with ffmpeg's
// own frames: upright in the inspector, the theater layout and full screen, turned as a
// phone clip's track header says, row thumbnails included; and facts never outlive the file.
#include "UiFixture.h"
#include "media/VideoPlayerController.h"
#include "support/PictureSupport.h"
#include "ui/inspector/InspectorMediaInfo.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/inspector/InspectorPlayerCard.h"
#include "ui/inspector/InspectorPlayerView.h"
#include "ui/player/FullscreenPlayerWindow.h"
#include "ui/player/PlayerSurfaces.h"
#include "ui/player/TransportControls.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/tree/TreeListView.h"
#include "ui/window/LumenkiteApp.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QHash>
#include <QSignalSpy>
#include <QTest>

using namespace uifx;

namespace {

struct Library {
    QString dir = home() + "/Videos/Phone";
    bool ok = false;
    Library()
    {
        const QStringList x264{"-c:v", "libx264", "-pix_fmt", "yuv420p", "-preset", "ultrafast"};
        const QStringList oneKeyFrame = x264 + QStringList{"-g", "1000", "-keyint_min", "1000", "-sc_threshold", "0"};
        ok = lktest::makeMarkedClip(dir + "/marked.mkv", 6, 320, 180, x264)
             && lktest::makeMarkedClip(dir + "/marked.mp4", 6, 320, 180, x264)
             && lktest::makeMarkedClip(dir + "/turned.mp4", 6, 320, 180, x264)
             && lktest::setTrackRotation(dir + "/turned.mp4", 90)
             && lktest::makeMarkedClip(dir + "/onekey.ts", 8, 320, 180, oneKeyFrame)
             && lktest::writeSizedFile(dir + "/broken.mkv", 4096);
    }
    QString path(const char *name) const { return dir + "/" + name; }
};

class AppPlayback : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.ok) << "ffmpeg could not make the clips";
        // With a sound output the platform player plays the native files itself.
        sound = std::make_unique<lktest::NullSoundServer>();
        ASSERT_TRUE(sound->running()) << "pulseaudio is required on this machine";
        ContentViewParts parts;
        parts.treePane = [](AppState *s, QWidget *parent) -> QWidget * { return new LumenkitePane(s, parent); };
        parts.inspector = makeInspectorPane;
        app = std::make_unique<LumenkiteApp>(parts);
        state = app->state();
        state->setShowOnboarding(false);
        QList<VideoFile> files;
        for (const char *name : {"marked.mkv", "marked.mp4", "turned.mp4", "onekey.ts", "broken.mkv"}) {
            const QFileInfo info(lib.path(name));
            files.append(*VideoFile::make(info.filePath(), info.size(), info.lastModified(), std::nullopt));
        }
        state->setAllVideos(files);
        state->rebuildTree(true);
        state->expandAll();
        app->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->mainWindow()));
    }
    void TearDown() override
    {
        FullscreenPlayerWindowManager::shared().dismiss(false);
        app.reset();
    }

    VideoFile video(const char *name) const { return *state->videoWithID(standardizedPath(lib.path(name))); }
    InspectorPlayerView *inspector() const { return app->mainWindow()->findChild<InspectorPlayerView *>(); }
    VideoPlayerController *player() const { return inspector() ? inspector()->controller() : nullptr; }

    void select(const char *name)
    {
        state->selectVideo(video(name));
        ASSERT_TRUE(waitFor([&] { return player() && player()->currentURL() == video(name).url(); }, 5000));
    }

    void playThenPause(double past)
    {
        VideoPlayerController *c = player();
        c->play();
        ASSERT_TRUE(lktest::waitFor([&] { return c->currentTime() > past; }, 15000)) << "time " << c->currentTime();
        // The phone formats were played by the platform player, with its own frames (a
        // transport stream may still be handed to libmpv when the platform cannot seek it).
        const QString path = c->currentURL().path();
        if (path.endsWith(QLatin1String(".mp4"))) {
            EXPECT_FALSE(c->isUsingMPV()) << path.toStdString();
            EXPECT_TRUE(c->lastVideoFrame().isValid());
        } else if (!VideoPlayerController::isNativeExtension(c->currentURL())) {
            EXPECT_TRUE(c->isUsingMPV()) << path.toStdString();
        }
        c->pause();
        QTest::qWait(200);
    }

    // The surface's picture against ffmpeg's frame. The clips' picture does not change over
    // time, so ffmpeg's frame is read once, before playing: the platform player gives up on
    // its picture when the GUI thread is held up while it starts or plays.
    QImage truthOf(const char *name)
    {
        if (!truths.contains(name))
            truths.insert(name, lktest::ffmpegFrame(lib.path(name), 1.5));
        return truths.value(name);
    }
    void expectShowsFrame(UnifiedVideoSurface *surface, const char *name, const char *where)
    {
        SCOPED_TRACE(where);
        ASSERT_NE(surface, nullptr);
        QImage shown;
        const QImage truth = truthOf(name);
        ASSERT_FALSE(truth.isNull());
        double score = -1;
        lktest::waitFor([&] {
            shown = lktest::withoutBlackBorders(surface->grabPicture());
            score = lktest::pictureCorrelation(shown, truth);
            return score > 0.9;
        }, 6000);
        EXPECT_GT(score, 0.9) << "shown " << shown.width() << "x" << shown.height();
        EXPECT_NEAR(lktest::aspectOf(shown), lktest::aspectOf(truth), 0.1);
    }

    static const Library &libraryOnce()
    {
        static Library l;
        return l;
    }
    const Library &lib = libraryOnce();
    std::unique_ptr<lktest::NullSoundServer> sound;
    QHash<QString, QImage> truths;
    std::unique_ptr<LumenkiteApp> app;
    AppState *state = nullptr;
};

} // namespace

TEST_F(AppPlayback, PictureIsUprightInTheInspectorTheaterAndFullScreen)
{
    for (const char *name : {"marked.mkv", "marked.mp4", "turned.mp4", "onekey.ts"}) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(truthOf(name).isNull());
        state->setIsTheaterMode(false);
        ASSERT_NO_FATAL_FAILURE(select(name));
        // While playing: the picture does not change over the clip, so any moment compares.
        player()->play();
        ASSERT_TRUE(waitFor([&] { return player()->currentTime() > 1.0; }, 15000));
        expectShowsFrame(inspector()->playerCard()->surface(), name, "inspector, playing");
        EXPECT_TRUE(player()->isPlaying());
        player()->pause();
        ASSERT_NO_FATAL_FAILURE(playThenPause(player()->currentTime() + 0.4));
        expectShowsFrame(inspector()->playerCard()->surface(), name, "inspector");

        state->setIsTheaterMode(true);
        ASSERT_TRUE(waitFor([&] { return inspector() && inspector()->isVisible(); }, 3000));
        ASSERT_NO_FATAL_FAILURE(playThenPause(player()->currentTime() + 0.4));
        expectShowsFrame(inspector()->playerCard()->surface(), name, "theater");

        inspector()->toggleFullscreen();
        QWidget *window = FullscreenPlayerWindowManager::shared().window();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_NO_FATAL_FAILURE(playThenPause(player()->currentTime() + 0.4));
        expectShowsFrame(window->findChild<UnifiedVideoSurface *>(), name, "full screen");
        inspector()->toggleFullscreen();
        ASSERT_TRUE(waitFor([] { return !FullscreenPlayerWindowManager::shared().isActive(); }, 3000));
    }
}

TEST_F(AppPlayback, RowThumbnailsAndPreviewShowThePictureAsFfmpegDoes)
{
    auto *list = app->mainWindow()->findChild<TreeListView *>();
    ASSERT_NE(list, nullptr);
    for (const char *name : {"marked.mp4", "turned.mp4", "onekey.ts"}) {
        SCOPED_TRACE(name);
        const QImage truth = lktest::ffmpegFrame(lib.path(name), 1.5);
        const QString id = video(name).id;
        ASSERT_TRUE(waitFor([&] { return list->thumbnail(id) && !list->thumbnail(id)->isNull(); }, 15000))
            << "no row thumbnail";
        EXPECT_GT(lktest::pictureCorrelation(*list->thumbnail(id), truth), 0.9);
        EXPECT_NEAR(lktest::aspectOf(*list->thumbnail(id)), lktest::aspectOf(truth), 0.05);
        // The inspector's still preview of the selected clip.
        QSignalSpy loaded(inspector(), &InspectorPlayerView::mediaInfoLoaded);
        ASSERT_NO_FATAL_FAILURE(select(name));
        ASSERT_TRUE(waitFor([&] { return loaded.count() > 0; }, 15000));
        EXPECT_GT(lktest::pictureCorrelation(inspector()->fallbackThumb(), truth), 0.9);
        EXPECT_NEAR(lktest::aspectOf(inspector()->fallbackThumb()), lktest::aspectOf(truth), 0.05);
    }
}

TEST_F(AppPlayback, UnreadableFileShowsNoneOfThePreviousFilesFacts)
{
    for (const char *readable : {"marked.mkv", "marked.mp4"}) {
        SCOPED_TRACE(readable);
        ASSERT_NO_FATAL_FAILURE(select(readable));
        ASSERT_TRUE(waitFor([&] { return inspector()->transportControls()->shownDuration() > 5; }, 10000));
        ASSERT_NO_FATAL_FAILURE(select("broken.mkv"));
        ASSERT_TRUE(waitFor([&] { return inspector()->mediaInfoGrid() && !player()->canPlayCurrentFile(); }, 10000));
        QTest::qWait(400); // room for a late reading of the previous file
        EXPECT_EQ(inspector()->transportControls()->shownDuration(), 0);
        for (const MediaInfoRow &row : inspector()->mediaInfoGrid()->rows())
            EXPECT_FALSE(row.value.contains("0:06")) << row.labelKey.toStdString() << " " << row.value.toStdString();
    }
}

