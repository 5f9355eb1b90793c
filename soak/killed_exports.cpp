// Trims and compressions killed with SIGKILL at random moments. The real services run in a
// child process (this program with --worker); after each kill the original must be in place
// with its own content, or in the Trash with the new file in its place. Then a "next start"
// (this program with --cleanup, the call the app makes at start) must leave no partial
// output, no set-aside original and no journal behind.

#include "SoakFiles.h"
#include "SoakReport.h"

#include "editing/BatchCompressionService.h"
#include "editing/PartialOutputs.h"
#include "editing/VideoTrimExportService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <random>

namespace {

const QString kClipName = QStringLiteral("clip.mp4");

// The real file steps, each after a pause, so that kills also land inside the swap and
// not only in the much longer encode.
class SlowSteps : public SafeReplace::FileSteps {
public:
    bool rename(const QString &from, const QString &to, QString *error) override
    {
        pause();
        return FileSteps::rename(from, to, error);
    }
    bool trash(const QString &path, QString *error) override
    {
        pause();
        return FileSteps::trash(path, error);
    }
    bool makeFolder(const QString &path, QString *error) override
    {
        pause();
        return FileSteps::makeFolder(path, error);
    }

private:
    void pause()
    {
        if (!m_announced) {
            m_announced = true;
            std::printf("SWAP\n");
            std::fflush(stdout);
        }
        QThread::msleep(200);
    }
    bool m_announced = false;
};

// Tells the parent once the encode is done, so that some kills can aim at the checks after it.
void announceEncoded(double fraction)
{
    static bool announced = false;
    if (announced || fraction < 0.98) return;
    announced = true;
    std::printf("ENCODED\n");
    std::fflush(stdout);
}

int runWorker(const QString &kind, const QString &mode, const QString &path)
{
    const auto steps = std::make_shared<SlowSteps>();
    const std::optional<VideoFile> video = VideoFile::fromFile(path);
    if (!video) return 3;
    if (kind == "trim") {
        VideoTrimExportService::run(
            *video, {VideoClipSegment::make(0.4, 3.6)}, TrimExportPreset::h2641080p,
            mode == "replace" ? TrimSaveMode::replaceOriginal : TrimSaveMode::saveAsNew, QString(),
            [](const TrimExportEvent &e) {
                if (e.kind == TrimExportEvent::Kind::progress) announceEncoded(e.fraction);
                if (e.kind == TrimExportEvent::Kind::failed) std::fprintf(stderr, "%s\n", qUtf8Printable(e.message));
            },
            {}, TrimExportOptions{std::nullopt, steps});
    } else {
        BatchCompressionService::run(
            {*video}, CompressionPreset::hevcBalanced, true,
            mode == "replace" ? CompressionSaveMode::replaceOriginal : CompressionSaveMode::saveAsNew,
            [](const BatchCompressionEvent &e) {
                if (e.kind == BatchCompressionEvent::Kind::itemProgress) announceEncoded(e.fraction);
                if (e.kind == BatchCompressionEvent::Kind::itemFailed)
                    std::fprintf(stderr, "%s\n", qUtf8Printable(e.message));
            },
            {}, BatchCompressionOptions{std::nullopt, steps});
    }
    return 0;
}

int runCleanup()
{
    const PartialOutputs::Cleanup c = PartialOutputs::cleanUp();
    std::printf("%d %d %d\n", c.removedPartials, c.restoredOriginals, c.trashedOriginals);
    for (const QString &p : c.problems) std::fprintf(stderr, "%s\n", qUtf8Printable(p));
    return c.problems.isEmpty() ? 0 : 2;
}

struct Scenario {
    QString kind, mode;
    QString name() const { return kind + "-" + mode; }
    QString newName() const
    {
        if (mode == "replace") return kClipName;
        return kind == "trim" ? QStringLiteral("clip_trimmed.mp4") : QStringLiteral("clip_compressed.mp4");
    }
};

// Names this system leaves beside a video while it works.
QStringList leftovers(const QString &folder)
{
    QStringList out;
    for (const QString &n : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        if (n.startsWith(".Lumenkite-")) out << n;
    return out;
}

int journalCount()
{
    return int(QDir(PartialOutputs::journalFolder()).entryList(QDir::Files | QDir::Hidden).size());
}

// Programs still running on files of `folder` (an encoder that outlived its parent).
int runningOn(const QString &folder)
{
    int count = 0;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(QFile::encodeName(folder + "/"))) ++count;
    }
    return count;
}

