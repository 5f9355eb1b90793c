#include "ScopeCache.h"

#include "JsonStream.h"

#include <QFile>
#include <QSaveFile>


#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// ---- writing ----

namespace {

using JsonOut = JsonStream::Writer;

void writeVideo(JsonOut &out, const VideoFile &v)
{
    out.raw("{\"id\":");
    out.string(v.id);
    out.raw(",\"url\":");
    out.string(v.url.toString(QUrl::FullyEncoded));
    out.raw(",\"name\":");
    out.string(v.name);
    out.raw(",\"fileExtension\":");
    out.string(v.fileExtension);
    out.raw(",\"directoryPath\":");
    out.string(v.directoryPath);
    out.raw(",\"fileSize\":");
    out.number(v.fileSize);
    out.raw(",\"modifiedDate\":");
    out.number(toReferenceSeconds(v.modifiedDate));
    if (v.createdDate) {
        out.raw(",\"createdDate\":");
        out.number(toReferenceSeconds(*v.createdDate));
    }
    out.raw('}');
}

// Streams the cache through `flush`, which is handed the buffer whenever it has grown.
template <typename Flush> bool encodeTo(const ScopeCache &cache, Flush &&flush)
{
    constexpr qsizetype chunk = 1 << 20;
    QByteArray buffer;
    buffer.reserve(chunk + 4096);
    JsonOut out(buffer);
    const auto maybeFlush = [&] {
        if (buffer.size() < chunk)
            return true;
        const bool ok = flush(buffer);
        buffer.clear();
        return ok;
    };
    out.raw('{');
    bool firstRecord = true;
    for (auto it = cache.cbegin(); it != cache.cend(); ++it) {
        const CachedScopeScan &record = it.value();
        if (!firstRecord)
            out.raw(',');
        firstRecord = false;
        out.string(it.key());
        out.raw(":{\"scopeKey\":");
        out.string(record.scopeKey);
        out.raw(",\"videos\":[");
        for (qsizetype i = 0; i < record.videos.size(); ++i) {
            if (i)
                out.raw(',');
            writeVideo(out, record.videos[i]);
            if (!maybeFlush())
                return false;
        }
        out.raw("],\"deniedFolders\":[");
        for (qsizetype i = 0; i < record.deniedFolders.size(); ++i) {
            if (i)
                out.raw(',');
            out.string(record.deniedFolders[i]);
        }
        out.raw("],\"scannedAt\":");
        out.number(toReferenceSeconds(record.scannedAt));
        out.raw('}');
    }
    out.raw('}');
    return buffer.isEmpty() || flush(buffer);
}

// ---- reading ----

// A strict JSON reader made for this file: it walks the text once, takes strings without
// escapes straight from the buffer, and fails on the first missing or mistyped member of
// any record. Unknown members are skipped whatever they hold.
class CacheReader : public JsonStream::Cursor
{
public:
    CacheReader(const char *begin, const char *end) : Cursor(begin, end) {}

    std::optional<ScopeCache> read()
    {
        ScopeCache cache;
        if (!expect('{'))
            return std::nullopt;
        ws();
        if (!peek('}')) {
            for (;;) {
                QString key;
                CachedScopeScan record;
                if (!text(key) || !expect(':') || !readRecord(record))
                    return std::nullopt;
                cache.insert(key, std::move(record));
                if (expect(','))
                    continue;
                if (peek('}'))
                    break;
                return std::nullopt;
            }
        }
        ++p;
        ws();
        if (p != e)
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
                    bool urlMadeFromID = false;
                    if (!readVideo(v, urlMadeFromID))
                        return false;
                    // The file operations act on these fields: an entry whose fields
                    // disagree with its id could reach a file outside its folder.
                    if (isConsistent(v, urlMadeFromID))
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
    // and the URL the file URL of the id.
    static bool isConsistent(const VideoFile &v, bool urlMadeFromID)
    {
        if (!isStandardizedPath(v.id))
            return false;
        const qsizetype slash = v.id.lastIndexOf(u'/');
        if (QStringView(v.id).mid(slash + 1) != v.name)
            return false;
        const QStringView folder = slash == 0 ? QStringView(u"/") : QStringView(v.id).left(slash);
        if (folder != v.directoryPath)
            return false;
        // A URL made from the id (the common case) agrees by construction.
        return urlMadeFromID || (v.url.isLocalFile() && v.url.toLocalFile() == v.id);
    }

    bool readVideo(VideoFile &v, bool &urlMadeFromID)
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
        // The stored URL is the file URL of the id in nearly every record; building it from
        // the path skips the general URL parser.
        const QByteArray id = v.id.toUtf8();
        if (url.size() == size_t(id.size()) + 7 && url.substr(0, 7) == "file://" &&
            url.substr(7) == std::string_view(id.constData(), size_t(id.size())) &&
            url.find_first_of("%#?") == std::string_view::npos) {
            v.url = QUrl::fromLocalFile(v.id);
            urlMadeFromID = true;
        } else {
            v.url = QUrl(QString::fromUtf8(url.data(), qsizetype(url.size())));
        }
        return true;
    }

    std::string m_scratch;
    std::unordered_map<std::string_view, QString> m_folders;
    std::unordered_map<std::string_view, QString> m_extensions;
};

} // namespace

namespace ScopeCacheCodec {

QByteArray encode(const ScopeCache &cache)
{
    QByteArray all;
    encodeTo(cache, [&](const QByteArray &chunk) {
        all.append(chunk);
        return true;
    });
    return all;
}

std::optional<ScopeCache> decode(const QByteArray &json)
{
    return CacheReader(json.constData(), json.constData() + json.size()).read();
}

ScopeCache load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return {};
    // Mapped, not copied: the reader walks the file's pages once.
    if (uchar *mapped = file.map(0, file.size())) {
        const char *begin = reinterpret_cast<const char *>(mapped);
        ScopeCache cache = CacheReader(begin, begin + file.size()).read().value_or(ScopeCache{});
        file.unmap(mapped);
        return cache;
    }
    return decode(file.readAll()).value_or(ScopeCache{});
}

bool save(const ScopeCache &cache, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const bool written = encodeTo(cache, [&](const QByteArray &chunk) {
        return file.write(chunk) == chunk.size();
    });
    if (!written) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace ScopeCacheCodec
