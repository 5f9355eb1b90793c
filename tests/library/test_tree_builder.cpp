#include "library/LibraryIndex.h"
#include "library/LumenkiteBuilder.h"
#include "library/StableMergeSort.h"

#include <gtest/gtest.h>

#include <QCollator>
#include <QCollatorSortKey>
#include <QStringList>

#include <QFile>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QDateTime kBase(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);

VideoFile video(const QString &path, qint64 size = 1000, int minutes = 0)
{
    auto v = VideoFile::make(path, size, kBase.addSecs(minutes * 60), std::nullopt);
    EXPECT_TRUE(v.has_value()) << path.toStdString();
    return v.value_or(VideoFile{});
}

QList<VideoFile> videos(const QStringList &paths)
{
    QList<VideoFile> list;
    for (const QString &p : paths)
        list.append(video(p));
    return list;
}

// One line per node, indented two spaces per level: "displayName |id| count: video names".
void describe(const QList<VideoFolderNodePtr> &nodes, int level, QStringList &out)
{
    for (const auto &n : nodes) {
        QStringList names;
        for (const VideoFile &v : n->videos)
            names << v.name;
        out << QString(level * 2, ' ') + n->displayName + " |" + n->id() + "| " +
                   QString::number(n->pathComponentsCount) + ": " + names.join(",");
        describe(n->subfolders, level + 1, out);
    }
}

QStringList describe(const QList<VideoFolderNodePtr> &nodes)
{
    QStringList out;
    describe(nodes, 0, out);
    return out;
}

QStringList videoNames(const VideoFolderNode &node)
{
    QStringList names;
    for (const VideoFile &v : node.videos)
        names << v.name;
    return names;
}

QStringList folderNames(const QList<VideoFolderNodePtr> &nodes)
{
    QStringList names;
    for (const auto &n : nodes)
        names << n->displayName;
    return names;
}

QStringList rowIDs(const QList<TreeRow> &rows)
{
    QStringList ids;
    for (const TreeRow &r : rows)
        ids << r.id();
    return ids;
}

} // namespace

TEST(TreeBuilder, GroupsAndCompactsFolders)
{
    struct Case {
        const char *what;
        QStringList paths;
        std::optional<QString> root;
        bool compact;
        QStringList outline;
    };
    const Case cases[] = {
        {"root folder beside its subfolder",
         {"/Users/alice/Movies/a.mp4", "/Users/alice/Movies/Trips/b.mp4"},
         "/Users/alice/Movies", true,
         {"Movies |/Users/alice/Movies| 1: a.mp4", "Trips |/Users/alice/Movies/Trips| 1: b.mp4"}},
        {"trailing slash on the root", {"/r/a.mp4", "/r/s/b.mp4"}, "/r/", true,
         {"r |/r| 1: a.mp4", "s |/r/s| 1: b.mp4"}},
        {"chain compacted at the top level", {"/Users/alice/Movies/a.mp4"}, std::nullopt, true,
         {"Users / alice / Movies |/Users/alice/Movies| 3: a.mp4"}},
        {"chain kept without compaction", {"/Users/alice/Movies/a.mp4"}, std::nullopt, false,
         {"Users |/Users| 1: ", "  alice |/Users/alice| 1: ", "    Movies |/Users/alice/Movies| 1: a.mp4"}},
        {"video directly in / without a root", {"/clip.mov"}, std::nullopt, true, {"Computer |/| 1: clip.mov"}},
        {"video directly in the root /", {"/clip.mov", "/x/a.mp4"}, "/", false,
         {"Computer |/| 1: clip.mov", "x |/x| 1: a.mp4"}},
        {"a folder with a video ends the chain", {"/A/B/v.mp4", "/A/B/C/w.mp4"}, std::nullopt, true,
         {"A / B |/A/B| 2: v.mp4", "  C |/A/B/C| 1: w.mp4"}},
        {"two subfolders end the chain", {"/A/B/v.mp4", "/A/C/w.mp4"}, std::nullopt, true,
         {"A |/A| 1: ", "  B |/A/B| 1: v.mp4", "  C |/A/C| 1: w.mp4"}},
        {"compaction below the root", {"/r/x/y/z/v.mp4", "/r/q.mp4"}, "/r", true,
         {"r |/r| 1: q.mp4", "x / y / z |/r/x/y/z| 3: v.mp4"}},
        {"compaction inside a subtree", {"/r/x/y/z/v.mp4", "/r/x/w.mp4"}, "/r", true,
         {"x |/r/x| 1: w.mp4", "  y / z |/r/x/y/z| 2: v.mp4"}},
        // Outside the root a video sits in the node of its real folder, exactly once.
        {"videos outside the root keep their real paths", {"/r/a/v.mp4", "/other/deep/w.mp4"}, "/r", false,
         {"a |/r/a| 1: v.mp4", "other |/other| 1: ", "  deep |/other/deep| 1: w.mp4"}},
        {"an ancestor of the root is outside it", {"/r/s/y.mp4", "/r/x.mp4"}, "/r/s", false,
         {"r |/r| 1: x.mp4", "s |/r/s| 1: y.mp4"}},
        {"a sibling sharing the root's name prefix is outside it", {"/r/s/y.mp4", "/r/sx/z.mp4"}, "/r/s", true,
         {"r / sx |/r/sx| 2: z.mp4", "s |/r/s| 1: y.mp4"}},
    };
    for (const Case &c : cases) {
        const auto roots = LumenkiteBuilder::buildTree(videos(c.paths), c.root, c.compact, VideoSortOrder::nameAsc);
        EXPECT_EQ(describe(roots), c.outline) << c.what;
        qsizetype total = 0;
        for (const auto &r : roots)
            total += r->totalVideoCount;
        EXPECT_EQ(total, c.paths.size()) << c.what;
    }
}

