#pragma once

// Trim and merge: one source video and a list of kept ranges become one new file, the
// ranges cut out and joined back to back in time order. A single range in original quality
// from a natively played format that starts on a key frame is copied without re-encoding
// (and checked); everything else is encoded by the `ffmpeg` program through a filter graph.
// The result must last exactly the kept time, then it is saved beside the source as
// "<base>_trimmed.mp4" or in place of the original (when that is still the file it was
// made from).

#include "editing/EditingRunOptions.h"
#include "editing/SafeReplace.h"
#include "editing/TrimExportTypes.h"
#include "library/BackgroundJob.h"
#include "library/L10nText.h"
#include "library/Models.h"

#include <QImage>

#include <functional>
#include <optional>

using TrimExportOptions = EditingRunOptions;

// The consumer's end of a running export. Cancelling is like the consumer no longer
// listening: a running ffmpeg is killed at once and its partial output removed. Once the
// job began to put the result in place it finishes, and its `completed` event still
// arrives, so the caller can tell the library.
using TrimExportJob = Job<TrimExportEvent>;

namespace VideoTrimExportService {

// Stage texts.
extern const L10nText kNoValidRange;
extern const L10nText kFailurePrefix;

// Ranges at least 0.15 s long, in order of their starts (equal starts keep their order).
QList<VideoClipSegment> validatedSegments(const QList<VideoClipSegment> &segments);

// A number for a command line with a full stop, whatever the locale.
QString secondsText(double seconds, int decimals = 3);

// The filter graph that cuts and joins the ranges; with audio only when the source has it;
// `videoFilter` (when not empty) then shapes the joined picture.
QString filterGraph(const QList<VideoClipSegment> &segments, bool withAudio, const QString &videoFilter = {});
QStringList encodeArguments(const QString &input, const QList<VideoClipSegment> &segments, const QString &output,
                            TrimExportPreset preset, bool withAudio, bool tolerant = false);
// One range copied without re-encoding.
QStringList copyArguments(const QString &input, const VideoClipSegment &segment, const QString &output);

// ".Lumenkite-Trim-<UUID>.mp4".
QString temporaryFileName();
// In `folder`: "<base>_trimmed.mp4", else "<base>_trimmed (n).mp4" from n = 2.
QString saveAsNewTarget(const QString &folder, const QString &base);
// "<base>.mov" for a .mov source, "<base>.mp4" otherwise; the source's own path is allowed
// (it is replaced), another existing file is not ("<base> (n).<ext>" from n = 2).
QString replaceTarget(const QString &folder, const QString &base, const QString &sourcePath);

// The length the result should have: the ranges cut to the source's duration (when known).
double expectedDuration(const QList<VideoClipSegment> &segments, double sourceDuration);

using EventSink = TrimExportJob::Sink;

// Runs one export on the calling thread, reporting through `sink`; `cancelled` is asked while
// ffmpeg runs (it is killed at once and its partial output removed), before the result is
// put in place and when a failure is handled.
void run(const VideoFile &video, const QList<VideoClipSegment> &segments, TrimExportPreset preset,
         TrimSaveMode saveMode, const QString &outputDirectory, const EventSink &sink,
         const std::function<bool()> &cancelled, const TrimExportOptions &options = {});

// Starts the export on a thread of its own and returns at once.
TrimExportJob *start(const VideoFile &video, const QList<VideoClipSegment> &segments, TrimExportPreset preset,
                     TrimSaveMode saveMode, QObject *parent, const TrimExportOptions &options = {});

// Filmstrip frames over the middle of `count` equal slices, decoded in process; frames that
// cannot be made are left out. Stops early when `stop` turns true.
QList<QImage> filmstripFrames(const QString &path, double duration, int count,
                              const std::function<bool()> &stop = {});
// The same through one `ffmpeg` run per frame; empty without ffmpeg.
QList<QImage> ffmpegFilmstrip(const QString &path, double duration, int count,
                              const std::optional<QString> &ffmpegPath = std::nullopt,
                              const std::function<bool()> &stop = {});
QStringList ffmpegFilmstripArguments(const QString &path, double seconds);

} // namespace VideoTrimExportService
