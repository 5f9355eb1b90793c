#pragma once

// The image towers' input: the shorter side scaled to 256 (bilinear with accurate rounding,
// which stays within one level of an antialiased bilinear resize), the centre 256 x 256 cut
// out, RGB bytes.

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace clipimage {

constexpr int kSide = 256;

// Scaled size: the shorter side 256, the longer int(256 * long / short).
QSize scaledSize(QSize source);
// Offset of the centre crop along one axis: (size - 256) / 2, halves rounded to even.
int cropOffset(int scaledLength);

// 256 x 256 x 3 bytes, row-major RGB; empty when the image is null or cannot be scaled.
QByteArray preprocess(const QImage &image);

} // namespace clipimage
