// Trim and merge export: real clips cut by the real ffmpeg, the result's packets, duration
// and audio read back with ffprobe, and the replacement of the original made to fail at
// every step.

#include "editing/BatchCompressionService.h"
#include "editing/OutputValidation.h"
#include "editing/VideoTrimExportService.h"
#include "library/FileNames.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

#include <csignal>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace VideoTrimExportService;

namespace {

// 10 s, 25 fps, a key frame every 2 s.
const QStringList kH264{"-c:v", "libx264", "-preset", "ultrafast", "-g", "50", "-keyint_min", "50",
                        "-sc_threshold", "0", "-pix_fmt", "yuv420p"};

bool makeSource(const QString &path, bool withAudio)
{
    QStringList codec = kH264;
    if (withAudio) codec << "-c:a" << "aac";
    return lktest::makeClip(path, 10, 320, 240, codec, withAudio);
}

VideoFile videoAt(const QString &path) { return *VideoFile::fromFile(path); }

struct Result {
    QList<TrimExportEvent> events;
    const TrimExportEvent *last() const { return events.isEmpty() ? nullptr : &events.last(); }
};

Result exportNow(const QString &path, const QList<VideoClipSegment> &segments, TrimExportPreset preset,
                 TrimSaveMode mode, const TrimExportOptions &options = {}, std::function<bool()> cancelled = {})
{
    Result r;
    run(videoAt(path), segments, preset, mode, QString(), [&](const TrimExportEvent &e) { r.events << e; },
        cancelled, options);
    return r;
}

QString probe(const QString &path, const QStringList &args)
{
    QString out;
    lktest::runProgram("ffprobe", QStringList{"-v", "error"} + args + QStringList{path}, &out);
    return out.trimmed();
}
double durationOf(const QString &path)
{
    return probe(path, {"-show_entries", "format=duration", "-of", "csv=p=0"}).toDouble();
}
bool hasAudio(const QString &path)
{
    return !probe(path, {"-select_streams", "a", "-show_entries", "stream=index", "-of", "csv=p=0"}).isEmpty();
}
QStringList videoPacketSizes(const QString &path)
{
    return probe(path, {"-select_streams", "v:0", "-show_entries", "packet=size", "-of", "csv=p=0"})
        .split('\n', Qt::SkipEmptyParts);
}

QStringList hiddenLeftovers(const QString &folder)
{
    return QDir(folder).entryList({".Lumenkite-*"}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QStringList trashedNames()
{
    const QString files = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    return QDir(files).entryList(QDir::Files | QDir::Hidden);
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A stand-in for ffmpeg: a shell script that does what `body` says.
QString fakeFFmpeg(const QString &folder, const QString &body)
{
    return lktest::writeScript(folder + "/ffmpeg", body);
}

} // namespace

TEST(TrimExportCommandLines, FilterGraphJoinsRangesWithAndWithoutAudio)
{
    const QList<VideoClipSegment> two{VideoClipSegment::make(1, 3), VideoClipSegment::make(5, 6.5)};
    EXPECT_EQ(filterGraph(two, true),
              "[0:v]trim=start=1.000:end=3.000,setpts=PTS-STARTPTS[v0];[0:a]atrim=start=1.000:end=3.000,"
              "asetpts=PTS-STARTPTS[a0];[0:v]trim=start=5.000:end=6.500,setpts=PTS-STARTPTS[v1];[0:a]atrim="
              "start=5.000:end=6.500,asetpts=PTS-STARTPTS[a1];[v0][a0][v1][a1]concat=n=2:v=1:a=1[outv][outa]");
    EXPECT_EQ(filterGraph({VideoClipSegment::make(1.23456, 2)}, false),
              "[0:v]trim=start=1.235:end=2.000,setpts=PTS-STARTPTS[v0];[v0]concat=n=1:v=1:a=0[outv]");

    // Both attempts for a source with sound keep its sound.
    for (bool tolerant : {false, true}) {
        const QStringList args = encodeArguments("/in.mp4", two, "/out.mp4", TrimExportPreset::hevcHigh, true, tolerant);
        EXPECT_TRUE(args.contains("[outa]")) << tolerant;
        EXPECT_TRUE(args.contains("aac")) << tolerant;
        EXPECT_TRUE(args.contains("libx265"));
    }
}

TEST(TrimExportCommandLines, NumbersIgnoreAGermanLocale)
{
    const char *before = std::setlocale(LC_ALL, nullptr);
    const std::string saved = before ? before : "C";
    std::setlocale(LC_ALL, "de_DE.UTF-8"); // may be missing; Qt's default locale is set either way
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const VideoClipSegment s = VideoClipSegment::make(1.5, 2.25);
    EXPECT_TRUE(filterGraph({s}, true).contains("start=1.500:end=2.250"));
    const QStringList copy = copyArguments("/in.mp4", s, "/out.mp4");
    EXPECT_EQ(copy[copy.indexOf("-ss") + 1], "1.500");
    EXPECT_EQ(copy[copy.indexOf("-t") + 1], "0.750");
    const QStringList frame = ffmpegFilmstripArguments("/in.mp4", 12.345);
    EXPECT_EQ(frame[frame.indexOf("-ss") + 1], "12.35");
    EXPECT_FALSE(filterGraph({s}, true).contains(','+QString("500")));
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(TrimExportCommandLines, ValidationKeepsLongEnoughRangesInStartOrder)
{
    const VideoClipSegment late = VideoClipSegment::make(5, 6);
    const VideoClipSegment a = VideoClipSegment::make(1, 2);
    const VideoClipSegment b = VideoClipSegment::make(1, 3);
    const QList<VideoClipSegment> kept =
        validatedSegments({late, VideoClipSegment::make(0, 0.149), a, VideoClipSegment::make(1.0, 1.15), b,
                           VideoClipSegment::make(4, 3), VideoClipSegment::make(0, qQNaN()),
                           VideoClipSegment::make(7, 7.15)});
    ASSERT_EQ(kept.size(), 4);
    EXPECT_EQ(kept[0].id, a.id); // equal starts keep their order
    EXPECT_EQ(kept[1].id, b.id);
    EXPECT_EQ(kept[2].id, late.id);
    EXPECT_DOUBLE_EQ(kept[3].start, 7);
}

TEST(TrimExportNames, CountersForNewFilesAndReplacements)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    EXPECT_EQ(saveAsNewTarget(d, "Clip"), d + "/Clip_trimmed.mp4");
    lktest::writeSizedFile(d + "/Clip_trimmed.mp4", 10);
    EXPECT_EQ(saveAsNewTarget(d, "Clip"), d + "/Clip_trimmed (2).mp4");
    lktest::writeSizedFile(d + "/Clip_trimmed (2).mp4", 10);
    EXPECT_EQ(saveAsNewTarget(d, "Clip"), d + "/Clip_trimmed (3).mp4");

    lktest::writeSizedFile(d + "/Clip.MOV", 10);
    EXPECT_EQ(replaceTarget(d, "Clip", d + "/Clip.MOV"), d + "/Clip.mov");
    lktest::writeSizedFile(d + "/Clip.mkv", 10);
    EXPECT_EQ(replaceTarget(d, "Clip", d + "/Clip.mkv"), d + "/Clip.mp4");
    lktest::writeSizedFile(d + "/Clip.mp4", 10);
    EXPECT_EQ(replaceTarget(d, "Clip", d + "/Clip.mkv"), d + "/Clip (2).mp4");
    // The source's own name is the target: it is replaced, not avoided.
    EXPECT_EQ(replaceTarget(d, "Clip", d + "/Clip.mp4"), d + "/Clip.mp4");
    EXPECT_TRUE(temporaryFileName().startsWith(".Lumenkite-Trim-"));
    EXPECT_EQ(temporaryFileName().size(), QString(".Lumenkite-Trim-.mp4").size() + 36);
}

TEST(TrimExport, OneRangeInOriginalQualityIsCopiedPacketForPacket)
{
    const QString dir = lktest::sandboxRoot() + "/copy";
    const QString src = dir + "/Beach.mp4";
    ASSERT_TRUE(makeSource(src, true));
    // 2 s to 6 s starts on a key frame: the copy holds exactly the source's packets 50..149.
    const Result r = exportNow(src, {VideoClipSegment::make(2, 6)}, TrimExportPreset::passthrough, TrimSaveMode::saveAsNew);
    ASSERT_TRUE(r.last());
    ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::completed) << r.last()->message.toStdString();
    const QString out = r.last()->outputURL.toLocalFile();
    EXPECT_EQ(out, dir + "/Beach_trimmed.mp4");
    EXPECT_EQ(r.last()->outputSize, QFileInfo(out).size());
    EXPECT_FALSE(r.last()->replacedOriginal);

    const QStringList source = videoPacketSizes(src);
    const QStringList copied = videoPacketSizes(out);
    ASSERT_EQ(copied.size(), 100);
    EXPECT_EQ(copied, source.mid(50, 100));
    EXPECT_TRUE(hasAudio(out));
    EXPECT_NEAR(durationOf(out), 4.0, 0.1);
    EXPECT_EQ(r.events.first().stage, "Preparing…");
    EXPECT_TRUE(hiddenLeftovers(dir).isEmpty());
}

TEST(TrimExport, SeveralRangesAreJoinedWithTheirSound)
{
    struct Case { const char *name; bool audio; };
    const Case cases[] = {{"Talk.mp4", true}, {"Talk.mkv", true}, {"Silent.mp4", false}, {"Silent.mkv", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString dir = lktest::sandboxRoot() + "/merge-" + QString(c.name).replace('.', '-');
        const QString src = dir + "/" + c.name;
        ASSERT_TRUE(makeSource(src, c.audio));
        const Result r = exportNow(src, {VideoClipSegment::make(8, 9), VideoClipSegment::make(1, 3),
                                         VideoClipSegment::make(5, 6.5)},
                                   TrimExportPreset::passthrough, TrimSaveMode::saveAsNew);
        ASSERT_TRUE(r.last());
        ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::completed) << r.last()->message.toStdString();
        const QString out = r.last()->outputURL.toLocalFile();
        EXPECT_TRUE(out.endsWith("_trimmed.mp4"));
        EXPECT_NEAR(durationOf(out), 4.5, 0.25);
        EXPECT_EQ(hasAudio(out), c.audio);
        // Progress only moves forward and starts at the joining stage.
        double lastFraction = 0;
        for (const TrimExportEvent &e : r.events)
            if (e.kind == TrimExportEvent::Kind::progress) {
                EXPECT_GE(e.fraction, lastFraction);
                lastFraction = e.fraction;
            }
        EXPECT_EQ(r.events.first().stage, "Joining the ranges with ffmpeg…");
        EXPECT_DOUBLE_EQ(lastFraction, 0.98);
        EXPECT_TRUE(hiddenLeftovers(dir).isEmpty());
    }
}

TEST(TrimExport, NothingToExportOrNothingToRunWith)
{
    const QString dir = lktest::sandboxRoot() + "/nothing";
    const QString src = dir + "/Clip.mkv";
    ASSERT_TRUE(makeSource(src, false));
    const Result none = exportNow(src, {VideoClipSegment::make(1, 1.1)}, TrimExportPreset::passthrough,
                                  TrimSaveMode::saveAsNew);
    ASSERT_EQ(none.events.size(), 1);
    EXPECT_EQ(none.events[0].message, "Select at least one valid video range.");

    TrimExportOptions noFFmpeg;
    noFFmpeg.ffmpegPath = QString();
    const Result missing = exportNow(src, {VideoClipSegment::make(1, 3)}, TrimExportPreset::passthrough,
                                     TrimSaveMode::saveAsNew, noFFmpeg);
    ASSERT_EQ(missing.events.size(), 1);
    EXPECT_EQ(missing.events[0].message, "Export failed: Trimming needs ffmpeg, which was not found.");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// ffmpeg stand-ins that "succeed" without a usable file or fail without a word: the user
// gets a readable failure and nothing of theirs changes.
TEST(TrimExport, BrokenFFmpegRunsNeverPassForSuccess)
{
    struct Case { const char *name; const char *script; const char *expected; };
    const Case cases[] = {
        {"empty output", "for last; do :; done\n: > \"$last\"\nexit 0", "The exported file is empty."},
        {"silent failure", "exit 1", "ffmpeg failed twice without an error message. Exit status: 1."},
        {"error text", "echo 'Invalid data found' >&2\nexit 187", "Invalid data found"},
        {"not UTF-8", "printf '\\377\\376' >&2\nexit 3", "ffmpeg reported an error."},
    };
    for (const Case &c : cases) {
        for (TrimSaveMode mode : {TrimSaveMode::saveAsNew, TrimSaveMode::replaceOriginal}) {
            SCOPED_TRACE(std::string(c.name) + (mode == TrimSaveMode::saveAsNew ? " new" : " replace"));
            QTemporaryDir tools;
            const QString dir = lktest::sandboxRoot() + "/fake-" + QString(c.name).replace(' ', '-') +
                                (mode == TrimSaveMode::saveAsNew ? "-new" : "-replace");
            const QString src = dir + "/Clip.mkv";
            ASSERT_TRUE(makeSource(src, true));
            const QByteArray before = contents(src);
            TrimExportOptions options;
            options.ffmpegPath = fakeFFmpeg(tools.path(), c.script);
            const Result r = exportNow(src, {VideoClipSegment::make(1, 4)}, TrimExportPreset::passthrough, mode, options);
            ASSERT_TRUE(r.last());
            EXPECT_EQ(r.last()->kind, TrimExportEvent::Kind::failed);
            EXPECT_EQ(r.last()->message, kFailurePrefix + c.expected);
            EXPECT_EQ(contents(src), before);
            EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"Clip.mkv"});
        }
    }
}

namespace {

// Real file steps, except that step number `failAt` (counted over every step) fails.
class FailingSteps : public SafeReplace::FileSteps {
public:
    explicit FailingSteps(int failAt) : m_failAt(failAt) {}
    int count = 0;
    QStringList log;
    bool rename(const QString &from, const QString &to, QString *error) override
    {
        log << "rename " + QFileInfo(from).fileName() + " -> " + QFileInfo(to).fileName();
        if (++count == m_failAt) return refuse(error);
        return FileSteps::rename(from, to, error);
    }
    bool trash(const QString &path, QString *error) override
    {
        log << "trash " + QFileInfo(path).fileName();
        if (++count == m_failAt) return refuse(error);
        return FileSteps::trash(path, error);
    }
    bool makeFolder(const QString &path, QString *error) override
    {
        log << "folder";
        if (++count == m_failAt) return refuse(error);
        return FileSteps::makeFolder(path, error);
    }

private:
    bool refuse(QString *error)
    {
        if (error) *error = "injected failure";
        return false;
    }
    int m_failAt;
};

} // namespace

TEST(TrimExport, ReplacingTheOriginalNeverLosesIt)
{
    // Same name (Clip.mp4 → Clip.mp4): aside into a hidden folder, new file in, original to
    // the Trash. Another name (Clip.mkv → Clip.mp4): new file in, original to the Trash.
    struct Case { const char *name; int steps; };
    for (const Case c : {Case{"Same.mp4", 4}, Case{"Other.mkv", 2}}) {
        for (int failAt = 0; failAt <= c.steps + 1; ++failAt) {
            const QString stem = QFileInfo(c.name).completeBaseName();
            SCOPED_TRACE(std::string(c.name) + " failing step " + std::to_string(failAt));
            const QString dir = lktest::sandboxRoot() + "/replace-" + stem + "-" + QString::number(failAt);
            const QString src = dir + "/" + c.name;
            ASSERT_TRUE(makeSource(src, true));
            const QByteArray original = contents(src);
            auto steps = std::make_shared<FailingSteps>(failAt);
            TrimExportOptions options;
            options.fileSteps = steps;
            const QStringList trashBefore = trashedNames();
            const Result r = exportNow(src, {VideoClipSegment::make(1, 4)}, TrimExportPreset::h2641080p,
                                       TrimSaveMode::replaceOriginal, options);
            ASSERT_TRUE(r.last());
            const QString target = dir + "/" + stem + ".mp4";
            const bool trashFailedLast = c.steps == 4 && failAt == 4; // new file in place, original kept aside
            if (failAt == 0 || failAt > c.steps || trashFailedLast) {
                ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::completed) << r.last()->message.toStdString();
                EXPECT_TRUE(r.last()->replacedOriginal);
                EXPECT_EQ(r.last()->outputURL.toLocalFile(), target);
                EXPECT_NEAR(durationOf(target), 3.0, 0.25);
                EXPECT_TRUE(hasAudio(target));
                if (trashFailedLast) {
                    // The remark says where the original waits; it is whole.
                    const QString remark = r.last()->message;
                    const QString aside = remark.mid(remark.indexOf(dir)).chopped(1);
                    EXPECT_EQ(contents(aside), original) << remark.toStdString();
                } else {
                    const QStringList trashed = trashedNames();
                    EXPECT_EQ(trashed.size(), trashBefore.size() + 1);
                    EXPECT_FALSE(hiddenLeftovers(dir).size()) << hiddenLeftovers(dir).join(",").toStdString();
                }
                if (c.steps == 2) {
                    EXPECT_FALSE(QFileInfo::exists(src));
                }
            } else {
                ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::failed);
                EXPECT_TRUE(r.last()->message.contains("injected failure"));
                EXPECT_TRUE(r.last()->message.contains(src)) << r.last()->message.toStdString();
                EXPECT_EQ(contents(src), original);
                EXPECT_EQ(trashedNames(), trashBefore);
                EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                          QStringList{c.name});
            }
        }
    }
}

