#include "tools/StorageStatistics.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <stop_token>

namespace {

VideoFile video(const QString &path, qint64 size)
{
    auto v = VideoFile::make(path, size, QDateTime(QDate(2026, 1, 1), QTime(0, 0)), std::nullopt);
    EXPECT_TRUE(v.has_value()) << path.toStdString();
    return *v;
}

// The video `v` with an extension field as a stored library may hold it.
VideoFile withExtension(VideoFile v, const QString &ext)
{
    v.fileExtension = ext;
    return v;
}

QStringList names(const QList<VideoFile> &videos)
{
    QStringList out;
    for (const VideoFile &v : videos) out << v.name;
    return out;
}

template <typename Stat>
QStringList keys(const QList<Stat> &stats)
{
    QStringList out;
    for (const Stat &s : stats) out << s.id;
    return out;
}

struct Library {
    const char *what;
    QList<VideoFile> videos;
    QList<FormatStat> formats;    // ties in any order among themselves
    QList<FolderStat> folders;    // same
    QStringList largest;          // exact order
};

class StatisticsTable : public ::testing::TestWithParam<int> {};

QList<Library> libraries()
{
    QList<Library> out;
    out.append({"empty library", {}, {}, {}, {}});
    out.append({"one folder of two formats",
                {video("/v/a.mp4", 100), video("/v/b.mp4", 50), video("/v/c.mov", 200)},
                {{"MOV", "MOV", 200, 1}, {"MP4", "MP4", 150, 2}},
                {{"/v", "v", "/v", 350, 3}},
                {"c.mov", "a.mp4", "b.mp4"}});
    // A folder counts only the videos directly in it; nothing is added up the tree.
    out.append({"folder and its subfolder",
                {video("/m/a.mkv", 10), video("/m/b.mkv", 20), video("/m/sub/c.mkv", 5), video("/m/d.mkv", 30)},
                {{"MKV", "MKV", 65, 4}},
                {{"/m", "m", "/m", 60, 3}, {"/m/sub", "sub", "/m/sub", 5, 1}},
                {"d.mkv", "b.mkv", "a.mkv", "c.mkv"}});
    // Equal sizes keep the library's order among the largest, also when a tie straddles
    // the tenth place; the eleventh, smallest video is left out.
    {
        QList<VideoFile> v;
        for (int i = 0; i < 8; ++i) v << video(QString("/t/%1.mp4").arg(i), 1000 - i);
        v << video("/t/tieA.mp4", 7) << video("/t/tieB.mp4", 7) << video("/t/tieC.mp4", 7);
        out.append({"ties at the cut", v, {{"MP4", "MP4", 1000 * 8 - 28 + 21, 11}},
                    {{"/t", "t", "/t", 1000 * 8 - 28 + 21, 11}},
                    {"0.mp4", "1.mp4", "2.mp4", "3.mp4", "4.mp4", "5.mp4", "6.mp4", "7.mp4", "tieA.mp4", "tieB.mp4"}});
    }
    // Seven folders: the lightest is dropped; the videos interleave folders, so a folder's
    // total gathers from separate runs.
    {
        QList<VideoFile> v;
        for (int round = 0; round < 2; ++round)
            for (int f = 1; f <= 7; ++f) v << video(QString("/f%1/r%2.webm").arg(f).arg(round), f * 10);
        QList<FolderStat> folders;
        for (int f = 7; f >= 2; --f) folders.append({QString("/f%1").arg(f), QString("f%1").arg(f), QString("/f%1").arg(f), f * 20, 2});
        out.append({"seven folders", v, {{"WEBM", "WEBM", 560, 14}}, folders,
                    {"r0.webm", "r1.webm", "r0.webm", "r1.webm", "r0.webm", "r1.webm", "r0.webm", "r1.webm", "r0.webm", "r1.webm"}});
    }
    // A stored empty extension is a key like any other; equal format totals may come in
    // either order.
    out.append({"empty extension and tied formats",
                {withExtension(video("/e/x.mp4", 40), ""), video("/e/y.avi", 40), video("/e/z.ts", 90)},
                {{"TS", "TS", 90, 1}, {"", "", 40, 1}, {"AVI", "AVI", 40, 1}},
                {{"/e", "e", "/e", 170, 3}},
                {"z.ts", "x.mp4", "y.avi"}});
    return out;
}

// Sorted by bytes; entries of equal bytes compared as sets.
template <typename Stat>
void expectSameUpToTies(const QList<Stat> &actual, const QList<Stat> &expected, const char *what)
{
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (qsizetype i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].bytes, expected[i].bytes) << what << " #" << i;
        if (i > 0) {
            EXPECT_GE(actual[i - 1].bytes, actual[i].bytes) << what;
        }
    }
    for (const Stat &e : expected) EXPECT_TRUE(actual.contains(e)) << what << " lacks " << e.id.toStdString();
}

} // namespace

