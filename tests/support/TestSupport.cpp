#include "TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QMutex>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProcess>
#include <QThread>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lktest {

QString writeScript(const QString &path, const QString &body)
{
    const QString temp = path + ".part";
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(temp);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    const QByteArray text = ("#!/bin/sh\n" + body + "\n").toUtf8();
    const bool written = f.write(text) == text.size();
    f.close();
    if (!written || !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner) ||
        std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0)
        return {};
    return path;
}

bool writeSizedFile(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    if (size > 0) {
        // Write the last byte so the size is real without using the space.
        ok = ::ftruncate(fd, size - 1) == 0 && ::pwrite(fd, "x", 1, size - 1) == 1;
    }
    ::close(fd);
    return ok;
}

SmallDisk::SmallDisk(const QString &folder, const QString &size) : m_path(folder)
{
    QDir().mkpath(m_path);
    m_mounted = ::geteuid() == 0 &&
                runProgram(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", m_path}) == 0;
}

SmallDisk::~SmallDisk()
{
    if (m_mounted) runProgram(QStringLiteral("umount"), {"-l", m_path});
}

bool SmallDisk::fill()
{
    const int fd = ::open(QFile::encodeName(m_path + "/fill").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const QByteArray block(1 << 16, '\0');
    // Large pieces first, then small ones for the last partial block.
    for (const qsizetype piece : {block.size(), qsizetype(512), qsizetype(1)})
        while (::write(fd, block.constData(), size_t(piece)) > 0) {}
    ::close(fd);
    return true;
}

NullSoundServer::NullSoundServer()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString socket = QFile::decodeName(runtime) + QStringLiteral("/pulse/native");
    if (runtime.isEmpty() || QFileInfo::exists(socket)) {
        m_running = !runtime.isEmpty(); // another fixture of this program started it
        return;
    }
    const pid_t pid = ::fork();
    if (pid < 0)
        return;
    if (pid == 0) {
        // Ends with the test program, even when that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                 "-L", "module-null-sink", "-L", "module-native-protocol-unix", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    m_pid = pid;
    m_running = waitFor([&] {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            m_pid = 0; // ended: not installed, or it failed
            return true;
        }
        return QFileInfo::exists(socket);
    }, 10000) && m_pid != 0;
}

NullSoundServer::~NullSoundServer()
{
    if (m_pid <= 0)
        return;
    ::kill(pid_t(m_pid), SIGTERM);
    ::waitpid(pid_t(m_pid), nullptr, 0);
}

HeldFifo::HeldFifo(const QString &path, int watchdogSeconds) : m_path(QFile::encodeName(path))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_made = ::mkfifo(m_path.constData(), 0600) == 0;
    if (!m_made)
        return;
    m_watchdog = std::thread([this, watchdogSeconds] {
        std::unique_lock lock(m_mutex);
        if (m_stop.wait_for(lock, std::chrono::seconds(watchdogSeconds), [this] { return m_stopping; }))
            return;
        m_byWatchdog = true;
        while (!m_stopping && !release())
            m_stop.wait_for(lock, std::chrono::milliseconds(50));
    });
}

HeldFifo::~HeldFifo()
{
    if (!m_made)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stop.notify_all();
    m_watchdog.join();
    ::unlink(m_path.constData());
}

bool HeldFifo::release()
{
    const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK);
    if (fd < 0)
        return false; // no reader waiting yet
    ::close(fd);
    return true;
}

