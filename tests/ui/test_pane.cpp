// The tree pane over a fixture library: header, search field, permission banner, the one
// status strip, filter chips, visual-search banner and example queries, and empty states.

#include "PaneFixture.h"

#include "ui/LinearTheme.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/EngineNames.h"
#include "ui/tree/PaneWidgets.h"
#include "ui/tree/TreeListView.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

using Strip = LumenkitePane::StatusStrip;

namespace {

struct PaneFixture {
    std::unique_ptr<AppState> state;
    std::unique_ptr<LumenkitePane> pane;

    explicit PaneFixture(const QList<VideoFile> &videos = panetest::fixtureVideos())
        : state(panetest::makeState(videos))
    {
        pane = std::make_unique<LumenkitePane>(state.get());
        pane->setMediaService(nullptr);
        pane->resize(900, 600);
    }

    template <typename T> T *child(const QString &name) const
    {
        QWidget *root = pane.get();
        return root->findChild<T *>(name);
    }
    QString label(const QString &name) const
    {
        auto *l = child<QLabel>(name);
        return l ? l->text() : QStringLiteral("<missing>");
    }
    QString stripName() const { return pane->statusStripContent() ? pane->statusStripContent()->objectName() : QString(); }
    QStringList chipTitles() const
    {
        QStringList titles;
        if (!pane->statusStripContent())
            return titles;
        for (auto *b : pane->statusStripContent()->findChildren<PaneButton *>("filterChip"))
            titles.append(b->property("chipTitle").toString());
        return titles;
    }
    QStringList emptyActions() const
    {
        QStringList keys;
        if (!pane->emptyStateWidget())
            return keys;
        for (auto *b : pane->emptyStateWidget()->findChildren<PaneButton *>())
            if (b->objectName().startsWith("emptyAction:"))
                keys.append(b->objectName().mid(12));
        return keys;
    }
};

} // namespace

TEST(PaneHeader, ScopeCountRescanAndToolbar)
{
    PaneFixture f;
    EXPECT_EQ(f.label("scopeTitle"), "lib");
    EXPECT_EQ(f.label("videoCount"), "· 5 videos");
    // The count follows the filtered list, not the library.
    f.state->setActiveExtensionFilter(QString("MKV"));
    f.state->rebuildTree(false);
    EXPECT_EQ(f.label("videoCount"), "· 1 videos");

    auto *rescan = f.child<PaneButton>("rescanButton");
    ASSERT_TRUE(rescan);
    // No completed scan: no time in parentheses.
    EXPECT_EQ(rescan->fullText(), "Rescan");
    EXPECT_FALSE(rescan->isHidden());
    f.state->setIsScanning(true);
    EXPECT_TRUE(rescan->isHidden());
    f.state->setIsScanning(false);
    EXPECT_FALSE(rescan->isHidden());

    auto *compact = f.child<LinearIconButton>("compactButton");
    EXPECT_TRUE(compact->isActive());
    EXPECT_EQ(compact->toolTip(), "Compact empty folders: ON");
    compact->click();
    EXPECT_FALSE(f.state->compactSingleChildFolders());
    EXPECT_EQ(compact->toolTip(), "Compact empty folders: OFF");

    auto *inspector = f.child<LinearIconButton>("inspectorButton");
    EXPECT_TRUE(inspector->isActive());
    inspector->click();
    EXPECT_FALSE(f.state->showInspector());
    EXPECT_FALSE(inspector->isActive());

    f.child<LinearIconButton>("expandAllButton")->click();
    EXPECT_TRUE(f.state->expandedFolderIDs().contains("/lib/Trips"));
    f.child<LinearIconButton>("collapseAllButton")->click();
    EXPECT_TRUE(f.state->expandedFolderIDs().isEmpty());
}

