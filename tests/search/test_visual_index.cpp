#include "library/AppState.h"
#include "search/AppOnDeviceSearchServices.h"
#include "search/VisualIndexFile.h"
#include "search/VisualSearchService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

QuantizedEmbedding embedding(float scale, QList<qint8> data) { return {scale, std::move(data)}; }

VideoVisualIndexEntry entry(const QString &id, int dims = 4)
{
    VideoVisualIndexEntry e;
    e.videoID = id;
    e.fileSize = 123456789012;
    e.modifiedTimestamp = 1700000000;
    QList<qint8> a, b;
    for (int i = 0; i < dims; ++i) {
        a.append(qint8(i * 37 - 128));
        b.append(qint8(127 - i));
    }
    e.clipEmbeddings = {embedding(0.0078125f, a), embedding(0.01f, b)};
    e.frameMoments = {{0.5, e.clipEmbeddings[0], "EXIT \"A\"\n"}, {2.25, std::nullopt, ""}, {4.0, e.clipEmbeddings[1], "çıkış"}};
    e.labelsEN = {{"dog", 0.875f}, {"outdoor_scene", 0.25f}};
    e.displayTagsTR = {"köpek", "açık hava"};
    e.captionTR = "Köpek parkta";
    e.ocrText = "EXIT çıkış";
    e.detectedFaces = 2;
    e.engineUsed = "MobileCLIP-S2 + Live Text";
    return e;
}

QByteArray entryJson(const VideoVisualIndexEntry &e) { return VisualIndexFile::encode({{e.videoID, e}}).mid(1).chopped(1); }

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(VisualIndexFile, RoundTripsEveryField)
{
    VisualIndexMap index{{"/v/a.mp4", entry("/v/a.mp4")}, {"/v/b \"q\".mkv", entry("/v/b \"q\".mkv", 3)}};
    index["/v/b \"q\".mkv"].clipEmbeddings.clear();
    index["/v/b \"q\".mkv"].frameMoments.clear();
    const QByteArray json = VisualIndexFile::encode(index);
    const VisualIndexFile::LoadResult back = VisualIndexFile::decode(json);
    EXPECT_FALSE(back.lostAnything());
    EXPECT_EQ(back.entries, index);
    // A moment without an embedding leaves the member out; embeddings are Base64.
    EXPECT_TRUE(json.contains(R"({"timestamp":2.25,"ocrText":""})")) << json.toStdString();
    EXPECT_TRUE(json.contains(R"("clipEmbeddings":[{"scale":0.0078125,"data":"gKXK7w=="})")) << json.toStdString();
    // Moments that repeat a keyframe's embedding share its bytes after loading.
    const VideoVisualIndexEntry &a = back.entries["/v/a.mp4"];
    EXPECT_EQ(a.frameMoments[0].clipEmbedding->data.constData(), a.clipEmbeddings[0].data.constData());
}

