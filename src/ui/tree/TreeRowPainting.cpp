#include "ui/tree/TreeRowPainting.h"

#include "ui/LinearTheme.h"

#include <QFontMetricsF>
#include <QStringView>

#include <algorithm>
#include <QPainter>
#include <QPainterPath>

namespace TreeRowPainting {

QString shortenedForEliding(const QString &text, Qt::TextElideMode mode, double width)
{
    // No glyph is narrower than half a pixel, so no more characters than this can show.
    const qsizetype keep = qsizetype(std::clamp(width, 0.0, 100'000.0)) * 2 + 16;
    if (text.size() <= 2 * keep + 1 || mode == Qt::ElideNone)
        return text;
    const QChar ellipsis(0x2026);
    // A cut never splits a surrogate pair.
    const auto head = [&] {
        qsizetype n = keep;
        if (text.at(n - 1).isHighSurrogate())
            --n;
        return QStringView(text).left(n);
    };
    const auto tail = [&] {
        qsizetype n = keep;
        if (text.at(text.size() - n).isLowSurrogate())
            --n;
        return QStringView(text).right(n);
    };
    switch (mode) {
    case Qt::ElideLeft: return ellipsis + tail().toString();
    case Qt::ElideRight: return head().toString() + ellipsis;
    default: return head().toString() + ellipsis + tail().toString();
    }
}

bool guideColumnHasLine(int column, int depth, const QList<bool> &ancestorHasNextSibling)
{
    if (column < 0 || column >= depth - 1)
        return false;
    // Column c continues while the enclosing folder at depth c + 1 has a following sibling.
    const int entry = column + 1;
    return entry < ancestorHasNextSibling.size() && ancestorHasNextSibling[entry];
}

GuideGeometry guideGeometry(double height, int depth, const QList<bool> &ancestorHasNextSibling, bool isLastInParent,
                            double indentWidth)
{
    GuideGeometry g;
    for (int column = 0; column + 1 < depth; ++column)
        if (guideColumnHasLine(column, depth, ancestorHasNextSibling))
            g.ancestorLineX.append(column * indentWidth + 9);
    if (depth > 0) {
        const double x0 = (depth - 1) * indentWidth;
        const double mid = height / 2;
        g.elbowVertical = QLineF(x0 + 9.5, 0, x0 + 9.5, isLastInParent ? mid : height);
        g.elbowHorizontal = QLineF(x0 + 9.5, mid, x0 + indentWidth - 3, mid);
    }
    return g;
}

void paintGuides(QPainter &painter, const QRectF &rowRect, int depth, const QList<bool> &ancestorHasNextSibling,
                 bool isLastInParent, bool dark, double indentWidth)
{
    if (depth <= 0)
        return;
    const GuideGeometry g = guideGeometry(rowRect.height(), depth, ancestorHasNextSibling, isLastInParent, indentWidth);
    const QColor colour = LinearPalette(dark ? ColorScheme::dark : ColorScheme::light).guideLine();
    painter.save();
    painter.translate(rowRect.topLeft());
    for (double x : g.ancestorLineX)
        painter.fillRect(QRectF(x, 0, 1, rowRect.height()), colour);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(colour, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    QPainterPath elbow;
    elbow.moveTo(g.elbowVertical->p1());
    elbow.lineTo(g.elbowVertical->p2());
    elbow.moveTo(g.elbowHorizontal->p1());
    elbow.lineTo(g.elbowHorizontal->p2());
    painter.drawPath(elbow);
    painter.restore();
}

namespace {
const QFont &badgeFont()
{
    static const QFont f = PaneStyle::font(9.5, QFont::DemiBold, true);
    return f;
}
} // namespace

QSizeF formatBadgeSize(const QString &ext)
{
    static const QFontMetricsF fm(badgeFont());
    const QString text = ext.isEmpty() ? QStringLiteral("VID") : ext;
    return QSizeF(std::ceil(fm.horizontalAdvance(text)) + 10, std::ceil(fm.height()) + 3);
}

void paintFormatBadge(QPainter &painter, const QPointF &topLeft, const QString &ext, const PaneColors &colors)
{
    const QString text = ext.isEmpty() ? QStringLiteral("VID") : ext;
    const QRectF r(topLeft, formatBadgeSize(ext));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colors.dark ? QColor(255, 255, 255, qRound(0.08 * 255)) : QColor(0, 0, 0, qRound(0.055 * 255)));
    painter.drawRoundedRect(r, 4, 4);
    painter.setFont(badgeFont());
    painter.setPen(colors.secondaryLabel);
    painter.drawText(r, Qt::AlignCenter, text);
}

void paintIconButton(QPainter &painter, const QRectF &rect, const QString &symbol, bool hovered, bool active,
                     bool destructive, const PaneColors &colors)
{
    QColor fill = Qt::transparent;
    if (destructive && hovered)
        fill = PaneColors::alpha(colors.red, colors.dark ? 0.16 : 0.10);
    else if (active)
        fill = colors.accentFill();
    else if (hovered)
        fill = colors.hoverFill();
    QColor fg = colors.secondaryLabel;
    if (destructive && hovered)
        fg = colors.red;
    else if (destructive)
        fg = colors.secondaryLabel;
    else if (active)
        fg = colors.accent;
    else if (hovered)
        fg = colors.label;
    if (fill.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(rect, 6, 6);
    }
    const double glyph = 13;
    PaneStyle::drawGlyph(painter, symbol,
                         QRectF(rect.center().x() - glyph / 2, rect.center().y() - glyph / 2, glyph, glyph), fg);
}

} // namespace TreeRowPainting
