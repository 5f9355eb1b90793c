#include "library/FileNames.h"
#include "media/ExternalTools.h"
#include "media/FFmpegMedia.h"
#include "media/MediaMetadataService.h"
#include "support/PictureSupport.h"
#include "media/NativeDecodability.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString clipDir() { return lktest::sandboxRoot() + "/clips"; }
QString clip(const QString &name) { return clipDir() + "/" + name; }
QUrl clipUrl(const QString &name) { return QUrl::fromLocalFile(clip(name)); }

bool waitFor(const std::function<bool()> &done, int ms = 20000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void spin(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool ffmpegRun(const QString &out, const QStringList &args) { return lktest::ffmpegOutput(out, args); }

QString lavfi(int w, int h, const QString &rate, double seconds)
{
    return QStringLiteral("testsrc2=size=%1x%2:rate=%3:duration=%4").arg(w).arg(h).arg(rate).arg(QString::number(seconds));
}

// A small shell program standing in for ffmpeg or ffprobe, in the sandbox's bin folder.
QString writeScript(const QString &name, const QString &body)
{
    const QString path = lktest::writeScript(lktest::sandboxRoot() + "/bin/" + name, body);
    EXPECT_FALSE(path.isEmpty()) << name.toStdString();
    return path;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(data);
}

int lineCount(const QString &path) { return int(readAll(path).count('\n')); }

// 64 KiB of noise that no demuxer takes for media. Noise drawn afresh in every process was
// now and then read as an H.263 stream or a lyrics file, so the libraries answered and the
// fake programs never ran; a fixed seed, checked against ffprobe, rules that out.
bool makeNoise(const QString &path)
{
    return lktest::cachedFile(path, "unreadable noise\n" + lktest::programVersion("ffprobe"), [](const QString &out) {
        for (quint32 seed = 1; seed <= 64; ++seed) {
            QRandomGenerator generator(seed);
            QByteArray noise(64 * 1024, '\0');
            for (char &c : noise)
                c = char(generator.bounded(256));
            writeAll(out, noise);
            if (lktest::runProgram("ffprobe", {"-v", "quiet", out}) != 0) // also when there is no ffprobe
                return true;
        }
        return false;
    });
}

// Waits until a fake program has written its process id to `file` and that process is gone.
bool waitUntilEnded(const QString &file)
{
    qint64 pid = 0;
    return waitFor([&] {
        pid = readAll(file).trimmed().toLongLong();
        return pid > 0 && ::kill(pid_t(pid), 0) != 0;
    });
}

// Blocking helpers over the callback API, on the test's (GUI) thread.
VideoMediaInfo factsOf(MediaMetadataService &service, const QUrl &url)
{
    QObject context;
    std::optional<VideoMediaInfo> got;
    service.metadata(url, &context, [&](const VideoMediaInfo &info) { got = info; });
    EXPECT_TRUE(waitFor([&] { return got.has_value(); })) << url.toString().toStdString();
    return got.value_or(VideoMediaInfo{});
}

QImage thumbOf(MediaMetadataService &service, const QUrl &url, QSizeF size)
{
    QObject context;
    std::optional<QImage> got;
    service.thumbnail(url, size, &context, [&](const QImage &image) { got = image; });
    EXPECT_TRUE(waitFor([&] { return got.has_value(); })) << url.toString().toStdString();
    return got.value_or(QImage());
}

// Options built field by field: designated initialisers would have to name every field.
MediaMetadataService::Options opts(const std::function<void(MediaMetadataService::Options &)> &set)
{
    MediaMetadataService::Options o;
    set(o);
    return o;
}

MediaMetadataService::Options noPrograms()
{
    return opts([](auto &o) {
        o.ffmpegPath = QString();
        o.ffprobePath = QString();
    });
}

class MediaMetadataTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QDir().mkpath(clipDir());
        const QStringList x264{"-c:v", "libx264", "-pix_fmt", "yuv420p", "-preset", "ultrafast"};
        ok = ffmpegRun(clip("h264.mp4"), QStringList{"-f", "lavfi", "-i", lavfi(640, 360, "25", 3)} + x264) &&
             ffmpegRun(clip("clip.mov"), QStringList{"-f", "lavfi", "-i", lavfi(160, 90, "25", 3)} + x264) &&
             ffmpegRun(clip("h264.mkv"), QStringList{"-f", "lavfi", "-i", lavfi(160, 90, "25", 3)} + x264) &&
             ffmpegRun(clip("vp9.mkv"), {"-f", "lavfi", "-i", lavfi(160, 90, "30000/1001", 2), "-c:v", "libvpx-vp9",
                                         "-deadline", "realtime", "-cpu-used", "8"}) &&
             ffmpegRun(clip("clip.webm"), {"-f", "lavfi", "-i", lavfi(160, 90, "25", 2), "-c:v", "libvpx-vp9",
                                           "-deadline", "realtime", "-cpu-used", "8"}) &&
             ffmpegRun(clip("landscape.mp4"), QStringList{"-f", "lavfi", "-i", lavfi(320, 180, "25", 3)} + x264) &&
             ffmpegRun(clip("portrait.mp4"), {"-i", clip("landscape.mp4"), "-c", "copy", "-metadata:s:v:0", "rotate=90"}) &&
             ffmpegRun(clip("short.mp4"), QStringList{"-f", "lavfi", "-i", lavfi(192, 108, "25", 1)} + x264) &&
             ffmpegRun(clip("audio.mp4"), {"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a", "aac"}) &&
             ffmpegRun(clip("mjpeg.mp4"), {"-f", "lavfi", "-i", lavfi(160, 90, "25", 1), "-c:v", "mjpeg"}) &&
             makeNoise(clip("random.mp4"));
        if (!ok)
            return;
        const QByteArray whole = readAll(clip("h264.mp4"));
        writeAll(clip("truncated.mp4"), whole.left(whole.size() / 2));
        QImage red(40, 20, QImage::Format_RGB32);
        red.fill(Qt::red);
        red.save(lktest::sandboxRoot() + "/red.jpg", "JPEG");
    }

    void SetUp() override
    {
        if (!ok)
            GTEST_SKIP() << "ffmpeg could not make the fixture clips";
        runs = lktest::sandboxRoot() + "/runs-" +
               QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).replace('/', '_');
        QFile::remove(runs);
    }

    // A service whose programs are the given scripts (empty: not installed).
    static std::unique_ptr<MediaMetadataService> serviceWith(const QString &ffmpeg, const QString &ffprobe,
                                                            MediaMetadataService::Options options = {})
    {
        options.ffmpegPath = ffmpeg;
        options.ffprobePath = ffprobe;
        return std::make_unique<MediaMetadataService>(options);
    }

    static inline bool ok = false;
    QString runs; // a file the fake programs append a line to per run
};

