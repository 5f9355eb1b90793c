#include "ScopeCache.h"

#include "FileNames.h"
#include "JsonStream.h"
#include "RecordFile.h"
#include "VideoScanner.h"

#include <QDir>
#include <QFile>
#include <QThreadPool>


#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// ---- writing ----

namespace {

void writeVideo(JsonStream::Writer &out, const VideoFile &v)
{
    out.member("{\"id\":", v.id);
    out.raw(",\"url\":");
    out.fileUrl(v.id);
    out.member(",\"name\":", v.name);
    out.member(",\"fileExtension\":", v.fileExtension);
    out.member(",\"directoryPath\":", v.directoryPath);
    out.member(",\"fileSize\":", v.fileSize);
    out.member(",\"modifiedDate\":", toReferenceSeconds(v.modifiedDate));
    if (v.createdDate) out.member(",\"createdDate\":", toReferenceSeconds(*v.createdDate));
    out.raw('}');
}

bool writeCache(RecordFile::ChunkedWriter &out, const ScopeCache &cache)
{
    bool ok = true;
    return RecordFile::writeObject(out, cache, [&](RecordFile::ChunkedWriter &out, const CachedScopeScan &record) {
        out.member("{\"scopeKey\":", record.scopeKey);
        out.raw(",\"videos\":[");
        for (qsizetype i = 0; i < record.videos.size() && ok; ++i) {
            if (i)
                out.raw(',');
            writeVideo(out, record.videos[i]);
            ok = out.flushIfFull();
        }
        out.raw("],\"deniedFolders\":[");
        for (qsizetype i = 0; i < record.deniedFolders.size(); ++i) {
            if (i)
                out.raw(',');
            out.string(record.deniedFolders[i]);
        }
        out.member("],\"scannedAt\":", toReferenceSeconds(record.scannedAt));
        out.raw('}');
    }) && ok;
}

// ---- reading ----

// A strict JSON reader made for this file: it walks the text once and takes strings
// without escapes straight from the buffer. A record or entry with a missing or mistyped
// member is left out; text that is not JSON fails the whole file. Unknown members are
// skipped whatever they hold.
class CacheReader : public JsonStream::Cursor
{
public:
    static bool isConsistentEntry(const VideoFile &v, bool urlNamesID) { return isConsistent(v, urlNamesID); }
    CacheReader(const char *begin, const char *end) : Cursor(begin, end) {}

    std::optional<ScopeCache> read()
    {
        ScopeCache cache;
        // A record with a missing or mistyped member is left out; the others stay. Only
        // text that is not JSON at all fails the whole file.
        const RecordFile::ReadStats stats = RecordFile::readObject(*this, [&](const QString &key) {
            CachedScopeScan record;
            if (!readRecord(record))
                return false;
            cache.insert(key, std::move(record));
            return true;
        });
        if (stats.damaged)
            return std::nullopt;
        return cache;
    }

private:
    bool readRecord(CachedScopeScan &record)
    {
        unsigned seen = 0;
        const bool ok = object([&](std::string_view key) {
            if (key == "scopeKey") { seen |= 1; return text(record.scopeKey); }
            if (key == "videos") {
                seen |= 2;
                record.videos.clear();
                return array([&] {
                    VideoFile v;
                    bool urlNamesID = false;
                    const char *start = p;
                    if (!readVideo(v, urlNamesID)) {
                        // One mistyped entry costs only itself.
                        p = start;
                        return skipValue(2);
                    }
                    // The file operations act on these fields: an entry whose fields
                    // disagree with its id could reach a file outside its folder.
                    if (isConsistent(v, urlNamesID))
                        record.videos.append(std::move(v));
                    return true;
                });
            }
            if (key == "deniedFolders") {
                seen |= 4;
                record.deniedFolders.clear();
                return array([&] {
                    QString name;
                    if (!text(name))
                        return false;
                    record.deniedFolders.append(name);
                    return true;
                });
            }
            if (key == "scannedAt") {
                double seconds;
                seen |= 8;
                if (!number(seconds))
                    return false;
                record.scannedAt = fromReferenceSeconds(seconds);
                return true;
            }
            return skipValue(1);
        });
        return ok && seen == 0xF;
    }