TEST(TreeBuilder, DirectoryPathsAreStandardizedBeforeGrouping)
{
    QList<VideoFile> list{video("/r/b/v.mp4"), video("/r/b/w.mp4"), video("/r/c/x.mp4")};
    list[0].directoryPath = "/r/./a/../b/";
    list[2].directoryPath = "/r//c";
    EXPECT_EQ(describe(LumenkiteBuilder::buildTree(list, QString("/r/x/.."), true, VideoSortOrder::nameAsc)),
              (QStringList{"b |/r/b| 1: v.mp4,w.mp4", "c |/r/c| 1: x.mp4"}));
}

TEST(TreeBuilder, EmptyInputGivesEmptyTree)
{
    EXPECT_TRUE(LumenkiteBuilder::buildTree({}, QString("/r"), true, VideoSortOrder::nameAsc).isEmpty());
    EXPECT_TRUE(LumenkiteBuilder::flatten({}, true, {}).isEmpty());
}

TEST(TreeBuilder, NodesCarryTotalsAndUrls)
{
    const QList<VideoFile> list{video("/r/a/one.mp4", 10, 5), video("/r/a/b/two.mp4", 20, 30),
                                video("/r/a/b/three.mp4", 30, 1), video("/r/c/four.mp4", 40, 2)};
    const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), false, VideoSortOrder::nameAsc);
    ASSERT_EQ(roots.size(), 2);
    const VideoFolderNode &a = *roots[0];
    EXPECT_EQ(a.id(), "/r/a");
    EXPECT_EQ(a.url(), QUrl::fromLocalFile("/r/a"));
    EXPECT_EQ(a.totalVideoCount, 3);
    EXPECT_EQ(a.totalSize, 60);
    EXPECT_EQ(a.latestModifiedDate, kBase.addSecs(30 * 60)); // from the subfolder
    ASSERT_EQ(a.subfolders.size(), 1);
    EXPECT_EQ(a.subfolders[0]->totalVideoCount, 2);
    EXPECT_EQ(a.subfolders[0]->totalSize, 50);
    EXPECT_EQ(roots[1]->latestModifiedDate, kBase.addSecs(2 * 60));

    QStringList all;
    for (const VideoFile &v : a.allVideosRecursive())
        all << v.name;
    EXPECT_EQ(all, (QStringList{"one.mp4", "three.mp4", "two.mp4"}));
    EXPECT_EQ(LumenkiteBuilder::distantPast(), QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC));
}

