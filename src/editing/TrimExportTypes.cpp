#include "TrimExportTypes.h"

#include "editing/FFmpegProcess.h"

#include <QHash>

size_t qHash(const VideoClipSegment &segment, size_t seed)
{
    return qHashMulti(seed, segment.id, segment.start, segment.end);
}

QStringList TrimExportPresetInfo::ffmpegVideoArguments(TrimExportPreset preset)
{
    // Software encoders stand in for the hardware ones; the quality levels aim at the
    // same places: near-transparent for "original quality", smaller for HEVC.
    switch (preset) {
    case TrimExportPreset::passthrough:
        return {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-pix_fmt", "yuv420p"};
    case TrimExportPreset::hevcHigh:
        return {"-c:v", "libx265", "-preset", "fast", "-crf", "24", "-pix_fmt", "yuv420p", "-tag:v", "hvc1",
                "-x265-params", "log-level=error"};
    case TrimExportPreset::h2641080p:
        return {"-c:v", "libx264", "-preset", "veryfast", "-crf", "21", "-pix_fmt", "yuv420p"};
    }
    return {};
}

QString TrimExportPresetInfo::videoFilter(TrimExportPreset preset)
{
    return preset == TrimExportPreset::h2641080p ? FFmpegProcess::fit1080pFilter() : QString();
}

double TrimExportPresetInfo::estimatedSizeFactor(TrimExportPreset preset)
{
    switch (preset) {
    case TrimExportPreset::passthrough: return 1.0;
    case TrimExportPreset::hevcHigh: return 0.62;
    case TrimExportPreset::h2641080p: return 0.78;
    }
    return 1.0;
}