// ---- pure pieces ----

TEST(MediaMetadataNames, CodecNameTable)
{
    auto code = [](const char *t) {
        return quint32(quint8(t[0])) << 24 | quint32(quint8(t[1])) << 16 | quint32(quint8(t[2])) << 8 | quint8(t[3]);
    };
    const struct {
        const char *code;
        const char *name;
    } table[] = {{"av01", "AV1"},
                 {"avc1", "H.264"},
                 {"hvc1", "HEVC (H.265)"},
                 {"muxa", "HEVC (H.265)"},
                 {"mp4v", "MPEG-4"},
                 {"vp09", "VP9"},
                 {"ap4h", "Apple ProRes 4444"},
                 {"ap4x", "Apple ProRes 4444"},
                 {"apch", "Apple ProRes 422"},
                 {"apcn", "Apple ProRes 422"},
                 {"apco", "Apple ProRes 422"},
                 {"apcs", "Apple ProRes 422"},
                 {"hev1", "HEV1"},
                 {"jpeg", "JPEG"},
                 {"dv  ", "DV"},
                 {"    ", "Video"},
                 {"\xff\x01" "ab", "Video"}};
    for (const auto &row : table)
        EXPECT_EQ(MediaMetadataService::codecName(code(row.code)), QString::fromLatin1(row.name)) << row.code;
    EXPECT_EQ(MediaMetadataService::codecName(0), "Video");
}

TEST(MediaMetadataNames, KeysTruncateTheSize)
{
    const QUrl url = QUrl::fromLocalFile("/Movies/x/../a.mkv");
    EXPECT_EQ(MediaMetadataService::pathKey(url), "/Movies/a.mkv");
    EXPECT_EQ(MediaMetadataService::thumbnailKey(url, {96, 56}), "/Movies/a.mkv#96x56");
    EXPECT_EQ(MediaMetadataService::thumbnailKey(url, {96.9, 56.99}), "/Movies/a.mkv#96x56");
    EXPECT_EQ(MediaMetadataService::thumbnailKey(url, {480, 270}), "/Movies/a.mkv#480x270");
}

TEST(MediaMetadataNames, ProgramArgumentsAreExact)
{
    EXPECT_EQ(lkmedia::ffprobeArguments("/v/a b.mkv"),
              (QStringList{"-v", "error", "-select_streams", "v:0", "-show_entries",
                           "stream=width,height,codec_name,avg_frame_rate:format=duration", "-of", "json",
                           "/v/a b.mkv"}));
    const struct {
        QSizeF size;
        const char *scale;
    } rows[] = {{{96, 56}, "scale=192:-2"}, {{10, 10}, "scale=96:-2"}, {{0, 0}, "scale=96:-2"},
                {{480, 270}, "scale=960:-2"}, {{48.7, 20}, "scale=97:-2"}};
    for (const auto &row : rows)
        EXPECT_EQ(lkmedia::ffmpegThumbnailArguments("/v/a.mp4", row.size),
                  (QStringList{"-hide_banner", "-loglevel", "error", "-ss", "2", "-i", "/v/a.mp4", "-frames:v", "1",
                               "-vf", row.scale, "-f", "image2pipe", "-vcodec", "mjpeg", "pipe:1"}))
            << row.scale;
    EXPECT_EQ(lkmedia::ffmpegThumbnailArguments("/v/a.mp4", {96, 56}, true),
              (QStringList{"-hide_banner", "-loglevel", "error", "-i", "/v/a.mp4", "-frames:v", "1", "-vf",
                           "scale=192:-2", "-f", "image2pipe", "-vcodec", "mjpeg", "pipe:1"}));
}

// A command line carries text: a path holding bytes that are not UTF-8 would reach the
// program as another name, so the run is not started at all.
TEST(MediaMetadataNames, ProgramRunsRefuseNamesThatAreNotUtf8)
{
    const QString marker = lktest::sandboxRoot() + "/tool-ran";
    const lkmedia::ToolRun refused =
        lkmedia::runTool("/bin/sh", {"-c", "touch \"$0\"", marker, FileNames::decode("/v/bad\xff.mp4")}, 20000);
    EXPECT_FALSE(refused.started);
    EXPECT_FALSE(QFileInfo::exists(marker));
    const lkmedia::ToolRun plain = lkmedia::runTool("/bin/sh", {"-c", "touch \"$0\"", marker, "/v/good.mp4"}, 20000);
    EXPECT_TRUE(plain.completed());
    EXPECT_TRUE(QFileInfo::exists(marker));
}

