#include "library/AppState.h"
#include "platform/MemoryTuning.h"
#include "ui/inspector/InspectorPane.h"
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
static void scheduleCapture(LumenkiteApp &app, const QString &path, int settleMs)
{
    auto *clock = new QElapsedTimer;
    clock->start();
    auto *timer = new QTimer(&app);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, &app, [&app, path, settleMs, clock, timer] {
        AppState *s = app.state();
        const bool loaded = !s->isScanning() && !s->allVideos().isEmpty();
        if (!(loaded && clock->elapsed() > settleMs) && clock->elapsed() < 30000) return;
        timer->stop();
        QTimer::singleShot(settleMs, &app, [&app, path] {
            if (app.mainWindow()) app.mainWindow()->grab().save(path);
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
    parser.addOptions({capture, appearance, selectVideo, theater});
    parser.parse(QCoreApplication::arguments());

    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    parts.inspector = makeInspectorPane;
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
    // A selected video's picture comes from its player, which needs a moment to open the file.
    if (parser.isSet(capture))
        scheduleCapture(app, QDir::current().absoluteFilePath(parser.value(capture)), parser.isSet(selectVideo) ? 2500 : 800);
    return qapp.exec();
}
