#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QRectF>
#include <QString>

#include "ui/LinearTheme.h"

class QPainter;
class QWidget;

// Colours, fonts and glyphs of the tree pane and its rows. Sizes are in device-independent
// pixels. The colours are a snapshot of the app's LinearPalette, so the pane and the other
// windows share one light/dark table and one accent.
struct PaneColors {
    bool dark = false;
    QColor accent;
    QColor label;
    QColor secondaryLabel;
    QColor tertiaryLabel;
    QColor separator;
    QColor controlBackground;
    QColor windowBackground;
    QColor orange;
    QColor red;

    static PaneColors fromTheme(const LinearPalette &theme);
    // The scheme follows LinearPalette::of (lightness of the window colour).
    static PaneColors fromPalette(const QPalette &palette) { return fromTheme(LinearPalette::of(palette)); }
    static PaneColors forWidget(const QWidget *widget) { return fromTheme(LinearPalette::of(widget)); }

    LinearPalette theme() const { return LinearPalette(dark ? ColorScheme::dark : ColorScheme::light); }
    QColor accentFill() const { return theme().accentFill(); }
    QColor hoverFill() const { return theme().hoverFill(); }
    QColor outline() const { return alpha(separator, 0.65); }

    static QColor alpha(QColor c, double opacity)
    {
        c.setAlphaF(float(c.alphaF() * opacity));
        return c;
    }
};

namespace PaneStyle {

// A font of `pixelSize` pixels (fractional sizes kept) in `weight`; `monospace` picks the
// fixed-pitch family.
QFont font(double pixelSize, QFont::Weight weight = QFont::Normal, bool monospace = false);

// Draws the named symbol into `rect` in `color`. The names are the design's symbol names
// ("play.fill", "folder", "magnifyingglass", ...). The pane's own line drawings win where it
// has one (the theme's desktop icons look different at row sizes); every other name goes
// to LinearTheme::drawSymbol. An unknown name draws nothing.
void drawGlyph(QPainter &painter, const QString &name, const QRectF &rect, const QColor &color);
bool hasGlyph(const QString &name);

// The symbol as an icon of `size` pixels, for buttons and menus.
QIcon glyphIcon(const QString &name, const QColor &color, int size = 16);

} // namespace PaneStyle
