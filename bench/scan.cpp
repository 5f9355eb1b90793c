// Walk speed: a full scan of a large folder against `find DIR -type f` on the same tree,
// both with a warm cache. Prints "scan/find time ratio: R"; the goal is R <= 1.0.
#include "library/VideoScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kTopFolders = 100;
constexpr int kSubfoldersEach = 199; // with the top folders: 20,000 folders
constexpr int kFilesPerFolder = 10;  // 200,000 files

bool makeSparse(const QByteArray &path, qint64 size)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::ftruncate(fd, size) == 0;
    ::close(fd);
    return ok;
}

int buildTree(const QString &root)
{
    static const char *const videoExtensions[] = {"mp4", "mov", "mkv", "ts", "avi", "webm", "m4v", "MP4"};
    static const char *const otherExtensions[] = {"jpg", "txt", "pdf", "json", "png", "doc", "c", "log"};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> exponent(0, 22); // 1 byte .. 4 MiB
    int videos = 0;
    int fileIndex = 0;
    auto fillFolder = [&](const QString &folder) {
        const QByteArray base = QFile::encodeName(folder) + '/';
        for (int f = 0; f < kFilesPerFolder; ++f, ++fileIndex) {
            const bool video = fileIndex % 10 == 0;
            const char *ext = video ? videoExtensions[random() % 8] : otherExtensions[random() % 8];
            const qint64 size = std::max<qint64>(1, (qint64(1) << exponent(random)) + qint64(random() % 1000));
            const QByteArray path = base + "file" + QByteArray::number(fileIndex) + '.' + ext;
            if (!makeSparse(path, size))
                return false;
            videos += video;
        }
        return true;
    };
    for (int t = 0; t < kTopFolders; ++t) {
        const QString top = root + QString("/top%1").arg(t);
        if (!QDir().mkpath(top) || !fillFolder(top))
            return -1;
        for (int s = 0; s < kSubfoldersEach; ++s) {
            const QString sub = top + QString("/group%1/sub%2").arg(s % 10).arg(s);
            if (!QDir().mkpath(sub) || !fillFolder(sub))
                return -1;
        }
    }
    return videos;
}

double timeFind(const QString &root)
{
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    find.start("find", {root, "-type", "f"});
    find.waitForFinished(-1);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    return find.exitCode() == 0 ? seconds : -1;
}

double timeScan(const QString &root, int &found)
{
    found = 0;
    QElapsedTimer timer;
    timer.start();
    VideoScanner::run(ScanScope::customFolder(QUrl::fromLocalFile(root)), false, [&](const ScanEvent &e) {
        if (e.kind == ScanEvent::Kind::batch)
            found += int(e.videos.size());
    });
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::tempPath() + "/lumenkite-bench-scan-XXXXXX");
    const QString root = dir.path();
    std::printf("building 200000 files in 20000 folders...\n");
    std::fflush(stdout);
    const int videos = buildTree(root);
    if (videos < 0) {
        std::fprintf(stderr, "could not build the tree\n");
        return 1;
    }

    int found = 0;
    timeFind(root); // warm the cache
    timeScan(root, found);
    double bestFind = 1e9, bestScan = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double f = timeFind(root);
        const double s = timeScan(root, found);
        if (f < 0) {
            std::fprintf(stderr, "find failed\n");
            return 1;
        }
        std::printf("round %d: find %.3f s, scan %.3f s (%d videos)\n", round + 1, f, s, found);
        bestFind = std::min(bestFind, f);
        bestScan = std::min(bestScan, s);
    }
    std::printf("videos created: %d (ts below 1 MiB are not listed), scanned: %d\n", videos, found);
    std::printf("scan/find time ratio: %.3f\n", bestScan / bestFind);
    return 0;
}
