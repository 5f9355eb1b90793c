// Duplicate finding speed.
// Exact: about 2 GB of generated files, a third of them duplicates, in a few thousand
// files; our exact finder against `find DIR -type f -print0 | xargs -0 -P8 sha256sum` on the
// same tree, both with a warm page cache (each runs once to warm it, then is timed).
// Prints "dupes/sha256sum ratio: R"; the goal is R <= 0.5.
// Similar: the similar finder over 10,000 and 100,000 indexed videos of 5 keyframes each;
// prints both times and the growth (a pass over all pairs grows about 100x).
#include "tools/DuplicateVideoService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

constexpr int kFiles = 3000;
constexpr double kDuplicateShare = 0.3;
constexpr qint64 kTargetBytes = 2'000'000'000;

void fill(QByteArray &bytes, std::mt19937_64 &random)
{
    auto *words = reinterpret_cast<quint64 *>(bytes.data());
    for (qsizetype i = 0; i < bytes.size() / 8; ++i) words[i] = random();
}

// Unique files of distinct sizes, and copies (two per original) making up the duplicate share.
QList<VideoFile> buildTree(const QString &root, int *plantedGroups)
{
    std::mt19937_64 random(11);
    const int copies = int(kFiles * kDuplicateShare);
    const int originals = kFiles - copies;
    const qint64 average = kTargetBytes / kFiles;
    std::uniform_int_distribution<qint64> sizeOf(average / 4, average * 7 / 4);
    QList<VideoFile> videos;
    QSet<qint64> used;
    int groups = 0;
    for (int i = 0; i < originals; ++i) {
        qint64 size;
        do size = sizeOf(random); while (used.contains(size));
        used.insert(size);
        QByteArray bytes(size, Qt::Uninitialized);
        fill(bytes, random);
        const int copiesHere = i < copies / 2 ? 2 : 0;
        groups += copiesHere ? 1 : 0;
        for (int c = 0; c <= copiesHere; ++c) {
            const QString dir = QStringLiteral("%1/folder%2").arg(root).arg((i * 7 + c * 13) % 40);
            QDir().mkpath(dir);
            const QString path = QStringLiteral("%1/clip%2%3.mp4").arg(dir).arg(i).arg(c ? QStringLiteral(" copy %1").arg(c) : QString());
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != size) return {};
            f.close();
            videos.append(*VideoFile::make(path, size, QDateTime::currentDateTime(), std::nullopt));
        }
    }
    *plantedGroups = groups;
    return videos;
}

double timeSha256sum(const QString &root)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start("bash", {"-c", "find \"$1\" -type f -print0 | xargs -0 -P8 sha256sum", "bash", root});
    p.waitForFinished(-1);
    return t.nsecsElapsed() / 1e9;
}

double timeOurs(const QList<VideoFile> &videos, int *groups)
{
    QElapsedTimer t;
    t.start();
    DuplicateVideoService::findExactDuplicates(videos, [&](const DuplicateScanEvent &e) {
        if (e.kind == DuplicateScanEvent::Kind::completed) *groups = int(e.groups.size());
    });
    return t.nsecsElapsed() / 1e9;
}

// Indexed videos of 5 keyframes, 512 dimensions; one in twenty is a near copy of another.
void buildIndex(int count, QList<VideoFile> &videos, VisualIndexMap &entries)
{
    std::mt19937 random(5);
    std::normal_distribution<float> gauss;
    std::vector<std::vector<float>> bases;
    for (int i = 0; i < count; ++i) {
        const VideoFile v = *VideoFile::make(QStringLiteral("/lib/v%1.mp4").arg(i), 1000 + i, QDateTime(), std::nullopt);
        std::vector<float> base(512);
        if (i % 20 == 19) {
            base = bases[random() % bases.size()];
            for (float &f : base) f += 0.1f * gauss(random);
        } else {
            for (float &f : base) f = gauss(random);
        }
        VideoVisualIndexEntry e;
        e.videoID = v.id;
        for (int k = 0; k < 5; ++k) {
            std::vector<float> frame = base;
            for (float &f : frame) f += 0.3f * gauss(random);
            e.clipEmbeddings.append(QuantizedEmbedding::fromVector(frame));
        }
        if (bases.size() < 2000) bases.push_back(base);
        videos.append(v);
        entries.insert(v.id, e);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QTemporaryDir dir(QDir::tempPath() + "/lumenkite-bench-dupes-XXXXXX");
    const QString root = dir.path() + "/tree";
    int planted = 0;
    std::printf("generating %d files (about %lld MB)...\n", kFiles, kTargetBytes / 1'000'000);
    const QList<VideoFile> videos = buildTree(root, &planted);
    if (videos.isEmpty()) {
        std::printf("could not write the tree\n");
        return 1;
    }
    int groups = 0;
    timeSha256sum(root); // warms the page cache for both
    timeOurs(videos, &groups);
    const double reference = timeSha256sum(root);
    const double ours = timeOurs(videos, &groups);
    std::printf("sha256sum -P8: %.3f s, exact finder: %.3f s, groups %d of %d planted\n", reference, ours, groups, planted);
    std::printf("dupes/sha256sum ratio: %.3f\n", ours / reference);

    double times[2] = {0, 0};
    const int counts[2] = {10'000, 100'000};
    for (int k = 0; k < 2; ++k) {
        QList<VideoFile> indexed;
        VisualIndexMap entries;
        buildIndex(counts[k], indexed, entries);
        QElapsedTimer t;
        t.start();
        const auto similar = DuplicateVideoService::findSimilarVideos(indexed, entries, 0.85f);
        times[k] = t.nsecsElapsed() / 1e9;
        std::printf("similar finder, %d videos x 5 frames: %.3f s, %lld groups\n", counts[k], times[k],
                    qlonglong(similar.size()));
    }
    std::printf("similar finder growth 10k -> 100k: %.1fx\n", times[1] / times[0]);
    return 0;
}
