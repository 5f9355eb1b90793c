// The whole program on a large home folder: the real main window (run it under Xvfb) starts
// on a generated home of 200,000 one-byte videos in 2,000 folders and scans it. Prints
//   app scan/bare scan ratio: R          (goal R <= 1.5) start to scan complete, against the
//                                        bare scanner walking the same tree in the same run
//   longest GUI stall during scan: N ms  (goal N <= 100) from a timer that should fire every 10 ms
//   longest GUI stall at start-up: N ms  the same before the scan ran (building and showing the window)
//   scanning row visible until scan end: yes|no
// Each library size is one `Scenario`; more sizes and figures are added to the table in main().
#include "library/AppState.h"
#include "platform/MemoryTuning.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Scenario {
    const char *name;
    int folders;
    int filesPerFolder;
};

// Videos of eight kinds, one byte each, in two levels of folders below ~/Videos.
int buildHome(const QString &home, const Scenario &scenario)
{
    static const char *const extensions[] = {"mp4", "mov", "mkv", "avi", "webm", "m4v", "wmv", "flv"};
    int made = 0;
    const int groups = std::max(1, scenario.folders / 50);
    for (int f = 0; f < scenario.folders; ++f) {
        const QString folder = home + QString("/Videos/group%1/folder%2").arg(f % groups).arg(f);
        if (!QDir().mkpath(folder))
            return -1;
        const QByteArray base = QFile::encodeName(folder) + '/';
        for (int i = 0; i < scenario.filesPerFolder; ++i) {
            const QByteArray path = base + "clip" + QByteArray::number(i) + '.' + extensions[(f + i) % 8];
            const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::write(fd, "x", 1) != 1)
                return -1;
            ::close(fd);
            ++made;
        }
    }
    return made;
}

// The scanner alone, its events delivered to this thread's loop as the app receives them.
double bareScanSeconds(int &found)
{
    found = 0;
    QEventLoop loop;
    QObject context;
    QElapsedTimer clock;
    clock.start();
    VideoScanner scanner;
    ScanJob job = scanner.scan(ScanScope::homeDirectory(), true, &context, [&](const ScanEvent &e) {
        if (e.kind == ScanEvent::Kind::batch)
            found += int(e.videos.size());
        if (e.kind == ScanEvent::Kind::completed)
            loop.quit();
    });
    loop.exec();
    return double(clock.nsecsElapsed()) / 1e9;
}

struct AppRun {
    double seconds = 0;
    qint64 longestStallMs = 0;
    qint64 startupStallMs = 0; // before the scan ran: building and showing the window
    bool scanningRowAlways = true;
    qsizetype videos = 0;
    bool selected = false;
};

// The real window from start-up until the scan has completed and its last tree is shown.
AppRun appScan()
{
    AppRun run;
    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    parts.inspector = makeInspectorPane;
    auto *app = new LumenkiteApp(parts);
    AppState *state = app->state();

    QEventLoop loop;
    QElapsedTimer clock, sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    bool started = false;
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        const qint64 gap = sinceTick.restart();
        // A gap counts for the scan when the scan was already running at its start.
        qint64 &longest = started ? run.longestStallMs : run.startupStallMs;
        longest = std::max(longest, gap);
        if (gap > 200 && qEnvironmentVariableIsSet("LUMENKITE_BENCH_VERBOSE"))
            std::fprintf(stderr, "stall %lld ms ending at %.2f s (%lld videos, %s)\n", (long long)gap,
                         clock.elapsed() / 1000.0, (long long)state->allVideos().size(),
                         state->isScanning() ? "scanning" : "not scanning");
        if (state->isScanning()) {
            started = true;
            QWidget *row = app->mainWindow()->findChild<QWidget *>("scanningStatus");
            if (!row || !row->isVisible())
                run.scanningRowAlways = false;
            return;
        }
        if (clock.elapsed() > 600'000)
            loop.quit();
    });
    // Complete: the scan ended and the tree of its whole library is shown.
    QObject::connect(state, &AppState::treeRebuilt, &loop, [&] {
        if (started && !state->isScanning() && state->lastScanDate()) {
            run.seconds = double(clock.nsecsElapsed()) / 1e9;
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
        }
    });
    clock.start();
    sinceTick.start();
    ticker.start();
    app->show();
    loop.exec();
    run.videos = state->allVideos().size();
    run.selected = state->primarySelectedVideoID().has_value();
    state->waitForCacheWrites();
    delete app;
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir sandbox(QDir::tempPath() + "/lumenkite-bench-app-XXXXXX");
    const QString home = sandbox.path() + "/home";
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    for (const char *var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(var, QFile::encodeName(sandbox.path() + "/xdg/" + var));
    tuneMemoryForLargeLibraries(); // as the program itself does
    QApplication qapp(argc, argv);
    QApplication::setOrganizationName("Lumenkite");
    QApplication::setApplicationName("Lumenkite");
    std::setlocale(LC_NUMERIC, "C");
    QSettings("Lumenkite", "Lumenkite").setValue("Lumenkite.hasCompletedOnboarding", true);

    const Scenario scenarios[] = {{"200,000 videos", 2000, 100}};
    for (const Scenario &scenario : scenarios) {
        std::printf("== %s: building %d folders...\n", scenario.name, scenario.folders);
        std::fflush(stdout);
        const QString videos = home + "/Videos";
        QDir(videos).removeRecursively();
        QFile::remove(QDir(home).filePath(".local/share/Lumenkite/scope_cache_v1.json"));
        QDir(sandbox.path() + "/xdg/XDG_DATA_HOME/Lumenkite").removeRecursively();
        const int made = buildHome(home, scenario);
        if (made < 0) {
            std::fprintf(stderr, "could not build the home folder\n");
            return 1;
        }
        int found = 0;
        bareScanSeconds(found); // warm the cache
        const double bare = bareScanSeconds(found);
        const AppRun run = appScan();
        std::printf("bare scan: %.2f s (%d videos); app: %.2f s (%lld videos, %s)\n", bare, found, run.seconds,
                    (long long)run.videos, run.selected ? "a video selected" : "nothing selected");
        std::printf("app scan/bare scan ratio: %.2f\n", run.seconds / bare);
        std::printf("longest GUI stall during scan: %lld ms\n", (long long)run.longestStallMs);
        std::printf("longest GUI stall at start-up: %lld ms\n", (long long)run.startupStallMs);
        std::printf("scanning row visible until scan end: %s\n", run.scanningRowAlways ? "yes" : "no");
        std::fflush(stdout);
    }
    return 0;
}
