// Tidying after an export or a compression that was killed: the journal's unfinished outputs
// go, set-aside originals come back (or go to the Trash behind their replacement), and
// nothing that is not of this system's own naming is ever touched.

#include "support/TestSupport.h"

#include "editing/PartialOutputs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUuid>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QString uuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The id of a process that has ended.
qint64 deadPid()
{
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

class PartialOutputsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = lktest::sandboxRoot() + "/partial-" + uuid();
        journal = root + "/journal";
        videos = root + "/videos";
        QDir().mkpath(journal);
        QDir().mkpath(videos);
    }
    void TearDown() override { QDir(root).removeRecursively(); }

    QString writeJournal(qint64 pid, const QString &temporary, const QString &backupFolder = {},
                         const QString &original = {})
    {
        QJsonObject o{{"pid", pid}, {"temporary", temporary}};
        if (!backupFolder.isEmpty()) {
            o.insert("backupFolder", backupFolder);
            o.insert("original", original);
        }
        const QString path = journal + "/" + QString::number(pid) + "-" + uuid() + ".json";
        EXPECT_TRUE(writeFile(path, QJsonDocument(o).toJson()));
        return path;
    }
    QStringList journalFiles() const { return QDir(journal).entryList(QDir::Files | QDir::Hidden); }

    QString root, journal, videos;
};

TEST_F(PartialOutputsTest, RecognisesOnlyItsOwnNames)
{
    const QString id = uuid();
    EXPECT_TRUE(PartialOutputs::isTemporaryOutputName(".Lumenkite-Trim-" + id + ".mp4"));
    EXPECT_TRUE(PartialOutputs::isTemporaryOutputName(".Lumenkite-Comp-" + id + ".mp4"));
    EXPECT_TRUE(PartialOutputs::isBackupFolderName(".Lumenkite-Backup-" + id));
    for (const QString &name : {QString("Lumenkite-Trim-" + id + ".mp4"), QString(".Lumenkite-Trim-" + id + ".mov"),
                                QString(".Lumenkite-Trim-holiday.mp4"), QString(".Lumenkite-Trim-" + id + ".mp4.mp4"),
                                QString(".Lumenkite-Comp-" + id.toLower() + ".mp4"), QString("holiday.mp4")})
        EXPECT_FALSE(PartialOutputs::isTemporaryOutputName(name)) << name.toStdString();
    EXPECT_FALSE(PartialOutputs::isBackupFolderName(".Lumenkite-Backup-" + id + "x"));
    EXPECT_FALSE(PartialOutputs::isBackupFolderName("Lumenkite-Backup-" + id));
}

// A killed job's unfinished output goes; user files with look-alike names, and a journal that
// names a user file, leave everything in place.
TEST_F(PartialOutputsTest, RemovesALeftPartialAndNothingElse)
{
    const QString partial = videos + "/.Lumenkite-Trim-" + uuid() + ".mp4";
    const QString lookAlike = videos + "/.Lumenkite-Trim-holiday.mp4";
    const QString userFile = videos + "/holiday.mp4";
    const QString linked = videos + "/.Lumenkite-Comp-" + uuid() + ".mp4"; // a link of the right name
    for (const QString &p : {partial, lookAlike, userFile}) ASSERT_TRUE(writeFile(p, "bytes of " + p.toUtf8()));
    ASSERT_TRUE(QFile::link(userFile, linked));
    const qint64 pid = deadPid();
    writeJournal(pid, partial);
    writeJournal(pid, lookAlike);
    writeJournal(pid, userFile);
    writeJournal(pid, linked);

    const PartialOutputs::Cleanup tidy = PartialOutputs::cleanUp(journal);
    EXPECT_EQ(tidy.removedPartials, 1);
    EXPECT_FALSE(QFile::exists(partial));
    EXPECT_EQ(readFile(lookAlike), "bytes of " + lookAlike.toUtf8());
    EXPECT_EQ(readFile(userFile), "bytes of " + userFile.toUtf8());
    EXPECT_TRUE(QFileInfo(linked).isSymLink());
    EXPECT_TRUE(journalFiles().isEmpty());
}

