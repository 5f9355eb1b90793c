#include "SpeechRecognizer.h"

#include "AnalysisEngines.h"

struct SpeechRecognizer::Private {
    std::unique_ptr<SpeechDecoder> decoder;
};

std::unique_ptr<SpeechRecognizer> SpeechRecognizer::createEnglish()
{
    const AnalysisEngines *engines = analysisEngines();
    if (!engines) return nullptr;
    auto d = std::make_unique<Private>();
    d->decoder.reset(engines->createEnglishSpeech());
    if (!d->decoder) return nullptr;
    return std::unique_ptr<SpeechRecognizer>(new SpeechRecognizer(std::move(d)));
}

SpeechRecognizer::SpeechRecognizer(std::unique_ptr<Private> p) : d(std::move(p)) {}

SpeechRecognizer::~SpeechRecognizer() = default;

void SpeechRecognizer::feed(const int16_t *samples, size_t count) { d->decoder->feed(samples, count); }

std::vector<RecognizedWord> SpeechRecognizer::finish() { return d->decoder->finish(); }