TEST(MediaMetadataNames, FFprobeOutputTable)
{
    struct Row {
        const char *json;
        std::optional<VideoMediaInfo> expected;
    };
    auto info = [](std::optional<double> d, std::optional<int> w, std::optional<int> h, std::optional<double> fps,
                   std::optional<QString> codec) {
        VideoMediaInfo i;
        i.duration = d;
        i.width = w;
        i.height = h;
        i.fps = fps;
        i.codec = codec;
        return i;
    };
    const Row rows[] = {
        {R"({"streams":[{"codec_name":"h264","width":1920,"height":1080,"avg_frame_rate":"30000/1001"}],
             "format":{"duration":"12.500000"}})",
         info(12.5, 1920, 1080, 30000.0 / 1001.0, "H264")},
        {R"({"streams":[{"codec_name":"hevc","width":64,"height":32,"avg_frame_rate":"0/0"}],"format":{"duration":"1.0"}})",
         info(1.0, 64, 32, std::nullopt, "HEVC")},
        {R"({"streams":[{"codec_name":"vp9","width":64,"height":32,"avg_frame_rate":"25"}]})",
         info(std::nullopt, 64, 32, std::nullopt, "VP9")},
        {R"({"streams":[{"avg_frame_rate":"/25/"}],"format":{"duration":12}})",
         info(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)},
        {R"({"streams":[{"width":"64","height":32.5,"avg_frame_rate":"24/1/1"}],"format":{"duration":"0"}})",
         info(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)},
        {R"({"streams":[],"format":{"duration":"3.5"}})", info(3.5, std::nullopt, std::nullopt, std::nullopt, std::nullopt)},
        {R"({"streams":{"a":1},"format":{"duration":"nan"}})", info(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)},
        {R"({"streams":[1,{"width":5}],"format":{"duration":"-2"}})", info(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)},
        {R"({"format":{"duration":"inf"}})", info(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)},
        {R"([1,2])", std::nullopt},
        {"not json", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row &row : rows)
        EXPECT_EQ(lkmedia::parseFFprobeOutput(row.json), row.expected) << row.json;
}

// ---- facts of real files ----

TEST_F(MediaMetadataTest, FactsTable)
{
    MediaMetadataService service;
    const struct {
        const char *file;
        std::optional<double> duration;
        std::optional<int> width, height;
        std::optional<double> fps;
        std::optional<QString> codec;
        bool native;
    } rows[] = {
        {"h264.mp4", 3.0, 640, 360, 25.0, "H.264", true},
        {"clip.mov", 3.0, 160, 90, 25.0, "H.264", true},
        {"portrait.mp4", 3.0, 180, 320, 25.0, "H.264", true},
        {"short.mp4", 1.0, 192, 108, 25.0, "H.264", true},
        // Stored under the "mp4v" sample entry, labelled by its codec.
        {"mjpeg.mp4", 1.0, 160, 90, 25.0, "JPEG", true},
        {"h264.mkv", 3.0, 160, 90, 25.0, "H264", false},
        {"vp9.mkv", 2.002, 160, 90, 30000.0 / 1001.0, "VP9", false},
        {"clip.webm", 2.0, 160, 90, 25.0, "VP9", false},
        {"audio.mp4", 1.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false},
        {"truncated.mp4", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false},
        {"random.mp4", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false},
        {"missing.mp4", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        const VideoMediaInfo info = factsOf(service, clipUrl(row.file));
        ASSERT_EQ(info.duration.has_value(), row.duration.has_value());
        if (row.duration) {
            EXPECT_NEAR(*info.duration, *row.duration, 0.05);
        }
        EXPECT_EQ(info.width, row.width);
        EXPECT_EQ(info.height, row.height);
        ASSERT_EQ(info.fps.has_value(), row.fps.has_value());
        if (row.fps) {
            EXPECT_NEAR(*info.fps, *row.fps, 1e-6);
        }
        EXPECT_EQ(info.codec, row.codec);
        EXPECT_EQ(info.isPlayableNatively, row.native);
        EXPECT_EQ(service.cachedMetadata(clipUrl(row.file)), info);
    }
}

// Files the player cannot take natively report exactly what the fallback program says.
TEST_F(MediaMetadataTest, ReadableNonNativeFilesMatchFFprobe)
{
    if (!MediaMetadataService::ffprobePath())
        GTEST_SKIP() << "no ffprobe";
    MediaMetadataService service;
    for (const char *file : {"h264.mkv", "vp9.mkv", "clip.webm", "audio.mp4"}) {
        QString out;
        ASSERT_EQ(lktest::runProgram(*MediaMetadataService::ffprobePath(), lkmedia::ffprobeArguments(clip(file)), &out), 0);
        EXPECT_EQ(factsOf(service, clipUrl(file)), lkmedia::parseFFprobeOutput(out.toUtf8()).value()) << file;
    }
}

// ---- thumbnails ----

TEST_F(MediaMetadataTest, ThumbnailsFitTwiceTheSize)
{
    MediaMetadataService service(noPrograms());
    const struct {
        const char *file;
        QSizeF size;
        QSize expected;
    } rows[] = {
        {"h264.mp4", {96, 56}, {192, 108}},
        {"h264.mp4", {480, 270}, {640, 360}}, // never enlarged
        {"h264.mp4", {50, 0}, {100, 56}},     // a zero side is free
        {"portrait.mp4", {96, 56}, {63, 112}},
        {"short.mp4", {48, 27}, {96, 54}},
        {"vp9.mkv", {40, 40}, {80, 45}},
        {"clip.webm", {96, 56}, {160, 90}},
        {"clip.mov", {20, 20}, {40, 23}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + std::to_string(row.size.width()));
        const QImage image = thumbOf(service, clipUrl(row.file), row.size);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), row.expected);
        EXPECT_EQ(service.cachedThumbnail(clipUrl(row.file), row.size).value_or(QImage()).size(), row.expected);
    }
    for (const char *file : {"audio.mp4", "truncated.mp4", "random.mp4", "missing.mp4"})
        EXPECT_TRUE(thumbOf(service, clipUrl(file), {96, 56}).isNull()) << file;
    EXPECT_TRUE(thumbOf(service, clipUrl("h264.mp4"), {qInf(), 56}).isNull());
    EXPECT_TRUE(thumbOf(service, clipUrl("h264.mp4"), {1e300, 56}).isNull());
}

