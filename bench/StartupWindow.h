#pragma once

// Start-up of a whole program, as a user sees it: from starting the process until the X
// server maps its first top-level window, with the shared libraries it has loaded by then.

#include <QFile>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <optional>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

extern char **environ;

namespace startup {

struct Start {
    double seconds = 0;
    int sharedLibraries = 0;
    QStringList libraries; // their paths, sorted
};

// Distinct shared objects in the process's memory map.
inline QStringList sharedLibraries(pid_t pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly)) return {};
    QSet<QString> seen;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const int slash = line.indexOf('/');
        if (slash < 0) continue;
        const QByteArray path = line.mid(slash);
        if (path.contains(".so")) seen.insert(QString::fromLocal8Bit(path));
    }
    QStringList sorted(seen.begin(), seen.end());
    sorted.sort();
    return sorted;
}

// Starts `program` and waits up to a minute for its first mapped window; then ends it. Used
// by the start-up benchmark and by the test that keeps what loads later out of the start.
inline std::optional<Start> timeFirstWindow(const QString &program)
{
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        xcb_disconnect(x);
        return std::nullopt;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_discard_reply(x, xcb_get_input_focus(x).sequence);
    xcb_flush(x);

    const QByteArray path = QFile::encodeName(program);
    char *argv[] = {const_cast<char *>(path.constData()), nullptr};
    const auto begin = std::chrono::steady_clock::now();
    pid_t pid = 0;
    std::optional<Start> result;
    if (posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, environ) == 0) {
        pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
        while (!result && std::chrono::steady_clock::now() - begin < std::chrono::seconds(60)) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(x)) {
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                    !reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect && !result) {
                    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
                    const QStringList libraries = sharedLibraries(pid);
                    result = Start{took.count(), int(libraries.size()), libraries};
                }
                free(event);
            }
            if (!result) poll(&fd, 1, 100);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    xcb_disconnect(x);
    return result;
}

inline double median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace startup
