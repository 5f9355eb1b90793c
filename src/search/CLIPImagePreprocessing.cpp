#include "search/CLIPImagePreprocessing.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstring>

namespace clipimage {

QSize scaledSize(QSize source)
{
    const int w = source.width(), h = source.height();
    if (w <= 0 || h <= 0) return {};
    if (w <= h) return {kSide, int(double(kSide) * h / w)};
    return {int(double(kSide) * w / h), kSide};
}

int cropOffset(int scaledLength)
{
    // (n - 256) / 2 is a whole number or a half; halves go to the even neighbour.
    const int twice = scaledLength - kSide;
    if (twice % 2 == 0) return twice / 2;
    const int down = (twice - 1) / 2;
    return down % 2 == 0 ? down : down + 1;
}

QByteArray preprocess(const QImage &image)
{
    if (image.isNull()) return {};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.width() == kSide && rgb.height() == kSide) {
        QByteArray out(kSide * kSide * 3, Qt::Uninitialized);
        for (int y = 0; y < kSide; ++y)
            memcpy(out.data() + y * kSide * 3, rgb.constScanLine(y), kSide * 3);
        return out;
    }
    const QSize size = scaledSize(rgb.size());
    if (size.isEmpty()) return {};
    SwsContext *sws = sws_getContext(rgb.width(), rgb.height(), AV_PIX_FMT_RGB24, size.width(), size.height(),
                                     AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                     nullptr, nullptr, nullptr);
    if (!sws) return {};
    const int stride = size.width() * 3;
    QByteArray scaled(qsizetype(stride) * size.height(), Qt::Uninitialized);
    const uint8_t *srcPlanes[1] = {rgb.constBits()};
    const int srcStrides[1] = {int(rgb.bytesPerLine())};
    uint8_t *dstPlanes[1] = {reinterpret_cast<uint8_t *>(scaled.data())};
    const int dstStrides[1] = {stride};
    const int rows = sws_scale(sws, srcPlanes, srcStrides, 0, rgb.height(), dstPlanes, dstStrides);
    sws_freeContext(sws);
    if (rows != size.height()) return {};

    const int left = cropOffset(size.width()), top = cropOffset(size.height());
    QByteArray out(kSide * kSide * 3, Qt::Uninitialized);
    for (int y = 0; y < kSide; ++y)
        memcpy(out.data() + y * kSide * 3, scaled.constData() + (top + y) * stride + left * 3, kSide * 3);
    return out;
}

} // namespace clipimage
