// Search moments in the real window: a clip indexed by the real pipeline opens a text match
// where its words are on screen, and scene and speech hits show a chip for each moment in
// the inspector, as text hits do.

#include "UiFixture.h"
#include "search/AppOnDeviceSearchServices.h"
#include "search/ClipFixtures.h"
#include "search/SpeechTranscriptService.h"
#include "search/VisualSearchService.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/inspector/InspectorPlayerView.h"
#include "ui/inspector/InspectorSections.h"
#include "ui/inspector/InspectorWidgets.h"
#include "ui/player/ScrubberBar.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"
#include "media/VideoPlayerController.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

#include <cmath>

using namespace uifx;

namespace {

struct Window {
    std::unique_ptr<LumenkiteApp> app;
    AppState *state = nullptr;

    explicit Window(const QList<VideoFile> &videos)
    {
        QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.hasCompletedOnboarding", true);
        ContentViewParts parts;
        parts.treePane = [](AppState *s, QWidget *parent) -> QWidget * { return new LumenkitePane(s, parent); };
        parts.inspector = makeInspectorPane;
        app = std::make_unique<LumenkiteApp>(parts);
        state = app->state();
        state->setShowOnboarding(false);
        state->setAllVideos(videos);
        state->rebuildTree(true);
        app->show();
        QApplication::setActiveWindow(app->mainWindow());
    }

    // Visual search on from its shortcut, then the words typed as a user types them; true
    // once the search has listed the video.
    bool search(const QString &words, const QString &videoID)
    {
        if (!state->isAISearchMode()) QTest::keyClick(app->mainWindow(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        auto *field = app->mainWindow()->findChild<QLineEdit *>("searchField");
        if (!state->isAISearchMode() || !field) return false;
        field->setFocus();
        field->clear();
        QTest::keyClicks(field, words);
        return waitFor([&] { return !state->isAISearchRunning() && state->aiSearchHits().contains(videoID); }, 20000);
    }

    InspectorPlayerView *inspector() const { return app->mainWindow()->findChild<InspectorPlayerView *>(); }
};

// The chips a user sees: shown, of some size, and inside the visible part of the card.
QList<double> visibleChipTimes(InspectorPlayerView *inspector)
{
    QList<double> times;
    if (!inspector) return times;
    MatchedMomentsSection *section = inspector->matchedMomentsSection();
    if (!section->isVisible()) return times;
    for (MomentChip *chip : section->chips()) {
        const QRect inSection(chip->mapTo(section, QPoint(0, 0)), chip->size());
        if (chip->isVisible() && !chip->visibleRegion().isEmpty() && chip->height() > 8 &&
            section->rect().contains(inSection))
            times.append(chip->moment().timestamp);
    }
    return times;
}

QList<double> hitTimes(const VisualSearchHit &hit)
{
    QList<double> times;
    for (const VisualSearchMoment &m : hit.moments) times.append(m.timestamp);
    return times;
}

} // namespace

// The words are on screen only from 6 s to 10 s of a 14 s clip whose key frames are 7 s
// apart: the keyframe taken for 10.5 s is the one shown at 7 s, and that is where the match
// opens, not at 10.5 s when the words are gone.
TEST(SearchMomentsWindow, ATextMatchOpensWhileTheWordsAreOnScreen)
{
    constexpr double shownFrom = 6, shownUntil = 10;
    const QString path = home() + "/Videos/Signs/museum.mp4";
    const QString font = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
    ASSERT_TRUE(lktest::ffmpegOutput(
        path, {"-f", "lavfi", "-i",
               QStringLiteral("color=c=white:s=640x360:d=14:r=10,drawtext=fontfile=%1:text='MUSEUM DER MODERNEN KUNST':"
                              "fontsize=30:fontcolor=black:x=(w-tw)/2:y=(h-th)/2:enable='between(t,%2,%3)'")
                   .arg(font).arg(shownFrom).arg(shownUntil),
               "-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "70", "-keyint_min", "70", "-sc_threshold", "0"}));
    const VideoFile video = *VideoFile::fromFile(path);
    Window w({video});
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.app->mainWindow()));

    w.state->startAIIndexingIfNeeded();
    ASSERT_TRUE(waitFor([&] { return !w.state->isAIIndexing() && w.state->aiIndexEntries().contains(video.id); }, clipfix::kIndexingWaitMs));
    ASSERT_TRUE(w.search("museum der modernen kunst", video.id));
    const VisualSearchHit hit = w.state->aiSearchHits().value(video.id);
    ASSERT_TRUE(hit.isOCRMatch);
    ASSERT_TRUE(hit.bestTimestamp.has_value());
    EXPECT_GE(*hit.bestTimestamp, shownFrom);
    EXPECT_LE(*hit.bestTimestamp, shownUntil);

    // Opened from its chip, the player starts inside the words' span.
    w.state->selectVideo(video);
    ASSERT_TRUE(waitFor([&] { return !visibleChipTimes(w.inspector()).isEmpty(); }, 10000));
    MomentChip *chip = w.inspector()->matchedMomentsSection()->chips().first();
    chip->button()->click();
    VideoPlayerController *player = w.inspector()->controller();
    double openedAt = -1;
    ASSERT_TRUE(waitFor([&] {
        if (player->isPlaying() && player->currentTime() > 0 && openedAt < 0) openedAt = player->currentTime();
        return openedAt >= 0;
    }, 20000));
    player->pause();
    EXPECT_GE(openedAt, shownFrom);
    EXPECT_LE(openedAt, shownUntil);
}

// A scene hit (the keyframes' embeddings against the query's) and a speech hit (the
// transcript's segments) each show one chip per moment, and the scrubber marks the same
// times.
TEST(SearchMomentsWindow, SceneAndSpeechHitsShowAChipForEachMoment)
{
    ASSERT_TRUE(clipfix::installTinyModels(MobileCLIPModelManager::modelsDirectory()));
    const QString scenePath = home() + "/Videos/Coast/lighthouse.mp4";
    const QString talkPath = home() + "/Videos/Coast/talk.mp4";
    ASSERT_TRUE(lktest::makeClip(scenePath, 12, 320, 180));
    ASSERT_TRUE(lktest::makeClip(talkPath, 12, 320, 180, {}, true));
    const VideoFile scene = *VideoFile::fromFile(scenePath);
    const VideoFile talk = *VideoFile::fromFile(talkPath);

    // The scene clip's keyframes at 2 s and 8 s hold the very embedding the query gets, as
    // an index made by this model would for a picture of it.
    AppOnDeviceSearchServices services;
    services.visualIndex(); // makes the CLIP service the search's query encoder
    VisualSearchService &visual = VisualSearchService::shared();
    const std::optional<std::vector<float>> query = visual.textEmbeddings(visual.translateQuery("lighthouse"));
    ASSERT_TRUE(query.has_value());
    const QuantizedEmbedding embedding = QuantizedEmbedding::fromVector(*query);
    VideoVisualIndexEntry entry;
    entry.videoID = scene.id;
    entry.fileSize = scene.fileSize;
    entry.modifiedTimestamp = std::round(double(scene.modifiedDate.toMSecsSinceEpoch()) / 1000.0);
    entry.clipEmbeddings = {embedding, embedding};
    entry.frameMoments = {{2.0, embedding, {}}, {8.0, embedding, {}}};
    entry.engineUsed = "MobileCLIP-S2 + Tesseract";
    visual.upsert({entry});

    VideoTranscriptEntry transcript;
    transcript.videoID = talk.id;
    transcript.fileSize = talk.fileSize;
    transcript.modifiedTimestamp = std::round(double(talk.modifiedDate.toMSecsSinceEpoch()) / 1000.0);
    transcript.localeIdentifier = "en_US";
    transcript.fullText = "the weather today is sunny the weather tomorrow";
    transcript.segments = {{1.5, "the weather today is sunny"}, {7.5, "the weather tomorrow"}};
    SpeechTranscriptService::shared()->store(transcript);

    Window w({scene, talk});
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.app->mainWindow()));
    ASSERT_TRUE(waitFor([&] {
        return w.state->aiIndexEntries().contains(scene.id) && w.state->speechTranscripts().contains(talk.id);
    }, 20000));

