#pragma once

// The editing rules of the kept ranges, apart from any widget: the editor sheet and its
// timeline call these, and tests drive them directly.

#include "editing/TrimExportTypes.h"

#include <QList>
#include <QUuid>

#include <optional>

namespace TrimSegments {

// Ordered by start; equal starts keep their stored order.
QList<VideoClipSegment> sorted(const QList<VideoClipSegment> &segments);
double keptDuration(const QList<VideoClipSegment> &segments);

// Splits the first range (in stored order) holding `t` more than 0.25 s from both of its
// edges into two fresh ranges at the same position. Returns the id of the second half.
std::optional<QUuid> splitAt(QList<VideoClipSegment> &segments, double t);

// Adds a range into the gap of at least 0.5 s that holds `t` (else the first gap): it
// starts at `t` (at most 0.5 s before the gap's end) and lasts half the gap, at least 2 s,
// never past the gap. Returns the new range.
std::optional<VideoClipSegment> addRange(QList<VideoClipSegment> &segments, double total, double t);

// Removes the range unless it is the last one. The new selection: the earliest range when
// the selected one went, else the old selection. False when nothing changed.
bool remove(QList<VideoClipSegment> &segments, const QUuid &id, std::optional<QUuid> &selection);

// A duration learned later may be shorter than the ranges: ranges are cut to it, those left
// shorter than `minimum` are dropped, and when none is left one full-length range stands.
// True when anything changed; the selection moves to the earliest range if its range went.
bool clampToDuration(QList<VideoClipSegment> &segments, double duration, std::optional<QUuid> &selection,
                     double minimum = 0.25);

// The handle drags. The range is addressed by id (a drag outlives redraws; the position of
// a range in the list may not); no value when it is gone. The result never passes the
// other edge of the range, so a range is never inverted.
std::optional<double> dragStart(const QList<VideoClipSegment> &segments, const QUuid &id, double t,
                                double minLength);
std::optional<double> dragEnd(const QList<VideoClipSegment> &segments, const QUuid &id, double t, double total,
                              double minLength);
// Writes a drag's result into the list; false when the range is gone.
bool applyStart(QList<VideoClipSegment> &segments, const QUuid &id, double start);
bool applyEnd(QList<VideoClipSegment> &segments, const QUuid &id, double end);

// Preview of the kept ranges only: where playback at `t` must go. `none`: stay.
struct PreviewStep {
    enum class Kind { none, seek, pauseAndSeek } kind = Kind::none;
    double target = 0;
};
PreviewStep previewStep(const QList<VideoClipSegment> &segments, double t);

// The size estimate of the editor.
qint64 estimatedOutputBytes(qint64 fileSize, double kept, double total, TrimExportPreset preset);
int estimatedSavingsPercent(qint64 fileSize, qint64 estimate);

} // namespace TrimSegments
