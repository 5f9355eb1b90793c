#include "UiFixture.h"
#include "ui/window/SidebarView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTest>

using namespace uifx;

namespace {

class SidebarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qunsetenv("LUMENKITE_CAPTURE_DIR");
        state = std::make_unique<AppState>();
        offerEveryView(*state);
        state->setLanguage(AppLanguage::en);
        state->setExternalVolumes({});
        state->setCustomScopes({});
        sidebar = std::make_unique<SidebarView>(state.get());
        sidebar->resize(235, 900);
        sidebar->show();
    }
    void TearDown() override
    {
        sidebar.reset();
        state.reset();
        qunsetenv("LUMENKITE_CAPTURE_DIR");
    }
    SidebarItemRow *row(const QString &name)
    {
        sidebar->rebuild();
        return sidebar->control<SidebarItemRow>(name);
    }

    std::unique_ptr<AppState> state;
    std::unique_ptr<SidebarView> sidebar;
};

QList<VideoFile> tenFormats()
{
    // Extension i appears 10 - i times, so the order is by count.
    const char *exts[] = {"mp4", "mov", "mkv", "avi", "webm", "wmv", "flv", "ts", "mpg", "3gp"};
    QList<VideoFile> out;
    for (int i = 0; i < 10; ++i)
        for (int k = 0; k < 10 - i; ++k) out << video(QStringLiteral("%1/F/%2_%3.%4").arg(home()).arg(i).arg(k).arg(exts[i]));
    return out;
}

} // namespace

TEST_F(SidebarTest, EmptyLibraryHasDisabledToolsNoBadgesAndNoFormats)
{
    sidebar->rebuild();
    for (const char *t : {"tool:duplicates", "tool:compress", "tool:insights"}) {
        ASSERT_NE(row(t), nullptr) << t;
        EXPECT_FALSE(row(t)->isEnabled()) << t;
    }
    for (SmartFilter f : SmartFilterInfo::allCases()) EXPECT_FALSE(row("view:" + SmartFilterInfo::rawValue(f))->badge());
    EXPECT_EQ(sidebar->findChild<QWidget *>("section:sidebar.formats"), nullptr);
    EXPECT_EQ(sidebar->summaryCountText(), "0 videos");
    EXPECT_EQ(sidebar->summarySizeText(), formatByteCount(0));
}

TEST_F(SidebarTest, SmartViewBadgesCountTheWholeLibrary)
{
    state->setAllVideos(library());
    state->setSearchQuery("zzz"); // counts ignore the search
    const std::pair<SmartFilter, const char *> cases[] = {
        {SmartFilter::all, "5"}, {SmartFilter::recent, "3"}, {SmartFilter::largeFiles, "2"},
        {SmartFilter::nativeFormats, "4"}, {SmartFilter::otherFormats, "1"},
    };
    for (const auto &[f, badge] : cases) EXPECT_EQ(row("view:" + SmartFilterInfo::rawValue(f))->badge(), QString(badge));
    EXPECT_TRUE(row("view:all")->isSelected());
    for (const char *t : {"tool:duplicates", "tool:compress", "tool:insights"}) EXPECT_TRUE(row(t)->isEnabled());

    // Large means at least 250,000,000 bytes, as the list counts; recent is 30 days back.
    const QDateTime now = QDateTime::currentDateTime();
    const QList<VideoFile> edge = {video("/a/x.mp4", 249'999'999, 0), video("/a/y.mp4", 250'000'000, 0),
                                   video("/a/z.mp4", 10, 31)};
    EXPECT_EQ(SidebarView::smartFilterCount(SmartFilter::largeFiles, edge, now), 1);
    EXPECT_EQ(SidebarView::smartFilterCount(SmartFilter::recent, edge, now), 2);
    EXPECT_EQ(SidebarView::smartFilterCount(SmartFilter::recent, {video("/a/old.mp4", 10, 60)}, now), 0);
}

TEST_F(SidebarTest, FormatsListTheEightMostFrequent)
{
    state->setAllVideos(tenFormats());
    sidebar->rebuild();
    EXPECT_EQ(sidebar->formatRowExtensions(), QStringList({"MP4", "MOV", "MKV", "AVI", "WEBM", "WMV", "FLV", "TS"}));
}

