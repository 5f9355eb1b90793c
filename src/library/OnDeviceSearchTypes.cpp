#include "OnDeviceSearchTypes.h"

#include <algorithm>
#include <cmath>

QuantizedEmbedding QuantizedEmbedding::fromVector(std::span<const float> vector)
{
    float maxAbs = 0;
    for (float x : vector)
        maxAbs = std::max(maxAbs, std::fabs(x));
    QuantizedEmbedding q;
    q.scale = maxAbs / 127.0f;
    if (!(q.scale > 1e-6f))
        q.scale = 1e-6f;
    q.data.resize(qsizetype(vector.size()));
    for (size_t i = 0; i < vector.size(); ++i) {
        const float r = std::round(vector[i] / q.scale); // std::round takes halves away from zero
        q.data[qsizetype(i)] = qint8(std::clamp(r, -128.0f, 127.0f));
    }
    return q;
}

float QuantizedEmbedding::dot(std::span<const float> query) const
{
    if (query.empty() || data.isEmpty() || qsizetype(query.size()) != data.size())
        return 0;
    const qint8 *bytes = data.constData();
    float sum = 0;
    for (size_t i = 0; i < query.size(); ++i)
        sum += query[i] * float(bytes[i]);
    return scale * sum;
}

std::vector<float> QuantizedEmbedding::dequantized() const
{
    std::vector<float> out(size_t(data.size()));
    for (qsizetype i = 0; i < data.size(); ++i)
        out[size_t(i)] = scale * float(data[i]);
    return out;
}

SearchHitMap mergeSearchHits(SearchHitMap visual, const SearchHitMap &speech)
{
    constexpr qsizetype kMaxMoments = 6;
    for (auto it = speech.cbegin(); it != speech.cend(); ++it) {
        auto found = visual.find(it.key());
        if (found == visual.end()) {
            visual.insert(it.key(), it.value());
            continue;
        }
        VisualSearchHit &hit = found.value();
        const VisualSearchHit &spoken = it.value();
        hit.score = std::max(hit.score, spoken.score);
        if (spoken.bestTimestamp) hit.bestTimestamp = spoken.bestTimestamp;
        hit.moments.append(spoken.moments);
        std::stable_sort(hit.moments.begin(), hit.moments.end(),
                         [](const VisualSearchMoment &a, const VisualSearchMoment &b) { return a.timestamp < b.timestamp; });
        if (hit.moments.size() > kMaxMoments) hit.moments.resize(kMaxMoments);
        hit.isSpeechMatch = true;
    }
    return visual;
}
