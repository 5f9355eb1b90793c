#include "TranscriptFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "library/AtomicFileSave.h"
#include "library/JsonStream.h"

#include <cmath>

namespace TranscriptFile {

namespace {

void writeEntry(JsonStream::Writer &out, const VideoTranscriptEntry &e)
{
    out.raw("{\"videoID\":");
    out.string(e.videoID);
    out.raw(",\"fileSize\":");
    out.number(e.fileSize);
    out.raw(",\"modifiedTimestamp\":");
    out.number(e.modifiedTimestamp);
    out.raw(",\"localeIdentifier\":");
    out.string(e.localeIdentifier);
    out.raw(",\"fullText\":");
    out.string(e.fullText);
    out.raw(",\"segments\":[");
    for (qsizetype i = 0; i < e.segments.size(); ++i) {
        if (i) out.raw(',');
        out.raw("{\"start\":");
        out.number(e.segments[i].start);
        out.raw(",\"text\":");
        out.string(e.segments[i].text);
        out.raw('}');
    }
    out.raw("]}");
}

template <typename Flush> bool encodeTo(const TranscriptMap &entries, Flush &&flush)
{
    QByteArray buffer;
    buffer.reserve(1 << 16);
    JsonStream::Writer out(buffer);
    out.raw('{');
    bool first = true;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (!first) out.raw(',');
        first = false;
        out.string(it.key());
        out.raw(':');
        writeEntry(out, it.value());
        if (buffer.size() > (1 << 20)) {
            if (!flush(buffer)) return false;
            buffer.clear();
        }
    }
    out.raw('}');
    return flush(buffer);
}

// Reads the top-level object entry by entry: an entry whose members are missing or of the
// wrong type is skipped alone, as long as the text around it still parses.
class Reader : public JsonStream::Cursor
{
public:
    using Cursor::Cursor;

    Decoded read()
    {
        Decoded result;
        if (!expect('{')) {
            result.damaged = true;
            return result;
        }
        ws();
        if (peek('}')) {
            ++p;
        } else {
            for (;;) {
                QString key;
                if (!text(key) || !expect(':')) {
                    result.damaged = true;
                    return result;
                }
                ws();
                const char *valueStart = p;
                VideoTranscriptEntry entry;
                // Filed under its own id, or not at all.
                if (readEntry(entry) && entry.videoID == key) {
                    result.entries.insert(key, std::move(entry));
                } else {
                    p = valueStart;
                    if (!skipValue(1)) {
                        result.damaged = true;
                        return result;
                    }
                    ++result.skippedEntries;
                }
                if (expect(',')) continue;
                if (expect('}')) break;
                result.damaged = true;
                return result;
            }
        }
        ws();
        if (p != e) result.damaged = true;
        return result;
    }

private:
    bool finite(double &out) { return number(out) && std::isfinite(out); }

    bool readSegment(TranscriptSegment &s)
    {
        unsigned seen = 0;
        const bool ok = object([&](std::string_view key) {
            if (key == "start") { seen |= 1; return finite(s.start); }
            if (key == "text") { seen |= 2; return text(s.text); }
            return skipValue(4);
        });
        return ok && seen == 3;
    }

    bool readEntry(VideoTranscriptEntry &v)
    {
        unsigned seen = 0;
        const bool ok = object([&](std::string_view key) {
            if (key == "videoID") { seen |= 1; return text(v.videoID); }
            if (key == "fileSize") { seen |= 2; return integer(v.fileSize) && v.fileSize >= 0; }
            if (key == "modifiedTimestamp") { seen |= 4; return finite(v.modifiedTimestamp); }
            if (key == "localeIdentifier") { seen |= 8; return text(v.localeIdentifier); }
            if (key == "fullText") { seen |= 16; return text(v.fullText); }
            if (key == "segments") {
                seen |= 32;
                v.segments.clear();
                return array([&] {
                    TranscriptSegment s;
                    if (!readSegment(s)) return false;
                    v.segments.append(std::move(s));
                    return true;
                });
            }
            return skipValue(2);
        });
        return ok && seen == 63;
    }
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

Decoded decode(const QByteArray &json) { return Reader(json.constData(), json.constData() + json.size()).read(); }

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
    return result;
}

bool save(const TranscriptMap &entries, const QString &path)
{
    return AtomicFileSave::save(path, [&](const AtomicFileSave::Sink &sink) {
        return encodeTo(entries, [&](const QByteArray &chunk) { return sink(chunk.constData(), chunk.size()); });
    });
}

} // namespace TranscriptFile
