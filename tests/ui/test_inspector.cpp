// The inspector against real clips and a real application state: selection loading, the
// app-wide signals, the full-screen hand-over, the actions and the media facts grid.
#include "library/AppState.h"
#include "media/MediaMetadataService.h"
#include "media/VideoPlayerController.h"
#include "support/TestSupport.h"
#include "ui/inspector/InspectorMediaInfo.h"
#include "ui/inspector/InspectorPlayerCard.h"
#include "ui/inspector/InspectorPlayerView.h"
#include "ui/inspector/InspectorSections.h"
#include "ui/inspector/InspectorWidgets.h"
#include "ui/Availability.h"
#include "ui/LinearTheme.h"
#include "ui/player/ScrubberBar.h"
#include "ui/player/TransportControls.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <functional>

namespace {

using lktest::waitFor;

// Lets queued reactions run.
void settle() { QTest::qWait(30); }

// Counts what the inspector asks of the media service, and can hold answers back.
class RecordingMedia : public MediaMetadataService {
public:
    using MediaMetadataService::metadata;
    using MediaMetadataService::thumbnail;

    void invalidate(const QUrl &url) override
    {
        invalidated.append(url);
        MediaMetadataService::invalidate(url);
    }
    MediaRequest metadata(const QUrl &url, const QObject *context, MetadataHandler onDone,
                          MediaRequestOptions options) override
    {
        ++metadataRequests;
        if (hold) {
            heldFacts.append({url, onDone});
            return {};
        }
        return MediaMetadataService::metadata(url, context, std::move(onDone), options);
    }
    MediaRequest thumbnail(const QUrl &url, const QSizeF &size, const QObject *context, ThumbnailHandler onDone,
                           MediaRequestOptions options) override
    {
        lastThumbnailSize = size;
        if (hold) {
            heldImages.append({url, onDone});
            return {};
        }
        return MediaMetadataService::thumbnail(url, size, context, std::move(onDone), options);
    }

    bool hold = false;
    QList<QUrl> invalidated;
    int metadataRequests = 0;
    QSizeF lastThumbnailSize;
    QList<std::pair<QUrl, MetadataHandler>> heldFacts;
    QList<std::pair<QUrl, ThumbnailHandler>> heldImages;
};

struct FullscreenCall {
    VideoFile video;
    QList<double> markers;
    AppLanguage language;
    bool wasPlaying;
};

class InspectorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = lktest::sandboxRoot() + "/home/Videos";
        QDir().mkpath(dir);
        ok = lktest::makeClip(dir + "/native.mp4", 3, 320, 240, {"-c:v", "libx264", "-pix_fmt", "yuv420p"}, true) &&
             lktest::makeClip(dir + "/other.mkv", 3, 256, 144, {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
        QFile broken(dir + "/broken.mkv");
        ok = ok && broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(4096, '\x5a')) == 4096;
    }

