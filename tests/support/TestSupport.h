#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace lktest {

// The temporary folder that HOME and every XDG folder point into for this test program.
QString sandboxRoot();

// Creates a file of exactly `size` bytes (sparse), making parent folders as needed.
bool writeSizedFile(const QString &path, qint64 size);

// Writes a small shell program at `path` ("#!/bin/sh", then `body`) to stand in for a real
// one, making parent folders. Written under another name, closed, then renamed into place,
// so it is never run half written or while open. Returns `path`, or empty when it failed.
QString writeScript(const QString &path, const QString &body);

// Runs a program to completion; returns its exit code, or -1 when it could not run.
int runProgram(const QString &program, const QStringList &args, QString *output = nullptr,
               int timeoutMs = 60000);

// Makes a short clip with ffmpeg's lavfi sources. `videoArgs` are the encoder options.
// Returns false when ffmpeg is missing or fails.
bool makeClip(const QString &path, double seconds, int width, int height,
              const QStringList &videoArgs = {}, bool withAudio = false);

// Runs `ffmpeg -y -v error <args> <path>`. The result is kept in a cache folder under the
// build tree, keyed by the ffmpeg version, the arguments and the contents of any input
// files, so every test program after the first gets a copy instead of encoding again.
bool ffmpegOutput(const QString &path, const QStringList &args);

// Copies the cached result of `recipe` to `path`; the first caller (across processes,
// under a lock) makes it by calling `make` with a private file name of the same suffix.
bool cachedFile(const QString &path, const QByteArray &recipe, const std::function<bool(const QString &)> &make);

// One frame of a file's first video stream as ffprobe reads it: the time it is shown
// (seconds from the stream's start) and whether it is a key frame.
struct ProbedFrame {
    double seconds = 0;
    bool key = false;
};
// Every frame in presentation order; empty when ffprobe is missing or fails.
QList<ProbedFrame> probeFrames(const QString &path);

// `<program> -version` output, read once per process; empty when it cannot run.
QByteArray programVersion(const QString &program);

// A small tmpfs mounted at `folder` for the fixture's life. Mounting needs root:
// mounted() says whether it worked, so a test can skip.
class SmallDisk
{
public:
    explicit SmallDisk(const QString &folder, const QString &size = QStringLiteral("1m"));
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    bool mounted() const { return m_mounted; }
    QString path() const { return m_path; }
    // Takes every free byte with one file, so the next write fails with ENOSPC.
    bool fill();

private:
    QString m_path;
    bool m_mounted = false;
};

// A private PulseAudio server with one null sink, in this program's XDG_RUNTIME_DIR, for
// the fixture's life: the platform player plays only where a sound output exists.
// running() says whether it came up (the server may not be installed), so a test can say so.
class NullSoundServer
{
public:
    NullSoundServer();
    ~NullSoundServer();
    NullSoundServer(const NullSoundServer &) = delete;
    NullSoundServer &operator=(const NullSoundServer &) = delete;
    bool running() const { return m_running; }

private:
    qint64 m_pid = 0;
    bool m_running = false;
};

// A FIFO that no one writes, made at `path`: a reader waits in open() until release().
// Should the program under test wait for it on its own thread after all, a watchdog lets
// it go after `watchdogSeconds`, so the test fails (releasedByWatchdog()) instead of hanging.
class HeldFifo
{
public:
    explicit HeldFifo(const QString &path, int watchdogSeconds = 60);
    ~HeldFifo();
    HeldFifo(const HeldFifo &) = delete;
    HeldFifo &operator=(const HeldFifo &) = delete;
    bool made() const { return m_made; }
    // Lets a waiting reader go on (it then reads an empty file); false when none waits.
    bool release();
    bool releasedByWatchdog() const { return m_byWatchdog; }

private:
    QByteArray m_path;
    bool m_made = false;
    std::atomic<bool> m_byWatchdog{false};
    std::mutex m_mutex;
    std::condition_variable m_stop;
    bool m_stopping = false;
    std::thread m_watchdog;
};

// Runs the event loop until `condition` holds; false when `timeoutMs` passes first.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000);

} // namespace lktest
