#include "SpeechTranscriptService.h"

#include "SpeechAudio.h"
#include "SpeechRecognizer.h"
#include "TranscriptFile.h"
#include "VisualSearchService.h"

#include <QDir>
#include <QStringMatcher>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

TranscriptError TranscriptError::make(Code code)
{
    switch (code) {
    case notAuthorized:
        return {code, QStringLiteral("Speech Recognition permission is required in System Settings → Privacy & Security.")};
    case recognizerUnavailable:
        return {code, QStringLiteral("On-device pocketsphinx recognizer is not available for this language.")};
    case noAudioTrack: return {code, QStringLiteral("This video has no audio track.")};
    case extractionUnavailable: return {code, QStringLiteral("Could not extract audio track.")};
    case extractionFailed: return {code, QStringLiteral("Audio extraction failed.")};
    case cancelled: return {code, QStringLiteral("Transcription was cancelled.")};
    }
    return {code, QString()};
}

QString SpeechTranscriptService::defaultFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::tempPath();
    return QDir(base).filePath(QStringLiteral("Lumenkite"));
}

std::shared_ptr<SpeechTranscriptService> SpeechTranscriptService::shared()
{
    static const std::shared_ptr<SpeechTranscriptService> instance =
        std::make_shared<SpeechTranscriptService>(defaultFolder());
    return instance;
}

SpeechTranscriptService::SpeechTranscriptService(const QString &folder)
    : m_path(QDir(folder).filePath(QStringLiteral("speech_transcripts_v1.json"))),
      m_writer(m_path, [this](const TranscriptMap &snapshot, const QString &path) {
          if (m_damagedFile.beforeSave(path)) TranscriptFile::save(snapshot, path);
      })
{
    QDir().mkpath(folder);
    TranscriptFile::Decoded loaded = TranscriptFile::load(m_path);
    m_entries = std::move(loaded.entries);
    m_skipped = loaded.skippedEntries;
    // A save replaces the whole file: the old one is kept when it held anything not read.
    m_damagedFile.setLostAnything(loaded.damaged || loaded.skippedEntries > 0);
    m_normalized.reserve(m_entries.size());
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) m_normalized.insert(it.key(), normalized(it.value()));
}

TranscriptMap SpeechTranscriptService::entries() const
{
    QMutexLocker lock(&m_mutex);
    return m_entries;
}

void SpeechTranscriptService::store(const VideoTranscriptEntry &entry)
{
    TranscriptMap snapshot;
    {
        QMutexLocker lock(&m_mutex);
        m_entries.insert(entry.videoID, entry);
        m_normalized.insert(entry.videoID, normalized(entry));
        snapshot = m_entries;
        // Submitted under the lock, so snapshots reach the writer in the order they were made.
        m_writer.submit(std::move(snapshot));
    }
}

QList<TranscriptSegment> SpeechTranscriptService::groupSegments(const std::vector<RecognizedWord> &words)
{
    QList<TranscriptSegment> segments;
    QStringList group;
    double groupStart = 0;
    for (const RecognizedWord &w : words) {
        if (!group.isEmpty() && w.start - groupStart >= 4.0) {
            segments.append({groupStart, group.join(' ')});
            group.clear();
        }
        if (group.isEmpty()) groupStart = w.start;
        group.append(w.text);
    }
    if (!group.isEmpty()) segments.append({groupStart, group.join(' ')});
    return segments;
}

SpeechTranscriptService::Result SpeechTranscriptService::transcribe(const VideoFile &video, AppLanguage language,
                                                                    const std::optional<QString> &ffmpegPath,
                                                                    const Cancelled &cancelled)
{
    // Only the en-US model is installed, so every interface language falls back to it: English
    // speech is transcribed whatever language the window speaks.
    Q_UNUSED(language);
    std::unique_ptr<SpeechRecognizer> recognizer = SpeechRecognizer::createEnglish();
    if (!recognizer) return TranscriptError::make(TranscriptError::recognizerUnavailable);

    qint64 fed = 0;
    const std::optional<SpeechAudio::Failure> failure = SpeechAudio::decode(
        video.url().toLocalFile(), ffmpegPath,
        [&](const int16_t *samples, size_t count) {
            if (cancelled && cancelled()) return false;
            recognizer->feed(samples, count);
            fed += qint64(count);
            return true;
        },
        cancelled);
    if (failure) {
        switch (*failure) {
        case SpeechAudio::Failure::noAudioTrack: return TranscriptError::make(TranscriptError::noAudioTrack);
        case SpeechAudio::Failure::extractionFailed: return TranscriptError::make(TranscriptError::extractionFailed);
        case SpeechAudio::Failure::cancelled: return TranscriptError::make(TranscriptError::cancelled);
        }
    }
    if (fed == 0) return TranscriptError::make(TranscriptError::noAudioTrack);
    const std::vector<RecognizedWord> words = recognizer->finish();

    VideoTranscriptEntry entry;
    entry.videoID = video.id;
    entry.fileSize = video.fileSize;
    entry.modifiedTimestamp = std::round(double(video.modifiedDate.toMSecsSinceEpoch()) / 1000.0);
    entry.localeIdentifier = SpeechRecognizer::localeIdentifier();
    entry.segments = groupSegments(words);
    QStringList all;
    for (const RecognizedWord &w : words) all.append(w.text);
    entry.fullText = all.join(' ');
    return entry;
}

