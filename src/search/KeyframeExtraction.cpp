#include "KeyframeExtraction.h"
#include "library/FileNames.h"

#include "media/ExternalTools.h"
#include "media/FFmpegMedia.h"
#include "media/MediaMetadataService.h"

#include <QSizeF>

#include <cmath>

namespace keyframes {

QList<double> fractionsForDuration(double s)
{
    if (!std::isfinite(s) || s < 1.5)
        return {0.0};
    if (s >= 480)
        return {0.06, 0.26, 0.5, 0.74, 0.92};
    if (s >= 90)
        return {0.08, 0.36, 0.64, 0.9};
    if (s >= 15)
        return {0.12, 0.5, 0.86};
    return {0.22, 0.75};
}

QList<double> ffmpegTimes(std::optional<double> d)
{
    if (!d || !std::isfinite(*d) || *d < 2)
        return {0.0};
    if (*d < 60)
        return {0.25 * *d, 0.75 * *d};
    return {0.12 * *d, 0.5 * *d, 0.85 * *d};
}

QStringList ffmpegKeyframeArguments(const QString &filePath, double seconds)
{
    // QString::number, not printf: the process locale may write a decimal comma.
    return {"-hide_banner", "-loglevel", "error", "-ss", QString::number(seconds, 'f', 2), "-i", filePath,
            "-frames:v", "1", "-vf", "scale=512:-2", "-f", "image2pipe", "-vcodec", "mjpeg", "pipe:1"};
}

QList<TimedKeyframe> extractInProcess(const QString &filePath, const std::function<bool()> &cancelled)
{
    const auto isCancelled = [&] { return cancelled && cancelled(); };
    const std::optional<VideoMediaInfo> info = lkmedia::probeFile(filePath, true);
    double seconds = info && info->duration ? *info->duration : 0.0;
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    QList<TimedKeyframe> frames;
    for (double f : fractionsForDuration(seconds)) {
        if (isCancelled())
            break;
        const double t = seconds > 0 && f * seconds >= 0 ? f * seconds : 0.0;
        // The quick frame is the key frame at or before `t`, up to a group of pictures
        // earlier: its moment is the time it is shown, so that a search opens the video
        // where that picture (and the words read in it) is on screen.
        double shownAt = t;
        const QImage image = lkmedia::decodeFrame(filePath, t, 512, 512, cancelled, false, &shownAt);
        if (!image.isNull())
            frames.append({shownAt, image});
    }
    if (!frames.isEmpty() || isCancelled())
        return frames;
    double shownAt = 0;
    const QImage first = lkmedia::decodeFrame(filePath, 0, 512, 512, cancelled, false, &shownAt);
    if (!first.isNull())
        frames.append({shownAt, first});
    return frames;
}

QList<TimedKeyframe> extractWithFFmpeg(const QString &filePath, const QString &ffmpeg,
                                       std::optional<double> duration, int timeoutMs)
{
    QList<TimedKeyframe> frames;
    // The program would open a FIFO put in place of the file and wait on it until killed.
    if (ffmpeg.isEmpty() || !FileNames::isRegularFile(filePath))
        return frames;
    for (double t : ffmpegTimes(duration)) {
        const lkmedia::ToolRun run = lkmedia::runTool(ffmpeg, ffmpegKeyframeArguments(filePath, t), timeoutMs);
        if (!run.started || run.timedOut)
            continue;
        QImage image;
        if (image.loadFromData(run.output, "JPEG") && !image.isNull())
            frames.append({t, image});
    }
    return frames;
}

Sources Sources::standard()
{
    Sources s;
    s.ffmpeg = MediaMetadataService::ffmpegPath().value_or(QString());
    s.duration = [](const QString &path) -> std::optional<double> {
        QFuture<VideoMediaInfo> f = MediaMetadataService::shared().metadata(QUrl::fromLocalFile(path));
        return f.result().duration;
    };
    s.thumbnail = [](const VideoFile &video) {
        QFuture<QImage> f = MediaMetadataService::shared().thumbnail(video.url(), QSizeF(360, 202));
        return f.result();
    };
    return s;
}

QList<TimedKeyframe> keyframes(const VideoFile &video, const Sources &sources, const std::function<bool()> &cancelled)
{
    const QString path = video.url().toLocalFile();
    if (video.isNativeFormat()) {
        QList<TimedKeyframe> frames = extractInProcess(path, cancelled);
        if (!frames.isEmpty())
            return frames;
    }
    // A cancelled video is dropped by the caller: no need to start programs for it.
    if (cancelled && cancelled())
        return {};
    if (!sources.ffmpeg.isEmpty()) {
        QList<TimedKeyframe> frames =
            extractWithFFmpeg(path, sources.ffmpeg, sources.duration ? sources.duration(path) : std::nullopt);
        if (!frames.isEmpty())
            return frames;
    }
    if (sources.thumbnail) {
        const QImage thumb = sources.thumbnail(video);
        if (!thumb.isNull())
            return {{0, thumb.convertToFormat(QImage::Format_RGB32)}};
    }
    return {};
}

} // namespace keyframes
