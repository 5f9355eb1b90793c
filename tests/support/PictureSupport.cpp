#include "PictureSupport.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cmath>
#include <optional>

namespace lktest {

bool makeMarkedClip(const QString &path, double seconds, int width, int height, const QStringList &videoArgs)
{
    // A filled box marks the top-left corner even where no font is installed.
    QString filter = QStringLiteral("drawbox=x=0:y=0:w=iw/3:h=ih/4:color=white:t=fill");
    const QString font = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");
    if (QFileInfo::exists(font))
        filter += QStringLiteral(",drawtext=fontfile=%1:text=LK:fontcolor=black:fontsize=h/6:x=w/24:y=h/24").arg(font);
    QStringList args{"-f", "lavfi", "-i",
                     QStringLiteral("smptebars=size=%1x%2:rate=25:duration=%3").arg(width).arg(height).arg(seconds),
                     "-vf", filter};
    return ffmpegOutput(path, args + videoArgs);
}

namespace {

struct Box {
    qint64 start = 0; // of the header
    qint64 body = 0;  // first byte after the header
    qint64 end = 0;
    QByteArray type;
};

std::optional<Box> readBox(const QByteArray &data, qint64 at, qint64 limit)
{
    if (at + 8 > limit)
        return std::nullopt;
    const auto *p = reinterpret_cast<const uchar *>(data.constData() + at);
    quint64 size = qFromBigEndian<quint32>(p);
    Box box{at, at + 8, 0, data.mid(at + 4, 4)};
    if (size == 1) {
        if (at + 16 > limit)
            return std::nullopt;
        size = qFromBigEndian<quint64>(p + 8);
        box.body = at + 16;
    } else if (size == 0) {
        size = quint64(limit - at);
    }
    box.end = at + qint64(size);
    if (box.end > limit || box.end < box.body)
        return std::nullopt;
    return box;
}

} // namespace

bool setTrackRotation(const QString &path, int clockwiseDegrees)
{
    // Matrix rows {a b u} {c d v} {x y w}; a picture point (p, q) goes to (a p + c q + x, b p + d q + y).
    qint32 a = 0, b = 0, c = 0, d = 0;
    switch (((clockwiseDegrees % 360) + 360) % 360) {
    case 90: b = 0x10000; c = -0x10000; break;
    case 180: a = -0x10000; d = -0x10000; break;
    case 270: b = -0x10000; c = 0x10000; break;
    default: return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    bool written = false;
    // moov > trak > tkhd; the video track is the one with a picture size.
    for (auto moov = readBox(data, 0, data.size()); moov; moov = readBox(data, moov->end, data.size())) {
        if (moov->type != "moov")
            continue;
        for (auto trak = readBox(data, moov->body, moov->end); trak; trak = readBox(data, trak->end, moov->end)) {
            if (trak->type != "trak")
                continue;
            for (auto tkhd = readBox(data, trak->body, trak->end); tkhd; tkhd = readBox(data, tkhd->end, trak->end)) {
                if (tkhd->type != "tkhd")
                    continue;
                const int version = uchar(data[tkhd->body]);
                const qint64 matrix = tkhd->body + 4 + (version == 1 ? 32 : 20) + 16;
                if (matrix + 36 + 8 > tkhd->end)
                    return false;
                auto *m = reinterpret_cast<uchar *>(data.data() + matrix);
                if (qFromBigEndian<quint32>(m + 36) == 0)
                    continue; // not a picture track
                const qint32 values[9] = {a, b, 0, c, d, 0, 0, 0, 0x40000000};
                for (int i = 0; i < 9; ++i)
                    qToBigEndian<qint32>(values[i], m + 4 * i);
                written = true;
            }
        }
    }
    if (!written)
        return false;
    file.seek(0);
    return file.write(data) == data.size();
}

QImage ffmpegFrame(const QString &path, double seconds)
{
    const QString png = QDir::tempPath() + QStringLiteral("/lk-frame-%1.png").arg(qHash(path + QString::number(seconds)));
    // Seeking after the input decodes from the start: slow, but it finds the frame in any file.
    if (!ffmpegOutput(png, {"-i", path, "-ss", QString::number(seconds, 'f', 3), "-frames:v", "1"}))
        return {};
    QImage image(png);
    QFile::remove(png);
    return image;
}

QImage withoutBlackBorders(const QImage &image)
{
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    auto lit = [](QRgb px) { return qRed(px) + qGreen(px) + qBlue(px) > 48; };
    auto rowLit = [&](int y) {
        for (int x = 0; x < img.width(); ++x)
            if (lit(img.pixel(x, y)))
                return true;
        return false;
    };
    auto columnLit = [&](int x) {
        for (int y = 0; y < img.height(); ++y)
            if (lit(img.pixel(x, y)))
                return true;
        return false;
    };
    int top = 0, bottom = img.height() - 1, left = 0, right = img.width() - 1;
    while (top <= bottom && !rowLit(top))
        ++top;
    while (bottom > top && !rowLit(bottom))
        --bottom;
    while (left <= right && !columnLit(left))
        ++left;
    while (right > left && !columnLit(right))
        --right;
    if (top > bottom || left > right)
        return {};
    return img.copy(left, top, right - left + 1, bottom - top + 1);
}

double pictureCorrelation(const QImage &a, const QImage &b)
{
    if (a.isNull() || b.isNull())
        return 0;
    constexpr int kSide = 48;
    auto grey = [](const QImage &img) {
        const QImage small = img.convertToFormat(QImage::Format_RGB32)
                                 .scaled(kSide, kSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        std::vector<double> v;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x)
                v.push_back(qGray(small.pixel(x, y)));
        return v;
    };
    const std::vector<double> x = grey(a), y = grey(b);
    double mx = 0, my = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= double(x.size());
    my /= double(y.size());
    double sxy = 0, sxx = 0, syy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
}

double aspectOf(const QImage &image)
{
    return image.isNull() || image.height() == 0 ? 0 : double(image.width()) / image.height();
}

} // namespace lktest
