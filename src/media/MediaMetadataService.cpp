#include "MediaMetadataService.h"

#include "library/BackgroundPriority.h"
#include "library/HiddenTools.h"

#include "ExternalTools.h"
#include "FFmpegMedia.h"
#include "FreedesktopThumbnails.h"

#include "library/FileNames.h"

#include <QCache>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QPointer>
#include <QPromise>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

#include <sys/stat.h>

namespace lkmedia {

struct Ticket {
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    std::atomic<int> priority{int(MediaRequestPriority::normal)};
    quint64 sequence = 0;
    quint64 generation = 0;
};

} // namespace lkmedia

using lkmedia::Ticket;

void MediaRequest::cancel()
{
    if (m_ticket)
        m_ticket->cancelled = true;
}

bool MediaRequest::isCancelled() const { return !m_ticket || m_ticket->cancelled; }

bool MediaRequest::isFinished() const { return !m_ticket || m_ticket->finished || m_ticket->cancelled; }

void MediaRequest::setPriority(MediaRequestPriority priority)
{
    if (m_ticket)
        m_ticket->priority = int(priority);
}

quint64 MediaRequest::generation() const { return m_ticket ? m_ticket->generation : 0; }

namespace {

constexpr int kThumbnailCacheCount = 450;
constexpr double kFrameSeconds = 1.5;

struct Result {
    QImage image;
    VideoMediaInfo info;
};

struct Waiter {
    std::shared_ptr<Ticket> ticket;
    std::function<bool()> wanted;
    std::function<void(const Result &)> deliver;
};

// Size and modification time: a file that changed in either is worth another try.
struct FileStamp {
    bool exists = false;
    qint64 size = 0;
    qint64 modifiedMs = 0;
    bool operator==(const FileStamp &) const = default;
};

FileStamp stampOf(const QString &path)
{
    struct stat st {};
    if (::stat(FileNames::encode(path).constData(), &st) != 0)
        return {};
    return {true, qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000};
}

enum class Lane { work = 0, programs = 1 };

struct Job {
    enum class Kind { thumbnail, metadata };
    Kind kind = Kind::metadata;
    QString path;     // path key
    QString key;      // thumbnail key, or the path key
    QString filePath; // as given, for the programs
    QSizeF size;
    quint64 pathGeneration = 0;
    // Guarded by the service's mutex:
    std::vector<Waiter> waiters;
    bool superseded = false; // the file was invalidated; the callers went to a newer job
    bool done = false;
};
using JobPtr = std::shared_ptr<Job>;

// Only regular files are handed to any reader: a FIFO or device swapped in under a listed
// name would block it for good.
bool isReadable(const Job &job) { return FileNames::isRegularFile(job.filePath); }

// The external programs take their arguments as text, which cannot carry names that are
// not UTF-8; such files are read by the libraries only.
bool programsCanRead(const Job &job) { return !FileNames::hasRawBytes(job.filePath); }

// Sorted newest-first among equals, visible rows before the rest.
struct Rank {
    int priority = -1;
    quint64 sequence = 0;
    bool operator>(const Rank &o) const
    {
        return priority != o.priority ? priority > o.priority : sequence > o.sequence;
    }
};

bool validSize(const QSizeF &size)
{
    const double limit = double(std::numeric_limits<int>::max());
    return std::isfinite(size.width()) && std::isfinite(size.height()) && std::abs(size.width()) <= limit &&
           std::abs(size.height()) <= limit;
}

// A caller's waiter: results go to `context`'s thread, and only while the caller still
// wants them. Where to post is settled here, on the caller's thread while `context` is
// surely alive: a worker may find it deleted between any check and its use, so a worker
// touches it only through the guard, and a context on the GUI thread not at all (its
// calls are posted to the application object and check the guard there).
template <typename Value, typename Handler>
Waiter contextWaiter(const std::shared_ptr<Ticket> &ticket, const QObject *context, Handler onDone,
                     Value Result::*field)
{
    const QPointer<const QObject> guard(context);
    QObject *app = QCoreApplication::instance();
    const QPointer<QObject> target(app && context->thread() == app->thread() ? app : nullptr);
    const bool viaApplication = !target.isNull();
    Waiter waiter;
    waiter.ticket = ticket;
    waiter.wanted = [ticket, guard] { return !ticket->cancelled && !guard.isNull(); };
    waiter.deliver = [ticket, guard, target, viaApplication, onDone = std::move(onDone), field](const Result &result) {
        auto call = [ticket, guard, onDone, value = result.*field] {
            if (!guard || ticket->cancelled || ticket->finished.exchange(true))
                return;
            onDone(value, ticket->generation);
        };
        if (viaApplication) {
            if (QObject *app = target.data())
                QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
        } else if (const QObject *ctx = guard.data()) {
            QMetaObject::invokeMethod(const_cast<QObject *>(ctx), std::move(call), Qt::QueuedConnection);
        }
    };
    return waiter;
}

// A waiter that fulfils a promise; cancelling its future withdraws it.
template <typename Value>
Waiter promiseWaiter(const std::shared_ptr<Ticket> &ticket, const std::shared_ptr<QPromise<Value>> &promise,
                     Value Result::*field)
{
    return Waiter{ticket, [promise] { return !promise->isCanceled(); },
                  [promise, field](const Result &result) {
                      promise->addResult(result.*field);
                      promise->finish();
                  }};
}

std::optional<QString> firstExecutable(const char *name)
{
    if (isToolHidden(name)) return std::nullopt;
    for (const char *dir : {"/opt/homebrew/bin/", "/usr/local/bin/", "/usr/bin/"}) {
        const QString path = QLatin1String(dir) + QLatin1String(name);
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return std::nullopt;
}

std::optional<QString> chosenProgram(const std::optional<QString> &injected, const std::optional<QString> &standard)
{
    if (!injected)
        return standard;
    if (injected->isEmpty())
        return std::nullopt;
    return injected;
}

} // namespace

struct MediaMetadataService::Impl {
    Options opt;
    std::optional<QString> ffmpeg;
    std::optional<QString> ffprobe;
    QString thumbnailRoot;

