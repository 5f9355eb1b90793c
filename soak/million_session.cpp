// A long session on a library of a million videos in the real main window (run it under Xvfb).
// Builds a home of one-byte files named like videos (1,000 folders of 1,000 by default) on the
// real disk, starts the window on it, waits for the scan, then drives the window as a user
// would for a while: types and clears searches, switches smart views and format filters,
// sorts, opens and closes folders, selects videos, scrolls, and rescans once half-way.
// Resident memory is sampled every two seconds; the figures are the memory at rest in one
// view after the first minute of use and at the end (the goal is that it stays flat), the
// same in use, the longest GUI stall and how long the scan took.
//   soak_million_session [--minutes N] [--folders N] [--files N]
#include "library/AppState.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/tree/TreeListView.h"
#include "ui/window/LumenkiteApp.h"

#include "SoakReport.h"
#include "SoakWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <string>
#include <random>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct Options {
    double minutes = 10;
    int folders = 1000;
    int filesPerFolder = 1000;
};

// Bytes the heap holds in live blocks (a walk of every arena, so only now and then).
double heapInUseMB()
{
    const struct mallinfo2 heap = mallinfo2();
    return double(heap.uordblks + heap.hblkhd) / 1048576.0;
}

double residentMB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return double(fields[1].toLongLong()) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Resident memory by kind of mapping: the main heap, thread heaps (64 MB reservations),
// other anonymous memory and files.
std::string residentBreakdown()
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return {};
    double heap = 0, threadHeaps = 0, anon = 0, files = 0;
    double *current = nullptr;
    // A mapping's first line is "start-end perms offset device inode [path]"; its fields
    // follow as "Name: value kB".
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 5 && !f[0].endsWith(':') && f[0].contains('-')) {
            const QList<QByteArray> range = f[0].split('-');
            const qulonglong lo = range[0].toULongLong(nullptr, 16), hi = range.value(1).toULongLong(nullptr, 16);
            const QByteArray path = f.size() >= 6 ? f[5] : QByteArray();
            if (path == "[heap]")
                current = &heap;
            else if (path.isEmpty() && lo % (64ull << 20) == 0 && hi - lo <= (64ull << 20))
                current = &threadHeaps;
            else if (path.isEmpty() || path.startsWith('['))
                current = &anon;
            else
                current = &files;
        } else if (f.size() >= 2 && f[0] == "Rss:" && current) {
            *current += f[1].toDouble() / 1024.0;
        }
    }
    char out[200];
    std::snprintf(out, sizeof out, "main heap %.0f MB, thread heaps %.0f MB, other anonymous %.0f MB, files %.0f MB",
                  heap, threadHeaps, anon, files);
    return out;
}

// Folders of files in two levels below ~/Videos; plain system calls, as the Qt layer would
// take minutes for a million files.
long buildTree(const QString &videos, const Options &o)
{
    static const char *const extensions[] = {"mp4", "mov", "mkv", "avi", "webm", "m4v", "wmv", "flv"};
    const int groups = std::max(1, o.folders / 40);
    long made = 0;
    char name[64];
    for (int f = 0; f < o.folders; ++f) {
        const QString folder = videos + QString("/group%1/folder%2").arg(f % groups).arg(f);
        if (!QDir().mkpath(folder))
            return -1;
        const int dfd = ::open(QFile::encodeName(folder).constData(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
        if (dfd < 0)
            return -1;
        for (int i = 0; i < o.filesPerFolder; ++i) {
            std::snprintf(name, sizeof name, "clip%d-%d.%s", f, i, extensions[(f + i) % 8]);
            const int fd = ::openat(dfd, name, O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::write(fd, "x", 1) != 1) {
                ::close(dfd);
                return -1;
            }
            ::close(fd);
            ++made;
        }
        ::close(dfd);
    }
    return made;
}

double availableMemoryBytes()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : meminfo.readAll().split('\n'))
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').first().toDouble() * 1024.0;
    return 0;
}