// The frame stands the way ffmpeg itself turns it for display.
TEST_F(MediaMetadataTest, RotatedFrameIsUpright)
{
    MediaMetadataService service(noPrograms());
    const QImage ours = thumbOf(service, clipUrl("portrait.mp4"), {90, 160}).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(ours.size(), QSize(180, 320));
    const QString ref = lktest::sandboxRoot() + "/portrait-ref.png";
    ASSERT_TRUE(ffmpegRun(ref, {"-ss", "1.5", "-i", clip("portrait.mp4"), "-frames:v", "1"}));
    const QImage theirs = QImage(ref).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(theirs.size(), QSize(180, 320));
    auto distance = [](const QImage &a, const QImage &b) {
        qint64 sum = 0;
        for (int y = 0; y < a.height(); y += 4)
            for (int x = 0; x < a.width(); x += 4) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
            }
        return sum;
    };
    const QImage upsideDown = ours.transformed(QTransform().rotate(180));
    EXPECT_LT(distance(ours, theirs) * 3, distance(upsideDown, theirs));
}

// Row thumbnails against ffmpeg's own frame: a phone-style clip turned by its track
// header, and an MPEG-TS clip with a single key frame at its start, where seeking to the
// thumbnail's time finds no frame and the picture must come from the start instead.
TEST_F(MediaMetadataTest, ThumbnailsShowThePictureAsFfmpegShowsIt)
{
    const QStringList x264{"-c:v", "libx264", "-pix_fmt", "yuv420p", "-preset", "ultrafast"};
    const QStringList oneKeyFrame = x264 + QStringList{"-g", "1000", "-keyint_min", "1000", "-sc_threshold", "0"};
    ASSERT_TRUE(lktest::makeMarkedClip(clip("upright.mp4"), 3, 320, 180, x264));
    ASSERT_TRUE(lktest::makeMarkedClip(clip("turned.mp4"), 3, 320, 180, x264));
    ASSERT_TRUE(lktest::setTrackRotation(clip("turned.mp4"), 90));
    ASSERT_TRUE(lktest::makeMarkedClip(clip("onekey.ts"), 8, 320, 180, oneKeyFrame));
    // As a phone writes it: HEVC in a QuickTime file.
    ASSERT_TRUE(lktest::makeMarkedClip(clip("phone.mov"), 3, 320, 180, {"-c:v", "libx265", "-tag:v", "hvc1", "-pix_fmt", "yuv420p"}));
    ASSERT_TRUE(lktest::setTrackRotation(clip("phone.mov"), 90));
    for (const char *file : {"upright.mp4", "turned.mp4", "onekey.ts", "phone.mov"}) {
        SCOPED_TRACE(file);
        const QImage truth = lktest::ffmpegFrame(clip(file), 1.5);
        ASSERT_FALSE(truth.isNull());
        MediaMetadataService service(noPrograms());
        const QImage ours = thumbOf(service, clipUrl(file), {160, 90});
        EXPECT_GT(lktest::pictureCorrelation(ours, truth), 0.9);
        EXPECT_NEAR(lktest::aspectOf(ours), lktest::aspectOf(truth), 0.05);
        // The ffmpeg program: the frame 2 s in, else the first one.
        QByteArray jpeg;
        for (const bool fromStart : {false, true}) {
            if (jpeg.isEmpty())
                jpeg = lkmedia::runTool("ffmpeg", lkmedia::ffmpegThumbnailArguments(clip(file), {160, 90}, fromStart),
                                        20000).output;
        }
        const QImage theirs = QImage::fromData(jpeg);
        EXPECT_GT(lktest::pictureCorrelation(theirs, truth), 0.9);
        EXPECT_NEAR(lktest::aspectOf(theirs), lktest::aspectOf(truth), 0.05);
    }
}

TEST_F(MediaMetadataTest, ThumbnailCacheOfTheDesktopComesFirst)
{
    const QString root = lktest::sandboxRoot() + "/thumbs";
    MediaMetadataService service(
        opts([&](auto &o) {
        o = noPrograms();
        o.thumbnailCacheRoot = root;
    }));
    const QString path = clip("clip.mov");
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    const QString file = root + "/normal/" + QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
    QDir().mkpath(root + "/normal");
    const qint64 mtime = QFileInfo(path).lastModified().toSecsSinceEpoch();

    auto store = [&](const QByteArray &storedUri, qint64 storedMtime) {
        QImage green(128, 72, QImage::Format_RGB32);
        green.fill(Qt::green);
        green.setText("Thumb::URI", QString::fromUtf8(storedUri));
        green.setText("Thumb::MTime", QString::number(storedMtime));
        ASSERT_TRUE(green.save(file, "PNG"));
    };
    const struct {
        QByteArray uri;
        qint64 mtime;
        bool used;
    } rows[] = {{uri, mtime, true}, {uri, mtime - 5, false}, {"file:///elsewhere.mov", mtime, false}};
    for (const auto &row : rows) {
        store(row.uri, row.mtime);
        service.invalidate(QUrl::fromLocalFile(path));
        const QImage image = thumbOf(service, QUrl::fromLocalFile(path), {48, 27});
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(96, 54));
        EXPECT_EQ(image.pixel(48, 27) == QColor(Qt::green).rgb(), row.used) << row.uri.constData() << row.mtime;
    }
}

// ---- joining, caching, invalidation ----