    mutable QMutex mutex;
    mutable QCache<QString, QImage> thumbnailCache{kThumbnailCacheCount};
    QHash<QString, VideoMediaInfo> metadataCache;
    QHash<QString, JobPtr> inFlightThumbnails;
    QHash<QString, JobPtr> inFlightMetadata;
    QHash<QString, FileStamp> thumbnailFailures; // thumbnail key -> the file as it was then
    QHash<QString, quint64> generations;         // path key -> invalidations so far
    std::vector<JobPtr> pending[2];
    quint64 sequence = 0;
    Counters counters;
    std::atomic<bool> stopping{false};

    QThreadPool pools[2];

    quint64 generationOf(const QString &path) const { return generations.value(path, 0); }

    // Caller holds the mutex.
    void enqueue(const JobPtr &job, Lane lane)
    {
        pending[int(lane)].push_back(job);
        pools[int(lane)].start(inBackground([this, lane] { runNext(lane); }));
    }

    // Caller holds the mutex.
    static bool anyoneWaiting(const Job &job)
    {
        for (const Waiter &w : job.waiters)
            if (w.wanted())
                return true;
        return false;
    }

    // Caller holds the mutex. Work nobody waits for any more is dropped, and its in-flight
    // entry removed so that a later request starts afresh.
    void abandon(const JobPtr &job)
    {
        job->done = true;
        auto &table = job->kind == Job::Kind::thumbnail ? inFlightThumbnails : inFlightMetadata;
        auto it = table.find(job->key);
        if (it != table.end() && it.value() == job)
            table.erase(it);
        job->waiters.clear();
    }

    bool shouldStop(const JobPtr &job)
    {
        if (stopping)
            return true;
        QMutexLocker lock(&mutex);
        if (job->superseded || job->done)
            return true;
        if (!anyoneWaiting(*job)) {
            abandon(job);
            return true;
        }
        return false;
    }

    void runNext(Lane lane)
    {
        JobPtr job;
        {
            QMutexLocker lock(&mutex);
            auto &queue = pending[int(lane)];
            Rank best;
            size_t bestIndex = 0;
            for (size_t i = 0; i < queue.size();) {
                const JobPtr &candidate = queue[i];
                Rank rank;
                if (!candidate->superseded)
                    for (const Waiter &w : candidate->waiters)
                        if (w.wanted()) {
                            const Rank r{w.ticket->priority.load(), w.ticket->sequence};
                            if (r > rank)
                                rank = r;
                        }
                if (rank.priority < 0) {
                    if (!candidate->superseded)
                        abandon(candidate);
                    queue.erase(queue.begin() + qsizetype(i));
                    continue;
                }
                if (rank > best) {
                    best = rank;
                    bestIndex = i;
                }
                ++i;
            }
            if (best.priority < 0)
                return;
            job = queue[bestIndex];
            queue.erase(queue.begin() + bestIndex);
        }
        if (stopping)
            return;
        if (job->kind == Job::Kind::thumbnail)
            lane == Lane::work ? runThumbnail(job) : runFFmpegThumbnail(job);
        else
            lane == Lane::work ? runMetadata(job) : runFFprobe(job);
    }

