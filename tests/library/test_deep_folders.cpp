// A library holding a chain of folders far deeper than a path may be long, as the state
// shows it: its trees are made off the window's thread and its paths still come out whole.

#include "library/AppState.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

namespace {

VideoFile mem(const QString &path) { return *VideoFile::make(path, 1000, QDateTime::currentDateTimeUtc(), std::nullopt); }

// A cached library with a chain 30,000 folders deep: switching to it builds its first tree off
// the window's thread (nothing of the library left behind is shown meanwhile), opened by the
// rule with the first video selected. Without compaction the chain's tree comes off the thread
// as well, and its deepest folder still has the video's folder as its path.
TEST(DeepFolders, ACachedLibrarysFirstTreeIsBuiltOffTheWindowsThread)
{
    const QString root = lktest::sandboxRoot() + "/lib";
    QString deep = root;
    for (int i = 0; i < 30'000; ++i)
        deep += "/a";
    const VideoFile bottom = mem(deep + "/bottom.mp4");
    const ScanScope scope = ScanScope::customFolder(QUrl::fromLocalFile(root));
    const QString key = "scope:custom:" + root + "#photos=1"; // the photos library is on by default
    AppState s;
    int scans = 0;
    s.setScanStarter([&](const ScanScope &, bool, QObject *, VideoScanner::EventHandler) {
        ++scans;
        return ScanJob();
    });
    s.setScopeCache({{key, CachedScopeScan{key, {mem(root + "/top.mp4"), bottom}, {}, fromReferenceSeconds(10)}}});
    QSignalSpy rebuilt(&s, &AppState::treeRebuilt);
    s.selectScope(scope);
    ASSERT_TRUE(s.isShowingCachedScan());
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(rebuilt.count(), 0);
    EXPECT_TRUE(s.flattenedRows().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.primarySelectedVideoID().has_value(); }, 20000));
    EXPECT_EQ(s.primarySelectedVideoID(), bottom.id);
    QStringList rows;
    for (const TreeRow &r : s.flattenedRows())
        rows << (r.isFolder() ? QString("%1 %2").arg(r.folder().id() == deep ? "deep" : r.folder().id().mid(root.size()))
                                      .arg(r.folder().pathComponentsCount)
                              : r.video().name);
    EXPECT_EQ(rows, (QStringList{"deep 30000", "bottom.mp4", " 1", "top.mp4"}));

    const int before = rebuilt.count();
    s.setCompactSingleChildFolders(false);
    EXPECT_EQ(rebuilt.count(), before);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rebuilt.count() > before; }, 20000));
    const auto chain = std::find_if(s.treeRoots().cbegin(), s.treeRoots().cend(),
                                    [&](const VideoFolderNodePtr &n) { return n->id() == root + "/a"; });
    ASSERT_NE(chain, s.treeRoots().cend());
    const VideoFolderNode *node = chain->get();
    int levels = 1;
    for (; !node->subfolders.isEmpty(); ++levels)
        node = node->subfolders.first().get();
    EXPECT_EQ(levels, 30'000);
    EXPECT_EQ(node->id(), deep);
    EXPECT_EQ(node->url(), QUrl::fromLocalFile(deep));
    ASSERT_EQ(node->videos.size(), 1);
    EXPECT_EQ(node->videos[0].id, bottom.id);
    EXPECT_EQ(s.primarySelectedVideo()->id, bottom.id);
}

} // namespace
