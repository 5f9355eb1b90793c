// The program without ffmpeg, ffprobe, libmpv and the CLIP helper: PATH and the library path
// hold none of them, and LUMENKITE_HIDE_TOOLS hides them from the program's own search (it
// also looks in fixed folders and in the loader's places). In this process: the
// tools count as missing, each has its sentence in every language, a native clip still plays
// and a clip that needs libmpv says why it does not. Then the real program starts on a small
// library (a native clip and an MKV selected, the settings open, in three languages) and
// must draw its window and end normally; the pictures go to <build>/soak-pictures.

#include "SoakFiles.h"
#include "SoakReport.h"

#include "library/L10n.h"
#include "media/LibMPVLibrary.h"
#include "media/VideoPlayerController.h"
#include "ui/inspector/InspectorPlayerCard.h"
#include "ui/window/MissingTools.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>

#include <cstdio>
#include <functional>

namespace {

bool waitFor(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Whether a picture holds more than one colour (a window that drew something).
bool drawn(const QString &png)
{
    const QImage image(png);
    if (image.isNull()) return false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if (image.pixel(x, y) != first) return true;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    SoakReport report;
    report.check = "missing_tools";
    QTemporaryDir root(QDir::tempPath() + "/lk-soak-tools-XXXXXX");
    const QString home = root.path() + "/home";
    const QString native = home + "/Videos/Holidays/Beach.mp4";
    const QString other = home + "/Videos/Holidays/Harbour.mkv";
    QDir().mkpath(QFileInfo(native).absolutePath());
    // The fixtures are made while ffmpeg can still be found.
    if (!soak::makeClip(native, 4, "640x360", {"-c:v", "libx264", "-pix_fmt", "yuv420p"}) ||
        !soak::makeClip(other, 4, "640x360", {"-c:v", "libx264", "-pix_fmt", "yuv420p"})) {
        std::printf("could not make the fixture clips with ffmpeg\n");
        report.crashes = 1;
        report.print();
        return 1;
    }
    const QString emptyPath = root.path() + "/bin";
    QDir().mkpath(emptyPath);
    ::setenv("PATH", QFile::encodeName(emptyPath).constData(), 1);
    ::setenv("LD_LIBRARY_PATH", QFile::encodeName(emptyPath).constData(), 1);
    ::setenv("LUMENKITE_HIDE_TOOLS", "ffmpeg,ffprobe,libmpv,clip-helper", 1);
    soak::useHome(root.path() + "/self");

    QApplication app(argc, argv);
    int checks = 0, failed = 0;
    auto expect = [&](bool ok, const QString &what) {
        ++checks;
        ++report.inputs;
        if (!ok) ++failed;
        std::printf("  %s %s\n", ok ? "ok  " : "FAIL", qUtf8Printable(what));
    };

    // In this process.
    const MissingTools::Tools tools = MissingTools::probe();
    expect(!tools.ffmpeg && !tools.ffprobe && !tools.libmpv && !tools.clipHelper,
           "ffmpeg, ffprobe, libmpv and lumenkite-clip all count as missing");
    for (AppLanguage language : AppLanguageInfo::allCases()) {
        const QStringList messages = MissingTools::messages(tools, language);
        expect(messages.size() == 4 && std::none_of(messages.cbegin(), messages.cend(), [](const QString &m) {
                   return m.trimmed().isEmpty() || m.startsWith("tools.");
               }),
               "one sentence per missing tool in " + AppLanguageInfo::rawValue(language) + ": " + messages.join(" | "));
    }
    {
        VideoPlayerController player;
        player.load(QUrl::fromLocalFile(native));
        const bool loaded = waitFor([&] { return player.duration() > 3; }, 20000);
        player.play();
        const bool advancing = loaded && waitFor([&] { return player.currentTime() > 0.8; }, 20000);
        expect(player.canPlayCurrentFile() && !player.isUsingMPV() && advancing,
               QStringLiteral("the MP4 plays through the native player (at %1 s of %2 s)")
                   .arg(player.currentTime())
                   .arg(player.duration()));
        player.load(QUrl::fromLocalFile(other));
        waitFor([&] { return !player.canPlayCurrentFile(); }, 5000);
        expect(!player.canPlayCurrentFile(), "the MKV is marked as not playable instead of failing silently");
    }
    {
        CannotPlayPlaceholder card;
        card.setExtension("mkv");
        card.setLanguage(AppLanguage::en);
        expect(card.reasonText() == L10n::text("tools.cannotPlayWithoutLibmpv", AppLanguage::en),
               "the card of an MKV says: " + card.reasonText());
        card.setExtension("mp4");
        expect(card.reasonText().isEmpty(), "the card of an MP4 blames no library");
    }

    // The real program.
    const QString program = QStringLiteral(LK_BINARY_DIR "/src/app/lumenkite");
    const QString pictures = QStringLiteral(LK_BINARY_DIR "/soak-pictures");
    QDir().mkpath(pictures);
    struct Run {
        QString name, language;
        QStringList args;
    };
    const QList<Run> runs{
        {"start", "en", {}}, // soon after the start: the toast naming what is missing
        {"native", "en", {"--select-video", native}},
        {"mkv", "en", {"--select-video", other}},
        {"settings", "en", {"--show", "settings"}},
        {"settings-ja", "ja", {"--show", "settings"}},
        {"mkv-de", "de", {"--select-video", other}},
    };
    for (const Run &run : runs) {
        // A fresh library each time, so that every start finds and says the same.
        const QString config = home + "/.config/Lumenkite";
        QDir(home + "/.local").removeRecursively();
        QDir().mkpath(config);
        QFile conf(config + "/Lumenkite.conf");
        if (conf.open(QIODevice::WriteOnly | QIODevice::Truncate))
            conf.write("[General]\nLumenkite.language=" + run.language.toUtf8() +
                       "\nLumenkite.hasCompletedOnboarding=true\n");
        conf.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("XDG_DATA_HOME", home + "/.local/share");
        env.insert("XDG_CACHE_HOME", home + "/.cache");
        env.insert("XDG_VIDEOS_DIR", home + "/Videos");
        env.insert("LANG", "C.UTF-8");
        env.insert("QT_QPA_PLATFORM", "xcb");
        const QString png = pictures + "/missing-tools-" + run.name + ".png";
        QFile::remove(png);
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program, QStringList{"--capture-window", png, "--appearance", "light"} + run.args);
        const bool ended = p.waitForFinished(120000);
        if (!ended) p.kill(), p.waitForFinished(-1);
        const bool normal = ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!normal) ++report.crashes;
        expect(normal && drawn(png), "the program started (" + run.name + "), drew its window and ended: " + png);
    }

    report.figures = QStringLiteral("checks %1, failed %2; pictures in %3").arg(checks).arg(failed).arg(pictures).toStdString();
    report.print();
    return report.status() == 0 && failed == 0 ? 0 : 1;
}
