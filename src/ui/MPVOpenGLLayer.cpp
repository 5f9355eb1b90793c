#include "MPVOpenGLLayer.h"

#include "media/LibMPVLibrary.h"

#include <QGuiApplication>
#include <QMutexLocker>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>
#include <QVBoxLayout>

#include <mpv/render_gl.h>

#include <algorithm>

namespace {
void *getProcAddress(void *, const char *name)
{
    QOpenGLContext *ctx = QOpenGLContext::currentContext();
    if (!ctx || !name)
        return nullptr;
    return reinterpret_cast<void *>(ctx->getProcAddress(QByteArray(name)));
}

// Frees a taken render context outside the lock, after telling the engine (which
// remembers its video track so that the next surface can bring it back).
void freeRenderContext(MPVPlayerEngine *engine, mpv_render_context *rc)
{
    LibMPVLibrary *lib = engine ? engine->lib() : LibMPVLibrary::shared();
    if (!rc || !lib)
        return;
    if (engine)
        engine->renderContextWillBeFreed();
    lib->mpvRenderContextSetUpdateCallback(rc, nullptr, nullptr);
    lib->mpvRenderContextFree(rc);
}
} // namespace

// ---------------------------------------------------------------- OpenGL layer

MPVOpenGLLayer::MPVOpenGLLayer(QWidget *parent) : QOpenGLWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
}

MPVOpenGLLayer::~MPVOpenGLLayer() { tearDown(); }

bool MPVOpenGLLayer::hasRenderContext() const
{
    QMutexLocker lock(&m_renderLock);
    return m_renderContext != nullptr;
}

bool MPVOpenGLLayer::isTornDown() const
{
    QMutexLocker lock(&m_renderLock);
    return m_isTornDown;
}

void MPVOpenGLLayer::redrawIfActive()
{
    if (!isTornDown())
        update();
}

void MPVOpenGLLayer::scheduleRedraw(void *ctx)
{
    // libmpv's thread: never draw here, only ask the GUI thread.
    QMetaObject::invokeMethod(static_cast<MPVOpenGLLayer *>(ctx), &MPVOpenGLLayer::redrawIfActive,
                              Qt::QueuedConnection);
}

void MPVOpenGLLayer::tearDown()
{
    mpv_render_context *rc = nullptr;
    {
        QMutexLocker lock(&m_renderLock);
        m_isTornDown = true;
        rc = m_renderContext;
        m_renderContext = nullptr;
    }
    if (!rc)
        return;
    const bool haveContext = context() != nullptr;
    if (haveContext)
        makeCurrent();
    freeRenderContext(m_engine, rc);
    if (haveContext)
        doneCurrent();
}

QSize MPVOpenGLLayer::renderSize(QSize viewport, QSizeF logicalSize, qreal scale)
{
    int w = viewport.width() >= 1 ? viewport.width() : int(logicalSize.width() * scale);
    int h = viewport.height() >= 1 ? viewport.height() : int(logicalSize.height() * scale);
    return {std::max(w, 1), std::max(h, 1)};
}

void MPVOpenGLLayer::initializeGL() {}

void MPVOpenGLLayer::createRenderContext()
{
    MPVPlayerEngine *engine = m_engine;
    mpv_opengl_init_params gl{&getProcAddress, nullptr};
    char apiType[] = MPV_RENDER_API_TYPE_OPENGL;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, apiType},
                                 {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context *rc = nullptr;
    if (engine->lib()->mpvRenderContextCreate(&rc, engine->handle(), params) < 0 || !rc)
        return;
    m_renderContext = rc;
    engine->lib()->mpvRenderContextSetUpdateCallback(rc, &MPVOpenGLLayer::scheduleRedraw, this);
    QMetaObject::invokeMethod(this, &MPVOpenGLLayer::redrawIfActive, Qt::QueuedConnection);
    QPointer<MPVPlayerEngine> weak(engine);
    QMetaObject::invokeMethod(
        engine, [weak] { if (weak) weak->renderContextReady(); }, Qt::QueuedConnection);
}

void MPVOpenGLLayer::paintGL()
{
    QOpenGLFunctions *f = context()->functions();
    QMutexLocker lock(&m_renderLock);
    auto black = [f] {
        f->glClearColor(0, 0, 0, 1);
        f->glClear(GL_COLOR_BUFFER_BIT);
        f->glFlush();
    };
    if (m_isTornDown || !m_engine || !m_engine->handle())
        return black();
    if (!m_renderContext)
        createRenderContext();
    if (!m_renderContext)
        return black();
    GLint viewport[4] = {0, 0, 0, 0};
    f->glGetIntegerv(GL_VIEWPORT, viewport);
    const QSize size = renderSize(QSize(viewport[2], viewport[3]), QSizeF(this->size()), devicePixelRatioF());
    mpv_opengl_fbo fbo{int(defaultFramebufferObject()), size.width(), size.height(), 0};
    int flipY = 1;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    m_engine->lib()->mpvRenderContextRender(m_renderContext, params);
    f->glFlush();
}

// ---------------------------------------------------------------- software layer

