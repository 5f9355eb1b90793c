#pragma once

// safetensors files: an 8-byte little-endian header length, a JSON header naming each
// tensor's dtype, shape and byte range, then the raw little-endian data. Read through a
// memory map; the tensors point into the map, which lives as long as any of them.

#include <torch/torch.h>

#include <map>
#include <memory>
#include <string>

struct TensorFile {
    std::map<std::string, torch::Tensor> tensors;
    std::map<std::string, std::string> metadata;
    std::shared_ptr<void> mapping; // keeps the mapped file alive

    bool has(const std::string &name) const { return tensors.count(name) != 0; }
    // Throws std::runtime_error naming the missing tensor.
    const torch::Tensor &at(const std::string &name) const;
};

// Throws std::runtime_error on an unreadable or malformed file.
TensorFile readSafeTensors(const std::string &path);
// Writes float32/int64 tensors (made contiguous) with the metadata; throws on failure.
void writeSafeTensors(const std::string &path, const std::map<std::string, torch::Tensor> &tensors,
                      const std::map<std::string, std::string> &metadata);
