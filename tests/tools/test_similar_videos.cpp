#include "tools/DuplicateVideoService.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

VideoFile video(const QString &name, qint64 size)
{
    return *VideoFile::make("/lib/" + name + ".mp4", size, QDateTime(QDate(2026, 1, 1), QTime(0, 0)), std::nullopt);
}

QuantizedEmbedding embed(const std::vector<float> &v) { return QuantizedEmbedding::fromVector(v); }

VideoVisualIndexEntry entryOf(const VideoFile &v, QList<QuantizedEmbedding> frames)
{
    VideoVisualIndexEntry e;
    e.videoID = v.id;
    e.clipEmbeddings = std::move(frames);
    return e;
}

// A unit-ish direction in the plane of axes 0 and 1 at `degrees`, padded to `dim`.
std::vector<float> direction(double degrees, int dim = 8)
{
    std::vector<float> v(static_cast<size_t>(dim), 0.0f);
    v[0] = float(std::cos(degrees * M_PI / 180));
    v[1] = float(std::sin(degrees * M_PI / 180));
    return v;
}

QStringList names(const QList<VideoFile> &videos)
{
    QStringList out;
    for (const VideoFile &v : videos) out << v.name.section('.', 0, 0);
    return out;
}

float similarity(const VideoVisualIndexEntry &a, const VideoVisualIndexEntry &b)
{
    const auto ua = DuplicateVideoService::unitVector(a), ub = DuplicateVideoService::unitVector(b);
    float s = 0;
    for (size_t k = 0; k < ua.size(); ++k) s += ua[k] * ub[k];
    return s;
}

} // namespace

TEST(SimilarVideos, ChainsFormOneGroupButOnlyDirectLinksCountForTheKeptVideo)
{
    // A-B and B-C are 20 degrees apart (cos 0.94), A-C 40 degrees (cos 0.77).
    const VideoFile a = video("A", 3'000), b = video("B", 2'000), c = video("C", 2'000), far = video("D", 9'000);
    VisualIndexMap entries;
    entries.insert(a.id, entryOf(a, {embed(direction(0))}));
    entries.insert(b.id, entryOf(b, {embed(direction(20))}));
    entries.insert(c.id, entryOf(c, {embed(direction(40))}));
    entries.insert(far.id, entryOf(far, {embed(direction(90))}));
    const auto groups = DuplicateVideoService::findSimilarVideos({c, far, b, a}, entries, 0.9f);
    ASSERT_EQ(groups.size(), 1);
    // Largest first; equal sizes keep the input order (C before B).
    EXPECT_EQ(names(groups[0].videos), QStringList({"A", "C", "B"}));
    EXPECT_EQ(groups[0].id, a.id + "|" + c.id + "|" + b.id);
    EXPECT_EQ(groups[0].linkedTo(a.id), QSet<QString>({b.id}));
    EXPECT_EQ(groups[0].linkedTo(b.id), QSet<QString>({a.id, c.id}));
    const float ab = similarity(entries[a.id], entries[b.id]), bc = similarity(entries[b.id], entries[c.id]);
    EXPECT_DOUBLE_EQ(groups[0].averageSimilarity, double((ab + bc + ab + bc) / 4.0f));

    // Without B in the library the chain breaks and nothing is left.
    const SimilarityPairs pairs = DuplicateVideoService::similarPairs({c, far, b, a}, entries, 0.85f);
    EXPECT_TRUE(DuplicateVideoService::similarGroups(pairs, 0.9f, [&](const VideoFile &v) { return v.id != b.id; }).isEmpty());
}

TEST(SimilarVideos, ThresholdEdgesCapsAndVectorsThatNeverLink)
{
    const VideoFile a = video("A", 100), b = video("B", 100), z = video("Z", 100), odd = video("O", 100);
    VisualIndexMap entries;
    entries.insert(a.id, entryOf(a, {embed(direction(0)), embed(direction(2))}));
    // A keyframe of another dimension must change nothing (and is never read past its end).
    entries.insert(b.id, entryOf(b, {embed(direction(3)), embed(direction(60, 4)), embed(direction(1))}));
    entries.insert(z.id, entryOf(z, {embed(std::vector<float>(8, 0.0f))}));
    // A video indexed by a model of another dimension is compared with nothing.
    entries.insert(odd.id, entryOf(odd, {embed(direction(0, 16))}));
    VisualIndexMap withoutOdd = entries;
    withoutOdd[b.id].clipEmbeddings.removeAt(1);
    EXPECT_EQ(DuplicateVideoService::unitVector(entries[b.id]), DuplicateVideoService::unitVector(withoutOdd[b.id]));

    const float s = similarity(entries[a.id], entries[b.id]);
    ASSERT_GT(s, 0.99f);
    const struct {
        float threshold;
        int groups;
    } cases[] = {{s, 1}, {std::nextafter(s, 2.0f), 0}, {0.5f, 1}, {1e-7f, 1}};
    for (const auto &c : cases) {
        const auto groups = DuplicateVideoService::findSimilarVideos({a, b, z, odd}, entries, c.threshold);
        ASSERT_EQ(groups.size(), c.groups) << c.threshold;
        if (groups.isEmpty()) continue;
        EXPECT_EQ(names(groups[0].videos), QStringList({"A", "B"})) << c.threshold;
        EXPECT_EQ(groups[0].averageSimilarity, 0.99);
    }
    EXPECT_TRUE(DuplicateVideoService::findSimilarVideos({a}, entries, 0.5f).isEmpty());
    EXPECT_TRUE(DuplicateVideoService::findSimilarVideos({a, b}, {}, 0.5f).isEmpty());
}

