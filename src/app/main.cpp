#include "editing/PartialOutputs.h"
#include "library/FileOperationJournal.h"
#include "library/AppState.h"
#include "search/MobileCLIPModelManager.h"
#include "platform/DesktopServices.h"
#include "platform/FontWarmUp.h"
#include "platform/LeakCheckSupport.h"
#include "platform/MemoryTuning.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/palette/CommandPaletteView.h"
#include "ui/settings/SettingsView.h"
#include "ui/sheets/duplicates/DuplicatesSheetView.h"
#include "ui/sheets/editor/VideoEditorSheet.h"
#include "ui/sheets/compressor/BatchCompressSheetView.h"
#include "ui/sheets/insights/StorageInsightsSheetView.h"
#include "ui/sheets/move/MoveSheetView.h"
#include "ui/sheets/welcome/OnboardingView.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"
#include "ui/window/MissingTools.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <functional>

// Grabs the main window to a PNG once the library has loaded, then quits. Used to make
// the pictures the window is reviewed by.
// The picture a user sees: the settings window when it is open, otherwise the main window
// with any sheet over it (a sheet is a window of its own, so the screen is read).
static QPixmap grabFront(LumenkiteApp &app)
{
    if (QWidget *settings = app.settingsWindow(); settings && settings->isVisible()) return settings->grab();
    MainWindow *window = app.mainWindow();
    if (!window) return {};
    const QWidgetList windows = QApplication::topLevelWidgets();
    const bool sheetOpen = std::any_of(windows.cbegin(), windows.cend(), [window](QWidget *w) {
        return w != window && w->isVisible() && w->parentWidget() == window;
    });
    if (sheetOpen)
        if (QScreen *screen = window->screen()) return screen->grabWindow(0, window->x(), window->y(), window->width(), window->height());
    return window->grab();
}

// For pictures of long work: the state the window has to reach before it is grabbed.
static bool captureStateReached(AppState *s, const QString &when)
{
    if (when == "downloading") return s->isDownloadingAIModel() && s->aiModelDownloadProgress() >= 0.2;
    if (when == "installed") return s->isMobileCLIPInstalled() && !s->isDownloadingAIModel();
    // After its toast has gone: what the card keeps of a failed download.
    if (when == "downloadFailed")
        return !s->isDownloadingAIModel() && !s->aiModelDownloadError().isEmpty() && !s->activeToast();
    // Past the first estimate, so the picture shows speed and time left.
    if (when == "indexing")
        return s->isAIIndexing() && s->aiVideosPerSecond() > 0 && s->aiETAText() &&
               *s->aiETAText() != QString(QChar(0x2026));
    // Every video indexed or skipped as unreadable.
    if (when == "indexed")
        return !s->isAIIndexing() && s->aiTotalToIndex() > 0 &&
               s->indexedVideoCount() + s->aiSkippedUnreadableCount() + s->aiSkippedICloudCount() >= s->allVideos().size();
    if (when == "searched") return !s->isAISearchRunning() && !s->aiSearchHits().isEmpty();
    return true;
}

static void scheduleCapture(LumenkiteApp &app, const QString &path, int settleMs, bool sheet = false,
                            const QString &when = {})
{
    QElapsedTimer clock;
    clock.start();
    auto *timer = new QTimer(&app);
    timer->setInterval(100);
    const qint64 limitMs = when.isEmpty() ? 30000 : 240000;
    QObject::connect(timer, &QTimer::timeout, &app, [&app, path, settleMs, clock, timer, sheet, when, limitMs] {
        AppState *s = app.state();
        const bool loaded = !s->isScanning() && !s->allVideos().isEmpty() && captureStateReached(s, when);
        if (!(loaded && clock.elapsed() > settleMs) && clock.elapsed() < limitMs) return;
        timer->stop();
        if (!loaded && !when.isEmpty()) {
            // A picture of some other state would pass for the one asked for.
            std::fprintf(stderr, "the window did not reach the state \"%s\"\n", qPrintable(when));
            QCoreApplication::exit(1);
            return;
        }
        // A state that passes quickly is grabbed at once.
        QTimer::singleShot(when.isEmpty() ? settleMs : 150, &app, [&app, path, sheet] {
            // The trim editor is grabbed on its own: it is a window of its own.
            QWidget *modal = sheet ? QApplication::activeModalWidget() : nullptr;
            if (modal) modal->grab().save(path);
            else grabFront(app).save(path);
            QCoreApplication::exit(0);
        });
    });
    timer->start();
}

