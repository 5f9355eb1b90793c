#include "VisualSearchService.h"

#include "VisualIndexFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString dataFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Lumenkite");
}

} // namespace

VisualSearchService &VisualSearchService::shared()
{
    static VisualSearchService instance(dataFolder());
    return instance;
}

VisualSearchService::VisualSearchService(const QString &folder)
    : m_cacheFilePath(folder + QStringLiteral("/visual_index_v4.json")), m_routes(QueryTranslationRoutes::unavailable())
{
    QDir().mkpath(folder); // a failure shows later as failed saves, which are silent

    VisualIndexFile::LoadResult v4 = VisualIndexFile::load(m_cacheFilePath);
    m_skippedEntries = v4.skippedEntries;
    // A save replaces the whole file: keep the old one when it held anything not read.
    m_damagedFile.setLostAnything(v4.lostAnything());
    if (!v4.entries.isEmpty()) {
        m_indexByVideoID = std::move(v4.entries);
    } else {
        // The earlier version is only read; the next save writes the current one.
        VisualIndexFile::LoadResult v3 = VisualIndexFile::load(folder + QStringLiteral("/visual_index_v3.json"));
        m_indexByVideoID = std::move(v3.entries);
    }

    m_writer = std::make_unique<SnapshotWriter<VisualIndexMap>>(
        m_cacheFilePath, [this](const VisualIndexMap &snapshot, const QString &path) { saveFile(snapshot, path); });
}

VisualSearchService::~VisualSearchService() { m_writer.reset(); }

VisualIndexMap VisualSearchService::indexByVideoID() const
{
    QMutexLocker lock(&m_mutex);
    return m_indexByVideoID;
}

void VisualSearchService::upsert(const QList<VideoVisualIndexEntry> &entries)
{
    QMutexLocker lock(&m_mutex);
    for (const VideoVisualIndexEntry &entry : entries)
        m_indexByVideoID.insert(entry.videoID, entry);
}

void VisualSearchService::save(const VisualIndexMap &snapshot) { m_writer->submit(snapshot); }

void VisualSearchService::waitForSaves() { m_writer->waitForIdle(); }

QString VisualSearchService::movedAsidePath() const { return m_damagedFile.movedAsidePath(); }

// Runs on the writer's thread, one save at a time.
void VisualSearchService::saveFile(const VisualIndexMap &snapshot, const QString &path)
{
    if (!m_damagedFile.beforeSave(path))
        return;
    VisualIndexFile::save(snapshot, path); // a failure is silent; the next save rewrites the file
}

void VisualSearchService::setTextEmbedderProvider(QueryTextEmbedderProvider provider)
{
    QMutexLocker lock(&m_mutex);
    m_embedderProvider = std::move(provider);
}

std::optional<std::vector<float>> VisualSearchService::textEmbeddings(const QStringList &variants) const
{
    QueryTextEmbedderProvider provider;
    {
        QMutexLocker lock(&m_mutex);
        provider = m_embedderProvider;
    }
    const std::shared_ptr<QueryTextEmbedder> embedder = provider ? provider() : nullptr;
    if (!embedder)
        return std::nullopt;
    QStringList prompts;
    for (qsizetype i = 0; i < variants.size() && i < 3; ++i) {
        prompts.append(variants[i]);
        prompts.append(QStringLiteral("a photo of ") + variants[i]);
    }
    if (prompts.isEmpty())
        return std::nullopt;
    return embedder->textEmbedding(prompts);
}

SearchHitMap VisualSearchService::search(const QString &query, const QList<VideoFile> &candidates)
{
    const QString trimmed = query.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QString normalized = normalize(trimmed);
    const QStringList terms = tokens(trimmed);

    std::optional<QStringList> variants;
    {
        QMutexLocker lock(&m_mutex);
        const auto cached = m_queryTranslationCache.constFind(normalized);
        if (cached != m_queryTranslationCache.cend())
            variants = cached.value();
    }
    if (!variants) {
        // Translated outside the lock; two searches of a new query may both translate it.
        variants = translateQuery(trimmed);
        QMutexLocker lock(&m_mutex);
        m_queryTranslationCache.insert(normalized, *variants);
    }

    const std::optional<std::vector<float>> embedding = textEmbeddings(*variants);
    const QList<QStringList> groups = labelWordGroups(trimmed, terms);
    const VisualIndexMap snapshot = indexByVideoID();
    return scoreEntries(candidates, snapshot, normalized, terms, embedding, groups);
}