    // ---- thumbnails ----

    void runThumbnail(const JobPtr &job)
    {
        const FileStamp stamp = stampOf(job->filePath);
        if (!isReadable(*job)) {
            finish(job, {}, true, stamp);
            return;
        }
        {
            QMutexLocker lock(&mutex);
            auto failed = thumbnailFailures.constFind(job->key);
            if (failed != thumbnailFailures.constEnd() && failed.value() == stamp) {
                lock.unlock();
                finish(job, {}, false);
                return;
            }
        }
        const int maxW = int(std::min(2.0 * job->size.width(), double(std::numeric_limits<int>::max())));
        const int maxH = int(std::min(2.0 * job->size.height(), double(std::numeric_limits<int>::max())));

        QImage image = generateQuickLookThumbnail(*job, stamp, maxW, maxH);
        if (image.isNull() && !shouldStop(job))
            image = generateAVThumbnail(job, maxW, maxH);
        if (!image.isNull()) {
            finish(job, Result{image, {}}, true, stamp);
            return;
        }
        if (shouldStop(job))
            return;
        if (ffmpeg && programsCanRead(*job)) {
            QMutexLocker lock(&mutex);
            if (!job->superseded && !job->done)
                enqueue(job, Lane::programs);
            return;
        }
        finish(job, {}, true, stamp);
    }

    QImage generateQuickLookThumbnail(const Job &job, const FileStamp &stamp, int maxW, int maxH)
    {
        if (!stamp.exists)
            return {};
        return lkmedia::cachedFreedesktopThumbnail(thumbnailRoot, job.path, stamp.modifiedMs / 1000, maxW, maxH);
    }

    QImage generateAVThumbnail(const JobPtr &job, int maxW, int maxH)
    {
        {
            QMutexLocker lock(&mutex);
            ++counters.inProcessFrames;
        }
        return lkmedia::decodeFrame(job->path, kFrameSeconds, maxW, maxH, [this, job] { return shouldStop(job); });
    }

    void runFFmpegThumbnail(const JobPtr &job)
    {
        if (shouldStop(job))
            return;
        // The stamp is taken before the run, so a file rewritten meanwhile is tried again.
        const FileStamp stamp = stampOf(job->filePath);
        const QImage image = ffmpegThumbnail(job);
        if (image.isNull() && shouldStop(job))
            return;
        finish(job, Result{image, {}}, true, stamp);
    }

    QImage ffmpegThumbnail(const JobPtr &job)
    {
        // Seeking 2 s in can land past a file's only key frame (MPEG-TS, say) and yield
        // nothing: then the first frame stands in.
        for (const bool fromStart : {false, true}) {
            const lkmedia::ToolRun run = runProgram(
                *ffmpeg, lkmedia::ffmpegThumbnailArguments(job->filePath, job->size, fromStart), opt.frameTimeoutMs, job);
            if (run.completed() && !run.output.isEmpty())
                return QImage::fromData(run.output);
            // Only a run that went well and found no frame is worth the second one.
            if (!run.completed() || run.exitCode != 0 || shouldStop(job))
                return {};
        }
        return {};
    }

    // ---- facts ----

    void runMetadata(const JobPtr &job)
    {
        if (!isReadable(*job)) {
            finish(job, {}, true);
            return;
        }
        {
            QMutexLocker lock(&mutex);
            ++counters.inProcessProbes;
        }
        if (std::optional<VideoMediaInfo> info = loadAVMetadata(*job)) {
            finish(job, Result{{}, *info}, true);
            return;
        }
        if (shouldStop(job))
            return;
        if (ffprobe && programsCanRead(*job)) {
            QMutexLocker lock(&mutex);
            if (!job->superseded && !job->done)
                enqueue(job, Lane::programs);
            return;
        }
        finish(job, {}, true);
    }