TEST_P(StatisticsTable, FormatsFoldersAndLargestVideos)
{
    const Library lib = libraries().at(GetParam());
    SCOPED_TRACE(lib.what);
    const StorageStatistics s = StorageStatistics::compute(lib.videos);
    expectSameUpToTies(s.formatStats, lib.formats, "formats");
    expectSameUpToTies(s.folderStats, lib.folders, "folders");
    EXPECT_EQ(names(s.largestVideos), lib.largest);
    qint64 total = 0;
    for (const VideoFile &v : lib.videos) total += v.fileSize;
    EXPECT_EQ(s.totalBytes, total);
    EXPECT_EQ(s.videoCount, lib.videos.size());
}

INSTANTIATE_TEST_SUITE_P(Libraries, StatisticsTable, ::testing::Range(0, int(libraries().size())));

TEST(StorageStatistics, LargestVideosAreTheVideosThemselvesInLibraryOrderOnTies)
{
    // Ten equal sizes behind one larger: library order, the larger first.
    QList<VideoFile> v;
    for (int i = 0; i < 10; ++i) v << video(QString("/s/%1.mp4").arg(i), 5);
    v << video("/s/big.mp4", 6);
    const StorageStatistics s = StorageStatistics::compute(v);
    ASSERT_EQ(s.largestVideos.size(), 10);
    EXPECT_EQ(s.largestVideos.first(), v.last());
    for (int i = 1; i < 10; ++i) EXPECT_EQ(s.largestVideos[i], v[i - 1]);
}

TEST(StorageStatistics, FolderNamesAreTheLastComponentOfTheirPath)
{
    const struct { const char *path, *name; } cases[] = {
        {"/home/ann/Videos", "Videos"}, {"/", "/"}, {"/a/b/", "b"}, {"/Über Ordner", "Über Ordner"}, {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(StorageStatistics::folderName(c.path), c.name) << c.path;
}

// Keys are one text whether they come as one shared string, as equal copies, as a part of
// a longer string at the same address, or after other keys in between.
TEST(KeyTotals, EqualTextsAreOneKeyAndDifferentTextsAreNot)
{
    const QString shared = "/x/Clips";
    const QString longer = "/x/Clips/More";
    const QString prefix = QStringView(longer).left(8).toString();
    KeyTotals totals;
    totals.add(shared, 5);
    totals.add(shared, 7);
    totals.add(QString("/x/Clips"), 1);
    totals.add(longer, 100);
    totals.add(prefix, 2);
    totals.add(QString(), 3);
    totals.add(shared, 4);
    EXPECT_EQ(StorageStatistics::makeFolderStat(totals),
              (QList<FolderStat>{{"/x/Clips", "Clips", "/x/Clips", 19, 5}, {"/x/Clips/More", "More", "/x/Clips/More", 100, 1},
                                 {"", "", "", 3, 1}}));
}

TEST(StorageStatistics, StopRequestEndsTheWalk)
{
    QList<VideoFile> v(200'000, video("/p/a.mp4", 1));
    std::stop_source source;
    source.request_stop();
    const StorageStatistics s = StorageStatistics::compute(v, source.get_token());
    EXPECT_LT(s.videoCount, v.size());
}
