#include "ui/tree/PaneStyle.h"

#include "ui/LinearTheme.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <functional>

PaneColors PaneColors::fromTheme(const LinearPalette &lp)
{
    PaneColors c;
    c.dark = lp.isDark();
    c.accent = lp.accent();
    c.label = lp.label();
    c.secondaryLabel = lp.secondaryLabel();
    c.tertiaryLabel = lp.tertiaryLabel();
    c.separator = lp.separator();
    c.windowBackground = lp.windowBackground();
    c.controlBackground = lp.controlBackground();
    c.orange = lp.systemOrange();
    c.red = lp.systemRed();
    return c;
}

namespace PaneStyle {

QFont font(double pixelSize, QFont::Weight weight, bool monospace)
{
    return LinearTheme::font(pixelSize, weight, monospace ? LinearTheme::Design::monospaced : LinearTheme::Design::standard);
}

namespace {

using GlyphFn = std::function<void(QPainter &, const QColor &)>;

// Every glyph is drawn on a 16 × 16 grid; the caller's rectangle is mapped onto it.
QPen strokePen(const QColor &c, double w = 1.4)
{
    QPen pen(c, w);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void folderShape(QPainter &p, const QColor &c, bool filled)
{
    QPainterPath path;
    path.moveTo(1.5, 4);
    path.lineTo(1.5, 13);
    path.lineTo(14.5, 13);
    path.lineTo(14.5, 5.5);
    path.lineTo(7.5, 5.5);
    path.lineTo(6, 3.5);
    path.lineTo(2, 3.5);
    path.closeSubpath();
    if (filled) {
        p.setPen(Qt::NoPen);
        p.setBrush(c);
    } else {
        p.setPen(strokePen(c, 1.3));
        p.setBrush(Qt::NoBrush);
    }
    p.drawPath(path);
}

void magnifier(QPainter &p, const QColor &c)
{
    p.setPen(strokePen(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(2, 2, 9, 9));
    p.drawLine(QPointF(10, 10), QPointF(14, 14));
}

void sparkle(QPainter &p, const QColor &c, QPointF centre, double r)
{
    QPainterPath s;
    s.moveTo(centre.x(), centre.y() - r);
    s.quadTo(centre, QPointF(centre.x() + r, centre.y()));
    s.quadTo(centre, QPointF(centre.x(), centre.y() + r));
    s.quadTo(centre, QPointF(centre.x() - r, centre.y()));
    s.quadTo(centre, QPointF(centre.x(), centre.y() - r));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(s);
}

void chevron(QPainter &p, const QColor &c, double y, bool down)
{
    QPainterPath path;
    const double dy = down ? 2.5 : -2.5;
    path.moveTo(4, y - dy / 2);
    path.lineTo(8, y + dy / 2);
    path.lineTo(12, y - dy / 2);
    p.setPen(strokePen(c, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

const QHash<QString, GlyphFn> &glyphs()
{
    static const QHash<QString, GlyphFn> table = [] {
        QHash<QString, GlyphFn> t;
        t["circle"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        };
        t["checkmark.circle.fill"] = [](QPainter &p, const QColor &c) {
            QPainterPath circle;
            circle.addEllipse(QRectF(1, 1, 14, 14));
            QPainterPath tick;
            tick.moveTo(4.6, 8.2);
            tick.lineTo(7, 10.6);
            tick.lineTo(11.4, 5.6);
            QPainterPathStroker stroker;
            stroker.setWidth(1.8);
            stroker.setCapStyle(Qt::RoundCap);
            stroker.setJoinStyle(Qt::RoundJoin);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(circle.subtracted(stroker.createStroke(tick)));
        };
        t["checkmark"] = [](QPainter &p, const QColor &c) {
            QPainterPath tick;
            tick.moveTo(3, 8.5);
            tick.lineTo(6.5, 12);
            tick.lineTo(13, 4.5);
            p.setPen(strokePen(c, 1.7));
            p.setBrush(Qt::NoBrush);
            p.drawPath(tick);
        };
        t["film"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(2, 2.5, 12, 11), 1.5, 1.5);
            p.drawLine(QPointF(5, 2.5), QPointF(5, 13.5));
            p.drawLine(QPointF(11, 2.5), QPointF(11, 13.5));
            p.drawLine(QPointF(2, 8), QPointF(14, 8));
        };
        t["play.fill"] = [](QPainter &p, const QColor &c) {
            QPainterPath tri;
            tri.moveTo(4, 2);
            tri.lineTo(14, 8);
            tri.lineTo(4, 14);
            tri.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(tri);
        };
        t["folder"] = [](QPainter &p, const QColor &c) { folderShape(p, c, false); };
        t["folder.fill"] = [](QPainter &p, const QColor &c) { folderShape(p, c, true); };
        t["folder.badge.arrow.right"] = [](QPainter &p, const QColor &c) {
            folderShape(p, c, false);
            p.setPen(strokePen(c, 1.3));
            p.drawLine(QPointF(5.5, 9.3), QPointF(10.5, 9.3));
            p.drawLine(QPointF(8.8, 7.6), QPointF(10.5, 9.3));
            p.drawLine(QPointF(8.8, 11), QPointF(10.5, 9.3));
        };
        t["folder.badge.person.crop"] = [](QPainter &p, const QColor &c) {
            folderShape(p, c, false);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(QRectF(6.7, 6.8, 2.6, 2.6));
            p.drawChord(QRectF(5.5, 9.8, 5, 4), 0, 180 * 16);
        };
        t["trash"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(2.5, 4), QPointF(13.5, 4));
            p.drawLine(QPointF(6, 4), QPointF(6.5, 2));
            p.drawLine(QPointF(6.5, 2), QPointF(9.5, 2));
            p.drawLine(QPointF(9.5, 2), QPointF(10, 4));
            QPainterPath can;
            can.moveTo(4, 4);
            can.lineTo(4.8, 14);
            can.lineTo(11.2, 14);
            can.lineTo(12, 4);
            p.drawPath(can);
            p.drawLine(QPointF(6.7, 6.5), QPointF(6.9, 11.5));
            p.drawLine(QPointF(9.3, 6.5), QPointF(9.1, 11.5));
        };
        t["waveform"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.5));
            const double hs[] = {2, 5, 9, 6, 10, 4, 2};
            for (int i = 0; i < 7; ++i)
                p.drawLine(QPointF(2 + i * 2, 8 - hs[i] / 2), QPointF(2 + i * 2, 8 + hs[i] / 2));
        };
        t["text.viewfinder"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(QPolygonF({QPointF(1.5, 5), QPointF(1.5, 1.5), QPointF(5, 1.5)}));
            p.drawPolyline(QPolygonF({QPointF(11, 1.5), QPointF(14.5, 1.5), QPointF(14.5, 5)}));
            p.drawPolyline(QPolygonF({QPointF(1.5, 11), QPointF(1.5, 14.5), QPointF(5, 14.5)}));
            p.drawPolyline(QPolygonF({QPointF(11, 14.5), QPointF(14.5, 14.5), QPointF(14.5, 11)}));
            p.drawLine(QPointF(5, 5.5), QPointF(11, 5.5));
            p.drawLine(QPointF(8, 5.5), QPointF(8, 11));
        };
        t["magnifyingglass"] = [](QPainter &p, const QColor &c) { magnifier(p, c); };
        t["sparkle.magnifyingglass"] = [](QPainter &p, const QColor &c) {
            magnifier(p, c);
            sparkle(p, c, QPointF(6.5, 6.5), 2.6);
        };
        t["xmark"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.8));
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
        };
        t["xmark.circle.fill"] = [](QPainter &p, const QColor &c) {
            QPainterPath circle;
            circle.addEllipse(QRectF(1, 1, 14, 14));
            QPainterPath cross;
            cross.moveTo(5.5, 5.5);
            cross.lineTo(10.5, 10.5);
            cross.moveTo(10.5, 5.5);
            cross.lineTo(5.5, 10.5);
            QPainterPathStroker stroker;
            stroker.setWidth(1.6);
            stroker.setCapStyle(Qt::RoundCap);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(circle.subtracted(stroker.createStroke(cross)));
        };
        t["chevron.right"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.8));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(QPolygonF({QPointF(6, 3), QPointF(11, 8), QPointF(6, 13)}));
        };
        t["chevron.down.2"] = [](QPainter &p, const QColor &c) {
            chevron(p, c, 5.5, true);
            chevron(p, c, 10.5, true);
        };
        t["chevron.up.2"] = [](QPainter &p, const QColor &c) {
            chevron(p, c, 5.5, false);
            chevron(p, c, 10.5, false);
        };
        t["arrow.clockwise"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 290 * 16);
            QPainterPath head;
            head.moveTo(10.2, 1.2);
            head.lineTo(11.8, 4.3);
            head.lineTo(8.6, 5.2);
            p.drawPath(head);
        };
        t["arrow.up.arrow.down"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.4));
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(5, 2.5), QPointF(5, 13));
            p.drawPolyline(QPolygonF({QPointF(2.5, 5), QPointF(5, 2.5), QPointF(7.5, 5)}));
            p.drawLine(QPointF(11, 3), QPointF(11, 13.5));
            p.drawPolyline(QPolygonF({QPointF(8.5, 11), QPointF(11, 13.5), QPointF(13.5, 11)}));
        };
        t["arrow.triangle.merge"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.4));
            p.setBrush(Qt::NoBrush);
            QPainterPath path;
            path.moveTo(3, 14);
            path.lineTo(3, 10);
            path.quadTo(3, 7, 8, 6);
            path.moveTo(13, 14);
            path.lineTo(13, 10);
            path.quadTo(13, 7, 8, 6);
            path.lineTo(8, 2);
            p.drawPath(path);
            p.drawPolyline(QPolygonF({QPointF(5.5, 4.5), QPointF(8, 2), QPointF(10.5, 4.5)}));
        };
        t["moon"] = [](QPainter &p, const QColor &c) {
            QPainterPath full;
            full.addEllipse(QRectF(2, 2, 12, 12));
            QPainterPath bite;
            bite.addEllipse(QRectF(6, 0, 11, 11));
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawPath(full.subtracted(bite));
        };
        t["sun.max"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(5, 5, 6, 6));
            for (int i = 0; i < 8; ++i) {
                const double a = i * M_PI / 4;
                p.drawLine(QPointF(8 + 4.8 * std::cos(a), 8 + 4.8 * std::sin(a)),
                           QPointF(8 + 6.8 * std::cos(a), 8 + 6.8 * std::sin(a)));
            }
        };
        t["circle.lefthalf.filled"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(2, 2, 12, 12));
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawChord(QRectF(2, 2, 12, 12), 90 * 16, 180 * 16);
        };
        t["sidebar.right"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 2, 2);
            p.drawLine(QPointF(10, 2.5), QPointF(10, 13.5));
        };
        t["externaldrive"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(1.5, 5, 13, 7), 2, 2);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(QRectF(11, 7.8, 1.6, 1.6));
        };
        t["internaldrive"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(1.5, 4, 13, 9), 2, 2);
            p.drawLine(QPointF(1.5, 9), QPointF(14.5, 9));
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(QRectF(11, 10.2, 1.5, 1.5));
        };
        t["arrow.up.forward.square"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.3));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(2, 2, 12, 12), 2.5, 2.5);
            p.drawLine(QPointF(5.5, 10.5), QPointF(10.5, 5.5));
            p.drawPolyline(QPolygonF({QPointF(6.5, 5.5), QPointF(10.5, 5.5), QPointF(10.5, 9.5)}));
        };
        t["exclamationmark.shield.fill"] = [](QPainter &p, const QColor &c) {
            QPainterPath shield;
            shield.moveTo(8, 1);
            shield.lineTo(14, 3.5);
            shield.quadTo(14, 12, 8, 15);
            shield.quadTo(2, 12, 2, 3.5);
            shield.closeSubpath();
            QPainterPath mark;
            mark.addRect(QRectF(7.2, 4, 1.6, 5.5));
            mark.addEllipse(QRectF(7.1, 10.6, 1.8, 1.8));
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(shield.subtracted(mark));
        };
        t["cpu"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.5, 1.5);
            p.drawRect(QRectF(6.3, 6.3, 3.4, 3.4));
            for (double v : {6.0, 8.0, 10.0}) {
                p.drawLine(QPointF(v, 1), QPointF(v, 3.5));
                p.drawLine(QPointF(v, 12.5), QPointF(v, 15));
                p.drawLine(QPointF(1, v), QPointF(3.5, v));
                p.drawLine(QPointF(12.5, v), QPointF(15, v));
            }
        };
        t["translate"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(1.5, 3.5), QPointF(8.5, 3.5));
            p.drawLine(QPointF(5, 2), QPointF(5, 3.5));
            QPainterPath s;
            s.moveTo(7, 3.5);
            s.quadTo(6, 8, 2, 10);
            s.moveTo(3.5, 5.5);
            s.quadTo(5, 8.5, 8, 9.5);
            p.drawPath(s);
            p.drawPolyline(QPolygonF({QPointF(8.5, 14.5), QPointF(11.5, 6.5), QPointF(14.5, 14.5)}));
            p.drawLine(QPointF(9.6, 11.7), QPointF(13.4, 11.7));
        };
        t["line.3.horizontal.decrease"] = [](QPainter &p, const QColor &c) {
            p.setPen(strokePen(c, 1.5));
            p.drawLine(QPointF(2, 4), QPointF(14, 4));
            p.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
            p.drawLine(QPointF(6.5, 12), QPointF(9.5, 12));
        };
        return t;
    }();
    return table;
}

} // namespace

bool hasGlyph(const QString &name) { return glyphs().contains(name) || LinearTheme::hasSymbol(name); }

void drawGlyph(QPainter &painter, const QString &name, const QRectF &rect, const QColor &color)
{
    if (rect.isEmpty())
        return;
    const auto it = glyphs().constFind(name);
    if (it == glyphs().constEnd()) {
        LinearTheme::drawSymbol(painter, rect, name, color);
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double side = std::min(rect.width(), rect.height());
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / 16.0, side / 16.0);
    (*it)(painter, color);
    painter.restore();
}

QIcon glyphIcon(const QString &name, const QColor &color, int size)
{
    QIcon icon;
    for (const qreal dpr : {1.0, 2.0}) {
        QPixmap pm(QSize(size, size) * dpr);
        pm.setDevicePixelRatio(dpr);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        drawGlyph(p, name, QRectF(0, 0, size, size), color);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace PaneStyle
