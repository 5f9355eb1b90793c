#include "library/FileNames.h"
#include "library/AppState.h"
#include "library/BookmarkService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <cmath>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>

namespace {

QSettings appSettings() { return QSettings(QStringLiteral("Lumenkite"), QStringLiteral("Lumenkite")); }

QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Lumenkite";
}
QString cacheFile() { return dataFolder() + "/scope_cache_v1.json"; }

VideoFile mem(const QString &path, qint64 size = 1000, const QDateTime &modified = QDateTime::currentDateTimeUtc())
{
    return *VideoFile::make(path, size, modified, std::nullopt);
}

// Stands in for the scanner: the test hands the events over itself.
struct FakeScanner {
    VideoScanner::EventHandler deliver;
    int starts = 0;
    ScanScope scope;
    bool photos = true;

    AppState::ScanStarter starter()
    {
        return [this](const ScanScope &s, bool p, QObject *, VideoScanner::EventHandler onEvent) {
            deliver = std::move(onEvent);
            scope = s;
            photos = p;
            ++starts;
            return ScanJob();
        };
    }
    void batch(const QList<VideoFile> &videos, std::optional<QString> path = std::nullopt)
    {
        deliver(ScanEvent::batch(videos, path));
    }
    void complete() { deliver(ScanEvent::completed(0, {})); }
};

class AppStateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        appSettings().clear();
        appSettings().sync();
        QDir(dataFolder()).removeRecursively();
        static int counter = 0;
        root = lktest::sandboxRoot() + "/lib" + QString::number(++counter);
        QDir().mkpath(root);
    }

    std::unique_ptr<AppState> makeState(AppState::Services services = {})
    {
        auto s = std::make_unique<AppState>(std::move(services));
        s->setScanStarter(scanner.starter());
        return s;
    }

    // A real file of `size` bytes below the test's folder.
    VideoFile disk(const QString &relative, qint64 size = 1000)
    {
        const QString path = root + "/" + relative;
        EXPECT_TRUE(lktest::writeSizedFile(path, size));
        return *VideoFile::fromFile(path);
    }

    ScanScope custom() const { return ScanScope::customFolder(QUrl::fromLocalFile(root)); }

    // Puts `videos` into the state as the completed scan of the custom scope.
    void scanIn(AppState &s, const QList<VideoFile> &videos)
    {
        s.selectScope(custom());
        if (!videos.isEmpty())
            scanner.batch(videos);
        scanner.complete();
    }

    static QStringList ids(const QList<VideoFile> &videos)
    {
        QStringList out;
        for (const VideoFile &v : videos)
            out.append(v.id);
        return out;
    }
    static QStringList videoRowIDs(const AppState &s)
    {
        QStringList out;
        for (const TreeRow &r : s.flattenedRows())
            if (r.isVideo())
                out.append(r.video().id);
        return out;
    }

    QString root;
    FakeScanner scanner;
};

// ---- fields, hooks, start-up ----

TEST_F(AppStateTest, FreshStartDefaults)
{
    auto s = makeState();
    EXPECT_EQ(s->activeScope(), ScanScope::homeDirectory());
    EXPECT_TRUE(s->allVideos().isEmpty());
    EXPECT_TRUE(s->scopeCache().isEmpty());
    EXPECT_TRUE(s->showOnboarding());
    EXPECT_TRUE(s->showInspector());
    EXPECT_TRUE(s->includePhotosLibrary());
    EXPECT_TRUE(s->compactSingleChildFolders());
    EXPECT_EQ(s->aiEngineStatus(), OnDeviceAIEngineStatus::appleVisionOnly());
    EXPECT_FALSE(s->isMobileCLIPInstalled());
    EXPECT_EQ(scanner.starts, 0);
    EXPECT_EQ(s->scopeCacheURL().toLocalFile(), cacheFile());

    s->completeOnboarding();
    EXPECT_FALSE(s->showOnboarding());
    EXPECT_FALSE(makeState()->showOnboarding());
}

TEST_F(AppStateTest, EqualWriteRunsTheHookButNotifiesNobody)
{
    auto s = makeState();
    scanIn(*s, {mem(root + "/a.mp4")});

    QSignalSpy sortChanged(s.get(), &AppState::sortOrderChanged);
    QSignalSpy compactChanged(s.get(), &AppState::compactSingleChildFoldersChanged);
    QSignalSpy languageChanged(s.get(), &AppState::languageChanged);
    QSignalSpy rebuilt(s.get(), &AppState::treeRebuilt);

    s->setSortOrder(s->sortOrder());
    s->setCompactSingleChildFolders(s->compactSingleChildFolders());
    EXPECT_EQ(rebuilt.count(), 2);
    EXPECT_EQ(sortChanged.count(), 0);
    EXPECT_EQ(compactChanged.count(), 0);

    appSettings().remove("Lumenkite.language");
    s->setLanguage(s->language());
    EXPECT_EQ(languageChanged.count(), 0);
    EXPECT_EQ(appSettings().value("Lumenkite.language").toString(), AppLanguageInfo::rawValue(s->language()));

    s->setSortOrder(VideoSortOrder::sizeDesc);
    EXPECT_EQ(sortChanged.count(), 1);
    EXPECT_EQ(rebuilt.count(), 3);

    // A field without a hook notifies only on a change.
    QSignalSpy inspector(s.get(), &AppState::showInspectorChanged);
    s->setShowInspector(true);
    s->setShowInspector(false);
    s->setShowInspector(false);
    EXPECT_EQ(inspector.count(), 1);
}

TEST_F(AppStateTest, FormatETA)
{
    const std::pair<double, const char *> cases[] = {
        {0, "~1s"}, {0.4, "~1s"}, {42, "~42s"}, {59.4, "~59s"}, {59.5, "~1m"}, {130, "~2m"},
        {131, "~2m 11s"}, {600, "~10m"}, {610, "~10m"}, {611, "~10m 11s"}, {3599, "~59m 59s"},
        {3600, "~1h 0m"}, {3725, "~1h 2m"},
    };
    for (auto [seconds, text] : cases)
        EXPECT_EQ(AppState::formatETA(seconds), QString(text)) << seconds;
}

TEST_F(AppStateTest, RecentDestinationsSkipMissingFoldersAtStartUp)
{
    QDir().mkpath(root + "/kept");
    appSettings().setValue("Lumenkite.recentMoveDestinations",
                           QStringList{root + "/gone", root + "/kept"});
    auto s = makeState();
    ASSERT_EQ(s->recentMoveDestinations().size(), 1);
    EXPECT_EQ(s->recentMoveDestinations()[0].toLocalFile(), root + "/kept");
    // The stored list is not rewritten.
    EXPECT_EQ(appSettings().value("Lumenkite.recentMoveDestinations").toStringList().size(), 2);
}

TEST_F(AppStateTest, ToastsReplaceEachOtherAndExpire)
{
    auto s = makeState();
    s->showToast("first");
    const QUuid first = s->activeToast()->id;
    QTest::qWait(2000);
    s->showToast("second");
    ASSERT_TRUE(s->activeToast());
    EXPECT_EQ(s->activeToast()->message, "second");
    EXPECT_NE(s->activeToast()->id, first);
    QElapsedTimer clock;
    clock.start();
    // The first toast's delay would end 1.5 s from now; it must not clear the second.
    QTest::qWait(2500);
    ASSERT_TRUE(s->activeToast());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !s->activeToast(); }, 3000));
    EXPECT_GE(clock.elapsed(), 3400);
    EXPECT_LE(clock.elapsed(), 4500);

    s->showToast("with undo", false, true);
    QTest::qWait(4000);
    EXPECT_TRUE(s->activeToast());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !s->activeToast(); }, 3500));
}

// ---- scopes, scanning, cache ----

TEST_F(AppStateTest, CacheHitShowsTheScopeWithoutScanning)
{
    auto s = makeState();
    const QList<VideoFile> videos{mem(root + "/b.mp4"), mem(root + "/a.mp4"), mem(root + "/x/c.mkv")};
    scanIn(*s, videos);
    ASSERT_EQ(scanner.starts, 1);
    const QString key = "scope:custom:" + root + "#photos=1";
    EXPECT_EQ(s->scopeCacheKey(), key);
    ASSERT_TRUE(s->scopeCache().contains(key));
    EXPECT_EQ(s->scopeCache()[key].videos, videos);
    EXPECT_FALSE(s->isShowingCachedScan());

    // Another scope scans; coming back is served from the cache.
    QDir().mkpath(root + "/other");
    s->selectScope(ScanScope::customFolder(QUrl::fromLocalFile(root + "/other")));
    EXPECT_EQ(scanner.starts, 2);
    EXPECT_TRUE(s->allVideos().isEmpty());
    EXPECT_TRUE(s->isScanning());

    s->selectScope(custom());
    EXPECT_EQ(scanner.starts, 2);
    EXPECT_FALSE(s->isScanning());
    EXPECT_TRUE(s->isShowingCachedScan());
    EXPECT_EQ(s->allVideos(), videos);
    EXPECT_FALSE(s->expandedFolderIDs().isEmpty());
    EXPECT_EQ(s->primarySelectedVideoID(), videoRowIDs(*s).first());

    // The same scope again with videos shown does nothing.
    s->selectScope(custom());
    EXPECT_EQ(scanner.starts, 2);

    // The other Photos setting is another key: not cached yet, so it scans.
    s->setIncludePhotosLibrary(false);
    EXPECT_EQ(scanner.starts, 3);
    EXPECT_FALSE(scanner.photos);
    EXPECT_EQ(s->scopeCacheKey(), "scope:custom:" + root + "#photos=0");
    scanner.complete();
    s->setIncludePhotosLibrary(true);
    EXPECT_EQ(scanner.starts, 3);
    EXPECT_EQ(s->allVideos(), videos);
}

TEST_F(AppStateTest, ScanEventsAreMergedByID)
{
    auto s = makeState();
    s->selectScope(custom());
    const VideoFile a = mem(root + "/a.mp4");
    scanner.batch({a, a}, root);
    EXPECT_EQ(s->allVideos().size(), 1);
    EXPECT_EQ(s->scanStatusPath(), root);
    scanner.batch({a}, std::nullopt);
    EXPECT_EQ(s->allVideos().size(), 1);
    EXPECT_EQ(s->scanStatusPath(), std::nullopt);

    scanner.deliver(ScanEvent::permissionDenied("Guest", "/x/Guest"));
    scanner.deliver(ScanEvent::permissionDenied("Guest", "/y/Guest"));
    scanner.deliver(ScanEvent::permissionDenied("Alpha", "/y/Alpha"));
    // A folder that failed for another reason joins the same list, with its path too.
    scanner.deliver(ScanEvent::folderUnreadable("Broken", "/z/Broken", "Input/output error"));
    scanner.deliver(ScanEvent::folderUnreadable("Broken", "/w/Broken", "Input/output error"));
    // One entry per name, in name order, each the whole path of the folder.
    EXPECT_EQ(s->deniedFolders(), (QStringList{"/y/Alpha", "/z/Broken", "/x/Guest"}));
    EXPECT_TRUE(s->activeToast() && s->activeToast()->message.contains("/z/Broken"));
    scanner.complete();
    EXPECT_EQ(s->primarySelectedVideoID(), a.id);

    // "Guest" is not listed when the same results come from the cache.
    s->selectScope(ScanScope::homeDirectory());
    s->selectScope(custom());
    EXPECT_TRUE(s->isShowingCachedScan());
    EXPECT_EQ(s->deniedFolders(), (QStringList{"/y/Alpha", "/z/Broken"}));
}

