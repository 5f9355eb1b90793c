// The similar half of DuplicateVideoService: one unit vector per indexed video, every pair
// at or above a threshold, and the connected sets of linked videos.

#include "tools/DuplicateVideoService.h"

#include <QHash>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <numeric>
#include <thread>

#include <immintrin.h>

namespace {

// Unit vectors of one dimension, with an int8 copy for the blocked pass over all pairs.
struct VectorSet {
    int dimension = 0;
    int padded = 0;              // dimension rounded up to 32
    std::vector<int> members;    // indices into the usable videos
    std::vector<const float *> unit;
    std::vector<qint8> quantized; // members x padded, zero padding
    std::vector<float> scale;     // per member
    std::vector<float> norm;      // ||u||
    std::vector<float> residual;  // ||u - scale x q||
    std::vector<qint32> columnSum; // sum of each member's quantized values
};

// The similarity as recorded: single precision, summed in component order.
float exactDot(const float *a, const float *b, int n)
{
    float s = 0;
    for (int k = 0; k < n; ++k) s += a[k] * b[k];
    return s;
}

__attribute__((target("avx2"))) void dotRowAvx2(const qint8 *a, const qint8 *b, int count, int padded, qint32 *out)
{
    int j = 0;
    for (; j + 4 <= count; j += 4) {
        const qint8 *b0 = b + size_t(j) * padded, *b1 = b0 + padded, *b2 = b1 + padded, *b3 = b2 + padded;
        __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
        for (int k = 0; k < padded; k += 16) {
            const __m256i va = _mm256_cvtepi8_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(a + k)));
            s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(va, _mm256_cvtepi8_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(b0 + k)))));
            s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(va, _mm256_cvtepi8_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(b1 + k)))));
            s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(va, _mm256_cvtepi8_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(b2 + k)))));
            s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(va, _mm256_cvtepi8_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(b3 + k)))));
        }
        // Horizontal sums of the four accumulators.
        const __m256i h01 = _mm256_hadd_epi32(s0, s1), h23 = _mm256_hadd_epi32(s2, s3);
        const __m256i h = _mm256_hadd_epi32(h01, h23);
        const __m128i r = _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), r);
    }
    for (; j < count; ++j) {
        const qint8 *bj = b + size_t(j) * padded;
        qint32 s = 0;
        for (int k = 0; k < padded; ++k) s += qint32(a[k]) * qint32(bj[k]);
        out[j] = s;
    }
}

// The same with byte products summed four at a time. The instruction takes one unsigned
// side: the row is biased by 128 (xor 0x80), and 128 x the column's sum is taken off again.
__attribute__((target("avx2,avxvnni"))) void dotRowVnni(const qint8 *a, const qint8 *b, const qint32 *bSums, int count,
                                                         int padded, qint32 *out)
{
    const __m256i bias = _mm256_set1_epi8(char(0x80));
    int j = 0;
    for (; j + 4 <= count; j += 4) {
        const qint8 *b0 = b + size_t(j) * padded, *b1 = b0 + padded, *b2 = b1 + padded, *b3 = b2 + padded;
        __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
        for (int k = 0; k < padded; k += 32) {
            const __m256i va = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + k)), bias);
            s0 = _mm256_dpbusd_avx_epi32(s0, va, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b0 + k)));
            s1 = _mm256_dpbusd_avx_epi32(s1, va, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b1 + k)));
            s2 = _mm256_dpbusd_avx_epi32(s2, va, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b2 + k)));
            s3 = _mm256_dpbusd_avx_epi32(s3, va, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b3 + k)));
        }
        const __m256i h01 = _mm256_hadd_epi32(s0, s1), h23 = _mm256_hadd_epi32(s2, s3);
        const __m256i h = _mm256_hadd_epi32(h01, h23);
        __m128i r = _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
        r = _mm_sub_epi32(r, _mm_slli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bSums + j)), 7));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), r);
    }
    for (; j < count; ++j) {
        const qint8 *bj = b + size_t(j) * padded;
        qint32 s = 0;
        for (int k = 0; k < padded; ++k) s += qint32(a[k]) * qint32(bj[k]);
        out[j] = s;
    }
}

