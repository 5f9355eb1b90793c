#include "UiFixture.h"
#include "ui/window/LumenkiteApp.h"
#include "ui/window/Notifications.h"
#include "ui/inspector/InspectorPlayerCard.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/SidebarView.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <functional>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace uifx;

namespace {

ContentViewParts dummyParts()
{
    ContentViewParts p;
    p.commandPalette = [](AppState *, QWidget *parent) { return new QWidget(parent); };
    p.moveSheet = [](AppState *, QWidget *parent) { return dummySheet(parent); };
    p.editorSheet = [](AppState *, const VideoFile &, QWidget *parent) { return dummySheet(parent); };
    p.duplicatesSheet = [](AppState *, QWidget *parent) { return dummySheet(parent); };
    p.batchCompressSheet = [](AppState *, QWidget *parent) { return dummySheet(parent); };
    p.storageInsightsSheet = [](AppState *, QWidget *parent) { return dummySheet(parent); };
    p.onboarding = [](AppState *, QWidget *parent) { return dummySheet(parent); };
    return p;
}

// One application with a library loaded and the window shown.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = std::make_unique<LumenkiteApp>(dummyParts());
        state = app->state();
        // The welcome sheet of a first start would take the window's focus.
        state->setShowOnboarding(false);
        state->setAllVideos(library());
        state->rebuildTree(true);
        app->show();
        activate();
    }
    // Shortcuts reach only the active window.
    void activate()
    {
        app->mainWindow()->activateWindow();
        QApplication::setActiveWindow(app->mainWindow());
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainWindow()));
    }
    void TearDown() override { app.reset(); }

    MainWindow *window() const { return app->mainWindow(); }
    ContentView *content() const { return window()->contentView(); }
    QAction *action(const char *name) const { return window()->action(name); }

    std::unique_ptr<LumenkiteApp> app;
    AppState *state = nullptr;
};

} // namespace

TEST_F(WindowTest, OpensAtItsDefaultSizeAndKeepsItsMinimum)
{
    EXPECT_EQ(window()->size(), QSize(1280, 800));
    EXPECT_EQ(window()->windowTitle(), "Lumenkite");
    window()->resize(500, 300);
    spin(20);
    EXPECT_GE(window()->width(), 960);
    EXPECT_GE(window()->height(), 620);
    // The content keeps its 960 x 620 below the menu bar, and with the inspector its panes'
    // own minimums (215 + 420 + 340 and the dividers) rather than cutting the last one off.
    EXPECT_GE(content()->width(), 215 + 420 + 340);
    EXPECT_GE(content()->height(), 620);
    EXPECT_TRUE(window()->rect().contains(QRect(content()->mapTo(window(), QPoint(0, 0)), content()->size())));
    state->setShowInspector(false);
    spin(20);
    window()->resize(500, 300);
    spin(20);
    EXPECT_EQ(content()->size(), QSize(960, 620));
}

TEST_F(WindowTest, PanesKeepTheirWidthLimitsAndTheaterShowsTheInspectorAlone)
{
    ASSERT_TRUE(content()->sidebar() && content()->treePane() && content()->inspector());
    EXPECT_EQ(content()->sidebar()->minimumWidth(), 215);
    EXPECT_EQ(content()->sidebar()->maximumWidth(), 290);
    EXPECT_EQ(content()->treePane()->minimumWidth(), 420);
    EXPECT_EQ(content()->inspector()->minimumWidth(), 340);
    EXPECT_EQ(content()->inspector()->maximumWidth(), 540);
    const QList<int> sizes = content()->splitter()->sizes();
    ASSERT_EQ(sizes.size(), 3);
    EXPECT_EQ(sizes[0], 235);
    EXPECT_EQ(sizes[2], 390);

    // Theater with the inspector hidden shows the inspector alone, at least 680 wide.
    state->setShowInspector(false);
    EXPECT_EQ(content()->inspector(), nullptr);
    state->setIsTheaterMode(true);
    EXPECT_EQ(content()->sidebar(), nullptr);
    EXPECT_EQ(content()->treePane(), nullptr);
    ASSERT_NE(content()->inspector(), nullptr);
    EXPECT_EQ(content()->inspector()->minimumWidth(), 680);
    EXPECT_EQ(content()->inspector()->maximumWidth(), QWIDGETSIZE_MAX);
    EXPECT_EQ(content()->splitter()->count(), 1);

    state->setIsTheaterMode(false);
    EXPECT_NE(content()->sidebar(), nullptr);
    EXPECT_NE(content()->treePane(), nullptr);
    EXPECT_EQ(content()->inspector(), nullptr);
}

