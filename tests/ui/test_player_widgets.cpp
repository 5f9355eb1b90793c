// Scrubber arithmetic, rate labels and the full-screen window's keys (the hand-over to
// full screen and back is tested with the inspector).
#include "media/VideoPlayerController.h"
#include "support/TestSupport.h"
#include "ui/player/FullscreenPlayerWindow.h"
#include "ui/LinearTheme.h"
#include "ui/player/ScrubberBar.h"
#include "ui/player/TransportControls.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>
#include <QTest>

#include <functional>
#include <optional>


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

TEST(TransportControls, ColoursFollowTheStateAndTheScheme)
{
    VideoPlayerController c;
    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        SCOPED_TRACE(int(scheme));
        TransportControls t(&c);
        t.setPalette(LinearTheme::palette(scheme));
        const LinearPalette lp(scheme);
        c.setPlaybackRate(1.0f);
        EXPECT_EQ(t.rateButton()->text(), "1×");
        EXPECT_EQ(t.rateButton()->currentColor(), lp.secondaryLabel());
        c.setPlaybackRate(1.25f);
        EXPECT_EQ(t.rateButton()->text(), "1.2×");
        EXPECT_EQ(t.rateButton()->currentColor(), lp.accent());
        c.setPlaybackRate(1.0f);
        EXPECT_EQ(t.muteButton()->symbol(), "speaker.wave.2.fill");
        EXPECT_EQ(t.muteButton()->currentColor(), lp.secondaryLabel());
        c.toggleMute();
        EXPECT_EQ(t.muteButton()->symbol(), "speaker.slash.fill");
        EXPECT_EQ(t.muteButton()->currentColor(), lp.systemRed());
        c.toggleMute();
        EXPECT_EQ(t.loopButton()->currentColor(), lp.tertiaryLabel());
        EXPECT_EQ(t.playButton()->currentColor(), lp.label());
        EXPECT_EQ(t.timeLabel()->palette().color(QPalette::WindowText), lp.secondaryLabel());
        EXPECT_EQ(t.scrubber()->accent(), lp.accent());
    }
}

TEST(TransportControls, EverySymbolDraws)
{
    for (const char *name : {"play.fill", "pause.fill", "gobackward.10", "goforward.10", "captions.bubble", "repeat",
                             "speaker.wave.2.fill", "speaker.slash.fill", "arrow.up.left.and.arrow.down.right",
                             "arrow.down.right.and.arrow.up.left"}) {
        SCOPED_TRACE(name);
        const QImage img = LinearTheme::symbolPixmap(name, 16, Qt::black).toImage();
        int inked = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) inked += qAlpha(img.pixel(x, y)) > 0;
        EXPECT_GT(inked, 8);
    }
}

TEST(FlowTagsView, OneChipPerTagAndAnEmptyRowForNone)
{
    FlowTagsView tags;
    tags.setTags({"sports car", "road", "sky"});
    ASSERT_EQ(tags.chips().size(), 3);
    EXPECT_GT(tags.sizeHint().height(), 10);
    // Chips keep the order they were given in and do not overlap.
    tags.resize(400, tags.sizeHint().height());
    tags.show();
    QTest::qWait(10);
    EXPECT_LT(tags.chips()[0]->geometry().right(), tags.chips()[1]->geometry().left());
    tags.setTags({});
    EXPECT_TRUE(tags.chips().isEmpty());
    EXPECT_TRUE(tags.tags().isEmpty());
}
