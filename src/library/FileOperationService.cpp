#include "FileOperationService.h"

#include "FileNames.h"
#include "L10n.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- FileOperationError ----

FileOperationError::FileOperationError(Kind kind, QStringList lines)
    : m_kind(kind), m_lines(std::move(lines)), m_what(localizedDescription().toUtf8())
{
}

FileOperationError FileOperationError::partialFailure(QStringList lines)
{
    return FileOperationError(Kind::partialFailure, std::move(lines));
}

FileOperationError FileOperationError::destinationNotDirectory()
{
    return FileOperationError(Kind::destinationNotDirectory, {});
}

QString FileOperationError::localizedDescription() const
{
    if (m_kind == Kind::destinationNotDirectory)
        return QStringLiteral("Seçilen hedef geçerli bir klasör değil.");
    return m_lines.mid(0, 3).join(QLatin1Char('\n'));
}

// ---- helpers ----

namespace {

QByteArray native(const QString &path) { return FileNames::encode(path); }

// lstat, so that a dangling link also counts as taken: the no-replace rename would refuse it.
bool pathTaken(const QString &path)
{
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0;
}

QString failureLine(const QString &name, int error)
{
    return FileNames::display(name) + QStringLiteral(": ") + qt_error_string(error);
}

QString parentPath(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString pathExtension(const QString &name)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1);
}

// Renames without ever replacing a file at `to`. Returns 0 or the errno; EEXIST means the
// name was taken.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // This file system cannot refuse to replace: reserve the name with O_EXCL, then rename
    // over that placeholder of our own.
    const int fd = ::open(to.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    if (::rename(from.constData(), to.constData()) == 0)
        return 0;
    const int renameError = errno;
    ::unlink(to.constData());
    return renameError;
}

struct Placement {
    QString path; // where the file now lies
    int error = 0;
};

// Renames `from` to the first free variant of `name` in `folder`; a name taken between the
// check and the rename makes it try the next one.
Placement renameToFreeName(const QString &from, const QString &name, const QString &folder)
{
    const QByteArray source = native(from);
    for (int attempt = 0; attempt < 10000; ++attempt) {
        const QString target = FileOperationService::uniqueDestination(name, QUrl::fromLocalFile(folder)).toLocalFile();
        const int error = renameNoReplace(source, native(target));
        if (error != EEXIST)
            return {target, error};
    }
    return {{}, EEXIST};
}

int copyContents(int in, int out)
{
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return 0;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EPERM)
                return errno;
            // Nothing was written by the failed call, so a plain copy can go on from here.
            kernelCopy = false;
            buffer.resize(1 << 20);
        }
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += w;
        }
    }
}

// Moves a file where a rename cannot: copies it under a temporary name in `folder`, renames
// the complete copy to a free name and only then removes the source. On any failure the
// temporary or the copy is removed again, so the file is never left truncated or twice.
Placement copyThenRemove(const QString &from, const QString &name, const QString &folder)
{
    const QByteArray source = native(from);
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return {{}, errno};
    struct stat st {};
    int statError = ::fstat(in, &st) != 0 ? errno : 0;
    if (statError == 0 && !S_ISREG(st.st_mode))
        statError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (statError != 0) {
        ::close(in);
        return {{}, statError};
    }
    QByteArray temp = native(childPath(folder, QStringLiteral(".lumenkite-move-XXXXXX")));
    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return {{}, error};
    }
    int error = copyContents(in, out);
    ::close(in);
    if (error == 0 && ::fchmod(out, st.st_mode & 07777) != 0)
        error = errno;
    if (error == 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(out, times) != 0)
            error = errno;
    }
    if (error == 0 && ::fsync(out) != 0)
        error = errno;
    if (error == 0) {
        // Never remove the source on the word of a copy that came out short.
        struct stat copied {};
        if (::fstat(out, &copied) != 0)
            error = errno;
        else if (copied.st_size != st.st_size)
            error = EIO;
    }
    if (::close(out) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.constData());
        return {{}, error};
    }
    const Placement placed = renameToFreeName(FileNames::decode(temp), name, folder);
    if (placed.error != 0) {
        ::unlink(temp.constData());
        return placed;
    }
    if (::unlink(source.constData()) != 0) {
        const int removeError = errno;
        ::unlink(native(placed.path).constData());
        return {{}, removeError};
    }
    return placed;
}

// The .trashinfo entry that belongs to a file in a freedesktop Trash ("…/files/<name>").
QString trashInfoPath(const QString &trashedPath)
{
    const QString filesDir = parentPath(trashedPath);
    if (QFileInfo(filesDir).fileName() != QLatin1String("files"))
        return {};
    return parentPath(filesDir) + QStringLiteral("/info/") + QFileInfo(trashedPath).fileName()
        + QStringLiteral(".trashinfo");
}

// ---- the Trash ----

// Not an errno: no Trash folder could be found or made for the file.
constexpr int kNoTrashFolder = -1;

