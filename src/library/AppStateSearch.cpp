#include "AppStatePrivate.h"

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
            self->setAiIndexEntries(index);
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

void AppState::setAISearchMode(bool on)
{
    if (on) {
        if (m_aiIndexEntries.isEmpty() && !m_allVideos.isEmpty() && !m_isAIIndexing && m_isMobileCLIPInstalled)
            startAIIndexingIfNeeded();
        scheduleAISearch();
        return;
    }
    m_aiSearchTask.cancel();
    setAiSearchScores({});
    setAiSearchHits({});
    setIsAISearchRunning(false);
    rebuildTree(false);
}

void AppState::startAIIndexingIfNeeded()
{
    if (m_allVideos.isEmpty())
        return;
    m_aiIndexTask.cancel();
    setAiEngineStatus(computeEngineStatus());
    // There is no indexer here yet: the run ends at once having indexed nothing.
    m_aiIndexTask = TaskHandle::make();
    setAiVideosPerSecond(0);
    setAiSkippedICloudCount(0);
    setAiSkippedUnreadableCount(0);
    setAiETAText(std::nullopt);
    setIsAIIndexing(false);
}

void AppState::stopAIIndexing()
{
    m_aiIndexTask.cancel();
    setIsAIIndexing(false);
    setAiETAText(std::nullopt);
}

void AppState::downloadAIModel()
{
    if (m_isDownloadingAIModel)
        return;
    m_modelDownloadTask.cancel();
    if (d->cancelModelDownload)
        std::exchange(d->cancelModelDownload, {})();
    setIsDownloadingAIModel(true);
    setAiModelDownloadProgress(0);
    setAiModelDownloadStage(L10n::text(QStringLiteral("ai.stageConnecting"), m_language));
    const TaskHandle task = TaskHandle::make();
    m_modelDownloadTask = task;
    QPointer<AppState> self(this);
    const std::shared_ptr<OnDeviceSearchServices> services = d->services.onDeviceSearch;
    // The events arrive on the GUI thread; a cancelled job reads none of them.
    auto onEvent = [self, task, services](const ModelDownloadEvent &e) {
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
            services->reloadMobileCLIPService();
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
