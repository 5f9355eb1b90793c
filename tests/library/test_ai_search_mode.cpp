// The visual search mode: one debounced search per typing pause, visual and speech hits
// merged per video, and nothing published by a search that was superseded.

#include "library/AppServices.h"
#include "library/AppState.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>

namespace {

VisualSearchHit hit(double score, std::optional<double> best, const QList<double> &times, bool ocr = false,
                    bool speech = false)
{
    VisualSearchHit h;
    h.score = score;
    h.bestTimestamp = best;
    for (double t : times) h.moments.append({t, score, ocr});
    h.isOCRMatch = ocr;
    h.isSpeechMatch = speech;
    return h;
}

QList<double> times(const VisualSearchHit &h)
{
    QList<double> out;
    for (const VisualSearchMoment &m : h.moments) out.append(m.timestamp);
    return out;
}

// Records every query the searches were asked, and answers with fixed hits.
struct FakeSearch : OnDeviceSearchServices {
    std::atomic<int> visualCalls{0}, speechCalls{0};
    QStringList queries;
    QMutex mutex;
    SearchHitMap visual, speech;
    int delayMs = 0;
    SearchHitMap visualSearch(const QString &query, const QList<VideoFile> &) override
    {
        ++visualCalls;
        {
            QMutexLocker lock(&mutex);
            queries.append(query);
        }
        if (delayMs) QThread::msleep(delayMs);
        return visual;
    }
    SearchHitMap transcriptSearch(const QString &, const QList<VideoFile> &) override
    {
        ++speechCalls;
        return speech;
    }
};

void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class SearchModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = std::make_shared<FakeSearch>();
        AppState::Services services;
        services.onDeviceSearch = fake;
        state = std::make_unique<AppState>(services);
        for (const char *path : {"/v/a.mp4", "/v/b.mp4", "/v/c.mp4"})
            library.append(*VideoFile::make(path, 100, QDateTime::currentDateTime(), std::nullopt));
        state->setAllVideos(library);
    }
    std::shared_ptr<FakeSearch> fake;
    std::unique_ptr<AppState> state;
    QList<VideoFile> library;
};

} // namespace

TEST(SearchHitMerge, SpeechHitsFoldIntoVisualHits)
{
    const SearchHitMap visual{{"both", hit(0.4, 40, {3, 40, 80}, true)}, {"visualOnly", hit(0.5, 7, {7})}};
    const SearchHitMap speech{{"both", hit(0.9, 1, {1, 10, 20, 30, 50}, false, true)},
                              {"speechOnly", hit(0.96, 2, {2}, false, true)}};
    const SearchHitMap merged = mergeSearchHits(visual, speech);
    ASSERT_EQ(merged.size(), 3);
    const VisualSearchHit &both = merged["both"];
    EXPECT_EQ(times(both), (QList<double>{1, 3, 10, 20, 30, 40}));
    EXPECT_DOUBLE_EQ(both.score, 0.9);
    EXPECT_EQ(both.bestTimestamp, std::optional<double>(1));
    EXPECT_TRUE(both.isSpeechMatch);
    EXPECT_TRUE(both.isOCRMatch);
    EXPECT_EQ(merged["speechOnly"], speech["speechOnly"]);
    EXPECT_EQ(merged["visualOnly"], visual["visualOnly"]);

    // At equal times the visual moment stays first; a speech hit without a best time keeps
    // the visual one.
    const SearchHitMap tie = mergeSearchHits({{"v", hit(0.5, 5, {5})}}, {{"v", hit(0.3, std::nullopt, {5}, false, true)}});
    EXPECT_EQ(tie["v"].bestTimestamp, std::optional<double>(5));
    ASSERT_EQ(tie["v"].moments.size(), 2);
    EXPECT_DOUBLE_EQ(tie["v"].moments[0].score, 0.5);
}

TEST_F(SearchModeTest, OnlyTheLastQueryOfABurstReachesTheServices)
{
    fake->visual = {{library[1].id, hit(0.8, 12, {12})}};
    state->setIsAISearchMode(true);
    for (const char *text : {"r", "re", "red", "red b", "red boat"}) {
        state->setSearchQuery(text);
        spin(50);
    }
    ASSERT_TRUE(lktest::waitFor([&] { return !state->isAISearchRunning(); }, 5000));
    EXPECT_EQ(fake->visualCalls.load(), 1);
    EXPECT_EQ(fake->speechCalls.load(), 1);
    EXPECT_EQ(fake->queries, QStringList{"red boat"});
    EXPECT_EQ(state->aiSearchHits().keys(), QStringList{library[1].id});
    EXPECT_DOUBLE_EQ(state->aiSearchScores().value(library[1].id), 0.8);

    // The same text again still searches again.
    state->setSearchQuery("red boat");
    ASSERT_TRUE(lktest::waitFor([&] { return fake->visualCalls.load() == 2 && !state->isAISearchRunning(); }, 5000));
}

TEST_F(SearchModeTest, BlankQueriesAndSwitchingOffClearEverythingAndSupersededSearchesNeverPublish)
{
    fake->visual = {{library[0].id, hit(0.8, 1, {1})}};
    state->setIsAISearchMode(true);
    state->setSearchQuery("boat");
    ASSERT_TRUE(lktest::waitFor([&] { return !state->aiSearchHits().isEmpty(); }, 5000));

    // Spaces and line breaks: cleared at once, no search started.
    const int before = fake->visualCalls.load();
    state->setSearchQuery(" \n ");
    EXPECT_TRUE(state->aiSearchHits().isEmpty());
    EXPECT_TRUE(state->aiSearchScores().isEmpty());
    EXPECT_FALSE(state->isAISearchRunning());
    spin(300);
    EXPECT_EQ(fake->visualCalls.load(), before);

    // A slow search under way when the mode goes off finishes, but publishes nothing.
    fake->delayMs = 400;
    state->setSearchQuery("boat");
    spin(250); // past the pause: the services are working
    EXPECT_TRUE(state->isAISearchRunning());
    state->setIsAISearchMode(false);
    EXPECT_FALSE(state->isAISearchRunning());
    spin(600);
    EXPECT_TRUE(state->aiSearchHits().isEmpty());
    EXPECT_FALSE(state->isAISearchRunning());
}