TEST(SimilarVideos, GroupsAreOrderedByTheBytesTheirCopiesTake)
{
    const qint64 GB = 1'000'000'000;
    const VideoFile p = video("P", 5 * GB), q = video("Q", 3'500'000'000), x = video("X", 2 * GB), y = video("Y", 3 * GB),
                    w = video("W", 2 * GB);
    VisualIndexMap entries;
    for (const auto &[v, deg] : {std::pair{p, 0.0}, {q, 1.0}, {x, 90.0}, {y, 91.0}, {w, 92.0}})
        entries.insert(v.id, entryOf(v, {embed(direction(deg))}));
    const auto groups = DuplicateVideoService::findSimilarVideos({p, q, x, y, w}, entries, 0.95f);
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(names(groups[0].videos), QStringList({"Y", "X", "W"})); // 4 GB redundant
    EXPECT_EQ(names(groups[1].videos), QStringList({"P", "Q"}));      // 3.5 GB
}

// The int8 pass over all pairs only rules pairs out; what it keeps, and what filtering a
// low-threshold result gives, must equal a plain pass in single precision.
TEST(SimilarVideos, BlockedPairsEqualAPlainPassAtEveryThreshold)
{
    std::mt19937 rng(42);
    std::normal_distribution<float> gauss;
    const int dim = 96, count = 700; // enough rows for the threaded, blocked path
    QList<VideoFile> videos;
    VisualIndexMap entries;
    std::vector<std::vector<float>> bases;
    for (int i = 0; i < count; ++i) {
        const VideoFile v = video(QString::number(i), 1000 + i % 37);
        videos << v;
        std::vector<float> base(static_cast<size_t>(dim));
        // Every third video is a noisy copy of an earlier one, at spread-out distances.
        if (i % 3 == 2 && i > 10) {
            base = bases[size_t(rng() % bases.size())];
            const float noise = 0.02f + 0.2f * float(i % 11) / 10;
            for (float &f : base) f += noise * gauss(rng);
        } else {
            for (float &f : base) f = gauss(rng);
        }
        bases.push_back(base);
        QList<QuantizedEmbedding> frames;
        for (int f = 0; f < 3; ++f) {
            std::vector<float> frame = base;
            for (float &x : frame) x += 0.05f * gauss(rng);
            frames << embed(frame);
        }
        entries.insert(v.id, entryOf(v, frames));
    }
    std::vector<std::vector<float>> unit;
    for (const VideoFile &v : videos) unit.push_back(DuplicateVideoService::unitVector(entries[v.id]));

    const SimilarityPairs pairs = DuplicateVideoService::similarPairs(videos, entries, 0.85f);
    for (const float threshold : {0.85f, 0.9f, 0.93f, 0.96f}) {
        std::vector<std::tuple<int, int, float>> plain, blocked;
        for (int i = 0; i < count; ++i)
            for (int j = i + 1; j < count; ++j) {
                float s = 0;
                for (int k = 0; k < dim; ++k) s += unit[size_t(i)][size_t(k)] * unit[size_t(j)][size_t(k)];
                if (s >= threshold) plain.emplace_back(i, j, s);
            }
        for (const auto &p : pairs.pairs)
            if (p.similarity >= threshold) blocked.emplace_back(p.a, p.b, p.similarity);
        EXPECT_FALSE(plain.empty()) << threshold;
        EXPECT_EQ(blocked, plain) << threshold;
        EXPECT_EQ(DuplicateVideoService::similarGroups(pairs, threshold),
                  DuplicateVideoService::findSimilarVideos(videos, entries, threshold))
            << threshold;
    }
}