TEST(TreeBuilder, VideoSortOrders)
{
    const QList<VideoFile> list{video("/r/clip10.mp4", 300, 1), video("/r/Clip2.mov", 100, 3),
                                video("/r/alpha.mkv", 300, 2), video("/r/beta.mp4", 200, 3)};
    const std::pair<VideoSortOrder, QStringList> cases[] = {
        {VideoSortOrder::nameAsc, {"alpha.mkv", "beta.mp4", "Clip2.mov", "clip10.mp4"}},
        {VideoSortOrder::sizeDesc, {"alpha.mkv", "clip10.mp4", "beta.mp4", "Clip2.mov"}},
        {VideoSortOrder::dateDesc, {"beta.mp4", "Clip2.mov", "alpha.mkv", "clip10.mp4"}},
        {VideoSortOrder::extensionAsc, {"alpha.mkv", "Clip2.mov", "beta.mp4", "clip10.mp4"}},
    };
    for (const auto &[order, expected] : cases) {
        const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), true, order);
        ASSERT_EQ(roots.size(), 1);
        EXPECT_EQ(videoNames(*roots[0]), expected) << VideoSortOrderInfo::rawValue(order).toStdString();
        // An empty score map is no score map.
        const auto scored = LumenkiteBuilder::buildTree(list, QString("/r"), true, order, QHash<QString, double>{});
        EXPECT_EQ(videoNames(*scored[0]), expected) << VideoSortOrderInfo::rawValue(order).toStdString();
    }
}

TEST(TreeBuilder, FolderSortOrders)
{
    const QList<VideoFile> list{video("/r/Trips 10/a.mp4", 500, 9), video("/r/Archive/b.mp4", 100, 1),
                                video("/r/trips 2/c.mp4", 500, 5)};
    const std::pair<VideoSortOrder, QStringList> cases[] = {
        {VideoSortOrder::nameAsc, {"Archive", "trips 2", "Trips 10"}},
        {VideoSortOrder::sizeDesc, {"trips 2", "Trips 10", "Archive"}},
        {VideoSortOrder::dateDesc, {"Trips 10", "trips 2", "Archive"}},
        {VideoSortOrder::extensionAsc, {"Archive", "trips 2", "Trips 10"}},
    };
    for (const auto &[order, expected] : cases)
        EXPECT_EQ(folderNames(LumenkiteBuilder::buildTree(list, QString("/r"), true, order)), expected)
            << VideoSortOrderInfo::rawValue(order).toStdString();
}

TEST(TreeBuilder, NamesThatCollateEqualKeepInputOrder)
{
    const QList<VideoFile> forward{video("/r/A.mp4"), video("/r/a.mp4")};
    const QList<VideoFile> backward{forward[1], forward[0]};
    EXPECT_EQ(videoNames(*LumenkiteBuilder::buildTree(forward, QString("/r"), true, VideoSortOrder::nameAsc)[0]),
              (QStringList{"A.mp4", "a.mp4"}));
    EXPECT_EQ(videoNames(*LumenkiteBuilder::buildTree(backward, QString("/r"), true, VideoSortOrder::nameAsc)[0]),
              (QStringList{"a.mp4", "A.mp4"}));
}

