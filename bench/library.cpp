// Scanning 200,000 videos into AppState against the bare scanner, and loading the
// resulting scope cache against Python's json.load, both measured in this run.
#include "library/AppState.h"
#include "library/ScopeCache.h"
#include "library/VideoScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kTop = 200, kSub = 10, kFiles = 100; // 200,000 videos

void makeTree(const QString &root)
{
    const char *exts[] = {"mp4", "mov", "mkv", "avi", "webm"};
    for (int t = 0; t < kTop; ++t) {
        for (int s = 0; s < kSub; ++s) {
            const QString dir = QString("%1/Show %2/Season %3").arg(root).arg(t).arg(s);
            QDir().mkpath(dir);
            for (int f = 0; f < kFiles; ++f) {
                const QByteArray path = QFile::encodeName(
                    QString("%1/Episode %2.%3").arg(dir).arg(f).arg(exts[(t + f) % 5]));
                const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
                if (fd >= 0) {
                    if (::ftruncate(fd, 1000 + f) != 0)
                        std::perror("ftruncate");
                    ::close(fd);
                }
            }
        }
    }
}

// The scanner with a consumer that only counts: the reference.
qint64 bareScan(const ScanScope &scope, int *count)
{
    VideoScanner scanner;
    QEventLoop loop;
    int seen = 0;
    QElapsedTimer clock;
    clock.start();
    ScanJob job = scanner.scan(scope, true, &loop, [&](const ScanEvent &e) {
        seen += int(e.videos.size());
    }, [&] { loop.quit(); });
    loop.exec();
    *count = seen;
    return clock.elapsed();
}

qint64 stateScan(const ScanScope &scope, int *count, AppState **kept)
{
    auto *state = new AppState;
    QEventLoop loop;
    QObject::connect(state, &AppState::isScanningChanged, &loop, [&] {
        if (!state->isScanning())
            loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    state->selectScope(scope);
    loop.exec();
    const qint64 ms = clock.elapsed();
    *count = int(state->allVideos().size());
    *kept = state;
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir sandbox(QDir::tempPath() + "/lumenkite-bench-XXXXXX");
    const QByteArray home = QFile::encodeName(sandbox.path() + "/home");
    QDir().mkpath(sandbox.path() + "/home");
    ::setenv("HOME", home.constData(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
    ::setenv("XDG_CACHE_HOME", (home + "/.cache").constData(), 1);
    QCoreApplication app(argc, argv);

    const QString root = sandbox.path() + "/library";
    std::printf("generating %d videos...\n", kTop * kSub * kFiles);
    std::fflush(stdout);
    makeTree(root);
    const ScanScope scope = ScanScope::customFolder(QUrl::fromLocalFile(root));

    int count = 0;
    bareScan(scope, &count); // warms the file system caches
    qint64 bare = std::numeric_limits<qint64>::max(), full = std::numeric_limits<qint64>::max();
    AppState *state = nullptr;
    for (int round = 0; round < 3; ++round) {
        bare = std::min(bare, bareScan(scope, &count));
        int loaded = 0;
        AppState *s = nullptr;
        QDir(QString::fromLocal8Bit(home) + "/.local/share/Lumenkite").removeRecursively();
        full = std::min(full, stateScan(scope, &loaded, &s));
        if (loaded != count)
            std::printf("warning: state holds %d videos, scanner found %d\n", loaded, count);
        if (state) {
            state->waitForCacheWrites();
            delete state;
        }
        state = s;
    }
    std::printf("videos: %d, bare scan: %lld ms, scan into AppState with tree: %lld ms\n", count,
                (long long)bare, (long long)full);
    std::printf("scan-to-tree/bare-scan ratio: %.2f\n", double(full) / double(bare));

    state->waitForCacheWrites();
    const QString cachePath = state->scopeCacheURL().toLocalFile();
    delete state;
    std::printf("cache file: %.1f MB\n", double(QFileInfo(cachePath).size()) / 1e6);

    qint64 ours = std::numeric_limits<qint64>::max();
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        const ScopeCache cache = ScopeCacheCodec::load(cachePath);
        ours = std::min(ours, clock.elapsed());
        if (cache.isEmpty() || cache.cbegin()->videos.size() != count)
            std::printf("warning: cache did not load whole\n");
    }
    qint64 python = std::numeric_limits<qint64>::max();
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        const int rc = QProcess::execute("python3", {"-c", "import json,sys; json.load(open(sys.argv[1]))", cachePath});
        python = std::min(python, clock.elapsed());
        if (rc != 0)
            std::printf("warning: python3 exited with %d\n", rc);
    }
    QElapsedTimer startup;
    startup.start();
    { AppState again; }
    std::printf("cache load: %lld ms, python json.load: %lld ms, AppState start-up with it: %lld ms\n",
                (long long)ours, (long long)python, (long long)startup.elapsed());
    std::printf("cache load/python json.load ratio: %.2f\n", double(ours) / double(python));
    return 0;
}
