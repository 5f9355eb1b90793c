// The library indexing run with a fake pipeline: at most six videos in work, started in
// library order; entries stored in batches of 25 and at the end; a stop keeps what had
// arrived; a run replaced by a newer one leaves the newer run's fields alone; a video that
// always fails is not tried again until it changes; no worker outlives the state; turning the
// visual search on waits for the saved index before it decides to index.

#include "library/AppServices.h"
#include "library/AppState.h"
#include "library/ScopeCache.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <atomic>

namespace {

struct FakeIndexer : OnDeviceSearchServices {
    QMutex mutex;
    QStringList started;               // ids in the order work began
    QList<int> storedBatches;          // sizes handed to the index, in order
    QSet<QString> failing;             // ids that always come back unreadable
    bool clip = false; // entries carry a scene embedding
    bool installed = false;
    bool damaged = false; // every video says the scene model cannot run
    VisualIndexMap saved; // what the index file holds
    bool gated = false;
    QSemaphore gate;
    // Calls from this one on wait at `laterGate` instead, so that work of a newer run
    // cannot take permits meant for an older one.
    int laterFrom = 1 << 30;
    QSemaphore laterGate;
    std::atomic<int> visualCalls{0};
    // Work that lasts until it is cancelled (or the test lets it go).
    bool untilCancelled = false;
    std::atomic<int> inside{0};
    std::atomic<bool> letGo{false};

