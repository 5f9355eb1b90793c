#include "ui/window/LumenkiteApp.h"

#include <QPointer>
#include "ui/Availability.h"
#include "ui/DesktopActions.h"

#include "ui/window/Notifications.h"
#include "library/AppState.h"
#include "library/L10n.h"
#include "editing/FFmpegProcess.h"
#include "media/LibMPVLibrary.h"
#include "media/MediaMetadataService.h"
#include "platform/DesktopServices.h"
#include "platform/MemoryTuning.h"
#include "search/AppOnDeviceSearchServices.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Keys whose menu title stays as written in every language.
const QHash<QString, QString> &fixedTitles()
{
    static const QHash<QString, QString> titles{{"commandPalette", "Command Palette"}};
    return titles;
}

const QHash<QString, QString> &titleKeys()
{
    static const QHash<QString, QString> keys{
        {"addFolder", "sidebar.addFolder"},      {"rescan", "toolbar.rescan"},
        {"settings", "sidebar.settings"},        {"search", "toolbar.searchPlaceholder"},
        {"visualSearch", "toolbar.visualSearch"}, {"duplicates", "sidebar.duplicates"},
        {"compress", "sidebar.compress"},        {"insights", "sidebar.insights"},
        {"play", "ctx.play"},                    {"fullscreen", "inspector.fullscreen"},
        {"theater", "inspector.theater"},        {"trim", "ctx.trim"},
        {"openDefault", "ctx.openDefault"},      {"reveal", "ctx.reveal"},
        {"move", "ctx.move"},                    {"trash", "ctx.trash"},
        {"undo", "toast.undo"},                  {"expandAll", "toolbar.expandAll"},
        {"collapseAll", "toolbar.collapseAll"},  {"welcome", "menu.welcome"},
        {"quit", "menu.quit"},
    };
    return keys;
}

// A menu title is shown verbatim: an ampersand is not a mnemonic marker here.
QString menuText(const QString &s)
{
    QString out = s;
    return out.replace('&', "&&");
}
} // namespace

// The folder chooser of "add folder": the desktop's folder dialog over the active window.
class FileDialogFolderChooser : public FolderChooser {
public:
    std::optional<QUrl> chooseFolder(const QString &title, const QString &prompt) override
    {
        Q_UNUSED(prompt);
        const QString dir = QFileDialog::getExistingDirectory(QApplication::activeWindow(), title, QDir::homePath());
        if (dir.isEmpty()) return std::nullopt;
        return QUrl::fromLocalFile(dir);
    }
};

// ---- MainWindow ----

MainWindow::MainWindow(AppState *state, ContentViewParts parts, QWidget *parent)
    : QMainWindow(parent), m_state(state)
{
    setObjectName("mainWindow");
    setWindowTitle("Lumenkite");
    m_content = new ContentView(state, std::move(parts), this);
    setCentralWidget(m_content);
    // The minimum comes from the layout: the content's own (at least kMinimumSize) plus the
    // menu bar, so neither is cut at the smallest size.
    buildMenus();
    refreshMenus();
    // Menu commands win over text fields, which would otherwise keep Ctrl+K, Ctrl+E, ...
    qApp->installEventFilter(this);
    if (!state) return;
    for (auto signal : {&AppState::languageChanged, &AppState::allVideosChanged, &AppState::selectedVideoIDsChanged,
                        &AppState::selectedVideosChanged, &AppState::primarySelectedVideoIDChanged,
                        &AppState::primarySelectedVideoChanged})
        connect(state, signal, this, &MainWindow::refreshMenus);
}

QAction *MainWindow::add(QMenu *menu, const QString &name, const QKeySequence &shortcut, std::function<void()> run)
{
    auto *a = new QAction(this);
    a->setObjectName(name);
    if (!shortcut.isEmpty()) a->setShortcut(shortcut);
    // Shortcuts work anywhere in the window, also while the menu bar is closed.
    a->setShortcutContext(Qt::WindowShortcut);
    connect(a, &QAction::triggered, this, [run] { run(); });
    menu->addAction(a);
    addAction(a);
    m_actions.insert(name, a);
    return a;
}

