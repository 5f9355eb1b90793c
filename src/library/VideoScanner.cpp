#include "VideoScanner.h"

#include "FileNames.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QElapsedTimer>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// ---- ScanEvent ----

ScanEvent ScanEvent::batch(QList<VideoFile> videos, std::optional<QString> scannedPath)
{
    ScanEvent e;
    e.kind = Kind::batch;
    e.videos = std::move(videos);
    e.scannedPath = std::move(scannedPath);
    return e;
}

ScanEvent ScanEvent::permissionDenied(const QString &folderName, const QString &path)
{
    ScanEvent e;
    e.kind = Kind::permissionDenied;
    e.folderName = folderName;
    e.path = path;
    return e;
}

ScanEvent ScanEvent::folderUnreadable(const QString &folderName, const QString &path, const QString &reason)
{
    ScanEvent e;
    e.kind = Kind::folderUnreadable;
    e.folderName = folderName;
    e.path = path;
    e.message = reason;
    return e;
}

ScanEvent ScanEvent::completed(int totalCount, const QStringList &deniedPaths)
{
    ScanEvent e;
    e.kind = Kind::completed;
    e.totalCount = totalCount;
    e.deniedPaths = deniedPaths;
    return e;
}

ScanEvent ScanEvent::failed(const QString &message)
{
    ScanEvent e;
    e.kind = Kind::failed;
    e.message = message;
    return e;
}

// ---- name sets ----

const QSet<QString> &VideoScanner::skippedFolderNames()
{
    static const QSet<QString> set{
        ".git", ".svn", ".hg", "node_modules", ".Trash", "DerivedData", ".build", ".swiftpm", "Pods",
        ".venv", "venv", "__pycache__", ".Spotlight-V100", ".fseventsd", ".DocumentRevisions-V100",
        ".TemporaryItems", "Caches", "Cache", "CachedData", "Logs", "CoreSimulator", "npm-cache", ".npm",
        ".yarn", ".cargo", ".gradle"};
    return set;
}

const QSet<QString> &VideoScanner::skippedPackageExtensions()
{
    static const QSet<QString> set{"app", "framework", "bundle", "kext", "plugin", "xpc", "appex",
                                   "xcarchive", "xcodeproj", "xcworkspace", "playground", "pkg", "mpkg",
                                   "dmg", "sparsebundle", "sparseimage", "vm", "localized", "appstore"};
    return set;
}

const QSet<QString> &VideoScanner::photoLibraryExtensions()
{
    static const QSet<QString> set{"photoslibrary", "fcpbundle", "imovielibrary", "photolibrary"};
    return set;
}

const QSet<QString> &VideoScanner::photoLibraryMediaFolders()
{
    static const QSet<QString> set{"originals", "Masters"};
    return set;
}

namespace {

QString lastComponent(const QString &path)
{
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// The name a standard location has inside the home folder, or `fallback` when it is not
// a folder directly below home (XDG maps unset folders to home itself).
QString homeFolderName(QStandardPaths::StandardLocation location, const QString &home, const char *fallback)
{
    const QString path = standardizedPath(QStandardPaths::writableLocation(location));
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0 && path.left(slash) == home && path != home)
        return path.mid(slash + 1);
    return QString::fromLatin1(fallback);
}

} // namespace

QStringList VideoScanner::preferredHomeFolders()
{
    const QString home = standardizedPath(QDir::homePath());
    return {homeFolderName(QStandardPaths::MoviesLocation, home, "Videos"),
            homeFolderName(QStandardPaths::DesktopLocation, home, "Desktop"),
            homeFolderName(QStandardPaths::DocumentsLocation, home, "Documents"),
            homeFolderName(QStandardPaths::DownloadLocation, home, "Downloads"),
            homeFolderName(QStandardPaths::PicturesLocation, home, "Pictures")};
}

ScanEnvironment ScanEnvironment::system()
{
    ScanEnvironment env;
    env.usersFolder = QString::fromLatin1(kUsersFolder);
    env.homeFolder = standardizedPath(QDir::homePath());
    env.preferredHomeFolders = VideoScanner::preferredHomeFolders();
    env.volumes = &VideoScanner::mountedVolumes;
    return env;
}

// ---- the walk ----

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBatchInterval = std::chrono::milliseconds(160);
constexpr int kBatchLimit = 40;
constexpr qint64 kMinTransportStreamSize = 1048576;
constexpr size_t kOpenFolderLimit = 32;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

