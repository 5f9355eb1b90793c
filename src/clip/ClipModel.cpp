#include "ClipModel.h"

#include <cmath>
#include <stdexcept>

namespace F = torch::nn::functional;

namespace clipmodel {

int64_t countBlocks(const TensorFile &w, const std::string &prefix)
{
    int64_t count = 0;
    for (auto it = w.tensors.lower_bound(prefix); it != w.tensors.end(); ++it) {
        const std::string &key = it->first;
        if (key.compare(0, prefix.size(), prefix) != 0) break;
        size_t end = prefix.size();
        while (end < key.size() && std::isdigit(static_cast<unsigned char>(key[end]))) ++end;
        if (end == prefix.size() || end >= key.size() || key[end] != '.') continue;
        count = std::max<int64_t>(count, std::stoll(key.substr(prefix.size(), end - prefix.size())) + 1);
    }
    return count;
}

TensorFile selectTower(const TensorFile &all, const std::string &prefix)
{
    TensorFile out;
    out.mapping = all.mapping;
    out.metadata = all.metadata;
    for (const auto &[k, v] : all.tensors)
        if (k.compare(0, prefix.size(), prefix) == 0) out.tensors[k] = v;
    return out;
}

namespace {

torch::Tensor conv(const torch::Tensor &x, const torch::Tensor &w, const torch::Tensor &b, int64_t stride)
{
    const int64_t k = w.size(2);
    const int64_t groups = x.size(1) / w.size(1);
    return F::conv2d(x, w, F::Conv2dFuncOptions().bias(b).stride(stride).padding(k / 2).groups(groups));
}

torch::Tensor batchNorm(const TensorFile &w, const std::string &p, const torch::Tensor &x)
{
    return torch::batch_norm(x, w.at(p + ".weight"), w.at(p + ".bias"), w.at(p + ".running_mean"),
                             w.at(p + ".running_var"), false, 0.0, kNormEps, false);
}

// A convolution followed by its BatchNorm as one kernel and bias.
std::pair<torch::Tensor, torch::Tensor> foldConvBN(const TensorFile &w, const std::string &p)
{
    const torch::Tensor kernel = w.at(p + ".conv.weight");
    const torch::Tensor g = w.at(p + ".bn.weight"), beta = w.at(p + ".bn.bias");
    const torch::Tensor mean = w.at(p + ".bn.running_mean"), var = w.at(p + ".bn.running_var");
    const torch::Tensor factor = g / torch::sqrt(var + kNormEps);
    return {kernel * factor.view({-1, 1, 1, 1}), beta - mean * factor};
}

// The identity as a grouped k x k kernel over `channels` inputs with `inPerGroup` per group.
torch::Tensor identityKernel(int64_t channels, int64_t inPerGroup, int64_t k)
{
    torch::Tensor id = torch::zeros({channels, inPerGroup, k, k});
    auto a = id.accessor<float, 4>();
    for (int64_t i = 0; i < channels; ++i)
        a[i][i % inPerGroup][k / 2][k / 2] = 1.0f;
    return id;
}

// A BatchNorm-only identity branch as a kernel and bias.
std::pair<torch::Tensor, torch::Tensor> foldIdentityBN(const TensorFile &w, const std::string &p, int64_t inPerGroup,
                                                       int64_t k)
{
    const torch::Tensor g = w.at(p + ".weight"), beta = w.at(p + ".bias");
    const torch::Tensor mean = w.at(p + ".running_mean"), var = w.at(p + ".running_var");
    const torch::Tensor factor = g / torch::sqrt(var + kNormEps);
    const torch::Tensor kernel = identityKernel(g.size(0), inPerGroup, k) * factor.view({-1, 1, 1, 1});
    return {kernel, beta - mean * factor};
}

torch::Tensor padTo(const torch::Tensor &kernel, int64_t k)
{
    const int64_t pad = (k - kernel.size(2)) / 2;
    if (pad == 0) return kernel;
    return F::pad(kernel, F::PadFuncOptions({pad, pad, pad, pad}));
}

// MobileOne branches (kxk convolutions, a 1x1 scale branch, a BN identity) as one kernel.
// `k` and `inPerGroup` say the kernel's form when only the identity branch exists.
std::pair<torch::Tensor, torch::Tensor> foldMobileOne(const TensorFile &w, const std::string &p, int64_t k,
                                                      int64_t inPerGroup)
{
    torch::Tensor kernel, bias;
    auto add = [&](std::pair<torch::Tensor, torch::Tensor> branch) {
        branch.first = padTo(branch.first, k);
        if (!kernel.defined()) {
            kernel = branch.first;
            bias = branch.second;
        } else {
            kernel = kernel + branch.first;
            bias = bias + branch.second;
        }
    };
    for (int64_t i = 0; w.has(p + ".conv_kxk." + std::to_string(i) + ".conv.weight"); ++i)
        add(foldConvBN(w, p + ".conv_kxk." + std::to_string(i)));
    if (w.has(p + ".conv_scale.conv.weight")) add(foldConvBN(w, p + ".conv_scale"));
    if (w.has(p + ".identity.weight")) add(foldIdentityBN(w, p + ".identity", inPerGroup, k));
    if (!kernel.defined()) throw std::runtime_error("no branches in " + p);
    return {kernel, bias};
}

void put(std::map<std::string, torch::Tensor> &out, const std::string &p, std::pair<torch::Tensor, torch::Tensor> kb)
{
    out[p + ".reparam_conv.weight"] = kb.first.contiguous();
    out[p + ".reparam_conv.bias"] = kb.second.contiguous();
}

} // namespace

int64_t ImageTower::dimension() const { return m_w.at("visual.trunk.head.fc.weight").size(0); }

torch::Tensor ImageTower::convBN(const std::string &p, const torch::Tensor &x, int64_t stride) const
{
    if (m_w.has(p + ".reparam_conv.weight"))
        return conv(x, m_w.at(p + ".reparam_conv.weight"), m_w.at(p + ".reparam_conv.bias"), stride);
    return batchNorm(m_w, p + ".bn", conv(x, m_w.at(p + ".conv.weight"), {}, stride));
}

torch::Tensor ImageTower::squeezeExcite(const std::string &p, const torch::Tensor &x) const
{
    torch::Tensor s = x.mean({2, 3}, true);
    s = torch::relu(F::conv2d(s, m_w.at(p + ".fc1.weight"), F::Conv2dFuncOptions().bias(m_w.at(p + ".fc1.bias"))));
    s = F::conv2d(s, m_w.at(p + ".fc2.weight"), F::Conv2dFuncOptions().bias(m_w.at(p + ".fc2.bias")));
    return x * torch::sigmoid(s);
}

torch::Tensor ImageTower::mobileOne(const std::string &p, const torch::Tensor &x, int64_t stride, bool act) const
{
    torch::Tensor y;
    if (m_w.has(p + ".reparam_conv.weight")) {
        y = conv(x, m_w.at(p + ".reparam_conv.weight"), m_w.at(p + ".reparam_conv.bias"), stride);
    } else {
        auto add = [&](const torch::Tensor &t) { y = y.defined() ? y + t : t; };
        if (m_w.has(p + ".identity.weight")) add(batchNorm(m_w, p + ".identity", x));
        if (m_w.has(p + ".conv_scale.conv.weight")) add(convBN(p + ".conv_scale", x, stride));
        for (int64_t i = 0; m_w.has(p + ".conv_kxk." + std::to_string(i) + ".conv.weight"); ++i)
            add(convBN(p + ".conv_kxk." + std::to_string(i), x, stride));
        if (!y.defined()) throw std::runtime_error("no branches in " + p);
    }
    if (m_w.has(p + ".se.fc1.weight")) y = squeezeExcite(p + ".se", y);
    return act ? torch::gelu(y) : y;
}

torch::Tensor ImageTower::convMlp(const std::string &p, const torch::Tensor &x) const
{
    torch::Tensor y = convBN(p + ".conv", x, 1);
    y = F::conv2d(y, m_w.at(p + ".fc1.weight"), F::Conv2dFuncOptions().bias(m_w.at(p + ".fc1.bias")));
    y = torch::gelu(y);
    return F::conv2d(y, m_w.at(p + ".fc2.weight"), F::Conv2dFuncOptions().bias(m_w.at(p + ".fc2.bias")));
}

torch::Tensor ImageTower::attention(const std::string &p, const torch::Tensor &x) const
{
    constexpr int64_t kHeadDim = 32;
    const int64_t B = x.size(0), C = x.size(1), H = x.size(2), W = x.size(3), N = H * W;
    const int64_t heads = C / kHeadDim;
    torch::Tensor t = x.flatten(2).transpose(1, 2); // B,N,C
    torch::Tensor qkv = F::linear(t, m_w.at(p + ".qkv.weight"),
                                  m_w.has(p + ".qkv.bias") ? m_w.at(p + ".qkv.bias") : torch::Tensor());
    qkv = qkv.reshape({B, N, 3, heads, kHeadDim}).permute({2, 0, 3, 1, 4});
    const torch::Tensor q = qkv[0] * (1.0 / std::sqrt(double(kHeadDim))), k = qkv[1], v = qkv[2];
    torch::Tensor a = torch::softmax(torch::matmul(q, k.transpose(-2, -1)), -1);
    torch::Tensor o = torch::matmul(a, v).transpose(1, 2).reshape({B, N, C});
    o = F::linear(o, m_w.at(p + ".proj.weight"), m_w.at(p + ".proj.bias"));
    return o.transpose(1, 2).reshape({B, C, H, W});
}

void ImageTower::useChannelsLast()
{
    if (m_channelsLast) return;
    for (auto &[key, tensor] : m_w.tensors)
        if (tensor.dim() == 4) tensor = tensor.contiguous(at::MemoryFormat::ChannelsLast);
    m_channelsLast = true;
}

torch::Tensor ImageTower::forward(const torch::Tensor &images) const
{
    torch::NoGradGuard noGrad;
    const std::string t = "visual.trunk.";
    torch::Tensor x = m_channelsLast ? images.contiguous(at::MemoryFormat::ChannelsLast) : images;
    const int64_t stemLayers = countBlocks(m_w, t + "stem.");
    for (int64_t i = 0; i < stemLayers; ++i)
        x = mobileOne(t + "stem." + std::to_string(i), x, i < 2 ? 2 : 1, true);
    const int64_t stages = countBlocks(m_w, t + "stages.");
    for (int64_t s = 0; s < stages; ++s) {
        const std::string sp = t + "stages." + std::to_string(s);
        if (countBlocks(m_w, sp + ".downsample.proj.") > 0) {
            const std::string large = sp + ".downsample.proj.0";
            if (m_w.has(large + ".reparam_conv.weight")) {
                x = conv(x, m_w.at(large + ".reparam_conv.weight"), m_w.at(large + ".reparam_conv.bias"), 2);
            } else {
                x = convBN(large + ".large_conv", x, 2) + convBN(large + ".small_conv", x, 2);
            }
            if (m_w.has(large + ".se.fc1.weight")) x = squeezeExcite(large + ".se", x);
            x = torch::gelu(x);
            x = mobileOne(sp + ".downsample.proj.1", x, 1, true);
        }
        const std::string pe = sp + ".pos_emb";
        if (m_w.has(pe + ".reparam_conv.weight"))
            x = conv(x, m_w.at(pe + ".reparam_conv.weight"), m_w.at(pe + ".reparam_conv.bias"), 1);
        else if (m_w.has(pe + ".pos_enc.weight"))
            x = x + conv(x, m_w.at(pe + ".pos_enc.weight"), m_w.at(pe + ".pos_enc.bias"), 1);
        const int64_t blocks = countBlocks(m_w, sp + ".blocks.");
        for (int64_t b = 0; b < blocks; ++b) {
            const std::string bp = sp + ".blocks." + std::to_string(b);
            if (m_w.has(bp + ".token_mixer.qkv.weight")) {
                const torch::Tensor normed = batchNorm(m_w, bp + ".norm", x);
                x = x + m_w.at(bp + ".layer_scale_1.gamma") * attention(bp + ".token_mixer", normed);
                x = x + m_w.at(bp + ".layer_scale_2.gamma") * convMlp(bp + ".mlp", x);
            } else {
                const std::string mp = bp + ".token_mixer";
                if (m_w.has(mp + ".reparam_conv.weight")) {
                    x = conv(x, m_w.at(mp + ".reparam_conv.weight"), m_w.at(mp + ".reparam_conv.bias"), 1);
                } else {
                    const torch::Tensor mixed = mobileOne(mp + ".mixer", x, 1, false);
                    const torch::Tensor normed = mobileOne(mp + ".norm", x, 1, false);
                    x = x + m_w.at(mp + ".layer_scale.gamma") * (mixed - normed);
                }
                x = x + m_w.at(bp + ".layer_scale.gamma") * convMlp(bp + ".mlp", x);
            }
        }
    }
    x = mobileOne(t + "final_conv", x, 1, true);
    x = x.mean({2, 3});
    return F::linear(x, m_w.at(t + "head.fc.weight"), m_w.at(t + "head.fc.bias"));
}

std::map<std::string, torch::Tensor> ImageTower::folded() const
{
    torch::NoGradGuard noGrad;
    std::map<std::string, torch::Tensor> out;
    // Tensors that stay as they are: SE, attention, MLP 1x1s, layer scales, the head.
    auto keep = [&](const std::string &key) { out[key] = m_w.at(key).contiguous(); };
    auto keepPrefix = [&](const std::string &prefix) {
        for (auto it = m_w.tensors.lower_bound(prefix); it != m_w.tensors.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
            if (it->first.find("num_batches_tracked") == std::string::npos) out[it->first] = it->second.contiguous();
    };
    // A MobileOne unit: its kernel size and grouping come from its kxk (or scale) branch.
    auto foldUnit = [&](const std::string &p) {
        const std::string probe = m_w.has(p + ".conv_kxk.0.conv.weight") ? p + ".conv_kxk.0.conv.weight" : p + ".conv_scale.conv.weight";
        const torch::Tensor &k = m_w.at(probe);
        put(out, p, foldMobileOne(m_w, p, k.size(2), k.size(1)));
        if (m_w.has(p + ".se.fc1.weight")) keepPrefix(p + ".se.");
    };
    const std::string t = "visual.trunk.";
    for (int64_t i = 0; i < countBlocks(m_w, t + "stem."); ++i)
        foldUnit(t + "stem." + std::to_string(i));
    for (int64_t s = 0; s < countBlocks(m_w, t + "stages."); ++s) {
        const std::string sp = t + "stages." + std::to_string(s);
        if (countBlocks(m_w, sp + ".downsample.proj.") > 0) {
            const std::string large = sp + ".downsample.proj.0";
            auto big = foldConvBN(m_w, large + ".large_conv");
            auto small = foldConvBN(m_w, large + ".small_conv");
            const int64_t k = big.first.size(2);
            put(out, large, {big.first + padTo(small.first, k), big.second + small.second});
            if (m_w.has(large + ".se.fc1.weight")) keepPrefix(large + ".se.");
            foldUnit(sp + ".downsample.proj.1");
        }
        const std::string pe = sp + ".pos_emb";
        if (m_w.has(pe + ".pos_enc.weight")) {
            const torch::Tensor &w = m_w.at(pe + ".pos_enc.weight");
            put(out, pe, {identityKernel(w.size(0), w.size(1), w.size(2)) + w, m_w.at(pe + ".pos_enc.bias")});
        }
        for (int64_t b = 0; b < countBlocks(m_w, sp + ".blocks."); ++b) {
            const std::string bp = sp + ".blocks." + std::to_string(b);
            put(out, bp + ".mlp.conv", foldConvBN(m_w, bp + ".mlp.conv"));
            for (const char *name : {".mlp.fc1.weight", ".mlp.fc1.bias", ".mlp.fc2.weight", ".mlp.fc2.bias"})
                keep(bp + name);
            if (m_w.has(bp + ".token_mixer.qkv.weight")) {
                keepPrefix(bp + ".norm.");
                keepPrefix(bp + ".token_mixer.");
                keep(bp + ".layer_scale_1.gamma");
                keep(bp + ".layer_scale_2.gamma");
            } else {
                // x + gamma * (mixer(x) - norm(x)) as one depthwise convolution.
                const std::string mp = bp + ".token_mixer";
                const torch::Tensor &probe = m_w.at(mp + ".mixer.conv_kxk.0.conv.weight");
                const int64_t k = probe.size(2), inPerGroup = probe.size(1);
                const auto mixer = foldMobileOne(m_w, mp + ".mixer", k, inPerGroup);
                const auto norm = foldMobileOne(m_w, mp + ".norm", k, inPerGroup);
                const torch::Tensor gamma = m_w.at(mp + ".layer_scale.gamma").flatten();
                const torch::Tensor kernel = identityKernel(gamma.size(0), inPerGroup, k) +
                                             gamma.view({-1, 1, 1, 1}) * (mixer.first - norm.first);
                put(out, mp, {kernel, gamma * (mixer.second - norm.second)});
                keep(bp + ".layer_scale.gamma");
            }
        }
    }
    foldUnit(t + "final_conv");
    keepPrefix(t + "head.");
    return out;
}

int64_t TextTower::dimension() const { return m_w.at("text.text_projection").size(1); }
int64_t TextTower::vocabularySize() const { return m_w.at("text.token_embedding.weight").size(0); }
int64_t TextTower::width() const { return m_w.at("text.token_embedding.weight").size(1); }

torch::Tensor TextTower::forward(const torch::Tensor &ids) const
{
    torch::NoGradGuard noGrad;
    const torch::Tensor &embedding = m_w.at("text.token_embedding.weight");
    const int64_t B = ids.size(0), L = ids.size(1), W = embedding.size(1);
    if (m_heads <= 0 || W % m_heads != 0) throw std::runtime_error("text width not divisible by the head count");
    const int64_t D = W / m_heads;
    torch::Tensor x = embedding.index_select(0, ids.reshape({-1})).view({B, L, W}) +
                      m_w.at("text.positional_embedding").slice(0, 0, L);
    const int64_t layers = countBlocks(m_w, "text.transformer.resblocks.");
    for (int64_t l = 0; l < layers; ++l) {
        const std::string p = "text.transformer.resblocks." + std::to_string(l);
        torch::Tensor h = torch::layer_norm(x, {W}, m_w.at(p + ".ln_1.weight"), m_w.at(p + ".ln_1.bias"), kNormEps);
        torch::Tensor qkv = F::linear(h, m_w.at(p + ".attn.in_proj_weight"), m_w.at(p + ".attn.in_proj_bias"));
        qkv = qkv.view({B, L, 3, m_heads, D}).permute({2, 0, 3, 1, 4});
        // No causal and no padding mask: every position sees every other, padding included.
        const torch::Tensor q = qkv[0] * (1.0 / std::sqrt(double(D))), k = qkv[1], v = qkv[2];
        torch::Tensor a = torch::softmax(torch::matmul(q, k.transpose(-2, -1)), -1);
        h = torch::matmul(a, v).transpose(1, 2).reshape({B, L, W});
        x = x + F::linear(h, m_w.at(p + ".attn.out_proj.weight"), m_w.at(p + ".attn.out_proj.bias"));
        h = torch::layer_norm(x, {W}, m_w.at(p + ".ln_2.weight"), m_w.at(p + ".ln_2.bias"), kNormEps);
        h = torch::gelu(F::linear(h, m_w.at(p + ".mlp.c_fc.weight"), m_w.at(p + ".mlp.c_fc.bias")));
        x = x + F::linear(h, m_w.at(p + ".mlp.c_proj.weight"), m_w.at(p + ".mlp.c_proj.bias"));
    }
    x = torch::layer_norm(x, {W}, m_w.at("text.ln_final.weight"), m_w.at("text.ln_final.bias"), kNormEps);
    // The end token has the largest id; argmax takes its first occurrence.
    const torch::Tensor at = ids.argmax(-1);
    const torch::Tensor pooled = x.index({torch::arange(B), at});
    return pooled.matmul(m_w.at("text.text_projection"));
}

} // namespace clipmodel
