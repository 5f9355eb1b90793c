#pragma once

// Running the `ffmpeg` program for an encode: progress read from `-progress pipe:1`, the
// error text kept, and a stop that ends the program at once. The trim export and the batch
// compressor share it.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace FFmpegProcess {

struct Run {
    bool started = false;
    QString launchError;
    bool crashed = false;
    bool stopped = false; // ended by `stop`, its output is partial
    int exitCode = -1;
    QByteArray errorOutput;
    bool succeeded() const { return started && !crashed && !stopped && exitCode == 0; }
};

// "-nostats -progress pipe:1": the arguments that make ffmpeg report its output time.
QStringList progressArguments();

// The scale filter of every 1080p preset: the picture fits 1920x1080 (1080x1920 when it
// stands upright), keeps its shape and even sides, and is never enlarged.
QString fit1080pFilter();

// Runs `program` with `arguments` (which should hold progressArguments()), turning the
// reported output time into a fraction of `total` seconds. `stop` is asked every few tens
// of milliseconds; when it answers true the program is killed and waited for.
Run run(const QString &program, const QStringList &arguments, double total,
        const std::function<void(double)> &onFraction, const std::function<bool()> &stop = {});

// Every export and compression holds one while it runs, so that quitting can stop them all
// and wait until each has removed its partial output.
class Activity {
public:
    Activity();
    ~Activity();
    Activity(const Activity &) = delete;
    Activity &operator=(const Activity &) = delete;
};
// True once `stopAllAndWait` was called: running jobs stop as if cancelled.
bool quitting();
// Asks every running job to stop and waits up to `timeoutMs` for all to end; false when
// some still run.
bool stopAllAndWait(int timeoutMs);

// The error output as text; empty when it is not valid UTF-8 (`valid` then false).
QString errorText(const QByteArray &errorOutput, bool *valid = nullptr);

} // namespace FFmpegProcess
