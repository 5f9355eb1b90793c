#pragma once

// The program's shell: the one application state, the main window with its menus and
// shortcuts, and the settings window.

#include "ui/window/ContentView.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>

class AppState;
class QAction;
class QMenu;

// The main window: the content view, the File and Videos menus and their shortcuts.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppState *state, ContentViewParts parts, QWidget *parent = nullptr);

    ContentView *contentView() const { return m_content; }
    // Menu commands by name: "addFolder", "rescan", "settings", "commandPalette", "search",
    // "visualSearch", "duplicates", "compress", "insights", "play", "fullscreen", "theater",
    // "trim", "openDefault", "reveal", "move", "trash", "undo", "expandAll", "collapseAll",
    // "welcome", "language.en", "language.ja", "language.de".
    QAction *action(const QString &name) const { return m_actions.value(name); }
    QMenu *videosMenu() const { return m_videosMenu; }
    QMenu *fileMenu() const { return m_fileMenu; }
    QMenu *languageMenu() const { return m_languageMenu; }

    // Re-titles every item in the current language and re-evaluates what is enabled.
    void refreshMenus();

signals:
    void settingsRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *add(QMenu *menu, const QString &name, const QKeySequence &shortcut, std::function<void()> run);
    void buildMenus();

    QPointer<AppState> m_state;
    ContentView *m_content;
    QMenu *m_fileMenu = nullptr;
    QMenu *m_videosMenu = nullptr;
    QMenu *m_languageMenu = nullptr;
    QHash<QString, QAction *> m_actions;
};

// The application: owns the state and the windows for the life of the process.
class LumenkiteApp : public QObject {
    Q_OBJECT
public:
    using SettingsFactory = std::function<QWidget *(AppState *state)>;

    // Creates the state; the windows come with `show()`.
    explicit LumenkiteApp(ContentViewParts parts = {}, SettingsFactory settings = {}, QObject *parent = nullptr);
    ~LumenkiteApp() override;

    AppState *state() const { return m_state; }
    MainWindow *mainWindow() const { return m_window; }
    // The settings window, one for the process; null until first shown.
    QWidget *settingsWindow() const { return m_settings; }

    // Opens the main window at its default size and brings it to the front.
    void show();
    void showSettings();

    // Runs `work` once `window` has first been painted: start-up work the first window does not
    // need waits until it is drawn instead of competing with it for the loader and the cores.
    static void afterFirstPaint(QWidget *window, std::function<void()> work);

    static constexpr QSize kDefaultSize{1280, 800};
    static constexpr QSize kMinimumSize{960, 620};
    // Quiet time after the library or its rows change before free heap is given back.
    static constexpr int kReleaseMemoryWhenIdleMs = 2000;

private:
    AppState *m_state;
    ContentViewParts m_parts;
    SettingsFactory m_settingsFactory;
    QPointer<MainWindow> m_window;
    QPointer<QWidget> m_settings;
};
