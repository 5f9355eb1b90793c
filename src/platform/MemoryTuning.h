#pragma once

// Keeps large allocations (row lists and trees of big libraries) in the heap and the
// heap from being trimmed after each rebuild, so rebuilding a million-row tree reuses
// memory instead of faulting in fresh pages every time. The decoder threads share at most
// four heaps: each heap of its own kept the pages of every frame it ever decoded.
void tuneMemoryForLargeLibraries();

// Hands the heap's free pages back to the system, off the calling thread; calls made while
// one is under way are folded into it. Called a moment after the player switches files, as
// the previous file's decoders and frames are gone by then.
void releaseFreeMemorySoon();