TEST_F(MediaMetadataTest, ConcurrentRequestsShareOneJob)
{
    MediaMetadataService service;
    QObject context;
    std::vector<VideoMediaInfo> facts;
    std::vector<QImage> images;
    for (int i = 0; i < 4; ++i) {
        service.metadata(clipUrl("h264.mp4"), &context, [&](const VideoMediaInfo &info) { facts.push_back(info); });
        service.thumbnail(clipUrl("h264.mp4"), {96, 56}, &context, [&](const QImage &image) { images.push_back(image); });
    }
    QFuture<VideoMediaInfo> future = service.metadata(clipUrl("h264.mp4"));
    ASSERT_TRUE(waitFor([&] { return facts.size() == 4 && images.size() == 4 && future.isFinished(); }));
    EXPECT_EQ(service.counters().metadataJobs, 1);
    EXPECT_EQ(service.counters().inProcessProbes, 1);
    EXPECT_EQ(service.counters().thumbnailJobs, 1);
    for (const auto &info : facts)
        EXPECT_EQ(info, facts.front());
    EXPECT_EQ(future.result(), facts.front());
    for (const auto &image : images)
        EXPECT_EQ(image, images.front());

    // Another size is another entry; the cache answers repeats without new work.
    thumbOf(service, clipUrl("h264.mp4"), {480, 270});
    factsOf(service, clipUrl("h264.mp4"));
    thumbOf(service, clipUrl("h264.mp4"), {96, 56});
    EXPECT_EQ(service.counters().thumbnailJobs, 2);
    EXPECT_EQ(service.counters().metadataJobs, 1);
}

TEST_F(MediaMetadataTest, UnreadableFileIsProbedOnceUntilInvalidated)
{
    const QString ffprobe = writeScript("probe-count", "echo run >> '" + runs + "'\nexit 1");
    auto service = serviceWith(QString(), ffprobe);
    QObject context;
    int answers = 0;
    for (int i = 0; i < 3; ++i)
        service->metadata(clipUrl("random.mp4"), &context, [&](const VideoMediaInfo &info) {
            EXPECT_EQ(info, VideoMediaInfo{});
            ++answers;
        });
    ASSERT_TRUE(waitFor([&] { return answers == 3; }));
    EXPECT_EQ(factsOf(*service, clipUrl("random.mp4")), VideoMediaInfo{});
    EXPECT_EQ(lineCount(runs), 1);
    service->invalidate(clipUrl("random.mp4"));
    factsOf(*service, clipUrl("random.mp4"));
    EXPECT_EQ(lineCount(runs), 2);
}

TEST_F(MediaMetadataTest, InvalidateEmptiesEveryThumbnail)
{
    MediaMetadataService service(noPrograms());
    thumbOf(service, clipUrl("h264.mp4"), {96, 56});
    thumbOf(service, clipUrl("clip.mov"), {96, 56});
    factsOf(service, clipUrl("clip.mov"));
    service.invalidate(clipUrl("h264.mp4"));
    EXPECT_FALSE(service.cachedThumbnail(clipUrl("clip.mov"), {96, 56}));
    EXPECT_FALSE(service.cachedThumbnail(clipUrl("h264.mp4"), {96, 56}));
    EXPECT_TRUE(service.cachedMetadata(clipUrl("clip.mov")));
    thumbOf(service, clipUrl("clip.mov"), {96, 56});
    EXPECT_EQ(service.counters().thumbnailJobs, 3);
}

// A probe that was running when its file was invalidated must neither store its (old)
// answer nor remove the newer probe's entry; its callers get the newer answer.
TEST_F(MediaMetadataTest, InvalidateDuringProbeKeepsOnlyTheNewAnswer)
{
    const QString dir = lktest::sandboxRoot() + "/stale";
    QDir().mkpath(dir);
    writeAll(dir + "/answer1", R"({"streams":[{"width":111,"height":1}]})");
    writeAll(dir + "/answer2", R"({"streams":[{"width":222,"height":2}]})");
    // Run n answers once the test creates release<n>, so the order of events does not
    // hang on how fast a loaded machine runs either side.
    const QString ffprobe = writeScript(
        "probe-stale", "echo run >> '" + runs + "'\nn=$(wc -l < '" + runs + "')\necho $$ > '" + dir +
                           "/pid'$n.part && mv '" + dir + "/pid'$n.part '" + dir + "/pid'$n\nanswer=$(cat '" + dir +
                           "/answer'$n)\nwhile [ ! -e '" + dir + "/release'$n ]; do sleep 0.02; done\necho \"$answer\"");
    auto service = serviceWith(QString(), ffprobe, opts([](auto &o) { o.programThreads = 2; }));
    const QUrl url = clipUrl("random.mp4");

    QObject context;
    std::vector<int> widths;
    service->metadata(url, &context, [&](const VideoMediaInfo &info) { widths.push_back(info.width.value_or(-1)); });
    ASSERT_TRUE(waitFor([&] { return lineCount(runs) == 1 && QFile::exists(dir + "/pid1"); }));
    service->invalidate(url);
    ASSERT_TRUE(waitFor([&] { return lineCount(runs) == 2 && QFile::exists(dir + "/pid2"); }));
    // The first run may answer now; it has ended (answered or killed), the second has not.
    writeAll(dir + "/release1", "");
    ASSERT_TRUE(waitUntilEnded(dir + "/pid1"));
    spin(300); // room for a wrongly kept old answer to land
    EXPECT_FALSE(service->cachedMetadata(url));
    service->metadata(url, &context, [&](const VideoMediaInfo &info) { widths.push_back(info.width.value_or(-1)); });
    writeAll(dir + "/release2", "");
    ASSERT_TRUE(waitFor([&] { return widths.size() == 2; }));
    EXPECT_EQ(widths, (std::vector<int>{222, 222}));
    EXPECT_EQ(lineCount(runs), 2);
    EXPECT_EQ(service->cachedMetadata(url).value_or(VideoMediaInfo{}).width, 222);
}