std::unordered_set<std::string> toByteSet(const QSet<QString> &set)
{
    std::unordered_set<std::string> out;
    for (const QString &s : set)
        out.insert(FileNames::encode(s).toStdString());
    return out;
}

const std::unordered_set<std::string> &skippedNamesBytes()
{
    static const auto set = toByteSet(VideoScanner::skippedFolderNames());
    return set;
}
const std::unordered_set<std::string> &skippedPackagesBytes()
{
    static const auto set = toByteSet(VideoScanner::skippedPackageExtensions());
    return set;
}
const std::unordered_set<std::string> &photoLibrariesBytes()
{
    static const auto set = toByteSet(VideoScanner::photoLibraryExtensions());
    return set;
}
const std::unordered_set<std::string> &videoExtensionsBytes()
{
    static const auto set = toByteSet(VideoFile::knownVideoExtensions());
    return set;
}

// Lower-cased text after the last dot; empty when the name has none or starts with it.
std::string lowerExtension(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return {};
    std::string ext(name.substr(dot + 1));
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

QDateTime fromTimestamp(const struct statx_timestamp &t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000, Qt::UTC);
}

struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

// A hash set in one flat array, probed linearly. Letting go of it frees one block however many
// entries it holds: the node-based sets a scan used took about 100 ms to take apart at 200,000
// files, beside the library's last tree and holding the heap's locks.
template <typename Entry> class FlatSet
{
public:
    // Adds `make()` unless an entry with this hash for which `same(entry)` holds is there;
    // false when it was.
    template <typename Same, typename Make> bool insert(quint64 hash, Same &&same, Make &&make)
    {
        if ((m_count + 1) * 2 > m_slots.size())
            grow();
        const size_t mask = m_slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot &slot = m_slots[i];
            if (!slot.used) {
                slot = Slot{hash, make(), true};
                ++m_count;
                return true;
            }
            if (slot.hash == hash && same(slot.entry))
                return false;
        }
    }

private:
    struct Slot {
        quint64 hash = 0;
        Entry entry{};
        bool used = false;
    };

    void grow()
    {
        std::vector<Slot> old = std::exchange(m_slots, std::vector<Slot>(std::max<size_t>(1024, m_slots.size() * 2)));
        const size_t mask = m_slots.size() - 1;
        for (const Slot &slot : old) {
            if (!slot.used)
                continue;
            size_t i = slot.hash & mask;
            while (m_slots[i].used)
                i = (i + 1) & mask;
            m_slots[i] = slot;
        }
    }

    std::vector<Slot> m_slots;
    size_t m_count = 0;
};

