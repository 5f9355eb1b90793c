#include "library/FileNames.h"
#include "library/Models.h"
#include "library/ScopeCache.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(VideoMediaInfo, ResolutionLabelsTestTheLargerDimension)
{
    struct Case { std::optional<int> w, h; std::optional<QString> label, dims; };
    const Case cases[] = {
        {3840, 2160, "4K", "3840 × 2160"},
        {7679, 4320, "4K", "7679 × 4320"},
        {7680, 4320, "8K", "7680 × 4320"},
        {1080, 1920, "1080p", "1080 × 1920"},
        {1440, 1080, "720p", "1440 × 1080"},
        {854, 480, "480p", "854 × 480"},
        {853, 480, "853×480", "853 × 480"},
        {0, 480, std::nullopt, std::nullopt},
        {640, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case &c : cases) {
        VideoMediaInfo info;
        info.width = c.w;
        info.height = c.h;
        EXPECT_EQ(info.resolutionLabel(), c.label) << c.w.value_or(-1);
        EXPECT_EQ(info.dimensionsText(), c.dims) << c.w.value_or(-1);
    }
}

TEST(Formatting, Durations)
{
    const std::pair<double, const char *> cases[] = {
        {7, "0:07"}, {725, "12:05"}, {59.99, "0:59"}, {3599.5, "59:59"}, {3600, "1:00:00"},
        {36000, "10:00:00"}, {-1, "0:00"}, {std::numeric_limits<double>::infinity(), "0:00"},
        {std::nan(""), "0:00"},
    };
    for (auto [seconds, text] : cases)
        EXPECT_EQ(formatDuration(seconds), QString(text)) << seconds;
}

TEST(Formatting, ByteCountsInFileStyle)
{
    const std::pair<qint64, const char *> cases[] = {
        {0, "Zero KB"}, {1, "1 byte"}, {999, "999 bytes"}, {1000, "1 KB"}, {1499, "1 KB"},
        {1500, "2 KB"}, {999'499, "999 KB"}, {999'500, "1 MB"}, {10'000'000, "10 MB"},
        {40'000'000, "40 MB"}, {193'400'000, "193.4 MB"}, {999'960'000, "1 GB"},
        {1'200'000'000, "1.2 GB"}, {1'234'000'000, "1.23 GB"}, {2'000'000'000'000, "2 TB"},
    };
    for (auto [bytes, text] : cases)
        EXPECT_EQ(formatByteCount(bytes, '.'), QString(text)) << bytes;
    EXPECT_EQ(formatByteCount(193'400'000, ','), QString("193,4 MB"));
}

TEST(Formatting, DatesFollowTheInterfaceLocale)
{
    const QDateTime d(QDate(2026, 3, 4), QTime(15, 7), Qt::LocalTime);
    EXPECT_EQ(formatDate(d, uiLocale(AppLanguage::en)), "Mar 4, 2026");
    EXPECT_EQ(formatDate(d, uiLocale(AppLanguage::ja)), "2026/03/04");
    EXPECT_EQ(formatDate(d, uiLocale(AppLanguage::de)), "04.03.2026");
    EXPECT_EQ(formatDateTime(d, uiLocale(AppLanguage::en)), "Mar 4, 2026 at 3:07 PM");
    EXPECT_EQ(formatDateTime(d, uiLocale(AppLanguage::de)), "04.03.2026, 15:07");
}

TEST(VideoFile, JsonRoundTripAndStrictDecoding)
{
    auto v = VideoFile::make("/home/a/Clip.MOV", 42, fromReferenceSeconds(1000.5), std::nullopt);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->fileExtension, "MOV");
    EXPECT_TRUE(v->isNativeFormat());
    EXPECT_EQ(v->directoryPath, "/home/a");
    QJsonObject o = v->toJson();
    EXPECT_FALSE(o.contains("createdDate"));
    EXPECT_DOUBLE_EQ(o["modifiedDate"].toDouble(), 1000.5);
    EXPECT_EQ(o["url"].toString(), "file:///home/a/Clip.MOV");
    auto back = VideoFile::fromJson(o);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, *v);
    EXPECT_FALSE(back->createdDate);

    o["createdDate"] = QJsonValue::Null;
    EXPECT_TRUE(VideoFile::fromJson(o));
    o["createdDate"] = 5.0;
    ASSERT_TRUE(VideoFile::fromJson(o));
    EXPECT_EQ(VideoFile::fromJson(o)->createdDate, fromReferenceSeconds(5.0));
    for (const char *key : {"id", "url", "name", "fileExtension", "directoryPath", "fileSize", "modifiedDate"}) {
        QJsonObject broken = o;
        broken.remove(key);
        EXPECT_FALSE(VideoFile::fromJson(broken)) << key;
        broken[key] = QJsonValue(true);
        EXPECT_FALSE(VideoFile::fromJson(broken)) << key;
    }
    // Sizes that are no 64-bit whole number fail instead of turning into another size.
    for (double size : {1.5, 1e19, -1e19, 9223372036854775808.0}) {
        QJsonObject broken = o;
        broken["fileSize"] = size;
        EXPECT_FALSE(VideoFile::fromJson(broken)) << size;
    }
    o["fileSize"] = 4.0e12;
    ASSERT_TRUE(VideoFile::fromJson(o));
    EXPECT_EQ(VideoFile::fromJson(o)->fileSize, 4000000000000);
}

