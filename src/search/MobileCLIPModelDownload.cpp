#include "search/MobileCLIPModelDownload.h"

#include "library/L10n.h"
#include "search/MobileCLIPModelManager.h"
#include "search/MobileCLIPService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QElapsedTimer>
#include <QThread>
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
    e.text = L10n::text(QStringLiteral("ai.downloadFailed")) + message;
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

// The network side of a download, on a thread of its own: each chunk goes to the disk there,
// so neither a slow disk nor a fast server holds up the thread that started the download.
// The reply keeps at most kReadBufferBytes; past that the data waits in the kernel.
struct ModelFetcherReport {
    enum class Kind { progress, failed, done };
    Kind kind = Kind::progress;
    qint64 done = 0, total = 0;
    size_t fileIndex = 0;
    QString message; // failed
};

class ModelFetcher : public QObject
{
public:
    using Report = ModelFetcherReport;
    using Sink = std::function<void(const Report &)>;

    ModelFetcher(std::vector<MobileCLIPModelManager::DownloadFile> files, QString staging,
                 std::shared_ptr<std::atomic_bool> cancelled, Sink sink)
        : m_files(std::move(files)), m_staging(std::move(staging)), m_cancelled(std::move(cancelled)),
          m_sink(std::move(sink))
    {
        for (const auto &f : m_files) {
            m_expected.push_back(f.approxBytes);
            m_received.push_back(0);
        }
    }
    ~ModelFetcher() override { stop(); }

    // Runs in the fetcher's thread.
    void start()
    {
        m_network = new QNetworkAccessManager(this);
        m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        m_network->setTransferTimeout(60'000);
        m_sinceReport.start();
        fetchNext();
    }

private:
    void fetchNext()
    {
        if (m_cancelled->load()) return;
        if (m_index >= m_files.size()) {
            m_sink({Report::Kind::done});
            return;
        }
        const auto &spec = m_files[m_index];
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
        request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromLatin1(MobileCLIPModelDownload::kUserAgent));
        m_reply = m_network->get(request);
        m_reply->setReadBufferSize(MobileCLIPModelDownload::kReadBufferBytes);
        connect(m_reply, &QNetworkReply::readyRead, this, &ModelFetcher::onReadyRead);
        connect(m_reply, &QNetworkReply::finished, this, &ModelFetcher::onFinished);
    }

    // Writes all of `data`. The rest of a short write is tried again, so that a failure ends
    // in a write that carries the system's reason (a full disk, a size limit).
    bool writeAll(const QByteArray &data)
    {
        qint64 written = 0;
        while (written < data.size()) {
            const qint64 n = m_file->write(data.constData() + written, data.size() - written);
            if (n <= 0) return false;
            written += n;
        }
        return true;
    }

    void onReadyRead()
    {
        if (!m_reply || m_cancelled->load()) return;
        // An error page is not the file; a reply without a status (a file:// address) has none.
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) return;
        const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > 0) m_expected[m_index] = length;
        const QByteArray chunk = m_reply->readAll();
        if (chunk.isEmpty()) return;
        if (!writeAll(chunk)) {
            fail(QStringLiteral("cannot write %1: %2").arg(m_file->fileName(), m_file->errorString()));
            return;
        }
        m_received[m_index] += chunk.size();
        // A few reports a second are enough for a progress bar; one per chunk would flood the
        // starting thread with thousands of them.
        if (m_reported && m_sinceReport.elapsed() < 100) return;
        m_reported = true;
        m_sinceReport.restart();
        report();
    }

    void report()
    {
        Report r;
        r.fileIndex = m_index;
        r.total = std::accumulate(m_expected.begin(), m_expected.end(), qint64(0));
        for (size_t i = 0; i < m_received.size(); ++i) r.done += std::min(m_received[i], m_expected[i]);
        m_sink(r);
    }

    void onFinished()
    {
        if (!m_reply || m_cancelled->load()) return;
        onReadyRead(); // what is still buffered
        if (m_failed || !m_reply) return;
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
            fail(L10n::text(QStringLiteral("ai.serverAnswer")) + QStringLiteral(" HTTP ") + QString::number(status));
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
        report(); // the file's end, whatever the last report was
        ++m_index;
        fetchNext();
    }

    void fail(const QString &message)
    {
        stop();
        m_failed = true;
        Report r;
        r.kind = Report::Kind::failed;
        r.message = message;
        m_sink(r);
    }

    void stop()
    {
        if (m_reply) {
            QNetworkReply *reply = m_reply;
            m_reply = nullptr;
            reply->disconnect(this);
            reply->abort();
            delete reply;
        }
        if (m_file) m_file->close();
    }

    std::vector<MobileCLIPModelManager::DownloadFile> m_files;
    QString m_staging;
    std::shared_ptr<std::atomic_bool> m_cancelled;
    Sink m_sink;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QFile> m_file;
    std::vector<qint64> m_expected; // per file: Content-Length, else the table's estimate
    std::vector<qint64> m_received;
    size_t m_index = 0;
    bool m_failed = false;
    bool m_reported = false;
    QElapsedTimer m_sinceReport;
};

MobileCLIPModelDownload::MobileCLIPModelDownload(Options options, EventSink sink, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_sink(std::move(sink))
{
}

MobileCLIPModelDownload::~MobileCLIPModelDownload()
{
    cancel();
    stopFetcher();
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
    // Reports come back to this object's thread; the thread is joined before this object goes,
    // so none reaches it after.
    auto sink = [this](const ModelFetcher::Report &r) {
        QMetaObject::invokeMethod(this, [this, r] { onReport(r); }, Qt::QueuedConnection);
    };
    m_fetcherThread = new QThread;
    m_fetcherThread->setObjectName(QStringLiteral("model download"));
    m_fetcher = new ModelFetcher(MobileCLIPModelManager::downloadFiles(), m_staging, m_cancelled, sink);
    m_fetcher->moveToThread(m_fetcherThread);
    connect(m_fetcherThread, &QThread::finished, m_fetcher, &QObject::deleteLater);
    m_fetcherThread->start();
    QMetaObject::invokeMethod(m_fetcher, &ModelFetcher::start, Qt::QueuedConnection);
}

void MobileCLIPModelDownload::onReport(const ModelFetcherReport &r)
{
    if (m_finished || m_cancelled->load()) return;
    switch (r.kind) {
    case ModelFetcher::Report::Kind::progress: {
        ModelDownloadEvent e;
        e.kind = ModelDownloadEvent::Kind::progress;
        e.downloadedBytes = r.done;
        e.totalBytes = r.total;
        e.fraction = r.total > 0 ? std::min(kDownloadShare, kDownloadShare * double(r.done) / double(r.total)) : 0;
        e.text = r.fileIndex == 0 ? QStringLiteral("Downloading the model") : QStringLiteral("Downloading the vocabulary");
        emitEvent(e);
        break;
    }
    case ModelFetcher::Report::Kind::failed:
        fail(r.message);
        break;
    case ModelFetcher::Report::Kind::done:
        stopFetcher();
        compileAndInstall();
        break;
    }
}

// Ends the fetcher's thread and waits for it: its file is closed and its reply gone after.
void MobileCLIPModelDownload::stopFetcher()
{
    if (!m_fetcherThread) return;
    m_fetcherThread->quit();
    m_fetcherThread->wait();
    delete m_fetcherThread;
    m_fetcherThread = nullptr;
    m_fetcher = nullptr; // deleted as its thread ended
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
    stopFetcher();
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
