// The CLIP helper at the published model's size: random weights with the published file's
// tensor shapes (the values do not matter for speed), served through the pipe protocol as
// the app uses it. Prints batched against one-at-a-time image throughput, measured in the
// same run, and the text tower's time per query.
#include "search/CLIPHelperConnection.h"
#include "search/CLIPHelperProtocol.h"
#include "search/MobileCLIPService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

struct Shape {
    QString name, dtype;
    QList<qint64> dims;
};

QList<Shape> readShapes(const QString &path)
{
    QList<Shape> shapes;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return shapes;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const qsizetype open = line.indexOf('['), close = line.indexOf(']');
        const QList<QByteArray> head = line.left(open).simplified().split(' ');
        if (open < 0 || close < open || head.size() < 2) continue;
        Shape s{QString::fromUtf8(head[0]), QString::fromUtf8(head[1]), {}};
        for (const QByteArray &d : line.mid(open + 1, close - open - 1).split(','))
            if (!d.trimmed().isEmpty()) s.dims.append(d.trimmed().toLongLong());
        shapes.append(s);
    }
    return shapes;
}

// A training-time file of random values: small weights, unit BatchNorm scales, positive
// variances, so every activation stays finite.
bool writeRandomModel(const QString &path, const QList<Shape> &shapes)
{
    QJsonObject header{{"__metadata__", QJsonObject{{"format", "pt"}}}};
    qint64 offset = 0;
    for (const Shape &s : shapes) {
        qint64 n = 1;
        QJsonArray dims;
        for (qint64 d : s.dims) {
            n *= d;
            dims.append(d);
        }
        const qint64 bytes = n * (s.dtype == "int64" ? 8 : 4);
        header.insert(s.name, QJsonObject{{"dtype", s.dtype == "int64" ? "I64" : "F32"},
                                          {"shape", dims},
                                          {"data_offsets", QJsonArray{offset, offset + bytes}}});
        offset += bytes;
    }
    QByteArray json = QJsonDocument(header).toJson(QJsonDocument::Compact);
    while (json.size() % 8) json.append(' ');
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    const quint64 length = quint64(json.size());
    f.write(reinterpret_cast<const char *>(&length), 8);
    f.write(json);
    std::mt19937 rng(7);
    std::normal_distribution<float> normal(0.0f, 0.02f);
    std::uniform_real_distribution<float> positive(0.5f, 1.5f);
    for (const Shape &s : shapes) {
        qint64 n = 1;
        for (qint64 d : s.dims) n *= d;
        if (s.dtype == "int64") {
            f.write(QByteArray(n * 8, '\0'));
            continue;
        }
        std::vector<float> v(static_cast<size_t>(n));
        const bool bnScale = s.name.endsWith(".running_var") ||
                             (s.name.endsWith(".weight") && s.dims.size() == 1 && !s.name.contains("fc"));
        const bool gamma = s.name.endsWith(".gamma");
        for (float &x : v) x = bnScale ? positive(rng) : gamma ? 1e-2f : normal(rng);
        f.write(reinterpret_cast<const char *>(v.data()), qint64(v.size() * 4));
    }
    return f.error() == QFile::NoError;
}

double seconds(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e9; }

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // progress lines as they come
    const QString shapesPath = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                        : QStringLiteral(LK_SOURCE_DIR "/../shared/clip-fixtures/mobileclip-s2-shapes.txt");
    const QList<Shape> shapes = readShapes(shapesPath);
    if (shapes.isEmpty()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(shapesPath));
        return 1;
    }
    QTemporaryDir dir;
    // A second argument keeps the random model at that path for runs by hand.
    const QString model = argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath("random_mobileclip_s2.safetensors");
    if (!writeRandomModel(model, shapes)) {
        std::fprintf(stderr, "cannot write the random model\n");
        return 1;
    }
    std::printf("random model: %lld tensors, %.0f MB\n", qint64(shapes.size()), double(QFile(model).size()) / 1e6);

    CLIPHelperConnection helper;
    QElapsedTimer clock;
    clock.start();
    if (!helper.start(MobileCLIPService::helperProgram(), {"serve", "--model", model}, 600000)) {
        std::fprintf(stderr, "the helper did not start\n");
        return 1;
    }
    std::printf("helper load and fold: %.2f s (image dim %u, text dim %u)\n", seconds(clock), helper.imageDimension(),
                helper.textDimension());

    QByteArray image(clipproto::kImageBytes, Qt::Uninitialized);
    for (char &c : image) c = char(QRandomGenerator::global()->bounded(256));
    auto embedImages = [&](int count) {
        return helper.exchange(clipproto::kImages, uint32_t(count), image.repeated(count), 600000).has_value();
    };
    constexpr int kBatch = MobileCLIPService::kImageBatch;
    constexpr int kRounds = 2;
    embedImages(1); // warm-up
    embedImages(kBatch);
    clock.restart();
    for (int i = 0; i < kBatch * kRounds; ++i) embedImages(1);
    const double single = double(kBatch * kRounds) / seconds(clock);
    clock.restart();
    for (int i = 0; i < kRounds; ++i) embedImages(kBatch);
    const double batched = double(kBatch * kRounds) / seconds(clock);
    std::printf("image embeddings per second: one at a time %.2f, batches of %d %.2f\n", single, kBatch, batched);
    std::printf("image batch/single throughput ratio: %.2f (goal >= 1.3)\n", batched / single);

    std::vector<qint32> ids(clipproto::kTextLength, 0);
    ids[0] = 49406;
    ids[1] = 320;
    ids[2] = 1125;
    ids[3] = 49407;
    const QByteArray text(reinterpret_cast<const char *>(ids.data()), qsizetype(ids.size() * 4));
    helper.exchange(clipproto::kTexts, 1, text, 600000); // warm-up
    constexpr int kQueries = 10;
    clock.restart();
    for (int i = 0; i < kQueries; ++i) helper.exchange(clipproto::kTexts, 1, text, 600000);
    std::printf("text tower time per query: %.1f ms\n", seconds(clock) * 1000.0 / kQueries);
    return 0;
}
