#include "search/MobileCLIPModelDownload.h"

#include "search/MobileCLIPModelManager.h"
#include "search/MobileCLIPService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QThreadPool>

#include <numeric>

namespace {

ModelDownloadEvent compiling(const QString &stage)
{
    ModelDownloadEvent e;
    e.kind = ModelDownloadEvent::Kind::compiling;
    e.text = stage;
    return e;
}

ModelDownloadEvent failure(const QString &message)
{
    ModelDownloadEvent e;
    e.kind = ModelDownloadEvent::Kind::failed;
    e.text = QStringLiteral("İndirme hatası: ") + message;
    return e;
}

// The helper's own last words, else its exit code.
QString helperFailure(QProcess &process)
{
    const QList<QByteArray> lines = process.readAllStandardError().trimmed().split('\n');
    const QString last = lines.isEmpty() ? QString() : QString::fromUtf8(lines.last()).trimmed();
    if (!last.isEmpty()) return last;
    return QStringLiteral("the model helper ended with code %1").arg(process.exitCode());
}

} // namespace

MobileCLIPModelDownload::MobileCLIPModelDownload(Options options, EventSink sink, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_sink(std::move(sink))
{
}

MobileCLIPModelDownload::~MobileCLIPModelDownload()
{
    cancel();
}

void MobileCLIPModelDownload::emitEvent(const ModelDownloadEvent &e)
{
    if (m_cancelled->load()) return;
    if (e.kind == ModelDownloadEvent::Kind::completed || e.kind == ModelDownloadEvent::Kind::failed) m_finished = true;
    if (m_sink) m_sink(e);
}

void MobileCLIPModelDownload::start()
{
    m_staging = MobileCLIPModelManager::makeStagingFolder();
    if (m_staging.isEmpty()) {
        fail(QStringLiteral("cannot create a folder in %1").arg(MobileCLIPModelManager::modelsDirectory()));
        return;
    }
    const auto files = MobileCLIPModelManager::downloadFiles();
    for (const auto &f : files) {
        m_expected.push_back(f.approxBytes);
        m_received.push_back(0);
    }
    m_network = new QNetworkAccessManager(this);
    m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_network->setTransferTimeout(60'000);
    fetchNext();
}

void MobileCLIPModelDownload::fetchNext()
{
    if (m_cancelled->load()) return;
    const auto files = MobileCLIPModelManager::downloadFiles();
    if (m_index >= files.size()) {
        compileAndInstall();
        return;
    }
    const auto &spec = files[m_index];
    const QUrl url(spec.url);
    if (!url.isValid() || url.scheme().isEmpty()) {
        fail(QStringLiteral("not a valid address: %1").arg(spec.url));
        return;
    }
    m_file = std::make_unique<QFile>(QDir(m_staging).filePath(spec.fileName));
    // Unbuffered: each chunk goes to the disk at once, and a failed write keeps its reason.
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        fail(QStringLiteral("cannot write %1").arg(m_file->fileName()));
        return;
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromLatin1(kUserAgent));
    m_reply = m_network->get(request);
    // The socket's data waits in the kernel rather than in the reply: however fast the
    // server, memory holds at most this much of the file at a time.
    m_reply->setReadBufferSize(kReadBufferBytes);
    connect(m_reply, &QNetworkReply::readyRead, this, &MobileCLIPModelDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &MobileCLIPModelDownload::onFinished);
}

// Writes all of `data`. The rest of a short write is tried again, so that a failure ends
// in a write that carries the system's reason (a full disk, a size limit).
static bool writeAll(QFile &file, const QByteArray &data)
{
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

void MobileCLIPModelDownload::onReadyRead()
{
    if (!m_reply || m_cancelled->load()) return;
    // An error page is not the file; a reply without a status (a file:// address) has none.
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) return;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (length > 0) m_expected[m_index] = length;
    const QByteArray chunk = m_reply->readAll();
    if (chunk.isEmpty()) return;
    if (!writeAll(*m_file, chunk)) {
        // The system's reason, so that a full disk says so.
        fail(QStringLiteral("cannot write %1: %2").arg(m_file->fileName(), m_file->errorString()));
        return;
    }
    m_received[m_index] += chunk.size();
    const qint64 total = std::accumulate(m_expected.begin(), m_expected.end(), qint64(0));
    qint64 done = 0;
    for (size_t i = 0; i < m_received.size(); ++i) done += std::min(m_received[i], m_expected[i]);
    ModelDownloadEvent e;
    e.kind = ModelDownloadEvent::Kind::progress;
    e.downloadedBytes = done;
    e.totalBytes = total;
    e.fraction = total > 0 ? std::min(kDownloadShare, kDownloadShare * double(done) / double(total)) : 0;
    e.text = m_index == 0 ? QStringLiteral("Downloading the model") : QStringLiteral("Downloading the vocabulary");
    emitEvent(e);
}

void MobileCLIPModelDownload::onFinished()
{
    if (!m_reply || m_cancelled->load()) return;
    onReadyRead(); // what is still buffered
    if (m_finished || !m_reply) return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString name = m_file->fileName().section('/', -1);
    // What is still buffered can fail too (a disk that filled up meanwhile).
    if (!m_file->flush()) {
        fail(QStringLiteral("cannot write %1: %2").arg(m_file->fileName(), m_file->errorString()));
        return;
    }
    m_file->close();
    if (status != 0 && (status < 200 || status > 299)) {
        fail(QStringLiteral("Sunucu yanıtı: HTTP %1").arg(status));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        fail(QStringLiteral("%1: %2").arg(name, reply->errorString()));
        return;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != m_received[m_index]) {
        fail(QStringLiteral("%1: received %2 of %3 bytes").arg(name).arg(m_received[m_index]).arg(length.toLongLong()));
        return;
    }
    if (m_received[m_index] == 0) {
        fail(QStringLiteral("%1: the server sent nothing").arg(name));
        return;
    }
    ++m_index;
    fetchNext();
}

void MobileCLIPModelDownload::compileAndInstall()
{
    m_workerStarted = true;
    const QString staging = m_staging;
    const Options options = m_options;
    const std::shared_ptr<std::atomic_bool> cancelled = m_cancelled;
    const QPointer<MobileCLIPModelDownload> self(this);
    // Events go back to this object's thread in order; a deleted or cancelled run gets none.
    const auto post = [self, cancelled](const ModelDownloadEvent &e) {
        if (cancelled->load()) return;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, e] {
            if (self) self->emitEvent(e);
        }, Qt::QueuedConnection);
    };
    QThreadPool::globalInstance()->start([staging, options, cancelled, post] {
        const QDir dir(staging);
        const QString out = dir.filePath("install");
        const auto run = [&]() -> std::optional<QString> {
            if (cancelled->load()) return QString();
            post(compiling(QStringLiteral("Inflating the vocabulary")));
            QFile gz(dir.filePath(QLatin1String(MobileCLIPModelManager::kDownloadedVocabName)));
            if (!gz.open(QIODevice::ReadOnly)) return QStringLiteral("cannot read the vocabulary");
            QString error;
            const std::optional<QByteArray> vocab = MobileCLIPModelManager::gunzip(gz.readAll(), &error);
            if (!vocab) return error;
            const int merges = MobileCLIPModelManager::countMergeLines(*vocab);
            if (merges < MobileCLIPModelManager::kRequiredMergeLines)
                return QStringLiteral("the vocabulary holds %1 usable merge lines, not %2")
                    .arg(merges)
                    .arg(MobileCLIPModelManager::kRequiredMergeLines);
            if (!QDir().mkpath(out)) return QStringLiteral("cannot create %1").arg(out);
            QFile text(QDir(out).filePath(QLatin1String(MobileCLIPModelManager::kVocabName)));
            if (!text.open(QIODevice::WriteOnly | QIODevice::Truncate) || text.write(*vocab) != vocab->size() || !text.flush())
                return QStringLiteral("cannot write the vocabulary: %1").arg(text.errorString());
            text.close();

            if (cancelled->load()) return QString();
            post(compiling(QStringLiteral("Checking the model")));
            const QString model = dir.filePath(QLatin1String(MobileCLIPModelManager::kDownloadedModelName));
            if (auto bad = MobileCLIPModelManager::verifyModelFile(model)) return bad;

            if (cancelled->load()) return QString();
            post(compiling(QStringLiteral("Fusing the image and text towers")));
            const QString program = options.helperProgram.isEmpty() ? MobileCLIPService::helperProgram() : options.helperProgram;
            if (program.isEmpty()) return QStringLiteral("the model helper program is missing");
            QStringList args{"fuse", "--model", model, "--out", out};
            if (options.textHeads > 0) args << "--heads" << QString::number(options.textHeads);
            QProcess helper;
            helper.start(program, args);
            if (!helper.waitForStarted(30'000)) return QStringLiteral("the model helper does not start");
            while (!helper.waitForFinished(100)) {
                if (helper.state() == QProcess::NotRunning) break;
                if (cancelled->load()) {
                    helper.kill();
                    helper.waitForFinished(-1);
                    return QString();
                }
            }
            if (helper.exitStatus() != QProcess::NormalExit || helper.exitCode() != 0) return helperFailure(helper);
            for (const char *name : {MobileCLIPModelManager::kImageModelName, MobileCLIPModelManager::kTextModelName})
                if (auto bad = MobileCLIPModelManager::verifyTensorFile(QDir(out).filePath(QLatin1String(name)))) return bad;

            if (cancelled->load()) return QString();
            return MobileCLIPModelManager::installItems(out, MobileCLIPModelManager::modelsDirectory());
        };
        const std::optional<QString> error = run();
        QDir(staging).removeRecursively();
        if (cancelled->load()) return;
        if (error) {
            post(failure(*error));
            return;
        }
        MobileCLIPService::reloadShared();
        ModelDownloadEvent done;
        done.kind = ModelDownloadEvent::Kind::completed;
        done.installedBytes = MobileCLIPModelManager::isInstalled() ? MobileCLIPModelManager::installedSizeBytes() : 0;
        post(done);
    });
}

void MobileCLIPModelDownload::fail(const QString &message)
{
    const bool wasCancelled = m_cancelled->load();
    finish();
    if (!wasCancelled) {
        m_finished = true;
        if (m_sink) m_sink(failure(message));
    }
}

// Ends the network side; the staging folder goes unless the worker owns it now.
void MobileCLIPModelDownload::finish()
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (m_file) m_file->close();
    if (!m_workerStarted && !m_staging.isEmpty()) {
        QDir(m_staging).removeRecursively();
        m_staging.clear();
    }
}

void MobileCLIPModelDownload::cancel()
{
    if (m_finished) return;
    m_cancelled->store(true);
    m_finished = true;
    finish();
}
