#pragma once

// The file of stored transcripts: one JSON object from video id to entry. Read entry by
// entry, so that one damaged entry costs only itself, and written as a stream.

#include "library/OnDeviceSearchTypes.h"

#include <QByteArray>
#include <QString>

namespace TranscriptFile {

struct Decoded {
    TranscriptMap entries;
    int skippedEntries = 0; // entries with a missing or ill-typed member
    bool damaged = false;   // the text itself is not well-formed JSON (cut short, not JSON)
};

QByteArray encode(const TranscriptMap &entries);
Decoded decode(const QByteArray &json);

// Reads the file; one that cannot be opened reads as damaged. The caller keeps a file that
// held anything not read (RecordFile::DamagedFileKeeper), so that no save overwrites it.
Decoded load(const QString &path);
// Writes atomically; false on any failure (the old file is then untouched).
bool save(const TranscriptMap &entries, const QString &path);

} // namespace TranscriptFile