void dotRowPlain(const qint8 *a, const qint8 *b, int count, int padded, qint32 *out)
{
    for (int j = 0; j < count; ++j) {
        const qint8 *bj = b + size_t(j) * padded;
        qint32 s = 0;
        for (int k = 0; k < padded; ++k) s += qint32(a[k]) * qint32(bj[k]);
        out[j] = s;
    }
}

// Every pair of one vector set whose similarity reaches `threshold`. The int8 products
// only rule pairs out: a pair whose approximate similarity, widened by the bound of the
// quantisation error, can reach the threshold gets its exact single-precision dot product,
// so the result equals a plain pass over all pairs.
void pairsOf(const VectorSet &set, float threshold, std::vector<SimilarityPairs::Pair> &out)
{
    const int m = int(set.members.size());
    if (m < 2) return;
    constexpr int kRowBlock = 32, kColBlock = 128;
    const bool avx2 = __builtin_cpu_supports("avx2");
    const bool vnni = avx2 && __builtin_cpu_supports("avxvnni");
    const int padded = set.padded;
    // Slack for the rounding of the exact sum and of the bound itself.
    const double slack = 1e-4 + 1e-6 * set.dimension;
    std::atomic_int nextBlock{0};
    std::mutex mutex;
    const int blocks = (m + kRowBlock - 1) / kRowBlock;
    auto worker = [&] {
        std::vector<SimilarityPairs::Pair> local;
        std::vector<qint32> dots(kColBlock);
        for (;;) {
            const int block = nextBlock.fetch_add(1);
            if (block >= blocks) break;
            const int i0 = block * kRowBlock, i1 = std::min(m, i0 + kRowBlock);
            for (int j0 = i0 + 1; j0 < m; j0 += kColBlock) {
                const int j1 = std::min(m, j0 + kColBlock);
                for (int i = i0; i < i1; ++i) {
                    const int js = std::max(j0, i + 1);
                    if (js >= j1) continue;
                    const qint8 *a = set.quantized.data() + size_t(i) * padded;
                    const qint8 *b = set.quantized.data() + size_t(js) * padded;
                    if (vnni)
                        dotRowVnni(a, b, set.columnSum.data() + js, j1 - js, padded, dots.data());
                    else if (avx2)
                        dotRowAvx2(a, b, j1 - js, padded, dots.data());
                    else
                        dotRowPlain(a, b, j1 - js, padded, dots.data());
                    for (int j = js; j < j1; ++j) {
                        const double approx = double(set.scale[i]) * double(set.scale[j]) * double(dots[size_t(j - js)]);
                        const double bound = double(set.norm[i]) * set.residual[j] + double(set.residual[i]) * set.norm[j]
                                             + double(set.residual[i]) * set.residual[j] + slack;
                        if (approx + bound < double(threshold)) continue;
                        const float s = exactDot(set.unit[i], set.unit[j], set.dimension);
                        if (s >= threshold) local.push_back({set.members[i], set.members[j], s});
                    }
                }
            }
        }
        std::lock_guard lock(mutex);
        out.insert(out.end(), local.begin(), local.end());
    };
    const int threads = int(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1u, 16u));
    if (m < 256 || threads == 1) {
        worker();
        return;
    }
    std::vector<std::jthread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(worker);
}

struct UnionFind {
    std::vector<int> parent;
    explicit UnionFind(int n) : parent(static_cast<size_t>(n)) { std::iota(parent.begin(), parent.end(), 0); }
    int find(int x)
    {
        int root = x;
        while (parent[size_t(root)] != root) root = parent[size_t(root)];
        while (parent[size_t(x)] != root) {
            const int next = parent[size_t(x)];
            parent[size_t(x)] = root;
            x = next;
        }
        return root;
    }
};

} // namespace

