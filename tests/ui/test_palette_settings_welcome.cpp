// The command palette, the settings window and the welcome sheet, driven in the real
// window from the keyboard.

#include "UiFixture.h"
#include "library/AppServices.h"
#include "ui/palette/CommandPaletteView.h"
#include "ui/settings/SettingsView.h"
#include "ui/sheets/welcome/OnboardingView.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QAction>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

using namespace uifx;

namespace {

QSettings settings() { return QSettings("Lumenkite", "Lumenkite"); }

ContentViewParts realParts()
{
    ContentViewParts p;
    p.commandPalette = makeCommandPalette;
    p.onboarding = makeOnboardingView;
    p.moveSheet = [](AppState *, QWidget *parent) { return dummySheet(parent); };
    p.duplicatesSheet = [](AppState *, QWidget *parent) { return dummySheet(parent); };
    return p;
}

QStringList ids(const QList<QuickCommand> &commands)
{
    QStringList out;
    for (const QuickCommand &c : commands) out << c.id;
    return out;
}

QStringList names(const QList<VideoFile> &videos)
{
    QStringList out;
    for (const VideoFile &v : videos) out << v.name;
    return out;
}

// Twelve videos in one folder whose names all hold "clip", and one elsewhere.
QList<VideoFile> manyClips()
{
    QList<VideoFile> out;
    for (int i = 1; i <= 12; ++i) out << video(home() + "/Movies/Holiday/clip" + QString::number(i) + ".mp4");
    out << video(home() + "/Work/Clippings/talk.mkv");
    out << video(home() + "/Work/notes/Ünïcode.mov");
    return out;
}

class PaletteModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings().clear();
        state = std::make_unique<AppState>();
        state->setAllVideos(manyClips());
    }
    std::unique_ptr<AppState> state;
};

// Which videos and commands a typed text lists, and what Return would run.
TEST_F(PaletteModelTest, VideoMatchesAndCommandFilterFollowTheTypedText)
{
    struct Case {
        QString query;
        QStringList videos;
        QStringList commands; // empty: none; "*": all of them
    };
    const QStringList firstEight{"clip1.mp4", "clip2.mp4", "clip3.mp4", "clip4.mp4",
                                 "clip5.mp4", "clip6.mp4", "clip7.mp4", "clip8.mp4"};
    const QList<Case> cases{
        {"", {}, {"*"}},
        {"   \n", {}, {"*"}},
        // More than eight matches: the first eight in library order.
        {"CLIP", firstEight, {}},
        {"clip12", {"clip12.mp4"}, {}},
        // A folder match counts too; a name match comes from the name alone.
        {"clippings", {"talk.mkv"}, {}},
        {"ünï", {"Ünïcode.mov"}, {}},
        {"Expand All", {}, {"cmd-expand-all"}},
        // Subtitles are searched as well as titles.
        {"smart views", {}, {"cmd-expand-all", "cmd-collapse-all", "cmd-compact"}},
        // Identifiers are never searched.
        {"cmd-compact", {}, {}},
        {"zzzz", {}, {}},
    };
    const QList<QuickCommand> all = PaletteModel::allCommands(state.get());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        EXPECT_EQ(names(PaletteModel::videoMatches(state->allVideos(), c.query)), c.videos);
        const QStringList got = ids(PaletteModel::filterCommands(all, c.query));
        if (c.commands == QStringList{"*"})
            EXPECT_EQ(got, ids(all));
        else
            EXPECT_EQ(got, c.commands);
    }
}

