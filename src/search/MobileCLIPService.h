#pragma once

// Turns keyframe images and search texts into unit-length MobileCLIP-S2 embeddings. The
// towers run in the `lumenkite-clip` helper program, started on first use and kept alive;
// the tokenizer and the image preprocessing run here. One instance serves the process
// (shared()); every method may be called from several threads at once.

#include "library/OnDeviceSearchTypes.h"
#include "search/CLIPHelperConnection.h"
#include "search/CLIPTokenizer.h"

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QStringList>

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

    // Images per helper request: batches raise throughput, larger ones only add latency.
    static constexpr int kImageBatch = 8;

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

    static std::optional<Vector> l2Normalized(Vector v);
    // The helper beside the program, else the one of this build tree.
    static QString helperProgram();

    // The running helper's process id, -1 when none runs (for tests).
    qint64 helperProcessId();
    int textCacheSize();

private:
    MobileCLIPService(const AssetPaths &paths, const QString &program);
    // Embeds up to kMaxBatch items of one kind; restarts a dead helper once.
    std::optional<std::vector<Vector>> run(uint32_t kind, uint32_t count, const QByteArray &payload);

    AssetPaths m_paths;
    QString m_program;
    std::unique_ptr<CLIPTokenizer> m_tokenizer;
    QMutex m_helperLock; // one exchange with the helper at a time
    CLIPHelperConnection m_helper;
    bool m_helperFailedToStart = false; // towers that cannot load are not tried again
    QMutex m_textCacheLock;
    QHash<QString, Vector> m_textEmbeddingCache;
};
