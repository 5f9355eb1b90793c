#include "KeyframeIndexPipeline.h"

#include "AnalysisEngines.h"
#include "MobileCLIPService.h"
#include "VisualSearchService.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace KeyframeIndexPipeline {

namespace {

// The label words' text embeddings: made once per installed model, in batched requests.
QList<std::pair<QString, std::vector<float>>> labelEmbeddings(MobileCLIPService *clip)
{
    const QStringList &labels = labelVocabulary();
    QStringList prompts;
    for (const QString &label : labels)
        prompts.append(QStringLiteral("a photo of ") + label);
    QList<std::pair<QString, std::vector<float>>> out;
    if (const auto vectors = clip->promptSetEmbeddings(prompts))
        for (qsizetype i = 0; i < labels.size(); ++i)
            out.append({labels[i], (*vectors)[size_t(i)]});
    return out;
}

int countFaces(const QImage &image)
{
    const AnalysisEngines *engines = analysisEngines();
    return engines ? engines->countFaces(image) : 0;
}

bool hasTurkishData()
{
    static const bool has = [] {
        const AnalysisEngines *engines = analysisEngines();
        return engines && engines->hasTextLanguage("tur");
    }();
    return has;
}

QString recognizeText(const QImage &image, AppLanguage language)
{
    const AnalysisEngines *engines = analysisEngines();
    if (!engines) return {};
    return engines->recognizeText(image, ocrLanguages(language, hasTurkishData()), kMaxTextObservations,
                                  kTextLineThreshold);
}

} // namespace

const QStringList &labelVocabulary()
{
    static const QStringList words = [] {
        QStringList out;
        QSet<QString> seen;
        const auto add = [&](const QString &w) {
            if (!seen.contains(w)) {
                seen.insert(w);
                out.append(w);
            }
        };
        // The words searches look for, then every label the tag table can show ("sky",
        // "city", "person", ...): a label the model is never offered can never be a tag.
        for (const KeywordLabelGroup &group : VisualSearchService::keywordLabelTable())
            for (const QString &w : group.labelWords)
                add(w);
        // Sorted: the table is a hash, and the prompts' order keys their stored embeddings.
        QStringList tagged = VisualSearchService::labelTranslationTR().keys();
        tagged.sort();
        for (const QString &w : std::as_const(tagged))
            add(w);
        return out;
    }();
    return words;
}

QHash<QString, float> zeroShotLabels(const std::vector<float> &image,
                                     const QList<std::pair<QString, std::vector<float>>> &labels)
{
    QHash<QString, float> out;
    if (labels.isEmpty())
        return out;
    std::vector<double> logits;
    logits.reserve(labels.size());
    for (const auto &[name, v] : labels) {
        double dot = 0;
        for (size_t i = 0; i < v.size() && i < image.size(); ++i)
            dot += double(v[i]) * image[i];
        logits.push_back(kZeroShotLogitScale * dot);
    }
    const double top = *std::max_element(logits.begin(), logits.end());
    double sum = 0;
    for (double &l : logits)
        sum += (l = std::exp(l - top));
    for (qsizetype i = 0; i < labels.size(); ++i) {
        const float p = float(logits[size_t(i)] / sum);
        if (p >= kLabelThreshold) {
            const QString key = labels[i].first.toLower();
            out[key] = std::max(out.value(key, 0.0f), p);
        }
    }
    return out;
}

QString ocrLanguages(AppLanguage language, bool hasTurkish)
{
    switch (language) {
    case AppLanguage::ja: return QStringLiteral("jpn+eng");
    case AppLanguage::de: return QStringLiteral("deu+eng");
    case AppLanguage::en: break;
    }
    return hasTurkish ? QStringLiteral("eng+tur") : QStringLiteral("eng");
}

FrameAnalysis analyzeFrame(const QImage &image, bool includeOCR, AppLanguage language, MobileCLIPService *clip,
                           const std::optional<std::vector<float>> &embedding)
{
    FrameAnalysis result;
    if (clip && embedding)
        result.labels = zeroShotLabels(*embedding, labelEmbeddings(clip));
    result.faceCount = countFaces(image);
    if (includeOCR)
        result.text = recognizeText(image, language);
    return result;
}

QString videoText(const QStringList &frameTexts)
{
    static const QRegularExpression breaks(QStringLiteral("[\\n\\v\\f\\r\\x{0085}\\x{2028}\\x{2029}]"));
    QSet<QString> seen;
    QStringList kept;
    for (const QString &text : frameTexts)
        for (const QString &piece : text.split(breaks, Qt::SkipEmptyParts)) {
            const QString t = piece.trimmed();
            if (t.isEmpty() || seen.contains(t.toLower()))
                continue;
            seen.insert(t.toLower());
            kept.append(t);
        }
    return kept.join(' ');
}

