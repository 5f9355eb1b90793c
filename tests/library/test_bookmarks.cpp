#include "library/BookmarkService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QVariantMap>

// Readable values in failure messages.
static void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

QSettings settings() { return QSettings("Lumenkite", "Lumenkite"); }

QVariantMap storedBookmarks() { return settings().value(BookmarkService::defaultsKey).toMap(); }

QStringList storedPlainPaths() { return settings().value(BookmarkService::customFolderPathsKey).toStringList(); }

QStringList paths(const QList<QUrl> &urls)
{
    QStringList out;
    for (const QUrl &url : urls)
        out << url.toLocalFile();
    return out;
}

class BookmarkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings s = settings();
        s.remove(BookmarkService::defaultsKey);
        s.remove(BookmarkService::customFolderPathsKey);
        root = lktest::sandboxRoot() + "/bookmarks/"
            + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir(root).removeRecursively();
        QDir().mkpath(root);
    }

    QString folder(const QString &name)
    {
        const QString path = root + "/" + name;
        QDir().mkpath(path);
        return path;
    }

    static QUrl url(const QString &path) { return QUrl::fromLocalFile(path); }

    QString root;
    BookmarkService service;
};

TEST_F(BookmarkTest, AddingTwiceKeepsOneEntryUnderStandardizedPath)
{
    const QString dir = folder("Movies");
    service.addFolder(url(dir + "/"));
    service.addFolder(url(root + "/./Movies/../Movies"));

    EXPECT_EQ(storedBookmarks().keys(), QStringList{dir});
    EXPECT_TRUE(storedPlainPaths().isEmpty());
    EXPECT_EQ(service.activeURLs().keys(), QStringList{dir});
    EXPECT_EQ(paths(service.restoreFolders()), QStringList{dir});
}

TEST_F(BookmarkTest, FolderWithoutBookmarkIsStoredOnceAndOfferedWhileItExists)
{
    const QString dir = root + "/Later";
    for (int i = 0; i < 3; ++i)
        service.addFolder(url(dir)); // no folder yet: no bookmark can be made
    service.addFolder(QUrl("https://example.com/share"));

    EXPECT_EQ(storedPlainPaths().count(dir), 1);
    EXPECT_TRUE(storedBookmarks().isEmpty());
    EXPECT_TRUE(service.activeURLs().isEmpty());
    EXPECT_TRUE(service.restoreFolders().isEmpty());

    QDir().mkpath(dir);
    EXPECT_EQ(paths(service.restoreFolders()), QStringList{dir});
    EXPECT_TRUE(service.activeURLs().isEmpty()) << "plain paths start no access";
}

TEST_F(BookmarkTest, StoredBothWaysIsOfferedOnceAndRemovedFromBoth)
{
    const QString dir = folder("Both");
    service.addFolder(url(dir));
    settings().setValue(BookmarkService::customFolderPathsKey, QStringList{dir, root + "/Other", dir});

    EXPECT_EQ(paths(service.restoreFolders()), QStringList{dir});

    service.removeFolder(url(dir + "/"));
    EXPECT_TRUE(storedBookmarks().isEmpty());
    EXPECT_EQ(storedPlainPaths(), QStringList{root + "/Other"});
    EXPECT_TRUE(service.activeURLs().isEmpty());
    EXPECT_TRUE(service.restoreFolders().isEmpty());
}

TEST_F(BookmarkTest, RestoreSortsByNameNumericAndCaseInsensitive)
{
    for (const char *name : {"Clip 10", "Beta", "Clip 9", "alpha"})
        service.addFolder(url(folder(name)));
    const QStringList expected{root + "/alpha", root + "/Beta", root + "/Clip 9", root + "/Clip 10"};
    EXPECT_EQ(paths(service.restoreFolders()), expected);
}

TEST_F(BookmarkTest, MovedFolderIsOfferedAtNewPlaceUnderOneFreshKey)
{
    const QString before = folder("Holiday");
    service.addFolder(url(before));
    ASSERT_TRUE(QDir().rename(before, root + "/Holiday 2024"));
    const QString after = root + "/Holiday 2024";

    BookmarkService nextLaunch;
    EXPECT_EQ(paths(nextLaunch.restoreFolders()), QStringList{after});
    EXPECT_EQ(storedBookmarks().keys(), QStringList{after}) << "the old key is gone";
    EXPECT_EQ(nextLaunch.activeURLs().keys(), QStringList{after});

    // Removing it now keeps it removed at the following start.
    nextLaunch.removeFolder(url(after));
    EXPECT_TRUE(BookmarkService().restoreFolders().isEmpty());
    EXPECT_TRUE(storedBookmarks().isEmpty());
}

