#include "VideoTrimExportService.h"

#include "editing/FFmpegProcess.h"
#include "editing/OutputValidation.h"
#include "editing/PartialOutputs.h"
#include "library/FileNames.h"
#include "media/ExternalTools.h"
#include "media/FFmpegMedia.h"
#include "media/MediaMetadataService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <cmath>

namespace VideoTrimExportService {

const L10nText kNoValidRange{"trim.noValidRange"};
const L10nText kFailurePrefix{"trim.failurePrefix"};

namespace {

const L10nText kStageCopyPrepare{"trim.stagePreparing"};
const L10nText kStageCopyExport{"trim.stageExporting"};
const L10nText kStageCopySaving{"trim.stageSaving"};
const L10nText kStageJoin{"trim.stageJoining"};
const L10nText kStageEncode{"trim.stageEncoding"};
const L10nText kStageSaving{"trim.stageSaving"};
const L10nText kNoFFmpeg{"trim.noFFmpeg"};

struct Failure {
    TrimExportError error;
    bool keepFinished = false;
};

using FFmpegRun = FFmpegProcess::Run;

FFmpegRun runFFmpeg(const QString &program, const QStringList &arguments, double total,
                    const std::function<void(double)> &onFraction, const std::function<bool()> &stop)
{
    return FFmpegProcess::run(program, arguments, total, onFraction, stop);
}

// The message of a run that failed for good.
TrimExportError ffmpegError(const FFmpegRun &run)
{
    TrimExportError error;
    if (!run.started) {
        error.code = 10;
        error.message = L10n::text(QStringLiteral("trim.cannotStartFFmpeg")) +
                        (run.launchError.isEmpty() ? L10n::text(QStringLiteral("trim.unknownError")) : run.launchError);
        return error;
    }
    error.code = run.crashed ? -1 : run.exitCode;
    bool valid = true;
    const QString text = FFmpegProcess::errorText(run.errorOutput, &valid).trimmed();
    if (!valid)
        error.message = L10n::text(QStringLiteral("trim.ffmpegFailed"));
    else if (!text.isEmpty())
        error.message = text;
    else if (run.crashed)
        error.message = L10n::text(QStringLiteral("trim.ffmpegCrashedTwice"));
    else
        error.message = L10n::text(QStringLiteral("trim.ffmpegFailedTwice")) + ' ' + QString::number(run.exitCode) + '.';
    return error;
}

QStringList progressArguments() { return FFmpegProcess::progressArguments(); }

} // namespace

QList<VideoClipSegment> validatedSegments(const QList<VideoClipSegment> &segments)
{
    QList<VideoClipSegment> kept;
    for (const VideoClipSegment &s : segments)
        if (s.end - s.start >= 0.15) kept.append(s); // not-a-number fails the test
    std::stable_sort(kept.begin(), kept.end(),
                     [](const VideoClipSegment &a, const VideoClipSegment &b) { return a.start < b.start; });
    return kept;
}

QString secondsText(double seconds, int decimals)
{
    // QString::number ignores the locale, so "1.500" never becomes "1,500".
    return QString::number(seconds, 'f', decimals);
}

QString filterGraph(const QList<VideoClipSegment> &segments, bool withAudio, const QString &videoFilter)
{
    QStringList chains;
    QString inputs;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QString range = QStringLiteral("start=") + secondsText(segments[i].start) + QStringLiteral(":end=") +
                              secondsText(segments[i].end);
        const QString n = QString::number(i);
        chains << QStringLiteral("[0:v]trim=") + range + QStringLiteral(",setpts=PTS-STARTPTS[v") + n + "]";
        inputs += QStringLiteral("[v") + n + "]";
        if (withAudio) {
            chains << QStringLiteral("[0:a]atrim=") + range + QStringLiteral(",asetpts=PTS-STARTPTS[a") + n + "]";
            inputs += QStringLiteral("[a") + n + "]";
        }
    }
    const QString count = QString::number(segments.size());
    const QString joined = videoFilter.isEmpty() ? QStringLiteral("[outv]") : QStringLiteral("[joined]");
    QString concat = QStringLiteral("concat=n=") + count +
                     (withAudio ? QStringLiteral(":v=1:a=1") + joined + QStringLiteral("[outa]")
                                : QStringLiteral(":v=1:a=0") + joined);
    if (!videoFilter.isEmpty()) concat += QStringLiteral(";[joined]") + videoFilter + QStringLiteral("[outv]");
    return chains.join(QLatin1Char(';')) + QLatin1Char(';') + inputs + concat;
}

