#pragma once

// Streaming JSON pieces for the stored files that grow with the library (a million entries
// is hundreds of megabytes of text): a writer that appends to a buffer the caller flushes
// in chunks, and a strict cursor that walks a mapped file once without building a document.
//
// The cursor is our own rather than a JSON library. bench/library reads a million-video
// scope cache (346 MB) with it and with simdjson's On-Demand API (Debian's libsimdjson-dev)
// into the same records. simdjson alone is not as strict as these files need: it refuses the
// escaped lone surrogates (\udc80..\udcff) that stand for the bytes of names that are not
// UTF-8, and it does not check the values it skips. With our unescaping and a check of every
// skipped value around it, it was no faster: 1.01 to 1.25 times the cursor's time on the file
// mapped with padding, 1.9 to 2.2 times with its own padded copy of the file, and 0.9 to 1.1
// times even on text already in memory.

#include "FileNames.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <array>
#include <charconv>
#include <type_traits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>

namespace JsonStream {

// Appends JSON text to a buffer. Strings that hold bytes which are not UTF-8 (as
// FileNames::decode keeps them) are written with the escapes of the lone surrogates that
// stand for those bytes, which the cursor turns back into the bytes.
class Writer
{
public:
    explicit Writer(QByteArray &buffer) : m_buf(buffer) {}

    QByteArray &buffer() { return m_buf; }
    void raw(char c) { m_buf.append(c); }
    void raw(const char *s) { m_buf.append(s); }

    void string(const QString &s)
    {
        if (ascii(s))
            return;
        if (FileNames::hasRawBytes(s)) {
            rawBytesString(s);
            return;
        }
        const QByteArray utf8 = s.toUtf8();
        string(utf8.constData(), utf8.size());
    }
    void string(const char *p, qsizetype n)
    {
        m_buf.append('"');
        escaped(p, n);
        m_buf.append('"');
    }
    void number(qint64 v)
    {
        char tmp[24];
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        m_buf.append(tmp, r.ptr - tmp);
    }
    void number(float v)
    {
        if (!std::isfinite(v))
            v = 0;
        char tmp[24];
        // Shortest text that reads back as the same float.
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

    // One member: `prefix` is its key as written with what comes before it (`,"name":`).
    template <class T>
    void member(const char *prefix, const T &value)
    {
        raw(prefix);
        if constexpr (std::is_same_v<T, QString>) string(value);
        else number(value);
    }

    // The file URL of `path` as QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) gives
    // it; an absolute path of characters a URL's path keeps as they are is written straight,
    // since the general parser costs more than the rest of a video's record.
    void fileUrl(const QString &path)
    {
        const qsizetype n = path.size();
        bool plain = n > 1 && path[0] == QLatin1Char('/') && path[1] != QLatin1Char('/');
        for (qsizetype i = 0; plain && i < n; ++i) {
            const char16_t c = path[i].unicode();
            plain = c < 0x80 && kKeptInUrlPath[c];
        }
        if (!plain) {
            string(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
            return;
        }
        raw("\"file://");
        const qsizetype at = m_buf.size();
        m_buf.resize(at + n);
        char *out = m_buf.data() + at;
        for (qsizetype i = 0; i < n; ++i)
            out[i] = char(path[i].unicode());
        raw('"');
    }

private:
    static constexpr std::array<bool, 128> kKeptInUrlPath = [] {
        std::array<bool, 128> kept{};
        for (char c = 'a'; c <= 'z'; ++c)
            kept[size_t(c)] = true;
        for (char c = 'A'; c <= 'Z'; ++c)
            kept[size_t(c)] = true;
        for (char c = '0'; c <= '9'; ++c)
            kept[size_t(c)] = true;
        for (char c : std::string_view("-._~/!$&'()*+,;=:@"))
            kept[size_t(c)] = true;
        return kept;
    }();

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

    // A string of ASCII characters (nearly every name and folder) is written straight from
    // its UTF-16, without a UTF-8 copy; false, with nothing written, for any other.
    bool ascii(const QString &s)
    {
        const qsizetype n = s.size();
        const char16_t *in = reinterpret_cast<const char16_t *>(s.constData());
        qsizetype escapes = 0;
        for (qsizetype i = 0; i < n; ++i) {
            if (in[i] >= 0x80)
                return false;
            escapes += in[i] < 0x20 || in[i] == '"' || in[i] == '\\';
        }
        if (escapes) {
            const QByteArray latin1 = s.toLatin1();
            string(latin1.constData(), latin1.size());
            return true;
        }
        const qsizetype at = m_buf.size();
        m_buf.resize(at + n + 2);
        char *out = m_buf.data() + at;
        *out++ = '"';
        for (qsizetype i = 0; i < n; ++i)
            out[i] = char(in[i]);
        out[n] = '"';
        return true;
    }

    QByteArray &m_buf;
};

// A strict reader: fails on the first malformed value. Strings without escapes are taken
// straight from the buffer.
class Cursor
{
public:
    Cursor(const char *begin, const char *end) : p(begin), e(end) {}

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
    // Names that are not UTF-8 come back as the bytes they were written from.
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

    const char *p;
    const char *e;
    std::string m_scratch;
};

} // namespace JsonStream
