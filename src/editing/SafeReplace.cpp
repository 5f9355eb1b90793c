#include "SafeReplace.h"
#include "library/FileNames.h"

#include "library/FileOperationService.h"
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
#include <unistd.h>

namespace SafeReplace {

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
            if (!records.isEmpty()) return true;
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
    if (error) *error = QStringLiteral("Could not create ") + path;
    return false;
}

void FileSteps::removeFile(const QString &path) { QFile::remove(path); }
void FileSteps::removeFolder(const QString &path) { QDir().rmdir(path); }

std::shared_ptr<FileSteps> realFileSteps() { return std::make_shared<FileSteps>(); }

static QString reasonText(const QString &reason) { return reason.isEmpty() ? QStringLiteral("unknown error") : reason; }

Outcome placeNew(const QString &finished, const QString &target, FileSteps &steps)
{
    Outcome out;
    QString error;
    if (!steps.rename(finished, target, &error)) {
        out.message = QStringLiteral("Could not save ") + target + QStringLiteral(": ") + reasonText(error) +
                      QStringLiteral(".");
        return out;
    }
    out.ok = true;
    out.outputPath = target;
    return out;
}

Outcome replaceOriginal(const QString &finished, const QString &original, const QString &target, FileSteps &steps,
                        const std::function<void(const QString &backupFolder)> &settingAside)
{
    Outcome out;
    QString error;
    if (standardizedPath(target) != standardizedPath(original)) {
        // Another name: the new file goes in first; only then does the original leave.
        if (!steps.rename(finished, target, &error)) {
            out.message = QStringLiteral("Could not save ") + target + QStringLiteral(": ") + reasonText(error) +
                          QStringLiteral(". The original stays at ") + original + QStringLiteral(".");
            return out;
        }
        if (!steps.trash(original, &error)) {
            // The original never left its place, so the new copy can go again.
            steps.removeFile(target);
            out.message = QStringLiteral("Could not move the original to the Trash: ") + reasonText(error) +
                          QStringLiteral(". The original stays at ") + original + QStringLiteral(".");
            return out;
        }
        out.ok = true;
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
        out.message = QStringLiteral("Could not set the original aside: ") + reasonText(error) +
                      QStringLiteral(". The original stays at ") + original + QStringLiteral(".");
        return out;
    }
    if (!steps.rename(original, backup, &error)) {
        steps.removeFolder(folder);
        out.message = QStringLiteral("Could not set the original aside: ") + reasonText(error) +
                      QStringLiteral(". The original stays at ") + original + QStringLiteral(".");
        return out;
    }
    if (!steps.rename(finished, target, &error)) {
        QString restoreError;
        if (steps.rename(backup, original, &restoreError)) {
            steps.removeFolder(folder);
            out.message = QStringLiteral("Could not save ") + target + QStringLiteral(": ") + reasonText(error) +
                          QStringLiteral(". The original stays at ") + original + QStringLiteral(".");
        } else {
            out.keepFinished = true;
            out.message = QStringLiteral("Could not save ") + target + QStringLiteral(": ") + reasonText(error) +
                          QStringLiteral(". The original is at ") + backup + QStringLiteral(" and the new file at ") +
                          finished + QStringLiteral(".");
        }
        return out;
    }
    out.ok = true;
    out.outputPath = target;
    if (steps.trash(backup, &error)) {
        steps.removeFolder(folder);
    } else {
        out.remark = QStringLiteral("The original could not be moved to the Trash (") + reasonText(error) +
                     QStringLiteral("); it is kept at ") + backup + QStringLiteral(".");
    }
    return out;
}

} // namespace SafeReplace