TEST(VideoFile, EqualityCoversEveryField)
{
    auto a = *VideoFile::make("/x/a.mp4", 10, fromReferenceSeconds(1), std::nullopt);
    auto b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    b.fileSize = 11;
    EXPECT_NE(a, b);
    b = a;
    b.createdDate = fromReferenceSeconds(1);
    EXPECT_NE(a, b);
    EXPECT_FALSE(VideoFile::make("/x/a.txt", 10, {}, {}));
    EXPECT_FALSE(VideoFile::make("/x/empty.mp4", 0, {}, {}));
    EXPECT_FALSE(VideoFile::make("/x/.mp4", 10, {}, {}));
}

TEST(ScanScope, IdsTitlesAndEquality)
{
    const ScanScope v1 = ScanScope::volume("Disk A", QUrl::fromLocalFile("/media/disk/"));
    const ScanScope v2 = ScanScope::volume("Disk B", QUrl::fromLocalFile("/media/disk/"));
    EXPECT_NE(v1, v2);
    EXPECT_EQ(v1.id(), v2.id());
    EXPECT_EQ(v1.id(), "scope:vol:/media/disk");
    EXPECT_EQ(ScanScope::homeDirectory().id(), "scope:users-root");
    EXPECT_EQ(ScanScope::homeDirectory().rootURL(), QUrl::fromLocalFile("/home"));
    EXPECT_EQ(ScanScope::entireMacDeep().id(), "scope:mac-deep");
    EXPECT_FALSE(ScanScope::entireMacDeep().rootURL());
    const ScanScope c = ScanScope::customFolder(QUrl::fromLocalFile("/data/Films/../Films"));
    EXPECT_EQ(c.id(), "scope:custom:/data/Films");
    EXPECT_EQ(ScanScope::customFolder(QUrl::fromLocalFile("/srv/Movies")).title(), "Movies");
    EXPECT_EQ(ScanScope::customFolder(QUrl::fromLocalFile("/")).title(), "/");
    EXPECT_EQ(SmartFilterInfo::fromRawValue("largeFiles"), SmartFilter::largeFiles);
    EXPECT_FALSE(SmartFilterInfo::fromRawValue("large"));
    EXPECT_EQ(VideoSortOrderInfo::fromRawValue("dateDesc"), VideoSortOrder::dateDesc);
    EXPECT_FALSE(VideoSortOrderInfo::fromRawValue("DateDesc"));
}

// The URL is made from the path on demand. It must be what the stored files hold for the same
// video (their "url" field) and lead back to the exact path, bytes included, for names that
// need escaping, are not ASCII, or are not UTF-8 at all.
TEST(VideoFile, UrlIsTheFileUrlOfItsPathForOddNames)
{
    struct Case {
        QByteArray path;   // bytes on disk
        const char *url;   // as the stored files hold it; null: not checked as text
    };
    const Case cases[] = {
        {"/v/plain.mp4", "file:///v/plain.mp4"},
        {"/v/a b.mp4", "file:///v/a%20b.mp4"},
        {"/v/take #2.mp4", "file:///v/take%20%232.mp4"},
        {"/v/100%.mp4", "file:///v/100%25.mp4"},
        {"/v/already%20escaped.mp4", "file:///v/already%2520escaped.mp4"},
        {"/v/why?.mov", "file:///v/why%3F.mov"},
        {"/v/caf\xc3\xa9/\xc3\x89t\xc3\xa9.mkv", "file:///v/caf%C3%A9/%C3%89t%C3%A9.mkv"},
        {"/v/\xe6\x97\xa5\xe6\x9c\xac.mp4", "file:///v/%E6%97%A5%E6%9C%AC.mp4"},
        {"/v/semi;colon+plus&amp=eq.mp4", nullptr},
        {"/v/kept-._~!$'()*,:@/x.mp4", nullptr},
        {"/v/quote\"back\\slash\ttab.mp4", nullptr},
        {"/v/[brackets]{braces}^`|<>.mp4", nullptr},
        {"/v/lat\xe9n1.mp4", nullptr},         // Latin-1, not UTF-8
        {"/v/\xff\xfe raw/\x80.mp4", nullptr}, // raw bytes in a folder and a name
    };
    for (const Case &c : cases) {
        const QString path = FileNames::decode(c.path);
        const std::optional<VideoFile> v = VideoFile::make(path, 5, fromReferenceSeconds(10), std::nullopt);
        ASSERT_TRUE(v) << c.path.toStdString();
        const QUrl url = v->url();
        EXPECT_EQ(url, QUrl::fromLocalFile(path)) << c.path.toStdString();
        EXPECT_TRUE(url.isLocalFile());
        EXPECT_EQ(url.toLocalFile(), v->id);
        EXPECT_EQ(FileNames::encode(url.toLocalFile()), c.path);
        if (c.url)
            EXPECT_EQ(url.toString(QUrl::FullyEncoded), QString(c.url));
        // Through the stored forms and back: the same video, the same URL.
        const std::optional<VideoFile> fromJson = VideoFile::fromJson(v->toJson());
        ASSERT_TRUE(fromJson);
        EXPECT_EQ(*fromJson, *v);
        EXPECT_EQ(fromJson->url(), url);
        const ScopeCache cache{{"k", CachedScopeScan{"k", {*v}, {}, fromReferenceSeconds(1)}}};
        // The cache holds the URL exactly as the URL class writes it.
        const QByteArray encoded = ScopeCacheCodec::encode(cache);
        EXPECT_TRUE(encoded.contains("\"url\":\"" + url.toString(QUrl::FullyEncoded).toUtf8() + '"'))
            << c.path.toStdString() << " in " << encoded.toStdString();
        const std::optional<ScopeCache> decoded = ScopeCacheCodec::decode(encoded);
        ASSERT_TRUE(decoded) << c.path.toStdString();
        ASSERT_EQ(decoded->value("k").videos.size(), 1) << c.path.toStdString();
        EXPECT_EQ(decoded->value("k").videos.first(), *v);
        EXPECT_EQ(decoded->value("k").videos.first().url(), url);
    }
}