TEST(TrimExport, RestoringAFailedSwapKeepsBothFilesAndSaysWhere)
{
    // The new file cannot take the name and the original cannot come back: both stay, and
    // the message names both places.
    const QString dir = lktest::sandboxRoot() + "/restore";
    const QString src = dir + "/Clip.mp4";
    ASSERT_TRUE(makeSource(src, false));
    const QByteArray original = contents(src);
    class Steps : public FailingSteps {
    public:
        Steps() : FailingSteps(0) {}
        bool rename(const QString &from, const QString &to, QString *error) override
        {
            if (++count >= 3) { // the folder and the first rename pass; every later rename fails
                *error = "disk gone";
                return false;
            }
            return FileSteps::rename(from, to, error);
        }
    };
    TrimExportOptions options;
    options.fileSteps = std::make_shared<Steps>();
    const Result r = exportNow(src, {VideoClipSegment::make(0, 3)}, TrimExportPreset::h2641080p,
                               TrimSaveMode::replaceOriginal, options);
    ASSERT_TRUE(r.last());
    ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::failed);
    const QString m = r.last()->message;
    const qsizetype at = m.indexOf("The original is at ");
    ASSERT_GE(at, 0) << m.toStdString();
    const QString newAt = "; the new file is at ";
    const QString aside = m.mid(at + 19, m.indexOf(newAt) - at - 19);
    const QString fresh = m.mid(m.indexOf(newAt) + newAt.size()).chopped(1);
    EXPECT_EQ(contents(aside), original);
    EXPECT_NEAR(durationOf(fresh), 3.0, 0.25);
}

