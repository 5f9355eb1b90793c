#pragma once

#include "library/Models.h"

#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The ffmpeg and ffprobe command lines, their runs and the reading of their output.
namespace lkmedia {

// The frame 2 s in; `fromStart`: the first frame, for files where seeking finds none.
QStringList ffmpegThumbnailArguments(const QString &filePath, const QSizeF &size, bool fromStart = false);
QStringList ffprobeArguments(const QString &filePath);

// Facts from ffprobe's JSON; no value when the text is not a JSON object.
std::optional<VideoMediaInfo> parseFFprobeOutput(const QByteArray &json);

struct ToolRun {
    bool started = false;
    bool timedOut = false;
    bool stopped = false; // `stop` turned true and the child was killed
    bool crashed = false;
    int exitCode = -1;
    QByteArray output;

    // A run that ended by itself, either way.
    bool completed() const { return started && !timedOut && !stopped && !crashed; }
};

// Runs a program with standard error (and input) on the null device, reading standard
// output to its end. The child is killed when it outlives `timeoutMs` or when `stop`
// turns true.
ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs,
                const std::function<bool()> &stop = {});

} // namespace lkmedia
