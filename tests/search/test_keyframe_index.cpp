// Keyframes and the per-video indexing pipeline on generated clips with large text drawn
// into the frames: the text must be read, the frames taken where the tables say, the
// Turkish tags and caption built by their rules, with and without the fixture CLIP model.

#include "ClipFixtures.h"

#include "media/MediaMetadataService.h"
#include "search/KeyframeExtraction.h"
#include "search/KeyframeIndexPipeline.h"
#include "search/VisualSearchService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/stat.h>

namespace kip = KeyframeIndexPipeline;

namespace {

const QString kFont = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");

// A 10 s clip, black words on white at the centre; `encoder` adds to the encoder's options.
QString textClip(const QString &name, const QString &words, const QStringList &encoder = {})
{
    const QString path = lktest::sandboxRoot() + "/" + name;
    const QString filter = QStringLiteral("color=c=white:s=640x360:d=10:r=10,drawtext=fontfile=%1:text='%2':"
                                          "fontsize=56:fontcolor=black:x=(w-tw)/2:y=(h-th)/2")
                               .arg(kFont, words);
    if (!lktest::ffmpegOutput(path, QStringList{"-f", "lavfi", "-i", filter, "-c:v", "libx264", "-pix_fmt", "yuv420p"} +
                                        encoder))
        return {};
    return path;
}

VideoFile videoAt(const QString &path, const QDateTime &modified = QDateTime::fromSecsSinceEpoch(1700000000))
{
    return *VideoFile::make(path, QFileInfo(path).size(), modified, std::nullopt);
}

TEST(KeyframeTables, FractionsTimesAndArguments)
{
    const struct {
        double seconds;
        QList<double> fractions;
    } fractionCases[] = {{NAN, {0.0}}, {1.0, {0.0}}, {10, {0.22, 0.75}}, {15, {0.12, 0.5, 0.86}},
                         {90, {0.08, 0.36, 0.64, 0.9}}, {600, {0.06, 0.26, 0.5, 0.74, 0.92}}};
    for (const auto &c : fractionCases)
        EXPECT_EQ(keyframes::fractionsForDuration(c.seconds), c.fractions) << c.seconds;

    const struct {
        std::optional<double> duration;
        QStringList ss;
    } ffmpegCases[] = {{std::nullopt, {"0.00"}}, {1.9, {"0.00"}}, {30, {"7.50", "22.50"}},
                       {120, {"14.40", "60.00", "102.00"}}};
    for (const auto &c : ffmpegCases) {
        QStringList ss;
        for (double t : keyframes::ffmpegTimes(c.duration)) {
            const QStringList args = keyframes::ffmpegKeyframeArguments("/v/a b.mkv", t);
            ASSERT_EQ(args.size(), 16);
            EXPECT_EQ(args[6], "/v/a b.mkv");
            ss.append(args[4]);
        }
        EXPECT_EQ(ss, c.ss);
    }
}

// Each keyframe's time is the time its picture is shown, as ffprobe reads the file's frames:
// in process the key frame at or before the table's time (a two-second group of pictures
// puts it up to two seconds earlier), through the program the first frame at or after it.
TEST(KeyframeExtraction, SourcesInOrderAndAHangingProgramIsCut)
{
    const QString clip = textClip("frames.mp4", "FRAMES", {"-g", "20", "-keyint_min", "20", "-sc_threshold", "0"});
    ASSERT_FALSE(clip.isEmpty());
    const QList<lktest::ProbedFrame> frames = lktest::probeFrames(clip);
    ASSERT_EQ(frames.size(), 100);
    const auto keyAtOrBefore = [&](double t) {
        double shown = 0;
        for (const lktest::ProbedFrame &f : frames)
            if (f.key && f.seconds <= t + 1e-6) shown = f.seconds;
        return shown;
    };
    const auto firstAtOrAfter = [&](double t) {
        for (const lktest::ProbedFrame &f : frames)
            if (f.seconds >= t - 1e-6) return f.seconds;
        return frames.last().seconds;
    };
    const auto expectTimes = [](const QList<TimedKeyframe> &got, const QList<double> &truth) {
        ASSERT_EQ(got.size(), truth.size());
        for (qsizetype i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i].timestamp, truth[i], 1e-3) << i;
    };