// Spreads every bit of `x` over the low bits, which pick the slot.
quint64 mixBits(quint64 x)
{
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// What keeps one file from being listed twice within a scan: the resolved paths met and the
// files (device and inode) met.
class SeenFiles
{
public:
    // False when the path was met before.
    bool addPath(std::string_view path)
    {
        const quint64 hash = mixBits(std::hash<std::string_view>()(path));
        return m_paths.insert(
            hash, [path](const PathEntry &entry) { return std::string_view(entry.data, entry.length) == path; },
            [this, path] { return PathEntry{store(path), path.size()}; });
    }

    // False when the file was met before.
    bool addFile(FileIdentity id)
    {
        const quint64 hash = mixBits(id.inode ^ mixBits(id.device));
        return m_files.insert(hash, [id](const FileIdentity &entry) { return entry == id; }, [id] { return id; });
    }

private:
    struct PathEntry {
        const char *data = nullptr;
        size_t length = 0;
    };

    // The paths' bytes, in blocks that never move.
    const char *store(std::string_view path)
    {
        constexpr size_t kBlock = size_t(1) << 20;
        if (m_blocks.empty() || m_used + path.size() > m_blockSize) {
            m_blockSize = std::max(kBlock, path.size());
            m_blocks.emplace_back(new char[m_blockSize]);
            m_used = 0;
        }
        char *to = m_blocks.back().get() + m_used;
        std::memcpy(to, path.data(), path.size());
        m_used += path.size();
        return to;
    }

    FlatSet<PathEntry> m_paths;
    FlatSet<FileIdentity> m_files;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_blockSize = 0;
    size_t m_used = 0;
};

class Walker {
public:
    Walker(bool includePhotos, const VideoScanner::EventHandler &sink, std::stop_token stop)
        : m_includePhotos(includePhotos), m_sink(sink), m_stop(std::move(stop))
    {
    }

    bool cancelled() const { return m_stop.stop_requested(); }
    void send(ScanEvent event) { m_sink(event); }

    // Walks the folder open at `fd` (taken over), whose standardized path is `root`.
    int enumerate(int fd, const QString &root, SeenFiles &seen)
    {
        m_seen = &seen;
        m_count = 0;
        m_batch.clear();
        m_batch.reserve(64);
        m_lastSend = Clock::now();
        m_path = FileNames::encode(root).toStdString();
        if (m_path == "/")
            m_path.clear(); // children are joined with "/"
        m_rootLength = m_path.size();
        char resolved[PATH_MAX];
        m_resolvedRoot = ::realpath(m_path.empty() ? "/" : m_path.c_str(), resolved) ? resolved : m_path;
        if (m_resolvedRoot == "/")
            m_resolvedRoot.clear();

        walk(fd);

        if (!m_batch.isEmpty()) {
            send(ScanEvent::batch(std::move(m_batch), std::nullopt));
            m_batch = {};
        }
        return m_count;
    }

private:
    struct Pending {
        std::string name;
        unsigned char type;
    };
    struct Frame {
        std::string name;  // last component; empty for the root
        size_t pathLength; // of m_path while inside this folder
        dev_t device = 0;
        ino_t inode = 0;
        DIR *dir = nullptr; // still being read
        int fd = -1;        // open descriptor of the folder (dirfd of `dir` while it is open)
        std::vector<Pending> rest; // entries read ahead when the folder was closed
        size_t next = 0;
    };

    bool push(int fd, std::string name)
    {
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return false;
        }
        Frame frame;
        frame.name = std::move(name);
        frame.pathLength = m_path.size();
        frame.dir = dir;
        frame.fd = ::dirfd(dir);
        m_stack.push_back(std::move(frame));
        ++m_openFolders;
        while (m_openFolders > kOpenFolderLimit && closeOldest(m_stack.size() - 1)) {
        }
        return true;
    }

    // Closes the outermost open folder below index `keep`; false when there is none.
    bool closeOldest(size_t keep)
    {
        for (size_t i = 0; i < keep; ++i) {
            Frame &f = m_stack[i];
            if (f.fd < 0)
                continue;
            close(f);
            return true;
        }
        return false;
    }

    void close(Frame &f)
    {
        // Its identity, to know it again when it is opened anew (only folders closed
        // early ever are, so only they pay for it).
        if (struct stat st {}; f.fd >= 0 && ::fstat(f.fd, &st) == 0) {
            f.device = st.st_dev;
            f.inode = st.st_ino;
        }
        if (f.dir) {
            // Whatever the folder still holds is read now, as names and kinds.
            std::vector<Pending> rest;
            while (const dirent *entry = ::readdir(f.dir))
                if (entry->d_name[0] != '.')
                    rest.push_back({entry->d_name, entry->d_type});
            f.rest = std::move(rest);
            f.next = 0;
            ::closedir(f.dir);
            f.dir = nullptr;
        } else if (f.fd >= 0) {
            ::close(f.fd);
        }
        f.fd = -1;
        --m_openFolders;
    }

    void pop()
    {
        Frame &f = m_stack.back();
        if (f.dir)
            ::closedir(f.dir);
        else if (f.fd >= 0)
            ::close(f.fd);
        if (f.fd >= 0)
            --m_openFolders;
        m_stack.pop_back();
    }

    static bool sameFolder(int fd, const Frame &f)
    {
        struct stat st {};
        return ::fstat(fd, &st) == 0 && st.st_dev == f.device && st.st_ino == f.inode;
    }

    // Opens the folder of frame `index` again, component by component from its nearest
    // open ancestor (whole paths may be longer than the system accepts), keeping the last
    // few folders of that chain open for the way back up. A folder that was replaced
    // meanwhile is not entered.
    bool reopen(size_t index)
    {
        size_t from = index;
        while (from > 0 && m_stack[from - 1].fd < 0)
            --from;
        const size_t keepFrom = index + 1 >= kOpenFolderLimit / 2 ? index + 1 - kOpenFolderLimit / 2 : 0;
        auto adopt = [&](size_t i, int fd) {
            m_stack[i].fd = fd;
            ++m_openFolders;
        };
        int parent = -1;
        bool parentOwned = false;
        size_t i = from;
        if (from == 0) {
            const std::string root = m_path.substr(0, m_stack[0].pathLength);
            parent = ::open(root.empty() ? "/" : root.c_str(), kFolderFlags & ~O_NOFOLLOW);
            if (parent < 0)
                return false;
            if (!sameFolder(parent, m_stack[0])) {
                ::close(parent);
                return false;
            }
            if (keepFrom == 0)
                adopt(0, parent);
            else
                parentOwned = true;
            i = 1;
        } else {
            parent = m_stack[from - 1].fd;
        }
        for (; i <= index; ++i) {
            const int sub = ::openat(parent, m_stack[i].name.c_str(), kFolderFlags);
            if (parentOwned)
                ::close(parent);
            parentOwned = false;
            if (sub < 0)
                return false;
            if (!sameFolder(sub, m_stack[i])) {
                ::close(sub);
                return false;
            }
            if (i >= keepFrom)
                adopt(i, sub);
            else
                parentOwned = true;
            parent = sub;
        }
        while (m_openFolders > kOpenFolderLimit && closeOldest(keepFrom)) {
        }
        return true;
    }

    // The current folder's descriptor, opened again if it was closed; -1 when it can't be.
    int currentFolder()
    {
        Frame &f = m_stack.back();
        if (f.fd < 0 && !reopen(m_stack.size() - 1))
            return -1;
        return m_stack.back().fd;
    }

    // The next entry of the current folder; false at its end.
    bool nextEntry(std::string &name, unsigned char &type)
    {
        Frame &f = m_stack.back();
        if (f.dir) {
            for (;;) {
                const dirent *entry = ::readdir(f.dir);
                if (!entry)
                    return false;
                if (entry->d_name[0] == '.') // hidden, and "." and ".."
                    continue;
                name.assign(entry->d_name);
                type = entry->d_type;
                return true;
            }
        }
        if (f.next >= f.rest.size())
            return false;
        Pending &p = f.rest[f.next++];
        name = std::move(p.name);
        type = p.type;
        return true;
    }

    void walk(int rootFd)
    {
        m_stack.clear();
        m_openFolders = 0;
        if (!push(rootFd, {}))
            return;
        std::string name;
        while (!m_stack.empty() && !cancelled()) {
            unsigned char type;
            if (!nextEntry(name, type)) {
                pop();
                if (!m_stack.empty())
                    m_path.resize(m_stack.back().pathLength);
                continue;
            }
            const size_t base = m_stack.back().pathLength;
            m_path.resize(base);
            m_path += '/';
            m_path += name;

            struct statx sx;
            bool haveStat = false;
            int dfd = -1;
            // The folder's descriptor is needed only to look closer; a folder that went
            // away or was replaced since it was closed is left.
            const auto folder = [&] {
                if (dfd < 0 && (dfd = currentFolder()) < 0)
                    m_stack.back().rest.clear();
                return dfd >= 0;
            };
            if (type == DT_UNKNOWN) {
                if (!folder() || !statFile(dfd, name.c_str(), sx))
                    continue;
                haveStat = true;
                type = S_ISDIR(sx.stx_mode) ? DT_DIR : S_ISREG(sx.stx_mode) ? DT_REG : S_ISLNK(sx.stx_mode) ? DT_LNK : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                if (shouldDescend(name.c_str()) && folder())
                    descend(dfd, name);
                continue;
            }
            if (type != DT_REG)
                continue; // symbolic links, devices, sockets
            const std::string ext = lowerExtension(name);
            if (!videoExtensionsBytes().count(ext))
                continue;
            if (!haveStat && (!folder() || !statFile(dfd, name.c_str(), sx)))
                continue;
            if (!S_ISREG(sx.stx_mode))
                continue;
            accept(sx, ext, base);
        }
        while (!m_stack.empty())
            pop();
        m_path.resize(m_rootLength);
    }

    static bool statFile(int dfd, const char *name, struct statx &sx)
    {
        return ::statx(dfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                       STATX_TYPE | STATX_SIZE | STATX_INO | STATX_MTIME | STATX_BTIME, &sx) == 0;
    }

    bool shouldDescend(const char *name) const
    {
        if (skippedNamesBytes().count(name))
            return false;
        const std::string ext = lowerExtension(name);
        if (skippedPackagesBytes().count(ext))
            return false;
        if (photoLibrariesBytes().count(ext))
            return m_includePhotos;
        // Inside a Photos library only the folders holding the original media are entered.
        static constexpr std::string_view marker = ".photoslibrary/";
        const size_t at = m_path.rfind(marker);
        if (at == std::string::npos)
            return true;
        std::string_view rest = std::string_view(m_path).substr(at + marker.size());
        while (!rest.empty() && rest.front() == '/')
            rest.remove_prefix(1);
        const std::string_view first = rest.substr(0, rest.find('/'));
        return first.empty() || first == "originals" || first == "Masters";
    }

    void descend(int dfd, const std::string &name)
    {
        int sub = ::openat(dfd, name.c_str(), kFolderFlags);
        if (sub < 0 && (errno == EMFILE || errno == ENFILE)) {
            // Other folders' descriptors are given back (their entries read ahead), then
            // the folder is tried once more.
            while (closeOldest(m_stack.size() - 1)) {
            }
            sub = ::openat(dfd, name.c_str(), kFolderFlags);
        }
        if (sub < 0) {
            const int error = errno;
            if (isPermissionError(error))
                send(ScanEvent::permissionDenied(FileNames::decode(name), FileNames::decode(m_path)));
            else if (error != ENOENT && error != ENOTDIR && error != ELOOP)
                // Gone or replaced by something else since it was listed: nothing to report.
                send(ScanEvent::folderUnreadable(FileNames::decode(name), FileNames::decode(m_path),
                                                 qt_error_string(error)));
            return;
        }
        push(sub, name);
    }

    void accept(const struct statx &sx, const std::string &ext, size_t folderLength)
    {
        const qint64 size = qint64(sx.stx_size);
        if (size < 1)
            return;
        if (ext == "ts" && size < kMinTransportStreamSize)
            return;
        m_key.assign(m_resolvedRoot).append(m_path, m_rootLength);
        if (!m_seen->addPath(m_key))
            return;
        if ((sx.stx_mask & STATX_INO) && !m_seen->addFile({makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino}))
            return;
        std::optional<QDateTime> created;
        if (sx.stx_mask & STATX_BTIME)
            created = fromTimestamp(sx.stx_btime);
        const QDateTime modified = (sx.stx_mask & STATX_MTIME) ? fromTimestamp(sx.stx_mtime) : QDateTime();
        std::optional<VideoFile> video = VideoFile::make(FileNames::decode(m_path), size, modified, created);
        if (!video)
            return;
        m_batch.append(std::move(*video));
        ++m_count;
        const Clock::time_point now = Clock::now();
        if (m_batch.size() >= kBatchLimit || now - m_lastSend >= kBatchInterval) {
            const QString folder = folderLength == 0 ? QStringLiteral("/")
                                                     : FileNames::decode(std::string_view(m_path).substr(0, folderLength));
            QList<VideoFile> out;
            out.reserve(64);
            out.swap(m_batch);
            send(ScanEvent::batch(std::move(out), folder));
            m_lastSend = now;
        }
    }

    const bool m_includePhotos;
    const VideoScanner::EventHandler &m_sink;
    std::stop_token m_stop;
    std::vector<Frame> m_stack;
    size_t m_openFolders = 0;
    SeenFiles *m_seen = nullptr;
    std::string m_key; // the resolved path of the file being accepted, reused
    int m_count = 0;
    QList<VideoFile> m_batch;
    Clock::time_point m_lastSend;
    std::string m_path;
    size_t m_rootLength = 0;
    std::string m_resolvedRoot;
};