std::vector<float> DuplicateVideoService::unitVector(const VideoVisualIndexEntry &entry)
{
    if (entry.clipEmbeddings.isEmpty() || entry.clipEmbeddings.first().data.isEmpty()) return {};
    const qsizetype d = entry.clipEmbeddings.first().data.size();
    std::vector<float> sum(static_cast<size_t>(d), 0.0f);
    for (const QuantizedEmbedding &e : entry.clipEmbeddings) {
        // A keyframe of another dimension comes from another model: left out, never read.
        if (e.data.size() != d) continue;
        for (qsizetype k = 0; k < d; ++k) sum[size_t(k)] += e.scale * float(e.data[k]);
    }
    float squares = 0;
    for (float v : sum) squares += v * v;
    const float n = std::sqrt(squares);
    const float factor = n > 1e-6f ? 1.0f / n : 1e6f;
    for (float &v : sum) v *= factor;
    return sum;
}

SimilarityPairs DuplicateVideoService::similarPairs(const QList<VideoFile> &videos, const VisualIndexMap &entries,
                                                    float minThreshold)
{
    SimilarityPairs result;
    result.minThreshold = minThreshold;
    std::vector<std::vector<float>> units;
    for (const VideoFile &v : videos) {
        const auto it = entries.constFind(v.id);
        if (it == entries.cend()) continue;
        std::vector<float> u = unitVector(*it);
        if (u.empty()) continue;
        result.videos.append(v);
        units.push_back(std::move(u));
    }
    if (units.size() < 2) return result;

    // Vectors of different dimensions come from different models and are never compared.
    QHash<int, int> setOfDimension;
    std::vector<VectorSet> sets;
    for (int i = 0; i < int(units.size()); ++i) {
        const int d = int(units[size_t(i)].size());
        auto it = setOfDimension.constFind(d);
        if (it == setOfDimension.cend()) {
            it = setOfDimension.insert(d, int(sets.size()));
            sets.emplace_back();
            sets.back().dimension = d;
            sets.back().padded = (d + 31) / 32 * 32;
        }
        sets[size_t(*it)].members.push_back(i);
    }
    for (VectorSet &set : sets) {
        const size_t m = set.members.size();
        set.quantized.assign(m * size_t(set.padded), 0);
        set.scale.resize(m);
        set.norm.resize(m);
        set.residual.resize(m);
        for (size_t r = 0; r < m; ++r) {
            const std::vector<float> &u = units[size_t(set.members[r])];
            set.unit.push_back(u.data());
            float maxAbs = 0;
            double norm = 0;
            for (float v : u) {
                maxAbs = std::max(maxAbs, std::fabs(v));
                norm += double(v) * v;
            }
            const float scale = maxAbs > 0 ? maxAbs / 127.0f : 0.0f;
            double residual = 0;
            qint8 *q = set.quantized.data() + r * size_t(set.padded);
            for (int k = 0; k < set.dimension; ++k) {
                const float v = u[size_t(k)];
                const int qi = scale > 0 ? std::clamp(int(std::lround(v / scale)), -127, 127) : 0;
                q[k] = qint8(qi);
                const double e = double(v) - double(scale) * qi;
                residual += e * e;
            }
            qint32 sum = 0;
            for (int k = 0; k < set.dimension; ++k) sum += q[k];
            set.columnSum.push_back(sum);
            set.scale[r] = scale;
            // Rounded up a little so the bound stays a bound in single precision.
            set.norm[r] = float(std::sqrt(norm) * (1 + 1e-6));
            set.residual[r] = float(std::sqrt(residual) * (1 + 1e-6));
        }
        // The quantized rows live in one block; the float vectors stay in `units`.
        pairsOf(set, minThreshold, result.pairs);
    }
    std::sort(result.pairs.begin(), result.pairs.end(), [](const auto &x, const auto &y) {
        return x.a != y.a ? x.a < y.a : x.b < y.b;
    });
    return result;
}

