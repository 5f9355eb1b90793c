#pragma once

#include <QColor>
#include <QList>
#include <QStringList>
#include <QWidget>

class QScrollArea;

#include <functional>
#include <optional>

// The thin timeline under a video: progress, marker ticks, a knob while hovered, and
// clicks and drags turned into seek requests. The owner seeks and passes the new time
// back; the bar never moves its progress on its own.
class ScrubberBar : public QWidget {
    Q_OBJECT
public:
    explicit ScrubberBar(QWidget *parent = nullptr);

    void setCurrentTime(double seconds);
    void setDuration(double seconds);
    // Unset, the bar uses the scheme's accent.
    void setAccent(const QColor &accent);
    QColor accent() const;
    void setMarkers(const QList<double> &markers);
    double currentTime() const { return m_currentTime; }
    double duration() const { return m_duration; }
    QList<double> markers() const { return m_markers; }
    bool isHovering() const { return m_hovering; }

    // Layout arithmetic, in points.
    static double fraction(double currentTime, double duration);
    static double tickX(double marker, double duration, double width);
    static double knobX(double currentTime, double duration, double width);
    // The seek target for a pointer at x, or none when there is nothing to seek in.
    static std::optional<double> seekTarget(double x, double width, double duration);
    static double trackHeight(bool hovering) { return hovering ? 5.0 : 3.5; }
    static double tickSize(bool hovering) { return hovering ? 7.0 : 5.5; }

    QSize sizeHint() const override { return {200, 14}; }

signals:
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void seekAt(double x);
    double m_currentTime = 0;
    double m_duration = 0;
    std::optional<QColor> m_accent;
    QList<double> m_markers;
    bool m_hovering = false;
};

// A row of short text tags shown as chips, scrolling sideways when they do not fit.
class FlowTagsView : public QWidget {
    Q_OBJECT
public:
    explicit FlowTagsView(QWidget *parent = nullptr);
    void setTags(const QStringList &tags);
    QStringList tags() const { return m_tags; }
    // The chips in order, for layout checks.
    QList<QWidget *> chips() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QStringList m_tags;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_row = nullptr;
};