// Opens a folder for listing; -1 with errno set when it can't be.
int openFolder(const QString &path)
{
    return ::open(FileNames::encode(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

struct Entry {
    QString name;
    unsigned char type; // DT_DIR, DT_LNK, or anything else
};

// Lists a folder's entries with their kinds; false with errno set when it can't be read.
bool listFolder(const QString &path, std::vector<Entry> &out)
{
    const int fd = openFolder(path);
    if (fd < 0)
        return false;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        out.push_back({FileNames::decode(entry->d_name), type});
    }
    ::closedir(dir);
    return true;
}

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

class Scan {
public:
    Scan(bool includePhotos, const VideoScanner::EventHandler &sink, std::stop_token stop)
        : m_walker(includePhotos, sink, std::move(stop))
    {
    }

    void singleFolder(const QString &rootPath)
    {
        const QString root = standardizedPath(rootPath);
        const int fd = openFolder(root);
        if (fd < 0 && isPermissionError(errno)) {
            m_walker.send(ScanEvent::permissionDenied(lastComponent(root), root));
            m_walker.send(ScanEvent::completed(0, {root}));
            return;
        }
        SeenFiles seen;
        const int count = fd < 0 ? 0 : m_walker.enumerate(fd, root, seen);
        if (!m_walker.cancelled())
            m_walker.send(ScanEvent::completed(count, {}));
    }

    void userFolders(const ScanEnvironment &env, bool entireComputer)
    {
        const QString usersFolder = standardizedPath(env.usersFolder);
        const QString home = env.homeFolder.isEmpty() ? QString() : standardizedPath(env.homeFolder);

        // The current user's home comes first, wherever it lies.
        if (!home.isEmpty())
            userFolder(home, env.preferredHomeFolders);

        std::vector<Entry> entries;
        if (!listFolder(usersFolder, entries)) {
            m_walker.send(ScanEvent::permissionDenied(lastComponent(usersFolder), usersFolder));
        } else {
            std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });
            for (const Entry &entry : entries) {
                if (entry.name.startsWith(QLatin1Char('.')) || entry.type == DT_LNK)
                    continue;
                const QString path = joinPath(usersFolder, entry.name);
                if (entry.type == DT_DIR) {
                    // Other users' homes are not ours to list.
                    if (path != home && entry.name == QLatin1String("Shared"))
                        userFolder(path, env.preferredHomeFolders);
                    continue;
                }
                if (std::optional<VideoFile> video = VideoFile::fromFile(path))
                    m_walker.send(ScanEvent::batch({*video}, usersFolder));
            }
        }

        if (entireComputer && env.volumes) {
            for (const ScanScope &volume : env.volumes()) {
                if (const std::optional<QUrl> url = volume.rootURL())
                    m_roots.append(standardizedPath(url->toLocalFile()));
            }
        }

        SeenFiles seen;
        int count = 0;
        QStringList denied;
        for (const QString &root : std::as_const(m_roots)) {
            if (m_walker.cancelled())
                return;
            const int fd = openFolder(root);
            if (fd < 0) {
                if (isPermissionError(errno)) {
                    denied.append(root);
                    m_walker.send(ScanEvent::permissionDenied(lastComponent(root), root));
                }
                continue;
            }
            count += m_walker.enumerate(fd, root, seen);
        }
        if (m_walker.cancelled())
            return;
        m_walker.send(ScanEvent::completed(count, denied));
    }

private:
    void userFolder(const QString &folder, const QStringList &preferred)
    {
        std::vector<Entry> children;
        if (!listFolder(folder, children)) {
            if (isPermissionError(errno))
                m_walker.send(ScanEvent::permissionDenied(lastComponent(folder), folder));
            return;
        }
        auto order = [&](const QString &name) {
            const int i = preferred.indexOf(name);
            return i < 0 ? 99 : i;
        };
        std::stable_sort(children.begin(), children.end(), [&](const Entry &a, const Entry &b) {
            const int oa = order(a.name), ob = order(b.name);
            return oa != ob ? oa < ob : a.name < b.name;
        });
        for (const Entry &child : children) {
            if (child.name.startsWith(QLatin1Char('.')) || child.name == QLatin1String("Library")
                || child.type == DT_LNK)
                continue;
            const QString path = joinPath(folder, child.name);
            if (child.type == DT_DIR) {
                m_roots.append(path);
                continue;
            }
            if (std::optional<VideoFile> video = VideoFile::fromFile(path))
                m_walker.send(ScanEvent::batch({*video}, folder));
        }
        for (const char *cloud : {"/Library/Mobile Documents/com~apple~CloudDocs", "/Library/CloudStorage"}) {
            const QString path = folder + QLatin1String(cloud);
            if (::access(FileNames::encode(path).constData(), F_OK) == 0)
                m_roots.append(path);
        }
    }

    Walker m_walker;
    QStringList m_roots;
};

} // namespace