TEST(TrimExport, CancellingBeforeTheResultIsPlacedLeavesNothingAfterwardsCompletes)
{
    const QString dir = lktest::sandboxRoot() + "/cancel";
    const QString src = dir + "/Clip.mp4";
    ASSERT_TRUE(makeSource(src, true));

    const Result early = exportNow(src, {VideoClipSegment::make(1, 3), VideoClipSegment::make(4, 5)},
                                   TrimExportPreset::passthrough, TrimSaveMode::saveAsNew, {}, [] { return true; });
    for (const TrimExportEvent &e : early.events) EXPECT_EQ(e.kind, TrimExportEvent::Kind::progress);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"Clip.mp4"});

    // Cancelled while the result is being put in place: it still completes.
    bool cancel = false;
    class Steps : public SafeReplace::FileSteps {
    public:
        bool *flag = nullptr;
        bool rename(const QString &from, const QString &to, QString *error) override
        {
            *flag = true;
            return FileSteps::rename(from, to, error);
        }
    };
    auto steps = std::make_shared<Steps>();
    steps->flag = &cancel;
    TrimExportOptions options;
    options.fileSteps = steps;
    const Result late = exportNow(src, {VideoClipSegment::make(1, 3)}, TrimExportPreset::hevcHigh,
                                  TrimSaveMode::replaceOriginal, options, [&] { return cancel; });
    ASSERT_TRUE(late.last());
    ASSERT_EQ(late.last()->kind, TrimExportEvent::Kind::completed) << late.last()->message.toStdString();
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(QFileInfo::exists(late.last()->outputURL.toLocalFile()));
}

