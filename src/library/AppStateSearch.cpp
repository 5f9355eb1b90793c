#include "AppStatePrivate.h"
#include "BackgroundPriority.h"

#include "BookmarkService.h"
#include "L10n.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <utility>
#include <future>
#include <cmath>


// ---- model status and cached indexes ----

OnDeviceAIEngineStatus AppState::computeEngineStatus() const
{
    OnDeviceSearchServices &s = *d->services.onDeviceSearch;
    if (s.hasMobileCLIPService())
        return OnDeviceAIEngineStatus::mobileCLIPAndVision(s.isSystemLanguageModelAvailable());
    return OnDeviceAIEngineStatus::appleVisionOnly();
}

void AppState::refreshAIModelStatus()
{
    OnDeviceSearchServices &s = *d->services.onDeviceSearch;
    const bool installed = s.isModelInstalled();
    const int dimension = s.sceneEmbeddingDimension();
    if (std::exchange(d->sceneEmbeddingDimension, dimension) != dimension)
        invalidate(Derived::indexedCount);
    setIsMobileCLIPInstalled(installed || s.hasMobileCLIPService());
    std::optional<QString> sizeText;
    if (installed) {
        const qint64 bytes = s.installedSizeBytes();
        if (bytes > 0)
            sizeText = formatByteCount(bytes);
    }
    setAiModelInstalledSizeText(sizeText);
    setAiEngineStatus(computeEngineStatus());
}

void AppState::loadCachedIndexes()
{
    // The services may read their files first: ask them off the GUI thread.
    const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
    QPointer<AppState> self(this);
    QThreadPool::globalInstance()->start([services, self] {
        VisualIndexMap index = services->visualIndex();
        TranscriptMap transcripts = services->transcripts();
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, index, transcripts] {
            if (!self)
                return;
            // Entries an indexing run made meanwhile are newer than the file's.
            VisualIndexMap mergedIndex = index;
            for (auto it = self->m_aiIndexEntries.cbegin(); it != self->m_aiIndexEntries.cend(); ++it)
                mergedIndex.insert(it.key(), it.value());
            self->setAiIndexEntries(mergedIndex);
            self->d->cachedIndexesLoaded = true;
            if (std::exchange(self->d->indexTriggerWaiting, false) && self->m_isAISearchMode)
                self->triggerAIIndexingForSearchMode();
            // A transcript made while the file was loading is newer than the file's.
            TranscriptMap merged = transcripts;
            for (auto it = self->m_speechTranscripts.cbegin(); it != self->m_speechTranscripts.cend(); ++it)
                merged.insert(it.key(), it.value());
            self->setSpeechTranscripts(merged);
        }, Qt::QueuedConnection);
    });
}

// ---- on-device search ----

void AppState::scheduleAISearch()
{
    m_aiSearchTask.cancel();
    const QString query = trimmed(m_searchQuery);
    if (query.isEmpty()) {
        setAiSearchScores({});
        setAiSearchHits({});
        setIsAISearchRunning(false);
        rebuildTree(false);
        return;
    }
    setIsAISearchRunning(true);
    const TaskHandle task = TaskHandle::make();
    m_aiSearchTask = task;
    const QList<VideoFile> snapshot = m_allVideos;
    const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
    QPointer<AppState> self(this);
    // One search per typing pause: a newer keystroke cancels this one before it starts.
    QTimer::singleShot(160, this, [self, task, query, snapshot, services] {
        if (!self || task.isCancelled())
            return;
        QThreadPool::globalInstance()->start([self, task, query, snapshot, services] {
            // Both searches at once; the transcript one on a thread of its own.
            auto speech = std::async(std::launch::async, [&] { return services->transcriptSearch(query, snapshot); });
            SearchHitMap visual = services->visualSearch(query, snapshot);
            const SearchHitMap spoken = speech.get();
            SearchHitMap merged = mergeSearchHits(std::move(visual), spoken);
            QMetaObject::invokeMethod(QCoreApplication::instance(), [self, task, merged] {
                // A search superseded meanwhile never publishes.
                if (!self || task.isCancelled())
                    return;
                ScoreMap scores;
                scores.reserve(merged.size());
                for (auto it = merged.cbegin(); it != merged.cend(); ++it)
                    scores.insert(it.key(), it.value().score);
                self->setAiSearchHits(merged);
                self->setAiSearchScores(scores);
                self->setIsAISearchRunning(false);
                self->rebuildTree(false);
            }, Qt::QueuedConnection);
        });
    });
}

