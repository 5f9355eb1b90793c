#include "ScopeCache.h"

#include "FileNames.h"
#include "VideoScanner.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QThreadPool>


#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// ---- writing ----

namespace {

class JsonOut
{
public:
    explicit JsonOut(QByteArray &buffer) : m_buf(buffer) {}

    void raw(char c) { m_buf.append(c); }
    void raw(const char *s) { m_buf.append(s); }

    void string(const QString &s)
    {
        if (FileNames::hasRawBytes(s)) {
            rawBytesString(s);
            return;
        }
        const QByteArray utf8 = s.toUtf8();
        string(utf8.constData(), utf8.size());
    }
    // A file name that is not UTF-8: its stray bytes are written as the escapes of the
    // lone surrogates that stand for them, which the reader turns back into the bytes.
    void rawBytesString(const QString &s)
    {
        m_buf.append('"');
        qsizetype run = 0;
        for (qsizetype i = 0; i < s.size(); ++i) {
            const char16_t c = s[i].unicode();
            if (c < 0xDC80 || c > 0xDCFF || (i > 0 && s[i - 1].isHighSurrogate()))
                continue;
            const QByteArray utf8 = QStringView(s).mid(run, i - run).toUtf8();
            escaped(utf8.constData(), utf8.size());
            char esc[7];
            std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(c));
            m_buf.append(esc, 6);
            run = i + 1;
        }
        const QByteArray utf8 = QStringView(s).mid(run).toUtf8();
        escaped(utf8.constData(), utf8.size());
        m_buf.append('"');
    }
    void string(const char *p, qsizetype n)
    {
        m_buf.append('"');
        escaped(p, n);
        m_buf.append('"');
    }
    void escaped(const char *p, qsizetype n)
    {
        qsizetype run = 0;
        for (qsizetype i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(p[i]);
            if (c >= 0x20 && c != '"' && c != '\\')
                continue;
            m_buf.append(p + run, i - run);
            run = i + 1;
            switch (c) {
            case '"': m_buf.append("\\\""); break;
            case '\\': m_buf.append("\\\\"); break;
            case '\n': m_buf.append("\\n"); break;
            case '\r': m_buf.append("\\r"); break;
            case '\t': m_buf.append("\\t"); break;
            default: {
                char esc[7];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                m_buf.append(esc, 6);
            }
            }
        }
        m_buf.append(p + run, n - run);
    }
    void number(qint64 v)
    {
        char tmp[24];
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        m_buf.append(tmp, r.ptr - tmp);
    }
    void number(double v)
    {
        if (!std::isfinite(v))
            v = 0;
        char tmp[32];
        // Shortest text that reads back as the same double.
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        m_buf.append(tmp, r.ptr - tmp);
    }

private:
    QByteArray &m_buf;
};

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

// A strict JSON reader made for this file: it walks the text once and takes strings
// without escapes straight from the buffer. A record or entry with a missing or mistyped
// member is left out; text that is not JSON fails the whole file. Unknown members are
// skipped whatever they hold.
class CacheReader
{
public:
    CacheReader(const char *begin, const char *end) : p(begin), e(end) {}

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
                if (!text(key) || !expect(':'))
                    return std::nullopt;
                // A record with a missing or mistyped member is left out; the others
                // stay. Only text that is not JSON at all fails the whole file.
                const char *start = p;
                if (readRecord(record)) {
                    cache.insert(key, std::move(record));
                } else {
                    p = start;
                    if (!skipValue(1))
                        return std::nullopt;
                }
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
    static constexpr int kMaxDepth = 512;

