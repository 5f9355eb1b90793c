#include "VisualIndexFile.h"

#include "library/JsonStream.h"
#include "library/RecordFile.h"

#include <array>
#include <charconv>
#include <climits>
#include <cstring>

namespace {

// ---- Base64 ----

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendBase64(QByteArray &out, const qint8 *bytes, qsizetype n)
{
    const qsizetype start = out.size();
    out.resize(start + (n + 2) / 3 * 4);
    char *o = out.data() + start;
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    qsizetype i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (i < n) {
        uint32_t v = uint32_t(in[i]) << 16;
        if (i + 1 < n)
            v |= uint32_t(in[i + 1]) << 8;
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
}

constexpr std::array<uint8_t, 256> makeDecodeTable()
{
    std::array<uint8_t, 256> t{};
    for (auto &x : t)
        x = 0xFF;
    for (int i = 0; i < 64; ++i)
        t[uint8_t(kAlphabet[i])] = uint8_t(i);
    return t;
}
constexpr auto kDecode = makeDecodeTable();

// ---- writing ----

void writeEmbedding(JsonStream::Writer &out, QByteArray &buffer, const QuantizedEmbedding &e)
{
    out.raw("{\"scale\":");
    out.number(e.scale);
    out.raw(",\"data\":\"");
    appendBase64(buffer, e.data.constData(), e.data.size());
    out.raw("\"}");
}

void writeEntry(JsonStream::Writer &out, QByteArray &buffer, const VideoVisualIndexEntry &v)
{
    out.raw("{\"videoID\":");
    out.string(v.videoID);
    out.raw(",\"fileSize\":");
    out.number(qint64(v.fileSize));
    out.raw(",\"modifiedTimestamp\":");
    out.number(v.modifiedTimestamp);
    out.raw(",\"clipEmbeddings\":[");
    for (qsizetype i = 0; i < v.clipEmbeddings.size(); ++i) {
        if (i)
            out.raw(',');
        writeEmbedding(out, buffer, v.clipEmbeddings[i]);
    }
    out.raw("],\"frameMoments\":[");
    for (qsizetype i = 0; i < v.frameMoments.size(); ++i) {
        const IndexedFrameMoment &m = v.frameMoments[i];
        if (i)
            out.raw(',');
        out.raw("{\"timestamp\":");
        out.number(m.timestamp);
        if (m.clipEmbedding) {
            out.raw(",\"clipEmbedding\":");
            writeEmbedding(out, buffer, *m.clipEmbedding);
        }
        out.raw(",\"ocrText\":");
        out.string(m.ocrText);
        out.raw('}');
    }
    out.raw("],\"labelsEN\":{");
    bool first = true;
    for (auto it = v.labelsEN.cbegin(); it != v.labelsEN.cend(); ++it) {
        if (!first)
            out.raw(',');
        first = false;
        out.string(it.key());
        out.raw(':');
        out.number(it.value());
    }
    out.raw("},\"displayTagsTR\":[");
    for (qsizetype i = 0; i < v.displayTagsTR.size(); ++i) {
        if (i)
            out.raw(',');
        out.string(v.displayTagsTR[i]);
    }
    out.raw("],\"captionTR\":");
    out.string(v.captionTR);
    out.raw(",\"ocrText\":");
    out.string(v.ocrText);
    out.raw(",\"detectedFaces\":");
    out.number(qint64(v.detectedFaces));
    out.raw(",\"engineUsed\":");
    out.string(v.engineUsed);
    out.raw('}');
}

bool writeIndex(RecordFile::ChunkedWriter &out, const VisualIndexMap &index)
{
    return RecordFile::writeObject(out, index, [](RecordFile::ChunkedWriter &out, const VideoVisualIndexEntry &v) {
        writeEntry(out, out.buffer(), v);
    });
}

// ---- reading ----

class IndexReader : public JsonStream::Cursor
{
public:
    using Cursor::Cursor;

    VisualIndexFile::LoadResult read()
    {
        VisualIndexFile::LoadResult result;
        const RecordFile::ReadStats stats =
            RecordFile::readFiledByID(*this, result.entries, [&](VideoVisualIndexEntry &e) { return readEntry(e); });
        result.skippedEntries = stats.skippedRecords;
        result.damaged = stats.damaged;
        return result;
    }

private:
    bool base64(QList<qint8> &out)
    {
        ws();
        if (p >= e || *p != '"')
            return false;
        ++p;
        // Base64 text has no escapes: find its end, then decode four characters at a time.
        const char *start = p;
        const void *quote = std::memchr(p, '"', size_t(e - p));
        if (!quote)
            return false;
        const char *end = static_cast<const char *>(quote);
        p = end + 1;
        qsizetype n = end - start;
        qsizetype pad = 0;
        while (n > 0 && start[n - 1] == '=' && pad < 2) {
            --n;
            ++pad;
        }
        if ((n + pad) % 4 != 0 && pad != 0)
            return false;
        if (n % 4 == 1)
            return false;
        out.resize(n / 4 * 3 + (n % 4 ? n % 4 - 1 : 0));
        auto *o = reinterpret_cast<unsigned char *>(out.data());
        const auto *in = reinterpret_cast<const unsigned char *>(start);
        qsizetype i = 0;
        for (; i + 4 <= n; i += 4) {
            const uint32_t a = kDecode[in[i]], b = kDecode[in[i + 1]], c = kDecode[in[i + 2]], d = kDecode[in[i + 3]];
            if ((a | b | c | d) & 0x80)
                return false;
            const uint32_t v = a << 18 | b << 12 | c << 6 | d;
            *o++ = uint8_t(v >> 16);
            *o++ = uint8_t(v >> 8);
            *o++ = uint8_t(v);
        }
        const qsizetype rest = n - i;
        if (rest >= 2) {
            const uint32_t a = kDecode[in[i]], b = kDecode[in[i + 1]];
            const uint32_t c = rest == 3 ? kDecode[in[i + 2]] : 0;
            if ((a | b | c) & 0x80)
                return false;
            const uint32_t v = a << 18 | b << 12 | c << 6;
            *o++ = uint8_t(v >> 16);
            if (rest == 3)
                *o++ = uint8_t(v >> 8);
        }
        return true;
    }

    // A number in [0, 1]: an embedding's step and a label's confidence are never outside it
    // (a unit vector's largest component is at most 1, so its step is at most 1/127). One
    // beyond would outweigh every other video in a search.
    bool unitNumber(float &out)
    {
        double d;
        if (!number(d) || !(d >= 0.0 && d <= 1.0))
            return false;
        out = float(d);
        return true;
    }

    bool readEmbedding(QuantizedEmbedding &q)
    {
        unsigned seen = 0;
        const bool ok = object([&](std::string_view key) {
            if (key == "scale") { seen |= 1; return unitNumber(q.scale); }
            if (key == "data") { seen |= 2; return base64(q.data); }
            return skipValue(3);
        });
        return ok && seen == 3 && !q.data.isEmpty();
    }

    bool readMoment(IndexedFrameMoment &m)
    {
        unsigned seen = 0;
        const bool ok = object([&](std::string_view key) {
            if (key == "timestamp") { seen |= 1; return number(m.timestamp); }
            if (key == "ocrText") { seen |= 2; return text(m.ocrText); }
            if (key == "clipEmbedding") {
                if (isNull()) {
                    m.clipEmbedding.reset();
                    return true;
                }
                QuantizedEmbedding q;
                if (!readEmbedding(q))
                    return false;
                m.clipEmbedding = std::move(q);
                return true;
            }
            return skipValue(4);
        });
        return ok && seen == 3;
    }

    bool stringList(QStringList &out)
    {
        out.clear();
        return array([&] {
            QString s;
            if (!text(s))
                return false;
            out.append(std::move(s));
            return true;
        });
    }

    bool readEntry(VideoVisualIndexEntry &v)
    {
        unsigned seen = 0;
        const bool ok = object([&](std::string_view key) {
            switch (key.size()) {
            case 7:
                if (key == "videoID") { seen |= 1; return text(v.videoID); }
                if (key == "ocrText") { seen |= 2; return text(v.ocrText); }
                break;
            case 8:
                if (key == "fileSize") {
                    seen |= 4;
                    qint64 size;
                    if (!integer(size))
                        return false;
                    v.fileSize = size;
                    return true;
                }
                if (key == "labelsEN") {
                    seen |= 8;
                    v.labelsEN.clear();
                    return object([&](std::string_view label) {
                        const QString name = QString::fromUtf8(label.data(), qsizetype(label.size()));
                        float confidence;
                        if (!unitNumber(confidence))
                            return false;
                        v.labelsEN.insert(name, confidence);
                        return true;
                    });
                }
                break;
            case 9:
                if (key == "captionTR") { seen |= 16; return text(v.captionTR); }
                break;
            case 10:
                if (key == "engineUsed") { seen |= 32; return text(v.engineUsed); }
                break;
            case 12:
                if (key == "frameMoments") {
                    // Optional, and a malformed list only costs the moments.
                    const char *start = p;
                    v.frameMoments.clear();
                    const bool read = array([&] {
                        IndexedFrameMoment m;
                        if (!readMoment(m))
                            return false;
                        v.frameMoments.append(std::move(m));
                        return true;
                    });
                    if (read)
                        return true;
                    v.frameMoments.clear();
                    p = start;
                    return skipValue(2);
                }
                break;
            case 13:
                if (key == "detectedFaces") {
                    seen |= 64;
                    qint64 faces;
                    if (!integer(faces) || faces < INT_MIN || faces > INT_MAX)
                        return false;
                    v.detectedFaces = int(faces);
                    return true;
                }
                if (key == "displayTagsTR") { seen |= 128; return stringList(v.displayTagsTR); }
                break;
            case 14:
                if (key == "clipEmbeddings") {
                    seen |= 256;
                    v.clipEmbeddings.clear();
                    return array([&] {
                        QuantizedEmbedding q;
                        if (!readEmbedding(q))
                            return false;
                        v.clipEmbeddings.append(std::move(q));
                        return true;
                    });
                }
                break;
            case 17:
                if (key == "modifiedTimestamp") { seen |= 512; return number(v.modifiedTimestamp); }
                break;
            }
            return skipValue(2);
        });
        if (!ok || seen != 0x3FF || !oneEmbeddingLength(v))
            return false;
        shareFrameEmbeddings(v);
        return true;
    }

    // One model made every embedding of a record: vectors of another length would never
    // score, yet the record would count as indexed and never be redone.
    static bool oneEmbeddingLength(const VideoVisualIndexEntry &v)
    {
        qsizetype length = -1;
        auto same = [&](const QuantizedEmbedding &q) {
            if (length < 0) length = q.data.size();
            return q.data.size() == length;
        };
        for (const QuantizedEmbedding &q : v.clipEmbeddings)
            if (!same(q)) return false;
        for (const IndexedFrameMoment &m : v.frameMoments)
            if (m.clipEmbedding && !same(*m.clipEmbedding)) return false;
        return true;
    }

    // A keyframe's moment carries the same embedding as the keyframe list: one copy of the
    // bytes serves both, halving the memory of a large index.
    static void shareFrameEmbeddings(VideoVisualIndexEntry &v)
    {
        qsizetype j = 0;
        for (IndexedFrameMoment &m : v.frameMoments) {
            if (!m.clipEmbedding || j >= v.clipEmbeddings.size())
                continue;
            const QuantizedEmbedding &k = v.clipEmbeddings[j];
            if (k.scale == m.clipEmbedding->scale && k.data.size() == m.clipEmbedding->data.size() &&
                std::memcmp(k.data.constData(), m.clipEmbedding->data.constData(), size_t(k.data.size())) == 0) {
                m.clipEmbedding = k;
                ++j;
            }
        }
    }
};

} // namespace

namespace VisualIndexFile {

QByteArray encode(const VisualIndexMap &index)
{
    return RecordFile::text([&](RecordFile::ChunkedWriter &out) { return writeIndex(out, index); });
}

LoadResult decode(const char *begin, const char *end) { return IndexReader(begin, end).read(); }

LoadResult load(const QString &path)
{
    LoadResult result;
    const RecordFile::Contents contents =
        RecordFile::read(path, [&](const char *begin, const char *end) { result = decode(begin, end); });
    if (contents == RecordFile::Contents::unreadable)
        result.damaged = true;
    return result;
}

bool save(const VisualIndexMap &index, const QString &path)
{
    return RecordFile::save(path, [&](RecordFile::ChunkedWriter &out) { return writeIndex(out, index); });
}

} // namespace VisualIndexFile
