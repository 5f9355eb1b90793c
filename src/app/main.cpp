#include "library/AppState.h"
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

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <clocale>

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

static void scheduleCapture(LumenkiteApp &app, const QString &path, int settleMs, bool sheet = false)
{
    QElapsedTimer clock;
    clock.start();
    auto *timer = new QTimer(&app);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, &app, [&app, path, settleMs, clock, timer, sheet] {
        AppState *s = app.state();
        const bool loaded = !s->isScanning() && !s->allVideos().isEmpty();
        if (!(loaded && clock.elapsed() > settleMs) && clock.elapsed() < 30000) return;
        timer->stop();
        QTimer::singleShot(settleMs, &app, [&app, path, sheet] {
            // The trim editor is grabbed on its own: it is a window of its own.
            QWidget *modal = sheet ? QApplication::activeModalWidget() : nullptr;
            if (modal) modal->grab().save(path);
            else grabFront(app).save(path);
            QCoreApplication::exit(0);
        });
    });
    timer->start();
}

int main(int argc, char **argv)
{
    tuneMemoryForLargeLibraries();
    QApplication qapp(argc, argv);
    QApplication::setOrganizationName("Lumenkite");
    QApplication::setApplicationName("Lumenkite");
    QApplication::setApplicationVersion("1.0");
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
    QCommandLineOption showSurface("show", "", "palette|settings|welcome|move|duplicates|insights|compress");
    showSurface.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({capture, appearance, selectVideo, theater, playVideo, editVideo, editCuts, showSurface});
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
    if (parser.isSet(appearance))
        if (const auto a = AppAppearanceInfo::fromRawValue(parser.value(appearance))) app.state()->setAppearance(*a);
    app.show();
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
        const QString which = parser.value(showSurface);
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [&app, poll, which] {
            AppState *s = app.state();
            if (s->isScanning() || s->allVideos().isEmpty()) return;
            poll->stop();
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
                        parser.isSet(editVideo) || parser.isSet(selectVideo) ? 2500 : 800, parser.isSet(editVideo));
    return qapp.exec();
}
