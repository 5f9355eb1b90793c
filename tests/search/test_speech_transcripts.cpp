// Spoken words to stored transcripts: recognition of generated speech, grouping into
// segments, and the transcript file's reading, writing and damage handling.

#include "library/FileNames.h"
#include "search/SpeechAudio.h"
#include "search/SpeechRecognizer.h"
#include "search/SpeechTranscriptService.h"
#include "search/TranscriptFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>

namespace {

VideoTranscriptEntry entry(const QString &id, const QString &text = "hello there")
{
    VideoTranscriptEntry e;
    e.videoID = id;
    e.fileSize = 1234;
    e.modifiedTimestamp = 1700000001;
    e.localeIdentifier = "en_US";
    e.fullText = text;
    e.segments = {{0.5, "hello"}, {4.5, "there"}};
    return e;
}

QStringList speechTemporaryFiles()
{
    return QDir(QDir::tempPath()).entryList({"Lumenkite-Speech-*"}, QDir::Files);
}

// A clip whose sound track says `sentence` (flite), over a generated picture.
bool makeSpeechClip(const QString &path, const QString &sentence)
{
    return lktest::cachedFile(path, "speech-clip-kal16:" + sentence.toUtf8(), [&](const QString &out) {
        const QString wav = out + ".wav";
        // A 16 kHz voice: the 8 kHz default is too narrow for the recogniser's model.
        if (lktest::runProgram("flite", {"-voice", "kal16", "-t", sentence, "-o", wav}) != 0) return false;
        const bool ok = lktest::runProgram("ffmpeg", {"-y", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10",
                                                      "-i", wav, "-shortest", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                                                      "-c:a", "aac", out}) == 0;
        QFile::remove(wav);
        return ok;
    });
}

VideoFile videoAt(const QString &path) { return *VideoFile::fromFile(path); }

} // namespace

TEST(TranscriptSegments, AGroupClosesWhenAWordStartsFourSecondsAfterItsFirst)
{
    struct Case {
        std::vector<RecognizedWord> words;
        QList<TranscriptSegment> segments;
    };
    const QList<Case> cases{
        {{}, {}},
        {{{0.0, "a"}, {1.5, "b"}, {3.9, "c"}, {4.0, "d"}, {9.0, "e"}}, {{0.0, "a b c"}, {4.0, "d"}, {9.0, "e"}}},
        {{{2.0, "late"}, {5.99, "start"}}, {{2.0, "late start"}}},
        {{{0.0, "one"}, {30.0, "two"}, {33.0, "three"}}, {{0.0, "one"}, {30.0, "two three"}}},
    };
    for (const Case &c : cases) EXPECT_EQ(SpeechTranscriptService::groupSegments(c.words), c.segments);
}

