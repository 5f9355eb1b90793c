// The batch compress sheet: which videos it offers and ticks, its estimate and select-all,
// a whole run from the window to files in the library, and a stop while ffmpeg runs.

#include "library/AppState.h"
#include "support/TestSupport.h"
#include "ui/sheets/compressor/BatchCompressSheetView.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/ContentView.h"
#include "ui/window/LumenkiteApp.h"
#include "UiFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

constexpr qint64 MiB = 1024 * 1024;

QStringList namesOf(const QList<VideoFile> &videos)
{
    QStringList names;
    for (const VideoFile &v : videos) names << v.name;
    return names;
}

QList<VideoFile> sized(const QList<qint64> &sizes)
{
    QList<VideoFile> videos;
    for (qsizetype i = 0; i < sizes.size(); ++i)
        videos << uifx::video(uifx::home() + "/Videos/v" + QString::number(i) + ".mp4", sizes[i]);
    return videos;
}

void click(QAbstractButton *b) { QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center()); }

} // namespace

TEST(BatchCompressSheet, OffersTheHandedOverOrTheLargestVideosAndTicksTheDefault)
{
    struct Case {
        const char *what;
        QList<qint64> library;
        QList<int> handedOver; // indexes into the library
        int rows;
        QString first, last;
        int ticked;
    };
    QList<qint64> many;
    for (int i = 0; i < 75; ++i) many << (20 + i) * MiB;
    const Case cases[] = {
        {"75 large: the 60 largest, 10 ticked", many, {}, 60, "v74.mp4", "v15.mp4", 10},
        {"size boundary", {20 * MiB - 1, 20 * MiB, 5}, {}, 1, "v1.mp4", "v1.mp4", 1},
        {"nothing large: everything, largest first", {5, 9, 7}, {}, 3, "v1.mp4", "v0.mp4", 3},
        {"handed over: as given, all ticked", {5 * MiB, 900 * MiB, 30 * MiB, 1}, {3, 0, 2}, 3, "v3.mp4", "v2.mp4", 3},
        {"empty library", {}, {}, 0, "", "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        AppState state;
        const QList<VideoFile> videos = sized(c.library);
        state.setAllVideos(videos);
        QList<VideoFile> pending;
        for (int i : c.handedOver) pending << videos[i];
        state.setVideosPendingCompression(pending);
        BatchCompressSheetView sheet(&state);
        const QList<VideoFile> rows = sheet.candidates();
        ASSERT_EQ(rows.size(), c.rows);
        EXPECT_EQ(rows.isEmpty() ? "" : rows.first().name, c.first);
        EXPECT_EQ(rows.isEmpty() ? "" : rows.last().name, c.last);
        EXPECT_EQ(sheet.selectedCandidates().size(), c.ticked);
        EXPECT_EQ(sheet.selectedCandidates(), rows.mid(0, c.ticked));
        EXPECT_EQ(sheet.startButton()->isEnabled(), c.ticked > 0);
    }
}

TEST(BatchCompressSheet, EstimateFollowsThePreset)
{
    AppState state;
    state.setAllVideos(sized({1'000'000'000}));
    BatchCompressSheetView sheet(&state);
    const std::pair<CompressionPreset, qint64> cases[] = {{CompressionPreset::hevcBalanced, 520'000'000},
                                                          {CompressionPreset::hevc1080p, 650'000'000},
                                                          {CompressionPreset::h2641080p, 380'000'000}};
    for (const auto &[preset, expected] : cases) {
        sheet.setPreset(preset);
        EXPECT_EQ(sheet.estimatedSavings(), expected);
    }
    state.setAllVideos(sized({123'456'789})); // the same path, now smaller: still ticked
    sheet.setPreset(CompressionPreset::hevcBalanced);
    EXPECT_EQ(sheet.estimatedSavings(), 64'197'530);
}

// A ticked video that left the list (here: replaced by its compressed copy) must not make
// a partial selection look complete.
TEST(BatchCompressSheet, SelectAllComparesTheVideosNotTheirNumber)
{
    AppState state;
    const QList<VideoFile> videos = sized({90 * MiB, 80 * MiB, 70 * MiB});
    state.setAllVideos(videos);
    BatchCompressSheetView sheet(&state);
    EXPECT_EQ(sheet.selectAllButton()->text(), "Deselect All");
    QList<VideoFile> after = videos;
    after[0] = uifx::video(uifx::home() + "/Videos/v0_compressed.mp4", 40 * MiB);
    state.setAllVideos(after);
    ASSERT_EQ(sheet.selectedIDs().size(), 3);
    EXPECT_EQ(sheet.selectedCandidates().size(), 2);
    EXPECT_EQ(sheet.selectAllButton()->text(), "Select All");
    click(sheet.selectAllButton());
    EXPECT_EQ(sheet.selectedCandidates(), sheet.candidates());
    click(sheet.selectAllButton());
    EXPECT_TRUE(sheet.selectedCandidates().isEmpty());
    EXPECT_FALSE(sheet.startButton()->isEnabled());
}

// The whole road in the window: the menu hands over two real clips, the run replaces the
// one that shrinks, discards the one that does not, and the summary says so.
TEST(BatchCompressSheetWindow, RunFromTheWindowToTheLibrary)
{
    const QString folder = lktest::sandboxRoot() + "/home/Videos/Batch";
    QDir().mkpath(folder);
    ASSERT_TRUE(lktest::ffmpegOutput(folder + "/Large.mov",
                                     {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=4", "-c:v",
                                      "libx264", "-preset", "ultrafast", "-crf", "6", "-pix_fmt", "yuv420p"}));
    ASSERT_TRUE(lktest::ffmpegOutput(folder + "/Tiny.mp4",
                                     {"-f", "lavfi", "-i", "color=c=gray:size=160x120:rate=5:duration=4", "-c:v",
                                      "libx264", "-preset", "veryslow", "-crf", "51", "-pix_fmt", "yuv420p"}));
    QSettings().setValue("Lumenkite.language", "en");
    QSettings().setValue("Lumenkite.hasCompletedOnboarding", true);
    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    parts.batchCompressSheet = &BatchCompressSheetView::create;
    LumenkiteApp app(parts);
    AppState *state = app.state();
    state->setActiveScope(ScanScope::customFolder(QUrl::fromLocalFile(folder)));
    const VideoFile large = *VideoFile::fromFile(folder + "/Large.mov"), tiny = *VideoFile::fromFile(folder + "/Tiny.mp4");
    state->setAllVideos({large, tiny});
    state->rebuildTree(true);
    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    uifx::select(*state, {large, tiny});
    state->setVideosPendingCompression(state->selectedVideos());
    state->setShowBatchCompressSheet(true);

    BatchCompressSheetView *sheet = nullptr;
    ASSERT_TRUE(lktest::waitFor([&] {
        sheet = app.mainWindow()->findChild<BatchCompressSheetView *>();
        return sheet && sheet->isVisible();
    }));
    EXPECT_EQ(sheet->selectedCandidates().size(), 2);
    EXPECT_EQ(sheet->saveMode(), CompressionSaveMode::replaceOriginal);
    click(sheet->startButton());
    EXPECT_TRUE(sheet->isRunning());
    EXPECT_TRUE(sheet->stopButton()->isVisible());
    ASSERT_TRUE(lktest::waitFor([&] { return sheet->finishedSummary(); }, 120000));
    EXPECT_EQ(sheet->summaryText().section(" · ", 1), "1 / 2 videos");
    const QString output = folder + "/Large.mp4";
    EXPECT_TRUE(QFileInfo::exists(output));
    EXPECT_FALSE(QFileInfo::exists(folder + "/Large.mov"));
    EXPECT_TRUE(state->videoWithID(standardizedPath(output)).has_value());
    EXPECT_FALSE(state->videoWithID(large.id).has_value());
    EXPECT_TRUE(state->videoWithID(tiny.id).has_value());
    EXPECT_EQ(sheet->totalSavedBytes(), large.fileSize - QFileInfo(output).size());

    click(sheet->findChild<QPushButton *>("doneButton"));
    EXPECT_TRUE(lktest::waitFor([&] { return !state->showBatchCompressSheet(); }));
    EXPECT_TRUE(state->videosPendingCompression().isEmpty());
}

// Stop while an encode runs: the program ends at once, nothing is left beside the video,
// the list comes back with the same selection.
TEST(BatchCompressSheet, StopEndsTheEncodeAndReturnsToTheList)
{
    const QString folder = lktest::sandboxRoot() + "/home/Videos/Stop";
    QDir().mkpath(folder);
    ASSERT_TRUE(lktest::ffmpegOutput(folder + "/a.mp4", {"-f", "lavfi", "-i", "testsrc2=size=160x120:duration=2",
                                                         "-c:v", "libx264", "-preset", "ultrafast"}));
    const QString pidFile = folder + "/../stop-pid", fake = folder + "/../fake-ffmpeg";
    ASSERT_FALSE(lktest::writeScript(fake, "for last; do :; done\necho $$ > '" + pidFile +
                                               "'\necho partial > \"$last\"\nexec sleep 600").isEmpty());
    AppState state;
    const VideoFile video = *VideoFile::fromFile(folder + "/a.mp4");
    state.setAllVideos({video});
    BatchCompressionOptions options;
    options.ffmpegPath = fake;
    BatchCompressSheetView sheet(&state, nullptr, options);
    sheet.show();
    click(sheet.startButton());
    ASSERT_TRUE(lktest::waitFor([&] { return QFileInfo(pidFile).size() > 0; }, 20000));
    ASSERT_TRUE(lktest::waitFor([&] { return sheet.statusText() == "1 / 1 \u00B7 a.mp4"; }));
    QFile p(pidFile);
    ASSERT_TRUE(p.open(QIODevice::ReadOnly));
    const pid_t pid = p.readAll().trimmed().toInt();
    click(sheet.stopButton());
    EXPECT_FALSE(sheet.isRunning());
    EXPECT_FALSE(sheet.finishedSummary());
    EXPECT_EQ(sheet.stoppedNote(), "Stopped. No video was finished.");
    EXPECT_TRUE(sheet.startButton()->isVisible());
    EXPECT_EQ(sheet.selectedCandidates(), QList<VideoFile>{video});
    ASSERT_TRUE(lktest::waitFor([&] { return ::kill(pid, 0) != 0; }, 10000));
    ASSERT_TRUE(lktest::waitFor([&] {
        return QDir(folder).entryList({".Lumenkite-*"}, QDir::Files | QDir::Hidden).isEmpty();
    }));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"a.mp4"});
}

// What the summary says is what happened to the disk: space reclaimed only where an
// original left it, new files counted as added space, files kept because they could not
// get smaller and failures named, and a batch where nothing worked never called complete.
TEST(BatchCompressSheet, TheSummaryTellsWhatHappenedToTheDisk)
{
    QSettings().setValue("Lumenkite.language", "en");
    constexpr qint64 MB = 1000 * 1000;
    const VideoFile a = uifx::video(uifx::home() + "/Videos/a.mp4", 100 * MB);
    const VideoFile b = uifx::video(uifx::home() + "/Videos/b.mp4", 50 * MB);
    auto result = [](const VideoFile &v, qint64 compressed, bool replaced, bool skipped = false, bool kept = false) {
        BatchCompressionResult r{v, v.url(), v.fileSize, skipped ? v.fileSize : compressed, replaced, skipped};
        r.originalKept = kept;
        return r;
    };
    using O = CompressionSummary::Outcome;
    struct Case {
        const char *name;
        QList<BatchCompressionResult> results;
        QStringList failed;
        CompressionSaveMode mode;
        O outcome;
        QString headline, counts;
        QStringList details;
    };
    const auto replace = CompressionSaveMode::replaceOriginal, asNew = CompressionSaveMode::saveAsNew;
    const QList<Case> cases{
        {"replaced", {result(a, 40 * MB, true)}, {}, replace, O::complete, "60 MB reclaimed", "1 / 2 videos", {}},
        {"save as new", {result(a, 40 * MB, false)}, {}, asNew, O::complete, "40 MB added in new files",
         "1 / 2 videos", {}},
        {"not smaller", {result(a, 40 * MB, true), result(b, 0, false, true)}, {}, replace, O::complete,
         "60 MB reclaimed", "1 / 2 videos", {"Kept as they were, since they could not get smaller: b.mp4"}},
        {"trash refused", {result(a, 40 * MB, true, false, true)}, {}, replace, O::complete, "Nothing reclaimed",
         "1 / 2 videos", {"Originals still on disk (not reclaimed): a.mp4"}},
        {"all failed", {}, {"a.mp4", "b.mp4"}, replace, O::failed, "Nothing reclaimed", "0 / 2 videos",
         {"Failed: a.mp4, b.mp4"}},
        {"one failed", {result(a, 40 * MB, true)}, {"b.mp4"}, replace, O::partly, "60 MB reclaimed", "1 / 2 videos",
         {"Failed: b.mp4"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const CompressionSummary s = BatchCompressSheetView::summarize(c.results, c.failed, 2, c.mode);
        EXPECT_EQ(s.outcome, c.outcome);
        EXPECT_EQ(s.title, c.outcome == O::failed ? "Compression Failed" : "Compression Complete");
        EXPECT_EQ(s.headline, c.headline);
        EXPECT_EQ(s.headlineGood, c.headline.endsWith("reclaimed") && !c.headline.startsWith("Nothing"));
        EXPECT_EQ(s.counts, c.counts);
        EXPECT_EQ(s.details, c.details);
    }
}
