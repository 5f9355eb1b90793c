#include "MemoryTuning.h"

#include <malloc.h>

void tuneMemoryForLargeLibraries()
{
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
}
