// Speech: transcription of a 60 s generated talk against its duration (real-time factor),
// and transcript search over 100,000 transcripts against a plain substring scan of the same
// texts in the same run.
#include "search/SpeechTranscriptService.h"
#include "search/TranscriptFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(600000) && p.exitCode() == 0;
}

double transcriptionRealTimeFactor(const QString &dir)
{
    QString text;
    const char *sentences[] = {"The weather today is sunny and warm.", "Seven boats arrived in the harbour this morning.",
                               "We walked along the river and watched the birds.", "Tomorrow the market opens early."};
    for (int i = 0; i < 14; ++i) text += QString::fromLatin1(sentences[i % 4]) + " ";
    const QString wav = dir + "/talk.wav", clip = dir + "/talk.mp4";
    if (!run("flite", {"-voice", "kal16", "-t", text, "-o", wav})) return -1;
    if (!run("ffmpeg", {"-y", "-v", "error", "-f", "lavfi", "-i", "color=size=160x120:rate=10", "-i", wav, "-filter_complex",
                        "[1:a]apad=whole_dur=60[a]", "-map", "0:v", "-map", "[a]", "-t", "60", "-c:v", "libx264", "-c:a",
                        "aac", clip}))
        return -1;
    const VideoFile video = *VideoFile::fromFile(clip);
    QElapsedTimer t;
    t.start();
    const auto result = SpeechTranscriptService::transcribe(video, AppLanguage::en, QString("/usr/bin/ffmpeg"));
    const double seconds = t.nsecsElapsed() / 1e9;
    if (!std::holds_alternative<VideoTranscriptEntry>(result)) return -1;
    std::printf("transcribed 60 s in %.1f s: %lld words\n", seconds,
                qlonglong(std::get<VideoTranscriptEntry>(result).fullText.count(' ') + 1));
    return seconds / 60.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const double rtf = transcriptionRealTimeFactor(dir.path());
    std::printf("transcription real-time factor: %.2f\n", rtf);

    // 100,000 transcripts of 150 words each, drawn from a vocabulary of 3,000 made-up words
    // with a few common ones, as speech has: most queries match a small share of videos.
    QStringList vocabulary{"the", "and", "weather", "today", "morning", "harbour", "coffee", "train"};
    std::mt19937 rng(5);
    const char *syllables[] = {"ka", "lo", "mi", "ren", "to", "sa", "vel", "du", "pri", "on", "ga", "zu"};
    while (vocabulary.size() < 3000) {
        QString w;
        for (int k = 0; k < 2 + int(rng() % 2); ++k) w += QString::fromLatin1(syllables[rng() % 12]);
        vocabulary.append(w);
    }
    const auto word = [&] {
        // A fifth of the words are the common ones.
        return rng() % 5 == 0 ? vocabulary[rng() % 8] : vocabulary[8 + rng() % (vocabulary.size() - 8)];
    };
    TranscriptMap all100k;
    QList<VideoFile> videos;
    QStringList texts;
    for (int v = 0; v < 100000; ++v) {
        VideoTranscriptEntry e;
        e.videoID = QStringLiteral("/videos/clip%1.mp4").arg(v);
        e.localeIdentifier = "en_US";
        QStringList all;
        for (int s = 0; s < 10; ++s) {
            QStringList seg;
            for (int w = 0; w < 15; ++w) seg.append(word());
            e.segments.append({s * 4.0, seg.join(' ')});
            all.append(seg.join(' '));
        }
        e.fullText = all.join(' ');
        texts.append(e.fullText);
        all100k.insert(e.videoID, e);
        videos.append(*VideoFile::make(e.videoID, 1, QDateTime::currentDateTime(), std::nullopt));
    }
    // Written as a file and read back, as the program starts with it.
    TranscriptFile::save(all100k, dir.filePath("speech_transcripts_v1.json"));
    QElapsedTimer loadTime;
    loadTime.start();
    SpeechTranscriptService service(dir.path());
    std::printf("loaded %lld transcripts in %.0f ms\n", qlonglong(service.entries().size()), loadTime.nsecsElapsed() / 1e6);

    // The goal is for queries that pick some videos out of many; a word said in nearly every
    // video makes a hit with moments for each, which no plain scan has to build.
    double worst = 0;
    const QString rare = vocabulary[100], rare2 = vocabulary[2000];
    for (const QString &query : {QStringLiteral("zebra crossing"), rare + " " + rare2, rare, QStringLiteral("harbour")}) {
        double ours = 1e300, scan = 1e300;
        qsizetype hits = 0, reference = 0;
        for (int r = 0; r < 3; ++r) {
            QElapsedTimer t;
            t.start();
            hits = service.search(query, videos).size();
            ours = std::min(ours, t.nsecsElapsed() / 1e6);
            t.restart();
            reference = 0;
            for (const QString &text : texts) reference += text.contains(query);
            scan = std::min(scan, t.nsecsElapsed() / 1e6);
        }
        if (query != "harbour") worst = std::max(worst, ours / scan);
        std::printf("query \"%s\": search %.1f ms (%lld videos), substring scan %.1f ms (%lld texts)\n", qPrintable(query),
                    ours, qlonglong(hits), scan, qlonglong(reference));
    }
    std::printf("transcript search/substring scan ratio: %.2f (goal <= 2; queries matching under 5%% of the videos)\n", worst);
    return 0;
}