QStringList encodeArguments(const QString &input, const QList<VideoClipSegment> &segments, const QString &output,
                            TrimExportPreset preset, bool withAudio, bool tolerant)
{
    QStringList args{"-hide_banner", "-loglevel", "error", "-y"};
    args << progressArguments();
    // The second attempt forgives damaged input: fresh timestamps, corrupt packets dropped.
    if (tolerant) args << "-fflags" << "+genpts+discardcorrupt" << "-err_detect" << "ignore_err";
    args << "-i" << input << "-filter_complex"
         << filterGraph(segments, withAudio, TrimExportPresetInfo::videoFilter(preset)) << "-map" << "[outv]";
    if (withAudio) args << "-map" << "[outa]";
    args << TrimExportPresetInfo::ffmpegVideoArguments(preset);
    if (withAudio) args << "-c:a" << "aac" << "-b:a" << "192k";
    args << "-movflags" << "+faststart" << output;
    return args;
}

QStringList copyArguments(const QString &input, const VideoClipSegment &segment, const QString &output)
{
    QStringList args{"-hide_banner", "-loglevel", "error", "-y"};
    args << progressArguments();
    args << "-ss" << secondsText(segment.start) << "-i" << input << "-t"
         << secondsText(std::max(0.0, segment.end - segment.start)) << "-map" << "0:v:0" << "-map" << "0:a?"
         << "-c" << "copy" << "-avoid_negative_ts" << "make_zero" << "-movflags" << "+faststart" << output;
    return args;
}

