// Trim and merge of a 2-minute 1080p clip: one range (copied) and three ranges (encoded)
// through the export service, against the same ffmpeg command lines run by hand in the
// same run. Prints each case and `trim/ffmpeg ratio: R` over both (goal R <= 1.1).
#include "editing/VideoTrimExportService.h"
#include "media/MediaMetadataService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

bool runByHand(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForStarted() || !p.waitForFinished(-1)) return false;
    p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

double ourExport(const QString &clip, const QList<VideoClipSegment> &ranges, bool *ok)
{
    QElapsedTimer t;
    t.start();
    TrimExportEvent last;
    VideoTrimExportService::run(*VideoFile::fromFile(clip), ranges, TrimExportPreset::passthrough,
                                TrimSaveMode::saveAsNew, QString(), [&](const TrimExportEvent &e) { last = e; }, {});
    const double seconds = t.nsecsElapsed() / 1e9;
    *ok = last.kind == TrimExportEvent::Kind::completed;
    if (*ok) QFile::remove(last.outputURL.toLocalFile());
    else std::fprintf(stderr, "export failed: %s\n", qPrintable(last.message));
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<QString> ffmpeg = MediaMetadataService::ffmpegPath();
    if (!ffmpeg) {
        std::printf("trim: ffmpeg is missing\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString clip = dir.filePath("Source.mp4");
    std::printf("making a 2-minute 1080p clip...\n");
    if (!runByHand(*ffmpeg, {"-y", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=120",
                             "-f", "lavfi", "-i", "sine=frequency=440:duration=120", "-c:v", "libx264", "-preset",
                             "ultrafast", "-g", "50", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", clip})) {
        std::printf("trim: could not make the clip\n");
        return 1;
    }

    struct Case { const char *name; QList<VideoClipSegment> ranges; };
    const Case cases[] = {
        {"one range (copy)", {VideoClipSegment::make(20, 80)}},
        {"three ranges (encode)",
         {VideoClipSegment::make(10, 15), VideoClipSegment::make(50, 57), VideoClipSegment::make(90, 98)}},
    };
    // Each side runs twice, in turns, and keeps its best time: the machine is shared, and
    // whichever runs second should not pay for the other's leftovers.
    double oursTotal = 0, handTotal = 0;
    for (const Case &c : cases) {
        double hand = 1e9, ours = 1e9;
        for (int round = 0; round < 2; ++round) {
        // By hand: the command line the service builds, with nothing around it.
        const QString handOut = dir.filePath("hand.mp4");
        const QStringList handArgs =
            c.ranges.size() == 1
                ? VideoTrimExportService::copyArguments(clip, c.ranges.first(), handOut)
                : VideoTrimExportService::encodeArguments(clip, c.ranges, handOut, TrimExportPreset::passthrough, true);
        auto byHand = [&] {
            QElapsedTimer t;
            t.start();
            const bool ok = runByHand(*ffmpeg, handArgs);
            const double seconds = t.nsecsElapsed() / 1e9;
            QFile::remove(handOut);
            return ok ? seconds : -1.0;
        };
        bool ok = false;
        const double h1 = round == 0 ? byHand() : 0;
        ours = std::min(ours, ourExport(clip, c.ranges, &ok));
        const double h2 = round == 1 ? byHand() : 0;
        if (!ok || h1 < 0 || h2 < 0) {
            std::printf("trim: %s failed\n", c.name);
            return 1;
        }
        hand = std::min(hand, round == 0 ? h1 : h2);
        }
        std::printf("%-22s ours %.2f s, ffmpeg by hand %.2f s, ratio %.3f\n", c.name, ours, hand, ours / hand);
        oursTotal += ours;
        handTotal += hand;
    }
    std::printf("trim/ffmpeg ratio: %.3f\n", oursTotal / handTotal);
    return 0;
}
