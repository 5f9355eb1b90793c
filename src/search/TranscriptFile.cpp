#include "TranscriptFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>

namespace TranscriptFile {

namespace {

void appendString(QByteArray &out, const QString &s)
{
    out += '"';
    const QByteArray utf8 = s.toUtf8();
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", u);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendNumber(QByteArray &out, double v)
{
    if (!std::isfinite(v)) v = 0;
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

void appendEntry(QByteArray &out, const VideoTranscriptEntry &e)
{
    out += "{\"videoID\":";
    appendString(out, e.videoID);
    out += ",\"fileSize\":";
    out += QByteArray::number(e.fileSize);
    out += ",\"modifiedTimestamp\":";
    appendNumber(out, e.modifiedTimestamp);
    out += ",\"localeIdentifier\":";
    appendString(out, e.localeIdentifier);
    out += ",\"fullText\":";
    appendString(out, e.fullText);
    out += ",\"segments\":[";
    for (qsizetype i = 0; i < e.segments.size(); ++i) {
        if (i) out += ',';
        out += "{\"start\":";
        appendNumber(out, e.segments[i].start);
        out += ",\"text\":";
        appendString(out, e.segments[i].text);
        out += '}';
    }
    out += "]}";
}

template <typename Flush> bool encodeTo(const TranscriptMap &entries, Flush &&flush)
{
    QByteArray out;
    out.reserve(1 << 16);
    out += '{';
    bool first = true;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (!first) out += ',';
        first = false;
        appendString(out, it.key());
        out += ':';
        appendEntry(out, it.value());
        if (out.size() > (1 << 20)) {
            if (!flush(out)) return false;
            out.clear();
        }
    }
    out += '}';
    return flush(out);
}

// Reads the top-level object member by member; an entry whose members are missing or of
// the wrong type is dropped alone.
class Reader : public nlohmann::json_sax<nlohmann::json>
{
public:
    explicit Reader(Decoded &result) : m_result(result) {}

    bool null() override { return scalar(Value::null); }
    bool boolean(bool) override { return scalar(Value::other); }
    bool number_integer(number_integer_t v) override { return number(double(v), true, v); }
    bool number_unsigned(number_unsigned_t v) override
    {
        return number(double(v), v <= number_unsigned_t(std::numeric_limits<qint64>::max()), qint64(v));
    }
    bool number_float(number_float_t v, const string_t &) override { return number(v, false, 0); }
    bool string(string_t &s) override
    {
        m_string = QString::fromUtf8(s.data(), qsizetype(s.size()));
        return scalar(Value::string);
    }
    bool binary(binary_t &) override { return scalar(Value::other); }

    bool start_object(std::size_t) override
    {
        ++m_depth;
        if (m_depth == 1) return true;
        if (m_depth == 2) {
            m_entry = {};
            m_entryOK = true;
            m_seen = 0;
            return true;
        }
        if (m_depth == 4 && m_inSegments) {
            m_segment = {};
            m_segmentSeen = 0;
            return true;
        }
        // An object anywhere else is the wrong type for its member.
        if (m_depth >= 3) m_entryOK = false;
        return true;
    }
    bool end_object() override
    {
        if (m_depth == 4 && m_inSegments) {
            if (m_segmentSeen != 3) m_entryOK = false;
            m_entry.segments.append(m_segment);
        } else if (m_depth == 2) {
            finishEntry();
        }
        --m_depth;
        return true;
    }
    bool start_array(std::size_t) override
    {
        ++m_depth;
        if (m_depth == 1) {
            m_result.damaged = true; // not an object at all
            return false;
        }
        if (m_depth == 3 && m_key == "segments") {
            m_inSegments = true;
            m_seen |= Segments;
            return true;
        }
        if (m_depth == 2) m_result.skippedEntries++; // an entry that is an array
        else m_entryOK = false;
        return true;
    }
    bool end_array() override
    {
        if (m_depth == 3) m_inSegments = false;
        --m_depth;
        return true;
    }
    bool key(string_t &k) override
    {
        const QString key = QString::fromUtf8(k.data(), qsizetype(k.size()));
        if (m_depth == 1) m_memberKey = key;
        else if (m_depth == 2) m_key = key;
        else if (m_depth == 4) m_segmentKey = key;
        return true;
    }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override
    {
        m_result.damaged = true;
        return false;
    }

private:
    enum class Value { null, string, other };
    enum Seen { VideoID = 1, FileSize = 2, Modified = 4, Locale = 8, FullText = 16, Segments = 32, All = 63 };

    bool number(double v, bool isWhole, qint64 whole)
    {
        m_number = v;
        m_numberIsWhole = isWhole;
        m_whole = whole;
        return scalar(Value::other, true);
    }

    bool scalar(Value kind, bool isNumber = false)
    {
        if (m_depth == 1) {
            m_result.skippedEntries++; // an entry that is not an object
            return true;
        }
        if (m_depth == 2) {
            if (m_key == "videoID") {
                if (kind != Value::string) m_entryOK = false;
                m_entry.videoID = m_string;
                m_seen |= VideoID;
            } else if (m_key == "fileSize") {
                if (!isNumber || !m_numberIsWhole || m_whole < 0) m_entryOK = false;
                m_entry.fileSize = m_whole;
                m_seen |= FileSize;
            } else if (m_key == "modifiedTimestamp") {
                if (!isNumber || !std::isfinite(m_number)) m_entryOK = false;
                m_entry.modifiedTimestamp = m_number;
                m_seen |= Modified;
            } else if (m_key == "localeIdentifier") {
                if (kind != Value::string) m_entryOK = false;
                m_entry.localeIdentifier = m_string;
                m_seen |= Locale;
            } else if (m_key == "fullText") {
                if (kind != Value::string) m_entryOK = false;
                m_entry.fullText = m_string;
                m_seen |= FullText;
            } else if (m_key == "segments") {
                m_entryOK = false; // must be an array
            }
            return true;
        }
        if (m_depth == 4 && m_inSegments) {
            if (m_segmentKey == "start") {
                if (!isNumber || !std::isfinite(m_number)) m_entryOK = false;
                m_segment.start = m_number;
                m_segmentSeen |= 1;
            } else if (m_segmentKey == "text") {
                if (kind != Value::string) m_entryOK = false;
                m_segment.text = m_string;
                m_segmentSeen |= 2;
            }
            return true;
        }
        // A scalar inside the segments array, or deeper: the wrong shape.
        m_entryOK = false;
        return true;
    }

    void finishEntry()
    {
        // Every member is needed, and the entry must be filed under its own id.
        if (m_entryOK && m_seen == All && m_entry.videoID == m_memberKey)
            m_result.entries.insert(m_memberKey, m_entry);
        else
            m_result.skippedEntries++;
    }

    Decoded &m_result;
    int m_depth = 0;
    QString m_memberKey, m_key, m_segmentKey, m_string;
    double m_number = 0;
    bool m_numberIsWhole = false;
    qint64 m_whole = 0;
    VideoTranscriptEntry m_entry;
    TranscriptSegment m_segment;
    bool m_entryOK = true;
    bool m_inSegments = false;
    int m_seen = 0;
    int m_segmentSeen = 0;
};

} // namespace

QByteArray encode(const TranscriptMap &entries)
{
    QByteArray all;
    encodeTo(entries, [&](const QByteArray &chunk) {
        all += chunk;
        return true;
    });
    return all;
}

Decoded decode(const QByteArray &json)
{
    Decoded result;
    Reader reader(result);
    const bool ok = nlohmann::json::sax_parse(json.constBegin(), json.constEnd(), &reader);
    if (!ok) result.damaged = true;
    return result;
}

Decoded load(const QString &path)
{
    QFile file(path);
    if (!file.exists()) return {};
    if (!file.open(QIODevice::ReadOnly)) {
        Decoded unreadable;
        unreadable.damaged = true;
        return unreadable;
    }
    // Mapped, not copied: the file grows with the library.
    Decoded result;
    if (file.size() > 0) {
        const uchar *data = file.map(0, file.size());
        result = data ? decode(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(file.size())))
                      : decode(file.readAll());
    }
    file.close();
    if (result.damaged) {
        const QFileInfo info(path);
        const QString aside = info.dir().filePath(info.completeBaseName() + ".unreadable-" +
                                                  QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + "." +
                                                  info.suffix());
        QFile::rename(path, aside);
    }
    return result;
}

bool save(const TranscriptMap &entries, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const bool written = encodeTo(entries, [&](const QByteArray &chunk) { return file.write(chunk) == chunk.size(); });
    if (!written) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace TranscriptFile
