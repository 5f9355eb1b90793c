#pragma once

#include <utility>

// Work the user is not waiting on at this moment (scans, tree builds, thumbnails, indexing)
// runs below the GUI thread's priority: with every core busy, the window and the display
// server still get their turn. Threads and programs a lowered thread starts inherit it.
// Qt's own paint and image helpers use the global thread pool; lowered work stays off it.
void lowerThisThreadsPriority();

// How many levels below the main thread's priority this thread runs (0 where threads have
// no priority of their own): what a program it starts inherits on top of the app's own.
int thisThreadsLowering();

// `job` wrapped so that it lowers the thread it runs on first.
template <typename Job> auto inBackground(Job job)
{
    return [job = std::move(job)]() mutable {
        lowerThisThreadsPriority();
        job();
    };
}
