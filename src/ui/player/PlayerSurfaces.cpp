#include "ui/player/PlayerSurfaces.h"

#include "ui/player/MPVOpenGLLayer.h"
#include "media/MPVPlayerEngine.h"
#include "media/VideoPlayerController.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QTimer>

NativeVideoSurface::NativeVideoSurface(VideoPlayerController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(controller, &VideoPlayerController::videoFrameChanged, this, &NativeVideoSurface::takeFrame);
    connect(controller, &VideoPlayerController::surfaceRefreshTokenChanged, this, &NativeVideoSurface::takeFrame);
    takeFrame();
}

void NativeVideoSurface::takeFrame()
{
    if (!m_controller) {
        m_image = QImage();
    } else {
        m_image = m_controller->nativePicture();
    }
    update();
}

void NativeVideoSurface::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (m_image.isNull())
        return;
    QSizeF fitted = QSizeF(m_image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, m_image);
}

UnifiedVideoSurface::UnifiedVideoSurface(VideoPlayerController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_nativeView = new NativeVideoSurface(controller, this);
    m_stack->addWidget(m_nativeView);
    m_mpvView = new MPVPlayerLayerView(this);
    m_stack->addWidget(m_mpvView);
    for (QWidget *w : {static_cast<QWidget *>(m_nativeView), static_cast<QWidget *>(m_mpvView)})
        w->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_clickTimer = new QTimer(this);
    m_clickTimer->setSingleShot(true);
    connect(m_clickTimer, &QTimer::timeout, this, &UnifiedVideoSurface::clicked);

    connect(controller, &VideoPlayerController::isUsingMPVChanged, this, &UnifiedVideoSurface::update_);
    connect(controller, &VideoPlayerController::mpvEngineChanged, this, &UnifiedVideoSurface::update_);
    connect(controller, &VideoPlayerController::surfaceRefreshTokenChanged, this, &UnifiedVideoSurface::update_);
    update_();
}

bool UnifiedVideoSurface::showsMPV() const
{
    return m_controller && m_controller->isUsingMPV() && m_controller->mpvEngine();
}

void UnifiedVideoSurface::update_()
{
    if (showsMPV()) {
        m_stack->setCurrentWidget(m_mpvView);
        m_mpvView->attach(m_controller->mpvEngine());
    } else {
        m_stack->setCurrentWidget(m_nativeView);
        m_mpvView->attach(nullptr);
        m_nativeView->update();
    }
}

void UnifiedVideoSurface::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    update_();
}

QImage UnifiedVideoSurface::grabPicture()
{
    if (showsMPV())
        return m_mpvView->grabPicture();
    return m_nativeView->grab().toImage();
}

void UnifiedVideoSurface::mousePressEvent(QMouseEvent *event) { event->accept(); }

void UnifiedVideoSurface::mouseReleaseEvent(QMouseEvent *event)
{
    // A single click waits out the double-click interval so a double click does not
    // also toggle playback.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        m_clickTimer->start(QApplication::doubleClickInterval());
}

void UnifiedVideoSurface::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_clickTimer->stop();
    emit doubleClicked();
}
