#include "library/FileNames.h"
#include "library/ScopeCache.h"
#include "search/TranscriptFile.h"
#include "search/VisualIndexFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <functional>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ScopeCache scopeCache(int videos)
{
    CachedScopeScan scan;
    scan.scopeKey = QStringLiteral("home");
    scan.scannedAt = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    for (int i = 0; i < videos; ++i)
        scan.videos << *VideoFile::make(QStringLiteral("/home/u/Videos/clip %1.mp4").arg(i), 1000 + i,
                                        QDateTime::fromSecsSinceEpoch(1700000000 + i, Qt::UTC), std::nullopt);
    return {{scan.scopeKey, scan}};
}

VisualIndexMap visualIndex(int videos)
{
    VisualIndexMap index;
    for (int i = 0; i < videos; ++i) {
        VideoVisualIndexEntry e;
        e.videoID = QStringLiteral("/v/%1.mp4").arg(i);
        e.fileSize = 1000 + i;
        e.clipEmbeddings = {{0.01f, QList<qint8>(512, qint8(i))}};
        e.engineUsed = QStringLiteral("MobileCLIP-S2");
        index.insert(e.videoID, e);
    }
    return index;
}

TranscriptMap transcripts(int videos)
{
    TranscriptMap map;
    for (int i = 0; i < videos; ++i) {
        VideoTranscriptEntry e;
        e.videoID = QStringLiteral("/v/%1.mp4").arg(i);
        e.fileSize = 1000 + i;
        e.localeIdentifier = QStringLiteral("en-US");
        e.fullText = QStringLiteral("a few words spoken in clip %1").arg(i);
        e.segments = {{0.5, e.fullText}};
        map.insert(e.videoID, e);
    }
    return map;
}

} // namespace

// Qt's QSaveFile buffers a small write and, when the flush at commit fails, still links the
// short file over the old one and reports success: every stored file must see the failure.
TEST(StoredFiles, ASaveOntoAFullDiskFailsAndKeepsTheOldFile)
{
    lktest::SmallDisk disk(lktest::sandboxRoot() + "/full-disk");
    if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";

    struct Case {
        const char *name;
        // Saves a file of about `videos` entries; true when the save reported success.
        std::function<bool(int videos, const QString &path)> save;
    };
    const Case cases[] = {
        {"scope cache", [](int n, const QString &p) { return ScopeCacheCodec::save(scopeCache(n), p); }},
        {"visual index", [](int n, const QString &p) { return VisualIndexFile::save(visualIndex(n), p); }},
        {"transcripts", [](int n, const QString &p) { return TranscriptFile::save(transcripts(n), p); }},
    };
    for (const Case &c : cases) {
        const QString path = disk.path() + "/" + c.name + ".json";
        ASSERT_TRUE(c.save(8, path)) << c.name;
    }
    ASSERT_TRUE(disk.fill());
    // A few entries (one buffered write) and many (writes failing midway).
    for (const int videos : {9, 3000}) {
        for (const Case &c : cases) {
            const QString path = disk.path() + "/" + c.name + ".json";
            const QByteArray before = readFile(path);
            ASSERT_FALSE(before.isEmpty());
            EXPECT_FALSE(c.save(videos, path)) << c.name << ", " << videos << " entries";
            EXPECT_EQ(readFile(path), before) << c.name << ", " << videos << " entries";
        }
    }
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden).join(", "),
              "fill, scope cache.json, transcripts.json, visual index.json")
        << "no temporary is left behind";
}

// The visual index and the transcripts are filed under video ids, which are paths: a name
// that is not UTF-8 must come back as its own bytes, or its entry is filed under another
// name and never found again. And the same records give the same text, whatever order the
// map happened to hold them in.
TEST(StoredFiles, IdsThatAreNotUtf8RoundTripAndTheTextFollowsTheKeys)
{
    const QString latin1 = FileNames::decode(QByteArray("/v/caf\xe9 \"x\".mp4"));
    const QString cut = FileNames::decode(QByteArray("/v/\xe6\x97.mkv"));
    ASSERT_TRUE(FileNames::hasRawBytes(latin1));
    ASSERT_TRUE(FileNames::hasRawBytes(cut));

    // The text of a file holding `prototype` under each of `ids`, inserted in that order.
    const auto encodeUnder = [](const QStringList &ids, auto prototype, auto encode) {
        QHash<QString, decltype(prototype)> map;
        for (const QString &id : ids) {
            prototype.videoID = id;
            map.insert(id, prototype);
        }
        return encode(map);
    };
    // The ids read back, each the key of its own entry.
    const auto idsOf = [](const auto &entries) {
        QStringList ids;
        for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
            EXPECT_EQ(it.key(), it->videoID);
            ids << it.key();
        }
        ids.sort();
        return ids;
    };
    struct Case {
        const char *name;
        std::function<QByteArray(const QStringList &ids)> encode;
        std::function<QStringList(const QByteArray &text)> idsRead;
    };
    const Case cases[] = {
        {"visual index",
         [&](const QStringList &ids) { return encodeUnder(ids, *visualIndex(1).cbegin(), VisualIndexFile::encode); },
         [&](const QByteArray &text) {
             const VisualIndexFile::LoadResult r = VisualIndexFile::decode(text);
             EXPECT_FALSE(r.lostAnything());
             return idsOf(r.entries);
         }},
        {"transcripts",
         [&](const QStringList &ids) { return encodeUnder(ids, *transcripts(1).cbegin(), TranscriptFile::encode); },
         [&](const QByteArray &text) {
             const TranscriptFile::Decoded r = TranscriptFile::decode(text);
             EXPECT_FALSE(r.damaged || r.skippedEntries > 0);
             return idsOf(r.entries);
         }},
    };
    QStringList ids{latin1, cut, QStringLiteral("/v/plain.mp4")};
    for (int i = 0; i < 200; ++i) ids << QStringLiteral("/v/%1.mp4").arg(i);
    QStringList reversed(ids.crbegin(), ids.crend());
    QStringList sorted = ids;
    sorted.sort();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray text = c.encode(ids);
        EXPECT_EQ(c.encode(reversed), text);
        EXPECT_EQ(c.idsRead(text), sorted);
    }
}
