#include "FileOperationJournal.h"

#include "FileNames.h"

#include <QDir>
#include <QMutex>
#include <QSet>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <csignal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileOperationJournal {

namespace {

constexpr char kSuffix[] = ".fileop";

// Notes of steps running in this process: never tidied from under them.
QMutex liveMutex;
QSet<QByteArray> &liveNotes()
{
    static QSet<QByteArray> notes;
    return notes;
}

bool processAlive(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

bool lstatOf(const QByteArray &path, struct stat &st) { return ::lstat(path.constData(), &st) == 0; }

QByteArray readSmallFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    QByteArray data(4096 * 2, Qt::Uninitialized);
    const ssize_t n = ::read(fd, data.data(), size_t(data.size()));
    ::close(fd);
    data.resize(n > 0 ? n : 0);
    return data;
}

QByteArray leafOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

} // namespace

QString folder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Lumenkite/PartialOutputs");
}

bool isMoveTemporaryName(const QByteArray &fileName)
{
    static constexpr char prefix[] = ".lumenkite-move-";
    if (fileName.size() != qsizetype(sizeof prefix - 1 + 6) || !fileName.startsWith(prefix))
        return false;
    for (qsizetype i = sizeof prefix - 1; i < fileName.size(); ++i) {
        const char c = fileName[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// A note holds three lines: the process id, the kind, and the path %-escaped (its bytes kept).
Note::Note(Kind kind, const QByteArray &path, const QString &folder)
{
    QDir().mkpath(folder);
    m_file = FileNames::encode(folder) + '/' + QByteArray::number(qint64(::getpid())) + '-' +
             QUuid::createUuid().toString(QUuid::Id128).toLatin1() + kSuffix;
    {
        QMutexLocker lock(&liveMutex);
        liveNotes().insert(m_file);
    }
    const QByteArray text = QByteArray::number(qint64(::getpid())) + '\n' +
                            (kind == Kind::moveTemporary ? "move" : "trashinfo") + '\n' + path.toPercentEncoding("/") +
                            '\n';
    const int fd = ::open(m_file.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    // A kill leaves what was written to the kernel; a short note is ignored when read.
    [[maybe_unused]] const ssize_t n = ::write(fd, text.constData(), size_t(text.size()));
    ::close(fd);
}

Note::~Note()
{
    ::unlink(m_file.constData());
    QMutexLocker lock(&liveMutex);
    liveNotes().remove(m_file);
}

Tidied tidyInterrupted(const QString &folderPath)
{
    Tidied result;
    const QByteArray dirPath = FileNames::encode(folderPath);
    DIR *dir = ::opendir(dirPath.constData());
    if (!dir)
        return result;
    QList<QByteArray> notes;
    while (const dirent *e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name.endsWith(kSuffix))
            notes << dirPath + '/' + name;
    }
    ::closedir(dir);
    for (const QByteArray &note : std::as_const(notes)) {
        {
            QMutexLocker lock(&liveMutex);
            if (liveNotes().contains(note))
                continue;
        }
        const QList<QByteArray> lines = readSmallFile(note).split('\n');
        if (lines.size() < 4)
            continue; // being written, or not ours to read
        const qint64 pid = lines[0].toLongLong();
        if (pid != ::getpid() && processAlive(pid))
            continue;
        const QByteArray path = QByteArray::fromPercentEncoding(lines[2]);
        struct stat st {};
        bool settled = true;
        if (lines[1] == "move" && path.startsWith('/') && isMoveTemporaryName(leafOf(path))) {
            if (lstatOf(path, st) && S_ISREG(st.st_mode)) {
                if (::unlink(path.constData()) == 0)
                    ++result.removedTemporaries;
                else
                    settled = false;
            }
        } else if (lines[1] == "trashinfo" && path.startsWith('/') && path.endsWith(".trashinfo")) {
            // ".../info/<name>.trashinfo" belongs to ".../files/<name>"; without that file the
            // entry names a file that never left its place.
            const QByteArray leaf = leafOf(path);
            const QByteArray infoDir = path.left(path.size() - leaf.size() - 1);
            if (leafOf(infoDir) == "info") {
                const QByteArray trashed = infoDir.left(infoDir.size() - 4) + "files/" +
                                           leaf.left(leaf.size() - qsizetype(sizeof ".trashinfo" - 1));
                if (lstatOf(path, st) && S_ISREG(st.st_mode) && !lstatOf(trashed, st)) {
                    if (::unlink(path.constData()) == 0)
                        ++result.removedTrashInfos;
                    else
                        settled = false;
                }
            }
        }
        if (settled)
            ::unlink(note.constData());
    }
    return result;
}

} // namespace FileOperationJournal
