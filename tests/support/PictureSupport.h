#pragma once

// Pictures for orientation checks: clips whose picture tells up from down and left from
// right, a rotation written into an MP4's track header, ffmpeg's own decoded frame as the
// truth, and a loose comparison that survives scaling and compression.

#include <QImage>
#include <QString>
#include <QStringList>

namespace lktest {

// Colour bars with a white label in the top-left corner; `videoArgs` are the encoder options.
bool makeMarkedClip(const QString &path, double seconds, int width, int height, const QStringList &videoArgs = {});

// Writes a display matrix into the video track's header of an MP4/MOV file so that players
// show the picture turned clockwise by `clockwiseDegrees` (90, 180 or 270), as phones do.
bool setTrackRotation(const QString &path, int clockwiseDegrees);

// The frame ffmpeg shows at `seconds`, turned upright as the ffmpeg program does; null on failure.
QImage ffmpegFrame(const QString &path, double seconds);

// The picture without the black bars a view letterboxes it in.
QImage withoutBlackBorders(const QImage &image);

// Correlation (-1...1) of the two pictures' brightness, both brought to one small size.
// The same picture scores near 1, an upside-down or mirrored one far lower.
double pictureCorrelation(const QImage &a, const QImage &b);

// Width over height; 0 for a null picture.
double aspectOf(const QImage &image);

} // namespace lktest