TEST_F(AppStateTest, EventsAfterTheStateIsGoneAreDropped)
{
    auto s = makeState();
    s->selectScope(custom());
    scanner.batch({mem(root + "/a.mp4")});
    const TaskHandle task = s->scanTask();
    s.reset();
    EXPECT_TRUE(task.isCancelled());
    // An event source that ignores the cancelled job must not reach the destroyed state.
    scanner.batch({mem(root + "/b.mp4")});
    scanner.complete();
}

TEST_F(AppStateTest, StoppedOrFailedScanKeepsVideosAndCachesNothing)
{
    auto s = makeState();
    s->selectScope(custom());
    scanner.batch({mem(root + "/a.mp4")});
    s->stopScan();
    EXPECT_FALSE(s->isScanning());
    EXPECT_EQ(s->allVideos().size(), 1);
    EXPECT_TRUE(s->scopeCache().isEmpty());
    EXPECT_FALSE(s->activeToast());
    // Late events of a stopped scan are not applied.
    scanner.batch({mem(root + "/b.mp4")});
    EXPECT_EQ(s->allVideos().size(), 1);

    s->startScan();
    scanner.batch({mem(root + "/c.mp4")});
    scanner.deliver(ScanEvent::failed("disk went away"));
    EXPECT_FALSE(s->isScanning());
    EXPECT_EQ(s->allVideos().size(), 1);
    ASSERT_TRUE(s->activeToast());
    EXPECT_EQ(s->activeToast()->message, "disk went away");
    EXPECT_TRUE(s->activeToast()->isError);
    EXPECT_TRUE(s->scopeCache().isEmpty());
}

TEST_F(AppStateTest, CacheFileRoundTripsThroughANewState)
{
    {
        auto s = makeState();
        VideoFile odd = mem(root + "/spa ce/ü \"q\" #1%.mp4", 77, fromReferenceSeconds(1234.5));
        odd.createdDate = fromReferenceSeconds(-5.25);
        scanIn(*s, {odd, mem(root + "/b.mov")});
        s->waitForCacheWrites();
    }
    auto again = makeState();
    const QString key = "scope:custom:" + root + "#photos=1";
    ASSERT_TRUE(again->scopeCache().contains(key));
    const CachedScopeScan &record = again->scopeCache()[key];
    ASSERT_EQ(record.videos.size(), 2);
    EXPECT_EQ(record.videos[0].name, "ü \"q\" #1%.mp4");
    EXPECT_EQ(record.videos[0].url(), QUrl::fromLocalFile(root + "/spa ce/ü \"q\" #1%.mp4"));
    EXPECT_EQ(record.videos[0].createdDate, fromReferenceSeconds(-5.25));
    EXPECT_EQ(record.videos[0].modifiedDate, fromReferenceSeconds(1234.5));
    EXPECT_EQ(record.videos[1].url(), QUrl::fromLocalFile(root + "/b.mov"));
}

TEST_F(AppStateTest, BrokenCacheFileStartsEmptyAndIsReplaced)
{
    const QByteArray good = ScopeCacheCodec::encode(
        {{"k", CachedScopeScan{"k", {mem("/v/a.mp4")}, {"x"}, fromReferenceSeconds(10)}}});
    ASSERT_TRUE(ScopeCacheCodec::decode(good));
    QByteArray noDate = good;
    noDate.replace(",\"scannedAt\":10", "");
    QByteArray badSize = good;
    badSize.replace("\"fileSize\":1000", "\"fileSize\":\"1000\"");
    const QByteArray cases[] = {
        "", "not json", good.left(good.size() / 2), good.left(good.size() - 1), noDate, badSize,
        "[]", "{\"k\":[]}", good + "{}", QByteArray(1000, '\0'),
    };
    for (const QByteArray &bytes : cases) {
        QDir().mkpath(dataFolder());
        QFile f(cacheFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        auto s = makeState();
        EXPECT_TRUE(s->scopeCache().isEmpty()) << bytes.left(40).toStdString();
        scanIn(*s, {mem(root + "/a.mp4")});
        s->waitForCacheWrites();
        QFile in(cacheFile());
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        const auto decoded = ScopeCacheCodec::decode(in.readAll());
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->size(), 1);
    }
    // Unknown members are ignored.
    QByteArray extra = good;
    extra.replace("{\"scopeKey\"", "{\"future\":[1,{\"a\":null}],\"scopeKey\"");
    extra.replace("{\"id\"", "{\"thumb\":{\"w\":1},\"id\"");
    const auto decoded = ScopeCacheCodec::decode(extra);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->value("k").videos.size(), 1);
}

TEST_F(AppStateTest, CacheReaderAcceptsAnyValidJsonForm)
{
    // Another writer's member order, white space, escapes and a null creation date.
    const QByteArray text = R"( {
      "k\u0031" : { "scannedAt" : 1.5e1 , "deniedFolders" : [ "a\"b", "\u00fc\ud83d\ude00" ],
        "videos" : [ { "fileSize" : 2e3, "modifiedDate" : -0.5, "createdDate" : null,
                       "directoryPath" : "\/v", "fileExtension" : "MP4", "name" : "a\tb.mp4",
                       "url" : "file:///v/a%09b.mp4", "id" : "/v/a\tb.mp4" } ],
        "scopeKey" : "k1" } } )";
    const auto decoded = ScopeCacheCodec::decode(text);
    ASSERT_TRUE(decoded);
    const CachedScopeScan record = decoded->value("k1");
    EXPECT_EQ(record.scannedAt, fromReferenceSeconds(15));
    EXPECT_EQ(record.deniedFolders, (QStringList{"a\"b", QString::fromUtf8("\u00fc\U0001F600")}));
    ASSERT_EQ(record.videos.size(), 1);
    const VideoFile &v = record.videos[0];
    EXPECT_EQ(v.id, "/v/a\tb.mp4");
    EXPECT_EQ(v.directoryPath, "/v");
    EXPECT_EQ(v.fileSize, 2000);
    EXPECT_FALSE(v.createdDate);
    EXPECT_EQ(v.url().toLocalFile(), "/v/a\tb.mp4");
    // The writer's text reads back to the same values.
    EXPECT_EQ(ScopeCacheCodec::decode(ScopeCacheCodec::encode(*decoded)), decoded);

    const char *invalid[] = {
        R"({"k":{"scopeKey":"k","videos":[],"deniedFolders":[],"scannedAt":01}})",
        R"({"k":{"scopeKey":"k","videos":[],"deniedFolders":[],"scannedAt":1,}})",
        R"({"k":{"scopeKey":"k","videos":[],"deniedFolders":["\ud800"],"scannedAt":1}})",
        "{\"k\":{\"scopeKey\":\"a\nb\",\"videos\":[],\"deniedFolders\":[],\"scannedAt\":1}}",
    };
    for (const char *bad : invalid)
        EXPECT_FALSE(ScopeCacheCodec::decode(bad)) << bad;
}

TEST_F(AppStateTest, CacheReaderDropsEntriesWhoseFieldsDisagreeWithTheirID)
{
    // One record holding a good entry and one entry under test, in the file's own form.
    const auto fileWith = [](const QByteArray &entry) {
        return QByteArray(R"({"k":{"scopeKey":"k","deniedFolders":[],"scannedAt":1,"videos":[)") +
               R"({"id":"/v/good.mp4","url":"file:///v/good.mp4","name":"good.mp4","fileExtension":"MP4",)" +
               R"("directoryPath":"/v","fileSize":5,"modifiedDate":0},)" + entry + "]}}";
    };
    const auto entry = [](const char *id, const char *url, const char *name, const char *folder) {
        return QByteArray("{\"id\":\"") + id + "\",\"url\":\"" + url + "\",\"name\":\"" + name +
               "\",\"fileExtension\":\"MP4\",\"directoryPath\":\"" + folder +
               "\",\"fileSize\":5,\"modifiedDate\":0}";
    };
    struct Case { QByteArray entry; bool kept; };
    const Case cases[] = {
        {entry("/v/x.mp4", "file:///v/x.mp4", "x.mp4", "/v"), true},
        {entry("/x.mp4", "file:///x.mp4", "x.mp4", "/"), true},
        {entry("/v/a b.mp4", "file:///v/a%20b.mp4", "a b.mp4", "/v"), true},
        // A name with a slash would place a moved file outside the chosen folder.
        {entry("/v/x.mp4", "file:///v/x.mp4", "../../etc/x.mp4", "/v"), false},
        {entry("/v/x.mp4", "file:///v/x.mp4", "y/x.mp4", "/v"), false},
        {entry("/v/x.mp4", "file:///v/x.mp4", "other.mp4", "/v"), false},
        {entry("/v/x.mp4", "file:///v/x.mp4", "", "/v"), false},
        {entry("/v/x.mp4", "file:///v/x.mp4", "x.mp4", "/w"), false},
        {entry("/v/x.mp4", "file:///v/x.mp4", "x.mp4", "/v/"), false},
        // The URL is what trash and delete act on.
        {entry("/v/x.mp4", "file:///etc/passwd", "x.mp4", "/v"), false},
        {entry("/v/x.mp4", "https://example.com/v/x.mp4", "x.mp4", "/v"), false},
        {entry("/v/x.mp4", "file://host/v/x.mp4", "x.mp4", "/v"), false},
        // Ids that are not standardized paths.
        {entry("v/x.mp4", "file:v/x.mp4", "x.mp4", "v"), false},
        {entry("/v/../x.mp4", "file:///v/../x.mp4", "x.mp4", "/v/.."), false},
        {entry("/v/./x.mp4", "file:///v/./x.mp4", "x.mp4", "/v/."), false},
        {entry("/v//x.mp4", "file:///v//x.mp4", "x.mp4", "/v/"), false},
        {entry("/v/x.mp4/", "file:///v/x.mp4/", "", "/v/x.mp4"), false},
        {entry("/", "file:///", "", "/"), false},
        // A NUL would cut the path short in a system call.
        {entry("/v/x.mp4\\u0000.txt", "file:///v/x.mp4%00.txt", "x.mp4\\u0000.txt", "/v"), false},
    };
    for (const Case &c : cases) {
        const auto decoded = ScopeCacheCodec::decode(fileWith(c.entry));
        ASSERT_TRUE(decoded) << c.entry.toStdString();
        const QList<VideoFile> videos = decoded->value("k").videos;
        ASSERT_FALSE(videos.isEmpty());
        EXPECT_EQ(videos.first().id, "/v/good.mp4");
        EXPECT_EQ(videos.size(), c.kept ? 2 : 1) << c.entry.toStdString();
    }
}

