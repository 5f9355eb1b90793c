// The analysis module: faces by OpenCV's cascade classifier and on-screen text by Tesseract
// here, English speech by pocketsphinx in SpeechDecoding.cpp (their headers cannot meet in
// one file). Loaded by the program when indexing or transcription first needs one of them.

#include "analysis/AnalysisParts.h"
#include "search/AnalysisEngines.h"

#include <QFile>

#include <omp.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <tesseract/baseapi.h>

#include <memory>

namespace {

// Tesseract (and OpenCV, where built so) split each call over an OpenMP team whose idle
// threads spin while they wait. Indexing already runs one analysis per worker thread, so the
// teams only multiplied the threads, and under load nearly all of the module's CPU time went
// to that spinning. A worker's own calls run on the worker alone.
void keepOpenMPOnThisThread()
{
    thread_local const bool done = [] {
        omp_set_max_active_levels(0); // every parallel region of this thread runs on it alone
        return true;
    }();
    (void)done;
}

int countFaces(const QImage &image)
{
    keepOpenMPOnThisThread();
    // One classifier per thread: OpenCV's detectors are not to be shared between threads.
    thread_local std::unique_ptr<cv::CascadeClassifier> classifier;
    thread_local bool tried = false;
    if (!tried) {
        tried = true;
        auto c = std::make_unique<cv::CascadeClassifier>();
        if (c->load(LK_HAARCASCADE_DIR "/haarcascade_frontalface_default.xml"))
            classifier = std::move(c);
    }
    if (!classifier || image.isNull())
        return 0;
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    const cv::Mat view(gray.height(), gray.width(), CV_8UC1, const_cast<uchar *>(gray.constBits()),
                       size_t(gray.bytesPerLine()));
    cv::Mat equalized;
    cv::equalizeHist(view, equalized);
    std::vector<cv::Rect> faces;
    classifier->detectMultiScale(equalized, faces, 1.1, 5, 0, cv::Size(24, 24));
    return int(faces.size());
}

bool hasTextLanguage(const char *language)
{
    tesseract::TessBaseAPI probe;
    // Only the folder is needed; initialising "eng" is the cheapest way to learn it.
    if (probe.Init(nullptr, "eng") != 0)
        return false;
    return QFile::exists(QString::fromUtf8(probe.GetDatapath()) + "/" + QString::fromUtf8(language) + ".traineddata");
}

QString recognizeText(const QImage &image, const QString &languages, int maxLines, float lineThreshold)
{
    keepOpenMPOnThisThread();
    // One engine per thread, kept for the thread's life and re-made when the languages change.
    thread_local std::unique_ptr<tesseract::TessBaseAPI> api;
    thread_local QString apiLanguages;
    if (!api || apiLanguages != languages) {
        api = std::make_unique<tesseract::TessBaseAPI>();
        apiLanguages = languages;
        if (api->Init(nullptr, languages.toUtf8().constData(), tesseract::OEM_LSTM_ONLY) != 0) {
            api.reset();
            return {};
        }
        api->SetVariable("debug_file", "/dev/null");
        api->SetPageSegMode(tesseract::PSM_AUTO);
    }
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    api->SetImage(gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
    api->SetSourceResolution(96);
    QStringList kept;
    if (api->Recognize(nullptr) == 0) {
        std::unique_ptr<tesseract::ResultIterator> it(api->GetIterator());
        int seen = 0;
        if (it) {
            do {
                if (++seen > maxLines)
                    break;
                std::unique_ptr<char[]> raw(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                const float confidence = it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f;
                if (!raw || confidence < lineThreshold)
                    continue;
                const QString line = QString::fromUtf8(raw.get()).simplified();
                if (line.size() >= 2)
                    kept.append(line);
            } while (it->Next(tesseract::RIL_TEXTLINE));
        }
    }
    api->Clear();
    return kept.join(' ');
}

const AnalysisEngines kEngines{countFaces, hasTextLanguage, recognizeText, createEnglishSpeech};

} // namespace

extern "C" __attribute__((visibility("default"))) const AnalysisEngines *lumenkite_analysis_engines(int version)
{
    return version == kAnalysisEnginesVersion ? &kEngines : nullptr;
}
