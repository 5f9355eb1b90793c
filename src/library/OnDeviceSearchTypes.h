#pragma once

// Value types of the on-device visual and speech search that the application state holds.
// The search services fill them; the library only copies, tests for and removes entries.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <vector>

// An embedding stored as signed 8-bit values with one scale.
struct QuantizedEmbedding {
    float scale = 0;
    QList<qint8> data;
    bool operator==(const QuantizedEmbedding &other) const = default;

    // One step of maxAbs/127 (at least 1e-6); components rounded half away from zero.
    static QuantizedEmbedding fromVector(std::span<const float> vector);
    // scale x sum(query[i] x data[i]). Vectors of different lengths come from different
    // models and never score: 0, and nothing past either end is read.
    float dot(std::span<const float> query) const;
    // The stored values times the scale.
    std::vector<float> dequantized() const;
};

// One indexed keyframe.
struct IndexedFrameMoment {
    double timestamp = 0;
    std::optional<QuantizedEmbedding> clipEmbedding;
    QString ocrText;
    bool operator==(const IndexedFrameMoment &other) const = default;
};

// A video's visual index record.
struct VideoVisualIndexEntry {
    QString videoID;
    qint64 fileSize = 0;
    double modifiedTimestamp = 0; // seconds since 1970, whole
    QList<QuantizedEmbedding> clipEmbeddings;
    QList<IndexedFrameMoment> frameMoments;
    QHash<QString, float> labelsEN;
    QStringList displayTagsTR;
    QString captionTR;
    QString ocrText;
    int detectedFaces = 0;
    QString engineUsed;
    bool operator==(const VideoVisualIndexEntry &other) const = default;

    // Up to 8 labels of confidence 0.22 or more, highest first (ties by name), each with
    // "_" shown as a space.
    QStringList topLabels() const;
    // Whether a scene search with the installed model can use the entry: it has keyframe
    // embeddings, all of `dimension` values (any length when the dimension is unknown, 0).
    // Embeddings of another length come from another model and never score.
    bool hasSceneEmbeddings(qsizetype dimension) const;
};

// What indexing one video gave.
struct VideoIndexOutcome {
    // modelDamaged: the scene model cannot be run; the run stops instead of going on.
    enum class Kind { indexed, skippedICloud, skippedUnreadable, modelDamaged };
    Kind kind = Kind::skippedUnreadable;
    VideoVisualIndexEntry entry; // indexed only

    static VideoIndexOutcome indexed(VideoVisualIndexEntry e) { return {Kind::indexed, std::move(e)}; }
    static VideoIndexOutcome skippedICloud() { return {Kind::skippedICloud, {}}; }
    static VideoIndexOutcome skippedUnreadable() { return {Kind::skippedUnreadable, {}}; }
    static VideoIndexOutcome modelDamaged() { return {Kind::modelDamaged, {}}; }
};

struct VisualSearchMoment {
    double timestamp = 0;
    double score = 0;
    bool isOCRMatch = false;
    bool operator==(const VisualSearchMoment &other) const = default;
};

// One video's search result.
struct VisualSearchHit {
    double score = 0;
    std::optional<double> bestTimestamp;
    QList<VisualSearchMoment> moments;
    bool isOCRMatch = false;
    bool isSpeechMatch = false;
    bool operator==(const VisualSearchHit &other) const = default;
};

struct TranscriptSegment {
    double start = 0;
    QString text;
    bool operator==(const TranscriptSegment &other) const = default;
};

// A video's on-device transcript.
struct VideoTranscriptEntry {
    QString videoID;
    qint64 fileSize = 0;
    double modifiedTimestamp = 0;
    QString localeIdentifier;
    QString fullText;
    QList<TranscriptSegment> segments;
    bool operator==(const VideoTranscriptEntry &other) const = default;
};

// Which engine the device offers for visual indexing.
struct OnDeviceAIEngineStatus {
    enum class Kind { mobileCLIPAndVision, appleVisionOnly };
    Kind kind = Kind::appleVisionOnly;
    bool hasAppleIntelligence = false; // mobileCLIPAndVision only

    static OnDeviceAIEngineStatus mobileCLIPAndVision(bool hasAppleIntelligence)
    {
        return {Kind::mobileCLIPAndVision, hasAppleIntelligence};
    }
    static OnDeviceAIEngineStatus appleVisionOnly() { return {Kind::appleVisionOnly, false}; }
    bool operator==(const OnDeviceAIEngineStatus &other) const = default;
};

using VisualIndexMap = QHash<QString, VideoVisualIndexEntry>;
using TranscriptMap = QHash<QString, VideoTranscriptEntry>;
using SearchHitMap = QHash<QString, VisualSearchHit>;
using ScoreMap = QHash<QString, double>;

// Speech hits folded into visual hits per video: the larger score, the transcript's best
// time where it has one, the six earliest moments of both (visual first at equal times),
// and the speech mark. Videos found by one search alone keep that search's hit.
SearchHitMap mergeSearchHits(SearchHitMap visual, const SearchHitMap &speech);
