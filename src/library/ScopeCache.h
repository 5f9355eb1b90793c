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
#include <string_view>

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
// No value when the text is not JSON of the cache's shape; a record or entry with a
// missing or mistyped member is left out and the rest kept.
std::optional<ScopeCache> decode(const QByteArray &json);
// The folders a scope's videos lie below, from its cache key (the whole-computer scope
// also reaches `volumes`); none for a key that names no scope.
QStringList scopeRoots(const QString &key, const QList<ScanScope> &volumes = {});
// Leaves out records of keys that name no scope and entries a scan of their scope could
// not have listed: outside its roots, not a video extension, a negative size, a date out
// of any file's range.
ScopeCache sanitized(ScopeCache cache, const QList<ScanScope> &volumes = {});
// Reads, decodes and sanitizes the file; an empty cache when it is missing or not
// decodable, in which case it is first moved aside to "<path>.unreadable".
ScopeCache load(const QString &path, const QList<ScanScope> &volumes = {});
// Encodes and replaces the file atomically; false on any failure.
bool save(const ScopeCache &cache, const QString &path);
// Whether a read entry hangs together: its id is a standardized absolute path whose last
// component is its name and the rest its folder, and its stored URL names that id.
bool isConsistentEntry(const VideoFile &video, bool urlNamesID);
// Whether the URL text stored with an entry names the file of `videoID`.
bool storedURLNamesID(const QString &videoID, std::string_view url);
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
