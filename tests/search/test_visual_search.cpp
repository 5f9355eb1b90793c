#include "search/VisualSearchService.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>

namespace {

// Query embedding of the fake encoder: the first axis. A stored embedding (1, 0, 0, 0)
// with scale s then has similarity exactly s, so scores can sit on the thresholds.
const std::vector<float> kQuery{1, 0, 0, 0};

QuantizedEmbedding withSimilarity(float s) { return {s, {1, 0, 0, 0}}; }

class FakeEncoder : public QueryTextEmbedder
{
public:
    std::optional<std::vector<float>> textEmbedding(const QStringList &texts) override
    {
        prompts.append(texts);
        return kQuery;
    }
    QList<QStringList> prompts;
};

VideoFile video(const QString &name) { return *VideoFile::make("/lib/" + name, 1, QDateTime::currentDateTimeUtc(), std::nullopt); }

struct Frame {
    double timestamp;
    std::optional<float> sim;
    QString ocr;
};

VideoVisualIndexEntry indexed(const QString &name, std::optional<float> sim, QHash<QString, float> labels = {},
                              QString ocr = {}, QList<Frame> frames = {})
{
    VideoVisualIndexEntry e;
    e.videoID = "/lib/" + name;
    if (sim)
        e.clipEmbeddings = {withSimilarity(*sim - 0.05f), withSimilarity(*sim)};
    e.labelsEN = std::move(labels);
    e.ocrText = std::move(ocr);
    for (const Frame &f : frames)
        e.frameMoments.append({f.timestamp, f.sim ? std::optional(withSimilarity(*f.sim)) : std::nullopt, f.ocr});
    return e;
}

SearchHitMap score(const QString &query, const QList<VideoVisualIndexEntry> &entries, QStringList extraNames = {},
                   bool withEmbedding = true)
{
    VisualIndexMap index;
    QList<VideoFile> candidates;
    for (const VideoVisualIndexEntry &e : entries) {
        index.insert(e.videoID, e);
        candidates.append(video(e.videoID.mid(5)));
    }
    for (const QString &name : extraNames)
        candidates.append(video(name));
    const QStringList terms = VisualSearchService::tokens(query);
    return VisualSearchService::scoreEntries(candidates, index, VisualSearchService::normalize(query), terms,
                                             withEmbedding ? std::optional(kQuery) : std::nullopt,
                                             VisualSearchService::labelWordGroups(query, terms));
}

std::optional<double> scoreOf(const SearchHitMap &hits, const QString &name)
{
    const auto it = hits.constFind("/lib/" + name);
    return it == hits.cend() ? std::nullopt : std::optional(it->score);
}

double clip(float sim) { return std::clamp(double((sim - 0.155f) / 0.175f), 0.5, 0.97); }

} // namespace

