#pragma once

// The scope cache read with simdjson's On-Demand API into the same records as
// ScopeCacheCodec::decode, for bench_library's comparison with our cursor. Only built
// where libsimdjson-dev is installed.
//
// What the library does not do as the file needs it is done here by hand, so that both
// readers give the same records:
// - simdjson refuses the escaped lone surrogates (\udc80..\udcff) that stand for the bytes
//   of names that are not UTF-8, so every string is taken from its raw token: straight when
//   it has no escape (simdjson has checked the whole text's UTF-8 and control characters
//   before), through our cursor's unescaping when it has one;
// - a number written as a whole number with an exponent ("2e3") is a size, as for the
//   cursor;
// - values this reader skips (unknown members, the rest of a left-out entry) are not
//   checked by simdjson at all, so they are walked and checked here.

#include "library/JsonStream.h"
#include "library/Models.h"
#include "library/ScopeCache.h"

#include <simdjson.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace SimdjsonCache {

namespace od = simdjson::ondemand;

class Reader
{
public:
    std::optional<ScopeCache> read(simdjson::padded_string_view json)
    {
        m_end = json.data() + json.length();
        od::document doc;
        if (m_parser.iterate(json).get(doc))
            return std::nullopt;
        od::object top;
        if (doc.get_object().get(top))
            return std::nullopt;
        ScopeCache cache;
        for (auto member : top) {
            od::field field;
            if (std::move(member).get(field))
                return std::nullopt;
            // Scope keys may hold the bytes of names that are not UTF-8: the cursor reads them.
            QString key;
            m_cursor.p = field.key().raw() - 1;
            m_cursor.e = m_end;
            if (!m_cursor.text(key))
                return std::nullopt;
            CachedScopeScan record;
            const Result r = readRecord(field.value(), record);
            if (r == broken)
                return std::nullopt;
            if (r == ok)
                cache.insert(key, std::move(record));
        }
        // Anything after the object is damage, as for the cursor.
        if (doc.current_location().error() != simdjson::OUT_OF_BOUNDS)
            return std::nullopt;
        return cache;
    }

private:
    // `mistyped`: the value is not what the member needs and is not yet read; `leftOut`:
    // such a value, read and well-formed (its record or entry is left out); `broken`: the
    // text is not JSON (the whole file fails).
    enum Result { ok, mistyped, leftOut, broken };

    static Result of(simdjson::error_code e)
    {
        if (!e)
            return ok;
        return e == simdjson::INCORRECT_TYPE || e == simdjson::NO_SUCH_FIELD ? mistyped : broken;
    }

    // The string's UTF-8 between its quotes; `escaped` when it holds an escape, decoded
    // by the cursor into its scratch buffer.
    Result rawString(od::value v, std::string_view &out, bool &escaped)
    {
        od::json_type type;
        if (const Result r = of(v.type().get(type)); r != ok)
            return r;
        if (type != od::json_type::string)
            return mistyped;
        std::string_view token = v.raw_json_token();
        while (!token.empty() && (token.back() == ' ' || token.back() == '\n' || token.back() == '\r' || token.back() == '\t'))
            token.remove_suffix(1);
        if (token.size() < 2 || token.back() != '"')
            return broken;
        out = token.substr(1, token.size() - 2);
        escaped = std::memchr(out.data(), '\\', out.size()) != nullptr;
        if (!escaped)
            return ok;
        m_cursor.p = token.data();
        m_cursor.e = token.data() + token.size();
        bool unused;
        return m_cursor.rawString(out, unused) ? ok : broken;
    }
    Result text(od::value v, QString &out)
    {
        std::string_view s;
        bool escaped;
        const Result r = rawString(v, s, escaped);
        if (r == ok)
            out = escaped ? FileNames::decode(s) : QString::fromUtf8(s.data(), qsizetype(s.size()));
        return r;
    }
    Result sharedText(od::value v, std::unordered_map<std::string_view, QString> &table, QString &out)
    {
        std::string_view s;
        bool escaped;
        const Result r = rawString(v, s, escaped);
        if (r != ok)
            return r;
        if (escaped) {
            out = FileNames::decode(s);
            return ok;
        }
        auto it = table.find(s);
        if (it == table.end())
            it = table.emplace(s, QString::fromUtf8(s.data(), qsizetype(s.size()))).first;
        out = it->second;
        return ok;
    }
    // A member's key, unescaped like the cursor's keys (which simdjson's unescaped_key
    // would refuse for the escapes of raw bytes).
    // Opens the next member of an object and reads its key; false when the text is broken.
    template <typename Member>
    bool openMember(Member &&member, od::field &field, std::string_view &k)
    {
        return !std::move(member).get(field) && key(field, k) != broken;
    }