    bool hasMobileCLIPService() override { return clip; }
    bool isModelInstalled() override { return installed; }
    VisualIndexMap visualIndex() override { return saved; }
    VideoIndexOutcome indexVideo(const VideoFile &video, const std::function<bool()> &cancelled) override
    {
        if (untilCancelled) {
            ++inside;
            while (!cancelled() && !letGo)
                QThread::msleep(1);
            --inside;
            return VideoIndexOutcome::skippedUnreadable();
        }
        qsizetype position;
        {
            QMutexLocker lock(&mutex);
            position = started.size();
            started.append(video.id);
        }
        if (gated)
            (position < laterFrom ? gate : laterGate).acquire();
        if (failing.contains(video.id))
            return VideoIndexOutcome::skippedUnreadable();
        if (damaged)
            return VideoIndexOutcome::modelDamaged();
        VideoVisualIndexEntry e;
        e.videoID = video.id;
        e.fileSize = video.fileSize;
        e.modifiedTimestamp = double(video.modifiedDate.toSecsSinceEpoch());
        e.frameMoments.append({1.0, std::nullopt, {}});
        if (clip)
            e.clipEmbeddings.append(QuantizedEmbedding{0.1f, {1, 2}});
        return VideoIndexOutcome::indexed(e);
    }
    void storeVisualIndexEntries(const QList<VideoVisualIndexEntry> &entries) override
    {
        QMutexLocker lock(&mutex);
        storedBatches.append(int(entries.size()));
    }
    SearchHitMap visualSearch(const QString &, const QList<VideoFile> &) override
    {
        ++visualCalls;
        return {};
    }
    int startedCount()
    {
        QMutexLocker lock(&mutex);
        return int(started.size());
    }
    QList<int> batches()
    {
        QMutexLocker lock(&mutex);
        return storedBatches;
    }
};

bool waitFor(const std::function<bool()> &condition)
{
    // The event loop must run: results come back queued to this thread.
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > 20000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void settle()
{
    for (int i = 0; i < 50; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
}

const QDateTime kModified = QDateTime::fromSecsSinceEpoch(1700000000);

class IndexingRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = std::make_shared<FakeIndexer>();
        AppState::Services services;
        services.onDeviceSearch = fake;
        state = std::make_unique<AppState>(services);
    }
    void setLibrary(int count)
    {
        QList<VideoFile> videos;
        for (int i = 0; i < count; ++i)
            videos.append(*VideoFile::make(QStringLiteral("/v/clip%1.mp4").arg(i, 3, 10, QLatin1Char('0')), 100,
                                           kModified, std::nullopt));
        state->setAllVideos(videos);
    }
    void TearDown() override
    {
        // Never leave a worker blocked: the workers' threads are shared by every run.
        fake->gate.release(1000);
        fake->laterGate.release(1000);
        fake->letGo = true;
    }
    QString toast() const { return state->activeToast() ? state->activeToast()->message : QString(); }
    bool finished() { return !state->isAIIndexing(); }

    std::shared_ptr<FakeIndexer> fake;
    std::unique_ptr<AppState> state;
};

TEST_F(IndexingRunTest, SixInWorkInLibraryOrderAndTheNextStartsWhenOneReturns)
{
    setLibrary(10);
    fake->gated = true;
    state->startAIIndexingIfNeeded();
    EXPECT_TRUE(state->isAIIndexing());
    EXPECT_EQ(state->aiETAText(), QString(QChar(0x2026)));
    ASSERT_TRUE(waitFor([&] { return fake->startedCount() == 6; }));
    settle();
    EXPECT_EQ(fake->startedCount(), 6);
    fake->gate.release(1);
    ASSERT_TRUE(waitFor([&] { return fake->startedCount() == 7; }));
    settle();
    EXPECT_EQ(fake->startedCount(), 7);
    // The first six in any order (threads race to begin), the seventh after them.
    QStringList firstSix = fake->started.mid(0, 6);
    firstSix.sort();
    QStringList expected;
    for (int i = 0; i < 6; ++i)
        expected.append(state->allVideos()[i].id);
    EXPECT_EQ(firstSix, expected);
    EXPECT_EQ(fake->started[6], state->allVideos()[6].id);

    fake->gate.release(100);
    ASSERT_TRUE(waitFor([&] { return finished(); }));
    EXPECT_EQ(state->aiIndexedCount(), 10);
    EXPECT_EQ(state->aiTotalToIndex(), 10);
    EXPECT_EQ(state->aiETAText(), std::nullopt);
    EXPECT_EQ(toast(), "10 / 10 indexed");
    EXPECT_EQ(fake->batches(), QList<int>{10});
}

TEST_F(IndexingRunTest, EntriesReachTheIndexInBatchesOf25AndAtTheEnd)
{
    const struct {
        int videos;
        QList<int> batches;
    } cases[] = {{24, {24}}, {25, {25, 0}}, {57, {25, 25, 7}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.videos);
        TearDown();
        SetUp();
        setLibrary(c.videos);
        state->setIsAISearchMode(true);
        state->setSearchQuery("beach");
        settle();
        const int searchesBefore = fake->visualCalls;
        state->startAIIndexingIfNeeded();
        ASSERT_TRUE(waitFor([&] { return finished(); }));
        ASSERT_TRUE(waitFor([&] { return fake->visualCalls > searchesBefore; }));
        EXPECT_EQ(fake->batches(), c.batches);
        EXPECT_EQ(state->aiIndexEntries().size(), c.videos);
    }
}

TEST_F(IndexingRunTest, StopKeepsWhatArrivedAndShowsNoSummary)
{
    setLibrary(50);
    fake->gated = true;
    state->startAIIndexingIfNeeded();
    fake->gate.release(10);
    ASSERT_TRUE(waitFor([&] { return state->aiIndexEntries().size() == 10; })) << state->aiIndexEntries().size() << " started " << fake->startedCount();
    state->stopAIIndexing();
    EXPECT_FALSE(state->isAIIndexing());
    EXPECT_EQ(state->aiETAText(), std::nullopt);
    fake->gate.release(100);
    // The stop's own save, then the run's end with the ten entries it had not yet handed over.
    ASSERT_TRUE(waitFor([&] { return fake->batches().size() == 2; })) << fake->batches().size() << " started " << fake->startedCount();
    settle();
    EXPECT_EQ(fake->batches(), (QList<int>{0, 10}));
    EXPECT_EQ(state->aiIndexEntries().size(), 10);
    EXPECT_FALSE(toast().contains("indexed"));
    EXPECT_FALSE(state->isAIIndexing());
}

TEST_F(IndexingRunTest, NoWorkerOutlivesTheState)
{
    // At the program's end the analysers' per-thread state goes away: a worker still inside
    // a video then would crash it.
    setLibrary(10);
    fake->untilCancelled = true;
    state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return fake->inside == 6; })) << fake->inside;
    state.reset();
    EXPECT_EQ(fake->inside, 0);
}

