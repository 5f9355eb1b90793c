#pragma once

// The header of a safetensors file, read without libtorch: an 8-byte little-endian header
// length, then a JSON object naming each tensor's dtype, shape and byte range in the data
// that follows. Every range is checked against the data's size here, so the reader that
// maps tensors onto the file can trust it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SafeTensorsEntry {
    enum class DType { Float32, Int64 };
    DType dtype = DType::Float32;
    std::vector<int64_t> shape;
    uint64_t begin = 0; // byte range within the data that follows the header
    uint64_t end = 0;
    int64_t elementSize() const { return dtype == DType::Int64 ? 8 : 4; }
};

struct SafeTensorsHeader {
    std::map<std::string, SafeTensorsEntry> entries;
    std::map<std::string, std::string> metadata;
    uint64_t dataOffset = 0; // where the data begins in the file
};

// `bytes` is the whole file. Throws std::runtime_error on any malformed header: a length
// past the file, text that is not a JSON object, an unknown dtype, a shape that is not
// non-negative integers, or a byte range that is outside the data or does not match the shape.
SafeTensorsHeader parseSafeTensorsHeader(const unsigned char *bytes, size_t size);
