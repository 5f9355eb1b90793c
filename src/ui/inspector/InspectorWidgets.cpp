#include "ui/inspector/InspectorWidgets.h"

#include <QChildEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

void initInspectorIcons()
{
    static bool done = false;
    if (done) return;
    done = true;
    Q_INIT_RESOURCE(inspector_icons);
}

// ---- InspectorLabel ----

InspectorLabel::InspectorLabel(const QString &text, const QFont &font, PaletteColor color, QWidget *parent)
    : QLabel(text, parent), m_color(std::move(color))
{
    setFont(font);
    applyColor();
}

void InspectorLabel::setColor(PaletteColor color)
{
    m_color = std::move(color);
    applyColor();
}

QColor InspectorLabel::currentColor() const { return palette().color(QPalette::WindowText); }

void InspectorLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !m_applying) applyColor();
}

void InspectorLabel::setMaxLines(int lines)
{
    m_maxLines = lines;
    setWordWrap(lines != 1);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    updateGeometry();
}

int InspectorLabel::linesHeight() const
{
    const QMargins m = contentsMargins();
    return m_maxLines * QFontMetrics(font()).lineSpacing() + m.top() + m.bottom();
}

int InspectorLabel::heightForWidth(int width) const
{
    const int h = QLabel::heightForWidth(width);
    return m_maxLines > 0 ? std::min(h, linesHeight()) : h;
}

QSize InspectorLabel::sizeHint() const
{
    QSize s = QLabel::sizeHint();
    if (m_maxLines > 0) s.setHeight(std::min(s.height(), linesHeight()));
    return s;
}

QSize InspectorLabel::minimumSizeHint() const
{
    QSize s = QLabel::minimumSizeHint();
    if (m_maxLines > 0) s.setHeight(std::min(s.height(), linesHeight()));
    return s;
}

void InspectorLabel::applyColor()
{
    if (!m_color) return;
    const QColor c = m_color(LinearPalette::of(this));
    if (palette().color(QPalette::WindowText) == c) return;
    m_applying = true;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    setPalette(p);
    m_applying = false;
}

// ---- SymbolView ----

SymbolView::SymbolView(const QString &name, qreal size, PaletteColor color, QWidget *parent)
    : QWidget(parent), m_name(name), m_size(size), m_color(std::move(color))
{
    initInspectorIcons();
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setSymbol(const QString &name)
{
    if (m_name == name) return;
    m_name = name;
    update();
}

void SymbolView::setColor(PaletteColor color)
{
    m_color = std::move(color);
    update();
}

QSize SymbolView::sizeHint() const
{
    const int s = int(std::ceil(m_size));
    return {s, s};
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = m_color ? m_color(LinearPalette::of(this)) : LinearPalette::of(this).label();
    LinearTheme::drawSymbol(p, QRectF(rect()), m_name, c);
}

// ---- PillLabel ----

PillLabel::PillLabel(const QFont &font, qreal padX, qreal padY, qreal radius, QWidget *parent)
    : QWidget(parent), m_font(font), m_padX(padX), m_padY(padY), m_radius(radius)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PillLabel::setText(const QString &text)
{
    if (m_text == text) return;
    m_text = text;
    updateGeometry();
    update();
}

void PillLabel::setColors(PaletteColor foreground, PaletteColor fill)
{
    m_foreground = std::move(foreground);
    m_fill = std::move(fill);
    update();
}

QColor PillLabel::foregroundColor() const
{
    return m_foreground ? m_foreground(LinearPalette::of(this)) : LinearPalette::of(this).label();
}

QColor PillLabel::fillColor() const { return m_fill ? m_fill(LinearPalette::of(this)) : QColor(Qt::transparent); }

QSize PillLabel::sizeHint() const
{
    const QFontMetricsF fm(m_font);
    return {int(std::ceil(fm.horizontalAdvance(m_text) + 2 * m_padX)), int(std::ceil(fm.height() + 2 * m_padY))};
}

void PillLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(LinearTheme::roundedRect(QRectF(rect()), m_radius), fillColor());
    p.setFont(m_font);
    p.setPen(foregroundColor());
    p.drawText(QRectF(rect()), Qt::AlignCenter, m_text);
}

// ---- InspectorCard ----

InspectorCard::InspectorCard(int padding, int spacing, QWidget *parent) : QWidget(parent)
{
    m_body = new QVBoxLayout(this);
    m_body->setContentsMargins(padding, padding, padding, padding);
    m_body->setSpacing(spacing);
}

void InspectorCard::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = LinearTheme::roundedRect(r, m_radius);
    if (m_filled) p.fillPath(shape, palette().color(QPalette::Base));
    QColor stroke = lp.separator();
    if (!m_strongOutline) stroke.setAlphaF(stroke.alphaF() * 0.65f);
    p.setPen(QPen(stroke, 0.75));
    p.drawPath(shape);
}

// ---- DividerLine ----

DividerLine::DividerLine(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void DividerLine::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), LinearPalette::of(this).separator());
}

// ---- PaintedButton ----

PaintedButton::PaintedButton(QWidget *parent) : QAbstractButton(parent)
{
    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(0, 0, 0, 0);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void PaintedButton::setLook(Look look)
{
    m_look = std::move(look);
    update();
}

QSize PaintedButton::sizeHint() const { return m_row->sizeHint(); }
QSize PaintedButton::minimumSizeHint() const { return m_row->minimumSize(); }
bool PaintedButton::hasHeightForWidth() const { return m_row->hasHeightForWidth(); }
int PaintedButton::heightForWidth(int width) const { return m_row->totalHeightForWidth(width); }

void PaintedButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const LinearPalette lp = LinearPalette::of(this);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = m_look.capsule ? r.height() / 2 : m_look.radius;
    const QPainterPath shape = LinearTheme::roundedRect(r, radius);
    if (m_look.fill) p.fillPath(shape, m_look.fill(lp));
    if (m_hovered || isDown()) p.fillPath(shape, lp.hoverFill());
    if (m_look.stroke) {
        p.setPen(QPen(m_look.stroke(lp), 0.75));
        p.drawPath(shape);
    }
}

void PaintedButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PaintedButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void PaintedButton::childEvent(QChildEvent *event)
{
    // The pieces of the label must not take the clicks meant for the button.
    if (event->added() && event->child()->isWidgetType())
        static_cast<QWidget *>(event->child())->setAttribute(Qt::WA_TransparentForMouseEvents);
    QAbstractButton::childEvent(event);
}