TEST_F(BookmarkTest, FolderMovedIntoSiblingIsFound)
{
    const QString before = folder("Clips");
    service.addFolder(url(before));
    folder("Archive");
    ASSERT_TRUE(QDir().rename(before, root + "/Archive/Clips"));
    EXPECT_EQ(paths(BookmarkService().restoreFolders()), QStringList{root + "/Archive/Clips"});
}

TEST_F(BookmarkTest, ReplacedFolderResolvesStale)
{
    const QString dir = folder("Replaced");
    const auto data = BookmarkService::makeBookmarkData(url(dir));
    ASSERT_TRUE(data.has_value());
    const auto same = BookmarkService::resolveBookmarkData(*data);
    ASSERT_TRUE(same.has_value());
    EXPECT_FALSE(same->isStale);

    ASSERT_TRUE(QDir(dir).removeRecursively());
    QDir().mkpath(dir);
    const auto replaced = BookmarkService::resolveBookmarkData(*data);
    ASSERT_TRUE(replaced.has_value());
    if (!replaced->isStale && BookmarkService::makeBookmarkData(url(dir)) == data)
        GTEST_SKIP() << "this file system reused the inode and reports no birth time";
    EXPECT_TRUE(replaced->isStale);
    EXPECT_EQ(replaced->url.toLocalFile(), dir);

    // Restore gives the new folder a fresh bookmark under the same key.
    settings().setValue(BookmarkService::defaultsKey, QVariantMap{{dir, *data}});
    EXPECT_EQ(paths(service.restoreFolders()), QStringList{dir});
    EXPECT_NE(storedBookmarks().value(dir).toByteArray(), *data);
    const auto fresh = BookmarkService::resolveBookmarkData(storedBookmarks().value(dir).toByteArray());
    ASSERT_TRUE(fresh.has_value());
    EXPECT_FALSE(fresh->isStale);
}

TEST_F(BookmarkTest, BadStoredValuesCostNoOtherEntry)
{
    const QString good = folder("Good");
    const QString added = folder("Added");
    const QString gone = folder("Gone");
    const auto goodData = BookmarkService::makeBookmarkData(url(good));
    const auto goneData = BookmarkService::makeBookmarkData(url(gone));
    ASSERT_TRUE(goodData && goneData);
    QDir(gone).removeRecursively();
    settings().setValue(BookmarkService::defaultsKey,
                        QVariantMap{{good, *goodData},
                                    {root + "/NotData", QString("text")},
                                    {root + "/Number", 42},
                                    {root + "/Garbage", QByteArray("\x01\x02 not a record")},
                                    {gone, *goneData}});

    service.addFolder(url(added));

    const QVariantMap stored = storedBookmarks();
    EXPECT_EQ(stored.value(good).toByteArray(), *goodData);
    EXPECT_TRUE(stored.contains(added));
    // Unreadable and unresolvable entries are passed over, not thrown away.
    EXPECT_TRUE(stored.contains(root + "/Garbage"));
    EXPECT_TRUE(stored.contains(gone));
    EXPECT_EQ(paths(service.restoreFolders()), (QStringList{added, good}));
    EXPECT_TRUE(storedBookmarks().contains(gone));
}

TEST_F(BookmarkTest, ActiveSetFollowsAddAndRemove)
{
    const QString a = folder("A");
    const QString b = folder("B");
    service.addFolder(url(a));
    service.addFolder(url(b));
    EXPECT_EQ(service.activeURLs().size(), 2);
    service.removeFolder(url(a));
    EXPECT_EQ(service.activeURLs().keys(), QStringList{b});
    service.removeFolder(url(root + "/Never"));
    EXPECT_EQ(service.activeURLs().keys(), QStringList{b});
}

TEST(BookmarkData, RejectsWhatIsNoRecord)
{
    for (const QByteArray &data : {QByteArray(), QByteArray("{}"), QByteArray("[1,2]"),
                                   QByteArray(R"({"kind":"lumenkite.folder","path":"rel","device":"1","inode":"2"})"),
                                   QByteArray(R"({"kind":"lumenkite.folder","path":"/tmp","device":"x","inode":"2"})")})
        EXPECT_FALSE(BookmarkService::resolveBookmarkData(data).has_value()) << data.constData();
}

} // namespace
