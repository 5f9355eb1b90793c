#include "TransportControls.h"

#include "ScrubberBar.h"
#include "library/L10n.h"
#include "library/Models.h"
#include "media/MPVPlayerEngine.h"
#include "media/VideoPlayerController.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <cmath>

const QList<float> &playbackRates()
{
    static const QList<float> rates{0.5f, 1.0f, 1.25f, 1.5f, 2.0f};
    return rates;
}

QString playbackRateLabel(float rate)
{
    // Two significant digits rounded the way printf's %.2g does (1.25 reads 1.2), and
    // never with the locale's decimal comma.
    const double r = rate;
    char buf[32];
    const auto res = std::floor(r) == r ? std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed, 0)
                                        : std::to_chars(buf, buf + sizeof buf, r, std::chars_format::general, 2);
    return QString::fromLatin1(buf, int(res.ptr - buf)) + QStringLiteral("×");
}

namespace {
QToolButton *iconButton(QWidget *parent, const QString &icon, const QString &fallbackText)
{
    auto *b = new QToolButton(parent);
    b->setAutoRaise(true);
    b->setIcon(QIcon::fromTheme(icon));
    if (b->icon().isNull())
        b->setText(fallbackText);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}
} // namespace

TransportControls::TransportControls(VideoPlayerController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    m_scrubber = new ScrubberBar(this);
    column->addWidget(m_scrubber);
    auto *row = new QHBoxLayout;
    row->setSpacing(7);
    column->addLayout(row);

    m_play = iconButton(this, QStringLiteral("media-playback-start"), QStringLiteral("▶"));
    m_back = iconButton(this, QStringLiteral("media-seek-backward"), QStringLiteral("−10"));
    m_forward = iconButton(this, QStringLiteral("media-seek-forward"), QStringLiteral("+10"));
    m_time = new QLabel(this);
    QFont mono = m_time->font();
    mono.setPointSizeF(10.5);
    mono.setStyleHint(QFont::Monospace);
    m_time->setFont(mono);
    m_time->setForegroundRole(QPalette::PlaceholderText);
    m_subtitles = iconButton(this, QStringLiteral("media-view-subtitles-symbolic"), QStringLiteral("CC"));
    m_rate = new QToolButton(this);
    m_rate->setAutoRaise(true);
    m_rate->setPopupMode(QToolButton::InstantPopup);
    m_rate->setFocusPolicy(Qt::NoFocus);
    auto *menu = new QMenu(m_rate);
    for (float r : playbackRates())
        menu->addAction(playbackRateLabel(r), this, [this, r] {
            if (m_controller)
                m_controller->setPlaybackRate(r);
        });
    m_rate->setMenu(menu);
    m_loop = iconButton(this, QStringLiteral("media-playlist-repeat"), QStringLiteral("⟳"));
    m_loop->setCheckable(true);
    m_mute = iconButton(this, QStringLiteral("audio-volume-high"), QStringLiteral("🔊"));
    m_fullscreen = iconButton(this, QStringLiteral("view-fullscreen"), QStringLiteral("⛶"));
    m_fullscreen->setToolTip(L10n::text(QStringLiteral("inspector.fullscreen")));

    row->addWidget(m_play);
    row->addWidget(m_back);
    row->addWidget(m_forward);
    row->addWidget(m_time);
    row->addStretch();
    row->addWidget(m_subtitles);
    row->addWidget(m_rate);
    row->addWidget(m_loop);
    row->addWidget(m_mute);
    row->addWidget(m_fullscreen);

    connect(m_scrubber, &ScrubberBar::seekRequested, this, [this](double t) {
        if (m_controller)
            m_controller->seek(t);
    });
    connect(m_play, &QToolButton::clicked, this, [this] {
        if (!m_controller)
            return;
        m_controller->isPlaying() ? m_controller->pause() : m_controller->play();
    });
    connect(m_back, &QToolButton::clicked, this, [this] {
        if (m_controller)
            m_controller->seek(m_controller->currentTime() - 10);
    });
    connect(m_forward, &QToolButton::clicked, this, [this] {
        if (m_controller)
            m_controller->seek(m_controller->currentTime() + 10);
    });
    connect(m_subtitles, &QToolButton::clicked, this, [this] {
        if (m_controller && m_controller->mpvEngine())
            m_controller->mpvEngine()->command({QStringLiteral("cycle"), QStringLiteral("sub")});
    });
    connect(m_loop, &QToolButton::clicked, this, [this] {
        if (m_controller)
            m_controller->setLooping(!m_controller->isLooping());
    });
    connect(m_mute, &QToolButton::clicked, this, [this] {
        if (m_controller)
            m_controller->toggleMute();
    });
    connect(m_fullscreen, &QToolButton::clicked, this, &TransportControls::fullscreenRequested);

    for (auto signal : {&VideoPlayerController::isPlayingChanged, &VideoPlayerController::isMutedChanged,
                        &VideoPlayerController::isUsingMPVChanged, &VideoPlayerController::isLoopingChanged})
        connect(controller, signal, this, &TransportControls::refresh);
    connect(controller, &VideoPlayerController::currentTimeChanged, this, &TransportControls::refresh);
    connect(controller, &VideoPlayerController::durationChanged, this, &TransportControls::refresh);
    connect(controller, &VideoPlayerController::playbackRateChanged, this, &TransportControls::refresh);
    refresh();
}

void TransportControls::setFallbackDuration(double seconds)
{
    m_fallbackDuration = std::isfinite(seconds) ? seconds : 0;
    refresh();
}

void TransportControls::setMarkers(const QList<double> &markers) { m_scrubber->setMarkers(markers); }

double TransportControls::shownDuration() const
{
    return std::max(m_controller ? m_controller->duration() : 0.0, m_fallbackDuration);
}

void TransportControls::refresh()
{
    if (!m_controller)
        return;
    const VideoPlayerController &c = *m_controller;
    const double shown = shownDuration();
    m_scrubber->setCurrentTime(c.currentTime());
    m_scrubber->setDuration(shown);
    m_time->setText(formatDuration(c.currentTime()) + QStringLiteral(" / ") + formatDuration(shown));
    const bool playing = c.isPlaying();
    m_play->setIcon(QIcon::fromTheme(playing ? QStringLiteral("media-playback-pause")
                                             : QStringLiteral("media-playback-start")));
    if (m_play->icon().isNull())
        m_play->setText(playing ? QStringLiteral("❚❚") : QStringLiteral("▶"));
    m_play->setToolTip(playing ? QStringLiteral("pause") : QStringLiteral("play"));
    m_subtitles->setVisible(c.isUsingMPV());
    m_rate->setText(playbackRateLabel(c.playbackRate()));
    QPalette ratePal = m_rate->palette();
    ratePal.setColor(QPalette::ButtonText, c.playbackRate() != 1.0f ? palette().color(QPalette::Highlight)
                                                                    : palette().color(QPalette::PlaceholderText));
    m_rate->setPalette(ratePal);
    m_loop->setChecked(c.isLooping());
    const bool muted = c.isMuted();
    m_mute->setIcon(QIcon::fromTheme(muted ? QStringLiteral("audio-volume-muted")
                                           : QStringLiteral("audio-volume-high")));
    if (m_mute->icon().isNull())
        m_mute->setText(muted ? QStringLiteral("🔇") : QStringLiteral("🔊"));
    m_mute->setToolTip(muted ? QStringLiteral("muted") : QStringLiteral("sound"));
}