void MainWindow::buildMenus()
{
    AppState *s = m_state;
    auto flag = [s](void (AppState::*set)(bool)) {
        return [s, set] {
            if (s) (s->*set)(true);
        };
    };
    auto signal = [s](int (AppState::*get)() const, void (AppState::*set)(int)) {
        return [s, get, set] {
            if (!s) return;
            s->setShowInspector(true);
            (s->*set)((s->*get)() + 1);
        };
    };

    m_fileMenu = menuBar()->addMenu(QString());
    m_fileMenu->setObjectName("fileMenu");
    add(m_fileMenu, "addFolder", QKeySequence("Ctrl+Shift+O"), [s] {
        if (s) s->addCustomFolder();
    });
    add(m_fileMenu, "rescan", QKeySequence("Ctrl+R"), [s] {
        if (!s) return;
        // A newly attached drive shows among the sources.
        s->setExternalVolumes(VideoScanner::mountedVolumes());
        s->startScan();
    });
    m_fileMenu->addSeparator();
    add(m_fileMenu, "settings", QKeySequence("Ctrl+,"), [this] { emit settingsRequested(); });
    m_fileMenu->addSeparator();
    // Closes every window of the program, as a Linux application's File > Quit does.
    add(m_fileMenu, "quit", QKeySequence::Quit, [] { QApplication::closeAllWindows(); QCoreApplication::quit(); });

    m_videosMenu = menuBar()->addMenu(QString());
    m_videosMenu->setObjectName("videosMenu");
    add(m_videosMenu, "commandPalette", QKeySequence("Ctrl+K"), [s] {
        if (s) s->setShowCommandPalette(!s->showCommandPalette());
    });
    add(m_videosMenu, "search", QKeySequence("Ctrl+F"), [] { Notifications::postFocusSearchField(); });
    add(m_videosMenu, "visualSearch", QKeySequence("Ctrl+Shift+A"), [s] {
        if (!s) return;
        s->setIsAISearchMode(!s->isAISearchMode());
        Notifications::postFocusSearchField();
    });
    add(m_videosMenu, "duplicates", QKeySequence("Ctrl+Shift+D"), flag(&AppState::setShowDuplicatesSheet));
    add(m_videosMenu, "compress", QKeySequence("Ctrl+Shift+C"), [s] {
        if (!s) return;
        s->setVideosPendingCompression(s->selectedVideos());
        s->setShowBatchCompressSheet(true);
    });
    add(m_videosMenu, "insights", QKeySequence("Ctrl+Shift+I"), flag(&AppState::setShowStorageInsightsSheet));
    m_videosMenu->addSeparator();
    add(m_videosMenu, "play", {}, signal(&AppState::playbackToggleSignal, &AppState::setPlaybackToggleSignal));
    // Plain F (a text field keeps its typed letters), then the desktop's own full-screen
    // keys; Ctrl+Meta+F belongs to the window manager on most Linux desktops.
    QList<QKeySequence> fullscreenKeys{QKeySequence(Qt::Key_F)};
    fullscreenKeys += QKeySequence::keyBindings(QKeySequence::FullScreen);
    if (fullscreenKeys.size() == 1) fullscreenKeys.append(QKeySequence(Qt::Key_F11));
    add(m_videosMenu, "fullscreen", {}, signal(&AppState::fullscreenRequestSignal, &AppState::setFullscreenRequestSignal))
        ->setShortcuts(fullscreenKeys);
    add(m_videosMenu, "theater", {}, [s] {
        if (s) s->setIsTheaterMode(!s->isTheaterMode());
    });
    add(m_videosMenu, "trim", QKeySequence("Ctrl+E"), [s] {
        if (s) s->setVideoPendingEdit(s->primarySelectedVideo());
    });
    add(m_videosMenu, "openDefault", QKeySequence("Ctrl+O"), [s] {
        if (!s) return;
        if (const auto v = s->primarySelectedVideo()) DesktopActions::open(s, v->url());
    });
    add(m_videosMenu, "reveal", QKeySequence("Ctrl+Alt+R"), [s] {
        if (!s) return;
        QList<QUrl> urls;
        for (const VideoFile &v : s->selectedVideos()) urls.append(v.url());
        if (!urls.isEmpty()) DesktopActions::reveal(s, urls);
    });
    m_videosMenu->addSeparator();
    add(m_videosMenu, "move", QKeySequence("Ctrl+M"), [s] {
        if (!s) return;
        const QList<VideoFile> videos = s->selectedVideos();
        if (videos.isEmpty()) return;
        s->setVideosPendingMove(videos);
        s->setShowMoveSheet(true);
    });
    QAction *trash = add(m_videosMenu, "trash", QKeySequence("Ctrl+Del"), [s] {
        if (s) s->moveSelectedToTrash(s->selectedVideos());
    });
    // Ctrl+Backspace is the key the inspector's Trash button shows; Delete alone is the
    // desktop's usual key for it. Text fields keep both for themselves.
    trash->setShortcuts({QKeySequence("Ctrl+Backspace"), QKeySequence("Ctrl+Del"), QKeySequence(Qt::Key_Delete)});
    add(m_videosMenu, "undo", QKeySequence("Ctrl+Shift+Z"), [s] {
        if (s) s->undoLastOperation();
    });
    m_videosMenu->addSeparator();
    add(m_videosMenu, "expandAll", {}, [s] {
        if (s) s->expandAll();
    });
    add(m_videosMenu, "collapseAll", {}, [s] {
        if (s) s->collapseAll();
    });
    m_videosMenu->addSeparator();
    m_languageMenu = m_videosMenu->addMenu(QString());
    m_languageMenu->setObjectName("languageMenu");
    for (AppLanguage l : AppLanguageInfo::allCases()) {
        QAction *a = m_languageMenu->addAction(AppLanguageInfo::menuLabel(l));
        a->setObjectName("language." + AppLanguageInfo::rawValue(l));
        connect(a, &QAction::triggered, this, [s, l] {
            if (s) s->setLanguage(l);
        });
        m_actions.insert(a->objectName(), a);
    }
    add(m_videosMenu, "welcome", {}, flag(&AppState::setShowOnboarding));
}

