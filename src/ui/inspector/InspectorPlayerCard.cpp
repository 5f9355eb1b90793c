#include "ui/inspector/InspectorPlayerCard.h"

#include "library/Models.h"
#include "media/LibMPVLibrary.h"
#include "media/VideoPlayerController.h"
#include "ui/inspector/InspectorWidgets.h"
#include "ui/LinearTheme.h"
#include "ui/player/PlayerSurfaces.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace {
constexpr qreal kCardRadius = 9;

QColor whiteAt(double a) { return QColor::fromRgbF(1, 1, 1, float(a)); }

// Rounds the card's corners over whatever is drawn below (the libmpv picture is drawn by
// OpenGL and cannot be clipped) and draws the card's outline.
class RoundedFrame : public QWidget {
public:
    explicit RoundedFrame(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QPainterPath card = LinearTheme::roundedRect(r, kCardRadius);
        QPainterPath outside;
        outside.addRect(QRectF(rect()));
        const QWidget *host = parentWidget() && parentWidget()->parentWidget() ? parentWidget()->parentWidget()
                                                                                : parentWidget();
        p.fillPath(outside.subtracted(card), host ? host->palette().color(QPalette::Window) : Qt::black);
        p.setPen(QPen(LinearPalette::of(this).separator(), 0.75));
        p.drawPath(card);
    }
};

class BlackArea : public QWidget {
public:
    explicit BlackArea(QWidget *parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Qt::black); }
};

// The video surface fills it; the play button sits in its centre, above the surface, so
// clicks beside the button still reach the picture.
class PictureArea : public QWidget {
public:
    explicit PictureArea(QWidget *parent) : QWidget(parent) {}
    QWidget *surface = nullptr;
    QWidget *overlay = nullptr;

protected:
    void resizeEvent(QResizeEvent *) override
    {
        if (surface) surface->setGeometry(rect());
        if (overlay) {
            overlay->move((width() - overlay->width()) / 2, (height() - overlay->height()) / 2);
            overlay->raise();
        }
    }
};

class ControlsArea : public QWidget {
public:
    explicit ControlsArea(QWidget *parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), palette().color(QPalette::Base)); }
};
} // namespace

// ---- PlayOverlayButton ----

PlayOverlayButton::PlayOverlayButton(QWidget *parent) : QWidget(parent)
{
    initInspectorIcons();
    setFixedSize(48, 48);
    setCursor(Qt::PointingHandCursor);
}

void PlayOverlayButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    // A light translucent disc stands in for the thin material.
    p.setBrush(QColor::fromRgbF(0.35, 0.35, 0.38, 0.55f));
    p.setPen(QPen(whiteAt(0.24), 0.75));
    p.drawEllipse(r);
    const QRectF glyph(r.center().x() - 9 + 1.5, r.center().y() - 9, 18, 18);
    LinearTheme::drawSymbol(p, glyph, "play.fill", Qt::white);
}

void PlayOverlayButton::mousePressEvent(QMouseEvent *event) { event->accept(); }

void PlayOverlayButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

// ---- CannotPlayPlaceholder ----

