// A full disk under an export, a compression, a move, a model install and a cache save. The
// check mounts a small tmpfs, puts HOME on it and fills it (once to the last byte, once
// leaving a little room so writes fail midway). Every operation must say it failed, and
// nothing may be lost: the sources keep their content, the old model and the old cache stay
// as they were and still load, and no partial file stays behind.

#include "SoakFiles.h"
#include "SoakReport.h"

#include "editing/BatchCompressionService.h"
#include "editing/PartialOutputs.h"
#include "editing/VideoTrimExportService.h"
#include "library/FileOperationService.h"
#include "library/ScopeCache.h"
#include "search/MobileCLIPModelDownload.h"
#include "search/MobileCLIPModelManager.h"
#include "search/MobileCLIPService.h"
#include "search/TranscriptFile.h"
#include "search/VisualIndexFile.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Serves the model files by path on the loopback interface.
class FileServer : public QObject
{
public:
    FileServer()
    {
        m_server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    QHash<QString, QByteArray> routes;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = m_pending[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n")) return;
        const QString path = QString::fromLatin1(buffer.split('\n').value(0).split(' ').value(1));
        buffer.clear();
        const bool found = routes.contains(path);
        const QByteArray body = found ? routes.value(path) : QByteArray("missing");
        socket->write("HTTP/1.1 " + QByteArray(found ? "200 OK" : "404 Not Found") + "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n");
        socket->write(body);
        socket->disconnectFromHost();
    }
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

qint64 freeBytes(const QString &path)
{
    struct statvfs s {};
    if (::statvfs(QFile::encodeName(path).constData(), &s) != 0) return -1;
    return qint64(s.f_bavail) * qint64(s.f_frsize);
}

// Fills the disk with one file, then gives back `leave` bytes.
bool fill(const QString &file, qint64 leave)
{
    QFile::remove(file);
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const QByteArray block(1 << 16, '\0');
    qint64 size = 0;
    for (;;) {
        const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
        if (n <= 0) break;
        size += n;
    }
    // Smaller pieces for the last partial block.
    for (;;) {
        const ssize_t n = ::write(fd, block.constData(), 512);
        if (n <= 0) break;
        size += n;
    }
    if (leave > 0 && ::ftruncate(fd, std::max<qint64>(0, size - leave)) != 0) {
        ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

// Names this system gives to its unfinished work, anywhere below `root`.
QStringList leftovers(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (name.startsWith(".Lumenkite-") || name.startsWith(".lumenkite-move-") || name.startsWith(".download-") ||
            (name.endsWith(".json") && path.contains("/PartialOutputs/")))
            out << path;
    }
    return out;
}

ScopeCache cacheOf(int count)
{
    ScopeCache cache;
    CachedScopeScan scan;
    scan.scopeKey = QStringLiteral("home");
    for (int i = 0; i < count; ++i)
        if (auto v = VideoFile::make(QStringLiteral("/home/user/Videos/clip %1.mp4").arg(i), 1000 + i,
                                     QDateTime::fromSecsSinceEpoch(1700000000 + i, Qt::UTC), std::nullopt))
            scan.videos << *v;
    scan.scannedAt = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    cache.insert(scan.scopeKey, scan);
    return cache;
}

VisualIndexMap indexOf(int count)
{
    VisualIndexMap index;
    for (int i = 0; i < count; ++i) {
        VideoVisualIndexEntry e;
        e.videoID = QStringLiteral("/home/user/Videos/clip %1.mp4").arg(i);
        e.fileSize = 1000 + i;
        e.clipEmbeddings = {{0.005f, QList<qint8>(512, qint8(i))}};
        e.frameMoments = {{1.0, e.clipEmbeddings.first(), QStringLiteral("EXIT")}};
        e.engineUsed = QStringLiteral("MobileCLIP-S2");
        index.insert(e.videoID, e);
    }
    return index;
}

TranscriptMap transcriptsOf(int count)
{
    TranscriptMap map;
    for (int i = 0; i < count; ++i) {
        VideoTranscriptEntry e;
        e.videoID = QStringLiteral("/home/user/Videos/clip %1.mp4").arg(i);
        e.fileSize = 1000 + i;
        e.localeIdentifier = QStringLiteral("en_US");
        e.fullText = QStringLiteral("seven boats arrived in the morning");
        e.segments = {{0.5, e.fullText}};
        map.insert(e.videoID, e);
    }
    return map;
}

struct ModelRun {
    bool completed = false;
    QString message;
};

ModelRun downloadModel()
{
    ModelRun result;
    bool done = false;
    QEventLoop loop;
    MobileCLIPModelDownload download({{}, 2}, [&](const ModelDownloadEvent &e) {
        if (e.kind == ModelDownloadEvent::Kind::completed || e.kind == ModelDownloadEvent::Kind::failed) {
            result.completed = e.kind == ModelDownloadEvent::Kind::completed;
            result.message = e.text;
            done = true;
            loop.quit();
        }
    });
    QTimer::singleShot(180000, &loop, &QEventLoop::quit);
    download.start();
    if (!done) loop.exec();
    if (!done) result.message = QStringLiteral("(no answer within 3 minutes)");
    // The worker removes the staging folder after its last event.
    QElapsedTimer settle;
    settle.start();
    while (download.isFinished() && settle.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return result;
}

bool modelLoads()
{
    const auto paths = MobileCLIPService::AssetPaths::resolve();
    if (!paths) return false;
    const auto service = MobileCLIPService::create(*paths);
    return service && service->computeTextEmbedding(QStringLiteral("a red car")).has_value();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Lumenkite");
    QCoreApplication::setApplicationName("Lumenkite");
    SoakReport report;
    report.check = "disk_full";

    QTemporaryDir outside(QDir::tempPath() + "/lk-soak-disk-XXXXXX");
    const QString disk = outside.path() + "/disk";
    QDir().mkpath(disk);
    {
        QProcess mount;
        mount.start("mount", {"-t", "tmpfs", "-o", "size=40m", "tmpfs", disk});
        mount.waitForFinished(30000);
        if (mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0) {
            std::printf("skipped: mounting a tmpfs is not permitted here (%s)\n",
                        mount.readAllStandardError().trimmed().constData());
            report.figures = "skipped: mount not permitted";
            report.print();
            return 0;
        }
    }
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute("umount", {"-l", path}); }
    } unmount{disk};

    soak::useHome(disk + "/home");
    const QString videos = disk + "/videos";
    QDir().mkpath(videos);
    const QString clip = videos + "/clip.mp4";
    const QString moveSource = outside.path() + "/to-move.mp4";
    const QString fillFile = disk + "/fill";
    if (!soak::makeClip(clip, 6, "640x360", {"-c:v", "mpeg4", "-q:v", "3"}) ||
        !soak::makeClip(moveSource, 3, "1280x720", {"-c:v", "mpeg4", "-q:v", "2"})) {
        std::printf("could not make the fixture clips with ffmpeg\n");
        report.crashes = 1;
        report.print();
        return 1;
    }
    const QByteArray clipHash = soak::hashFile(clip), moveHash = soak::hashFile(moveSource);

    // The old model, installed while there is room.
    FileServer server;
    QSettings().setValue(MobileCLIPModelManager::kModelBaseURLKey, server.base());
    QSettings().setValue(MobileCLIPModelManager::kVocabularyBaseURLKey, server.base() + "/");
    QSettings().sync();
    const QString fixtures = QDir::cleanPath(QStringLiteral(LK_SOURCE_DIR "/../shared/clip-fixtures"));
    for (const auto &f : MobileCLIPModelManager::downloadFiles())
        server.routes[QUrl(f.url).path()] =
            readAll(fixtures + (f.fileName == MobileCLIPModelManager::kDownloadedModelName
                                    ? "/tiny-mobileclip.safetensors"
                                    : "/bpe_simple_vocab_16e6.txt.gz"));
    const ModelRun first = downloadModel();
    const bool haveModel = first.completed && modelLoads();
    if (!haveModel) std::printf("the first model install failed (%s): the model checks are left out\n",
                                qUtf8Printable(first.message));
    QHash<QString, QByteArray> modelHashes;
    for (const char *name : {MobileCLIPModelManager::kImageModelName, MobileCLIPModelManager::kTextModelName,
                             MobileCLIPModelManager::kVocabName})
        modelHashes[name] = soak::hashFile(MobileCLIPModelManager::modelsDirectory() + "/" + name);

    // The old cache.
    const QString cachePath = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                              "/Lumenkite/scope_cache_v1.json";
    QDir().mkpath(QFileInfo(cachePath).absolutePath());
    const ScopeCache oldCache = cacheOf(20);
    if (!ScopeCacheCodec::save(oldCache, cachePath)) std::printf("the first cache save failed\n");
    const QByteArray cacheBytes = readAll(cachePath);

    // Small stored files, each a few kilobytes: a buffered write that only fails when it is
    // flushed must still leave the old file.
    struct SmallFile {
        QString what;
        QString path;
        std::function<bool(int count, const QString &path)> save;
        QByteArray bytes{}; // the content before the disk filled
    };
    const QString data = QFileInfo(cachePath).absolutePath();
    QList<SmallFile> smallFiles{
        {"small cache save", data + "/small_scope_cache.json",
         [](int n, const QString &p) { return ScopeCacheCodec::save(cacheOf(n), p); }},
        {"visual index save", data + "/visual_index_v4.json",
         [](int n, const QString &p) { return VisualIndexFile::save(indexOf(n), p); }},
        {"transcripts save", data + "/speech_transcripts_v1.json",
         [](int n, const QString &p) { return TranscriptFile::save(transcriptsOf(n), p); }},
    };
    for (SmallFile &f : smallFiles) {
        if (!f.save(8, f.path)) std::printf("the first %s failed\n", qUtf8Printable(f.what));
        f.bytes = readAll(f.path);
    }

    int operations = 0, reported = 0, namedSpace = 0, silent = 0;
    auto outcome = [&](const QString &what, bool failed, const QString &message) {
        ++operations;
        ++report.inputs;
        const bool clear = failed && !message.trimmed().isEmpty();
        if (clear) ++reported;
        else ++silent;
        if (message.contains("space", Qt::CaseInsensitive)) ++namedSpace;
        std::printf("  %-28s %s: %s\n", qUtf8Printable(what), failed ? "failed" : "REPORTED SUCCESS",
                    qUtf8Printable(message.isEmpty() ? QStringLiteral("(no message)") : message));
    };
    auto expectIntact = [&](const QString &what, bool intact) {
        if (!intact) {
            ++report.lost;
            std::printf("  LOST: %s\n", qUtf8Printable(what));
        }
    };

    for (const qint64 leave : {qint64(0), qint64(192 * 1024)}) {
        // A job's journal entry, written while there is room; it is rewritten on the full disk.
        QFile::remove(fillFile);
        auto journal = std::make_unique<PartialOutputs::Entry>(
            videos + "/.Lumenkite-Trim-00000000-0000-0000-0000-000000000000.mp4");
        const QDir journalFolder(PartialOutputs::journalFolder());
        const QStringList journalFiles = journalFolder.entryList({"*.json"}, QDir::Files);
        const QString journalPath = journalFiles.size() == 1 ? journalFolder.filePath(journalFiles.first()) : QString();
        const QByteArray journalBytes = readAll(journalPath);
        if (!fill(fillFile, leave)) {
            std::printf("could not fill the disk\n");
            ++report.crashes;
            break;
        }
        std::printf("disk filled, %lld bytes free:\n", freeBytes(disk));
        const QString level = leave == 0 ? QStringLiteral(" (full)") : QStringLiteral(" (nearly full)");

        // Exports and compressions, in place and as new files.
        for (const TrimSaveMode mode : {TrimSaveMode::replaceOriginal, TrimSaveMode::saveAsNew}) {
            bool failed = false, completed = false;
            QString message;
            VideoTrimExportService::run(*VideoFile::fromFile(clip), {VideoClipSegment::make(0.5, 5.5)},
                                        TrimExportPreset::h2641080p, mode, QString(),
                                        [&](const TrimExportEvent &e) {
                                            if (e.kind == TrimExportEvent::Kind::failed) failed = true, message = e.message;
                                            if (e.kind == TrimExportEvent::Kind::completed) completed = true;
                                        },
                                        {});
            outcome((mode == TrimSaveMode::saveAsNew ? "trim, save as new" : "trim, replace") + level,
                    failed && !completed, message);
        }
        for (const CompressionSaveMode mode : {CompressionSaveMode::replaceOriginal, CompressionSaveMode::saveAsNew}) {
            bool failed = false, completed = false;
            QString message;
            BatchCompressionService::run({*VideoFile::fromFile(clip)}, CompressionPreset::h2641080p, false, mode,
                                         [&](const BatchCompressionEvent &e) {
                                             if (e.kind == BatchCompressionEvent::Kind::itemFailed)
                                                 failed = true, message = e.message;
                                             if (e.kind == BatchCompressionEvent::Kind::itemCompleted) completed = true;
                                         },
                                         {});
            outcome((mode == CompressionSaveMode::saveAsNew ? "compression, save as new" : "compression, replace") +
                        level,
                    failed && !completed, message);
        }
        expectIntact("the exported clip's original", soak::hashFile(clip) == clipHash);

        // A move from another disk into the full one.
        {
            const QString destination = disk + "/moved";
            QDir().mkpath(destination);
            QString message;
            bool failed = false;
            try {
                QStringList failures;
                const auto moved = FileOperationService::move({*VideoFile::fromFile(moveSource)},
                                                              QUrl::fromLocalFile(destination), &failures);
                failed = moved.isEmpty();
                message = failures.join("; ");
                if (!moved.isEmpty()) { // it fitted after all: put it back for the next round
                    QFile::rename(moved.first().newVideo.url().toLocalFile(), moveSource);
                }
            } catch (const FileOperationError &e) {
                failed = true;
                message = e.localizedDescription();
            }
            outcome("move into the disk" + level, failed, message);
            expectIntact("the moved file's source", soak::hashFile(moveSource) == moveHash);
        }

        // A model install over the old model.
        if (haveModel) {
            MobileCLIPService::resetShared();
            const ModelRun second = downloadModel();
            outcome("model install" + level, !second.completed, second.message);
            bool same = true;
            for (auto it = modelHashes.cbegin(); it != modelHashes.cend(); ++it)
                same = same && soak::hashFile(MobileCLIPModelManager::modelsDirectory() + "/" + it.key()) == it.value();
            expectIntact("the old model's files", same || second.completed);
            expectIntact("the old model loading", modelLoads());
        }

        // A cache save, directly and through the app's writer.
        {
            const bool saved = ScopeCacheCodec::save(cacheOf(6000), cachePath);
            outcome("cache save" + level, !saved, saved ? QString() : QStringLiteral("save() returned false"));
            ScopeCacheWriter writer(cachePath);
            writer.submit(cacheOf(6000));
            writer.waitForIdle();
            expectIntact("the old cache", readAll(cachePath) == cacheBytes &&
                                              ScopeCacheCodec::decode(readAll(cachePath)) == std::optional(oldCache));
        }

        // The small files, saved again with more in them than the disk has room for.
        for (const SmallFile &f : smallFiles) {
            const bool saved = f.save(leave == 0 ? 9 : 3000, f.path);
            outcome(f.what + level, !saved, saved ? QString() : QStringLiteral("save() returned false"));
            expectIntact("the old " + f.what.chopped(5), readAll(f.path) == f.bytes);
        }
        {
            journal->settingAside(videos + "/.Lumenkite-Backup-00000000-0000-0000-0000-000000000000",
                                  QString(clip).repeated(leave == 0 ? 1 : 20000));
            const QByteArray now = readAll(journalPath);
            expectIntact("the journal's earlier record", !journalBytes.isEmpty() && (now == journalBytes ||
                                                                                    now.contains("backupFolder")));
            journal.reset();
        }

        const QStringList left = leftovers(disk);
        for (const QString &l : left) std::printf("  LEFT BEHIND: %s\n", qUtf8Printable(l));
        silent += int(left.size());
    }
    QFile::remove(fillFile);

    report.figures = QStringLiteral("operations %1, failures reported with a message %2, naming the lack of space %3, "
                                    "silent or leftovers %4")
                         .arg(operations)
                         .arg(reported)
                         .arg(namedSpace)
                         .arg(silent)
                         .toStdString();
    report.print();
    return report.status() == 0 && silent == 0 ? 0 : 1;
}
