// Indexing generated 10 s clips end to end (keyframes, faces, on-screen text; no CLIP
// model here) beside the bare keyframe grabs of the same clips in the same run, then the
// same with text recognition off, to show what each analyser costs over the plumbing.
#include "search/KeyframeExtraction.h"
#include "search/KeyframeIndexPipeline.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kClips = 16;

QList<VideoFile> makeClips(const QString &dir)
{
    QList<VideoFile> videos;
    for (int i = 0; i < kClips; ++i) {
        const QString path = QStringLiteral("%1/clip%2.mp4").arg(dir).arg(i);
        const QString filter =
            QStringLiteral("testsrc2=s=640x360:d=10:r=10,drawtext=fontfile=/usr/share/fonts/truetype/dejavu/"
                           "DejaVuSans-Bold.ttf:text='SCENE %1':fontsize=56:fontcolor=white:box=1:boxcolor=black:"
                           "x=(w-tw)/2:y=(h-th)/2")
                .arg(i);
        QProcess p;
        p.start("ffmpeg", {"-y", "-v", "error", "-f", "lavfi", "-i", filter, "-c:v", "libx264", "-pix_fmt",
                           "yuv420p", path});
        p.waitForFinished(120000);
        if (auto v = VideoFile::make(path, QFileInfo(path).size(), QDateTime::currentDateTime(), std::nullopt))
            videos.append(*v);
    }
    return videos;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QList<VideoFile> videos = makeClips(dir.path());
    if (videos.isEmpty()) {
        std::printf("no clips could be made (ffmpeg missing?)\n");
        return 1;
    }
    const keyframes::Sources sources = keyframes::Sources::standard();
    KeyframeIndexPipeline::Options options;
    options.keyframes = [&](const VideoFile &v, const std::function<bool()> &c) {
        return keyframes::keyframes(v, sources, c);
    };

    QElapsedTimer t;
    t.start();
    int frames = 0;
    for (const VideoFile &v : videos)
        frames += int(keyframes::keyframes(v, sources).size());
    const double grabs = t.nsecsElapsed() / 1e9;
    std::printf("keyframes: %d frames of %lld clips in %.2f s\n", frames, qlonglong(videos.size()), grabs);
    std::fflush(stdout);

    for (const bool ocr : {true, false}) {
        options.recognizeText = ocr;
        t.restart();
        int indexed = 0;
        for (const VideoFile &v : videos)
            indexed += KeyframeIndexPipeline::indexVideo(v, options).kind == VideoIndexOutcome::Kind::indexed;
        const double s = t.nsecsElapsed() / 1e9;
        std::printf("%s: %d indexed in %.2f s, %.2f videos per second, index/keyframes ratio: %.2f\n",
                    ocr ? "text recognition on" : "text recognition off", indexed, s, indexed / s, s / grabs);
        std::fflush(stdout);
    }
    return 0;
}
