#include "OnDeviceSearchTypes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

namespace {

// The inner loop of the visual search (a million keyframes per query). Sixteen partial
// sums in two vector registers keep the multiply-adds independent; a plain running sum
// would wait on each addition in turn.
using Floats8 = float __attribute__((vector_size(32)));
using Bytes8 = signed char __attribute__((vector_size(8)));

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
float dotBytes(const float *query, const qint8 *bytes, size_t n)
{
    Floats8 acc0 = {}, acc1 = {};
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        Bytes8 b0, b1;
        Floats8 q0, q1;
        std::memcpy(&b0, bytes + i, sizeof b0);
        std::memcpy(&b1, bytes + i + 8, sizeof b1);
        std::memcpy(&q0, query + i, sizeof q0);
        std::memcpy(&q1, query + i + 8, sizeof q1);
        acc0 += q0 * __builtin_convertvector(b0, Floats8);
        acc1 += q1 * __builtin_convertvector(b1, Floats8);
    }
    const Floats8 acc = acc0 + acc1;
    float sum = 0;
    for (int k = 0; k < 8; ++k)
        sum += acc[k];
    for (; i < n; ++i)
        sum += query[i] * float(bytes[i]);
    return sum;
}

} // namespace

float QuantizedEmbedding::dot(std::span<const float> query) const
{
    if (query.empty() || data.isEmpty() || qsizetype(query.size()) != data.size())
        return 0;
    return scale * dotBytes(query.data(), data.constData(), query.size());
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

QStringList VideoVisualIndexEntry::topLabels() const
{
    QList<std::pair<QString, float>> kept;
    for (auto it = labelsEN.cbegin(); it != labelsEN.cend(); ++it)
        if (it.value() >= 0.22f)
            kept.append({it.key(), it.value()});
    std::sort(kept.begin(), kept.end(), [](const auto &a, const auto &b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    QStringList out;
    for (qsizetype i = 0; i < kept.size() && i < 8; ++i)
        out.append(QString(kept[i].first).replace(u'_', u' '));
    return out;
}

bool VideoVisualIndexEntry::hasSceneEmbeddings(qsizetype dimension) const
{
    if (clipEmbeddings.isEmpty())
        return false;
    if (dimension <= 0)
        return true;
    for (const QuantizedEmbedding &e : clipEmbeddings)
        if (e.data.size() != dimension)
            return false;
    for (const IndexedFrameMoment &m : frameMoments)
        if (m.clipEmbedding && m.clipEmbedding->data.size() != dimension)
            return false;
    return true;
}