TEST_F(AppStateTest, CacheReaderRefusesTextThatIsNotUTF8OrOutOfRange)
{
    const auto withName = [](const QByteArray &name) {
        return QByteArray(R"({"k":{"scopeKey":"k","deniedFolders":[],"scannedAt":1,"videos":[)") +
               R"({"id":"/v/)" + name + R"(","url":"file:///v/x","name":")" + name +
               R"(","fileExtension":"MP4","directoryPath":"/v","fileSize":5,"modifiedDate":0}]}})";
    };
    // Well-formed multi-byte text reads, also next to an escape.
    for (const QByteArray &good : {QByteArray("\xc3\xbc.mp4"), QByteArray("\xe6\x97\xa5\\t.mp4"),
                                  QByteArray("\xf0\x9f\x98\x80.mp4")})
        EXPECT_TRUE(ScopeCacheCodec::decode(withName(good))) << good.toStdString();
    // Stray, cut-short, overlong, surrogate and beyond-range sequences fail the file, with
    // or without an escape in the same string.
    const QByteArray bad[] = {
        "\xff.mp4", "\x80.mp4", "\xc3.mp4", "\xc0\xaf.mp4", "\xe0\x80\xaf.mp4", "\xed\xa0\x80.mp4",
        "\xf4\x90\x80\x80.mp4", "\xf8\x88\x80\x80\x80.mp4", "a\\t\xff.mp4", "\xe6\x97",
    };
    for (const QByteArray &name : bad)
        EXPECT_FALSE(ScopeCacheCodec::decode(withName(name))) << name.toHex().toStdString();

    const auto withSize = [](const QByteArray &size) {
        return QByteArray(R"({"k":{"scopeKey":"k","deniedFolders":[],"scannedAt":1,"videos":[)") +
               R"({"id":"/v/x.mp4","url":"file:///v/x.mp4","name":"x.mp4","fileExtension":"MP4",)" +
               R"("directoryPath":"/v","fileSize":)" + size + R"(,"modifiedDate":0}]}})";
    };
    struct SizeCase { QByteArray text; std::optional<qint64> value; };
    const SizeCase sizes[] = {
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {"12345678901234567", 12345678901234567},
        {"4.0e3", 4000},
        {"9223372036854775808", std::nullopt},
        {"1e19", std::nullopt},
        {"1e300", std::nullopt},
        {"-1e300", std::nullopt},
        {"1e400", std::nullopt},
        {"1.5", std::nullopt},
    };
    // A size out of range leaves out its entry.
    for (const SizeCase &c : sizes) {
        const auto decoded = ScopeCacheCodec::decode(withSize(c.text));
        ASSERT_TRUE(decoded) << c.text.toStdString();
        ASSERT_EQ(decoded->value("k").videos.size(), c.value ? 1 : 0) << c.text.toStdString();
        if (c.value) {
            EXPECT_EQ(decoded->value("k").videos.value(0).fileSize, *c.value) << c.text.toStdString();
        }
    }

    // Deeply nested unknown members fail the file instead of exhausting the stack.
    const int depth = 200000;
    const QByteArray nested = QByteArray(R"({"k":{"extra":)") + QByteArray(depth, '[') + QByteArray(depth, ']') +
                              R"(,"scopeKey":"k","videos":[],"deniedFolders":[],"scannedAt":1}})";
    EXPECT_FALSE(ScopeCacheCodec::decode(nested));
    const QByteArray shallow = QByteArray(R"({"k":{"extra":)") + QByteArray(100, '[') + QByteArray(100, ']') +
                               R"(,"scopeKey":"k","videos":[],"deniedFolders":[],"scannedAt":1}})";
    EXPECT_TRUE(ScopeCacheCodec::decode(shallow));
}

TEST_F(AppStateTest, CacheWriterKeepsTheNewestSnapshot)
{
    const QString path = root + "/cache.json";
    ScopeCacheWriter writer(path);
    QList<VideoFile> videos;
    for (int i = 0; i < 20000; ++i)
        videos.append(mem(QString("/v/%1.mp4").arg(i)));
    for (int round = 1; round <= 30; ++round) {
        ScopeCache snapshot;
        snapshot.insert("k", CachedScopeScan{"k", videos.mid(0, round * 500), {}, fromReferenceSeconds(round)});
        writer.submit(snapshot);
    }
    writer.waitForIdle();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const auto decoded = ScopeCacheCodec::decode(f.readAll());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->value("k").videos.size(), 30 * 500);
    EXPECT_GE(writer.writesDone(), 1);
    EXPECT_LT(writer.writesDone(), 30); // queued snapshots were coalesced
    EXPECT_FALSE(QFileInfo::exists(path + ".tmp"));
}

TEST_F(AppStateTest, ScanBatchesAreCoalescedIntoFewRebuilds)
{
    auto s = makeState();
    s->selectScope(custom());
    QSignalSpy rebuilt(s.get(), &AppState::treeRebuilt);
    for (int b = 0; b < 50; ++b) {
        QList<VideoFile> batch;
        for (int i = 0; i < 40; ++i)
            batch.append(mem(QString("%1/d%2/v%3.mp4").arg(root).arg(b % 7).arg(b * 40 + i)));
        scanner.batch(batch);
    }
    EXPECT_EQ(s->allVideos().size(), 2000);
    EXPECT_LE(rebuilt.count(), 1);
    // The pending rebuild follows within the interval.
    EXPECT_TRUE(QTest::qWaitFor([&] { return rebuilt.count() == 2; }, 1000));
    EXPECT_EQ(s->filteredVideos().size(), 2000);
    const int before = rebuilt.count();
    scanner.complete();
    EXPECT_EQ(rebuilt.count(), before + 1);
    QTest::qWait(200);
    EXPECT_EQ(rebuilt.count(), before + 1);
}

// The first batch shows a corner of the final tree (a compacted chain whose id the final
// tree lacks). After the scan the tree must be opened by the rule for the whole library and
// a video selected, the same as when the scope comes from the cache; a rescan keeps what the
// user had. Both sizes: the small tree is built at once, the large one on a worker.
TEST_F(AppStateTest, FirstScanOpensTheTreeAsTheCacheDoesAndRescanKeepsTheUsersView)
{
    for (const int count : {60, AppState::kBackgroundRebuildMinimum + 500}) {
        SCOPED_TRACE(count);
        auto s = makeState();
        QList<VideoFile> videos{mem(root + "/deep/chain/first.mp4")};
        for (int i = 1; i < count; ++i)
            videos.append(mem(QString("%1/%2/f%3/v%4.mp4").arg(root, i % 2 ? "deep" : "other").arg(i % 9).arg(i)));
        const auto waitForSelection = [&] {
            return QTest::qWaitFor([&] { return s->primarySelectedVideoID().has_value(); }, 20000);
        };
        const auto deliverAll = [&] {
            scanner.batch(videos.mid(0, 1));
            QTest::qWait(AppState::kScanRebuildIntervalMs + 50);
            for (qsizetype at = 1; at < videos.size(); at += 40)
                scanner.batch(videos.mid(at, 40));
            scanner.complete();
        };
        s->selectScope(custom());
        deliverAll();
        ASSERT_TRUE(waitForSelection());
        const QSet<QString> expanded = s->expandedFolderIDs();
        const QStringList rows = videoRowIDs(*s);
        ASSERT_FALSE(rows.isEmpty());
        EXPECT_EQ(s->primarySelectedVideoID(), rows.first());

        s->selectScope(ScanScope::homeDirectory());
        s->selectScope(custom());
        ASSERT_TRUE(s->isShowingCachedScan());
        EXPECT_EQ(s->expandedFolderIDs(), expanded);
        EXPECT_EQ(videoRowIDs(*s), rows);
        EXPECT_EQ(s->primarySelectedVideoID(), rows.first());

        // Rescan after the user closed a folder and picked another video.
        const QString closed = *std::min_element(expanded.cbegin(), expanded.cend(),
                                                 [](const QString &a, const QString &b) { return a.size() > b.size(); });
        s->toggleFolder(closed);
        const QSet<QString> users = s->expandedFolderIDs();
        s->selectVideo(*s->videoWithID(rows.last()));
        s->startScan();
        deliverAll();
        ASSERT_TRUE(waitForSelection());
        EXPECT_EQ(s->expandedFolderIDs(), users);
        EXPECT_EQ(s->primarySelectedVideoID(), rows.last());
    }
}

// A large library takes its batches gathered, and its trees are built on a worker from the
// last tree's list plus what came since. Whatever the steps, the end is the list of the
// batches in order (each video once) and a tree of exactly that list; a filter set during
// the scan is followed by the next tree.
TEST_F(AppStateTest, LargeScanInStepsEndsWithEveryVideoOnceInItsTree)
{
    for (const bool searchDuringScan : {false, true}) {
        SCOPED_TRACE(searchDuringScan);
        QDir(dataFolder()).removeRecursively(); // no cached scan of the round before
        auto s = makeState();
        s->selectScope(custom());
        QList<VideoFile> videos;
        for (int i = 0; i < AppState::kBackgroundRebuildMinimum * 2; ++i)
            videos.append(mem(QString("%1/g%2/f%3/v%4.mp4").arg(root).arg(i % 5).arg(i % 97).arg(i)));
        QSignalSpy rebuilt(s.get(), &AppState::treeRebuilt);
        // Three steps, each ending once its tree is shown; every step repeats a video of the
        // one before.
        const qsizetype steps[] = {0, AppState::kBackgroundRebuildMinimum + 100, videos.size() - 700, videos.size()};
        for (int step = 0; step < 3; ++step) {
            for (qsizetype at = steps[step]; at < steps[step + 1]; at += 40)
                scanner.batch(videos.mid(at, std::min<qsizetype>(40, steps[step + 1] - at)) +
                              QList<VideoFile>{videos.at(std::max<qsizetype>(0, steps[step] - 1))});
            if (step == 2)
                break;
            const int before = rebuilt.count();
            ASSERT_TRUE(QTest::qWaitFor([&] { return rebuilt.count() > before && s->allVideos().size() == steps[step + 1]; }, 20000));
            if (searchDuringScan && step == 0)
                s->setSearchQuery("/f1");
        }
        scanner.complete();
        ASSERT_TRUE(QTest::qWaitFor([&] { return s->primarySelectedVideoID().has_value(); }, 20000));
        EXPECT_EQ(ids(s->allVideos()), ids(videos));
        // The filtered list, in the library's order, whatever the steps made of it.
        QStringList passing;
        for (const VideoFile &v : std::as_const(videos))
            if (!searchDuringScan || v.directoryPath.contains("/f1"))
                passing << v.id;
        EXPECT_EQ(ids(s->filteredVideos()), passing);

        QStringList expected = ids(s->filteredVideos());
        if (searchDuringScan) {
            EXPECT_LT(expected.size(), videos.size());
        }
        s->expandAll();
        QStringList shown = videoRowIDs(*s);
        std::sort(expected.begin(), expected.end());
        std::sort(shown.begin(), shown.end());
        EXPECT_EQ(shown, expected);
    }
}

