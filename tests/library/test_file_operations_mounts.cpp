#include "library/FileNames.h"
#include "library/FileOperationJournal.h"
#include "library/FileOperationService.h"
#include "support/TestSupport.h"
#include "FileOperationsSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using namespace FileOperationService;

QString sandboxFolder(const QString &name) { return fotest::sandboxFolder("mounts", name); }
using fotest::makeVideo;

QString homeTrash() { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash"; }

bool exists(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray infoOf(const QUrl &trashed)
{
    const QByteArray path = FileNames::encode(trashed.toLocalFile());
    const qsizetype files = path.lastIndexOf("/files/");
    return path.left(files) + "/info/" + path.mid(files + 7) + ".trashinfo";
}

// Runs `body` in a child process and waits for it; the signal that ended it, or 0.
int inChild(const std::function<void()> &body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

class TrashElsewhere : public ::testing::Test {
protected:
    void TearDown() override
    {
        setTrashRenameHookForTesting({});
        setMountTableForTesting({});
    }
    // Renames into the home Trash fail as they do from a bind mount.
    static void refuseHomeTrash()
    {
        const QByteArray home = FileNames::encode(homeTrash()) + "/";
        setTrashRenameHookForTesting([home](const QByteArray &, const QByteArray &to) {
            return to.startsWith(home) ? EXDEV : -1;
        });
    }
    // A mount table holding "/" and `folder` mounted with `options`.
    static void mountTable(const QString &folder, const char *options)
    {
        const QString table = lktest::sandboxRoot() + "/mountinfo";
        QFile f(table);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QByteArray point = FileNames::encode(folder);
        point.replace(" ", "\\040");
        f.write("22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda rw\n");
        f.write("90 22 254:1 /elsewhere " + point + " " + options + ",relatime shared:1 - ext4 /dev/vda rw\n");
        f.close();
        setMountTableForTesting(table);
    }
};

} // namespace

// A file on another mount of the same device goes to that mount's own Trash and comes back.
TEST_F(TrashElsewhere, OtherMountOfTheSameDeviceUsesItsOwnTrash)
{
    const QString uid = QString::number(::getuid());
    struct Case {
        const char *what;
        std::function<bool(const QString &mount)> setUp; // false: skip
    };
    const Case cases[] = {
        {"a refused rename and the mount table", [](const QString &mount) {
             refuseHomeTrash();
             mountTable(mount, "rw");
             return true;
         }},
        {"a real bind mount", [](const QString &mount) {
             const QString source = sandboxFolder("bind-source");
             return ::geteuid() == 0 &&
                    ::mount(FileNames::encode(source).constData(), FileNames::encode(mount).constData(), nullptr,
                            MS_BIND, nullptr) == 0;
         }},
    };
    for (const Case &c : cases) {
        const QString mount = sandboxFolder("bind mount");
        if (!c.setUp(mount)) {
            std::cout << "skipped: " << c.what << " (needs root)\n";
            continue;
        }
        const VideoFile video = makeVideo(mount + "/videos/Clip.mp4", 4321);
        QStringList failures;
        const auto records = trash({video}, &failures);
        ASSERT_EQ(records.size(), 1) << c.what << ": " << failures.join('\n').toStdString();
        EXPECT_EQ(records[0].trashedURL.toLocalFile(), mount + "/.Trash-" + uid + "/files/Clip.mp4") << c.what;
        EXPECT_TRUE(exists(infoOf(records[0].trashedURL))) << c.what;
        EXPECT_FALSE(QFile::exists(video.id)) << c.what;
        EXPECT_EQ(undo(UndoRecord::trashed(records)), QList<VideoFile>{video}) << c.what;
        EXPECT_EQ(QFileInfo(video.id).size(), 4321) << c.what;
        EXPECT_FALSE(exists(infoOf(records[0].trashedURL))) << c.what;
        TearDown();
        ::umount(FileNames::encode(mount).constData());
    }
}

TEST_F(TrashElsewhere, ReadOnlyMountSaysSoAndLeavesNothing)
{
    const QString mount = sandboxFolder("ro mount");
    const VideoFile video = makeVideo(mount + "/Clip.mp4", 99);
    refuseHomeTrash();
    mountTable(mount, "ro");
    QStringList failures;
    EXPECT_THROW(trash({video}, &failures), FileOperationError);
    EXPECT_EQ(failures, QStringList{"Clip.mp4: The file system is read-only"});
    EXPECT_EQ(QFileInfo(video.id).size(), 99);
    EXPECT_EQ(namesIn(mount), QStringList{"Clip.mp4"});
    EXPECT_TRUE(namesIn(homeTrash() + "/info").filter("Clip").isEmpty());
}

// A name near the longest a file may have still goes to the Trash: its entry there is cut
// short at a character boundary, the extension and the number kept, and undo restores the
// whole name.
TEST(TrashNames, LongNamesAreShortenedInTheTrashOnly)
{
    const QString dir = sandboxFolder("long");
    const QString ascii = QString(247, 'a') + ".mp4";               // 251 bytes
    const QString wide = QString(83, QChar(0x3042)) + "xx.mkv";      // 3 bytes each: 255
    for (const QString &name : {ascii, wide}) {
        ASSERT_LE(FileNames::encode(name).size(), 255);
        QList<TrashedItemRecord> records;
        for (int copy = 0; copy < 2; ++copy) { // the same name twice: the second is numbered
            QStringList failures;
            const auto one = trash({makeVideo(dir + "/" + name, 100 + copy)}, &failures);
            ASSERT_EQ(one.size(), 1) << failures.join('\n').toStdString();
            records << one;
        }
        for (const TrashedItemRecord &r : records) {
            const QByteArray leaf = FileNames::encode(QFileInfo(r.trashedURL.toLocalFile()).fileName());
            EXPECT_LE(leaf.size() + 10, 255);
            EXPECT_FALSE(FileNames::hasRawBytes(FileNames::decode(leaf))) << "cut inside a character";
            EXPECT_TRUE(leaf.endsWith(name.right(4).toUtf8()));
            EXPECT_TRUE(exists(infoOf(r.trashedURL)));
        }
        EXPECT_TRUE(QFileInfo(records[1].trashedURL.toLocalFile()).fileName().endsWith(" 2" + name.right(4)));
        QStringList failures;
        const auto restored = undo(UndoRecord::trashed({records[0]}), &failures);
        ASSERT_EQ(restored.size(), 1) << failures.join('\n').toStdString();
        EXPECT_EQ(restored[0].name, name);
        EXPECT_EQ(QFileInfo(dir + "/" + name).size(), 100);
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
    }
}

// A kill between the .trashinfo and the rename leaves the file in place and an entry that
// names it; the next start removes that entry, and only it.
TEST(InterruptedOperations, KilledTrashLeavesNoOrphanAfterTheNextStart)
{
    const QString dir = sandboxFolder("killed-trash");
    const VideoFile video = makeVideo(dir + "/Killed.mp4", 777);
    const VideoFile other = makeVideo(dir + "/Kept.mp4", 55);
    const auto kept = trash({other});
    ASSERT_EQ(kept.size(), 1);
    const QString journal = sandboxFolder("journal-trash");

    EXPECT_EQ(inChild([&] {
                  setTrashRenameHookForTesting([](const QByteArray &, const QByteArray &) {
                      ::raise(SIGKILL);
                      return -1;
                  });
                  trash({video});
              }),
              SIGKILL);
    EXPECT_EQ(QFileInfo(video.id).size(), 777);
    const QString info = homeTrash() + "/info/Killed.mp4.trashinfo";
    ASSERT_TRUE(QFile::exists(info));

    const FileOperationJournal::Tidied tidied = FileOperationJournal::tidyInterrupted();
    EXPECT_EQ(tidied.removedTrashInfos, 1);
    EXPECT_FALSE(QFile::exists(info));
    EXPECT_TRUE(exists(infoOf(kept[0].trashedURL)));
    EXPECT_EQ(QFileInfo(video.id).size(), 777);
    EXPECT_EQ(FileOperationJournal::tidyInterrupted().removedTrashInfos, 0);
    EXPECT_TRUE(namesIn(FileOperationJournal::folder()).filter(".fileop").isEmpty());
}

// ---- copies between file systems ----

class CrossDeviceCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        other = std::make_unique<QTemporaryDir>("/dev/shm/lumenkite-xdev-XXXXXX");
        struct stat a {}, b {};
        if (!other->isValid() || ::stat(QFile::encodeName(other->path()).constData(), &a) != 0 ||
            ::stat(QFile::encodeName(lktest::sandboxRoot()).constData(), &b) != 0 || a.st_dev == b.st_dev)
            GTEST_SKIP() << "no second file system at /dev/shm";
    }
    std::unique_ptr<QTemporaryDir> other;
};

