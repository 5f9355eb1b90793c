#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;
class ScrubberBar;
class VideoPlayerController;

// The speeds offered by every rate menu, in menu order.
const QList<float> &playbackRates();
// "0.5×", "1×", "1.2×" (for 1.25), "1.5×", "2×".
QString playbackRateLabel(float rate);

// The transport block under the inspector's picture: a scrubber over one row of compact
// controls (play/pause, ±10 s, time, subtitles while libmpv plays, rate, loop, mute,
// full screen). Everything is read from the controller as it publishes.
class TransportControls : public QWidget {
    Q_OBJECT
public:
    explicit TransportControls(VideoPlayerController *controller, QWidget *parent = nullptr);

    // The duration the facts know before the player reports one (0 when unknown).
    void setFallbackDuration(double seconds);
    void setMarkers(const QList<double> &markers);
    double shownDuration() const;

    ScrubberBar *scrubber() const { return m_scrubber; }
    QToolButton *playButton() const { return m_play; }
    QToolButton *subtitleButton() const { return m_subtitles; }
    QToolButton *rateButton() const { return m_rate; }
    QToolButton *loopButton() const { return m_loop; }
    QToolButton *muteButton() const { return m_mute; }
    QLabel *timeLabel() const { return m_time; }

signals:
    void fullscreenRequested();

private:
    void refresh();
    QPointer<VideoPlayerController> m_controller;
    double m_fallbackDuration = 0;
    ScrubberBar *m_scrubber = nullptr;
    QToolButton *m_play = nullptr;
    QToolButton *m_back = nullptr;
    QToolButton *m_forward = nullptr;
    QLabel *m_time = nullptr;
    QToolButton *m_subtitles = nullptr;
    QToolButton *m_rate = nullptr;
    QToolButton *m_loop = nullptr;
    QToolButton *m_mute = nullptr;
    QToolButton *m_fullscreen = nullptr;
};