// A real walk of a folder large enough that its videos join the library in several steps
// off the GUI thread: the scan ends with every file once, in a tree of all of them, opened
// by the rule and with the first video row selected, exactly as a start from the cache it
// wrote shows the same scope.
TEST_F(AppStateTest, LargeRealScanEndsShowingWhatAStartFromItsCacheShows)
{
    const int folders = 60, perFolder = 100;
    for (int f = 0; f < folders; ++f)
        for (int i = 0; i < perFolder; ++i)
            ASSERT_TRUE(lktest::writeSizedFile(QString("%1/f%2/v%3.mp4").arg(root).arg(f).arg(i), 1));
    struct View {
        QSet<QString> expanded;
        QStringList rows;
        std::optional<QString> selected;
    };
    const auto viewOf = [](const AppState &s) { return View{s.expandedFolderIDs(), videoRowIDs(s), s.primarySelectedVideoID()}; };

    View scanned;
    {
        AppState s;
        s.selectScope(custom());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !s.isScanning() && s.primarySelectedVideoID().has_value(); }, 60000));
        QStringList all = ids(s.allVideos());
        EXPECT_EQ(all.size(), folders * perFolder);
        all.removeDuplicates();
        EXPECT_EQ(all.size(), folders * perFolder);
        qsizetype shown = 0;
        for (const VideoFolderNodePtr &node : s.treeRoots())
            shown += node->totalVideoCount;
        EXPECT_EQ(shown, folders * perFolder);
        EXPECT_EQ(s.expandedFolderIDs().size(), folders);
        scanned = viewOf(s);
        ASSERT_FALSE(scanned.rows.isEmpty());
        EXPECT_EQ(scanned.selected, scanned.rows.first());
        s.waitForCacheWrites();
    }
    AppState cached;
    cached.selectScope(custom());
    ASSERT_TRUE(cached.isShowingCachedScan());
    const View fromCache = viewOf(cached);
    EXPECT_EQ(fromCache.expanded, scanned.expanded);
    EXPECT_EQ(fromCache.rows, scanned.rows);
    EXPECT_EQ(fromCache.selected, scanned.selected);
}

// A start from the cache shows the tree made while the cache was read: the same rows, folders
// opened and selection as a tree the window builds itself (names in numeric, case-blind order
// either way), and a tree built anew when the view asked for is not the one it was made for.
// Whoever hears of the new list reads counts of that list, not of the one before.
TEST_F(AppStateTest, StartFromTheCacheShowsTheTreeMadeWhileItWasRead)
{
    const QString home = QDir::homePath() + "/Videos";
    QList<VideoFile> videos;
    qint64 bytes = 0;
    for (int f = 0; f < 30; ++f)
        for (int i = 0; i < 4; ++i) {
            // v0, V7, v2, V9: byte order would put the capitals first.
            videos.append(mem(QString("%1/f%2/%3%4.mp4").arg(home).arg(f).arg(i % 2 ? "V" : "v").arg(i * 7 % 12),
                              100 + f * 7 + i));
            bytes += videos.last().fileSize;
        }
    {
        auto s = makeState();
        s->selectScope(ScanScope::homeDirectory());
        scanner.batch(videos);
        scanner.complete();
        s->waitForCacheWrites();
    }
    const auto rowIDs = [](const AppState &s) {
        QStringList out;
        for (const TreeRow &r : s.flattenedRows())
            out.append(r.id());
        return out;
    };
    for (const bool sortChanged : {false, true}) {
        SCOPED_TRACE(sortChanged);
        auto s = makeState();
        if (sortChanged)
            s->setSortOrder(VideoSortOrder::sizeDesc);
        bool applied = false;
        qsizetype heardCount = -1;
        qint64 heardBytes = -1;
        // As the window does while the cache is read.
        EXPECT_EQ(s->filteredVideoCount(), 0);
        EXPECT_EQ(s->totalVideoBytes(), 0);
        QObject::connect(s.get(), &AppState::allVideosChanged, [&] {
            heardCount = s->filteredVideoCount();
            heardBytes = s->totalVideoBytes();
        });
        s->afterScopeCacheLoads([&] {
            s->applyActiveScope();
            applied = true;
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return applied; }, 10000));
        ASSERT_TRUE(s->isShowingCachedScan());
        ASSERT_EQ(s->allVideos().size(), videos.size());
        EXPECT_EQ(heardCount, videos.size());
        EXPECT_EQ(heardBytes, bytes);
        const QStringList shown = rowIDs(*s);
        const QSet<QString> expanded = s->expandedFolderIDs();
        const std::optional<QString> selected = s->primarySelectedVideoID();
        ASSERT_FALSE(shown.isEmpty());
        ASSERT_TRUE(selected.has_value());
        s->rebuildTree(true);
        EXPECT_EQ(rowIDs(*s), shown);
        EXPECT_EQ(s->expandedFolderIDs(), expanded);
        EXPECT_EQ(s->primarySelectedVideoID(), selected);
    }
}

// A library change while a large scan's last videos are joining on a worker (here a
// compression that replaced a video, which moves it to the end with its new size): what the
// worker made from the library as it was is not taken, the videos join the library as it
// is, so the change stays and every video is there once.
TEST_F(AppStateTest, LibraryChangeWhileALargeScansVideosJoinIsKept)
{
    auto s = makeState();
    s->selectScope(custom());
    const VideoFile compressed = mem(root + "/a.mov", 5000);
    QList<VideoFile> videos{compressed};
    for (int i = 0; i < AppState::kBackgroundRebuildMinimum * 6; ++i)
        videos.append(mem(QString("%1/g%2/v%3.mp4").arg(root).arg(i % 17).arg(i)));
    for (qsizetype at = 0; at < videos.size(); at += 40)
        scanner.batch(videos.mid(at, 40));
    const QStringList joined = ids(s->allVideos());
    ASSERT_LT(joined.size(), videos.size());
    // The end of the scan sends the gathered videos to a worker; the change comes before
    // they are back.
    scanner.complete();
    ASSERT_TRUE(s->isScanning());
    s->applyCompressionResults({compressed, compressed.url(), 5000, 1000, true, false});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s->isScanning() && s->primarySelectedVideoID().has_value(); }, 30000));
    const QStringList expected = joined.mid(1) + QStringList{compressed.id} + ids(videos.mid(joined.size()));
    EXPECT_EQ(ids(s->allVideos()), expected);
    EXPECT_EQ(s->videoWithID(compressed.id)->fileSize, 1000);
    QStringList filtered = ids(s->filteredVideos()), sorted = expected;
    std::sort(filtered.begin(), filtered.end());
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(filtered, sorted);
    EXPECT_EQ(ids(s->scopeCache()[s->scopeCacheKey()].videos), expected);
    EXPECT_EQ(s->smartFilterCount(SmartFilter::all), expected.size());
    qsizetype shown = 0;
    for (const VideoFolderNodePtr &node : s->treeRoots())
        shown += node->totalVideoCount;
    EXPECT_EQ(shown, expected.size());
}

// The sidebar asks for its counts while a large scan's last videos join on a worker: the index
// made for them is of the list as it was, and the tree built once they have joined must not
// look the new videos up in it (it read past its end and crashed).
TEST_F(AppStateTest, IndexMadeWhileALargeScansVideosJoinIsNotUsedAfter)
{
    auto s = makeState();
    s->selectScope(custom());
    QList<VideoFile> videos;
    for (int i = 0; i < AppState::kBackgroundRebuildMinimum * 6; ++i)
        videos.append(mem(QString("%1/g%2/v%3.mp4").arg(root).arg(i % 17).arg(i)));
    for (qsizetype at = 0; at < videos.size(); at += 40)
        scanner.batch(videos.mid(at, 40));
    ASSERT_LT(s->allVideos().size(), videos.size());
    EXPECT_GT(s->filteredVideoCount(), 0); // the filtered positions grow with the merge
    scanner.complete();
    ASSERT_TRUE(s->isScanning());
    EXPECT_EQ(s->smartFilterCount(SmartFilter::all), s->allVideos().size());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s->isScanning() && s->primarySelectedVideoID().has_value(); }, 30000));
    ASSERT_EQ(s->allVideos().size(), videos.size());
    s->setSortOrder(VideoSortOrder::sizeDesc);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        qsizetype shown = 0;
        for (const VideoFolderNodePtr &node : s->treeRoots())
            shown += node->totalVideoCount;
        return shown == videos.size();
    }, 30000));
    EXPECT_EQ(s->smartFilterCount(SmartFilter::all), videos.size());
}

// Stopping a large scan, or its failing, keeps every video received, gathered or not.
TEST_F(AppStateTest, LargeScanStoppedOrFailedKeepsEveryVideoReceived)
{
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop);
        QDir(dataFolder()).removeRecursively();
        auto s = makeState();
        s->selectScope(custom());
        const int count = AppState::kBackgroundRebuildMinimum + 300;
        for (int at = 0; at < count; at += 40) {
            QList<VideoFile> batch;
            for (int i = at; i < std::min(at + 40, count); ++i)
                batch.append(mem(QString("%1/d%2/v%3.mp4").arg(root).arg(i % 13).arg(i)));
            scanner.batch(batch);
        }
        if (stop) {
            s->stopScan();
        } else {
            scanner.deliver(ScanEvent::failed("disk went away"));
        }
        EXPECT_FALSE(s->isScanning());
        EXPECT_EQ(s->allVideos().size(), count);
        EXPECT_EQ(s->filteredVideos().size(), count);
        EXPECT_TRUE(s->scopeCache().isEmpty());
        ASSERT_TRUE(QTest::qWaitFor([&] {
            qsizetype shown = 0;
            for (const VideoFolderNodePtr &node : s->treeRoots())
                shown += node->totalVideoCount;
            return shown == count;
        }, 20000));
        // Late events of the ended scan are not applied.
        scanner.batch({mem(root + "/late.mp4")});
        QTest::qWait(AppState::kScanRebuildIntervalMs + 50);
        EXPECT_EQ(s->allVideos().size(), count);
    }
}

