#include "ui/tree/PaneWidgets.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QPainterPath>
#include <QTimer>

#include <cmath>

PaneButton::PaneButton(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PaneButton::setSegments(const QList<Segment> &segments)
{
    m_segments = segments;
    setText(fullText());
    updateGeometry();
    update();
}

QString PaneButton::fullText() const
{
    QStringList parts;
    for (const Segment &s : m_segments)
        if (!s.text.isEmpty())
            parts.append(s.text);
    return parts.join(QLatin1Char(' '));
}

void PaneButton::setSpacing(double spacing)
{
    m_spacing = spacing;
    updateGeometry();
}

void PaneButton::setPadding(double horizontal, double vertical)
{
    m_padH = horizontal;
    m_padV = vertical;
    updateGeometry();
}

void PaneButton::setShape(QColor fill, QColor outline, double outlineWidth, double radius)
{
    m_fill = fill;
    m_outline = outline;
    m_outlineWidth = outlineWidth;
    m_radius = radius;
    update();
}

void PaneButton::setFixedContentHeight(int height)
{
    m_fixedHeight = height;
    updateGeometry();
}

static double segmentWidth(const PaneButton::Segment &s)
{
    if (!s.glyph.isEmpty())
        return s.glyphSize;
    return std::ceil(QFontMetricsF(s.font).horizontalAdvance(s.text));
}

int PaneButton::naturalWidth(const QList<Segment> &segments, double spacing, double horizontalPadding)
{
    double w = 0;
    for (int i = 0; i < segments.size(); ++i)
        w += segmentWidth(segments.at(i)) + (i ? spacing : 0);
    return int(std::ceil(w + 2 * horizontalPadding));
}

QSize PaneButton::sizeHint() const
{
    double h = 0;
    for (const Segment &s : m_segments)
        h = std::max(h, s.glyph.isEmpty() ? std::ceil(QFontMetricsF(s.font).height()) : s.glyphSize);
    const int height = m_fixedHeight > 0 ? m_fixedHeight : int(std::ceil(h + 2 * m_padV));
    return QSize(naturalWidth(m_segments, m_spacing, m_padH), height);
}

void PaneButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r = QRectF(rect()).adjusted(m_outlineWidth / 2, m_outlineWidth / 2, -m_outlineWidth / 2, -m_outlineWidth / 2);
    const double radius = m_radius < 0 ? r.height() / 2 : m_radius;
    QColor fill = m_fill;
    if (m_hovered && m_hoverFill.alpha() > 0)
        fill = m_hoverFill;
    if (fill.alpha() > 0 || (m_outline.alpha() > 0 && m_outlineWidth > 0)) {
        p.setBrush(fill.alpha() > 0 ? QBrush(fill) : Qt::NoBrush);
        p.setPen(m_outline.alpha() > 0 && m_outlineWidth > 0 ? QPen(m_outline, m_outlineWidth) : Qt::NoPen);
        p.drawRoundedRect(r, radius, radius);
    }
    const QSize hint = sizeHint();
    double x = (width() - (hint.width() - 2 * m_padH)) / 2.0;
    const double cy = height() / 2.0;
    for (const Segment &s : m_segments) {
        QColor color = s.color;
        if (!isEnabled())
            color.setAlphaF(color.alphaF() * 0.5f);
        const double w = segmentWidth(s);
        if (!s.glyph.isEmpty()) {
            PaneStyle::drawGlyph(p, s.glyph, QRectF(x, cy - s.glyphSize / 2, s.glyphSize, s.glyphSize), color);
        } else {
            p.setFont(s.font);
            p.setPen(color);
            p.drawText(QRectF(x, 0, w + 2, height()), Qt::AlignLeft | Qt::AlignVCenter, s.text);
        }
        x += w + m_spacing;
    }
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius, radius);
    }
}

void PaneButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PaneButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// ---- eliding label ----

ElidedLabel::ElidedLabel(QWidget *parent, Qt::TextElideMode mode) : QLabel(parent), m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString &text)
{
    if (text == QLabel::text())
        return;
    QLabel::setText(text);
    updateGeometry();
    updateToolTip();
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), m_mode, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    // Rounded up: the eliding measures in fractions and would shorten a text given its
    // rounded-down width.
    const int textWidth = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text())));
    return QSize(textWidth + m.left() + m.right(), fontMetrics().height() + m.top() + m.bottom());
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    const int ellipsis = fontMetrics().horizontalAdvance(QStringLiteral("…"));
    return QSize(std::min(ellipsis, sizeHint().width()) + m.left() + m.right(), sizeHint().height());
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    style()->drawItemText(&p, contentsRect(), int(alignment()), palette(), isEnabled(), shownText(), foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateToolTip();
}

void ElidedLabel::updateToolTip()
{
    setToolTip(shownText() == text() ? QString() : text());
}

// ---- spinner ----

PaneSpinner::PaneSpinner(int diameter, QWidget *parent) : QWidget(parent), m_diameter(diameter), m_timer(new QTimer(this))
{
    setFixedSize(diameter, diameter);
    m_timer->setInterval(50);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void PaneSpinner::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const PaneColors c = PaneColors::forWidget(this);
    const double w = std::max(1.5, m_diameter / 8.0);
    const QRectF r = QRectF(rect()).adjusted(w, w, -w, -w);
    p.setPen(QPen(c.separator, w));
    p.drawEllipse(r);
    QPen arc(c.secondaryLabel, w);
    arc.setCapStyle(Qt::RoundCap);
    p.setPen(arc);
    p.drawArc(r, -m_angle * 16, 100 * 16);
}

void PaneSpinner::showEvent(QShowEvent *event)
{
    m_timer->start();
    QWidget::showEvent(event);
}

void PaneSpinner::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}

// ---- glyph ----

PaneGlyph::PaneGlyph(const QString &glyph, double size, QColor color, QWidget *parent)
    : QWidget(parent), m_glyph(glyph), m_size(size), m_color(color)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PaneGlyph::setGlyph(const QString &glyph, QColor color)
{
    m_glyph = glyph;
    m_color = color;
    update();
}

QSize PaneGlyph::sizeHint() const
{
    const int s = int(std::ceil(m_size));
    return {s, s};
}

void PaneGlyph::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRectF r = QRectF(rect());
    PaneStyle::drawGlyph(p, m_glyph, QRectF(r.center().x() - m_size / 2, r.center().y() - m_size / 2, m_size, m_size), m_color);
}

// ---- divider and strip ----

PaneDivider::PaneDivider(Qt::Orientation orientation, QWidget *parent) : QFrame(parent), m_orientation(orientation)
{
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedSize(1, 15);
    }
}

void PaneDivider::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), PaneColors::forWidget(this).separator);
}

PaneStrip::PaneStrip(QColor fill, QWidget *parent) : QWidget(parent), m_fill(fill) {}

void PaneStrip::setFill(QColor fill)
{
    m_fill = fill;
    update();
}

void PaneStrip::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), m_fill);
}

void PaneIconButton::paintEvent(QPaintEvent *event)
{
    if (LinearTheme::hasSymbol(systemName())) {
        LinearIconButton::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect());
    const QPainterPath path = LinearTheme::roundedRect(r, 6);
    const QColor fill = fillColor();
    if (fill.alpha() > 0)
        p.fillPath(path, fill);
    if (isDown())
        p.fillPath(path, LinearPalette::of(this).hoverFill());
    const double side = 14;
    PaneStyle::drawGlyph(p, systemName(), QRectF(r.center().x() - side / 2, r.center().y() - side / 2, side, side),
                         foregroundColor());
}