TEST(TrimExport, AJobReportsInOrderOnTheCallersThread)
{
    const QString dir = lktest::sandboxRoot() + "/job";
    const QString src = dir + "/Clip.mp4";
    ASSERT_TRUE(makeSource(src, true));
    TrimExportJob *job = start(videoAt(src), {VideoClipSegment::make(0, 2), VideoClipSegment::make(6, 8)},
                               TrimExportPreset::passthrough, TrimSaveMode::saveAsNew, nullptr);
    QList<TrimExportEvent> events;
    job->onEvent(job, [&](const TrimExportEvent &e) { events << e; });
    ASSERT_TRUE(lktest::waitFor([&] { return job->isFinished(); }, 120000));
    ASSERT_FALSE(events.isEmpty());
    EXPECT_EQ(events.last().kind, TrimExportEvent::Kind::completed);
    EXPECT_NEAR(durationOf(events.last().outputURL.toLocalFile()), 4.0, 0.25);
    delete job;
}

TEST(OutputValidation, ToleranceIsFifteenPercentOrOnePointTwoSeconds)
{
    EXPECT_DOUBLE_EQ(OutputValidation::durationTolerance(10), 1.5);
    EXPECT_DOUBLE_EQ(OutputValidation::durationTolerance(4), 1.2);
    const QString dir = lktest::sandboxRoot() + "/validate";
    const QString clip = dir + "/Clip.mp4";
    ASSERT_TRUE(makeSource(clip, false));
    struct Case { double expected; bool ok; };
    for (const Case c : {Case{10.0, true}, Case{11.4, true}, Case{8.8, true}, Case{12.0, false}, Case{3.0, false}}) {
        EXPECT_EQ(OutputValidation::validate(clip, c.expected).ok, c.ok) << c.expected;
    }
    lktest::writeSizedFile(dir + "/empty.mp4", 0);
    QFile(dir + "/empty.mp4").resize(0);
    EXPECT_EQ(OutputValidation::validate(dir + "/empty.mp4", 1).message, "The exported file is empty.");
}