TEST_F(SidebarTest, SmartViewsAndFormatsSwitchTheFilters)
{
    state->setAllVideos(tenFormats());
    state->setActiveSmartFilter(SmartFilter::recent);
    sidebar->rebuild();
    sidebar->control<QAbstractButton>("format:MOV")->click();
    EXPECT_EQ(state->activeSmartFilter(), SmartFilter::all);
    EXPECT_EQ(state->activeExtensionFilter(), QString("MOV"));
    // With a format active no smart view is selected, not even the active one.
    EXPECT_FALSE(row("view:all")->isSelected());
    sidebar->control<QAbstractButton>("format:MOV")->click();
    EXPECT_FALSE(state->activeExtensionFilter().has_value());
    EXPECT_EQ(state->activeSmartFilter(), SmartFilter::all);

    state->setActiveExtensionFilter("MKV");
    row("view:largeFiles")->click();
    EXPECT_EQ(state->activeSmartFilter(), SmartFilter::largeFiles);
    EXPECT_FALSE(state->activeExtensionFilter().has_value());
}

TEST_F(SidebarTest, SourcesListScopesCustomFoldersAndVolumesWithoutDuplicates)
{
    const QString custom = home() + "/Shoots";
    const QString mount = home() + "/mnt/Card";
    state->setCustomScopes({ScanScope::customFolder(QUrl::fromLocalFile(custom))});
    state->setExternalVolumes({ScanScope::volume("Card", QUrl::fromLocalFile(mount)),
                               ScanScope::volume("Shoots Drive", QUrl::fromLocalFile(custom))});
    QStringList ids;
    for (const ScanScope &s : sidebar->sourceScopes()) ids << s.id();
    EXPECT_EQ(ids, QStringList({ScanScope::homeDirectory().id(), ScanScope::entireMacDeep().id(),
                                ScanScope::customFolder(QUrl::fromLocalFile(custom)).id(),
                                ScanScope::volume("Card", QUrl::fromLocalFile(mount)).id()}));

    sidebar->rebuild();
    auto find = [&](const ScanScope &s) { return sidebar->control<SidebarItemRow>("scope:" + s.id()); };
    SidebarItemRow *home = find(ScanScope::homeDirectory());
    ASSERT_NE(home, nullptr);
    EXPECT_TRUE(home->isSelected());
    EXPECT_EQ(home->toolTip(), L10n::text("scope.users.sub", AppLanguage::en));
    SidebarItemRow *folder = find(ScanScope::customFolder(QUrl::fromLocalFile(custom)));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->title(), "Shoots");
    EXPECT_EQ(folder->icon(), "folder");
    EXPECT_EQ(folder->toolTip(), custom);
    SidebarItemRow *card = find(ScanScope::volume("Card", QUrl::fromLocalFile(mount)));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->title(), "Card");
    EXPECT_EQ(card->trailingButton(), nullptr);
    EXPECT_EQ(home->trailingButton(), nullptr);

    // Hovering the custom folder shows its remove button in place of a badge.
    ASSERT_NE(folder->trailingButton(), nullptr);
    EXPECT_FALSE(folder->trailingButton()->isVisible());
    folder->setHovered(true);
    EXPECT_TRUE(folder->trailingButton()->isVisible());
    folder->trailingButton()->click();
    EXPECT_TRUE(state->customScopes().isEmpty());
    // Removing the custom folder brings the volume of the same path back.
    EXPECT_EQ(sidebar->sourceScopes().size(), 4);

    // Clicking a scope row selects the scope.
    row("scope:" + ScanScope::entireMacDeep().id())->click();
    EXPECT_EQ(state->activeScope(), ScanScope::entireMacDeep());
    state->stopScan();
}

TEST_F(SidebarTest, CaptureModeHidesHomeAndComputerAndOffersAddFolderInTheFooter)
{
    qputenv("LUMENKITE_CAPTURE_DIR", "");
    EXPECT_TRUE(SidebarView::isCaptureMode());
    sidebar->rebuild();
    EXPECT_EQ(row("scope:" + ScanScope::homeDirectory().id()), nullptr);
    EXPECT_EQ(row("scope:" + ScanScope::entireMacDeep().id()), nullptr);
    auto *footer = sidebar->control<QAbstractButton>("footerButton");
    ASSERT_NE(footer, nullptr);
    EXPECT_EQ(footer->text(), L10n::text("sidebar.addFolder", AppLanguage::en));
    qunsetenv("LUMENKITE_CAPTURE_DIR");
    sidebar->rebuild();
    EXPECT_EQ(sidebar->control<QAbstractButton>("footerButton")->text(), L10n::text("sidebar.fullDiskAccess", AppLanguage::en));
}