    void ws()
    {
        while (p < e && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t'))
            ++p;
    }
    bool peek(char c) { return p < e && *p == c; }
    bool expect(char c)
    {
        ws();
        if (p < e && *p == c) {
            ++p;
            return true;
        }
        return false;
    }

    static void appendUtf8(std::string &out, uint32_t cp)
    {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    bool hex4(uint32_t &out)
    {
        if (e - p < 4)
            return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p++;
            out <<= 4;
            if (c >= '0' && c <= '9') out |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f') out |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') out |= uint32_t(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    // Length of the well-formed UTF-8 sequence at `p` that starts with a byte of 0x80 or
    // more; 0 when it is malformed (overlong, a surrogate, beyond U+10FFFF, cut short).
    size_t multiByteLength() const
    {
        const auto at = [&](ptrdiff_t i) { return static_cast<unsigned char>(p[i]); };
        const auto cont = [&](ptrdiff_t i) { return p + i < e && (at(i) & 0xC0) == 0x80; };
        const unsigned char c = at(0);
        if (c >= 0xC2 && c <= 0xDF)
            return cont(1) ? 2 : 0;
        if (c >= 0xE0 && c <= 0xEF) {
            if (!cont(1) || !cont(2))
                return 0;
            if ((c == 0xE0 && at(1) < 0xA0) || (c == 0xED && at(1) > 0x9F))
                return 0;
            return 3;
        }
        if (c >= 0xF0 && c <= 0xF4) {
            if (!cont(1) || !cont(2) || !cont(3))
                return 0;
            if ((c == 0xF0 && at(1) < 0x90) || (c == 0xF4 && at(1) > 0x8F))
                return 0;
            return 4;
        }
        return 0;
    }

    // A string as UTF-8: a view into the text when it has no escapes, else decoded into
    // `scratch`. `escaped` tells which. Text that is not UTF-8 fails: it would otherwise
    // turn into other characters and so into other paths.
    bool rawString(std::string_view &out, bool &escaped)
    {
        ws();
        if (p >= e || *p != '"')
            return false;
        const char *start = ++p;
        while (p < e) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c == '"') {
                out = std::string_view(start, size_t(p - start));
                ++p;
                escaped = false;
                return true;
            }
            if (c == '\\')
                break;
            if (c < 0x20)
                return false;
            if (c >= 0x80) {
                const size_t n = multiByteLength();
                if (n == 0)
                    return false;
                p += n;
                continue;
            }
            ++p;
        }
        m_scratch.assign(start, size_t(p - start));
        while (p < e) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c >= 0x80) {
                const size_t n = multiByteLength();
                if (n == 0)
                    return false;
                m_scratch.append(p, n);
                p += n;
                continue;
            }
            ++p;
            if (c == '"') {
                out = m_scratch;
                escaped = true;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c != '\\') {
                m_scratch += char(c);
                continue;
            }
            if (p >= e)
                return false;
            switch (*p++) {
            case '"': m_scratch += '"'; break;
            case '\\': m_scratch += '\\'; break;
            case '/': m_scratch += '/'; break;
            case 'b': m_scratch += '\b'; break;
            case 'f': m_scratch += '\f'; break;
            case 'n': m_scratch += '\n'; break;
            case 'r': m_scratch += '\r'; break;
            case 't': m_scratch += '\t'; break;
            case 'u': {
                uint32_t cp;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp < 0xDC00) {
                    uint32_t low;
                    if (e - p < 2 || p[0] != '\\' || p[1] != 'u')
                        return false;
                    p += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC80 && cp < 0xDD00) {
                    // A byte of a file name that is not UTF-8 (see the writer).
                    m_scratch += char(cp - 0xDC00);
                    break;
                } else if (cp >= 0xDC00 && cp < 0xE000) {
                    return false;
                }
                appendUtf8(m_scratch, cp);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool text(QString &out)
    {
        std::string_view v;
        bool escaped;
        if (!rawString(v, escaped))
            return false;
        out = escaped ? FileNames::decode(v) : QString::fromUtf8(v.data(), qsizetype(v.size()));
        return true;
    }
    // Folders and extensions repeat across many videos: one string each.
    bool sharedText(std::unordered_map<std::string_view, QString> &table, QString &out)
    {
        std::string_view v;
        bool escaped;
        if (!rawString(v, escaped))
            return false;
        if (escaped) {
            out = FileNames::decode(v);
            return true;
        }
        auto it = table.find(v);
        if (it == table.end())
            it = table.emplace(v, QString::fromUtf8(v.data(), qsizetype(v.size()))).first;
        out = it->second;
        return true;
    }

    // `anyMagnitude`: a well-formed number out of the double's range also passes (when
    // skipping a value, only its form matters).
    bool number(double &out, bool anyMagnitude = false)
    {
        ws();
        const char *start = p;
        if (p < e && *p == '-')
            ++p;
        if (p >= e || !(*p >= '0' && *p <= '9'))
            return false;
        if (*p == '0' && p + 1 < e && p[1] >= '0' && p[1] <= '9')
            return false; // no leading zeros
        while (p < e && ((*p >= '0' && *p <= '9') || *p == '.' || *p == 'e' || *p == 'E' || *p == '+' || *p == '-'))
            ++p;
        const auto r = std::from_chars(start, p, out);
        return (r.ec == std::errc() || (anyMagnitude && r.ec == std::errc::result_out_of_range)) && r.ptr == p;
    }

    // A whole number that fits 64 bits, also when written with a fraction or an exponent
    // ("2e3"); anything else fails rather than being converted out of range.
    bool integer(qint64 &out)
    {
        ws();
        const char *start = p;
        double value;
        if (!number(value))
            return false;
        if (const auto r = std::from_chars(start, p, out); r.ec == std::errc() && r.ptr == p)
            return true;
        // 2^63 is exactly representable; every double below it converts safely.
        if (value != std::floor(value) || !(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
            return false;
        out = qint64(value);
        return true;
    }

    bool skipValue(int depth)
    {
        if (depth > kMaxDepth)
            return false;
        ws();
        if (p >= e)
            return false;
        switch (*p) {
        case '"': {
            std::string_view v;
            bool escaped;
            return rawString(v, escaped);
        }
        case '{': {
            ++p;
            ws();
            if (peek('}')) { ++p; return true; }
            for (;;) {
                std::string_view k;
                bool escaped;
                if (!rawString(k, escaped) || !expect(':') || !skipValue(depth + 1))
                    return false;
                if (expect(',')) continue;
                if (peek('}')) { ++p; return true; }
                return false;
            }
        }
        case '[': {
            ++p;
            ws();
            if (peek(']')) { ++p; return true; }
            for (;;) {
                if (!skipValue(depth + 1))
                    return false;
                if (expect(',')) continue;
                if (peek(']')) { ++p; return true; }
                return false;
            }
        }
        case 't': return literal("true");
        case 'f': return literal("false");
        case 'n': return literal("null");
        default: {
            double ignored;
            return number(ignored, true);
        }
        }
    }
    bool literal(std::string_view word)
    {
        if (size_t(e - p) < word.size() || std::string_view(p, word.size()) != word)
            return false;
        p += word.size();
        return true;
    }
    bool isNull()
    {
        ws();
        return literal("null");
    }

    // Members of a JSON object, one call of `member(key)` per member.
    template <typename Member> bool object(Member &&member)
    {
        if (!expect('{'))
            return false;
        ws();
        if (peek('}')) { ++p; return true; }
        for (;;) {
            std::string_view key;
            bool escaped;
            if (!rawString(key, escaped) || !expect(':'))
                return false;
            // The view may point at the scratch buffer that the member's value reuses.
            const std::string keyCopy = escaped ? std::string(key) : std::string();
            if (!member(escaped ? std::string_view(keyCopy) : key))
                return false;
            if (expect(',')) continue;
            if (peek('}')) { ++p; return true; }
            return false;
        }
    }
    template <typename Element> bool array(Element &&element)
    {
        if (!expect('['))
            return false;
        ws();
        if (peek(']')) { ++p; return true; }
        for (;;) {
            if (!element())
                return false;
            if (expect(',')) continue;
            if (peek(']')) { ++p; return true; }
            return false;
        }
    }

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
                    const char *start = p;
                    if (!readVideo(v, urlMadeFromID)) {
                        // One mistyped entry costs only itself.
                        p = start;
                        return skipValue(2);
                    }
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
        } else if (FileNames::hasRawBytes(v.id)
                   && QUrl::fromLocalFile(v.id).toEncoded() == QByteArray(url.data(), qsizetype(url.size()))) {
            v.url = QUrl::fromLocalFile(v.id);
            urlMadeFromID = true;
        } else {
            v.url = QUrl(QString::fromUtf8(url.data(), qsizetype(url.size())));
        }
        return true;
    }

    const char *p;
    const char *e;
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

// Whether an entry is what a scan of the scope could have listed: a video file below one
// of its roots, with a size and dates a file can have.
bool isAcceptable(const VideoFile &v, const QStringList &roots)
{
    if (v.fileSize < 0 || !isSaneDate(v.modifiedDate) || (v.createdDate && !isSaneDate(*v.createdDate)))
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
    for (auto it = cache.begin(); it != cache.end();) {
        const QStringList roots = scopeRoots(it.key(), volumes);
        if (roots.isEmpty()) {
            it = cache.erase(it);
            continue;
        }
        QList<VideoFile> &videos = it->videos;
        videos.removeIf([&](const VideoFile &v) { return !isAcceptable(v, roots); });
        if (!isSaneDate(it->scannedAt))
            it->scannedAt = QDateTime();
        ++it;
    }
    return cache;
}

ScopeCache load(const QString &path, const QList<ScanScope> &volumes)
{
    QFile file(path);
    if (!file.exists())
        return {};
    std::optional<ScopeCache> cache;
    if (file.open(QIODevice::ReadOnly)) {
        if (file.size() == 0)
            return {};
        // Mapped, not copied: the reader walks the file's pages once.
        if (uchar *mapped = file.map(0, file.size())) {
            const char *begin = reinterpret_cast<const char *>(mapped);
            cache = CacheReader(begin, begin + file.size()).read();
            file.unmap(mapped);
        } else {
            cache = decode(file.readAll());
        }
        file.close();
    }
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
