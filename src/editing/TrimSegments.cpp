#include "TrimSegments.h"

#include <algorithm>
#include <cmath>

namespace TrimSegments {

QList<VideoClipSegment> sorted(const QList<VideoClipSegment> &segments)
{
    QList<VideoClipSegment> copy = segments;
    std::stable_sort(copy.begin(), copy.end(),
                     [](const VideoClipSegment &a, const VideoClipSegment &b) { return a.start < b.start; });
    return copy;
}

double keptDuration(const QList<VideoClipSegment> &segments)
{
    double sum = 0;
    for (const VideoClipSegment &s : sorted(segments)) sum += std::max(0.0, s.end - s.start);
    return sum;
}

std::optional<QUuid> splitAt(QList<VideoClipSegment> &segments, double t)
{
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const VideoClipSegment old = segments[i];
        if (!(old.start + 0.25 < t && t < old.end - 0.25)) continue;
        const VideoClipSegment first = VideoClipSegment::make(old.start, t);
        const VideoClipSegment second = VideoClipSegment::make(t, old.end);
        segments[i] = first;
        segments.insert(i + 1, second);
        return second.id;
    }
    return std::nullopt;
}

std::optional<VideoClipSegment> addRange(QList<VideoClipSegment> &segments, double total, double t)
{
    if (!(total > 0.5)) return std::nullopt;
    struct Gap { double start, end; };
    QList<Gap> gaps;
    double cursor = 0;
    for (const VideoClipSegment &s : sorted(segments)) {
        if (s.start - cursor >= 0.5) gaps.append({cursor, s.start});
        cursor = std::max(cursor, s.end);
    }
    if (total - cursor >= 0.5) gaps.append({cursor, total});
    if (gaps.isEmpty()) return std::nullopt;
    Gap chosen = gaps.first();
    for (const Gap &g : gaps)
        if (g.start <= t && t <= g.end) {
            chosen = g;
            break;
        }
    const double start = std::max(chosen.start, std::min(t, chosen.end - 0.5));
    const double end = std::min(start + std::max((chosen.end - chosen.start) * 0.5, 2.0), chosen.end);
    const VideoClipSegment added = VideoClipSegment::make(start, end);
    segments.append(added);
    return added;
}

static std::optional<QUuid> earliest(const QList<VideoClipSegment> &segments)
{
    const QList<VideoClipSegment> s = sorted(segments);
    return s.isEmpty() ? std::nullopt : std::optional<QUuid>(s.first().id);
}

bool remove(QList<VideoClipSegment> &segments, const QUuid &idArgument, std::optional<QUuid> &selection)
{
    const QUuid id = idArgument; // may refer into the list, which changes here
    if (segments.size() < 2) return false;
    const qsizetype removed = segments.removeIf([&](const VideoClipSegment &s) { return s.id == id; });
    if (removed == 0) return false;
    if (selection == id) selection = earliest(segments);
    return true;
}

bool clampToDuration(QList<VideoClipSegment> &segments, double duration, std::optional<QUuid> &selection,
                     double minimum)
{
    if (!(duration > 0)) return false;
    bool changed = false;
    QList<VideoClipSegment> kept;
    for (VideoClipSegment s : segments) {
        const double start = std::clamp(s.start, 0.0, duration);
        const double end = std::clamp(s.end, 0.0, duration);
        if (start != s.start || end != s.end) changed = true;
        if (end - start < minimum) {
            changed = true;
            continue;
        }
        s.start = start;
        s.end = end;
        kept.append(s);
    }
    if (!changed) return false;
    if (kept.isEmpty()) kept.append(VideoClipSegment::make(0, duration));
    segments = kept;
    const bool selectionStands =
        selection && std::any_of(kept.cbegin(), kept.cend(), [&](const VideoClipSegment &s) { return s.id == *selection; });
    if (selection && !selectionStands) selection = earliest(kept);
    return true;
}

static const VideoClipSegment *find(const QList<VideoClipSegment> &segments, const QUuid &id)
{
    for (const VideoClipSegment &s : segments)
        if (s.id == id) return &s;
    return nullptr;
}

std::optional<double> dragStart(const QList<VideoClipSegment> &segments, const QUuid &id, double t, double minLength)
{
    const VideoClipSegment *s = find(segments, id);
    if (!s || !std::isfinite(t)) return std::nullopt;
    // The previous neighbour: a range ending at most 0.01 s after this one starts.
    double lower = 0;
    for (const VideoClipSegment &o : segments)
        if (o.id != id && o.end <= s->start + 0.01) lower = std::max(lower, o.end);
    t = std::min(t, s->end - minLength);
    t = std::max(t, 0.0);
    t = std::max(t, lower);
    // The neighbour limit wins over the minimum length, but never past this range's end:
    // where it would, the start stays where it is.
    return t < s->end ? t : s->start;
}

std::optional<double> dragEnd(const QList<VideoClipSegment> &segments, const QUuid &id, double t, double total,
                              double minLength)
{
    const VideoClipSegment *s = find(segments, id);
    if (!s || !std::isfinite(t)) return std::nullopt;
    double upper = total;
    for (const VideoClipSegment &o : segments)
        if (o.id != id && o.start >= s->end - 0.01) upper = std::min(upper, o.start);
    t = std::min(t, total);
    t = std::max(t, s->start + minLength);
    t = std::min(t, upper);
    return t > s->start ? t : s->end;
}

bool applyStart(QList<VideoClipSegment> &segments, const QUuid &id, double start)
{
    for (VideoClipSegment &s : segments)
        if (s.id == id) {
            if (start >= s.end) return false;
            s.start = start;
            return true;
        }
    return false;
}

bool applyEnd(QList<VideoClipSegment> &segments, const QUuid &id, double end)
{
    for (VideoClipSegment &s : segments)
        if (s.id == id) {
            if (end <= s.start) return false;
            s.end = end;
            return true;
        }
    return false;
}

PreviewStep previewStep(const QList<VideoClipSegment> &segments, double t)
{
    const QList<VideoClipSegment> list = sorted(segments);
    if (list.isEmpty()) return {};
    for (const VideoClipSegment &s : list)
        if (s.start - 0.08 <= t && t <= s.end - 0.06) return {};
    for (const VideoClipSegment &s : list)
        if (s.start > t) return {PreviewStep::Kind::seek, s.start};
    return {PreviewStep::Kind::pauseAndSeek, list.first().start};
}

qint64 estimatedOutputBytes(qint64 fileSize, double kept, double total, TrimExportPreset preset)
{
    if (!(total > 0)) return fileSize;
    const double ratio = std::clamp(kept / total, 0.02, 1.0);
    return qint64(TrimExportPresetInfo::estimatedSizeFactor(preset) * (ratio * double(fileSize)));
}

int estimatedSavingsPercent(qint64 fileSize, qint64 estimate)
{
    if (fileSize < 1) return 0;
    const double saving = double(std::max<qint64>(0, fileSize - estimate)) / double(fileSize) * 100.0;
    return int(std::lround(saving));
}

} // namespace TrimSegments
