#include "ui/player/MPVOpenGLLayer.h"

#include "media/LibMPVLibrary.h"

#include <QGuiApplication>
#include <QMutexLocker>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>
#include <QTimer>
#include <QTransform>

#include <mpv/render_gl.h>

#include <algorithm>
#include <cmath>

namespace {
bool g_forceSoftware = false;

void *getProcAddress(void *, const char *name)
{
    QOpenGLContext *ctx = QOpenGLContext::currentContext();
    if (!ctx || !name)
        return nullptr;
    return reinterpret_cast<void *>(ctx->getProcAddress(QByteArray(name)));
}
} // namespace

// ---------------------------------------------------------------- shared part

MPVRenderLayerBase::MPVRenderLayerBase(MPVPlayerEngine *engine) : QObject(engine), m_engine(engine) {}

MPVRenderLayerBase::~MPVRenderLayerBase() = default; // subclasses tear down

MPVRenderLayerBase *MPVRenderLayerBase::forEngine(MPVPlayerEngine *engine)
{
    if (!engine || !engine->handle())
        return nullptr;
    if (auto *existing = engine->findChild<MPVRenderLayerBase *>(QString(), Qt::FindDirectChildrenOnly))
        return existing->isTornDown() ? nullptr : existing;
    MPVRenderLayerBase *layer = nullptr;
    if (MPVPlayerLayerView::usesSoftwareRendering())
        layer = new MPVSoftwareLayer(engine);
    else
        layer = new MPVOpenGLLayer(engine);
    engine->setActiveLayer(layer);
    layer->redrawIfActive();
    return layer;
}

bool MPVRenderLayerBase::hasRenderContext() const
{
    QMutexLocker lock(&m_renderLock);
    return m_renderContext != nullptr;
}

bool MPVRenderLayerBase::isTornDown() const
{
    QMutexLocker lock(&m_renderLock);
    return m_isTornDown;
}

void MPVRenderLayerBase::scheduleRedraw(void *ctx)
{
    // libmpv's thread: never render here, only ask the GUI thread.
    QMetaObject::invokeMethod(static_cast<MPVRenderLayerBase *>(ctx), &MPVRenderLayerBase::redrawIfActive,
                              Qt::QueuedConnection);
}

void MPVRenderLayerBase::redrawIfActive()
{
    if (isTornDown() || m_redrawQueued)
        return;
    m_redrawQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_redrawQueued = false;
        renderNow();
    });
}

void MPVRenderLayerBase::setTargetSize(QSize size)
{
    size = size.expandedTo(QSize(1, 1));
    if (size == m_targetSize)
        return;
    m_targetSize = size;
    redrawIfActive();
}

QSize MPVRenderLayerBase::renderSize(QSize viewport, QSizeF logicalSize, qreal scale)
{
    int w = viewport.width() >= 1 ? viewport.width() : int(logicalSize.width() * scale);
    int h = viewport.height() >= 1 ? viewport.height() : int(logicalSize.height() * scale);
    return {std::max(w, 1), std::max(h, 1)};
}

void MPVRenderLayerBase::renderNow()
{
    bool rendered = false;
    bool created = false;
    {
        QMutexLocker lock(&m_renderLock);
        if (m_isTornDown || !m_engine || !m_engine->handle())
            return;
        if (!m_renderContext) {
            if (!createContext() || !m_renderContext)
                return; // tried again at the next redraw
            m_engine->lib()->mpvRenderContextSetUpdateCallback(m_renderContext, &MPVRenderLayerBase::scheduleRedraw,
                                                               this);
            created = true;
        }
        rendered = render(m_frame);
    }
    if (created) {
        QPointer<MPVPlayerEngine> weak(m_engine);
        QMetaObject::invokeMethod(
            m_engine, [weak] { if (weak) weak->renderContextReady(); }, Qt::QueuedConnection);
    }
    if (rendered)
        emit frameReady();
}

void MPVRenderLayerBase::tearDown()
{
    mpv_render_context *rc = nullptr;
    {
        QMutexLocker lock(&m_renderLock);
        if (m_isTornDown)
            return;
        m_isTornDown = true;
        rc = m_renderContext;
        m_renderContext = nullptr;
    }
    LibMPVLibrary *lib = m_engine ? m_engine->lib() : LibMPVLibrary::shared();
    if (rc && lib) {
        if (m_engine)
            m_engine->renderContextWillBeFreed();
        lib->mpvRenderContextSetUpdateCallback(rc, nullptr, nullptr);
        freeGLResources(); // makes the context current for the free below
        lib->mpvRenderContextFree(rc);
    }
    m_frame = QImage();
    emit frameReady();
}

// ---------------------------------------------------------------- OpenGL

MPVOpenGLLayer::MPVOpenGLLayer(MPVPlayerEngine *engine) : MPVRenderLayerBase(engine) {}

MPVOpenGLLayer::~MPVOpenGLLayer()
{
    tearDown();
    if (m_gl && m_surface && m_gl->makeCurrent(m_surface.get())) {
        m_fbo.reset();
        m_gl->doneCurrent();
    }
}

void MPVOpenGLLayer::freeGLResources()
{
    if (m_gl && m_surface)
        m_gl->makeCurrent(m_surface.get());
}

