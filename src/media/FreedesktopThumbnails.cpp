#include "FreedesktopThumbnails.h"

#include <QCryptographicHash>
#include <QImageReader>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace lkmedia {

QString defaultThumbnailCacheRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails");
}

QImage cachedFreedesktopThumbnail(const QString &cacheRoot, const QString &filePath, qint64 modifiedSeconds,
                                  int maxWidth, int maxHeight)
{
    struct Folder {
        const char *name;
        int pixels;
    };
    static const Folder folders[] = {{"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}};

    const QByteArray uri = QUrl::fromLocalFile(filePath).toEncoded();
    const QString file = QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
                         QStringLiteral(".png");

    // The smallest folder that is big enough first, then the bigger ones, then the smaller.
    const int wanted = std::max(maxWidth, maxHeight);
    int first = 0;
    while (first < 3 && folders[first].pixels < wanted)
        ++first;
    int order[4];
    int n = 0;
    for (int i = first; i < 4; ++i)
        order[n++] = i;
    for (int i = first - 1; i >= 0; --i)
        order[n++] = i;

    for (int i : order) {
        QImageReader reader(cacheRoot + QLatin1Char('/') + QLatin1String(folders[i].name) + QLatin1Char('/') + file,
                            "png");
        if (!reader.canRead())
            continue;
        const QString mtime = QString::number(modifiedSeconds);
        auto matches = [&](const QString &u, const QString &m) { return u.toUtf8() == uri && m == mtime; };
        // Text chunks usually precede the pixels; when they do not, they are known only after reading.
        const QString headerUri = reader.text(QStringLiteral("Thumb::URI"));
        if (!headerUri.isEmpty() && !matches(headerUri, reader.text(QStringLiteral("Thumb::MTime"))))
            continue;
        QImage image = reader.read();
        if (image.isNull() || !matches(image.text(QStringLiteral("Thumb::URI")), image.text(QStringLiteral("Thumb::MTime"))))
            continue;
        const int boundW = maxWidth > 0 ? maxWidth : image.width();
        const int boundH = maxHeight > 0 ? maxHeight : image.height();
        if (image.width() > boundW || image.height() > boundH)
            image = image.scaled(boundW, boundH, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return image;
    }
    return {};
}

} // namespace lkmedia
