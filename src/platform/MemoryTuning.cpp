#include "MemoryTuning.h"

#include <QThreadPool>

#include <atomic>
#include <malloc.h>

void tuneMemoryForLargeLibraries()
{
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    mallopt(M_ARENA_MAX, 4);
}

void releaseFreeMemorySoon()
{
    static std::atomic<bool> queued{false};
    if (queued.exchange(true))
        return;
    QThreadPool::globalInstance()->start([] {
        queued = false;
        malloc_trim(0);
    });
}