TEST_F(SidebarTest, CompressorRowHandsOverSeveralSelectedVideosElseTheWholeLibrary)
{
    const QList<VideoFile> lib = library();
    state->setAllVideos(lib);
    // An empty hand-over is the whole library.
    const std::pair<QList<VideoFile>, int> cases[] = {{{}, 0}, {{lib[1]}, 0}, {{lib[0], lib[2]}, 2}};
    for (const auto &[selection, expected] : cases) {
        select(*state, selection);
        state->setShowBatchCompressSheet(false);
        row("tool:compress")->click();
        EXPECT_EQ(state->videosPendingCompression().size(), expected);
        EXPECT_TRUE(state->showBatchCompressSheet());
    }
    EXPECT_EQ(state->videosPendingCompression().first().id, lib[0].id);
}

TEST_F(SidebarTest, AFilterThatLeavesFewVideosOpensTheFoldersHoldingThem)
{
    // 100 small old clips; one large recent mkv lies three folders down, closed.
    QList<VideoFile> lib;
    for (int i = 0; i < 100; ++i) lib << video(QStringLiteral("%1/Videos/Clips/%2/c%3.mp4").arg(home()).arg(i % 4).arg(i));
    const VideoFile deep = video(home() + "/Videos/Deep/Er/Down/one.mkv", 900'000'000, 1);
    lib << deep;
    state->setAllVideos(lib);
    state->rebuildTree(true);
    const QString deepRow = "video:" + deep.id;
    auto shown = [&](const QString &id) {
        for (const TreeRow &r : state->flattenedRows())
            if (r.id() == id) return true;
        return false;
    };
    struct Case { const char *row; bool deepShown; qsizetype clipsShown; };
    const Case cases[] = {
        {"format:MKV", true, 0},          // one result
        {"view:largeFiles", true, 0},     // one result
        {"view:all", false, 0},           // 101 results: nothing opened for them
        {"view:nativeFormats", false, 0}, // 100 results: nothing opened
    };
    state->collapseAll();
    ASSERT_FALSE(shown(deepRow));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.row);
        sidebar->rebuild();
        auto *button = sidebar->control<QAbstractButton>(c.row); // format rows are plain buttons
        ASSERT_NE(button, nullptr);
        button->click();
        EXPECT_EQ(shown(deepRow), c.deepShown);
        qsizetype clips = 0;
        for (const TreeRow &r : state->flattenedRows()) clips += r.id().startsWith("video:") && r.id() != deepRow;
        EXPECT_EQ(clips, c.clipsShown);
    }
}

TEST_F(SidebarTest, ToolsHeaderAndRefreshReachTheState)
{
    state->setAllVideos(library());
    row("tool:duplicates")->click();
    EXPECT_TRUE(state->showDuplicatesSheet());
    row("tool:insights")->click();
    EXPECT_TRUE(state->showStorageInsightsSheet());
    sidebar->control<QAbstractButton>("paletteButton")->click();
    EXPECT_TRUE(state->showCommandPalette());

    state->setExternalVolumes({ScanScope::volume("Gone", QUrl::fromLocalFile("/nowhere/Gone"))});
    sidebar->rebuild();
    sidebar->control<QAbstractButton>("refreshSources")->click();
    EXPECT_EQ(state->externalVolumes(), VideoScanner::mountedVolumes());
    ASSERT_TRUE(state->activeToast().has_value());
    EXPECT_EQ(state->activeToast()->message, L10n::text("sidebar.sourcesRefreshed", AppLanguage::en));
    EXPECT_EQ(state->activeScope(), ScanScope::homeDirectory());

    // The Photos switch writes the flag.
    auto *toggle = sidebar->control<QAbstractButton>("photosSwitch");
    ASSERT_NE(toggle, nullptr);
    const bool before = state->includePhotosLibrary();
    toggle->click();
    EXPECT_EQ(state->includePhotosLibrary(), !before);
    state->stopScan();
}

