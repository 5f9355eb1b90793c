#include "SafeReplace.h"
#include "library/FileNames.h"

#include "library/FileNames.h"
#include "library/FileOperationService.h"
#include "library/L10n.h"
#include "library/Models.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeReplace {

FileIdentity identityOf(const QString &path)
{
    FileIdentity id;
    struct stat st {};
    if (::lstat(FileNames::encode(path).constData(), &st) != 0) return id;
    id.exists = true;
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    id.size = qint64(st.st_size);
    id.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

namespace {

// Rewrites the "Path=" line of the Trash record that belongs to `trashed`
// ("…/files/<name>" beside "…/info/<name>.trashinfo"). The new record is written whole
// beside the old one and renamed over it, so a failure keeps the old record.
bool rewriteTrashRecord(const QString &trashed, const QString &recordedPath)
{
    const QFileInfo item(trashed);
    const QString infoFolder = QFileInfo(item.absolutePath()).absolutePath() + QStringLiteral("/info");
    const QByteArray info = FileNames::encode(infoFolder + QLatin1Char('/') + item.fileName() +
                                              QStringLiteral(".trashinfo"));
    QFile in(FileNames::decode(info));
    if (!in.open(QIODevice::ReadOnly)) return false;
    QList<QByteArray> lines = in.readAll().split('\n');
    in.close();
    bool replaced = false;
    for (QByteArray &line : lines)
        if (line.startsWith("Path=")) {
            line = "Path=" + FileNames::encode(recordedPath).toPercentEncoding("/");
            replaced = true;
            break;
        }
    if (!replaced) return false;
    const QByteArray record = lines.join('\n');
    const QByteArray temporary = FileNames::encode(infoFolder) + "/.lumenkite-record-" +
                                 QUuid::createUuid().toString(QUuid::Id128).toLatin1();
    const int fd = ::open(temporary.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = ::write(fd, record.constData(), size_t(record.size())) == record.size();
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.constData(), info.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

} // namespace

bool FileSteps::trashRecording(const QString &path, const QString &recordedPath, QString *error)
{
    m_lastTrashed.clear();
    if (!trash(path, error)) return false;
    // The file is in the Trash either way; a record that names the hidden folder only makes
    // restoring it less convenient.
    if (!m_lastTrashed.isEmpty()) rewriteTrashRecord(m_lastTrashed, recordedPath);
    return true;
}

bool FileSteps::rename(const QString &from, const QString &to, QString *error)
{
    const QByteArray a = FileNames::encode(from), b = FileNames::encode(to);
    int rc = ::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // File systems without the no-replace flag: check first, then rename.
        if (QFileInfo::exists(to)) {
            errno = EEXIST;
        } else {
            rc = ::rename(a.constData(), b.constData());
        }
    }
    if (rc != 0 && error) *error = QString::fromLocal8Bit(std::strerror(errno));
    return rc == 0;
}

bool FileSteps::trash(const QString &path, QString *error)
{
    QStringList failures;
    const std::optional<VideoFile> video = VideoFile::make(path, std::max<qint64>(QFileInfo(path).size(), 1),
                                                           QDateTime::currentDateTimeUtc(), std::nullopt);
    if (video) {
        try {
            const auto records = FileOperationService::trash({*video}, &failures);
            if (!records.isEmpty()) {
                m_lastTrashed = records.first().trashedURL.toLocalFile();
                return true;
            }
        } catch (const std::exception &e) {
            if (error) *error = QString::fromUtf8(e.what());
            return false;
        }
        if (error) *error = failures.join(QStringLiteral("; "));
        return false;
    }
    // Not a video name: the plain Qt call, after making sure the Trash's data folder exists.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataHome.isEmpty()) QDir().mkpath(dataHome);
    QFile file(path);
    if (file.moveToTrash()) return true;
    if (error) *error = file.errorString();
    return false;
}

bool FileSteps::makeFolder(const QString &path, QString *error)
{
    if (QDir().mkdir(path)) return true;
    if (error) *error = L10n::text(QStringLiteral("edit.couldNotCreate")) + ' ' + path;
    return false;
}

void FileSteps::removeFile(const QString &path) { QFile::remove(path); }
void FileSteps::removeFolder(const QString &path) { QDir().rmdir(path); }

std::shared_ptr<FileSteps> realFileSteps() { return std::make_shared<FileSteps>(); }

static QString reasonText(const QString &reason)
{
    return reason.isEmpty() ? L10n::text(QStringLiteral("trim.unknownError")) : reason;
}

static QString t(const char *key) { return L10n::text(QLatin1String(key)); }

// "Could not save TARGET: REASON."
static QString saveFailure(const QString &target, const QString &reason)
{
    return t("edit.couldNotSave") + ' ' + target + QStringLiteral(": ") + reasonText(reason) + '.';
}

Outcome placeNew(const QString &finished, const QString &target, FileSteps &steps)
{
    Outcome out;
    QString error;
    if (!steps.rename(finished, target, &error)) {
        out.message = saveFailure(target, error);
        return out;
    }
    out.ok = true;
    out.outputPath = target;
    return out;
}

// Where the original is after a step that failed: someone else may have moved it away.
static QString whereTheOriginalIs(const QString &original)
{
    return ' ' + t(identityOf(original).exists ? "edit.originalStaysAt" : "edit.originalNoLongerAt") + ' ' + original +
           '.';
}

Outcome replaceOriginal(const QString &finished, const QString &original, const QString &target, FileSteps &steps,
                        const std::function<void(const QString &backupFolder)> &settingAside)
{
    Outcome out;
    QString error;
    if (standardizedPath(target) != standardizedPath(original)) {
        // Another name: the new file goes in first; only then does the original leave.
        if (!steps.rename(finished, target, &error)) {
            out.message = saveFailure(target, error) + whereTheOriginalIs(original);
            return out;
        }
        if (!steps.trash(original, &error)) {
            if (!identityOf(original).exists) {
                // Gone meanwhile: the new file is now the only copy, so it stays.
                out.ok = out.replaced = true;
                out.outputPath = target;
                out.remark = t("edit.originalNoLongerAt") + ' ' + original + '.';
                return out;
            }
            // The original never left its place, so the new copy can go again.
            steps.removeFile(target);
            out.message = t("edit.originalTrashFailed") + ' ' + reasonText(error) + '.' + whereTheOriginalIs(original);
            return out;
        }
        out.ok = out.replaced = true;
        out.outputPath = target;
        return out;
    }

    // The same name: the original steps aside into a hidden folder beside it, keeping its
    // name, so that it reaches the Trash as itself.
    const QString folder = QFileInfo(original).absolutePath() + QStringLiteral("/.Lumenkite-Backup-") +
                           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString backup = folder + QLatin1Char('/') + QFileInfo(original).fileName();
    if (settingAside) settingAside(folder);
    if (!steps.makeFolder(folder, &error)) {
        out.message = t("edit.setAsideFailed") + ' ' + reasonText(error) + '.' + whereTheOriginalIs(original);
        return out;
    }
    if (!steps.rename(original, backup, &error)) {
        steps.removeFolder(folder);
        out.message = t("edit.setAsideFailed") + ' ' + reasonText(error) + '.' + whereTheOriginalIs(original);
        return out;
    }
    if (!steps.rename(finished, target, &error)) {
        QString restoreError;
        if (steps.rename(backup, original, &restoreError)) {
            steps.removeFolder(folder);
            out.message = saveFailure(target, error) + ' ' + t("edit.originalStaysAt") + ' ' + original + '.';
        } else {
            out.keepFinished = true;
            out.message = saveFailure(target, error) + ' ' + t("edit.originalIsAt") + ' ' + backup + QStringLiteral("; ") +
                          t("edit.newFileIsAt") + ' ' + finished + '.';
        }
        return out;
    }
    out.ok = out.replaced = true;
    out.outputPath = target;
    if (steps.trashRecording(backup, original, &error)) {
        steps.removeFolder(folder);
    } else {
        out.originalKept = true;
        out.remark = t("edit.originalTrashFailed") + ' ' + reasonText(error) + QStringLiteral(". ") +
                     t("edit.originalIsAt") + ' ' + backup + '.';
    }
    return out;
}

Outcome replaceIfUnchanged(const QString &finished, const QString &original, const QString &target,
                           const FileIdentity &probed, const std::function<QString()> &newName, FileSteps &steps,
                           const std::function<void(const QString &backupFolder)> &settingAside)
{
    const FileIdentity now = identityOf(original);
    if (now == probed) return replaceOriginal(finished, original, target, steps, settingAside);
    Outcome out = placeNew(finished, newName(), steps);
    if (out.ok) {
        out.originalKept = now.exists;
        out.remark = L10n::text(now.exists ? QStringLiteral("edit.originalChanged") : QStringLiteral("edit.originalGone")) +
                     QLatin1Char(' ') + FileNames::display(original) + QStringLiteral(". ") +
                     L10n::text(QStringLiteral("edit.resultSavedAs")) + QLatin1Char(' ') +
                     FileNames::display(out.outputPath) + QLatin1Char('.');
    }
    return out;
}

} // namespace SafeReplace
