#include "ui/player/FullscreenPlayerWindow.h"

#include "ui/player/PlayerSurfaces.h"
#include "ui/player/ScrubberBar.h"
#include "ui/player/TransportControls.h"
#include "ui/inspector/InspectorWidgets.h"
#include "ui/EngineNames.h"
#include "ui/LinearTheme.h"
#include "media/MPVPlayerEngine.h"
#include "media/VideoPlayerController.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

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
QColor whiteAt(double a) { return QColor::fromRgbF(1, 1, 1, float(a)); }
QColor blackAt(double a) { return QColor::fromRgbF(0, 0, 0, float(a)); }

PlayerSymbolButton::Color fixed(const QColor &c)
{
    return [c](const LinearPalette &) { return c; };
}

// The top bar's shade: black at 0.7 fading to clear.
class TopShade : public QWidget {
public:
    explicit TopShade(QWidget *parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        QLinearGradient g(0, 0, 0, height());
        g.setColorAt(0, blackAt(0.7));
        g.setColorAt(1, blackAt(0));
        p.fillRect(rect(), g);
    }
};

// The control panel's rounded dark plate.
class HUDPanel : public QWidget {
public:
    explicit HUDPanel(QWidget *parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QPainterPath shape = LinearTheme::roundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14);
        p.fillPath(shape, blackAt(0.72));
        p.setPen(QPen(whiteAt(0.16), 0.75));
        p.drawPath(shape);
    }
};

// Text in white on a capsule (the engine badge).
class CapsuleLabel : public QLabel {
public:
    CapsuleLabel(const QFont &font, QWidget *parent) : QLabel(parent)
    {
        setFont(font);
        setContentsMargins(6, 2, 6, 2);
        QPalette pal = palette();
        pal.setColor(QPalette::WindowText, whiteAt(0.9));
        setPalette(pal);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        {
            QPainter p(this);
            p.setRenderHint(QPainter::Antialiasing);
            const qreal r = height() / 2.0;
            p.setPen(Qt::NoPen);
            p.setBrush(whiteAt(0.18));
            p.drawRoundedRect(QRectF(rect()), r, r);
        }
        QLabel::paintEvent(event);
    }
};

// "Exit Full Screen" with its symbol and an ESC key cap, on a translucent capsule.
class ExitButton : public QAbstractButton {
public:
    explicit ExitButton(const QString &title, QWidget *parent) : QAbstractButton(parent)
    {
        setText(title);
        setFont(LinearTheme::font(12, QFont::DemiBold));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF fm(font());
        const QFontMetricsF km(keyFont());
        const qreal w = 12 + 12 + 6 + fm.horizontalAdvance(text()) + 6 + km.horizontalAdvance(key()) + 10 + 12;
        const qreal h = std::max(fm.height(), km.height() + 4) + 14;
        return QSizeF(std::ceil(w), std::ceil(h)).toSize();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (isDown())
            p.setOpacity(0.7);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = r.height() / 2;
        // A light veil stands in for the thin material.
        p.setBrush(whiteAt(0.16));
        p.setPen(QPen(whiteAt(0.2), 0.75));
        p.drawRoundedRect(r, radius, radius);
        qreal x = 12;
        const qreal cy = height() / 2.0;
        LinearTheme::drawSymbol(p, QRectF(x, cy - 6, 12, 12), QStringLiteral("arrow.down.right.and.arrow.up.left"),
                                Qt::white);
        x += 12 + 6;
        const QFontMetricsF fm(font());
        const qreal tw = fm.horizontalAdvance(text());
        p.setFont(font());
        p.setPen(Qt::white);
        p.drawText(QRectF(x, 0, tw + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
        x += tw + 6;
        const QFontMetricsF km(keyFont());
        const QRectF cap(x, cy - (km.height() + 4) / 2, km.horizontalAdvance(key()) + 10, km.height() + 4);
        p.setPen(Qt::NoPen);
        p.setBrush(whiteAt(0.16));
        p.drawRoundedRect(cap, 4, 4);
        p.setFont(keyFont());
        p.setPen(whiteAt(0.75));
        p.drawText(cap, Qt::AlignCenter, key());
    }

private:
    static QString key() { return QStringLiteral("ESC"); }
    static QFont keyFont() { return LinearTheme::font(9.5, QFont::DemiBold, LinearTheme::Design::monospaced); }
};

QLabel *whiteLabel(const QString &text, const QFont &font, double opacity, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setFont(font);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, whiteAt(opacity));
    l->setPalette(pal);
    return l;
}
} // namespace