// A move killed in the middle of its copy leaves the source whole and a hidden copy that the
// next start removes; a move cancelled in the middle removes it itself.
TEST_F(CrossDeviceCopy, KilledOrCancelledCopyLeavesTheSourceAndNoTemporary)
{
    constexpr qint64 size = 40 << 20;
    const VideoFile video = makeVideo(other->path() + "/Big.mp4", size);
    const QString dest = sandboxFolder("xdev-killed");

    EXPECT_EQ(inChild([&] {
                  CopyControl control;
                  control.progress = [](qint64 done, qint64) {
                      if (done > 0) ::raise(SIGKILL);
                  };
                  move({video}, QUrl::fromLocalFile(dest), nullptr, control);
              }),
              SIGKILL);
    EXPECT_EQ(QFileInfo(video.id).size(), size);
    const QStringList left = namesIn(dest);
    ASSERT_EQ(left.size(), 1);
    EXPECT_TRUE(left[0].startsWith(".lumenkite-move-")) << left[0].toStdString();
    EXPECT_EQ(FileOperationJournal::tidyInterrupted().removedTemporaries, 1);
    EXPECT_TRUE(namesIn(dest).isEmpty());
    EXPECT_EQ(QFileInfo(video.id).size(), size);

    std::vector<std::pair<qint64, qint64>> seen;
    CopyControl control;
    control.progress = [&](qint64 done, qint64 total) { seen.emplace_back(done, total); };
    control.cancelled = [&] { return !seen.empty(); };
    QStringList failures;
    EXPECT_TRUE(move({video}, QUrl::fromLocalFile(dest), &failures, control).isEmpty());
    EXPECT_TRUE(failures.isEmpty());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].second, size);
    EXPECT_GT(seen[0].first, 0);
    EXPECT_LT(seen[0].first, size);
    EXPECT_TRUE(namesIn(dest).isEmpty());
    EXPECT_EQ(QFileInfo(video.id).size(), size);
    EXPECT_EQ(FileOperationJournal::tidyInterrupted().removedTemporaries, 0);
}

