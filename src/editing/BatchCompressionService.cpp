#include "BatchCompressionService.h"

#include "editing/FFmpegProcess.h"
#include "editing/OutputValidation.h"
#include "editing/PartialOutputs.h"
#include "media/MediaMetadataService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <algorithm>

// ---- records ----

QStringList CompressionPresetInfo::ffmpegVideoArguments(CompressionPreset preset)
{
    // Software encoders stand in for the hardware ones; "hvc1" lets every MP4 player
    // recognise HEVC, 4:2:0 keeps the result playable everywhere.
    const QString scale = FFmpegProcess::fit1080pFilter();
    const QStringList x265{"-c:v", "libx265", "-preset", "fast", "-x265-params", "log-level=error"};
    switch (preset) {
    case CompressionPreset::hevcBalanced:
        return x265 + QStringList{"-crf", "26", "-tag:v", "hvc1", "-pix_fmt", "yuv420p"};
    case CompressionPreset::hevc1080p:
        return QStringList{"-vf", scale} + x265 + QStringList{"-crf", "28", "-tag:v", "hvc1", "-pix_fmt", "yuv420p"};
    case CompressionPreset::h2641080p:
        return {"-vf", scale, "-c:v", "libx264", "-preset", "medium", "-crf", "23", "-pix_fmt", "yuv420p"};
    }
    return {};
}

double CompressionPresetInfo::expectedSizeFactor(CompressionPreset preset)
{
    switch (preset) {
    case CompressionPreset::hevcBalanced: return 0.48;
    case CompressionPreset::hevc1080p: return 0.35;
    case CompressionPreset::h2641080p: return 0.62;
    }
    return 1;
}

