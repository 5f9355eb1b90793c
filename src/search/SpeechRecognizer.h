#pragma once

// English speech to timed words with pocketsphinx. The recording is cut into utterances at
// silences, so a long file never grows one huge search; word times stay absolute.

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct RecognizedWord {
    double start = 0; // seconds from the start of the recording
    QString text;
    bool operator==(const RecognizedWord &other) const = default;
};

class SpeechRecognizer
{
public:
    // The en-US model installed with pocketsphinx; none when it is missing.
    static std::unique_ptr<SpeechRecognizer> createEnglish();
    ~SpeechRecognizer();

    // 16 kHz mono samples, in order.
    void feed(const int16_t *samples, size_t count);
    // Ends the last utterance and returns every word heard.
    std::vector<RecognizedWord> finish();

    // The locale of the recogniser's model.
    static QString localeIdentifier() { return QStringLiteral("en_US"); }

private:
    struct Private;
    explicit SpeechRecognizer(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};
