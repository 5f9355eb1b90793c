#include "library/FileNames.h"
#include "library/FileOperationService.h"
#include "support/TestSupport.h"
#include "FileOperationsSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cctype>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

// Readable values in failure messages.
static void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using namespace FileOperationService;

QString sandboxFolder(const QString &name) { return fotest::sandboxFolder("ops", name); }
using fotest::makeVideo;

// A video value whose file is gone by the time the operation runs.
VideoFile vanishedVideo(const QString &path)
{
    VideoFile video = makeVideo(path);
    QFile::remove(path);
    return video;
}

QString nameOf(const QUrl &url) { return QFileInfo(url.toLocalFile()).fileName(); }

qint64 fileSizeAt(const QString &path) { return QFileInfo(path).size(); }

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool setImmutable(const QString &path, bool on)
{
    return lktest::runProgram("chattr", {on ? "+i" : "-i", path}) == 0;
}

// ---- unique names ----

struct UniqueCase {
    const char *name;
    QStringList existing;
    const char *expected;
};

class UniqueDestinationTest : public ::testing::TestWithParam<UniqueCase> {};

TEST_P(UniqueDestinationTest, TakesFirstFreeNumberedName)
{
    const UniqueCase &c = GetParam();
    const QString folder = sandboxFolder("unique");
    for (const QString &existing : c.existing)
        ASSERT_TRUE(lktest::writeSizedFile(folder + "/" + existing, 1));
    const QUrl result = uniqueDestination(c.name, QUrl::fromLocalFile(folder));
    EXPECT_EQ(result, QUrl::fromLocalFile(folder + "/" + c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Names, UniqueDestinationTest,
    ::testing::Values(UniqueCase{"Clip.mov", {}, "Clip.mov"},
                      UniqueCase{"Clip.mov", {"Clip.mov"}, "Clip (2).mov"},
                      UniqueCase{"Clip.mov", {"Clip.mov", "Clip (2).mov"}, "Clip (3).mov"},
                      UniqueCase{"Clip.mov", {"Clip.mov", "Clip (3).mov"}, "Clip (2).mov"},
                      UniqueCase{"a.b.mp4", {"a.b.mp4"}, "a.b (2).mp4"},
                      UniqueCase{"Notes", {"Notes"}, "Notes (2)"},
                      UniqueCase{".hidden", {".hidden"}, ".hidden (2)"},
                      UniqueCase{"Clip.MOV", {"Clip.MOV"}, "Clip (2).MOV"}),
    [](const auto &info) {
        std::string name = info.param.expected;
        for (char &ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return std::to_string(info.index) + "_" + name;
    });

TEST(UniqueDestination, DanglingLinkCountsAsTaken)
{
    const QString folder = sandboxFolder("unique-link");
    ASSERT_TRUE(QFile::link(folder + "/nowhere", folder + "/Clip.mov"));
    EXPECT_EQ(nameOf(uniqueDestination("Clip.mov", QUrl::fromLocalFile(folder))), "Clip (2).mov");
}

// ---- moving ----

TEST(Move, CollidingNameBecomesNextFreeNumberAndKeepsFacts)
{
    const QString src = sandboxFolder("move-collide/src");
    const QString dst = sandboxFolder("move-collide/dst");
    ASSERT_TRUE(lktest::writeSizedFile(dst + "/Clip.mov", 11));
    ASSERT_TRUE(lktest::writeSizedFile(dst + "/Clip (2).mov", 22));
    const VideoFile video = makeVideo(src + "/Clip.mov", 5000);

    QStringList failures{"stale"};
    const auto records = move({video}, QUrl::fromLocalFile(dst), &failures);
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(failures.isEmpty());
    const VideoFile &moved = records[0].newVideo;
    EXPECT_EQ(records[0].originalVideo, video);
    EXPECT_EQ(moved.id, dst + "/Clip (3).mov");
    EXPECT_EQ(moved.url(), QUrl::fromLocalFile(dst + "/Clip (3).mov"));
    EXPECT_EQ(moved.name, "Clip (3).mov");
    EXPECT_EQ(moved.fileExtension, "MOV");
    EXPECT_EQ(moved.directoryPath, dst);
    EXPECT_EQ(moved.fileSize, video.fileSize);
    EXPECT_EQ(moved.modifiedDate, video.modifiedDate);
    EXPECT_EQ(moved.createdDate, video.createdDate);

    EXPECT_FALSE(QFile::exists(src + "/Clip.mov"));
    EXPECT_EQ(fileSizeAt(dst + "/Clip (3).mov"), 5000);
    EXPECT_EQ(fileSizeAt(dst + "/Clip.mov"), 11);
    EXPECT_EQ(fileSizeAt(dst + "/Clip (2).mov"), 22);
}

TEST(Move, IntoOwnFolderIsPassedOver)
{
    const QString dir = sandboxFolder("move-same");
    const VideoFile video = makeVideo(dir + "/Clip.mov");
    // Unstandardized spellings of the same folder still count as the same.
    for (const QString &dest : {dir, dir + "/", dir + "/./"}) {
        const auto records = move({video}, QUrl::fromLocalFile(dest));
        EXPECT_TRUE(records.isEmpty()) << dest.toStdString();
        EXPECT_TRUE(QFile::exists(dir + "/Clip.mov"));
        EXPECT_EQ(entries(dir), QStringList{"Clip.mov"});
    }
}

TEST(Move, EmptyInputStillChecksDestination)
{
    const QString dir = sandboxFolder("move-empty");
    EXPECT_TRUE(move({}, QUrl::fromLocalFile(dir)).isEmpty());
    EXPECT_THROW(move({}, QUrl::fromLocalFile(dir + "/missing")), FileOperationError);
}

struct BadDestinationCase {
    const char *label;
    QUrl (*make)(const QString &root);
};

class MoveBadDestination : public ::testing::TestWithParam<BadDestinationCase> {};

TEST_P(MoveBadDestination, ThrowsFixedTextAndTouchesNothing)
{
    const QString root = sandboxFolder(QString("move-bad-") + GetParam().label);
    const VideoFile video = makeVideo(root + "/src/Clip.mov");
    ASSERT_TRUE(lktest::writeSizedFile(root + "/file.txt", 3));
    try {
        move({video}, GetParam().make(root));
        FAIL() << "no error";
    } catch (const FileOperationError &error) {
        EXPECT_EQ(error.kind(), FileOperationError::Kind::destinationNotDirectory);
        EXPECT_EQ(error.localizedDescription(), QString("The chosen destination is not a valid folder."));
        EXPECT_STREQ(error.what(), "The chosen destination is not a valid folder.");
    }
    EXPECT_TRUE(QFile::exists(video.id));
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, MoveBadDestination,
    ::testing::Values(
        BadDestinationCase{"file", [](const QString &r) { return QUrl::fromLocalFile(r + "/file.txt"); }},
        BadDestinationCase{"missing", [](const QString &r) { return QUrl::fromLocalFile(r + "/nothing"); }},
        BadDestinationCase{"remote", [](const QString &) { return QUrl("https://example.com/folder"); }}),
    [](const auto &info) { return std::string(info.param.label); });

struct PartialCase {
    int total;
    int failing;
};

class MovePartialFailure : public ::testing::TestWithParam<PartialCase> {};

TEST_P(MovePartialFailure, ReportsEveryLineAndShowsAtMostThree)
{
    const auto [total, failing] = GetParam();
    const QString root = sandboxFolder(QString("move-partial-%1-%2").arg(total).arg(failing));
    QList<VideoFile> videos;
    QStringList expectedLines;
    for (int i = 0; i < total; ++i)
        videos << makeVideo(root + QString("/src/Clip%1.mp4").arg(i));
    // Failures at the even places first, so that they mix with successes.
    QList<int> failingIndexes;
    for (int i = 0; i < total && failingIndexes.size() < failing; i += 2)
        failingIndexes << i;
    for (int i = 1; i < total && failingIndexes.size() < failing; i += 2)
        failingIndexes << i;
    std::sort(failingIndexes.begin(), failingIndexes.end());
    for (int i : failingIndexes) {
        QFile::remove(videos[i].id);
        expectedLines << videos[i].name + ": " + qt_error_string(ENOENT);
    }
    const QString dst = sandboxFolder(QString("move-partial-%1-%2-dst").arg(total).arg(failing));

    QStringList failures;
    if (failing < total) {
        const auto records = move(videos, QUrl::fromLocalFile(dst), &failures);
        EXPECT_EQ(records.size(), total - failing);
        EXPECT_EQ(failures, expectedLines);
        for (const auto &r : records)
            EXPECT_TRUE(QFile::exists(r.newVideo.id));
    } else {
        try {
            move(videos, QUrl::fromLocalFile(dst), &failures);
            FAIL() << "no error";
        } catch (const FileOperationError &error) {
            EXPECT_EQ(error.kind(), FileOperationError::Kind::partialFailure);
            EXPECT_EQ(error.lines(), expectedLines);
            EXPECT_EQ(error.localizedDescription(), expectedLines.mid(0, 3).join('\n'));
        }
        EXPECT_EQ(failures, expectedLines);
    }
    EXPECT_TRUE(entries(dst).size() == total - failing) << "no partial copies left behind";
}

INSTANTIATE_TEST_SUITE_P(Counts, MovePartialFailure,
                         ::testing::Values(PartialCase{5, 2}, PartialCase{2, 2}, PartialCase{5, 5},
                                           PartialCase{3, 1}, PartialCase{1, 1}),
                         [](const auto &info) {
                             return std::to_string(info.param.failing) + "of" + std::to_string(info.param.total);
                         });

// ---- undo of a move ----

TEST(UndoMove, TakenFormerNameRestoresAsNumberedSibling)
{
    const QString src = sandboxFolder("undo-move/src");
    const QString dst = sandboxFolder("undo-move/dst");
    const VideoFile video = makeVideo(src + "/Clip.mov", 4321);
    const auto records = move({video}, QUrl::fromLocalFile(dst));
    ASSERT_EQ(records.size(), 1);
    ASSERT_TRUE(lktest::writeSizedFile(src + "/Clip.mov", 7)); // a newcomer under the old name

    const auto restored = undo(UndoRecord::moved(records));
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(restored[0].id, src + "/Clip (2).mov");
    EXPECT_EQ(restored[0].name, "Clip (2).mov");
    EXPECT_EQ(restored[0].directoryPath, src);
    EXPECT_EQ(restored[0].fileSize, video.fileSize);
    EXPECT_EQ(restored[0].modifiedDate, video.modifiedDate);
    EXPECT_EQ(restored[0].createdDate, video.createdDate);
    EXPECT_EQ(fileSizeAt(src + "/Clip.mov"), 7);
    EXPECT_EQ(fileSizeAt(src + "/Clip (2).mov"), 4321);
    EXPECT_TRUE(entries(dst).isEmpty());
}

TEST(UndoMove, VanishedFileFailsAndOthersRestore)
{
    const QString src = sandboxFolder("undo-partial/src");
    const QString dst = sandboxFolder("undo-partial/dst");
    const auto records = move({makeVideo(src + "/A.mp4"), makeVideo(src + "/B.mp4")}, QUrl::fromLocalFile(dst));
    ASSERT_EQ(records.size(), 2);
    QFile::remove(records[0].newVideo.id);

    QStringList failures;
    const auto restored = undo(UndoRecord::moved(records), &failures);
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(restored[0].name, "B.mp4");
    EXPECT_EQ(failures, QStringList{"A.mp4: " + qt_error_string(ENOENT)});

    QFile::remove(restored[0].id);
    EXPECT_THROW(undo(UndoRecord::moved({records[1]})), FileOperationError);
}

// ---- trash ----

class TrashTest : public ::testing::Test
{
protected:
    QString trashFiles() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    }
    QString infoFor(const QUrl &trashed) const
    {
        return QFileInfo(trashed.toLocalFile()).dir().absolutePath() + "/../info/" + nameOf(trashed) + ".trashinfo";
    }
};

TEST_F(TrashTest, RoundTripRemovesTrashInfo)
{
    const QString dir = sandboxFolder("trash-round");
    const VideoFile video = makeVideo(dir + "/Clip.mov", 2048);

    const auto records = trash({video});
    ASSERT_EQ(records.size(), 1);
    const QString inTrash = records[0].trashedURL.toLocalFile();
    EXPECT_EQ(records[0].originalVideo, video);
    EXPECT_TRUE(QDir::isAbsolutePath(inTrash));
    EXPECT_TRUE(inTrash.startsWith(trashFiles())) << inTrash.toStdString();
    EXPECT_EQ(fileSizeAt(inTrash), 2048);
    EXPECT_FALSE(QFile::exists(video.id));
    ASSERT_TRUE(QFile::exists(infoFor(records[0].trashedURL)));

    const auto restored = undo(UndoRecord::trashed(records));
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(restored[0], video);
    EXPECT_EQ(fileSizeAt(video.id), 2048);
    EXPECT_FALSE(QFile::exists(inTrash));
    EXPECT_FALSE(QFile::exists(infoFor(records[0].trashedURL)));
}

TEST_F(TrashTest, WorksWhenDataFolderIsMissing)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    ASSERT_TRUE(QDir(dataHome).removeRecursively());
    const QString dir = sandboxFolder("trash-nodata");
    const VideoFile video = makeVideo(dir + "/Clip.mp4");

    const auto records = trash({video});
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(QDir::isAbsolutePath(records[0].trashedURL.toLocalFile()));
    EXPECT_TRUE(QFile::exists(records[0].trashedURL.toLocalFile()));
    EXPECT_FALSE(QFile::exists(video.id));
}

TEST_F(TrashTest, NoUsableTrashFailsAndLeavesFileInPlace)
{
    // A data folder that cannot be made: Qt then files the item below the working folder
    // and reports a relative path.
    const QString root = sandboxFolder("trash-unusable");
    ASSERT_TRUE(lktest::writeSizedFile(root + "/blocker", 1));
    const VideoFile video = makeVideo(root + "/videos/Clip.mp4", 321);
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    const QString savedCwd = QDir::currentPath();
    QDir().mkpath(root + "/cwd");
    ASSERT_TRUE(QDir::setCurrent(root + "/cwd"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + "/blocker/share"));

    QStringList failures;
    EXPECT_THROW(trash({video}, &failures), FileOperationError);

    qputenv("XDG_DATA_HOME", savedData);
    QDir::setCurrent(savedCwd);
    EXPECT_EQ(failures, QStringList{"Clip.mp4: The Trash folder could not be found."});
    EXPECT_EQ(fileSizeAt(video.id), 321);
    // Nothing is made below the working folder, not even empty folders.
    EXPECT_TRUE(QDir(root + "/cwd").isEmpty());
}

// Two names that differ only in bytes that are not UTF-8 are two files: each goes to the
// Trash under its own name, is recorded with its exact bytes and comes back as it was.
TEST_F(TrashTest, NamesThatAreNotUtf8GoAndComeBackExactly)
{
    const QByteArray dir = FileNames::encode(sandboxFolder("trash-bytes"));
    QList<VideoFile> videos;
    for (const QByteArray &name : {QByteArray("dup\xff.mp4"), QByteArray("dup\xfe.mp4")}) {
        const QByteArray path = dir + "/" + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, name.constData(), size_t(name.size())), name.size());
        ::close(fd);
        const auto video = VideoFile::fromFile(FileNames::decode(path));
        ASSERT_TRUE(video);
        videos << *video;
    }
    ASSERT_NE(videos[0].id, videos[1].id);

    const auto records = trash(videos);
    ASSERT_EQ(records.size(), 2);
    for (const TrashedItemRecord &r : records) {
        const QByteArray inTrash = FileNames::encode(r.trashedURL.toLocalFile());
        struct stat st {};
        EXPECT_EQ(::stat(inTrash.constData(), &st), 0);
        EXPECT_EQ(inTrash.mid(inTrash.lastIndexOf('/') + 1), FileNames::encode(r.originalVideo.name));
        // Read with the bytes themselves: Qt's own file names cannot carry them.
        const QByteArray infoPath = inTrash.left(inTrash.lastIndexOf("/files/")) + "/info/"
                                    + inTrash.mid(inTrash.lastIndexOf('/') + 1) + ".trashinfo";
        const int fd = ::open(infoPath.constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        char text[512] = {};
        ASSERT_GT(::read(fd, text, sizeof text - 1), 0);
        ::close(fd);
        EXPECT_TRUE(QByteArray(text).contains("\nPath=" + FileNames::encode(r.originalVideo.id).toPercentEncoding("/") + "\n"));
    }
    EXPECT_TRUE(entries(FileNames::decode(dir)).isEmpty());

    const auto restored = undo(UndoRecord::trashed(records));
    EXPECT_EQ(restored, videos);
    for (const VideoFile &v : videos) {
        struct stat st {};
        EXPECT_EQ(::stat(FileNames::encode(v.id).constData(), &st), 0);
        EXPECT_EQ(st.st_size, 8); // each file holds its own name
    }
}