TEST_F(PaletteModelTest, CommandTitlesFollowTheStateAndTheLanguage)
{
    EXPECT_EQ(ids(PaletteModel::allCommands(state.get())),
              (QStringList{"cmd-scan-home", "cmd-scan-mac", "cmd-duplicates", "cmd-ai-search", "cmd-ai-index",
                           "cmd-fullscreen", "cmd-add-folder", "cmd-expand-all", "cmd-collapse-all", "cmd-compact"}));
    select(*state, state->allVideos().mid(0, 3));
    const QList<QuickCommand> withSelection = PaletteModel::allCommands(state.get());
    ASSERT_EQ(withSelection.size(), 12);
    EXPECT_EQ(withSelection[10].title, "Move to Folder… (3)");
    EXPECT_EQ(withSelection[11].title, "Move to Trash (3)");

    state->setCompactSingleChildFolders(false);
    EXPECT_EQ(withSelection.size(), 12);
    EXPECT_EQ(PaletteModel::allCommands(state.get())[9].title, "Compact empty folders: OFF");
    EXPECT_EQ(PaletteModel::allCommands(state.get())[3].subtitle, "OpenCV + Tesseract");

    // The same text finds commands in one language and not in another.
    EXPECT_EQ(ids(PaletteModel::filterCommands(PaletteModel::allCommands(state.get()), "Expand")), QStringList{"cmd-expand-all"});
    state->setLanguage(AppLanguage::de);
    EXPECT_TRUE(PaletteModel::filterCommands(PaletteModel::allCommands(state.get()), "Expand All").isEmpty());
    EXPECT_FALSE(PaletteModel::filterCommands(PaletteModel::allCommands(state.get()), "Ordner").isEmpty());
}

// One application with the real palette and welcome sheet.
class PaletteWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings().clear();
        settings().setValue("Lumenkite.hasCompletedOnboarding", true);
        ContentViewParts parts = realParts();
        parts.treePane = [](AppState *s, QWidget *parent) -> QWidget * { return new LumenkitePane(s, parent); };
        app = std::make_unique<LumenkiteApp>(parts, makeSettingsView);
        state = app->state();
        state->setAllVideos(manyClips());
        state->rebuildTree(true);
        app->show();
        QApplication::setActiveWindow(app->mainWindow());
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainWindow()));
    }
    void TearDown() override { app.reset(); }

    CommandPaletteView *openPalette()
    {
        QTest::keyClick(app->mainWindow(), Qt::Key_K, Qt::ControlModifier);
        CommandPaletteView *p = nullptr;
        waitFor([&] {
            p = app->mainWindow()->findChild<CommandPaletteView *>();
            return p && p->searchField()->hasFocus();
        });
        return p;
    }
    void type(const QString &text)
    {
        QTest::keyClicks(QApplication::focusWidget(), text);
        spin(20);
    }

    std::unique_ptr<LumenkiteApp> app;
    AppState *state = nullptr;
};

TEST_F(PaletteWindowTest, ReturnRevealsTheFirstVideoBeforeAnyCommand)
{
    state->setSearchQuery("talk");
    CommandPaletteView *palette = openPalette();
    ASSERT_NE(palette, nullptr);
    ASSERT_TRUE(state->showCommandPalette());
    type("clip1");
    // Videos come first; the first row is the first match in library order.
    ASSERT_FALSE(palette->rows().isEmpty());
    EXPECT_EQ(palette->rows().first()->objectName(), "video:" + manyClips()[0].id);
    EXPECT_EQ(palette->rows().size(), 4); // clip1, clip10, clip11, clip12
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(waitFor([&] { return !state->showCommandPalette(); }));
    EXPECT_EQ(state->primarySelectedVideoID(), std::optional<QString>(manyClips()[0].id));
    // Revealing clears the tree's search text.
    EXPECT_EQ(state->searchQuery(), "");
    EXPECT_TRUE(waitFor([&] { return !app->mainWindow()->findChild<CommandPaletteView *>(); }));
}

