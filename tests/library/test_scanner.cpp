#include "library/FileNames.h"
#include "library/VideoScanner.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <functional>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Readable failure output.
void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using Kind = ScanEvent::Kind;

struct Fixture {
    QTemporaryDir dir{QDir::tempPath() + "/lumenkite-scan-XXXXXX"};
    QString root() const { return dir.path(); }
    QString at(const QString &rel) const { return dir.path() + "/" + rel; }
    void file(const QString &rel, qint64 size = 100) const { ASSERT_TRUE(lktest::writeSizedFile(at(rel), size)) << rel.toStdString(); }
    void folder(const QString &rel) const { ASSERT_TRUE(QDir().mkpath(at(rel))); }
    void symlink(const QString &target, const QString &rel) const
    {
        QDir().mkpath(QFileInfo(at(rel)).absolutePath());
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at(rel)).constData()), 0);
    }
    void hardlink(const QString &existing, const QString &rel) const
    {
        ASSERT_EQ(::link(QFile::encodeName(at(existing)).constData(), QFile::encodeName(at(rel)).constData()), 0);
    }
};

// A home at home/me with a Videos folder, and a volume that holds all of the fixture: a
// whole-computer scan reaches home's files twice.
ScanEnvironment homeWithAVolumeOverIt(const Fixture &fx)
{
    ScanEnvironment env;
    env.usersFolder = fx.at("home");
    env.homeFolder = fx.at("home/me");
    env.preferredHomeFolders = {"Videos"};
    env.volumes = [root = fx.root()] { return QList<ScanScope>{ScanScope::volume("Data", QUrl::fromLocalFile(root))}; };
    return env;
}

std::vector<ScanEvent> runScan(const ScanScope &scope, bool photos, const ScanEnvironment &env = {},
                               std::function<void(const ScanEvent &, std::stop_source &)> onEach = {})
{
    std::vector<ScanEvent> events;
    std::stop_source stop;
    VideoScanner::run(
        scope, photos, env,
        [&](const ScanEvent &e) {
            events.push_back(e);
            if (onEach)
                onEach(e, stop);
        },
        stop.get_token());
    return events;
}

std::vector<ScanEvent> scanFolder(const QString &path, bool photos = false)
{
    return runScan(ScanScope::customFolder(QUrl::fromLocalFile(path)), photos);
}

QList<VideoFile> videosOf(const std::vector<ScanEvent> &events)
{
    QList<VideoFile> out;
    for (const ScanEvent &e : events)
        if (e.kind == Kind::batch)
            out += e.videos;
    return out;
}

QStringList idsOf(const std::vector<ScanEvent> &events)
{
    QStringList ids;
    for (const VideoFile &v : videosOf(events))
        ids << v.id;
    return ids;
}

// One line per event, for comparing whole sequences.
QString describe(const ScanEvent &e)
{
    switch (e.kind) {
    case Kind::batch: return QString("batch %1 %2").arg(e.videos.size()).arg(e.scannedPath.value_or("nil"));
    case Kind::permissionDenied: return QString("denied %1 %2").arg(e.folderName, e.path);
    case Kind::folderUnreadable: return QString("unreadable %1 %2 (%3)").arg(e.folderName, e.path, e.message);
    case Kind::completed: return QString("completed %1 [%2]").arg(e.totalCount).arg(e.deniedPaths.join(","));
    case Kind::failed: return "failed " + e.message;
    }
    return {};
}

QStringList describeAll(const std::vector<ScanEvent> &events)
{
    QStringList lines;
    for (const ScanEvent &e : events)
        lines << describe(e);
    return lines;
}

} // namespace

