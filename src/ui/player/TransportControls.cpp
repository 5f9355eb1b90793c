#include "ui/player/TransportControls.h"

#include "ui/player/ScrubberBar.h"
#include "library/L10n.h"
#include "library/Models.h"
#include "media/MPVPlayerEngine.h"
#include "media/VideoPlayerController.h"

#include <QHBoxLayout>
#include <QEvent>
#include <QFontMetricsF>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
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

// ---- PlayerSymbolButton ----

PlayerSymbolButton::PlayerSymbolButton(const QString &symbol, qreal size, Color color, QWidget *parent)
    : QToolButton(parent), m_symbol(symbol), m_size(size), m_color(std::move(color))
{
    LinearTheme::initialize();
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PlayerSymbolButton::setSymbol(const QString &name)
{
    if (m_symbol == name)
        return;
    m_symbol = name;
    update();
}

void PlayerSymbolButton::setColor(Color color)
{
    m_color = std::move(color);
    update();
}

QColor PlayerSymbolButton::currentColor() const { return m_color ? m_color(LinearPalette::of(this)) : QColor(); }

void PlayerSymbolButton::setTextLook(const QFont &font, qreal padX, qreal padY, qreal radius, Color fill)
{
    m_textLook = true;
    m_textFont = font;
    m_padX = padX;
    m_padY = padY;
    m_radius = radius;
    m_fill = std::move(fill);
    updateGeometry();
    update();
}

void PlayerSymbolButton::setFrameSide(int side)
{
    m_frameSide = side;
    updateGeometry();
}

QSize PlayerSymbolButton::sizeHint() const
{
    if (m_textLook) {
        const QFontMetricsF fm(m_textFont);
        return QSizeF(fm.horizontalAdvance(text()) + 2 * m_padX, fm.height() + 2 * m_padY).toSize() + QSize(1, 0);
    }
    const int side = std::max(m_frameSide, int(std::ceil(m_size * 1.25)) + 6);
    return {side, side};
}

void PlayerSymbolButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        p.setOpacity(0.6);
    const LinearPalette lp = LinearPalette::of(this);
    const QColor color = currentColor();
    if (m_textLook) {
        const QSizeF hint = sizeHint();
        const QRectF box((width() - hint.width()) / 2, (height() - hint.height()) / 2, hint.width(), hint.height());
        if (m_fill)
            p.fillPath(LinearTheme::roundedRect(box, m_radius), m_fill(lp));
        p.setFont(m_textFont);
        p.setPen(color);
        p.drawText(box, Qt::AlignCenter, text());
        return;
    }
    // A symbol of a point size is drawn somewhat larger than that size, as text glyphs are.
    const qreal side = m_size * 1.25;
    const QRectF glyph((width() - side) / 2, (height() - side) / 2, side, side);
    LinearTheme::drawSymbol(p, glyph, m_symbol, color);
}

namespace {
QColor labelOf(const LinearPalette &p) { return p.label(); }
QColor secondaryOf(const LinearPalette &p) { return p.secondaryLabel(); }
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
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(7);
    column->addLayout(row);

    m_play = new PlayerSymbolButton(QStringLiteral("play.fill"), 12, labelOf, this);
    m_play->setFrameSide(24);
    m_back = new PlayerSymbolButton(QStringLiteral("gobackward.10"), 11.5, secondaryOf, this);
    m_forward = new PlayerSymbolButton(QStringLiteral("goforward.10"), 11.5, secondaryOf, this);
    m_time = new QLabel(this);
    m_time->setFont(LinearTheme::font(10.5, QFont::Medium));
    m_subtitles = new PlayerSymbolButton(QStringLiteral("captions.bubble"), 11, secondaryOf, this);
    m_rate = new PlayerSymbolButton(QString(), 0, {}, this);
    m_rate->setTextLook(LinearTheme::font(10.5, QFont::DemiBold, LinearTheme::Design::monospaced), 5, 2, 4,
                        [](const LinearPalette &p) { return p.neutral(0.06, 0.045); });
    m_rate->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(m_rate);
    for (float r : playbackRates())
        menu->addAction(playbackRateLabel(r), this, [this, r] {
            if (m_controller)
                m_controller->setPlaybackRate(r);
        });
    m_rate->setMenu(menu);
    m_loop = new PlayerSymbolButton(QStringLiteral("repeat"), 11, {}, this);
    m_loop->setCheckable(true);
    m_mute = new PlayerSymbolButton(QStringLiteral("speaker.wave.2.fill"), 11, secondaryOf, this);
    m_fullscreen = new PlayerSymbolButton(QStringLiteral("arrow.up.left.and.arrow.down.right"), 10.5, secondaryOf, this);
    setLanguage(AppLanguage::en);

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

void TransportControls::setLanguage(AppLanguage language)
{
    m_fullscreen->setToolTip(L10n::text(QStringLiteral("inspector.fullscreen"), language));
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

void TransportControls::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

void TransportControls::refresh()
{
    const LinearPalette lp = LinearPalette::of(this);
    QPalette timePal = m_time->palette();
    timePal.setColor(QPalette::WindowText, lp.secondaryLabel());
    m_time->setPalette(timePal);
    if (!m_controller)
        return;
    const VideoPlayerController &c = *m_controller;
    const double shown = shownDuration();
    m_scrubber->setCurrentTime(c.currentTime());
    m_scrubber->setDuration(shown);
    m_time->setText(formatDuration(c.currentTime()) + QStringLiteral(" / ") + formatDuration(shown));
    m_play->setSymbol(c.isPlaying() ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"));
    m_subtitles->setVisible(c.isUsingMPV());
    const float rate = c.playbackRate();
    if (m_rate->text() != playbackRateLabel(rate)) {
        m_rate->setText(playbackRateLabel(rate));
        m_rate->updateGeometry();
    }
    m_rate->setColor([rate](const LinearPalette &p) { return rate != 1.0f ? p.accent() : p.secondaryLabel(); });
    const bool looping = c.isLooping();
    m_loop->setChecked(looping);
    m_loop->setColor([looping](const LinearPalette &p) { return looping ? p.accent() : p.tertiaryLabel(); });
    const bool muted = c.isMuted();
    m_mute->setSymbol(muted ? QStringLiteral("speaker.slash.fill") : QStringLiteral("speaker.wave.2.fill"));
    m_mute->setColor([muted](const LinearPalette &p) { return muted ? p.systemRed() : p.secondaryLabel(); });
}