TEST_F(SidebarTest, LanguageMenuSwitchesAndRelabelsTheSidebar)
{
    state->setAllVideos(library());
    sidebar->rebuild();
    EXPECT_EQ(sidebar->control<QAbstractButton>("languageMenu")->text(), "English (US)");
    QAction *ja = sidebar->languageMenu()->findChild<QAction *>("language.ja");
    ASSERT_NE(ja, nullptr);
    ja->trigger();
    EXPECT_EQ(state->language(), AppLanguage::ja);
    spin(10);
    EXPECT_EQ(sidebar->control<QAbstractButton>("languageMenu")->text(), QString::fromUtf8("日本語"));
    EXPECT_EQ(sidebar->summaryCountText(), "5 " + L10n::text("toolbar.videos", AppLanguage::ja));
    EXPECT_EQ(row("tool:duplicates")->title(), L10n::text("sidebar.duplicates", AppLanguage::ja));
    EXPECT_EQ(row("view:all")->title(), SmartFilterInfo::title(SmartFilter::all, AppLanguage::ja));
    int checked = 0;
    for (QAction *a : sidebar->languageMenu()->actions()) checked += !a->icon().isNull();
    EXPECT_EQ(checked, 1);
}

TEST_F(SidebarTest, SearchCardFollowsTheModelState)
{
    state->setAllVideos(library());
    sidebar->rebuild();
    EXPECT_NE(sidebar->control("ai.download"), nullptr);

    state->setIsDownloadingAIModel(true);
    state->setAiModelDownloadProgress(0.5);
    state->setAiModelDownloadStage("Connecting…");
    sidebar->rebuild();
    EXPECT_EQ(sidebar->control<ThemedLabel>("ai.percent")->text(), "50%");
    EXPECT_EQ(sidebar->control<ThemedLabel>("ai.stage")->text(), QString::fromUtf8("Connecting…"));

    state->setIsDownloadingAIModel(false);
    state->setIsMobileCLIPInstalled(true);
    state->setAiModelInstalledSizeText(std::nullopt);
    sidebar->rebuild();
    EXPECT_EQ(sidebar->control("ai.remove"), nullptr);
    EXPECT_EQ(sidebar->control<ThemedLabel>("ai.counts")->text(), "0 / 5");
    auto *index = sidebar->control<QAbstractButton>("ai.index");
    EXPECT_EQ(index->text(), L10n::text("ai.indexNow", AppLanguage::en));
    EXPECT_TRUE(index->isEnabled());
    state->setAiModelInstalledSizeText("193.4 MB");
    sidebar->rebuild();
    ASSERT_NE(sidebar->control("ai.remove"), nullptr);
    EXPECT_EQ(sidebar->control("ai.remove")->toolTip(), L10n::text("ai.removeModel", AppLanguage::en) + " (193.4 MB)");

    state->setAllVideos({});
    sidebar->rebuild();
    EXPECT_EQ(sidebar->control<QAbstractButton>("ai.index")->text(), L10n::text("ai.upToDate", AppLanguage::en));
    EXPECT_FALSE(sidebar->control<QAbstractButton>("ai.index")->isEnabled());
}

TEST(SidebarTexts, DownloadPercentAndIndexSpeed)
{
    const std::pair<double, const char *> pct[] = {{0.5, "50%"}, {0.004, "0%"}, {0.006, "1%"}, {0.005, "1%"}, {1.0, "100%"}};
    for (const auto &[p, t] : pct) EXPECT_EQ(SidebarView::downloadPercentText(p), t) << p;
    bool skipped = false;
    const std::pair<double, const char *> speeds[] = {
        {0.001, "~42s"}, {0.14, "0.14/s · ~42s"}, {0.996, "1.0/s · ~42s"}, {2.34, "2.3/s · ~42s"}};
    for (const auto &[vps, text] : speeds)
        EXPECT_EQ(SidebarView::indexSpeedText(true, "~42s", vps, 0, AppLanguage::en), QString::fromUtf8(text)) << vps;
    EXPECT_EQ(SidebarView::indexSpeedText(true, std::nullopt, 2.0, 3, AppLanguage::en, &skipped),
              "3 " + L10n::text("ai.skipped", AppLanguage::en));
    EXPECT_TRUE(skipped);
    EXPECT_EQ(SidebarView::indexSpeedText(true, std::nullopt, 2.0, 0, AppLanguage::en), "");
}
