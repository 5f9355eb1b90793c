// What a trim holds, frame by frame: every output frame is matched to the source frame it
// shows, and the matches must run through exactly the kept ranges (within one frame of
// each end) with nothing from a removed range, for copies and encodes alike.

#include "editing/OutputValidation.h"
#include "editing/VideoTrimExportService.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>

using namespace VideoTrimExportService;

namespace {

constexpr int kRate = 10;
constexpr int kWidth = 96, kHeight = 72;

// A 24 s clip at 10 fps with sound and a key frame every `gopSeconds`.
QString makeSource(const QString &path, int gopSeconds)
{
    const QString gop = QString::number(gopSeconds * kRate);
    const bool made = lktest::ffmpegOutput(
        path, {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=10:duration=24", "-f", "lavfi", "-i",
               "sine=frequency=440:duration=24", "-shortest", "-c:v", "libx264", "-preset", "ultrafast", "-g", gop,
               "-keyint_min", gop, "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "aac"});
    return made ? path : QString();
}

// Every frame as a small grey picture, in presentation order.
QList<QByteArray> greyFrames(const QString &path)
{
    QProcess p;
    p.start("ffmpeg", {"-v", "error", "-i", path, "-vf",
                       QStringLiteral("scale=%1:%2,format=gray").arg(kWidth).arg(kHeight), "-f", "rawvideo", "pipe:1"});
    p.waitForFinished(120000);
    const QByteArray all = p.readAllStandardOutput();
    QList<QByteArray> frames;
    const int size = kWidth * kHeight;
    for (qsizetype at = 0; at + size <= all.size(); at += size) frames << all.mid(at, size);
    return frames;
}

// The index of the source frame each output frame shows (the closest picture).
QList<int> matchedSourceFrames(const QList<QByteArray> &source, const QList<QByteArray> &output)
{
    QList<int> matches;
    for (const QByteArray &frame : output) {
        int best = -1;
        qint64 bestDistance = std::numeric_limits<qint64>::max();
        for (int i = 0; i < source.size(); ++i) {
            qint64 d = 0;
            for (qsizetype k = 0; k < frame.size(); ++k)
                d += std::abs(int(uchar(frame[k])) - int(uchar(source[i][k])));
            if (d < bestDistance) bestDistance = d, best = i;
        }
        matches << best;
    }
    return matches;
}

struct Range { double start, end; };

// The matches split into runs of consecutive source frames; each run must be one kept
// range, first and last frame within one frame of the range's ends. A frame shown twice
// (a constant frame rate filling a range that is not a whole number of frames) stays in
// its run.
std::string checkRuns(const QList<int> &matches, const QList<Range> &ranges)
{
    QList<QPair<int, int>> runs;
    for (int m : matches) {
        if (!runs.isEmpty() && (m == runs.last().second + 1 || m == runs.last().second)) runs.last().second = m;
        else runs.append({m, m});
    }
    std::string shown;
    for (const auto &r : runs) shown += " [" + std::to_string(r.first) + ".." + std::to_string(r.second) + "]";
    if (runs.size() != ranges.size()) return "runs:" + shown;
    for (qsizetype i = 0; i < ranges.size(); ++i) {
        const int first = int(std::ceil(ranges[i].start * kRate - 1e-6));
        const int last = int(std::ceil(ranges[i].end * kRate - 1e-6)) - 1;
        if (std::abs(runs[i].first - first) > 1 || std::abs(runs[i].second - last) > 1)
            return "range " + std::to_string(i) + " wants [" + std::to_string(first) + ".." + std::to_string(last) +
                   "], runs:" + shown;
    }
    return {};
}

} // namespace

TEST(TrimFrames, EveryPresetHoldsExactlyTheKeptRanges)
{
    struct Case { const char *name; int gop; QList<Range> ranges; };
    const QList<Case> cases{
        {"one range on a key frame, 1 s", 1, {{3, 8}}},
        {"one range between key frames, 1 s", 1, {{3.45, 8.25}}},
        {"first 5 s cut, 10 s", 10, {{5, 24}}},
        {"one range on a key frame, 10 s", 10, {{10, 16}}},
        {"one range between key frames, 10 s", 10, {{10.5, 13}}},
        {"three ranges, 1 s", 1, {{1.3, 3.1}, {7.55, 9}, {15.2, 18}}},
        {"three ranges, 10 s", 10, {{0, 2}, {10.5, 12}, {20, 23.5}}},
    };
    const QString dir = lktest::sandboxRoot() + "/frames";
    QHash<int, QList<QByteArray>> sourceFrames;
    for (const Case &c : cases) {
        const QString src = makeSource(dir + "/gop" + QString::number(c.gop) + ".mp4", c.gop);
        ASSERT_FALSE(src.isEmpty());
        if (!sourceFrames.contains(c.gop)) sourceFrames.insert(c.gop, greyFrames(src));
        ASSERT_EQ(sourceFrames[c.gop].size(), 24 * kRate);
        QList<VideoClipSegment> segments;
        double kept = 0;
        for (const Range &r : c.ranges) segments << VideoClipSegment::make(r.start, r.end), kept += r.end - r.start;
        for (TrimExportPreset preset : TrimExportPresetInfo::allCases()) {
            SCOPED_TRACE(std::string(c.name) + " / " + TrimExportPresetInfo::rawValue(preset).toStdString());
            QList<TrimExportEvent> events;
            run(*VideoFile::fromFile(src), segments, preset, TrimSaveMode::saveAsNew, QString(),
                [&](const TrimExportEvent &e) { events << e; }, {});
            ASSERT_FALSE(events.isEmpty());
            ASSERT_EQ(events.last().kind, TrimExportEvent::Kind::completed) << events.last().message.toStdString();
            const QString out = events.last().outputURL.toLocalFile();
            const QList<QByteArray> frames = greyFrames(out);
            EXPECT_NEAR(frames.size(), kept * kRate, 2.0 * c.ranges.size());
            EXPECT_EQ(checkRuns(matchedSourceFrames(sourceFrames[c.gop], frames), c.ranges), "");
            QFile::remove(out);
        }
    }
}

// The check an export must pass cannot be met by a copy that began at an earlier key frame:
// such a copy is made here by hand and refused, while the exact one passes.
TEST(TrimFrames, TheOutputCheckRefusesACopyThatKeptTheCutPart)
{
    const QString dir = lktest::sandboxRoot() + "/frames-check";
    const QString src = makeSource(dir + "/gop10.mp4", 10);
    ASSERT_FALSE(src.isEmpty());
    EXPECT_DOUBLE_EQ(OutputValidation::keyframeAtOrBefore(src, 5), 0.0);
    EXPECT_DOUBLE_EQ(OutputValidation::keyframeAtOrBefore(src, 10), 10.0);
    EXPECT_DOUBLE_EQ(OutputValidation::keyframeAtOrBefore(src, 23.9), 20.0);
    const QString loose = dir + "/loose.mp4";
    ASSERT_EQ(lktest::runProgram("ffmpeg", {"-v", "error", "-y", "-ss", "2", "-i", src, "-t", "22", "-c", "copy",
                                            "-avoid_negative_ts", "make_zero", loose}),
              0);
    const double rate = OutputValidation::probeStreams(src).frameRate;
    EXPECT_DOUBLE_EQ(rate, 10.0);
    EXPECT_TRUE(OutputValidation::validate(loose, 22).ok); // the loose duration check lets it through
    const OutputValidation::Check exact = OutputValidation::validateExact(loose, 22, rate, 3);
    EXPECT_FALSE(exact.ok);
    EXPECT_TRUE(exact.message.startsWith("The result does not last as long as the kept time")) << exact.message.toStdString();
    const QString cut = dir + "/cut.mp4";
    ASSERT_EQ(lktest::runProgram("ffmpeg", {"-v", "error", "-y", "-ss", "10", "-i", src, "-t", "6", "-c", "copy",
                                            "-avoid_negative_ts", "make_zero", cut}),
              0);
    EXPECT_TRUE(OutputValidation::validateExact(cut, 6, rate, 3).ok);
}
