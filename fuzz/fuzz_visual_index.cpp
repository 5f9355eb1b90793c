// The visual index file, read straight from the bytes as it is from its memory map.
#include "search/VisualIndexFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly `size` bytes, so a read past the end is caught.
    std::vector<char> copy(data, data + size);
    const VisualIndexFile::LoadResult result = VisualIndexFile::decode(copy.data(), copy.data() + copy.size());
    // What loaded is saved whole: its text reads back without loss. (Encoding allocates
    // a large buffer, so only inputs that loaded something pay for it.)
    if (result.entries.isEmpty()) return 0;
    const VisualIndexFile::LoadResult again = VisualIndexFile::decode(VisualIndexFile::encode(result.entries));
    if (again.lostAnything() || again.entries.size() != result.entries.size()) std::abort();
    return 0;
}
