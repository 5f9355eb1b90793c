#include "FileOperationService.h"

#include "FileNames.h"
#include "FileOperationJournal.h"
#include "L10n.h"

#include <QDir>
#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <algorithm>
#include <functional>
#include <optional>
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
        return L10n::text(QStringLiteral("move.notAFolder"));
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

// What a call copies, for the progress it reports.
struct CopyRun {
    const FileOperationService::CopyControl &control;
    qint64 total = 0;
    qint64 done = 0;
    bool stopped = false;
    bool cancelled()
    {
        stopped = stopped || (control.cancelled && control.cancelled());
        return stopped;
    }
    void advance(qint64 bytes)
    {
        done += bytes;
        if (control.progress)
            control.progress(done, total);
    }
};

// Copies in steps of a few MiB, so that progress is seen and a stop is heard between them.
int copyContents(int in, int out, CopyRun &run)
{
    constexpr size_t kStep = 8 << 20;
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (run.cancelled())
            return ECANCELED;
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kStep, 0);
            if (n > 0) {
                run.advance(n);
                continue;
            }
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
        qint64 stepDone = 0;
        while (stepDone < qint64(kStep)) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n == 0)
                break;
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
            stepDone += n;
        }
        if (stepDone == 0)
            return 0;
        run.advance(stepDone);
    }
}

// A hidden temporary in `folder`, made with O_EXCL under a name noted in the journal first,
// so that a kill at any point leaves nothing the next start does not find.
int makeMoveTemporary(const QString &folder, QByteArray &temp, std::optional<FileOperationJournal::Note> &note)
{
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray leaf = ".lumenkite-move-";
        for (int i = 0; i < 6; ++i)
            leaf += kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))];
        temp = native(childPath(folder, QString::fromLatin1(leaf)));
        note.emplace(FileOperationJournal::Note::Kind::moveTemporary, temp);
        const int fd = ::open(temp.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0)
            return fd;
        note.reset();
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Moves a file where a rename cannot: copies it under a temporary name in `folder`, renames
// the complete copy to a free name and only then removes the source. On any failure or stop
// the temporary or the copy is removed again, so the file is never left truncated or twice.
Placement copyThenRemove(const QString &from, const QString &name, const QString &folder, CopyRun &run)
{
    const QByteArray source = native(from);
    const int in = FileNames::openRegularFile(from);
    if (in < 0)
        return {{}, errno == EINVAL && QFileInfo(from).isDir() ? EISDIR : errno};
    // Reads block as usual from here on.
    ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const int error = errno;
        ::close(in);
        return {{}, error};
    }
    QByteArray temp;
    std::optional<FileOperationJournal::Note> note;
    const int out = makeMoveTemporary(folder, temp, note);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return {{}, error};
    }
    int error = copyContents(in, out, run);
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

// The Trash folder in a top directory other than the home's (freedesktop layout):
// "<top>/.Trash/<uid>" when the administrator made a shared one, else "<top>/.Trash-<uid>".
int topDirectoryTrash(const QByteArray &top, QByteArray &trash)
{
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

// The Trash folder for a file on `device`: the user's own when it lies on that device, else
// the one of the file's top directory. Always an absolute path. 0 or the errno.
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
    return topDirectoryTrash(topFolderOf(source, device), trash);
}

QString &mountTableFile()
{
    static QString file = QStringLiteral("/proc/self/mountinfo");
    return file;
}

std::function<int(const QByteArray &, const QByteArray &)> &renameHook()
{
    static std::function<int(const QByteArray &, const QByteArray &)> hook;
    return hook;
}

int trashRename(const QByteArray &from, const QByteArray &to)
{
    if (const auto &hook = renameHook())
        if (const int injected = hook(from, to); injected >= 0)
            return injected;
    return renameNoReplace(from, to);
}

// The mount table escapes space, tab, newline and backslash as three octal digits.
QByteArray unescapeMountField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int c = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && c < 256) {
                out += char(c);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

struct Mount {
    QByteArray point;
    bool readOnly = false;
};

// The mount that holds the folder of `path`. Bind mounts share the device of what they
// show, so only the mount table tells them apart.
std::optional<Mount> mountHolding(const QByteArray &path)
{
    const QByteArray parent = path.left(std::max<qsizetype>(1, path.lastIndexOf('/')));
    char *resolved = ::realpath(parent.constData(), nullptr);
    if (!resolved)
        return std::nullopt;
    const QByteArray folder(resolved);
    ::free(resolved);
    QFile table(mountTableFile());
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<Mount> best;
    // Later lines are mounted over earlier ones at the same point, so the last match wins.
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 6)
            continue;
        const QByteArray point = unescapeMountField(fields[4]);
        const bool holds = point == "/" || folder == point || folder.startsWith(point + '/');
        if (!holds || (best && point.size() < best->point.size()))
            continue;
        best = Mount{point, fields[5].split(',').contains("ro")};
    }
    return best;
}

// "%"-escapes a path for a .trashinfo file, byte by byte.
QByteArray trashInfoEscaped(const QByteArray &path)
{
    return path.toPercentEncoding("/");
}

