#pragma once

// The editing strip of the trim editor: the preview frames across the video's length,
// dimmed, with every kept range lifted out in a tinted window that has a handle at each
// edge, and the playhead. A press on the dimmed part seeks; a click on a range selects it;
// a handle drag moves that range's edge. It holds copies of the editor's ranges and
// selection and reports every change; the editor writes them back.

#include "editing/TrimExportTypes.h"

#include <QImage>
#include <QList>
#include <QUuid>
#include <QWidget>

#include <optional>

class FilmstripTimelineView : public QWidget {
    Q_OBJECT
public:
    explicit FilmstripTimelineView(QWidget *parent = nullptr);

    void setTotalDuration(double seconds);
    void setCurrentTime(double seconds);
    void setFilmstrip(const QList<QImage> &frames);
    void setSegments(const QList<VideoClipSegment> &segments);
    void setSelectedSegmentID(const std::optional<QUuid> &id);
    void setHandleWidth(qreal width) { m_handleWidth = width; update(); }
    void setMinSegmentDuration(double seconds) { m_minSegmentDuration = seconds; }

    double totalDuration() const { return m_total; }
    const QList<VideoClipSegment> &segments() const { return m_segments; }
    std::optional<QUuid> selectedSegmentID() const { return m_selected; }

    // Geometry, in the widget's coordinates (for tests and the pictures).
    QRectF rangeWindow(int index) const;
    QRectF startHandle(int index) const;
    QRectF endHandle(int index) const;
    qreal xForTime(double seconds) const;
    qreal playheadX() const;

    QSize sizeHint() const override { return {864, 76}; }

signals:
    void segmentsEdited(const QList<VideoClipSegment> &segments);
    void selectionEdited(const std::optional<QUuid> &id);
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    enum class Drag { none, seek, start, end };
    void paintFrames(QPainter &p, qreal width, qreal height) const;
    void applyDrag(qreal x);
    void select(const QUuid &id);
    qreal stripWidth() const;

    double m_total = 0;
    double m_current = 0;
    QList<QImage> m_frames;
    QList<VideoClipSegment> m_segments;
    std::optional<QUuid> m_selected;
    qreal m_handleWidth = 12;
    double m_minSegmentDuration = 0.25;
    Drag m_drag = Drag::none;
    QUuid m_dragID; // the range a handle drag moves, by id
};
