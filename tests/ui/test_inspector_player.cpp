// The inspector's player with the real full-screen window: every way in and out of full
// screen keeps the picture on the inspector's surface, a paused native clip shows its first
// frame, and a hidden inspector keeps its controller and what it was asked to play.
#include "library/AppState.h"
#include "media/LibMPVLibrary.h"
#include "media/VideoPlayerController.h"
#include "support/TestSupport.h"
#include "ui/player/FullscreenPlayerWindow.h"
#include "ui/inspector/InspectorPlayerCard.h"
#include "ui/inspector/InspectorPlayerView.h"
#include "ui/player/MPVOpenGLLayer.h"
#include "ui/player/PlayerSurfaces.h"
#include "ui/player/TransportControls.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

namespace {

using lktest::waitFor;

// Share of pixels that are clearly not black.
double litFraction(const QImage &image)
{
    if (image.isNull()) return 0;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    qint64 lit = 0, all = 0;
    for (int y = 0; y < img.height(); y += 3)
        for (int x = 0; x < img.width(); x += 3, ++all) {
            const QRgb p = img.pixel(x, y);
            lit += qRed(p) + qGreen(p) + qBlue(p) > 60;
        }
    return all ? double(lit) / all : 0;
}

bool showsPicture(UnifiedVideoSurface *surface)
{
    return waitFor([&] { return litFraction(surface->grabPicture()) > 0.3; });
}

struct Clips {
    QString dir;
    bool ok = false;
    Clips()
    {
        dir = lktest::sandboxRoot() + "/home/Videos/player";
        QDir().mkpath(dir);
        const QStringList h264{"-c:v", "libx264", "-pix_fmt", "yuv420p"};
        ok = lktest::makeClip(dir + "/clip.mkv", 8, 320, 240, h264) &&
             lktest::makeClip(dir + "/clip.mp4", 8, 320, 240, h264);
    }
};

const Clips &clips()
{
    static Clips c;
    return c;
}

// The inspector with the real full-screen window; only the desktop is recorded.
class InspectorPlayback : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(clips().ok) << "ffmpeg could not make the fixture clips";
        ASSERT_NE(LibMPVLibrary::shared(), nullptr) << "libmpv is required on this machine";
        MPVPlayerLayerView::setForceSoftwareRendering(GetParam());
        if (!GetParam() && !MPVPlayerLayerView::openGLAvailable()) GTEST_SKIP() << "no OpenGL context can be made here";
        state = std::make_unique<AppState>();
        QList<VideoFile> videos;
        for (const char *name : {"clip.mkv", "clip.mp4"}) videos.append(*VideoFile::fromFile(clips().dir + "/" + name));
        state->setAllVideos(videos);
        InspectorPlayerView::Hooks hooks;
        hooks.openURL = [this](const QUrl &url) {
            opened.append(url);
            return true;
        };
        hooks.revealInFileManager = [](const QList<QUrl> &) { return true; };
        view = std::make_unique<InspectorPlayerView>(state.get(), hooks);
        view->resize(440, 900);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    void TearDown() override
    {
        FullscreenPlayerWindowManager::shared().dismiss(false);
        view.reset();
        state.reset();
        MPVPlayerLayerView::setForceSoftwareRendering(false);
    }

    VideoFile video(const QString &name) const
    {
        return *state->videoWithID(standardizedPath(clips().dir + "/" + name));
    }
    VideoPlayerController *controller() const { return view->controller(); }
    UnifiedVideoSurface *inspectorSurface() const { return view->playerCard()->surface(); }
    FullscreenPlayerOverlay *overlay() const
    {
        QWidget *window = FullscreenPlayerWindowManager::shared().window();
        return window ? window->findChild<FullscreenPlayerOverlay *>() : nullptr;
    }

    std::unique_ptr<AppState> state;
    std::unique_ptr<InspectorPlayerView> view;
    QList<QUrl> opened;
};

} // namespace