CannotPlayPlaceholder::CannotPlayPlaceholder(QWidget *parent) : QWidget(parent)
{
    initInspectorIcons();
    auto *v = new QVBoxLayout(this);
    v->setSpacing(10);
    v->addStretch(1);
    v->addWidget(new SymbolView("play.slash.fill", 22, [](const LinearPalette &) { return whiteAt(0.85); }, this), 0,
                 Qt::AlignHCenter);
    m_ext = new InspectorLabel({}, LinearTheme::font(11.5, QFont::Medium), [](const LinearPalette &) { return whiteAt(0.85); },
                            this);
    m_ext->setTextFormat(Qt::PlainText);
    v->addWidget(m_ext, 0, Qt::AlignHCenter);
    // Why the format does not play, when the reason is a missing library.
    m_reason = new InspectorLabel({}, LinearTheme::font(11), [](const LinearPalette &) { return whiteAt(0.7); }, this);
    m_reason->setObjectName("cannotPlayReason");
    m_reason->setTextFormat(Qt::PlainText);
    m_reason->setWordWrap(true);
    m_reason->setAlignment(Qt::AlignHCenter);
    m_reason->setContentsMargins(16, 0, 16, 0);
    m_reason->hide();
    v->addWidget(m_reason); // the whole width, so that the layout gives it the height its lines need
    m_open = new QPushButton(this);
    m_open->setObjectName("ctx.openDefault");
    m_open->setIcon(LinearTheme::symbolPixmap("arrow.up.forward.app", 12, Qt::white, devicePixelRatioF()));
    m_open->setFont(LinearTheme::font(11.5, QFont::DemiBold));
    m_open->setDefault(true);
    m_open->setCursor(Qt::PointingHandCursor);
    // The prominent look: the accent filled button.
    m_open->setStyleSheet("QPushButton { color: white; background: palette(highlight); border: none;"
                          " border-radius: 6px; padding: 5px 11px; }"
                          "QPushButton:pressed { background: palette(dark); }");
    v->addWidget(m_open, 0, Qt::AlignHCenter);
    v->addStretch(1);
    connect(m_open, &QPushButton::clicked, this, &CannotPlayPlaceholder::openRequested);
    setLanguage(AppLanguage::en);
}

void CannotPlayPlaceholder::setThumbnail(const QImage &image)
{
    m_thumb = image;
    update();
}

void CannotPlayPlaceholder::setExtension(const QString &ext)
{
    m_ext->setText(ext);
    updateReason();
}
QString CannotPlayPlaceholder::extensionText() const { return m_ext->text(); }
void CannotPlayPlaceholder::setLanguage(AppLanguage language)
{
    m_language = language;
    m_open->setText(L10n::text("ctx.openDefault", language));
    updateReason();
}

void CannotPlayPlaceholder::updateReason()
{
    // Formats beyond the native ones play through libmpv; without it, say so.
    const QString ext = m_ext->text().trimmed().toLower();
    const bool needsLibmpv = !ext.isEmpty() && !VideoFile::nativeVideoExtensions().contains(ext);
    const bool show = needsLibmpv && !LibMPVLibrary::shared();
    m_reason->setText(show ? L10n::text("tools.cannotPlayWithoutLibmpv", m_language) : QString());
    m_reason->setVisible(show);
}
QString CannotPlayPlaceholder::reasonText() const { return m_reason->text(); }

void CannotPlayPlaceholder::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (m_thumb.isNull()) return;
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QSizeF s = m_thumb.deviceIndependentSize();
    s.scale(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - s.width()) / 2, (height() - s.height()) / 2), s);
    p.setOpacity(0.38);
    p.drawImage(target, m_thumb);
}

// ---- InspectorPlayerCard ----

InspectorPlayerCard::InspectorPlayerCard(VideoPlayerController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    m_area = new BlackArea(this);
    m_area->setFixedHeight(m_playerHeight);
    m_areaStack = new QStackedLayout(m_area);
    m_areaStack->setContentsMargins(0, 0, 0, 0);

    // The picture with the play button centred above it.
    auto *picture = new PictureArea(m_area);
    m_picture = picture;
    m_surface = new UnifiedVideoSurface(controller, m_picture);
    m_playOverlay = new PlayOverlayButton(m_picture);
    picture->surface = m_surface;
    picture->overlay = m_playOverlay;
    m_areaStack->addWidget(m_picture);

    m_cannotPlay = new CannotPlayPlaceholder(m_area);
    m_areaStack->addWidget(m_cannotPlay);
    v->addWidget(m_area);

    m_transportArea = new ControlsArea(this);
    m_transportLayout = new QVBoxLayout(m_transportArea);
    m_transportLayout->setContentsMargins(10, 8, 10, 8);
    m_transportLayout->setSpacing(6);
    v->addWidget(m_transportArea);

    m_frame = new RoundedFrame(this);
    m_frame->raise();

    connect(m_surface, &UnifiedVideoSurface::clicked, this, &InspectorPlayerCard::togglePlayPauseRequested);
    connect(m_surface, &UnifiedVideoSurface::doubleClicked, this, &InspectorPlayerCard::fullscreenRequested);
    connect(m_playOverlay, &PlayOverlayButton::clicked, this, &InspectorPlayerCard::togglePlayPauseRequested);
    connect(m_cannotPlay, &CannotPlayPlaceholder::openRequested, this, &InspectorPlayerCard::openExternallyRequested);
    if (controller) {
        connect(controller, &VideoPlayerController::isPlayingChanged, this, &InspectorPlayerCard::updateFromController);
        connect(controller, &VideoPlayerController::canPlayCurrentFileChanged, this,
                &InspectorPlayerCard::updateFromController);
    }
    updateFromController();
}

