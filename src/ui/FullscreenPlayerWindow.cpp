#include "FullscreenPlayerWindow.h"

#include "PlayerSurfaces.h"
#include "ScrubberBar.h"
#include "TransportControls.h"
#include "media/MPVPlayerEngine.h"
#include "media/VideoPlayerController.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

FullscreenPlayerWindowManager &FullscreenPlayerWindowManager::shared()
{
    static FullscreenPlayerWindowManager *instance = new FullscreenPlayerWindowManager;
    return *instance;
}

void FullscreenPlayerWindowManager::present(const VideoFile &video, VideoPlayerController *controller,
                                            AppLanguage language, const QList<double> &markers,
                                            std::function<void()> onDismiss)
{
    dismiss(false);
    m_onDismiss = std::move(onDismiss);
    m_controller = controller;

    QScreen *screen = nullptr;
    if (QWidget *active = QApplication::activeWindow())
        screen = active->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();

    auto *window = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(QStringLiteral("fullscreenPlayerWindow"));
    QPalette pal = window->palette();
    pal.setColor(QPalette::Window, Qt::black);
    window->setPalette(pal);
    window->setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto exit = [] { FullscreenPlayerWindowManager::shared().dismiss(true); };
    layout->addWidget(new FullscreenPlayerOverlay(video, controller, language, markers, exit, window));
    window->setGeometry(screen ? screen->geometry() : QRect(0, 0, 1440, 900));
    m_window = window;

    if (!m_filterInstalled) {
        qApp->installEventFilter(this);
        m_filterInstalled = true;
    }
    window->showFullScreen();
    window->raise();
    window->activateWindow();
}

void FullscreenPlayerWindowManager::dismiss(bool notify)
{
    if (!m_window)
        return;
    QWidget *window = m_window;
    m_window = nullptr;
    window->hide();
    delete window; // tears the overlay and its surface down now
    std::function<void()> onDismiss = std::move(m_onDismiss);
    m_onDismiss = nullptr;
    if (notify && onDismiss)
        onDismiss();
}

bool FullscreenPlayerWindowManager::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !m_window)
        return false;
    // Only keys meant for the full-screen window; other windows keep theirs.
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != m_window)
        return false;
    return handleKeyPress(static_cast<QKeyEvent *>(event));
}