    // In process, within 512x512.
    const QList<TimedKeyframe> native = keyframes::extractInProcess(clip);
    QList<double> nativeTruth;
    for (double f : keyframes::fractionsForDuration(10)) nativeTruth.append(keyAtOrBefore(f * 10));
    ASSERT_NE(nativeTruth, (QList<double>{2.2, 7.5})); // the fault: the times asked for
    expectTimes(native, nativeTruth);
    for (const TimedKeyframe &f : native) EXPECT_EQ(f.image.size(), QSize(512, 288));

    // The program, 512 wide (given all the time a busy machine needs).
    const QString ffmpeg = MediaMetadataService::ffmpegPath().value_or(QString());
    ASSERT_FALSE(ffmpeg.isEmpty());
    const QList<TimedKeyframe> viaProgram = keyframes::extractWithFFmpeg(clip, ffmpeg, 10.0, 120000);
    QList<double> programTruth;
    for (double t : keyframes::ffmpegTimes(10.0)) programTruth.append(firstAtOrAfter(t));
    expectTimes(viaProgram, programTruth);
    for (const TimedKeyframe &f : viaProgram) EXPECT_EQ(f.image.width(), 512);

    // A program that never answers is killed and its time skipped.
    const QString hang = lktest::sandboxRoot() + "/hang.sh";
    QFile script(hang);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexec sleep 30\n");
    script.close();
    script.setPermissions(QFile::ExeOwner | QFile::ReadOwner);
    EXPECT_TRUE(keyframes::extractWithFFmpeg(clip, hang, std::nullopt, 300).isEmpty());

    // A FIFO in place of the file is never handed to the program, which would wait on it.
    const QString fifo = lktest::sandboxRoot() + "/fifo.mp4", marker = lktest::sandboxRoot() + "/program-ran";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    QFile recorder(lktest::sandboxRoot() + "/record.sh");
    ASSERT_TRUE(recorder.open(QIODevice::WriteOnly));
    recorder.write(("#!/bin/sh\ntouch '" + marker + "'\n").toUtf8());
    recorder.close();
    recorder.setPermissions(QFile::ExeOwner | QFile::ReadOwner);
    EXPECT_TRUE(keyframes::extractWithFFmpeg(fifo, recorder.fileName(), 10.0, 300).isEmpty());
    EXPECT_FALSE(QFile::exists(marker));

    // An unreadable file with no program falls back to the thumbnail, then to nothing.
    const QString junk = lktest::sandboxRoot() + "/junk.mp4";
    ASSERT_TRUE(lktest::writeSizedFile(junk, 4096));
    keyframes::Sources sources;
    QImage thumb(360, 202, QImage::Format_RGB32);
    thumb.fill(Qt::red);
    sources.thumbnail = [&](const VideoFile &) { return thumb; };
    const QList<TimedKeyframe> fallback = keyframes::keyframes(videoAt(junk), sources);
    ASSERT_EQ(fallback.size(), 1);
    EXPECT_EQ(fallback[0].timestamp, 0.0);
    sources.thumbnail = [](const VideoFile &) { return QImage(); };
    EXPECT_TRUE(keyframes::keyframes(videoAt(junk), sources).isEmpty());
}

