#include "LibMPVLibrary.h"

#include "library/HiddenTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <dlfcn.h>

namespace {
template <typename T>
bool resolve(void *dl, const char *name, T &out)
{
    out = reinterpret_cast<T>(::dlsym(dl, name));
    return out != nullptr;
}
} // namespace

QStringList LibMPVLibrary::defaultCandidates()
{
    const QStringList names{QStringLiteral("libmpv.so.2"), QStringLiteral("libmpv.so.1")};
    QStringList out;
    if (QCoreApplication::instance()) {
        const QString appLib = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../lib");
        const QString appLocal = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/lib");
        for (const QString &dir : {appLocal, appLib})
            for (const QString &n : names)
                out << dir + '/' + n;
    }
    out << names;
    for (const QString &n : names)
        out << QStringLiteral("/usr/local/lib/") + n;
    return out;
}

std::unique_ptr<LibMPVLibrary> LibMPVLibrary::load(const QStringList &candidates)
{
    for (const QString &path : candidates) {
        const bool bare = !path.contains('/');
        if (!bare && !QFileInfo::exists(path))
            continue;
        void *dl = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!dl)
            continue;
        std::unique_ptr<LibMPVLibrary> lib(new LibMPVLibrary);
        lib->m_dl = dl;
        lib->loadedPath = path;
        const bool complete =
            resolve(dl, "mpv_create", lib->mpvCreate) && resolve(dl, "mpv_initialize", lib->mpvInitialize)
            && resolve(dl, "mpv_terminate_destroy", lib->mpvTerminateDestroy)
            && resolve(dl, "mpv_set_option_string", lib->mpvSetOptionString)
            && resolve(dl, "mpv_command", lib->mpvCommand) && resolve(dl, "mpv_set_property", lib->mpvSetProperty)
            && resolve(dl, "mpv_set_property_string", lib->mpvSetPropertyString)
            && resolve(dl, "mpv_get_property", lib->mpvGetProperty)
            && resolve(dl, "mpv_get_property_string", lib->mpvGetPropertyString)
            && resolve(dl, "mpv_free", lib->mpvFree)
            && resolve(dl, "mpv_render_context_create", lib->mpvRenderContextCreate)
            && resolve(dl, "mpv_render_context_set_update_callback", lib->mpvRenderContextSetUpdateCallback)
            && resolve(dl, "mpv_render_context_render", lib->mpvRenderContextRender)
            && resolve(dl, "mpv_render_context_free", lib->mpvRenderContextFree);
        if (!complete)
            return nullptr; // the destructor closes it; a half library is no library
        resolve(dl, "mpv_wait_event", lib->mpvWaitEvent);
        resolve(dl, "mpv_set_wakeup_callback", lib->mpvSetWakeupCallback);
        return lib;
    }
    return nullptr;
}

LibMPVLibrary *LibMPVLibrary::shared()
{
    // Searched once; never closed, since engines may outlive any owner we could name.
    static LibMPVLibrary *instance = isToolHidden("libmpv") ? nullptr : load(defaultCandidates()).release();
    return instance;
}

LibMPVLibrary::~LibMPVLibrary()
{
    if (m_dl)
        ::dlclose(m_dl);
}
