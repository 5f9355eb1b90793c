// Memory of playback in the real window: selects and plays a 3840x2160 clip, then a
// 160x120 one, 20 times (the large clip alternately an MP4 for the native player and an
// MKV for libmpv), and prints the resident memory after each round and
// "RSS growth round 2 -> 20: N MB" (goal N <= 150). Runs under Xvfb (started here when no
// display is set), in a temporary home.
#include "library/AppState.h"
#include "media/VideoPlayerController.h"
#include "platform/MemoryTuning.h"
#include "ui/inspector/InspectorPane.h"
#include "ui/inspector/InspectorPlayerView.h"
#include "ui/tree/LumenkitePane.h"
#include "ui/window/LumenkiteApp.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

const int kRounds = qEnvironmentVariableIntValue("LK_BENCH_ROUNDS") > 1 ? qEnvironmentVariableIntValue("LK_BENCH_ROUNDS") : 20;

double residentMB()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

bool makeClip(const QString &path, int w, int h, const QString &codec)
{
    QProcess p;
    p.start("ffmpeg", {"-y", "-v", "error", "-f", "lavfi", "-i",
                       QStringLiteral("testsrc2=size=%1x%2:rate=25:duration=3").arg(w).arg(h), "-c:v", codec,
                       "-preset", "ultrafast", "-pix_fmt", "yuv420p", path});
    return p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
}

template <typename F> bool waitFor(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // A real window: under Xvfb when no display is at hand.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qgetenv("LK_BENCH_UNDER_XVFB") != "1") {
        qputenv("LK_BENCH_UNDER_XVFB", "1");
        qunsetenv("QT_QPA_PLATFORM");
        std::vector<char *> args{const_cast<char *>("xvfb-run"), const_cast<char *>("-a"), const_cast<char *>("-s"),
                                 const_cast<char *>("-screen 0 1920x1080x24")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("xvfb-run", args.data());
        std::fprintf(stderr, "xvfb-run is missing\n");
        return 1;
    }
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qunsetenv("QT_QPA_PLATFORM");
    QTemporaryDir home;
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        const QString dir = home.path() + (QByteArray(name) == "HOME" ? "" : "/" + QString::fromLatin1(name).toLower());
        QDir().mkpath(dir);
        qputenv(name, dir.toUtf8());
    }
    const QString videos = home.path() + "/Videos";
    QDir().mkpath(videos);
    const QString large = videos + "/large-4k.mp4";
    const QString largeMPV = videos + "/large-4k.mkv";
    const QString small = videos + "/small.mkv";
    if (!makeClip(large, 3840, 2160, "libx264") || !makeClip(small, 160, 120, "libx264")
        || !QFile::copy(large, largeMPV)) {
        std::fprintf(stderr, "ffmpeg could not make the clips\n");
        return 1;
    }

    tuneMemoryForLargeLibraries(); // as the program does
    QApplication app(argc, argv);
    ContentViewParts parts;
    parts.treePane = [](AppState *state, QWidget *parent) -> QWidget * { return new LumenkitePane(state, parent); };
    parts.inspector = makeInspectorPane;
    LumenkiteApp lumenkite(parts);
    AppState *state = lumenkite.state();
    state->setShowOnboarding(false);
    QList<VideoFile> files;
    for (const QString &path : {large, small, largeMPV})
        files.append(*VideoFile::make(path, QFileInfo(path).size(), QFileInfo(path).lastModified(), std::nullopt));
    state->setAllVideos(files);
    state->rebuildTree(true);
    lumenkite.show();
    spin(1500);

    auto player = [&]() -> VideoPlayerController * {
        auto *view = lumenkite.mainWindow()->findChild<InspectorPlayerView *>();
        return view ? view->controller() : nullptr;
    };
    // Select, play until `seconds` in, as a user clicking the row and then Play.
    auto playClip = [&](const VideoFile &video, double seconds) {
        state->selectVideo(video);
        spin(300);
        VideoPlayerController *c = player();
        if (!c)
            return false;
        c->play();
        return waitFor([&] { return c->currentURL() == video.url() && c->currentTime() > seconds; }, 15000);
    };

    double round2 = 0;
    double last = 0;
    std::printf("idle RSS: %.0f MB\n", residentMB());
    for (int round = 1; round <= kRounds; ++round) {
        const bool playedLarge = playClip(files[round % 2 ? 0 : 2], 1.0);
        const bool playedSmall = playClip(files[1], 0.5);
        spin(1500); // what is given back is given back a moment after a switch
        last = residentMB();
        if (round == 2)
            round2 = last;
        std::printf("round %2d RSS: %.0f MB%s%s\n", round, last, playedLarge ? "" : " (large clip did not play)",
                    playedSmall ? "" : " (small clip did not play)");
        std::fflush(stdout);
    }
    std::printf("RSS growth round 2 -> %d: %.0f MB (goal <= 150)\n", kRounds, last - round2);
    return 0;
}