FullscreenPlayerOverlay::FullscreenPlayerOverlay(const VideoFile &video, VideoPlayerController *controller,
                                                 AppLanguage language, const QList<double> &markers,
                                                 std::function<void()> onExit, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    LinearTheme::initialize();
    initInspectorIcons();
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

    m_topBar = new TopShade(this);
    auto *top = new QHBoxLayout(m_topBar);
    top->setContentsMargins(28, 24, 28, 18);
    top->setSpacing(12);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(whiteLabel(video.name, LinearTheme::font(14, QFont::DemiBold), 1.0, m_topBar));
    auto *subline = new QHBoxLayout;
    subline->setSpacing(6);
    auto *badge = new CapsuleLabel(LinearTheme::font(10, QFont::DemiBold, LinearTheme::Design::monospaced), m_topBar);
    badge->setObjectName(QStringLiteral("engineBadge"));
    auto updateBadge = [badge, controller] {
        badge->setText(playerEngineName(controller->isUsingMPV()));
    };
    updateBadge();
    connect(controller, &VideoPlayerController::isUsingMPVChanged, badge, updateBadge);
    subline->addWidget(badge);
    auto *path = whiteLabel(QString(), LinearTheme::font(11, QFont::Normal, LinearTheme::Design::monospaced), 0.65,
                            m_topBar);
    // Long folder paths lose their beginning, not their end.
    path->setText(path->fontMetrics().elidedText(video.directoryPath, Qt::ElideLeft, 900));
    subline->addWidget(path);
    subline->addStretch();
    titles->addLayout(subline);
    top->addLayout(titles);
    top->addStretch();
    auto *exitButton = new ExitButton(L10n::text(QStringLiteral("inspector.exitFullscreen"), language), m_topBar);
    exitButton->setObjectName(QStringLiteral("exitFullscreenButton"));
    connect(exitButton, &QAbstractButton::clicked, this, [onExit] { onExit(); });
    top->addWidget(exitButton, 0, Qt::AlignTop);
    hud->addWidget(m_topBar);
    hud->addStretch();

    m_panel = new HUDPanel(this);
    m_panel->setObjectName(QStringLiteral("hudPanel"));
    m_panel->setMaximumWidth(780);
    // The panel is dark whatever the scheme: its scrubber draws its dark look.
    QPalette dark = LinearTheme::palette(ColorScheme::dark);
    m_panel->setPalette(dark);
    auto *panel = new QVBoxLayout(m_panel);
    panel->setContentsMargins(20, 14, 20, 14);
    panel->setSpacing(10);
    auto *scrubber = new ScrubberBar(m_panel);
    scrubber->setMarkers(markers);
    panel->addWidget(scrubber);
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    panel->addLayout(row);
    auto *play = new PlayerSymbolButton(QStringLiteral("play.fill"), 16, fixed(Qt::white), m_panel);
    play->setFrameSide(30);
    auto *back = new PlayerSymbolButton(QStringLiteral("gobackward.10"), 14, fixed(whiteAt(0.85)), m_panel);
    auto *forward = new PlayerSymbolButton(QStringLiteral("goforward.10"), 14, fixed(whiteAt(0.85)), m_panel);
    auto *time = whiteLabel(QString(), LinearTheme::font(12.5, QFont::Medium), 0.85, m_panel);
    auto *subs = new PlayerSymbolButton(QStringLiteral("captions.bubble"), 13, fixed(whiteAt(0.85)), m_panel);
    auto *audio = new PlayerSymbolButton(QStringLiteral("waveform"), 13, fixed(whiteAt(0.85)), m_panel);
    auto *rate = new PlayerSymbolButton(QString(), 0, fixed(Qt::white), m_panel);
    rate->setTextLook(LinearTheme::font(11.5, QFont::DemiBold, LinearTheme::Design::monospaced), 7, 3, 5,
                      fixed(whiteAt(0.14)));
    rate->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(rate);
    for (float r : playbackRates())
        menu->addAction(playbackRateLabel(r), this, [this, r] {
            if (m_controller)
                m_controller->setPlaybackRate(r);
        });
    rate->setMenu(menu);
    auto *loop = new PlayerSymbolButton(QStringLiteral("repeat"), 13, {}, m_panel);
    auto *mute = new PlayerSymbolButton(QStringLiteral("speaker.wave.2.fill"), 13, {}, m_panel);
    auto *volume = new QSlider(Qt::Horizontal, m_panel);
    volume->setRange(0, 100);
    volume->setFixedWidth(84);
    volume->setFocusPolicy(Qt::NoFocus);
    {
        QPalette vp = dark;
        vp.setColor(QPalette::Highlight, LinearPalette(ColorScheme::dark).accent());
        volume->setPalette(vp);
    }
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
        play->setSymbol(c.isPlaying() ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"));
        subs->setVisible(c.isUsingMPV());
        audio->setVisible(c.isUsingMPV());
        if (rate->text() != playbackRateLabel(c.playbackRate())) {
            rate->setText(playbackRateLabel(c.playbackRate()));
            rate->updateGeometry();
        }
        loop->setColor(c.isLooping() ? PlayerSymbolButton::Color([](const LinearPalette &p) { return p.accent(); })
                                     : fixed(whiteAt(0.65)));
        mute->setSymbol(c.isMuted() ? QStringLiteral("speaker.slash.fill") : QStringLiteral("speaker.wave.2.fill"));
        mute->setColor(c.isMuted() ? PlayerSymbolButton::Color([](const LinearPalette &p) { return p.systemRed(); })
                                   : fixed(whiteAt(0.85)));
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
