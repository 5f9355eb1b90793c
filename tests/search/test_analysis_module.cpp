// The face, text and speech engines come from a module loaded on first use: the program
// itself must not load OpenCV, Tesseract or pocketsphinx at start.

#include "search/AnalysisEngines.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>

#include <thread>

namespace {

QStringList loadedLibraries(const QStringList &prefixes)
{
    QFile maps("/proc/self/maps");
    if (!maps.open(QIODevice::ReadOnly)) return {"(no /proc/self/maps)"};
    const QString text = QString::fromUtf8(maps.readAll());
    QStringList found;
    for (const QString &prefix : prefixes)
        if (text.contains("/" + prefix)) found << prefix;
    return found;
}

int threadCount()
{
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

const QStringList kAnalysisLibraries{"libopencv_", "libtesseract", "libpocketsphinx", "libleptonica"};

} // namespace

TEST(AnalysisModule, IsLoadedOnlyWhenFirstNeededAndWorks)
{
    EXPECT_EQ(loadedLibraries(kAnalysisLibraries), QStringList()) << "loaded before any analysis was asked for";

    const AnalysisEngines *engines = analysisEngines();
    ASSERT_NE(engines, nullptr);
    EXPECT_EQ(analysisEngines(), engines) << "loaded once";
    EXPECT_EQ(loadedLibraries({"libopencv_objdetect", "libtesseract", "libpocketsphinx"}),
              QStringList({"libopencv_objdetect", "libtesseract", "libpocketsphinx"}));

    QImage blank(320, 240, QImage::Format_RGB32);
    blank.fill(Qt::white);
    EXPECT_EQ(engines->countFaces(blank), 0);
    EXPECT_TRUE(engines->hasTextLanguage("eng"));
    EXPECT_FALSE(engines->hasTextLanguage("no-such-language"));

    EXPECT_EQ(engines->recognizeText(blank, "eng", 24, 0.35f), "");

    std::unique_ptr<SpeechDecoder> speech(engines->createEnglishSpeech());
    ASSERT_NE(speech, nullptr);
    const std::vector<int16_t> silence(16000, 0);
    speech->feed(silence.data(), silence.size());
    EXPECT_TRUE(speech->finish().empty());
}

// Indexing reads text on several workers at once: each call runs on its worker alone. A team
// of threads per call (Tesseract's OpenMP) only multiplied the threads, and they spin while
// they wait, which under load took nearly all of the module's CPU time.
TEST(AnalysisModule, TextIsReadOnTheCallingThreadAlone)
{
    const AnalysisEngines *engines = analysisEngines();
    ASSERT_NE(engines, nullptr);
    const QString png = lktest::sandboxRoot() + "/words.png";
    ASSERT_TRUE(lktest::ffmpegOutput(png, {"-f", "lavfi", "-i", "color=c=white:s=640x160", "-vf",
                                           "drawtext=fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf:"
                                           "text='HARBOR SUNSET':fontsize=56:fontcolor=black:x=20:y=50",
                                           "-frames:v", "1"}));
    const QImage words(png);
    ASSERT_FALSE(words.isNull());
    const int before = threadCount();
    QString read;
    int during = 0;
    std::thread worker([&] {
        read = engines->recognizeText(words, "eng", 24, 0.35f);
        during = threadCount();
    });
    worker.join();
    EXPECT_EQ(read, "HARBOR SUNSET");
    EXPECT_EQ(during, before + 1) << "threads were started for the call";
}
