// Folder tree: buildTree + flatten (everything expanded) on synthetic libraries of 100k and
// 1M videos, against a plain std::sort of the same paths measured in the same run.
#include "library/LumenkiteBuilder.h"
#include "platform/MemoryTuning.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

// Folders 3 to 8 levels below the root, 10 to 200 videos each, names drawn from small
// per-level vocabularies so that folders share their upper levels as real libraries do.
QList<VideoFile> makeLibrary(qsizetype count, unsigned seed)
{
    static const char *const words[] = {"Trips", "Family", "Work", "Archive", "Camera", "Phone", "Edits",
                                        "Raw", "Season", "Projects", "Exports", "Clips"};
    std::mt19937 rng(seed);
    const QDateTime base(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    QList<VideoFile> list;
    list.reserve(count);
    static const char *const exts[] = {"mp4", "mov", "mkv", "avi", "webm", "m4v"};
    int folderNumber = 0;
    while (list.size() < count) {
        const int depth = 3 + int(rng() % 6);
        QString dir = QStringLiteral("/home/user/Videos");
        for (int level = 0; level < depth; ++level)
            dir += QStringLiteral("/%1 %2").arg(words[rng() % 12]).arg(rng() % (level < 2 ? 4 : 9));
        dir += QStringLiteral("/Batch %1").arg(++folderNumber);
        const int inFolder = 10 + int(rng() % 191);
        for (int i = 0; i < inFolder && list.size() < count; ++i) {
            const QString path = QStringLiteral("%1/Clip %2 take %3.%4").arg(dir).arg(rng() % 5000).arg(i).arg(
                exts[rng() % 6]);
            auto v = VideoFile::make(path, 1 + qint64(rng() % 4'000'000'000u), base.addSecs(rng() % 100'000'000),
                                     std::nullopt);
            if (v)
                list.append(*v);
        }
    }
    return list;
}

struct Timing {
    double treeMs = 0;
    double buildMs = 0, flattenMs = 0, releaseMs = 0; // parts of the best run
    double sortMs = 0;
    qsizetype rows = 0;
};

double bestOf(int runs, const std::function<void()> &work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

Timing measure(const QList<VideoFile> &library, VideoSortOrder order,
               const std::optional<QHash<QString, double>> &scores, int runs)
{
    Timing timing;
    timing.treeMs = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        auto roots = LumenkiteBuilder::buildTree(library, QStringLiteral("/home/user/Videos"), true, order, scores);
        const double built = t.nsecsElapsed() / 1e6;
        auto rows = LumenkiteBuilder::flatten(roots, true, {});
        const double flattened = t.nsecsElapsed() / 1e6;
        timing.rows = rows.size();
        rows = {};
        roots = {};
        const double total = t.nsecsElapsed() / 1e6;
        if (total < timing.treeMs) {
            timing.treeMs = total;
            timing.buildMs = built;
            timing.flattenMs = flattened - built;
            timing.releaseMs = total - flattened;
        }
    }
    timing.sortMs = bestOf(runs, [&] {
        std::vector<QString> paths;
        paths.reserve(size_t(library.size()));
        for (const VideoFile &v : library)
            paths.push_back(v.id);
        std::sort(paths.begin(), paths.end());
    });
    return timing;
}

} // namespace

int main(int argc, char **argv)
{
    // The app tunes its allocator the same way at start-up.
    tuneMemoryForLargeLibraries();
    QCoreApplication app(argc, argv);

    const QList<VideoFile> small = makeLibrary(100'000, 1);
    const QList<VideoFile> large = makeLibrary(1'000'000, 2);

    const Timing s = measure(small, VideoSortOrder::nameAsc, std::nullopt, 5);
    const Timing l = measure(large, VideoSortOrder::nameAsc, std::nullopt, 3);
    for (const auto &[label, t] : {std::pair{"100k", s}, std::pair{"1M", l}})
        std::printf("%s: tree %.1f ms (build %.1f, flatten %.1f, release %.1f; %lld rows), sort %.1f ms\n", label,
                    t.treeMs, t.buildMs, t.flattenMs, t.releaseMs, (long long)t.rows, t.sortMs);

    for (VideoSortOrder order : {VideoSortOrder::sizeDesc, VideoSortOrder::dateDesc, VideoSortOrder::extensionAsc}) {
        const Timing t = measure(large, order, std::nullopt, 1);
        std::printf("1M %s: tree %.1f ms\n", qPrintable(VideoSortOrderInfo::rawValue(order)), t.treeMs);
    }
    QHash<QString, double> scores;
    std::mt19937 rng(5);
    for (const VideoFile &v : large)
        if (rng() % 3 == 0)
            scores.insert(v.id, (rng() % 1000) / 1000.0);
    const Timing scored = measure(large, VideoSortOrder::nameAsc, scores, 1);
    std::printf("1M scored: tree %.1f ms\n", scored.treeMs);

    std::printf("tree/sort ratio at 1M: %.2f\n", l.treeMs / l.sortMs);
    std::printf("growth 1M/100k: %.2f\n", l.treeMs / s.treeMs);
    return 0;
}
