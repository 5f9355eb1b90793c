#include "AppStatePrivate.h"

#include "BookmarkService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cmath>


// ---- setters ----

void AppState::setLanguage(AppLanguage value)
{
    if (assign(m_language, value)) {
        emit languageChanged();
        invalidate(Derived::lastScan);
    }
    languageHook();
}

void AppState::setAppearance(AppAppearance value)
{
    if (assign(m_appearance, value)) {
        emit appearanceChanged();
    }
}

void AppState::setCompactSingleChildFolders(bool value)
{
    if (assign(m_compactSingleChildFolders, value)) {
        emit compactSingleChildFoldersChanged();
    }
    compactSingleChildFoldersHook();
}

void AppState::setSortOrder(VideoSortOrder value)
{
    if (assign(m_sortOrder, value)) {
        emit sortOrderChanged();
    }
    sortOrderHook();
}

void AppState::setIncludePhotosLibrary(bool value)
{
    if (assign(m_includePhotosLibrary, value)) {
        emit includePhotosLibraryChanged();
        invalidate(Derived::scopeKey);
    }
    includePhotosLibraryHook();
}

void AppState::setActiveScope(const ScanScope &value)
{
    if (assign(m_activeScope, value)) {
        emit activeScopeChanged();
        invalidate(Derived::scopeKey);
    }
}

void AppState::setExternalVolumes(const QList<ScanScope> &value)
{
    if (assign(m_externalVolumes, value)) {
        emit externalVolumesChanged();
    }
}

void AppState::setCustomScopes(const QList<ScanScope> &value)
{
    if (assign(m_customScopes, value)) {
        emit customScopesChanged();
    }
}

void AppState::setIsScanning(bool value)
{
    if (assign(m_isScanning, value)) {
        emit isScanningChanged();
    }
}

void AppState::setScanStatusPath(const std::optional<QString> &value)
{
    if (assign(m_scanStatusPath, value)) {
        emit scanStatusPathChanged();
    }
}

void AppState::setDeniedFolders(const QStringList &value)
{
    if (assign(m_deniedFolders, value)) {
        emit deniedFoldersChanged();
    }
}

void AppState::setLastScanDate(const std::optional<QDateTime> &value)
{
    if (assign(m_lastScanDate, value)) {
        emit lastScanDateChanged();
        invalidate(Derived::lastScan);
    }
}

void AppState::setIsShowingCachedScan(bool value)
{
    if (assign(m_isShowingCachedScan, value)) {
        emit isShowingCachedScanChanged();
    }
}

void AppState::setScopeCache(const ScopeCache &value)
{
    joinScopeCacheLoad();
    // Records are told apart by their lists' storage, not their contents: comparing a rescan's
    // million videos with the last scan's held the window up, and an equal-content list in
    // other storage is taken too, so the one left behind can be freed.
    const auto sameRecord = [](const CachedScopeScan &a, const CachedScopeScan &b) {
        return a.videos.size() == b.videos.size() && a.videos.constData() == b.videos.constData() &&
               a.scopeKey == b.scopeKey && a.deniedFolders == b.deniedFolders && a.scannedAt == b.scannedAt;
    };
    bool same = m_scopeCache.size() == value.size();
    for (auto it = value.cbegin(); same && it != value.cend(); ++it) {
        const auto mine = m_scopeCache.constFind(it.key());
        same = mine != m_scopeCache.cend() && sameRecord(*mine, *it);
    }
    if (same)
        return;
    // The cache replaced may hold the last copy of a large library: taken apart on a worker.
    releaseOnWorker(std::make_shared<ScopeCache>(std::exchange(m_scopeCache, value)));
    emit scopeCacheChanged();
}

void AppState::setAllVideos(const QList<VideoFile> &value)
{
    if (assign(m_allVideos, value)) {
        // What is derived from the list goes first: a reader of the new list must not get the
        // old list's index (the one made while the cache was read would be lost with it).
        invalidate(Derived::filtered | Derived::libraryCounts | Derived::indexedCount | Derived::lookup | Derived::primary | Derived::selection);
        emit allVideosChanged();
    }
}

void AppState::setTreeRoots(const QList<VideoFolderNodePtr> &value)
{
    if (assign(m_treeRoots, value)) {
        emit treeRootsChanged();
    }
}

void AppState::setFlattenedRows(const QList<TreeRow> &value)
{
    ++d->rowsGeneration; // rows still being made on a worker are older than these
    if (assign(m_flattenedRows, value)) {
        emit flattenedRowsChanged();
    }
}

void AppState::setExpandedFolderIDs(const QSet<QString> &value)
{
    d->automaticExpansion = false;
    if (assign(m_expandedFolderIDs, value)) {
        emit expandedFolderIDsChanged();
    }
}

