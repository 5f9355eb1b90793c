// Odd file names in a scanned tree, in the real main window (run it under Xvfb). A home holds
// small real clips under names a shell or a command line would trip over (a line break, bytes
// that are not UTF-8, quotes, a leading dash, 255-byte names, 200 levels down) beside things
// named like videos that are no videos to read (a FIFO, a socket, symbolic links and their
// loops, a hidden file, an empty file). The window scans it; each listed video is then
// selected in the window and read every way the program reads videos: media facts, a
// thumbnail, keyframes (in process and through the programs), a trim saved as a new file,
// and a compression, each under a time limit so a hang is counted, not waited for.
// ffmpeg and ffprobe are run through wrappers that keep every argument list: a path there
// must be absolute or start with "file:" or "./", so no name can pass for an option.
#include "editing/BatchCompressionService.h"
#include "editing/VideoTrimExportService.h"
#include "library/AppState.h"
#include "library/FileNames.h"
#include "media/ExternalTools.h"
#include "media/MediaMetadataService.h"
#include "search/KeyframeExtraction.h"
#include "search/SpeechAudio.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"

#include "SoakReport.h"
#include "SoakWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Bytes = std::string;

enum class Expect { listed, skipped };

struct Entry {
    Bytes path;       // below the tree's root
    Expect expect;
    const char *rule; // why it is skipped, or what kind of odd name it is
};

bool writeAll(const Bytes &path, const QByteArray &data)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    ::close(fd);
    return ok;
}

