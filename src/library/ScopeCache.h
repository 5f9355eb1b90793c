#pragma once

#include "Models.h"
#include "SnapshotWriter.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The record of one scope's last completed scan.
struct CachedScopeScan {
    QString scopeKey;
    QList<VideoFile> videos; // library order
    QStringList deniedFolders;
    QDateTime scannedAt;
    bool operator==(const CachedScopeScan &other) const = default;
};

// Scope key -> record.
using ScopeCache = QHash<QString, CachedScopeScan>;

// The file form of the cache: one JSON object from scope key to record.
namespace ScopeCacheCodec {
// Streams the JSON text of `cache`; the same member names and value forms as
// VideoFile::toJson.
QByteArray encode(const ScopeCache &cache);
// No value when the text is not a complete, well-typed cache (a single bad record fails
// the whole file).
std::optional<ScopeCache> decode(const QByteArray &json);
// Reads and decodes the file; an empty cache when it is missing or not decodable.
ScopeCache load(const QString &path);
// Encodes and replaces the file atomically; false on any failure.
bool save(const ScopeCache &cache, const QString &path);
} // namespace ScopeCacheCodec

// The one writer of the cache file (see SnapshotWriter).
class ScopeCacheWriter : public SnapshotWriter<ScopeCache>
{
public:
    explicit ScopeCacheWriter(QString path)
        : SnapshotWriter(std::move(path), [](const ScopeCache &cache, const QString &file) {
              ScopeCacheCodec::save(cache, file);
          })
    {
    }
};