TEST(VideoScanner, FolderWalkAcceptsAndPrunesByTheFixedRules)
{
    Fixture fx;
    const QString elsewhere = fx.at("outside");
    fx.file("outside/linked.mp4");

    struct Row { const char *path; qint64 size; bool withoutPhotos; bool withPhotos; };
    const Row rows[] = {
        {"lib/a/short.ts", 1048575, false, false},
        {"lib/a/long.ts", 1048576, true, true},
        {"lib/a/empty.mp4", 0, false, false},
        {"lib/a/Shout.MP4", 5, true, true},
        {"lib/a/upper.MOV", 5, true, true},
        {"lib/a/notes.txt", 5, false, false},
        {"lib/a/noextension", 5, false, false},
        {"lib/.hidden/h.mp4", 5, false, false},
        {"lib/a/.h.mp4", 5, false, false},
        {"lib/node_modules/n.mp4", 5, false, false},
        {"lib/deep/er/node_modules/n.mp4", 5, false, false},
        {"lib/Caches/c.mkv", 5, false, false},
        {"lib/Tool.app/inside.mp4", 5, false, false},
        {"lib/Tool.APP/inside.mp4", 5, false, false},
        {"lib/Kit.framework/inside.mov", 5, false, false},
        {"lib/Family.photoslibrary/originals/o.mov", 5, false, true},
        {"lib/Family.photoslibrary/originals/2024/o2.mov", 5, false, true},
        {"lib/Family.photoslibrary/resources/r.mov", 5, false, false},
        {"lib/Family.photoslibrary/top.mov", 5, false, true},
        {"lib/Old.photolibrary/Masters/m.mov", 5, false, true},
        {"lib/Cut.fcpbundle/render.mov", 5, false, true},
        {"lib/b/orig.mkv", 300, true, true},
    };
    for (const Row &r : rows)
        fx.file(r.path, r.size);
    fx.symlink(elsewhere, "lib/folderlink");
    fx.symlink(fx.at("outside/linked.mp4"), "lib/a/filelink.mp4");

    for (bool photos : {false, true}) {
        const auto events = scanFolder(fx.at("lib"), photos);
        const QStringList ids = idsOf(events);
        QStringList expected;
        for (const Row &r : rows)
            if (photos ? r.withPhotos : r.withoutPhotos)
                expected << fx.at(r.path);
        QStringList sortedIds = ids;
        sortedIds.sort();
        expected.sort();
        EXPECT_EQ(sortedIds, expected) << "photos " << photos;
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(describe(events.back()), QString("completed %1 []").arg(expected.size()));
        for (const VideoFile &v : videosOf(events)) {
            if (v.name == "Shout.MP4" || v.name == "upper.MOV") {
                EXPECT_EQ(v.fileExtension, v.name.section('.', -1));
            }
            if (v.name == "long.ts") {
                EXPECT_EQ(v.fileSize, 1048576);
                EXPECT_EQ(v.directoryPath, fx.at("lib/a"));
                EXPECT_EQ(v.url(), QUrl::fromLocalFile(fx.at("lib/a/long.ts")));
            }
        }
    }
}

TEST(VideoScanner, OneFileReachedTwiceIsListedOnce)
{
    Fixture fx;
    fx.file("lib/b/orig.mkv", 300);
    fx.hardlink("lib/b/orig.mkv", "lib/b/second-name.mkv");
    fx.hardlink("lib/b/orig.mkv", "lib/c-other-folder.mkv");
    fx.file("lib/b/same-size-other-file.mkv", 300);
    const QStringList ids = idsOf(scanFolder(fx.at("lib")));
    EXPECT_EQ(ids.size(), 2) << ids.join(" ").toStdString();
    EXPECT_TRUE(ids.contains(fx.at("lib/b/same-size-other-file.mkv")));

    // Overlapping roots of one scan: the whole-computer scope adds a volume that holds home.
    fx.file("home/me/Videos/v.mp4");
    fx.file("home/me/Videos/w.mp4");
    ScanEnvironment env = homeWithAVolumeOverIt(fx);
    const auto events = runScan(ScanScope::entireMacDeep(), false, env);
    const QStringList wholeIds = idsOf(events);
    // Home first; the volume's walk then adds only what home did not already list.
    ASSERT_EQ(wholeIds.size(), 4);
    EXPECT_TRUE(wholeIds[0].startsWith(fx.at("home/me/Videos/")));
    EXPECT_TRUE(wholeIds[1].startsWith(fx.at("home/me/Videos/")));
    EXPECT_TRUE(wholeIds[2].startsWith(fx.at("lib/")));
    EXPECT_EQ(describe(events.back()), "completed 4 []");
    // And a root reached through a symbolic link to a folder already scanned.
    fx.symlink(fx.at("home/me/Videos"), "home/me/Library/CloudStorage");
    env.volumes = nullptr;
    const auto viaLink = runScan(ScanScope::homeDirectory(), false, env);
    EXPECT_EQ(idsOf(viaLink).size(), 2);
}