void AppState::triggerAIIndexingForSearchMode()
{
    if (!d->cachedIndexesLoaded) {
        d->indexTriggerWaiting = true;
        return;
    }
    if (m_aiIndexEntries.isEmpty() && !m_allVideos.isEmpty() && !m_isAIIndexing && m_isMobileCLIPInstalled)
        startAIIndexingIfNeeded();
}

void AppState::setAISearchMode(bool on)
{
    if (on) {
        triggerAIIndexingForSearchMode();
        scheduleAISearch();
        return;
    }
    m_aiSearchTask.cancel();
    setAiSearchScores({});
    setAiSearchHits({});
    setIsAISearchRunning(false);
    rebuildTree(false);
}

// ---- library indexing run ----

namespace {

constexpr int kIndexWorkers = 6;
constexpr int kIndexBatch = 25;

// The videos being indexed, at most kIndexWorkers per run. Left to the end of the process:
// a worker may still be inside a video when the program quits.
QThreadPool &indexWorkerPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(kIndexWorkers);
        return p;
    }();
    return *pool;
}

// Entries reach the index service one batch at a time, in the order they were handed over.
QThreadPool &indexWriterPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}

qint64 wholeSeconds(const QDateTime &date)
{
    return qint64(std::round(double(date.toMSecsSinceEpoch()) / 1000.0));
}

} // namespace

struct AppState::AIIndexRun {
    quint64 generation = 0;
    TaskHandle task;
    QList<VideoFile> videos;
    QElapsedTimer started;
    int processed = 0;
    qsizetype nextIndex = 0;
    int inFlight = 0;
    bool ending = false;
    QList<VideoVisualIndexEntry> pending;
    double speed = 0;
    std::optional<qint64> lastSpeedUpdateMs;
};

bool AppState::isAIIndexFresh(const VideoFile &video, bool needsEmbeddings) const
{
    const auto it = m_aiIndexEntries.constFind(video.id);
    if (it == m_aiIndexEntries.cend())
        return false;
    const VideoVisualIndexEntry &e = it.value();
    return e.fileSize == video.fileSize &&
           std::fabs(e.modifiedTimestamp - double(wholeSeconds(video.modifiedDate))) < 2.0 &&
           !e.frameMoments.isEmpty() && (!needsEmbeddings || e.hasSceneEmbeddings(d->sceneEmbeddingDimension));
}

bool AppState::countsAsIndexed(const QString &videoID) const
{
    return AppendedCounts::countsAsIndexed(videoID, m_aiIndexEntries, m_isMobileCLIPInstalled,
                                           d->sceneEmbeddingDimension);
}