QList<SimilarVideoGroup> DuplicateVideoService::similarGroups(const SimilarityPairs &pairs, float threshold,
                                                              const std::function<bool(const VideoFile &)> &isPresent)
{
    const int m = int(pairs.videos.size());
    if (m < 2) return {};
    std::vector<char> present(static_cast<size_t>(m), 1);
    if (isPresent)
        for (int i = 0; i < m; ++i) present[size_t(i)] = isPresent(pairs.videos[i]) ? 1 : 0;

    UnionFind uf(m);
    // Each video's linked neighbours, ascending: the order in which a pass over pairs
    // (i ascending, then j ascending) records a video's similarities.
    std::vector<std::vector<std::pair<int, float>>> links(static_cast<size_t>(m));
    for (const auto &p : pairs.pairs) {
        if (p.similarity < threshold || !present[size_t(p.a)] || !present[size_t(p.b)]) continue;
        const int ra = uf.find(p.a), rb = uf.find(p.b);
        if (ra != rb) uf.parent[size_t(rb)] = ra;
        links[size_t(p.a)].push_back({p.b, p.similarity});
        links[size_t(p.b)].push_back({p.a, p.similarity});
    }
    QHash<int, int> componentOfRoot;
    std::vector<std::vector<int>> components;
    for (int i = 0; i < m; ++i) {
        if (links[size_t(i)].empty()) continue;
        const int root = uf.find(i);
        auto it = componentOfRoot.constFind(root);
        if (it == componentOfRoot.cend()) {
            it = componentOfRoot.insert(root, int(components.size()));
            components.emplace_back();
        }
        components[size_t(*it)].push_back(i);
    }

    QList<SimilarVideoGroup> groups;
    for (const std::vector<int> &members : components) {
        if (members.size() < 2) continue;
        for (const int x : members)
            std::sort(links[size_t(x)].begin(), links[size_t(x)].end(),
                      [](const auto &p, const auto &q) { return p.first < q.first; });
        float sum = 0;
        qsizetype count = 0;
        for (const int x : members)
            for (const auto &[other, s] : links[size_t(x)]) {
                sum += s;
                ++count;
            }
        std::vector<int> ordered = members;
        std::stable_sort(ordered.begin(), ordered.end(), [&](int a, int b) {
            return pairs.videos[a].fileSize > pairs.videos[b].fileSize;
        });
        SimilarVideoGroup g;
        QStringList ids;
        for (const int x : ordered) {
            g.videos.append(pairs.videos[x]);
            ids.append(pairs.videos[x].id);
        }
        g.id = ids.join(QLatin1Char('|'));
        g.averageSimilarity = std::min(double(sum / float(count)), 0.99);
        QHash<int, int> position;
        for (size_t x = 0; x < ordered.size(); ++x) position.insert(ordered[x], int(x));
        for (size_t x = 0; x < ordered.size(); ++x)
            for (const auto &[other, s] : links[size_t(ordered[x])])
                if (position.value(other) > int(x))
                    g.links.append({pairs.videos[ordered[x]].id, pairs.videos[other].id});
        groups.append(g);
    }
    std::stable_sort(groups.begin(), groups.end(), &DuplicateVideoService::similarGroupPrecedes);
    return groups;
}

QList<SimilarVideoGroup> DuplicateVideoService::findSimilarVideos(const QList<VideoFile> &videos,
                                                                  const VisualIndexMap &entries, float threshold)
{
    return similarGroups(similarPairs(videos, entries, threshold), threshold);
}

QSet<QString> SimilarVideoGroup::linkedTo(const QString &id) const
{
    QSet<QString> out;
    for (const auto &[a, b] : links) {
        if (a == id) out.insert(b);
        if (b == id) out.insert(a);
    }
    return out;
}

bool DuplicateVideoService::similarGroupPrecedes(const SimilarVideoGroup &a, const SimilarVideoGroup &b)
{
    return reclaimableBytes(a.videos) > reclaimableBytes(b.videos);
}