    std::optional<VideoMediaInfo> loadAVMetadata(const Job &job)
    {
        const QString extension = QFileInfo(job.path).suffix().toLower();
        return lkmedia::probeFile(job.path, VideoFile::nativeVideoExtensions().contains(extension));
    }

    void runFFprobe(const JobPtr &job)
    {
        if (shouldStop(job))
            return;
        std::optional<VideoMediaInfo> info = probeWithFFprobe(job);
        if (!info && shouldStop(job))
            return;
        finish(job, Result{{}, info.value_or(VideoMediaInfo{})}, true);
    }

    std::optional<VideoMediaInfo> probeWithFFprobe(const JobPtr &job)
    {
        const lkmedia::ToolRun run =
            runProgram(*ffprobe, lkmedia::ffprobeArguments(job->filePath), opt.factsTimeoutMs, job);
        if (!run.completed() || run.exitCode != 0)
            return std::nullopt;
        std::optional<VideoMediaInfo> info = lkmedia::parseFFprobeOutput(run.output);
        if (info)
            info->isPlayableNatively = false;
        return info;
    }

    lkmedia::ToolRun runProgram(const QString &program, const QStringList &args, int timeoutMs, const JobPtr &job)
    {
        lkmedia::ToolRun run = lkmedia::runTool(program, args, timeoutMs, [this, job] { return shouldStop(job); });
        QMutexLocker lock(&mutex);
        if (run.started)
            ++counters.programRuns;
        if (run.timedOut)
            ++counters.programTimeouts;
        return run;
    }

    // ---- results ----

    void finish(const JobPtr &job, const Result &result, bool remember, const FileStamp &stamp = {})
    {
        std::vector<Waiter> waiters;
        {
            QMutexLocker lock(&mutex);
            // An invalidated job's callers already wait on its successor; an older
            // generation's answer is never stored, and never clears a newer job's entry.
            if (job->superseded || job->done)
                return;
            job->done = true;
            const bool thumb = job->kind == Job::Kind::thumbnail;
            auto &table = thumb ? inFlightThumbnails : inFlightMetadata;
            auto it = table.find(job->key);
            if (it != table.end() && it.value() == job)
                table.erase(it);
            if (remember && job->pathGeneration == generationOf(job->path)) {
                if (!thumb) {
                    metadataCache.insert(job->path, result.info);
                } else if (!result.image.isNull()) {
                    thumbnailCache.insert(job->key, new QImage(result.image));
                    thumbnailFailures.remove(job->key);
                } else if (stamp.exists) {
                    thumbnailFailures.insert(job->key, stamp);
                }
            }
            waiters.swap(job->waiters);
        }
        for (const Waiter &w : waiters)
            if (w.wanted())
                w.deliver(result);
    }

    // ---- requests ----

    // Answers a waiter at once from the cache, or joins or starts the work for it. A file
    // URL with no path, or a size that is not finite, gets the empty result.
    void serve(Job::Kind kind, const QUrl &url, const QSizeF &size, Waiter waiter)
    {
        const bool thumb = kind == Job::Kind::thumbnail;
        const QString path = pathKey(url);
        if (path.isEmpty() || (thumb && !validSize(size))) {
            waiter.deliver({});
            return;
        }
        const QString key = thumb ? thumbnailKey(url, size) : path;
        QMutexLocker lock(&mutex);
        std::optional<Result> hit;
        if (thumb) {
            if (const QImage *image = thumbnailCache.object(key))
                hit = Result{*image, {}};
        } else if (auto it = metadataCache.constFind(path); it != metadataCache.constEnd()) {
            hit = Result{{}, it.value()};
        }
        if (hit) {
            lock.unlock();
            waiter.deliver(*hit);
            return;
        }
        attach(thumb ? inFlightThumbnails : inFlightMetadata, kind, path, key, url.toLocalFile(), thumb ? size : QSizeF(),
               std::move(waiter));
    }

    std::shared_ptr<Ticket> makeTicket(const MediaRequestOptions &options)
    {
        auto ticket = std::make_shared<Ticket>();
        ticket->priority = int(options.priority);
        ticket->generation = options.generation;
        return ticket;
    }