void AppState::startAIIndexingIfNeeded()
{
    // Asked for while the cached library is still being read or applied (the first moments
    // after start): index it once it is in, instead of finding nothing to index.
    if (m_allVideos.isEmpty() && (d->cacheLoad.valid() || !d->afterCacheLoad.isEmpty())) {
        QPointer<AppState> self(this);
        afterScopeCacheLoads([self] {
            if (self)
                self->startAIIndexingIfNeeded();
        });
        return;
    }
    if (m_allVideos.isEmpty())
        return;
    m_aiIndexTask.cancel();
    const bool hasCLIP = d->services.onDeviceSearch->hasMobileCLIPService();
    // The model may have changed since the status was read: judge entries by this one.
    const int dimension = hasCLIP ? d->services.onDeviceSearch->sceneEmbeddingDimension() : 0;
    if (std::exchange(d->sceneEmbeddingDimension, dimension) != dimension)
        invalidate(Derived::indexedCount);
    setAiEngineStatus(computeEngineStatus());
    setIsAIIndexing(true);
    setAiVideosPerSecond(0);
    setAiSkippedICloudCount(0);
    setAiSkippedUnreadableCount(0);
    setAiETAText(QString(QChar(0x2026)));

    auto run = std::make_shared<AIIndexRun>();
    run->generation = ++d->aiIndexGeneration;
    int fresh = 0;
    for (const VideoFile &v : m_allVideos) {
        if (isAIIndexFresh(v, hasCLIP)) {
            ++fresh;
            continue;
        }
        // A file that failed before is tried again only once it has changed.
        const auto failed = d->aiIndexFailures.constFind(v.id);
        if (failed != d->aiIndexFailures.cend() && failed->first == v.fileSize &&
            failed->second == wholeSeconds(v.modifiedDate))
            continue;
        run->videos.append(v);
    }
    setAiTotalToIndex(int(m_allVideos.size()));
    setAiIndexedCount(fresh);

    if (run->videos.isEmpty()) {
        m_aiIndexTask = TaskHandle();
        setIsAIIndexing(false);
        setAiETAText(std::nullopt);
        // Only videos that failed before may remain: the toast counts what is indexed.
        showToast((fresh < m_aiTotalToIndex ? QString::number(fresh) + QStringLiteral(" / ") : QString()) +
                  QString::number(m_aiTotalToIndex) + QLatin1Char(' ') +
                  L10n::text(QStringLiteral("ai.indexed"), m_language));
        return;
    }
    run->task = TaskHandle::make();
    m_aiIndexTask = run->task;
    d->aiIndexRun = run;
    run->started.start();
    const qsizetype first = std::min<qsizetype>(run->videos.size(), kIndexWorkers);
    for (qsizetype i = 0; i < first; ++i)
        startAIIndexWorker(run);
}

void AppState::startAIIndexWorker(const std::shared_ptr<AIIndexRun> &run)
{
    const VideoFile video = run->videos.at(run->nextIndex++);
    ++run->inFlight;
    const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
    const TaskHandle task = run->task;
    QPointer<AppState> self(this);
    indexWorkerPool().start(inBackground([self, run, video, services, task] {
        const VideoIndexOutcome outcome =
            task.isCancelled() ? VideoIndexOutcome::skippedUnreadable()
                               : services->indexVideo(video, [task] { return task.isCancelled(); });
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, run, video, outcome] {
            if (self)
                self->takeAIIndexResult(run, video, outcome);
        }, Qt::QueuedConnection);
    }));
}

void AppState::takeAIIndexResult(const std::shared_ptr<AIIndexRun> &run, const VideoFile &video,
                                 const VideoIndexOutcome &outcome)
{
    --run->inFlight;
    if (run->task.isCancelled()) {
        // A stopped run drops what still arrives and ends once its last worker is back.
        if (run->inFlight == 0)
            endAIIndexRun(run);
        return;
    }
    ++run->processed;
    switch (outcome.kind) {
    case VideoIndexOutcome::Kind::indexed:
        m_aiIndexEntries.insert(outcome.entry.videoID, outcome.entry);
        emit aiIndexEntriesChanged();
        invalidate(Derived::indexedCount);
        d->aiIndexFailures.remove(video.id);
        run->pending.append(outcome.entry);
        break;
    case VideoIndexOutcome::Kind::skippedICloud:
        setAiSkippedICloudCount(m_aiSkippedICloudCount + 1);
        break;
    case VideoIndexOutcome::Kind::skippedUnreadable:
        setAiSkippedUnreadableCount(m_aiSkippedUnreadableCount + 1);
        d->aiIndexFailures.insert(video.id, {video.fileSize, wholeSeconds(video.modifiedDate)});
        break;
    case VideoIndexOutcome::Kind::modelDamaged:
        // Every other video would fail the same way: stop, keep what was indexed, say why.
        run->task.cancel();
        setIsAIIndexing(false);
        setAiETAText(std::nullopt);
        showToast(L10n::text(QStringLiteral("ai.modelDamaged"), m_language));
        if (run->inFlight == 0)
            endAIIndexRun(run);
        return;
    }
    setAiIndexedCount(indexedVideoCount());

    const qint64 elapsedMs = run->started.elapsed();
    if (elapsedMs >= 1500 && run->processed >= 3 &&
        (!run->lastSpeedUpdateMs || elapsedMs - *run->lastSpeedUpdateMs >= 700)) {
        run->lastSpeedUpdateMs = elapsedMs;
        const double instant = run->processed / (double(elapsedMs) / 1000.0);
        run->speed = run->speed == 0 ? instant : 0.25 * instant + 0.75 * run->speed;
        setAiVideosPerSecond(run->speed);
        if (run->speed > 0.05)
            setAiETAText(formatETA(std::max<double>(double(run->videos.size() - run->processed), 0) / run->speed));
    }

    if (run->pending.size() >= kIndexBatch) {
        const QList<VideoVisualIndexEntry> batch = std::exchange(run->pending, {});
        const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
        QPointer<AppState> self(this);
        indexWriterPool().start([self, services, batch] {
            services->storeVisualIndexEntries(batch);
            QMetaObject::invokeMethod(QCoreApplication::instance(), [self] {
                if (self && self->m_isAISearchMode && !trimmed(self->m_searchQuery).isEmpty())
                    self->scheduleAISearch();
            }, Qt::QueuedConnection);
        });
    }

    if (run->nextIndex < run->videos.size())
        startAIIndexWorker(run);
    else if (run->inFlight == 0)
        endAIIndexRun(run);
}