TEST(PaneHeader, SortAndAppearanceMenus)
{
    PaneFixture f;
    auto *sort = f.child<QToolButton>("sortButton");
    EXPECT_EQ(sort->text(), "Name");
    QStringList items;
    for (QAction *a : f.pane->sortMenu()->actions())
        items.append(a->text() + (a->isChecked() ? "*" : ""));
    EXPECT_EQ(items, (QStringList{"Name (A–Z)*", "Size (Largest)", "Date (Newest)", "Format"}));
    f.pane->sortMenu()->actions().at(1)->trigger();
    EXPECT_EQ(f.state->sortOrder(), VideoSortOrder::sizeDesc);
    EXPECT_EQ(sort->text(), "Size");
    EXPECT_TRUE(f.pane->sortMenu()->actions().at(1)->isChecked());

    QSignalSpy appearance(f.state.get(), &AppState::appearanceChanged);
    const auto actions = f.pane->appearanceMenu()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions.at(0)->text(), "System");
    EXPECT_TRUE(actions.at(0)->isChecked());
    // Choosing the current appearance again changes nothing.
    actions.at(0)->trigger();
    EXPECT_EQ(appearance.count(), 0);
    f.pane->appearanceMenu()->actions().at(2)->trigger();
    EXPECT_EQ(f.state->appearance(), AppAppearance::dark);
    EXPECT_EQ(appearance.count(), 1);
    EXPECT_EQ(f.child<QToolButton>("appearanceButton")->toolTip(), "Appearance");
}

TEST(PaneSearch, FieldEditsGoThroughTheStateAndTheAccessoryFollows)
{
    PaneFixture f;
    f.pane->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.pane.get()));
    QLineEdit *field = f.pane->searchField();
    EXPECT_EQ(field->placeholderText(), "Search videos, folders, or extensions…");
    auto *keycap = f.child<KeycapBadge>("searchKeycap");
    auto *clear = f.child<PaneButton>("searchClearButton");
    auto *spinner = f.child<QWidget>("searchSpinner");
    EXPECT_TRUE(keycap->isVisible());
    EXPECT_FALSE(clear->isVisible());

    f.pane->focusSearchField();
    QTRY_VERIFY(field->hasFocus());
    EXPECT_TRUE(f.pane->isSearchFocused());
    QTest::keyClicks(field, "car");
    EXPECT_EQ(f.state->searchQuery(), "car");
    EXPECT_EQ(f.state->filteredVideos().size(), 1);
    EXPECT_TRUE(clear->isVisible());
    EXPECT_FALSE(keycap->isVisible());
    // Return adds nothing of its own.
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(f.state->searchQuery(), "car");

    // A change made elsewhere shows in the field.
    f.state->setSearchQuery("beach");
    EXPECT_EQ(field->text(), "beach");
    clear->click();
    EXPECT_EQ(f.state->searchQuery(), "");
    EXPECT_EQ(field->text(), "");

    // While a visual search runs the spinner replaces the clear button.
    f.state->setSearchQuery("sunset");
    f.state->setIsAISearchRunning(true);
    EXPECT_TRUE(spinner->isVisible());
    EXPECT_FALSE(clear->isVisible());
    EXPECT_FALSE(keycap->isVisible());
}

TEST(PaneSearch, VisualSearchToggleSwitchesModeAndFocusesTheField)
{
    PaneFixture f;
    f.pane->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.pane.get()));
    auto *toggle = f.child<PaneButton>("visualSearchToggle");
    EXPECT_EQ(toggle->fullText(), "Visual Search");
    EXPECT_EQ(toggle->toolTip(), "Shift+Ctrl+A");
    toggle->click();
    EXPECT_TRUE(f.state->isAISearchMode());
    EXPECT_EQ(toggle->fullText(), "Visual Search On");
    EXPECT_EQ(f.pane->searchField()->placeholderText(), L10n::text("toolbar.aiPlaceholder", AppLanguage::en));
    QTRY_VERIFY(f.pane->searchField()->hasFocus());
    toggle->click();
    EXPECT_FALSE(f.state->isAISearchMode());
}

// In both schemes the banner's button shows its title on a fill that is not the title's
// colour (the dark scheme once drew a blank light box).
TEST(PaneBanner, ButtonsShowTheirContentInBothSchemes)
{
    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        PaneFixture f;
        LinearTheme::applyColorScheme(f.pane.get(), scheme);
        f.state->setDeniedFolders({"/m/Locked"});
        f.pane->show();
        for (const char *name : {"permissionGrant"}) {
            auto *b = f.child<QAbstractButton>(name);
            ASSERT_NE(b, nullptr) << name;
            const QImage image = b->grab().toImage();
            int darkest = 255, lightest = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const int g = qGray(image.pixel(x, y));
                    darkest = std::min(darkest, g);
                    lightest = std::max(lightest, g);
                }
            EXPECT_GT(lightest - darkest, 90) << name << " scheme " << int(scheme);
            // The fill the banner's button wears (left of its title) is dark in the dark scheme.
            if (scheme == ColorScheme::dark && QLatin1String(name) == QLatin1String("permissionGrant")) {
                EXPECT_LT(qGray(image.pixel(3, image.height() / 2)), 128);
            }
        }
    }
}

