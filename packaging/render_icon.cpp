// Renders the application's SVG icon to the PNG sizes of the icon theme at build time, so
// the launcher shows the same picture as the window.
//   render_icon SVG OUT_DIR NAME SIZE...   writes OUT_DIR/<SIZE>x<SIZE>/apps/NAME.png for each SIZE

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: render_icon SVG OUT_DIR NAME SIZE...\n");
        return 64;
    }
    // No display is needed to paint into an image.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "render_icon: %s is no readable SVG\n", argv[1]);
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        if (size <= 0) {
            std::fprintf(stderr, "render_icon: %s is no size\n", argv[i]);
            return 64;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        const QString file = dir + "/" + name + ".png";
        if (!QDir().mkpath(dir) || !image.save(file)) {
            std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
