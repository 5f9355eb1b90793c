#pragma once

// Face counting, on-screen text and speech recognition (OpenCV, Tesseract, pocketsphinx)
// live in a module of their own that is loaded when indexing or transcription first needs
// it: the program starts without those libraries and everything they pull in.

#include "search/SpeechRecognizer.h"

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// One recognition of speech, fed in order and finished once.
class SpeechDecoder
{
public:
    virtual ~SpeechDecoder() = default;
    virtual void feed(const int16_t *samples, size_t count) = 0;
    virtual std::vector<RecognizedWord> finish() = 0;
};

struct AnalysisEngines {
    // Frontal faces in the picture; 0 when the cascade data is missing.
    int (*countFaces)(const QImage &image);
    // Whether Tesseract has the trained data of `language` ("tur").
    bool (*hasTextLanguage)(const char *language);
    // The text lines read with at least `lineThreshold` confidence, at most `maxLines` looked
    // at, joined by spaces; `languages` as Tesseract names them ("deu+eng").
    QString (*recognizeText)(const QImage &image, const QString &languages, int maxLines, float lineThreshold);
    // The en-US decoder; null when its model is not installed.
    SpeechDecoder *(*createEnglishSpeech)();
};

// The module's one entry point; null when it was built for another layout of the table.
inline constexpr int kAnalysisEnginesVersion = 1;
extern "C" const AnalysisEngines *lumenkite_analysis_engines(int version);

// The loaded module's engines, loaded on the first call; null when the module is missing or
// cannot be loaded (then no faces, text or speech are recognised).
const AnalysisEngines *analysisEngines();