bool MPVOpenGLLayer::createContext()
{
    if (!m_gl) {
        m_gl = std::make_unique<QOpenGLContext>();
        if (!m_gl->create())
            return false;
        m_surface = std::make_unique<QOffscreenSurface>();
        m_surface->setFormat(m_gl->format());
        m_surface->create();
    }
    if (!m_gl->makeCurrent(m_surface.get()))
        return false;
    mpv_opengl_init_params gl{&getProcAddress, nullptr};
    char apiType[] = MPV_RENDER_API_TYPE_OPENGL;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, apiType},
                                 {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context *rc = nullptr;
    if (m_engine->lib()->mpvRenderContextCreate(&rc, m_engine->handle(), params) < 0 || !rc)
        return false;
    m_renderContext = rc;
    return true;
}

bool MPVOpenGLLayer::render(QImage &into)
{
    if (!m_gl->makeCurrent(m_surface.get()))
        return false;
    if (!m_fbo || m_fbo->size() != m_targetSize)
        m_fbo = std::make_unique<QOpenGLFramebufferObject>(m_targetSize);
    mpv_opengl_fbo fbo{int(m_fbo->handle()), m_targetSize.width(), m_targetSize.height(), 0};
    // Into a framebuffer object libmpv draws the picture's top row first, the order a
    // QImage keeps its rows in: neither side may flip, or the picture shows upside down.
    int flipY = 0;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    m_engine->lib()->mpvRenderContextRender(m_renderContext, params);
    into = m_fbo->toImage(false);
    m_gl->doneCurrent();
    return true;
}

// ---------------------------------------------------------------- software

MPVSoftwareLayer::MPVSoftwareLayer(MPVPlayerEngine *engine) : MPVRenderLayerBase(engine) {}

bool MPVSoftwareLayer::createContext()
{
    m_engine->setString("video-rotate", QStringLiteral("no")); // turned by render()
    char apiType[] = MPV_RENDER_API_TYPE_SW;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, apiType}, {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context *rc = nullptr;
    if (m_engine->lib()->mpvRenderContextCreate(&rc, m_engine->handle(), params) < 0 || !rc)
        return false;
    m_renderContext = rc;
    return true;
}

bool MPVSoftwareLayer::render(QImage &into)
{
    // libmpv's software renderer aborts the process when it has to turn the picture or
    // letterbox some shapes. So it draws the file's picture as stored, at its own shape,
    // and the picture is turned here; the views letterbox it.
    const double w = m_engine->getDouble("video-out-params/dw").value_or(0);
    const double h = m_engine->getDouble("video-out-params/dh").value_or(0);
    const int turns = int(std::lround(m_engine->getDouble("current-tracks/video/demux-rotation").value_or(0) / 90.0)) & 3;
    QSize size = m_targetSize;
    if (w >= 1 && h >= 1) {
        const QSizeF shown = turns % 2 ? QSizeF(h, w) : QSizeF(w, h);
        size = shown.scaled(QSizeF(m_targetSize), Qt::KeepAspectRatio).toSize().expandedTo(QSize(1, 1));
        if (turns % 2)
            size.transpose();
    }
    if (m_stored.size() != size)
        m_stored = QImage(size, QImage::Format_RGB32);
    int swSize[2] = {size.width(), size.height()};
    // Format_RGB32 is B, G, R, X in memory on this little-endian machine.
    char format[] = "bgr0";
    size_t stride = size_t(m_stored.bytesPerLine());
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, swSize},
                                 {MPV_RENDER_PARAM_SW_FORMAT, format},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                 {MPV_RENDER_PARAM_SW_POINTER, m_stored.bits()},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (m_engine->lib()->mpvRenderContextRender(m_renderContext, params) < 0)
        return false;
    into = turns ? m_stored.transformed(QTransform().rotate(90.0 * turns)) : m_stored.copy();
    return true;
}

// ---------------------------------------------------------------- view

bool MPVPlayerLayerView::openGLAvailable()
{
    static const bool available = [] {
        if (QGuiApplication::platformName() == QLatin1String("offscreen")
            || QGuiApplication::platformName() == QLatin1String("minimal"))
            return false;
        QOpenGLContext ctx;
        if (!ctx.create())
            return false;
        QOffscreenSurface surface;
        surface.setFormat(ctx.format());
        surface.create();
        if (!surface.isValid() || !ctx.makeCurrent(&surface))
            return false;
        ctx.doneCurrent();
        return true;
    }();
    return available;
}

void MPVPlayerLayerView::setForceSoftwareRendering(bool force) { g_forceSoftware = force; }

bool MPVPlayerLayerView::usesSoftwareRendering() { return g_forceSoftware || !openGLAvailable(); }

MPVPlayerLayerView::MPVPlayerLayerView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void MPVPlayerLayerView::attach(MPVPlayerEngine *engine)
{
    if (engine != m_engine) {
        disconnect(m_frameConnection);
        m_engine = engine;
        m_layer = MPVRenderLayerBase::forEngine(engine);
        if (m_layer)
            m_frameConnection = connect(m_layer, &MPVRenderLayerBase::frameReady, this, qOverload<>(&QWidget::update));
    }
    pushSize();
    if (m_layer)
        m_layer->redrawIfActive();
    update();
}

void MPVPlayerLayerView::pushSize()
{
    if (m_layer && isVisible())
        m_layer->setTargetSize(MPVRenderLayerBase::renderSize({}, QSizeF(size()), devicePixelRatioF()));
}

void MPVPlayerLayerView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    pushSize();
}

void MPVPlayerLayerView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    pushSize();
}

void MPVPlayerLayerView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!m_layer)
        return;
    const QImage frame = m_layer->frame();
    if (frame.isNull())
        return;
    QSizeF fitted = QSizeF(frame.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, frame);
}

QImage MPVPlayerLayerView::grabPicture()
{
    if (m_layer)
        m_layer->renderNow();
    return grab().toImage();
}
