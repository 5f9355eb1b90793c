// The safetensors header of a model file and the towers' checks of its shapes: either a
// clean error or ranges that lie inside the data, match their shapes, and shapes the towers
// can compute with (no zero-sized dimension, no absurd block index).
#include "clip/SafeTensorsHeader.h"
#include "clip/TowerShapes.h"

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
        if (towershapes::problem(header.entries)) return 0;
        for (const auto &[name, entry] : header.entries) {
            if (entry.shape.size() > towershapes::kMaxRank) std::abort();
            for (int64_t d : entry.shape)
                if (d <= 0) std::abort();
        }
    } catch (const std::runtime_error &) {
    }
    return 0;
}