// Thousands of files, many reached twice (a second root over the same folders, second names
// of one file): the sets that remember what was met grow many times over and still list each
// file once.
TEST(VideoScanner, ThousandsOfFilesReachedTwiceAreEachListedOnce)
{
    Fixture fx;
    QStringList expected;
    for (int f = 0; f < 60; ++f)
        for (int i = 0; i < 50; ++i) {
            const QString rel = QString("home/me/Videos/f%1/clip %2.mp4").arg(f).arg(i);
            fx.file(rel, 10);
            expected << fx.at(rel);
        }
    // Every seventh file has a second name in another folder: one file, listed once.
    fx.folder("home/me/Videos/second");
    for (int k = 0; k < expected.size(); k += 7)
        fx.hardlink(expected[k].mid(fx.root().size() + 1), QString("home/me/Videos/second/copy%1.mp4").arg(k));
    ScanEnvironment env = homeWithAVolumeOverIt(fx);
    const auto events = runScan(ScanScope::entireMacDeep(), false, env);
    QStringList ids = idsOf(events);
    QStringList listed = ids;
    listed.removeDuplicates();
    EXPECT_EQ(listed.size(), ids.size()) << "a file was listed twice";
    // Of each hard-linked file exactly one of its names is listed.
    const QStringList made = expected;
    ids.sort();
    expected.sort();
    QStringList missing;
    for (const QString &path : std::as_const(expected))
        if (!std::binary_search(ids.cbegin(), ids.cend(), path))
            missing << path;
    EXPECT_EQ(ids.size(), expected.size());
    for (const QString &path : std::as_const(missing)) {
        const QString k = QString::number(made.indexOf(path));
        EXPECT_TRUE(ids.contains(fx.at("home/me/Videos/second/copy" + k + ".mp4"))) << path.toStdString();
    }
    EXPECT_EQ(describe(events.back()), QString("completed %1 []").arg(expected.size()));
}

TEST(VideoScanner, FortyOneVideosArriveAsFortyThenOne)
{
    Fixture fx;
    for (int i = 0; i < 41; ++i)
        fx.file(QString("lib/v%1.mp4").arg(i));
    const auto events = scanFolder(fx.at("lib"));
    EXPECT_EQ(describeAll(events),
              QStringList({"batch 40 " + fx.at("lib"), "batch 1 nil", "completed 41 []"}));
}

TEST(VideoScanner, HomeScanOrderAndWhatItEnters)
{
    Fixture fx;
    const char *files[] = {
        "home/me/Desktop/d.mp4", "home/me/Videos/m.mp4", "home/me/Pictures/p.mp4", "home/me/Documents/doc.mp4",
        "home/me/Downloads/dl.mp4", "home/me/Alpha/a.mp4", "home/me/Zeta/z.mp4",
        "home/me/Library/Mobile Documents/com~apple~CloudDocs/icloud.mp4", "home/me/Library/CloudStorage/cs.mp4",
        "home/me/Library/Other/hidden-in-library.mp4", "home/me/.config/dot.mp4",
        "home/other/Videos/theirs.mp4", "home/Shared/Videos/shared.mp4", "home/Shared/Alpha/shared-a.mp4",
    };
    for (const char *f : files)
        fx.file(f);
    fx.file("home/me/loose.mov");
    fx.file("home/me/loose.txt");
    fx.file("home/users-loose.mkv");
    fx.symlink(fx.at("home/other/Videos"), "home/me/LinkToOther");

    ScanEnvironment env;
    env.usersFolder = fx.at("home");
    env.homeFolder = fx.at("home/me");
    env.preferredHomeFolders = {"Videos", "Desktop", "Documents", "Downloads", "Pictures"};
    const auto events = runScan(ScanScope::homeDirectory(), false, env);

    QStringList names;
    for (const VideoFile &v : videosOf(events))
        names << v.name;
    EXPECT_EQ(names, QStringList({"loose.mov", "users-loose.mkv", "m.mp4", "d.mp4", "doc.mp4", "dl.mp4", "p.mp4",
                                  "a.mp4", "z.mp4", "icloud.mp4", "cs.mp4", "shared.mp4", "shared-a.mp4"}));
    // Loose videos come one at a time with their folder, outside the count.
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(describe(events[0]), "batch 1 " + fx.at("home/me"));
    EXPECT_EQ(describe(events[1]), "batch 1 " + fx.at("home"));
    EXPECT_EQ(describe(events.back()), "completed 11 []");
}