bool FullscreenPlayerWindowManager::handleKeyPress(QKeyEvent *event)
{
    if (!m_window)
        return false;
    const Qt::KeyboardModifiers blocking = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    switch (event->key()) {
    case Qt::Key_Escape:
        dismiss(true);
        return true;
    case Qt::Key_F:
        if (event->modifiers() & blocking)
            return false;
        dismiss(true);
        return true;
    case Qt::Key_Space:
        if (m_controller)
            m_controller->isPlaying() ? m_controller->pause() : m_controller->play();
        return true;
    case Qt::Key_Left:
        if (m_controller)
            m_controller->seek(m_controller->currentTime() - 10);
        return true;
    case Qt::Key_Right:
        if (m_controller)
            m_controller->seek(m_controller->currentTime() + 10);
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------- overlay

namespace {
QToolButton *hudButton(QWidget *parent, const QString &icon, const QString &text)
{
    auto *b = new QToolButton(parent);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setIcon(QIcon::fromTheme(icon));
    if (b->icon().isNull())
        b->setText(text);
    b->setStyleSheet(QStringLiteral("QToolButton { color: rgba(255,255,255,217); border: none; }"));
    return b;
}
} // namespace

FullscreenPlayerOverlay::FullscreenPlayerOverlay(const VideoFile &video, VideoPlayerController *controller,
                                                 AppLanguage language, const QList<double> &markers,
                                                 std::function<void()> onExit, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    setMouseTracking(true);
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    m_surface = new UnifiedVideoSurface(controller, this);
    m_surface->setMouseTracking(true);
    m_surface->installEventFilter(this);
    grid->addWidget(m_surface, 0, 0);
    connect(m_surface, &UnifiedVideoSurface::doubleClicked, this, [onExit] { onExit(); });
    connect(m_surface, &UnifiedVideoSurface::clicked, this, &FullscreenPlayerOverlay::togglePlayPause);

    auto *hud = new QVBoxLayout;
    hud->setContentsMargins(0, 0, 0, 0);
    grid->addLayout(hud, 0, 0);

    m_topBar = new QWidget(this);
    m_topBar->setAttribute(Qt::WA_StyledBackground);
    m_topBar->setStyleSheet(QStringLiteral(
        "background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgba(0,0,0,179), stop:1 rgba(0,0,0,0));"));
    auto *top = new QHBoxLayout(m_topBar);
    top->setContentsMargins(28, 24, 28, 18);
    top->setSpacing(12);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto *name = new QLabel(video.name, m_topBar);
    name->setStyleSheet(QStringLiteral("color: white; font-weight: 600; font-size: 14pt; background: transparent;"));
    titles->addWidget(name);
    auto *subline = new QHBoxLayout;
    subline->setSpacing(6);
    auto *badge = new QLabel(m_topBar);
    badge->setStyleSheet(QStringLiteral("color: rgba(255,255,255,230); background: rgba(255,255,255,46);"
                                        " border-radius: 7px; padding: 2px 6px; font: 600 10pt monospace;"));
    auto updateBadge = [badge, controller] {
        badge->setText(controller->isUsingMPV() ? QStringLiteral("MPV Universal") : QStringLiteral("AVFoundation"));
    };
    updateBadge();
    connect(controller, &VideoPlayerController::isUsingMPVChanged, badge, updateBadge);
    subline->addWidget(badge);
    auto *path = new QLabel(video.directoryPath, m_topBar);
    path->setStyleSheet(QStringLiteral("color: rgba(255,255,255,166); font: 11pt monospace; background: transparent;"));
    subline->addWidget(path);
    subline->addStretch();
    titles->addLayout(subline);
    top->addLayout(titles);
    top->addStretch();
    auto *exitButton = new QPushButton(L10n::text(QStringLiteral("inspector.exitFullscreen"), language)
                                           + QStringLiteral("  ESC"),
                                       m_topBar);
    exitButton->setObjectName(QStringLiteral("exitFullscreenButton"));
    exitButton->setFocusPolicy(Qt::NoFocus);
    exitButton->setStyleSheet(QStringLiteral("QPushButton { color: white; font-weight: 600; padding: 7px 12px;"
                                             " border-radius: 15px; background: rgba(255,255,255,40);"
                                             " border: 0.75px solid rgba(255,255,255,51); }"));
    connect(exitButton, &QPushButton::clicked, this, [onExit] { onExit(); });
    top->addWidget(exitButton);
    hud->addWidget(m_topBar);
    hud->addStretch();

    m_panel = new QWidget(this);
    m_panel->setObjectName(QStringLiteral("hudPanel"));
    m_panel->setAttribute(Qt::WA_StyledBackground);
    m_panel->setStyleSheet(QStringLiteral("QWidget#hudPanel { background: rgba(0,0,0,184); border-radius: 14px;"
                                          " border: 0.75px solid rgba(255,255,255,41); }"
                                          " QLabel { color: rgba(255,255,255,217); }"));
    m_panel->setMaximumWidth(780);
    auto *panel = new QVBoxLayout(m_panel);
    panel->setContentsMargins(20, 14, 20, 14);
    panel->setSpacing(10);
    auto *scrubber = new ScrubberBar(m_panel);
    scrubber->setMarkers(markers);
    panel->addWidget(scrubber);
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    panel->addLayout(row);
    auto *play = hudButton(m_panel, QStringLiteral("media-playback-start"), QStringLiteral("▶"));
    auto *back = hudButton(m_panel, QStringLiteral("media-seek-backward"), QStringLiteral("−10"));
    auto *forward = hudButton(m_panel, QStringLiteral("media-seek-forward"), QStringLiteral("+10"));
    auto *time = new QLabel(m_panel);
    auto *subs = hudButton(m_panel, QStringLiteral("media-view-subtitles-symbolic"), QStringLiteral("CC"));
    auto *audio = hudButton(m_panel, QStringLiteral("audio-x-generic"), QStringLiteral("♪"));
    auto *rate = hudButton(m_panel, QString(), QString());
    rate->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(rate);
    for (float r : playbackRates())
        menu->addAction(playbackRateLabel(r), this, [this, r] {
            if (m_controller)
                m_controller->setPlaybackRate(r);
        });
    rate->setMenu(menu);
    auto *loop = hudButton(m_panel, QStringLiteral("media-playlist-repeat"), QStringLiteral("⟳"));
    auto *mute = hudButton(m_panel, QStringLiteral("audio-volume-high"), QStringLiteral("🔊"));
    auto *volume = new QSlider(Qt::Horizontal, m_panel);
    volume->setRange(0, 100);
    volume->setFixedWidth(84);
    volume->setFocusPolicy(Qt::NoFocus);
    for (QWidget *w : {static_cast<QWidget *>(play), static_cast<QWidget *>(back), static_cast<QWidget *>(forward),
                       static_cast<QWidget *>(time)})
        row->addWidget(w);
    row->addStretch();
    for (QWidget *w : {static_cast<QWidget *>(subs), static_cast<QWidget *>(audio), static_cast<QWidget *>(rate),
                       static_cast<QWidget *>(loop), static_cast<QWidget *>(mute), static_cast<QWidget *>(volume)})
        row->addWidget(w);
    auto *panelRow = new QHBoxLayout;
    panelRow->setContentsMargins(24, 0, 24, 28);
    panelRow->addStretch();
    panelRow->addWidget(m_panel, 1);
    panelRow->addStretch();
    hud->addLayout(panelRow);

    connect(scrubber, &ScrubberBar::seekRequested, this, [this](double t) {
        if (m_controller)
            m_controller->seek(t);
        revealHUD();
    });
    connect(play, &QToolButton::clicked, this, &FullscreenPlayerOverlay::togglePlayPause);
    connect(back, &QToolButton::clicked, this, [this] {
        if (m_controller)
            m_controller->seek(m_controller->currentTime() - 10);
        revealHUD();
    });
    connect(forward, &QToolButton::clicked, this, [this] {
        if (m_controller)
            m_controller->seek(m_controller->currentTime() + 10);
        revealHUD();
    });
    auto cycle = [this](const char *what) {
        if (m_controller && m_controller->mpvEngine())
            m_controller->mpvEngine()->command({QStringLiteral("cycle"), QString::fromLatin1(what)});
    };
    connect(subs, &QToolButton::clicked, this, [cycle] { cycle("sub"); });
    connect(audio, &QToolButton::clicked, this, [cycle] { cycle("audio"); });
    connect(loop, &QToolButton::clicked, this, [this] {
        if (m_controller)
            m_controller->setLooping(!m_controller->isLooping());
    });
    connect(mute, &QToolButton::clicked, this, [this] {
        if (m_controller)
            m_controller->toggleMute();
    });
    connect(volume, &QSlider::valueChanged, this, [this](int v) {
        if (m_controller)
            m_controller->setVolume(v / 100.0f);
    });

    auto refresh = [=, this] {
        if (!m_controller)
            return;
        const VideoPlayerController &c = *m_controller;
        scrubber->setCurrentTime(c.currentTime());
        scrubber->setDuration(c.duration());
        time->setText(formatDuration(c.currentTime()) + QStringLiteral(" / ") + formatDuration(c.duration()));
        play->setIcon(QIcon::fromTheme(c.isPlaying() ? QStringLiteral("media-playback-pause")
                                                     : QStringLiteral("media-playback-start")));
        if (play->icon().isNull())
            play->setText(c.isPlaying() ? QStringLiteral("❚❚") : QStringLiteral("▶"));
        subs->setVisible(c.isUsingMPV());
        audio->setVisible(c.isUsingMPV());
        rate->setText(playbackRateLabel(c.playbackRate()));
        loop->setStyleSheet(c.isLooping() ? QStringLiteral("QToolButton { color: palette(highlight); border: none; }")
                                          : QStringLiteral("QToolButton { color: rgba(255,255,255,166); border: none; }"));
        mute->setIcon(QIcon::fromTheme(c.isMuted() ? QStringLiteral("audio-volume-muted")
                                                   : QStringLiteral("audio-volume-high")));
        const QSignalBlocker block(volume);
        volume->setValue(c.isMuted() ? 0 : int(std::lround(c.volume() * 100)));
    };
    for (auto signal : {&VideoPlayerController::isPlayingChanged, &VideoPlayerController::isMutedChanged,
                        &VideoPlayerController::isUsingMPVChanged, &VideoPlayerController::isLoopingChanged})
        connect(controller, signal, this, refresh);
    connect(controller, &VideoPlayerController::currentTimeChanged, this, refresh);
    connect(controller, &VideoPlayerController::durationChanged, this, refresh);
    connect(controller, &VideoPlayerController::playbackRateChanged, this, refresh);
    connect(controller, &VideoPlayerController::volumeChanged, this, refresh);
    refresh();

    m_hideTimer = new QTimer(this);
    m_hideTimer->setSingleShot(true);
    m_hideTimer->setInterval(3000);
    connect(m_hideTimer, &QTimer::timeout, this, [this] {
        // While paused the HUD stays until playback resumes and a later reveal times out.
        if (m_controller && m_controller->isPlaying())
            setHUDShown(false);
    });
    revealHUD();
}

void FullscreenPlayerOverlay::setHUDShown(bool shown)
{
    m_showHUD = shown;
    m_topBar->setVisible(shown);
    m_panel->setVisible(shown);
}

void FullscreenPlayerOverlay::revealHUD()
{
    setHUDShown(true);
    m_hideTimer->start();
}

void FullscreenPlayerOverlay::togglePlayPause()
{
    if (m_controller)
        m_controller->isPlaying() ? m_controller->pause() : m_controller->play();
    revealHUD();
}

void FullscreenPlayerOverlay::mouseMoveEvent(QMouseEvent *event)
{
    QWidget::mouseMoveEvent(event);
    revealHUD();
}

bool FullscreenPlayerOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_surface && event->type() == QEvent::MouseMove)
        revealHUD();
    return QWidget::eventFilter(watched, event);
}