// A few names are collated as they are, many through sort keys: either way a folder's videos
// come in the collator's order (numbers by value, case and accents after the letters).
TEST(TreeBuilder, SmallAndLargeFoldersOrderNamesAsTheCollatorDoes)
{
    const QStringList tricky{"clip10.mp4", "Clip2.mov", "clip 2.mp4", "\u00e4.mp4", "a.mp4", "B.mp4", "_x.mp4",
                             "-y.mp4", "10.mp4", "9.mp4", "\u00c9clair.mkv", "eclair.mp4", "x1y20.mp4", "x1y3.mp4",
                             "\u00df.mp4", "ss.mp4", "file (2).mp4", "file (10).mp4", "\u65e5\u672c.mp4", "A.mp4"};
    const QCollator collator = LibraryIndex::nameCollator();
    QStringList expected = tricky;
    std::stable_sort(expected.begin(), expected.end(), [&](const QString &a, const QString &b) {
        return collator.sortKey(a).compare(collator.sortKey(b)) < 0;
    });
    for (const int padding : {0, 300}) {
        QList<VideoFile> list;
        for (const QString &name : tricky)
            list.append(video("/r/" + name));
        for (int i = 0; i < padding; ++i)
            list.append(video(QString("/r/zz pad %1.mp4").arg(i)));
        const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), true, VideoSortOrder::nameAsc);
        ASSERT_EQ(roots.size(), 1);
        QStringList names = videoNames(*roots[0]);
        names.removeIf([&](const QString &name) { return !tricky.contains(name); });
        EXPECT_EQ(names, expected) << padding;
    }
}

TEST(TreeBuilder, ScoreOrderWithTolerance)
{
    struct Case {
        const char *what;
        QHash<QString, double> scores; // by file name below /r
        QStringList expected;
    };
    const Case cases[] = {
        {"within 0.001: by name", {{"b.mp4", 0.5005}, {"a.mp4", 0.5}}, {"a.mp4", "b.mp4", "c.mp4"}},
        {"more than 0.001 apart: by score", {{"b.mp4", 0.502}, {"a.mp4", 0.5}}, {"b.mp4", "a.mp4", "c.mp4"}},
        {"no entry counts as 0", {{"c.mp4", 0.0004}, {"b.mp4", -0.3}}, {"a.mp4", "c.mp4", "b.mp4"}},
        // The sort order plays no part once scores apply.
        {"score beats size order", {{"c.mp4", 0.9}}, {"c.mp4", "a.mp4", "b.mp4"}},
    };
    const QList<VideoFile> list{video("/r/c.mp4", 1), video("/r/b.mp4", 5), video("/r/a.mp4", 3)};
    for (const Case &c : cases) {
        QHash<QString, double> scores;
        for (auto it = c.scores.begin(); it != c.scores.end(); ++it)
            scores.insert("/r/" + it.key(), it.value());
        const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), true, VideoSortOrder::sizeDesc, scores);
        ASSERT_EQ(roots.size(), 1) << c.what;
        EXPECT_EQ(videoNames(*roots[0]), c.expected) << c.what;
    }
}

TEST(TreeBuilder, FolderScoreIsTheBestBelowIt)
{
    const QList<VideoFile> list{video("/r/Alpha/a.mp4"), video("/r/Beta/deep/b.mp4"), video("/r/Gamma/c.mp4"),
                                video("/r/Delta/d.mp4")};
    const QHash<QString, double> scores{{"/r/Alpha/a.mp4", 0.3}, {"/r/Beta/deep/b.mp4", 0.9},
                                        {"/r/Gamma/c.mp4", 0.3005}, {"/r/Delta/d.mp4", -1.0}};
    // Beta wins through its subfolder; Alpha and Gamma tie within 0.001 and go by name; Delta's
    // negative score counts as 0 and sorts last.
    EXPECT_EQ(folderNames(LumenkiteBuilder::buildTree(list, QString("/r"), false, VideoSortOrder::nameAsc, scores)),
              (QStringList{"Beta", "Alpha", "Gamma", "Delta"}));
}

TEST(TreeBuilder, ChainedScoreTiesStillPlaceEveryVideoOnce)
{
    // Each neighbour is within 0.001 of the next, so "ties" chain across the whole list.
    QList<VideoFile> list;
    QHash<QString, double> scores;
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        const QString path = QString("/r/v%1.mp4").arg(i);
        list.append(video(path));
        scores.insert(path, (rng() % 5000) * 0.0007);
    }
    const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), true, VideoSortOrder::nameAsc, scores);
    ASSERT_EQ(roots.size(), 1);
    QStringList ids;
    for (const VideoFile &v : roots[0]->videos)
        ids << v.id;
    ids.sort();
    QStringList expected;
    for (const VideoFile &v : list)
        expected << v.id;
    expected.sort();
    EXPECT_EQ(ids, expected);
}