    void SetUp() override
    {
        ASSERT_TRUE(ok) << "ffmpeg could not make the fixture clips";
        // A fresh copy per test: the trash test removes its file.
        QFile::remove(dir + "/trashme.mp4");
        ASSERT_TRUE(QFile::copy(dir + "/native.mp4", dir + "/trashme.mp4"));
        state = std::make_unique<AppState>();
        // As if the window had been given the move sheet and the editor.
        Availability::setAvailable(state.get(), Availability::View::moveSheet, true);
        Availability::setAvailable(state.get(), Availability::View::editorSheet, true);
        QList<VideoFile> videos;
        for (const char *name : {"native.mp4", "other.mkv", "broken.mkv", "trashme.mp4"}) {
            auto v = VideoFile::fromFile(dir + "/" + name);
            ASSERT_TRUE(v) << name;
            videos.append(*v);
        }
        state->setAllVideos(videos);
        media = std::make_unique<RecordingMedia>();
        InspectorPlayerView::Hooks hooks;
        hooks.media = media.get();
        hooks.openURL = [this](const QUrl &url) {
            opened.append(url);
            return true;
        };
        hooks.revealInFileManager = [this](const QList<QUrl> &urls) {
            revealed.append(urls);
            return true;
        };
        hooks.presentFullscreen = [this](const VideoFile &video, VideoPlayerController *c, AppLanguage lang,
                                         const QList<double> &markers, std::function<void()> onDismiss) {
            presented.append({video, markers, lang, c->isPlaying()});
            pendingDismiss = std::move(onDismiss);
        };
        hooks.dismissFullscreen = [this](bool notify) {
            dismissals.append(notify);
            auto f = std::move(pendingDismiss);
            pendingDismiss = nullptr;
            if (notify && f) f();
        };
        view = std::make_unique<InspectorPlayerView>(state.get(), hooks);
        view->resize(440, 1100);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    void TearDown() override
    {
        view.reset();
        state.reset();
    }

    VideoFile video(const QString &name) const { return *state->videoWithID(standardizedPath(dir + "/" + name)); }
    VideoPlayerController *controller() const { return view->controller(); }

    bool selectAndWait(const QString &name)
    {
        const VideoFile v = video(name);
        state->selectVideo(v);
        return waitFor([&] { return controller()->currentURL() == v.url() && view->mediaInfo().has_value(); });
    }

    QString gridValue(const QString &key) const
    {
        auto *row = view->mediaInfoGrid()->findChild<QWidget *>("meta-row:" + key);
        return row ? row->findChild<QLabel *>("value")->text() : QString("<absent>");
    }

    static inline QString dir;
    static inline bool ok = false;
    std::unique_ptr<AppState> state;
    std::unique_ptr<RecordingMedia> media;
    std::unique_ptr<InspectorPlayerView> view;
    QList<QUrl> opened;
    QList<QList<QUrl>> revealed;
    QList<FullscreenCall> presented;
    QList<bool> dismissals;
    std::function<void()> pendingDismiss;
};

} // namespace

TEST_F(InspectorTest, NativeClipLoadsPausedWithItsFacts)
{
    EXPECT_TRUE(view->showsEmptyState());
    EXPECT_EQ(view->engineBadgeText(), "");
    ASSERT_TRUE(selectAndWait("native.mp4"));
    EXPECT_FALSE(view->showsEmptyState());
    QTest::qWait(400);
    EXPECT_FALSE(controller()->isPlaying());
    EXPECT_FALSE(controller()->isUsingMPV());
    EXPECT_TRUE(controller()->canPlayCurrentFile());
    EXPECT_EQ(view->engineBadgeText(), "AV");
    EXPECT_EQ(media->lastThumbnailSize, QSizeF(480, 270));
    EXPECT_FALSE(view->fallbackThumb().isNull());

    const VideoFile v = video("native.mp4");
    EXPECT_EQ(gridValue("meta.size"), formatByteCount(v.fileSize));
    EXPECT_EQ(gridValue("meta.duration"), "0:03");
    EXPECT_EQ(gridValue("meta.resolution"), QString::fromUtf8("320 × 240"));
    EXPECT_EQ(gridValue("meta.fps"), "25.00 fps");
    EXPECT_EQ(gridValue("meta.codec"), "H.264");
    EXPECT_EQ(gridValue("meta.player"), kNativeEngineName);
    EXPECT_EQ(gridValue("meta.modified"), formatDateTime(v.modifiedDate, uiLocale(AppLanguage::en)));
    EXPECT_EQ(gridValue("meta.created"), v.createdDate ? formatDateTime(*v.createdDate, uiLocale(AppLanguage::en))
                                                       : QString("<absent>"));

    // The file card under the player.
    EXPECT_EQ(view->fileInfoCard()->findChild<QLabel *>("file-name")->text(), "native.mp4");
    EXPECT_EQ(view->fileInfoCard()->findChild<QLabel *>("file-codec")->text(), "H.264");
}

TEST_F(InspectorTest, OtherFormatLoadsPausedInLibmpv)
{
    ASSERT_TRUE(selectAndWait("other.mkv"));
    EXPECT_TRUE(controller()->isUsingMPV());
    ASSERT_TRUE(waitFor([&] { return controller()->duration() > 2.5; }));
    QTest::qWait(300);
    EXPECT_FALSE(controller()->isPlaying());
    EXPECT_TRUE(controller()->canPlayCurrentFile());
    EXPECT_EQ(view->engineBadgeText(), "MPV");
    EXPECT_EQ(gridValue("meta.player"), kMPVEngineName);
    EXPECT_EQ(gridValue("meta.resolution"), QString::fromUtf8("256 × 144"));
    EXPECT_FALSE(view->playerCard()->showsCannotPlay());
    EXPECT_TRUE(view->playerCard()->transportArea()->isVisibleTo(view.get()));
}

