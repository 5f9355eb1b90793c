// The state's side of the model download and of transcription: events folded into the
// progress fields, a cancelled job reading nothing more, one job per video.

#include "library/AppServices.h"
#include "library/AppState.h"
#include "library/L10n.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMutex>
#include <QSemaphore>

namespace {

ModelDownloadEvent event(ModelDownloadEvent::Kind kind, double fraction = 0, qint64 done = 0, qint64 total = 0,
                         qint64 installed = 0, const QString &text = {})
{
    return {kind, fraction, done, total, installed, text};
}

// Hands the test the event sink of each started download, and counts cancels and reloads.
struct FakeServices : OnDeviceSearchServices {
    std::vector<std::function<void(const ModelDownloadEvent &)>> sinks;
    int cancels = 0, reloads = 0;
    QMutex mutex;
    QList<AppLanguage> transcribeLanguages;
    QSemaphore release;
    std::optional<VideoTranscriptEntry> result;
    QList<VideoTranscriptEntry> stored;

    std::function<void()> startModelDownload(std::function<void(const ModelDownloadEvent &)> onEvent) override
    {
        sinks.push_back(std::move(onEvent));
        return [this] { ++cancels; };
    }
    void reloadMobileCLIPService() override { ++reloads; }
    std::optional<VideoTranscriptEntry> transcribe(const VideoFile &video, AppLanguage language, QString *error) override
    {
        {
            QMutexLocker lock(&mutex);
            transcribeLanguages << language;
        }
        release.acquire();
        if (!result) *error = "no audio track";
        if (result) result->videoID = video.id;
        return result;
    }
    void storeTranscript(const VideoTranscriptEntry &entry) override
    {
        QMutexLocker lock(&mutex);
        stored << entry;
    }
};

class ModelDownloadStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = std::make_shared<FakeServices>();
        AppState::Services services;
        services.onDeviceSearch = fake;
        state = std::make_unique<AppState>(services);
    }
    QString toast() const { return state->activeToast() ? state->activeToast()->message : QString(); }
    std::shared_ptr<FakeServices> fake;
    std::unique_ptr<AppState> state;
};

TEST_F(ModelDownloadStateTest, FoldsEventsIntoProgressAndEndsWithAReadyToast)
{
    state->downloadAIModel();
    state->downloadAIModel(); // a second press while the first runs starts nothing
    ASSERT_EQ(fake->sinks.size(), 1u);
    EXPECT_TRUE(state->isDownloadingAIModel());
    EXPECT_EQ(state->aiModelDownloadStage(), L10n::text("ai.stageConnecting", AppLanguage::en));

    auto &sink = fake->sinks[0];
    sink(event(ModelDownloadEvent::Kind::progress, 0.9, 12'300'000, 398'000'000, 0, "own stage text"));
    EXPECT_DOUBLE_EQ(state->aiModelDownloadProgress(), 0.9);
    EXPECT_EQ(state->aiModelDownloadStage(), formatByteCount(12'300'000) + " / " + formatByteCount(398'000'000));
    sink(event(ModelDownloadEvent::Kind::compiling, 0, 0, 0, 0, "own stage text"));
    EXPECT_DOUBLE_EQ(state->aiModelDownloadProgress(), 0.95);
    EXPECT_EQ(state->aiModelDownloadStage(), L10n::text("ai.stageCompiling", AppLanguage::en));
    sink(event(ModelDownloadEvent::Kind::completed, 0, 0, 0, 200'000'000));
    EXPECT_FALSE(state->isDownloadingAIModel());
    EXPECT_DOUBLE_EQ(state->aiModelDownloadProgress(), 1.0);
    EXPECT_TRUE(state->aiModelDownloadStage().isEmpty());
    EXPECT_EQ(fake->reloads, 1);
    EXPECT_EQ(toast(), "MobileCLIP-S2 ready (" + formatByteCount(200'000'000) + ")");
    EXPECT_FALSE(state->activeToast()->isError);

    // Done: a new press starts a new download.
    state->downloadAIModel();
    EXPECT_EQ(fake->sinks.size(), 2u);
}

