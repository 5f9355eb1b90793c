// Writes one well-formed file per reader into <dir>/<reader>/seed, so the fuzzers start
// from records the readers accept rather than from nothing.
#include "library/ScopeCache.h"
#include "search/TranscriptFile.h"
#include "search/VisualIndexFile.h"

#include <QDir>
#include <QFile>

#include <cstdio>

static bool put(const QString &dir, const QString &reader, const QByteArray &bytes)
{
    QDir().mkpath(dir + "/" + reader);
    QFile file(dir + "/" + reader + "/seed");
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);

    ScopeCache cache;
    CachedScopeScan scan;
    scan.scopeKey = "/videos";
    for (const QString &path : {QStringLiteral("/videos/a.mp4"), QStringLiteral("/videos/sub/b \"c\".MKV")})
        if (auto video = VideoFile::make(path, 1234, when, when)) scan.videos.append(*video);
    scan.deniedFolders = {"/videos/locked"};
    scan.scannedAt = when;
    cache.insert(scan.scopeKey, scan);

    VisualIndexMap index;
    VideoVisualIndexEntry entry;
    entry.videoID = "/videos/a.mp4";
    entry.fileSize = 1234;
    entry.modifiedTimestamp = 1700000000;
    const float vector[4] = {0.5f, -0.25f, 0.125f, 1.0f};
    entry.clipEmbeddings = {QuantizedEmbedding::fromVector(vector)};
    entry.frameMoments = {{1.5, QuantizedEmbedding::fromVector(vector), "EXIT"}, {3.0, std::nullopt, ""}};
    entry.labelsEN = {{"dog", 0.75f}};
    entry.displayTagsTR = {"Hund"};
    entry.captionTR = "a dog";
    entry.ocrText = "EXIT";
    entry.detectedFaces = 2;
    entry.engineUsed = "mobileclip";
    index.insert(entry.videoID, entry);

    TranscriptMap transcripts;
    VideoTranscriptEntry said;
    said.videoID = "/videos/a.mp4";
    said.fileSize = 1234;
    said.modifiedTimestamp = 1700000000;
    said.localeIdentifier = "en_US";
    said.fullText = "hello there";
    said.segments = {{0.5, "hello"}, {1.25, "there"}};
    transcripts.insert(said.videoID, said);

    const bool ok = put(dir, "scope_cache", ScopeCacheCodec::encode(cache))
        && put(dir, "visual_index", VisualIndexFile::encode(index))
        && put(dir, "transcript", TranscriptFile::encode(transcripts));
    return ok ? 0 : 1;
}
