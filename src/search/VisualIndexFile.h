#pragma once

// The file form of the visual index: one JSON object from video id to its record. It grows
// with the library (a million keyframes is about a gigabyte of text), so it is written in
// chunks and read from a memory map, never held as one document.

#include "library/OnDeviceSearchTypes.h"

#include <QByteArray>
#include <QString>

namespace VisualIndexFile {

struct LoadResult {
    VisualIndexMap entries;
    // Records that could not be decoded and were left out.
    int skippedEntries = 0;
    // The text is not one complete JSON object (cut short, not JSON at all, unreadable):
    // only the records before the fault were read.
    bool damaged = false;
    // Something the file held did not make it into `entries`; a save would lose it.
    bool lostAnything() const { return damaged || skippedEntries > 0; }
};

// The JSON text of `index`.
QByteArray encode(const VisualIndexMap &index);
// Decodes record by record: a record with a missing or mistyped member is skipped and
// counted, the others load. A malformed "frameMoments" gives that record no moments.
LoadResult decode(const char *begin, const char *end);
inline LoadResult decode(const QByteArray &json) { return decode(json.constData(), json.constData() + json.size()); }
// Reads the file (mapped); a missing or empty file gives an empty, undamaged result, one
// that cannot be opened a damaged one.
LoadResult load(const QString &path);
// Encodes and replaces the file atomically; false on any failure.
bool save(const VisualIndexMap &index, const QString &path);

} // namespace VisualIndexFile
