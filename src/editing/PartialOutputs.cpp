#include "PartialOutputs.h"
#include "library/FileNames.h"

#include "editing/SafeReplace.h"
#include "library/AtomicFileSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace PartialOutputs {

namespace {

// Journal files of jobs running in this process: never tidied from under them.
QMutex liveMutex;
QSet<QString> &liveEntries()
{
    static QSet<QString> entries;
    return entries;
}

const QString kUuid = QStringLiteral("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

bool processAlive(qint64 pid)
{
    if (pid <= 0) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// lstat: a link is never followed, and a dangling one still takes a name.
bool taken(const QString &path, bool *regular = nullptr)
{
    struct stat st {};
    if (::lstat(FileNames::encode(path).constData(), &st) != 0) return false;
    if (regular) *regular = S_ISREG(st.st_mode);
    return true;
}

} // namespace

QString journalFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::tempPath();
    return base + QStringLiteral("/Lumenkite/PartialOutputs");
}

bool isTemporaryOutputName(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.Lumenkite-(Trim|Comp)-") + kUuid +
                                            QStringLiteral("\\.mp4$"));
    return pattern.match(fileName).hasMatch();
}

bool isBackupFolderName(const QString &folderName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.Lumenkite-Backup-") + kUuid + QStringLiteral("$"));
    return pattern.match(folderName).hasMatch();
}

Entry::Entry(const QString &temporaryPath, const QString &folder) : m_temporary(temporaryPath)
{
    QDir().mkpath(folder);
    m_file = QDir(folder).filePath(QString::number(::getpid()) + QLatin1Char('-') +
                                   QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                                   QStringLiteral(".json"));
    {
        QMutexLocker lock(&liveMutex);
        liveEntries().insert(m_file);
    }
    write();
}

Entry::~Entry()
{
    QFile::remove(m_file);
    QMutexLocker lock(&liveMutex);
    liveEntries().remove(m_file);
}

void Entry::settingAside(const QString &backupFolder, const QString &originalPath)
{
    m_backupFolder = backupFolder;
    m_original = originalPath;
    write();
}

void Entry::write()
{
    QJsonObject o;
    o.insert(QStringLiteral("pid"), qint64(::getpid()));
    o.insert(QStringLiteral("temporary"), m_temporary);
    if (!m_backupFolder.isEmpty()) {
        o.insert(QStringLiteral("backupFolder"), m_backupFolder);
        o.insert(QStringLiteral("original"), m_original);
    }
    // Replaced whole, so a kill while writing leaves the previous record.
    AtomicFileSave::save(m_file, QJsonDocument(o).toJson(QJsonDocument::Compact));
}

Cleanup cleanUp(const QString &folder)
{
    Cleanup result;
    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : files) {
        const QString journal = dir.filePath(name);
        {
            QMutexLocker lock(&liveMutex);
            if (liveEntries().contains(journal)) continue;
        }
        QFile file(journal);
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QJsonObject o = QJsonDocument::fromJson(file.read(1 << 16)).object();
        file.close();
        const qint64 pid = o.value(QStringLiteral("pid")).toInteger();
        if (pid != ::getpid() && processAlive(pid)) continue; // still running elsewhere
        bool unresolved = false;

        // An original set aside: back to its place, or to the Trash behind the new file.
        const QString backupFolder = o.value(QStringLiteral("backupFolder")).toString();
        const QString original = o.value(QStringLiteral("original")).toString();
        const QFileInfo folderInfo(backupFolder), originalInfo(original);
        if (!backupFolder.isEmpty() && !original.isEmpty() && isBackupFolderName(folderInfo.fileName()) &&
            folderInfo.absolutePath() == originalInfo.absolutePath()) {
            const QString backup = backupFolder + QLatin1Char('/') + originalInfo.fileName();
            bool regular = false;
            if (taken(backup, &regular) && regular) {
                auto steps = SafeReplace::realFileSteps();
                QString error;
                if (!taken(original)) {
                    if (steps->rename(backup, original, &error)) {
                        ++result.restoredOriginals;
                    } else {
                        unresolved = true;
                        result.problems << QStringLiteral("Could not put ") + backup + QStringLiteral(" back at ") +
                                               original + QStringLiteral(": ") + error;
                    }
                } else if (steps->trash(backup, &error)) {
                    ++result.trashedOriginals;
                } else {
                    unresolved = true;
                    result.problems << QStringLiteral("Could not move the replaced original to the Trash (") + error +
                                           QStringLiteral("); it is kept at ") + backup + QStringLiteral(".");
                }
            }
            if (!unresolved) QDir().rmdir(backupFolder); // only when empty
        }

        // An unfinished output: removed, but only a regular file of our own naming.
        const QString temporary = o.value(QStringLiteral("temporary")).toString();
        bool regular = false;
        if (!temporary.isEmpty() && isTemporaryOutputName(QFileInfo(temporary).fileName()) &&
            taken(temporary, &regular) && regular && !unresolved) {
            if (QFile::remove(temporary)) ++result.removedPartials;
            else unresolved = true;
        }
        if (!unresolved) QFile::remove(journal);
    }
    return result;
}

} // namespace PartialOutputs
