// The storage insights sheet in the main window: its figures, their updates while it is
// open, and the hand-offs of its buttons.
#include "UiFixture.h"
#include "library/L10n.h"
#include "ui/Controls.h"
#include "ui/sheets/insights/StorageInsightsSheetView.h"
#include "ui/window/LumenkiteApp.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QTest>

using namespace uifx;

namespace {

class InsightsSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ContentViewParts parts;
        parts.storageInsightsSheet = [](AppState *s, QWidget *parent) -> QDialog * {
            return new StorageInsightsSheetView(s, parent);
        };
        parts.duplicatesSheet = [](AppState *, QWidget *parent) { return dummySheet(parent); };
        parts.batchCompressSheet = [](AppState *, QWidget *parent) { return dummySheet(parent); };
        app = std::make_unique<LumenkiteApp>(parts);
        state = app->state();
        state->setShowOnboarding(false);
    }
    void TearDown() override { app.reset(); }

    void load(const QList<VideoFile> &videos)
    {
        state->setAllVideos(videos);
        state->rebuildTree(true);
        app->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->mainWindow()));
    }
    // Opens the sheet as the menu command does and waits for its figures.
    StorageInsightsSheetView *open()
    {
        state->setShowStorageInsightsSheet(true);
        auto *sheet = qobject_cast<StorageInsightsSheetView *>(content()->openSheet());
        EXPECT_NE(sheet, nullptr);
        if (sheet) { EXPECT_TRUE(waitFor([&] { return !sheet->isComputing(); })); }
        return sheet;
    }
    ContentView *content() const { return app->mainWindow()->contentView(); }
    static QString text(QWidget *sheet, const char *name) { return sheet->findChild<ThemedLabel *>(name)->text(); }
    static QList<QWidget *> rows(QWidget *sheet, const char *name)
    {
        QList<QWidget *> out;
        for (QWidget *w : sheet->findChildren<QWidget *>(name)) out << w;
        return out;
    }
    template <typename T> static QStringList property(const QList<QWidget *> &widgets, const char *name)
    {
        QStringList out;
        for (QWidget *w : widgets) out << w->property(name).value<T>();
        return out;
    }
    static QAbstractButton *button(QWidget *within, const char *name) { return within->findChild<QAbstractButton *>(name); }

    std::unique_ptr<LumenkiteApp> app;
    AppState *state = nullptr;
};

QList<VideoFile> manyVideos(int n)
{
    QList<VideoFile> out;
    for (int i = 0; i < n; ++i)
        out << video(home() + QString("/Videos/F%1/v%2.mp4").arg(i % 8).arg(i), 1'000'000 + (i % 5) * 1000);
    return out;
}

} // namespace

TEST_F(InsightsSheetTest, ShowsTheLibrarysFiguresAndFollowsItsChanges)
{
    const QList<VideoFile> lib = library();
    load(lib);
    StorageInsightsSheetView *sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(text(sheet, "libraryTotal"), formatByteCount(570'144'000));
    EXPECT_EQ(text(sheet, "videoCount"), "5 videos");
    // Folders heaviest first; videos largest first.
    const QString base = home() + "/Videos/";
    EXPECT_EQ(property<QString>(rows(sheet, "folderRow"), "path"), (QStringList{base + "Trips", base + "Family"}));
    EXPECT_EQ(property<QString>(rows(sheet, "videoRow"), "videoID"),
              (QStringList{lib[1].id, lib[4].id, lib[2].id, lib[0].id, lib[3].id}));

    // The library changes while the sheet is open: the figures follow.
    state->setAllVideos({lib[0], lib[3]});
    ASSERT_TRUE(waitFor([&] { return !sheet->isComputing() && sheet->statistics().videoCount == 2; }));
    EXPECT_EQ(text(sheet, "videoCount"), "2 videos");
    EXPECT_EQ(text(sheet, "libraryTotal"), "3 MB");
    EXPECT_EQ(rows(sheet, "videoRow").size(), 2);

    // A new language relabels the open sheet.
    state->setLanguage(AppLanguage::de);
    EXPECT_EQ(text(sheet, "title"), L10n::text("insights.title", AppLanguage::de));
    EXPECT_EQ(text(sheet, "videoCount"), "2 " + L10n::text("toolbar.videos", AppLanguage::de));
    EXPECT_EQ(button(sheet, "doneButton")->text(), L10n::text("dup.done", AppLanguage::de));
    state->setLanguage(AppLanguage::en);
}

