#include "SpeechRecognizer.h"

#include "SpeechAudio.h"

#include <QFile>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <mutex>

#ifndef LK_POCKETSPHINX_MODELDIR
#define LK_POCKETSPHINX_MODELDIR "/usr/share/pocketsphinx/model"
#endif

namespace {

// pocketsphinx logs every decoder step to standard error unless told otherwise.
void quietLogging()
{
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

constexpr double kFrameSeconds = 0.01; // pocketsphinx counts 100 frames a second

// "<s>", "</s>", "<sil>", "[NOISE]", "++GARBAGE++": markers, not words; "word(2)" is an
// alternative pronunciation of "word".
QString spokenWord(const char *raw)
{
    if (!raw || !*raw || raw[0] == '<' || raw[0] == '[' || raw[0] == '+') return {};
    QString w = QString::fromUtf8(raw);
    const int paren = w.indexOf('(');
    if (paren > 0) w.truncate(paren);
    return w;
}

} // namespace

struct SpeechRecognizer::Private {
    ps_decoder_t *ps = nullptr;
    cmd_ln_t *config = nullptr;
    bool inUtterance = false;
    bool heardSpeech = false;
    qint64 samplesFed = 0;
    qint64 utteranceStart = 0; // sample index of the running utterance's first sample
    std::vector<RecognizedWord> words;

    ~Private()
    {
        if (ps) ps_free(ps);
        if (config) cmd_ln_free_r(config);
    }

    void startUtterance()
    {
        ps_start_utt(ps);
        inUtterance = true;
        heardSpeech = false;
        utteranceStart = samplesFed;
    }

    void endUtterance()
    {
        if (!inUtterance) return;
        ps_end_utt(ps);
        inUtterance = false;
        const double offset = double(utteranceStart) / SpeechAudio::kSampleRate;
        for (ps_seg_t *seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
            const QString word = spokenWord(ps_seg_word(seg));
            if (word.isEmpty()) continue;
            int startFrame = 0, endFrame = 0;
            ps_seg_frames(seg, &startFrame, &endFrame);
            words.push_back({offset + startFrame * kFrameSeconds, word});
        }
    }
};

std::unique_ptr<SpeechRecognizer> SpeechRecognizer::createEnglish()
{
    quietLogging();
    const QString dir = QStringLiteral(LK_POCKETSPHINX_MODELDIR);
    const QByteArray hmm = QFile::encodeName(dir + "/en-us/en-us");
    const QByteArray lm = QFile::encodeName(dir + "/en-us/en-us.lm.bin");
    const QByteArray dict = QFile::encodeName(dir + "/en-us/cmudict-en-us.dict");
    if (!QFile::exists(QString::fromLocal8Bit(hmm)) || !QFile::exists(QString::fromLocal8Bit(lm)) ||
        !QFile::exists(QString::fromLocal8Bit(dict)))
        return nullptr;
    auto d = std::make_unique<Private>();
    d->config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
                            dict.constData(), "-logfn", "/dev/null", nullptr);
    if (!d->config) return nullptr;
    d->ps = ps_init(d->config);
    if (!d->ps) return nullptr;
    return std::unique_ptr<SpeechRecognizer>(new SpeechRecognizer(std::move(d)));
}

SpeechRecognizer::SpeechRecognizer(std::unique_ptr<Private> p) : d(std::move(p)) {}

SpeechRecognizer::~SpeechRecognizer() = default;

void SpeechRecognizer::feed(const int16_t *samples, size_t count)
{
    // Chunks of a tenth of a second, so a silence is noticed where it falls.
    constexpr size_t kChunk = SpeechAudio::kSampleRate / 10;
    while (count > 0) {
        const size_t n = std::min(count, kChunk);
        if (!d->inUtterance) d->startUtterance();
        ps_process_raw(d->ps, samples, n, FALSE, FALSE);
        d->samplesFed += qint64(n);
        const bool inSpeech = ps_get_in_speech(d->ps);
        if (inSpeech) d->heardSpeech = true;
        // Speech followed by silence closes the utterance; the next one starts afresh.
        if (d->heardSpeech && !inSpeech) d->endUtterance();
        samples += n;
        count -= n;
    }
}

std::vector<RecognizedWord> SpeechRecognizer::finish()
{
    d->endUtterance();
    return std::move(d->words);
}