QStringList displayTags(const QHash<QString, float> &labels, int maxFaces)
{
    QList<std::pair<QString, float>> sorted;
    for (auto it = labels.cbegin(); it != labels.cend(); ++it)
        sorted.append({it.key(), it.value()});
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.second > b.second; });
    const QHash<QString, QString> &table = VisualSearchService::labelTranslationTR();
    QStringList tags;
    for (qsizetype i = 0; i < sorted.size() && i < 14; ++i) {
        const QString name = sorted[i].first.toLower().replace('_', ' ');
        QString tr = table.value(name);
        if (tr.isEmpty())
            for (const QString &word : name.split(' ', Qt::SkipEmptyParts))
                if (table.contains(word)) {
                    tr = table.value(word);
                    break;
                }
        if (!tr.isEmpty() && !tags.contains(tr))
            tags.append(tr);
    }
    const QString face = maxFaces == 1 ? QStringLiteral("kişi") : maxFaces >= 2 ? QStringLiteral("insanlar") : QString();
    if (!face.isEmpty() && !tags.contains(face))
        tags.append(face);
    return tags;
}

QString caption(const QString &text, const QStringList &tags, int maxFaces, bool hasEmbedding)
{
    const QString tagText = tags.mid(0, 5).join(QStringLiteral(", "));
    if (!text.isEmpty() && !tags.isEmpty())
        return QStringLiteral("Sahne: ") + tagText + QStringLiteral(" · Metin: ") + text.left(70);
    if (!text.isEmpty())
        return QStringLiteral("Ekrandaki metin: ") + text.left(110);
    if (!tags.isEmpty()) {
        QString c = QStringLiteral("Sahne öğeleri: ") + tagText;
        if (maxFaces >= 1)
            c += QStringLiteral(" · ") + QString::number(maxFaces) + QStringLiteral(" yüz");
        return c;
    }
    return hasEmbedding ? QStringLiteral("MobileCLIP görsel vektörü hazır") : QStringLiteral("Görsel analiz tamamlandı");
}

Options Options::standard()
{
    Options o;
    o.keyframes = [sources = keyframes::Sources::standard()](const VideoFile &v, const std::function<bool()> &c) {
        return keyframes::keyframes(v, sources, c);
    };
    o.clip = MobileCLIPService::shared();
    o.language = AppLanguageInfo::current();
    return o;
}

VideoIndexOutcome indexVideo(const VideoFile &video, const Options &options, const std::function<bool()> &cancelled)
{
    const auto isCancelled = [&] { return cancelled && cancelled(); };
    // No cloud placeholders exist here: every file on disk is local.
    const QList<TimedKeyframe> frames = options.keyframes ? options.keyframes(video, cancelled) : QList<TimedKeyframe>{};
    if (frames.isEmpty() || isCancelled())
        return VideoIndexOutcome::skippedUnreadable();
    const qsizetype count = frames.size();
    QSet<qsizetype> analysed = {0};
    analysed.insert(count <= 2 ? count - 1 : count / 2);

    // One batched helper request for all keyframes.
    std::vector<std::optional<std::vector<float>>> embeddings(static_cast<size_t>(count));
    if (options.clip) {
        QList<QImage> images;
        for (const TimedKeyframe &f : frames)
            images.append(f.image);
        embeddings = options.clip->imageEmbeddings(images);
        embeddings.resize(size_t(count));
        // Without a word the run would go on restarting a helper that cannot load its model.
        if (options.clip->isModelDamaged())
            return VideoIndexOutcome::modelDamaged();
    }

    VideoVisualIndexEntry entry;
    QHash<QString, float> labels;
    QStringList frameTexts;
    int maxFaces = 0;
    for (qsizetype i = 0; i < count; ++i) {
        if (isCancelled())
            return VideoIndexOutcome::skippedUnreadable();
        IndexedFrameMoment moment;
        moment.timestamp = frames[i].timestamp;
        if (const auto &e = embeddings[size_t(i)]) {
            const QuantizedEmbedding q = QuantizedEmbedding::fromVector(*e);
            entry.clipEmbeddings.append(q);
            moment.clipEmbedding = q;
        }
        if (analysed.contains(i)) {
            const FrameAnalysis a = analyzeFrame(frames[i].image, options.recognizeText, options.language,
                                                 options.clip.get(), embeddings[size_t(i)]);
            for (auto it = a.labels.cbegin(); it != a.labels.cend(); ++it)
                labels[it.key()] = std::max(labels.value(it.key(), 0.0f), it.value());
            if (!a.text.isEmpty())
                frameTexts.append(a.text);
            maxFaces = std::max(maxFaces, a.faceCount);
            moment.ocrText = a.text.left(kFrameTextLimit);
        }
        entry.frameMoments.append(moment);
    }
    const QString text = videoText(frameTexts);
    const QStringList tags = displayTags(labels, maxFaces);
    const bool hasEmbedding = !entry.clipEmbeddings.isEmpty();
    entry.videoID = video.id;
    entry.fileSize = video.fileSize;
    entry.modifiedTimestamp = std::round(double(video.modifiedDate.toMSecsSinceEpoch()) / 1000.0);
    entry.labelsEN = labels;
    entry.displayTagsTR = tags.mid(0, 10);
    entry.captionTR = caption(text, tags, maxFaces, hasEmbedding);
    entry.ocrText = text.left(kVideoTextLimit);
    entry.detectedFaces = maxFaces;
    // The names of what really ran here, shown in the inspector.
    entry.engineUsed = hasEmbedding ? QStringLiteral("MobileCLIP-S2 + Tesseract") : QStringLiteral("OpenCV + Tesseract");
    return VideoIndexOutcome::indexed(std::move(entry));
}

} // namespace KeyframeIndexPipeline