// The file-system id of `path`'s device; -1 when it can't be read.
dev_t deviceOf(const QByteArray &path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 ? st.st_dev : dev_t(-1);
}

// The mount point that holds `path`: its highest ancestor on the same device.
QByteArray topFolderOf(const QByteArray &path, dev_t device)
{
    QByteArray top = path;
    for (;;) {
        const int slash = top.lastIndexOf('/');
        if (slash <= 0)
            return deviceOf("/") == device ? QByteArray("/") : top;
        const QByteArray parent = top.left(slash);
        if (deviceOf(parent) != device)
            return top;
        top = parent;
    }
}

int makeFolder(const QByteArray &path, mode_t mode)
{
    if (::mkdir(path.constData(), mode) == 0)
        return 0;
    const int error = errno;
    struct stat st {};
    if (error == EEXIST && ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    return error == EEXIST ? ENOTDIR : error;
}

// The Trash folder for a file on `device` (freedesktop layout): the user's own when it
// lies on that device, else "<mount>/.Trash/<uid>" when the administrator made a shared
// one, else "<mount>/.Trash-<uid>". Always an absolute path. 0 or the errno.
int trashFolderFor(const QByteArray &source, dev_t device, QByteArray &trash)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !dataHome.startsWith(QLatin1Char('/')))
        return ENOENT;
    const QByteArray home = FileNames::encode(dataHome);
    if (!QDir().mkpath(dataHome) && deviceOf(home) == dev_t(-1))
        return errno ? errno : ENOENT;
    if (deviceOf(home) == device) {
        trash = home + "/Trash";
        return makeFolder(trash, 0700);
    }
    const QByteArray top = topFolderOf(source, device);
    const QByteArray base = top == "/" ? QByteArray() : top;
    const QByteArray uid = QByteArray::number(qulonglong(::getuid()));
    struct stat st {};
    const QByteArray shared = base + "/.Trash";
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        trash = shared + "/" + uid;
        if (makeFolder(trash, 0700) == 0)
            return 0;
    }
    trash = base + "/.Trash-" + uid;
    return makeFolder(trash, 0700);
}

// "%"-escapes a path for a .trashinfo file, byte by byte.
QByteArray trashInfoEscaped(const QByteArray &path)
{
    return path.toPercentEncoding("/");
}

// Moves the file at `source` into the Trash, recording where it came from. On success
// `trashed` is where it now lies; on failure nothing is left behind.
int moveToTrash(const QString &sourcePath, QString &trashed)
{
    const QByteArray source = FileNames::encode(sourcePath);
    struct stat st {};
    if (::lstat(source.constData(), &st) != 0)
        return errno;
    QByteArray trash;
    if (const int error = trashFolderFor(source, st.st_dev, trash))
        return error == EROFS ? error : kNoTrashFolder;
    const QByteArray files = trash + "/files";
    const QByteArray info = trash + "/info";
    if (const int error = makeFolder(files, 0700))
        return error;
    if (const int error = makeFolder(info, 0700))
        return error;

    const QString name = sourcePath.mid(sourcePath.lastIndexOf(QLatin1Char('/')) + 1);
    const QString ext = pathExtension(name);
    const QString stem = ext.isEmpty() ? name : name.left(name.size() - ext.size() - 1);
    const QByteArray record = "[Trash Info]\nPath=" + trashInfoEscaped(source) + "\nDeletionDate="
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "\n";
    for (int n = 1; n < 10000; ++n) {
        const QString candidate = n == 1 ? name
                                         : stem + QLatin1Char(' ') + QString::number(n)
                + (ext.isEmpty() ? QString() : QLatin1Char('.') + ext);
        const QByteArray leaf = FileNames::encode(candidate);
        const QByteArray infoPath = info + "/" + leaf + ".trashinfo";
        // The .trashinfo file reserves the name (the freedesktop rule).
        const int fd = ::open(infoPath.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        const bool written = ::write(fd, record.constData(), size_t(record.size())) == record.size();
        const int closeError = ::close(fd) == 0 ? 0 : errno;
        if (!written || closeError) {
            ::unlink(infoPath.constData());
            return closeError ? closeError : EIO;
        }
        const QByteArray target = files + "/" + leaf;
        const int error = renameNoReplace(source, target);
        if (error == EEXIST) {
            ::unlink(infoPath.constData());
            continue;
        }
        if (error) {
            ::unlink(infoPath.constData());
            return error;
        }
        trashed = FileNames::decode(target);
        return 0;
    }
    return EEXIST;
}

QString trashFailureLine(const QString &name, int error)
{
    if (error == kNoTrashFolder)
        return name + QStringLiteral(": The Trash folder could not be found.");
    if (error == EROFS)
        return name + QStringLiteral(": ") + L10n::text(QStringLiteral("error.readOnly"));
    return failureLine(name, error);
}

template <typename T>
QList<T> finish(QList<T> results, const QStringList &lines, QStringList *failures)
{
    if (failures)
        *failures = lines;
    if (results.isEmpty() && !lines.isEmpty())
        throw FileOperationError::partialFailure(lines);
    return results;
}

} // namespace