TEST_F(MediaMetadataTest, InvalidateDuringThumbnailDropsTheOldPicture)
{
    const QString dir = lktest::sandboxRoot() + "/stale-thumb";
    QDir().mkpath(dir);
    QImage a(30, 10, QImage::Format_RGB32), b(60, 10, QImage::Format_RGB32);
    a.fill(Qt::blue);
    b.fill(Qt::yellow);
    a.save(dir + "/image1", "JPEG");
    b.save(dir + "/image2", "JPEG");
    // As above: run n answers only once release<n> exists.
    const QString ffmpeg = writeScript(
        "ffmpeg-stale", "echo run >> '" + runs + "'\nn=$(wc -l < '" + runs + "')\necho $$ > '" + dir +
                            "/pid'$n.part && mv '" + dir + "/pid'$n.part '" + dir + "/pid'$n\nwhile [ ! -e '" + dir +
                            "/release'$n ]; do sleep 0.02; done\ncat '" + dir + "/image'$n");
    auto service = serviceWith(ffmpeg, QString(), opts([](auto &o) { o.programThreads = 2; }));
    const QUrl url = clipUrl("random.mp4");
    QObject context;
    std::vector<int> widths;
    service->thumbnail(url, {10, 10}, &context, [&](const QImage &image) { widths.push_back(image.width()); });
    ASSERT_TRUE(waitFor([&] { return lineCount(runs) == 1 && QFile::exists(dir + "/pid1"); }));
    service->invalidate(url);
    writeAll(dir + "/release1", ""); // the old picture is ready before the new one
    ASSERT_TRUE(waitUntilEnded(dir + "/pid1"));
    writeAll(dir + "/release2", "");
    ASSERT_TRUE(waitFor([&] { return widths.size() == 1; }));
    EXPECT_EQ(widths.front(), 60);
    EXPECT_EQ(service->cachedThumbnail(url, {10, 10}).value_or(QImage()).width(), 60);
    spin(300);
    EXPECT_EQ(service->cachedThumbnail(url, {10, 10}).value_or(QImage()).width(), 60);
    EXPECT_EQ(widths.size(), 1u);
}

// ---- the programs ----

TEST_F(MediaMetadataTest, ProgramsServeWhatTheLibrariesCannotRead)
{
    const QString args = lktest::sandboxRoot() + "/args-" + QString::number(QCoreApplication::applicationPid());
    const QString ffprobe = writeScript(
        "probe-json", "printf '%s\\n' \"$@\" > '" + args + ".probe'\n"
                      "echo '{\"streams\":[{\"codec_name\":\"h264\",\"width\":1920,\"height\":1080,"
                      "\"avg_frame_rate\":\"30000/1001\"}],\"format\":{\"duration\":\"7.25\"}}'");
    const QString ffmpeg = writeScript("ffmpeg-jpeg", "printf '%s\\n' \"$@\" > '" + args + ".ffmpeg'\ncat '" +
                                                          lktest::sandboxRoot() + "/red.jpg'");
    auto service = serviceWith(ffmpeg, ffprobe);
    const QUrl url = clipUrl("random.mp4");

    VideoMediaInfo expected;
    expected.duration = 7.25;
    expected.width = 1920;
    expected.height = 1080;
    expected.fps = 30000.0 / 1001.0;
    expected.codec = "H264";
    EXPECT_EQ(factsOf(*service, url), expected);
    EXPECT_EQ(QString::fromUtf8(readAll(args + ".probe")).split('\n', Qt::SkipEmptyParts),
              lkmedia::ffprobeArguments(clip("random.mp4")));

    const QImage image = thumbOf(*service, url, {10, 10});
    EXPECT_EQ(image.size(), QSize(40, 20));
    EXPECT_EQ(QString::fromUtf8(readAll(args + ".ffmpeg")).split('\n', Qt::SkipEmptyParts),
              lkmedia::ffmpegThumbnailArguments(clip("random.mp4"), {10, 10}));

    // Files the libraries read never reach the programs.
    QFile::remove(args + ".probe");
    QFile::remove(args + ".ffmpeg");
    factsOf(*service, clipUrl("vp9.mkv"));
    thumbOf(*service, clipUrl("vp9.mkv"), {96, 56});
    EXPECT_FALSE(QFile::exists(args + ".probe"));
    EXPECT_FALSE(QFile::exists(args + ".ffmpeg"));
}

TEST_F(MediaMetadataTest, FailedProgramRunsGiveNoResult)
{
    const struct {
        const char *name;
        const char *body;
    } rows[] = {{"nonzero", "echo '{\"streams\":[{\"width\":5}]}'\nexit 3"},
                {"garbage", "echo 'no json here'"},
                {"crash", "kill -SEGV $$"},
                {"silent", "exit 0"}};
    for (const auto &row : rows) {
        const QString program = writeScript(QString("fail-") + row.name, row.body);
        auto service = serviceWith(program, program);
        EXPECT_EQ(factsOf(*service, clipUrl("random.mp4")), VideoMediaInfo{}) << row.name;
        EXPECT_TRUE(thumbOf(*service, clipUrl("random.mp4"), {96, 56}).isNull()) << row.name;
    }
    auto none = serviceWith(QString(), QString());
    EXPECT_EQ(factsOf(*none, clipUrl("random.mp4")), VideoMediaInfo{});
    EXPECT_TRUE(thumbOf(*none, clipUrl("random.mp4"), {96, 56}).isNull());
    auto missing = serviceWith("/nonexistent/ffmpeg", "/nonexistent/ffprobe");
    EXPECT_EQ(factsOf(*missing, clipUrl("random.mp4")), VideoMediaInfo{});
    EXPECT_TRUE(thumbOf(*missing, clipUrl("random.mp4"), {96, 56}).isNull());
}

