// English speech to timed words with pocketsphinx.

#include "analysis/AnalysisParts.h"
#include "search/SpeechAudio.h"

#include <QFile>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <memory>
#include <mutex>

namespace {

// pocketsphinx logs every decoder step to standard error unless told otherwise.
void quietLogging()
{
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

constexpr double kFrameSeconds = 0.01; // pocketsphinx counts 100 frames a second
using SpeechAudio::kSampleRate;

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

class PocketSphinxDecoder final : public SpeechDecoder
{
public:
    ps_decoder_t *ps = nullptr;
    cmd_ln_t *config = nullptr;

    ~PocketSphinxDecoder() override
    {
        if (ps) ps_free(ps);
        if (config) cmd_ln_free_r(config);
    }

    void feed(const int16_t *samples, size_t count) override
    {
        // Chunks of a tenth of a second, so a silence is noticed where it falls.
        constexpr size_t kChunk = kSampleRate / 10;
        while (count > 0) {
            const size_t n = std::min(count, kChunk);
            if (!inUtterance) startUtterance();
            ps_process_raw(ps, samples, n, FALSE, FALSE);
            samplesFed += qint64(n);
            const bool inSpeech = ps_get_in_speech(ps);
            if (inSpeech) heardSpeech = true;
            // Speech followed by silence closes the utterance; the next one starts afresh.
            if (heardSpeech && !inSpeech) endUtterance();
            samples += n;
            count -= n;
        }
    }

    std::vector<RecognizedWord> finish() override
    {
        endUtterance();
        return std::move(words);
    }

private:
    bool inUtterance = false;
    bool heardSpeech = false;
    qint64 samplesFed = 0;
    qint64 utteranceStart = 0; // sample index of the running utterance's first sample
    std::vector<RecognizedWord> words;

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
        const double offset = double(utteranceStart) / kSampleRate;
        for (ps_seg_t *seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
            const QString word = spokenWord(ps_seg_word(seg));
            if (word.isEmpty()) continue;
            int startFrame = 0, endFrame = 0;
            ps_seg_frames(seg, &startFrame, &endFrame);
            words.push_back({offset + startFrame * kFrameSeconds, word});
        }
    }
};

} // namespace

SpeechDecoder *createEnglishSpeech()
{
    quietLogging();
    const QString dir = QStringLiteral(LK_POCKETSPHINX_MODELDIR);
    const QByteArray hmm = QFile::encodeName(dir + "/en-us/en-us");
    const QByteArray lm = QFile::encodeName(dir + "/en-us/en-us.lm.bin");
    const QByteArray dict = QFile::encodeName(dir + "/en-us/cmudict-en-us.dict");
    if (!QFile::exists(QString::fromLocal8Bit(hmm)) || !QFile::exists(QString::fromLocal8Bit(lm)) ||
        !QFile::exists(QString::fromLocal8Bit(dict)))
        return nullptr;
    auto d = std::make_unique<PocketSphinxDecoder>();
    d->config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
                            dict.constData(), "-logfn", "/dev/null", nullptr);
    if (!d->config) return nullptr;
    d->ps = ps_init(d->config);
    if (!d->ps) return nullptr;
    return d.release();
}