// The reader of the export's own checks takes a name's exact bytes, and a FIFO put in place
// of a file is refused at once instead of blocking the export for good.
TEST(OutputValidation, ReadsExactNameBytesAndNeverWaitsOnAFifo)
{
    const QString dir = lktest::sandboxRoot() + "/validate-names";
    ASSERT_TRUE(makeSource(dir + "/plain.mp4", false));
    const QByteArray raw = QFile::encodeName(dir) + "/bad\xff.mp4";
    ASSERT_EQ(::rename(QFile::encodeName(dir + "/plain.mp4").constData(), raw.constData()), 0);
    const OutputValidation::StreamFacts facts = OutputValidation::probeStreams(FileNames::decode(raw));
    EXPECT_TRUE(facts.readable);
    EXPECT_TRUE(facts.hasVideo);

    const QString fifo = dir + "/fifo.mp4";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    EXPECT_FALSE(OutputValidation::probeStreams(fifo).readable);
}

// A command line carries text, so a name that is not UTF-8 would reach ffmpeg as another
// name (another file's, when one is called so): the export says why and runs nothing.
TEST(TrimExport, ANameThatIsNotUtf8NeverReachesTheProgram)
{
    QTemporaryDir tools;
    const QString dir = lktest::sandboxRoot() + "/raw-name";
    ASSERT_TRUE(makeSource(dir + "/plain.mkv", true));
    const QByteArray raw = QFile::encodeName(dir) + "/bad\xff.mkv";
    ASSERT_EQ(::rename(QFile::encodeName(dir + "/plain.mkv").constData(), raw.constData()), 0);
    const QString source = FileNames::decode(raw);
    auto bytesOf = [&] {
        QByteArray data;
        const int fd = FileNames::openRegularFile(source);
        char buffer[65536];
        for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            data.append(buffer, n);
        if (fd >= 0) ::close(fd);
        return data;
    };
    const QByteArray before = bytesOf();
    ASSERT_FALSE(before.isEmpty());
    TrimExportOptions options;
    options.ffmpegPath = fakeFFmpeg(tools.path(), "touch '" + tools.path() + "/ran'\nexec /usr/bin/ffmpeg \"$@\"");
    for (TrimSaveMode mode : {TrimSaveMode::saveAsNew, TrimSaveMode::replaceOriginal}) {
        Result r;
        run(*VideoFile::make(source, before.size(), QDateTime::currentDateTime(), std::nullopt),
            {VideoClipSegment::make(1, 4)}, TrimExportPreset::passthrough, mode, QString(),
            [&](const TrimExportEvent &e) { r.events << e; }, {}, options);
        ASSERT_TRUE(r.last());
        EXPECT_EQ(r.last()->kind, TrimExportEvent::Kind::failed);
        EXPECT_EQ(r.last()->message, kFailurePrefix + "Could not start ffmpeg: the file name is not valid UTF-8");
    }
    EXPECT_FALSE(QFileInfo::exists(tools.path() + "/ran"));
    EXPECT_EQ(bytesOf(), before);
    QList<QByteArray> names; // by bytes: Qt's own listing drops a name it cannot decode
    if (DIR *d = ::opendir(QFile::encodeName(dir).constData())) {
        while (const dirent *e = ::readdir(d))
            if (e->d_name[0] != '.' || (e->d_name[1] != 0 && e->d_name[1] != '.')) names << e->d_name;
        ::closedir(d);
    }
    EXPECT_EQ(names, QList<QByteArray>{"bad\xff.mkv"});
}