    const struct {
        const char *query;
        VideoFile video;
        bool speech;
    } cases[] = {{"lighthouse", scene, false}, {"weather", talk, true}};
    for (const auto &c : cases)
        for (const bool selectedFirst : {true, false}) {
        SCOPED_TRACE(std::string(c.query) + (selectedFirst ? ", selected first" : ", searched first"));
        // Selected first, the card fills in while it is on screen; searched first, it is
        // made when the row is chosen.
        select(*w.state, {});
        if (selectedFirst) w.state->selectVideo(c.video);
        ASSERT_TRUE(w.search(c.query, c.video.id));
        if (!selectedFirst) w.state->selectVideo(c.video);
        const VisualSearchHit hit = w.state->aiSearchHits().value(c.video.id);
        EXPECT_EQ(hit.isSpeechMatch, c.speech);
        EXPECT_FALSE(hit.isOCRMatch);
        ASSERT_EQ(hit.moments.size(), 2);
        InspectorPlayerView *inspector = nullptr;
        EXPECT_TRUE(waitFor([&] {
            inspector = w.inspector();
            return visibleChipTimes(inspector) == hitTimes(hit);
        }, 10000)) << visibleChipTimes(inspector).size();
        ASSERT_NE(inspector, nullptr);
        EXPECT_EQ(inspector->matchedMomentsSection()->countText(), "2");
        EXPECT_EQ(inspector->findChild<ScrubberBar *>()->markers(), hitTimes(hit));
    }
}