    // An absolute path with no empty, "." or ".." component and no NUL (which would cut
    // the path short in a system call).
    static bool isStandardizedPath(QStringView path)
    {
        if (path.size() < 2 || path.front() != u'/' || path.back() == u'/' || path.contains(QChar(u'\0')))
            return false;
        qsizetype begin = 1;
        for (;;) {
            qsizetype end = path.indexOf(u'/', begin);
            if (end < 0)
                end = path.size();
            const QStringView part = path.mid(begin, end - begin);
            if (part.isEmpty() || part == u"." || part == u"..")
                return false;
            if (end == path.size())
                return true;
            begin = end + 1;
        }
    }

    // The id is a standardized path; the name is its last component, the folder the rest,
    // and the stored URL the file URL of the id.
    static bool isConsistent(const VideoFile &v, bool urlNamesID)
    {
        if (!isStandardizedPath(v.id))
            return false;
        const qsizetype slash = v.id.lastIndexOf(u'/');
        if (QStringView(v.id).mid(slash + 1) != v.name)
            return false;
        const QStringView folder = slash == 0 ? QStringView(u"/") : QStringView(v.id).left(slash);
        if (folder != v.directoryPath)
            return false;
        return urlNamesID;
    }

    bool readVideo(VideoFile &v, bool &urlNamesID)
    {
        unsigned seen = 0;
        std::string_view url;
        std::string urlCopy;
        bool urlEscaped = false;
        const bool ok = object([&](std::string_view key) {
            double number_;
            switch (key.size()) {
            case 2: if (key == "id") { seen |= 1; return text(v.id); } break;
            case 3:
                if (key == "url") {
                    seen |= 2;
                    if (!rawString(url, urlEscaped))
                        return false;
                    if (urlEscaped) {
                        urlCopy.assign(url);
                        url = urlCopy;
                    }
                    return true;
                }
                break;
            case 4: if (key == "name") { seen |= 4; return text(v.name); } break;
            case 8:
                if (key == "fileSize") {
                    seen |= 32;
                    return integer(v.fileSize);
                }
                break;
            case 11:
                if (key == "createdDate") {
                    if (isNull()) { v.createdDate.reset(); return true; }
                    if (!number(number_))
                        return false;
                    v.createdDate = fromReferenceSeconds(number_);
                    return true;
                }
                break;
            case 12:
                if (key == "modifiedDate") {
                    seen |= 64;
                    if (!number(number_))
                        return false;
                    v.modifiedDate = fromReferenceSeconds(number_);
                    return true;
                }
                break;
            case 13:
                if (key == "fileExtension") { seen |= 8; return sharedText(m_extensions, v.fileExtension); }
                if (key == "directoryPath") { seen |= 16; return sharedText(m_folders, v.directoryPath); }
                break;
            }
            return skipValue(2);
        });
        if (!ok || seen != 0x7F)
            return false;
        // The URL is not kept (it is made from the id on demand); the stored one must name
        // the id.
        urlNamesID = storedURLNamesID(v.id, url);
        return true;
    }

public:
    // It is the id's file URL in nearly every record, which a plain comparison answers
    // without the general URL parser.
    static bool storedURLNamesID(const QString &videoID, std::string_view url)
    {
        const QByteArray id = videoID.toUtf8();
        if (url.size() == size_t(id.size()) + 7 && url.substr(0, 7) == "file://" &&
            url.substr(7) == std::string_view(id.constData(), size_t(id.size())) &&
            url.find_first_of("%#?") == std::string_view::npos)
            return true;
        if (FileNames::hasRawBytes(videoID))
            return QUrl::fromLocalFile(videoID).toEncoded() == QByteArray(url.data(), qsizetype(url.size()));
        const QUrl stored(QString::fromUtf8(url.data(), qsizetype(url.size())));
        return stored.isLocalFile() && stored.toLocalFile() == videoID;
    }

private:

    std::unordered_map<std::string_view, QString> m_folders;
    std::unordered_map<std::string_view, QString> m_extensions;
};

} // namespace

