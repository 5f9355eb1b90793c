#include "FFmpegProcess.h"

#include "library/FileNames.h"

#include <QProcess>
#include <QStringDecoder>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <sys/prctl.h>

namespace FFmpegProcess {

QStringList progressArguments() { return {"-nostats", "-progress", "pipe:1"}; }

QString fit1080pFilter()
{
    return QStringLiteral("scale=w='if(gte(iw,ih),min(1920,iw),min(1080,iw))':h='if(gte(iw,ih),min(1080,ih),"
                          "min(1920,ih))':force_original_aspect_ratio=decrease:force_divisible_by=2");
}

Run run(const QString &program, const QStringList &arguments, double total,
        const std::function<void(double)> &onFraction, const std::function<bool()> &stop)
{
    Run result;
    // Arguments reach the program as text: a path holding bytes that are not UTF-8 would
    // arrive as another name (possibly another file's), so such a run is not started.
    if (std::any_of(arguments.begin(), arguments.end(), [](const QString &a) { return FileNames::hasRawBytes(a); })) {
        result.launchError = QStringLiteral("the file name is not valid UTF-8");
        return result;
    }
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    // An encode must not outlive a program that was killed: it would go on writing a
    // temporary file that the next start removes.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(15000)) {
        result.launchError = process.errorString();
        process.kill();
        process.waitForFinished(2000);
        return result;
    }
    result.started = true;
    QByteArray pending;
    double lastFraction = -1;
    auto readProgress = [&] {
        pending += process.readAllStandardOutput();
        qsizetype newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(newline).trimmed();
            pending.remove(0, newline + 1);
            // out_time_us and (despite its name) out_time_ms are both microseconds.
            if (!(line.startsWith("out_time_us=") || line.startsWith("out_time_ms="))) continue;
            bool ok = false;
            const qint64 us = line.mid(line.indexOf('=') + 1).toLongLong(&ok);
            if (!ok || us < 0 || !(total > 0)) continue;
            const double f = std::clamp(double(us) / 1e6 / total, 0.0, 1.0);
            if (f > lastFraction + 0.004 && onFraction) {
                lastFraction = f;
                onFraction(f);
            }
        }
    };
    while (process.state() != QProcess::NotRunning) {
        if (stop && stop()) {
            // Ended at once: an encode can run for many minutes, and its output is useless.
            process.kill();
            process.waitForFinished(-1);
            result.stopped = true;
            break;
        }
        process.waitForFinished(40);
        readProgress();
        result.errorOutput += process.readAllStandardError();
    }
    if (!result.stopped) readProgress();
    result.errorOutput += process.readAllStandardError();
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    return result;
}

namespace {
struct Activities {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
    std::atomic<bool> quitting{false};
};
Activities &activities()
{
    static Activities *all = new Activities; // outlives every detached job thread
    return *all;
}
} // namespace

Activity::Activity()
{
    std::lock_guard lock(activities().mutex);
    ++activities().running;
}

Activity::~Activity()
{
    Activities &all = activities();
    std::lock_guard lock(all.mutex);
    if (--all.running == 0) all.ended.notify_all();
}

bool quitting() { return activities().quitting.load(); }

bool stopAllAndWait(int timeoutMs)
{
    Activities &all = activities();
    all.quitting = true;
    std::unique_lock lock(all.mutex);
    return all.ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return all.running == 0; });
}

QString errorText(const QByteArray &errorOutput, bool *valid)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(errorOutput);
    if (valid) *valid = !decoder.hasError();
    return decoder.hasError() ? QString() : text;
}

} // namespace FFmpegProcess