    Result key(od::field &field, std::string_view &out)
    {
        const char *start = reinterpret_cast<const char *>(field.key().raw());
        const char *q = start;
        while (q < m_end && *q != '"' && *q != '\\')
            ++q;
        if (q < m_end && *q == '"') {
            out = std::string_view(start, size_t(q - start));
            return ok;
        }
        m_cursor.p = start - 1;
        m_cursor.e = m_end;
        bool unused;
        if (!m_cursor.rawString(out, unused))
            return broken;
        m_keyCopy.assign(out);
        out = m_keyCopy;
        return ok;
    }
    Result number(od::value v, double &out)
    {
        return of(v.get_double().get(out));
    }
    Result integer(od::value v, qint64 &out)
    {
        int64_t i;
        const simdjson::error_code e = v.get_int64().get(i);
        if (!e) {
            out = i;
            return ok;
        }
        if (e != simdjson::INCORRECT_TYPE && e != simdjson::NUMBER_OUT_OF_RANGE)
            return of(e);
        double d;
        if (const Result r = number(v, d); r != ok)
            return r;
        if (d != std::floor(d) || !(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
            return leftOut;
        out = qint64(d);
        return ok;
    }

    // A value read for its form only, as strictly as the cursor skips one: simdjson itself
    // does not look inside the values it skips.
    Result skipChecked(od::value v, int depth)
    {
        if (depth > JsonStream::Cursor::kMaxDepth)
            return broken;
        od::json_type type;
        if (v.type().get(type))
            return broken;
        switch (type) {
        case od::json_type::object: {
            od::object object;
            if (v.get_object().get(object))
                return broken;
            for (auto member : object) {
                od::field field;
                std::string_view k;
                if (std::move(member).get(field) || key(field, k) != ok || skipChecked(field.value(), depth + 1) != ok)
                    return broken;
            }
            return ok;
        }
        case od::json_type::array: {
            od::array array;
            if (v.get_array().get(array))
                return broken;
            for (auto element : array) {
                od::value e;
                if (std::move(element).get(e) || skipChecked(e, depth + 1) != ok)
                    return broken;
            }
            return ok;
        }
        case od::json_type::string: {
            std::string_view s;
            bool escaped;
            return rawString(v, s, escaped) == ok ? ok : broken;
        }
        case od::json_type::number: {
            // Any magnitude passes, as for the cursor.
            std::string_view token = v.raw_json_token();
            m_cursor.p = token.data();
            m_cursor.e = token.data() + token.size();
            double ignored;
            if (!m_cursor.number(ignored, true))
                return broken;
            m_cursor.ws();
            return m_cursor.p == m_cursor.e ? ok : broken;
        }
        case od::json_type::boolean: {
            bool ignored;
            return v.get_bool().get(ignored) ? broken : ok;
        }
        case od::json_type::null: {
            bool null = false;
            return v.is_null().get(null) || !null ? broken : ok;
        }
        }
        return broken;
    }
    // A value that is not what its member needs is still checked for its form.
    Result checkMistyped(Result r, od::value v, int depth)
    {
        if (r != mistyped)
            return r;
        return skipChecked(v, depth) == ok ? leftOut : broken;
    }

    Result readRecord(od::value value, CachedScopeScan &record)
    {
        od::object object;
        if (const Result r = of(value.get_object().get(object)); r != ok)
            return checkMistyped(r, value, 1);
        unsigned seen = 0;
        Result status = ok;
        for (auto member : object) {
            od::field field;
            std::string_view k;
            if (!openMember(member, field, k))
                return broken;
            Result r = ok;
            if (k == "scopeKey") {
                seen |= 1;
                r = text(field.value(), record.scopeKey);
            } else if (k == "videos") {
                seen |= 2;
                record.videos.clear();
                r = readVideos(field.value(), record.videos);
            } else if (k == "deniedFolders") {
                seen |= 4;
                record.deniedFolders.clear();
                od::array folders;
                r = checkMistyped(of(field.value().get_array().get(folders)), field.value(), 1);
                if (r == ok) {
                    for (auto element : folders) {
                        od::value v;
                        QString name;
                        if (std::move(element).get(v))
                            return broken;
                        // After a mistyped name the rest is only checked.
                        const Result e = r == ok ? checkMistyped(text(v, name), v, 2) : skipChecked(v, 2);
                        if (e == broken)
                            return broken;
                        if (e == leftOut)
                            r = leftOut;
                        else if (r == ok)
                            record.deniedFolders.append(name);
                    }
                }
            } else if (k == "scannedAt") {
                seen |= 8;
                double seconds;
                if ((r = number(field.value(), seconds)) == ok)
                    record.scannedAt = fromReferenceSeconds(seconds);
            } else {
                r = skipChecked(field.value(), 1);
            }
            r = checkMistyped(r, field.value(), 1);
            if (r == broken)
                return broken;
            if (r == leftOut)
                status = leftOut; // the rest is still checked: damage there fails the file
        }
        return status == ok && seen != 0xF ? leftOut : status;
    }

    Result readVideos(od::value value, QList<VideoFile> &videos)
    {
        od::array array;
        if (const Result r = of(value.get_array().get(array)); r != ok)
            return checkMistyped(r, value, 1);
        for (auto element : array) {
            od::value v;
            if (std::move(element).get(v))
                return broken;
            VideoFile video;
            bool urlNamesID = false;
            const Result r = readVideo(v, video, urlNamesID);
            if (r == broken)
                return broken;
            // One mistyped entry costs only itself.
            if (r == ok && ScopeCacheCodec::isConsistentEntry(video, urlNamesID))
                videos.append(std::move(video));
        }
        return ok;
    }

    Result readVideo(od::value value, VideoFile &v, bool &urlNamesID)
    {
        od::object object;
        if (const Result r = of(value.get_object().get(object)); r != ok)
            return checkMistyped(r, value, 2);
        unsigned seen = 0;
        std::string_view url;
        std::string urlCopy;
        Result status = ok;
        for (auto member : object) {
            od::field field;
            std::string_view k;
            if (!openMember(member, field, k))
                return broken;
            Result r = ok;
            double seconds;
            if (status != ok) {
                // The entry is already left out; the rest is only checked.
                r = skipChecked(field.value(), 2);
            } else if (k == "id") {
                seen |= 1;
                r = text(field.value(), v.id);
            } else if (k == "url") {
                seen |= 2;
                bool escaped;
                r = rawString(field.value(), url, escaped);
                if (r == ok && escaped) {
                    urlCopy.assign(url);
                    url = urlCopy;
                }
            } else if (k == "name") {
                seen |= 4;
                r = text(field.value(), v.name);
            } else if (k == "fileExtension") {
                seen |= 8;
                r = sharedText(field.value(), m_extensions, v.fileExtension);
            } else if (k == "directoryPath") {
                seen |= 16;
                r = sharedText(field.value(), m_folders, v.directoryPath);
            } else if (k == "fileSize") {
                seen |= 32;
                r = integer(field.value(), v.fileSize);
            } else if (k == "modifiedDate") {
                seen |= 64;
                if ((r = number(field.value(), seconds)) == ok)
                    v.modifiedDate = fromReferenceSeconds(seconds);
            } else if (k == "createdDate") {
                bool null = false;
                if (field.value().is_null().get(null) == simdjson::SUCCESS && null) {
                    v.createdDate.reset();
                } else if ((r = number(field.value(), seconds)) == ok) {
                    v.createdDate = fromReferenceSeconds(seconds);
                }
            } else {
                r = skipChecked(field.value(), 2);
            }
            r = checkMistyped(r, field.value(), 2);
            if (r == broken)
                return broken;
            if (r == leftOut)
                status = leftOut;
        }
        if (status != ok)
            return status;
        if (seen != 0x7F)
            return leftOut;
        urlNamesID = ScopeCacheCodec::storedURLNamesID(v.id, url);
        return ok;
    }

    od::parser m_parser;
    const char *m_end = nullptr;
    JsonStream::Cursor m_cursor{nullptr, nullptr};
    std::string m_keyCopy;
    std::unordered_map<std::string_view, QString> m_folders;
    std::unordered_map<std::string_view, QString> m_extensions;
};

} // namespace SimdjsonCache