void VideoScanner::run(const ScanScope &scope, bool includePhotosLibrary, const EventHandler &sink,
                       std::stop_token stop)
{
    if (scope.kind == ScanScope::Kind::homeDirectory || scope.kind == ScanScope::Kind::entireMacDeep)
        run(scope, includePhotosLibrary, ScanEnvironment::system(), sink, std::move(stop));
    else
        run(scope, includePhotosLibrary, ScanEnvironment{}, sink, std::move(stop));
}

void VideoScanner::run(const ScanScope &scope, bool includePhotosLibrary, const ScanEnvironment &environment,
                       const EventHandler &sink, std::stop_token stop)
{
    Scan scan(includePhotosLibrary, sink, std::move(stop));
    switch (scope.kind) {
    case ScanScope::Kind::volume:
    case ScanScope::Kind::customFolder: scan.singleFolder(scope.url.toLocalFile()); break;
    case ScanScope::Kind::homeDirectory: scan.userFolders(environment, false); break;
    case ScanScope::Kind::entireMacDeep: scan.userFolders(environment, true); break;
    }
}

// ---- mounted volumes ----

QList<ScanScope> VideoScanner::mountedVolumes()
{
    static const QSet<QByteArray> pseudoTypes{
        "proc", "sysfs", "tmpfs", "devtmpfs", "overlay", "squashfs", "cgroup", "cgroup2", "devpts",
        "mqueue", "hugetlbfs", "debugfs", "tracefs", "securityfs", "pstore", "bpf", "configfs",
        "fusectl", "autofs", "binfmt_misc", "efivarfs", "ramfs", "rpc_pipefs", "nsfs", "selinuxfs",
        "fuse.gvfsd-fuse", "fuse.portal", "fuse.snapfuse", "nfsd", "ramfs", "zram"};
    static const char *const systemPrefixes[] = {"/boot", "/proc", "/sys", "/dev", "/run", "/snap", "/var",
                                                 "/System/Volumes"};
    auto below = [](const QString &path, const char *prefix) {
        const QLatin1String p(prefix);
        return path == p || path.startsWith(p + QLatin1Char('/'));
    };
    QList<ScanScope> result;
    for (const QStorageInfo &info : QStorageInfo::mountedVolumes()) {
        if (!info.isValid() || !info.isReady())
            continue;
        const QString path = standardizedPath(info.rootPath());
        if (path == QLatin1String("/") || pseudoTypes.contains(info.fileSystemType()))
            continue;
        bool system = false;
        for (const char *prefix : systemPrefixes)
            system = system || below(path, prefix);
        if (system && !below(path, "/run/media"))
            continue;
        // Files bind-mounted into containers are not volumes.
        struct stat st;
        if (::stat(FileNames::encode(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        QString name = info.displayName();
        if (name.isEmpty())
            name = lastComponent(path);
        result.append(ScanScope::volume(name, QUrl::fromLocalFile(path)));
    }
    return result;
}

// ---- the asynchronous scan ----

namespace {

// Wakes the consumer's thread when events wait for it; Qt drops the queued calls when the
// consumer's context object is destroyed.
class ScanRelay : public QObject {
    Q_OBJECT
signals:
    void wake();
};

// The events a worker made and the consumer has not taken yet. The consumer takes them in
// slices of a few milliseconds and lets its event loop run in between, so a fast walk (or
// one that ran while the consumer's thread was busy) never holds that thread up for long.
struct ScanMailbox {
    std::mutex mutex;
    std::deque<ScanEvent> events;
    bool finished = false;   // the worker has sent its last event
    bool wakePending = false; // a delivery is queued or under way
};

constexpr qint64 kDeliverySliceMs = 15;

std::atomic<quint64> g_nextGeneration{1};

// Scans get threads of their own so that long media jobs on the global pool never hold
// one back; a cancelled scan ends at its next item, so a few threads are plenty.
QThreadPool &scanPool()
{
    static QThreadPool &pool = [] () -> QThreadPool & {
        // The name sets a walk reads are made first, so that at exit they outlive the pool,
        // whose destruction waits for running scans.
        skippedNamesBytes();
        skippedPackagesBytes();
        photoLibrariesBytes();
        videoExtensionsBytes();
        VideoFile::knownVideoExtensions();
        static QThreadPool p;
        p.setMaxThreadCount(4);
        return p;
    }();
    return pool;
}

} // namespace

struct ScanJob::State {
    quint64 generation = 0;
    std::stop_source stop;
    mutable std::mutex mutex;
    mutable std::condition_variable finishedChanged;
    bool finished = false;
};

struct ScanJob::Control {
    std::shared_ptr<State> state;
    ~Control() { state->stop.request_stop(); }
};

quint64 ScanJob::generation() const { return m_control ? m_control->state->generation : 0; }

void ScanJob::cancel()
{
    if (m_control)
        m_control->state->stop.request_stop();
}

bool ScanJob::isCancelled() const { return m_control && m_control->state->stop.stop_requested(); }

bool ScanJob::isFinished() const
{
    if (!m_control)
        return true;
    std::lock_guard lock(m_control->state->mutex);
    return m_control->state->finished;
}

bool ScanJob::waitForFinished(int timeoutMs) const
{
    if (!m_control)
        return true;
    State &s = *m_control->state;
    std::unique_lock lock(s.mutex);
    if (timeoutMs < 0) {
        s.finishedChanged.wait(lock, [&] { return s.finished; });
        return true;
    }
    return s.finishedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return s.finished; });
}

ScanJob VideoScanner::scan(const ScanScope &scope, bool includePhotosLibrary, QObject *context,
                           EventHandler onEvent, std::function<void()> onFinished) const
{
    return scan(scope, includePhotosLibrary, ScanEnvironment::system(), context, std::move(onEvent),
                std::move(onFinished));
}

ScanJob VideoScanner::scan(const ScanScope &scope, bool includePhotosLibrary, const ScanEnvironment &environment,
                           QObject *context, EventHandler onEvent, std::function<void()> onFinished) const
{
    auto state = std::make_shared<ScanJob::State>();
    state->generation = g_nextGeneration.fetch_add(1);

    auto *relay = new ScanRelay;
    auto mailbox = std::make_shared<ScanMailbox>();
    auto deliver = std::make_shared<std::function<void()>>();
    *deliver = [state, mailbox, weak = std::weak_ptr<std::function<void()>>(deliver), context,
                onEvent = std::move(onEvent), onFinished = std::move(onFinished)] {
        QElapsedTimer slice;
        slice.start();
        for (;;) {
            std::optional<ScanEvent> next;
            bool finished = false;
            {
                std::lock_guard lock(mailbox->mutex);
                if (mailbox->events.empty()) {
                    mailbox->wakePending = false;
                    finished = std::exchange(mailbox->finished, false);
                } else {
                    next = std::move(mailbox->events.front());
                    mailbox->events.pop_front();
                }
            }
            if (!next) {
                if (finished && !state->stop.stop_requested() && onFinished)
                    onFinished();
                return;
            }
            if (!state->stop.stop_requested() && onEvent)
                onEvent(*next);
            if (slice.elapsed() >= kDeliverySliceMs) {
                // The rest comes after the loop has had its turn (timers, input, painting).
                if (const auto self = weak.lock())
                    QMetaObject::invokeMethod(context, [self] { (*self)(); }, Qt::QueuedConnection);
                return;
            }
        }
    };
    QObject::connect(relay, &ScanRelay::wake, context, [deliver] { (*deliver)(); }, Qt::QueuedConnection);

    // The walk keeps the priority of the thread that waits for it: it is what a scan's end
    // waits for, while the trees and merges beside it are lowered.
    scanPool().start([state, relay, mailbox, scope, includePhotosLibrary, environment] {
        const auto post = [relay, mailbox](std::optional<ScanEvent> event) {
            bool wake = false;
            {
                std::lock_guard lock(mailbox->mutex);
                if (event)
                    mailbox->events.push_back(std::move(*event));
                else
                    mailbox->finished = true;
                wake = !std::exchange(mailbox->wakePending, true);
            }
            if (wake)
                emit relay->wake();
        };
        const EventHandler sink = [&post](const ScanEvent &event) { post(event); };
        run(scope, includePhotosLibrary, environment, sink, state->stop.get_token());
        post(std::nullopt);
        relay->deleteLater();
        {
            std::lock_guard lock(state->mutex);
            state->finished = true;
        }
        state->finishedChanged.notify_all();
    });

    ScanJob job;
    job.m_control = std::make_shared<ScanJob::Control>();
    job.m_control->state = std::move(state);
    return job;
}

#include "VideoScanner.moc"