TEST_F(IndexingRunTest, QuittingKeepsTheVideosTheRunFinished)
{
    // Fewer than a batch have come back when the program quits: they still reach the index
    // file, so the next start does not index them again.
    setLibrary(40);
    fake->gated = true;
    state->startAIIndexingIfNeeded();
    fake->gate.release(7);
    ASSERT_TRUE(waitFor([&] { return state->aiIndexEntries().size() == 7; })) << state->aiIndexEntries().size();
    EXPECT_TRUE(fake->batches().isEmpty());
    fake->gate.release(1000); // the workers still inside come back cancelled
    state.reset();
    EXPECT_EQ(fake->batches(), (QList<int>{7}));
}

TEST_F(IndexingRunTest, TurningTheSearchOnWaitsForTheSavedIndex)
{
    // Right after start the saved index has not landed yet: every video would look unindexed.
    for (const bool savedIndex : {true, false}) {
        SCOPED_TRACE(savedIndex ? "saved index" : "no saved index");
        SetUp();
        fake->installed = true;
        setLibrary(4);
        if (savedIndex)
            for (const VideoFile &v : state->allVideos()) {
                VideoVisualIndexEntry e;
                e.videoID = v.id;
                e.fileSize = v.fileSize;
                e.modifiedTimestamp = double(v.modifiedDate.toSecsSinceEpoch());
                e.frameMoments.append({1.0, std::nullopt, {}});
                fake->saved.insert(v.id, e);
            }
        state->refreshAIModelStatus();
        state->setIsAISearchMode(true);
        ASSERT_TRUE(waitFor([&] { return state->aiIndexEntries().size() == 4 && finished(); }));
        settle();
        EXPECT_EQ(fake->startedCount(), savedIndex ? 0 : 4);
        EXPECT_EQ(state->aiIndexEntries().size(), 4);
    }
}

TEST_F(IndexingRunTest, AReplacedRunLeavesTheNewerRunsFieldsAlone)
{
    setLibrary(8);
    fake->gated = true;
    fake->laterFrom = 6;
    state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return fake->startedCount() == 6; }));
    state->startAIIndexingIfNeeded(); // cancels the first run
    EXPECT_TRUE(state->isAIIndexing());
    // The first run's six come back (dropped) and its end step runs.
    fake->gate.release(6);
    ASSERT_TRUE(waitFor([&] { return fake->batches().size() == 1; }));
    settle();
    EXPECT_TRUE(state->isAIIndexing());
    EXPECT_EQ(state->aiETAText(), QString(QChar(0x2026)));
    EXPECT_TRUE(state->aiIndexEntries().isEmpty());

    fake->laterGate.release(100);
    ASSERT_TRUE(waitFor([&] { return finished(); }));
    EXPECT_EQ(state->aiIndexEntries().size(), 8);
    EXPECT_EQ(toast(), "8 / 8 indexed");
}

TEST_F(IndexingRunTest, AVideoThatAlwaysFailsIsTriedAgainOnlyOnceItChanged)
{
    setLibrary(3);
    const QString bad = state->allVideos()[1].id;
    fake->failing.insert(bad);
    const auto triesOfBad = [&] { return int(fake->started.count(bad)); };

    state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return finished(); }));
    EXPECT_EQ(state->aiSkippedUnreadableCount(), 1);
    EXPECT_EQ(triesOfBad(), 1);

    // Nothing else is to do: the summary of a run with nothing to index counts only what is.
    state->startAIIndexingIfNeeded();
    EXPECT_FALSE(state->isAIIndexing());
    EXPECT_EQ(toast(), "2 / 3 indexed");
    EXPECT_EQ(triesOfBad(), 1);

    QList<VideoFile> videos = state->allVideos();
    videos[1].fileSize = 200;
    state->setAllVideos(videos);
    state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return finished(); }));
    EXPECT_EQ(triesOfBad(), 2);
}

