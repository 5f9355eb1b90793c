#pragma once

// Keeps the heap from being trimmed after each rebuild, so rebuilding a million-row tree
// reuses memory instead of faulting in fresh pages every time. Blocks of 4 MB and up
// (decoded video frames, mostly) get mappings of their own that go back to the system when
// freed: kept in the heap, the frames of every file ever played stayed resident. The
// decoder threads share at most four heaps, each of which would otherwise keep its own.
void tuneMemoryForLargeLibraries();

// Hands the heap's free pages back to the system, off the calling thread; calls made while
// one is under way are folded into it. Called a moment after the player switches files.
void releaseFreeMemorySoon();