    // Caller holds the mutex.
    void attach(QHash<QString, JobPtr> &table, Job::Kind kind, const QString &path, const QString &key,
                const QString &filePath, const QSizeF &size, Waiter waiter)
    {
        waiter.ticket->sequence = ++sequence;
        auto it = table.find(key);
        if (it != table.end()) {
            it.value()->waiters.push_back(std::move(waiter));
            return;
        }
        auto job = std::make_shared<Job>();
        job->kind = kind;
        job->path = path;
        job->key = key;
        job->filePath = filePath;
        job->size = size;
        job->pathGeneration = generationOf(path);
        job->waiters.push_back(std::move(waiter));
        table.insert(key, job);
        if (kind == Job::Kind::thumbnail)
            ++counters.thumbnailJobs;
        else
            ++counters.metadataJobs;
        enqueue(job, Lane::work);
    }

    // Caller holds the mutex. Moves the callers of an invalidated job to a fresh one.
    void restart(QHash<QString, JobPtr> &table, const JobPtr &old)
    {
        old->superseded = true;
        table.remove(old->key);
        std::vector<Waiter> waiters;
        for (Waiter &w : old->waiters)
            if (w.wanted())
                waiters.push_back(std::move(w));
        old->waiters.clear();
        for (Waiter &w : waiters)
            attach(table, old->kind, old->path, old->key, old->filePath, old->size, std::move(w));
    }
};

MediaMetadataService::MediaMetadataService() : MediaMetadataService(Options{}) {}

MediaMetadataService::MediaMetadataService(Options options) : d(std::make_shared<Impl>())
{
    d->opt = std::move(options);
    d->ffmpeg = chosenProgram(d->opt.ffmpegPath, ffmpegPath());
    d->ffprobe = chosenProgram(d->opt.ffprobePath, ffprobePath());
    d->thumbnailRoot = d->opt.thumbnailCacheRoot.isEmpty() ? lkmedia::defaultThumbnailCacheRoot()
                                                           : d->opt.thumbnailCacheRoot;
    const int cores = std::max(1, QThread::idealThreadCount());
    d->pools[int(Lane::work)].setMaxThreadCount(d->opt.workerThreads > 0 ? d->opt.workerThreads : cores);
    d->pools[int(Lane::programs)].setMaxThreadCount(d->opt.programThreads > 0 ? d->opt.programThreads
                                                                              : std::max(1, cores / 2));
}

MediaMetadataService::~MediaMetadataService()
{
    d->stopping = true;
    {
        QMutexLocker lock(&d->mutex);
        d->pending[0].clear();
        d->pending[1].clear();
    }
    d->pools[0].waitForDone();
    d->pools[1].waitForDone();
}

MediaMetadataService &MediaMetadataService::shared()
{
    // Lives as long as the process; never torn down behind late callers.
    static MediaMetadataService *instance = new MediaMetadataService;
    return *instance;
}

void MediaMetadataService::invalidate(const QUrl &url)
{
    const QString path = pathKey(url);
    QMutexLocker lock(&d->mutex);
    ++d->generations[path];
    d->metadataCache.remove(path);
    if (JobPtr job = d->inFlightMetadata.value(path))
        d->restart(d->inFlightMetadata, job);

    d->thumbnailCache.clear();
    const QString prefix = path + QLatin1Char('#');
    std::vector<JobPtr> thumbs;
    for (auto it = d->inFlightThumbnails.cbegin(); it != d->inFlightThumbnails.cend(); ++it)
        if (it.value()->path == path)
            thumbs.push_back(it.value());
    for (const JobPtr &job : thumbs)
        d->restart(d->inFlightThumbnails, job);
    for (auto it = d->thumbnailFailures.begin(); it != d->thumbnailFailures.end();)
        it = it.key().startsWith(prefix) ? d->thumbnailFailures.erase(it) : std::next(it);
}

MediaRequest MediaMetadataService::thumbnail(const QUrl &url, const QSizeF &size, const QObject *context,
                                             ThumbnailHandler onDone, MediaRequestOptions options)
{
    auto ticket = d->makeTicket(options);
    if (context && onDone)
        d->serve(Job::Kind::thumbnail, url, size, contextWaiter(ticket, context, std::move(onDone), &Result::image));
    return MediaRequest(ticket);
}

MediaRequest MediaMetadataService::metadata(const QUrl &url, const QObject *context, MetadataHandler onDone,
                                            MediaRequestOptions options)
{
    auto ticket = d->makeTicket(options);
    if (context && onDone)
        d->serve(Job::Kind::metadata, url, {}, contextWaiter(ticket, context, std::move(onDone), &Result::info));
    return MediaRequest(ticket);
}

QFuture<QImage> MediaMetadataService::thumbnail(const QUrl &url, const QSizeF &size, MediaRequestOptions options)
{
    auto promise = std::make_shared<QPromise<QImage>>();
    promise->start();
    QFuture<QImage> future = promise->future();
    d->serve(Job::Kind::thumbnail, url, size, promiseWaiter(d->makeTicket(options), promise, &Result::image));
    return future;
}

QFuture<VideoMediaInfo> MediaMetadataService::metadata(const QUrl &url, MediaRequestOptions options)
{
    auto promise = std::make_shared<QPromise<VideoMediaInfo>>();
    promise->start();
    QFuture<VideoMediaInfo> future = promise->future();
    d->serve(Job::Kind::metadata, url, {}, promiseWaiter(d->makeTicket(options), promise, &Result::info));
    return future;
}

std::optional<QImage> MediaMetadataService::cachedThumbnail(const QUrl &url, const QSizeF &size) const
{
    if (!validSize(size))
        return std::nullopt;
    const QString key = thumbnailKey(url, size);
    QMutexLocker lock(&d->mutex);
    if (const QImage *hit = d->thumbnailCache.object(key))
        return *hit;
    return std::nullopt;
}

std::optional<VideoMediaInfo> MediaMetadataService::cachedMetadata(const QUrl &url) const
{
    const QString path = pathKey(url);
    QMutexLocker lock(&d->mutex);
    auto hit = d->metadataCache.constFind(path);
    if (hit == d->metadataCache.constEnd())
        return std::nullopt;
    return hit.value();
}

std::optional<QString> MediaMetadataService::ffmpegProgram() const { return d->ffmpeg; }
std::optional<QString> MediaMetadataService::ffprobeProgram() const { return d->ffprobe; }
const MediaMetadataService::Options &MediaMetadataService::options() const { return d->opt; }

MediaMetadataService::Counters MediaMetadataService::counters() const
{
    QMutexLocker lock(&d->mutex);
    return d->counters;
}

const std::optional<QString> &MediaMetadataService::ffmpegPath()
{
    static const std::optional<QString> path = firstExecutable("ffmpeg");
    return path;
}

const std::optional<QString> &MediaMetadataService::ffprobePath()
{
    static const std::optional<QString> path = firstExecutable("ffprobe");
    return path;
}

QString MediaMetadataService::pathKey(const QUrl &url)
{
    const QString local = url.toLocalFile();
    return local.isEmpty() ? QString() : standardizedPath(local);
}

QString MediaMetadataService::thumbnailKey(const QUrl &url, const QSizeF &size)
{
    auto truncated = [](double v) {
        const double limit = double(std::numeric_limits<int>::max());
        return std::isfinite(v) ? qint64(std::clamp(v, -limit, limit)) : qint64(0);
    };
    return pathKey(url) + QLatin1Char('#') + QString::number(truncated(size.width())) + QLatin1Char('x') +
           QString::number(truncated(size.height()));
}

QString MediaMetadataService::codecName(quint32 code)
{
    auto is = [code](const char *t) {
        return code == (quint32(quint8(t[0])) << 24 | quint32(quint8(t[1])) << 16 | quint32(quint8(t[2])) << 8 |
                        quint32(quint8(t[3])));
    };
    if (is("av01"))
        return QStringLiteral("AV1");
    if (is("avc1"))
        return QStringLiteral("H.264");
    if (is("hvc1") || is("muxa"))
        return QStringLiteral("HEVC (H.265)");
    if (is("mp4v"))
        return QStringLiteral("MPEG-4");
    if (is("vp09"))
        return QStringLiteral("VP9");
    if (is("ap4h") || is("ap4x"))
        return QStringLiteral("Apple ProRes 4444");
    if (is("apch") || is("apcn") || is("apco") || is("apcs"))
        return QStringLiteral("Apple ProRes 422");
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((code >> shift) & 0xff);
        if (uchar(c) > 0x7f)
            return QStringLiteral("Video");
        bytes.append(c);
    }
    const QString text = QString::fromLatin1(bytes).trimmed().toUpper();
    const bool printable = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x20; });
    return text.isEmpty() || !printable ? QStringLiteral("Video") : text;
}
