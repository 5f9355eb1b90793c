// Storage statistics of 1,000,000 videos (totals by format and folder, the largest videos)
// against one pass that only sums their sizes, both measured in this run.
#include "tools/StorageStatistics.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr int kFolders = 25'000, kPerFolder = 40; // 1,000,000 videos

// A library folder by folder. As the scope cache loads it, every video of a folder shares
// one folder text and every video of a format one extension text; as a fresh scan makes
// it, each video has strings of its own.
QList<VideoFile> makeLibrary(bool sharedTexts)
{
    const char *exts[] = {"mp4", "mov", "mkv", "avi", "webm", "m4v", "ts", "wmv", "flv", "mpg"};
    std::mt19937_64 rng(7);
    const QDateTime date(QDate(2026, 1, 1), QTime(12, 0));
    QString upper[10];
    for (int e = 0; e < 10; ++e) upper[e] = QString(exts[e]).toUpper();
    QList<VideoFile> videos;
    videos.reserve(qsizetype(kFolders) * kPerFolder);
    for (int f = 0; f < kFolders; ++f) {
        const QString folder = QString("/home/user/Videos/Collection %1/Season %2").arg(f / 50).arg(f % 50);
        for (int i = 0; i < kPerFolder; ++i) {
            const QString path = folder + QString("/Episode %1.%2").arg(i).arg(exts[(f + i) % 10]);
            const qint64 size = 1'000'000 + qint64(rng() % 4'000'000'000ULL);
            VideoFile v = *VideoFile::make(path, size, date, std::nullopt);
            if (sharedTexts) {
                v.directoryPath = folder;
                v.fileExtension = upper[(f + i) % 10];
            }
            videos.append(std::move(v));
        }
    }
    return videos;
}

template <typename F> double bestOf(int rounds, F f)
{
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer clock;
        clock.start();
        f();
        best = std::min(best, clock.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main()
{
    const QList<VideoFile> videos = makeLibrary(true);
    volatile qint64 sink = 0;
    const double sumMs = bestOf(7, [&] {
        qint64 total = 0;
        for (const VideoFile &v : videos) total += v.fileSize;
        sink = total;
    });
    StorageStatistics stats;
    const double statsMs = bestOf(7, [&] { stats = StorageStatistics::compute(videos); });

    // Freshly scanned (no shared texts), and in shuffled order (no folder arrives as one run).
    const double scannedMs = [&] {
        const QList<VideoFile> scanned = makeLibrary(false);
        return bestOf(3, [&] { stats = StorageStatistics::compute(scanned); });
    }();
    QList<VideoFile> shuffled = videos;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(11));
    const double shuffledMs = bestOf(3, [&] { stats = StorageStatistics::compute(shuffled); });

    std::printf("videos: %lld, formats: %lld, folders kept: %lld, largest: %lld\n", (long long)videos.size(),
                (long long)stats.formatStats.size(), (long long)stats.folderStats.size(),
                (long long)stats.largestVideos.size());
    std::printf("sum pass: %.2f ms, statistics: %.2f ms (freshly scanned: %.2f ms, shuffled: %.2f ms)\n", sumMs,
                statsMs, scannedMs, shuffledMs);
    std::printf("insights/sum ratio: %.2f\n", statsMs / std::max(sumMs, 1e-6));
    std::printf("insights-scanned/sum ratio: %.2f\n", scannedMs / std::max(sumMs, 1e-6));
    std::printf("insights-shuffled/sum ratio: %.2f\n", shuffledMs / std::max(sumMs, 1e-6));
    return 0;
}
