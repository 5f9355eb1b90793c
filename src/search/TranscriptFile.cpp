#include "TranscriptFile.h"

#include "library/JsonStream.h"
#include "library/RecordFile.h"

#include <cmath>

namespace TranscriptFile {

namespace {

void writeEntry(JsonStream::Writer &out, const VideoTranscriptEntry &e)
{
    out.member("{\"videoID\":", e.videoID);
    out.member(",\"fileSize\":", e.fileSize);
    out.member(",\"modifiedTimestamp\":", e.modifiedTimestamp);
    out.member(",\"localeIdentifier\":", e.localeIdentifier);
    out.member(",\"fullText\":", e.fullText);
    out.raw(",\"segments\":[");
    for (qsizetype i = 0; i < e.segments.size(); ++i) {
        if (i) out.raw(',');
        out.member("{\"start\":", e.segments[i].start);
        out.member(",\"text\":", e.segments[i].text);
        out.raw('}');
    }
    out.raw("]}");
}

bool writeEntries(RecordFile::ChunkedWriter &out, const TranscriptMap &entries)
{
    return RecordFile::writeObject(out, entries, writeEntry);
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
        const RecordFile::ReadStats stats =
            RecordFile::readFiledByID(*this, result.entries, [&](VideoTranscriptEntry &e) { return readEntry(e); });
        result.skippedEntries = stats.skippedRecords;
        result.damaged = stats.damaged;
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
    return RecordFile::text([&](RecordFile::ChunkedWriter &out) { return writeEntries(out, entries); });
}

Decoded decode(const QByteArray &json) { return Reader(json.constData(), json.constData() + json.size()).read(); }

Decoded load(const QString &path)
{
    Decoded result;
    const RecordFile::Contents contents = RecordFile::read(path, [&](const char *begin, const char *end) {
        result = Reader(begin, end).read();
    });
    if (contents == RecordFile::Contents::unreadable)
        result.damaged = true;
    return result;
}

bool save(const TranscriptMap &entries, const QString &path)
{
    return RecordFile::save(path, [&](RecordFile::ChunkedWriter &out) { return writeEntries(out, entries); });
}

} // namespace TranscriptFile
