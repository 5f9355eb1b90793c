#pragma once

#include "media/MPVPlayerEngine.h"

#include <QImage>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <memory>

struct mpv_render_context;
class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;

// The one render context of an engine, kept for the engine's whole life so that moving
// the picture between views (inspector, full screen) never frees it: freeing it would
// switch libmpv's video off and end a file without audio. Each new frame is rendered
// into an image that every view of the engine paints; it keeps rendering while no view
// is visible, since libmpv waits for every frame to be taken.
class MPVRenderLayerBase : public QObject, public MPVRenderHost {
    Q_OBJECT
public:
    ~MPVRenderLayerBase() override;

    // The engine's layer, made on first use: OpenGL where a context can be made,
    // else libmpv's software renderer.
    static MPVRenderLayerBase *forEngine(MPVPlayerEngine *engine);

    QObject *hostObject() override { return this; }
    bool hasRenderContext() const override;
    bool isTornDown() const override;
    void redrawIfActive() override;
    void tearDown() override;

    // Target size in device pixels; at least 1x1.
    void setTargetSize(QSize size);
    QSize targetSize() const { return m_targetSize; }
    QImage frame() const { return m_frame; }
    // Renders now (also makes the render context on first use).
    void renderNow();
    virtual bool isSoftware() const = 0;

    static QSize renderSize(QSize viewport, QSizeF logicalSize, qreal scale);

signals:
    void frameReady();

protected:
    explicit MPVRenderLayerBase(MPVPlayerEngine *engine);
    virtual bool createContext() = 0; // with the lock held
    virtual bool render(QImage &into) = 0;
    virtual void freeGLResources() {}
    static void scheduleRedraw(void *ctx);

    QPointer<MPVPlayerEngine> m_engine;
    mutable QMutex m_renderLock;
    mpv_render_context *m_renderContext = nullptr;
    bool m_isTornDown = false;
    bool m_redrawQueued = false;
    QSize m_targetSize{640, 360};
    QImage m_frame;
};

// OpenGL: an offscreen context and framebuffer object of our own.
class MPVOpenGLLayer : public MPVRenderLayerBase {
    Q_OBJECT
public:
    explicit MPVOpenGLLayer(MPVPlayerEngine *engine);
    ~MPVOpenGLLayer() override;
    bool isSoftware() const override { return false; }

protected:
    bool createContext() override;
    bool render(QImage &into) override;
    void freeGLResources() override;

private:
    std::unique_ptr<QOpenGLContext> m_gl;
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
};

// Software: libmpv's own renderer straight into the image.
class MPVSoftwareLayer : public MPVRenderLayerBase {
    Q_OBJECT
public:
    explicit MPVSoftwareLayer(MPVPlayerEngine *engine);
    bool isSoftware() const override { return true; }

protected:
    bool createContext() override;
    bool render(QImage &into) override;

private:
    QImage m_stored; // libmpv draws here, the picture as the file stores it
};

// A view of an engine's picture: paints the engine layer's latest frame, fitted, on
// black. Any number of views may show one engine; the visible one sets the render size.
class MPVPlayerLayerView : public QWidget {
    Q_OBJECT
public:
    explicit MPVPlayerLayerView(QWidget *parent = nullptr);

    // Shows `engine`'s picture; null shows black.
    void attach(MPVPlayerEngine *engine);
    MPVPlayerEngine *engine() const { return m_engine; }
    MPVRenderLayerBase *layer() const { return m_layer; }

    // Checked once with a QOpenGLContext, before any GL surface exists.
    static bool openGLAvailable();
    // For tests: use the software renderer for engines made from now on.
    static void setForceSoftwareRendering(bool force);
    static bool usesSoftwareRendering();

    // The picture as shown.
    QImage grabPicture();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void pushSize();
    QPointer<MPVPlayerEngine> m_engine;
    QPointer<MPVRenderLayerBase> m_layer;
    QMetaObject::Connection m_frameConnection;
};