// A file on a read-only file system stays where it is, and the reason says so.
TEST_F(TrashTest, ReadOnlyFileSystemSaysSo)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a read-only file system needs root";
    const QString dir = sandboxFolder("trash-readonly");
    const QByteArray mountPoint = FileNames::encode(dir);
    ASSERT_EQ(::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    const VideoFile video = makeVideo(dir + "/Clip.mp4", 10);
    ASSERT_EQ(::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    QStringList failures;
    EXPECT_THROW(trash({video}, &failures), FileOperationError);
    EXPECT_EQ(failures, QStringList{"Clip.mp4: The file system is read-only"});
    EXPECT_EQ(fileSizeAt(video.id), 10);
    ::umount(mountPoint.constData());
}

TEST_F(TrashTest, UndoOntoTakenNameAndUnknownTrashLocation)
{
    const QString dir = sandboxFolder("trash-taken");
    const VideoFile video = makeVideo(dir + "/a.b.mp4", 900);
    const auto records = trash({video});
    ASSERT_EQ(records.size(), 1);
    ASSERT_TRUE(lktest::writeSizedFile(video.id, 5));

    const auto restored = undo(UndoRecord::trashed(records));
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(restored[0].name, "a.b (2).mp4");
    EXPECT_EQ(fileSizeAt(dir + "/a.b (2).mp4"), 900);
    EXPECT_EQ(fileSizeAt(video.id), 5);
    EXPECT_FALSE(QFile::exists(infoFor(records[0].trashedURL)));

    // No trash location known: the file is looked for at its former place, where it is not.
    const VideoFile gone = vanishedVideo(dir + "/Gone.mp4");
    EXPECT_THROW(undo(UndoRecord::trashed({TrashedItemRecord{gone, gone.url()}})), FileOperationError);
}

TEST_F(TrashTest, PartialAndTotalFailure)
{
    const QString dir = sandboxFolder("trash-partial");
    const VideoFile ok = makeVideo(dir + "/Ok.mp4");
    const VideoFile gone = vanishedVideo(dir + "/Gone.mp4");

    QStringList failures;
    const auto records = trash({gone, ok}, &failures);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].originalVideo, ok);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith("Gone.mp4: ")) << failures[0].toStdString();

    try {
        trash({gone});
        FAIL() << "no error";
    } catch (const FileOperationError &error) {
        EXPECT_EQ(error.kind(), FileOperationError::Kind::partialFailure);
        EXPECT_TRUE(error.localizedDescription().startsWith("Gone.mp4: "));
    }
}