QString temporaryFileName()
{
    return QStringLiteral(".Lumenkite-Trim-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
           QStringLiteral(".mp4");
}

QString saveAsNewTarget(const QString &folder, const QString &base)
{
    const QDir dir(folder);
    QString candidate = dir.filePath(base + QStringLiteral("_trimmed.mp4"));
    for (qint64 n = 2; QFileInfo::exists(candidate); ++n)
        candidate = dir.filePath(base + QStringLiteral("_trimmed (") + QString::number(n) + QStringLiteral(").mp4"));
    return candidate;
}

QString replaceTarget(const QString &folder, const QString &base, const QString &sourcePath)
{
    const QString ext = QFileInfo(sourcePath).suffix().toLower() == QLatin1String("mov") ? QStringLiteral("mov")
                                                                                        : QStringLiteral("mp4");
    const QDir dir(folder);
    const QString source = standardizedPath(sourcePath);
    QString candidate = dir.filePath(base + QLatin1Char('.') + ext);
    for (qint64 n = 2; QFileInfo::exists(candidate) && standardizedPath(candidate) != source; ++n)
        candidate = dir.filePath(base + QStringLiteral(" (") + QString::number(n) + QStringLiteral(").") + ext);
    return candidate;
}

double expectedDuration(const QList<VideoClipSegment> &segments, double sourceDuration)
{
    double total = 0;
    for (const VideoClipSegment &s : segments) {
        double start = std::max(0.0, s.start), end = s.end;
        if (sourceDuration > 0) {
            start = std::min(start, sourceDuration);
            end = std::min(end, sourceDuration);
        }
        total += std::max(0.0, end - start);
    }
    return total;
}

void run(const VideoFile &video, const QList<VideoClipSegment> &segmentsArgument, TrimExportPreset preset,
         TrimSaveMode saveMode, const QString &outputDirectory, const EventSink &sink,
         const std::function<bool()> &cancelledArgument, const TrimExportOptions &options)
{
    const FFmpegProcess::Activity activity; // ends last, after the partial output is gone
    auto cancelled = [&] { return (cancelledArgument && cancelledArgument()) || FFmpegProcess::quitting(); };
    const QList<VideoClipSegment> segments = validatedSegments(segmentsArgument);
    if (segments.isEmpty()) {
        sink(TrimExportEvent::failed(kNoValidRange));
        return;
    }

    const QString sourcePath = video.url().toLocalFile();
    const QFileInfo sourceInfo(sourcePath);
    const QString sourceFolder = sourceInfo.absolutePath();
    const QString folder = outputDirectory.isEmpty() ? sourceFolder : outputDirectory;
    const QString base = sourceInfo.completeBaseName();
    const QString temporary = QDir(folder).filePath(temporaryFileName());
    PartialOutputs::Entry inFlight(temporary);
    std::shared_ptr<SafeReplace::FileSteps> steps = options.fileSteps ? options.fileSteps : SafeReplace::realFileSteps();

    std::optional<QString> ffmpeg = options.ffmpegPath ? options.ffmpegPath : MediaMetadataService::ffmpegPath();
    if (ffmpeg && ffmpeg->isEmpty()) ffmpeg.reset();

    bool keepTemporary = false;
    auto fail = [&](const TrimExportError &error) {
        if (!cancelled()) sink(TrimExportEvent::failed(kFailurePrefix + error.message));
    };
    auto finish = [&] {
        if (!keepTemporary) QFile::remove(temporary);
    };

    // The file the result is made from; a replacement only goes ahead while it is still there.
    const SafeReplace::FileIdentity probed = SafeReplace::identityOf(sourcePath);
    // What the source holds decides the audio graph: a source with sound keeps it.
    const OutputValidation::StreamFacts facts = OutputValidation::probeStreams(sourcePath);
    if (!facts.readable || !facts.hasVideo) {
        fail({QStringLiteral("VideoTrimExport"), 1, L10n::text(QStringLiteral("trim.noVideoTrack"))});
        return;
    }
    const double expected = expectedDuration(segments, facts.duration);
    if (expected < 0.08) {
        fail({QStringLiteral("VideoTrimExport"), 4, L10n::text(QStringLiteral("trim.tooShort"))});
        return;
    }

    std::optional<TrimExportError> error;
    bool done = false;
    // A result holds exactly the kept ranges: each may gain or lose a frame at either end.
    // Measured against the source's picture, which may end before its sound.
    const int frameSlack = int(2 * segments.size() + 1);
    const double expectedVideo =
        expectedDuration(segments, facts.videoDuration > 0 ? facts.videoDuration : facts.duration);
    auto exact = [&] { return OutputValidation::validateExact(temporary, expectedVideo, facts.frameRate, frameSlack); };
    // A stopped ffmpeg leaves a partial file that is only removed; no event follows.
    auto stopped = [&](const FFmpegRun &r) {
        if (!r.stopped && !cancelled()) return false;
        finish();
        return true;
    };

    // A single range in original quality from a native format, starting on a key frame:
    // copied as it is, kept only when it lasts exactly the range. A copy cannot start
    // between key frames: it would begin at the one before and keep what was cut away.
    const bool native = VideoFile::nativeVideoExtensions().contains(video.fileExtension.toLower());
    const auto startsOnKeyframe = [&] {
        const double key = OutputValidation::keyframeAtOrBefore(sourcePath, segments.first().start);
        return std::isfinite(key) &&
               std::abs(key - segments.first().start) <= 0.5 * OutputValidation::frameDuration(facts.frameRate);
    };
    if (native && segments.size() == 1 && preset == TrimExportPreset::passthrough && ffmpeg && startsOnKeyframe()) {
        sink(TrimExportEvent::progress(0.05, kStageCopyPrepare));
        sink(TrimExportEvent::progress(0.12, kStageCopyExport));
        const FFmpegRun copy = runFFmpeg(*ffmpeg, copyArguments(sourcePath, segments.first(), temporary), expected,
                                         [&](double p) {
                                             sink(TrimExportEvent::progress(
                                                 0.12 + 0.85 * p, kStageCopyExport.text() + QStringLiteral(" (") +
                                                                      QString::number(std::lround(p * 100)) +
                                                                      QStringLiteral("%)")));
                                         }, cancelled);
        if (stopped(copy)) return;
        if (copy.succeeded() && exact().ok) {
            sink(TrimExportEvent::progress(0.99, kStageCopySaving));
            done = true;
        } else {
            QFile::remove(temporary);
        }
    }

    if (!done) {
        if (!ffmpeg) {
            fail({QStringLiteral("VideoTrimExport"), 10, kNoFFmpeg});
            finish();
            return;
        }
        sink(TrimExportEvent::progress(0.15, kStageJoin));
        auto onFraction = [&](double p) { sink(TrimExportEvent::progress(0.55 + 0.42 * p, kStageEncode)); };
        bool reportedEncode = false;
        FFmpegRun last;
        // The second attempt forgives damaged input and leaves the sound out: a source whose
        // audio cannot be decoded still gives its picture.
        for (int attempt = 0; attempt < 2 && !done; ++attempt) {
            last = runFFmpeg(*ffmpeg,
                             encodeArguments(sourcePath, segments, temporary, preset, facts.hasAudio && attempt == 0,
                                             attempt == 1),
                             expected, [&](double p) {
                                 if (!reportedEncode) {
                                     reportedEncode = true;
                                     sink(TrimExportEvent::progress(0.55, kStageEncode));
                                 }
                                 onFraction(p);
                             }, cancelled);
            if (stopped(last)) return;
            if (!last.started) break; // a program that cannot start will not start again
            if (!reportedEncode) {
                reportedEncode = true;
                sink(TrimExportEvent::progress(0.55, kStageEncode));
            }
            done = last.succeeded();
        }
        if (!done) {
            error = ffmpegError(last);
        } else {
            sink(TrimExportEvent::progress(0.98, kStageSaving));
        }
    }

    if (!error) {
        const OutputValidation::Check check = exact();
        if (!check.ok) error = TrimExportError{QStringLiteral("VideoTrimExport"), 11, check.message};
    }
    if (error) {
        fail(*error);
        finish();
        return;
    }

    // Finalisation. A job cancelled before this point leaves nothing behind; from here on
    // it completes, because the user's files are about to change.
    if (cancelled()) {
        finish();
        return;
    }
    SafeReplace::Outcome outcome;
    if (saveMode == TrimSaveMode::saveAsNew) {
        outcome = SafeReplace::placeNew(temporary, saveAsNewTarget(folder, base), *steps);
    } else {
        outcome = SafeReplace::replaceIfUnchanged(
            temporary, sourcePath, replaceTarget(sourceFolder, base, sourcePath), probed,
            [&] { return saveAsNewTarget(sourceFolder, base); }, *steps,
            [&](const QString &backupFolder) { inFlight.settingAside(backupFolder, sourcePath); });
    }
    if (!outcome.ok) {
        keepTemporary = outcome.keepFinished;
        sink(TrimExportEvent::failed(kFailurePrefix + outcome.message));
        finish();
        return;
    }
    const QFileInfo result(outcome.outputPath);
    if (!result.exists()) {
        sink(TrimExportEvent::failed(kFailurePrefix + L10n::text(QStringLiteral("trim.outputMissing")) +
                                     outcome.outputPath + QStringLiteral(".")));
        finish();
        return;
    }
    sink(TrimExportEvent::completed(QUrl::fromLocalFile(standardizedPath(outcome.outputPath)), result.size(),
                                    outcome.replaced, outcome.remark));
    finish();
}

TrimExportJob *start(const VideoFile &video, const QList<VideoClipSegment> &segments, TrimExportPreset preset,
                     TrimSaveMode saveMode, QObject *parent, const TrimExportOptions &options)
{
    return TrimExportJob::start(
        [=](const EventSink &sink, std::stop_token stop) {
            run(video, segments, preset, saveMode, QString(), sink, [stop] { return stop.stop_requested(); }, options);
        },
        parent);
}

static double frameTime(double duration, int i, int count, double endMargin)
{
    double t = duration * (i + 0.5) / count;
    t = std::min(t, std::max(duration - endMargin, 0.0));
    return std::max(t, 0.0);
}

QList<QImage> filmstripFrames(const QString &path, double duration, int count, const std::function<bool()> &stop)
{
    QList<QImage> frames;
    if (!(duration > 0) || count <= 0) return frames;
    for (int i = 0; i < count; ++i) {
        if (stop && stop()) break;
        const QImage image = lkmedia::decodeFrame(path, frameTime(duration, i, count, 0.05), 180, 110, stop);
        if (!image.isNull()) frames.append(image);
    }
    return frames;
}

QStringList ffmpegFilmstripArguments(const QString &path, double seconds)
{
    return {"-hide_banner", "-loglevel", "error", "-ss", secondsText(seconds, 2), "-i", path, "-frames:v", "1",
            "-vf", "scale=160:-2", "-f", "image2pipe", "-vcodec", "mjpeg", "pipe:1"};
}

QList<QImage> ffmpegFilmstrip(const QString &path, double duration, int count,
                              const std::optional<QString> &ffmpegPath, const std::function<bool()> &stop)
{
    QList<QImage> frames;
    const std::optional<QString> program = ffmpegPath ? ffmpegPath : MediaMetadataService::ffmpegPath();
    if (!program || program->isEmpty() || !(duration > 0) || count <= 0) return frames;
    // The program would open a FIFO put in place of the file and wait on it.
    if (!FileNames::isRegularFile(path)) return frames;
    for (int i = 0; i < count; ++i) {
        if (stop && stop()) break;
        const lkmedia::ToolRun r =
            lkmedia::runTool(*program, ffmpegFilmstripArguments(path, frameTime(duration, i, count, 0.1)), 30000, stop);
        QImage image;
        if (r.started && image.loadFromData(r.output)) frames.append(image);
    }
    return frames;
}

} // namespace VideoTrimExportService
