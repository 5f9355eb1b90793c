#include "MPVPlayerEngine.h"

#include "LibMPVLibrary.h"

#include "library/FileNames.h"

#include <QFile>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <vector>

namespace {
std::atomic<int> g_liveEngines{0};
}

int MPVPlayerEngine::liveEngineCount() { return g_liveEngines.load(); }

MPVPlayerEngine::MPVPlayerEngine(LibMPVLibrary *lib, QObject *parent) : QObject(parent), m_lib(lib) {}

std::unique_ptr<MPVPlayerEngine> MPVPlayerEngine::create(QObject *parent)
{
    LibMPVLibrary *lib = LibMPVLibrary::shared();
    if (!lib)
        return nullptr;
    std::unique_ptr<MPVPlayerEngine> engine(new MPVPlayerEngine(lib, parent));
    if (!engine->initialize())
        return nullptr;
    return engine;
}

bool MPVPlayerEngine::initialize()
{
    m_handle = m_lib->mpvCreate();
    if (!m_handle)
        return false;
    static const char *const options[][2] = {
        {"vo", "libmpv"},
        {"hwdec", "auto-safe"},
        {"keep-open", "yes"},
        {"idle", "yes"},
        {"osc", "no"},
        {"osd-level", "0"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"sub-auto", "fuzzy"},
        {"audio-client-name", "Lumenkite"},
        {"ytdl", "no"},
        {"pause", "yes"},
        // A machine without a sound device still plays the picture on mpv's own clock.
        {"audio-fallback-to-null", "yes"},
    };
    for (const auto &opt : options)
        m_lib->mpvSetOptionString(m_handle, opt[0], opt[1]);
    if (m_lib->mpvInitialize(m_handle) < 0) {
        m_lib->mpvTerminateDestroy(m_handle);
        m_handle = nullptr;
        return false;
    }
    if (m_lib->hasEvents())
        m_lib->mpvSetWakeupCallback(m_handle, &MPVPlayerEngine::wakeup, this);
    ++g_liveEngines;
    return true;
}

MPVPlayerEngine::~MPVPlayerEngine() { shutdown(); }

void MPVPlayerEngine::shutdown()
{
    // The render context must go before the player it belongs to.
    if (MPVRenderHost *layer = activeLayer())
        layer->tearDown();
    m_layer = nullptr;
    m_layerObject.clear();
    if (m_handle) {
        if (m_lib->hasEvents())
            m_lib->mpvSetWakeupCallback(m_handle, nullptr, nullptr);
        m_lib->mpvTerminateDestroy(m_handle);
        m_handle = nullptr;
        --g_liveEngines;
    }
    m_pendingLoad.reset();
    m_resume.reset();
    m_loadedURL.clear();
}

void MPVPlayerEngine::wakeup(void *ctx)
{
    // libmpv's thread: only hand over to the GUI thread. The callback is removed before
    // the engine goes away, so `ctx` is alive here.
    auto *engine = static_cast<MPVPlayerEngine *>(ctx);
    QMetaObject::invokeMethod(engine, &MPVPlayerEngine::drainEvents, Qt::QueuedConnection);
}

void MPVPlayerEngine::drainEvents()
{
    while (m_handle && m_lib->mpvWaitEvent) {
        mpv_event *event = m_lib->mpvWaitEvent(m_handle, 0);
        if (!event || event->event_id == MPV_EVENT_NONE)
            break;
        if (event->event_id == MPV_EVENT_START_FILE) {
            m_loadingPath = getString("path").value_or(QString());
        } else if (event->event_id == MPV_EVENT_FILE_LOADED) {
            const QString path = getString("path").value_or(m_loadingPath);
            m_forcedEnds = 0;
            if (m_seekOnLoad > 0)
                seek(m_seekOnLoad);
            m_seekOnLoad = 0;
            if (m_resume) {
                m_resume.reset();
                continue; // the same file again, already announced
            }
            emit fileLoaded(path);
        } else if (event->event_id == MPV_EVENT_END_FILE) {
            const auto *end = static_cast<const mpv_event_end_file *>(event->data);
            // Only a failure that left the player idle is the current file's: when
            // another file is already on its way, this error belongs to an older one.
            if (!end || end->reason != MPV_END_FILE_REASON_ERROR)
                continue;
            // The end forced by a surface hand-over is not the file's fault.
            if (m_forcedEnds > 0) {
                --m_forcedEnds;
                continue;
            }
            if (!m_resume && getFlag("idle-active").value_or(true))
                emit fileFailed(m_loadingPath);
        } else if (event->event_id == MPV_EVENT_SHUTDOWN) {
            break;
        }
    }
}

void MPVPlayerEngine::command(const QStringList &args)
{
    if (!m_handle)
        return;
    std::vector<QByteArray> storage;
    storage.reserve(args.size());
    std::vector<const char *> argv;
    for (const QString &a : args) {
        storage.push_back(FileNames::encode(a)); // file names keep their exact bytes
        argv.push_back(storage.back().constData());
    }
    argv.push_back(nullptr);
    m_lib->mpvCommand(m_handle, argv.data());
    if (!args.isEmpty() && args.first() == QLatin1String("stop"))
        m_loadedURL.clear();
}

