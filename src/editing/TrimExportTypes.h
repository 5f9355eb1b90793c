#pragma once

// The records a trim-and-merge export and its editor share.

#include "library/RawValueNames.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <optional>

// One kept range of the source, in seconds.
struct VideoClipSegment {
    QUuid id = QUuid::createUuid();
    double start = 0;
    double end = 0;

    static VideoClipSegment make(double start, double end) { return {QUuid::createUuid(), start, end}; }
    double length() const { return end - start; }
    bool operator==(const VideoClipSegment &other) const = default;
};
size_t qHash(const VideoClipSegment &segment, size_t seed = 0);

enum class TrimExportPreset { passthrough, hevcHigh, h2641080p };
inline constexpr RawName<TrimExportPreset> kTrimExportPresetNames[] = {
    {TrimExportPreset::passthrough, "passthrough"},
    {TrimExportPreset::hevcHigh, "hevcHigh"},
    {TrimExportPreset::h2641080p, "h2641080p"},
};
struct TrimExportPresetInfo : RawValueNames<kTrimExportPresetNames> {
    // The video encoder options of the re-encoding route.
    static QStringList ffmpegVideoArguments(TrimExportPreset preset);
    // The filter the joined picture passes through before encoding; empty for none.
    static QString videoFilter(TrimExportPreset preset);
    // Output size relative to the kept share of the source, for the editor's estimate.
    static double estimatedSizeFactor(TrimExportPreset preset);
};

enum class TrimSaveMode { saveAsNew, replaceOriginal };
inline constexpr RawName<TrimSaveMode> kTrimSaveModeNames[] = {
    {TrimSaveMode::saveAsNew, "saveAsNew"},
    {TrimSaveMode::replaceOriginal, "replaceOriginal"},
};
struct TrimSaveModeInfo : RawValueNames<kTrimSaveModeNames> {};

// One event of an export, delivered in order: progress any number of times, then one
// completed or failed (none when the job was cancelled before it finished).
struct TrimExportEvent {
    enum class Kind { progress, completed, failed };
    Kind kind = Kind::progress;
    double fraction = 0;          // progress
    QString stage;                // progress
    QUrl outputURL;               // completed: standardized file URL
    qint64 outputSize = 0;        // completed
    bool replacedOriginal = false; // completed
    QString message;              // failed; on completed, a remark about the original, if any

    static TrimExportEvent progress(double fraction, const QString &stage)
    {
        TrimExportEvent e;
        e.kind = Kind::progress;
        e.fraction = fraction;
        e.stage = stage;
        return e;
    }
    static TrimExportEvent completed(const QUrl &url, qint64 size, bool replaced, const QString &remark = {})
    {
        TrimExportEvent e;
        e.kind = Kind::completed;
        e.outputURL = url;
        e.outputSize = size;
        e.replacedOriginal = replaced;
        e.message = remark;
        return e;
    }
    static TrimExportEvent failed(const QString &message)
    {
        TrimExportEvent e;
        e.kind = Kind::failed;
        e.message = message;
        return e;
    }
};

// An error of the export: a domain, a code and a readable message.
struct TrimExportError {
    QString domain = QStringLiteral("VideoTrimExport");
    int code = 0;
    QString message;
};
