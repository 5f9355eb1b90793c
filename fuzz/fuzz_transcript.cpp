// The transcripts file.
#include "search/TranscriptFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const TranscriptFile::Decoded decoded = TranscriptFile::decode(bytes);
    const TranscriptFile::Decoded again = TranscriptFile::decode(TranscriptFile::encode(decoded.entries));
    if (again.damaged || again.skippedEntries != 0 || again.entries.size() != decoded.entries.size()) std::abort();
    return 0;
}
