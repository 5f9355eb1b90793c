#include "ScrubberBar.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QStyleHints>

#include <algorithm>

namespace {
bool isDark(const QWidget *w)
{
    return w->palette().color(QPalette::Window).lightness() < 128;
}
} // namespace

ScrubberBar::ScrubberBar(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(14);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    m_accent = palette().color(QPalette::Highlight);
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
    p.setBrush(isDark(this) ? QColor(255, 255, 255, int(0.16 * 255)) : QColor(0, 0, 0, int(0.12 * 255)));
    p.drawRoundedRect(QRectF(0, y, w, h), h / 2, h / 2);
    const double progress = std::max(0.0, w * fraction(m_currentTime, m_duration));
    p.setBrush(m_accent);
    p.drawRoundedRect(QRectF(0, y, progress, h), h / 2, h / 2);
    if (m_duration > 0) {
        const double s = tickSize(m_hovering);
        for (double m : m_markers) {
            const double x = tickX(m, m_duration, w);
            p.setBrush(Qt::white);
            p.setPen(QPen(m_accent, 1.5));
            p.drawEllipse(QRectF(x, (height() - s) / 2, s, s));
        }
    }
    if (m_hovering) {
        const double x = knobX(m_currentTime, m_duration, w);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, int(0.35 * 255)));
        p.drawEllipse(QRectF(x, (height() - 10) / 2 + 1, 10, 10));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(x, (height() - 10) / 2, 10, 10));
    }
}

FlowTagsView::FlowTagsView(QWidget *parent) : QWidget(parent)
{
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    m_row = new QWidget;
    auto *row = new QHBoxLayout(m_row);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    row->addStretch();
    scroll->setWidget(m_row);
    outer->addWidget(scroll);
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
    for (int i = 0; i < tags.size(); ++i) {
        auto *chip = new QLabel(tags[i], m_row);
        chip->setObjectName(QStringLiteral("tagChip"));
        QFont f = chip->font();
        f.setPointSizeF(10);
        f.setWeight(QFont::Medium);
        chip->setFont(f);
        chip->setStyleSheet(QStringLiteral("QLabel#tagChip { padding: 2px 7px; border-radius: 8px;"
                                           " background: palette(window); border: 0.5px solid palette(mid); }"));
        row->insertWidget(i, chip);
    }
}
