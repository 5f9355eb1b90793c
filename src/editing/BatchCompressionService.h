#pragma once

// Batch compression: a list of videos re-encoded one after the other by the `ffmpeg`
// program (HEVC through libx265 or H.264 through libx264). A result is kept only when it
// is smaller than its source; it is saved beside the source as "<base>_compressed.mp4" or
// takes the source's place (the source goes to the Trash). Events arrive per item.

#include "editing/EditingRunOptions.h"
#include "editing/SafeReplace.h"
#include "library/BackgroundJob.h"
#include "library/EditResults.h"
#include "library/Models.h"
#include "library/RawValueNames.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

enum class CompressionPreset { hevcBalanced, hevc1080p, h2641080p };
inline constexpr RawName<CompressionPreset> kCompressionPresetNames[] = {
    {CompressionPreset::hevcBalanced, "hevcBalanced"},
    {CompressionPreset::hevc1080p, "hevc1080p"},
    {CompressionPreset::h2641080p, "h2641080p"},
};
struct CompressionPresetInfo : RawValueNames<kCompressionPresetNames> {
    static QStringList ffmpegVideoArguments(CompressionPreset preset);
    // Expected output size as a share of the input, for the sheet's estimate.
    static double expectedSizeFactor(CompressionPreset preset);
};

enum class CompressionSaveMode { replaceOriginal, saveAsNew };
inline constexpr RawName<CompressionSaveMode> kCompressionSaveModeNames[] = {
    {CompressionSaveMode::replaceOriginal, "replaceOriginal"},
    {CompressionSaveMode::saveAsNew, "saveAsNew"},
};
struct CompressionSaveModeInfo : RawValueNames<kCompressionSaveModeNames> {};

struct BatchCompressionEvent {
    enum class Kind { itemStarted, itemProgress, itemCompleted, itemFailed, finished };
    Kind kind = Kind::finished;
    int index = 0;                        // itemStarted, itemProgress
    int total = 0;                        // itemStarted, itemProgress
    QString videoName;                    // itemStarted, itemFailed
    double fraction = 0;                  // itemProgress
    BatchCompressionResult result;        // itemCompleted
    QString message;                      // itemFailed
    QList<BatchCompressionResult> results; // finished
    qint64 totalSavedBytes = 0;           // finished
};

struct BatchCompressionError {
    QString domain = QStringLiteral("BatchCompression");
    int code = 0;
    QString message;
};

using BatchCompressionOptions = EditingRunOptions;

// The consumer's end of a running batch. Cancelling stops the batch at once: a running
// ffmpeg is killed and its partial output removed. An item that already began to put its
// result in place finishes, and its `itemCompleted` still arrives so the library can learn
// of it; `finished` ends every run.
using BatchCompressionJob = Job<BatchCompressionEvent>;

namespace BatchCompressionService {

// ".Lumenkite-Comp-<UUID>.mp4".
QString temporaryFileName();
// "<base>_compressed.mp4", else "<base>_compressed_n.mp4" from n = 2.
QString saveAsNewTarget(const QString &folder, const QString &base);
// "<base>.mp4"; the source's own path is allowed (it is replaced), another existing file is
// not ("<base>_n.mp4" from n = 2).
QString replaceTarget(const QString &folder, const QString &base, const QString &sourcePath);

// Containers of the result are MP4: these audio codecs go in unchanged, others become AAC.
bool mp4TakesAudio(const QString &codecName);

// The whole ffmpeg command line of one item (without the program).
QStringList ffmpegArguments(const QString &input, const QString &output, CompressionPreset preset,
                            bool hasAudio, const QString &audioCodec);

using EventSink = BatchCompressionJob::Sink;

// Runs the batch on the calling thread. `cancelled` is asked while ffmpeg runs (it is
// killed at once) and between the steps of every item.
void run(const QList<VideoFile> &videos, CompressionPreset preset, bool keepOnlyIfSmaller,
         CompressionSaveMode saveMode, const EventSink &sink, const std::function<bool()> &cancelled,
         const BatchCompressionOptions &options = {});

// Starts the batch on a thread of its own and returns at once.
BatchCompressionJob *compress(const QList<VideoFile> &videos, CompressionPreset preset, bool keepOnlyIfSmaller,
                              CompressionSaveMode saveMode, QObject *parent,
                              const BatchCompressionOptions &options = {});

} // namespace BatchCompressionService

Q_DECLARE_METATYPE(BatchCompressionEvent)