// Files written while the URL was kept per video hold it in whatever escaping the writer
// chose; an entry whose URL names its id is read, one whose URL names another file is not.
TEST(VideoFile, StoredUrlsInOtherEscapingsStillRead)
{
    const auto file = [](const QByteArray &id, const QByteArray &url, const QByteArray &name) {
        return QByteArray(R"({"k":{"scopeKey":"k","deniedFolders":[],"scannedAt":1,"videos":[{"id":")") + id +
               R"(","url":")" + url + R"(","name":")" + name +
               R"(","fileExtension":"MP4","directoryPath":"/v","fileSize":5,"modifiedDate":0}]}})";
    };
    struct Case { QByteArray id, url, name; bool kept; };
    const Case cases[] = {
        {"/v/caf\xc3\xa9.mp4", "file:///v/caf\xc3\xa9.mp4", "caf\xc3\xa9.mp4", true},
        {"/v/caf\xc3\xa9.mp4", "file:///v/caf%C3%A9.mp4", "caf\xc3\xa9.mp4", true},
        {"/v/caf\xc3\xa9.mp4", "file:///v/caf%c3%a9.mp4", "caf\xc3\xa9.mp4", true},
        {"/v/a b.mp4", "file:///v/a b.mp4", "a b.mp4", true},
        {"/v/a#b.mp4", "file:///v/a%23b.mp4", "a#b.mp4", true},
        {"/v/a#b.mp4", "file:///v/a#b.mp4", "a#b.mp4", false}, // a fragment, not the name
        {"/v/x.mp4", "file:///v/y.mp4", "x.mp4", false},
    };
    for (const Case &c : cases) {
        const std::optional<ScopeCache> decoded = ScopeCacheCodec::decode(file(c.id, c.url, c.name));
        ASSERT_TRUE(decoded) << c.url.toStdString();
        const QList<VideoFile> videos = decoded->value("k").videos;
        ASSERT_EQ(videos.size(), c.kept ? 1 : 0) << c.url.toStdString();
        if (c.kept)
            EXPECT_EQ(videos.first().url(), QUrl::fromLocalFile(QString::fromUtf8(c.id)));
    }
}

// Only regular files are opened for reading: a FIFO (or a folder, or nothing) is refused
// without being opened, which would connect a writer waiting on it.
TEST(FileNames, OnlyRegularFilesAreOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray fifo = QFile::encodeName(dir.filePath("pipe.mp4"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    QFile file(dir.filePath("clip.mp4"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();

    // A writer waits for a reader; the check must not be that reader.
    std::atomic<bool> writerOpened{false};
    std::thread writer([&] {
        const int fd = ::open(fifo.constData(), O_WRONLY | O_CLOEXEC);
        writerOpened = true;
        if (fd >= 0)
            ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int error = 0;
    EXPECT_FALSE(FileNames::isRegularFile(dir.filePath("pipe.mp4"), &error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_LT(FileNames::openRegularFile(dir.filePath("pipe.mp4")), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(writerOpened.load());
    // Let the writer go.
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writer.join();
    if (reader >= 0)
        ::close(reader);

    EXPECT_TRUE(FileNames::isRegularFile(dir.filePath("clip.mp4")));
    EXPECT_FALSE(FileNames::isRegularFile(dir.path(), &error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(FileNames::isRegularFile(dir.filePath("missing.mp4"), &error));
    EXPECT_EQ(error, ENOENT);
}
