// The trim editor in the window: the timeline's drags and clicks, and the whole road from
// the row's context menu to a new file in the library.

#include "editing/TrimSegments.h"
#include "library/AppState.h"
#include "media/MediaMetadataService.h"
#include "media/VideoPlayerController.h"
#include "support/TestSupport.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/inspector/InspectorPlayerView.h"
#include "ui/sheets/editor/FilmstripTimelineView.h"
#include "ui/sheets/editor/VideoEditorSheet.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/tree/LumenkiteRowView.h"
#include "ui/window/ContentView.h"
#include "ui/window/LumenkiteApp.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>

#include <gtest/gtest.h>

namespace {

struct Timeline {
    FilmstripTimelineView view;
    QList<double> seeks;
    Timeline(const QList<VideoClipSegment> &segments, double total = 10)
    {
        view.resize(1000, 76);
        view.setTotalDuration(total);
        view.setSegments(segments);
        QObject::connect(&view, &FilmstripTimelineView::seekRequested, [this](double t) { seeks << t; });
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    QPoint at(double seconds, int y = 38) const { return {int(std::lround(view.xForTime(seconds))), y}; }
    void drag(QPoint from, QPoint to)
    {
        QTest::mousePress(&view, Qt::LeftButton, {}, from);
        QTest::mouseMove(&view, QPoint((from.x() + to.x()) / 2, to.y()));
        QTest::mouseMove(&view, to);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, to);
    }
    const VideoClipSegment &range(const QUuid &id) const
    {
        for (const VideoClipSegment &s : view.segments())
            if (s.id == id) return s;
        static VideoClipSegment none;
        return none;
    }
};

// The real window over one clip of `folder`, with the trim editor as its editor sheet.
std::unique_ptr<LumenkiteApp> editorWindow(const QString &folder, const VideoFile &source, bool withInspector = false)
{
    QSettings().setValue("Lumenkite.language", "en");
    QSettings().setValue("Lumenkite.hasCompletedOnboarding", true);
    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    if (withInspector) parts.inspector = makeInspectorPane;
    parts.editorSheet = &VideoEditorSheet::create;
    auto app = std::make_unique<LumenkiteApp>(parts);
    AppState *state = app->state();
    state->setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile(folder)));
    state->setAllVideos({source});
    state->rebuildTree(true);
    app->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(app->mainWindow()));
    return app;
}

// The editor the window opens for `source`, once it knows the clip's length.
VideoEditorSheet *openEditor(LumenkiteApp &app, const VideoFile &source)
{
    app.state()->setVideoPendingEdit(source);
    VideoEditorSheet *sheet = nullptr;
    lktest::waitFor([&] {
        sheet = app.mainWindow()->findChild<VideoEditorSheet *>();
        return sheet && sheet->isVisible() && sheet->totalDuration() > 0;
    }, 20000);
    return sheet && sheet->totalDuration() > 0 ? sheet : nullptr;
}

} // namespace

