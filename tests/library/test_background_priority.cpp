#include "library/BackgroundPriority.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace {

int ownNiceness()
{
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    EXPECT_EQ(errno, 0);
    return nice;
}

} // namespace

// Background work runs below the GUI thread, once lowered stays there (however often it is
// asked), passes that on to the threads it starts, and leaves the thread that asked alone.
TEST(BackgroundPriority, LowersOnlyTheWorkersThread)
{
    const int gui = ownNiceness();
    if (gui >= 19)
        GTEST_SKIP() << "already at the lowest priority";
    int lowered = 0, again = 0, started = 0;
    std::thread worker(inBackground([&] {
        lowered = ownNiceness();
        lowerThisThreadsPriority();
        again = ownNiceness();
        std::thread([&] { started = ownNiceness(); }).join();
    }));
    worker.join();
    EXPECT_EQ(ownNiceness(), gui);
    EXPECT_GT(lowered, gui);
    EXPECT_LE(lowered, 19);
    EXPECT_EQ(again, lowered);
    EXPECT_EQ(started, lowered);
}
