// Batch compression of five 5-second 1080p clips through the service (saved as new files),
// against the same ffmpeg command lines run one after the other by hand in the same run.
// Prints `compress/ffmpeg ratio: R` (goal R <= 1.05) and the bytes saved.
#include "editing/BatchCompressionService.h"
#include "media/MediaMetadataService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<QString> ffmpeg = MediaMetadataService::ffmpegPath();
    if (!ffmpeg) {
        std::printf("compress: ffmpeg is missing\n");
        return 1;
    }
    QTemporaryDir dir;
    const CompressionPreset preset = CompressionPreset::hevcBalanced;
    QList<VideoFile> videos;
    std::printf("making five 5-second 1080p clips...\n");
    for (int i = 0; i < 5; ++i) {
        const QString clip = dir.filePath(QStringLiteral("Clip%1.mp4").arg(i));
        // A heavy camera-like source: a detailed moving picture at a high bit rate, with sound.
        if (!runByHand(*ffmpeg, {"-y", "-v", "error", "-f", "lavfi", "-i",
                                 QStringLiteral("testsrc2=size=1920x1080:rate=30:duration=5"), "-f", "lavfi", "-i",
                                 QStringLiteral("sine=frequency=%1:duration=5").arg(300 + 50 * i), "-shortest",
                                 "-c:v", "libx264", "-preset", "ultrafast", "-crf", "12", "-pix_fmt", "yuv420p",
                                 "-c:a", "aac", clip})) {
            std::printf("compress: could not make the clips\n");
            return 1;
        }
        videos << *VideoFile::fromFile(clip);
    }

    // By hand: the same command lines, one after the other.
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < videos.size(); ++i) {
        const QString in = videos[i].url().toLocalFile();
        const QString out = dir.filePath(QStringLiteral("hand%1.mp4").arg(i));
        if (!runByHand(*ffmpeg, BatchCompressionService::ffmpegArguments(in, out, preset, true, "aac"))) {
            std::printf("compress: ffmpeg by hand failed\n");
            return 1;
        }
        QFile::remove(out);
    }
    const double byHand = t.nsecsElapsed() / 1e9;

    t.restart();
    qint64 saved = 0;
    int kept = 0;
    BatchCompressionService::run(
        videos, preset, true, CompressionSaveMode::saveAsNew,
        [&](const BatchCompressionEvent &e) {
            if (e.kind == BatchCompressionEvent::Kind::itemCompleted && !e.result.skippedBecauseNotSmaller) ++kept;
            if (e.kind == BatchCompressionEvent::Kind::itemFailed)
                std::fprintf(stderr, "%s: %s\n", qPrintable(e.videoName), qPrintable(e.message));
            if (e.kind == BatchCompressionEvent::Kind::finished) saved = e.totalSavedBytes;
        },
        {});
    const double ours = t.nsecsElapsed() / 1e9;
    qint64 before = 0;
    for (const VideoFile &v : videos) before += v.fileSize;

    std::printf("ffmpeg by hand: %.2f s\n", byHand);
    std::printf("our batch:      %.2f s (%d of %lld kept)\n", ours, kept, qlonglong(videos.size()));
    std::printf("bytes saved: %lld of %lld (%.1f %%)\n", qlonglong(saved), qlonglong(before),
                before > 0 ? 100.0 * double(saved) / double(before) : 0.0);
    std::printf("compress/ffmpeg ratio: %.3f\n", byHand > 0 ? ours / byHand : 0.0);
    return kept == videos.size() ? 0 : 1;
}
