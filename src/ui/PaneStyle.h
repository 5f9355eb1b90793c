#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QRectF>
#include <QString>

class QPainter;
class QWidget;

// Colours, fonts and glyphs of the tree pane and its rows. Sizes are in device-independent
// pixels; the colours stand in for the system colours of the design (label, secondary,
// tertiary, separator, control and window backgrounds) in a light and a dark variant.
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

    // Dark when the window colour of the palette is dark; the accent is the highlight colour.
    static PaneColors fromPalette(const QPalette &palette);
    static PaneColors forWidget(const QWidget *widget);

    QColor accentFill() const { return alpha(accent, dark ? 0.18 : 0.11); }
    QColor hoverFill() const { return dark ? QColor(255, 255, 255, qRound(0.06 * 255)) : QColor(0, 0, 0, qRound(0.045 * 255)); }
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
// ("play.fill", "folder", "magnifyingglass", ...); an unknown name draws nothing.
void drawGlyph(QPainter &painter, const QString &name, const QRectF &rect, const QColor &color);
bool hasGlyph(const QString &name);

// The symbol as an icon of `size` pixels, for buttons and menus.
QIcon glyphIcon(const QString &name, const QColor &color, int size = 16);

} // namespace PaneStyle