TEST(FilmstripTimeline, HandleDragsStopAtNeighboursAndTheMinimumLength)
{
    // Stored out of time order: B [6, 8] first, A [2, 4] second; 100 px per second.
    const VideoClipSegment B = VideoClipSegment::make(6, 8), A = VideoClipSegment::make(2, 4);
    struct Case { const char *what; int index; bool endHandle; double to; QUuid id; double start, end; };
    const Case cases[] = {
        {"A end right, into B", 1, true, 9.5, A.id, 2, 6},
        {"B start left, into A", 0, false, 1, B.id, 4, 8},
        {"A start right, past its end", 1, false, 9, A.id, 3.75, 4},
        {"B end left, past its start", 0, true, 0, B.id, 6, 6.25},
        {"B end right, past the end", 0, true, 12, B.id, 6, 10},
        {"A start left, past 0", 1, false, -1, A.id, 0, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Timeline t({B, A});
        const QRectF handle = c.endHandle ? t.view.endHandle(c.index) : t.view.startHandle(c.index);
        t.drag(handle.center().toPoint(), t.at(c.to));
        EXPECT_EQ(t.view.selectedSegmentID(), c.id);
        EXPECT_NEAR(t.range(c.id).start, c.start, 0.011);
        EXPECT_NEAR(t.range(c.id).end, c.end, 0.011);
        ASSERT_FALSE(t.seeks.isEmpty());
        EXPECT_NEAR(t.seeks.last(), c.endHandle ? c.end : c.start, 0.011); // the player follows the edge
        for (const VideoClipSegment &s : t.view.segments()) EXPECT_LT(s.start, s.end);
    }
}

TEST(FilmstripTimeline, ClicksSeekOnRemovedPartsAndSelectOnRanges)
{
    const VideoClipSegment A = VideoClipSegment::make(2, 4), B = VideoClipSegment::make(6, 8);
    Timeline t({A, B});
    QTest::mouseClick(&t.view, Qt::LeftButton, {}, t.at(5));
    ASSERT_EQ(t.seeks.size(), 1);
    EXPECT_NEAR(t.seeks[0], 5, 0.01);
    t.drag(t.at(5), QPoint(-50, 38)); // past the start: 0
    EXPECT_DOUBLE_EQ(t.seeks.last(), 0);
    t.drag(t.at(9), QPoint(2000, 38)); // past the end: the total
    EXPECT_DOUBLE_EQ(t.seeks.last(), 10);

    t.seeks.clear();
    QSignalSpy edited(&t.view, &FilmstripTimelineView::segmentsEdited);
    QTest::mouseClick(&t.view, Qt::LeftButton, {}, t.at(7));
    EXPECT_EQ(t.view.selectedSegmentID(), B.id);
    EXPECT_TRUE(t.seeks.isEmpty());
    EXPECT_EQ(edited.count(), 0);

    // The range goes while its handle is held: the drag writes nothing.
    QTest::mousePress(&t.view, Qt::LeftButton, {}, t.view.endHandle(0).center().toPoint());
    t.view.setSegments({B});
    QTest::mouseMove(&t.view, t.at(5));
    QTest::mouseRelease(&t.view, Qt::LeftButton, {}, t.at(5));
    ASSERT_EQ(t.view.segments().size(), 1);
    EXPECT_EQ(t.view.segments()[0], B);

    // No duration yet: nothing to press.
    Timeline empty({}, 0);
    QTest::mouseClick(&empty.view, Qt::LeftButton, {}, QPoint(500, 38));
    EXPECT_TRUE(empty.seeks.isEmpty());
}

TEST(TrimEditorWindow, FromTheContextMenuToANewFileInTheLibrary)
{
    const QString folder = lktest::sandboxRoot() + "/home/Videos/Trips";
    const QString clip = folder + "/Harbour.mp4";
    ASSERT_TRUE(lktest::makeClip(clip, 10, 320, 240,
                                 {"-c:v", "libx264", "-preset", "ultrafast", "-g", "50", "-pix_fmt", "yuv420p",
                                  "-c:a", "aac"},
                                 true));
    const VideoFile source = *VideoFile::fromFile(clip);
    const auto window = editorWindow(folder, source);
    LumenkiteApp &app = *window;
    AppState *state = app.state();

    std::unique_ptr<QMenu> menu(LumenkiteRowView::makeContextMenu(*state, source, nullptr));
    QAction *trim = menu->findChild<QAction *>("ctx.trim");
    ASSERT_TRUE(trim);
    trim->trigger();
    VideoEditorSheet *sheet = nullptr;
    ASSERT_TRUE(lktest::waitFor([&] {
        sheet = app.mainWindow()->findChild<VideoEditorSheet *>();
        return sheet && sheet->isVisible() && sheet->totalDuration() > 0;
    }, 20000));
    ASSERT_EQ(sheet->segments().size(), 1);
    EXPECT_NEAR(sheet->segments()[0].end, 10, 0.1);
    EXPECT_EQ(sheet->exportButton()->text(), "Trim && Export");
    EXPECT_FALSE(sheet->removeRangeButton()->isEnabled());

    // +5 s, split; back 2 × 1 s, split; pick the middle range and remove it.
    auto click = [](QAbstractButton *b) { QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center()); };
    auto tooltip = [&](const QString &tip) {
        for (QAbstractButton *b : sheet->findChildren<QAbstractButton *>())
            if (b->toolTip() == tip) return b;
        return static_cast<QAbstractButton *>(nullptr);
    };
    click(tooltip("+5s"));
    ASSERT_TRUE(lktest::waitFor([&] { return std::abs(sheet->controller()->currentTime() - 5) < 0.05; }));
    click(sheet->splitButton());
    click(tooltip("-1s"));
    click(tooltip("-1s"));
    ASSERT_TRUE(lktest::waitFor([&] { return std::abs(sheet->controller()->currentTime() - 3) < 0.05; }));
    click(sheet->splitButton());
    ASSERT_EQ(sheet->segments().size(), 3);
    EXPECT_EQ(sheet->exportButton()->text(), "Merge && Export");
    const QList<QWidget *> chips = sheet->segmentChips();
    ASSERT_EQ(chips.size(), 3);
    click(static_cast<QAbstractButton *>(chips[1]));
    ASSERT_TRUE(sheet->selectedSegmentID());
    click(sheet->removeRangeButton());
    const QList<VideoClipSegment> kept = sheet->sortedSegments();
    ASSERT_EQ(kept.size(), 2);
    EXPECT_NEAR(kept[0].end, 3, 0.05);
    EXPECT_NEAR(kept[1].start, 5, 0.05);
    EXPECT_NEAR(sheet->keptDuration(), 8, 0.1);
    EXPECT_TRUE(sheet->summaryText().startsWith("0:10 \u2192 0:08")) << sheet->summaryText().toStdString();

    click(sheet->exportButton());
    EXPECT_TRUE(sheet->isExporting());
    EXPECT_FALSE(sheet->closeButton()->isEnabled());
    ASSERT_TRUE(lktest::waitFor([&] { return !state->videoPendingEdit().has_value(); }, 120000));

    const QString output = folder + "/Harbour_trimmed.mp4";
    ASSERT_TRUE(QFileInfo::exists(output));
    QString duration;
    lktest::runProgram("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", output},
                       &duration);
    EXPECT_NEAR(duration.trimmed().toDouble(), 8, 0.3);
    EXPECT_TRUE(state->videoWithID(standardizedPath(output)).has_value());
    EXPECT_TRUE(state->videoWithID(source.id).has_value()); // a new file: the source stays
    EXPECT_EQ(state->primarySelectedVideoID(), std::optional<QString>(standardizedPath(output)));
    ASSERT_TRUE(state->activeToast());
    EXPECT_FALSE(state->activeToast()->isError);
}