TEST(VideoScanner, HomeOutsideTheUsersFolderIsEnteredFirst)
{
    Fixture fx;
    fx.file("root-home/Videos/mine.mp4");
    fx.file("home/Shared/Videos/shared.mp4");
    fx.file("home/root-home/Videos/not-mine.mp4"); // same name, another folder
    ScanEnvironment env;
    env.usersFolder = fx.at("home");
    env.homeFolder = fx.at("root-home");
    env.preferredHomeFolders = {"Videos"};
    QStringList names;
    for (const VideoFile &v : videosOf(runScan(ScanScope::homeDirectory(), false, env)))
        names << v.name;
    EXPECT_EQ(names, QStringList({"mine.mp4", "shared.mp4"}));

    // Without a users folder the home is still scanned, and the folder is reported.
    env.usersFolder = fx.at("no-such-users");
    const auto events = runScan(ScanScope::homeDirectory(), false, env);
    EXPECT_EQ(describeAll(events), QStringList({"denied no-such-users " + fx.at("no-such-users"), "batch 1 nil",
                                                "completed 1 []"}));
}

TEST(VideoScanner, CancellingStopsTheWalkWithoutCompleted)
{
    Fixture fx;
    for (int i = 0; i < 45; ++i)
        fx.file(QString("home/me/Videos/v%1.mp4").arg(i));
    fx.file("home/me/Desktop/d.mp4");
    ScanEnvironment env;
    env.usersFolder = fx.at("home");
    env.homeFolder = fx.at("home/me");
    env.preferredHomeFolders = {"Videos", "Desktop"};

    // Cancelled while the first root is walked: the walk stops at the next item, the next
    // root and `completed` never come.
    const auto events = runScan(ScanScope::homeDirectory(), false, env,
                                [](const ScanEvent &, std::stop_source &stop) { stop.request_stop(); });
    EXPECT_EQ(describeAll(events), QStringList({"batch 40 " + fx.at("home/me/Videos")}));

    // Cancelled before any root: nothing at all.
    std::stop_source stop;
    stop.request_stop();
    int seen = 0;
    VideoScanner::run(ScanScope::homeDirectory(), false, env, [&](const ScanEvent &) { ++seen; }, stop.get_token());
    EXPECT_EQ(seen, 0);
}

namespace {

// Runs `body` as an unprivileged user so permission bits really apply: root reads any
// folder whatever its mode. Returns the lines `body` produced.
QStringList runWithoutPrivileges(const std::function<QStringList()> &body)
{
    if (::geteuid() != 0)
        return body();
    int fds[2];
    if (::pipe(fds) != 0)
        return {"pipe failed"};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const gid_t nogroup = 65534;
        if (::setgroups(1, &nogroup) != 0 || ::setresgid(65534, 65534, 65534) != 0
            || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(3);
        const QByteArray out = body().join("\n").toUtf8();
        const bool ok = ::write(fds[1], out.constData(), size_t(out.size())) == out.size();
        ::_exit(ok ? 0 : 4);
    }
    ::close(fds[1]);
    QByteArray out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {QString("child failed with status %1").arg(status)};
    return QString::fromUtf8(out).split('\n');
}

} // namespace