TEST(Filmstrip, FramesInProcessAndThroughTheProgram)
{
    const QString dir = lktest::sandboxRoot() + "/strip";
    const QString clip = dir + "/Clip.mkv";
    ASSERT_TRUE(makeSource(clip, false));
    const QList<QImage> frames = filmstripFrames(clip, 10, 14);
    ASSERT_EQ(frames.size(), 14);
    EXPECT_LE(frames[0].width(), 180);
    EXPECT_LE(frames[0].height(), 110);
    EXPECT_EQ(ffmpegFilmstrip(clip, 10, 3).size(), 3);
    EXPECT_TRUE(ffmpegFilmstrip(clip, 10, 3, QString()).isEmpty()); // no ffmpeg
    EXPECT_TRUE(filmstripFrames(dir + "/missing.mp4", 10, 14).isEmpty());
    EXPECT_TRUE(filmstripFrames(clip, 10, 14, [] { return true; }).isEmpty()); // a closed sheet wants none

    // A FIFO in place of the file is never handed to the program, which would wait on it.
    QTemporaryDir tools;
    const QString fifo = dir + "/fifo.mp4";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    EXPECT_TRUE(ffmpegFilmstrip(fifo, 10, 3, fakeFFmpeg(tools.path(), "touch '" + tools.path() + "/ran'")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(tools.path() + "/ran"));
}

namespace {

// The Trash record written last: the original path it names, decoded.
QString lastTrashRecordPath(const QStringList &before)
{
    const QString info = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/info";
    for (const QString &name : QDir(info).entryList({"*.trashinfo"}, QDir::Files | QDir::Hidden)) {
        if (before.contains(name)) continue;
        for (const QByteArray &line : contents(info + "/" + name).split('\n'))
            if (line.startsWith("Path=")) return FileNames::decode(QByteArray::fromPercentEncoding(line.mid(5)));
    }
    return {};
}
QStringList trashRecords()
{
    const QString info = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/info";
    return QDir(info).entryList({"*.trashinfo"}, QDir::Files | QDir::Hidden);
}

} // namespace

// An original replaced under its own name steps aside into a hidden folder before it goes
// to the Trash; the Trash's record must still name where it lived, or restoring it from a
// file manager would put it in a folder the library never shows.
TEST(ReplacedOriginals, TheTrashRecordNamesTheOriginalsOwnPath)
{
    for (const bool trim : {true, false}) {
        SCOPED_TRACE(trim ? "trim" : "compression");
        const QString dir = lktest::sandboxRoot() + (trim ? "/record-trim" : "/record-comp");
        const QString src = dir + "/Holiday 100%.mp4";
        ASSERT_TRUE(makeSource(src, true));
        const QStringList before = trashRecords();
        QString output;
        if (trim) {
            const Result r = exportNow(src, {VideoClipSegment::make(1, 4)}, TrimExportPreset::h2641080p,
                                       TrimSaveMode::replaceOriginal);
            ASSERT_TRUE(r.last());
            ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::completed) << r.last()->message.toStdString();
            output = r.last()->outputURL.toLocalFile();
        } else {
            QList<BatchCompressionEvent> events;
            BatchCompressionService::run({videoAt(src)}, CompressionPreset::hevcBalanced, false,
                                         CompressionSaveMode::replaceOriginal,
                                         [&](const BatchCompressionEvent &e) { events << e; }, {});
            ASSERT_GE(events.size(), 2);
            ASSERT_EQ(events[events.size() - 2].kind, BatchCompressionEvent::Kind::itemCompleted)
                << events[events.size() - 2].message.toStdString();
            output = events[events.size() - 2].result.outputURL.toLocalFile();
        }
        EXPECT_EQ(output, src);
        EXPECT_EQ(lastTrashRecordPath(before), src);
        EXPECT_TRUE(hiddenLeftovers(dir).isEmpty());
    }
}

