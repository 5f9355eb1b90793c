#pragma once

// Turns one video into one visual index record: keyframes, a CLIP image embedding per
// keyframe when the models are installed, and on at most two keyframes the frame analysis
// (labels by zero-shot CLIP, faces by OpenCV's cascade classifier, on-screen text by
// Tesseract); from these the Turkish display tags and caption. Safe to run for several
// videos at once: the OpenCV and Tesseract objects belong to the calling thread.

#include "library/L10n.h"
#include "library/OnDeviceSearchTypes.h"
#include "search/KeyframeExtraction.h"

#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class MobileCLIPService;

struct FrameAnalysis {
    QHash<QString, float> labels; // lower-cased label -> confidence
    QString text;
    int faceCount = 0;
};

namespace KeyframeIndexPipeline {

inline constexpr float kLabelThreshold = 0.18f;
inline constexpr float kTextLineThreshold = 0.35f;
inline constexpr int kMaxTextObservations = 24;
inline constexpr int kFrameTextLimit = 400;
inline constexpr int kVideoTextLimit = 1200;
// CLIP's own logit scale: with it a softmax over cosine similarities gives the
// probabilities the model was trained to give, so the label threshold means what it says.
inline constexpr float kZeroShotLogitScale = 100.0f;

struct Options {
    std::function<QList<TimedKeyframe>(const VideoFile &, const std::function<bool()> &cancelled)> keyframes;
    std::shared_ptr<MobileCLIPService> clip; // none: no embeddings, no labels
    AppLanguage language = AppLanguage::en;
    bool recognizeText = true;
    // The standard keyframe sources, the shared CLIP service and the interface language.
    static Options standard();
};

VideoIndexOutcome indexVideo(const VideoFile &video, const Options &options,
                             const std::function<bool()> &cancelled = {});

// `embedding` is the frame's CLIP image embedding (labels need it and `clip`).
FrameAnalysis analyzeFrame(const QImage &image, bool includeOCR, AppLanguage language,
                           MobileCLIPService *clip = nullptr, const std::optional<std::vector<float>> &embedding = {});

// Zero-shot labels: softmax(kZeroShotLogitScale x cosine) over the label list, those at
// kLabelThreshold or more.
QHash<QString, float> zeroShotLabels(const std::vector<float> &imageEmbedding,
                                     const QList<std::pair<QString, std::vector<float>>> &labelEmbeddings);
// The labels offered to the model, each once: the keyword tables' English words in table
// order, then the tag table's other labels in alphabetical order.
const QStringList &labelVocabulary();

// Tesseract language string by interface language; `hasTurkish` whether tur data exists.
QString ocrLanguages(AppLanguage language, bool hasTurkish);
// Frame texts split at line breaks, trimmed, repeated lines (ignoring case) left out.
QString videoText(const QStringList &frameTexts);
QStringList displayTags(const QHash<QString, float> &labels, int maxFaces);
QString caption(const QString &videoText, const QStringList &tags, int maxFaces, bool hasEmbedding);

} // namespace KeyframeIndexPipeline
