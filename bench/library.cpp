// Scanning 200,000 videos into AppState against the bare scanner, and loading the
// resulting scope cache against Python's json.load, both measured in this run. Then the
// read of a 1,000,000-video scope cache by our cursor against simdjson's On-Demand API
// (where libsimdjson-dev is installed), with the same records and the same strictness.
#include "library/AppState.h"
#include "library/FileNames.h"
#include "library/RecordFile.h"
#include "library/ScopeCache.h"
#include "library/VideoScanner.h"
#ifdef LK_HAVE_SIMDJSON
#include "scope_cache_simdjson.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

// A scope cache of 1,000,000 videos below `root`, written as the app writes it: a few
// names hold bytes that are not UTF-8 or characters that must be escaped.
QString writeMillionCache(const QString &root, const QString &path)
{
    CachedScopeScan record;
    record.scopeKey = ScanScope::customFolder(QUrl::fromLocalFile(root)).id();
    record.videos.reserve(1000000);
    const char *exts[] = {"mp4", "mov", "mkv", "avi", "webm"};
    const QDateTime modified = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    for (int i = 0; i < 1000000; ++i) {
        QString name = QString("Episode %1.%2").arg(i % 100).arg(exts[i % 5]);
        if (i % 997 == 0)
            name = FileNames::decode(QByteArray("Caf\xe9 ") + QByteArray::number(i) + ".mp4");
        else if (i % 1009 == 0)
            name = QString("\"Quoted\" \u00e9t\u00e9 %1.mkv").arg(i);
        const QString path = QString("%1/Show %2/Season %3/%4").arg(root).arg(i / 1000).arg(i / 100 % 10).arg(name);
        std::optional<VideoFile> v = VideoFile::make(path, 1000 + i, modified.addSecs(i),
                                                     i % 3 ? std::optional<QDateTime>() : modified);
        if (v)
            record.videos.append(std::move(*v));
    }
    record.scannedAt = modified;
    ScopeCache cache;
    cache.insert(record.scopeKey, record);
    ScopeCacheCodec::save(cache, path);
    return record.scopeKey;
}

// The same records as the app's reader, from the mapped file, without the sanitizing that
// follows either reader.
std::optional<ScopeCache> cursorRead(const QString &path)
{
    std::optional<ScopeCache> cache;
    RecordFile::read(path, [&](const char *begin, const char *end) {
        cache = ScopeCacheCodec::decode(QByteArray::fromRawData(begin, qsizetype(end - begin)));
    });
    return cache;
}

// Readers timed in turns, best of five rounds each, so that the other work on a shared
// machine falls on all of them alike. What a read gives is freed outside the clock.
struct TimedRead {
    explicit TimedRead(std::function<std::optional<ScopeCache>()> r) : read(std::move(r)) {}
    std::function<std::optional<ScopeCache>()> read;
    qint64 best = std::numeric_limits<qint64>::max();
    std::optional<ScopeCache> last;
    double seconds() const { return double(best) / 1e9; }
};
void timeInTurns(std::initializer_list<TimedRead *> reads)
{
    for (int round = 0; round < 5; ++round) {
        for (TimedRead *r : reads) {
            r->last.reset();
            QElapsedTimer clock;
            clock.start();
            std::optional<ScopeCache> result = r->read();
            r->best = std::min(r->best, clock.nsecsElapsed());
            r->last = std::move(result);
        }
    }
}

#ifdef LK_HAVE_SIMDJSON
std::optional<ScopeCache> simdjsonRead(const QString &path)
{
    simdjson::padded_string json;
    if (simdjson::padded_string::load(QFile::encodeName(path).toStdString()).get(json))
        return std::nullopt;
    return SimdjsonCache::Reader().read(json);
}

