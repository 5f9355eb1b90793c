#include "ScopeCache.h"

#include <QFile>
#include <QSaveFile>
#include <QThreadPool>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <string>
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
        const QByteArray utf8 = s.toUtf8();
        string(utf8.constData(), utf8.size());
    }
    void string(const char *p, qsizetype n)
    {
        m_buf.append('"');
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
        m_buf.append('"');
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

// SAX reader of the cache file. It checks the shape as it goes and fails on the first
// missing or mistyped member; unknown members are skipped whatever they hold.
class CacheReader : public nlohmann::json_sax<nlohmann::json>
{
public:
    ScopeCache result;

    bool null() override { return scalar(Value::null); }
    bool boolean(bool) override { return scalar(Value::other); }
    bool number_integer(number_integer_t v) override { m_number = double(v); m_integral = true; return scalar(Value::number); }
    bool number_unsigned(number_unsigned_t v) override { m_number = double(v); m_integral = true; return scalar(Value::number); }
    bool number_float(number_float_t v, const string_t &) override
    {
        m_number = v;
        m_integral = v == std::floor(v);
        return scalar(Value::number);
    }
    bool string(string_t &s) override
    {
        m_string = &s;
        return scalar(Value::string);
    }
    bool binary(binary_t &) override { return scalar(Value::other); }

    bool start_object(std::size_t) override
    {
        if (m_skip) { ++m_skip; return true; }
        switch (m_level) {
        case Level::top: m_level = Level::cache; return true;
        case Level::cache: m_level = Level::record; m_record = {}; m_seen = 0; return true;
        case Level::videos: m_level = Level::video; m_video = {}; m_videoSeen = 0; return true;
        case Level::record:
        case Level::video:
            if (m_member == Member::unknown) { m_skip = 1; return true; }
            return false;
        default: return false;
        }
    }
    bool end_object() override
    {
        if (m_skip) { --m_skip; return true; }
        switch (m_level) {
        case Level::cache: m_level = Level::done; return true;
        case Level::record:
            if (m_seen != 0xF)
                return false;
            result.insert(m_recordKey, std::move(m_record));
            m_level = Level::cache;
            return true;
        case Level::video:
            if ((m_videoSeen & kRequiredVideo) != kRequiredVideo)
                return false;
            m_record.videos.append(makeVideo());
            m_level = Level::videos;
            return true;
        default: return false;
        }
    }
    bool start_array(std::size_t) override
    {
        if (m_skip) { ++m_skip; return true; }
        if (m_level == Level::record) {
            if (m_member == Member::videos) { m_level = Level::videos; m_seen |= 2; return true; }
            if (m_member == Member::deniedFolders) { m_level = Level::denied; m_seen |= 4; return true; }
            if (m_member == Member::unknown) { m_skip = 1; return true; }
            return false;
        }
        if (m_level == Level::video && m_member == Member::unknown) { m_skip = 1; return true; }
        return false;
    }
    bool end_array() override
    {
        if (m_skip) { --m_skip; return true; }
        if (m_level == Level::videos || m_level == Level::denied) { m_level = Level::record; return true; }
        return false;
    }
    bool key(string_t &k) override
    {
        if (m_skip)
            return true;
        if (m_level == Level::cache) {
            m_recordKey = QString::fromUtf8(k.data(), qsizetype(k.size()));
            return true;
        }
        if (m_level == Level::record) {
            if (k == "scopeKey") m_member = Member::scopeKey;
            else if (k == "videos") m_member = Member::videos;
            else if (k == "deniedFolders") m_member = Member::deniedFolders;
            else if (k == "scannedAt") m_member = Member::scannedAt;
            else m_member = Member::unknown;
            return true;
        }
        if (m_level == Level::video) {
            m_member = videoMember(k);
            return true;
        }
        return false;
    }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override { return false; }

private:
    enum class Level { top, cache, record, videos, video, denied, done };
    enum class Value { null, number, string, other };
    enum class Member {
        unknown, scopeKey, videos, deniedFolders, scannedAt,
        id, url, name, fileExtension, directoryPath, fileSize, modifiedDate, createdDate
    };
    static constexpr unsigned kRequiredVideo = 0x7F; // id .. modifiedDate

    static Member videoMember(const string_t &k)
    {
        switch (k.size()) {
        case 2: if (k == "id") return Member::id; break;
        case 3: if (k == "url") return Member::url; break;
        case 4: if (k == "name") return Member::name; break;
        case 8: if (k == "fileSize") return Member::fileSize; break;
        case 11: if (k == "createdDate") return Member::createdDate; break;
        case 12: if (k == "modifiedDate") return Member::modifiedDate; break;
        case 13:
            if (k == "fileExtension") return Member::fileExtension;
            if (k == "directoryPath") return Member::directoryPath;
            break;
        }
        return Member::unknown;
    }

    bool scalar(Value kind)
    {
        if (m_skip)
            return true;
        switch (m_level) {
        case Level::record:
            switch (m_member) {
            case Member::scopeKey:
                if (kind != Value::string) return false;
                m_record.scopeKey = QString::fromUtf8(m_string->data(), qsizetype(m_string->size()));
                m_seen |= 1;
                return true;
            case Member::scannedAt:
                if (kind != Value::number) return false;
                m_record.scannedAt = fromReferenceSeconds(m_number);
                m_seen |= 8;
                return true;
            case Member::unknown: return true;
            default: return false;
            }
        case Level::denied:
            if (kind != Value::string) return false;
            m_record.deniedFolders.append(QString::fromUtf8(m_string->data(), qsizetype(m_string->size())));
            return true;
        case Level::video: return videoScalar(kind);
        default: return false;
        }
    }

    bool videoScalar(Value kind)
    {
        const auto text = [&](QString &out, unsigned bit) {
            if (kind != Value::string) return false;
            out = QString::fromUtf8(m_string->data(), qsizetype(m_string->size()));
            m_videoSeen |= bit;
            return true;
        };
        const auto shared = [&](std::unordered_map<std::string, QString> &table, QString &out, unsigned bit) {
            if (kind != Value::string) return false;
            // Folders and extensions repeat across many videos: one string each.
            auto it = table.find(*m_string);
            if (it == table.end())
                it = table.emplace(*m_string, QString::fromUtf8(m_string->data(), qsizetype(m_string->size()))).first;
            out = it->second;
            m_videoSeen |= bit;
            return true;
        };
        switch (m_member) {
        case Member::id: return text(m_video.id, 1);
        case Member::url:
            if (kind != Value::string) return false;
            m_url.assign(*m_string);
            m_videoSeen |= 2;
            return true;
        case Member::name: return text(m_video.name, 4);
        case Member::fileExtension: return shared(m_extensions, m_video.fileExtension, 8);
        case Member::directoryPath: return shared(m_folders, m_video.directoryPath, 16);
        case Member::fileSize:
            if (kind != Value::number || !m_integral) return false;
            m_video.fileSize = qint64(m_number);
            m_videoSeen |= 32;
            return true;
        case Member::modifiedDate:
            if (kind != Value::number) return false;
            m_video.modifiedDate = fromReferenceSeconds(m_number);
            m_videoSeen |= 64;
            return true;
        case Member::createdDate:
            if (kind == Value::null) return true;
            if (kind != Value::number) return false;
            m_video.createdDate = fromReferenceSeconds(m_number);
            return true;
        case Member::unknown: return true;
        default: return false;
        }
    }

    VideoFile makeVideo()
    {
        // The stored URL is the file URL of the id in nearly every record; building it from
        // the path skips the general URL parser.
        const QByteArray expected = QByteArrayLiteral("file://") + m_video.id.toUtf8();
        if (m_url.size() == size_t(expected.size()) && m_url == expected.constData() &&
            m_url.find_first_of("%#?") == std::string::npos)
            m_video.url = QUrl::fromLocalFile(m_video.id);
        else
            m_video.url = QUrl(QString::fromUtf8(m_url.data(), qsizetype(m_url.size())));
        return std::move(m_video);
    }

    Level m_level = Level::top;
    Member m_member = Member::unknown;
    int m_skip = 0;
    unsigned m_seen = 0;
    unsigned m_videoSeen = 0;
    QString m_recordKey;
    CachedScopeScan m_record;
    VideoFile m_video;
    std::string m_url;
    string_t *m_string = nullptr;
    double m_number = 0;
    bool m_integral = false;
    std::unordered_map<std::string, QString> m_folders;
    std::unordered_map<std::string, QString> m_extensions;

    friend std::optional<ScopeCache> ScopeCacheCodec::decode(const QByteArray &);
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
    CacheReader reader;
    const char *begin = json.constData();
    const bool ok = nlohmann::json::sax_parse(begin, begin + json.size(), &reader,
                                              nlohmann::json::input_format_t::json, true);
    if (!ok || reader.m_level != CacheReader::Level::done)
        return std::nullopt;
    return std::move(reader.result);
}

ScopeCache load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return decode(bytes).value_or(ScopeCache{});
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

// ---- the writer ----

ScopeCacheWriter::ScopeCacheWriter(QString path) : m_path(std::move(path)) {}

ScopeCacheWriter::~ScopeCacheWriter() { waitForIdle(); }

void ScopeCacheWriter::submit(const ScopeCache &snapshot)
{
    QMutexLocker lock(&m_mutex);
    m_pending = snapshot;
    if (m_running)
        return;
    m_running = true;
    QThreadPool::globalInstance()->start([this] { drain(); });
}

void ScopeCacheWriter::drain()
{
    for (;;) {
        ScopeCache snapshot;
        {
            QMutexLocker lock(&m_mutex);
            if (!m_pending) {
                m_running = false;
                m_idle.wakeAll();
                return;
            }
            snapshot = std::move(*m_pending);
            m_pending.reset();
        }
        // A failed write is silent: the cache in memory stays as it is.
        ScopeCacheCodec::save(snapshot, m_path);
        QMutexLocker lock(&m_mutex);
        ++m_writesDone;
    }
}

void ScopeCacheWriter::waitForIdle()
{
    QMutexLocker lock(&m_mutex);
    while (m_running)
        m_idle.wait(&m_mutex);
}

int ScopeCacheWriter::writesDone() const
{
    QMutexLocker lock(&m_mutex);
    return m_writesDone;
}
