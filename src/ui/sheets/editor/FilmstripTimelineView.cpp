#include "FilmstripTimelineView.h"

#include "editing/TrimSegments.h"
#include "ui/LinearTheme.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

FilmstripTimelineView::FilmstripTimelineView(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(76);
    setMouseTracking(false);
}

void FilmstripTimelineView::setTotalDuration(double seconds)
{
    if (m_total == seconds) return;
    m_total = seconds;
    update();
}

void FilmstripTimelineView::setCurrentTime(double seconds)
{
    if (m_current == seconds) return;
    m_current = seconds;
    update();
}

void FilmstripTimelineView::setFilmstrip(const QList<QImage> &frames)
{
    m_frames = frames;
    update();
}

void FilmstripTimelineView::setSegments(const QList<VideoClipSegment> &segments)
{
    if (m_segments == segments) return;
    m_segments = segments;
    update();
}

void FilmstripTimelineView::setSelectedSegmentID(const std::optional<QUuid> &id)
{
    if (m_selected == id) return;
    m_selected = id;
    update();
}

qreal FilmstripTimelineView::stripWidth() const { return std::max<qreal>(width(), 1); }

qreal FilmstripTimelineView::xForTime(double seconds) const
{
    return m_total > 0 ? stripWidth() * seconds / m_total : 0;
}

qreal FilmstripTimelineView::playheadX() const { return std::clamp(xForTime(m_current), 0.0, stripWidth()); }

QRectF FilmstripTimelineView::rangeWindow(int index) const
{
    if (index < 0 || index >= m_segments.size() || !(m_total > 0)) return {};
    const VideoClipSegment &s = m_segments[index];
    const qreal x0 = xForTime(s.start);
    const qreal w = std::max(xForTime(s.end) - x0, 2 * m_handleWidth + 4);
    return {x0, 0, w, qreal(height())};
}

QRectF FilmstripTimelineView::startHandle(int index) const
{
    const QRectF r = rangeWindow(index);
    if (r.isNull()) return {};
    return {r.left(), r.center().y() - 37, m_handleWidth, 74};
}

QRectF FilmstripTimelineView::endHandle(int index) const
{
    const QRectF r = rangeWindow(index);
    if (r.isNull()) return {};
    return {r.right() - m_handleWidth, r.center().y() - 37, m_handleWidth, 74};
}

void FilmstripTimelineView::paintFrames(QPainter &p, qreal w, qreal h) const
{
    const int n = int(m_frames.size());
    if (n == 0) return;
    const qreal cell = w / n;
    for (int i = 0; i < n; ++i) {
        const QImage &img = m_frames[i];
        const QRectF target(i * cell, 0, cell, h);
        if (img.isNull()) continue;
        // Scaled to fill the cell, the overflow cut.
        const qreal scale = std::max(cell / img.width(), h / img.height());
        const QSizeF shown(cell / scale, h / scale);
        const QRectF source((img.width() - shown.width()) / 2, (img.height() - shown.height()) / 2, shown.width(),
                            shown.height());
        p.drawImage(target, img, source);
    }
}

void FilmstripTimelineView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const LinearPalette palette = LinearPalette::of(this);
    const qreal W = stripWidth(), H = height();
    const QPainterPath strip = LinearTheme::roundedRect(QRectF(0, 0, W, H), 8);

    p.save();
    p.setClipPath(strip);
    if (m_frames.isEmpty())
        p.fillRect(QRectF(0, 0, W, H), palette.controlBackground());
    else
        paintFrames(p, W, H);
    p.fillRect(QRectF(0, 0, W, H), QColor(0, 0, 0, int(0.65 * 255)));
    p.restore();

    const QColor accent = palette.accent();
    if (m_total > 0) {
        for (int i = 0; i < m_segments.size(); ++i) {
            const QRectF win = rangeWindow(i);
            const bool selected = m_selected == m_segments[i].id;
            p.save();
            p.setClipRect(win);
            paintFrames(p, W, H);
            p.restore();
            const QPainterPath shape = LinearTheme::roundedRect(win.adjusted(0.75, 0.75, -0.75, -0.75), 6);
            QColor fill = accent;
            fill.setAlphaF(selected ? 0.12 : 0.04);
            p.fillPath(shape, fill);
            QColor line = accent;
            if (!selected) line.setAlphaF(0.75);
            p.setPen(QPen(line, selected ? 2.5 : 1.75));
            p.setBrush(Qt::NoBrush);
            p.drawPath(shape);
            for (const QRectF &h : {startHandle(i), endHandle(i)}) {
                QColor hc = accent;
                if (!selected) hc.setAlphaF(0.8);
                p.fillPath(LinearTheme::roundedRect(h, 4), hc);
                p.fillPath(LinearTheme::roundedRect(QRectF(h.center().x() - 1, h.center().y() - 11, 2, 22), 1),
                           Qt::white);
            }
        }
        // The playhead: a white line with a knob, standing out 3 points above and below.
        const qreal px = playheadX();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 80));
        p.drawRect(QRectF(px - 2, -3, 4, H + 6));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(px - 1, -3, 2, H + 6));
        p.drawEllipse(QRectF(px - 4.5, -7, 9, 9));
    }

    p.setPen(QPen(palette.separator(), 0.75));
    p.setBrush(Qt::NoBrush);
    p.drawPath(strip);
}

void FilmstripTimelineView::select(const QUuid &id)
{
    if (m_selected == id) return;
    m_selected = id;
    update();
    emit selectionEdited(m_selected);
}

void FilmstripTimelineView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const QPointF pos = event->position();
    m_drag = Drag::none;
    if (m_total > 0) {
        // Front to back: later ranges lie above earlier ones, handles above their window.
        for (int i = int(m_segments.size()) - 1; i >= 0 && m_drag == Drag::none; --i) {
            if (endHandle(i).contains(pos)) {
                m_drag = Drag::end;
            } else if (startHandle(i).contains(pos)) {
                m_drag = Drag::start;
            } else if (rangeWindow(i).contains(pos)) {
                select(m_segments[i].id);
                return; // a click on a range selects it and does not seek
            }
            if (m_drag != Drag::none) m_dragID = m_segments[i].id;
        }
    }
    if (m_drag == Drag::none) m_drag = Drag::seek;
    applyDrag(pos.x());
}

void FilmstripTimelineView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_drag != Drag::none) applyDrag(event->position().x());
}

void FilmstripTimelineView::mouseReleaseEvent(QMouseEvent *) { m_drag = Drag::none; }

void FilmstripTimelineView::applyDrag(qreal x)
{
    if (!(m_total > 0)) return;
    const qreal W = stripWidth();
    if (m_drag == Drag::seek) {
        const double f = x / W >= 1 ? 1.0 : std::max(x / W, 0.0);
        emit seekRequested(m_total * f);
        return;
    }
    const double t = x / W * m_total;
    select(m_dragID);
    if (m_drag == Drag::start) {
        const auto start = TrimSegments::dragStart(m_segments, m_dragID, t, m_minSegmentDuration);
        if (!start || !TrimSegments::applyStart(m_segments, m_dragID, *start)) return;
        update();
        emit segmentsEdited(m_segments);
        emit seekRequested(*start);
    } else if (m_drag == Drag::end) {
        const auto end = TrimSegments::dragEnd(m_segments, m_dragID, t, m_total, m_minSegmentDuration);
        if (!end || !TrimSegments::applyEnd(m_segments, m_dragID, *end)) return;
        update();
        emit segmentsEdited(m_segments);
        emit seekRequested(*end);
    }
}
