#include "ui/LinearTheme.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTest>

TEST(FormatBadgeTint, IgnoresCaseAndFallsBackToSecondaryLabel)
{
    for (const LinearPalette lp : {LinearPalette(ColorScheme::light), LinearPalette(ColorScheme::dark)}) {
        const std::pair<const char *, QColor> cases[] = {
            {"mp4", lp.systemBlue()},    {"Mp4", lp.systemBlue()},     {"MP4", lp.systemBlue()},
            {"m4v", lp.systemBlue()},    {"mov", lp.systemTeal()},     {"MKV", lp.systemOrange()},
            {"webm", lp.systemIndigo()}, {"avi", lp.systemPink()},     {"WMV", lp.systemPink()},
            {"flv", lp.systemPink()},    {"ts", lp.secondaryLabel()},  {"mpg", lp.secondaryLabel()},
            {"", lp.secondaryLabel()},   {"mp4 ", lp.secondaryLabel()},
        };
        for (const auto &[ext, colour] : cases) EXPECT_EQ(formatBadgeTint(ext, lp), colour) << ext << int(lp.scheme);
    }
}

TEST(LinearPalette, NeutralFillsAreWhiteInDarkAndBlackInLight)
{
    const LinearPalette dark(ColorScheme::dark), light(ColorScheme::light);
    EXPECT_EQ(dark.hoverFill(), QColor::fromRgbF(1, 1, 1, 0.06f));
    EXPECT_EQ(light.hoverFill(), QColor::fromRgbF(0, 0, 0, 0.045f));
    EXPECT_EQ(dark.formatBadgeFill(), QColor::fromRgbF(1, 1, 1, 0.08f));
    EXPECT_EQ(light.formatBadgeFill(), QColor::fromRgbF(0, 0, 0, 0.055f));
    EXPECT_NEAR(dark.accentFill().alphaF(), 0.18, 0.005);
    EXPECT_NEAR(light.accentFill().alphaF(), 0.11, 0.005);
    EXPECT_NEAR(dark.destructiveHoverFill().alphaF(), 0.16, 0.005);
    EXPECT_NEAR(light.destructiveHoverFill().alphaF(), 0.10, 0.005);
    EXPECT_EQ(dark.guideLine(), QColor::fromRgbF(1, 1, 1, 0.11f));
    EXPECT_EQ(light.guideLine(), QColor::fromRgbF(0, 0, 0, 0.10f));
}

TEST(LinearTheme, AppliedSchemeReachesChildrenAndSystemFollowsTheDesktopAgain)
{
    QWidget window;
    auto *child = new LinearIconButton("xmark", "Close", &window);
    const ColorScheme desktop = LinearPalette::of(&window).scheme;
    for (ColorScheme s : {ColorScheme::dark, ColorScheme::light}) {
        LinearTheme::applyColorScheme(&window, s);
        EXPECT_EQ(LinearPalette::of(&window).scheme, s);
        EXPECT_EQ(LinearPalette::of(child).scheme, s);
    }
    LinearTheme::applyColorScheme(&window, std::nullopt);
    EXPECT_EQ(LinearPalette::of(child).scheme, desktop);
}

TEST(FormatBadge, ShowsTheExtensionVerbatimOrVID)
{
    EXPECT_EQ(FormatBadge("").displayText(), "VID");
    EXPECT_EQ(FormatBadge("mkv").displayText(), "mkv");
    EXPECT_EQ(FormatBadge("MP4").displayText(), "MP4");
    // A longer text makes a wider badge.
    EXPECT_GT(FormatBadge("WEBM").sizeHint().width(), FormatBadge("TS").sizeHint().width());
}

TEST(LinearIconButton, ColoursFollowTheFirstRuleThatApplies)
{
    QWidget window;
    LinearTheme::applyColorScheme(&window, ColorScheme::dark);
    auto *b = new LinearIconButton("trash", "Trash", &window);
    const LinearPalette lp(ColorScheme::dark);
    struct Case { bool destructive, active, hovered; QColor fg, fill; };
    const Case cases[] = {
        {false, false, false, lp.secondaryLabel(), Qt::transparent},
        {false, false, true, lp.label(), lp.hoverFill()},
        {false, true, false, lp.accent(), lp.accentFill()},
        {false, true, true, lp.accent(), lp.accentFill()},
        {true, false, false, lp.secondaryLabel(), Qt::transparent},
        {true, true, false, lp.secondaryLabel(), lp.accentFill()},
        {true, true, true, lp.systemRed(), lp.destructiveHoverFill()},
        {true, false, true, lp.systemRed(), lp.destructiveHoverFill()},
    };
    for (const Case &c : cases) {
        b->setDestructive(c.destructive);
        b->setActive(c.active);
        b->setHovered(c.hovered);
        EXPECT_EQ(b->foregroundColor(), c.fg) << c.destructive << c.active << c.hovered;
        EXPECT_EQ(b->fillColor(), c.fill) << c.destructive << c.active << c.hovered;
    }
    EXPECT_EQ(b->sizeHint(), QSize(26, 26));
    EXPECT_EQ(b->toolTip(), "Trash");
}

TEST(LinearIconButton, KeyboardPressesRunTheAction)
{
    QWidget window;
    auto *b = new LinearIconButton("xmark", "Close", &window);
    int clicks = 0;
    QObject::connect(b, &QAbstractButton::clicked, [&] { ++clicks; });
    window.show();
    b->setFocus();
    QTest::keyClick(b, Qt::Key_Space);
    QTest::keyClick(b, Qt::Key_Return);
    EXPECT_EQ(clicks, 2);
}

TEST(LinearTheme, EverySymbolTheWindowUsesDrawsSomething)
{
    const char *names[] = {
        "checkmark", "checkmark.circle.fill", "exclamationmark.triangle.fill", "xmark", "chevron.right",
        "folder", "folder.fill", "folder.badge.arrow.right", "folder.badge.plus", "folder.badge.person.crop",
        "arrow.up.forward.square", "arrow.down.right.and.arrow.up.left", "trash", "internaldrive",
        "externaldrive", "film.stack", "clock", "scalemass", "play.rectangle", "doc.badge.gearshape",
        "square.on.square.dashed", "chart.bar.doc.horizontal", "arrow.clockwise", "plus.circle",
        "photo.on.rectangle.angled", "globe", "lock.shield", "arrow.up.right", "text.viewfinder",
        "arrow.down.circle",
    };
    for (const char *name : names) {
        const QPixmap pm = LinearTheme::symbolPixmap(name, 16, Qt::red);
        const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
        int painted = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (qAlpha(img.pixel(x, y)) > 40) {
                    ++painted;
                    // Tinted in the colour asked for.
                    EXPECT_GT(qRed(img.pixel(x, y)), 100) << name;
                }
        EXPECT_GT(painted, 8) << name;
    }
}

TEST(VisualEffectBackground, FillsAreTranslucentAndDifferPerScheme)
{
    using M = VisualEffectBackground::Material;
    for (M m : {M::sidebar, M::regular}) {
        const QColor d = VisualEffectBackground::fill(m, LinearPalette(ColorScheme::dark));
        const QColor l = VisualEffectBackground::fill(m, LinearPalette(ColorScheme::light));
        EXPECT_LT(d.alpha(), 255);
        EXPECT_LT(d.lightness(), l.lightness());
    }
    EXPECT_NE(VisualEffectBackground::fill(M::sidebar, LinearPalette(), true),
              VisualEffectBackground::fill(M::sidebar, LinearPalette(), false));
}
