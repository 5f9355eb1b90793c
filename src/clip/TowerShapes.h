#pragma once

// Checks of a model file's tensor shapes and key names made before any tensor is computed
// with: the towers take every size from the shapes and every block count from the keys, so
// a crafted file could otherwise divide by a zero-sized dimension, index outside a kernel,
// or loop over billions of missing blocks. Needs no libtorch, so the fuzz target runs it.

#include "SafeTensorsHeader.h"

#include <map>
#include <optional>
#include <string>

namespace towershapes {

// Far above any block count of the towers (the published model's largest is 23).
constexpr int64_t kMaxBlockIndex = 1023;
// Kernels are square and odd; the published model's largest is 7.
constexpr int64_t kMaxKernelSide = 31;
constexpr size_t kMaxRank = 4;

// The reason the tensors cannot be a tower, or none.
std::optional<std::string> problem(const std::map<std::string, SafeTensorsEntry> &entries);

} // namespace towershapes