TEST_F(AppStateTest, RealScanOfACustomFolder)
{
    disk("one/a.mp4");
    disk("one/b.mkv");
    disk("two/c.mov");
    AppState s;
    s.addCustomFolder(QUrl::fromLocalFile(root));
    ASSERT_EQ(s.customScopes().size(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.isScanning(); }, 10000));
    EXPECT_EQ(s.allVideos().size(), 3);
    EXPECT_TRUE(s.scopeCache().contains(s.scopeCacheKey()));
    EXPECT_EQ(appSettings().value("Lumenkite.lastCustomScopePath").toString(), root);
    // Adding the same folder again selects it without a second entry.
    s.addCustomFolder(QUrl::fromLocalFile(root + "/"));
    EXPECT_EQ(s.customScopes().size(), 1);
    s.removeCustomScope(s.customScopes()[0]);
    EXPECT_TRUE(s.customScopes().isEmpty());
    EXPECT_EQ(s.activeScope(), ScanScope::homeDirectory());
    s.stopScan();
}

// A file or the computer's root is refused as a custom folder, with a message; a stored
// one is not offered again at the next start.
TEST_F(AppStateTest, CustomFolderThatIsAFileOrTheRootIsRefused)
{
    disk("clip.mp4");
    AppState s;
    for (const QString &path : {root + "/clip.mp4", QString("/"), root + "/missing"}) {
        s.setActiveToast(std::nullopt);
        s.addCustomFolder(QUrl::fromLocalFile(path));
        EXPECT_TRUE(s.customScopes().isEmpty()) << path.toStdString();
        ASSERT_TRUE(s.activeToast()) << path.toStdString();
        EXPECT_TRUE(s.activeToast()->isError);
    }
    EXPECT_TRUE(BookmarkService::shared().restoreFolders().isEmpty());
    // Stored before the check existed, or a folder that has become a file since.
    QDir().mkpath(root + "/was-folder");
    BookmarkService::shared().addFolder(QUrl::fromLocalFile(root + "/was-folder"));
    BookmarkService::shared().addFolder(QUrl::fromLocalFile("/"));
    BookmarkService::shared().addFolder(QUrl::fromLocalFile(root));
    QDir(root + "/was-folder").removeRecursively();
    ASSERT_TRUE(lktest::writeSizedFile(root + "/was-folder", 10));
    AppState restarted;
    ASSERT_EQ(restarted.customScopes().size(), 1);
    EXPECT_EQ(restarted.customScopes()[0].rootURL(), QUrl::fromLocalFile(root));
}

// ---- faults around scans and the cache ----

TEST_F(AppStateTest, BatchDuringScanKeepsTrashAndMoveResults)
{
    auto s = makeState();
    const VideoFile a = disk("a.mp4"), b = disk("b.mp4");
    QDir().mkpath(root + "/dest");
    s->selectScope(custom());
    scanner.batch({a, b});
    s->moveSelectedToTrash({a});
    s->setVideosPendingMove({b});
    s->moveSelected(QUrl::fromLocalFile(root + "/dest"));
    const QString moved = root + "/dest/b.mp4";
    EXPECT_EQ(ids(s->allVideos()), QStringList{moved});

    // The scan goes on: it meets the moved file again and a new one.
    const VideoFile c = mem(root + "/c.mp4");
    scanner.batch({mem(moved), c});
    EXPECT_EQ(ids(s->allVideos()), (QStringList{moved, c.id}));
    scanner.complete();
    EXPECT_EQ(ids(s->scopeCache()[s->scopeCacheKey()].videos), (QStringList{moved, c.id}));
}

TEST_F(AppStateTest, FileOperationDuringRescanUpdatesTheCompletedRecord)
{
    auto s = makeState();
    const VideoFile a = disk("a.mp4"), b = disk("b.mp4"), c = disk("c.mp4");
    scanIn(*s, {a, b, c});
    const QString key = s->scopeCacheKey();

    s->startScan();
    scanner.batch({a});
    s->moveSelectedToTrash({b});
    // The partial list is not cached as complete; the completed record takes the change.
    EXPECT_EQ(ids(s->scopeCache()[key].videos), (QStringList{a.id, c.id}));
    s->stopScan();
    s->saveScopeCache();
    EXPECT_EQ(ids(s->scopeCache()[key].videos), (QStringList{a.id, c.id}));
    s->setVideosPendingPermanentDelete({a});
    s->deletePermanently();
    EXPECT_EQ(ids(s->scopeCache()[key].videos), QStringList{c.id});
    s->waitForCacheWrites();
    QFile f(cacheFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(ids(ScopeCacheCodec::decode(f.readAll())->value(key).videos), QStringList{c.id});
}

TEST_F(AppStateTest, FileOperationDuringFirstScanCachesNothing)
{
    auto s = makeState();
    const VideoFile a = disk("a.mp4"), b = disk("b.mp4");
    s->selectScope(custom());
    scanner.batch({a, b});
    s->moveSelectedToTrash({a});
    EXPECT_TRUE(s->scopeCache().isEmpty());
    s->undoLastOperation();
    EXPECT_TRUE(s->scopeCache().isEmpty());
    EXPECT_EQ(s->allVideos().size(), 2);
}

// ---- filters, search, derived lists ----

TEST_F(AppStateTest, SmartViewsAndFormatFilter)
{
    auto s = makeState();
    const QDateTime now = QDateTime::currentDateTime();
    const QList<VideoFile> videos{
        mem(root + "/new.mp4", 100, now.addDays(-29).toUTC()),
        mem(root + "/old.mov", 249'999'999, now.addDays(-31).toUTC()),
        mem(root + "/big.mkv", 250'000'000, now.addDays(-60).toUTC()),
        // 250 MiB is large too; what matters is the 250 MB the interface shows.
        mem(root + "/mid.avi", 262'144'000, now.addDays(-60).toUTC()),
        mem(root + "/clip.MOV", 5, now.toUTC()),
    };
    scanIn(*s, videos);
    struct Case { SmartFilter smart; std::optional<QString> ext; QStringList names; };
    const Case cases[] = {
        {SmartFilter::all, std::nullopt, {"new.mp4", "old.mov", "big.mkv", "mid.avi", "clip.MOV"}},
        {SmartFilter::recent, std::nullopt, {"new.mp4", "clip.MOV"}},
        {SmartFilter::largeFiles, std::nullopt, {"big.mkv", "mid.avi"}},
        {SmartFilter::nativeFormats, std::nullopt, {"new.mp4", "old.mov", "clip.MOV"}},
        {SmartFilter::otherFormats, std::nullopt, {"big.mkv", "mid.avi"}},
        {SmartFilter::nativeFormats, QString("MOV"), {"old.mov", "clip.MOV"}},
        {SmartFilter::all, QString("MKV"), {"big.mkv"}},
        {SmartFilter::otherFormats, QString("MP4"), {}},
    };
    for (const Case &c : cases) {
        s->setActiveSmartFilter(c.smart);
        s->setActiveExtensionFilter(c.ext);
        QStringList names;
        for (const VideoFile &v : s->filteredVideos())
            names.append(v.name);
        EXPECT_EQ(names, c.names) << SmartFilterInfo::rawValue(c.smart).toStdString();
    }
}

TEST_F(AppStateTest, TextSearch)
{
    auto s = makeState();
    // Fixed folder names, so the random sandbox path cannot match a query.
    const QString base = "/srv/v";
    scanIn(*s, {mem(base + "/Trips/Beach.MP4"), mem(base + "/mp4s/x.mkv"), mem(base + "/other/Ünïcode.avi"),
                mem(base + "/other/plain.mov")});
    struct Case { QString query; QStringList names; };
    const Case cases[] = {
        {"mp4", {"Beach.MP4", "x.mkv"}},
        {"  BEACH \n", {"Beach.MP4"}},
        {"trips", {"Beach.MP4"}},
        {"ÜNÏ", {"Ünïcode.avi"}},
        {"avi", {"Ünïcode.avi"}},
        {"   ", {"Beach.MP4", "x.mkv", "Ünïcode.avi", "plain.mov"}},
        {"nothing", {}},
    };
    for (const Case &c : cases) {
        s->setSearchQuery(c.query);
        QStringList names;
        for (const VideoFile &v : s->filteredVideos())
            names.append(v.name);
        EXPECT_EQ(names, c.names) << c.query.toStdString();
    }
    // Any non-blank query shows every folder open; blanks follow the stored expansion.
    s->collapseAll();
    s->setSearchQuery("plain");
    EXPECT_EQ(videoRowIDs(*s), QStringList{base + "/other/plain.mov"});
    s->setSearchQuery("  ");
    EXPECT_TRUE(videoRowIDs(*s).isEmpty());
}

TEST_F(AppStateTest, OnDeviceSearchModeKeepsOnlyScoredVideosBestFirst)
{
    auto s = makeState();
    const VideoFile a = mem(root + "/a.mp4"), b = mem(root + "/b.mp4"), c = mem(root + "/c.mp4");
    scanIn(*s, {a, b, c});
    s->setIsAISearchMode(true);
    // Without an index the search finds nothing.
    s->setSearchQuery("a.mp4");
    EXPECT_TRUE(s->filteredVideos().isEmpty());
    s->setAiSearchScores({{a.id, 0.2}, {b.id, 0.0}, {c.id, 0.7}});
    EXPECT_EQ(ids(s->filteredVideos()), (QStringList{c.id, a.id}));
    s->setIsAISearchMode(false);
    EXPECT_TRUE(s->aiSearchScores().isEmpty());
    EXPECT_EQ(ids(s->filteredVideos()), QStringList{a.id});
}

TEST_F(AppStateTest, CountsAndTotals)
{
    auto s = makeState();
    EXPECT_TRUE(s->filteredVideos().isEmpty());
    EXPECT_EQ(s->totalVideoBytes(), 0);
    EXPECT_TRUE(s->extensionCounts().isEmpty());
    EXPECT_EQ(s->indexedVideoCount(), 0);

    QList<VideoFile> videos;
    for (int i = 0; i < 3; ++i) {
        videos.append(mem(QString("%1/m%2.mp4").arg(root).arg(i), 10));
        videos.append(mem(QString("%1/k%2.mkv").arg(root).arg(i), 10));
    }
    videos.append(mem(root + "/z.avi", 5));
    s->selectScope(custom());
    scanner.batch(videos.mid(0, 4));
    EXPECT_EQ(s->totalVideoBytes(), 40); // read while the scan runs
    scanner.batch(videos.mid(4));
    scanner.complete();
    EXPECT_EQ(s->extensionCounts(), (QList<ExtensionCount>{{"MKV", 3}, {"MP4", 3}, {"AVI", 1}}));
    EXPECT_EQ(s->totalVideoBytes(), 65);
    s->setAiIndexEntries({{videos[0].id, {}}, {"/elsewhere.mp4", {}}});
    EXPECT_EQ(s->indexedVideoCount(), 1);
}

// A cached scan whose date did not survive shows no time, not an empty "()".
TEST_F(AppStateTest, CachedScanWithADamagedDateShowsNoScanTime)
{
    const QString key = "scope:custom:" + root + "#photos=1";
    QByteArray text = ScopeCacheCodec::encode({{key, CachedScopeScan{key, {mem(root + "/a.mp4")}, {}, fromReferenceSeconds(10)}}});
    ASSERT_TRUE(text.contains(",\"scannedAt\":10}"));
    text.replace(",\"scannedAt\":10}", ",\"scannedAt\":1e300}");
    QDir().mkpath(dataFolder());
    {
        QFile f(cacheFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    auto s = makeState();
    s->selectScope(custom());
    ASSERT_TRUE(s->isShowingCachedScan());
    EXPECT_EQ(s->allVideos().size(), 1);
    EXPECT_FALSE(s->lastScanText());
}

TEST_F(AppStateTest, LastScanTextToday)
{
    auto s = makeState();
    EXPECT_FALSE(s->lastScanText());
    const QDateTime today(QDate::currentDate(), QTime(9, 5), Qt::LocalTime);
    s->setLanguage(AppLanguage::de);
    s->setLastScanDate(today.toUTC());
    EXPECT_EQ(s->lastScanText(), QString("09:05"));
    s->setLastScanDate(today.addDays(-3).toUTC());
    EXPECT_NE(s->lastScanText(), QString("09:05"));
}

// ---- tree, expansion, selection ----

TEST_F(AppStateTest, AutoExpansionOpensAllUpTo80Videos)
{
    const QString base = root;
    for (int count : {80, 81}) {
        root = base + "/n" + QString::number(count); // a scope of its own, not cached yet
        auto s = makeState();
        QList<VideoFile> videos;
        for (int i = 0; i < count; ++i)
            videos.append(mem(QString("%1/a/b/c/v%2.mp4").arg(root).arg(i)));
        videos.append(mem(root + "/a/x.mp4"));
        s->setCompactSingleChildFolders(false);
        scanIn(*s, videos.mid(0, count - 1) + videos.mid(count));
        const bool all = count == 80;
        EXPECT_TRUE(s->expandedFolderIDs().contains(root + "/a"));
        EXPECT_TRUE(s->expandedFolderIDs().contains(root + "/a/b"));
        EXPECT_EQ(s->expandedFolderIDs().contains(root + "/a/b/c"), all) << count;
    }
}

// A folder chain deeper than a path may be long: its trees are built off the window's thread
// (the scan's event returns before the tree is there), and the scan still ends opened by the
// rule with the first video selected; the rows are the chain's compacted parts.
TEST_F(AppStateTest, DeepFolderChainsAreBuiltOffTheWindowsThread)
{
    auto s = makeState();
    QString deep = root;
    for (int i = 0; i < 5000; ++i)
        deep += "/d";
    const QList<VideoFile> videos{mem(root + "/d/top.mp4"), mem(deep + "/bottom.mp4")};
    QSignalSpy rebuilt(s.get(), &AppState::treeRebuilt);
    s->selectScope(custom());
    const int before = rebuilt.count();
    scanner.batch(videos);
    EXPECT_EQ(rebuilt.count(), before);
    ASSERT_TRUE(QTest::qWaitFor([&] { return videoRowIDs(*s).size() == 2; }, 20000));
    const int beforeEnd = rebuilt.count();
    scanner.complete();
    EXPECT_EQ(rebuilt.count(), beforeEnd);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s->primarySelectedVideoID().has_value(); }, 20000));
    QStringList rows;
    for (const TreeRow &r : s->flattenedRows())
        rows << (r.isFolder() ? QString("%1 %2").arg(r.folder().id() == deep ? "deep" : r.folder().id().mid(root.size()))
                                      .arg(r.folder().pathComponentsCount)
                              : r.video().name);
    EXPECT_EQ(rows, (QStringList{"/d 1", "deep 4999", "bottom.mp4", "top.mp4"}));
    EXPECT_EQ(s->primarySelectedVideoID(), deep + "/bottom.mp4");
}

