#include "ui/player/ScrubberBar.h"

#include "ui/LinearTheme.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <QStyleHints>

#include <algorithm>
#include <cmath>

namespace {
QColor whiteAt(double a) { return QColor::fromRgbF(1, 1, 1, float(a)); }
QColor blackAt(double a) { return QColor::fromRgbF(0, 0, 0, float(a)); }
} // namespace

ScrubberBar::ScrubberBar(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(14);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
}

void ScrubberBar::setCurrentTime(double s)
{
    if (m_currentTime != s) {
        m_currentTime = s;
        update();
    }
}
void ScrubberBar::setDuration(double s)
{
    if (m_duration != s) {
        m_duration = s;
        update();
    }
}
void ScrubberBar::setAccent(const QColor &c)
{
    m_accent = c;
    update();
}
QColor ScrubberBar::accent() const { return m_accent.value_or(LinearPalette::of(this).accent()); }

void ScrubberBar::setMarkers(const QList<double> &markers)
{
    m_markers = markers;
    update();
}

double ScrubberBar::fraction(double currentTime, double duration)
{
    if (!(duration > 0))
        return 0;
    return std::clamp(currentTime / duration, 0.0, 1.0);
}

double ScrubberBar::tickX(double marker, double duration, double width)
{
    const double f = duration > 0 ? std::clamp(marker / duration, 0.0, 1.0) : 0;
    return std::max(0.0, std::min(f * width - 3.5, width - 7));
}

double ScrubberBar::knobX(double currentTime, double duration, double width)
{
    return std::max(0.0, std::min(width * fraction(currentTime, duration) - 5, width - 10));
}

std::optional<double> ScrubberBar::seekTarget(double x, double width, double duration)
{
    if (!(duration > 0) || !(width > 0))
        return std::nullopt;
    return duration * std::clamp(x / width, 0.0, 1.0);
}

void ScrubberBar::seekAt(double x)
{
    if (const auto t = seekTarget(x, width(), m_duration))
        emit seekRequested(*t);
}

void ScrubberBar::mousePressEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton)
        seekAt(e->position().x());
}

void ScrubberBar::mouseMoveEvent(QMouseEvent *e)
{
    if (e->buttons() & Qt::LeftButton)
        seekAt(e->position().x());
}

void ScrubberBar::enterEvent(QEnterEvent *)
{
    m_hovering = true;
    update();
}

void ScrubberBar::leaveEvent(QEvent *)
{
    m_hovering = false;
    update();
}

void ScrubberBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = trackHeight(m_hovering);
    const double y = (height() - h) / 2;
    p.setPen(Qt::NoPen);
    const LinearPalette lp = LinearPalette::of(this);
    const QColor accentColor = accent();
    p.setBrush(lp.isDark() ? whiteAt(0.16) : blackAt(0.12));
    p.drawRoundedRect(QRectF(0, y, w, h), h / 2, h / 2);
    const double progress = std::max(0.0, w * fraction(m_currentTime, m_duration));
    p.setBrush(accentColor);
    p.drawRoundedRect(QRectF(0, y, progress, h), h / 2, h / 2);
    if (m_duration > 0) {
        const double s = tickSize(m_hovering);
        for (double m : m_markers) {
            const double x = tickX(m, m_duration, w);
            p.setBrush(Qt::white);
            p.setPen(QPen(accentColor, 1.5));
            p.drawEllipse(QRectF(x, (height() - s) / 2, s, s));
        }
    }
    if (m_hovering) {
        const double x = knobX(m_currentTime, m_duration, w);
        p.setPen(Qt::NoPen);
        p.setBrush(blackAt(0.35));
        p.drawEllipse(QRectF(x, (height() - 10) / 2 + 1, 10, 10));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(x, (height() - 10) / 2, 10, 10));
    }
}

namespace {
// One tag: its text in a capsule on the window colour with a faint outline.
class TagChip : public QWidget {
public:
    TagChip(const QString &text, QWidget *parent) : QWidget(parent), m_text(text)
    {
        setObjectName(QStringLiteral("tagChip"));
        setFont(LinearTheme::font(10, QFont::Medium));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QString text() const { return m_text; }
    QSize sizeHint() const override
    {
        const QFontMetricsF fm(font());
        return QSizeF(std::ceil(fm.horizontalAdvance(m_text)) + 2 * 7, std::ceil(fm.height() + 2 * 2.5)).toSize();
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const LinearPalette lp = LinearPalette::of(this);
        const QRectF r = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
        const qreal radius = r.height() / 2;
        p.setBrush(lp.windowBackground());
        QColor stroke = lp.separator();
        stroke.setAlphaF(stroke.alphaF() * 0.65f);
        p.setPen(QPen(stroke, 0.5));
        p.drawRoundedRect(r, radius, radius);
        p.setPen(lp.label());
        p.drawText(rect(), Qt::AlignCenter, m_text);
    }

private:
    QString m_text;
};

// Scrolls the row sideways without a bar; the wheel moves it sideways too.
class SidewaysScrollArea : public QScrollArea {
public:
    explicit SidewaysScrollArea(QWidget *parent) : QScrollArea(parent) {}

protected:
    void wheelEvent(QWheelEvent *event) override
    {
        const QPoint d = event->angleDelta();
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - (d.x() != 0 ? d.x() : d.y()) / 2);
        event->accept();
    }
};
} // namespace

FlowTagsView::FlowTagsView(QWidget *parent) : QWidget(parent)
{
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroll = new SidewaysScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_row = new QWidget;
    m_row->setAutoFillBackground(false);
    auto *row = new QHBoxLayout(m_row);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    row->addStretch();
    m_scroll->setWidget(m_row);
    outer->addWidget(m_scroll);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize FlowTagsView::sizeHint() const { return {0, m_row->sizeHint().height()}; }
QSize FlowTagsView::minimumSizeHint() const { return sizeHint(); }

QList<QWidget *> FlowTagsView::chips() const
{
    QList<QWidget *> out;
    auto *row = m_row->layout();
    for (int i = 0; i < row->count(); ++i)
        if (QWidget *w = row->itemAt(i)->widget())
            out.append(w);
    return out;
}

void FlowTagsView::setTags(const QStringList &tags)
{
    m_tags = tags;
    auto *row = static_cast<QHBoxLayout *>(m_row->layout());
    while (row->count() > 1) {
        QLayoutItem *item = row->takeAt(0);
        delete item->widget();
        delete item;
    }
    for (int i = 0; i < tags.size(); ++i)
        row->insertWidget(i, new TagChip(tags[i], m_row));
    m_scroll->setFixedHeight(m_row->sizeHint().height());
    updateGeometry();
}