TEST_F(PaletteWindowTest, ReturnRunsTheFirstCommandAndNothingWhenNothingMatches)
{
    state->collapseAll();
    CommandPaletteView *palette = openPalette();
    ASSERT_NE(palette, nullptr);
    type("zzzz");
    EXPECT_NE(palette->findChild<QWidget *>("paletteNoMatches"), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    spin(50);
    EXPECT_TRUE(state->showCommandPalette()); // nothing ran, still open

    palette->searchField()->clear();
    type("expand all");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(waitFor([&] { return !state->showCommandPalette(); }));
    EXPECT_FALSE(state->expandedFolderIDs().isEmpty());
}

TEST_F(PaletteWindowTest, EscapeAndTheBackdropCloseWithoutRunningAnything)
{
    select(*state, state->allVideos().mid(0, 2));
    CommandPaletteView *palette = openPalette();
    ASSERT_NE(palette, nullptr);
    type("trash");
    ASSERT_EQ(palette->rows().size(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !state->showCommandPalette(); }));
    EXPECT_EQ(state->allVideos().size(), manyClips().size());

    palette = openPalette();
    ASSERT_NE(palette, nullptr);
    // A click inside the panel but outside a row does nothing; one on the backdrop closes.
    QTest::mouseClick(palette, Qt::LeftButton, {}, palette->panel()->geometry().topLeft() + QPoint(5, 5));
    EXPECT_TRUE(state->showCommandPalette());
    QTest::mouseClick(palette, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(waitFor([&] { return !state->showCommandPalette(); }));
}

// Every new list starts at its top, with its first row in sight below its section header,
// and the trash row shows the key the menu shows.
TEST_F(PaletteWindowTest, EachNewListStartsAtItsTopWithTheMenusShortcuts)
{
    select(*state, state->allVideos().mid(0, 2));
    CommandPaletteView *palette = openPalette();
    ASSERT_NE(palette, nullptr);
    QScrollBar *bar = palette->list()->verticalScrollBar();
    auto firstRowInSight = [&] {
        const QList<QAbstractButton *> rows = palette->rows();
        if (rows.isEmpty()) return false;
        const QRect inViewport(rows.first()->mapTo(palette->list()->viewport(), QPoint(0, 0)), rows.first()->size());
        return bar->value() == 0 && palette->list()->viewport()->rect().contains(inViewport);
    };
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 0; })) << "the list needs to scroll for this check";
    bar->setValue(bar->maximum());
    type("c");
    EXPECT_TRUE(waitFor(firstRowInSight));
    bar->setValue(bar->maximum());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !state->showCommandPalette(); }));

    palette = openPalette();
    ASSERT_NE(palette, nullptr);
    bar = palette->list()->verticalScrollBar();
    EXPECT_TRUE(waitFor(firstRowInSight));

    const QuickCommand trash = PaletteModel::allCommands(state).last();
    EXPECT_EQ(trash.id, "cmd-trash-selected");
    const QAction *menuTrash = app->mainWindow()->findChild<QAction *>("trash");
    ASSERT_NE(menuTrash, nullptr);
    EXPECT_EQ(trash.shortcut.value_or(QString()), menuTrash->shortcut().toString());
}

TEST_F(PaletteWindowTest, AClickedCommandClosesThePaletteBeforeItsSheetOpens)
{
    select(*state, state->allVideos().mid(0, 2));
    CommandPaletteView *palette = openPalette();
    ASSERT_NE(palette, nullptr);
    QAbstractButton *move = palette->findChild<QAbstractButton *>("cmd-move-selected");
    ASSERT_NE(move, nullptr);
    QTest::mouseClick(move, Qt::LeftButton);
    EXPECT_FALSE(state->showCommandPalette());
    EXPECT_TRUE(state->showMoveSheet());
    EXPECT_EQ(state->videosPendingMove().size(), 2);
}

// Reports a model as installed until the test says the folder is gone.
struct FakeModels : OnDeviceSearchServices {
    bool installed = true;
    bool isModelInstalled() override { return installed; }
    qint64 installedSizeBytes() override { return installed ? 200'000'000 : 0; }
};