bool makeDirs(const Bytes &path)
{
    size_t at = 1;
    while (at != Bytes::npos) {
        at = path.find('/', at + 1);
        const Bytes part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

bool makeClip(const QString &path, const QStringList &codec)
{
    QStringList args{"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=15:duration=2",
                     "-f", "lavfi", "-i", "sine=frequency=440:duration=2"};
    args << codec << "-shortest" << "file:" + path;
    return QProcess::execute("/usr/bin/ffmpeg", args) == 0;
}

// Builds the tree below `root` and returns what it holds; empty on failure.
std::vector<Entry> buildTree(const Bytes &root, const QByteArray &mp4, const QByteArray &mkv, int &socketFd)
{
    const Bytes wide(251, 'w');
    Bytes accented;
    for (int i = 0; i < 125; ++i)
        accented += "\xc3\xa9"; // é, two bytes
    Bytes deep;
    for (int i = 0; i < 200; ++i)
        deep += "level/";

    std::vector<Entry> entries{
        {"new\nline.mp4", Expect::listed, "line break"},
        {"bad\xff\xfe.mp4", Expect::listed, "not UTF-8"},
        {"bad\xfe\xff.mp4", Expect::listed, "not UTF-8, same length"},
        {"it's.mp4", Expect::listed, "single quote"},
        {"say \"hi\".mp4", Expect::listed, "double quotes"},
        {"-i.mp4", Expect::listed, "leading dash"},
        {"--help.mkv", Expect::listed, "leading dashes"},
        {"-y.mov", Expect::listed, "leading dash"},
        {"$(touch pwned).mp4", Expect::listed, "shell substitution"},
        {"concat:a.mp4|b.mp4", Expect::listed, "protocol prefix and pipe"},
        {"concat:a.mp4", Expect::listed, "protocol prefix"},
        {"pipe:0.mp4", Expect::listed, "protocol prefix"},
        {"clip%03d.mp4", Expect::listed, "pattern"},
        {"tab\there  two spaces.mp4", Expect::listed, "white space"},
        {"back\\slash.mkv", Expect::listed, "backslash"},
        {wide + ".mp4", Expect::listed, "255 bytes"},
        {accented + "x.mp4", Expect::listed, "255 bytes of UTF-8"},
        {"--/-/clip.mp4", Expect::listed, "dash folders"},
        {"folder.mp4/inner.mp4", Expect::listed, "folder named like a video"},
        {deep + "deep.mp4", Expect::listed, "200 levels down"},
        {"swapped.mp4", Expect::listed, "a FIFO after the scan"},
        {".hidden.mp4", Expect::skipped, "hidden"},
        {"empty.mp4", Expect::skipped, "empty"},
        {"small.ts", Expect::skipped, "transport stream under 1 MiB"},
        {"notes.txt", Expect::skipped, "not a video extension"},
        {"link.mp4", Expect::skipped, "symbolic link"},
        {"loopA.mp4", Expect::skipped, "symbolic link loop"},
        {"loopB.mp4", Expect::skipped, "symbolic link loop"},
        {"dangling.mp4", Expect::skipped, "dangling symbolic link"},
        {"loopdir", Expect::skipped, "symbolic link to its own folder"},
        {"fifo.mp4", Expect::skipped, "FIFO"},
        {"sock/x.mp4", Expect::skipped, "socket"},
    };
    for (const Entry &e : entries) {
        const Bytes path = root + "/" + e.path;
        const size_t slash = path.rfind('/');
        if (!makeDirs(path.substr(0, slash)))
            return {};
        const Bytes name = e.path.substr(e.path.rfind('/') == Bytes::npos ? 0 : e.path.rfind('/') + 1);
        bool ok = true;
        if (name == "link.mp4")
            ok = ::symlink("it's.mp4", path.c_str()) == 0;
        else if (name == "loopA.mp4")
            ok = ::symlink("loopB.mp4", path.c_str()) == 0;
        else if (name == "loopB.mp4")
            ok = ::symlink("loopA.mp4", path.c_str()) == 0;
        else if (name == "dangling.mp4")
            ok = ::symlink("nowhere.mp4", path.c_str()) == 0;
        else if (name == "loopdir")
            ok = ::symlink(".", path.c_str()) == 0;
        else if (name == "fifo.mp4")
            ok = ::mkfifo(path.c_str(), 0644) == 0;
        else if (name == "x.mp4") {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            ok = path.size() < sizeof address.sun_path;
            if (ok) {
                std::copy(path.begin(), path.end(), address.sun_path);
                socketFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                ok = socketFd >= 0 && ::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                     ::listen(socketFd, 1) == 0;
            }
        } else if (name == "empty.mp4")
            ok = writeAll(path, {});
        else if (name == "small.ts" || name == "notes.txt")
            ok = writeAll(path, "not a video");
        else
            ok = writeAll(path, name.size() > 4 && name.substr(name.size() - 4) == ".mkv" ? mkv : mp4);
        if (!ok) {
            std::fprintf(stderr, "could not make %s\n", e.path.c_str());
            return {};
        }
    }
    return entries;
}

// ffmpeg and ffprobe wrappers that keep each argument list (NUL-separated) in `logDir`.
QString makeWrapper(const QString &binDir, const QString &name, const QString &logDir)
{
    const QString path = binDir + "/" + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(QString("#!/bin/sh\nf=$(mktemp '%1/%2.XXXXXXXX') && printf '%s\\0' \"$@\" >\"$f\"\nexec /usr/bin/%2 \"$@\"\n")
                .arg(logDir, name)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

struct ArgumentCheck {
    long runs = 0;
    long pathArguments = 0;
    long optionLike = 0; // a path that is neither absolute nor "file:" / "./"
    long missing = 0;    // a path whose bytes name nothing on disk
    std::vector<Bytes> examples;
};

ArgumentCheck checkArguments(const QString &logDir, const Bytes &root)
{
    ArgumentCheck check;
    for (const QString &name : QDir(logDir).entryList(QDir::Files)) {
        QFile f(logDir + "/" + name);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = f.readAll();
        std::vector<Bytes> args;
        for (const QByteArray &a : data.split('\0'))
            args.emplace_back(a.constData(), size_t(a.size()));
        if (!args.empty() && args.back().empty())
            args.pop_back();
        ++check.runs;
        const bool probe = name.startsWith("ffprobe");
        for (size_t i = 0; i < args.size(); ++i) {
            const Bytes &a = args[i];
            const bool input = (i > 0 && args[i - 1] == "-i") || (probe && i + 1 == args.size());
            const bool output = !probe && i + 1 == args.size();
            const bool mentionsTree = a.find(root) != Bytes::npos;
            if (!input && !output && !mentionsTree)
                continue;
            if (a.rfind("pipe:", 0) == 0 && !mentionsTree)
                continue;
            ++check.pathArguments;
            const bool safe = a.rfind("/", 0) == 0 || a.rfind("file:", 0) == 0 || a.rfind("./", 0) == 0;
            if (!safe) {
                ++check.optionLike;
                check.examples.push_back(a);
                continue;
            }
            if (input) {
                const Bytes path = a.rfind("file:", 0) == 0 ? a.substr(5) : a;
                struct stat st{};
                if (::lstat(path.c_str(), &st) != 0) {
                    ++check.missing;
                    check.examples.push_back("missing: " + a);
                }
            }
        }
    }
    return check;
}

// Runs `work` on a thread of its own; false when it did not end within `seconds` (the
// thread is left behind: a hang is counted, not waited for).
bool runWithin(double seconds, std::function<bool()> work, bool &result)
{
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> future = done->get_future();
    std::thread([done, work = std::move(work)] { done->set_value(work()); }).detach();
    // The GUI thread keeps serving events (queued results, repaints) while it waits.
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (future.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        if (std::chrono::steady_clock::now() > until)
            return false;
    }
    result = future.get();
    return true;
}

// Removes a tree by its bytes: Qt's own removal skips names it cannot decode.
void removeTree(const QString &folder)
{
    ::nftw(QFile::encodeName(folder).constData(),
           [](const char *path, const struct stat *, int, struct FTW *) { return ::remove(path) == 0 ? 0 : 0; }, 64,
           FTW_DEPTH | FTW_PHYS);
}

} // namespace

int main(int argc, char **argv)
{
    SoakReport report;
    report.check = "odd_names";
    QTemporaryDir sandbox(QDir::tempPath() + "/lumenkite-soak-odd-XXXXXX");
    const QString home = soak::sandboxHome(sandbox.path());
    QApplication qapp(argc, argv);
    soak::actAsTheProgram();

    // Two real clips, copied under every regular name.
    const QString clips = sandbox.path() + "/clips";
    QDir().mkpath(clips);
    if (!makeClip(clips + "/a.mp4", {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"}) ||
        !makeClip(clips + "/a.mkv", {"-c:v", "mpeg4", "-c:a", "libvorbis"})) {
        report.figures = "could not make the clips";
        report.print();
        return 1;
    }
    QFile mp4File(clips + "/a.mp4"), mkvFile(clips + "/a.mkv");
    mp4File.open(QIODevice::ReadOnly);
    mkvFile.open(QIODevice::ReadOnly);
    const QByteArray mp4 = mp4File.readAll(), mkv = mkvFile.readAll();

    const Bytes root = QFile::encodeName(home).toStdString() + "/Videos/odd";
    int socketFd = -1;
    const std::vector<Entry> entries = buildTree(root, mp4, mkv, socketFd);
    if (entries.empty()) {
        report.figures = "could not build the tree";
        report.print();
        return 1;
    }
    report.inputs = long(entries.size());

    // Anyone opening a FIFO for reading is seen: a non-blocking open for writing then works.
    // The second one takes the place of a listed video once the scan is over.
    std::atomic<bool> watching{true};
    std::atomic<long> fifoOpened{0};
    std::atomic<const char *> currentOperation{"scan"};
    std::mutex openedByLock;
    std::set<std::string> openedBy; // the operations during which a FIFO was opened
    const Bytes fifo = root + "/fifo.mp4", swapped = root + "/swapped.mp4";
    std::thread watcher([&] {
        while (watching) {
            for (const Bytes *path : {&fifo, &swapped}) {
                const int fd = ::open(path->c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                struct stat st{};
                const bool isFifo = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
                if (fd >= 0 && !isFifo)
                    ::close(fd); // the clip before it is swapped
                if (isFifo) {
                    ++fifoOpened;
                    std::lock_guard lock(openedByLock);
                    openedBy.insert(currentOperation.load());
                    ::close(fd); // the reader sees the end of the file and goes on
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    const QString bin = sandbox.path() + "/bin", log = sandbox.path() + "/arguments";
    QDir().mkpath(bin);
    QDir().mkpath(log);
    const QString ffmpeg = makeWrapper(bin, "ffmpeg", log), ffprobe = makeWrapper(bin, "ffprobe", log);

    // The window scans the home folder; the GUI thread's stalls are measured throughout.
    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    parts.inspector = makeInspectorPane;
    auto *app = new LumenkiteApp(parts);
    AppState *state = app->state();
    QElapsedTimer sinceTick, clock;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
    const bool scanDone = soak::showAndWaitForFirstScan(app, 50, 120'000, [&] {
        clock.start();
        sinceTick.start();
        ticker.start();
    });

    // What was listed against what the tree holds.
    std::set<Bytes> listedPaths;
    for (const VideoFile &v : state->allVideos())
        listedPaths.insert(FileNames::encode(v.id).toStdString());
    long listed = 0, skipped = 0, wrong = 0;
    std::map<std::string, long> skippedBy;
    for (const Entry &e : entries) {
        const bool isListed = listedPaths.count(root + "/" + e.path) > 0;
        if (isListed)
            ++listed;
        else {
            ++skipped;
            ++skippedBy[e.rule];
        }
        if (isListed != (e.expect == Expect::listed)) {
            ++wrong;
            std::printf("WRONG: %s (%s) %s\n", FileNames::display(FileNames::decode(e.path)).toUtf8().constData(),
                        e.rule, isListed ? "listed" : "not listed");
        }
    }
    long strays = 0;
    for (const Bytes &p : listedPaths)
        if (p.rfind(root + "/", 0) != 0)
            ++strays;

    // The listed clip becomes a FIFO: every reader must refuse it without opening it.
    if (::unlink(swapped.c_str()) != 0 || ::mkfifo(swapped.c_str(), 0644) != 0) {
        report.figures = "could not swap in the FIFO";
        report.print();
        ::_exit(1);
    }

    // Every listed video, every way it is read. A read may fail with a clear reason (the FIFO,
    // a name the programs cannot be given, a result name too long): the failures are listed,
    // while a hang, a crash, a wrong listing or a name passed as an option fails the check.
    MediaMetadataService::Options serviceOptions;
    serviceOptions.ffmpegPath = ffmpeg;
    serviceOptions.ffprobePath = ffprobe;
    MediaMetadataService service(serviceOptions);
    keyframes::Sources sources;
    sources.ffmpeg = ffmpeg;
    TrimExportOptions trimOptions;
    trimOptions.ffmpegPath = ffmpeg;
    BatchCompressionOptions compressionOptions;
    compressionOptions.ffmpegPath = ffmpeg;

    struct Operation {
        const char *name;
        std::function<bool(const VideoFile &)> run;
        long ok = 0, failed = 0, hung = 0;
    };
    const QSizeF thumbSize(160, 90);
    std::vector<Operation> operations{
        {"facts", [&](const VideoFile &v) { return service.metadata(v.url()).result().duration.has_value(); }},
        // The program routes as the media service takes them: only for a regular file.
        {"ffprobe", [&](const VideoFile &v) {
             if (!FileNames::isRegularFile(v.url().toLocalFile()))
                 return false;
             const lkmedia::ToolRun run = lkmedia::runTool(ffprobe, lkmedia::ffprobeArguments(v.url().toLocalFile()), 20000);
             const auto info = lkmedia::parseFFprobeOutput(run.output);
             return run.completed() && run.exitCode == 0 && info && info->width;
         }},
        {"thumbnail", [&](const VideoFile &v) { return !service.thumbnail(v.url(), thumbSize).result().isNull(); }},
        {"ffmpeg thumbnail", [&](const VideoFile &v) {
             if (!FileNames::isRegularFile(v.url().toLocalFile()))
                 return false;
             const lkmedia::ToolRun run =
                 lkmedia::runTool(ffmpeg, lkmedia::ffmpegThumbnailArguments(v.url().toLocalFile(), thumbSize, true), 20000);
             return run.completed() && run.exitCode == 0 && !QImage::fromData(run.output).isNull();
         }},
        {"keyframes", [&](const VideoFile &v) { return !keyframes::keyframes(v, sources).isEmpty(); }},
        {"ffmpeg keyframes", [&](const VideoFile &v) {
             return !keyframes::extractWithFFmpeg(v.url().toLocalFile(), ffmpeg, 2.0, 20000).isEmpty();
         }},
        {"speech audio", [&](const VideoFile &v) {
             size_t samples = 0;
             const auto failure = SpeechAudio::decode(v.url().toLocalFile(), ffmpeg, [&](const int16_t *, size_t n) {
                 samples += n;
                 return true;
             });
             return !failure && samples > 0;
         }},
        {"trim", [&](const VideoFile &v) {
             bool completed = false;
             VideoTrimExportService::run(v, {VideoClipSegment::make(0.2, 1.6)}, TrimExportPreset::passthrough, TrimSaveMode::saveAsNew, {},
                                         [&](const TrimExportEvent &e) {
                                             if (e.kind == TrimExportEvent::Kind::completed)
                                                 completed = QFileInfo::exists(e.outputURL.toLocalFile());
                                             if (e.kind == TrimExportEvent::Kind::failed)
                                                 std::printf("  trim failed: %s\n", e.message.toUtf8().constData());
                                         }, {}, trimOptions);
             return completed;
         }},
        {"compression", [&](const VideoFile &v) {
             bool completed = false;
             BatchCompressionService::run({v}, CompressionPreset::h2641080p, false, CompressionSaveMode::saveAsNew,
                                          [&](const BatchCompressionEvent &e) {
                                              if (e.kind == BatchCompressionEvent::Kind::itemCompleted)
                                                  completed = true;
                                              if (e.kind == BatchCompressionEvent::Kind::itemFailed)
                                                  std::printf("  compression failed: %s\n",
                                                              e.message.toUtf8().constData());
                                          }, {}, compressionOptions);
             return completed;
         }},
    };

    const QList<VideoFile> videos = state->allVideos();
    long windowStalls = 0;
    for (const VideoFile &video : videos) {
        if (!FileNames::encode(video.id).startsWith(QByteArray::fromStdString(root)))
            continue;
        const QString shown = FileNames::display(video.name);
        std::printf("%s\n", shown.toUtf8().constData());
        // Selected in the window: the inspector and the player load it.
        longestStall = 0;
        sinceTick.restart();
        state->selectVideo(video);
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 1500)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (longestStall > 5000) {
            ++windowStalls;
            std::printf("  window stalled %lld ms\n", (long long)longestStall);
        }
        for (Operation &op : operations) {
            bool ok = false;
            currentOperation = op.name;
            if (!runWithin(120, [&op, video] { return op.run(video); }, ok)) {
                ++op.hung;
                std::printf("  %s: HUNG\n", op.name);
            } else if (ok)
                ++op.ok;
            else {
                ++op.failed;
                std::printf("  %s: failed\n", op.name);
            }
        }
    }
    state->clearSelection();
    QApplication::processEvents();

    watching = false;
    watcher.join();
    std::string openers;
    for (const std::string &name : openedBy)
        openers += (openers.empty() ? " (" : ", ") + name;
    if (!openers.empty())
        openers += ")";
    if (socketFd >= 0)
        ::close(socketFd);
    const ArgumentCheck args = checkArguments(log, root);
    for (const Bytes &example : args.examples)
        std::printf("argument: %s\n", FileNames::display(FileNames::decode(example)).toUtf8().constData());

    long hangs = windowStalls, failures = 0;
    QString perOperation;
    for (const Operation &op : operations) {
        hangs += op.hung;
        failures += op.failed;
        perOperation += QString(", %1 %2/%3").arg(op.name).arg(op.ok).arg(op.ok + op.failed + op.hung);
    }
    QString skippedText;
    for (const auto &[rule, n] : skippedBy)
        skippedText += QString("%1%2 %3").arg(skippedText.isEmpty() ? "" : "; ").arg(n).arg(rule.c_str());
    report.figures = QString("scan %1, listed %2, skipped %3 (%4), wrongly listed or left out %5, outside the tree %6, "
                             "hangs %7, FIFO opened %8, failed reads %9%10, tool runs %11, path arguments %12, "
                             "option-like %13, not found on disk %14")
                         .arg(scanDone ? "done" : "NOT DONE")
                         .arg(listed).arg(skipped).arg(skippedText).arg(wrong).arg(strays).arg(hangs)
                         .arg(QString::number(fifoOpened.load()) + QString::fromStdString(openers)).arg(failures).arg(perOperation).arg(args.runs)
                         .arg(args.pathArguments).arg(args.optionLike).arg(args.missing)
                         .toStdString();
    report.print();
    const bool sound = scanDone && wrong == 0 && strays == 0 && hangs == 0 && fifoOpened == 0 &&
                       args.optionLike == 0 && args.missing == 0;
    if (hangs > 0) // threads are still stuck inside a read: do not wait for them
        ::_exit(1);
    state->waitForCacheWrites();
    delete app;
    removeTree(sandbox.path());
    return sound ? report.status() : 1;
}