TEST(VisualSearchScoring, TextNameAndClipEvidence)
{
    struct Row {
        const char *what;
        QString query;
        QString ocr;
        std::optional<float> sim;
        std::optional<double> expected;
        bool ocrMatch;
    };
    const QList<Row> rows{
        {"full OCR match, similarity 0.2", "exit sign", "EXIT SIGN here", 0.2f, 0.98, true},
        {"full OCR match, similarity 0.19", "exit sign", "EXIT SIGN here", 0.19f, 0.94, true},
        {"full OCR match, no CLIP", "exit sign", "EXIT SIGN here", std::nullopt, 0.94, true},
        {"all terms, similarity 0.19", "door exit", "exit the door", 0.19f, 0.97, true},
        {"all terms, no CLIP", "door exit", "exit the door", std::nullopt, 0.91, true},
        {"a term found by its stem", "kapılar", "KAPI 3", std::nullopt, 0.91, true},
        {"half the terms, similarity 0.19", "exit door", "EXIT only", 0.19f, 0.93, true},
        // No text score: CLIP alone, at the floor of its scale.
        {"half the terms, similarity 0.18", "exit door", "EXIT only", 0.18f, 0.5, false},
        {"half the terms, no CLIP", "exit door", "EXIT only", std::nullopt, std::nullopt, false},
        {"name match", "holiday", "", std::nullopt, 0.82, false},
        {"similarity below the threshold", "exit", "", 0.17f, std::nullopt, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const QString name = row.query == "holiday" ? "Holiday 2024.mp4" : "v.mp4";
        const SearchHitMap hits = score(row.query, {indexed(name, row.sim, {}, row.ocr)});
        const auto s = scoreOf(hits, name);
        ASSERT_EQ(s.has_value(), row.expected.has_value());
        if (s) {
            EXPECT_NEAR(*s, *row.expected, 1e-9);
            EXPECT_EQ(hits["/lib/" + name].isOCRMatch, row.ocrMatch);
            EXPECT_FALSE(hits["/lib/" + name].isSpeechMatch);
        }
    }

    // A video without an index entry is found by its name alone: no moments.
    const SearchHitMap hits = score("holiday", {}, {"HOLIDAY.mkv", "other.mkv"});
    ASSERT_EQ(hits.size(), 1);
    const VisualSearchHit hit = hits["/lib/HOLIDAY.mkv"];
    EXPECT_EQ(hit.score, 0.82);
    EXPECT_TRUE(hit.moments.isEmpty());
    EXPECT_FALSE(hit.bestTimestamp);
}

TEST(VisualSearchScoring, AdaptiveClipThreshold)
{
    struct Row {
        const char *what;
        QList<float> sims;              // video i has similarity sims[i]
        QList<std::optional<double>> expected;
    };
    const QList<Row> rows{
        // Few similarities, top 0.30: t = 0.232.
        {"few, strong top", {0.30f, 0.24f, 0.23f, 0.10f, 0.10f}, {clip(0.30f), 0.5, std::nullopt, std::nullopt, std::nullopt}},
        {"raw score above the ceiling", {0.33f, 0.20f, 0.10f}, {0.97, std::nullopt, std::nullopt}},
        // Top below 0.245: t = 0.175.
        {"few, weak top", {0.24f, 0.18f, 0.17f}, {0.5, 0.5, std::nullopt}},
        // Eleven similarities: t = top - 0.068 = 0.232, so 0.26 counts.
        {"eleven", {0.30f, 0.26f, 0.26f, 0.26f, 0.26f, 0.26f, 0.20f, 0.20f, 0.20f, 0.20f, 0.20f},
         {clip(0.30f), clip(0.26f), clip(0.26f), clip(0.26f), clip(0.26f), clip(0.26f), std::nullopt, std::nullopt,
          std::nullopt, std::nullopt, std::nullopt}},
        // Thirteen: mean + 1.65 deviations (0.292) is capped at top - 0.01 = 0.29, above 0.26.
        {"thirteen", {0.30f, 0.26f, 0.26f, 0.26f, 0.26f, 0.26f, 0.26f, 0.20f, 0.20f, 0.20f, 0.20f, 0.20f, 0.20f},
         {clip(0.30f), std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
          std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
        // Twelve alike and low: the statistic falls below 0.175 and the floor holds.
        {"twelve low", QList<float>(12, 0.17f) << 0.18f, QList<std::optional<double>>(12, std::nullopt) << 0.5},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QList<VideoVisualIndexEntry> entries;
        for (qsizetype i = 0; i < row.sims.size(); ++i)
            entries.append(indexed(QString("v%1.mp4").arg(i), row.sims[i]));
        const SearchHitMap hits = score("zebra", entries);
        for (qsizetype i = 0; i < row.sims.size(); ++i) {
            const auto s = scoreOf(hits, QString("v%1.mp4").arg(i));
            ASSERT_EQ(s.has_value(), row.expected[i].has_value()) << i;
            if (s) {
                EXPECT_NEAR(*s, *row.expected[i], 1e-6) << i;
            }
        }
    }
}

TEST(VisualSearchScoring, Labels)
{
    struct Row {
        const char *what;
        QString query;
        QHash<QString, float> labels;
        std::optional<float> sim;
        std::optional<double> expected;
    };
    const QList<Row> rows{
        {"one group at 0.9", "dog", {{"dog", 0.9f}}, std::nullopt, 0.9},
        {"with a CLIP score of 0.6", "dog", {{"dog", 0.9f}}, 0.26f, 0.95},
        {"capped at 0.92", "dog", {{"dog", 1.0f}}, std::nullopt, 0.92},
        {"two groups, one unmatched", "köpek kedi", {{"dog", 0.9f}}, std::nullopt, std::nullopt},
        {"two groups, both matched", "köpek kedi", {{"dog", 0.9f}, {"kitten", 0.5f}}, std::nullopt, 0.8},
        {"a word of a label", "retriever", {{"golden_retriever", 0.6f}}, std::nullopt, 0.75},
        {"a long word inside a label", "sunset", {{"sunsets", 0.6f}}, std::nullopt, 0.75},
        {"a short word is not looked for inside labels", "dog", {{"hotdog", 0.9f}}, std::nullopt, std::nullopt},
        {"confidence below 0.2", "dog", {{"dog", 0.19f}}, std::nullopt, std::nullopt},
        {"Turkish query, English labels", "deniz kenarı", {{"beach", 0.7f}}, std::nullopt, 0.8},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const auto s = scoreOf(score(row.query, {indexed("v.mp4", row.sim, row.labels)}), "v.mp4");
        ASSERT_EQ(s.has_value(), row.expected.has_value());
        if (s) {
            EXPECT_NEAR(*s, *row.expected, 1e-6);
        }
    }
}

TEST(VisualSearchScoring, Moments)
{
    const auto momentTimes = [](const VisualSearchHit &hit) {
        QList<double> t;
        for (const VisualSearchMoment &m : hit.moments)
            t.append(m.timestamp);
        return t;
    };
    {
        // Closer than two seconds: only the better one.
        const VisualSearchHit hit = score("zebra", {indexed("v.mp4", 0.30f, {}, {}, {{10.0, 0.28f, ""}, {11.5, 0.30f, ""}})})["/lib/v.mp4"];
        EXPECT_EQ(momentTimes(hit), QList<double>{11.5});
        EXPECT_EQ(hit.bestTimestamp, 11.5);
    }
    {
        const VisualSearchHit hit = score("zebra", {indexed("v.mp4", 0.30f, {}, {}, {{10.0, 0.28f, ""}, {12.0, 0.30f, ""}})})["/lib/v.mp4"];
        EXPECT_EQ(momentTimes(hit), (QList<double>{10.0, 12.0}));
        EXPECT_NEAR(hit.moments[1].score, clip(0.30f), 1e-6);
        EXPECT_FALSE(hit.moments[1].isOCRMatch);
    }
    {
        // Eight qualifying frames: the six best, in time order; the best one to seek to.
        QList<Frame> frames;
        const QList<float> sims{0.25f, 0.31f, 0.26f, 0.30f, 0.27f, 0.29f, 0.24f, 0.28f};
        for (int i = 0; i < 8; ++i)
            frames.append({i * 3.0, sims[i], ""});
        const VisualSearchHit hit = score("zebra", {indexed("v.mp4", 0.31f, {}, {}, frames)})["/lib/v.mp4"];
        EXPECT_EQ(momentTimes(hit), (QList<double>{3, 6, 9, 12, 15, 21}));
        EXPECT_EQ(hit.bestTimestamp, 3.0);
    }
    {
        // Above the video threshold, but no frame above the moment threshold: the most
        // similar frame (the first of a tie) carries the video's score.
        const VisualSearchHit hit = score("zebra", {indexed("v.mp4", 0.30f, {}, {}, {{1, 0.10f, ""}, {5, 0.12f, ""}, {9, 0.12f, ""}, {12, std::nullopt, ""}})})["/lib/v.mp4"];
        ASSERT_EQ(hit.moments.size(), 1);
        EXPECT_EQ(hit.moments[0], (VisualSearchMoment{5, clip(0.30f), false}));
        EXPECT_EQ(hit.bestTimestamp, 5.0);
    }
    {
        // A frame showing the query's text outranks similar frames.
        const VisualSearchHit hit = score("exit", {indexed("v.mp4", 0.30f, {}, "EXIT", {{1, 0.30f, ""}, {7, 0.10f, "Emergency EXIT"}})})["/lib/v.mp4"];
        EXPECT_EQ(hit.bestTimestamp, 7.0);
        ASSERT_EQ(hit.moments.size(), 2);
        EXPECT_EQ(hit.moments[1], (VisualSearchMoment{7, 0.94, true}));
        EXPECT_TRUE(hit.isOCRMatch);
    }
    {
        // Without any frame embedding or OCR frame there is no moment.
        const VisualSearchHit hit = score("zebra", {indexed("v.mp4", 0.30f, {}, {}, {{1, std::nullopt, ""}})})["/lib/v.mp4"];
        EXPECT_TRUE(hit.moments.isEmpty());
        EXPECT_FALSE(hit.bestTimestamp);
    }
}

// Embeddings of another model (another length) say nothing about the query: they neither
// score nor move the threshold, and nothing past either end is read.
TEST(VisualSearchScoring, EmbeddingsOfAnotherLengthDoNotScore)
{
    VideoVisualIndexEntry other = indexed("other.mp4", std::nullopt);
    other.clipEmbeddings = {{1.0f, {127, 127}}, {1.0f, {127, 127, 127, 127, 127, 127, 127, 127}}};
    other.frameMoments = {{2.0, QuantizedEmbedding{1.0f, {127, 127, 127, 127, 127, 127, 127, 127}}, ""}};
    QList<VideoVisualIndexEntry> entries;
    const QList<float> sims{0.30f, 0.26f, 0.26f, 0.26f, 0.26f, 0.26f, 0.20f, 0.20f, 0.20f, 0.20f, 0.20f};
    for (qsizetype i = 0; i < sims.size(); ++i)
        entries.append(indexed(QString("v%1.mp4").arg(i), sims[i]));
    const SearchHitMap alone = score("zebra", entries);
    VideoVisualIndexEntry second = other;
    second.videoID = "/lib/other2.mp4";
    const SearchHitMap mixed = score("zebra", entries + QList{other, second});
    EXPECT_FALSE(mixed.contains("/lib/other.mp4"));
    EXPECT_EQ(mixed, alone);
    EXPECT_TRUE(mixed.contains("/lib/v1.mp4")); // eleven similarities, not thirteen

    // Found by its labels, the video still gets no moment from the mismatched frame.
    other.labelsEN = {{"zebra", 0.8f}};
    const VisualSearchHit hit = score("zebra", {other})["/lib/other.mp4"];
    EXPECT_NEAR(hit.score, 0.85, 1e-6);
    EXPECT_TRUE(hit.moments.isEmpty());
}

TEST(VisualSearchService, SearchTranslatesOnceAndEmbedsEachVariantTwice)
{
    QTemporaryDir dir;
    VisualSearchService service(dir.path());
    int modelCalls = 0;
    QueryTranslationRoutes routes = QueryTranslationRoutes::unavailable();
    routes.isLanguageModelAvailable = [&] {
        ++modelCalls;
        return false;
    };
    service.setTranslationRoutes(routes);
    auto encoder = std::make_shared<FakeEncoder>();
    service.setTextEmbedderProvider([&]() -> std::shared_ptr<QueryTextEmbedder> { return encoder; });
    service.upsert({indexed("beach.mp4", 0.30f, {{"beach", 0.7f}}, {}, {{4, 0.30f, ""}}), indexed("dark.mp4", 0.10f)});
    const QList<VideoFile> candidates{video("beach.mp4"), video("dark.mp4"), video("gun batimi.mp4")};

    EXPECT_TRUE(service.search("   \n", candidates).isEmpty());
    EXPECT_EQ(modelCalls, 0);

    const SearchHitMap hits = service.search("Gün batımı", candidates);
    EXPECT_EQ(modelCalls, 1);
    ASSERT_EQ(encoder->prompts.size(), 1);
    EXPECT_EQ(encoder->prompts[0], (QStringList{"sunset sky over the horizon", "a photo of sunset sky over the horizon",
                                                "golden hour sunset", "a photo of golden hour sunset"}));
    EXPECT_NEAR(hits["/lib/beach.mp4"].score, clip(0.30f), 1e-6);
    EXPECT_EQ(hits["/lib/beach.mp4"].bestTimestamp, 4.0);
    EXPECT_EQ(hits["/lib/gun batimi.mp4"].score, 0.82);
    EXPECT_FALSE(hits.contains("/lib/dark.mp4"));

    // The same query, written otherwise, is not translated again.
    EXPECT_EQ(service.search("GÜN BATIMI", candidates), hits);
    EXPECT_EQ(modelCalls, 1);

    // Without a text encoder only text, names and labels count.
    service.setTextEmbedderProvider([] { return std::shared_ptr<QueryTextEmbedder>(); });
    const SearchHitMap noModel = service.search("deniz", candidates);
    EXPECT_EQ(noModel.keys(), QStringList{"/lib/beach.mp4"});
    EXPECT_NEAR(noModel["/lib/beach.mp4"].score, 0.8, 1e-6);
    EXPECT_TRUE(noModel["/lib/beach.mp4"].moments.isEmpty());
}
