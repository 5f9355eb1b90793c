// Scrubber arithmetic, rate labels, the full-screen window's keys and the preview
// widget's hand-over to full screen and back.
#include "media/VideoPlayerController.h"
#include "support/TestSupport.h"
#include "ui/FullscreenPlayerWindow.h"
#include "ui/PlayerPreviewWidget.h"
#include "ui/PlayerSurfaces.h"
#include "ui/ScrubberBar.h"
#include "ui/TransportControls.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>
#include <QTest>

#include <functional>
#include <optional>

namespace {
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

double litFraction(const QImage &image)
{
    if (image.isNull())
        return 0;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    qint64 lit = 0, all = 0;
    for (int y = 0; y < img.height(); y += 3)
        for (int x = 0; x < img.width(); x += 3, ++all) {
            const QRgb p = img.pixel(x, y);
            lit += qRed(p) + qGreen(p) + qBlue(p) > 60;
        }
    return all ? double(lit) / all : 0;
}
} // namespace

TEST(ScrubberBar, Formulas)
{
    struct Row {
        double time, duration, width, fraction, knob;
    };
    const Row rows[] = {
        {5, 10, 200, 0.5, 95},   {0, 10, 200, 0, 0},     {10, 10, 200, 1, 190},
        {15, 10, 200, 1, 190},   {-3, 10, 200, 0, 0},    {5, 0, 200, 0, 0},
        {5, -1, 200, 0, 0},      {0.2, 10, 200, 0.02, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.time << "/" << r.duration);
        EXPECT_DOUBLE_EQ(ScrubberBar::fraction(r.time, r.duration), r.fraction);
        EXPECT_DOUBLE_EQ(ScrubberBar::knobX(r.time, r.duration, r.width), r.knob);
    }
    struct Tick {
        double marker, duration, width, x;
    };
    const Tick ticks[] = {{0, 10, 200, 0}, {10, 10, 200, 193}, {5, 10, 200, 96.5}, {20, 10, 200, 193}, {-1, 10, 200, 0}};
    for (const Tick &t : ticks)
        EXPECT_DOUBLE_EQ(ScrubberBar::tickX(t.marker, t.duration, t.width), t.x) << t.marker;
    struct Seek {
        double x, width, duration;
        std::optional<double> target;
    };
    const Seek seeks[] = {{50, 200, 10, 2.5}, {-20, 200, 10, 0.0}, {500, 200, 10, 10.0},
                          {50, 200, 0, std::nullopt}, {50, 0, 10, std::nullopt}};
    for (const Seek &s : seeks)
        EXPECT_EQ(ScrubberBar::seekTarget(s.x, s.width, s.duration), s.target) << s.x << " " << s.duration;
    EXPECT_EQ(ScrubberBar::trackHeight(false), 3.5);
    EXPECT_EQ(ScrubberBar::trackHeight(true), 5.0);
    EXPECT_EQ(ScrubberBar::tickSize(false), 5.5);
    EXPECT_EQ(ScrubberBar::tickSize(true), 7.0);
}

TEST(ScrubberBar, DragSeeksOnlyWithADuration)
{
    ScrubberBar bar;
    bar.resize(200, 14);
    QList<double> seeks;
    QObject::connect(&bar, &ScrubberBar::seekRequested, [&](double t) { seeks << t; });
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(50, 7));
    EXPECT_TRUE(seeks.isEmpty());
    bar.setDuration(10);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(100, 7));
    ASSERT_EQ(seeks.size(), 1);
    EXPECT_DOUBLE_EQ(seeks[0], 5.0);
}

TEST(TransportControls, RateLabels)
{
    const QStringList expected{"0.5×", "1×", "1.2×", "1.5×", "2×"};
    QStringList labels;
    for (float r : playbackRates())
        labels << playbackRateLabel(r);
    EXPECT_EQ(labels, expected);
}

TEST(TransportControls, ShownDurationFallsBackToTheFacts)
{
    VideoPlayerController c;
    TransportControls t(&c);
    EXPECT_EQ(t.timeLabel()->text(), "0:00 / 0:00");
    t.setFallbackDuration(75);
    EXPECT_DOUBLE_EQ(t.shownDuration(), 75);
    EXPECT_EQ(t.timeLabel()->text(), "0:00 / 1:15");
    EXPECT_TRUE(t.subtitleButton()->isHidden()); // nothing plays through libmpv
}

class FullscreenKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        video = *VideoFile::make("/tmp/none/a.mp4", 10, QDateTime::currentDateTime(), std::nullopt);
        FullscreenPlayerWindowManager::shared().present(video, &controller, AppLanguage::en, {}, [this] { ++dismissed; });
        ASSERT_TRUE(FullscreenPlayerWindowManager::shared().isActive());
    }
    void TearDown() override { FullscreenPlayerWindowManager::shared().dismiss(false); }
    VideoPlayerController controller;
    VideoFile video;
    int dismissed = 0;
};