TEST_F(InspectorTest, StartTimeComesFromThePendingSeekThenTheBestMomentThenZero)
{
    const VideoFile native = video("native.mp4");
    const VideoFile other = video("other.mkv");
    // A pending time rides along with the selection, is used, and is consumed.
    state->select(native, 1.25);
    settle();
    EXPECT_EQ(controller()->currentURL(), native.url());
    EXPECT_DOUBLE_EQ(controller()->currentTime(), 1.25);
    EXPECT_FALSE(state->pendingSeekTimestamp().has_value());

    // In visual-search mode with a query, the best moment of the hit.
    state->setIsAISearchMode(true);
    state->setSearchQuery("red car");
    ASSERT_TRUE(waitFor([&] { return !state->isAISearchRunning(); }, 5000));
    SearchHitMap hits;
    hits.insert(other.id, VisualSearchHit{0.8, 2.0, {{2.0, 0.8, false}}, false, false});
    state->setAiSearchHits(hits);
    state->setPrimarySelectedVideoID(other.id);
    settle();
    EXPECT_EQ(controller()->currentURL(), other.url());
    EXPECT_DOUBLE_EQ(controller()->currentTime(), 2.0);

    // The pending time wins over the best moment.
    state->setPrimarySelectedVideoID(native.id);
    settle();
    state->setPendingSeekTimestamp(0.5);
    state->setPrimarySelectedVideoID(other.id);
    settle();
    EXPECT_DOUBLE_EQ(controller()->currentTime(), 0.5);
    EXPECT_FALSE(state->pendingSeekTimestamp().has_value());

    // A query of blanks starts at 0.
    state->setPrimarySelectedVideoID(native.id);
    settle();
    state->setSearchQuery("  \n ");
    state->setAiSearchHits(hits);
    state->setPrimarySelectedVideoID(other.id);
    settle();
    EXPECT_DOUBLE_EQ(controller()->currentTime(), 0);
}