void AppState::endAIIndexRun(const std::shared_ptr<AIIndexRun> &run)
{
    if (run->ending)
        return;
    run->ending = true;
    const QList<VideoVisualIndexEntry> rest = std::exchange(run->pending, {});
    const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
    QPointer<AppState> self(this);
    indexWriterPool().start([self, services, rest, run] {
        // What the run received is kept even when it was stopped; the save follows.
        services->storeVisualIndexEntries(rest);
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, run] {
            // A run that a newer one replaced leaves the newer run's fields alone.
            if (!self || run->generation != self->d->aiIndexGeneration)
                return;
            self->setIsAIIndexing(false);
            self->setAiETAText(std::nullopt);
            self->setAiIndexedCount(self->indexedVideoCount());
            if (self->m_isAISearchMode && !trimmed(self->m_searchQuery).isEmpty())
                self->scheduleAISearch();
            if (!run->task.isCancelled())
                self->showToast(QString::number(self->m_aiIndexedCount) + QStringLiteral(" / ") +
                                QString::number(self->m_allVideos.size()) + QLatin1Char(' ') +
                                L10n::text(QStringLiteral("ai.indexed"), self->m_language));
        }, Qt::QueuedConnection);
    });
}

// OpenCV and Tesseract keep per-thread state that goes away with the process's statics: a
// worker still inside a video when the program ends would crash it. Cancelled, each worker
// leaves at its next check.
void AppState::endAIIndexWorkers()
{
    m_aiIndexTask.cancel();
    indexWorkerPool().waitForDone();
    // Quitting in the middle of a run keeps the videos it finished (the next run skips them);
    // results still queued to this object are dropped with it.
    if (const std::shared_ptr<AIIndexRun> run = d->aiIndexRun.lock(); run && !run->ending && !run->pending.isEmpty()) {
        run->ending = true;
        d->services.onDeviceSearch->storeVisualIndexEntries(std::exchange(run->pending, {}));
    }
    indexWriterPool().waitForDone();
}

void AppState::stopAIIndexing()
{
    m_aiIndexTask.cancel();
    setIsAIIndexing(false);
    setAiETAText(std::nullopt);
    // Save what the index holds now; the stopped run still stores what it had received.
    const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
    indexWriterPool().start([services] { services->storeVisualIndexEntries({}); });
}

