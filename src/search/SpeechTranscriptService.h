#pragma once

// The stored transcripts of spoken words, and the on-device transcription that makes them.
// One service per process owns the file; transcription touches none of its state.

#include "library/L10n.h"
#include "library/Models.h"
#include "library/OnDeviceSearchTypes.h"
#include "library/RecordFile.h"
#include "library/SnapshotWriter.h"
#include "search/VisualIndexFile.h"

#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

struct RecognizedWord;

// A transcription that did not give a transcript: the code and the fixed English text.
struct TranscriptError {
    enum Code {
        notAuthorized = 1,
        recognizerUnavailable = 2,
        noAudioTrack = 3,
        extractionUnavailable = 4,
        extractionFailed = 5,
        cancelled = 6,
    };
    int code = 0;
    QString message;
    bool operator==(const TranscriptError &other) const = default;
    static TranscriptError make(Code code);
};

class SpeechTranscriptService
{
public:
    // Reads `speech_transcripts_v1.json` from `folder` (created when missing).
    explicit SpeechTranscriptService(const QString &folder);
    // The file in the support folder.
    static std::shared_ptr<SpeechTranscriptService> shared();
    static QString defaultFolder();

    QString cacheFilePath() const { return m_path; }
    TranscriptMap entries() const;
    // Entries that could not be read when the file was loaded.
    int skippedEntries() const { return m_skipped; }

    // Replaces the video's transcript and saves the whole set in the background; saves are
    // written in order and the newest always wins.
    void store(const VideoTranscriptEntry &entry);
    void waitForSaves() { m_writer.waitForIdle(); }

    using Cancelled = std::function<bool()>;
    using Result = std::variant<VideoTranscriptEntry, TranscriptError>;
    // Transcribes the video's sound for the interface language. Only English has an
    // on-device recogniser here: other languages fail with `recognizerUnavailable` rather
    // than getting an English transcript. Does not store the result.
    static Result transcribe(const VideoFile &video, AppLanguage language, const std::optional<QString> &ffmpegPath,
                             const Cancelled &cancelled = {});

    // The given videos whose transcript holds the query (whole, or three quarters of its
    // terms), with up to six moments where matching segments begin, as speech hits.
    SearchHitMap search(const QString &query, const QList<VideoFile> &videos) const;
    // The share of `terms` that `normalizedText` contains; 0 for no terms.
    static double termCoverage(const QStringList &terms, const QString &normalizedText);

    // Words into segments: a segment closes when a word starts 4 s or more after its first.
    static QList<TranscriptSegment> groupSegments(const std::vector<RecognizedWord> &words);

private:
    // Texts as the search compares them, made once per stored transcript.
    struct Normalized {
        QString fullText;
        // The segments' texts one after another, each followed by a line break that no
        // normalised query holds, and where each one starts.
        QString segments;
        QList<qsizetype> segmentStarts;
        QList<double> segmentTimes;
    };
    static Normalized normalized(const VideoTranscriptEntry &entry);

    QString m_path;
    mutable QMutex m_mutex;
    TranscriptMap m_entries;
    QHash<QString, Normalized> m_normalized;
    int m_skipped = 0;
    RecordFile::DamagedFileKeeper m_damagedFile;
    SnapshotWriter<TranscriptMap> m_writer;
};
