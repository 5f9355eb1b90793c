#include "PlayerPreviewWidget.h"

#include "FullscreenPlayerWindow.h"
#include "PlayerSurfaces.h"
#include "TransportControls.h"
#include "media/VideoPlayerController.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

PlayerPreviewWidget::PlayerPreviewWidget(QWidget *parent) : QWidget(parent)
{
    m_controller = new VideoPlayerController(this);
    m_pages = new QStackedLayout(this);

    m_playerPage = new QWidget(this);
    auto *column = new QVBoxLayout(m_playerPage);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *pictureArea = new QWidget(m_playerPage);
    auto *grid = new QGridLayout(pictureArea);
    grid->setContentsMargins(0, 0, 0, 0);
    m_surface = new UnifiedVideoSurface(m_controller, pictureArea);
    m_surface->setMinimumHeight(120);
    grid->addWidget(m_surface, 0, 0);
    m_playOverlay = new QPushButton(QStringLiteral("▶"), pictureArea);
    m_playOverlay->setFixedSize(48, 48);
    m_playOverlay->setStyleSheet(QStringLiteral("QPushButton { color: white; font: 600 18pt; border-radius: 24px;"
                                                " background: rgba(255,255,255,50);"
                                                " border: 0.75px solid rgba(255,255,255,61); }"));
    grid->addWidget(m_playOverlay, 0, 0, Qt::AlignCenter);
    column->addWidget(pictureArea, 1);
    m_transport = new TransportControls(m_controller, m_playerPage);
    m_transport->setContentsMargins(10, 8, 10, 8);
    column->addWidget(m_transport);
    m_pages->addWidget(m_playerPage);

    m_cannotPlayPage = new QWidget(this);
    m_cannotPlayPage->setAutoFillBackground(true);
    QPalette black = m_cannotPlayPage->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_cannotPlayPage->setPalette(black);
    auto *cannot = new QVBoxLayout(m_cannotPlayPage);
    cannot->setAlignment(Qt::AlignCenter);
    cannot->setSpacing(10);
    m_cannotPlayExt = new QLabel(m_cannotPlayPage);
    m_cannotPlayExt->setStyleSheet(QStringLiteral("color: rgba(255,255,255,217);"));
    m_cannotPlayExt->setAlignment(Qt::AlignCenter);
    cannot->addWidget(m_cannotPlayExt);
    auto *openButton = new QPushButton(L10n::text(QStringLiteral("ctx.openDefault")), m_cannotPlayPage);
    openButton->setObjectName(QStringLiteral("openDefaultButton"));
    cannot->addWidget(openButton, 0, Qt::AlignCenter);
    m_pages->addWidget(m_cannotPlayPage);

    m_fullscreenPage = new QWidget(this);
    auto *fs = new QVBoxLayout(m_fullscreenPage);
    fs->setAlignment(Qt::AlignCenter);
    auto *fsText = new QLabel(L10n::text(QStringLiteral("inspector.fullscreenActive")), m_fullscreenPage);
    fsText->setAlignment(Qt::AlignCenter);
    fs->addWidget(fsText);
    auto *exitButton = new QPushButton(L10n::text(QStringLiteral("inspector.exitFullscreen")), m_fullscreenPage);
    fs->addWidget(exitButton, 0, Qt::AlignCenter);
    m_pages->addWidget(m_fullscreenPage);

    connect(m_playOverlay, &QPushButton::clicked, this, &PlayerPreviewWidget::togglePlayback);
    connect(m_surface, &UnifiedVideoSurface::clicked, this, &PlayerPreviewWidget::togglePlayback);
    connect(m_surface, &UnifiedVideoSurface::doubleClicked, this, &PlayerPreviewWidget::presentFullscreen);
    connect(m_transport, &TransportControls::fullscreenRequested, this, &PlayerPreviewWidget::presentFullscreen);
    connect(openButton, &QPushButton::clicked, this, &PlayerPreviewWidget::openExternally);
    connect(exitButton, &QPushButton::clicked, this, [] { FullscreenPlayerWindowManager::shared().dismiss(true); });
    connect(m_controller, &VideoPlayerController::canPlayCurrentFileChanged, this, &PlayerPreviewWidget::refresh);
    connect(m_controller, &VideoPlayerController::isPlayingChanged, this, &PlayerPreviewWidget::refresh);
    refresh();
}

PlayerPreviewWidget::~PlayerPreviewWidget()
{
    if (m_fullscreenActive)
        FullscreenPlayerWindowManager::shared().dismiss(false);
}

void PlayerPreviewWidget::setVideo(const std::optional<VideoFile> &video, double startAt, bool forceReload)
{
    m_video = video;
    if (!video) {
        m_controller->load(QUrl(), false, false, false, 0);
    } else {
        m_cannotPlayExt->setText(video->fileExtension);
        m_controller->load(video->url, false, false, forceReload, startAt);
    }
    refresh();
}

void PlayerPreviewWidget::setMarkers(const QList<double> &markers)
{
    m_markers = markers;
    m_transport->setMarkers(markers);
}

void PlayerPreviewWidget::setFallbackDuration(double seconds) { m_transport->setFallbackDuration(seconds); }

void PlayerPreviewWidget::refresh()
{
    if (m_fullscreenActive)
        m_pages->setCurrentWidget(m_fullscreenPage);
    else if (!m_controller->canPlayCurrentFile())
        m_pages->setCurrentWidget(m_cannotPlayPage);
    else
        m_pages->setCurrentWidget(m_playerPage);
    m_playOverlay->setVisible(!m_controller->isPlaying());
}

void PlayerPreviewWidget::openExternally()
{
    if (m_video)
        QDesktopServices::openUrl(m_video->url);
}

void PlayerPreviewWidget::togglePlayback()
{
    if (!m_video)
        return;
    if (!m_controller->canPlayCurrentFile()) {
        openExternally();
        return;
    }
    m_controller->isPlaying() ? m_controller->pause() : m_controller->play();
}

void PlayerPreviewWidget::presentFullscreen()
{
    if (!m_video)
        return;
    if (!m_controller->canPlayCurrentFile()) {
        openExternally();
        return;
    }
    m_fullscreenActive = true;
    if (!m_controller->isPlaying())
        m_controller->play();
    refresh();
    QPointer<PlayerPreviewWidget> self(this);
    FullscreenPlayerWindowManager::shared().present(*m_video, m_controller, m_language, m_markers, [self] {
        if (!self)
            return;
        self->m_fullscreenActive = false;
        self->refresh();
        self->m_controller->refreshSurface();
    });
}

void PlayerPreviewWidget::toggleFullscreen()
{
    if (!m_video)
        return;
    if (m_fullscreenActive)
        FullscreenPlayerWindowManager::shared().dismiss(true);
    else
        presentFullscreen();
}