SpeechTranscriptService::Normalized SpeechTranscriptService::normalized(const VideoTranscriptEntry &entry)
{
    Normalized n;
    n.fullText = VisualSearchService::normalize(entry.fullText);
    n.segmentStarts.reserve(entry.segments.size());
    n.segmentTimes.reserve(entry.segments.size());
    for (const TranscriptSegment &s : entry.segments) {
        n.segmentTimes.append(s.start);
        n.segmentStarts.append(n.segments.size());
        n.segments += VisualSearchService::normalize(s.text).replace(u'\n', u' ');
        n.segments += u'\n';
    }
    return n;
}

double SpeechTranscriptService::termCoverage(const QStringList &terms, const QString &normalizedText)
{
    if (terms.isEmpty()) return 0;
    qsizetype found = 0;
    for (const QString &t : terms)
        if (normalizedText.contains(t)) ++found;
    return double(found) / double(terms.size());
}

SearchHitMap SpeechTranscriptService::search(const QString &rawQuery, const QList<VideoFile> &videos) const
{
    constexpr double kCoverage = 0.75;
    constexpr double kMomentSpacing = 2.5;
    constexpr int kMaxMoments = 6;
    SearchHitMap hits;
    const QString query = rawQuery.trimmed();
    if (query.isEmpty()) return hits;
    const QString normalizedQuery = VisualSearchService::normalize(query);
    const QStringList terms = VisualSearchService::tokens(query);
    const QStringMatcher queryMatcher(normalizedQuery);
    QList<QStringMatcher> termMatchers;
    for (const QString &t : terms) termMatchers.append(QStringMatcher(t));
    // Terms of four or more characters (as a reader counts them) may match a segment alone.
    QList<QStringMatcher> longTerms;
    for (const QString &t : terms)
        if (t.toUcs4().size() >= 4) longTerms.append(QStringMatcher(t));
    // A segment can match only where one of these occurs: the query, a long term, or the
    // first term (every term must be there for the all-terms rule).
    QList<const QStringMatcher *> clues{&queryMatcher};
    for (const QStringMatcher &m : longTerms) clues.append(&m);
    if (!termMatchers.isEmpty()) clues.append(&termMatchers.first());

    const qsizetype needed = qsizetype(std::ceil(kCoverage * double(terms.size())));
    QMutexLocker lock(&m_mutex);
    for (const VideoFile &video : videos) {
        const auto nit = m_normalized.constFind(video.id);
        if (nit == m_normalized.cend() || nit->fullText.isEmpty()) continue;
        const Normalized &n = *nit;
        // Every term is a piece of the normalised query, so a text that misses too many
        // terms cannot hold the whole query either: the cheaper test goes first.
        qsizetype found = 0, missed = 0;
        for (const QString &t : terms) {
            if (n.fullText.contains(t)) ++found;
            else if (++missed > terms.size() - needed) break;
        }
        if (found < needed) continue;
        const bool whole = found == terms.size() && n.fullText.contains(normalizedQuery);
        // With no terms only the whole query can match.
        if (!whole && terms.isEmpty()) continue;
        const double score = whole ? 0.96 : 0.9;

        // One walk through the segments: each clue's next occurrence only moves forward, so
        // a segment without any is passed over without being searched.
        QList<VisualSearchMoment> moments;
        constexpr qsizetype kUnsearched = -2; // -1: no occurrence left
        QList<qsizetype> next(clues.size(), kUnsearched);
        const qsizetype count = n.segmentStarts.size();
        for (qsizetype i = 0; i < count && moments.size() < kMaxMoments; ++i) {
            const qsizetype begin = n.segmentStarts[i];
            const qsizetype end = i + 1 < count ? n.segmentStarts[i + 1] : n.segments.size();
            bool clue = false;
            for (qsizetype c = 0; c < clues.size(); ++c) {
                if (next[c] == kUnsearched || (next[c] >= 0 && next[c] < begin))
                    next[c] = clues[c]->indexIn(n.segments, begin);
                if (next[c] >= begin && next[c] < end) clue = true;
            }
            if (!clue) continue;
            const QStringView seg = QStringView(n.segments).mid(begin, end - begin - 1);
            bool matches = queryMatcher.indexIn(seg) >= 0;
            if (!matches && !terms.isEmpty()) {
                matches = std::all_of(termMatchers.cbegin(), termMatchers.cend(),
                                      [&](const QStringMatcher &m) { return m.indexIn(seg) >= 0; }) ||
                          std::any_of(longTerms.cbegin(), longTerms.cend(),
                                      [&](const QStringMatcher &m) { return m.indexIn(seg) >= 0; });
            }
            if (!matches) continue;
            const double start = n.segmentTimes[i];
            const bool tooClose = std::any_of(moments.cbegin(), moments.cend(), [&](const VisualSearchMoment &m) {
                return std::fabs(m.timestamp - start) < kMomentSpacing;
            });
            if (tooClose) continue;
            moments.append({start, score, false});
        }

        VisualSearchHit hit;
        hit.score = score;
        if (!moments.isEmpty()) hit.bestTimestamp = moments.first().timestamp;
        hit.moments = moments;
        hit.isOCRMatch = false;
        hit.isSpeechMatch = true;
        hits.insert(video.id, hit);
    }
    return hits;
}
