#pragma once

#include <QImage>
#include <QString>

namespace lkmedia {

// The freedesktop thumbnail cache folder ($XDG_CACHE_HOME/thumbnails).
QString defaultThumbnailCacheRoot();

// A thumbnail another program already stored for the file, accepted only when its
// Thumb::URI and Thumb::MTime match the file; scaled down to fit maxWidth x maxHeight.
// Null when there is none. Never writes.
QImage cachedFreedesktopThumbnail(const QString &cacheRoot, const QString &filePath, qint64 modifiedSeconds,
                                  int maxWidth, int maxHeight);

} // namespace lkmedia
