// The scope cache file: any bytes decode to a cache or to nothing; a decoded cache
// encodes and decodes back to itself.
#include "library/ScopeCache.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<ScopeCache> cache = ScopeCacheCodec::decode(bytes);
    if (cache && ScopeCacheCodec::decode(ScopeCacheCodec::encode(*cache)) != cache) std::abort();
    return 0;
}
