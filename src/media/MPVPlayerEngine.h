#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class LibMPVLibrary;
struct mpv_handle;

// What an engine needs of the surface that owns its render context (the OpenGL widget,
// or the software one where no OpenGL context can be made). Implemented by QObjects.
class MPVRenderHost {
public:
    virtual ~MPVRenderHost() = default;
    virtual QObject *hostObject() = 0;
    // Both are read under the host's render lock.
    virtual bool hasRenderContext() const = 0;
    virtual bool isTornDown() const = 0;
    // Asks for a repaint on the GUI thread; nothing once torn down.
    virtual void redrawIfActive() = 0;
    // Frees the render context for good; the host only paints black afterwards.
    virtual void tearDown() = 0;
};

// One libmpv player. GUI thread only.
class MPVPlayerEngine : public QObject {
    Q_OBJECT
public:
    struct PendingLoad {
        QUrl url;
        bool autoPlay = false;
    };

    // Null when libmpv is missing or does not start.
    static std::unique_ptr<MPVPlayerEngine> create(QObject *parent = nullptr);
    ~MPVPlayerEngine() override; // shuts down

    // Frees the active host's render context, then destroys the player. Afterwards
    // commands and setters do nothing and getters give none.
    void shutdown();

    LibMPVLibrary *lib() const { return m_lib; }
    mpv_handle *handle() const { return m_handle; }

    void command(const QStringList &args);
    // Loads now when the active host has a render context, else keeps the load until
    // the host has made one (a later load replaces it).
    void load(const QUrl &url, bool autoplay);
    void loadNow(const QUrl &url, bool autoplay);
    // "seek" <seconds with three decimals> "absolute"; negative or NaN go to 0.
    void seek(double seconds);
    static QString seekArgument(double seconds);

    void setFlag(const char *name, bool value);
    void setDouble(const char *name, double value);
    void setString(const char *name, const QString &value);
    std::optional<bool> getFlag(const char *name) const;
    std::optional<double> getDouble(const char *name) const;
    std::optional<QString> getString(const char *name) const;

    MPVRenderHost *activeLayer() const;
    // Attaching a host tears down the previous one.
    void setActiveLayer(MPVRenderHost *layer);

    const std::optional<PendingLoad> &pendingLoad() const { return m_pendingLoad; }
    void setPendingLoad(std::optional<PendingLoad> load) { m_pendingLoad = std::move(load); }
    // Called by a host once it has made its render context: runs the pending load,
    // or, when a file was already playing, brings it back where it was.
    void renderContextReady();
    // Called by a host just before it frees its render context.
    void renderContextWillBeFreed();

    // The file handed to libmpv last (empty when none or after "stop").
    QUrl loadedURL() const { return m_loadedURL; }

    // A file is being brought back after a surface hand-over: position and pause reads
    // are not meaningful until it has loaded again.
    bool isResuming() const { return m_resume.has_value(); }

    static int liveEngineCount();

signals:
    // libmpv opened the file (headers read); `path` is its path as mpv reports it.
    void fileLoaded(const QString &path);
    // libmpv gave up on the file it was loading or playing.
    void fileFailed(const QString &path);

private:
    explicit MPVPlayerEngine(LibMPVLibrary *lib, QObject *parent);
    bool initialize();
    void drainEvents();
    static void wakeup(void *ctx);
    void scheduleRedraws();

    LibMPVLibrary *m_lib = nullptr;
    mpv_handle *m_handle = nullptr;
    MPVRenderHost *m_layer = nullptr;
    QPointer<QObject> m_layerObject;
    std::optional<PendingLoad> m_pendingLoad;
    QUrl m_loadedURL;
    QString m_loadingPath;
    struct Resume {
        QUrl url;
        double position = 0;
        bool paused = true;
    };
    std::optional<Resume> m_resume;
    double m_seekOnLoad = 0;
    int m_forcedEnds = 0;
};