TEST(VideoScanner, UnreadableFoldersAreReportedAndTheWalkGoesOn)
{
    Fixture fx;
    // The unprivileged user must be able to reach the fixture.
    QFile::setPermissions(fx.root(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                         | QFileDevice::ReadOther | QFileDevice::ExeOther);
    fx.file("Locked/v.mp4");
    fx.file("Open/ok.mp4");
    fx.file("Open/Secret/s.mp4");
    fx.file("home/me/Videos/hidden.mp4");
    fx.file("home/me/Desktop/d.mp4");
    for (const char *d : {"Open", "Open/Secret", "Locked", "home", "home/me", "home/me/Videos", "home/me/Desktop"})
        ::chmod(QFile::encodeName(fx.at(d)).constData(), 0755);
    ::chmod(QFile::encodeName(fx.at("Open/ok.mp4")).constData(), 0644);
    ::chmod(QFile::encodeName(fx.at("home/me/Desktop/d.mp4")).constData(), 0644);
    for (const char *d : {"Locked", "Open/Secret", "home/me/Videos"})
        ::chmod(QFile::encodeName(fx.at(d)).constData(), 0);

    const QStringList lines = runWithoutPrivileges([&] {
        QStringList out;
        out << describeAll(scanFolder(fx.at("Locked"))) << "--";
        out << describeAll(scanFolder(fx.at("Open"))) << "--";
        ScanEnvironment env;
        env.usersFolder = fx.at("home");
        env.homeFolder = fx.at("home/me");
        env.preferredHomeFolders = {"Videos", "Desktop"};
        out << describeAll(runScan(ScanScope::homeDirectory(), false, env));
        return out;
    });
    EXPECT_EQ(lines, QStringList({
                         "denied Locked " + fx.at("Locked"),
                         "completed 0 [" + fx.at("Locked") + "]",
                         "--",
                         "denied Secret " + fx.at("Open/Secret"),
                         "batch 1 nil",
                         "completed 1 []",
                         "--",
                         "denied Videos " + fx.at("home/me/Videos"),
                         "batch 1 nil",
                         "completed 1 [" + fx.at("home/me/Videos") + "]",
                     }));
    for (const char *d : {"Locked", "Open/Secret", "home/me/Videos"})
        ::chmod(QFile::encodeName(fx.at(d)).constData(), 0755);
}

TEST(VideoScanner, AsynchronousScanDeliversInOrderOnTheContextThread)
{
    Fixture fx;
    for (int i = 0; i < 95; ++i)
        fx.file(QString("lib/d%1/v%2.mp4").arg(i % 3).arg(i));
    const ScanScope scope = ScanScope::customFolder(QUrl::fromLocalFile(fx.at("lib")));
    const QStringList expected = describeAll(scanFolder(fx.at("lib")));

    VideoScanner scanner;
    QObject context;
    QStringList got;
    bool finished = false;
    bool offThread = false;
    ScanJob job = scanner.scan(
        scope, false, &context,
        [&](const ScanEvent &e) {
            offThread = offThread || QThread::currentThread() != context.thread();
            got << describe(e);
        },
        [&] { finished = true; });
    QElapsedTimer timer;
    timer.start();
    while (!finished && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(job.waitForFinished(20000));
    EXPECT_FALSE(offThread);
    EXPECT_EQ(got, expected);

    const ScanJob second = scanner.scan(scope, false, &context, [](const ScanEvent &) {});
    EXPECT_GT(second.generation(), job.generation());
    EXPECT_TRUE(second.waitForFinished(20000));
}

TEST(VideoScanner, NothingReachesTheConsumerAfterCancelOrWhenItsContextIsGone)
{
    Fixture fx;
    for (int i = 0; i < 45; ++i)
        fx.file(QString("lib/v%1.mp4").arg(i));
    const ScanScope scope = ScanScope::customFolder(QUrl::fromLocalFile(fx.at("lib")));
    VideoScanner scanner;

    // The worker has queued every event; none is applied once the job is cancelled.
    QObject context;
    int delivered = 0;
    bool finished = false;
    ScanJob job = scanner.scan(
        scope, false, &context, [&](const ScanEvent &) { ++delivered; }, [&] { finished = true; });
    ASSERT_TRUE(job.waitForFinished(20000));
    job.cancel();
    EXPECT_TRUE(job.isCancelled());
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(delivered, 0);
    EXPECT_FALSE(finished);

    // The consumer's context is destroyed with events still queued for it.
    auto *gone = new QObject;
    int late = 0;
    ScanJob other = scanner.scan(scope, false, gone, [&](const ScanEvent &) { ++late; });
    ASSERT_TRUE(other.waitForFinished(20000));
    delete gone;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(late, 0);
}

TEST(VideoScanner, MountedVolumesLeaveOutTheSystemsOwnMounts)
{
    for (const ScanScope &scope : VideoScanner::mountedVolumes()) {
        ASSERT_EQ(scope.kind, ScanScope::Kind::volume);
        const QString path = scope.url.toLocalFile();
        EXPECT_FALSE(scope.name.isEmpty());
        EXPECT_NE(path, "/");
        for (const char *prefix : {"/proc", "/sys", "/dev", "/boot", "/snap", "/var"})
            EXPECT_FALSE(path == prefix || path.startsWith(QString(prefix) + "/")) << path.toStdString();
        EXPECT_TRUE(!path.startsWith("/run/") || path.startsWith("/run/media/")) << path.toStdString();
        EXPECT_TRUE(QFileInfo(path).isDir()) << path.toStdString();
    }
}

TEST(VideoScanner, PreferredHomeFoldersFollowTheXdgNames)
{
    // The test main points HOME at the sandbox; a localised videos folder is named there.
    const QString home = QDir::homePath();
    QFile dirs(qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs");
    QDir().mkpath(QFileInfo(dirs).absolutePath());
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_VIDEOS_DIR=\"$HOME/Filme\"\nXDG_DESKTOP_DIR=\"$HOME\"\n");
    dirs.close();
    const QStringList names = VideoScanner::preferredHomeFolders();
    dirs.remove();
    ASSERT_EQ(names.size(), 5);
    EXPECT_EQ(names[0], "Filme");
    EXPECT_EQ(names[1], "Desktop"); // a folder mapped to home itself keeps its usual name
    Q_UNUSED(home);
}

namespace {

// A chain of `depth` folders named "d" below `root`, made one level at a time with
// mkdirat/openat: the whole path is far longer than the system accepts. `atLevel` may
// add entries to the folder of each level (1 is the first "d").
void makeChain(const QString &root, int depth, const std::function<void(int level, int fd)> &atLevel)
{
    int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int level = 1; level <= depth; ++level) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0) << level;
        const int sub = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_GE(sub, 0) << level;
        fd = sub;
        atLevel(level, fd);
    }
    ::close(fd);
}