TEST_F(WindowTest, MenuShortcutsAreTheOnesOfTheTable)
{
    const std::pair<const char *, const char *> cases[] = {
        {"addFolder", "Ctrl+Shift+O"}, {"rescan", "Ctrl+R"},        {"commandPalette", "Ctrl+K"},
        {"search", "Ctrl+F"},          {"visualSearch", "Ctrl+Shift+A"}, {"duplicates", "Ctrl+Shift+D"},
        {"compress", "Ctrl+Shift+C"},  {"insights", "Ctrl+Shift+I"}, {"play", ""},
        {"fullscreen", "F"},           {"theater", ""},              {"trim", "Ctrl+E"},
        {"openDefault", "Ctrl+O"},     {"reveal", "Ctrl+Alt+R"},     {"move", "Ctrl+M"},
        {"trash", "Ctrl+Backspace"},   {"undo", "Ctrl+Shift+Z"},     {"expandAll", ""},
        {"collapseAll", ""},           {"welcome", ""},              {"quit", "Ctrl+Q"},
    };
    for (const auto &[name, keys] : cases) {
        ASSERT_NE(action(name), nullptr) << name;
        EXPECT_EQ(action(name)->shortcut(), QKeySequence(keys)) << name;
    }
    // Full screen: plain F first, then the desktop's own key; never a key the window manager takes.
    const QList<QKeySequence> fullscreen = action("fullscreen")->shortcuts();
    ASSERT_GE(fullscreen.size(), 2);
    EXPECT_FALSE(fullscreen.contains(QKeySequence("Ctrl+Meta+F")));
    const QList<QKeySequence> desktop = QKeySequence::keyBindings(QKeySequence::FullScreen);
    for (const QKeySequence &key : desktop.isEmpty() ? QList<QKeySequence>{QKeySequence("F11")} : desktop)
        EXPECT_TRUE(fullscreen.contains(key)) << key.toString().toStdString();
}

TEST_F(WindowTest, DesktopActionsWithNoHandlerSaySoInAnErrorToast)
{
    // No file manager on the bus and no opener program on the path.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenkite-bus");
    qputenv("PATH", QFile::encodeName(lktest::sandboxRoot() + "/empty-path"));
    select(*state, {library()[0]});
    state->setDeniedFolders({home() + "/Locked/Secret"});
    auto *grant = window()->findChild<QAbstractButton *>("footerButton"); // the sidebar's folder permissions
    ASSERT_NE(grant, nullptr);
    const std::pair<std::function<void()>, const char *> cases[] = {
        {[&] { action("openDefault")->trigger(); }, "error.openFailed"},
        {[&] { action("reveal")->trigger(); }, "error.revealFailed"},
        {[&] { grant->click(); }, "error.permissionsFailed"},
    };
    for (const auto &[run, key] : cases) {
        state->dismissToast();
        run();
        ASSERT_TRUE(state->activeToast()) << key;
        EXPECT_TRUE(state->activeToast()->isError) << key;
        EXPECT_EQ(state->activeToast()->message, L10n::text(key, AppLanguage::en)) << key;
    }
}

