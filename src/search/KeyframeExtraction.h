#pragma once

// A few still images of a video, each with its time, for the visual index. Three sources
// in order: the FFmpeg libraries in this process (natively playable formats only), the
// `ffmpeg` program, then the video's thumbnail. An empty list means the video is unreadable.

#include "library/Models.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct TimedKeyframe {
    double timestamp = 0;
    QImage image;
};

namespace keyframes {

// Fractions of the duration at which the in-process path takes frames.
QList<double> fractionsForDuration(double seconds);
// Absolute times of the `ffmpeg` path.
QList<double> ffmpegTimes(std::optional<double> duration);
// One run's arguments: one JPEG of the frame at `seconds`, 512 pixels wide, on stdout.
QStringList ffmpegKeyframeArguments(const QString &filePath, double seconds);

// The in-process path: the key frames at or before the table's times, within 512x512,
// rotated for display, each with the time it is shown. Stops early (with what it has)
// when `cancelled` turns true.
QList<TimedKeyframe> extractInProcess(const QString &filePath, const std::function<bool()> &cancelled = {});
// The `ffmpeg` path; each run is killed after `timeoutMs`.
QList<TimedKeyframe> extractWithFFmpeg(const QString &filePath, const QString &ffmpeg,
                                       std::optional<double> duration, int timeoutMs = 4000);

struct Sources {
    // Empty: the program is not installed.
    QString ffmpeg;
    std::function<std::optional<double>(const QString &path)> duration;
    std::function<QImage(const VideoFile &)> thumbnail;
    // The standard ones: the located `ffmpeg`, the shared media service's facts and thumbnails.
    static Sources standard();
};

QList<TimedKeyframe> keyframes(const VideoFile &video, const Sources &sources,
                               const std::function<bool()> &cancelled = {});

} // namespace keyframes
