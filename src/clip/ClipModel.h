#pragma once

// The two towers of MobileCLIP-S2 on libtorch's functional API. Every size comes from the
// tensor shapes and every block count from the keys, so the same code runs the published
// weights and the small test model. Each building block runs either its training-time
// branches or, when present, the single convolution they fold into (`reparam_conv`).

#include "SafeTensors.h"

#include <optional>

namespace clipmodel {

constexpr double kNormEps = 1e-5;

class ImageTower
{
public:
    explicit ImageTower(TensorFile weights) : m_w(std::move(weights)) {}
    bool loaded() const { return m_w.has("visual.trunk.head.fc.weight"); }
    int64_t dimension() const;
    // [B,3,256,256] floats in 0..1 -> [B,dim] raw embeddings. A batch runs as one: each
    // operation spreads its B images over the worker threads.
    torch::Tensor forward(const torch::Tensor &images) const;
    // The inference form: every BatchNorm and parallel branch folded into one convolution.
    std::map<std::string, torch::Tensor> folded() const;
    const TensorFile &weights() const { return m_w; }
    // Runs the convolutions on channels-last (NHWC) tensors: the kernels are copied into
    // that layout once, and each forward's input is laid out so. The results are the same
    // to within float rounding.
    void useChannelsLast();
    bool channelsLast() const { return m_channelsLast; }

private:
    torch::Tensor mobileOne(const std::string &p, const torch::Tensor &x, int64_t stride, bool act) const;
    torch::Tensor convBN(const std::string &p, const torch::Tensor &x, int64_t stride) const;
    torch::Tensor squeezeExcite(const std::string &p, const torch::Tensor &x) const;
    torch::Tensor convMlp(const std::string &p, const torch::Tensor &x) const;
    torch::Tensor attention(const std::string &p, const torch::Tensor &x) const;

    TensorFile m_w;
    bool m_channelsLast = false;
};

class TextTower
{
public:
    // heads: the attention head count, which no shape shows.
    TextTower(TensorFile weights, int64_t heads) : m_w(std::move(weights)), m_heads(heads) {}
    bool loaded() const { return m_w.has("text.text_projection"); }
    int64_t dimension() const;
    int64_t vocabularySize() const;
    int64_t width() const;
    int64_t heads() const { return m_heads; }
    // [B,77] int64 ids -> [B,dim] raw embeddings.
    torch::Tensor forward(const torch::Tensor &ids) const;
    const TensorFile &weights() const { return m_w; }

private:
    TensorFile m_w;
    int64_t m_heads;
};

// Number of N in keys "<prefix>N." (0 when there are none).
int64_t countBlocks(const TensorFile &w, const std::string &prefix);

// The tensors of one tower from a file holding both (or one) towers.
TensorFile selectTower(const TensorFile &all, const std::string &prefix);

} // namespace clipmodel
