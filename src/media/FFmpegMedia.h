#pragma once

#include "library/Models.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

struct AVStream;

// Reading video files with the FFmpeg libraries in this process.
namespace lkmedia {

// Facts of a file. No value when the libraries cannot read the file at all. A file the
// platform player plays (native extension, a video stream, a codec it decodes) gets the full
// record with the display rotation applied and `isPlayableNatively` set; any other readable
// file gets what `ffprobe` with the fallback's arguments would report.
std::optional<VideoMediaInfo> probeFile(const QString &path, bool nativeExtension);

// Clockwise quarter turns (0..3) that put a stream's stored picture upright, from its
// display matrix.
int quarterTurns(const AVStream *st);

// Converts a picture in an FFmpeg pixel format to RGB32 at the given size, on the CPU.
// Null when the format or the sizes cannot be converted.
QImage scaledToImage(int avPixelFormat, int width, int height, const uint8_t *const planes[], const int strides[],
                     int outWidth, int outHeight);

// The codecs the platform player decodes here.
bool isNativelyDecodedCodec(int avCodecId);

// A frame near `seconds`, rotated for display and scaled down (never up) to fit
// maxWidth x maxHeight; a bound of 0 or less leaves that side free. Null on failure or
// when `stop` turns true. Not exact: the key frame at or before `seconds` (quick, for
// previews); exact: the frame shown at `seconds`. `shownAt`, when given, receives the time
// at which the decoded frame is shown (seconds from the stream's start), which for a quick
// frame can lie up to one group of pictures before `seconds`.
QImage decodeFrame(const QString &path, double seconds, int maxWidth, int maxHeight,
                   const std::function<bool()> &stop = {}, bool exact = false, double *shownAt = nullptr);

} // namespace lkmedia