TEST_F(PaletteWindowTest, SettingsAreReachedFromTheKeyboardAndSurviveARestart)
{
    QTest::keyClick(app->mainWindow(), Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return app->settingsWindow() && app->settingsWindow()->isVisible(); }));
    QWidget *window = app->settingsWindow();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    auto *language = window->findChild<QComboBox *>("settingsLanguage");
    auto *compact = window->findChild<QCheckBox *>("settingsCompact");
    ASSERT_TRUE(language && compact);

    language->setFocus();
    QTest::keyClick(language, Qt::Key_Down); // English -> Japanese
    EXPECT_EQ(state->language(), AppLanguage::ja);
    EXPECT_EQ(window->findChild<QTabWidget *>("settingsTabs")->tabText(0), L10n::text("settings.general", AppLanguage::ja));
    // "Visual & Speech AI": the ampersand is shown, not taken as a mnemonic.
    EXPECT_EQ(window->findChild<QTabWidget *>("settingsTabs")->tabText(1),
              L10n::text("settings.ai", AppLanguage::ja).replace('&', "&&"));
    EXPECT_EQ(compact->text(), L10n::text("toolbar.compactOn", AppLanguage::ja));

    // The label says the state the box shows, both ways.
    compact->setFocus();
    QTest::keyClick(compact, Qt::Key_Space);
    EXPECT_FALSE(state->compactSingleChildFolders());
    EXPECT_FALSE(compact->isChecked());
    EXPECT_EQ(compact->text(), L10n::text("toolbar.compactOff", AppLanguage::ja));
    QTest::keyClick(compact, Qt::Key_Space);
    EXPECT_TRUE(state->compactSingleChildFolders());
    EXPECT_EQ(compact->text(), L10n::text("toolbar.compactOn", AppLanguage::ja));
    // Every row's label is in the chosen language.
    QStringList labels;
    for (const QLabel *l : window->findChildren<QLabel *>()) labels << l->text();
    for (const char *key : {"settings.nativeEngine", "settings.codecs", "settings.visualEngine", "settings.indexedVideos"})
        EXPECT_TRUE(labels.contains(L10n::text(key, AppLanguage::ja))) << key;

    auto *appearance = window->findChild<QComboBox *>("settingsAppearance");
    appearance->setFocus();
    QTest::keyClick(appearance, Qt::Key_End);
    EXPECT_EQ(state->appearance(), AppAppearance::dark);

    // Escape closes the window.
    QTest::keyClick(appearance, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !app->settingsWindow() || !app->settingsWindow()->isVisible(); }));

    // The language persists; appearance is kept only while the program runs.
    app.reset();
    AppState restarted;
    EXPECT_EQ(restarted.language(), AppLanguage::ja);
    EXPECT_EQ(restarted.appearance(), AppAppearance::system);
}

TEST_F(PaletteWindowTest, AFailedModelRemovalShowsTheErrorAndStillRefreshesTheStatus)
{
    auto models = std::make_shared<FakeModels>();
    AppState::Services services;
    services.onDeviceSearch = models;
    state->setServices(services);
    state->refreshAIModelStatus();
    SettingsView view(state);
    // The folder went away in part before the removal failed.
    view.setModelRemover([models](AppState *) -> std::optional<QString> {
        models->installed = false;
        return QStringLiteral("Permission denied");
    });
    auto *remove = view.findChild<QPushButton *>("settingsRemoveModel");
    ASSERT_TRUE(remove && !remove->isHidden());
    EXPECT_EQ(view.findChild<QLabel *>("settingsModelSize")->text(), "200 MB");
    remove->click();
    ASSERT_TRUE(state->activeToast().has_value());
    EXPECT_TRUE(state->activeToast()->isError);
    EXPECT_EQ(state->activeToast()->message, "Permission denied");
    EXPECT_FALSE(state->isMobileCLIPInstalled());
    EXPECT_TRUE(remove->isHidden());
    EXPECT_FALSE(view.findChild<QPushButton *>("settingsDownloadModel")->isHidden());
    EXPECT_EQ(view.findChild<QLabel *>("settingsIndexed")->text(), "0 / 14");
}

// The window of a first start, and the welcome sheet it shows.
OnboardingView *showWelcome(LumenkiteApp &app)
{
    app.show();
    OnboardingView *sheet = nullptr;
    waitFor([&] {
        sheet = app.mainWindow()->findChild<OnboardingView *>();
        return sheet && sheet->isVisible();
    });
    return sheet && sheet->isVisible() ? sheet : nullptr;
}