TEST(PaneBanner, ListsAtMostFiveDeniedFolders)
{
    PaneFixture f;
    EXPECT_TRUE(f.pane->permissionBanner()->isHidden());
    // Entries are whole paths (bare names in records of older versions); the banner names them.
    f.state->setDeniedFolders({"/m/a", "b", "/m/c", "/m/d", "/m/e", "/m/f"});
    EXPECT_FALSE(f.pane->permissionBanner()->isHidden());
    EXPECT_EQ(f.label("permissionText"), "Folders requiring permission: a, b, c, d, e");
    EXPECT_EQ(f.child<PaneButton>("permissionGrant")->fullText(), "Open Folder Permissions");
    f.state->setDeniedFolders({});
    EXPECT_TRUE(f.pane->permissionBanner()->isHidden());
}

TEST(PaneStatusStrip, ScanningWinsOverVisualSearchWhichWinsOverChips)
{
    PaneFixture f;
    const struct {
        bool scanning;
        bool visual;
        QString query;
        SmartFilter smart;
        Strip expected;
        QString widget;
    } cases[] = {
        {false, false, "", SmartFilter::all, Strip::none, ""},
        {false, false, " ", SmartFilter::all, Strip::filterChips, "filterChips"},
        {false, false, "", SmartFilter::largeFiles, Strip::filterChips, "filterChips"},
        {false, true, "car", SmartFilter::largeFiles, Strip::visualSearch, "visualSearchSection"},
        {true, true, "car", SmartFilter::largeFiles, Strip::scanning, "scanningStatus"},
        {true, false, "", SmartFilter::all, Strip::scanning, "scanningStatus"},
    };
    for (const auto &c : cases) {
        f.state->setIsAISearchMode(c.visual);
        f.state->setSearchQuery(c.query);
        f.state->setActiveSmartFilter(c.smart);
        f.state->setIsScanning(c.scanning);
        EXPECT_EQ(LumenkitePane::statusStripKind(*f.state), c.expected);
        EXPECT_EQ(f.stripName(), c.widget);
        f.state->setIsScanning(false);
    }
}

TEST(PaneStatusStrip, ScanningShowsPathCountSizeAndStop)
{
    PaneFixture f;
    f.state->setScanStatusPath(QString("/lib/Trips"));
    f.state->setIsScanning(true);
    EXPECT_EQ(f.label("scanSummary"), "5 videos · 1.16 GB");
    EXPECT_TRUE(f.label("scanPath").endsWith("Trips"));
    EXPECT_EQ(f.child<PaneButton>("scanStop")->fullText(), "Stop");
}

TEST(PaneFilterChips, ChipsResultsAndRemoval)
{
    PaneFixture f;
    f.state->setActiveSmartFilter(SmartFilter::largeFiles);
    f.state->setActiveExtensionFilter(QString("MKV"));
    f.state->setSearchQuery("car");
    f.state->rebuildTree(false);
    EXPECT_EQ(f.chipTitles(), (QStringList{SmartFilterInfo::title(SmartFilter::largeFiles, AppLanguage::en), ".mkv", "\"car\""}));
    EXPECT_EQ(f.label("chipResults"), "1 results · 300 MB");

    auto chip = [&](int i) { return f.pane->statusStripContent()->findChildren<PaneButton *>("filterChip").at(i); };
    chip(2)->click();
    EXPECT_EQ(f.state->searchQuery(), "");
    EXPECT_EQ(f.chipTitles().size(), 2);
    chip(1)->click();
    EXPECT_FALSE(f.state->activeExtensionFilter());
    chip(0)->click();
    EXPECT_EQ(f.state->activeSmartFilter(), SmartFilter::all);
    // Removing the last chip removes the strip.
    EXPECT_EQ(f.pane->statusStripContent(), nullptr);

    // A query of spaces is a filter here and keeps its blanks.
    f.state->setSearchQuery("  ");
    EXPECT_EQ(f.chipTitles(), QStringList{"\"  \""});
}

TEST(PaneFilterChips, ClearFiltersAlwaysEndsWithOneRebuild)
{
    PaneFixture f;
    QSignalSpy rebuilds(f.state.get(), &AppState::treeRebuilt);
    f.pane->clearAllFilters();
    EXPECT_EQ(rebuilds.count(), 1);
    f.state->setSearchQuery("car");
    rebuilds.clear();
    // The query setter rebuilds first, then the final rebuild.
    f.pane->clearAllFilters();
    EXPECT_EQ(rebuilds.count(), 2);
    EXPECT_EQ(f.state->searchQuery(), "");
}

