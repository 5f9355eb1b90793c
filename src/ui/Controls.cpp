#include "ui/Controls.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <cmath>

QColor toneColor(Tone tone, const LinearPalette &lp)
{
    switch (tone) {
    case Tone::label: return lp.label();
    case Tone::secondary: return lp.secondaryLabel();
    case Tone::tertiary: return lp.tertiaryLabel();
    case Tone::accent: return lp.accent();
    case Tone::red: return lp.systemRed();
    case Tone::green: return lp.systemGreen();
    case Tone::orange: return lp.systemOrange();
    }
    return lp.label();
}

// ---- ThemedLabel ----

ThemedLabel::ThemedLabel(const QString &text, const QFont &font, Tone tone, QWidget *parent)
    : QWidget(parent), m_text(text), m_font(font), m_tone(tone)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(text);
}

void ThemedLabel::setText(const QString &text)
{
    if (m_text == text) return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void ThemedLabel::setTone(Tone tone)
{
    if (m_tone == tone) return;
    m_tone = tone;
    update();
}

void ThemedLabel::setElideMode(Qt::TextElideMode mode)
{
    m_elide = mode;
    update();
}

void ThemedLabel::setWordWrap(bool wrap, int maxLines)
{
    m_wrap = wrap;
    m_maxLines = maxLines;
    QSizePolicy sp = sizePolicy();
    sp.setHeightForWidth(wrap);
    // A fixed height would hold the lines counted at the hint's width; narrower, the text
    // takes more lines and the last ones were cut off.
    if (wrap)
        sp.setVerticalPolicy(QSizePolicy::Minimum);
    setSizePolicy(sp);
    updateGeometry();
}

void ThemedLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

QSize ThemedLabel::sizeHint() const
{
    const QFontMetricsF fm(m_font);
    if (m_wrap) {
        const int w = 200;
        return QSize(w, heightForWidth(w));
    }
    return QSize(int(std::ceil(fm.horizontalAdvance(m_text))) + 1, int(std::ceil(fm.height())));
}

QSize ThemedLabel::minimumSizeHint() const
{
    const QFontMetricsF fm(m_font);
    if (m_wrap) return QSize(40, int(std::ceil(fm.height())));
    // Elided labels may shrink; others keep their text.
    const int w = m_elide == Qt::ElideNone ? sizeHint().width() : int(std::ceil(fm.horizontalAdvance(QStringLiteral("…")))) + 8;
    return QSize(w, int(std::ceil(fm.height())));
}

static QStringList wrapLines(const QString &text, const QFont &font, qreal width, int maxLines)
{
    QStringList lines;
    QTextLayout layout(text, font);
    QTextOption opt;
    opt.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(opt);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(std::max<qreal>(1, width));
        lines.append(text.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    if (maxLines > 0 && lines.size() > maxLines) {
        QString rest = lines.mid(maxLines - 1).join(QString());
        lines = lines.mid(0, maxLines - 1);
        lines.append(QFontMetricsF(font).elidedText(rest, Qt::ElideRight, width));
    }
    return lines;
}

int ThemedLabel::heightForWidth(int width) const
{
    if (!m_wrap) return -1;
    const QFontMetricsF fm(m_font);
    const int n = std::max<int>(1, int(wrapLines(m_text, m_font, width, m_maxLines).size()));
    return int(std::ceil(n * fm.lineSpacing()));
}

void ThemedLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setFont(m_font);
    QColor c = toneColor(m_tone, LinearPalette::of(this));
    if (!isEnabled()) c.setAlphaF(c.alphaF() * 0.5f);
    p.setPen(c);
    const QFontMetricsF fm(m_font);
    if (m_wrap) {
        const QStringList lines = wrapLines(m_text, m_font, width(), m_maxLines);
        qreal y = 0;
        for (const QString &line : lines) {
            p.drawText(QRectF(0, y, width(), fm.lineSpacing()), (m_alignment & Qt::AlignHorizontal_Mask) | Qt::AlignTop,
                       line.trimmed());
            y += fm.lineSpacing();
        }
        return;
    }
    p.drawText(QRectF(rect()), int(m_alignment), shownText());
}

QString ThemedLabel::shownText() const
{
    return m_elide == Qt::ElideNone ? m_text : QFontMetricsF(m_font).elidedText(m_text, m_elide, width());
}

// ---- PlainButton ----

PlainButton::PlainButton(Look look, const QString &text, QWidget *parent) : QAbstractButton(parent), m_look(std::move(look))
{
    setText(text);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(m_look.fillWidth ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PlainButton::setLook(const Look &look)
{
    m_look = look;
    updateGeometry();
    update();
}

void PlainButton::setSymbolTone(Tone tone)
{
    m_look.symbolTone = tone;
    update();
}

QSize PlainButton::sizeHint() const
{
    const QFontMetricsF fm(m_look.font);
    qreal w = m_look.padding.left() + m_look.padding.right();
    qreal h = 0;
    int parts = 0;
    if (!m_look.symbol.isEmpty()) {
        w += m_look.symbolSize + 2;
        h = std::max(h, m_look.symbolSize + 2);
        ++parts;
    }
    if (!text().isEmpty()) {
        w += fm.horizontalAdvance(text());
        h = std::max(h, fm.height());
        ++parts;
    }
    if (!m_look.trailingSymbol.isEmpty()) {
        w += m_look.trailingSize + 2;
        h = std::max(h, m_look.trailingSize + 2);
        ++parts;
    }
    if (parts > 1) w += (parts - 1) * m_look.spacing;
    h += m_look.padding.top() + m_look.padding.bottom();
    return QSize(int(std::ceil(w)), int(std::ceil(h)));
}

QSize PlainButton::minimumSizeHint() const
{
    // Buttons that take the offered width may shorten their text.
    if (!m_look.fillWidth) return sizeHint();
    const qreal w = m_look.padding.left() + m_look.padding.right() + m_look.symbolSize + 2 + 30;
    return QSize(int(std::ceil(w)), sizeHint().height());
}

void PlainButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.4);
    const LinearPalette lp = LinearPalette::of(this);
    const QRectF r = QRectF(rect());
    QPainterPath shape;
    if (m_look.circle) shape.addEllipse(r);
    else shape = LinearTheme::roundedRect(r, m_look.radius);
    if (m_look.fill) {
        const QColor fill = m_look.fill(lp, m_hovered && isEnabled());
        if (fill.alpha() > 0) p.fillPath(shape, fill);
    }
    if (isDown()) p.fillPath(shape, lp.hoverFill());

    const QRectF inner = r.marginsRemoved(m_look.padding);
    qreal x = inner.left();
    if (!m_look.fillWidth || m_look.centerContent) {
        // Content centred in whatever room the layout gave.
        const qreal natural = sizeHint().width() - m_look.padding.left() - m_look.padding.right();
        x = inner.left() + std::max<qreal>(0, (inner.width() - natural) / 2);
    }
    const qreal cy = inner.center().y();
    if (!m_look.symbol.isEmpty()) {
        const qreal s = m_look.symbolSize + 2;
        LinearTheme::drawSymbol(p, QRectF(x, cy - s / 2, s, s), m_look.symbol, toneColor(m_look.symbolTone, lp));
        x += s + m_look.spacing;
    }
    if (!text().isEmpty()) {
        p.setFont(m_look.font);
        p.setPen(toneColor(m_look.textTone, lp));
        qreal room = inner.right() - x;
        if (!m_look.trailingSymbol.isEmpty()) room -= m_look.trailingSize + 2 + m_look.spacing;
        const QFontMetricsF fm(m_look.font);
        const QString shown = fm.elidedText(text(), Qt::ElideRight, std::max<qreal>(0, room));
        p.drawText(QRectF(x, inner.top(), std::max<qreal>(0, room), inner.height()), Qt::AlignVCenter | Qt::AlignLeft, shown);
        x += fm.horizontalAdvance(shown) + m_look.spacing;
    }
    if (!m_look.trailingSymbol.isEmpty()) {
        const qreal s = m_look.trailingSize + 2;
        const qreal tx = m_look.fillWidth ? inner.right() - s : x;
        LinearTheme::drawSymbol(p, QRectF(tx, cy - s / 2, s, s), m_look.trailingSymbol, toneColor(m_look.trailingTone, lp));
    }
    if (hasFocus()) {
        QColor ring = lp.accent();
        ring.setAlphaF(0.6f);
        p.setOpacity(1);
        p.setPen(QPen(ring, 1.5));
        p.setBrush(Qt::NoBrush);
        if (m_look.circle) p.drawEllipse(r.adjusted(0.75, 0.75, -0.75, -0.75));
        else p.drawPath(LinearTheme::roundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), m_look.radius));
    }
}

void PlainButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PlainButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void PlainButton::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void paintSoftShadow(QPainter &p, const QPainterPath &shape, qreal radius, QPointF offset, qreal opacity)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const int steps = 8;
    const QRectF bounds = shape.boundingRect();
    for (int i = steps; i >= 1; --i) {
        const qreal spread = radius * i / steps;
        const qreal alpha = opacity / steps * 1.6 * (1.0 - qreal(i - 1) / steps);
        QPainterPath layer;
        const QRectF r = bounds.adjusted(-spread / 2, -spread / 2, spread / 2, spread / 2).translated(offset);
        layer.addRoundedRect(r, std::min(r.height() / 2, 10 + spread / 2), std::min(r.height() / 2, 10 + spread / 2));
        p.setBrush(QColor::fromRgbF(0, 0, 0, float(std::clamp(alpha, 0.0, 1.0))));
        p.drawPath(layer);
    }
    p.restore();
}