TEST(TranscriptFileTest, RoundTripsAndOneBadEntryCostsOnlyItself)
{
    TranscriptMap map{{"/v/a.mp4", entry("/v/a.mp4", "quote \" backslash \\ newline \n ünï")}, {"/v/b.mp4", entry("/v/b.mp4")}};
    const TranscriptFile::Decoded back = TranscriptFile::decode(TranscriptFile::encode(map));
    EXPECT_EQ(back.entries, map);
    EXPECT_EQ(back.skippedEntries, 0);
    EXPECT_FALSE(back.damaged);

    const QByteArray good = R"("/g.mp4":{"videoID":"/g.mp4","fileSize":5,"modifiedTimestamp":1.5,"localeIdentifier":"en_US","fullText":"hi","segments":[{"start":0,"text":"hi"}]})";
    struct Case {
        const char *what;
        QByteArray bad;
    };
    const QList<Case> cases{
        {"missing member", R"("/b.mp4":{"videoID":"/b.mp4","fileSize":5,"modifiedTimestamp":1,"localeIdentifier":"en_US","segments":[]})"},
        {"size as text", R"("/b.mp4":{"videoID":"/b.mp4","fileSize":"5","modifiedTimestamp":1,"localeIdentifier":"en_US","fullText":"","segments":[]})"},
        {"negative size", R"("/b.mp4":{"videoID":"/b.mp4","fileSize":-5,"modifiedTimestamp":1,"localeIdentifier":"en_US","fullText":"","segments":[]})"},
        {"filed under another id", R"("/b.mp4":{"videoID":"/etc/passwd","fileSize":5,"modifiedTimestamp":1,"localeIdentifier":"en_US","fullText":"","segments":[]})"},
        {"segment without text", R"("/b.mp4":{"videoID":"/b.mp4","fileSize":5,"modifiedTimestamp":1,"localeIdentifier":"en_US","fullText":"","segments":[{"start":1}]})"},
        {"segments not a list", R"("/b.mp4":{"videoID":"/b.mp4","fileSize":5,"modifiedTimestamp":1,"localeIdentifier":"en_US","fullText":"","segments":{"start":1}})"},
        {"entry not an object", R"("/b.mp4":[1,2,{"a":3}])"},
        {"entry a number", R"("/b.mp4":7)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const TranscriptFile::Decoded d = TranscriptFile::decode("{" + c.bad + "," + good + "}");
        EXPECT_EQ(d.entries.keys(), QStringList{"/g.mp4"});
        EXPECT_EQ(d.skippedEntries, 1);
        EXPECT_FALSE(d.damaged);
    }
}

// A file cut short, or with an entry of the wrong type, keeps what was read; the file
// itself stays in place until the next save, which first moves it aside.
TEST(TranscriptFileTest, AFileWithAnythingUnreadIsMovedAsideBeforeTheNextSave)
{
    const QByteArray whole = TranscriptFile::encode({{"/v/a.mp4", entry("/v/a.mp4")}, {"/v/b.mp4", entry("/v/b.mp4")}});
    QByteArray mistyped = whole;
    ASSERT_EQ(mistyped.count("\"fileSize\":"), 2);
    mistyped.replace(mistyped.indexOf("\"fileSize\":") + 11, 0, "\"x\",\"y\":");
    struct Case {
        const char *what;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"cut short inside the second entry", whole.left(whole.size() - 20)},
        {"one entry's size is text", mistyped},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString path = dir.filePath("speech_transcripts_v1.json");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.bytes);
        f.close();

        {
            SpeechTranscriptService service(dir.path());
            EXPECT_EQ(service.entries().size(), 1);
        }
        // Read but never saved over: the next start reads the same file.
        EXPECT_EQ(QDir(dir.path()).entryList({"speech_transcripts_v1.damaged-*"}), QStringList());
        SpeechTranscriptService service(dir.path());
        EXPECT_EQ(service.entries().size(), 1);

        service.store(entry("/v/c.mp4"));
        service.waitForSaves();
        const QStringList aside = QDir(dir.path()).entryList({"speech_transcripts_v1.damaged-*"});
        ASSERT_EQ(aside.size(), 1);
        QFile kept(dir.filePath(aside.first()));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), c.bytes);
        EXPECT_EQ(SpeechTranscriptService(dir.path()).entries().size(), 2);
    }
}

TEST(TranscriptStore, ManyQuickStoresEndWithTheNewestOnDisk)
{
    QTemporaryDir dir;
    {
        SpeechTranscriptService service(dir.path());
        for (int i = 0; i < 200; ++i) service.store(entry("/v/same.mp4", "take " + QString::number(i)));
        for (int i = 0; i < 50; ++i) service.store(entry("/v/" + QString::number(i) + ".mp4"));
        service.waitForSaves();
    }
    const SpeechTranscriptService reread(dir.path());
    EXPECT_EQ(reread.entries().size(), 51);
    EXPECT_EQ(reread.entries().value("/v/same.mp4").fullText, "take 199");
}