// ---- permanent deletion ----

TEST(DeletePermanently, RemovesFilesAndReportsFailures)
{
    const QString dir = sandboxFolder("delete");
    const VideoFile a = makeVideo(dir + "/A.mp4");
    const VideoFile b = makeVideo(dir + "/B.mp4");
    const VideoFile gone = vanishedVideo(dir + "/Gone.mp4");

    QStringList failures;
    const auto removed = deletePermanently({a, gone, b}, &failures);
    EXPECT_EQ(removed, (QList<VideoFile>{a, b}));
    EXPECT_EQ(failures, QStringList{"Gone.mp4: " + qt_error_string(ENOENT)});
    EXPECT_TRUE(entries(dir).isEmpty());

    EXPECT_THROW(deletePermanently({gone, a}), FileOperationError);
    EXPECT_TRUE(deletePermanently({}).isEmpty());
}

// ---- a copy in place of a rename ----

class CrossDeviceMove : public ::testing::Test
{
protected:
    void SetUp() override
    {
        other = std::make_unique<QTemporaryDir>("/dev/shm/lumenkite-xdev-XXXXXX");
        struct stat a {}, b {};
        if (!other->isValid() || ::stat(QFile::encodeName(other->path()).constData(), &a) != 0
            || ::stat(QFile::encodeName(lktest::sandboxRoot()).constData(), &b) != 0 || a.st_dev == b.st_dev)
            GTEST_SKIP() << "no second file system at /dev/shm";
    }
    std::unique_ptr<QTemporaryDir> other;
};

