#include "library/AppState.h"
#include "platform/MemoryTuning.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/sheets/editor/VideoEditorSheet.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <clocale>

// Grabs the main window to a PNG once the library has loaded, then quits. Used to make
// the pictures the window is reviewed by.
static void scheduleCapture(LumenkiteApp &app, const QString &path, int settleMs, bool sheet = false)
{
    auto *clock = new QElapsedTimer;
    clock->start();
    auto *timer = new QTimer(&app);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, &app, [&app, path, settleMs, clock, timer, sheet] {
        AppState *s = app.state();
        const bool loaded = !s->isScanning() && !s->allVideos().isEmpty();
        if (!(loaded && clock->elapsed() > settleMs) && clock->elapsed() < 30000) return;
        timer->stop();
        QTimer::singleShot(settleMs, &app, [&app, path, sheet] {
            // A sheet is grabbed on its own: it is a window of its own.
            QWidget *modal = sheet ? QApplication::activeModalWidget() : nullptr;
            if (modal) modal->grab().save(path);
            else if (app.mainWindow()) app.mainWindow()->grab().save(path);
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
    QCommandLineOption editVideo("edit-video", "", "path");
    editVideo.setFlags(QCommandLineOption::HiddenFromHelp);
    // With --edit-video: cut the clip at these times and drop every second piece
    // ("5,9,14"), so the picture shows a merge.
    QCommandLineOption editCuts("edit-cuts", "", "seconds");
    editCuts.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({capture, appearance, selectVideo, theater, editVideo, editCuts});
    parser.parse(QCoreApplication::arguments());

    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    parts.inspector = makeInspectorPane;
    parts.editorSheet = &VideoEditorSheet::create;
    LumenkiteApp app(parts);
    if (parser.isSet(appearance))
        if (const auto a = AppAppearanceInfo::fromRawValue(parser.value(appearance))) app.state()->setAppearance(*a);
    app.show();
    // For pictures of the inspector: the video to select once the library has loaded.
    if (parser.isSet(selectVideo)) {
        const QString id = standardizedPath(parser.value(selectVideo));
        const bool wide = parser.isSet(theater);
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [&app, poll, id, wide] {
            if (const auto v = app.state()->videoWithID(id)) {
                poll->stop();
                app.state()->selectVideo(*v);
                if (wide) app.state()->setIsTheaterMode(true);
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
    if (parser.isSet(capture))
        scheduleCapture(app, QDir::current().absoluteFilePath(parser.value(capture)), parser.isSet(editVideo) ? 2500 : 800,
                        parser.isSet(editVideo));
    return qapp.exec();
}
