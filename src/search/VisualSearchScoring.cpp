// Scoring a query against the visual index: on-screen text, labels, CLIP similarity
// judged against a threshold that adapts to the library, and the file name.

#include "VisualSearchService.h"

#include <algorithm>
#include <cmath>

namespace {

// Similarity of the query with a stored embedding, or none when their lengths differ:
// embeddings of another model say nothing about this query.
std::optional<float> similarity(const std::vector<float> &query, const QuantizedEmbedding &e)
{
    if (query.empty() || size_t(e.data.size()) != query.size())
        return std::nullopt;
    return e.dot(query);
}

struct TextEvidence {
    bool fullMatch = false;
    double coverage = 0;
};

// Whether the normalised text holds the query, and which share of its terms.
TextEvidence textEvidence(const QString &text, const QString &normalizedQuery, const QStringList &terms,
                          const QStringList &strippedTerms)
{
    TextEvidence out;
    if (text.isEmpty())
        return out;
    const QString normalized = VisualSearchService::normalize(text);
    if (normalized.contains(normalizedQuery)) {
        out.fullMatch = true;
        return out;
    }
    if (terms.isEmpty())
        return out;
    qsizetype found = 0;
    for (qsizetype i = 0; i < terms.size(); ++i) {
        const QString &stripped = strippedTerms[i];
        if (normalized.contains(terms[i]) || (stripped.size() >= 3 && normalized.contains(stripped)))
            ++found;
    }
    out.coverage = double(found) / double(terms.size());
    return out;
}

bool labelMatchesWord(const QString &label, const QString &word)
{
    if (label == word)
        return true;
    for (const QStringView part : QStringView(label).split(u' '))
        if (part == word)
            return true;
    return word.size() >= 4 && label.contains(word);
}

// The label score of an entry: every group needs a label of confidence 0.2 or more.
std::optional<double> labelScore(const VideoVisualIndexEntry &entry, const QList<QStringList> &groups)
{
    if (groups.isEmpty())
        return std::nullopt;
    QList<std::pair<QString, float>> labels;
    for (auto it = entry.labelsEN.cbegin(); it != entry.labelsEN.cend(); ++it)
        if (it.value() >= 0.2f)
            labels.append({it.key().toLower().replace(u'_', u' '), it.value()});
    if (labels.isEmpty())
        return std::nullopt;
    double sum = 0;
    for (const QStringList &group : groups) {
        float best = 0;
        for (const auto &[label, confidence] : labels)
            if (confidence > best &&
                std::any_of(group.cbegin(), group.cend(), [&](const QString &w) { return labelMatchesWord(label, w); }))
                best = confidence;
        if (!(double(best) >= 0.2))
            return std::nullopt;
        sum += double(best);
    }
    return std::min(sum / double(groups.size()) * 0.5 + 0.45, 0.92);
}

double clipScore(float sim)
{
    const float raw = (sim - 0.155f) / 0.175f;
    return std::clamp(double(raw), 0.5, 0.97);
}

// The similarity a video's CLIP score starts from, adapted to the library's similarities.
float adaptiveThreshold(const std::vector<float> &recorded)
{
    const float top = *std::max_element(recorded.cbegin(), recorded.cend());
    const auto fewRule = [&] { return top >= 0.245f ? std::max(top - 0.068f, 0.175f) : 0.175f; };
    if (recorded.size() < 12)
        return fewRule();
    double mean = 0;
    for (float s : recorded)
        mean += s;
    mean /= double(recorded.size());
    double variance = 0;
    for (float s : recorded)
        variance += (s - mean) * (s - mean);
    variance /= double(recorded.size());
    const float s = std::min(top - 0.01f, float(mean + 1.65 * std::sqrt(variance)));
    if (s < 0.175f)
        return fewRule();
    return top >= 0.245f ? std::max(s, top - 0.068f) : s;
}

struct Candidate {
    double timestamp;
    double score;
    bool isOCR;
};

} // namespace