void MainWindow::refreshMenus()
{
    const AppLanguage lang = m_state ? m_state->language() : AppLanguage::en;
    // The desktop's own name of the File menu, which the text table does not carry.
    static const QString file[] = {"File", QString::fromUtf8("ファイル"), "Datei"};
    m_fileMenu->setTitle(file[int(lang)]);
    m_videosMenu->setTitle(menuText(L10n::text("menu.videos", lang)));
    m_languageMenu->setTitle(menuText(L10n::text("menu.language", lang)));
    for (auto it = titleKeys().begin(); it != titleKeys().end(); ++it)
        if (QAction *a = m_actions.value(it.key())) a->setText(menuText(L10n::text(it.value(), lang)));
    for (auto it = fixedTitles().begin(); it != fixedTitles().end(); ++it)
        if (QAction *a = m_actions.value(it.key())) a->setText(menuText(it.value()));
    for (AppLanguage l : AppLanguageInfo::allCases()) {
        QAction *a = m_actions.value("language." + AppLanguageInfo::rawValue(l));
        a->setIcon(l == lang ? LinearTheme::symbol("checkmark") : QIcon());
        a->setIconVisibleInMenu(true);
    }
    if (!m_state) return;
    const bool empty = m_state->allVideos().isEmpty();
    const bool primary = m_state->primarySelectedVideo().has_value();
    const bool anySelected = !m_state->selectedVideos().isEmpty();
    m_actions["compress"]->setEnabled(!empty);
    m_actions["insights"]->setEnabled(!empty);
    for (const char *n : {"play", "fullscreen", "theater", "trim", "openDefault"}) m_actions[n]->setEnabled(primary);
    for (const char *n : {"reveal", "move", "trash"}) m_actions[n]->setEnabled(anySelected);
    // Commands whose view this program was not given do nothing: they are shown disabled.
    using Availability::View;
    const std::pair<const char *, View> views[] = {
        {"settings", View::settings},         {"commandPalette", View::commandPalette},
        {"duplicates", View::duplicatesSheet}, {"compress", View::batchCompressSheet},
        {"insights", View::storageInsightsSheet}, {"trim", View::editorSheet},
        {"move", View::moveSheet},             {"welcome", View::onboarding},
    };
    for (const auto &[name, view] : views)
        if (!Availability::isAvailable(m_state, view)) m_actions[name]->setEnabled(false);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride) return QMainWindow::eventFilter(watched, event);
    auto *w = qobject_cast<QWidget *>(watched);
    if (!w || w->window() != this) return false;
    auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (!(mods & (Qt::ControlModifier | Qt::MetaModifier))) return false;
    // Word deletion in a text field stays with the field.
    if ((key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete) && w->inherits("QLineEdit")) return false;
    const QKeySequence pressed(key->keyCombination());
    for (QAction *a : std::as_const(m_actions))
        for (const QKeySequence &seq : a->shortcuts())
            if (seq == pressed && a->isEnabled()) return true; // not overridden: the shortcut runs
    return false;
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Keys that reached the window itself (nothing inside had the focus).
    if (m_content->handleKey(event)) {
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

namespace {
// An edit that rewrites a file under its own name makes every stored fact of that path
// stale (duration, resolution, codec, thumbnails).
struct SharedMediaCache : MediaCacheInvalidator {
    void invalidate(const QUrl &url) override { MediaMetadataService::shared().invalidate(url); }
};
} // namespace

// ---- LumenkiteApp ----

LumenkiteApp::LumenkiteApp(ContentViewParts parts, SettingsFactory settings, QObject *parent)
    : QObject(parent), m_state(new AppState(this)), m_parts(std::move(parts)), m_settingsFactory(std::move(settings))
{
    // Closing the last window ends the program.
    QApplication::setQuitOnLastWindowClosed(true);
    // Qt paints large areas in parts on its global thread pool and waits for them. Its threads
    // stay once made: made again in the middle of a paint (after half a minute of quiet),
    // they waited for the loader while a player opened its libraries, and the window with them.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    LinearTheme::initialize();
    AppState::Services services;
    services.folderChooser = std::make_shared<FileDialogFolderChooser>();
    services.onDeviceSearch = std::make_shared<AppOnDeviceSearchServices>();
    services.mediaCache = std::make_shared<SharedMediaCache>();
    m_state->setServices(services);
    // A trim or compression still running at quit stops and removes its partial file first.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [] { FFmpegProcess::stopAllAndWait(3000); });
    // The installed models as the real services see them.
    m_state->refreshAIModelStatus();
    if (QApplication::windowIcon().isNull()) QApplication::setWindowIcon(QIcon(":/lumenkite/icons/app.svg"));
    connect(m_state, &AppState::appearanceChanged, this, [this] {
        if (m_settings && m_window)
            LinearTheme::applyColorScheme(m_settings, m_window->contentView()->preferredScheme());
    });
    // The heap keeps large blocks so rebuilds of a big library reuse them; once the user
    // pauses, what a rescan or a rebuild left free goes back to the system.
    auto *idle = new QTimer(this);
    idle->setSingleShot(true);
    idle->setInterval(kReleaseMemoryWhenIdleMs);
    connect(idle, &QTimer::timeout, this, [] { releaseFreeMemorySoon(); });
    for (auto signal : {&AppState::allVideosChanged, &AppState::flattenedRowsChanged})
        connect(m_state, signal, idle, qOverload<>(&QTimer::start));
}

LumenkiteApp::~LumenkiteApp()
{
    delete m_settings;
    delete m_window;
}

void LumenkiteApp::afterFirstPaint(QWidget *window, std::function<void()> work)
{
    struct FirstPaint : QObject {
        std::function<void()> work;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Paint) {
                watched->removeEventFilter(this);
                QTimer::singleShot(0, this, [this] {
                    work();
                    deleteLater();
                });
            }
            return false;
        }
    };
    if (!window) return work();
    auto *filter = new FirstPaint;
    filter->setParent(window);
    filter->work = std::move(work);
    window->installEventFilter(filter);
}

