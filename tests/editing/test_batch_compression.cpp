// Batch compression: real clips through the real ffmpeg (kept when smaller, discarded when
// not), stand-in ffmpeg programs for failures and for a stop while one runs, and the
// replacement of the original made to fail at every step.

#include "editing/BatchCompressionService.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>

using namespace BatchCompressionService;
using Kind = BatchCompressionEvent::Kind;

namespace {

QString freshFolder(const QString &name)
{
    const QString dir = lktest::sandboxRoot() + "/comp-" + name;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

// Detailed picture at a very high bit rate: any sane HEVC encode is far smaller.
bool makeLarge(const QString &path)
{
    return lktest::ffmpegOutput(path, {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=4", "-f",
                                       "lavfi", "-i", "sine=frequency=440:duration=4", "-shortest", "-c:v",
                                       "libx264", "-preset", "ultrafast", "-crf", "6", "-pix_fmt", "yuv420p",
                                       "-c:a", "aac"});
}
// A still picture squeezed to almost nothing: re-encoding it only adds bytes.
bool makeTiny(const QString &path)
{
    return lktest::ffmpegOutput(path, {"-f", "lavfi", "-i", "color=c=gray:size=160x120:rate=5:duration=4", "-c:v",
                                       "libx264", "-preset", "veryslow", "-crf", "51", "-pix_fmt", "yuv420p"});
}

VideoFile videoAt(const QString &path) { return *VideoFile::fromFile(path); }

QString probe(const QString &path, const QStringList &args)
{
    QString out;
    lktest::runProgram("ffprobe", QStringList{"-v", "error"} + args + QStringList{path}, &out);
    return out.trimmed();
}

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({".Lumenkite-*"}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QString fakeFFmpeg(const QString &folder, const QString &body)
{
    // The output path is always the last argument.
    return lktest::writeScript(folder + "/fake-ffmpeg", "for last; do :; done\n" + body);
}

QList<BatchCompressionEvent> runNow(const QList<VideoFile> &videos, CompressionPreset preset,
                                    CompressionSaveMode mode, const BatchCompressionOptions &options = {},
                                    std::function<bool()> cancelled = {}, QList<double> *progress = nullptr)
{
    // The item events only; progress fractions go to `progress`.
    QList<BatchCompressionEvent> events;
    run(videos, preset, true, mode, [&](const BatchCompressionEvent &e) {
        if (e.kind != BatchCompressionEvent::Kind::itemProgress) events << e;
        else if (progress) *progress << e.fraction;
        if (progress && e.kind == BatchCompressionEvent::Kind::itemStarted) *progress << -1;
    }, cancelled, options);
    return events;
}

QList<Kind> kindsOf(const QList<BatchCompressionEvent> &events, bool withProgress = false)
{
    QList<Kind> kinds;
    for (const auto &e : events)
        if (withProgress || e.kind != Kind::itemProgress) kinds << e.kind;
    return kinds;
}

} // namespace

TEST(BatchCompressionNames, TargetsNeverTakeAnotherFile)
{
    const QString dir = freshFolder("names");
    for (const char *name : {"clip.mov", "clip_compressed.mp4", "clip.mp4", "own.mp4"})
        ASSERT_TRUE(lktest::writeSizedFile(dir + "/" + name, 10));
    EXPECT_EQ(saveAsNewTarget(dir, "clip"), dir + "/clip_compressed_2.mp4");
    EXPECT_EQ(saveAsNewTarget(dir, "other"), dir + "/other_compressed.mp4");
    EXPECT_EQ(replaceTarget(dir, "clip", dir + "/clip.mov"), dir + "/clip_2.mp4");
    EXPECT_EQ(replaceTarget(dir, "own", dir + "/own.mp4"), dir + "/own.mp4"); // replaced in place
    EXPECT_TRUE(temporaryFileName().startsWith(".Lumenkite-Comp-"));
}

TEST(BatchCompressionRun, KeepsSmallerResultsAndDiscardsLargerOnes)
{
    const QString dir = freshFolder("keep");
    ASSERT_TRUE(makeLarge(dir + "/large.mov"));
    ASSERT_TRUE(makeTiny(dir + "/tiny.mp4"));
    const QByteArray tinyBefore = [&] { QFile f(dir + "/tiny.mp4"); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    const QList<VideoFile> videos{videoAt(dir + "/large.mov"), videoAt(dir + "/tiny.mp4")};

    QList<double> fractions; // -1 marks an item's start
    const auto events = runNow(videos, CompressionPreset::hevcBalanced, CompressionSaveMode::saveAsNew, {}, {},
                               &fractions);
    ASSERT_EQ(kindsOf(events), (QList<Kind>{Kind::itemStarted, Kind::itemCompleted, Kind::itemStarted,
                                            Kind::itemCompleted, Kind::finished}));
    // Progress from ffmpeg's own reports climbs to 1 for each item.
    double last = -1;
    int between = 0;
    for (double f : fractions) {
        EXPECT_TRUE(f == -1 || f >= last);
        if (f > 0.2 && f < 1.0) ++between;
        last = f;
    }
    EXPECT_EQ(fractions.count(1.0), 2);
    EXPECT_GT(between, 0);

    const BatchCompressionResult kept = events[1].result, skipped = events[3].result;
    const QString output = kept.outputURL.toLocalFile();
    EXPECT_EQ(output, dir + "/large_compressed.mp4");
    EXPECT_FALSE(kept.skippedBecauseNotSmaller);
    EXPECT_FALSE(kept.replacedOriginal);
    EXPECT_EQ(kept.compressedBytes, QFileInfo(output).size());
    EXPECT_LT(kept.compressedBytes, kept.originalBytes);
    EXPECT_TRUE(QFileInfo::exists(dir + "/large.mov"));
    EXPECT_EQ(probe(output, {"-select_streams", "v:0", "-show_entries", "stream=codec_name,codec_tag_string,pix_fmt",
                             "-of", "csv=p=0"}),
              "hevc,hvc1,yuv420p");
    EXPECT_EQ(probe(output, {"-select_streams", "a:0", "-show_entries", "stream=codec_name", "-of", "csv=p=0"}),
              "aac"); // AAC fits MP4 and is copied
    EXPECT_NEAR(probe(output, {"-show_entries", "format=duration", "-of", "csv=p=0"}).toDouble(), 4.0, 0.3);

    EXPECT_TRUE(skipped.skippedBecauseNotSmaller);
    EXPECT_EQ(skipped.compressedBytes, skipped.originalBytes);
    EXPECT_EQ(skipped.outputURL, videos[1].url());
    EXPECT_FALSE(QFileInfo::exists(dir + "/tiny_compressed.mp4"));
    QFile tiny(dir + "/tiny.mp4");
    ASSERT_TRUE(tiny.open(QIODevice::ReadOnly));
    EXPECT_EQ(tiny.readAll(), tinyBefore);

    const BatchCompressionEvent &done = events.last();
    EXPECT_EQ(done.results, (QList<BatchCompressionResult>{kept, skipped}));
    // A new file beside an original that stays gives no space back.
    EXPECT_EQ(done.totalSavedBytes, 0);
    EXPECT_EQ(kept.reclaimedBytes(), 0);
    EXPECT_TRUE(leftovers(dir).isEmpty());
}

TEST(BatchCompressionRun, ReplacesTheOriginalInPlace)
{
    const QString dir = freshFolder("replace");
    ASSERT_TRUE(makeLarge(dir + "/large.mov"));
    const auto events = runNow({videoAt(dir + "/large.mov")}, CompressionPreset::h2641080p,
                               CompressionSaveMode::replaceOriginal);
    ASSERT_EQ(events.size() > 1 ? events[events.size() - 2].kind : Kind::finished, Kind::itemCompleted);
    const BatchCompressionResult r = events[events.size() - 2].result;
    EXPECT_TRUE(r.replacedOriginal);
    EXPECT_EQ(r.outputURL.toLocalFile(), dir + "/large.mp4");
    EXPECT_FALSE(QFileInfo::exists(dir + "/large.mov"));
    EXPECT_EQ(probe(dir + "/large.mp4", {"-select_streams", "v:0", "-show_entries", "stream=codec_name", "-of",
                                         "csv=p=0"}),
              "h264");
}

// Failures before anything is put in place: the item fails with the right text, the run
// goes on, the source is untouched and nothing is left behind.
TEST(BatchCompressionRun, FailedItemsLeaveTheSourceAlone)
{
    const QString dir = freshFolder("fail");
    ASSERT_TRUE(makeLarge(dir + "/large.mov"));
    ASSERT_TRUE(lktest::ffmpegOutput(dir + "/short.mp4", {"-f", "lavfi", "-i", "testsrc2=size=160x120:duration=1",
                                                           "-c:v", "libx264", "-preset", "ultrafast"}));
    QFile::copy(dir + "/large.mov", dir + "/large.mkv");
    struct Case {
        const char *name;
        QString ffmpeg; // empty: none installed
        QString file;
        QString message;
    };
    const QString fakes = freshFolder("fail-fakes");
    const Case cases[] = {
        {"no ffmpeg, native", "", "large.mov", "ffmpeg not available."},
        {"no ffmpeg, other format", "", "large.mkv", "Format .mkv requires native MP4/MOV or optional codec tools."},
        {"ffmpeg exits 1", fakeFFmpeg(fakes, "echo 'Unknown encoder libx265' >&2; echo junk > \"$last\"; exit 1"),
         "large.mov", "Unknown encoder libx265"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BatchCompressionOptions options;
        options.ffmpegPath = c.ffmpeg;
        const auto events = runNow({videoAt(dir + "/" + c.file), videoAt(dir + "/" + c.file)},
                                   CompressionPreset::hevcBalanced, CompressionSaveMode::replaceOriginal, options);
        ASSERT_EQ(kindsOf(events), (QList<Kind>{Kind::itemStarted, Kind::itemFailed, Kind::itemStarted,
                                                Kind::itemFailed, Kind::finished}));
        EXPECT_EQ(events[1].message, c.message);
        EXPECT_EQ(events[1].videoName, c.file);
        EXPECT_TRUE(events.last().results.isEmpty());
        EXPECT_TRUE(QFileInfo::exists(dir + "/" + c.file));
        EXPECT_TRUE(leftovers(dir).isEmpty());
    }

    // An encode that exits 0 but writes a much shorter video is not a compressed copy.
    BatchCompressionOptions options;
    options.ffmpegPath = fakeFFmpeg(freshFolder("fail-short"), "cp '" + dir + "/short.mp4' \"$last\"");
    const auto events = runNow({videoAt(dir + "/large.mov")}, CompressionPreset::hevcBalanced,
                               CompressionSaveMode::replaceOriginal, options);
    ASSERT_EQ(kindsOf(events), (QList<Kind>{Kind::itemStarted, Kind::itemFailed, Kind::finished}));
    EXPECT_TRUE(events[1].message.contains("does not last as long as the kept time")) << events[1].message.toStdString();
    EXPECT_TRUE(QFileInfo::exists(dir + "/large.mov"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/large.mp4"));
    EXPECT_TRUE(leftovers(dir).isEmpty());
}

namespace {

// Real file steps, except that step number `failAt` (counted over every step) fails.
class FailingSteps : public SafeReplace::FileSteps {
public:
    explicit FailingSteps(int failAt) : m_failAt(failAt) {}
    int count = 0;
    std::function<void()> onFirstStep;
    bool rename(const QString &from, const QString &to, QString *error) override
    {
        return step(error) && FileSteps::rename(from, to, error);
    }
    bool trash(const QString &path, QString *error) override { return step(error) && FileSteps::trash(path, error); }
    bool makeFolder(const QString &path, QString *error) override
    {
        return step(error) && FileSteps::makeFolder(path, error);
    }

private:
    bool step(QString *error)
    {
        if (count == 0 && onFirstStep) onFirstStep();
        if (++count != m_failAt) return true;
        if (error) *error = "injected failure";
        return false;
    }
    int m_failAt;
};

} // namespace

// In place of an .mp4 of the same name: whichever step fails, a whole video stays at the
// source's path (the original or the result), and success is reported only with the result there.
TEST(BatchCompressionRun, ReplacementSurvivesAFailureAtEveryStep)
{
    const QString fixture = freshFolder("replace-fixture");
    ASSERT_TRUE(makeLarge(fixture + "/clip.mp4"));
    // A stand-in encoder that writes a real, smaller video of the same length at once.
    ASSERT_TRUE(lktest::ffmpegOutput(fixture + "/small.mp4", {"-i", fixture + "/clip.mp4", "-c:v", "libx264",
                                                               "-preset", "ultrafast", "-crf", "35", "-an"}));
    const QString fake = fakeFFmpeg(fixture, "cp '" + fixture + "/small.mp4' \"$last\"");
    const qint64 smallSize = QFileInfo(fixture + "/small.mp4").size();
    bool sawSuccess = false;
    for (int failAt = 1; failAt <= 8 && !sawSuccess; ++failAt) {
        SCOPED_TRACE("failing step " + std::to_string(failAt));
        const QString dir = freshFolder("replace-" + QString::number(failAt));
        ASSERT_TRUE(QFile::copy(fixture + "/clip.mp4", dir + "/clip.mp4"));
        const qint64 originalSize = QFileInfo(dir + "/clip.mp4").size();
        auto steps = std::make_shared<FailingSteps>(failAt);
        BatchCompressionOptions options;
        options.ffmpegPath = fake;
        options.fileSteps = steps;
        const auto events = runNow({videoAt(dir + "/clip.mp4")}, CompressionPreset::hevcBalanced,
                                   CompressionSaveMode::replaceOriginal, options);
        const QList<Kind> kinds = kindsOf(events);
        ASSERT_EQ(kinds.size(), 3);
        const qint64 inPlace = QFileInfo(dir + "/clip.mp4").size();
        if (kinds[1] == Kind::itemCompleted) {
            sawSuccess = true;
            EXPECT_EQ(inPlace, smallSize);
            // An original the Trash refused is still on disk: nothing was reclaimed, and the
            // remark says where it is.
            const BatchCompressionResult &r = events[1].result;
            if (r.originalKept) {
                EXPECT_EQ(events.last().totalSavedBytes, 0);
                EXPECT_TRUE(r.remark.contains(".Lumenkite-Backup-")) << r.remark.toStdString();
                EXPECT_EQ(QFileInfo(r.remark.mid(r.remark.indexOf(dir)).chopped(1)).size(), originalSize);
            } else {
                EXPECT_EQ(events.last().totalSavedBytes, originalSize - smallSize);
            }
        } else {
            ASSERT_EQ(kinds[1], Kind::itemFailed);
            EXPECT_FALSE(events[1].message.isEmpty());
            EXPECT_TRUE(inPlace == originalSize || inPlace == smallSize) << inPlace;
            EXPECT_TRUE(events.last().results.isEmpty());
            // A finished file that is the only copy stays (the message says where); no other leftovers.
            for (const QString &name : leftovers(dir))
                EXPECT_TRUE(events[1].message.contains(name)) << name.toStdString();
        }
    }
    EXPECT_TRUE(sawSuccess);
}

// Stopping once the result began to take the original's place: the item still completes,
// so the library hears of the files that changed.
TEST(BatchCompressionRun, StopDuringFinalisationStillCompletes)
{
    const QString dir = freshFolder("late-stop");
    ASSERT_TRUE(makeLarge(dir + "/clip.mov"));
    ASSERT_TRUE(makeLarge(dir + "/second.mov"));
    std::atomic<bool> stop{false};
    auto steps = std::make_shared<FailingSteps>(-1);
    steps->onFirstStep = [&] { stop = true; };
    BatchCompressionOptions options;
    options.fileSteps = steps;
    const auto events = runNow({videoAt(dir + "/clip.mov"), videoAt(dir + "/second.mov")},
                               CompressionPreset::hevcBalanced, CompressionSaveMode::replaceOriginal, options,
                               [&] { return stop.load(); });
    ASSERT_EQ(kindsOf(events), (QList<Kind>{Kind::itemStarted, Kind::itemCompleted, Kind::finished}));
    EXPECT_EQ(events.last().results.size(), 1);
    EXPECT_TRUE(QFileInfo::exists(dir + "/clip.mp4"));
    EXPECT_TRUE(QFileInfo::exists(dir + "/second.mov"));
    EXPECT_TRUE(leftovers(dir).isEmpty());
}

// Stop while ffmpeg runs: the program is ended at once (the stand-in would otherwise run
// for ten minutes), its partial output is removed, and the batch ends with nothing more.
TEST(BatchCompressionRun, StopEndsTheRunningFFmpegAndRemovesItsOutput)
{
    const QString dir = freshFolder("stop");
    ASSERT_TRUE(makeLarge(dir + "/a.mov"));
    ASSERT_TRUE(QFile::copy(dir + "/a.mov", dir + "/b.mov"));
    const QString pidFile = dir + "/../comp-stop-pid";
    QFile::remove(pidFile);
    BatchCompressionOptions options;
    options.ffmpegPath = fakeFFmpeg(freshFolder("stop-fake"),
                                    "echo $$ > '" + pidFile + "'; echo partial > \"$last\"; exec sleep 600");
    QList<BatchCompressionEvent> events;
    BatchCompressionJob *job = compress({videoAt(dir + "/a.mov"), videoAt(dir + "/b.mov")},
                                        CompressionPreset::hevcBalanced, true, CompressionSaveMode::saveAsNew, nullptr,
                                        options);
    job->onEvent(job, [&](const BatchCompressionEvent &e) { events << e; });
    ASSERT_TRUE(lktest::waitFor([&] { return QFileInfo(pidFile).size() > 0 && leftovers(dir).size() == 1; }, 20000));
    QFile f(pidFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const pid_t pid = f.readAll().trimmed().toInt();
    ASSERT_GT(pid, 0);
    job->cancel();
    ASSERT_TRUE(lktest::waitFor([&] { return job->isFinished(); }, 20000));
    EXPECT_NE(::kill(pid, 0), 0); // gone, and reaped
    EXPECT_TRUE(leftovers(dir).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir + "/a_compressed.mp4"));
    const QList<Kind> kinds = kindsOf(events);
    EXPECT_EQ(kinds, (QList<Kind>{Kind::itemStarted, Kind::finished}));
    EXPECT_TRUE(events.last().results.isEmpty());
    delete job;
}

TEST(BatchCompressionRun, EmptyListOnlyFinishes)
{
    const auto events = runNow({}, CompressionPreset::hevcBalanced, CompressionSaveMode::saveAsNew);
    ASSERT_EQ(kindsOf(events, true), QList<Kind>{Kind::finished});
    EXPECT_EQ(events[0].totalSavedBytes, 0);
}