// Each row: the v4 text (null: no file), the v3 text, and what loads.
TEST(VisualIndexFile, LoadsWhatCanBeReadAndFallsBackToTheEarlierVersion)
{
    const VideoVisualIndexEntry good = entry("/v/good.mp4");
    const QByteArray goodJson = entryJson(good);
    VideoVisualIndexEntry v3Entry = entry("/v/old.mp4");
    v3Entry.frameMoments.clear();
    QByteArray v3Json = entryJson(v3Entry);
    v3Json.replace(R"("frameMoments":[],)", "");
    const QByteArray v3File = "{" + v3Json + "}";

    const auto without = [&](const char *member) {
        VideoVisualIndexEntry e = entry("/v/bad.mp4");
        QByteArray j = entryJson(e);
        const qsizetype at = j.indexOf(QByteArray("\"") + member + "\"");
        const qsizetype end = j.indexOf(",\"", at + 1);
        return j.remove(at, end - at + 1);
    };
    QByteArray badMoments = entryJson(entry("/v/moments.mp4"));
    badMoments.replace(R"("ocrText":""})", R"("text":""})");
    QByteArray otherDims = entryJson(entry("/v/dims.mp4", 512));
    QByteArray badBase64 = entryJson(entry("/v/b64.mp4"));
    badBase64.replace("gKXK7w==", "gK!K7w==");
    QByteArray wrongKey = entryJson(entry("/v/x.mp4"));
    wrongKey.replace("\"/v/x.mp4\":", "\"/v/y.mp4\":");
    const QByteArray full = "{" + goodJson + "," + otherDims + "}";
    // Numbers no embedding or label can have, and embeddings no one model made: each such
    // record is left out, and costs only itself.
    const auto with = [&](const char *from, const char *to) {
        return "{" + entryJson(entry("/v/bad.mp4")).replace(from, to) + "," + goodJson + "}";
    };
    VideoVisualIndexEntry twoLengths = entry("/v/bad.mp4");
    twoLengths.clipEmbeddings[1].data.removeLast();
    twoLengths.frameMoments[2].clipEmbedding = twoLengths.clipEmbeddings[1];
    VideoVisualIndexEntry emptyEmbedding = entry("/v/bad.mp4");
    emptyEmbedding.clipEmbeddings[1].data.clear();
    emptyEmbedding.frameMoments[2].clipEmbedding = emptyEmbedding.clipEmbeddings[1];

    struct Row {
        const char *name;
        std::optional<QByteArray> v4;
        QStringList ids;
        int skipped;
        bool damaged;
    };
    const QList<Row> rows{
        {"current file", full, {"/v/good.mp4", "/v/dims.mp4"}, 0, false},
        {"no current file", std::nullopt, {"/v/old.mp4"}, 0, false},
        {"empty object", QByteArray("{ }"), {"/v/old.mp4"}, 0, false},
        {"one record lacks captionTR", "{" + without("captionTR") + "," + goodJson + "}", {"/v/good.mp4"}, 1, false},
        {"one record has a mistyped size", "{" + goodJson + "," + entryJson(entry("/v/s.mp4")).replace("123456789012", "\"1\"") + "}", {"/v/good.mp4"}, 1, false},
        {"bad Base64 and a key that is not the id", "{" + badBase64 + "," + goodJson + "," + wrongKey + "}", {"/v/good.mp4"}, 2, false},
        {"a scale past any float", with("\"scale\":0.01", "\"scale\":1e39"), {"/v/good.mp4"}, 1, false},
        {"a scale above 1", with("\"scale\":0.01", "\"scale\":2"), {"/v/good.mp4"}, 1, false},
        {"a negative scale", with("\"scale\":0.01", "\"scale\":-0.01"), {"/v/good.mp4"}, 1, false},
        {"a confidence past any float", with("\"dog\":0.875", "\"dog\":1e39"), {"/v/good.mp4"}, 1, false},
        {"a confidence above 1", with("\"dog\":0.875", "\"dog\":97"), {"/v/good.mp4"}, 1, false},
        {"a negative confidence", with("\"dog\":0.875", "\"dog\":-0.5"), {"/v/good.mp4"}, 1, false},
        {"embeddings of two lengths", "{" + entryJson(twoLengths) + "," + goodJson + "}", {"/v/good.mp4"}, 1, false},
        {"an empty embedding", "{" + entryJson(emptyEmbedding) + "," + goodJson + "}", {"/v/good.mp4"}, 1, false},
        {"malformed moments cost only the moments", "{" + badMoments + "}", {"/v/moments.mp4"}, 0, false},
        {"every record bad", "{" + without("detectedFaces") + "}", {"/v/old.mp4"}, 1, false},
        {"cut short", full.left(full.size() - 40), {"/v/good.mp4"}, 0, true},
        {"cut inside a key", full.left(goodJson.size() + 6), {"/v/good.mp4"}, 0, true},
        {"not JSON", QByteArray("\x00\x01garbage", 9), {"/v/old.mp4"}, 0, true},
        {"an array", QByteArray("[]"), {"/v/old.mp4"}, 0, true},
        {"trailing text", "{" + goodJson + "}x", {"/v/good.mp4"}, 0, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(writeFile(dir.path() + "/visual_index_v3.json", v3File));
        if (row.v4) {
            ASSERT_TRUE(writeFile(dir.path() + "/visual_index_v4.json", *row.v4));
        }
        VisualSearchService service(dir.path());
        const VisualIndexMap index = service.indexByVideoID();
        QStringList ids = index.keys();
        QStringList expected = row.ids;
        ids.sort();
        expected.sort();
        EXPECT_EQ(ids.join(' ').toStdString(), expected.join(' ').toStdString());
        EXPECT_EQ(service.skippedEntryCount(), row.skipped);
        const VisualIndexFile::LoadResult file = VisualIndexFile::load(dir.path() + "/visual_index_v4.json");
        EXPECT_EQ(file.damaged, row.damaged);
        if (index.contains("/v/good.mp4")) {
            EXPECT_EQ(index["/v/good.mp4"], good);
        }
        if (index.contains("/v/old.mp4")) {
            EXPECT_EQ(index["/v/old.mp4"], v3Entry);
        }
        if (index.contains("/v/moments.mp4")) {
            EXPECT_TRUE(index["/v/moments.mp4"].frameMoments.isEmpty());
            EXPECT_EQ(index["/v/moments.mp4"].clipEmbeddings, entry("/v/moments.mp4").clipEmbeddings);
        }
        if (index.contains("/v/dims.mp4")) {
            EXPECT_EQ(index["/v/dims.mp4"].clipEmbeddings.value(0).data.size(), 512);
        }
    }
}

TEST(VisualSearchService, KeepsAnUnreadableFileAsideBeforeTheFirstSave)
{
    const QList<std::pair<const char *, QByteArray>> damaged{
        {"cut short", "{" + entryJson(entry("/v/a.mp4")).chopped(30)},
        {"one bad record", "{" + entryJson(entry("/v/a.mp4")) + "," + entryJson(entry("/v/b.mp4")).replace("\"detectedFaces\":2", "\"detectedFaces\":2.5") + "}"},
    };
    for (const auto &[name, bytes] : damaged) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const QString path = dir.path() + "/visual_index_v4.json";
        ASSERT_TRUE(writeFile(path, bytes));
        VisualSearchService service(dir.path());
        service.upsert({entry("/v/new.mp4")});
        service.save(service.indexByVideoID());
        service.waitForSaves();
        const QString aside = service.movedAsidePath();
        ASSERT_FALSE(aside.isEmpty());
        EXPECT_TRUE(QFileInfo(aside).fileName().startsWith("visual_index_v4.damaged-" + QDate::currentDate().toString("yyyyMMdd")))
            << aside.toStdString();
        EXPECT_EQ(readFile(aside), bytes);
        EXPECT_TRUE(VisualIndexFile::load(path).entries.contains("/v/new.mp4"));
        // Only once: later saves replace the now sound file.
        service.save(service.indexByVideoID());
        service.waitForSaves();
        EXPECT_EQ(QDir(dir.path()).entryList({"*.damaged-*"}).size(), 1);
    }

    // A sound file is simply replaced.
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.path() + "/visual_index_v4.json", "{" + entryJson(entry("/v/a.mp4")) + "}"));
    VisualSearchService service(dir.path());
    service.save(service.indexByVideoID());
    service.waitForSaves();
    EXPECT_TRUE(service.movedAsidePath().isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"visual_index_v4.json"});
}

