// The editor's range rules: split, add, remove, clamp to a shorter duration, handle drags,
// the preview jumps and the size estimate.

#include "editing/TrimSegments.h"

#include <gtest/gtest.h>

#include <vector>

using Ranges = std::vector<std::pair<double, double>>;

static QList<VideoClipSegment> make(const Ranges &ranges)
{
    QList<VideoClipSegment> out;
    for (auto [s, e] : ranges) out << VideoClipSegment::make(s, e);
    return out;
}

static Ranges spans(const QList<VideoClipSegment> &segments)
{
    Ranges out;
    for (const VideoClipSegment &s : segments) out.emplace_back(s.start, s.end);
    return out;
}

TEST(TrimSegments, SplitAtThePlayhead)
{
    struct Case { Ranges before; double t; Ranges after; int selected; };
    const Case cases[] = {
        {{{0, 10}}, 0.2, {{0, 10}}, -1},                   // too near the edge
        {{{0, 10}}, 9.76, {{0, 10}}, -1},
        {{{0, 10}}, 5, {{0, 5}, {5, 10}}, 1},
        {{{6, 8}, {0, 4}}, 7, {{6, 7}, {7, 8}, {0, 4}}, 1}, // first match in stored order, same position
        {{{0, 4}, {6, 8}}, 5, {{0, 4}, {6, 8}}, -1},        // in a gap
    };
    for (const Case &c : cases) {
        QList<VideoClipSegment> s = make(c.before);
        const QList<VideoClipSegment> old = s;
        const auto selected = TrimSegments::splitAt(s, c.t);
        EXPECT_EQ(spans(s), c.after) << c.t;
        if (c.selected < 0) {
            EXPECT_FALSE(selected);
            EXPECT_EQ(s, old);
        } else {
            ASSERT_TRUE(selected);
            EXPECT_EQ(*selected, s[c.selected].id);
            for (const VideoClipSegment &o : old) EXPECT_NE(o.id, s[c.selected].id); // fresh ids
        }
    }
}

TEST(TrimSegments, AddARangeIntoAGap)
{
    struct Case { Ranges before; double total; double t; std::optional<std::pair<double, double>> added; };
    const Case cases[] = {
        {{{0, 3}, {3.4, 10}}, 10, 5, std::nullopt},   // a 0.4 s gap is too short
        {{{0, 2}, {8, 10}}, 10, 1, {{2, 5}}},         // playhead in no gap: the first one
        {{{0, 2}, {8, 10}}, 10, 9, {{7.5, 8}}},
        {{{0, 4}}, 10, 9.8, {{9.5, 10}}},
        {{{0, 4}, {5, 10}}, 10, 4, {{4, 5}}},         // a 1 s gap is filled from its start
        {{}, 0.5, 0.1, std::nullopt},                 // needs more than 0.5 s
        {{}, 0, 0, std::nullopt},
    };
    for (const Case &c : cases) {
        QList<VideoClipSegment> s = make(c.before);
        const auto added = TrimSegments::addRange(s, c.total, c.t);
        ASSERT_EQ(bool(added), bool(c.added)) << c.t;
        if (!added) continue;
        EXPECT_DOUBLE_EQ(added->start, c.added->first);
        EXPECT_DOUBLE_EQ(added->end, c.added->second);
        EXPECT_EQ(s.last(), *added);
    }
}

TEST(TrimSegments, RemoveKeepsTheLastRangeAndMovesTheSelection)
{
    QList<VideoClipSegment> s = make({{5, 6}, {0, 1}, {2, 3}});
    std::optional<QUuid> selection = s[0].id;
    EXPECT_TRUE(TrimSegments::remove(s, s[0].id, selection));
    EXPECT_EQ(selection, s[0].id); // the earliest remaining: [0, 1]
    EXPECT_EQ(spans(s), (Ranges{{0, 1}, {2, 3}}));
    selection = s[0].id;
    EXPECT_TRUE(TrimSegments::remove(s, s[1].id, selection));
    EXPECT_EQ(selection, s[0].id); // not the selected one: unchanged
    EXPECT_FALSE(TrimSegments::remove(s, s[0].id, selection));
    EXPECT_EQ(s.size(), 1);
}

