// The visual search at a million keyframes: one query scored end to end against a plain
// pass over the same quantized bytes, and the index file's load against Python's
// json.load, both measured in this run.
#include "search/VisualIndexFile.h"
#include "search/VisualSearchService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr int kVideos = 100000, kFrames = 10, kDims = 512;

struct Random {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    float next() // uniform in [-1, 1)
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return float(int32_t(state >> 32)) / 2147483648.0f;
    }
    std::vector<float> unitVector()
    {
        std::vector<float> v(kDims);
        double norm = 0;
        for (float &x : v) {
            x = next();
            norm += double(x) * x;
        }
        const float inv = float(1 / std::sqrt(norm));
        for (float &x : v)
            x *= inv;
        return v;
    }
};

class FixedEncoder : public QueryTextEmbedder
{
public:
    explicit FixedEncoder(std::vector<float> v) : m_v(std::move(v)) {}
    std::optional<std::vector<float>> textEmbedding(const QStringList &) override { return m_v; }

private:
    std::vector<float> m_v;
};

template <typename F> qint64 bestOf(int runs, F &&f)
{
    qint64 best = std::numeric_limits<qint64>::max();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        f();
        best = std::min(best, clock.nsecsElapsed());
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // lines show as they come, also through a pipe
    QTemporaryDir dir;
    Random random;

    QList<VideoFile> candidates;
    QList<VideoVisualIndexEntry> entries;
    candidates.reserve(kVideos);
    entries.reserve(kVideos);
    for (int v = 0; v < kVideos; ++v) {
        const QString path = QString("/home/user/Videos/Show %1/Season %2/Episode %3.mp4").arg(v / 1000).arg(v / 100 % 10).arg(v % 100);
        candidates.append(*VideoFile::make(path, 1000, QDateTime::currentDateTimeUtc(), std::nullopt));
        VideoVisualIndexEntry e;
        e.videoID = path;
        e.fileSize = 1000;
        e.modifiedTimestamp = 1700000000;
        for (int f = 0; f < kFrames; ++f) {
            const std::vector<float> unit = random.unitVector();
            e.clipEmbeddings.append(QuantizedEmbedding::fromVector(unit));
            e.frameMoments.append({f * 6.0, e.clipEmbeddings.back(), QString()});
        }
        e.labelsEN = {{"outdoor", 0.4f}, {"person", 0.3f}};
        e.engineUsed = "MobileCLIP-S2 + Live Text";
        entries.append(std::move(e));
    }

    {
        VisualSearchService service(dir.path() + "/service");
        service.upsert(entries);
        entries.clear();
        auto encoder = std::make_shared<FixedEncoder>(random.unitVector());
        service.setTextEmbedderProvider([encoder] { return encoder; });
        service.search("zebra crossing", candidates); // warms the caches once

        const VisualIndexMap snapshot = service.indexByVideoID();
        qint64 checksum = 0;
        const qint64 read = bestOf(3, [&] {
            for (const VideoVisualIndexEntry &e : snapshot)
                for (const QuantizedEmbedding &q : e.clipEmbeddings) {
                    // Eight bytes a load: as fast as the bytes can be read.
                    const char *bytes = reinterpret_cast<const char *>(q.data.constData());
                    quint64 sum = 0;
                    qsizetype i = 0;
                    for (; i + 8 <= q.data.size(); i += 8) {
                        quint64 word;
                        std::memcpy(&word, bytes + i, 8);
                        sum += word;
                    }
                    for (; i < q.data.size(); ++i)
                        sum += quint8(bytes[i]);
                    checksum += qint64(sum & 0xFFFF);
                }
        });
        SearchHitMap hits;
        const qint64 search = bestOf(3, [&] { hits = service.search("zebra crossing", candidates); });
        std::printf("plain read of %d frames: %.1f ms (checksum %lld); search: %.1f ms, %lld hits\n", kVideos * kFrames,
                    read / 1e6, (long long)checksum, search / 1e6, (long long)hits.size());
        std::printf("search/read ratio at 1M frames: %.2f\n", double(search) / double(read));

        QElapsedTimer clock;
        clock.start();
        service.save(snapshot);
        service.waitForSaves();
        std::printf("index save: %lld ms, %.0f MB\n", (long long)clock.elapsed(),
                    QFileInfo(service.cacheFilePath()).size() / 1e6);
    }

    const QString path = dir.path() + "/service/visual_index_v4.json";
    qsizetype loaded = 0;
    const qint64 ours = bestOf(2, [&] {
        const VisualIndexFile::LoadResult r = VisualIndexFile::load(path);
        loaded = r.entries.size();
    });
    qint64 python = std::numeric_limits<qint64>::max();
    for (int i = 0; i < 1; ++i) { // one run: Python takes tens of seconds over this file
        QProcess p;
        p.start("python3", {"-c", "import json,sys,time\nt=time.perf_counter()\njson.load(open(sys.argv[1]))\n"
                                  "print(int((time.perf_counter()-t)*1e9))",
                            path});
        p.waitForFinished(-1);
        bool ok = false;
        const qint64 ns = p.readAllStandardOutput().trimmed().toLongLong(&ok);
        if (ok)
            python = std::min(python, ns);
        else
            std::printf("warning: python3 failed: %s\n", p.readAllStandardError().constData());
    }
    // Where Python's time goes: reading the text, and parsing it with its collector off.
    QByteArray split;
    {
        QProcess p;
        p.start("python3", {"-c", "import gc,json,sys,time\ngc.disable()\nt=time.perf_counter()\n"
                                  "s=open(sys.argv[1]).read()\nu=time.perf_counter()\njson.loads(s)\n"
                                  "v=time.perf_counter()\nprint('read %.0f ms, parse %.0f ms' % ((u-t)*1e3, (v-u)*1e3))",
                            path});
        p.waitForFinished(-1);
        split = p.readAllStandardOutput().trimmed();
    }
    std::printf("index load: %.0f ms (%lld videos), python json.load: %.0f ms (collector off: %s)\n", ours / 1e6,
                (long long)loaded, python / 1e6, split.constData());
    std::printf("index load/python json.load ratio: %.2f\n", double(ours) / double(python));
    return 0;
}