TEST(VisualSearchService, UpsertKeepsTheLaterEntryAndSavesEndWithTheNewestSnapshot)
{
    QTemporaryDir dir;
    VisualSearchService service(dir.path());
    VideoVisualIndexEntry first = entry("/v/a.mp4"), second = entry("/v/a.mp4");
    second.captionTR = "ikinci";
    service.upsert({first, second});
    EXPECT_EQ(service.indexByVideoID().value("/v/a.mp4").captionTR, "ikinci");

    // Snapshots of growing size submitted back to back: the file holds the last one.
    for (int round = 1; round <= 20; ++round) {
        VisualIndexMap snapshot;
        for (int i = 0; i < round * 200; ++i)
            snapshot.insert(QString("/v/%1.mp4").arg(i), entry(QString("/v/%1.mp4").arg(i), 64));
        service.save(snapshot);
    }
    service.waitForSaves();
    const VisualIndexFile::LoadResult file = VisualIndexFile::load(service.cacheFilePath());
    EXPECT_FALSE(file.lostAnything());
    EXPECT_EQ(file.entries.size(), 20 * 200);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"visual_index_v4.json"});
}

TEST(VisualIndexEntry, TopLabels)
{
    struct Row {
        QHash<QString, float> labels;
        QStringList expected;
    };
    QHash<QString, float> twelve;
    QStringList eightBest;
    for (int i = 0; i < 12; ++i) {
        twelve.insert(QString("label_%1").arg(i), 0.3f + 0.05f * float(i));
        if (i >= 4)
            eightBest.prepend(QString("label %1").arg(i));
    }
    const QList<Row> rows{
        {{{"dog", 0.9f}, {"golden_retriever", 0.5f}, {"cat", 0.21f}}, {"dog", "golden retriever"}},
        {{{"edge", 0.22f}, {"below", 0.2199f}}, {"edge"}},
        {twelve, eightBest},
        {{}, {}},
    };
    for (const Row &row : rows) {
        VideoVisualIndexEntry e;
        e.labelsEN = row.labels;
        EXPECT_EQ(e.topLabels(), row.expected);
    }
}

// The application state copies the index the service loaded from the data folder.
TEST(VisualSearchService, TheApplicationStateReadsTheLoadedIndex)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Lumenkite";
    QDir().mkpath(folder);
    const VideoVisualIndexEntry a = entry("/v/a.mp4");
    ASSERT_TRUE(writeFile(folder + "/visual_index_v4.json", "{" + entryJson(a) + "," +
                                                                entryJson(entry("/v/bad.mp4")).replace("\"fileSize\"", "\"size\"") + "}"));
    AppState::Services services;
    services.onDeviceSearch = std::make_shared<AppOnDeviceSearchServices>();
    AppState state(services);
    ASSERT_TRUE(lktest::waitFor([&] { return !state.aiIndexEntries().isEmpty(); }));
    EXPECT_EQ(state.aiIndexEntries(), (VisualIndexMap{{"/v/a.mp4", a}}));
    EXPECT_EQ(&VisualSearchService::shared(), &VisualSearchService::shared());
    EXPECT_EQ(VisualSearchService::shared().cacheFilePath(), folder + "/visual_index_v4.json");
}