TEST_F(FullscreenKeys, KeyTable)
{
    auto &m = FullscreenPlayerWindowManager::shared();
    struct Row {
        int key;
        Qt::KeyboardModifiers mods;
        bool consumed;
        bool dismisses;
    };
    const Row rows[] = {
        {Qt::Key_F, Qt::ControlModifier, false, false}, {Qt::Key_F, Qt::AltModifier, false, false},
        {Qt::Key_F, Qt::MetaModifier, false, false},     {Qt::Key_Space, {}, true, false},
        {Qt::Key_Left, {}, true, false},                 {Qt::Key_Right, {}, true, false},
        {Qt::Key_A, {}, false, false},                   {Qt::Key_F, Qt::ShiftModifier, true, true},
        {Qt::Key_Escape, Qt::ControlModifier, true, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.key << " " << int(r.mods));
        if (!m.isActive())
            m.present(video, &controller, AppLanguage::en, {}, [this] { ++dismissed; });
        const int before = dismissed;
        QKeyEvent e(QEvent::KeyPress, r.key, r.mods);
        EXPECT_EQ(m.handleKeyPress(&e), r.consumed);
        EXPECT_EQ(dismissed - before, r.dismisses ? 1 : 0);
        EXPECT_EQ(m.isActive(), !r.dismisses);
    }
}

TEST_F(FullscreenKeys, OnlyKeysOfTheFullscreenWindowAreHandled)
{
    QWidget other;
    other.show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, {});
    QCoreApplication::sendEvent(&other, &esc);
    EXPECT_TRUE(FullscreenPlayerWindowManager::shared().isActive()) << "a key of another window closed full screen";
    EXPECT_EQ(dismissed, 0);
    QKeyEvent esc2(QEvent::KeyPress, Qt::Key_Escape, {});
    QCoreApplication::sendEvent(FullscreenPlayerWindowManager::shared().window(), &esc2);
    EXPECT_FALSE(FullscreenPlayerWindowManager::shared().isActive());
    EXPECT_EQ(dismissed, 1);
}

TEST_F(FullscreenKeys, PresentingTwiceKeepsOneWindowAndTheSecondDismissHandler)
{
    int second = 0;
    FullscreenPlayerWindowManager::shared().present(video, &controller, AppLanguage::en, {}, [&] { ++second; });
    FullscreenPlayerWindowManager::shared().dismiss(true);
    EXPECT_EQ(dismissed, 0);
    EXPECT_EQ(second, 1);
}

TEST(PlayerPreview, FullscreenRoundTripKeepsThePicture)
{
    const QString path = lktest::sandboxRoot() + "/preview/clip.mkv";
    ASSERT_TRUE(lktest::makeClip(path, 6, 320, 240, {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
    PlayerPreviewWidget preview;
    preview.resize(360, 280);
    preview.show();
    QTest::qWaitForWindowExposed(&preview);
    preview.setVideo(VideoFile::fromFile(path));
    preview.controller()->play();
    auto inspectorLit = [&] { return litFraction(preview.surface()->grabPicture()) > 0.3; };
    ASSERT_TRUE(waitFor(inspectorLit));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        preview.presentFullscreen();
        ASSERT_TRUE(preview.isFullscreenActive());
        auto *window = FullscreenPlayerWindowManager::shared().window();
        ASSERT_NE(window, nullptr);
        auto *overlay = window->findChild<FullscreenPlayerOverlay *>();
        ASSERT_NE(overlay, nullptr);
        EXPECT_TRUE(waitFor([&] { return litFraction(overlay->surface()->grabPicture()) > 0.3; }));
        FullscreenPlayerWindowManager::shared().dismiss(true);
        EXPECT_FALSE(preview.isFullscreenActive());
        EXPECT_TRUE(waitFor(inspectorLit)) << "the inspector's picture stayed black";
        EXPECT_TRUE(preview.controller()->isPlaying());
    }
}

TEST(PlayerPreview, HidingKeepsTheControllerAndItsPlayRequest)
{
    const QString path = lktest::sandboxRoot() + "/preview/hidden.mkv";
    ASSERT_TRUE(lktest::makeClip(path, 6, 160, 120, {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
    PlayerPreviewWidget preview;
    preview.show();
    QTest::qWaitForWindowExposed(&preview);
    VideoPlayerController *controller = preview.controller();
    preview.hide();
    preview.setVideo(VideoFile::fromFile(path));
    controller->play();
    EXPECT_EQ(preview.controller(), controller);
    ASSERT_TRUE(waitFor([&] { return controller->currentTime() > 0.5; })) << "the play request made while hidden was lost";
    preview.show();
    EXPECT_TRUE(controller->isPlaying());
}