TEST_P(InspectorPlayback, EveryWayInAndOutOfFullscreenKeepsThePicture)
{
    enum class In { transportButton, signal, doubleClick };
    enum class Out { escape, placeholderButton, signal };
    const std::pair<In, Out> rounds[] = {
        {In::transportButton, Out::escape}, {In::signal, Out::placeholderButton}, {In::doubleClick, Out::signal}};
    for (const char *name : {"clip.mkv", "clip.mp4"}) {
        SCOPED_TRACE(name);
        state->selectVideo(video(name));
        ASSERT_TRUE(waitFor([&] { return controller()->currentURL() == video(name).url(); }));
        controller()->play();
        ASSERT_TRUE(showsPicture(inspectorSurface())) << "no picture in the inspector";
        for (const auto &[in, out] : rounds) {
            SCOPED_TRACE(int(in));
            switch (in) {
            case In::transportButton: view->transportControls()->fullscreenButton()->click(); break;
            case In::signal: state->setFullscreenRequestSignal(state->fullscreenRequestSignal() + 1); break;
            case In::doubleClick: QTest::mouseDClick(inspectorSurface(), Qt::LeftButton, {}, QPoint(10, 10)); break;
            }
            ASSERT_TRUE(waitFor([&] { return overlay() != nullptr; })) << "the full-screen window did not open";
            EXPECT_TRUE(view->isFullscreenActive());
            EXPECT_TRUE(view->fullscreenPlaceholder()->isVisibleTo(view.get()));
            EXPECT_TRUE(showsPicture(overlay()->surface())) << "full-screen surface stayed black";
            switch (out) {
            case Out::escape: {
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, {});
                QCoreApplication::sendEvent(FullscreenPlayerWindowManager::shared().window(), &esc);
                break;
            }
            case Out::placeholderButton: view->fullscreenPlaceholder()->exitButton()->click(); break;
            case Out::signal: state->setFullscreenRequestSignal(state->fullscreenRequestSignal() + 1); break;
            }
            ASSERT_TRUE(waitFor([&] { return !FullscreenPlayerWindowManager::shared().isActive(); }));
            EXPECT_FALSE(view->isFullscreenActive());
            EXPECT_TRUE(view->playerCard()->isVisibleTo(view.get()));
            EXPECT_TRUE(showsPicture(inspectorSurface())) << "the inspector's picture stayed black after return";
            EXPECT_TRUE(controller()->isPlaying());
        }
    }
    EXPECT_TRUE(opened.isEmpty());
}

TEST_P(InspectorPlayback, PausedNativeClipShowsItsFirstFrame)
{
    state->selectVideo(video("clip.mp4"));
    ASSERT_TRUE(waitFor([&] { return controller()->currentURL() == video("clip.mp4").url(); }));
    EXPECT_TRUE(showsPicture(inspectorSurface())) << "a paused native clip stays black";
    EXPECT_FALSE(controller()->isPlaying());
    EXPECT_FALSE(controller()->isUsingMPV());
    EXPECT_TRUE(view->playerCard()->playOverlay()->isVisibleTo(view.get()));
}

TEST_P(InspectorPlayback, HidingKeepsTheControllerAndItsPlayRequest)
{
    VideoPlayerController *before = controller();
    view->hide();
    // Selected and asked to play while hidden: the load must not wait for a surface.
    state->selectVideo(video("clip.mkv"));
    view->loadSelection(false, false);
    controller()->play();
    EXPECT_EQ(controller(), before);
    ASSERT_TRUE(waitFor([&] { return controller()->currentTime() > 0.5; }))
        << "the play request made while hidden was lost";
    view->show();
    QTest::qWait(50);
    EXPECT_EQ(controller(), before);
    EXPECT_EQ(controller()->currentURL(), video("clip.mkv").url());
    EXPECT_TRUE(controller()->isPlaying());
}

INSTANTIATE_TEST_SUITE_P(Renderers, InspectorPlayback, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Software" : "OpenGL"; });