TEST(Transcription, GeneratedSpeechComesBackAsTimedWords)
{
    const QString clip = lktest::sandboxRoot() + "/speech.mp4";
    ASSERT_TRUE(makeSpeechClip(clip, "Welcome to the harbour. The weather today is sunny and warm. "
                                     "Seven boats arrived in the morning."));
    // English speech is transcribed whatever the interface language: the recogniser falls back to en-US.
    for (const AppLanguage language : {AppLanguage::ja, AppLanguage::de}) {
        const auto other = SpeechTranscriptService::transcribe(videoAt(clip), language, QString("/usr/bin/ffmpeg"));
        ASSERT_TRUE(std::holds_alternative<VideoTranscriptEntry>(other)) << std::get<TranscriptError>(other).message.toStdString();
        EXPECT_EQ(std::get<VideoTranscriptEntry>(other).localeIdentifier, "en_US");
        EXPECT_TRUE(std::get<VideoTranscriptEntry>(other).fullText.contains("weather"));
    }
    const auto result = SpeechTranscriptService::transcribe(videoAt(clip), AppLanguage::en, QString("/usr/bin/ffmpeg"));
    ASSERT_TRUE(std::holds_alternative<VideoTranscriptEntry>(result)) << std::get<TranscriptError>(result).message.toStdString();
    const VideoTranscriptEntry &e = std::get<VideoTranscriptEntry>(result);
    EXPECT_EQ(e.localeIdentifier, "en_US");
    EXPECT_EQ(e.videoID, videoAt(clip).id);
    for (const char *word : {"weather", "today", "morning"}) EXPECT_TRUE(e.fullText.contains(word)) << e.fullText.toStdString();
    ASSERT_FALSE(e.segments.isEmpty());
    for (qsizetype i = 1; i < e.segments.size(); ++i) EXPECT_GT(e.segments[i].start, e.segments[i - 1].start);
    // "weather" is said before "morning", and the segment holding it starts earlier.
    const auto startOf = [&](const char *word) {
        for (const TranscriptSegment &s : e.segments)
            if (s.text.contains(word)) return s.start;
        return -1.0;
    };
    EXPECT_LE(startOf("weather"), startOf("morning"));
    EXPECT_GT(startOf("morning"), 2.0);
    EXPECT_TRUE(speechTemporaryFiles().isEmpty());
}

// The sound of a file whose name is not UTF-8 is read from its exact bytes in process; the
// program route, which would get another name on its command line, is not taken.
TEST(SpeechAudioNames, ANameThatIsNotUtf8IsReadInProcessOnly)
{
    const QString dir = lktest::sandboxRoot() + "/raw-speech";
    QDir().mkpath(dir);
    ASSERT_TRUE(makeSpeechClip(dir + "/plain.mp4", "Hello world."));
    const QByteArray raw = QFile::encodeName(dir) + "/bad\xff.mp4";
    ASSERT_EQ(::rename(QFile::encodeName(dir + "/plain.mp4").constData(), raw.constData()), 0);
    size_t samples = 0;
    const auto count = [&](const int16_t *, size_t n) {
        samples += n;
        return true;
    };
    EXPECT_FALSE(SpeechAudio::decode(FileNames::decode(raw), std::nullopt, count).has_value());
    EXPECT_GT(samples, 0u);

    // Noise the libraries cannot read goes to the program, which is not started for this name.
    const QByteArray noise = QFile::encodeName(dir) + "/noise\xfe.mkv";
    {
        QFile f(dir + "/noise.mkv");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, '\x5a'));
    }
    ASSERT_EQ(::rename(QFile::encodeName(dir + "/noise.mkv").constData(), noise.constData()), 0);
    EXPECT_EQ(SpeechAudio::decode(FileNames::decode(noise), QString("/usr/bin/ffmpeg"), count),
              SpeechAudio::Failure::extractionFailed);
}