TEST_F(InspectorTest, EachSignalReactsOncePerChange)
{
    ASSERT_TRUE(selectAndWait("native.mp4"));
    ASSERT_TRUE(waitFor([&] { return controller()->duration() > 2.5; }));

    // Reload: once per raise, re-probing the file.
    media->invalidated.clear();
    const int before = media->metadataRequests;
    state->setVideoReloadSignal(state->videoReloadSignal() + 1);
    settle();
    EXPECT_EQ(media->invalidated, QList<QUrl>{video("native.mp4").url()});
    EXPECT_EQ(media->metadataRequests, before + 1);

    // Pending seek: used once and cleared; without a time nothing moves.
    state->setPendingSeekTimestamp(2.0);
    state->setPendingSeekSignal(state->pendingSeekSignal() + 1);
    settle();
    EXPECT_DOUBLE_EQ(controller()->currentTime(), 2.0);
    EXPECT_FALSE(state->pendingSeekTimestamp().has_value());
    controller()->seek(1.0);
    state->setPendingSeekSignal(state->pendingSeekSignal() + 1);
    settle();
    EXPECT_DOUBLE_EQ(controller()->currentTime(), 1.0);
    EXPECT_FALSE(controller()->isPlaying());

    // Play/pause: each raise flips the play state once.
    state->setPlaybackToggleSignal(state->playbackToggleSignal() + 1);
    settle();
    EXPECT_TRUE(controller()->isPlaying());
    state->setPlaybackToggleSignal(state->playbackToggleSignal() + 1);
    settle();
    EXPECT_FALSE(controller()->isPlaying());
    // Raised twice before the inspector looks: two flips.
    state->setPlaybackToggleSignal(state->playbackToggleSignal() + 1);
    state->setPlaybackToggleSignal(state->playbackToggleSignal() + 1);
    settle();
    EXPECT_FALSE(controller()->isPlaying());

    // Full screen: the first raise presents, the next one closes with notification.
    state->setFullscreenRequestSignal(state->fullscreenRequestSignal() + 1);
    settle();
    ASSERT_EQ(presented.size(), 1);
    EXPECT_TRUE(view->isFullscreenActive());
    state->setFullscreenRequestSignal(state->fullscreenRequestSignal() + 1);
    settle();
    EXPECT_EQ(dismissals, QList<bool>{true});
    EXPECT_FALSE(view->isFullscreenActive());
    EXPECT_EQ(presented.size(), 1);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(InspectorTest, SignalsWithoutSelectionDoNothing)
{
    state->setPlaybackToggleSignal(state->playbackToggleSignal() + 1);
    state->setFullscreenRequestSignal(state->fullscreenRequestSignal() + 1);
    settle();
    EXPECT_FALSE(controller()->isPlaying());
    EXPECT_TRUE(presented.isEmpty());
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(InspectorTest, FullscreenHandsOverTheControllerAndTakesThePictureBack)
{
    const VideoFile native = video("native.mp4");
    state->setIsAISearchMode(true);
    state->setSearchQuery("dog");
    ASSERT_TRUE(waitFor([&] { return !state->isAISearchRunning(); }, 5000));
    SearchHitMap hits;
    hits.insert(native.id, VisualSearchHit{0.9, 1.0, {{1.0, 0.9, false}, {0.4, 0.5, true}}, false, false});
    state->setAiSearchHits(hits);
    ASSERT_TRUE(selectAndWait("native.mp4"));
    EXPECT_TRUE(view->matchedMomentsSection()->isVisibleTo(view.get()));

    view->presentFullscreen(native);
    ASSERT_EQ(presented.size(), 1);
    EXPECT_TRUE(presented[0].wasPlaying) << "playback starts before the window opens";
    EXPECT_EQ(presented[0].markers, (QList<double>{1.0, 0.4}));
    EXPECT_EQ(presented[0].video.id, native.id);
    EXPECT_TRUE(view->fullscreenPlaceholder()->isVisibleTo(view.get()));
    EXPECT_FALSE(view->playerCard()->isVisibleTo(view.get()));

    // The placeholder's button closes the window; its on-dismiss restores the card.
    const int token = controller()->surfaceRefreshToken();
    view->fullscreenPlaceholder()->exitButton()->click();
    EXPECT_EQ(dismissals, QList<bool>{true});
    EXPECT_FALSE(view->isFullscreenActive());
    EXPECT_GT(controller()->surfaceRefreshToken(), token);
    EXPECT_TRUE(view->playerCard()->isVisibleTo(view.get()));
    EXPECT_FALSE(view->fullscreenPlaceholder()->isVisibleTo(view.get()));
}

TEST_F(InspectorTest, FileThatCannotPlayIsHandedToTheDefaultApp)
{
    const VideoFile broken = video("broken.mkv");
    state->selectVideo(broken);
    ASSERT_TRUE(waitFor([&] { return !controller()->canPlayCurrentFile(); }));
    EXPECT_TRUE(view->playerCard()->showsCannotPlay());
    EXPECT_FALSE(view->playerCard()->transportArea()->isVisibleTo(view.get()));
    EXPECT_EQ(view->playerCard()->cannotPlay()->extensionText(), "MKV");

    state->setPlaybackToggleSignal(state->playbackToggleSignal() + 1);
    settle();
    view->presentFullscreen(broken);
    view->playerCard()->cannotPlay()->openButton()->click();
    EXPECT_EQ(opened, (QList<QUrl>{broken.url(), broken.url(), broken.url()}));
    EXPECT_TRUE(presented.isEmpty());
    EXPECT_FALSE(view->isFullscreenActive());
    ASSERT_TRUE(waitFor([&] { return media->metadataRequests > 0 && view->mediaInfo() == std::nullopt; }));
    EXPECT_EQ(gridValue("meta.codec"), "MKV");
    EXPECT_EQ(gridValue("meta.resolution"), QString::fromUtf8("\u2014"));
}

TEST_F(InspectorTest, SelectingNothingClearsThePlayerAndTheFacts)
{
    ASSERT_TRUE(selectAndWait("native.mp4"));
    state->setPrimarySelectedVideoID(std::nullopt);
    settle();
    EXPECT_TRUE(controller()->currentURL().isEmpty());
    EXPECT_FALSE(view->mediaInfo().has_value());
    EXPECT_TRUE(view->fallbackThumb().isNull());
    EXPECT_TRUE(view->showsEmptyState());
    EXPECT_EQ(view->engineBadgeText(), "");
    EXPECT_FALSE(view->theaterButton()->isVisibleTo(view.get()));
    EXPECT_TRUE(view->closeButton()->isVisibleTo(view.get()));
}

TEST_F(InspectorTest, LateFactsOfAnEarlierSelectionAreDropped)
{
    media->hold = true;
    const VideoFile first = video("native.mp4");
    const VideoFile second = video("other.mkv");
    state->selectVideo(first);
    settle();
    state->selectVideo(second);
    settle();
    ASSERT_EQ(media->heldFacts.size(), 2);
    VideoMediaInfo firstFacts;
    firstFacts.width = 1;
    firstFacts.height = 1;
    firstFacts.isPlayableNatively = true;
    VideoMediaInfo secondFacts;
    secondFacts.width = 256;
    secondFacts.height = 144;
    // The newer answer first, then the stale one.
    media->heldFacts[1].second(secondFacts, 0);
    media->heldImages[1].second(QImage(), 0);
    ASSERT_EQ(view->mediaInfo(), secondFacts);
    media->heldFacts[0].second(firstFacts, 0);
    media->heldImages[0].second(QImage(8, 8, QImage::Format_RGB32), 0);
    EXPECT_EQ(view->mediaInfo(), secondFacts);
    EXPECT_TRUE(view->fallbackThumb().isNull());
    EXPECT_EQ(gridValue("meta.resolution"), QString::fromUtf8("256 × 144"));
}

TEST_F(InspectorTest, ActionButtonsReachTheState)
{
    const VideoFile v = video("trashme.mp4");
    ASSERT_TRUE(selectAndWait("trashme.mp4"));
    controller()->play();
    ASSERT_TRUE(controller()->isPlaying());

    // Move keeps playing and asks for the move sheet with this one video.
    view->actionsSection()->moveButton()->click();
    EXPECT_EQ(state->videosPendingMove(), QList<VideoFile>{v});
    EXPECT_TRUE(state->showMoveSheet());
    EXPECT_TRUE(controller()->isPlaying());

    // Trim pauses, then hands the video to the editor.
    view->actionsSection()->trimButton()->click();
    EXPECT_FALSE(controller()->isPlaying());
    EXPECT_EQ(state->videoPendingEdit(), v);

    // Both show-in-file-manager buttons ask for this file.
    view->actionsSection()->revealButton()->click();
    view->locationRow()->click();
    EXPECT_EQ(revealed, (QList<QList<QUrl>>{{v.url()}, {v.url()}}));

    // Trash pauses first, then the file leaves the library.
    controller()->play();
    bool pausedBeforeTrash = false;
    QObject::connect(state.get(), &AppState::allVideosChanged, view.get(),
                     [&] { pausedBeforeTrash = !controller()->isPlaying(); });
    view->actionsSection()->trashButton()->click();
    EXPECT_TRUE(pausedBeforeTrash);
    EXPECT_FALSE(state->videoWithID(v.id).has_value());
    EXPECT_FALSE(QFile::exists(v.id));
}

TEST_F(InspectorTest, HeaderButtonsAndTheaterLayout)
{
    ASSERT_TRUE(selectAndWait("native.mp4"));
    EXPECT_EQ(view->headerTitle(), L10n::text("inspector.title", AppLanguage::en));
    const QList<QWidget *> normal = view->visibleCards();
    EXPECT_EQ(normal, (QList<QWidget *>{view->playerCard(), view->actionsSection(),
                                         view->transcriptSection()->parentWidget(), view->fileInfoCard(),
                                         view->mediaInfoGrid()->parentWidget()}));
    EXPECT_EQ(view->playerCard()->playerHeight(), InspectorPlayerView::kPlayerHeight);

    view->theaterButton()->click();
    EXPECT_TRUE(state->isTheaterMode());
    EXPECT_EQ(view->headerTitle(), L10n::text("inspector.theater", AppLanguage::en));
    EXPECT_TRUE(view->theaterButton()->isActive());
    EXPECT_EQ(view->theaterButton()->systemName(), "rectangle.compress.vertical");
    EXPECT_EQ(view->playerCard()->playerHeight(), InspectorPlayerView::kTheaterPlayerHeight);
    EXPECT_EQ(view->visibleCards(), (QList<QWidget *>{view->playerCard(), view->actionsSection(),
                                                       view->transcriptSection()->parentWidget()}));

    view->openExternalButton()->click();
    EXPECT_EQ(opened, QList<QUrl>{video("native.mp4").url()});

    controller()->play();
    view->closeButton()->click();
    EXPECT_FALSE(controller()->isPlaying());
    EXPECT_FALSE(state->isTheaterMode());
    EXPECT_FALSE(state->showInspector());
}

TEST_F(InspectorTest, SearchAndTranscriptCardsFollowTheState)
{
    const VideoFile v = video("native.mp4");
    ASSERT_TRUE(selectAndWait("native.mp4"));
    EXPECT_FALSE(view->matchedMomentsSection()->isVisibleTo(view.get()));
    EXPECT_FALSE(view->aiInsightsSection()->isVisibleTo(view.get()));
    EXPECT_EQ(view->transcriptSection()->trailing(), TranscriptSection::Trailing::transcribeButton);

    VisualIndexMap index;
    VideoVisualIndexEntry entry;
    entry.videoID = v.id;
    entry.ocrText = "EXIT";
    entry.labelsEN = {{"sports_car", 0.9f}};
    index.insert(v.id, entry);
    state->setAiIndexEntries(index);
    EXPECT_TRUE(view->aiInsightsSection()->isVisibleTo(view.get()));
    EXPECT_EQ(view->aiInsightsSection()->tags(), QStringList{"sports car"});

    // Moments only in visual-search mode and only with moments.
    SearchHitMap hits;
    hits.insert(v.id, VisualSearchHit{0.5, std::nullopt, {}, false, false});
    state->setAiSearchHits(hits);
    EXPECT_FALSE(view->matchedMomentsSection()->isVisibleTo(view.get()));
    state->setIsAISearchMode(true);
    state->setSearchQuery("car");
    ASSERT_TRUE(waitFor([&] { return !state->isAISearchRunning(); }, 5000));
    hits[v.id].moments = {{2.5, 0.5, false}};
    state->setAiSearchHits(hits);
    ASSERT_TRUE(view->matchedMomentsSection()->isVisibleTo(view.get()));
    EXPECT_EQ(view->visibleCards().indexOf(view->matchedMomentsSection()->parentWidget()), 1);

    // A jump seeks and starts playback; a jump while playing only seeks.
    view->matchedMomentsSection()->chips()[0]->button()->click();
    EXPECT_DOUBLE_EQ(controller()->currentTime(), 2.5);
    EXPECT_TRUE(controller()->isPlaying());
    view->jumpToSegment(0.5);
    EXPECT_DOUBLE_EQ(controller()->currentTime(), 0.5);
    EXPECT_TRUE(controller()->isPlaying());
    controller()->pause();

    state->setTranscribingVideoIDs({v.id});
    EXPECT_EQ(view->transcriptSection()->trailing(), TranscriptSection::Trailing::progress);
    TranscriptMap transcripts;
    VideoTranscriptEntry transcript;
    transcript.videoID = v.id;
    transcript.segments = {{1.0, "hello there"}};
    transcripts.insert(v.id, transcript);
    state->setSpeechTranscripts(transcripts);
    state->setTranscribingVideoIDs({});
    EXPECT_EQ(view->transcriptSection()->trailing(), TranscriptSection::Trailing::engineName);
    ASSERT_EQ(view->transcriptSection()->segmentButtons().size(), 1);
}

TEST_F(InspectorTest, HidingPausesAndKeepsTheController)
{
    ASSERT_TRUE(selectAndWait("native.mp4"));
    VideoPlayerController *before = controller();
    controller()->play();
    view->hide();
    EXPECT_FALSE(controller()->isPlaying());
    // Signals while hidden wait for the inspector to show again.
    state->setPlaybackToggleSignal(state->playbackToggleSignal() + 1);
    settle();
    EXPECT_FALSE(controller()->isPlaying());
    state->selectVideo(video("other.mkv"));
    settle();
    view->show();
    settle();
    EXPECT_EQ(controller(), before);
    EXPECT_EQ(controller()->currentURL(), video("other.mkv").url());
}

TEST_F(InspectorTest, TextsFollowTheLanguage)
{
    ASSERT_TRUE(selectAndWait("native.mp4"));
    state->setLanguage(AppLanguage::ja);
    EXPECT_EQ(view->headerTitle(), L10n::text("inspector.title", AppLanguage::ja));
    EXPECT_EQ(view->closeButton()->toolTip(), L10n::text("inspector.closePanel", AppLanguage::ja));
    auto *label = view->mediaInfoGrid()->findChild<QWidget *>("meta-row:meta.duration")->findChild<QLabel *>("label");
    EXPECT_EQ(label->text(), L10n::text("meta.duration", AppLanguage::ja));
    EXPECT_EQ(gridValue("meta.modified"), formatDateTime(video("native.mp4").modifiedDate, uiLocale(AppLanguage::ja)));
}

TEST_F(InspectorTest, TransportControlsDriveTheInspectorsController)
{
    const VideoFile native = video("native.mp4");
    ASSERT_TRUE(selectAndWait("native.mp4"));
    TransportControls *t = view->transportControls();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(view->playerCard()->transportControls(), t);
    EXPECT_TRUE(t->isVisibleTo(view.get()));
    // Before the player knows the length, the facts' length is shown.
    EXPECT_NEAR(t->shownDuration(), 3.0, 0.1);
    EXPECT_TRUE(t->subtitleButton()->isHidden());

    t->playButton()->click();
    EXPECT_TRUE(controller()->isPlaying());
    EXPECT_EQ(t->playButton()->symbol(), "pause.fill");
    t->playButton()->click();
    EXPECT_FALSE(controller()->isPlaying());
    t->muteButton()->click();
    EXPECT_TRUE(controller()->isMuted());
    EXPECT_EQ(t->muteButton()->symbol(), "speaker.slash.fill");
    EXPECT_EQ(t->muteButton()->currentColor(), LinearPalette::of(t->muteButton()).systemRed());
    t->loopButton()->click();
    EXPECT_TRUE(controller()->isLooping());
    EXPECT_EQ(t->loopButton()->currentColor(), LinearPalette::of(t->loopButton()).accent());
    ASSERT_TRUE(waitFor([&] { return controller()->duration() > 2.5; }));
    t->forwardButton()->click();
    EXPECT_NEAR(controller()->currentTime(), controller()->duration(), 0.01);
    t->backButton()->click();
    EXPECT_NEAR(controller()->currentTime(), std::max(0.0, controller()->duration() - 10), 0.01);

    // The full-screen button opens the window for the selected video.
    t->fullscreenButton()->click();
    ASSERT_EQ(presented.size(), 1);
    EXPECT_EQ(presented[0].video.id, native.id);
    EXPECT_TRUE(view->isFullscreenActive());
    view->toggleFullscreen();
    EXPECT_FALSE(view->isFullscreenActive());

    state->setLanguage(AppLanguage::de);
    EXPECT_EQ(t->fullscreenButton()->toolTip(), L10n::text("inspector.fullscreen", AppLanguage::de));
}

TEST_F(InspectorTest, ScrubberMarksTheMatchedMomentsOnlyInVisualSearch)
{
    const VideoFile native = video("native.mp4");
    ASSERT_TRUE(selectAndWait("native.mp4"));
    ScrubberBar *bar = view->transportControls()->scrubber();
    EXPECT_TRUE(bar->markers().isEmpty());
    state->setIsAISearchMode(true);
    state->setSearchQuery("car");
    // The query's own search publishes first; the hits below stand for its results.
    ASSERT_TRUE(waitFor([&] { return !state->isAISearchRunning(); }, 5000));
    SearchHitMap hits;
    hits.insert(native.id, VisualSearchHit{0.9, 1.0, {{2.0, 0.9, false}, {0.5, 0.4, true}}, false, false});
    state->setAiSearchHits(hits);
    EXPECT_EQ(bar->markers(), (QList<double>{2.0, 0.5})); // stored order
    // Another video without a hit has no markers.
    state->selectVideo(video("other.mkv"));
    settle();
    EXPECT_TRUE(bar->markers().isEmpty());
    state->selectVideo(native);
    settle();
    EXPECT_EQ(bar->markers(), (QList<double>{2.0, 0.5}));
    // Hits that outlive the mode give no markers.
    state->setIsAISearchMode(false);
    state->setAiSearchHits(hits);
    EXPECT_TRUE(bar->markers().isEmpty()) << "markers outside visual-search mode";
}

TEST_F(InspectorTest, LibmpvFileShowsTheSubtitleButton)
{
    ASSERT_TRUE(selectAndWait("other.mkv"));
    EXPECT_TRUE(view->transportControls()->subtitleButton()->isVisibleTo(view.get()));
}