void AppState::downloadAIModel()
{
    if (m_isDownloadingAIModel)
        return;
    m_modelDownloadTask.cancel();
    if (d->cancelModelDownload)
        std::exchange(d->cancelModelDownload, {})();
    setIsDownloadingAIModel(true);
    setAiModelDownloadError(QString());
    setAiModelDownloadProgress(0);
    setAiModelDownloadStage(L10n::text(QStringLiteral("ai.stageConnecting"), m_language));
    const TaskHandle task = TaskHandle::make();
    m_modelDownloadTask = task;
    QPointer<AppState> self(this);
    const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
    // The events arrive on the GUI thread; a cancelled job reads none of them. The sink is
    // held by the services, so it reaches them through the state rather than holding them
    // (a cycle neither side would free).
    auto onEvent = [self, task](const ModelDownloadEvent &e) {
        if (!self || task.isCancelled())
            return;
        AppState &s = *self;
        switch (e.kind) {
        case ModelDownloadEvent::Kind::progress:
            s.setAiModelDownloadProgress(e.fraction);
            s.setAiModelDownloadStage(formatByteCount(e.downloadedBytes) + QStringLiteral(" / ") + formatByteCount(e.totalBytes));
            break;
        case ModelDownloadEvent::Kind::compiling:
            s.setAiModelDownloadProgress(0.95);
            s.setAiModelDownloadStage(L10n::text(QStringLiteral("ai.stageCompiling"), s.m_language));
            break;
        case ModelDownloadEvent::Kind::completed:
            s.d->cancelModelDownload = {};
            s.setIsDownloadingAIModel(false);
            s.setAiModelDownloadProgress(1.0);
            s.setAiModelDownloadStage(QString());
            if (s.d->services.onDeviceSearch)
                s.d->services.onDeviceSearch->reloadMobileCLIPService();
            s.refreshAIModelStatus();
            s.showToast(L10n::text(QStringLiteral("ai.modelReady"), s.m_language) + QStringLiteral(" (") +
                            formatByteCount(e.installedBytes) + QStringLiteral(")"),
                        false, false);
            break;
        case ModelDownloadEvent::Kind::failed:
            s.d->cancelModelDownload = {};
            s.setIsDownloadingAIModel(false);
            s.setAiModelDownloadProgress(0);
            s.setAiModelDownloadStage(QString());
            s.setAiModelDownloadError(e.text);
            s.showToast(e.text, true, false);
            break;
        }
    };
    std::function<void()> cancel = services->startModelDownload(onEvent);
    // A downloader that failed at once has already ended the job.
    if (!task.isCancelled() && m_isDownloadingAIModel)
        d->cancelModelDownload = std::move(cancel);
}

void AppState::cancelAIModelDownload()
{
    m_modelDownloadTask.cancel();
    m_modelDownloadTask = TaskHandle();
    if (d->cancelModelDownload)
        std::exchange(d->cancelModelDownload, {})();
    setIsDownloadingAIModel(false);
    setAiModelDownloadProgress(0);
    setAiModelDownloadStage(QString());
}

std::optional<QString> AppState::removeInstalledAIModelFiles()
{
    return d->services.onDeviceSearch->removeInstalledModels();
}

void AppState::transcribeSelected(const VideoFile &video)
{
    // The busy set is the one guard against transcribing a video twice at once.
    if (m_transcribingVideoIDs.contains(video.id))
        return;
    QSet<QString> busy = m_transcribingVideoIDs;
    busy.insert(video.id);
    setTranscribingVideoIDs(busy);
    const AppLanguage language = m_language;
    const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
    QPointer<AppState> self(this);
    QThreadPool::globalInstance()->start([self, services, video, language] {
        QString error;
        const std::optional<VideoTranscriptEntry> entry = services->transcribe(video, language, &error);
        if (entry)
            services->storeTranscript(*entry);
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, video, entry, error] {
            if (!self)
                return;
            AppState &s = *self;
            if (!entry) {
                s.showToast(error, true, false);
            } else {
                TranscriptMap transcripts = s.m_speechTranscripts;
                transcripts.insert(video.id, *entry);
                s.setSpeechTranscripts(transcripts);
                if (!entry->fullText.isEmpty()) {
                    s.showToast(L10n::text(QStringLiteral("speech.transcript"), s.m_language) + QStringLiteral(" (") +
                                    QString::number(entry->segments.size()) + QStringLiteral(")"),
                                false, false);
                    if (s.m_isAISearchMode && !trimmed(s.m_searchQuery).isEmpty())
                        s.scheduleAISearch();
                } else {
                    s.showToast(L10n::text(QStringLiteral("speech.noSpeech"), s.m_language), false, false);
                }
            }
            QSet<QString> remaining = s.m_transcribingVideoIDs;
            remaining.remove(video.id);
            s.setTranscribingVideoIDs(remaining);
        }, Qt::QueuedConnection);
    });
}
