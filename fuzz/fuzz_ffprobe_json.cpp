// ffprobe's JSON output, as a damaged or hostile file could make it.
#include "media/ExternalTools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)lkmedia::parseFFprobeOutput(bytes);
    return 0;
}