TEST_F(MediaMetadataTest, HangingProgramsAreKilledAtTheirLimit)
{
    EXPECT_EQ(MediaMetadataService::Options{}.factsTimeoutMs, 10000);
    EXPECT_EQ(MediaMetadataService::Options{}.frameTimeoutMs, 4000);
    const QString pids = lktest::sandboxRoot() + "/hang-pids";
    const QString hang = writeScript("hang", "echo $$ >> '" + pids + "'\nexec sleep 30");
    auto service = serviceWith(hang, hang, opts([](auto &o) {
        o.factsTimeoutMs = 700;
        o.frameTimeoutMs = 400;
    }));

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(factsOf(*service, clipUrl("random.mp4")), VideoMediaInfo{});
    const qint64 factsMs = clock.restart();
    EXPECT_TRUE(thumbOf(*service, clipUrl("random.mp4"), {96, 56}).isNull());
    const qint64 frameMs = clock.elapsed();
    EXPECT_GE(factsMs, 650);
    EXPECT_LT(factsMs, 5000);
    EXPECT_GE(frameMs, 350);
    EXPECT_LT(frameMs, 5000);
    EXPECT_EQ(service->counters().programTimeouts, 2);
    for (const QByteArray &pid : readAll(pids).split('\n'))
        if (!pid.isEmpty()) {
            EXPECT_NE(::kill(pid.toInt(), 0), 0) << "still running: " << pid.constData();
        }
}

TEST_F(MediaMetadataTest, MissingThumbnailIsRememberedUntilTheFileChanges)
{
    const QString ffmpeg = writeScript("ffmpeg-count", "echo run >> '" + runs + "'\nexit 1");
    auto service = serviceWith(ffmpeg, QString());
    const QString path = lktest::sandboxRoot() + "/changing.mp4";
    writeAll(path, QByteArray(4096, 'x'));
    const QUrl url = QUrl::fromLocalFile(path);

    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(thumbOf(*service, url, {96, 56}).isNull());
    EXPECT_EQ(lineCount(runs), 1);
    thumbOf(*service, url, {480, 270});
    EXPECT_EQ(lineCount(runs), 2); // another size is another key

    writeAll(path, QByteArray(8192, 'x')); // new size
    thumbOf(*service, url, {96, 56});
    EXPECT_EQ(lineCount(runs), 3);

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    f.close();
    thumbOf(*service, url, {96, 56});
    EXPECT_EQ(lineCount(runs), 4);

    thumbOf(*service, url, {96, 56});
    EXPECT_EQ(lineCount(runs), 4);
    service->invalidate(url);
    thumbOf(*service, url, {96, 56});
    EXPECT_EQ(lineCount(runs), 5);
}

TEST_F(MediaMetadataTest, ProgramThatFindsNoFrameAfterSeekingIsAskedForTheFirstOne)
{
    // Succeeds with no output when told to seek, as ffmpeg does on a one-key-frame MPEG-TS.
    const QString ffmpeg = writeScript("ffmpeg-seekless", "echo \"$*\" >> '" + runs + "'\ncase \"$*\" in *'-ss 2'*) exit 0;; esac\ncat '" +
                                                              lktest::sandboxRoot() + "/red.jpg'");
    auto service = serviceWith(ffmpeg, QString());
    const QString path = lktest::sandboxRoot() + "/unreadable-here.ts";
    writeAll(path, QByteArray(4096, 'x'));
    const QImage image = thumbOf(*service, QUrl::fromLocalFile(path), {96, 56});
    EXPECT_EQ(image.size(), QSize(40, 20));
    EXPECT_EQ(lineCount(runs), 2);
}

// ---- requests ----

TEST_F(MediaMetadataTest, CancelledOrOrphanedRequestsAreNotAnswered)
{
    MediaMetadataService service;
    QObject context;
    int calls = 0;
    MediaRequest facts = service.metadata(clipUrl("clip.mov"), &context, [&](const VideoMediaInfo &) { ++calls; });
    MediaRequest thumb = service.thumbnail(clipUrl("clip.mov"), {96, 56}, &context, [&](const QImage &) { ++calls; });
    facts.cancel();
    thumb.cancel();
    EXPECT_TRUE(facts.isCancelled());
    {
        QObject gone;
        service.metadata(clipUrl("clip.webm"), &gone, [&](const VideoMediaInfo &) { ++calls; });
    }
    factsOf(service, clipUrl("clip.mov"));
    factsOf(service, clipUrl("clip.webm"));
    spin(200);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(MediaRequest().isCancelled());

    // Cached answers come back queued, with the caller's generation.
    quint64 generation = 0;
    MediaRequest cached = service.metadata(clipUrl("clip.mov"), &context,
                                           [&](const VideoMediaInfo &, quint64 g) { generation = g; },
                                           MediaRequestOptions{.generation = 42});
    EXPECT_EQ(generation, 0u);
    EXPECT_FALSE(cached.isFinished());
    ASSERT_TRUE(waitFor([&] { return generation == 42; }));
    EXPECT_TRUE(cached.isFinished());
}

// Contexts deleted on the GUI thread while workers are handing their answers over: no
// answer reaches a deleted context, and a worker never touches one (run under a sanitizer
// this catches a use after free in the hand-over).
TEST_F(MediaMetadataTest, ContextsDeletedWhileAnswersAreHandedOver)
{
    auto service = serviceWith(QString(), QString(), opts([](auto &o) { o.workerThreads = 4; }));
    const QString path = clipDir() + "/deleted-context/not-a-video.mp4";
    writeAll(path, "not a video");
    const QUrl url = QUrl::fromLocalFile(path);
    std::atomic<int> late{0};
    int kept = 0;
    for (int round = 0; round < 300; ++round) {
        service->invalidate(url); // every round is served by a worker, not the cache
        auto *context = new QObject;
        const bool keep = round % 3 == 0;
        service->metadata(url, context, [&, keep](const VideoMediaInfo &) {
            if (keep)
                ++kept;
            else
                ++late;
        });
        if (keep) {
            ASSERT_TRUE(waitFor([&] { return kept == round / 3 + 1; }));
            delete context;
        } else {
            QThread::usleep(unsigned(round % 7) * 40); // lands at varying points of the hand-over
            delete context;
        }
    }
    spin(200);
    EXPECT_EQ(late.load(), 0);
    EXPECT_EQ(kept, 100);
}