TEST(TrimSegments, AShorterDurationClampsTheRanges)
{
    struct Case { Ranges before; double duration; Ranges after; bool changed; };
    const Case cases[] = {
        {{{0, 10}}, 8, {{0, 8}}, true},
        {{{0, 3}, {7.9, 10}}, 8, {{0, 3}}, true}, // left shorter than 0.25 s: dropped
        {{{8.5, 10}}, 8, {{0, 8}}, true},         // nothing left: one full-length range
        {{{0, 3}}, 8, {{0, 3}}, false},
    };
    for (const Case &c : cases) {
        QList<VideoClipSegment> s = make(c.before);
        std::optional<QUuid> selection = s.last().id;
        EXPECT_EQ(TrimSegments::clampToDuration(s, c.duration, selection), c.changed);
        EXPECT_EQ(spans(s), c.after);
        ASSERT_TRUE(selection);
        EXPECT_TRUE(std::any_of(s.cbegin(), s.cend(), [&](const VideoClipSegment &v) { return v.id == *selection; }));
        for (const VideoClipSegment &v : s) EXPECT_LT(v.start, v.end);
    }
}

TEST(TrimSegments, HandleDragsStayWithinNeighboursAndNeverInvert)
{
    // Ranges A [2, 4], B [4, 6] touching, C [8, 9]; total 10, shortest 0.25 s.
    const QList<VideoClipSegment> s = make({{4, 6}, {2, 4}, {8, 9}}); // stored out of order
    const QUuid A = s[1].id, B = s[0].id, C = s[2].id;
    struct Case { const char *what; QUuid id; bool start; double t; double expected; };
    const Case cases[] = {
        {"A start left", A, true, -3, 0},
        {"A start right", A, true, 3.9, 3.75},
        {"B start left stops at A", B, true, 1, 4},
        {"A end right stops at B", A, false, 5, 4},
        {"A end left", A, false, 2.1, 2.25},
        {"C end right", C, false, 20, 10},
        {"C start left", C, true, 5, 6},
        {"C end left", C, false, 7, 8.25},
    };
    for (const Case &c : cases) {
        const auto t = c.start ? TrimSegments::dragStart(s, c.id, c.t, 0.25)
                               : TrimSegments::dragEnd(s, c.id, c.t, 10, 0.25);
        ASSERT_TRUE(t) << c.what;
        EXPECT_DOUBLE_EQ(*t, c.expected) << c.what;
    }
    // A range gone while its handle is held: nothing is written.
    EXPECT_FALSE(TrimSegments::dragStart(s, QUuid::createUuid(), 1, 0.25));
    // A neighbour pressed right against a short range never turns it inside out.
    QList<VideoClipSegment> tight = make({{1, 1.005}, {0, 1.01}});
    const auto start = TrimSegments::dragStart(tight, tight[0].id, 0.5, 0.25);
    ASSERT_TRUE(start);
    EXPECT_LT(*start, tight[0].end);
    EXPECT_FALSE(TrimSegments::applyStart(tight, tight[0].id, 2.0));
    EXPECT_FALSE(TrimSegments::applyEnd(tight, tight[0].id, 0.5));
}

TEST(TrimSegments, PreviewJumpsOverRemovedParts)
{
    const QList<VideoClipSegment> s = make({{6, 8}, {2, 4}});
    using K = TrimSegments::PreviewStep::Kind;
    struct Case { double t; K kind; double target; };
    const Case cases[] = {{0, K::seek, 2}, {1.93, K::none, 0}, {3.95, K::seek, 6}, {7.95, K::pauseAndSeek, 2},
                          {5, K::seek, 6}, {7, K::none, 0}};
    for (const Case &c : cases) {
        const auto step = TrimSegments::previewStep(s, c.t);
        EXPECT_EQ(step.kind, c.kind) << c.t;
        if (c.kind != K::none) {
            EXPECT_DOUBLE_EQ(step.target, c.target) << c.t;
        }
    }
}

TEST(TrimSegments, SizeEstimate)
{
    struct Case { qint64 size; double kept, total; TrimExportPreset preset; qint64 bytes; int percent; };
    const Case cases[] = {
        {100'000'000, 30, 60, TrimExportPreset::passthrough, 50'000'000, 50},
        {100'000'000, 30, 60, TrimExportPreset::hevcHigh, 31'000'000, 69},
        {100'000'000, 30, 60, TrimExportPreset::h2641080p, 39'000'000, 61},
        {100'000'000, 0.5, 100, TrimExportPreset::passthrough, 2'000'000, 98},
        {100'000'000, 0, 0, TrimExportPreset::hevcHigh, 100'000'000, 0},
        {0, 5, 10, TrimExportPreset::passthrough, 0, 0},
    };
    for (const Case &c : cases) {
        const qint64 bytes = TrimSegments::estimatedOutputBytes(c.size, c.kept, c.total, c.preset);
        EXPECT_EQ(bytes, c.bytes);
        EXPECT_EQ(TrimSegments::estimatedSavingsPercent(c.size, bytes), c.percent);
    }
    EXPECT_DOUBLE_EQ(TrimSegments::keptDuration(make({{0, 2}, {5, 4}, {6, 7.5}})), 3.5);
}