TEST(WelcomeSheet, FirstStartShowsItAndGetStartedIsRecordedForTheNextStart)
{
    settings().clear();
    {
        LumenkiteApp app(realParts(), makeSettingsView);
        OnboardingView *sheet = showWelcome(app);
        ASSERT_NE(sheet, nullptr);
        QApplication::setActiveWindow(sheet);
        ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
        // The language picker, from the keyboard: the whole sheet switches at once.
        sheet->languagePicker()->setFocus();
        QTest::keyClick(sheet->languagePicker(), Qt::Key_End);
        EXPECT_EQ(app.state()->language(), AppLanguage::de);
        ASSERT_TRUE(waitFor([&] { return sheet->getStartedButton()->text() == L10n::text("onb.getStarted", AppLanguage::de); }));
        // Return presses the default button, "Get Started".
        QTest::keyClick(sheet->getStartedButton(), Qt::Key_Return);
        EXPECT_TRUE(waitFor([&] { return !app.mainWindow()->findChild<OnboardingView *>(); }));
        EXPECT_FALSE(app.state()->showOnboarding());
    }
    AppState restarted;
    EXPECT_FALSE(restarted.showOnboarding());
    EXPECT_EQ(restarted.language(), AppLanguage::de);
}

// In every language, and after a switch made in the sheet itself, the whole app icon shows
// below the language picker and every text fits inside the sheet.
TEST(WelcomeSheet, TheIconAndEveryTextFitInEveryLanguage)
{
    settings().clear();
    LumenkiteApp app(realParts(), makeSettingsView);
    OnboardingView *sheet = showWelcome(app);
    ASSERT_NE(sheet, nullptr);
    for (const AppLanguage language : {AppLanguage::de, AppLanguage::ja, AppLanguage::en, AppLanguage::de}) {
        SCOPED_TRACE(AppLanguageInfo::rawValue(language).toStdString());
        sheet->languagePicker()->setCurrentIndex(int(AppLanguageInfo::allCases().indexOf(language)));
        emit sheet->languagePicker()->activated(sheet->languagePicker()->currentIndex());
        ASSERT_TRUE(waitFor([&] {
            return sheet->getStartedButton() && sheet->getStartedButton()->text() == L10n::text("onb.getStarted", language) &&
                   sheet->getStartedButton()->isVisible();
        }));
        spin(50);
        auto *icon = sheet->findChild<QLabel *>("onboardingIcon");
        ASSERT_NE(icon, nullptr);
        const QRect iconAt(icon->mapTo(sheet, QPoint(0, 0)), icon->size());
        const QRect pickerAt(sheet->languagePicker()->mapTo(sheet, QPoint(0, 0)), sheet->languagePicker()->size());
        const QWidget *title = sheet->findChild<QWidget *>("onboardingTitle");
        ASSERT_NE(title, nullptr);
        EXPECT_GE(icon->height(), 78);
        EXPECT_GE(iconAt.top(), pickerAt.bottom());
        EXPECT_GE(title->mapTo(sheet, QPoint(0, 0)).y(), iconAt.bottom());
        for (QWidget *w : sheet->findChildren<QWidget *>()) {
            if (!w->isVisible() || w->parentWidget() != sheet) continue;
            const QRect at(w->mapTo(sheet, QPoint(0, 0)), w->size());
            EXPECT_TRUE(sheet->rect().contains(at)) << w->metaObject()->className() << " " << w->objectName().toStdString();
        }
    }
}

// A chooser that answers as the user would in the folder panel.
struct CancelledChooser : FolderChooser {
    int asked = 0;
    std::optional<QUrl> chooseFolder(const QString &, const QString &) override
    {
        ++asked;
        return std::nullopt;
    }
};

TEST(WelcomeSheet, ChooseFolderRecordsCompletionBeforeThePanelAndACancelAddsNothing)
{
    settings().clear();
    LumenkiteApp app(realParts(), makeSettingsView);
    auto chooser = std::make_shared<CancelledChooser>();
    AppState::Services services;
    services.folderChooser = chooser;
    app.state()->setServices(services);
    app.show();
    OnboardingView *sheet = nullptr;
    ASSERT_TRUE(waitFor([&] {
        sheet = app.mainWindow()->findChild<OnboardingView *>();
        return sheet != nullptr;
    }));
    QTest::mouseClick(sheet->chooseFolderButton(), Qt::LeftButton);
    EXPECT_TRUE(settings().value("Lumenkite.hasCompletedOnboarding").toBool());
    EXPECT_TRUE(waitFor([&] { return chooser->asked == 1; }));
    EXPECT_TRUE(app.state()->customScopes().isEmpty());
    EXPECT_FALSE(app.state()->showOnboarding());
}

} // namespace