TEST(Transcription, FailuresGiveTheirCodeAndLeaveNoTemporaryFile)
{
    const QString silent = lktest::sandboxRoot() + "/silent.mp4";
    ASSERT_TRUE(lktest::makeClip(silent, 2, 160, 120));
    const QString speech = lktest::sandboxRoot() + "/speech2.mp4";
    ASSERT_TRUE(makeSpeechClip(speech, "Hello world."));
    // Noise that no library nor ffmpeg can read.
    const QString noise = lktest::sandboxRoot() + "/noise.mkv";
    {
        QFile f(noise);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, '\x5a'));
    }
    struct Case {
        const char *what;
        QString path;
        AppLanguage language;
        bool cancel;
        int code;
    };
    const QList<Case> cases{
        {"no sound track", silent, AppLanguage::en, false, TranscriptError::noAudioTrack},
        {"cancelled", speech, AppLanguage::en, true, TranscriptError::cancelled},
        {"unreadable through the program too", noise, AppLanguage::en, false, TranscriptError::extractionFailed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto result = SpeechTranscriptService::transcribe(videoAt(c.path), c.language, QString("/usr/bin/ffmpeg"),
                                                                [&] { return c.cancel; });
        ASSERT_TRUE(std::holds_alternative<TranscriptError>(result));
        EXPECT_EQ(std::get<TranscriptError>(result).code, c.code);
        EXPECT_TRUE(speechTemporaryFiles().isEmpty());
    }
}

namespace {

VideoTranscriptEntry spoken(const QString &id, const QList<TranscriptSegment> &segments)
{
    VideoTranscriptEntry e = entry(id);
    QStringList all;
    for (const TranscriptSegment &s : segments) all.append(s.text);
    e.fullText = all.join(' ');
    e.segments = segments;
    return e;
}

} // namespace

TEST(TranscriptSearch, WholeQueriesTermCoverageAndMoments)
{
    QTemporaryDir dir;
    SpeechTranscriptService service(dir.path());
    const VideoFile a = *VideoFile::make("/v/a.mp4", 1, QDateTime::currentDateTime(), std::nullopt);
    const VideoFile b = *VideoFile::make("/v/b.mp4", 1, QDateTime::currentDateTime(), std::nullopt);
    const VideoFile c = *VideoFile::make("/v/c.mp4", 1, QDateTime::currentDateTime(), std::nullopt);
    const VideoFile unlisted = *VideoFile::make("/v/unlisted.mp4", 1, QDateTime::currentDateTime(), std::nullopt);
    service.store(spoken(a.id, {{10.0, "the red boat sails"}, {12.0, "a red boat again"}, {12.5, "red boat once more"},
                                {30.0, "nothing here"}}));
    QList<TranscriptSegment> nine;
    for (int i = 0; i < 9; ++i) nine.append({100.0 + 10 * i, "harbour lights"});
    service.store(spoken(b.id, nine));
    service.store(spoken(c.id, {{1.0, "apples pears plums"}, {6.0, "cherries"}}));
    service.store(spoken(unlisted.id, {{1.0, "red boat"}}));
    const QList<VideoFile> listed{a, b, c};

    EXPECT_TRUE(service.search("   ", listed).isEmpty());

    // Whole match: 0.96; moments 2.5 s apart at least.
    SearchHitMap hits = service.search("red boat", listed);
    ASSERT_EQ(hits.keys(), QStringList{a.id});
    EXPECT_DOUBLE_EQ(hits[a.id].score, 0.96);
    QList<double> at;
    for (const VisualSearchMoment &m : hits[a.id].moments) at.append(m.timestamp);
    EXPECT_EQ(at, (QList<double>{10.0, 12.5}));
    EXPECT_EQ(hits[a.id].bestTimestamp, std::optional<double>(10.0));
    EXPECT_TRUE(hits[a.id].isSpeechMatch);
    EXPECT_FALSE(hits[a.id].isOCRMatch);

    // Nine matching segments far apart: six moments, the earliest first.
    hits = service.search("harbour lights", listed);
    ASSERT_TRUE(hits.contains(b.id));
    EXPECT_EQ(hits[b.id].moments.size(), 6);
    EXPECT_EQ(hits[b.id].bestTimestamp, std::optional<double>(100.0));

    // Three of four terms: found at 0.9; two of four: not found.
    hits = service.search("apples pears plums grapes", listed);
    ASSERT_TRUE(hits.contains(c.id));
    EXPECT_DOUBLE_EQ(hits[c.id].score, 0.9);
    EXPECT_FALSE(service.search("apples pears grapes melons", listed).contains(c.id));
}
