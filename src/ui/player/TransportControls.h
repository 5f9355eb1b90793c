#pragma once

#include "library/L10n.h"
#include "ui/LinearTheme.h"

#include <QFont>
#include <QList>
#include <QPointer>
#include <QString>
#include <QToolButton>
#include <QWidget>

#include <functional>

class QLabel;
class ScrubberBar;
class VideoPlayerController;

// The speeds offered by every rate menu, in menu order.
const QList<float> &playbackRates();
// "0.5×", "1×", "1.2×" (for 1.25), "1.5×", "2×".
QString playbackRateLabel(float rate);

// A flat player button that draws one symbol, or a short text on a rounded fill (the rate
// label), in colours of the scheme it is drawn in. Dimmed while pressed.
class PlayerSymbolButton : public QToolButton {
    Q_OBJECT
public:
    using Color = std::function<QColor(const LinearPalette &)>;
    PlayerSymbolButton(const QString &symbol, qreal size, Color color, QWidget *parent = nullptr);

    void setSymbol(const QString &name);
    QString symbol() const { return m_symbol; }
    void setColor(Color color);
    // The colour the button draws with now.
    QColor currentColor() const;
    // Text instead of a symbol, padded on a rounded fill.
    void setTextLook(const QFont &font, qreal padX, qreal padY, qreal radius, Color fill);
    // A fixed square frame larger than the symbol (the play button).
    void setFrameSide(int side);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    qreal m_size;
    Color m_color;
    Color m_fill;
    QFont m_textFont;
    qreal m_padX = 0, m_padY = 0, m_radius = 0;
    bool m_textLook = false;
    int m_frameSide = 0;
};

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
    void setLanguage(AppLanguage language);
    double shownDuration() const;

    ScrubberBar *scrubber() const { return m_scrubber; }
    PlayerSymbolButton *playButton() const { return m_play; }
    PlayerSymbolButton *backButton() const { return m_back; }
    PlayerSymbolButton *forwardButton() const { return m_forward; }
    PlayerSymbolButton *subtitleButton() const { return m_subtitles; }
    PlayerSymbolButton *rateButton() const { return m_rate; }
    PlayerSymbolButton *loopButton() const { return m_loop; }
    PlayerSymbolButton *muteButton() const { return m_mute; }
    PlayerSymbolButton *fullscreenButton() const { return m_fullscreen; }
    QLabel *timeLabel() const { return m_time; }

signals:
    void fullscreenRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    QPointer<VideoPlayerController> m_controller;
    double m_fallbackDuration = 0;
    ScrubberBar *m_scrubber = nullptr;
    PlayerSymbolButton *m_play = nullptr;
    PlayerSymbolButton *m_back = nullptr;
    PlayerSymbolButton *m_forward = nullptr;
    QLabel *m_time = nullptr;
    PlayerSymbolButton *m_subtitles = nullptr;
    PlayerSymbolButton *m_rate = nullptr;
    PlayerSymbolButton *m_loop = nullptr;
    PlayerSymbolButton *m_mute = nullptr;
    PlayerSymbolButton *m_fullscreen = nullptr;
};