TEST_F(InsightsSheetTest, ManyVideosListTenAndEmptyLibraryListsNothing)
{
    load(manyVideos(30));
    StorageInsightsSheetView *sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(rows(sheet, "videoRow").size(), 10);
    EXPECT_EQ(rows(sheet, "folderRow").size(), 6);
    sheet->dismissAction();
    spin(10);

    state->setAllVideos({});
    sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(text(sheet, "libraryTotal"), "Zero KB");
    EXPECT_EQ(text(sheet, "videoCount"), "0 videos");
    EXPECT_TRUE(rows(sheet, "videoRow").isEmpty());
    EXPECT_TRUE(rows(sheet, "folderRow").isEmpty());
    // The compressor still opens, with nothing to compress.
    state->setVideosPendingCompression({library().first()});
    QTest::mouseClick(button(sheet, "compressLargestButton"), Qt::LeftButton);
    EXPECT_TRUE(state->showBatchCompressSheet());
    EXPECT_TRUE(state->videosPendingCompression().isEmpty());
    EXPECT_FALSE(state->showStorageInsightsSheet());
}

TEST_F(InsightsSheetTest, ButtonsCloseTheSheetBeforeHandingOverExceptTheFolderReveal)
{
    const QList<VideoFile> lib = library();
    load(lib);
    StorageInsightsSheetView *sheet = open();
    ASSERT_NE(sheet, nullptr);
    QList<QUrl> revealed;
    sheet->revealFolderHandler = [&](const QUrl &u) { revealed << u; };
    QTest::mouseClick(button(rows(sheet, "folderRow").first(), "revealFolderButton"), Qt::LeftButton);
    EXPECT_EQ(revealed, (QList<QUrl>{QUrl::fromLocalFile(home() + "/Videos/Trips")}));
    EXPECT_EQ(content()->openSheet(), sheet);

    struct Case {
        const char *what;
        std::function<QAbstractButton *(QWidget *)> find;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"compress one video",
         [&](QWidget *s) { return button(rows(s, "videoRow").at(1), "compressVideoButton"); },
         [&] {
             EXPECT_EQ(state->videosPendingCompression(), QList<VideoFile>{lib[4]});
             EXPECT_TRUE(state->showBatchCompressSheet());
         }},
        {"compress the largest", [&](QWidget *s) { return button(s, "compressLargestButton"); },
         [&] {
             EXPECT_EQ(state->videosPendingCompression(), (QList<VideoFile>{lib[1], lib[4], lib[2], lib[0], lib[3]}));
             EXPECT_TRUE(state->showBatchCompressSheet());
         }},
        {"duplicates", [&](QWidget *s) { return button(s, "duplicatesButton"); },
         [&] { EXPECT_TRUE(state->showDuplicatesSheet()); }},
        {"show a video",
         [&](QWidget *s) { return button(rows(s, "videoRow").at(2), "revealVideoButton"); },
         [&] {
             EXPECT_EQ(state->primarySelectedVideoID(), std::optional<QString>(lib[2].id));
             EXPECT_TRUE(state->showInspector());
             EXPECT_TRUE(state->searchQuery().isEmpty());
         }},
        {"close", [&](QWidget *s) { return button(s, "closeButton"); }, [] {}},
        {"done", [&](QWidget *s) { return button(s, "doneButton"); }, [] {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // Whatever the last case opened goes away first.
        if (QDialog *other = content()->openSheet(); other && other != sheet) other->reject();
        spin(10);
        state->setShowBatchCompressSheet(false);
        state->setShowDuplicatesSheet(false);
        state->setSearchQuery("zzz");
        state->setShowInspector(false);
        if (!sheet) sheet = open();
        ASSERT_NE(sheet, nullptr);
        QTest::mouseClick(c.find(sheet), Qt::LeftButton);
        EXPECT_FALSE(state->showStorageInsightsSheet());
        c.check();
        sheet = nullptr;
    }
}

TEST(InsightsGeometry, SegmentAndBarWidths)
{
    const struct { qint64 bytes, total; double strip, width; } segments[] = {
        {100, 100, 600, 598},    // one format: the whole strip less the gap
        {1, 1000, 600, 7},       // 0.1 %: drawn as 1.5 %
        {1, 1000, 200, 6},       // and never under 6 points
        {0, 0, 600, 7},          // an empty library divides by 1
        {250, 1000, 400, 98},
    };
    for (const auto &s : segments)
        EXPECT_DOUBLE_EQ(StorageInsightsSheetView::formatSegmentWidth(s.bytes, s.total, s.strip), s.width)
            << s.bytes << "/" << s.total;
    const struct { qint64 bytes, scale; double track, width; } bars[] = {
        {500, 500, 300, 300}, {5, 500, 300, 8}, {250, 500, 300, 150}, {0, 0, 300, 8},
    };
    for (const auto &b : bars)
        EXPECT_DOUBLE_EQ(StorageInsightsSheetView::folderBarWidth(b.bytes, b.scale, b.track), b.width) << b.bytes;
}
