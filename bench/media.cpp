// Facts and a row thumbnail for 300 clips through MediaMetadataService, against running
// the ffprobe and ffmpeg command lines for the same files with the same parallelism.
#include "media/ExternalTools.h"
#include "media/MediaMetadataService.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QtConcurrent/QtConcurrentMap>

#include <atomic>
#include <clocale>
#include <cstdio>

namespace {

constexpr int kClips = 300;

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForStarted() || !p.waitForFinished(60000))
        return false;
    p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QStringList makeClips(const QString &ffmpeg, const QString &dir)
{
    QDir().mkpath(dir);
    static const char *kinds[][2] = {{"mp4", "libx264"}, {"mov", "libx264"}, {"mkv", "libx264"}, {"webm", "libvpx-vp9"}};
    QStringList paths;
    for (int i = 0; i < kClips; ++i) {
        const auto &kind = kinds[i % 4];
        paths << dir + QStringLiteral("/clip-%1.%2").arg(i, 3, 10, QLatin1Char('0')).arg(QLatin1String(kind[0]));
    }
    QtConcurrent::blockingMap(paths, [&](const QString &path) {
        if (QFileInfo(path).size() > 0)
            return;
        const bool vp9 = path.endsWith(".webm");
        QStringList args{"-y", "-v", "error", "-f", "lavfi", "-i",
                         QStringLiteral("testsrc2=size=320x180:rate=25:duration=3"), "-c:v",
                         vp9 ? "libvpx-vp9" : "libx264"};
        if (vp9)
            args << "-deadline" << "realtime" << "-cpu-used" << "8";
        else
            args << "-preset" << "ultrafast" << "-pix_fmt" << "yuv420p";
        run(ffmpeg, args << path);
    });
    return paths;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const auto ffmpeg = MediaMetadataService::ffmpegPath();
    const auto ffprobe = MediaMetadataService::ffprobePath();
    if (!ffmpeg || !ffprobe) {
        std::printf("ffmpeg and ffprobe are needed\n");
        return 1;
    }
    const QStringList clips = makeClips(*ffmpeg, QDir::tempPath() + "/lumenkite-bench-media");
    const QSizeF rowSize(96, 56);

    // The service: every request at once, as a tree full of rows would ask.
    QElapsedTimer clock;
    clock.start();
    int thumbnails = 0, facts = 0, missing = 0;
    {
        MediaMetadataService service;
        QObject context;
        for (const QString &path : clips) {
            const QUrl url = QUrl::fromLocalFile(path);
            service.metadata(url, &context, [&](const VideoMediaInfo &info) {
                ++facts;
                missing += info.width ? 0 : 1;
            });
            service.thumbnail(url, rowSize, &context, [&](const QImage &image) {
                ++thumbnails;
                missing += image.isNull() ? 1 : 0;
            });
        }
        while (facts < clips.size() || thumbnails < clips.size())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const double serviceMs = clock.nsecsElapsed() / 1e6;

    // The programs, as many at once as there are cores.
    clock.restart();
    std::atomic<int> failures{0};
    QThreadPool pool;
    pool.setMaxThreadCount(QThread::idealThreadCount());
    QtConcurrent::blockingMap(&pool, clips, [&](const QString &path) {
        if (!run(*ffprobe, lkmedia::ffprobeArguments(path)))
            ++failures;
        if (!run(*ffmpeg, lkmedia::ffmpegThumbnailArguments(path, rowSize)))
            ++failures;
    });
    const double programsMs = clock.nsecsElapsed() / 1e6;

    std::printf("clips: %d, service: %.1f ms (%d missing), programs: %.1f ms (%d failed), %d cores\n",
                int(clips.size()), serviceMs, missing, programsMs, int(failures), QThread::idealThreadCount());
    std::printf("service/programs time ratio: %.3f\n", serviceMs / programsMs);
    return 0;
}