// Waiting work runs visible rows first, newest first; raising a request moves it up.
TEST_F(MediaMetadataTest, VisibleAndNewestRequestsGoFirst)
{
    const QString order = lktest::sandboxRoot() + "/order";
    const QString ffprobe = writeScript("probe-order", "echo \"$9\" >> '" + order + "'\n[ -e '" + order +
                                                           ".first' ] || { touch '" + order + ".first'; sleep 0.8; }\nexit 1");
    auto service = serviceWith(QString(), ffprobe, opts([](auto &o) {
        o.workerThreads = 1;
        o.programThreads = 1;
    }));
    QStringList names{"blocker", "background", "visible-old", "normal", "visible-new"};
    for (const QString &n : names)
        writeAll(clipDir() + "/order/" + n + ".mp4", "not a video");
    auto url = [&](const QString &n) { return QUrl::fromLocalFile(clipDir() + "/order/" + n + ".mp4"); };

    QObject context;
    int done = 0;
    auto count = [&](const VideoMediaInfo &) { ++done; };
    service->metadata(url("blocker"), &context, count);
    ASSERT_TRUE(waitFor([&] { return lineCount(order) == 1; }));
    MediaRequest background = service->metadata(url("background"), &context, count,
                                                MediaRequestOptions{.priority = MediaRequestPriority::background});
    service->metadata(url("visible-old"), &context, count, MediaRequestOptions{.priority = MediaRequestPriority::visible});
    service->metadata(url("normal"), &context, count);
    service->metadata(url("visible-new"), &context, count, MediaRequestOptions{.priority = MediaRequestPriority::visible});
    background.setPriority(MediaRequestPriority::visible);
    ASSERT_TRUE(waitFor([&] { return done == 5; }));
    QStringList seen;
    for (const QByteArray &line : readAll(order).split('\n'))
        if (!line.isEmpty())
            seen << QFileInfo(QString::fromUtf8(line)).completeBaseName();
    EXPECT_EQ(seen, (QStringList{"blocker", "visible-new", "visible-old", "background", "normal"}));
}

} // namespace

// Only regular files reach a reader: a FIFO (which would block it for good), a folder and
// a device under a video's name give no facts and no picture, at once.
TEST_F(MediaMetadataTest, FilesThatAreNotRegularAreNeverRead)
{
    const QString fifo = clip("fifo.mp4");
    ::unlink(QFile::encodeName(fifo).constData());
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    QDir().mkpath(clip("folder.mp4"));
    ::unlink(QFile::encodeName(clip("null.mp4")).constData());
    ASSERT_EQ(::symlink("/dev/null", QFile::encodeName(clip("null.mp4")).constData()), 0);
    MediaMetadataService service;
    for (const char *name : {"fifo.mp4", "folder.mp4", "null.mp4"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(lkmedia::probeFile(clip(name), true));
        EXPECT_TRUE(lkmedia::decodeFrame(clip(name), 0, 64, 64).isNull());
        EXPECT_EQ(probeNativeDecodability(clip(name)), NativeDecodability::unknown);
        EXPECT_EQ(factsOf(service, clipUrl(name)), VideoMediaInfo{});
        EXPECT_TRUE(thumbOf(service, clipUrl(name), QSizeF(64, 64)).isNull());
    }
    ::unlink(QFile::encodeName(fifo).constData());
}

// Two names that differ only in bytes that are not UTF-8 are two files, each read as itself.
TEST_F(MediaMetadataTest, NamesThatAreNotUtf8AreRead)
{
    const QByteArray folder = FileNames::encode(clipDir());
    const QByteArray source = readAll(clip("h264.mp4"));
    const QByteArray other = readAll(clip("short.mp4"));
    const QByteArray names[] = {"dup\xff.mp4", "dup\xfe.mp4"};
    for (int i = 0; i < 2; ++i) {
        const QByteArray &bytes = i == 0 ? source : other;
        const int fd = ::open((folder + "/" + names[i]).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fd);
    }
    MediaMetadataService service;
    const QUrl first = QUrl::fromLocalFile(FileNames::decode(folder + "/" + names[0]));
    const QUrl second = QUrl::fromLocalFile(FileNames::decode(folder + "/" + names[1]));
    EXPECT_EQ(factsOf(service, first).width, 640);
    EXPECT_EQ(factsOf(service, second).width, 192);
    EXPECT_FALSE(thumbOf(service, first, QSizeF(64, 64)).isNull());
    for (const QByteArray &name : names)
        ::unlink((folder + "/" + name).constData());
}

// A frame far larger than any screen is not decoded (it would take hundreds of megabytes
// per picture); its facts still come from the file's header.
TEST_F(MediaMetadataTest, HugeFramesAreNotDecoded)
{
    ASSERT_TRUE(ffmpegRun(clip("huge.mp4"), {"-f", "lavfi", "-i", "color=c=gray:s=6400x6400:r=1:d=1", "-frames:v", "1",
                                            "-c:v", "mjpeg", "-q:v", "31"}));
    MediaMetadataService service(noPrograms());
    const VideoMediaInfo info = factsOf(service, clipUrl("huge.mp4"));
    EXPECT_EQ(info.width, 6400);
    EXPECT_EQ(info.height, 6400);
    EXPECT_TRUE(lkmedia::decodeFrame(clip("huge.mp4"), 0, 256, 256).isNull());
    EXPECT_TRUE(lkmedia::decodeFrame(clip("huge.mp4"), 0, 0, 0, {}, true).isNull());
    EXPECT_TRUE(thumbOf(service, clipUrl("huge.mp4"), QSizeF(128, 128)).isNull());
    // An 8K frame is still a picture.
    ASSERT_TRUE(ffmpegRun(clip("8k.mp4"), {"-f", "lavfi", "-i", "color=c=gray:s=7680x4320:r=1:d=1", "-frames:v", "1",
                                          "-c:v", "mjpeg", "-q:v", "31"}));
    EXPECT_EQ(lkmedia::decodeFrame(clip("8k.mp4"), 0, 256, 256).width(), 256);
}