TEST(IndexPipelineRules, TextTagsAndCaption)
{
    EXPECT_EQ(kip::videoText({"Harbor Sunset", "HARBOR SUNSET\nopen  daily", "\r\n"}), "Harbor Sunset open  daily");

    const QHash<QString, float> labels = {{"dog", 0.8f}, {"cat", 0.5f}, {"unknown_thing", 0.9f}};
    const QStringList tags = kip::displayTags(labels, 2);
    EXPECT_EQ(tags, (QStringList{VisualSearchService::labelTranslationTR().value("dog"),
                                 VisualSearchService::labelTranslationTR().value("cat"), "insanlar"}));
    EXPECT_EQ(kip::displayTags({}, 1), QStringList{"kişi"});

    const QString longText(200, QChar('x'));
    const struct {
        QString text;
        QStringList tags;
        int faces;
        bool embedding;
        QString caption;
    } cases[] = {
        {"Harbor", {"köpek"}, 0, false, "Sahne: köpek · Metin: Harbor"},
        {longText, {"a"}, 0, false, "Sahne: a · Metin: " + longText.left(70)},
        {longText, {}, 0, false, "Ekrandaki metin: " + longText.left(110)},
        {"", {"kişi"}, 1, false, "Sahne öğeleri: kişi · 1 yüz"},
        {"", {"a", "b", "c", "d", "e", "f"}, 0, false, "Sahne öğeleri: a, b, c, d, e"},
        {"", {}, 0, true, "MobileCLIP görsel vektörü hazır"},
        {"", {}, 0, false, "Görsel analiz tamamlandı"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(kip::caption(c.text, c.tags, c.faces, c.embedding), c.caption);

    EXPECT_EQ(kip::ocrLanguages(AppLanguage::en, true), "eng+tur");
    EXPECT_EQ(kip::ocrLanguages(AppLanguage::en, false), "eng");
    EXPECT_EQ(kip::ocrLanguages(AppLanguage::ja, true), "jpn+eng");
    EXPECT_EQ(kip::ocrLanguages(AppLanguage::de, true), "deu+eng");
}

TEST(IndexPipelineRules, ZeroShotConfidenceIsASoftmaxAtClipsScale)
{
    // A clear match takes nearly all the probability; a near-tie between two shares it
    // (both below 0.5 but above the threshold); a spread over many falls below it.
    const std::vector<float> img = {1, 0, 0};
    const auto labels = [](std::initializer_list<std::pair<const char *, std::vector<float>>> l) {
        QList<std::pair<QString, std::vector<float>>> out;
        for (const auto &[n, v] : l) out.append({n, v});
        return out;
    };
    const auto clear = kip::zeroShotLabels(img, labels({{"Dog", {0.30f, 1, 0}}, {"cat", {0.20f, 0, 1}}}));
    EXPECT_GT(clear.value("dog"), 0.99f);
    EXPECT_FALSE(clear.contains("cat"));
    const auto tie = kip::zeroShotLabels(img, labels({{"a", {0.30f, 0, 0}}, {"b", {0.30f, 0, 0}}, {"c", {0.29f, 0, 0}}}));
    EXPECT_EQ(tie.size(), 2);
    EXPECT_NEAR(tie.value("a"), 1 / (2 + std::exp(-1.0)), 1e-5);
    EXPECT_EQ(tie.value("a"), tie.value("b"));
    QList<std::pair<QString, std::vector<float>>> many;
    for (int i = 0; i < 10; ++i) many.append({QString::number(i), {0.25f, 0, 0}});
    EXPECT_TRUE(kip::zeroShotLabels(img, many).isEmpty());
}

class IndexPipelineTest : public ::testing::Test {
protected:
    kip::Options options(std::shared_ptr<MobileCLIPService> clip = nullptr)
    {
        kip::Options o;
        o.keyframes = [](const VideoFile &v, const std::function<bool()> &c) {
            return keyframes::keyframes(v, keyframes::Sources::standard(), c);
        };
        o.clip = std::move(clip);
        o.language = AppLanguage::en;
        return o;
    }
};

TEST_F(IndexPipelineTest, ReadsTheOnScreenTextWithoutTheModel)
{
    const QString clip = textClip("harbor.mp4", "HARBOR SUNSET");
    ASSERT_FALSE(clip.isEmpty());
    const VideoFile video = videoAt(clip, QDateTime::fromMSecsSinceEpoch(1700000000500));
    const VideoIndexOutcome out = kip::indexVideo(video, options());
    ASSERT_EQ(out.kind, VideoIndexOutcome::Kind::indexed);
    const VideoVisualIndexEntry &e = out.entry;
    EXPECT_EQ(e.videoID, video.id);
    EXPECT_EQ(e.fileSize, video.fileSize);
    EXPECT_EQ(e.modifiedTimestamp, 1700000001.0);
    ASSERT_EQ(e.frameMoments.size(), 2);
    // Both frames show the same words: the video text holds them once.
    EXPECT_EQ(e.ocrText, "HARBOR SUNSET");
    EXPECT_EQ(e.frameMoments[0].ocrText, "HARBOR SUNSET");
    EXPECT_EQ(e.captionTR, "Ekrandaki metin: HARBOR SUNSET");
    EXPECT_TRUE(e.clipEmbeddings.isEmpty());
    EXPECT_TRUE(e.labelsEN.isEmpty());
    EXPECT_EQ(e.detectedFaces, 0);
    EXPECT_EQ(e.engineUsed, "OpenCV + Tesseract");
}

TEST_F(IndexPipelineTest, EmbedsEveryKeyframeWithTheFixtureModel)
{
    ASSERT_TRUE(clipfix::installTinyModels(MobileCLIPModelManager::modelsDirectory()));
    const auto service = MobileCLIPService::create(*MobileCLIPService::AssetPaths::resolve());
    ASSERT_NE(service, nullptr);
    const QString clip = textClip("market.mp4", "FISH MARKET");
    ASSERT_FALSE(clip.isEmpty());
    const VideoIndexOutcome out = kip::indexVideo(videoAt(clip), options(service));
    ASSERT_EQ(out.kind, VideoIndexOutcome::Kind::indexed);
    const VideoVisualIndexEntry &e = out.entry;
    ASSERT_EQ(e.clipEmbeddings.size(), 2);
    for (const IndexedFrameMoment &m : e.frameMoments) EXPECT_TRUE(m.clipEmbedding.has_value());
    EXPECT_EQ(e.ocrText, "FISH MARKET");
    EXPECT_EQ(e.engineUsed, "MobileCLIP-S2 + Tesseract");
    // Labels, when the tiny model gives any, are label words with a probability.
    for (auto it = e.labelsEN.cbegin(); it != e.labelsEN.cend(); ++it) {
        EXPECT_TRUE(kip::labelVocabulary().contains(it.key(), Qt::CaseInsensitive)) << it.key().toStdString();
        EXPECT_GE(it.value(), kip::kLabelThreshold);
        EXPECT_LE(it.value(), 1.0f);
    }
}

TEST_F(IndexPipelineTest, UnreadableOrCancelledGivesNoEntry)
{
    const QString junk = lktest::sandboxRoot() + "/junk2.mp4";
    ASSERT_TRUE(lktest::writeSizedFile(junk, 4096));
    kip::Options o = options();
    o.keyframes = [](const VideoFile &, const std::function<bool()> &) { return QList<TimedKeyframe>{}; };
    EXPECT_EQ(kip::indexVideo(videoAt(junk), o).kind, VideoIndexOutcome::Kind::skippedUnreadable);

    const QString clip = textClip("harbor.mp4", "HARBOR SUNSET");
    EXPECT_EQ(kip::indexVideo(videoAt(clip), options(), [] { return true; }).kind,
              VideoIndexOutcome::Kind::skippedUnreadable);
}

} // namespace

// The real services behind the application state: a run over two text clips reads their
// words, stores the entries in the visual index's file, and a search finds the clip by them.
#include "library/AppState.h"
#include "search/AppOnDeviceSearchServices.h"
#include "search/VisualIndexFile.h"

#include <QStandardPaths>

namespace {

TEST(IndexingRunEndToEnd, TheRunIndexesSavesAndTheSearchFindsTheWords)
{
    const QString harbor = textClip("harbor.mp4", "HARBOR SUNSET");
    const QString market = textClip("market.mp4", "FISH MARKET");
    ASSERT_FALSE(harbor.isEmpty());
    ASSERT_FALSE(market.isEmpty());
    AppState::Services services;
    auto search = std::make_shared<AppOnDeviceSearchServices>();
    services.onDeviceSearch = search;
    AppState state(services);
    state.setAllVideos({videoAt(harbor), videoAt(market)});
    state.startAIIndexingIfNeeded();
    ASSERT_TRUE(lktest::waitFor([&] { return !state.isAIIndexing(); }, clipfix::kIndexingWaitMs));
    EXPECT_EQ(state.aiIndexedCount(), 2);
    EXPECT_EQ(state.activeToast()->message, "2 / 2 indexed");
    EXPECT_EQ(state.aiIndexEntries().value(videoAt(harbor).id).ocrText, "HARBOR SUNSET");

    VisualSearchService::shared().waitForSaves();
    VisualSearchService reloaded(QFileInfo(VisualSearchService::shared().cacheFilePath()).path());
    EXPECT_EQ(reloaded.indexByVideoID().value(videoAt(market).id).ocrText, "FISH MARKET");

    const SearchHitMap hits = search->visualSearch("fish market", state.allVideos());
    ASSERT_TRUE(hits.contains(videoAt(market).id));
    EXPECT_TRUE(hits.value(videoAt(market).id).isOCRMatch);
    EXPECT_FALSE(hits.contains(videoAt(harbor).id));
}

} // namespace

namespace {

// A stored entry whose embeddings have another length than the installed model's (another
// model made them) is not counted as indexed and is indexed again by the next run with this
// model; an entry of the right length is kept as it was.
TEST(IndexingRunEndToEnd, AnEntryOfAnotherModelIsIndexedAgain)
{
    ASSERT_TRUE(clipfix::installTinyModels(MobileCLIPModelManager::modelsDirectory()));
    const auto clip = MobileCLIPService::shared();
    ASSERT_NE(clip, nullptr);
    // The length the model's own embeddings have.
    QImage grey(64, 64, QImage::Format_RGB32);
    grey.fill(Qt::gray);
    const std::optional<MobileCLIPService::Vector> sample = clip->imageEmbedding(grey);
    ASSERT_TRUE(sample.has_value());
    const qsizetype dimension = qsizetype(sample->size());
    EXPECT_EQ(clip->imageDimension(), dimension);

    const QString harbor = textClip("harbor.mp4", "HARBOR SUNSET");
    const QString market = textClip("market.mp4", "FISH MARKET");
    ASSERT_FALSE(harbor.isEmpty());
    ASSERT_FALSE(market.isEmpty());
    const auto storedEntry = [](const VideoFile &v, qsizetype length) {
        VideoVisualIndexEntry e;
        e.videoID = v.id;
        e.fileSize = v.fileSize;
        e.modifiedTimestamp = double(v.modifiedDate.toSecsSinceEpoch());
        const QuantizedEmbedding q{0.01f, QList<qint8>(length, 3)};
        e.clipEmbeddings = {q};
        e.frameMoments = {{2.0, q, "STORED"}};
        e.ocrText = "STORED";
        e.engineUsed = "MobileCLIP-S2 + Tesseract";
        return e;
    };
    const VideoFile harborVideo = videoAt(harbor), marketVideo = videoAt(market);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Lumenkite";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(VisualIndexFile::save({{harborVideo.id, storedEntry(harborVideo, dimension * 2)},
                                       {marketVideo.id, storedEntry(marketVideo, dimension)}},
                                      folder + "/visual_index_v4.json"));

    AppState::Services services;
    auto search = std::make_shared<AppOnDeviceSearchServices>();
    services.onDeviceSearch = search;
    AppState state(services);
    state.setAllVideos({harborVideo, marketVideo});
    ASSERT_TRUE(lktest::waitFor([&] { return state.aiIndexEntries().size() == 2; }, 60000));
    EXPECT_EQ(state.indexedVideoCount(), 1);

    state.startAIIndexingIfNeeded();
    ASSERT_TRUE(lktest::waitFor([&] { return !state.isAIIndexing(); }, clipfix::kIndexingWaitMs));
    const VideoVisualIndexEntry redone = state.aiIndexEntries().value(harborVideo.id);
    EXPECT_EQ(redone.ocrText, "HARBOR SUNSET");
    ASSERT_FALSE(redone.clipEmbeddings.isEmpty());
    for (const QuantizedEmbedding &e : redone.clipEmbeddings) EXPECT_EQ(e.data.size(), dimension);
    EXPECT_EQ(state.aiIndexEntries().value(marketVideo.id).ocrText, "STORED");
    EXPECT_EQ(state.indexedVideoCount(), 2);

    // The file holds the new entry, so the next start does not index it again.
    VisualSearchService::shared().waitForSaves();
    VisualSearchService reloaded(folder);
    EXPECT_EQ(reloaded.indexByVideoID().value(harborVideo.id).clipEmbeddings, redone.clipEmbeddings);
}

} // namespace
