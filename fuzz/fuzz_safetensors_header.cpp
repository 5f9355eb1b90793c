// The safetensors header of a model file: either a clean error or ranges that lie inside
// the data and match their shapes.
#include "clip/SafeTensorsHeader.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<unsigned char> copy(data, data + size);
    try {
        const SafeTensorsHeader header = parseSafeTensorsHeader(copy.data(), copy.size());
        for (const auto &[name, entry] : header.entries) {
            if (header.dataOffset + entry.end > copy.size()) std::abort();
            uint64_t count = 1;
            for (int64_t d : entry.shape) count *= uint64_t(d);
            if (entry.end - entry.begin != count * uint64_t(entry.elementSize())) std::abort();
        }
    } catch (const std::runtime_error &) {
    }
    return 0;
}
