#include "ui/sheets/SheetControls.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(float(c.alphaF() * alpha));
    return c;
}

} // namespace

// ---- SheetSymbol ----

SheetSymbol::SheetSymbol(const QString &name, qreal size, Tone tone, QWidget *parent)
    : QWidget(parent), m_name(name), m_size(size), m_tone(tone)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SheetSymbol::sizeHint() const
{
    const int side = qCeil(m_size + 2);
    return {side, side};
}

void SheetSymbol::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(0, 0, m_size, m_size).translated((width() - m_size) / 2, (height() - m_size) / 2);
    LinearTheme::drawSymbol(p, box, m_name, toneColor(m_tone, LinearPalette::of(this)));
}

// ---- SheetButton ----

SheetButton::SheetButton(Style style, const QString &symbol, const QString &text, QWidget *parent)
    : QAbstractButton(parent), m_style(style), m_symbol(symbol)
{
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (style == Style::closeCircle) {
        m_symbolSize = 11;
        m_symbolTone = Tone::secondary;
    }
}

void SheetButton::setMini(bool mini)
{
    m_mini = mini;
    updateGeometry();
    update();
}

QFont SheetButton::textFont() const { return LinearTheme::font(m_mini ? 10.5 : 12, QFont::Medium); }

QSize SheetButton::sizeHint() const
{
    if (m_style == Style::closeCircle)
        return {24, 24};
    const qreal symbolSize = m_symbol.isEmpty() ? 0 : (m_mini ? qMin(m_symbolSize, 10.0) : m_symbolSize);
    if (m_style == Style::plain)
        return {qCeil(symbolSize + 6), qCeil(symbolSize + 6)};
    const QFontMetricsF fm(textFont());
    qreal w = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
    if (symbolSize > 0)
        w += symbolSize + (text().isEmpty() ? 0 : 5);
    const qreal padH = m_mini ? 7 : 11;
    const qreal h = m_mini ? 18 : 26;
    return {qCeil(w + 2 * padH), qCeil(h)};
}

void SheetButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool down = isDown();
    QColor content = lp.label();
    switch (m_style) {
    case Style::closeCircle: {
        p.setPen(Qt::NoPen);
        p.setBrush(lp.neutral(m_hovered ? 0.10 : 0.06, m_hovered ? 0.08 : 0.045));
        p.drawEllipse(r);
        const qreal s = m_symbolSize;
        LinearTheme::drawSymbol(p, QRectF((width() - s) / 2, (height() - s) / 2, s, s), m_symbol,
                                toneColor(m_symbolTone, lp));
        return;
    }
    case Style::plain: {
        const qreal s = m_symbolSize;
        QColor c = toneColor(m_symbolTone, lp);
        if (m_hovered) c = lp.label();
        LinearTheme::drawSymbol(p, QRectF((width() - s) / 2, (height() - s) / 2, s, s), m_symbol, c);
        return;
    }
    case Style::bordered: {
        const QPainterPath shape = LinearTheme::roundedRect(r, m_mini ? 4 : 6);
        QColor fill = lp.controlBackground();
        if (lp.isDark()) fill = fill.lighter(m_hovered ? 190 : 165);
        else if (m_hovered || down) fill = fill.darker(down ? 112 : 104);
        p.fillPath(shape, fill);
        p.setPen(QPen(withAlpha(lp.separator(), lp.isDark() ? 1.2 : 1.6), 0.75));
        p.drawPath(shape);
        break;
    }
    case Style::prominent: {
        QColor fill = lp.accent();
        if (down) fill = fill.darker(115);
        else if (m_hovered) fill = fill.lighter(108);
        p.fillPath(LinearTheme::roundedRect(r, m_mini ? 4 : 6), fill);
        content = Qt::white;
        break;
    }
    }
    const qreal symbolSize = m_symbol.isEmpty() ? 0 : (m_mini ? qMin(m_symbolSize, 10.0) : m_symbolSize);
    const QFont font = textFont();
    const QFontMetricsF fm(font);
    const qreal textW = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
    const qreal total = textW + symbolSize + (symbolSize > 0 && textW > 0 ? 5 : 0);
    qreal x = (width() - total) / 2;
    if (symbolSize > 0) {
        LinearTheme::drawSymbol(p, QRectF(x, (height() - symbolSize) / 2, symbolSize, symbolSize), m_symbol, content);
        x += symbolSize + 5;
    }
    if (textW > 0) {
        p.setFont(font);
        p.setPen(content);
        p.drawText(QRectF(x, 0, textW + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }
    if (hasFocus()) {
        p.setPen(QPen(withAlpha(lp.accent(), 0.6), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(LinearTheme::roundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), m_mini ? 4 : 6));
    }
}

void SheetButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void SheetButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void SheetButton::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

// ---- SheetCard, SheetDivider, SheetBackground ----

SheetCard::SheetCard(QWidget *parent) : QWidget(parent) {}

void SheetCard::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    const QPainterPath shape = LinearTheme::roundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10);
    p.fillPath(shape, lp.controlBackground());
    p.setPen(QPen(withAlpha(lp.separator(), 0.65), 0.75));
    p.drawPath(shape);
}

SheetDivider::SheetDivider(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SheetDivider::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), LinearPalette::of(this).separator());
}

void SheetBackground::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), LinearPalette::of(this).windowBackground());
}
