#include "BackgroundPriority.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX
// How much nicer background threads are than the main thread: a busy core then gives the GUI
// thread about three times their share, while idle cores still run them at full speed.
constexpr int kBackgroundNiceness = 5;

// The main thread's niceness, read once: the level background threads are lowered from.
int processNiceness()
{
    static const int value = [] {
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, id_t(::getpid())) /* the main thread's */;
        return errno == 0 ? nice : 0;
    }();
    return value;
}
#endif

} // namespace

void lowerThisThreadsPriority()
{
#ifdef Q_OS_LINUX
    // On Linux a thread's niceness is its own; raising it needs no privilege.
    const pid_t self = ::gettid();
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, id_t(self));
    if (errno != 0)
        return;
    const int target = std::min(processNiceness() + kBackgroundNiceness, 19);
    if (current < target)
        ::setpriority(PRIO_PROCESS, id_t(self), target);
#endif
}

int thisThreadsLowering()
{
#ifdef Q_OS_LINUX
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    return errno == 0 ? std::max(0, current - processNiceness()) : 0;
#else
    return 0;
#endif
}