TEST_F(IndexingRunTest, FreshnessDecidesWhatIsIndexedAgain)
{
    setLibrary(1);
    const VideoFile v = state->allVideos()[0];
    const auto entry = [&](double timestamp, bool moments, bool embeddings) {
        VideoVisualIndexEntry e;
        e.videoID = v.id;
        e.fileSize = v.fileSize;
        e.modifiedTimestamp = timestamp;
        if (moments)
            e.frameMoments.append({0, std::nullopt, {}});
        if (embeddings)
            e.clipEmbeddings.append(QuantizedEmbedding{0.1f, {1, 2}});
        return e;
    };
    const double t = 1700000000;
    const struct {
        const char *what;
        VideoVisualIndexEntry entry;
        bool clip;
        bool fresh;
    } cases[] = {
        {"1.9 s off", entry(t + 1.9, true, false), false, true},
        {"2.0 s off", entry(t - 2.0, true, false), false, false},
        {"no frame moments", entry(t, false, false), false, false},
        {"no embeddings, model loaded", entry(t, true, false), true, false},
        {"embeddings, model loaded", entry(t, true, true), true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        setLibrary(1);
        fake->clip = c.clip;
        state->setAiIndexEntries({{v.id, c.entry}});
        state->startAIIndexingIfNeeded();
        ASSERT_TRUE(waitFor([&] { return finished(); }));
        EXPECT_EQ(fake->startedCount(), c.fresh ? 0 : 1);
    }
}

// A scene model that cannot run stops the run at the first video that says so: no further
// video is started, none is recorded as failed, and the toast says why.
TEST_F(IndexingRunTest, ADamagedModelStopsTheRunAndSaysSo)
{
    setLibrary(40);
    fake->damaged = true;
    state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return finished(); }));
    settle();
    EXPECT_GE(fake->startedCount(), 1);
    EXPECT_LE(fake->startedCount(), 6); // at most the videos already in work
    EXPECT_EQ(state->aiSkippedUnreadableCount(), 0);
    EXPECT_TRUE(toast().contains("damaged")) << toast().toStdString();

    // Mended (another model installed), the next run indexes every video.
    fake->damaged = false;
    state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return finished(); }));
    EXPECT_EQ(state->indexedVideoCount(), 40);
}

// Once the scene model is in, an index made without it (no scene embeddings) is counted as
// needing indexing, and the run that follows is counted as it goes.
TEST_F(IndexingRunTest, EntriesWithoutSceneEmbeddingsNeedIndexingOnceTheModelIsIn)
{
    setLibrary(3);
    state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return finished(); }));
    EXPECT_EQ(state->indexedVideoCount(), 3);

    fake->installed = fake->clip = true;
    state->refreshAIModelStatus();
    EXPECT_EQ(state->indexedVideoCount(), 0);
    state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return finished(); }));
    EXPECT_EQ(fake->startedCount(), 6);
    EXPECT_EQ(state->indexedVideoCount(), 3);
    EXPECT_EQ(toast(), "3 / 3 indexed");
}

TEST_F(IndexingRunTest, AnEmptyLibraryStartsNothing)
{
    state->startAIIndexingIfNeeded();
    EXPECT_FALSE(state->isAIIndexing());
    EXPECT_EQ(state->activeToast(), std::nullopt);
}

} // namespace

// "Index" pressed in the first moments after start, while the cached library is still being
// read, indexes that library once it is in instead of finding nothing to index: also when
// the read comes in just before the press, with the window's request to apply it still
// waiting, or when another reader has already waited for it.
TEST(IndexingRunAtStart, AskedForWhileTheCacheIsReadIndexesTheLibraryOnceItIsIn)
{
    constexpr int kVideos = 300; // a read that takes a moment
    QList<VideoFile> videos;
    for (int i = 0; i < kVideos; ++i)
        videos.append(*VideoFile::make(QDir::homePath() + QStringLiteral("/Videos/clip%1.mp4").arg(i), 100, kModified,
                                       std::nullopt));
    const QString key = AppState().scopeCacheKey();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Lumenkite";
    QDir().mkpath(folder);
    ASSERT_TRUE(ScopeCacheCodec::save({{key, CachedScopeScan{key, videos, {}, QDateTime::currentDateTimeUtc()}}},
                                      folder + "/scope_cache_v1.json"));

    for (const bool readFirst : {false, true}) {
        SCOPED_TRACE(readFirst ? "the read already waited for" : "as the window starts");
        auto fake = std::make_shared<FakeIndexer>();
        AppState::Services services;
        services.onDeviceSearch = fake;
        AppState state(services);
        // As the window does at start: the library is applied once the read is in.
        state.afterScopeCacheLoads([&] { state.applyActiveScope(); });
        if (readFirst)
            (void)state.scopeCache();
        state.startAIIndexingIfNeeded();
        ASSERT_TRUE(waitFor([&] { return fake->startedCount() == kVideos && !state.isAIIndexing(); }))
            << fake->startedCount() << " started of " << state.allVideos().size();
        EXPECT_EQ(state.indexedVideoCount(), kVideos);
    }
    QFile::remove(folder + "/scope_cache_v1.json");
}