MPVRenderHost *MPVPlayerEngine::activeLayer() const { return m_layerObject ? m_layer : nullptr; }

void MPVPlayerEngine::setActiveLayer(MPVRenderHost *layer)
{
    MPVRenderHost *previous = activeLayer();
    if (previous == layer)
        return;
    if (previous)
        previous->tearDown();
    m_layer = layer;
    m_layerObject = layer ? layer->hostObject() : nullptr;
}

void MPVPlayerEngine::load(const QUrl &url, bool autoplay)
{
    MPVRenderHost *layer = activeLayer();
    if (layer && layer->hasRenderContext() && !layer->isTornDown()) {
        m_pendingLoad.reset();
        loadNow(url, autoplay);
        return;
    }
    m_pendingLoad = PendingLoad{url, autoplay};
    if (layer && !layer->isTornDown())
        layer->redrawIfActive();
}

void MPVPlayerEngine::loadNow(const QUrl &url, bool autoplay)
{
    setFlag("pause", !autoplay);
    m_seekOnLoad = 0;
    m_resume.reset();
    m_loadedURL = url;
    command({QStringLiteral("loadfile"), url.isLocalFile() ? url.toLocalFile() : url.toString(),
             QStringLiteral("replace")});
    if (MPVRenderHost *layer = activeLayer(); layer && !layer->isTornDown())
        layer->redrawIfActive();
    scheduleRedraws();
}

void MPVPlayerEngine::scheduleRedraws()
{
    // The first frame of a paused file appears without any update from libmpv.
    QPointer<MPVPlayerEngine> self(this);
    auto redraw = [self] {
        if (!self)
            return;
        if (MPVRenderHost *layer = self->activeLayer(); layer && !layer->isTornDown())
            layer->redrawIfActive();
    };
    QTimer::singleShot(60, this, redraw);
    QTimer::singleShot(60 + 180, this, redraw);
    QTimer::singleShot(60 + 180 + 400, this, redraw);
}

void MPVPlayerEngine::renderContextReady()
{
    if (m_pendingLoad) {
        const PendingLoad load = *m_pendingLoad;
        m_pendingLoad.reset();
        m_resume.reset();
        loadNow(load.url, load.autoPlay);
        return;
    }
    // Freeing the previous surface's render context switched libmpv's video off, which
    // also ends a file without audio. Reopen the file where it was, in the same state.
    if (m_resume) {
        const Resume resume = *m_resume;
        loadNow(resume.url, !resume.paused);
        m_seekOnLoad = resume.position > 0 ? resume.position : 0;
        m_resume = resume; // cleared once the file has loaded again
        return;
    }
    if (MPVRenderHost *layer = activeLayer(); layer && !layer->isTornDown())
        layer->redrawIfActive();
}

void MPVPlayerEngine::renderContextWillBeFreed()
{
    if (!m_handle || m_loadedURL.isEmpty())
        return;
    // Freeing the context ends a file without audio with an error; that end is ours.
    ++m_forcedEnds;
    if (m_resume)
        return; // still bringing the file back from the previous hand-over
    Resume resume;
    resume.url = m_loadedURL;
    resume.position = getDouble("time-pos").value_or(0);
    resume.paused = getFlag("pause").value_or(true);
    m_resume = resume;
}

QString MPVPlayerEngine::seekArgument(double seconds)
{
    if (std::isnan(seconds) || seconds < 0)
        seconds = 0;
    return QString::number(seconds, 'f', 3);
}

void MPVPlayerEngine::seek(double seconds)
{
    command({QStringLiteral("seek"), seekArgument(seconds), QStringLiteral("absolute")});
}

void MPVPlayerEngine::setFlag(const char *name, bool value)
{
    if (!m_handle)
        return;
    int v = value ? 1 : 0;
    m_lib->mpvSetProperty(m_handle, name, MPV_FORMAT_FLAG, &v);
}

void MPVPlayerEngine::setDouble(const char *name, double value)
{
    if (!m_handle)
        return;
    m_lib->mpvSetProperty(m_handle, name, MPV_FORMAT_DOUBLE, &value);
}

void MPVPlayerEngine::setString(const char *name, const QString &value)
{
    if (!m_handle)
        return;
    m_lib->mpvSetPropertyString(m_handle, name, value.toUtf8().constData());
}

std::optional<bool> MPVPlayerEngine::getFlag(const char *name) const
{
    if (!m_handle)
        return std::nullopt;
    int v = 0;
    if (m_lib->mpvGetProperty(m_handle, name, MPV_FORMAT_FLAG, &v) < 0)
        return std::nullopt;
    return v != 0;
}

std::optional<double> MPVPlayerEngine::getDouble(const char *name) const
{
    if (!m_handle)
        return std::nullopt;
    double v = 0;
    if (m_lib->mpvGetProperty(m_handle, name, MPV_FORMAT_DOUBLE, &v) < 0)
        return std::nullopt;
    return v;
}

std::optional<QString> MPVPlayerEngine::getString(const char *name) const
{
    if (!m_handle)
        return std::nullopt;
    char *v = m_lib->mpvGetPropertyString(m_handle, name);
    if (!v)
        return std::nullopt;
    QString out = FileNames::decode(v);
    m_lib->mpvFree(v);
    return out;
}
