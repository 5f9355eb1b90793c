// Searching by spoken words in the real window: a generated clip that says a sentence is
// transcribed, the word is typed in visual search mode, and the clip is listed with its
// moment, which plays from there when clicked.

#include "UiFixture.h"
#include "search/SpeechTranscriptService.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/inspector/InspectorPlayerView.h"
#include "ui/inspector/InspectorSections.h"
#include "ui/inspector/InspectorWidgets.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"
#include "media/VideoPlayerController.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

using namespace uifx;

namespace {

bool makeSpeechClip(const QString &path, const QString &sentence)
{
    return lktest::cachedFile(path, "speech-clip-kal16-padded:" + sentence.toUtf8(), [&](const QString &out) {
        const QString wav = out + ".wav";
        if (lktest::runProgram("flite", {"-voice", "kal16", "-t", sentence, "-o", wav}) != 0) return false;
        // Three seconds of quiet first, so the words start well inside the clip.
        const bool ok = lktest::runProgram("ffmpeg", {"-y", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10",
                                                      "-i", wav, "-filter_complex", "[1:a]adelay=3000|3000,apad=pad_dur=1[a]",
                                                      "-map", "0:v", "-map", "[a]", "-shortest", "-c:v", "libx264",
                                                      "-pix_fmt", "yuv420p", "-c:a", "aac", out}) == 0;
        QFile::remove(wav);
        return ok;
    });
}

} // namespace

TEST(SpeechSearchWindow, ASpokenWordTypedInVisualSearchListsTheClipAndItsMoment)
{
    QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.hasCompletedOnboarding", true);
    const QString talk = home() + "/Videos/Talks/harbour.mp4";
    const QString quiet = home() + "/Videos/Talks/quiet.mp4";
    ASSERT_TRUE(makeSpeechClip(talk, "The weather today is sunny and warm. Seven boats arrived in the morning."));
    ASSERT_TRUE(lktest::makeClip(quiet, 3, 160, 120));
    const VideoFile talkVideo = *VideoFile::fromFile(talk);
    const VideoFile quietVideo = *VideoFile::fromFile(quiet);

    // The transcript, made on the device as the inspector's button makes it.
    const auto result = SpeechTranscriptService::transcribe(talkVideo, AppLanguage::en, QString("/usr/bin/ffmpeg"));
    ASSERT_TRUE(std::holds_alternative<VideoTranscriptEntry>(result));
    const VideoTranscriptEntry transcript = std::get<VideoTranscriptEntry>(result);
    ASSERT_TRUE(transcript.fullText.contains("weather")) << transcript.fullText.toStdString();
    SpeechTranscriptService::shared()->store(transcript);
    SpeechTranscriptService::shared()->waitForSaves();

    ContentViewParts parts;
    parts.treePane = [](AppState *s, QWidget *parent) -> QWidget * { return new LumenkitePane(s, parent); };
    parts.inspector = makeInspectorPane;
    LumenkiteApp app(parts);
    AppState *state = app.state();
    state->setShowOnboarding(false);
    state->setAllVideos({talkVideo, quietVideo});
    state->rebuildTree(true);
    app.show();
    QApplication::setActiveWindow(app.mainWindow());
    ASSERT_TRUE(QTest::qWaitForWindowActive(app.mainWindow()));
    ASSERT_TRUE(waitFor([&] { return state->speechTranscripts().contains(talkVideo.id); }, 5000));

    // Visual search on from its shortcut, then the word typed into the search field.
    QTest::keyClick(app.mainWindow(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(state->isAISearchMode());
    auto *field = app.mainWindow()->findChild<QLineEdit *>("searchField");
    ASSERT_NE(field, nullptr);
    field->setFocus();
    QTest::keyClicks(field, "weather");
    ASSERT_TRUE(waitFor([&] { return !state->isAISearchRunning() && !state->aiSearchHits().isEmpty(); }, 5000));

    // Only the talking clip is listed, marked as a speech match with its moment.
    const QList<VideoFile> listed = state->filteredVideos();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed.first().id, talkVideo.id);
    const VisualSearchHit hit = state->aiSearchHits().value(talkVideo.id);
    EXPECT_TRUE(hit.isSpeechMatch);
    ASSERT_TRUE(hit.bestTimestamp.has_value());
    // The words start after three quiet seconds, and within the sentence's length.
    EXPECT_GE(*hit.bestTimestamp, 2.5);
    EXPECT_LE(*hit.bestTimestamp, 12.0);

    // The inspector shows the moment; a click on it plays from there.
    state->selectVideo(talkVideo);
    InspectorPlayerView *inspector = nullptr;
    ASSERT_TRUE(waitFor([&] {
        inspector = app.mainWindow()->findChild<InspectorPlayerView *>();
        return inspector && !inspector->matchedMomentsSection()->chips().isEmpty();
    }, 5000));
    MomentChip *chip = inspector->matchedMomentsSection()->chips().first();
    EXPECT_DOUBLE_EQ(chip->moment().timestamp, *hit.bestTimestamp);
    chip->button()->click();
    VideoPlayerController *player = inspector->controller();
    EXPECT_TRUE(waitFor([&] { return player->isPlaying() && player->currentTime() >= *hit.bestTimestamp - 0.5; }, 10000));
}