namespace ScopeCacheCodec {

bool isConsistentEntry(const VideoFile &video, bool urlNamesID)
{
    return CacheReader::isConsistentEntry(video, urlNamesID);
}

bool storedURLNamesID(const QString &videoID, std::string_view url)
{
    return CacheReader::storedURLNamesID(videoID, url);
}

QByteArray encode(const ScopeCache &cache)
{
    return RecordFile::text([&](RecordFile::ChunkedWriter &out) { return writeCache(out, cache); });
}

std::optional<ScopeCache> decode(const QByteArray &json)
{
    return CacheReader(json.constData(), json.constData() + json.size()).read();
}

QStringList scopeRoots(const QString &key, const QList<ScanScope> &volumes)
{
    QString id = key;
    if (id.endsWith(QLatin1String("#photos=0")) || id.endsWith(QLatin1String("#photos=1")))
        id.chop(9);
    for (const QLatin1String prefix : {QLatin1String("scope:custom:"), QLatin1String("scope:vol:")}) {
        if (id.startsWith(prefix)) {
            const QString root = id.mid(prefix.size());
            if (root.startsWith(QLatin1Char('/')) && standardizedPath(root) == root)
                return {root};
            return {};
        }
    }
    const bool everything = id == ScanScope::entireMacDeep().id();
    if (id != ScanScope::homeDirectory().id() && !everything)
        return {};
    QStringList roots{standardizedPath(QString::fromLatin1(kUsersFolder)), standardizedPath(QDir::homePath())};
    if (everything) {
        for (const ScanScope &volume : volumes)
            if (const std::optional<QUrl> url = volume.rootURL())
                roots.append(standardizedPath(url->toLocalFile()));
    }
    return roots;
}

namespace {

bool isSaneDate(const QDateTime &date)
{
    // Files carry no dates before the Windows epoch or past year 9999; anything out there
    // is a damaged entry and would print as nonsense.
    static const qint64 earliest = QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    static const qint64 latest = QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    if (!date.isValid())
        return false;
    const qint64 ms = date.toMSecsSinceEpoch();
    return ms >= earliest && ms < latest;
}

bool isBelow(const QString &path, const QString &root)
{
    return root == QLatin1String("/") || (path.size() > root.size() + 1 && path.startsWith(root)
                                          && path[root.size()] == QLatin1Char('/'));
}

// No file is larger than a pebibyte, and no library holds an exbibyte: sizes past those are
// damage, and the totals of folders and of the whole cache stay far from overflowing.
constexpr qint64 kLargestFile = qint64(1) << 50;
constexpr qint64 kLargestLibrary = qint64(1) << 60;

// Whether an entry is what a scan of the scope could have listed: a video file below one
// of its roots, with a size and dates a file can have.
bool isAcceptable(const VideoFile &v, const QStringList &roots)
{
    if (v.fileSize < 0 || v.fileSize > kLargestFile || !isSaneDate(v.modifiedDate) ||
        (v.createdDate && !isSaneDate(*v.createdDate)))
        return false;
    const qsizetype dot = v.name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == v.name.size() - 1)
        return false;
    const QString ext = v.name.mid(dot + 1);
    if (!VideoFile::knownVideoExtensions().contains(ext.toLower()) || v.fileExtension != ext.toUpper())
        return false;
    return std::any_of(roots.cbegin(), roots.cend(), [&](const QString &root) { return isBelow(v.id, root); });
}

} // namespace

ScopeCache sanitized(ScopeCache cache, const QList<ScanScope> &volumes)
{
    qint64 total = 0;
    for (auto it = cache.begin(); it != cache.end();) {
        const QStringList roots = scopeRoots(it.key(), volumes);
        if (roots.isEmpty()) {
            it = cache.erase(it);
            continue;
        }
        QList<VideoFile> &videos = it->videos;
        videos.removeIf([&](const VideoFile &v) {
            if (!isAcceptable(v, roots) || v.fileSize > kLargestLibrary - total)
                return true;
            total += v.fileSize;
            return false;
        });
        if (!isSaneDate(it->scannedAt))
            it->scannedAt = QDateTime();
        ++it;
    }
    return cache;
}

ScopeCache load(const QString &path, const QList<ScanScope> &volumes)
{
    std::optional<ScopeCache> cache;
    const RecordFile::Contents contents = RecordFile::read(path, [&](const char *begin, const char *end) {
        cache = CacheReader(begin, end).read();
    });
    if (contents == RecordFile::Contents::none)
        return {};
    if (!cache) {
        // Kept for a look by hand: the next save replaces the file.
        const QString aside = path + QStringLiteral(".unreadable");
        QFile::remove(aside);
        QFile::rename(path, aside);
        return {};
    }
    return sanitized(std::move(*cache), volumes);
}

bool save(const ScopeCache &cache, const QString &path)
{
    return RecordFile::save(path, [&](RecordFile::ChunkedWriter &out) { return writeCache(out, cache); });
}

} // namespace ScopeCacheCodec