// The same files removed by name: far quicker than a recursive removal that stats each one.
void removeTree(const QString &videos, const Options &o)
{
    static const char *const extensions[] = {"mp4", "mov", "mkv", "avi", "webm", "m4v", "wmv", "flv"};
    const int groups = std::max(1, o.folders / 40);
    char name[64];
    for (int f = 0; f < o.folders; ++f) {
        const QByteArray folder = QFile::encodeName(videos + QString("/group%1/folder%2").arg(f % groups).arg(f));
        const int dfd = ::open(folder.constData(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
        if (dfd < 0)
            continue;
        for (int i = 0; i < o.filesPerFolder; ++i) {
            std::snprintf(name, sizeof name, "clip%d-%d.%s", f, i, extensions[(f + i) % 8]);
            ::unlinkat(dfd, name, 0);
        }
        ::close(dfd);
        ::rmdir(folder.constData());
    }
}

void click(QWidget *w, const QPoint &at)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

void key(QWidget *w, int code, const QString &text = {})
{
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

template <typename T>
T *named(QWidget *root, const QString &name)
{
    return root->findChild<T *>(name);
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray a = argv[i];
        if (a == "--minutes")
            o.minutes = std::max(0.1, std::atof(argv[i + 1]));
        else if (a == "--folders")
            o.folders = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--files")
            o.filesPerFolder = std::max(1, std::atoi(argv[i + 1]));
    }
    SoakReport report;
    report.check = "million_session";

    // A memory-backed folder where it has room: a million files made and removed there take
    // seconds, while on a disk that discards freed blocks the removal alone can take many minutes.
    const long wanted = long(o.folders) * o.filesPerFolder;
    // Each one-byte file takes an inode and a block; keep a margin of 2 GB and 10%.
    const double needBytes = double(wanted) * 4096.0 * 1.1 + 2e9;
    std::unique_ptr<QTemporaryDir> sandbox;
    double freeBytes = 0;
    for (const QString &base : {QStringLiteral("/dev/shm"), QDir::tempPath()}) {
        struct statvfs fs{};
        if (::statvfs(QFile::encodeName(base).constData(), &fs) != 0)
            continue;
        freeBytes = double(fs.f_bavail) * double(fs.f_frsize);
        const bool inodes = fs.f_files == 0 || double(fs.f_favail) >= wanted * 1.1;
        // A memory-backed folder's room is only as large as the memory still free.
        if (base == QLatin1String("/dev/shm"))
            freeBytes = std::min(freeBytes, availableMemoryBytes() - 4e9);
        if (freeBytes < needBytes || !inodes)
            continue;
        auto dir = std::make_unique<QTemporaryDir>(base + "/lumenkite-soak-million-XXXXXX");
        if (dir->isValid()) {
            sandbox = std::move(dir);
            break;
        }
    }
    if (!sandbox) {
        report.figures = QString("not run: %1 GB free, %2 GB needed").arg(freeBytes / 1e9, 0, 'f', 1)
                             .arg(needBytes / 1e9, 0, 'f', 1).toStdString();
        report.print();
        return 0;
    }
    std::printf("files in %s\n", qPrintable(sandbox->path()));

    const QString home = soak::sandboxHome(sandbox->path());
    QApplication qapp(argc, argv);
    soak::actAsTheProgram();

    QElapsedTimer buildClock;
    buildClock.start();
    std::printf("building %ld files in %d folders...\n", wanted, o.folders);
    std::fflush(stdout);
    const long made = buildTree(home + "/Videos", o);
    if (made != wanted) {
        report.figures = "could not build the tree";
        report.print();
        return 1;
    }
    std::printf("built in %.1f s\n", buildClock.elapsed() / 1000.0);
    std::fflush(stdout);

    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    parts.inspector = makeInspectorPane;
    auto *app = new LumenkiteApp(parts);
    AppState *state = app->state();

    // The GUI thread's stalls: a timer that should fire every 10 ms. A stall in use is put down
    // to the kind of action that ran last.
    const char *lastAction = "scan";
    std::map<std::string, qint64> worstByAction;
    QElapsedTimer sinceTick;
    qint64 longestStallScan = 0, longestStallUse = 0;
    bool inUse = false;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        (inUse ? longestStallUse : longestStallScan) = std::max(inUse ? longestStallUse : longestStallScan, gap);
        if (inUse)
            worstByAction[lastAction] = std::max(worstByAction[lastAction], gap);
        if (gap > 500 && qEnvironmentVariableIsSet("LUMENKITE_SOAK_VERBOSE"))
            std::fprintf(stderr, "stall %lld ms%s\n", (long long)gap, inUse ? " in use" : " in scan");
    });

    // Start to the end of the first scan, with a generous limit.
    QElapsedTimer scanClock;
    const bool scanDone = soak::showAndWaitForFirstScan(app, 100, 30 * 60'000, [&] {
        scanClock.start();
        sinceTick.start();
        ticker.start();
    });
    const double scanSeconds = scanClock.elapsed() / 1000.0;
    const qsizetype listed = state->allVideos().size();
    std::printf("scan: %.1f s, %lld videos listed%s\n", scanSeconds, (long long)listed,
                scanDone ? "" : " (did not finish within 30 minutes)");
    std::fflush(stdout);

    // Scripted use.
    QWidget *window = app->mainWindow(); // made when the app is shown
    auto *pane = window->findChild<LumenkitePane *>();
    auto *list = window->findChild<TreeListView *>("treeList");
    auto *field = window->findChild<QLineEdit *>("searchField");
    std::mt19937 random(23);
    auto pick = [&](int n) { return int(std::uniform_int_distribution<int>(0, std::max(0, n - 1))(random)); };
    const QStringList queries{"clip12", "folder7", "mkv", "clip999-5", "group3", "zzz-none", "clip4-4"};
    const QStringList views{"view:recent", "view:largeFiles", "view:nativeFormats", "view:otherFormats", "view:all"};
    const QStringList formats{"format:MP4", "format:MKV", "format:WEBM", "format:FLV"};
    const QStringList sorts{"sizeDesc", "dateDesc", "extensionAsc", "nameAsc"};
    long actions = 0, rescans = 0;
    bool rescanned = false;

    // Each step is one user action; typing spreads over several steps, one key per step.
    std::vector<std::function<void()>> pending;
    std::vector<const char *> pendingKinds; // the kind of each pending step
    auto typeQuery = [&] {
        const QString q = queries[pick(int(queries.size()))];
        for (const QChar ch : q)
            pending.push_back([&, ch] { if (field) key(field, ch.unicode(), QString(ch)); });
        pending.push_back([] {}); // a pause to look at the results
        if (pick(2) == 0) {
            pending.push_back([&] {
                if (auto *clear = named<QAbstractButton>(window, "searchClearButton"); clear && clear->isVisible())
                    clear->click();
                else if (field)
                    for (int i = int(field->text().size()); i > 0; --i)
                        key(field, Qt::Key_Backspace);
            });
        } else {
            for (qsizetype i = 0; i < q.size(); ++i)
                pending.push_back([&] { if (field) key(field, Qt::Key_Backspace); });
        }
    };
    auto clickButton = [&](const QString &name) {
        if (auto *b = named<QAbstractButton>(window, name); b && b->isEnabled())
            b->click();
    };
    auto clickRow = [&](bool video) {
        if (!list)
            return;
        const auto [first, last] = list->visibleRange();
        std::vector<qsizetype> candidates;
        for (qsizetype i = first; i <= last && i < list->rows().size(); ++i)
            if (!list->rows()[i].isFolder() == video)
                candidates.push_back(i);
        if (candidates.empty())
            return;
        const QRect r = list->rowRect(candidates[size_t(pick(int(candidates.size())))]);
        click(list->viewport(), QPoint(r.left() + r.width() / 2, r.center().y()));
    };
    auto scroll = [&] {
        if (!list)
            return;
        QScrollBar *bar = list->verticalScrollBar();
        bar->setValue(pick(4) == 0 ? pick(bar->maximum() + 1) : bar->value() + (pick(2) ? 1 : -1) * bar->pageStep());
    };
    auto nextAction = [&] {
        static const char *const kinds[] = {"search", "smart view", "format filter", "sort", "expand/collapse all",
                                            "folder click", "video click", "scroll", "scroll"};
        const int kind = pick(9);
        if (qEnvironmentVariableIsSet("LUMENKITE_SOAK_VERBOSE"))
            std::fprintf(stderr, "kind %d\n", kind);
        const size_t before = pending.size();
        struct Tag {
            std::vector<std::function<void()>> &pending;
            std::vector<const char *> &kinds;
            size_t before;
            const char *kind;
            ~Tag() { kinds.insert(kinds.end(), pending.size() - before, kind); }
        } tag{pending, pendingKinds, before, kinds[kind]};
        switch (kind) {
        case 0: typeQuery(); break;
        case 1: pending.push_back([&] { clickButton(views[pick(int(views.size()))]); }); break;
        case 2:
            pending.push_back([&] { clickButton(formats[pick(int(formats.size()))]); });
            pending.push_back([&] { clickButton("view:all"); });
            break;
        case 3:
            pending.push_back([&] {
                if (pane)
                    if (auto *a = pane->findChild<QAction *>(sorts[pick(int(sorts.size()))]))
                        a->trigger();
            });
            break;
        case 4: pending.push_back([&] { clickButton(pick(3) == 0 ? "expandAllButton" : "collapseAllButton"); }); break;
        case 5: pending.push_back([&] { clickRow(false); }); break;
        case 6: pending.push_back([&] { clickRow(true); }); break;
        default: pending.push_back(scroll); break;
        }
    };

    // Sampled on a thread of its own, so a stalled GUI thread does not thin out the samples.
    struct Sample { double minute; double mb; double heapMB; };
    // Walking the heap takes its locks: only on request, and then the stall figures suffer.
    const bool verbose = qEnvironmentVariableIsSet("LUMENKITE_SOAK_HEAP");
    // Reading the heap's figures walks all of it, which takes the GUI thread a while on a
    // large heap: that time is the check's own, not a stall of the program.
    const auto heapNow = [&] {
        const double mb = heapInUseMB();
        sinceTick.restart();
        return mb;
    };
    std::vector<Sample> samples;
    std::mutex samplesLock;
    QElapsedTimer useClock;
    const double useMs = o.minutes * 60'000.0;
    double rssAfterMinute = -1, rssBeforeRescan = -1, rssAfterRescan = -1, heapBeforeRescan = -1,
           heapAfterRescan = -1;
    // Resident memory swings by a few hundred MB with the work under way and the view shown
    // (a million-row rebuild's blocks, a search's result), so the trend is read at rest in
    // one view: once after the first minute and once at the end, each in the whole library,
    // unsearched, by name and folded, after a pause long enough for the program to give free
    // heap back.
    const auto showTheRestingView = [&] {
        if (auto *clear = named<QAbstractButton>(window, "searchClearButton"); clear && clear->isVisible())
            clear->click();
        else if (field)
            for (int i = int(field->text().size()); i > 0; --i)
                key(field, Qt::Key_Backspace);
        clickButton("view:all");
        if (pane)
            if (auto *a = pane->findChild<QAction *>("nameAsc"))
                a->trigger();
        clickButton("collapseAllButton");
    };
    constexpr qint64 kSettleMs = LumenkiteApp::kReleaseMemoryWhenIdleMs + 3000;
    double rssSettledMinute = -1, rssSettledEnd = -1, heapSettledMinute = -1, heapSettledEnd = -1;
    qint64 settleUntil = -1, pausedMs = 0;
    std::atomic<bool> sampling{true};
    {
        QEventLoop loop;
        QTimer step;
        step.setInterval(150);
        QObject::connect(&step, &QTimer::timeout, &loop, [&] {
            if (useClock.elapsed() >= useMs + pausedMs) {
                loop.quit();
                return;
            }
            if (settleUntil >= 0) {
                if (useClock.elapsed() < settleUntil)
                    return;
                settleUntil = -1;
                rssSettledMinute = residentMB();
                std::printf("at rest after 1 min: %s\n", residentBreakdown().c_str());
                heapSettledMinute = heapNow();
            } else if (rssSettledMinute < 0 && !state->isScanning() && pending.empty() &&
                       useClock.elapsed() >= std::min(60'000.0, useMs / 2)) {
                showTheRestingView();
                settleUntil = useClock.elapsed() + kSettleMs;
                pausedMs = kSettleMs;
                return;
            }
            if (rescanned && rssAfterRescan < 0 && !state->isScanning()) {
                rssAfterRescan = residentMB();
                heapAfterRescan = heapNow();
            }
            if (!rescanned && useClock.elapsed() >= useMs / 2 && !state->isScanning()) {
                rescanned = true;
                rssBeforeRescan = residentMB();
                heapBeforeRescan = heapNow();
                lastAction = "rescan";
                clickButton("rescanButton");
                ++rescans;
                ++actions;
                return;
            }
            if (pending.empty())
                nextAction();
            if (qEnvironmentVariableIsSet("LUMENKITE_SOAK_VERBOSE"))
                std::fprintf(stderr, "%.1f s action %ld\n", useClock.elapsed() / 1000.0, actions);
            if (pendingKinds.empty())
                pendingKinds.push_back("?");
            lastAction = pendingKinds.front();
            pendingKinds.erase(pendingKinds.begin());
            auto action = std::move(pending.front());
            pending.erase(pending.begin());
            action();
            ++actions;
        });
        inUse = true;
        sinceTick.restart();
        useClock.start();
        std::thread sampler([&] {
            while (sampling) {
                const double minute = useClock.elapsed() / 60'000.0;
                {
                    std::lock_guard lock(samplesLock);
                    samples.push_back({minute, residentMB(), verbose ? heapInUseMB() : 0.0});
                    if (rssAfterMinute < 0 && minute >= std::min(1.0, o.minutes / 2))
                        rssAfterMinute = samples.back().mb;
                }
                for (int i = 0; i < 20 && sampling; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        step.start();
        loop.exec();
        sampling = false;
        sampler.join();
    }
    // Let a rescan still under way end before the last figure.
    {
        QEventLoop loop;
        QTimer poll;
        QElapsedTimer wait;
        wait.start();
        poll.setInterval(100);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!state->isScanning() || wait.elapsed() > 10 * 60'000)
                loop.quit();
        });
        poll.start();
        loop.exec();
    }
    const double rssEnd = residentMB();
    // The pause at the end, as after the first minute.
    showTheRestingView();
    {
        QEventLoop loop;
        QTimer::singleShot(kSettleMs, &loop, &QEventLoop::quit);
        loop.exec();
        rssSettledEnd = residentMB();
        std::printf("at rest at the end: %s\n", residentBreakdown().c_str());
        heapSettledEnd = heapNow();
    }
    ticker.stop();
    if (rescanned && rssAfterRescan < 0) {
        rssAfterRescan = residentMB();
        heapAfterRescan = heapNow();
    }
    std::printf("use ended after %.1f s\n", useClock.elapsed() / 1000.0);
    std::fflush(stdout);
    double peak = 0;
    for (const Sample &s : samples)
        peak = std::max(peak, s.mb);
    if (rssAfterMinute < 0)
        rssAfterMinute = rssEnd;
    const double growth = rssEnd - rssAfterMinute;
    // What the heap holds in live blocks against what it keeps free tells a leak from a heap
    // that was not given back.
    const struct mallinfo2 heap = mallinfo2();
    std::printf("heap in live blocks: %.0f MB before the rescan, %.0f MB after, %.0f MB at the end (%.0f MB free in "
                "the heap)\n",
                heapBeforeRescan, heapAfterRescan, double(heap.uordblks + heap.hblkhd) / 1048576.0,
                double(heap.fordblks) / 1048576.0);
    std::printf("memory samples (minute: MB%s):", verbose ? " resident/heap in use" : "");
    for (size_t i = 0; i < samples.size(); i += verbose ? 1 : 15) {
        if (verbose)
            std::printf(" %.1f:%.0f/%.0f", samples[i].minute, samples[i].mb, samples[i].heapMB);
        else
            std::printf(" %.1f:%.0f", samples[i].minute, samples[i].mb);
    }
    std::printf("\n");
    std::fflush(stdout);
    const qsizetype listedEnd = state->allVideos().size();
    QString worst;
    for (const auto &[kind, ms] : worstByAction)
        if (ms >= 200)
            worst += QString("%1%2 %3 ms").arg(worst.isEmpty() ? "" : ", ").arg(kind.c_str()).arg(ms);

    report.inputs = actions;
    char figures[1536];
    std::snprintf(figures, sizeof figures,
                  "%ld files, scan %.0f s, listed %lld (after rescan %lld), %.1f min of use, rss at rest after 1 min "
                  "%.0f MB, at rest at the end %.0f MB, growth %+.0f MB (%+.1f%%), heap in use at rest %.0f MB and "
                  "%.0f MB; in use after 1 min %.0f MB, "
                  "end %.0f MB, growth %+.0f MB (%+.1f%%), peak %.0f MB, longest stall %lld ms in use / %lld ms "
                  "in scan, rescans %ld (rss %.0f MB before, %.0f MB after), worst stall by action: %s",
                  made, scanSeconds, (long long)listed, (long long)listedEnd, o.minutes, rssSettledMinute,
                  rssSettledEnd, rssSettledEnd - rssSettledMinute,
                  rssSettledMinute > 0 ? 100.0 * (rssSettledEnd - rssSettledMinute) / rssSettledMinute : 0.0,
                  heapSettledMinute, heapSettledEnd,
                  rssAfterMinute, rssEnd, growth, rssAfterMinute > 0 ? 100.0 * growth / rssAfterMinute : 0.0, peak,
                  (long long)longestStallUse, (long long)longestStallScan, rescans, rssBeforeRescan, rssAfterRescan,
                  worst.isEmpty() ? "none over 200 ms" : worst.toUtf8().constData());
    report.figures = figures;
    report.print();
    state->waitForCacheWrites();
    delete app;
    removeTree(home + "/Videos", o); // the rest goes with the temporary folder
    // Every file is a video the scanner must list, before and after the rescan.
    return scanDone && listed == made && listedEnd == made ? report.status() : 1;
}