TEST_F(CrossDeviceMove, CopiesCompletelyKeepsMtimeAndLeavesNoTemporary)
{
    const QString src = other->path();
    const QString dst = sandboxFolder("xdev-dst");
    ASSERT_TRUE(lktest::writeSizedFile(dst + "/Clip.mov", 3));
    VideoFile video = makeVideo(src + "/Clip.mov", 3 * 1024 * 1024 + 17);
    const struct utimbuf old {1000000000, 1000000000}; // 2001-09-09
    ASSERT_EQ(::utime(QFile::encodeName(video.id).constData(), &old), 0);

    const auto records = move({video}, QUrl::fromLocalFile(dst));
    ASSERT_EQ(records.size(), 1);
    const QString target = dst + "/Clip (2).mov";
    EXPECT_EQ(records[0].newVideo.id, target);
    EXPECT_FALSE(QFile::exists(video.id));
    EXPECT_EQ(fileSizeAt(target), 3 * 1024 * 1024 + 17);
    EXPECT_EQ(fileSizeAt(dst + "/Clip.mov"), 3);
    EXPECT_EQ(QFileInfo(target).lastModified().toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(entries(dst), (QStringList{"Clip (2).mov", "Clip.mov"}));

    // Undo crosses back the same way.
    const auto restored = undo(UndoRecord::moved(records));
    ASSERT_EQ(restored.size(), 1);
    EXPECT_EQ(restored[0].id, video.id);
    EXPECT_EQ(QFileInfo(video.id).lastModified().toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(entries(dst), QStringList{"Clip.mov"});
}

TEST_F(CrossDeviceMove, SourceThatCannotBeRemovedKeepsOneCopyOnly)
{
    const VideoFile video = makeVideo(other->path() + "/Stuck.mp4", 4096);
    if (!setImmutable(video.id, true))
        GTEST_SKIP() << "chattr +i is not available";
    const QString dst = sandboxFolder("xdev-stuck");
    try {
        move({video}, QUrl::fromLocalFile(dst));
        ADD_FAILURE() << "no error";
    } catch (const FileOperationError &error) {
        EXPECT_EQ(error.localizedDescription(), "Stuck.mp4: " + qt_error_string(EPERM));
    }
    setImmutable(video.id, false);
    EXPECT_TRUE(QFile::exists(video.id));
    EXPECT_TRUE(entries(dst).isEmpty());
}

TEST(MoveFallback, SameDeviceRenameRefusedKeepsOneCopyOnly)
{
    // An immutable file refuses the rename; the copy made instead must not stay behind
    // when the source cannot be removed either.
    const QString src = sandboxFolder("stuck-src");
    const QString dst = sandboxFolder("stuck-dst");
    const VideoFile video = makeVideo(src + "/Stuck.mp4", 4096);
    if (!setImmutable(video.id, true))
        GTEST_SKIP() << "chattr +i is not available";
    QStringList failures;
    EXPECT_THROW(move({video}, QUrl::fromLocalFile(dst), &failures), FileOperationError);
    setImmutable(video.id, false);
    EXPECT_EQ(failures.size(), 1);
    EXPECT_EQ(fileSizeAt(video.id), 4096);
    EXPECT_TRUE(entries(dst).isEmpty());
}

TEST(FileOperationErrorText, ShowsFirstThreeLines)
{
    EXPECT_EQ(FileOperationError::partialFailure({"a: x", "b: y"}).localizedDescription(), "a: x\nb: y");
    EXPECT_EQ(FileOperationError::partialFailure({"1", "2", "3", "4", "5"}).localizedDescription(), "1\n2\n3");
}

} // namespace