TEST_F(AppStateTest, ExpansionSurvivesLaterBatchesAndToggles)
{
    auto s = makeState();
    s->setCompactSingleChildFolders(false);
    s->selectScope(custom());
    scanner.batch({mem(root + "/a/b/v.mp4")});
    const QSet<QString> first = s->expandedFolderIDs();
    EXPECT_TRUE(first.contains(root + "/a/b"));
    s->toggleFolder(root + "/a/b");
    EXPECT_FALSE(s->expandedFolderIDs().contains(root + "/a/b"));
    QTest::qWait(150);
    scanner.batch({mem(root + "/a/b/w.mp4"), mem(root + "/q/z.mp4")});
    scanner.complete();
    EXPECT_FALSE(s->expandedFolderIDs().contains(root + "/a/b"));
    EXPECT_FALSE(s->expandedFolderIDs().contains(root + "/q"));
    s->expandAll();
    EXPECT_EQ(videoRowIDs(*s).size(), 3);
    s->collapseAll();
    EXPECT_TRUE(videoRowIDs(*s).isEmpty());
}

TEST_F(AppStateTest, SelectAdjacentWalksVisibleRows)
{
    auto s = makeState();
    s->setCompactSingleChildFolders(false);
    const VideoFile a = mem(root + "/a.mp4"), b = mem(root + "/b.mp4"), c = mem(root + "/sub/c.mp4");
    scanIn(*s, {a, b, c});
    // Rows: folder sub, then the videos of the scope folder: folders before videos at
    // every level; the first video row is selected on completion.
    s->collapseAll();
    s->expandAll();
    const QStringList rows = videoRowIDs(*s);
    ASSERT_EQ(rows.size(), 3);

    s->setPrimarySelectedVideoID(std::nullopt);
    s->selectAdjacent(-1);
    EXPECT_EQ(s->primarySelectedVideoID(), rows[0]);
    s->selectAdjacent(1);
    EXPECT_EQ(s->primarySelectedVideoID(), rows[1]);
    s->selectAdjacent(1);
    s->selectAdjacent(1);
    EXPECT_EQ(s->primarySelectedVideoID(), rows[2]);
    s->selectAdjacent(-1);
    EXPECT_EQ(s->primarySelectedVideoID(), rows[1]);

    // A primary hidden in a closed folder: the walk starts at the first visible video.
    s->selectVideo(c);
    s->toggleFolder(root + "/sub");
    s->selectAdjacent(1);
    EXPECT_EQ(s->primarySelectedVideoID(), videoRowIDs(*s).first());
}

TEST_F(AppStateTest, SelectionOperations)
{
    auto s = makeState();
    const VideoFile a = mem(root + "/a.mp4", 10), b = mem(root + "/b.mp4", 20);
    scanIn(*s, {a, b});
    s->selectVideo(a);
    s->toggleSelection(b);
    EXPECT_EQ(s->selectedVideoIDs(), (QSet<QString>{a.id, b.id}));
    EXPECT_EQ(s->primarySelectedVideoID(), b.id);
    EXPECT_EQ(ids(s->selectedVideos()), (QStringList{a.id, b.id}));
    EXPECT_EQ(s->selectedVideosTotalSize(), 30);
    s->toggleSelection(b);
    EXPECT_EQ(s->primarySelectedVideoID(), a.id);
    s->toggleSelection(a);
    EXPECT_TRUE(s->selectedVideoIDs().isEmpty());
    EXPECT_FALSE(s->primarySelectedVideoID());
    EXPECT_TRUE(s->selectedVideos().isEmpty());

    s->selectVideo(a);
    s->clearSelection();
    EXPECT_EQ(ids(s->selectedVideos()), QStringList{a.id});
    EXPECT_EQ(s->primarySelectedVideo()->id, a.id);

    s->setShowInspector(false);
    const int signal = s->pendingSeekSignal();
    s->select(b, 4.5);
    EXPECT_EQ(s->pendingSeekSignal(), signal);
    EXPECT_TRUE(s->showInspector());
    s->select(b, 7.0);
    EXPECT_EQ(s->pendingSeekSignal(), signal + 1);
    EXPECT_EQ(s->pendingSeekTimestamp(), 7.0);
}

TEST_F(AppStateTest, RevealClearsFiltersAndOpensTheTree)
{
    auto s = makeState();
    const VideoFile small = mem(root + "/x/y/small.mp4", 10'000'000);
    scanIn(*s, {small, mem(root + "/big.mp4", 300'000'000)});
    s->setActiveSmartFilter(SmartFilter::largeFiles);
    s->setSearchQuery("big");
    s->rebuildTree(false);
    s->revealVideo(small);
    EXPECT_EQ(s->activeSmartFilter(), SmartFilter::all);
    EXPECT_TRUE(s->searchQuery().isEmpty());
    EXPECT_TRUE(videoRowIDs(*s).contains(small.id));
    EXPECT_EQ(s->primarySelectedVideoID(), small.id);
}

// ---- edit and compression results ----

TEST_F(AppStateTest, EditorResultIsVisibleSelectedAndAnnounced)
{
    auto s = makeState();
    s->setCompactSingleChildFolders(false);
    QList<VideoFile> videos;
    for (int i = 0; i < 100; ++i)
        videos.append(mem(QString("%1/a/b/c/v%2.mp4").arg(root).arg(i)));
    const VideoFile source = mem(root + "/a/b/c/d/source.mp4", 40'000'000);
    videos.append(source);
    scanIn(*s, videos);
    ASSERT_FALSE(s->expandedFolderIDs().contains(root + "/a/b/c/d"));
    s->setShowInspector(false);
    const int reload = s->videoReloadSignal();

    const QString out = root + "/a/b/c/d/clip.mp4";
    s->applyTrimExport(source, QUrl::fromLocalFile(out), 10'000'000, false);
    for (const QString &folder : {root + "/a", root + "/a/b", root + "/a/b/c", root + "/a/b/c/d"})
        EXPECT_TRUE(s->expandedFolderIDs().contains(folder)) << folder.toStdString();
    EXPECT_TRUE(videoRowIDs(*s).contains(out));
    EXPECT_EQ(s->primarySelectedVideoID(), out);
    EXPECT_EQ(s->selectedVideoIDs(), QSet<QString>{out});
    EXPECT_TRUE(s->showInspector());
    EXPECT_EQ(s->videoReloadSignal(), reload + 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return s->videoReloadSignal() == reload + 2; }, 1000));
    EXPECT_EQ(s->activeToast()->message, QString("clip.mp4 \u00B7 40 MB \u2192 10 MB (-75%)"));
    EXPECT_EQ(s->allVideos().last().id, out);
    EXPECT_EQ(s->allVideos().size(), 102);
}