TEST(PaneEmptyState, TitleSubtitleAndActionsByCase)
{
    {
        PaneFixture f;
        EXPECT_EQ(f.pane->emptyStateWidget(), nullptr);
        // Everything filtered away: no matches, and a way back.
        f.state->setSearchQuery("nothing like this");
        ASSERT_TRUE(f.state->flattenedRows().isEmpty());
        ASSERT_NE(f.pane->emptyStateWidget(), nullptr);
        EXPECT_EQ(f.label("emptyTitle"), "No Matching Videos");
        EXPECT_EQ(f.label("emptySubtitle"), "Try adjusting your search query or filters.");
        EXPECT_EQ(f.emptyActions(), QStringList{"toolbar.clearFilters"});
        // The header and strips stay above the empty state.
        EXPECT_EQ(f.stripName(), "filterChips");
        auto *clear = f.pane->emptyStateWidget()->findChild<PaneButton *>("emptyAction:toolbar.clearFilters");
        clear->click();
        EXPECT_EQ(f.state->searchQuery(), "");
        EXPECT_FALSE(f.state->flattenedRows().isEmpty());
        EXPECT_EQ(f.pane->emptyStateWidget(), nullptr);
    }
    {
        PaneFixture f(QList<VideoFile>{});
        const auto e = LumenkitePane::emptyStateContent(*f.state);
        EXPECT_EQ(e.glyph, "film");
        EXPECT_EQ(f.label("emptyTitle"), "No Videos Found");
        EXPECT_EQ(f.emptyActions(), (QStringList{"perm.grant", "toolbar.rescan"}));
        // No folder was unreadable: the button says so instead of doing nothing.
        ASSERT_TRUE(f.state->deniedFolders().isEmpty());
        f.pane->emptyStateWidget()->findChild<PaneButton *>("emptyAction:perm.grant")->click();
        ASSERT_TRUE(f.state->activeToast());
        EXPECT_EQ(f.state->activeToast()->message, "Every folder of the last scan could be read");
        EXPECT_FALSE(f.state->activeToast()->isError);
        // Visual search with nothing to index keeps the same buttons.
        f.state->setIsAISearchMode(true);
        EXPECT_EQ(LumenkitePane::emptyStateContent(*f.state).glyph, "sparkle.magnifyingglass");
        EXPECT_EQ(f.emptyActions(), (QStringList{"perm.grant", "toolbar.rescan"}));
        f.state->setIsScanning(true);
        EXPECT_EQ(f.label("emptyTitle"), "Scanning folders…");
        EXPECT_EQ(f.label("emptySubtitle"), "Building your video folder tree…");
        EXPECT_TRUE(f.emptyActions().isEmpty());
    }
    {
        // Visual search with unindexed videos and a query without matches: index them.
        PaneFixture f;
        f.state->setIsAISearchMode(true);
        f.state->setSearchQuery("beach");
        // One search per typing pause: the rows change when its results are published.
        ASSERT_TRUE(lktest::waitFor([&] { return !f.state->isAISearchRunning(); }, 5000));
        ASSERT_TRUE(f.state->flattenedRows().isEmpty());
        EXPECT_EQ(f.emptyActions(), QStringList{"ai.indexNow"});
        f.state->setIsAIIndexing(true);
        EXPECT_EQ(f.emptyActions(), QStringList{"toolbar.clearFilters"});
    }
}

