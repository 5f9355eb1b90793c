#include "TowerShapes.h"

namespace towershapes {

namespace {

bool endsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Every all-digit part of a dotted key stays a small block index (digits are counted before
// any conversion, so no length of digits can overflow).
bool indicesSmall(const std::string &key)
{
    size_t start = 0;
    while (start <= key.size()) {
        size_t end = key.find('.', start);
        if (end == std::string::npos) end = key.size();
        const std::string part = key.substr(start, end - start);
        bool digits = !part.empty();
        for (char c : part) digits = digits && c >= '0' && c <= '9';
        if (digits && (part.size() > 4 || std::stoll(part) > kMaxBlockIndex)) return false;
        start = end + 1;
    }
    return true;
}

const SafeTensorsEntry *find(const std::map<std::string, SafeTensorsEntry> &entries, const std::string &key)
{
    const auto it = entries.find(key);
    return it == entries.end() ? nullptr : &it->second;
}

// The first dimension, -1 for a scalar.
int64_t first(const SafeTensorsEntry &e) { return e.shape.empty() ? -1 : e.shape[0]; }

} // namespace

std::optional<std::string> problem(const std::map<std::string, SafeTensorsEntry> &entries)
{
    for (const auto &[key, e] : entries) {
        if (!indicesSmall(key)) return "the block index in " + key + " is out of range";
        if (e.shape.size() > kMaxRank) return key + " has too many dimensions";
        for (int64_t d : e.shape)
            if (d <= 0) return key + " has a dimension of size zero";
        // Integers only count BatchNorm updates; the towers compute with floats alone.
        if (e.dtype != SafeTensorsEntry::DType::Float32 && !endsWith(key, ".num_batches_tracked"))
            return key + " is not float32";
        if (e.shape.size() == 4) {
            const int64_t k = e.shape[2];
            if (e.shape[3] != k || k % 2 == 0 || k > kMaxKernelSide) return key + " is not a square kernel of odd size";
        }
    }
    for (const auto &[key, e] : entries) {
        // A BatchNorm's four vectors have one length...
        if (endsWith(key, ".running_var")) {
            const std::string p = key.substr(0, key.size() - std::string(".running_var").size());
            for (const char *part : {".weight", ".bias", ".running_mean"}) {
                const SafeTensorsEntry *sibling = find(entries, p + part);
                if (!sibling || sibling->shape.size() != 1 || e.shape.size() != 1 || first(*sibling) != first(e))
                    return "the BatchNorm " + p + " has inconsistent shapes";
            }
        }
        // ...which is the output channel count of the convolution it follows,
        if (endsWith(key, ".conv.weight")) {
            const std::string p = key.substr(0, key.size() - std::string(".conv.weight").size());
            const SafeTensorsEntry *bn = find(entries, p + ".bn.weight");
            if (e.shape.size() != 4 || (bn && (bn->shape.size() != 1 || first(*bn) != first(e))))
                return "the convolution " + p + " does not fit its BatchNorm";
        }
        // ...and of the branches an identity branch is added to.
        if (endsWith(key, ".identity.weight")) {
            const std::string p = key.substr(0, key.size() - std::string(".identity.weight").size());
            for (const char *branch : {".conv_kxk.0.conv.weight", ".conv_scale.conv.weight"}) {
                const SafeTensorsEntry *conv = find(entries, p + branch);
                if (conv && (e.shape.size() != 1 || conv->shape.size() != 4 || first(*conv) != first(e)))
                    return "the identity branch of " + p + " does not fit its convolutions";
            }
        }
        if (endsWith(key, ".reparam_conv.weight") || endsWith(key, ".pos_enc.weight")) {
            if (e.shape.size() != 4) return key + " is not a convolution kernel";
        }
    }
    return std::nullopt;
}

} // namespace towershapes