// Cancel while ffmpeg encodes: the program ends at once and its partial file goes with it.
TEST(TrimExport, CancelStopsTheEncodeAtOnceAndRemovesThePartial)
{
    QTemporaryDir tools;
    const QString dir = lktest::sandboxRoot() + "/cancel-encode";
    const QString src = dir + "/Clip.mp4";
    ASSERT_TRUE(makeSource(src, true));
    const QString pidFile = tools.path() + "/pid";
    TrimExportOptions options;
    options.ffmpegPath = fakeFFmpeg(tools.path(), "for last; do :; done\necho $$ > '" + pidFile +
                                                      "'\necho partial > \"$last\"\nexec sleep 600");
    TrimExportJob *job = start(videoAt(src), {VideoClipSegment::make(1, 4), VideoClipSegment::make(5, 7)},
                               TrimExportPreset::passthrough, TrimSaveMode::saveAsNew, nullptr, options);
    QList<TrimExportEvent> events;
    job->onEvent(job, [&](const TrimExportEvent &e) { events << e; });
    ASSERT_TRUE(lktest::waitFor([&] { return QFileInfo(pidFile).size() > 0 && !hiddenLeftovers(dir).isEmpty(); },
                                20000));
    const pid_t pid = contents(pidFile).trimmed().toInt();
    ASSERT_GT(pid, 0);
    job->cancel();
    EXPECT_TRUE(lktest::waitFor([&] { return ::kill(pid, 0) != 0 && hiddenLeftovers(dir).isEmpty(); }, 1000));
    ASSERT_TRUE(lktest::waitFor([&] { return job->isFinished(); }, 10000));
    for (const TrimExportEvent &e : events) EXPECT_EQ(e.kind, TrimExportEvent::Kind::progress);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"Clip.mp4"});
    delete job;
}

// A source whose sound ffmpeg cannot decode: the second attempt leaves the sound out and
// still gives the picture.
TEST(TrimExport, TheSecondAttemptDropsTheSound)
{
    QTemporaryDir tools;
    const QString dir = lktest::sandboxRoot() + "/video-only";
    const QString src = dir + "/Clip.mkv";
    ASSERT_TRUE(makeSource(src, true));
    const QString log = tools.path() + "/runs";
    TrimExportOptions options;
    options.ffmpegPath = fakeFFmpeg(tools.path(), "echo run >> '" + log +
                                                      "'\ncase \"$*\" in *'[outa]'*) echo 'audio decoder failed' >&2; "
                                                      "exit 1;; esac\nexec /usr/bin/ffmpeg \"$@\"");
    const Result r = exportNow(src, {VideoClipSegment::make(1, 4)}, TrimExportPreset::passthrough,
                               TrimSaveMode::saveAsNew, options);
    ASSERT_TRUE(r.last());
    ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::completed) << r.last()->message.toStdString();
    EXPECT_EQ(contents(log), "run\nrun\n");
    EXPECT_FALSE(hasAudio(r.last()->outputURL.toLocalFile()));
    EXPECT_NEAR(durationOf(r.last()->outputURL.toLocalFile()), 3.0, 0.15);
}

