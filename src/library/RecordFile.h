#pragma once

// The stored files that grow with the library (the scope cache, the visual index, the
// transcripts) are one JSON object from a key to a record. This is how each of them is
// read and written:
// - read from a memory map, record by record: a record its reader cannot use costs only
//   itself and is counted, as long as the text around it still parses; text that is not
//   JSON ends the read, and marks it damaged, with the records before the fault kept;
// - a file that held anything its reader left out is kept aside under a dated name before
//   a save replaces it;
// - written in chunks, the records in key order, and put in place whole or not at all
//   (AtomicFileSave).

#include "AtomicFileSave.h"
#include "JsonStream.h"

#include <QDateTime>
#include <QMutex>
#include <QString>

#include <algorithm>
#include <atomic>
#include <functional>
#include <vector>

namespace RecordFile {

struct ReadStats {
    // Records that could not be used and were left out.
    int skippedRecords = 0;
    // The text is not one complete JSON object (cut short, not JSON at all, unreadable):
    // only the records before the fault were read.
    bool damaged = false;
    // Something the file held was not read; a save would lose it.
    bool lostAnything() const { return damaged || skippedRecords > 0; }
};

// Walks the top-level object at `in`. `readRecord(key)` reads the value after the key and
// says whether the record is usable; when it is not, the cursor is set back and the value
// skipped and counted.
template <typename ReadRecord> ReadStats readObject(JsonStream::Cursor &in, ReadRecord &&readRecord)
{
    ReadStats stats;
    if (!in.expect('{')) {
        stats.damaged = true;
        return stats;
    }
    in.ws();
    if (in.peek('}')) {
        ++in.p;
    } else {
        for (;;) {
            QString key;
            if (!in.text(key) || !in.expect(':')) {
                stats.damaged = true;
                return stats;
            }
            in.ws();
            const char *valueStart = in.p;
            if (!readRecord(key)) {
                in.p = valueStart;
                if (!in.skipValue(1)) {
                    stats.damaged = true;
                    return stats;
                }
                ++stats.skippedRecords;
            }
            if (in.expect(','))
                continue;
            if (in.expect('}'))
                break;
            stats.damaged = true;
            return stats;
        }
    }
    in.ws();
    if (in.p != in.e)
        stats.damaged = true;
    return stats;
}

// Reads records that are filed under their own video id into `into`: a record whose
// `videoID` is not its key is left out like any other unusable one.
template <typename Map, typename ReadEntry>
ReadStats readFiledByID(JsonStream::Cursor &in, Map &into, ReadEntry &&readEntry)
{
    return readObject(in, [&](const QString &key) {
        typename Map::mapped_type entry;
        if (!readEntry(entry) || entry.videoID != key)
            return false;
        into.insert(key, std::move(entry));
        return true;
    });
}

enum class Contents {
    none,       // no file, or an empty one
    unreadable, // there, but it cannot be read whole
    read,       // handed to the reader
};
// Hands the file's bytes to `read`, mapped rather than copied where the file system allows.
Contents read(const QString &path, const std::function<void(const char *begin, const char *end)> &read);

// Renames the file to "<base>.damaged-<yyyyMMdd-HHmmss>.<suffix>" beside it (a free name),
// so that it is kept when a save replaces it. The new path, or empty on failure.
QString moveAside(const QString &path, const QDateTime &when);

// Keeps a stored file that held something its reader left out: it is moved aside just
// before the first save replaces it, not when it is read, so a run that never saves leaves
// it where the next start reads it. While it cannot be moved, it is not replaced either.
class DamagedFileKeeper
{
public:
    // Set once the file is read: whether it held anything not read.
    void setLostAnything(bool lost) { m_pending = lost; }
    // Called before each save, on the saving thread; false when the save must not happen.
    bool beforeSave(const QString &path);
    // Where the file was moved, empty when it was not.
    QString movedAsidePath() const;

private:
    std::atomic<bool> m_pending{false};
    mutable QMutex m_mutex;
    QString m_movedAsidePath;
};

namespace detail {
struct Buffer {
    QByteArray chunk;
};
} // namespace detail

// A JSON writer whose text goes out in chunks of about a mebibyte.
class ChunkedWriter : private detail::Buffer, public JsonStream::Writer
{
public:
    explicit ChunkedWriter(AtomicFileSave::Sink sink);
    // Hands the text so far to the sink once a chunk is full; false once any hand-over
    // failed (nothing more needs writing then).
    bool flushIfFull();
    // Hands over the rest; false when this or any earlier hand-over failed.
    bool finish();

private:
    bool flush();
    AtomicFileSave::Sink m_sink;
    bool m_ok = true;
};

// Writes `records` as the top-level object, in key order, through `out`;
// `writeRecord(out, record)` writes one value and may flush inside a large one.
template <typename Map, typename WriteRecord> bool writeObject(ChunkedWriter &out, const Map &records, WriteRecord &&writeRecord)
{
    std::vector<typename Map::const_iterator> ordered;
    ordered.reserve(size_t(records.size()));
    for (auto it = records.cbegin(); it != records.cend(); ++it)
        ordered.push_back(it);
    std::sort(ordered.begin(), ordered.end(), [](const auto &a, const auto &b) { return a.key() < b.key(); });
    out.raw('{');
    bool first = true;
    for (const auto &it : ordered) {
        if (!first)
            out.raw(',');
        first = false;
        out.string(it.key());
        out.raw(':');
        writeRecord(out, it.value());
        if (!out.flushIfFull())
            return false;
    }
    out.raw('}');
    return out.finish();
}

// The whole text `writeRecords` makes, for tests and seeds.
QByteArray text(const std::function<bool(ChunkedWriter &)> &write);
// Replaces the file with what `write` makes; false on any failure (the old file then stays).
bool save(const QString &path, const std::function<bool(ChunkedWriter &)> &write);

} // namespace RecordFile