void emptyTrash()
{
    const QString trash = QFileInfo(soak::trashFiles()).absolutePath();
    QDir(trash).removeRecursively();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Lumenkite");
    QCoreApplication::setApplicationName("Lumenkite");
    const QStringList args = app.arguments();
    if (args.value(1) == "--worker") return runWorker(args.value(2), args.value(3), args.value(4));
    if (args.value(1) == "--cleanup") return runCleanup();

    SoakReport report;
    report.check = "killed_exports";
    QTemporaryDir home(QDir::tempPath() + "/lk-soak-killed-XXXXXX");
    soak::useHome(home.path());
    const QString work = home.path() + "/videos";
    QDir().mkpath(work);

    // A few seconds of video, large enough that the compressed result is smaller.
    const QString fixture = home.path() + "/fixture.mp4";
    if (!soak::makeClip(fixture, 4, "640x360", {"-c:v", "mpeg4", "-q:v", "2"})) {
        std::printf("could not make the fixture clip with ffmpeg\n");
        report.crashes = 1;
        report.figures = "no fixture";
        report.print();
        return 1;
    }
    const QByteArray originalHash = soak::hashFile(fixture);

    const unsigned seed = qEnvironmentVariableIsSet("LK_SOAK_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("LK_SOAK_SEED"))
                              : unsigned(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937 random(seed);
    const int runs = qEnvironmentVariableIsSet("LK_SOAK_KILLS") ? qEnvironmentVariableIntValue("LK_SOAK_KILLS") : 20;
    const QString self = QCoreApplication::applicationFilePath();

    int encoding = 0, setAside = 0, swapped = 0, beforeOutput = 0, finished = 0;
    int restored = 0, trashed = 0, removed = 0, left = 0, orphans = 0;
    QStringList timings;

    const QList<Scenario> scenarios{{"trim", "replace"}, {"trim", "new"}, {"comp", "replace"}, {"comp", "new"}};
    for (const Scenario &scenario : scenarios) {
        // An uninterrupted run gives the span the kills are spread over, and must itself succeed.
        qint64 span = 0;
        {
            const QString folder = work + "/" + scenario.name() + "-whole";
            QDir().mkpath(folder);
            QFile::copy(fixture, folder + "/" + kClipName);
            emptyTrash();
            QElapsedTimer clock;
            clock.start();
            QProcess p;
            p.start(self, {"--worker", scenario.kind, scenario.mode, folder + "/" + kClipName});
            p.waitForFinished(600000);
            span = clock.elapsed();
            const bool replaced = scenario.mode == "replace";
            const bool ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
                            QFileInfo::exists(folder + "/" + scenario.newName()) &&
                            soak::hashFile(folder + "/" + scenario.newName()) != originalHash &&
                            (replaced ? soak::inTrash(originalHash)
                                      : soak::hashFile(folder + "/" + kClipName) == originalHash) &&
                            leftovers(folder).isEmpty();
            if (!ok) {
                std::printf("%s: the uninterrupted run did not end as it should: %s\n", qUtf8Printable(scenario.name()),
                            p.readAllStandardError().constData());
                if (p.exitStatus() != QProcess::NormalExit) ++report.crashes;
                if (!QFileInfo::exists(folder + "/" + kClipName) && !soak::inTrash(originalHash)) ++report.lost;
            }
            timings << scenario.name() + " " + QString::number(span) + " ms";
        }

        for (int run = 0; run < runs; ++run) {
            const QString folder = work + "/" + scenario.name() + "-" + QString::number(run);
            const QString clip = folder + "/" + kClipName;
            QDir().mkpath(folder);
            QFile::copy(fixture, clip);
            emptyTrash();
            // A third of the kills anywhere in the run (mostly during the encode), a third just
            // after the encode (the result's check), a third once the swap began.
            const int aim = run % 3;
            const char *marker = aim == 1 ? "ENCODED" : "SWAP";
            std::uniform_real_distribution<double> anywhere(0.0, 1.0), checks(0.0, 150.0), swap(0.0, 900.0);
            const qint64 delay = qint64(aim == 0 ? span * anywhere(random) : aim == 1 ? checks(random) : swap(random));

            QProcess worker;
            worker.start(self, {"--worker", scenario.kind, scenario.mode, clip});
            worker.waitForStarted(10000);
            bool endedAlone = false;
            if (aim != 0) {
                QByteArray said;
                while (!said.contains(marker) && worker.state() != QProcess::NotRunning) {
                    worker.waitForReadyRead(50);
                    said += worker.readAllStandardOutput();
                }
            }
            endedAlone = worker.state() == QProcess::NotRunning || worker.waitForFinished(int(std::max<qint64>(delay, 1)));
            if (!endedAlone) {
                worker.kill();
                worker.waitForFinished(-1);
            } else if (worker.exitStatus() != QProcess::NormalExit) {
                ++report.crashes;
                std::printf("%s #%d: the worker died by itself\n", qUtf8Printable(scenario.name()), run);
            }
            ++report.inputs;

            // An encode must end with the program that ran it.
            if (!endedAlone) {
                QElapsedTimer grace;
                grace.start();
                while (runningOn(folder) > 0 && grace.elapsed() < 2000) QThread::msleep(20);
                if (const int n = runningOn(folder)) {
                    orphans += n;
                    std::printf("%s #%d: %d program(s) still running on the clip after the kill\n",
                                qUtf8Printable(scenario.name()), run, n);
                }
            }

            // Where the kill landed, read from what it left.
            const QStringList leftNow = leftovers(folder);
            const bool backup = std::any_of(leftNow.cbegin(), leftNow.cend(),
                                            [](const QString &n) { return n.startsWith(".Lumenkite-Backup-"); });
            const bool newThere = scenario.mode == "replace"
                                      ? soak::hashFile(clip) != originalHash && QFileInfo::exists(clip)
                                      : QFileInfo::exists(folder + "/" + scenario.newName());
            if (endedAlone) ++finished;
            else if (backup) ++setAside;
            else if (newThere) ++swapped;
            else if (!leftNow.isEmpty()) ++encoding;
            else ++beforeOutput;

            // The next start.
            QProcess cleanup;
            cleanup.start(self, {"--cleanup"});
            cleanup.waitForFinished(120000);
            if (cleanup.exitStatus() != QProcess::NormalExit) ++report.crashes;
            const QList<QByteArray> counts = cleanup.readAllStandardOutput().trimmed().split(' ');
            removed += counts.value(0).toInt();
            restored += counts.value(1).toInt();
            trashed += counts.value(2).toInt();
            const QByteArray problems = cleanup.readAllStandardError().trimmed();
            if (!problems.isEmpty()) std::printf("cleanup: %s\n", problems.constData());

            const bool inPlace = soak::hashFile(clip) == originalHash;
            const bool safeInTrash = soak::inTrash(originalHash) && QFileInfo::exists(folder + "/" + scenario.newName());
            if (!inPlace && !safeInTrash) {
                ++report.lost;
                std::printf("%s #%d (kill at %lld ms): the original is neither in place nor in the Trash; left: %s\n",
                            qUtf8Printable(scenario.name()), run, delay, qUtf8Printable(leftovers(folder).join(", ")));
            }
            if (scenario.mode == "new" && !inPlace) {
                ++report.lost;
                std::printf("%s #%d: saving as new moved the original\n", qUtf8Printable(scenario.name()), run);
            }
            const int after = int(leftovers(folder).size()) + journalCount();
            if (after > 0)
                std::printf("%s #%d: left after the next start: %s (+%d journal)\n", qUtf8Printable(scenario.name()), run,
                            qUtf8Printable(leftovers(folder).join(", ")), journalCount());
            left += after;
            QDir(folder).removeRecursively();
        }
    }

    report.figures = QStringLiteral("seed %1; kills landed: before output %2, encoding/validating %3, original set aside %4, "
                                    "new file placed %5, run already ended %6; next start: partials removed %7, originals "
                                    "restored %8, sent to Trash %9, leftovers %10; encoders outliving a kill %11; uninterrupted: %12")
                         .arg(seed)
                         .arg(beforeOutput)
                         .arg(encoding)
                         .arg(setAside)
                         .arg(swapped)
                         .arg(finished)
                         .arg(removed)
                         .arg(restored)
                         .arg(trashed)
                         .arg(left)
                         .arg(orphans)
                         .arg(timings.join(", "))
                         .toStdString();
    report.print();
    return report.status() == 0 && left == 0 && orphans == 0 ? 0 : 1;
}
