// The on-device search at the published model's size: random weights with the published
// file's tensor shapes (the values do not matter for speed), fused and installed as a
// download installs them, and run through the app's own helper code path. In one run:
// image tower throughput with the helper's settings against today's defaults (default
// layout, sleeping OpenMP workers, one image per request), the label prompts' cost on the
// first run and on later launches, a text query's time alone and while images are being
// indexed, and the process's memory during a 400 MB download from a loopback server.
//
// LK_BENCH_CLIP_EXPLORE=1 also prints every layout / OpenMP wait / request size / thread
// count combination, the measurements the helper's settings were chosen from.
#include "search/CLIPHelperConnection.h"
#include "search/CLIPHelperProtocol.h"
#include "search/KeyframeIndexPipeline.h"
#include "search/MobileCLIPModelDownload.h"
#include "search/MobileCLIPModelManager.h"
#include "search/MobileCLIPService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>
#include <unistd.h>

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

qint64 statusKiB(const char *field)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// CPU seconds a process has used (user + system).
double cpuSeconds(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray line = f.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

void printLoad(const char *when)
{
    QFile load("/proc/loadavg");
    if (load.open(QIODevice::ReadOnly)) std::printf("load %s: %s", when, load.readAll().constData());
}

struct Settings {
    QString name;
    MobileCLIPService::HelperSettings helper;
};

const QByteArray &randomImages()
{
    static const QByteArray bytes = [] {
        QByteArray b(clipproto::kImageBytes * int(clipproto::kMaxBatch), Qt::Uninitialized);
        for (char &c : b) c = char(QRandomGenerator::global()->bounded(256));
        return b;
    }();
    return bytes;
}

// Images per second through a running helper, in requests of `batch`.
double imagesPerSecond(CLIPHelperConnection &helper, int batch, int images, bool warmUp = true)
{
    const QByteArray payload = randomImages().left(clipproto::kImageBytes * batch);
    if (warmUp) helper.exchange(clipproto::kImages, uint32_t(batch), payload, 600000);
    QElapsedTimer clock;
    clock.start();
    int done = 0;
    while (done < images) {
        if (!helper.exchange(clipproto::kImages, uint32_t(batch), payload, 600000)) return 0;
        done += batch;
    }
    return double(done) / seconds(clock);
}

bool startHelper(CLIPHelperConnection &helper, const QString &imageFile, const MobileCLIPService::HelperSettings &s)
{
    return helper.start(MobileCLIPService::helperProgram(), QStringList{"serve", "--image-file", imageFile} + s.arguments,
                        600000, s.environment);
}

std::vector<float> unitEmbedding(CLIPHelperConnection &helper)
{
    const auto a = helper.exchange(clipproto::kImages, 1, randomImages().left(clipproto::kImageBytes), 600000);
    if (!a || a->status != clipproto::kOk) return {};
    return MobileCLIPService::l2Normalized(a->values).value_or(std::vector<float>{});
}

// Serves files by path from its own thread, a bounded amount at a time, as a fast server
// on the same machine would.
class FileServer : public QObject
{
public:
    std::map<QString, QString> files; // request path -> file
    quint16 port = 0;

    void listen()
    {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost, 0);
        port = m_server->serverPort();
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

private:
    void serve(QTcpSocket *socket)
    {
        const QByteArray request = socket->readAll();
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        auto *file = new QFile(files.count(path) ? files.at(path) : QString(), socket);
        if (!file->open(QIODevice::ReadOnly)) {
            socket->write("HTTP/1.1 404 Missing\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(file->size()) +
                      "\r\nConnection: close\r\n\r\n");
        auto more = [socket, file] {
            while (socket->bytesToWrite() < (2 << 20) && !file->atEnd()) socket->write(file->read(1 << 20));
            if (file->atEnd() && socket->bytesToWrite() == 0) socket->disconnectFromHost();
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
    }

    QTcpServer *m_server = nullptr;
};

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    // Settings, models and caches of this run only.
    qputenv("HOME", QFile::encodeName(dir.filePath("home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("home/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("home/.local/share")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("home/.cache")));
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Lumenkite");
    QCoreApplication::setApplicationName("Lumenkite");
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // lines as they are measured
    printLoad("at start");
    const QString shapesPath = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                        : QStringLiteral(LK_SOURCE_DIR "/../shared/clip-fixtures/mobileclip-s2-shapes.txt");
    const QList<Shape> shapes = readShapes(shapesPath);
    if (shapes.isEmpty()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(shapesPath));
        return 1;
    }
    const QString model = dir.filePath("open_clip_model.safetensors");
    if (!writeRandomModel(model, shapes)) {
        std::fprintf(stderr, "cannot write the random model\n");
        return 1;
    }
    std::printf("random model: %lld tensors, %.0f MB\n", qint64(shapes.size()), double(QFile(model).size()) / 1e6);

    // Installed as the download installs it: fused per-tower files and the vocabulary.
    const QString installed = MobileCLIPModelManager::modelsDirectory();
    QDir().mkpath(installed);
    QElapsedTimer clock;
    clock.start();
    QProcess fuse;
    fuse.start(MobileCLIPService::helperProgram(), {"fuse", "--model", model, "--out", installed});
    if (!fuse.waitForFinished(1800000) || fuse.exitCode() != 0) {
        std::fprintf(stderr, "fuse failed: %s\n", fuse.readAllStandardError().constData());
        return 1;
    }
    std::printf("fuse: %.1f s\n", seconds(clock));
    const QString vocabGz = QStringLiteral(LK_SOURCE_DIR "/../shared/clip-fixtures/bpe_simple_vocab_16e6.txt.gz");
    {
        QFile gz(vocabGz), out(installed + "/" + MobileCLIPModelManager::kVocabName);
        QString error;
        const auto vocab = gz.open(QIODevice::ReadOnly) ? MobileCLIPModelManager::gunzip(gz.readAll(), &error) : std::nullopt;
        if (!vocab || !out.open(QIODevice::WriteOnly) || out.write(*vocab) != vocab->size()) {
            std::fprintf(stderr, "cannot install the vocabulary\n");
            return 1;
        }
    }
    const auto paths = MobileCLIPService::AssetPaths::resolve();
    if (!paths) {
        std::fprintf(stderr, "the installed model is not found\n");
        return 1;
    }

    // ---- image tower ----
    constexpr int kImages = 16;
    const Settings today{"today: default layout, sleeping workers", {}};
    const Settings chosen{"the helper's settings", MobileCLIPService::helperSettings(MobileCLIPService::Tower::image)};
    std::printf("helper settings: %s | %s\n", qPrintable(chosen.helper.arguments.join(' ')),
                qPrintable(chosen.helper.environment.join(' ')));
    // Both at the same priority: the app lowers its image helper's (indexing is background
    // work), which beside other load would measure that load rather than these settings.
    // Each settings and request size has its own helper, warmed with its own requests: malloc
    // sizes its later behaviour by the largest blocks freed so far, so a helper that had run
    // a batch answered single images up to twice as fast as one that only ever had single
    // images, as a helper asked one image at a time has.
    // The helpers run side by side and take turns, round by round, so that a change in the
    // machine's load weighs on all alike.
    CLIPHelperConnection todaySingleHelper, todayBatchedHelper, singleHelper, batchedHelper;
    for (auto [helper, settings] : {std::pair{&todaySingleHelper, &today}, {&todayBatchedHelper, &today},
                                    {&singleHelper, &chosen}, {&batchedHelper, &chosen}})
        if (!startHelper(*helper, paths->imageModel, settings->helper)) return 1;
    const std::vector<float> todayUnit = unitEmbedding(todaySingleHelper), chosenUnit = unitEmbedding(singleHelper);
    // Two requests of a batch per measurement: one alone was too short for a busy machine,
    // where a single slow time slice swung the ratio by half.
    constexpr int kRounds = 3, kBatch = MobileCLIPService::kImageBatch, kPerRound = 2 * kBatch;
    double todaySingle = 0, todayBatched = 0, single = 0, batched = 0;
    imagesPerSecond(todaySingleHelper, 1, 0);
    imagesPerSecond(singleHelper, 1, 0);
    imagesPerSecond(todayBatchedHelper, kBatch, 0);
    imagesPerSecond(batchedHelper, kBatch, 0);
    for (int round = 0; round < kRounds; ++round) {
        todaySingle += imagesPerSecond(todaySingleHelper, 1, kPerRound, false) / kRounds;
        single += imagesPerSecond(singleHelper, 1, kPerRound, false) / kRounds;
        todayBatched += imagesPerSecond(todayBatchedHelper, kBatch, kPerRound, false) / kRounds;
        batched += imagesPerSecond(batchedHelper, kBatch, kPerRound, false) / kRounds;
    }
    {
        // Between requests the workers must sleep, not spin: an idle helper costs nothing.
        const double before = cpuSeconds(batchedHelper.processId());
        QThread::msleep(2000);
        std::printf("idle helper CPU: %.1f %% of one core\n", (cpuSeconds(batchedHelper.processId()) - before) / 2.0 * 100.0);
    }
    for (CLIPHelperConnection *helper : {&todaySingleHelper, &todayBatchedHelper, &singleHelper, &batchedHelper})
        helper->stop();
    double worst = 0;
    for (size_t i = 0; i < todayUnit.size() && i < chosenUnit.size(); ++i)
        worst = std::max(worst, double(std::fabs(todayUnit[i] - chosenUnit[i])));
    std::printf("image tower with today's settings, images/s: batched %.2f, single %.2f\n", todayBatched, todaySingle);
    std::printf("image tower images/s: batched %.2f, single %.2f\n", batched, single);
    std::printf("image tower speed-up over the default layout and one image per request: %.2f (goal >= 2)\n",
                batched / todaySingle);
    std::printf("largest difference of unit embeddings against today's settings: %.2g\n",
                todayUnit.size() == chosenUnit.size() && !todayUnit.empty() ? worst : INFINITY);

    if (qEnvironmentVariableIntValue("LK_BENCH_CLIP_EXPLORE") == 1) {
        struct Wait {
            const char *name;
            QStringList environment;
        };
        const Wait waits[] = {{"passive", {}},
                              {"passive, freed memory kept in the heap",
                               {"GLIBC_TUNABLES=glibc.malloc.mmap_threshold=1073741824:glibc.malloc.trim_threshold=1073741824"}},
                              {"spin 300k", {"GOMP_SPINCOUNT=300000"}},
                              {"spin 10M", {"GOMP_SPINCOUNT=10000000"}},
                              {"active", {"OMP_WAIT_POLICY=ACTIVE"}}};
        for (const char *layout : {"default", "channels-last"})
            for (int threads : {4, 6})
                for (const Wait &w : waits) {
                    CLIPHelperConnection helper;
                    const MobileCLIPService::HelperSettings s{
                        {"--layout", layout, "--threads", QString::number(threads)}, w.environment};
                    if (!startHelper(helper, paths->imageModel, s)) continue;
                    std::printf("explore %-13s threads %d %-38s images/s:", layout, threads, w.name);
                    for (int batch : {1, 4, 8}) std::printf(" batch %d %.2f", batch, imagesPerSecond(helper, batch, kImages));
                    std::printf("\n");
                }
    }

    // ---- label prompts ----
    QStringList prompts;
    for (const QString &label : KeyframeIndexPipeline::labelVocabulary()) prompts << QStringLiteral("a photo of ") + label;
    std::shared_ptr<MobileCLIPService> service = MobileCLIPService::create(*paths);
    if (!service) return 1;
    clock.restart();
    const bool made = service->promptSetEmbeddings(prompts).has_value();
    std::printf("label prompts, first run after install: %.2f s (%lld prompts%s)\n", seconds(clock), qint64(prompts.size()),
                made ? "" : ", FAILED");
    service.reset();
    service = MobileCLIPService::create(*paths); // a later launch
    clock.restart();
    const bool read = service->promptSetEmbeddings(prompts).has_value();
    std::printf("label prompts, later launches: %.3f s (goal <= 0.2)%s\n", seconds(clock), read ? "" : " FAILED");

    // ---- a text query, alone and while images are indexed ----
    int query = 0;
    auto timeQuery = [&] {
        QElapsedTimer t;
        t.start();
        service->textEmbedding({QStringLiteral("a photo of query number %1").arg(++query)});
        return double(t.nsecsElapsed()) / 1e6;
    };
    timeQuery(); // starts the text helper
    constexpr int kQueries = 10;
    double alone = 0;
    for (int i = 0; i < kQueries; ++i) alone += timeQuery();
    alone /= kQueries;
    std::atomic_bool indexing = true;
    QList<QImage> frames;
    for (int i = 0; i < MobileCLIPService::kImageBatch; ++i) {
        QImage frame(reinterpret_cast<const uchar *>(randomImages().constData()) + i * 1000, clipproto::kImageSide,
                     clipproto::kImageSide, clipproto::kImageSide * 3, QImage::Format_RGB888);
        frames << frame.copy();
    }
    std::atomic_int batches = 0;
    std::thread indexer([&] {
        while (indexing) {
            service->imageEmbeddings(frames);
            ++batches;
        }
    });
    while (batches.load() == 0) QThread::msleep(10); // the image helper is started and busy
    double worstWhileIndexing = 0;
    for (int i = 0; i < kQueries; ++i) worstWhileIndexing = std::max(worstWhileIndexing, timeQuery());
    indexing = false;
    indexer.join();
    std::printf("text query alone: %.1f ms\n", alone);
    std::printf("text query while indexing, worst: %.1f ms (goal <= 2 x alone)\n", worstWhileIndexing);
    service.reset();

    // ---- memory and the starting thread during a download ----
    const qint64 target = 400'000'000;
    {
        QFile f(model);
        f.open(QIODevice::ReadWrite);
        if (f.size() < target) f.resize(target); // the published file's size and a little more
    }
    QThread serverThread;
    auto *server = new FileServer;
    const auto files = MobileCLIPModelManager::downloadFiles();
    server->files[QUrl(files[0].url).path()] = model;
    server->files[QUrl(files[1].url).path()] = vocabGz;
    server->moveToThread(&serverThread);
    serverThread.start();
    QMetaObject::invokeMethod(server, &FileServer::listen, Qt::BlockingQueuedConnection);
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server->port);
    QSettings().setValue(MobileCLIPModelManager::kModelBaseURLKey, base);
    QSettings().setValue(MobileCLIPModelManager::kVocabularyBaseURLKey, base);

    const qint64 startKiB = statusKiB("VmRSS:");
    std::atomic<qint64> peakKiB = startKiB;
    std::atomic_bool sampling = true;
    std::thread sampler([&] {
        while (sampling) {
            peakKiB = std::max(peakKiB.load(), statusKiB("VmRSS:"));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    qint64 longestStallMs = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestStallMs = std::max(longestStallMs, sinceTick.elapsed());
        sinceTick.restart();
    });
    tick.start();
    bool fetched = false;
    QString failure;
    clock.restart();
    double downloadSeconds = 0;
    MobileCLIPModelDownload download({}, [&](const ModelDownloadEvent &e) {
        if (e.kind == ModelDownloadEvent::Kind::compiling && !fetched) {
            fetched = true;
            downloadSeconds = seconds(clock);
        }
        if (e.kind == ModelDownloadEvent::Kind::failed) failure = e.text;
    });
    download.start();
    while (!fetched && failure.isEmpty()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    tick.stop();
    download.cancel(); // the fuse step runs in the helper, another process
    sampling = false;
    sampler.join();
    serverThread.quit();
    serverThread.wait();
    delete server;
    if (!failure.isEmpty()) {
        std::printf("download failed: %s\n", qPrintable(failure));
        return 1;
    }
    std::printf("download of %.0f MB from a loopback server: %.1f s, peak RSS %.0f MB from %.0f MB at its start "
                "(+%.0f MB, goal <= +100 MB)\n",
                double(target) / 1e6, downloadSeconds, double(peakKiB) / 1024, double(startKiB) / 1024,
                double(peakKiB - startKiB) / 1024);
    std::printf("longest stall of the starting thread during the download: %lld ms\n", longestStallMs);
    printLoad("at the end");
    QThreadPool::globalInstance()->waitForDone(); // the cancelled install's worker tidies its folder
    return 0;
}
