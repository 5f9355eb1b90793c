#include "library/Models.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <cmath>
#include <limits>

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