TEST(TreeFlatten, RowsFollowExpansion)
{
    const QList<VideoFile> list{video("/r/A/x.mp4"), video("/r/A/Sub/y.mp4"), video("/r/B/z.mp4")};
    const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), false, VideoSortOrder::nameAsc);
    struct Case {
        const char *what;
        bool expandAll;
        QSet<QString> expanded;
        QStringList ids;
        QList<bool> expandedFlags;
    };
    const Case cases[] = {
        {"nothing open", false, {}, {"folder:/r/A", "folder:/r/B"}, {false, false}},
        {"a folder inside a closed one stays hidden", false, {"/r/A/Sub", "/gone"},
         {"folder:/r/A", "folder:/r/B"}, {false, false}},
        {"one open", false, {"/r/A"},
         {"folder:/r/A", "folder:/r/A/Sub", "video:/r/A/x.mp4", "folder:/r/B"}, {true, false, false}},
        {"expandAll ignores the set", true, {"/r/B"},
         {"folder:/r/A", "folder:/r/A/Sub", "video:/r/A/Sub/y.mp4", "video:/r/A/x.mp4", "folder:/r/B",
          "video:/r/B/z.mp4"},
         {true, true, true}},
    };
    for (const Case &c : cases) {
        const auto rows = LumenkiteBuilder::flatten(roots, c.expandAll, c.expanded);
        EXPECT_EQ(rowIDs(rows), c.ids) << c.what;
        QList<bool> flags;
        for (const TreeRow &r : rows)
            if (r.isFolder())
                flags << r.isExpanded;
        EXPECT_EQ(flags, c.expandedFlags) << c.what;
    }
}

TEST(TreeFlatten, GuideListsAndLastInParent)
{
    // Three top-level folders; each holds a subfolder and a video.
    const QList<VideoFile> list{video("/r/A/a.mp4"), video("/r/A/S/s.mp4"), video("/r/B/b.mp4"),
                                video("/r/C/c.mp4"), video("/r/C/T/t.mp4")};
    const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), false, VideoSortOrder::nameAsc);
    const auto rows = LumenkiteBuilder::flatten(roots, true, {});
    struct Expect {
        QString id;
        int depth;
        QList<bool> guides;
        bool last;
    };
    const QList<Expect> expected{
        {"folder:/r/A", 0, {}, false},
        {"folder:/r/A/S", 1, {true}, false},
        {"video:/r/A/S/s.mp4", 2, {true, true}, true},
        {"video:/r/A/a.mp4", 1, {true}, true},
        {"folder:/r/B", 0, {}, false},
        {"video:/r/B/b.mp4", 1, {true}, true},
        {"folder:/r/C", 0, {}, true},
        {"folder:/r/C/T", 1, {false}, false},
        {"video:/r/C/T/t.mp4", 2, {false, true}, true},
        {"video:/r/C/c.mp4", 1, {false}, true},
    };
    ASSERT_EQ(rows.size(), expected.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].id(), expected[i].id);
        EXPECT_EQ(rows[i].depth, expected[i].depth) << i;
        EXPECT_EQ(rows[i].ancestorHasNextSibling, expected[i].guides) << i;
        EXPECT_EQ(rows[i].ancestorHasNextSibling.size(), rows[i].depth) << i;
        EXPECT_EQ(rows[i].isLastInParent, expected[i].last) << i;
    }
}

TEST(TreeFlatten, LooseVideosFollowFoldersAtTheGivenDepth)
{
    const auto roots = LumenkiteBuilder::buildTree({video("/r/A/a.mp4")}, QString("/r"), true, VideoSortOrder::nameAsc);
    QList<TreeRow> rows;
    LumenkiteBuilder::flatten(roots, {video("/x/one.mp4"), video("/x/two.mp4")}, 2, {true, false}, false, {}, rows);
    EXPECT_EQ(rowIDs(rows), (QStringList{"folder:/r/A", "video:/x/one.mp4", "video:/x/two.mp4"}));
    for (const TreeRow &r : rows) {
        EXPECT_EQ(r.depth, 2);
        EXPECT_EQ(r.ancestorHasNextSibling, (QList<bool>{true, false}));
    }
    EXPECT_EQ((QList<bool>{rows[0].isLastInParent, rows[1].isLastInParent, rows[2].isLastInParent}),
              (QList<bool>{false, false, true}));
    EXPECT_EQ(rows[2].video().name, "two.mp4");
}