void AppState::setActiveSmartFilter(SmartFilter value)
{
    if (assign(m_activeSmartFilter, value)) {
        emit activeSmartFilterChanged();
        invalidate(Derived::filtered);
    }
}

void AppState::setActiveExtensionFilter(const std::optional<QString> &value)
{
    if (assign(m_activeExtensionFilter, value)) {
        emit activeExtensionFilterChanged();
        invalidate(Derived::filtered);
    }
}

void AppState::setSearchQuery(const QString &value)
{
    if (assign(m_searchQuery, value)) {
        if (!m_isAISearchMode) {
            // The tree's rebuild (on its worker when large) starts before the widgets hear of
            // the new query: they then catch up while it is built, instead of it waiting for them.
            d->forgetFiltered();
            searchQueryHook();
            emit searchQueryChanged();
            emit filteredVideosChanged();
            return;
        }
        emit searchQueryChanged();
        invalidate(Derived::filtered);
    }
    searchQueryHook();
}

void AppState::setIsAISearchMode(bool value)
{
    if (assign(m_isAISearchMode, value)) {
        emit isAISearchModeChanged();
        invalidate(Derived::filtered);
    }
    isAISearchModeHook();
}

void AppState::setAiEngineStatus(const OnDeviceAIEngineStatus &value)
{
    if (assign(m_aiEngineStatus, value)) {
        emit aiEngineStatusChanged();
    }
}

void AppState::setAiIndexEntries(const VisualIndexMap &value)
{
    if (assign(m_aiIndexEntries, value)) {
        emit aiIndexEntriesChanged();
        invalidate(Derived::indexedCount);
    }
}

void AppState::setAiSearchScores(const ScoreMap &value)
{
    if (assign(m_aiSearchScores, value)) {
        emit aiSearchScoresChanged();
        invalidate(Derived::filtered);
    }
}

void AppState::setAiSearchHits(const SearchHitMap &value)
{
    if (assign(m_aiSearchHits, value)) {
        emit aiSearchHitsChanged();
    }
}

void AppState::setIsAIIndexing(bool value)
{
    if (assign(m_isAIIndexing, value)) {
        emit isAIIndexingChanged();
    }
}

void AppState::setAiIndexedCount(int value)
{
    if (assign(m_aiIndexedCount, value)) {
        emit aiIndexedCountChanged();
    }
}

void AppState::setAiTotalToIndex(int value)
{
    if (assign(m_aiTotalToIndex, value)) {
        emit aiTotalToIndexChanged();
    }
}

void AppState::setAiSkippedICloudCount(int value)
{
    if (assign(m_aiSkippedICloudCount, value)) {
        emit aiSkippedICloudCountChanged();
    }
}

void AppState::setAiSkippedUnreadableCount(int value)
{
    if (assign(m_aiSkippedUnreadableCount, value)) {
        emit aiSkippedUnreadableCountChanged();
    }
}

void AppState::setAiVideosPerSecond(double value)
{
    if (assign(m_aiVideosPerSecond, value)) {
        emit aiVideosPerSecondChanged();
    }
}

void AppState::setAiETAText(const std::optional<QString> &value)
{
    if (assign(m_aiETAText, value)) {
        emit aiETATextChanged();
    }
}

void AppState::setIsAISearchRunning(bool value)
{
    if (assign(m_isAISearchRunning, value)) {
        emit isAISearchRunningChanged();
    }
}

void AppState::setIsMobileCLIPInstalled(bool value)
{
    if (assign(m_isMobileCLIPInstalled, value)) {
        emit isMobileCLIPInstalledChanged();
        invalidate(Derived::indexedCount);
    }
}

void AppState::setAiModelInstalledSizeText(const std::optional<QString> &value)
{
    if (assign(m_aiModelInstalledSizeText, value)) {
        emit aiModelInstalledSizeTextChanged();
    }
}

void AppState::setIsDownloadingAIModel(bool value)
{
    if (assign(m_isDownloadingAIModel, value)) {
        emit isDownloadingAIModelChanged();
    }
}

void AppState::setAiModelDownloadProgress(double value)
{
    if (assign(m_aiModelDownloadProgress, value)) {
        emit aiModelDownloadProgressChanged();
    }
}

void AppState::setAiModelDownloadStage(const QString &value)
{
    if (assign(m_aiModelDownloadStage, value)) {
        emit aiModelDownloadStageChanged();
    }
}

void AppState::setAiModelDownloadError(const QString &value)
{
    if (assign(m_aiModelDownloadError, value)) {
        emit aiModelDownloadErrorChanged();
    }
}

