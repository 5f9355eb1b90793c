#pragma once

#include <QString>
#include <QStringList>

#include <mpv/client.h>
#include <mpv/render.h>

#include <memory>

// libmpv opened at run time. The program never links it: when no usable library is
// found, `shared()` is null and nothing is played through libmpv.
class LibMPVLibrary {
public:
    // The library of this process, searched once; null when none loads.
    static LibMPVLibrary *shared();

    // Where the library is looked for, in order: the application's own lib folder,
    // the system's default search (bare names), then /usr/local/lib; libmpv.so.2
    // before libmpv.so.1 in each place.
    static QStringList defaultCandidates();

    // Tries `candidates` in order. A path that does not exist or fails to open is
    // skipped; the first one that opens decides: with all required entry points it is
    // the library, otherwise it is closed and there is none (later ones are not tried).
    // A candidate without a slash goes to the dynamic loader's own search.
    static std::unique_ptr<LibMPVLibrary> load(const QStringList &candidates);

    ~LibMPVLibrary();
    LibMPVLibrary(const LibMPVLibrary &) = delete;
    LibMPVLibrary &operator=(const LibMPVLibrary &) = delete;

    QString loadedPath;

    // Required entry points.
    decltype(&::mpv_create) mpvCreate = nullptr;
    decltype(&::mpv_initialize) mpvInitialize = nullptr;
    decltype(&::mpv_terminate_destroy) mpvTerminateDestroy = nullptr;
    decltype(&::mpv_set_option_string) mpvSetOptionString = nullptr;
    decltype(&::mpv_command) mpvCommand = nullptr;
    decltype(&::mpv_set_property) mpvSetProperty = nullptr;
    decltype(&::mpv_set_property_string) mpvSetPropertyString = nullptr;
    decltype(&::mpv_get_property) mpvGetProperty = nullptr;
    decltype(&::mpv_get_property_string) mpvGetPropertyString = nullptr;
    decltype(&::mpv_free) mpvFree = nullptr;
    decltype(&::mpv_render_context_create) mpvRenderContextCreate = nullptr;
    decltype(&::mpv_render_context_set_update_callback) mpvRenderContextSetUpdateCallback = nullptr;
    decltype(&::mpv_render_context_render) mpvRenderContextRender = nullptr;
    decltype(&::mpv_render_context_free) mpvRenderContextFree = nullptr;

    // Optional: file-loaded and end-of-file events. Without them a load is assumed to
    // succeed and a start time is sought after a short delay.
    decltype(&::mpv_wait_event) mpvWaitEvent = nullptr;
    decltype(&::mpv_set_wakeup_callback) mpvSetWakeupCallback = nullptr;

    bool hasEvents() const { return mpvWaitEvent && mpvSetWakeupCallback; }

private:
    LibMPVLibrary() = default;
    void *m_dl = nullptr;
};