void InspectorPlayerCard::updateFromController()
{
    const bool canPlay = !m_controller || m_controller->canPlayCurrentFile();
    const bool playing = m_controller && m_controller->isPlaying();
    m_areaStack->setCurrentWidget(canPlay ? m_picture : m_cannotPlay);
    m_transportArea->setVisible(canPlay);
    m_playOverlay->setVisible(!playing);
    if (!playing) m_playOverlay->raise();
    m_frame->raise();
}

void InspectorPlayerCard::setPlayerHeight(int height)
{
    if (m_playerHeight == height) return;
    m_playerHeight = height;
    m_area->setFixedHeight(height);
}

void InspectorPlayerCard::setThumbnail(const QImage &image) { m_cannotPlay->setThumbnail(image); }
void InspectorPlayerCard::setExtension(const QString &ext) { m_cannotPlay->setExtension(ext); }
void InspectorPlayerCard::setLanguage(AppLanguage language) { m_cannotPlay->setLanguage(language); }

void InspectorPlayerCard::setTransportControls(QWidget *controls)
{
    if (m_transport) {
        m_transportLayout->removeWidget(m_transport);
        m_transport->deleteLater();
    }
    m_transport = controls;
    if (controls) m_transportLayout->addWidget(controls);
}

bool InspectorPlayerCard::showsCannotPlay() const { return m_areaStack->currentWidget() == m_cannotPlay; }

void InspectorPlayerCard::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_frame->setGeometry(rect());
    m_frame->raise();
}

// ---- FullscreenPlaceholder ----

FullscreenPlaceholder::FullscreenPlaceholder(QWidget *parent) : QWidget(parent)
{
    initInspectorIcons();
    auto *v = new QVBoxLayout(this);
    v->setSpacing(10);
    v->addStretch(1);
    v->addWidget(new SymbolView("display", 24, [](const LinearPalette &p) { return p.accent(); }, this), 0,
                 Qt::AlignHCenter);
    m_title = new InspectorLabel({}, LinearTheme::font(12.5, QFont::DemiBold), [](const LinearPalette &p) { return p.label(); },
                              this);
    v->addWidget(m_title, 0, Qt::AlignHCenter);
    m_exit = new QPushButton(this);
    m_exit->setObjectName("inspector.exitFullscreen");
    m_exit->setFont(LinearTheme::font(11));
    v->addWidget(m_exit, 0, Qt::AlignHCenter);
    v->addStretch(1);
    connect(m_exit, &QPushButton::clicked, this, &FullscreenPlaceholder::exitRequested);
    setLanguage(AppLanguage::en);
}

void FullscreenPlaceholder::setLanguage(AppLanguage language)
{
    m_title->setText(L10n::text("inspector.fullscreenActive", language));
    m_exit->setText(L10n::text("inspector.exitFullscreen", language));
}

void FullscreenPlaceholder::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = LinearTheme::roundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius);
    p.fillPath(shape, palette().color(QPalette::Base));
    p.setPen(QPen(LinearPalette::of(this).separator(), 0.75));
    p.drawPath(shape);
}