int runProgram(const QString &program, const QStringList &args, QString *output, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool makeClip(const QString &path, double seconds, int width, int height,
              const QStringList &videoArgs, bool withAudio)
{
    QStringList args{"-f", "lavfi", "-i",
                     QStringLiteral("testsrc2=size=%1x%2:rate=25:duration=%3")
                         .arg(width).arg(height).arg(QString::number(seconds))};
    if (withAudio)
        args << "-f" << "lavfi" << "-i"
             << QStringLiteral("sine=frequency=440:duration=%1").arg(QString::number(seconds));
    args << videoArgs;
    if (withAudio)
        args << "-shortest";
    return ffmpegOutput(path, args);
}

QList<ProbedFrame> probeFrames(const QString &path)
{
    QString out;
    if (runProgram("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                               "stream=start_time:frame=pts_time,key_frame", "-of", "json", path},
                   &out) != 0)
        return {};
    const QJsonObject doc = QJsonDocument::fromJson(out.toUtf8()).object();
    const QJsonArray streams = doc.value("streams").toArray();
    const double start = streams.isEmpty() ? 0 : streams.first().toObject().value("start_time").toString().toDouble();
    QList<ProbedFrame> frames;
    for (const QJsonValue &f : doc.value("frames").toArray()) {
        const QJsonObject frame = f.toObject();
        frames.append({frame.value("pts_time").toString().toDouble() - start, frame.value("key_frame").toInt() == 1});
    }
    std::sort(frames.begin(), frames.end(), [](const ProbedFrame &a, const ProbedFrame &b) { return a.seconds < b.seconds; });
    return frames;
}

QByteArray programVersion(const QString &program)
{
    static QMutex mutex;
    static QHash<QString, QByteArray> known;
    QMutexLocker lock(&mutex);
    auto it = known.constFind(program);
    if (it != known.constEnd())
        return it.value();
    QString out;
    const QByteArray version = runProgram(program, {"-version"}, &out) == 0 ? out.toUtf8() : QByteArray();
    known.insert(program, version);
    return version;
}

namespace {

QString cacheRoot()
{
#ifdef LK_TEST_CACHE_DIR
    return QStringLiteral(LK_TEST_CACHE_DIR);
#else
    return QDir::tempPath() + "/lumenkite-test-cache";
#endif
}

QByteArray contentHash(const QString &path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return {};
    return hash.result().toHex();
}

// A fresh copy per caller: tests may change or remove their files.
bool copyOut(const QString &stored, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    return QFile::copy(stored, path) && QFileInfo(path).size() == QFileInfo(stored).size();
}

} // namespace

bool cachedFile(const QString &path, const QByteArray &recipe, const std::function<bool(const QString &)> &make)
{
    const QString root = cacheRoot();
    QDir().mkpath(root);
    const QString key = QString::fromLatin1(QCryptographicHash::hash(recipe, QCryptographicHash::Sha256).toHex().left(40));
    const QString suffix = QFileInfo(path).suffix().isEmpty() ? QString() : "." + QFileInfo(path).suffix();
    const QString stored = root + "/" + key + suffix;
    if (QFileInfo(stored).isFile())
        return copyOut(stored, path);

    // One process makes it while the others wait. A holder that died frees the lock; one
    // that hangs is waited for only so long, then this process makes its own.
    QLockFile lock(root + "/" + key + ".lock");
    lock.setStaleLockTime(0);
    lock.tryLock(180000);
    if (QFileInfo(stored).isFile())
        return copyOut(stored, path);

    // Made under a private name and renamed into place, so nobody sees half a file.
    const QString temp = QStringLiteral("%1/tmp-%2-%3-%4%5")
                             .arg(root)
                             .arg(QCoreApplication::applicationPid())
                             .arg(QRandomGenerator::global()->generate())
                             .arg(key, suffix);
    const bool made = make(temp) && QFileInfo(temp).size() > 0;
    if (!made || std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(stored).constData()) != 0) {
        QFile::remove(temp);
        return false;
    }
    return copyOut(stored, path);
}

bool ffmpegOutput(const QString &path, const QStringList &args)
{
    const QByteArray version = programVersion("ffmpeg");
    if (version.isEmpty())
        return false;
    QByteArray recipe = "ffmpeg\n" + version;
    for (const QString &arg : args) {
        // Input files count by their contents, not by where this process keeps them.
        if (QDir::isAbsolutePath(arg) && QFileInfo(arg).isFile())
            recipe += "\nfile:" + contentHash(arg);
        else
            recipe += "\narg:" + arg.toUtf8();
    }
    return cachedFile(path, recipe, [&](const QString &out) {
        return runProgram("ffmpeg", QStringList{"-y", "-v", "error"} + args + QStringList{out}) == 0;
    });
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(5);
    }
    return true;
}

} // namespace lktest