TEST(VisualSearchBanner, StatesInOrder)
{
    PaneFixture f;
    AppState &s = *f.state;
    s.setIsAISearchMode(true);
    auto banner = [&] { return LumenkitePane::visualSearchBannerContent(s); };

    EXPECT_EQ(banner().engineLabel, visualSearchEngineName(s.aiEngineStatus()));
    EXPECT_EQ(banner().engineLabel, "OpenCV + Tesseract");
    EXPECT_EQ(banner().statusText, L10n::text("ai.bannerNeedModel", AppLanguage::en));
    EXPECT_EQ(banner().actionKey, "ai.downloadShort");
    EXPECT_TRUE(banner().trailingButtonKey.isEmpty());

    s.setIsDownloadingAIModel(true);
    s.setAiModelDownloadStage("Image model");
    s.setAiModelDownloadProgress(0.996);
    EXPECT_EQ(banner().statusText, "Image model (100%)");
    EXPECT_TRUE(banner().spinner);
    EXPECT_EQ(banner().trailingButtonKey, "toolbar.cancel");
    s.setIsDownloadingAIModel(false);

    // Indexing without the model: the middle says the model is missing, the end offers stop.
    s.setIsAIIndexing(true);
    EXPECT_EQ(banner().actionKey, "ai.downloadShort");
    EXPECT_EQ(banner().trailingButtonKey, "toolbar.stop");

    s.setIsMobileCLIPInstalled(true);
    s.setAiIndexedCount(12);
    s.setAiTotalToIndex(340);
    s.setAiVideosPerSecond(0.1);
    s.setAiETAText(QString(""));
    EXPECT_EQ(banner().statusText, "Indexing: 12 / 340");
    EXPECT_EQ(banner().detailTexts, QStringList{"· "});
    s.setAiVideosPerSecond(2.25);
    s.setAiETAText(QString("~42s"));
    EXPECT_EQ(banner().detailTexts, (QStringList{"· 2.2/s", "· ~42s"}));
    s.setIsAIIndexing(false);

    EXPECT_EQ(banner().statusText, "· 0 / 5 indexed");
    EXPECT_EQ(banner().actionKey, "ai.indexNow");
    // A query of one space: the match count shows.
    s.setSearchQuery(" ");
    EXPECT_EQ(banner().trailingText, QString::number(s.filteredVideos().size()) + " matches");
    EXPECT_FALSE(f.pane->showsExampleRow());
    EXPECT_EQ(f.pane->statusStripContent()->findChild<QWidget *>("exampleRow"), nullptr);
}

TEST(VisualSearchBanner, EmptyLibraryWithTheModelIsReady)
{
    PaneFixture f(QList<VideoFile>{});
    f.state->setIsMobileCLIPInstalled(true);
    f.state->setIsAISearchMode(true);
    const auto b = LumenkitePane::visualSearchBannerContent(*f.state);
    EXPECT_EQ(b.statusText, "· 0 videos ready for offline search");
    EXPECT_TRUE(b.actionKey.isEmpty());
    EXPECT_EQ(f.label("bannerStatus"), b.statusText);
}

TEST(ExampleQueries, ChipsPerLanguageAndTheTranslationPrompt)
{
    PaneFixture f;
    f.state->setIsAISearchMode(true);
    auto chips = [&] {
        QStringList texts;
        for (auto *b : f.pane->statusStripContent()->findChildren<PaneButton *>("exampleChip"))
            texts.append(b->fullText());
        return texts;
    };
    EXPECT_EQ(chips(), LumenkitePane::exampleQueries(AppLanguage::en));
    EXPECT_EQ(chips().first(), "beach sunset");
    f.state->setLanguage(AppLanguage::de);
    EXPECT_EQ(chips().last(), "Bildschirm");
    f.state->setLanguage(AppLanguage::ja);
    EXPECT_EQ(chips().first(), "海の夕日");

    // The prompt needs a non-English interface and a pack reported missing.
    EXPECT_FALSE(f.pane->showsTranslationPrompt());
    f.pane->setTranslationInstalled(false);
    auto *prompt = f.pane->statusStripContent()->findChild<PaneButton *>("translationPrompt");
    ASSERT_TRUE(prompt);
    prompt->click();
    EXPECT_EQ(f.pane->translationPromptTrigger(), 1);
    f.state->setLanguage(AppLanguage::en);
    EXPECT_FALSE(f.pane->showsTranslationPrompt());
    EXPECT_EQ(f.pane->statusStripContent()->findChild<PaneButton *>("translationPrompt"), nullptr);

    // A chip runs its text as the query; the row then gives way to the match count.
    f.pane->statusStripContent()->findChildren<PaneButton *>("exampleChip").at(2)->click();
    EXPECT_EQ(f.state->searchQuery(), "car driving");
    EXPECT_EQ(f.pane->statusStripContent()->findChild<QWidget *>("exampleRow"), nullptr);
    EXPECT_NE(f.pane->statusStripContent()->findChild<QLabel *>("bannerMatches"), nullptr);
}

TEST(PaneContent, ListOrEmptyState)
{
    PaneFixture f;
    auto *stack = f.pane->findChild<QStackedWidget *>();
    EXPECT_EQ(stack->currentWidget(), f.pane->treeList());
    f.state->setActiveExtensionFilter(QString("WEBM"));
    f.state->rebuildTree(false);
    EXPECT_NE(stack->currentWidget(), f.pane->treeList());
    EXPECT_EQ(f.label("emptyTitle"), "No Matching Videos");
}