TEST_F(AppStateTest, EditorToastText)
{
    struct Case { qint64 source, output; QString text; };
    const Case cases[] = {
        {40'000'000, 10'000'000, "o.mp4 \u00B7 40 MB \u2192 10 MB (-75%)"},
        {1000, 995, "o.mp4 \u00B7 1 KB \u2192 995 bytes (-1%)"}, // 0.5 % rounds up
        {1000, 996, "o.mp4 (996 bytes)"},                     // 0.4 % rounds to 0
        {1000, 2000, "o.mp4 (2 KB)"},
        {0, 2000, "o.mp4 (2 KB)"},
    };
    for (const Case &c : cases) {
        auto s = makeState();
        VideoFile source = mem(root + "/s.mp4", std::max<qint64>(c.source, 1));
        source.fileSize = c.source;
        scanIn(*s, {source});
        s->applyTrimExport(source, QUrl::fromLocalFile(root + "/o.mp4"), c.output, false);
        EXPECT_EQ(s->activeToast()->message, c.text);
    }
}

TEST_F(AppStateTest, EditorResultHiddenBySearchResetsTheView)
{
    auto s = makeState();
    const VideoFile source = mem(root + "/holiday.mp4", 1000);
    scanIn(*s, {source});
    s->setSearchQuery("holiday");
    s->setActiveExtensionFilter(QString("MP4"));
    s->applyTrimExport(source, QUrl::fromLocalFile(root + "/cut.mkv"), 500, true);
    EXPECT_TRUE(s->searchQuery().isEmpty());
    EXPECT_FALSE(s->activeExtensionFilter());
    EXPECT_EQ(ids(s->allVideos()), QStringList{root + "/cut.mkv"});
    EXPECT_EQ(s->primarySelectedVideoID(), root + "/cut.mkv");

    // Already visible: search and filters stay.
    s->setSearchQuery("cut");
    s->applyTrimExport(s->allVideos()[0], QUrl::fromLocalFile(root + "/cut2.mkv"), 400, false);
    EXPECT_EQ(s->searchQuery(), "cut");
}

TEST_F(AppStateTest, CompressionResults)
{
    struct Invalidations : MediaCacheInvalidator {
        QList<QUrl> urls;
        void invalidate(const QUrl &url) override { urls.append(url); }
    };
    auto media = std::make_shared<Invalidations>();
    auto s = makeState({nullptr, media, nullptr});
    VideoFile source = mem(root + "/a.mov", 5000);
    source.createdDate = fromReferenceSeconds(77);
    const VideoFile other = mem(root + "/b.mov", 5000);
    scanIn(*s, {source, other});
    s->setAiIndexEntries({{source.id, {}}, {other.id, {}}});
    const int reload = s->videoReloadSignal();

    BatchCompressionResult replaced{source, QUrl::fromLocalFile(root + "/a.mov"), 5000, 1000, true, false};
    s->applyCompressionResults(replaced);
    EXPECT_EQ(ids(s->allVideos()), (QStringList{other.id, source.id}));
    EXPECT_EQ(s->allVideos().last().fileSize, 1000);
    EXPECT_EQ(s->allVideos().last().createdDate, fromReferenceSeconds(77));
    EXPECT_FALSE(s->aiIndexEntries().contains(source.id));
    EXPECT_FALSE(s->activeToast());
    EXPECT_TRUE(QTest::qWaitFor([&] { return s->videoReloadSignal() == reload + 1; }, 1000));
    EXPECT_EQ(media->urls.size(), 2);

    BatchCompressionResult kept{other, QUrl::fromLocalFile(root + "/b_compressed.mp4"), 5000, 900, false, false};
    s->applyCompressionResults(kept);
    EXPECT_EQ(s->allVideos().size(), 3);
    EXPECT_TRUE(s->aiIndexEntries().contains(other.id));
    EXPECT_TRUE(s->expandedFolderIDs().contains(root));
}

// ---- moving, trashing, deleting, undo ----

TEST_F(AppStateTest, MoveRemapsInPlaceAndUndoes)
{
    auto s = makeState();
    const VideoFile a = disk("a.mp4"), b = disk("b.mp4"), c = disk("c.mp4");
    QDir().mkpath(root + "/dest");
    scanIn(*s, {a, b, c});
    s->selectVideo(b);
    s->setVideosPendingMove({b});
    s->setShowMoveSheet(true);
    s->moveSelected(QUrl::fromLocalFile(root + "/dest"));
    const QString moved = root + "/dest/b.mp4";
    EXPECT_FALSE(s->showMoveSheet());
    EXPECT_EQ(ids(s->allVideos()), (QStringList{a.id, moved, c.id}));
    EXPECT_EQ(s->primarySelectedVideoID(), moved);
    EXPECT_EQ(s->selectedVideoIDs(), QSet<QString>{moved});
    EXPECT_TRUE(s->expandedFolderIDs().contains(root + "/dest"));
    EXPECT_EQ(s->activeToast()->message, QString("1 \u2192 dest"));
    EXPECT_TRUE(s->activeToast()->canUndo);
    EXPECT_TRUE(s->videosPendingMove().isEmpty());
    EXPECT_EQ(s->recentMoveDestinations().first().toLocalFile(), root + "/dest");
    EXPECT_EQ(ids(s->scopeCache()[s->scopeCacheKey()].videos), ids(s->allVideos()));

    s->undoLastOperation();
    EXPECT_EQ(ids(s->allVideos()), (QStringList{a.id, c.id, b.id}));
    EXPECT_EQ(s->primarySelectedVideoID(), b.id);
    EXPECT_EQ(s->activeToast()->message, "Undo (1)");
    EXPECT_FALSE(s->activeToast()->canUndo);
    EXPECT_FALSE(s->lastUndoRecord());
    const QList<VideoFile> before = s->allVideos();
    s->undoLastOperation();
    EXPECT_EQ(s->allVideos(), before);

    // Into the folder they already lie in: nothing happens, no toast.
    s->dismissToast();
    s->setVideosPendingMove({a});
    s->moveSelected(QUrl::fromLocalFile(root));
    EXPECT_FALSE(s->activeToast());
    EXPECT_FALSE(s->lastUndoRecord());

    // A destination that is not a folder.
    s->setVideosPendingMove({a});
    s->moveSelected(QUrl::fromLocalFile(root + "/a.mp4"));
    ASSERT_TRUE(s->activeToast());
    EXPECT_TRUE(s->activeToast()->isError);
    EXPECT_TRUE(s->videosPendingMove().isEmpty());
    EXPECT_EQ(s->allVideos(), before);
}

TEST_F(AppStateTest, RecentDestinationsStayUniqueAndShort)
{
    auto s = makeState();
    const VideoFile v = disk("v.mp4");
    scanIn(*s, {v});
    QStringList order;
    for (int i = 1; i <= 7; ++i) {
        const QString dir = root + "/d" + QString::number(i);
        QDir().mkpath(dir);
        s->rememberMoveDestination(QUrl::fromLocalFile(dir));
    }
    s->rememberMoveDestination(QUrl::fromLocalFile(root + "/d4/"));
    const QStringList stored = appSettings().value("Lumenkite.recentMoveDestinations").toStringList();
    EXPECT_EQ(stored, (QStringList{root + "/d4", root + "/d7", root + "/d6", root + "/d5", root + "/d3", root + "/d2"}));
    EXPECT_EQ(s->recentMoveDestinations().size(), 6);
}

TEST_F(AppStateTest, PartlyFailedMoveReportsTheFailures)
{
    auto s = makeState();
    const VideoFile a = disk("a.mp4"), b = disk("gone.mp4");
    QDir().mkpath(root + "/dest");
    scanIn(*s, {a, b});
    QFile::remove(b.id);
    s->setVideosPendingMove({a, b});
    s->moveSelected(QUrl::fromLocalFile(root + "/dest"));
    ASSERT_TRUE(s->activeToast());
    EXPECT_EQ(s->activeToast()->message, QString("1 \u2192 dest"));
    EXPECT_TRUE(s->activeToast()->canUndo);
    s->dismissToast();
    ASSERT_TRUE(s->activeToast());
    EXPECT_TRUE(s->activeToast()->isError);
    EXPECT_TRUE(s->activeToast()->message.startsWith("gone.mp4: "));
}

TEST_F(AppStateTest, PartlyFailedTrashAndDeleteReportTheFailures)
{
    auto s = makeState();
    QList<VideoFile> videos;
    for (int i = 0; i < 5; ++i)
        videos.append(disk(QString("t%1.mp4").arg(i)));
    const VideoFile keep = disk("keep.mp4");
    scanIn(*s, videos + QList<VideoFile>{keep});
    for (int i = 1; i < 5; ++i)
        QFile::remove(videos[i].id);
    s->moveSelectedToTrash(videos);
    EXPECT_EQ(s->activeToast()->message, QString("1 \u2192 Trash"));
    s->dismissToast();
    ASSERT_TRUE(s->activeToast()->isError);
    EXPECT_EQ(s->activeToast()->message.count('\n'), 2); // three of the four lines
    // Only the trashed video left the library.
    EXPECT_EQ(s->allVideos().size(), 5);

    s->setVideosPendingPermanentDelete({keep, videos[2]});
    s->deletePermanently();
    EXPECT_EQ(s->activeToast()->message, "1 deleted");
    s->dismissToast();
    ASSERT_TRUE(s->activeToast());
    EXPECT_TRUE(s->activeToast()->message.startsWith("t2.mp4: "));
}

TEST_F(AppStateTest, TrashDeleteAndUndoToasts)
{
    auto s = makeState();
    const VideoFile a = disk("a.mp4"), b = disk("b.mp4"), c = disk("c.mp4"), d = disk("d.mp4");
    scanIn(*s, {a, b, c, d});
    s->selectVideo(a);
    s->setLanguage(AppLanguage::de);
    s->moveSelectedToTrash({a, b, c});
    EXPECT_EQ(s->activeToast()->message, QString("3 \u2192 ") + L10n::text("inspector.trash", AppLanguage::de));
    EXPECT_FALSE(s->primarySelectedVideoID());
    EXPECT_EQ(ids(s->allVideos()), QStringList{d.id});

    s->setVideosPendingPermanentDelete({d});
    s->setShowPermanentDeleteAlert(true);
    s->deletePermanently();
    EXPECT_FALSE(s->showPermanentDeleteAlert());
    EXPECT_EQ(s->activeToast()->message, "1 deleted");
    EXPECT_FALSE(QFileInfo::exists(d.id));
    ASSERT_TRUE(s->lastUndoRecord()); // the trash stays undoable

    s->undoLastOperation();
    EXPECT_EQ(s->activeToast()->message, L10n::text("toast.undo", AppLanguage::de) + " (3)");
    EXPECT_EQ(ids(s->allVideos()), (QStringList{a.id, b.id, c.id}));
    EXPECT_EQ(s->primarySelectedVideoID(), a.id);
    EXPECT_TRUE(QFileInfo::exists(a.id));
}

