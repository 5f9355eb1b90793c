#pragma once

#include "media/MPVPlayerEngine.h"

#include <QImage>
#include <QMutex>
#include <QOpenGLWidget>
#include <QPointer>
#include <QWidget>

struct mpv_render_context;

// Draws one engine through libmpv's OpenGL render API. The render context is made at
// the first paint that has a live engine, and freed only by tearDown().
class MPVOpenGLLayer : public QOpenGLWidget, public MPVRenderHost {
    Q_OBJECT
public:
    explicit MPVOpenGLLayer(QWidget *parent = nullptr);
    ~MPVOpenGLLayer() override; // tears down

    void setEngine(MPVPlayerEngine *engine) { m_engine = engine; }
    MPVPlayerEngine *engine() const { return m_engine; }

    QObject *hostObject() override { return this; }
    bool hasRenderContext() const override;
    bool isTornDown() const override;
    void redrawIfActive() override;
    void tearDown() override;

    // Target size in device pixels: the viewport, else the widget size; at least 1x1.
    static QSize renderSize(QSize viewport, QSizeF logicalSize, qreal scale);

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void createRenderContext();
    static void scheduleRedraw(void *ctx);

    QPointer<MPVPlayerEngine> m_engine;
    mutable QMutex m_renderLock;
    mpv_render_context *m_renderContext = nullptr;
    bool m_isTornDown = false;
};

// The same job through libmpv's software renderer into a QImage, for machines where no
// OpenGL context can be made.
class MPVSoftwareLayer : public QWidget, public MPVRenderHost {
    Q_OBJECT
public:
    explicit MPVSoftwareLayer(QWidget *parent = nullptr);
    ~MPVSoftwareLayer() override;

    void setEngine(MPVPlayerEngine *engine) { m_engine = engine; }
    MPVPlayerEngine *engine() const { return m_engine; }

    QObject *hostObject() override { return this; }
    bool hasRenderContext() const override;
    bool isTornDown() const override;
    void redrawIfActive() override;
    void tearDown() override;

    QImage lastFrame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void createRenderContext();
    void renderFrame();
    static void scheduleRedraw(void *ctx);

    QPointer<MPVPlayerEngine> m_engine;
    mutable QMutex m_renderLock;
    mpv_render_context *m_renderContext = nullptr;
    bool m_isTornDown = false;
    QImage m_frame;
};

// The host that puts an engine's picture on screen: an OpenGL layer when an OpenGL
// context can be made here, else the software one. When its layer has been torn down
// (another view took the engine), showing it again or calling attach() makes a new one.
class MPVPlayerLayerView : public QWidget {
    Q_OBJECT
public:
    explicit MPVPlayerLayerView(QWidget *parent = nullptr);
    ~MPVPlayerLayerView() override;

    // Attaches to `engine` (tearing down the engine's previous layer); null detaches.
    void attach(MPVPlayerEngine *engine);
    MPVPlayerEngine *engine() const { return m_engine; }
    MPVRenderHost *layer() const;
    QWidget *layerWidget() const { return m_layerWidget; }

    // Checked once with a QOpenGLContext, before any GL widget exists.
    static bool openGLAvailable();
    // For tests: use the software layer even where OpenGL works.
    static void setForceSoftwareRendering(bool force);
    static bool usesSoftwareRendering();

    // The picture as shown (read back from the layer).
    QImage grabPicture();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void ensureLayer();
    void dropLayer();

    QPointer<MPVPlayerEngine> m_engine;
    QWidget *m_layerWidget = nullptr;
    MPVRenderHost *m_layer = nullptr;
};