// An original set aside for a replacement: back in its place when the new file never got
// there, to the Trash (not deleted) when it did.
TEST_F(PartialOutputsTest, PutsSetAsideOriginalsBackOrInTheTrash)
{
    const qint64 pid = deadPid();
    // Killed before the new file was in place.
    const QString a = videos + "/a.mp4", folderA = videos + "/.Lumenkite-Backup-" + uuid();
    const QString finishedA = videos + "/.Lumenkite-Comp-" + uuid() + ".mp4";
    ASSERT_TRUE(writeFile(folderA + "/a.mp4", "original a"));
    ASSERT_TRUE(writeFile(finishedA, "new a"));
    writeJournal(pid, finishedA, folderA, a);
    // Killed after the new file took the original's place.
    const QString b = videos + "/b.mp4", folderB = videos + "/.Lumenkite-Backup-" + uuid();
    ASSERT_TRUE(writeFile(folderB + "/b.mp4", "original b"));
    ASSERT_TRUE(writeFile(b, "new b"));
    writeJournal(pid, videos + "/.Lumenkite-Trim-" + uuid() + ".mp4", folderB, b);

    const PartialOutputs::Cleanup tidy = PartialOutputs::cleanUp(journal);
    EXPECT_TRUE(tidy.problems.isEmpty()) << tidy.problems.join("\n").toStdString();
    EXPECT_EQ(tidy.restoredOriginals, 1);
    EXPECT_EQ(tidy.trashedOriginals, 1);
    EXPECT_EQ(readFile(a), "original a");
    EXPECT_FALSE(QFile::exists(finishedA));
    EXPECT_EQ(readFile(b), "new b");
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    bool inTrash = false;
    for (const QString &name : QDir(trash).entryList(QDir::Files))
        inTrash = inTrash || readFile(trash + "/" + name) == "original b";
    EXPECT_TRUE(inTrash);
    EXPECT_FALSE(QFileInfo::exists(folderA));
    EXPECT_FALSE(QFileInfo::exists(folderB));
    EXPECT_TRUE(journalFiles().isEmpty());
}

// Jobs still running, in this process or another, are left alone.
TEST_F(PartialOutputsTest, LeavesRunningJobsAlone)
{
    const QString mine = videos + "/.Lumenkite-Trim-" + uuid() + ".mp4";
    const QString theirs = videos + "/.Lumenkite-Comp-" + uuid() + ".mp4";
    ASSERT_TRUE(writeFile(mine, "encoding"));
    ASSERT_TRUE(writeFile(theirs, "encoding"));
    PartialOutputs::Entry running(mine, journal);
    writeJournal(::getppid(), theirs);

    PartialOutputs::cleanUp(journal);
    EXPECT_TRUE(QFile::exists(mine));
    EXPECT_TRUE(QFile::exists(theirs));
    EXPECT_EQ(journalFiles().size(), 2);
}

// A journal entry rewritten on a full disk keeps its earlier record: tidying after a crash
// still finds the temporary it names.
TEST_F(PartialOutputsTest, ARecordRewrittenOnAFullDiskKeepsTheEarlierOne)
{
    lktest::SmallDisk disk(lktest::sandboxRoot() + "/journal-disk");
    if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString folder = disk.path() + "/journal";
    const QString temporary = videos + "/.Lumenkite-Comp-" + uuid() + ".mp4";
    PartialOutputs::Entry entry(temporary, folder);
    const QStringList files = QDir(folder).entryList({"*.json"});
    ASSERT_EQ(files.size(), 1);
    const QString path = folder + "/" + files.first();
    const QByteArray before = readFile(path);
    ASSERT_EQ(QJsonDocument::fromJson(before).object().value("temporary").toString(), temporary);

    ASSERT_TRUE(disk.fill());
    entry.settingAside(videos + "/.Lumenkite-Backup-" + uuid(), videos + "/a.mp4");
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), files) << "no temporary is left behind";
}

} // namespace