TEST_F(ModelDownloadStateTest, CancelAndFailureReturnToIdle)
{
    state->downloadAIModel();
    fake->sinks[0](event(ModelDownloadEvent::Kind::progress, 0.5, 1, 2));
    state->cancelAIModelDownload();
    EXPECT_EQ(fake->cancels, 1);
    EXPECT_FALSE(state->isDownloadingAIModel());
    EXPECT_DOUBLE_EQ(state->aiModelDownloadProgress(), 0);
    EXPECT_TRUE(state->aiModelDownloadStage().isEmpty());
    // Late events of the cancelled job change nothing.
    fake->sinks[0](event(ModelDownloadEvent::Kind::progress, 0.7, 1, 2));
    fake->sinks[0](event(ModelDownloadEvent::Kind::completed, 0, 0, 0, 5));
    EXPECT_FALSE(state->isDownloadingAIModel());
    EXPECT_DOUBLE_EQ(state->aiModelDownloadProgress(), 0);
    EXPECT_EQ(fake->reloads, 0);

    state->downloadAIModel();
    fake->sinks[1](event(ModelDownloadEvent::Kind::progress, 0.5, 1, 2));
    const QString failure = "Download failed: Server answer: HTTP 404";
    fake->sinks[1](event(ModelDownloadEvent::Kind::failed, 0, 0, 0, 0, failure));
    EXPECT_FALSE(state->isDownloadingAIModel());
    EXPECT_DOUBLE_EQ(state->aiModelDownloadProgress(), 0);
    EXPECT_TRUE(state->aiModelDownloadStage().isEmpty());
    EXPECT_EQ(toast(), failure);
    EXPECT_TRUE(state->activeToast()->isError);
    // The failure outlasts its toast, until a retry starts.
    state->dismissToast();
    EXPECT_EQ(state->aiModelDownloadError(), failure);
    state->downloadAIModel();
    EXPECT_TRUE(state->aiModelDownloadError().isEmpty());
    fake->sinks[2](event(ModelDownloadEvent::Kind::failed, 0, 0, 0, 0, failure));
    EXPECT_EQ(state->aiModelDownloadError(), failure);

    // The sinks the services keep do not keep the services alive: once the state is gone,
    // only this test holds them (otherwise the two would never be freed).
    state.reset();
    EXPECT_EQ(fake.use_count(), 1);
    fake->sinks[1](event(ModelDownloadEvent::Kind::completed, 0, 0, 0, 5)); // reaches no state
    EXPECT_EQ(fake->reloads, 0);
}

// One job per video however often it is asked; the outcome lands in the transcripts, the
// toast and the busy set, for speech, silence and failure alike.
TEST_F(ModelDownloadStateTest, TranscribesEachVideoOnce)
{
    const VideoFile video = *VideoFile::make("/v/a.mp4", 100, QDateTime::currentDateTime(), std::nullopt);
    VideoTranscriptEntry spoken;
    spoken.fullText = "hello there";
    spoken.segments = {TranscriptSegment{}, TranscriptSegment{}};
    struct Case {
        const char *name;
        std::optional<VideoTranscriptEntry> result;
        QString toast;
        bool isError;
    };
    const std::vector<Case> cases = {
        {"speech", spoken, L10n::text("speech.transcript", AppLanguage::ja) + " (2)", false},
        {"silence", VideoTranscriptEntry{}, L10n::text("speech.noSpeech", AppLanguage::ja), false},
        {"failure", std::nullopt, "no audio track", true},
    };
    state->setLanguage(AppLanguage::ja);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake->result = c.result;
        fake->transcribeLanguages.clear();
        state->setSpeechTranscripts({});
        state->transcribeSelected(video);
        state->transcribeSelected(video);
        EXPECT_TRUE(state->transcribingVideoIDs().contains(video.id));
        fake->release.release();
        ASSERT_TRUE(lktest::waitFor([&] { return state->transcribingVideoIDs().isEmpty(); }));
        EXPECT_EQ(fake->transcribeLanguages, QList<AppLanguage>{AppLanguage::ja});
        EXPECT_EQ(toast(), c.toast);
        EXPECT_EQ(state->activeToast()->isError, c.isError);
        EXPECT_EQ(state->speechTranscripts().contains(video.id), bool(c.result));
    }
    EXPECT_EQ(fake->stored.size(), 2);
}

} // namespace