namespace {

// Real file steps whose first rename waits until the test lets it go.
class HeldSteps : public SafeReplace::FileSteps {
public:
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    bool rename(const QString &from, const QString &to, QString *error) override
    {
        entered = true;
        while (!release) QThread::msleep(5);
        return FileSteps::rename(from, to, error);
    }
};

} // namespace

TEST(TrimEditorSheet, AResultPutInPlaceAfterTheUserCancelledStillReachesTheLibrary)
{
    const QString folder = lktest::sandboxRoot() + "/home/Videos/Late";
    const QString clip = folder + "/Late.mkv";
    ASSERT_TRUE(lktest::makeClip(clip, 6, 320, 240, {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"}));
    QSettings().setValue("Lumenkite.language", "en");
    AppState state;
    state.setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile(folder)));
    const VideoFile source = *VideoFile::fromFile(clip);
    state.setAllVideos({source});
    state.rebuildTree(true);
    state.setVideoPendingEdit(source);

    auto steps = std::make_shared<HeldSteps>();
    TrimExportOptions options;
    options.fileSteps = steps;
    auto *sheet = new VideoEditorSheet(&state, source, nullptr, options);
    sheet->show();
    ASSERT_TRUE(lktest::waitFor([&] { return sheet->totalDuration() > 0; }, 20000));

    // A shorter duration learned later cuts the ranges to it.
    sheet->applyDuration(4);
    ASSERT_EQ(sheet->segments().size(), 1);
    EXPECT_DOUBLE_EQ(sheet->segments()[0].end, 4);
    EXPECT_EQ(sheet->selectedSegmentID(), sheet->segments()[0].id);

    sheet->startExport();
    EXPECT_DOUBLE_EQ(sheet->exportProgress(), 0.02);
    EXPECT_EQ(sheet->exportStage(), "Exporting video…");
    ASSERT_TRUE(lktest::waitFor([&] { return steps->entered.load(); }, 120000));
    sheet->cancelExport(); // too late: the file is being put in place
    EXPECT_FALSE(sheet->isExporting());
    steps->release = true;

    const QString output = standardizedPath(folder + "/Late_trimmed.mp4");
    ASSERT_TRUE(lktest::waitFor([&] { return state.videoWithID(output).has_value(); }, 20000));
    EXPECT_TRUE(QFileInfo::exists(output));
    EXPECT_FALSE(state.videoPendingEdit().has_value());
    delete sheet;
}

// Replace Original in the window: the inspector and the row's stored facts become the new
// file's (as ffprobe reads them) and never show the old file's under its name; a toast
// tells of the saved file. The 1080p preset brings a larger picture down to 1920x1080.
// Every export runs ffmpeg: without it an MP4 opens for editing, but the export button stays
// off and the editor says what is missing (in the interface language), so nothing is tried.
TEST(TrimEditorWindow, WithoutFFmpegExportIsOffAndTheEditorSaysWhy)
{
    const QString folder = lktest::sandboxRoot() + "/home/Videos/NoTools";
    const QString clip = folder + "/Harbour.mp4";
    ASSERT_TRUE(lktest::makeClip(clip, 4, 320, 240, {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"}));
    // The program looks for its tools only once, in fixed folders: hidden before the first look.
    qputenv("LUMENKITE_HIDE_TOOLS", "ffmpeg");
    const VideoFile source = *VideoFile::fromFile(clip);
    const auto window = editorWindow(folder, source);
    AppState *state = window->state();
    VideoEditorSheet *sheet = openEditor(*window, source);
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(sheet->hasFFmpeg());
    EXPECT_FALSE(sheet->exportButton()->isEnabled());
    ASSERT_TRUE(sheet->ffmpegMissingNote()->isVisible());
    EXPECT_EQ(sheet->ffmpegMissingNote()->text(), "Trimming needs ffmpeg, which was not found.");
    QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
    sheet->startExport();
    EXPECT_FALSE(sheet->isExporting());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"Harbour.mp4"});

    state->setLanguage(AppLanguage::de);
    EXPECT_TRUE(lktest::waitFor([&] {
        return sheet->ffmpegMissingNote()->text() == L10n::text("trim.noFFmpeg", AppLanguage::de);
    }));
    EXPECT_FALSE(sheet->exportButton()->isEnabled());
}

TEST(TrimEditorWindow, AReplacedFileShowsItsNewFactsEverywhere)
{
    const QString folder = lktest::sandboxRoot() + "/home/Videos/Wide";
    const QString clip = folder + "/Wide.mp4";
    ASSERT_TRUE(lktest::ffmpegOutput(clip, {"-f", "lavfi", "-i", "testsrc2=size=2560x1440:rate=10:duration=3", "-c:v",
                                            "libx264", "-preset", "ultrafast", "-g", "10", "-pix_fmt", "yuv420p"}));
    const VideoFile source = *VideoFile::fromFile(clip);
    const auto window = editorWindow(folder, source, true);
    LumenkiteApp &app = *window;
    AppState *state = app.state();
    state->selectVideo(source);
    state->setShowInspector(true);
    InspectorPlayerView *inspector = inspectorFor(state);
    ASSERT_TRUE(inspector);
    ASSERT_TRUE(lktest::waitFor([&] { return inspector->mediaInfo() && inspector->mediaInfo()->width == 2560; }, 20000));

    VideoEditorSheet *sheet = openEditor(app, source);
    ASSERT_NE(sheet, nullptr);
    sheet->applyDuration(1.5); // the kept range: 0 to 1.5 s
    sheet->setExportPreset(TrimExportPreset::h2641080p);
    sheet->setSaveMode(TrimSaveMode::replaceOriginal);
    // The toast is kept as it is shown: on a busy machine it can time out before the facts
    // below have been read again.
    std::optional<ToastMessage> toast;
    QObject::connect(state, &AppState::activeToastChanged, state, [&] {
        if (state->activeToast() && !toast) toast = state->activeToast();
    });
    QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
    ASSERT_TRUE(lktest::waitFor([&] { return !state->videoPendingEdit().has_value(); }, 120000));

    QString facts;
    lktest::runProgram("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                   "stream=width,height,codec_name:format=duration", "-of", "default=nw=1", clip},
                       &facts);
    const QStringList lines = facts.split('\n', Qt::SkipEmptyParts);
    auto fact = [&](const QString &key) {
        for (const QString &l : lines)
            if (l.startsWith(key + "=")) return l.mid(key.size() + 1);
        return QString();
    };
    ASSERT_EQ(fact("width"), "1920");
    ASSERT_EQ(fact("height"), "1080");
    const double duration = fact("duration").toDouble();
    EXPECT_NEAR(duration, 1.5, 0.1);
    // The inspector never shows the 2560 facts again once the new file is selected.
    ASSERT_TRUE(lktest::waitFor([&] {
        const auto &info = inspector->mediaInfo();
        EXPECT_TRUE(!info || info->width != 2560);
        return info && info->width == 1920;
    }, 20000));
    EXPECT_EQ(inspector->mediaInfo()->height, 1080);
    EXPECT_NEAR(inspector->mediaInfo()->duration.value_or(0), duration, 0.05);
    // The facts the rows read are the new file's too.
    const std::optional<VideoMediaInfo> stored = MediaMetadataService::shared().cachedMetadata(QUrl::fromLocalFile(clip));
    ASSERT_TRUE(stored);
    EXPECT_NEAR(stored->duration.value_or(0), duration, 0.05);
    EXPECT_EQ(stored->width, 1920);
    ASSERT_TRUE(lktest::waitFor([&] { return toast.has_value(); }, 20000));
    EXPECT_FALSE(toast->isError);
    EXPECT_TRUE(toast->message.startsWith("Wide.mp4")) << toast->message.toStdString();
}

// Cancel while ffmpeg encodes: within a second no ffmpeg runs and no partial file is left.
TEST(TrimEditorSheet, CancelStopsFFmpegAtOnceAndLeavesNoPartial)
{
    const QString folder = lktest::sandboxRoot() + "/home/Videos/Cancel";
    const QString clip = folder + "/Long.mkv";
    ASSERT_TRUE(lktest::makeClip(clip, 6, 320, 240, {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"}));
    const QString pidFile = folder + "/../cancel-pid", fake = folder + "/../cancel-ffmpeg";
    ASSERT_FALSE(lktest::writeScript(fake, "for last; do :; done\necho $$ > '" + pidFile +
                                               "'\necho partial > \"$last\"\nexec sleep 600").isEmpty());
    QSettings().setValue("Lumenkite.language", "en");
    AppState state;
    const VideoFile source = *VideoFile::fromFile(clip);
    state.setAllVideos({source});
    state.setVideoPendingEdit(source);
    TrimExportOptions options;
    options.ffmpegPath = fake;
    auto *sheet = new VideoEditorSheet(&state, source, nullptr, options);
    sheet->show();
    ASSERT_TRUE(lktest::waitFor([&] { return sheet->totalDuration() > 0; }, 20000));
    auto partials = [&] { return QDir(folder).entryList({".Lumenkite-*"}, QDir::Files | QDir::Hidden); };
    sheet->startExport();
    ASSERT_TRUE(lktest::waitFor([&] { return QFileInfo(pidFile).size() > 0 && !partials().isEmpty(); }, 20000));
    QFile p(pidFile);
    ASSERT_TRUE(p.open(QIODevice::ReadOnly));
    const pid_t pid = p.readAll().trimmed().toInt();
    auto *cancel = sheet->findChild<QPushButton *>("progressCancel");
    ASSERT_TRUE(cancel && cancel->isVisible());
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(sheet->isExporting());
    EXPECT_TRUE(lktest::waitFor([&] { return ::kill(pid, 0) != 0 && partials().isEmpty(); }, 1000));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"Long.mkv"});
    EXPECT_TRUE(state.videoPendingEdit().has_value()); // the sheet stays open for another try
    delete sheet;
}