// The leaf a trashed file takes: its name with " <n>" before the extension when n > 1, cut
// short (at a character boundary, extension kept) so that "info/<leaf>.trashinfo" still
// fits in one file name.
QByteArray trashLeaf(const QByteArray &name, int n)
{
    constexpr qsizetype limit = NAME_MAX - qsizetype(sizeof ".trashinfo" - 1);
    const qsizetype dot = name.lastIndexOf('.');
    // An extension too long to be one is kept with the name, not kept whole.
    const bool hasExt = dot > 0 && dot < name.size() - 1 && name.size() - dot <= 16;
    QByteArray stem = hasExt ? name.left(dot) : name;
    const QByteArray ext = hasExt ? name.mid(dot) : QByteArray();
    const QByteArray suffix = n == 1 ? QByteArray() : " " + QByteArray::number(n);
    const qsizetype room = limit - ext.size() - suffix.size();
    if (stem.size() > room) {
        qsizetype keep = room;
        while (keep > 0 && (uchar(stem[keep]) & 0xC0) == 0x80)
            --keep;
        stem.truncate(keep);
    }
    return stem + suffix + ext;
}

// Moves `source` into the Trash folder `trash`, its .trashinfo first (which reserves the
// name, the freedesktop rule). On success `trashed` is where it now lies; on failure nothing
// is left behind, and a kill in between leaves a note that the next start tidies by.
int moveIntoTrash(const QByteArray &trash, const QByteArray &source, QString &trashed)
{
    const QByteArray files = trash + "/files";
    const QByteArray info = trash + "/info";
    if (const int error = makeFolder(files, 0700))
        return error;
    if (const int error = makeFolder(info, 0700))
        return error;

    const QByteArray name = source.mid(source.lastIndexOf('/') + 1);
    const QByteArray record = "[Trash Info]\nPath=" + trashInfoEscaped(source) + "\nDeletionDate="
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "\n";
    for (int n = 1; n < 10000; ++n) {
        const QByteArray leaf = trashLeaf(name, n);
        const QByteArray infoPath = info + "/" + leaf + ".trashinfo";
        FileOperationJournal::Note note(FileOperationJournal::Note::Kind::trashInfo, infoPath);
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
        const int error = trashRename(source, target);
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

// Moves the file at `source` into the Trash, recording where it came from.
int moveToTrash(const QString &sourcePath, QString &trashed)
{
    const QByteArray source = FileNames::encode(sourcePath);
    struct stat st {};
    if (::lstat(source.constData(), &st) != 0)
        return errno;
    QByteArray trash;
    if (const int error = trashFolderFor(source, st.st_dev, trash))
        return error == EROFS ? error : kNoTrashFolder;
    const int error = moveIntoTrash(trash, source, trashed);
    if (error != EXDEV)
        return error;
    // Another mount on the same device (a bind mount): the Trash of that mount's own top.
    const std::optional<Mount> mount = mountHolding(source);
    if (!mount)
        return error;
    if (mount->readOnly)
        return EROFS;
    if (const int topError = topDirectoryTrash(mount->point, trash))
        return topError == EROFS ? topError : kNoTrashFolder;
    return moveIntoTrash(trash, source, trashed);
}

QString trashFailureLine(const QString &name, int error)
{
    if (error == kNoTrashFolder)
        return name + QStringLiteral(": ") + L10n::text(QStringLiteral("error.noTrashFolder"));
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

QList<MovedItemRecord> move(const QList<VideoFile> &videos, const QUrl &destination, QStringList *failures,
                            const CopyControl &copy, QList<VideoFile> *leftForCopy)
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
    CopyRun run{copy};
    for (const VideoFile &video : videos)
        run.total += std::max<qint64>(0, video.fileSize);
    for (const VideoFile &video : videos) {
        if (run.cancelled())
            break;
        const QString source = standardizedPath(video.url().toLocalFile());
        if (parentPath(source) == dest)
            continue;
        Placement placed = renameToFreeName(source, video.name, dest);
        // Rename fails across file systems (and on some that refuse it): copy, then remove.
        if (placed.error == EXDEV && leftForCopy) {
            leftForCopy->append(video);
            continue;
        }
        if (placed.error != 0)
            placed = copyThenRemove(source, video.name, dest, run);
        else
            run.advance(std::max<qint64>(0, video.fileSize));
        if (placed.error == ECANCELED && run.stopped)
            break;
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

QList<VideoFile> undo(const UndoRecord &record, QStringList *failures, const CopyControl &copy,
                      UndoRecord *leftForCopy)
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
    CopyRun run{copy};
    for (const Item &item : items)
        run.total += std::max<qint64>(0, item.original->fileSize);
    if (leftForCopy)
        *leftForCopy = UndoRecord{record.kind, {}, {}};
    for (qsizetype i = 0; i < items.size(); ++i) {
        const Item &item = items[i];
        if (run.cancelled())
            break;
        const QString folder = parentPath(standardizedPath(item.original->url().toLocalFile()));
        Placement placed = renameToFreeName(item.from, item.original->name, folder);
        // Putting a file back across file systems is still putting it back.
        if (placed.error == EXDEV && leftForCopy) {
            if (item.fromTrash)
                leftForCopy->trashedItems << record.trashedItems[i];
            else
                leftForCopy->movedItems << record.movedItems[i];
            continue;
        }
        if (placed.error == EXDEV)
            placed = copyThenRemove(item.from, item.original->name, folder, run);
        else
            run.advance(std::max<qint64>(0, item.original->fileSize));
        if (placed.error == ECANCELED && run.stopped)
            break;
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

void setTrashRenameHookForTesting(std::function<int(const QByteArray &, const QByteArray &)> hook)
{
    renameHook() = std::move(hook);
}

void setMountTableForTesting(const QString &mountInfoFile)
{
    mountTableFile() = mountInfoFile.isEmpty() ? QStringLiteral("/proc/self/mountinfo") : mountInfoFile;
}

} // namespace FileOperationService