TEST_F(AppStateTest, PartlyFailedUndoOfAMoveRemovesOnlyWhatCameBack)
{
    auto s = makeState();
    const VideoFile a = disk("one/a.mp4"), b = disk("two/b.mp4");
    QDir().mkpath(root + "/dest");
    scanIn(*s, {a, b});
    s->setVideosPendingMove({a, b});
    s->moveSelected(QUrl::fromLocalFile(root + "/dest"));
    // b cannot go back: its folder has become a file.
    ASSERT_TRUE(QDir(root + "/two").removeRecursively());
    ASSERT_TRUE(lktest::writeSizedFile(root + "/two", 1));
    s->undoLastOperation();
    EXPECT_EQ(ids(s->allVideos()), (QStringList{root + "/dest/b.mp4", a.id}));
    EXPECT_EQ(s->activeToast()->message, "Undo (1)");
    s->dismissToast();
    ASSERT_TRUE(s->activeToast());
    EXPECT_TRUE(s->activeToast()->isError);
}

TEST_F(AppStateTest, VideosLeavingTheScopeLeaveTheList)
{
    auto s = makeState();
    const VideoFile a = disk("a.mp4"), b = disk("b.mp4");
    const QString outside = lktest::sandboxRoot() + "/outside-" + QFileInfo(root).fileName();
    QDir().mkpath(outside);
    scanIn(*s, {a, b});
    s->setVideosPendingMove({a});
    s->moveSelected(QUrl::fromLocalFile(outside));
    EXPECT_EQ(ids(s->allVideos()), QStringList{b.id});
    for (const TreeRow &row : s->flattenedRows()) {
        if (row.isFolder()) {
            EXPECT_TRUE(row.folder().id().startsWith(root)) << row.folder().id().toStdString();
        }
    }
    s->undoLastOperation();
    EXPECT_EQ(ids(s->allVideos()), (QStringList{b.id, a.id}));

    // Trashed in one scope, restored while another is shown: it belongs to neither list.
    s->moveSelectedToTrash({a});
    QDir().mkpath(outside + "/scope");
    s->selectScope(ScanScope::customFolder(QUrl::fromLocalFile(outside + "/scope")));
    scanner.complete();
    s->undoLastOperation();
    EXPECT_TRUE(s->allVideos().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(a.id));
}

TEST_F(AppStateTest, PrepareMoveNeedsVideos)
{
    auto s = makeState();
    VideoFolderNode empty;
    s->prepareMove(empty);
    EXPECT_FALSE(s->showMoveSheet());
    const VideoFile a = mem(root + "/x/a.mp4"), b = mem(root + "/x/y/b.mp4");
    scanIn(*s, {a, b});
    ASSERT_FALSE(s->treeRoots().isEmpty());
    s->prepareMove(*s->treeRoots().first());
    EXPECT_TRUE(s->showMoveSheet());
    EXPECT_EQ(s->videosPendingMove().size(), 2);
}

} // namespace

// A damaged or tampered cache never lists what a scan of the scope could not have found,
// and one bad record or entry costs only itself.
TEST(ScopeCacheLoad, EntriesAScanCouldNotHaveListedAreLeftOut)
{
    const QString root = "/media/lib";
    const QString key = "scope:custom:" + root + "#photos=0";
    const auto entry = [](const QString &id, const QByteArray &extra = {}) {
        const QString name = id.mid(id.lastIndexOf('/') + 1);
        const QString ext = name.contains('.') ? name.mid(name.lastIndexOf('.') + 1).toUpper() : QString();
        return QByteArray("{\"id\":\"") + id.toUtf8() + "\",\"url\":\"file://" + id.toUtf8() + "\",\"name\":\"" +
               name.toUtf8() + "\",\"fileExtension\":\"" + ext.toUtf8() + "\",\"directoryPath\":\"" +
               id.left(id.lastIndexOf('/')).toUtf8() + "\"" + (extra.contains("fileSize") ? "" : ",\"fileSize\":5") +
               (extra.contains("modifiedDate") ? "" : ",\"modifiedDate\":0") + extra + "}";
    };
    struct Case {
        const char *what;
        QByteArray entry;
        bool kept;
    };
    const Case cases[] = {
        {"a video of the scope", entry(root + "/a/x.mp4"), true},
        {"empty file", entry(root + "/x.mkv", ",\"fileSize\":0"), true},
        {"created long ago", entry(root + "/x.mp4", ",\"createdDate\":-12000000000"), true},
        {"outside the scope", entry("/etc/passwd"), false},
        {"outside the scope, video name", entry("/media/library/x.mp4"), false},
        {"the root itself", entry(root), false},
        {"not a video", entry(root + "/notes.txt"), false},
        {"no extension", entry(root + "/README"), false},
        {"extension field disagrees", entry(root + "/x.mp4").replace("\"MP4\"", "\"MKV\""), false},
        {"negative size", entry(root + "/x.mp4", ",\"fileSize\":-5"), false},
        {"size of a large disk", entry(root + "/x.mp4", ",\"fileSize\":20000000000000"), true},
        {"size no file can have", entry(root + "/x.mp4", ",\"fileSize\":9223372036854775807"), false},
        {"absurd modified date", entry(root + "/x.mp4", ",\"modifiedDate\":-9.2e15"), false},
        {"modified date past any conversion", entry(root + "/x.mp4", ",\"modifiedDate\":1e300"), false},
        {"absurd created date", entry(root + "/x.mp4", ",\"createdDate\":9e12"), false},
        {"mistyped member", entry(root + "/x.mp4", ",\"createdDate\":\"yesterday\""), false},
        {"missing member", QByteArray("{\"id\":\"") + root.toUtf8() + "/x.mp4\"}", false},
    };
    const QByteArray good = entry(root + "/good.mp4");
    const QByteArray otherRecord = R"("scope:custom:/media/other#photos=0":{"scopeKey":"o","deniedFolders":[],)"
                                   R"("scannedAt":1,"videos":[)" + entry("/media/other/o.mov") + "]}";
    for (const Case &c : cases) {
        const QByteArray text = "{\"" + key.toUtf8() + R"(":{"scopeKey":"k","deniedFolders":[],"scannedAt":1,"videos":[)" +
                                good + "," + c.entry + "]}," + otherRecord + "}";
        const auto decoded = ScopeCacheCodec::decode(text);
        ASSERT_TRUE(decoded) << c.what;
        const ScopeCache cache = ScopeCacheCodec::sanitized(*decoded);
        QStringList ids;
        for (const VideoFile &v : cache.value(key).videos)
            ids << v.id;
        EXPECT_EQ(ids.size(), c.kept ? 2 : 1) << c.what;
        EXPECT_EQ(ids.value(0), root + "/good.mp4") << c.what;
        EXPECT_EQ(cache.value("scope:custom:/media/other#photos=0").videos.size(), 1) << c.what;
    }

    // Whole records: a mistyped one is left out and the others kept; keys naming no scope
    // and a home record's entries outside the homes go.
    const QByteArray records = "{\"" + key.toUtf8() + R"(":{"scopeKey":"k","deniedFolders":[1],"scannedAt":1,"videos":[)" +
                               good + "]},\"scope:users-root#photos=0\":{\"scopeKey\":\"u\",\"deniedFolders\":[],"
                               "\"scannedAt\":1,\"videos\":[" + entry(QDir::homePath() + "/v.mp4") + "," +
                               entry("/home/shared/w.mp4") + "," + entry("/opt/x.mp4") + "]},"
                               R"("junk":{"scopeKey":"j","deniedFolders":[],"scannedAt":1,"videos":[)" + good + "]}," +
                               otherRecord + "}";
    const auto decoded = ScopeCacheCodec::decode(records);
    ASSERT_TRUE(decoded);
    const ScopeCache cache = ScopeCacheCodec::sanitized(*decoded);
    EXPECT_EQ(QSet<QString>(cache.keyBegin(), cache.keyEnd()),
              QSet<QString>({"scope:users-root#photos=0", "scope:custom:/media/other#photos=0"}));
    EXPECT_EQ(cache.value("scope:users-root#photos=0").videos.size(), 2);
}

// Sizes each a file could have, but together beyond what a library can hold: what is kept
// still sums without overflowing, in every record and across them.
TEST(ScopeCacheLoad, SizesTogetherStayWithinAnySum)
{
    const QDateTime when = fromReferenceSeconds(100);
    ScopeCache cache;
    for (const QString folder : {"/media/a", "/media/b"}) {
        const QString key = "scope:custom:" + folder + "#photos=0";
        QList<VideoFile> videos;
        for (int i = 0; i < 6000; ++i)
            videos << *VideoFile::make(folder + QString("/v%1.mp4").arg(i), qint64(1) << 50, when, when);
        cache.insert(key, CachedScopeScan{key, videos, {}, when});
    }
    qint64 total = 0;
    qsizetype kept = 0;
    for (const CachedScopeScan &record : ScopeCacheCodec::sanitized(cache))
        for (const VideoFile &v : record.videos) {
            ASSERT_FALSE(__builtin_add_overflow(total, v.fileSize, &total));
            ++kept;
        }
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 12000);
}

TEST(ScopeCacheLoad, DatesBeyondAnyCalendarReadAsInvalid)
{
    for (double seconds : {1e300, -1e300, 9.3e15, -9.3e15, std::nan(""), double(INFINITY)})
        EXPECT_FALSE(fromReferenceSeconds(seconds).isValid()) << seconds;
    EXPECT_EQ(fromReferenceSeconds(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
}

// Names that are not UTF-8 survive the file with their exact bytes, URL included.
TEST(ScopeCacheLoad, NamesThatAreNotUtf8RoundTrip)
{
    const QDateTime when = fromReferenceSeconds(100);
    ScopeCache cache;
    QList<VideoFile> videos;
    for (const QByteArray &name : {QByteArray("dup\xff.mp4"), QByteArray("dup\xfe.mp4"), QByteArray("a\\\"\xc3\n\xff.mkv")})
        videos << *VideoFile::make(FileNames::decode("/media/lib/" + name), 5, when, when);
    cache.insert("scope:custom:/media/lib#photos=0", CachedScopeScan{"scope:custom:/media/lib#photos=0", videos, {}, when});
    const auto decoded = ScopeCacheCodec::decode(ScopeCacheCodec::encode(cache));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(ScopeCacheCodec::sanitized(*decoded), cache);
}

// A file that is not a cache at all is kept aside for a look by hand before the next
// save replaces it.
TEST_F(AppStateTest, UnreadableCacheFileIsMovedAside)
{
    QDir().mkpath(dataFolder());
    const QByteArray junk = "{\"k\":{\"scopeKey\":tru";
    {
        QFile f(cacheFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }
    auto s = makeState();
    EXPECT_TRUE(s->scopeCache().isEmpty());
    QFile aside(cacheFile() + ".unreadable");
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), junk);
    scanIn(*s, {mem(root + "/a.mp4")});
    s->waitForCacheWrites();
    EXPECT_TRUE(QFile::exists(cacheFile()));
}