// The file mapped with zero pages after its end for simdjson's padding, so that, like the
// cursor, it reads the file's pages without a copy.
std::optional<ScopeCache> simdjsonMappedRead(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    const size_t size = size_t(st.st_size);
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t span = (size + simdjson::SIMDJSON_PADDING + page - 1) / page * page;
    void *area = ::mmap(nullptr, span, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    std::optional<ScopeCache> cache;
    if (area != MAP_FAILED && ::mmap(area, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) != MAP_FAILED)
        cache = SimdjsonCache::Reader().read(simdjson::padded_string_view(static_cast<const char *>(area), size, span));
    ::close(fd);
    if (area != MAP_FAILED)
        ::munmap(area, span);
    return cache;
}

// Texts on which the two readers must agree: whether the file is read at all, and which
// records and entries it gives.
int strictnessDisagreements()
{
    const QByteArray video = R"({"id":"/v/a.mp4","url":"file:///v/a.mp4","name":"a.mp4","fileExtension":"MP4","directoryPath":"/v","fileSize":5,"modifiedDate":1})";
    const auto cache = [&](const QByteArray &videos, const QByteArray &extra = {}) {
        return R"({"scope:custom:/v":{"scopeKey":"scope:custom:/v","videos":[)" + videos +
               R"(],"deniedFolders":[],"scannedAt":1)" + extra + "}}";
    };
    const auto named = [&](const QByteArray &name) {
        QByteArray v = video;
        return v.replace("a.mp4", name);
    };
    // A name that is not UTF-8, in the form the app writes it.
    ScopeCache rawByteName;
    CachedScopeScan &record = rawByteName[QStringLiteral("scope:custom:/v")];
    record.scopeKey = QStringLiteral("scope:custom:/v");
    record.videos.append(*VideoFile::make(FileNames::decode("/v/a\xe9.mp4"), 5, QDateTime::fromSecsSinceEpoch(1, Qt::UTC), {}));
    record.scannedAt = QDateTime::fromSecsSinceEpoch(1, Qt::UTC);
    const struct { const char *label; QByteArray text; } cases[] = {
        {"plain", cache(video)},
        {"escaped raw byte \\udc80..\\udcff in a name", ScopeCacheCodec::encode(rawByteName)},
        {"escaped lone high surrogate", cache(named("a\\ud800.mp4"))},
        {"escaped lone low surrogate below \\udc80", cache(named("a\\udc10.mp4"))},
        {"raw byte 0xff in a string", cache(named("a\xff.mp4"))},
        {"UTF-8 of a surrogate", cache(named("a\xed\xa0\x80.mp4"))},
        {"overlong UTF-8", cache(named("a\xc0\xaf.mp4"))},
        {"control character in a string", cache(named("a\x01.mp4"))},
        {"escaped key", cache(QByteArray(video).replace("\"id\"", "\"\\u0069d\""))},
        {"size with an exponent", cache(QByteArray(video).replace("\"fileSize\":5", "\"fileSize\":5e0"))},
        {"mistyped size: entry left out", cache(QByteArray(video).replace("\"fileSize\":5", "\"fileSize\":\"5\""))},
        {"number with a leading zero", cache(QByteArray(video).replace("\"fileSize\":5", "\"fileSize\":05"))},
        {"bad literal in an unknown member", cache(video, R"(,"x":tru)")},
        {"missing comma in an unknown member", cache(video, R"(,"x":[1 2])")},
        {"mismatched bracket in an unknown member", cache(video, R"(,"x":[1,2})")},
        {"bad escape in an unknown member", cache(video, R"(,"x":"\q")")},
        {"raw byte escape, huge number in an unknown member", cache(video, R"(,"x":["\udcff",1e400,null,true])")},
        {"nesting 100 deep in an unknown member", cache(video, ",\"x\":" + QByteArray(100, '[') + QByteArray(100, ']'))},
        {"nesting 600 deep in an unknown member", cache(video, ",\"x\":" + QByteArray(600, '[') + QByteArray(600, ']'))},
        {"bad escape in a mistyped size", cache(QByteArray(video).replace("\"fileSize\":5", "\"fileSize\":\"\\q\""))},
        {"bad literal after a mistyped size", cache(QByteArray(video).replace("\"fileSize\":5", "\"fileSize\":\"5\",\"x\":nul"))},
        {"fractional size: entry left out", cache(QByteArray(video).replace("\"fileSize\":5", "\"fileSize\":5.5"))},
        {"trailing text", cache(video) + " x"},
        {"second object after the first", cache(video) + "{}"},
        {"cut short", cache(video).chopped(1)},
    };
    int disagreements = 0;
    for (const auto &c : cases) {
        const std::optional<ScopeCache> ours = ScopeCacheCodec::decode(c.text);
        const simdjson::padded_string json(c.text.constData(), size_t(c.text.size()));
        const std::optional<ScopeCache> theirs = SimdjsonCache::Reader().read(json);
        const auto describe = [](const std::optional<ScopeCache> &r) {
            return !r ? QString("refused") : QString("%1 video(s)").arg(r->isEmpty() ? 0 : r->cbegin()->videos.size());
        };
        const bool same = ours == theirs;
        disagreements += !same;
        std::printf("  %-44s cursor: %-10s simdjson: %-10s%s\n", c.label, qPrintable(describe(ours)),
                    qPrintable(describe(theirs)), same ? "" : "  <- differs");
    }
    return disagreements;
}
#endif

void millionCacheRead(const QString &folder)
{
    const QString path = folder + "/ScopeCache-1M.json";
    std::printf("writing a scope cache of 1,000,000 videos...\n");
    std::fflush(stdout);
    writeMillionCache(folder + "/library-1M", path);
    std::printf("1M cache file: %.1f MB\n", double(QFileInfo(path).size()) / 1e6);

    TimedRead cursor([&] { return cursorRead(path); });
    TimedRead load([&] { return std::optional<ScopeCache>(ScopeCacheCodec::load(path)); });
#ifdef LK_HAVE_SIMDJSON
    simdjson::padded_string text;
    if (simdjson::padded_string::load(QFile::encodeName(path).toStdString()).get(text))
        std::printf("warning: simdjson could not load the 1M cache\n");
    TimedRead simd([&] { return simdjsonMappedRead(path); });
    TimedRead simdCopy([&] { return simdjsonRead(path); });
    TimedRead simdParse([&] { return SimdjsonCache::Reader().read(text); });
    timeInTurns({&cursor, &simd, &simdCopy, &simdParse, &load});
#else
    timeInTurns({&cursor, &load});
#endif
    if (!cursor.last || cursor.last->isEmpty() || cursor.last->cbegin()->videos.size() != 1000000)
        std::printf("warning: the cursor did not read the 1M cache whole\n");
#ifdef LK_HAVE_SIMDJSON
    std::printf("scope cache read at 1M: cursor %.3f s, simdjson On-Demand (file mapped with padding) %.3f s, "
                "ratio simdjson/cursor %.2f\n",
                cursor.seconds(), simd.seconds(), simd.seconds() / cursor.seconds());
    std::printf("  simdjson with the file copied by padded_string::load %.3f s (ratio %.2f), from text already in "
                "padded memory %.3f s (ratio %.2f)\n",
                simdCopy.seconds(), simdCopy.seconds() / cursor.seconds(), simdParse.seconds(),
                simdParse.seconds() / cursor.seconds());
    std::printf("simdjson (%s) gives the same records: %s\n", simdjson::get_active_implementation()->name().c_str(),
                cursor.last == simd.last && cursor.last == simdCopy.last ? "yes" : "NO");
    std::printf("strictness, the same text through both readers:\n");
    const int differ = strictnessDisagreements();
    std::printf("strictness: %s\n", differ ? qPrintable(QString("simdjson differs on %1 case(s), only the cursor is as strict as the file needs").arg(differ))
                                            : "both equally strict (simdjson only with our unescaping and our checks of the values it skips)");
    std::printf("reader allowed by speed and strictness: %s\n",
                !differ && simd.seconds() <= cursor.seconds() ? "simdjson On-Demand" : "the cursor");
#else
    std::printf("scope cache read at 1M: cursor %.3f s (simdjson not measured: libsimdjson-dev is not installed)\n",
                cursor.seconds());
#endif
    std::printf("scope cache load at 1M with sanitizing (ScopeCacheCodec::load): %.3f s\n", load.seconds());
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

    millionCacheRead(sandbox.path());
    return 0;
}
