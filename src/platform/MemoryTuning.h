#pragma once

// Keeps large allocations (row lists and trees of big libraries) in the heap and the
// heap from being trimmed after each rebuild, so rebuilding a million-row tree reuses
// memory instead of faulting in fresh pages every time.
void tuneMemoryForLargeLibraries();