SearchHitMap VisualSearchService::scoreEntries(const QList<VideoFile> &candidates, const VisualIndexMap &snapshot,
                                               const QString &normalizedQuery, const QStringList &terms,
                                               const std::optional<std::vector<float>> &queryEmbedding,
                                               const QList<QStringList> &labelGroups)
{
    QStringList strippedTerms;
    for (const QString &t : terms)
        strippedTerms.append(stripTurkishSuffix(t));

    // Working tables by candidate position; NaN stands for "none".
    const qsizetype n = candidates.size();
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    std::vector<const VideoVisualIndexEntry *> entries(size_t(n), nullptr);
    std::vector<double> textScore(size_t(n), none), labelScores(size_t(n), none);
    std::vector<float> sims(size_t(n), 0);
    std::vector<char> hasSim(size_t(n), 0), ocrMatched(size_t(n), 0);
    std::vector<float> recorded;

    // Pass 1: text, name, CLIP similarity and labels.
    for (qsizetype i = 0; i < n; ++i) {
        const VideoFile &video = candidates[i];
        const auto found = snapshot.constFind(video.id);
        const VideoVisualIndexEntry *entry = found == snapshot.cend() ? nullptr : &found.value();
        entries[size_t(i)] = entry;

        const TextEvidence text =
            entry ? textEvidence(entry->ocrText, normalizedQuery, terms, strippedTerms) : TextEvidence{};
        const bool nameMatches = normalize(video.name).contains(normalizedQuery);

        float sim = 0;
        bool clipEvidence = false;
        if (queryEmbedding && entry) {
            float best = -1;
            for (const QuantizedEmbedding &e : entry->clipEmbeddings)
                if (const auto s = similarity(*queryEmbedding, e)) {
                    best = std::max(best, *s);
                    clipEvidence = true;
                }
            if (clipEvidence) {
                sim = best;
                sims[size_t(i)] = sim;
                hasSim[size_t(i)] = 1;
                recorded.push_back(sim);
            }
        }

        if (text.fullMatch) {
            textScore[size_t(i)] = clipEvidence && sim >= 0.2f ? 0.98 : 0.94;
            ocrMatched[size_t(i)] = 1;
            continue;
        }
        if (text.coverage >= 0.99) {
            textScore[size_t(i)] = clipEvidence && sim >= 0.19f ? 0.97 : 0.91;
            ocrMatched[size_t(i)] = 1;
            continue;
        }
        if (text.coverage >= 0.5 && clipEvidence && sim >= 0.19f) {
            textScore[size_t(i)] = 0.93;
            ocrMatched[size_t(i)] = 1;
            continue;
        }
        if (nameMatches)
            textScore[size_t(i)] = std::isnan(textScore[size_t(i)]) ? 0.82 : std::max(0.82, textScore[size_t(i)]);
        if (entry)
            if (const auto l = labelScore(*entry, labelGroups))
                labelScores[size_t(i)] = *l;
    }

    // Pass 2: the adaptive threshold and the visual scores.
    std::vector<double> visual = labelScores;
    float momentThreshold = 0.165f;
    if (!recorded.empty()) {
        const float t = adaptiveThreshold(recorded);
        for (qsizetype i = 0; i < n; ++i) {
            if (!hasSim[size_t(i)] || !(sims[size_t(i)] >= t))
                continue;
            const double clip = clipScore(sims[size_t(i)]);
            const double label = labelScores[size_t(i)];
            double &v = visual[size_t(i)];
            if (!std::isnan(label))
                v = std::min(std::max(clip, label) + 0.05, 0.98);
            else
                v = std::isnan(v) ? clip : std::max(clip, v);
        }
        momentThreshold = std::max(t - 0.012f, 0.165f);
    }

    // Passes 3 and 4: final scores and moments.
    SearchHitMap hits;
    for (qsizetype i = 0; i < n; ++i) {
        double final = visual[size_t(i)];
        const double text = textScore[size_t(i)];
        if (!std::isnan(text))
            final = std::isnan(final) ? text : std::max(text, final);
        if (std::isnan(final))
            continue;
        VisualSearchHit hit;
        hit.score = final;
        hit.isOCRMatch = ocrMatched[size_t(i)];
        const VideoVisualIndexEntry *entry = entries[size_t(i)];
        if (!entry) {
            hits.insert(candidates[i].id, hit);
            continue;
        }

        QList<Candidate> moments;
        const QList<IndexedFrameMoment> &frames = entry->frameMoments;
        for (const IndexedFrameMoment &frame : frames) {
            bool isOCR = false;
            if (!frame.ocrText.isEmpty()) {
                const TextEvidence t = textEvidence(frame.ocrText, normalizedQuery, terms, strippedTerms);
                isOCR = t.fullMatch || (!terms.isEmpty() && t.coverage >= 0.6);
            }
            double m = 0;
            if (queryEmbedding && frame.clipEmbedding)
                if (const auto s = similarity(*queryEmbedding, *frame.clipEmbedding); s && *s >= momentThreshold)
                    m = clipScore(*s);
            if (isOCR)
                moments.append({frame.timestamp, std::max(m, 0.94), true});
            else if (m > 0)
                moments.append({frame.timestamp, m, false});
        }
        if (moments.isEmpty() && queryEmbedding) {
            const IndexedFrameMoment *best = nullptr;
            float bestSim = 0;
            for (const IndexedFrameMoment &frame : frames) {
                if (!frame.clipEmbedding)
                    continue;
                const auto s = similarity(*queryEmbedding, *frame.clipEmbedding);
                if (s && (!best || *s > bestSim)) {
                    best = &frame;
                    bestSim = *s;
                }
            }
            if (best)
                moments.append({best->timestamp, final, bool(ocrMatched[size_t(i)])});
        }
        std::stable_sort(moments.begin(), moments.end(),
                         [](const Candidate &a, const Candidate &b) { return a.score > b.score; });
        QList<Candidate> picked;
        for (const Candidate &c : moments) {
            if (picked.size() == 6)
                break;
            if (std::any_of(picked.cbegin(), picked.cend(),
                            [&](const Candidate &p) { return std::fabs(p.timestamp - c.timestamp) < 2.0; }))
                continue;
            picked.append(c);
        }
        if (!picked.isEmpty())
            hit.bestTimestamp = picked.front().timestamp;
        std::stable_sort(picked.begin(), picked.end(),
                         [](const Candidate &a, const Candidate &b) { return a.timestamp < b.timestamp; });
        for (const Candidate &c : picked) {
            hit.moments.append({c.timestamp, c.score, c.isOCR});
            hit.isOCRMatch = hit.isOCRMatch || c.isOCR;
        }
        hits.insert(candidates[i].id, hit);
    }
    return hits;
}