MPVSoftwareLayer::MPVSoftwareLayer(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

MPVSoftwareLayer::~MPVSoftwareLayer() { tearDown(); }

bool MPVSoftwareLayer::hasRenderContext() const
{
    QMutexLocker lock(&m_renderLock);
    return m_renderContext != nullptr;
}

bool MPVSoftwareLayer::isTornDown() const
{
    QMutexLocker lock(&m_renderLock);
    return m_isTornDown;
}

void MPVSoftwareLayer::redrawIfActive()
{
    if (!isTornDown())
        update();
}

void MPVSoftwareLayer::scheduleRedraw(void *ctx)
{
    QMetaObject::invokeMethod(static_cast<MPVSoftwareLayer *>(ctx), &MPVSoftwareLayer::redrawIfActive,
                              Qt::QueuedConnection);
}

void MPVSoftwareLayer::tearDown()
{
    mpv_render_context *rc = nullptr;
    {
        QMutexLocker lock(&m_renderLock);
        m_isTornDown = true;
        rc = m_renderContext;
        m_renderContext = nullptr;
    }
    freeRenderContext(m_engine, rc);
}

void MPVSoftwareLayer::createRenderContext()
{
    MPVPlayerEngine *engine = m_engine;
    char apiType[] = MPV_RENDER_API_TYPE_SW;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, apiType}, {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context *rc = nullptr;
    if (engine->lib()->mpvRenderContextCreate(&rc, engine->handle(), params) < 0 || !rc)
        return;
    m_renderContext = rc;
    engine->lib()->mpvRenderContextSetUpdateCallback(rc, &MPVSoftwareLayer::scheduleRedraw, this);
    QMetaObject::invokeMethod(this, &MPVSoftwareLayer::redrawIfActive, Qt::QueuedConnection);
    QPointer<MPVPlayerEngine> weak(engine);
    QMetaObject::invokeMethod(
        engine, [weak] { if (weak) weak->renderContextReady(); }, Qt::QueuedConnection);
}

void MPVSoftwareLayer::renderFrame()
{
    QMutexLocker lock(&m_renderLock);
    if (m_isTornDown || !m_engine || !m_engine->handle()) {
        m_frame = QImage();
        return;
    }
    if (!m_renderContext)
        createRenderContext();
    if (!m_renderContext)
        return;
    const qreal dpr = devicePixelRatioF();
    const QSize size(std::max(1, int(width() * dpr)), std::max(1, int(height() * dpr)));
    if (m_frame.size() != size)
        m_frame = QImage(size, QImage::Format_RGB32);
    m_frame.setDevicePixelRatio(dpr);
    int swSize[2] = {size.width(), size.height()};
    // Format_RGB32 is B, G, R, X in memory on this little-endian machine.
    char format[] = "bgr0";
    size_t stride = size_t(m_frame.bytesPerLine());
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, swSize},
                                 {MPV_RENDER_PARAM_SW_FORMAT, format},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                 {MPV_RENDER_PARAM_SW_POINTER, m_frame.bits()},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    m_engine->lib()->mpvRenderContextRender(m_renderContext, params);
}

void MPVSoftwareLayer::paintEvent(QPaintEvent *)
{
    renderFrame();
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!m_frame.isNull())
        painter.drawImage(QPointF(0, 0), m_frame);
}

// ---------------------------------------------------------------- hosting view

namespace {
bool g_forceSoftware = false;
}

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
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
}

MPVPlayerLayerView::~MPVPlayerLayerView() { dropLayer(); }

MPVRenderHost *MPVPlayerLayerView::layer() const { return m_layerWidget ? m_layer : nullptr; }

void MPVPlayerLayerView::dropLayer()
{
    if (!m_layerWidget)
        return;
    m_layer->tearDown();
    QWidget *w = m_layerWidget;
    m_layerWidget = nullptr;
    m_layer = nullptr;
    w->hide();
    w->deleteLater();
}

void MPVPlayerLayerView::ensureLayer()
{
    if (!m_engine) {
        dropLayer();
        return;
    }
    MPVRenderHost *current = layer();
    const bool ours = current && !current->isTornDown() && m_engine->activeLayer() == current;
    if (ours) {
        current->redrawIfActive();
        return;
    }
    dropLayer();
    if (usesSoftwareRendering()) {
        auto *sw = new MPVSoftwareLayer(this);
        sw->setEngine(m_engine);
        m_layerWidget = sw;
        m_layer = sw;
    } else {
        auto *gl = new MPVOpenGLLayer(this);
        gl->setEngine(m_engine);
        m_layerWidget = gl;
        m_layer = gl;
    }
    layout()->addWidget(m_layerWidget);
    m_engine->setActiveLayer(m_layer);
    m_layerWidget->show();
    m_layer->redrawIfActive();
}

void MPVPlayerLayerView::attach(MPVPlayerEngine *engine)
{
    if (m_engine != engine)
        dropLayer();
    m_engine = engine;
    ensureLayer();
}

void MPVPlayerLayerView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_engine)
        ensureLayer();
}

void MPVPlayerLayerView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (MPVRenderHost *l = layer())
        l->redrawIfActive();
}

QImage MPVPlayerLayerView::grabPicture()
{
    if (auto *gl = qobject_cast<MPVOpenGLLayer *>(m_layerWidget))
        return gl->grabFramebuffer();
    if (auto *sw = qobject_cast<MPVSoftwareLayer *>(m_layerWidget)) {
        sw->repaint();
        return sw->lastFrame();
    }
    return grab().toImage();
}