namespace FileOperationService {

QUrl uniqueDestination(const QString &fileName, const QUrl &folder)
{
    const QString dir = standardizedPath(folder.toLocalFile());
    const QString first = childPath(dir, fileName);
    if (!pathTaken(first))
        return QUrl::fromLocalFile(first);
    const QString ext = pathExtension(fileName);
    const QString base = ext.isEmpty() ? fileName : fileName.left(fileName.size() - ext.size() - 1);
    for (qint64 n = 2;; ++n) {
        QString candidate = base + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')');
        if (!ext.isEmpty())
            candidate += QLatin1Char('.') + ext;
        const QString path = childPath(dir, candidate);
        if (!pathTaken(path))
            return QUrl::fromLocalFile(path);
    }
}

VideoFile videoAt(const VideoFile &old, const QUrl &newURL)
{
    const QString path = standardizedPath(newURL.toLocalFile());
    VideoFile v;
    v.id = path;
    v.name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    v.fileExtension = pathExtension(v.name).toUpper();
    v.directoryPath = parentPath(path);
    v.fileSize = old.fileSize;
    v.modifiedDate = old.modifiedDate;
    v.createdDate = old.createdDate;
    return v;
}

QList<MovedItemRecord> move(const QList<VideoFile> &videos, const QUrl &destination, QStringList *failures)
{
    const QString dest = destination.isLocalFile() ? standardizedPath(destination.toLocalFile()) : QString();
    struct stat st {};
    if (dest.isEmpty() || ::stat(native(dest).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (failures)
            failures->clear();
        throw FileOperationError::destinationNotDirectory();
    }

    QList<MovedItemRecord> records;
    QStringList lines;
    for (const VideoFile &video : videos) {
        const QString source = standardizedPath(video.url().toLocalFile());
        if (parentPath(source) == dest)
            continue;
        Placement placed = renameToFreeName(source, video.name, dest);
        // Rename fails across file systems (and on some that refuse it): copy, then remove.
        if (placed.error != 0)
            placed = copyThenRemove(source, video.name, dest);
        if (placed.error != 0)
            lines << failureLine(video.name, placed.error);
        else
            records << MovedItemRecord{video, videoAt(video, QUrl::fromLocalFile(placed.path))};
    }
    return finish(records, lines, failures);
}

QList<TrashedItemRecord> trash(const QList<VideoFile> &videos, QStringList *failures)
{
    QList<TrashedItemRecord> records;
    QStringList lines;
    for (const VideoFile &video : videos) {
        QString inTrash;
        if (const int error = moveToTrash(standardizedPath(video.url().toLocalFile()), inTrash)) {
            lines << trashFailureLine(FileNames::display(video.name), error);
            continue;
        }
        records << TrashedItemRecord{video, QUrl::fromLocalFile(inTrash)};
    }
    return finish(records, lines, failures);
}

QList<VideoFile> deletePermanently(const QList<VideoFile> &videos, QStringList *failures)
{
    QList<VideoFile> removed;
    QStringList lines;
    for (const VideoFile &video : videos) {
        if (::unlink(native(video.url().toLocalFile()).constData()) == 0)
            removed << video;
        else
            lines << failureLine(video.name, errno);
    }
    return finish(removed, lines, failures);
}

QList<VideoFile> undo(const UndoRecord &record, QStringList *failures)
{
    struct Item {
        const VideoFile *original;
        QString from;
        bool fromTrash;
    };
    QList<Item> items;
    if (record.kind == UndoRecord::Kind::trashed) {
        for (const TrashedItemRecord &r : record.trashedItems)
            items << Item{&r.originalVideo, r.trashedURL.toLocalFile(), true};
    } else {
        for (const MovedItemRecord &r : record.movedItems)
            items << Item{&r.originalVideo, r.newVideo.url().toLocalFile(), false};
    }

    QList<VideoFile> restored;
    QStringList lines;
    for (const Item &item : items) {
        const QString folder = parentPath(standardizedPath(item.original->url().toLocalFile()));
        Placement placed = renameToFreeName(item.from, item.original->name, folder);
        // Putting a file back across file systems is still putting it back.
        if (placed.error == EXDEV)
            placed = copyThenRemove(item.from, item.original->name, folder);
        if (placed.error != 0) {
            lines << failureLine(item.original->name, placed.error);
            continue;
        }
        if (item.fromTrash) {
            const QString info = trashInfoPath(item.from);
            if (!info.isEmpty())
                ::unlink(native(info).constData());
        }
        restored << videoAt(*item.original, QUrl::fromLocalFile(placed.path));
    }
    return finish(restored, lines, failures);
}

} // namespace FileOperationService