TEST(TreeFlatten, RowsShareTheTreeAndOutliveIt)
{
    auto roots = LumenkiteBuilder::buildTree({video("/r/A/a.mp4", 77)}, QString("/r"), true, VideoSortOrder::nameAsc);
    const auto rows = LumenkiteBuilder::flatten(roots, true, {});
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].kind, TreeRowKind::folder);
    EXPECT_EQ(rows[0].folderNode.get(), roots[0].get());
    EXPECT_EQ(rows[1].kind, TreeRowKind::video);
    EXPECT_EQ(&rows[1].video(), &roots[0]->videos[0]);
    roots.clear();
    EXPECT_EQ(rows[0].folder().id(), "/r/A");
    EXPECT_EQ(rows[1].video().fileSize, 77);
    EXPECT_EQ(TreeRow{}.id(), "folder:");
}

TEST(TreeBuilder, NodesShareTheVideosTheyWereBuiltFrom)
{
    QList<VideoFile> list{video("/r/b.mp4", 5), video("/r/a.mp4", 6)};
    const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), true, VideoSortOrder::nameAsc);
    const FolderVideos &videos = roots[0]->videos;
    ASSERT_EQ(videos.size(), 2);
    EXPECT_EQ(&videos[0], &std::as_const(list)[1]); // no copy: a.mp4 is the caller's element
    // The caller changing its list afterwards leaves the built tree as it was.
    list[1].fileSize = 999;
    list.clear();
    EXPECT_EQ(videos[0].name, "a.mp4");
    EXPECT_EQ(videos[0].fileSize, 6);
    EXPECT_EQ(videos.toList().size(), 2);
    EXPECT_EQ(std::distance(videos.begin(), videos.end()), 2);
}

TEST(TreeBuilder, CollectFolderIDsAndAllFolders)
{
    const QList<VideoFile> list{video("/r/A/B/C/a.mp4"), video("/r/A/b.mp4"), video("/r/D/d.mp4")};
    const auto roots = LumenkiteBuilder::buildTree(list, QString("/r"), false, VideoSortOrder::nameAsc);
    struct Case {
        int maxDepth;
        bool all;
        QSet<QString> ids;
    };
    const Case cases[] = {
        {0, false, {}},
        {1, false, {"/r/A", "/r/D"}},
        {2, false, {"/r/A", "/r/D", "/r/A/B"}},
        {0, true, {"/r/A", "/r/D", "/r/A/B", "/r/A/B/C"}},
    };
    for (const Case &c : cases) {
        QSet<QString> ids;
        LumenkiteBuilder::collectFolderIDs(roots, 0, c.maxDepth, c.all, ids);
        EXPECT_EQ(ids, c.ids) << c.maxDepth << c.all;
    }
    QList<VideoFolderNodePtr> all;
    LumenkiteBuilder::allFolders(roots, all);
    QStringList ids;
    for (const auto &n : all)
        ids << n->id();
    EXPECT_EQ(ids, (QStringList{"/r/A", "/r/A/B", "/r/A/B/C", "/r/D"}));
}