void LumenkiteApp::show()
{
    if (!m_window) {
        // The first scope is applied as the window is made, not after: a scan then walks
        // while the window is built (which takes a while), and the window opens on it.
        QPointer<AppState> state = m_state;
        m_state->afterScopeCacheLoads([state] {
            if (state && state->allVideos().isEmpty() && !state->isScanning()) state->applyActiveScope();
        });
        Availability::setAvailable(m_state, Availability::View::settings, bool(m_settingsFactory));
        m_window = new MainWindow(m_state, m_parts);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_window, &MainWindow::settingsRequested, this, &LumenkiteApp::showSettings);
        m_window->resize(kDefaultSize);
        if (QScreen *screen = QGuiApplication::primaryScreen())
            m_window->move(screen->availableGeometry().center() - m_window->rect().center());
        // libmpv and the hundred libraries it links are opened on a worker once the window is
        // drawn: the first video that needed them opened them on this thread, holding the
        // window up for a tenth of a second and more.
        afterFirstPaint(m_window, [] { QThreadPool::globalInstance()->start([] { LibMPVLibrary::shared(); }); });
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void LumenkiteApp::showSettings()
{
    if (!m_settings) {
        QWidget *content = m_settingsFactory ? m_settingsFactory(m_state) : nullptr;
        auto *w = new QWidget(nullptr, Qt::Window);
        w->setObjectName("settingsWindow");
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->setWindowTitle(QString(L10n::text("sidebar.settings", m_state->language())).remove(QChar(0x2026)));
        auto *l = new QVBoxLayout(w);
        l->setContentsMargins(0, 0, 0, 0);
        if (content) l->addWidget(content);
        else w->resize(520, 360);
        m_settings = w;
        connect(m_state, &AppState::languageChanged, w, [this, w] {
            w->setWindowTitle(QString(L10n::text("sidebar.settings", m_state->language())).remove(QChar(0x2026)));
        });
        if (m_window) LinearTheme::applyColorScheme(w, m_window->contentView()->preferredScheme());
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}