TEST(TrimExport, The1080pPresetFitsThePictureInto1080p)
{
    struct Case { int width, height, outWidth, outHeight; };
    const Case cases[] = {{3840, 2160, 1920, 1080}, {2160, 3840, 1080, 1920}, {1440, 1440, 1080, 1080},
                          {640, 360, 640, 360}};
    for (const Case &c : cases) {
        const QString size = QString::number(c.width) + "x" + QString::number(c.height);
        SCOPED_TRACE(size.toStdString());
        const QString src = lktest::sandboxRoot() + "/fit-" + size + "/Clip.mp4";
        ASSERT_TRUE(lktest::ffmpegOutput(src, {"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=10:duration=1",
                                               "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"}));
        const Result r = exportNow(src, {VideoClipSegment::make(0, 0.8)}, TrimExportPreset::h2641080p,
                                   TrimSaveMode::saveAsNew);
        ASSERT_TRUE(r.last());
        ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::completed) << r.last()->message.toStdString();
        EXPECT_EQ(probe(r.last()->outputURL.toLocalFile(),
                        {"-select_streams", "v:0", "-show_entries", "stream=width,height", "-of", "csv=p=0"}),
                  QString::number(c.outWidth) + "," + QString::number(c.outHeight));
    }
}

// Another program saves a newer version over the source (or removes it) while the encode
// runs: that file is kept, and the result is saved under a new name instead of replacing it.
TEST(ReplacedOriginals, AFileChangedDuringTheEncodeIsKept)
{
    for (const bool trim : {true, false}) {
        for (const bool removed : {false, true}) {
            SCOPED_TRACE(std::string(trim ? "trim" : "compression") + (removed ? ", removed" : ", renamed over"));
            QTemporaryDir tools;
            const QString dir = lktest::sandboxRoot() + "/changed-" + (trim ? "trim" : "comp") +
                                (removed ? "-removed" : "-renamed");
            const QString src = dir + "/Clip.mp4", newer = tools.path() + "/newer.mp4";
            ASSERT_TRUE(makeSource(src, true));
            ASSERT_TRUE(lktest::makeClip(newer, 3, 160, 120, {"-c:v", "libx264", "-preset", "ultrafast"}));
            const QString change = removed ? "rm -f '" + src + "'"
                                           : "cp '" + newer + "' '" + dir + "/.saving' && mv '" + dir + "/.saving' '" +
                                                 src + "'";
            const QString fake = fakeFFmpeg(tools.path(), "/usr/bin/ffmpeg \"$@\" || exit $?\n" + change);
            const QStringList trashBefore = trashedNames();
            bool replaced = true;
            QString output, remark;
            if (trim) {
                TrimExportOptions options;
                options.ffmpegPath = fake;
                const Result r = exportNow(src, {VideoClipSegment::make(1, 4)}, TrimExportPreset::h2641080p,
                                           TrimSaveMode::replaceOriginal, options);
                ASSERT_TRUE(r.last());
                ASSERT_EQ(r.last()->kind, TrimExportEvent::Kind::completed) << r.last()->message.toStdString();
                replaced = r.last()->replacedOriginal;
                output = r.last()->outputURL.toLocalFile();
                remark = r.last()->message;
                EXPECT_EQ(output, dir + "/Clip_trimmed.mp4");
            } else {
                BatchCompressionOptions options;
                options.ffmpegPath = fake;
                QList<BatchCompressionEvent> events;
                BatchCompressionService::run({videoAt(src)}, CompressionPreset::h2641080p, false,
                                             CompressionSaveMode::replaceOriginal,
                                             [&](const BatchCompressionEvent &e) { events << e; }, {}, options);
                ASSERT_GE(events.size(), 2);
                const BatchCompressionEvent &item = events[events.size() - 2];
                ASSERT_EQ(item.kind, BatchCompressionEvent::Kind::itemCompleted) << item.message.toStdString();
                replaced = item.result.replacedOriginal;
                output = item.result.outputURL.toLocalFile();
                remark = item.result.remark;
                EXPECT_EQ(item.result.reclaimedBytes(), 0);
                EXPECT_EQ(events.last().totalSavedBytes, 0);
                EXPECT_EQ(output, dir + "/Clip_compressed.mp4");
            }
            EXPECT_FALSE(replaced);
            EXPECT_TRUE(QFileInfo::exists(output));
            EXPECT_EQ(contents(src), removed ? QByteArray() : contents(newer));
            EXPECT_TRUE(remark.contains(src) && remark.contains(output)) << remark.toStdString();
            EXPECT_EQ(trashedNames(), trashBefore);
            EXPECT_TRUE(hiddenLeftovers(dir).isEmpty());
        }
    }
}