TEST(WindowWithoutSheets, CommandsOfViewsNotGivenAreDisabled)
{
    // Only the tree pane: every command that would open a sheet, the palette or the
    // settings has nothing to open.
    ContentViewParts parts;
    LumenkiteApp app(parts);
    app.state()->setShowOnboarding(false);
    app.state()->setAllVideos(library());
    app.state()->rebuildTree(true);
    select(*app.state(), {library()[0]});
    app.show();
    MainWindow *w = app.mainWindow();
    for (const char *name : {"settings", "commandPalette", "duplicates", "compress", "insights", "trim", "move", "welcome"})
        EXPECT_FALSE(w->action(name)->isEnabled()) << name;
    for (const char *name : {"play", "openDefault", "reveal", "trash", "rescan", "quit"})
        EXPECT_TRUE(w->action(name)->isEnabled()) << name;
    for (const char *name : {"tool:duplicates", "tool:compress", "tool:insights", "paletteButton"}) {
        auto *b = w->findChild<QAbstractButton *>(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_FALSE(b->isEnabled()) << name;
    }
}

TEST_F(WindowTest, EnabledStatesFollowTheLibraryAndTheSelection)
{
    const char *always[] = {"duplicates", "undo", "expandAll", "collapseAll", "welcome", "commandPalette", "search"};
    const char *needPrimary[] = {"play", "fullscreen", "theater", "trim", "openDefault"};
    const char *needSelection[] = {"reveal", "move", "trash"};
    select(*state, {});
    for (const char *n : needPrimary) EXPECT_FALSE(action(n)->isEnabled()) << n;
    for (const char *n : needSelection) EXPECT_FALSE(action(n)->isEnabled()) << n;
    EXPECT_TRUE(action("compress")->isEnabled());
    EXPECT_TRUE(action("insights")->isEnabled());

    select(*state, {library()[0]});
    for (const char *n : needPrimary) EXPECT_TRUE(action(n)->isEnabled()) << n;
    for (const char *n : needSelection) EXPECT_TRUE(action(n)->isEnabled()) << n;

    state->setAllVideos({});
    EXPECT_FALSE(action("compress")->isEnabled());
    EXPECT_FALSE(action("insights")->isEnabled());
    for (const char *n : always) EXPECT_TRUE(action(n)->isEnabled()) << n;
    EXPECT_TRUE(window()->languageMenu()->menuAction()->isEnabled());
}

TEST_F(WindowTest, FlagAndSignalCommandsReachTheState)
{
    const QList<VideoFile> lib = library();
    // Cmd-K twice opens and closes the palette.
    QTest::keyClick(window(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_TRUE(state->showCommandPalette());
    EXPECT_NE(content()->commandPalette(), nullptr);
    QTest::keyClick(window(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_FALSE(state->showCommandPalette());

    // Play and Full Screen reopen a hidden inspector before signalling, by exactly one.
    select(*state, {lib[0]});
    state->setShowInspector(false);
    action("play")->trigger();
    EXPECT_TRUE(state->showInspector());
    EXPECT_EQ(state->playbackToggleSignal(), 1);
    state->setShowInspector(false);
    QTest::keyClick(window(), Qt::Key_F);
    EXPECT_TRUE(state->showInspector());
    EXPECT_EQ(state->fullscreenRequestSignal(), 1);
    state->setShowInspector(false);
    QTest::keyClick(window(), Qt::Key_F11);
    EXPECT_TRUE(state->showInspector());
    EXPECT_EQ(state->fullscreenRequestSignal(), 2);
    QTest::keyClick(window(), Qt::Key_F, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_EQ(state->fullscreenRequestSignal(), 2);

    // Wide Player twice returns to the normal layout.
    action("theater")->trigger();
    EXPECT_TRUE(state->isTheaterMode());
    action("theater")->trigger();
    EXPECT_FALSE(state->isTheaterMode());

    QSignalSpy focus(&Notifications::center(), &Notifications::focusSearchField);
    QTest::keyClick(window(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(state->isAISearchMode());
    EXPECT_EQ(focus.count(), 1);
    QTest::keyClick(window(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(focus.count(), 2);
    EXPECT_TRUE(content()->isSearchFocused());
    // A typed F stays in the search field.
    QWidget *field = QApplication::focusWidget();
    ASSERT_NE(field, nullptr);
    QTest::keyClick(field, Qt::Key_F);
    EXPECT_EQ(state->fullscreenRequestSignal(), 2);
    EXPECT_EQ(state->searchQuery(), "f");
}

TEST_F(WindowTest, SheetCommandsRaiseTheirSheetsAndClosingResetsTheFlag)
{
    const QList<VideoFile> lib = library();
    struct Case { const char *action; bool (AppState::*flag)() const; const char *sheet; };
    const Case cases[] = {
        {"duplicates", &AppState::showDuplicatesSheet, "duplicatesSheet"},
        {"insights", &AppState::showStorageInsightsSheet, "storageInsightsSheet"},
        {"welcome", &AppState::showOnboarding, "onboarding"},
        {"compress", &AppState::showBatchCompressSheet, "batchCompressSheet"},
        {"move", &AppState::showMoveSheet, "moveSheet"},
    };
    select(*state, {lib[0], lib[2]});
    for (const Case &c : cases) {
        action(c.action)->trigger();
        EXPECT_TRUE((state->*c.flag)()) << c.action;
        QDialog *sheet = content()->openSheet();
        ASSERT_NE(sheet, nullptr) << c.action;
        EXPECT_EQ(sheet->objectName(), c.sheet);
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        sheet->reject();
        spin(10);
        EXPECT_FALSE((state->*c.flag)()) << c.action;
        EXPECT_EQ(content()->openSheet(), nullptr) << c.action;
    }
    // The lists were filled before the flags went up.
    EXPECT_EQ(state->videosPendingCompression().size(), 2);
    EXPECT_EQ(state->videosPendingMove().size(), 2);

    // With nothing selected the compressor gets an empty list (the whole library).
    select(*state, {});
    action("compress")->trigger();
    EXPECT_TRUE(state->videosPendingCompression().isEmpty());
    content()->openSheet()->reject();

    // Trim opens the editor keyed by the primary video; closing it clears the video.
    select(*state, {lib[1]});
    activate();
    QTest::keyClick(window(), Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(state->videoPendingEdit().has_value());
    EXPECT_EQ(state->videoPendingEdit()->id, lib[1].id);
    ASSERT_NE(content()->openSheet(), nullptr);
    content()->openSheet()->reject();
    spin(10);
    EXPECT_FALSE(state->videoPendingEdit().has_value());
}

TEST(WindowWithoutSheets, AFlagWhoseSheetDoesNotExistIsResetAtOnce)
{
    LumenkiteApp app;
    app.state()->setAllVideos(library());
    app.show();
    app.state()->setShowDuplicatesSheet(true);
    EXPECT_FALSE(app.state()->showDuplicatesSheet());
    app.state()->setShowCommandPalette(true);
    EXPECT_FALSE(app.state()->showCommandPalette());
    app.state()->setVideoPendingEdit(library()[0]);
    EXPECT_FALSE(app.state()->videoPendingEdit().has_value());
    // Placeholders of the tree pane and inspector hold their places.
    EXPECT_EQ(app.mainWindow()->contentView()->treePane()->objectName(), "treePane");
    EXPECT_EQ(app.mainWindow()->contentView()->inspector()->objectName(), "inspector");
}

TEST_F(WindowTest, FileOperationCommandsAndTreeCommandsReachTheState)
{
    // Real files for trash and undo.
    const QString path = home() + "/Videos/Real/clip.mp4";
    ASSERT_TRUE(lktest::writeSizedFile(path, 4096));
    const VideoFile real = *VideoFile::fromFile(path);
    QList<VideoFile> lib = library();
    lib.append(real);
    state->setAllVideos(lib);
    state->rebuildTree(false);

    action("collapseAll")->trigger();
    EXPECT_TRUE(state->expandedFolderIDs().isEmpty());
    action("expandAll")->trigger();
    EXPECT_FALSE(state->expandedFolderIDs().isEmpty());

    // Ctrl+Backspace is what the inspector's Trash button shows; Ctrl+Delete works as well.
    for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Delete}) {
        select(*state, {real});
        QTest::keyClick(window(), key, Qt::ControlModifier);
        EXPECT_FALSE(QFile::exists(path)) << key;
        EXPECT_TRUE(state->lastUndoRecord().has_value());
        QTest::keyClick(window(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(QFile::exists(path)) << key;
    }

    // Rescan starts a fresh scan of the active scope.
    QTest::keyClick(window(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(state->isScanning());
    state->stopScan();
}

TEST_F(WindowTest, LanguageSubmenuRetitlesTheMenusAndMovesTheCheckMark)
{
    for (AppLanguage l : {AppLanguage::ja, AppLanguage::de, AppLanguage::en}) {
        action(("language." + AppLanguageInfo::rawValue(l)).toUtf8().constData())->trigger();
        EXPECT_EQ(state->language(), l);
        EXPECT_EQ(window()->videosMenu()->title(), L10n::text("menu.videos", l));
        EXPECT_EQ(action("duplicates")->text(), L10n::text("sidebar.duplicates", l));
        EXPECT_EQ(action("commandPalette")->text(), "Command Palette");
        for (AppLanguage m : AppLanguageInfo::allCases()) {
            QAction *a = action(("language." + AppLanguageInfo::rawValue(m)).toUtf8().constData());
            EXPECT_EQ(a->text(), AppLanguageInfo::menuLabel(m));
            EXPECT_EQ(!a->icon().isNull(), m == l);
        }
    }
    EXPECT_EQ(window()->videosMenu()->title(), "Videos");
    state->setLanguage(AppLanguage::ja);
    EXPECT_EQ(window()->videosMenu()->title(), QString::fromUtf8("動画"));
    state->setLanguage(AppLanguage::en);
}

// ---- window keys ----

TEST_F(WindowTest, KeyTableAnswersAsWritten)
{
    const QList<VideoFile> lib = library();
    struct Case {
        const char *name;
        int key;
        QString text;
        bool searchFocused, palette, primary;
        bool handled;
    };
    const Case cases[] = {
        {"up", Qt::Key_Up, "", false, false, true, true},
        {"down", Qt::Key_Down, "", false, false, false, true},
        {"up in search", Qt::Key_Up, "", true, false, true, false},
        {"down with palette", Qt::Key_Down, "", false, true, true, false},
        {"space", Qt::Key_Space, " ", false, false, true, true},
        {"space without video", Qt::Key_Space, " ", false, false, false, false},
        {"space in search", Qt::Key_Space, " ", true, false, true, false},
        {"space with palette", Qt::Key_Space, " ", false, true, true, false},
        {"f", Qt::Key_F, "f", false, false, true, true},
        {"F", Qt::Key_F, "F", false, false, true, true},
        {"f in search", Qt::Key_F, "f", true, false, true, false},
        {"f without video", Qt::Key_F, "f", false, false, false, false},
        {"g", Qt::Key_G, "g", false, false, true, false},
    };
    for (const Case &c : cases) {
        select(*state, c.primary ? QList<VideoFile>{lib[0]} : QList<VideoFile>{});
        state->setShowCommandPalette(c.palette);
        content()->setSearchFocused(c.searchFocused);
        if (!c.searchFocused) content()->setFocus();
        state->setShowInspector(false);
        const int play = state->playbackToggleSignal(), full = state->fullscreenRequestSignal();
        QKeyEvent event(QEvent::KeyPress, c.key, Qt::NoModifier, c.text);
        EXPECT_EQ(content()->handleKey(&event), c.handled) << c.name;
        if (c.handled && c.key == Qt::Key_Space) { EXPECT_EQ(state->playbackToggleSignal(), play + 1) << c.name; }
        if (c.handled && c.key == Qt::Key_F) { EXPECT_EQ(state->fullscreenRequestSignal(), full + 1) << c.name; }
        if (c.key == Qt::Key_Space || c.key == Qt::Key_F) { EXPECT_EQ(state->showInspector(), c.handled) << c.name; }
        if (!c.handled) {
            EXPECT_EQ(state->playbackToggleSignal(), play) << c.name;
            EXPECT_EQ(state->fullscreenRequestSignal(), full) << c.name;
        }
        state->setShowCommandPalette(false);
    }
}

TEST_F(WindowTest, ArrowsWalkTheVideosAndHeldFRepeats)
{
    state->expandAll();
    select(*state, {});
    content()->setFocus();
    QTest::keyClick(content(), Qt::Key_Down);
    ASSERT_TRUE(state->primarySelectedVideoID().has_value());
    const QString first = *state->primarySelectedVideoID();
    QTest::keyClick(content(), Qt::Key_Down);
    EXPECT_NE(*state->primarySelectedVideoID(), first);
    QTest::keyClick(content(), Qt::Key_Up);
    EXPECT_EQ(*state->primarySelectedVideoID(), first);

    const int before = state->fullscreenRequestSignal();
    for (int i = 0; i < 3; ++i) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_F, Qt::NoModifier, "f", i > 0);
        QApplication::sendEvent(content(), &repeat);
    }
    EXPECT_EQ(state->fullscreenRequestSignal(), before + 3);

    // Typing into the search field goes into the text.
    content()->setSearchFocused(true);
    auto *field = content()->treePane()->findChild<QLineEdit *>("searchField");
    QTest::keyClicks(field, "f f");
    EXPECT_EQ(field->text(), "f f");
    EXPECT_EQ(state->fullscreenRequestSignal(), before + 3);
}

TEST_F(WindowTest, EscapeStepsBackOneModeAtATime)
{
    const QList<VideoFile> lib = library();
    select(*state, {lib[0], lib[1]});
    state->setIsTheaterMode(true);
    state->setShowCommandPalette(true);
    content()->setFocus();
    auto esc = [&] {
        QKeyEvent e(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        return content()->handleKey(&e);
    };
    EXPECT_TRUE(esc());
    EXPECT_FALSE(state->showCommandPalette());
    EXPECT_TRUE(state->isTheaterMode());
    EXPECT_EQ(state->selectedVideoIDs().size(), 2);
    EXPECT_TRUE(esc());
    EXPECT_FALSE(state->isTheaterMode());
    EXPECT_EQ(state->selectedVideoIDs().size(), 2);
    EXPECT_TRUE(esc());
    EXPECT_TRUE(state->selectedVideoIDs().isEmpty());
    EXPECT_EQ(state->primarySelectedVideoID(), lib[0].id); // the primary selection stays
    EXPECT_FALSE(esc());

    // One selected video: Escape is ignored and keeps it, also from the search field.
    select(*state, {lib[0]});
    content()->setSearchFocused(true);
    EXPECT_FALSE(esc());
    EXPECT_EQ(state->selectedVideoIDs().size(), 1);
}

// ---- the alert ----

TEST_F(WindowTest, PermanentDeleteAlertCancelsOrDeletes)
{
    const QList<VideoFile> lib = library();
    EXPECT_EQ(ContentView::permanentDeleteMessage({video("/x/clip.mov", 1'200'000'000)}, AppLanguage::en),
              "clip.mov (" + formatByteCount(1'200'000'000) + ")");
    const QList<VideoFile> three = {video("/x/a.mp4", 1'500'000'000), video("/x/b.mp4", 1'500'000'000),
                                    video("/x/c.mp4", 1'500'000'000)};
    EXPECT_EQ(ContentView::permanentDeleteMessage(three, AppLanguage::en), "3 videos (" + formatByteCount(4'500'000'000) + ")");
    EXPECT_EQ(ContentView::permanentDeleteMessage(three, AppLanguage::de), "3 Videos (" + formatByteCount(4'500'000'000) + ")");

    state->setVideosPendingPermanentDelete({lib[0], lib[1]});
    state->setShowPermanentDeleteAlert(true);
    QMessageBox *box = content()->permanentDeleteAlert();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), L10n::text("alert.permTitle", AppLanguage::en));
    EXPECT_EQ(box->informativeText(), ContentView::permanentDeleteMessage({lib[0], lib[1]}, AppLanguage::en));
    auto *cancel = box->findChild<QPushButton *>("alertCancel");
    auto *confirm = box->findChild<QPushButton *>("alertConfirm");
    ASSERT_TRUE(cancel && confirm);
    EXPECT_EQ(cancel->text(), L10n::text("toolbar.cancel", AppLanguage::en));
    EXPECT_EQ(confirm->text(), L10n::text("alert.permConfirm", AppLanguage::en));
    cancel->click();
    spin(10);
    EXPECT_TRUE(state->videosPendingPermanentDelete().isEmpty());
    EXPECT_FALSE(state->showPermanentDeleteAlert());
    EXPECT_EQ(content()->permanentDeleteAlert(), nullptr);

    const QString path = home() + "/Videos/Doomed/gone.mp4";
    ASSERT_TRUE(lktest::writeSizedFile(path, 2048));
    const VideoFile doomed = *VideoFile::fromFile(path);
    state->setAllVideos(lib + QList<VideoFile>{doomed});
    state->setVideosPendingPermanentDelete({doomed});
    state->setShowPermanentDeleteAlert(true);
    ASSERT_NE(content()->permanentDeleteAlert(), nullptr);
    content()->permanentDeleteAlert()->findChild<QPushButton *>("alertConfirm")->click();
    spin(10);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(state->showPermanentDeleteAlert());
}

// ---- overlays ----

TEST_F(WindowTest, SelectionBarShowsForTwoOrMoreOutsideTheater)
{
    const QList<VideoFile> lib = library();
    select(*state, {lib[0]});
    EXPECT_EQ(content()->selectionBar(), nullptr);
    select(*state, {lib[0], lib[3]});
    SelectionActionBar *bar = content()->selectionBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->countText(), "2 " + L10n::text("sel.selected", AppLanguage::en));
    EXPECT_EQ(bar->sizeText(), QString::fromUtf8("· ") + formatByteCount(lib[0].fileSize + lib[3].fileSize));
    // An identifier no longer in the library counts, its size does not.
    state->setSelectedVideoIDs({lib[0].id, lib[3].id, "/gone.mp4"});
    EXPECT_EQ(content()->selectionBar()->countText(), "3 " + L10n::text("sel.selected", AppLanguage::en));
    EXPECT_EQ(content()->selectionBar()->sizeText(), QString::fromUtf8("· ") + formatByteCount(lib[0].fileSize + lib[3].fileSize));

    content()->selectionBar()->compressButton()->click();
    EXPECT_EQ(state->videosPendingCompression().size(), 2);
    EXPECT_TRUE(state->showBatchCompressSheet());
    content()->openSheet()->reject();
    content()->selectionBar()->moveButton()->click();
    EXPECT_EQ(state->videosPendingMove().size(), 2);
    EXPECT_TRUE(state->showMoveSheet());
    content()->openSheet()->reject();

    state->setIsTheaterMode(true);
    EXPECT_EQ(content()->selectionBar(), nullptr);
    state->setIsTheaterMode(false);
    ASSERT_NE(content()->selectionBar(), nullptr);
    content()->selectionBar()->clearButton()->click();
    EXPECT_TRUE(state->selectedVideoIDs().isEmpty());
    EXPECT_EQ(content()->selectionBar(), nullptr);
    EXPECT_NE(SelectionActionBar::clearButtonFill(LinearPalette(ColorScheme::dark)),
              SelectionActionBar::clearButtonFill(LinearPalette(ColorScheme::light)));
}

TEST_F(WindowTest, ToastShowsItsKindAndCloseCancelsTheDismissal)
{
    state->showToast("Saved", false, false);
    ToastView *toast = content()->toast();
    ASSERT_NE(toast, nullptr);
    EXPECT_EQ(toast->message(), "Saved");
    EXPECT_FALSE(toast->isError());
    EXPECT_FALSE(toast->undoButton()->isVisibleTo(toast));
    state->showToast("Broken", true, true);
    EXPECT_EQ(content()->toast(), toast); // replaced in place
    EXPECT_TRUE(toast->isError());
    EXPECT_TRUE(toast->undoButton()->isVisibleTo(toast));
    EXPECT_EQ(toast->undoButton()->text(), L10n::text("toast.undo", AppLanguage::en));
    const TaskHandle task = state->toastDismissTask();
    toast->closeButton()->click();
    EXPECT_TRUE(task.isCancelled());
    EXPECT_FALSE(state->activeToast().has_value());
    EXPECT_EQ(content()->toast(), nullptr);
}

TEST_F(WindowTest, AppearanceAppliesToTheWindowAndItsSheets)
{
    state->setAppearance(AppAppearance::dark);
    EXPECT_TRUE(LinearPalette::of(content()).isDark());
    state->setShowDuplicatesSheet(true);
    ASSERT_NE(content()->openSheet(), nullptr);
    EXPECT_TRUE(LinearPalette::of(content()->openSheet()).isDark());
    state->setAppearance(AppAppearance::light);
    EXPECT_FALSE(LinearPalette::of(content()).isDark());
    EXPECT_FALSE(LinearPalette::of(content()->openSheet()).isDark());
    content()->openSheet()->reject();
}

TEST(WindowStartup, AppliesTheActiveScopeOnlyWhenNothingIsLoaded)
{
    {
        LumenkiteApp app;
        app.show();
        // The home scope of the sandbox: no cache, so a scan starts.
        EXPECT_TRUE(waitFor([&] { return app.state()->isScanning() || app.state()->lastScanDate().has_value(); }));
        app.state()->stopScan();
    }
    {
        LumenkiteApp app;
        app.state()->setAllVideos(library());
        app.show();
        spin(50);
        EXPECT_FALSE(app.state()->isScanning());
        EXPECT_EQ(app.state()->allVideos().size(), library().size());
    }
}

// A first start on an empty home, the scan's videos arriving as a large library: from the
// first moment the pane says it is scanning (no blank pane while nothing has arrived), the
// scanning row with its Stop button stays until the scan ends, and the header, the
// scanning row and the sidebar agree on the count. Stop keeps what was found.
TEST(WindowStartup, FirstStartShowsTheScanFromItsFirstMomentToItsEnd)
{
    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    LumenkiteApp app(parts);
    AppState *state = app.state();
    state->setLanguage(AppLanguage::en);
    state->setShowOnboarding(false);
    VideoScanner::EventHandler deliver;
    state->setScanStarter([&](const ScanScope &, bool, QObject *, VideoScanner::EventHandler onEvent) {
        deliver = std::move(onEvent);
        return ScanJob();
    });
    app.show();
    ASSERT_TRUE(waitFor([&] { return state->isScanning(); }));
    QWidget *window = app.mainWindow();
    const auto visible = [&](const char *name) {
        auto *w = window->findChild<QWidget *>(name);
        return w && w->isVisible();
    };
    const auto text = [&](const char *name) {
        auto *l = window->findChild<QLabel *>(name);
        return l ? l->text() : QString("<missing>");
    };
    EXPECT_TRUE(visible("scanningStatus"));
    EXPECT_TRUE(visible("scanStop"));
    EXPECT_TRUE(visible("emptyTitle"));
    EXPECT_EQ(text("emptyTitle"), L10n::text("toolbar.scanning", AppLanguage::en));
    EXPECT_EQ(text("scanSummary"), LumenkitePane::scanningSummaryText(AppLanguage::en, 0, 0));

    const int count = AppState::kBackgroundRebuildMinimum + 1000;
    for (int at = 0; at < count; at += 40) {
        QList<VideoFile> batch;
        for (int i = at; i < std::min(at + 40, count); ++i)
            batch.append(video(home() + QString("/Videos/f%1/v%2.mp4").arg(i % 31).arg(i)));
        deliver(ScanEvent::batch(batch, home() + "/Videos"));
        if (at % 800 == 0)
            spin();
        ASSERT_TRUE(visible("scanningStatus"));
    }
    auto *sidebar = window->findChild<SidebarView *>();
    ASSERT_TRUE(sidebar);
    const QString all = QString::number(count);
    EXPECT_TRUE(waitFor([&] {
        auto *row = sidebar->findChild<SidebarItemRow *>("view:all");
        return row && row->badge() == all && text("videoCount") == LumenkitePane::countText(AppLanguage::en, count);
    }, 20000));
    EXPECT_EQ(text("scanSummary"), LumenkitePane::scanningSummaryText(AppLanguage::en, count, state->totalVideoBytes()));
    EXPECT_EQ(sidebar->summaryCountText(), all + " videos");
    EXPECT_TRUE(visible("scanningStatus"));
    EXPECT_FALSE(visible("rescanButton"));

    auto *stop = window->findChild<QAbstractButton *>("scanStop");
    ASSERT_TRUE(stop);
    stop->click();
    EXPECT_FALSE(state->isScanning());
    EXPECT_EQ(state->allVideos().size(), count);
    EXPECT_TRUE(waitFor([&] { return !visible("scanningStatus") && visible("rescanButton"); }));

    // A rescan shows its row at once, before the event loop turns.
    state->startScan();
    EXPECT_TRUE(visible("scanningStatus"));
    state->stopScan();
}

// A listed video that has become a FIFO since the scan is selected: nothing opens it (the
// player and the readers would block for good), the window goes on drawing, and the player
// card says the file cannot be played.
TEST(WindowWithPlayer, VideoThatBecameAFifoIsNotOpenedAndTheWindowGoesOn)
{
    const QString dir = lktest::sandboxRoot() + "/fifo-window";
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const QString path = dir + "/swapped.mp4";
    ASSERT_TRUE(lktest::makeClip(path, 1, 160, 90, {"-c:v", "libx264", "-pix_fmt", "yuv420p"}));
    const std::optional<VideoFile> listed = VideoFile::fromFile(path);
    ASSERT_TRUE(listed);

    ContentViewParts parts = dummyParts();
    parts.inspector = makeInspectorPane;
    auto app = std::make_unique<LumenkiteApp>(parts);
    AppState *state = app->state();
    state->setShowOnboarding(false);
    state->setAllVideos(library() << *listed);
    state->rebuildTree(true);
    app->show();
    spin(100);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);

    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    } counter;
    app->mainWindow()->installEventFilter(&counter);
    select(*state, {*listed});
    for (int i = 0; i < 5; ++i) {
        app->mainWindow()->update();
        spin(100);
    }
    EXPECT_GE(counter.paints, 3);
    auto *card = app->mainWindow()->findChild<InspectorPlayerCard *>();
    ASSERT_TRUE(card);
    EXPECT_TRUE(waitFor([&] { return card->cannotPlay()->isVisible(); }));
    app->mainWindow()->removeEventFilter(&counter);
    app.reset();
    ::unlink(QFile::encodeName(path).constData());
}

TEST(CachedStart, ShowsTheLoadingStateUntilTheLibraryFileIsRead)
{
    QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.hasCompletedOnboarding", true);
    QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.language", "en");
    // The library file of the last run is a FIFO no one writes: its read waits until the
    // test lets it go, however long the window takes.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Lumenkite";
    lktest::HeldFifo cache(folder + "/scope_cache_v1.json", 30);
    ASSERT_TRUE(cache.made());

    ContentViewParts parts = dummyParts();
    parts.treePane = [](AppState *s, QWidget *parent) -> QWidget * { return new LumenkitePane(s, parent); };
    LumenkiteApp app(parts);
    AppState *state = app.state();
    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    auto text = [&](const char *name) {
        auto *label = app.mainWindow()->findChild<QLabel *>(name);
        return label ? label->text() : QStringLiteral("<missing>");
    };
    spin(300); // long enough for a start-up scan or an empty state to show, were either wrong
    EXPECT_FALSE(cache.releasedByWatchdog()) << "the window waited for the library file";
    EXPECT_TRUE(state->isLoadingLibrary());
    EXPECT_FALSE(state->isScanning());
    EXPECT_EQ(text("emptyTitle"), "Loading library…");
    EXPECT_EQ(text("emptySubtitle"), "Reading the videos found last time…");
    auto *sidebar = app.mainWindow()->findChild<SidebarView *>();
    ASSERT_NE(sidebar, nullptr);
    EXPECT_EQ(sidebar->summaryCountText(), "Loading library…");
    EXPECT_FALSE(text("videoCount").contains("0")) << text("videoCount").toStdString();
    auto *pane = app.mainWindow()->findChild<LumenkitePane *>();
    ASSERT_NE(pane, nullptr);
    ASSERT_NE(pane->emptyStateWidget(), nullptr);
    for (auto *button : pane->emptyStateWidget()->findChildren<QAbstractButton *>())
        EXPECT_FALSE(button->isVisible()) << "an invitation while nothing is known to be missing";
    // The subtitle keeps room for every wrapped line.
    auto *subtitle = app.mainWindow()->findChild<QLabel *>("emptySubtitle");
    EXPECT_GE(subtitle->height(), subtitle->heightForWidth(subtitle->width()));

    // Read (empty here): the start goes on with a scan, and the loading state ends.
    ASSERT_TRUE(waitFor([&] { return cache.release(); }, 10000));
    ASSERT_TRUE(waitFor([&] { return !state->isLoadingLibrary(); }, 10000));
    EXPECT_NE(text("emptyTitle"), "Loading library…");
    EXPECT_NE(sidebar->summaryCountText(), "Loading library…");
}