void AppState::setSpeechTranscripts(const TranscriptMap &value)
{
    if (assign(m_speechTranscripts, value)) {
        emit speechTranscriptsChanged();
    }
}

void AppState::setTranscribingVideoIDs(const QSet<QString> &value)
{
    if (assign(m_transcribingVideoIDs, value)) {
        emit transcribingVideoIDsChanged();
    }
}

void AppState::setPrimarySelectedVideoID(const std::optional<QString> &value)
{
    if (assign(m_primarySelectedVideoID, value)) {
        emit primarySelectedVideoIDChanged();
        invalidate(Derived::primary | Derived::selection);
    }
}

void AppState::setSelectedVideoIDs(const QSet<QString> &value)
{
    if (assign(m_selectedVideoIDs, value)) {
        emit selectedVideoIDsChanged();
        invalidate(Derived::selection);
    }
}

void AppState::setIsTheaterMode(bool value)
{
    if (assign(m_isTheaterMode, value)) {
        emit isTheaterModeChanged();
    }
}

void AppState::setPlaybackToggleSignal(int value)
{
    if (assign(m_playbackToggleSignal, value)) {
        emit playbackToggleSignalChanged();
    }
}

void AppState::setFullscreenRequestSignal(int value)
{
    if (assign(m_fullscreenRequestSignal, value)) {
        emit fullscreenRequestSignalChanged();
    }
}

void AppState::setVideoReloadSignal(int value)
{
    if (assign(m_videoReloadSignal, value)) {
        emit videoReloadSignalChanged();
    }
}

void AppState::setPendingSeekTimestamp(const std::optional<double> &value)
{
    if (assign(m_pendingSeekTimestamp, value)) {
        emit pendingSeekTimestampChanged();
    }
}

void AppState::setPendingSeekSignal(int value)
{
    if (assign(m_pendingSeekSignal, value)) {
        emit pendingSeekSignalChanged();
    }
}

void AppState::setShowInspector(bool value)
{
    if (assign(m_showInspector, value)) {
        emit showInspectorChanged();
    }
}

void AppState::setShowCommandPalette(bool value)
{
    if (assign(m_showCommandPalette, value)) {
        emit showCommandPaletteChanged();
    }
}

void AppState::setShowMoveSheet(bool value)
{
    if (assign(m_showMoveSheet, value)) {
        emit showMoveSheetChanged();
    }
}

void AppState::setShowDuplicatesSheet(bool value)
{
    if (assign(m_showDuplicatesSheet, value)) {
        emit showDuplicatesSheetChanged();
    }
}

void AppState::setShowBatchCompressSheet(bool value)
{
    if (assign(m_showBatchCompressSheet, value)) {
        emit showBatchCompressSheetChanged();
    }
}

void AppState::setVideosPendingCompression(const QList<VideoFile> &value)
{
    if (assign(m_videosPendingCompression, value)) {
        emit videosPendingCompressionChanged();
    }
}

void AppState::setShowStorageInsightsSheet(bool value)
{
    if (assign(m_showStorageInsightsSheet, value)) {
        emit showStorageInsightsSheetChanged();
    }
}

void AppState::setShowOnboarding(bool value)
{
    if (assign(m_showOnboarding, value)) {
        emit showOnboardingChanged();
    }
}

void AppState::setVideoPendingEdit(const std::optional<VideoFile> &value)
{
    if (assign(m_videoPendingEdit, value)) {
        emit videoPendingEditChanged();
    }
}

void AppState::setVideosPendingMove(const QList<VideoFile> &value)
{
    if (assign(m_videosPendingMove, value)) {
        emit videosPendingMoveChanged();
    }
}

void AppState::setVideosPendingPermanentDelete(const QList<VideoFile> &value)
{
    if (assign(m_videosPendingPermanentDelete, value)) {
        emit videosPendingPermanentDeleteChanged();
    }
}

void AppState::setShowPermanentDeleteAlert(bool value)
{
    if (assign(m_showPermanentDeleteAlert, value)) {
        emit showPermanentDeleteAlertChanged();
    }
}

void AppState::setRecentMoveDestinations(const QList<QUrl> &value)
{
    if (assign(m_recentMoveDestinations, value)) {
        emit recentMoveDestinationsChanged();
    }
}

void AppState::setActiveToast(const std::optional<ToastMessage> &value)
{
    if (assign(m_activeToast, value)) {
        emit activeToastChanged();
    }
}

void AppState::setLastUndoRecord(const std::optional<UndoRecord> &value)
{
    if (assign(m_lastUndoRecord, value)) {
        emit lastUndoRecordChanged();
    }
}
