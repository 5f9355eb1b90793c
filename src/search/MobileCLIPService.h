#pragma once

// Turns keyframe images and search texts into unit-length MobileCLIP-S2 embeddings. The
// towers run in `lumenkite-clip` helper programs, started on first use and kept alive: one
// for images and one for texts, so that a search never waits behind a batch of keyframes.
// The tokenizer and the image preprocessing run here. One instance serves the process
// (shared()); every method may be called from several threads at once.

#include "library/OnDeviceSearchTypes.h"
#include "search/CLIPHelperConnection.h"
#include "search/CLIPTokenizer.h"

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class MobileCLIPService
{
public:
    using Vector = std::vector<float>;

    struct AssetPaths {
        QString imageModel;
        QString textModel;
        QString vocab;
        // Each item from the first candidate folder that has it; none when one is missing.
        static std::optional<AssetPaths> resolve();
    };

    enum class Tower { image, text };

    // How a tower's helper is started: its arguments after the tower file, and what its
    // environment adds (bench_clip measures these against the helper's defaults).
    struct HelperSettings {
        QStringList arguments;
        QStringList environment;
    };
    static HelperSettings helperSettings(Tower tower);

    // Images per helper request: batches raise throughput, larger ones only add latency.
    static constexpr int kImageBatch = 8;
    // Requests in a row that a helper died or hung on before its model counts as damaged.
    static constexpr int kDeathsBeforeDamaged = 3;

    // The shared instance, loaded on first use; none when the models are missing or unreadable.
    static std::shared_ptr<MobileCLIPService> shared();
    // Clears the shared instance and keeps it cleared until reloadShared().
    static void resetShared();
    // Loads a fresh instance (or none) and makes it the shared one.
    static void reloadShared();

    // Fails (none) when the merges file or a tower file cannot be read.
    static std::shared_ptr<MobileCLIPService> create(const AssetPaths &paths, const QString &helperProgram = {});
    ~MobileCLIPService();

    std::optional<Vector> imageEmbedding(const QImage &image);
    // One result per image, in order; batched through the helper.
    std::vector<std::optional<Vector>> imageEmbeddings(const QList<QImage> &images);
    std::optional<QuantizedEmbedding> quantizedImageEmbedding(const QImage &image);
    // The normalised sum of the texts' embeddings; texts without one are skipped.
    std::optional<Vector> textEmbedding(const QStringList &texts);
    // One text through the cache (key: trimmed, lower-cased).
    std::optional<Vector> computeTextEmbedding(const QString &text);
    // One result per text, in order, through the cache; what is not cached goes to the
    // helper in one request (per kMaxBatch texts).
    std::vector<std::optional<Vector>> textEmbeddings(const QStringList &texts);
    // A fixed set of prompts (the zero-shot labels): computed once per installed text tower
    // and kept in a file beside it, so later launches read them instead. None when any
    // prompt has no embedding.
    std::optional<std::vector<Vector>> promptSetEmbeddings(const QStringList &prompts);

    // A tower that cannot be loaded, or whose helper died kDeathsBeforeDamaged times in a
    // row: asking again would only restart it for nothing.
    bool isModelDamaged() const;
    // The length of the image embeddings, read from the image tower's file (0 when it does
    // not say): stored embeddings of another length were made by another model.
    int imageDimension() const { return m_imageDimension; }

    static std::optional<Vector> l2Normalized(Vector v);
    // The helper beside the program, else the one of this build tree.
    static QString helperProgram();

    // The running helper's process id, -1 when none runs (for tests).
    qint64 helperProcessId(Tower tower = Tower::image);
    int textCacheSize();
    // Where promptSetEmbeddings() keeps its file.
    QString promptSetPath() const;

private:
    struct Helper {
        QMutex lock; // one exchange at a time
        CLIPHelperConnection connection;
        QStringList arguments;
        QStringList environment;
        int niceness = 0; // levels below the app's priority
        bool failedToStart = false; // towers that cannot load are not tried again
        int deathsInARow = 0;
    };

    MobileCLIPService(const AssetPaths &paths, const QString &program);
    bool startHelper(Helper &h);
    // Embeds up to kMaxBatch items of one kind; restarts a dead helper once.
    std::optional<std::vector<Vector>> run(uint32_t kind, uint32_t count, const QByteArray &payload);
    std::optional<std::vector<Vector>> readPromptSet(const QByteArray &key, qsizetype count) const;
    void writePromptSet(const QByteArray &key, const std::vector<Vector> &vectors) const;

    AssetPaths m_paths;
    QString m_program;
    std::unique_ptr<CLIPTokenizer> m_tokenizer;
    Helper m_imageHelper;
    Helper m_textHelper;
    std::atomic_bool m_damaged = false;
    int m_imageDimension = 0;
    QMutex m_textCacheLock;
    QHash<QString, Vector> m_textEmbeddingCache;
    QMutex m_promptSetLock; // held while a set is made, so callers wait for one making
    QHash<QByteArray, std::vector<Vector>> m_promptSets;
};