// --help and --version answer on the terminal and end, before any window, display or scan
// is needed.
static bool answeredInformationOption(int argc, char **argv)
{
    bool asked = false;
    for (int i = 1; i < argc && !asked; ++i) {
        const QByteArray arg(argv[i]);
        asked = arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version";
    }
    if (!asked) return false;
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName("lumenkite");
    QCoreApplication::setApplicationVersion("1.0");
    QCommandLineParser parser;
    parser.setApplicationDescription("Lumenkite: every video of the chosen folders in one library, played, "
                                     "searched, trimmed and compressed on this computer.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet("version")) parser.showVersion(); // both end the program
    parser.showHelp(0);
}

int main(int argc, char **argv)
{
    if (answeredInformationOption(argc, argv)) return 0;
    startFontConfigurationLoad();
    tuneMemoryForLargeLibraries();
    // A global menu bar is looked up on the session bus; with no bus there is none to find,
    // and the look-up would first start a bus of its own while the window waits.
    if (!DesktopServices::hasSessionBus()) QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    QApplication qapp(argc, argv);
    QApplication::setOrganizationName("Lumenkite");
    QApplication::setApplicationName("Lumenkite");
    QApplication::setApplicationVersion("1.0");
    // Ties the window to the launcher entry, so the desktop shows that entry's icon and name.
    QGuiApplication::setDesktopFileName(QStringLiteral(LK_APP_ID));
    // libmpv and number formatting for child processes need the C numeric locale.
    std::setlocale(LC_NUMERIC, "C");

    QCommandLineParser parser;
    QCommandLineOption capture("capture-window", "", "png");
    capture.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption appearance("appearance", "", "system|light|dark");
    appearance.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption selectVideo("select-video", "", "path");
    selectVideo.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption theater("theater");
    theater.setFlags(QCommandLineOption::HiddenFromHelp);
    // With --select-video: start playing it, as the space key does.
    QCommandLineOption playVideo("play");
    playVideo.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption editVideo("edit-video", "", "path");
    editVideo.setFlags(QCommandLineOption::HiddenFromHelp);
    // With --edit-video: cut the clip at these times and drop every second piece
    // ("5,9,14"), so the picture shows a merge.
    QCommandLineOption editCuts("edit-cuts", "", "seconds");
    editCuts.setFlags(QCommandLineOption::HiddenFromHelp);
    // May be given more than once; each is done in order. "click:NAME" presses the window's
    // button of that object name as a user would, "aisearch:TEXT" turns the visual search on
    // with TEXT as the query.
    QCommandLineOption showSurface("show", "",
                                   "palette|settings|welcome|move|duplicates|insights|compress|click:NAME|aisearch:TEXT");
    showSurface.setFlags(QCommandLineOption::HiddenFromHelp);
    // With --capture-window: downloading|installed|indexing|indexed|searched.
    QCommandLineOption captureWhen("capture-when", "", "state");
    captureWhen.setFlags(QCommandLineOption::HiddenFromHelp);
    // For pictures at other window sizes than the default ("960x620").
    QCommandLineOption windowSize("window-size", "", "WxH");
    windowSize.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({capture, appearance, selectVideo, theater, playVideo, editVideo, editCuts, showSurface,
                       captureWhen, windowSize});
    parser.parse(QCoreApplication::arguments());

    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    parts.inspector = makeInspectorPane;
    parts.commandPalette = makeCommandPalette;
    parts.onboarding = makeOnboardingView;
    parts.editorSheet = &VideoEditorSheet::create;
    parts.duplicatesSheet = makeDuplicatesSheet;
    parts.moveSheet = [](AppState *state, QWidget *parent) -> QDialog * { return new MoveSheetView(state, parent); };
    parts.storageInsightsSheet = [](AppState *state, QWidget *parent) -> QDialog * {
        return new StorageInsightsSheetView(state, parent);
    };
    parts.batchCompressSheet = &BatchCompressSheetView::create;
    LumenkiteApp app(parts, makeSettingsView);
    // What an export, a compression, a file operation or a model download ended by a crash
    // left behind; a Trash move can be slow.
    QThreadPool::globalInstance()->start([started = QDateTime::currentDateTime().addSecs(-1)] {
        FileOperationJournal::tidyInterrupted();
        const PartialOutputs::Cleanup tidy = PartialOutputs::cleanUp();
        for (const QString &problem : tidy.problems) qWarning("%s", qUtf8Printable(problem));
        MobileCLIPModelManager::sweepStagingFolders(started);
    });
    if (parser.isSet(appearance))
        if (const auto a = AppAppearanceInfo::fromRawValue(parser.value(appearance))) app.state()->setAppearance(*a);
    app.show();
    // Looking for libmpv loads it and the hundred libraries it links.
    LumenkiteApp::afterFirstPaint(app.mainWindow(), [&app] { MissingTools::announce(app.state()); });
    if (parser.isSet(windowSize) && app.mainWindow()) {
        const QStringList wh = parser.value(windowSize).split('x');
        if (wh.size() == 2) app.mainWindow()->resize(wh[0].toInt(), wh[1].toInt());
    }
    // For pictures of the inspector: the video to select once the library has loaded.
    if (parser.isSet(selectVideo)) {
        const QString id = standardizedPath(parser.value(selectVideo));
        const bool wide = parser.isSet(theater);
        const bool play = parser.isSet(playVideo);
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [&app, poll, id, wide, play] {
            if (const auto v = app.state()->videoWithID(id)) {
                poll->stop();
                app.state()->selectVideo(*v);
                if (wide) app.state()->setIsTheaterMode(true);
                if (play)
                    QTimer::singleShot(300, &app, [&app] {
                        app.state()->setShowInspector(true);
                        app.state()->setPlaybackToggleSignal(app.state()->playbackToggleSignal() + 1);
                    });
            }
        });
        poll->start(50);
    }
    // For pictures: a palette, sheet or window opened once the library has loaded.
    if (parser.isSet(showSurface)) {
        const QStringList surfaces = parser.values(showSurface);
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [&app, poll, surfaces] {
            AppState *s = app.state();
            if (s->isScanning() || s->allVideos().isEmpty()) return;
            // The sidebar rebuilds its cards a moment after the library comes in: a button
            // pressed before then is still the disabled one of the empty library.
            for (const QString &which : surfaces) {
                if (!which.startsWith("click:")) continue;
                auto *button = app.mainWindow()->findChild<QAbstractButton *>(which.section(':', 1));
                if (!button || !button->isEnabled()) return;
            }
            poll->stop();
            for (const QString &which : surfaces) {
                if (which.startsWith("palette")) {
                    s->setShowCommandPalette(true);
                    // "palette:TEXT" types TEXT into its field.
                    if (auto *field = app.mainWindow()->findChild<QLineEdit *>("paletteSearchField"))
                        field->setText(which.section(':', 1));
                }
                else if (which == "settings") app.showSettings();
                else if (which == "welcome") s->setShowOnboarding(true);
                else if (which == "move") {
                    s->setVideosPendingMove(s->selectedVideos());
                    s->setShowMoveSheet(true);
                } else if (which == "duplicates") s->setShowDuplicatesSheet(true);
                else if (which == "insights") s->setShowStorageInsightsSheet(true);
                else if (which == "compress") {
                    s->setVideosPendingCompression(s->selectedVideos());
                    s->setShowBatchCompressSheet(true);
                } else if (which.startsWith("click:")) {
                    if (auto *button = app.mainWindow()->findChild<QAbstractButton *>(which.section(':', 1)))
                        button->click();
                } else if (which.startsWith("aisearch:")) {
                    s->setIsAISearchMode(true);
                    s->setSearchQuery(which.section(':', 1));
                }
            }
        });
        poll->start(50);
    }
    // For pictures of the trim editor: the video to open it on once the library has loaded.
    if (parser.isSet(editVideo)) {
        const QString id = standardizedPath(parser.value(editVideo));
        QList<double> cuts;
        for (const QString &c : parser.value(editCuts).split(',', Qt::SkipEmptyParts)) cuts << c.toDouble();
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [&app, poll, id, cuts] {
            if (!app.state()->videoPendingEdit()) {
                if (const auto v = app.state()->videoWithID(id)) {
                    app.state()->selectVideo(*v);
                    app.state()->setVideoPendingEdit(*v);
                }
                return;
            }
            auto *sheet = app.mainWindow() ? app.mainWindow()->findChild<VideoEditorSheet *>() : nullptr;
            if (!sheet || sheet->totalDuration() <= 0) return;
            poll->stop();
            for (double t : cuts) {
                sheet->seek(t);
                sheet->splitAtPlayhead();
            }
            const QList<VideoClipSegment> pieces = sheet->sortedSegments();
            for (int i = 1; i < pieces.size(); i += 2) sheet->removeSegment(pieces[i].id);
            if (!sheet->sortedSegments().isEmpty()) sheet->selectSegment(sheet->sortedSegments().first());
            sheet->seek(cuts.isEmpty() ? 0 : cuts.first() / 2);
        });
        poll->start(50);
    }
    // A selected video's picture comes from its player, which needs a moment to open the file.
    if (parser.isSet(capture))
        scheduleCapture(app, QDir::current().absoluteFilePath(parser.value(capture)),
                        parser.isSet(editVideo) || parser.isSet(selectVideo) ? 2500 : 800, parser.isSet(editVideo),
                        parser.value(captureWhen));
    const int rc = qapp.exec();
    keepGlDriversLoadedForLeakCheck();
    return rc;
}