// Files a rename cannot take are only listed when the caller copies them later; the
// renamed ones moved at once.
TEST_F(CrossDeviceCopy, LeftForCopyListsOnlyWhatARenameCannotTake)
{
    const QString dest = sandboxFolder("xdev-left");
    const VideoFile far = makeVideo(other->path() + "/Far.mp4", 5000);
    const VideoFile near = makeVideo(sandboxFolder("xdev-near") + "/Near.mp4", 6000);
    QList<VideoFile> left;
    const auto records = move({far, near}, QUrl::fromLocalFile(dest), nullptr, {}, &left);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].originalVideo, near);
    EXPECT_EQ(left, QList<VideoFile>{far});
    EXPECT_TRUE(QFile::exists(far.id));

    const auto copied = move(left, QUrl::fromLocalFile(dest));
    ASSERT_EQ(copied.size(), 1);
    UndoRecord leftUndo;
    EXPECT_EQ(undo(UndoRecord::moved({copied[0], records[0]}), nullptr, {}, &leftUndo), QList<VideoFile>{near});
    EXPECT_EQ(leftUndo.movedItems, QList<MovedItemRecord>{copied[0]});
    EXPECT_EQ(undo(leftUndo), QList<VideoFile>{far});
    EXPECT_EQ(QFileInfo(far.id).size(), 5000);
}
