#include "ExternalTools.h"

#include "library/FileNames.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <limits>

namespace lkmedia {

QStringList ffmpegThumbnailArguments(const QString &filePath, const QSizeF &size, bool fromStart)
{
    // 96 pixels is the floor so that tiny requests still give a usable picture.
    const double doubled = std::clamp(2.0 * size.width(), 0.0, double(std::numeric_limits<int>::max()));
    const int width = std::max(int(doubled), 96);
    QStringList args{"-hide_banner", "-loglevel", "error", "-ss", "2", "-i", filePath,
                     "-frames:v", "1", "-vf", QStringLiteral("scale=") + QString::number(width) + QStringLiteral(":-2"),
                     "-f", "image2pipe", "-vcodec", "mjpeg", "pipe:1"};
    if (fromStart)
        args.remove(3, 2);
    return args;
}

QStringList ffprobeArguments(const QString &filePath)
{
    return {"-v", "error", "-select_streams", "v:0",
            "-show_entries", "stream=width,height,codec_name,avg_frame_rate:format=duration",
            "-of", "json", filePath};
}

namespace {

std::optional<int> integerValue(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < std::numeric_limits<int>::min() ||
        d > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(d);
}

std::optional<double> frameRate(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    const QStringList parts = value.toString().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() != 2)
        return std::nullopt;
    bool okN = false, okD = false;
    const double num = parts[0].toDouble(&okN);
    const double den = parts[1].toDouble(&okD);
    if (!okN || !okD || !(num > 0) || !(den > 0))
        return std::nullopt;
    const double fps = num / den;
    return std::isfinite(fps) ? std::optional<double>(fps) : std::nullopt;
}

} // namespace

std::optional<VideoMediaInfo> parseFFprobeOutput(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject top = doc.object();

    VideoMediaInfo info;
    const QJsonValue duration = top.value("format").toObject().value("duration");
    if (duration.isString()) {
        bool ok = false;
        const double seconds = duration.toString().toDouble(&ok);
        if (ok && std::isfinite(seconds) && seconds > 0)
            info.duration = seconds;
    }

    const QJsonValue streams = top.value("streams");
    if (!streams.isArray())
        return info;
    const QJsonArray list = streams.toArray();
    if (list.isEmpty() || !std::all_of(list.begin(), list.end(), [](const QJsonValue &v) { return v.isObject(); }))
        return info;
    const QJsonObject first = list.first().toObject();
    info.width = integerValue(first.value("width"));
    info.height = integerValue(first.value("height"));
    if (first.value("codec_name").isString())
        info.codec = first.value("codec_name").toString().toUpper();
    info.fps = frameRate(first.value("avg_frame_rate"));
    return info;
}

ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs,
                const std::function<bool()> &stop)
{
    ToolRun run;
    // Arguments reach the program as text: a path holding bytes that are not UTF-8 would
    // arrive as another name (possibly another file's), so such a run is not started.
    if (std::any_of(arguments.begin(), arguments.end(), [](const QString &a) { return FileNames::hasRawBytes(a); }))
        return run;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setProgram(program);
    process.setArguments(arguments);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(5000))
        return run;
    run.started = true;

    // Output is drained while waiting, so a large image cannot fill the pipe.
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    while (process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            run.timedOut = true;
            break;
        }
        if (stop && stop()) {
            run.stopped = true;
            break;
        }
        const int slice = int(std::min<qint64>(deadline.remainingTime(), 50));
        process.waitForFinished(std::max(slice, 1));
        run.output += process.readAllStandardOutput();
    }
    if (run.timedOut || run.stopped) {
        process.kill();
        process.waitForFinished(2000);
        run.output.clear();
        return run;
    }
    run.output += process.readAllStandardOutput();
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    return run;
}

} // namespace lkmedia