namespace BatchCompressionService {

QString temporaryFileName()
{
    return QStringLiteral(".Lumenkite-Comp-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
           QStringLiteral(".mp4");
}

QString saveAsNewTarget(const QString &folder, const QString &base)
{
    const QDir dir(folder);
    QString candidate = dir.filePath(base + QStringLiteral("_compressed.mp4"));
    for (qint64 n = 2; QFileInfo::exists(candidate); ++n)
        candidate = dir.filePath(base + QStringLiteral("_compressed_") + QString::number(n) + QStringLiteral(".mp4"));
    return candidate;
}

QString replaceTarget(const QString &folder, const QString &base, const QString &sourcePath)
{
    const QDir dir(folder);
    const QString source = standardizedPath(sourcePath);
    QString candidate = dir.filePath(base + QStringLiteral(".mp4"));
    for (qint64 n = 2; QFileInfo::exists(candidate) && standardizedPath(candidate) != source; ++n)
        candidate = dir.filePath(base + QLatin1Char('_') + QString::number(n) + QStringLiteral(".mp4"));
    return candidate;
}

bool mp4TakesAudio(const QString &codecName)
{
    static const QSet<QString> taken{"aac", "mp3", "ac3", "eac3", "alac", "opus"};
    return taken.contains(codecName.toLower());
}

QStringList ffmpegArguments(const QString &input, const QString &output, CompressionPreset preset, bool hasAudio,
                            const QString &audioCodec)
{
    QStringList args{"-hide_banner", "-loglevel", "error", "-y"};
    args << FFmpegProcess::progressArguments();
    args << "-i" << input << "-map" << "0:v:0";
    if (hasAudio) args << "-map" << "0:a:0";
    args << CompressionPresetInfo::ffmpegVideoArguments(preset);
    if (hasAudio) {
        if (mp4TakesAudio(audioCodec)) args << "-c:a" << "copy";
        else args << "-c:a" << "aac" << "-b:a" << "160k";
    }
    args << "-movflags" << "+faststart" << output;
    return args;
}

namespace {

BatchCompressionError ffmpegError(const FFmpegProcess::Run &run)
{
    if (!run.started)
        return {QStringLiteral("BatchCompression"), 11,
                QStringLiteral("Could not start ffmpeg: ") +
                    (run.launchError.isEmpty() ? QStringLiteral("unknown error") : run.launchError)};
    bool valid = true;
    QString text = FFmpegProcess::errorText(run.errorOutput, &valid).trimmed();
    if (!valid) text = QStringLiteral("ffmpeg compression failed");
    else if (text.isEmpty())
        text = run.crashed ? QStringLiteral("ffmpeg stopped unexpectedly.")
                           : QStringLiteral("ffmpeg compression failed (exit status ") +
                                 QString::number(run.exitCode) + QStringLiteral(").");
    return {QStringLiteral("BatchCompression"), run.crashed ? -1 : run.exitCode, text};
}

} // namespace

void run(const QList<VideoFile> &videos, CompressionPreset preset, bool keepOnlyIfSmaller,
         CompressionSaveMode saveMode, const EventSink &sink, const std::function<bool()> &cancelledArgument,
         const BatchCompressionOptions &options)
{
    const FFmpegProcess::Activity activity; // ends last, after the partial output is gone
    auto cancelled = [&] { return (cancelledArgument && cancelledArgument()) || FFmpegProcess::quitting(); };
    std::optional<QString> ffmpeg = options.ffmpegPath ? options.ffmpegPath : MediaMetadataService::ffmpegPath();
    if (ffmpeg && ffmpeg->isEmpty()) ffmpeg.reset();
    std::shared_ptr<SafeReplace::FileSteps> steps = options.fileSteps ? options.fileSteps : SafeReplace::realFileSteps();

    QList<BatchCompressionResult> results;
    qint64 saved = 0;
    const int total = int(videos.size());

    for (int index = 0; index < total; ++index) {
        if (cancelled()) break;
        const VideoFile &video = videos[index];
        BatchCompressionEvent started;
        started.kind = BatchCompressionEvent::Kind::itemStarted;
        started.index = index;
        started.total = total;
        started.videoName = video.name;
        sink(started);

        const QString sourcePath = video.url().toLocalFile();
        const QFileInfo sourceInfo(sourcePath);
        const QString folder = sourceInfo.absolutePath();
        const QString base = sourceInfo.completeBaseName();
        const QString temporary = QDir(folder).filePath(temporaryFileName());
        PartialOutputs::Entry inFlight(temporary); // gone at the end of the item, after the temporary
        bool keepTemporary = false;

        auto progress = [&](double f) {
            BatchCompressionEvent e;
            e.kind = BatchCompressionEvent::Kind::itemProgress;
            e.index = index;
            e.total = total;
            e.fraction = f;
            sink(e);
        };
        auto fail = [&](const QString &message) {
            if (cancelled()) return;
            BatchCompressionEvent e;
            e.kind = BatchCompressionEvent::Kind::itemFailed;
            e.videoName = video.name;
            e.message = message;
            sink(e);
        };
        auto complete = [&](const BatchCompressionResult &r) {
            results.append(r);
            BatchCompressionEvent e;
            e.kind = BatchCompressionEvent::Kind::itemCompleted;
            e.result = r;
            sink(e);
        };

        [&] {
            if (!ffmpeg) {
                if (video.isNativeFormat()) fail(QStringLiteral("ffmpeg not available."));
                else
                    fail(QStringLiteral("Format .") + video.fileExtension.toLower() +
                         QStringLiteral(" requires native MP4/MOV or optional codec tools."));
                return;
            }
            // The file the result is made from; a replacement only goes ahead while it is still there.
            const SafeReplace::FileIdentity probed = SafeReplace::identityOf(sourcePath);
            const OutputValidation::StreamFacts facts = OutputValidation::probeStreams(sourcePath);
            if (!facts.readable || !facts.hasVideo) {
                fail(QStringLiteral("No video stream could be read from ") + video.name + QStringLiteral("."));
                return;
            }
            progress(0.2);
            const FFmpegProcess::Run encode =
                FFmpegProcess::run(*ffmpeg, ffmpegArguments(sourcePath, temporary, preset, facts.hasAudio, facts.audioCodec),
                                   facts.duration, [&](double f) { progress(0.2 + 0.79 * f); }, cancelled);
            if (encode.stopped || cancelled()) return; // the partial file goes below, without an event
            if (!encode.succeeded()) {
                fail(ffmpegError(encode).message);
                return;
            }
            // A result must be a whole copy of the source before it may replace anything.
            if (facts.duration > 0) {
                const OutputValidation::Check check = OutputValidation::validate(temporary, facts.duration);
                if (!check.ok) {
                    fail(check.message);
                    return;
                }
            }
            progress(1.0);
            const QFileInfo output(temporary);
            if (!output.exists()) {
                fail(QStringLiteral("The compressed file is missing."));
                return;
            }
            const qint64 size = output.size();
            if (keepOnlyIfSmaller && size >= video.fileSize) {
                BatchCompressionResult r;
                r.original = video;
                r.outputURL = video.url();
                r.originalBytes = r.compressedBytes = video.fileSize;
                r.skippedBecauseNotSmaller = true;
                complete(r);
                return;
            }
            // Finalisation. A batch stopped before this point leaves nothing behind; from here
            // on the item completes, because the user's files are about to change.
            if (cancelled()) return;
            const SafeReplace::Outcome outcome =
                saveMode == CompressionSaveMode::saveAsNew
                    ? SafeReplace::placeNew(temporary, saveAsNewTarget(folder, base), *steps)
                    : SafeReplace::replaceIfUnchanged(
                          temporary, sourcePath, replaceTarget(folder, base, sourcePath), probed,
                          [&] { return saveAsNewTarget(folder, base); }, *steps,
                          [&](const QString &backupFolder) { inFlight.settingAside(backupFolder, sourcePath); });
            if (!outcome.ok) {
                keepTemporary = outcome.keepFinished;
                BatchCompressionEvent e; // reported even when stopped: files may have moved
                e.kind = BatchCompressionEvent::Kind::itemFailed;
                e.videoName = video.name;
                e.message = outcome.message;
                sink(e);
                return;
            }
            BatchCompressionResult r;
            r.original = video;
            r.outputURL = QUrl::fromLocalFile(standardizedPath(outcome.outputPath));
            r.originalBytes = video.fileSize;
            r.compressedBytes = QFileInfo(outcome.outputPath).size();
            r.replacedOriginal = outcome.replaced;
            r.originalKept = outcome.originalKept;
            r.remark = outcome.remark;
            saved += r.reclaimedBytes();
            complete(r);
        }();
        if (!keepTemporary) QFile::remove(temporary);
    }

    BatchCompressionEvent done;
    done.kind = BatchCompressionEvent::Kind::finished;
    done.results = results;
    done.totalSavedBytes = saved;
    sink(done);
}

BatchCompressionJob *compress(const QList<VideoFile> &videos, CompressionPreset preset, bool keepOnlyIfSmaller,
                              CompressionSaveMode saveMode, QObject *parent, const BatchCompressionOptions &options)
{
    return BatchCompressionJob::start(
        [=](const EventSink &sink, std::stop_token stop) {
            run(videos, preset, keepOnlyIfSmaller, saveMode, sink, [stop] { return stop.stop_requested(); }, options);
        },
        parent);
}

} // namespace BatchCompressionService