TEST(StableMergeSort, MatchesStableSortForAStrictOrder)
{
    std::mt19937 rng(3);
    for (int n : {0, 1, 2, 15, 16, 17, 33, 100, 1000, 4097}) {
        std::vector<std::pair<int, int>> a(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            a[size_t(i)] = {int(rng() % 10), i};
        auto expected = a;
        auto byKey = [](const auto &x, const auto &y) { return x.first < y.first; };
        std::stable_sort(expected.begin(), expected.end(), byKey);
        lk::stableMergeSort(a.begin(), a.end(), byKey);
        EXPECT_EQ(a, expected) << n;
    }
}

TEST(StableMergeSort, NeverLeavesTheRangeWhateverTheComparatorSays)
{
    // Guards on both sides; the comparator fails the test if it is ever handed one.
    std::mt19937 rng(11);
    for (int n : {2, 5, 16, 17, 31, 64, 257, 3000}) {
        std::vector<int> storage(size_t(n) + 2, -1);
        for (int i = 0; i < n; ++i)
            storage[size_t(i) + 1] = i;
        int bad = 0;
        auto random = [&](int x, int y) {
            if (x < 0 || y < 0 || x >= n || y >= n)
                ++bad;
            return rng() % 2 == 0;
        };
        lk::stableMergeSort(storage.begin() + 1, storage.end() - 1, random);
        EXPECT_EQ(bad, 0) << n;
        EXPECT_EQ(storage.front(), -1);
        EXPECT_EQ(storage.back(), -1);
        std::vector<int> inside(storage.begin() + 1, storage.end() - 1);
        std::sort(inside.begin(), inside.end());
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(inside[size_t(i)], i) << n;
    }
}

namespace {

// Runs `body` in a child process that may map only `extraBytes` more than it holds when the
// body starts; true when the body returned true there.
bool runWithinMemory(size_t extraBytes, const std::function<bool()> &body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        QFile status("/proc/self/statm");
        if (!status.open(QIODevice::ReadOnly))
            ::_exit(3);
        const size_t mapped = size_t(status.readAll().split(' ').value(0).toULongLong()) * size_t(::sysconf(_SC_PAGESIZE));
        const struct rlimit rl{mapped + extraBytes, mapped + extraBytes};
        if (::setrlimit(RLIMIT_AS, &rl) != 0)
            ::_exit(3);
        bool ok = false;
        try {
            ok = body();
        } catch (const std::bad_alloc &) {
            ::_exit(2);
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

// A chain of folders far deeper than a path may be long: the tree holds each compacted part
// once, with its own path, and building it costs about its depth in memory, not its square
// (every level's full path held at once would take about 800 MB here).
TEST(TreeBuilder, DeepChainsCostTheirDepthNotItsSquare)
{
    constexpr int kDepth = 20'000;
    const auto chain = [](int levels) {
        QString path = "/r";
        path.reserve(2 + 2 * levels);
        for (int i = 0; i < levels; ++i)
            path += "/d";
        return path;
    };
    const QList<VideoFile> list{video(chain(kDepth) + "/deep.mp4"), video(chain(3000) + "/e/side.mkv"),
                                video(chain(3000) + "/v3000.mp4"), video(chain(100) + "/v100.mp4")};
    // The compacted parts: (first level, levels, the videos directly in the last).
    struct Part {
        int depth;
        int levels;
        QStringList videos;
    };
    const Part expected[] = {{0, 100, {"v100.mp4"}}, {1, 2900, {"v3000.mp4"}}, {2, kDepth - 3000, {"deep.mp4"}},
                             {2, 1, {"side.mkv"}}};
    // Warm: the collator's data is loaded before the limit applies.
    LumenkiteBuilder::buildTree(videos({"/r/a/b.mp4"}), QString("/r"), true, VideoSortOrder::nameAsc);
    const LibraryIndex index(list);
    const std::vector<int> all{0, 1, 2, 3};
    for (const bool withIndex : {false, true}) {
        SCOPED_TRACE(withIndex);
        const auto check = [&] {
            const QList<VideoFolderNodePtr> roots =
                withIndex ? LumenkiteBuilder::buildTree(index, all, QString("/r"), true, VideoSortOrder::nameAsc)
                          : LumenkiteBuilder::buildTree(list, QString("/r"), true, VideoSortOrder::nameAsc);
            const QList<TreeRow> rows = LumenkiteBuilder::flatten(roots, true, {});
            QList<const VideoFolderNode *> folders;
            for (const TreeRow &row : rows)
                if (row.isFolder())
                    folders.append(&row.folder());
            bool same = folders.size() == qsizetype(std::size(expected));
            qsizetype at = 0;
            for (; same && at < folders.size(); ++at) {
                const qsizetype i = at;
                const Part &part = expected[i];
                const VideoFolderNode &node = *folders[i];
                const int levelsAbove = part.depth == 0 ? 0 : part.depth == 1 ? 100 : 3000;
                const QString path = part.levels == 1 ? chain(3000) + "/e" : chain(levelsAbove + part.levels);
                same = node.id() == path && node.url() == QUrl::fromLocalFile(path) &&
                       node.pathComponentsCount == part.levels && videoNames(node) == part.videos &&
                       node.displayName.count(" / ") == part.levels - 1;
            }
            if (!same)
                std::fprintf(stderr, "the tree differs at folder %lld of %lld\n", (long long)at, (long long)folders.size());
            return same;
        };
        EXPECT_TRUE(runWithinMemory(size_t(200) << 20, check));
    }
}

// Without compaction each folder of a chain far deeper than a path may be long is a node of
// its own. Each holds its name, not its whole path (every level's path held at once would
// take about 1.8 GB here, and the tree once took 11 s to make), the tree is made, listed and
// taken apart without running out of stack, and paths still come out whole at every depth.
// Opening every folder stops below the folders whose path passes the limit.
TEST(TreeBuilder, UncompactedDeepChainsHoldTheirNamesNotEveryLevelsPath)
{
    constexpr int kDepth = 30'000;
    const auto chain = [](int levels) {
        QString path = "/r";
        path.reserve(2 + 2 * levels);
        for (int i = 0; i < levels; ++i)
            path += "/a";
        return path;
    };
    const QString bottom = chain(kDepth);
    const QList<VideoFile> list{video(bottom + "/deep.mp4"), video("/r/a/top.mp4")};
    // Warm: the collator's data is loaded before the limit applies.
    LumenkiteBuilder::buildTree(videos({"/r/a/b.mp4"}), QString("/r"), false, VideoSortOrder::nameAsc);
    const LibraryIndex index(list);
    const std::vector<int> all{0, 1};
    for (const bool withIndex : {false, true}) {
        SCOPED_TRACE(withIndex);
        const auto check = [&] {
            const QList<VideoFolderNodePtr> roots =
                withIndex ? LumenkiteBuilder::buildTree(index, all, QString("/r"), false, VideoSortOrder::nameAsc)
                          : LumenkiteBuilder::buildTree(list, QString("/r"), false, VideoSortOrder::nameAsc);
            if (roots.size() != 1 || roots[0]->totalVideoCount != 2)
                return false;
            // Down the chain, with the paths read where they are kept whole and past that.
            const VideoFolderNode *node = roots[0].get();
            int levels = 1;
            bool same = node->id() == chain(1);
            while (same && !node->subfolders.isEmpty()) {
                node = node->subfolders[0].get();
                ++levels;
                if (levels == 2000 || levels == 2100 || levels == kDepth - 1)
                    same = node->id() == chain(levels) && node->displayName == "a";
            }
            same = same && levels == kDepth && node->id() == bottom && node->url() == QUrl::fromLocalFile(bottom) &&
                   videoNames(*node) == QStringList{"deep.mp4"} && node->videos[0].directoryPath == node->id();
            if (!same)
                std::fprintf(stderr, "the chain differs at level %d\n", levels);
            // Every folder opened: the top of the chain down to where paths pass the limit.
            QSet<QString> opened;
            LumenkiteBuilder::collectFolderIDs(roots, 0, 0, true, opened);
            bool bounded = opened.contains(chain(1)) && opened.contains(chain(2000)) && !opened.contains(bottom);
            for (const QString &id : std::as_const(opened))
                bounded = bounded && id.size() <= FolderPath::kKeptLength + 2;
            const QList<TreeRow> rows = LumenkiteBuilder::flatten(roots, false, opened);
            bounded = bounded && rows.size() == opened.size() + 2 && rows.last().isVideo() &&
                      !rows[rows.size() - 2].isExpanded;
            if (!bounded)
                std::fprintf(stderr, "%lld folders opened, %lld rows\n", (long long)opened.size(),
                             (long long)rows.size());
            return same && bounded;
        };
        EXPECT_TRUE(runWithinMemory(size_t(200) << 20, check));
    }
}