void writeAt(int fd, const char *name, int size = 100)
{
    const int f = ::openat(fd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(f, 0) << name;
    const std::string bytes(size_t(size), 'x');
    ASSERT_EQ(::write(f, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(f);
}

// Removes a chain made by makeChain in one pass: each level's "d" is moved up into the
// root in place of its emptied parent, so no long path is ever needed.
void removeChain(const QString &root)
{
    const int rootFd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(rootFd, 0);
    for (;;) {
        const int fd = ::openat(rootFd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            break;
        DIR *dir = ::fdopendir(fd);
        std::vector<std::string> files;
        std::vector<std::string> folders;
        while (const dirent *e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == ".." || name == "d")
                continue;
            (e->d_type == DT_DIR ? folders : files).push_back(name);
        }
        for (const std::string &f : files)
            ::unlinkat(::dirfd(dir), f.c_str(), 0);
        for (const std::string &f : folders) { // one level of leaves at most
            const int sub = ::openat(::dirfd(dir), f.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            DIR *inner = ::fdopendir(sub);
            while (const dirent *e = ::readdir(inner))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                    ::unlinkat(::dirfd(inner), e->d_name, 0);
            ::closedir(inner);
            ::unlinkat(::dirfd(dir), f.c_str(), AT_REMOVEDIR);
        }
        const bool more = ::renameat(::dirfd(dir), "d", rootFd, "next") == 0;
        ::closedir(dir);
        ASSERT_EQ(::unlinkat(rootFd, "d", AT_REMOVEDIR), 0);
        if (!more)
            break;
        ASSERT_EQ(::renameat(rootFd, "next", rootFd, "d"), 0);
    }
    ::close(rootFd);
}

// Runs `body` in a child process whose open-file limit is `limit` (the lowest free
// descriptor plus `spare` when `limit` is 0). Returns the lines `body` produced.
QStringList runWithFileLimit(rlim_t limit, int spare, const std::function<QStringList()> &body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {"pipe failed"};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (limit == 0) {
            const int lowest = ::dup(0);
            ::close(lowest);
            limit = rlim_t(lowest + spare);
        }
        const struct rlimit rl{limit, limit};
        if (::setrlimit(RLIMIT_NOFILE, &rl) != 0)
            ::_exit(3);
        const QByteArray out = body().join("\n").toUtf8();
        const bool ok = ::write(fds[1], out.constData(), size_t(out.size())) == out.size();
        ::_exit(ok ? 0 : 4);
    }
    ::close(fds[1]);
    QByteArray out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {QString("child failed with status %1").arg(status)};
    return QString::fromUtf8(out).split('\n');
}

} // namespace

// A tree far deeper than a recursive walk's stack or the open-file limit allows: every
// video in it is listed, also when a folder must be left and entered again to finish it.
TEST(VideoScanner, DeepTreesAreWalkedWithinTheStackAndTheOpenFileLimit)
{
    Fixture fx;
    constexpr int depth = 10000;
    makeChain(fx.root(), depth, [](int level, int fd) {
        if (level == 100)
            writeAt(fd, "v100.mp4");
        if (level == 3000) { // a second subfolder: one of the two is reached after the other's depths
            ASSERT_EQ(::mkdirat(fd, "e", 0755), 0);
            const int e = ::openat(fd, "e", O_RDONLY | O_DIRECTORY);
            writeAt(e, "side.mkv");
            ::close(e);
            writeAt(fd, "v3000.mp4");
        }
        if (level == depth)
            writeAt(fd, "deep.mp4");
    });
    const QStringList expected{"d*100/v100.mp4", "d*10000/deep.mp4", "d*3000/e/side.mkv", "d*3000/v3000.mp4"};
    // Ids relative to the root, each run of "d" folders written as its count.
    auto sortedIds = [&] {
        QStringList ids;
        for (const QString &id : idsOf(scanFolder(fx.root()))) {
            QString rest = id.mid(fx.root().size() + 1);
            int n = 0;
            while (rest.startsWith("d/")) {
                rest.remove(0, 2);
                ++n;
            }
            ids << QString("d*%1/%2").arg(n).arg(rest);
        }
        ids.sort();
        return ids;
    };
    EXPECT_EQ(sortedIds(), expected);
    // The usual desktop limit and one far below it.
    for (rlim_t limit : {rlim_t(1024), rlim_t(24)})
        EXPECT_EQ(runWithFileLimit(limit, 0, sortedIds), expected) << limit;
    removeChain(fx.root());
    EXPECT_TRUE(QDir(fx.root()).isEmpty());
}

// When not even one more folder can be opened, the folder left out is reported with the
// reason rather than silently missing.
TEST(VideoScanner, FolderThatCannotBeOpenedIsReportedWithTheReason)
{
    Fixture fx;
    fx.file("top.mp4");
    fx.file("Sub/inner.mp4");
    const QStringList lines = runWithFileLimit(0, 1, [&] {
        QStringList out = describeAll(scanFolder(fx.root()));
        // Whether the one batch names its folder depends on how long the walk took; not compared.
        for (QString &line : out)
            if (line.startsWith("batch "))
                line = line.section(' ', 0, 1);
        return out;
    });
    EXPECT_EQ(lines, QStringList({"unreadable Sub " + fx.at("Sub") + " (Too many open files)", "batch 1",
                                  "completed 1 []"}));
}

// Names that are not UTF-8 keep their exact bytes: two that differ only there are two
// videos, and each id leads back to its own file.
TEST(VideoScanner, NamesThatAreNotUtf8KeepTheirBytes)
{
    Fixture fx;
    const QByteArray folder = QFile::encodeName(fx.root());
    const QList<QByteArray> names{"dup\xff.mp4", "dup\xfe.mp4", "caf\xc3\xa9.mp4", "\xf0\x90\x82\x80.mp4",
                                  "bad\xed\xa0\x80.mp4", "cut\xe2\x82.mp4"};
    for (const QByteArray &name : names) {
        const int fd = ::open((folder + "/" + name).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "12345", 5), 5);
        ::close(fd);
    }
    QList<QByteArray> found;
    for (const VideoFile &v : videosOf(scanFolder(fx.root()))) {
        const QByteArray native = FileNames::encode(v.id);
        EXPECT_TRUE(native.startsWith(folder + "/"));
        found << native.mid(folder.size() + 1);
        EXPECT_EQ(FileNames::encode(v.name), found.last());
        EXPECT_EQ(FileNames::decode(found.last()), v.name);
        struct stat st {};
        EXPECT_EQ(::stat(native.constData(), &st), 0);
        EXPECT_EQ(FileNames::hasRawBytes(v.id), !QString::fromUtf8(found.last()).toUtf8().startsWith(found.last()))
            << found.last().toHex().toStdString();
    }
    for (const QByteArray &name : names) // beyond what QDir can remove
        ::unlink((folder + "/" + name).constData());
    std::sort(found.begin(), found.end());
    QList<QByteArray> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    EXPECT_EQ(FileNames::display(FileNames::decode(QByteArray("dup\xff.mp4"))), QString::fromUtf8("dup\xef\xbf\xbd.mp4"));
}
