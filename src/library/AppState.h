#pragma once

#include "AppServices.h"
#include "EditResults.h"
#include "FileOperationService.h"
#include "L10n.h"
#include "LibraryIndex.h"
#include "LumenkiteBuilder.h"
#include "Models.h"
#include "OnDeviceSearchTypes.h"
#include "ScopeCache.h"
#include "VideoScanner.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// The colour scheme choice; held only while the program runs.
enum class AppAppearance { system, light, dark };
namespace AppAppearanceInfo {
const QList<AppAppearance> &allCases();
QString rawValue(AppAppearance appearance); // "system", "light", "dark"
std::optional<AppAppearance> fromRawValue(const QString &raw);
QString titleKey(AppAppearance appearance); // "appearance.system", ...
} // namespace AppAppearanceInfo

// A short notice or error shown over the window.
struct ToastMessage {
    QUuid id;
    QString message;
    bool isError = false;
    bool canUndo = false;
    bool operator==(const ToastMessage &other) const = default;
};

// Handle of the last cancellable task started for one purpose. Copies share the flag.
class TaskHandle
{
public:
    TaskHandle() = default;
    static TaskHandle make() { TaskHandle h; h.m_cancelled = std::make_shared<std::atomic_bool>(false); return h; }
    bool isValid() const { return bool(m_cancelled); }
    void cancel() const { if (m_cancelled) m_cancelled->store(true); }
    bool isCancelled() const { return m_cancelled && m_cancelled->load(); }
    bool operator==(const TaskHandle &other) const { return m_cancelled == other.m_cancelled; }

private:
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

using ExtensionCount = QPair<QString, int>;
struct LibraryChange;
struct AppendedCounts;
struct CountingContext;

// The one model object of the running program, living on the GUI thread. Every field is a
// property whose change signal fires only on a real change; a field's hook runs on every
// assignment, also an equal one.
class AppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(AppLanguage language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(AppAppearance appearance READ appearance WRITE setAppearance NOTIFY appearanceChanged)
    Q_PROPERTY(bool compactSingleChildFolders READ compactSingleChildFolders WRITE setCompactSingleChildFolders NOTIFY compactSingleChildFoldersChanged)
    Q_PROPERTY(VideoSortOrder sortOrder READ sortOrder WRITE setSortOrder NOTIFY sortOrderChanged)
    Q_PROPERTY(bool includePhotosLibrary READ includePhotosLibrary WRITE setIncludePhotosLibrary NOTIFY includePhotosLibraryChanged)
    Q_PROPERTY(ScanScope activeScope READ activeScope WRITE setActiveScope NOTIFY activeScopeChanged)
    Q_PROPERTY(QList<ScanScope> externalVolumes READ externalVolumes WRITE setExternalVolumes NOTIFY externalVolumesChanged)
    Q_PROPERTY(QList<ScanScope> customScopes READ customScopes WRITE setCustomScopes NOTIFY customScopesChanged)
    Q_PROPERTY(bool isScanning READ isScanning WRITE setIsScanning NOTIFY isScanningChanged)
    Q_PROPERTY(std::optional<QString> scanStatusPath READ scanStatusPath WRITE setScanStatusPath NOTIFY scanStatusPathChanged)
    Q_PROPERTY(QStringList deniedFolders READ deniedFolders WRITE setDeniedFolders NOTIFY deniedFoldersChanged)
    Q_PROPERTY(std::optional<QDateTime> lastScanDate READ lastScanDate WRITE setLastScanDate NOTIFY lastScanDateChanged)
    Q_PROPERTY(bool isShowingCachedScan READ isShowingCachedScan WRITE setIsShowingCachedScan NOTIFY isShowingCachedScanChanged)
    Q_PROPERTY(ScopeCache scopeCache READ scopeCache WRITE setScopeCache NOTIFY scopeCacheChanged)
    Q_PROPERTY(QList<VideoFile> allVideos READ allVideos WRITE setAllVideos NOTIFY allVideosChanged)
    Q_PROPERTY(QList<VideoFolderNodePtr> treeRoots READ treeRoots WRITE setTreeRoots NOTIFY treeRootsChanged)
    Q_PROPERTY(QList<TreeRow> flattenedRows READ flattenedRows WRITE setFlattenedRows NOTIFY flattenedRowsChanged)
    Q_PROPERTY(QSet<QString> expandedFolderIDs READ expandedFolderIDs WRITE setExpandedFolderIDs NOTIFY expandedFolderIDsChanged)
    Q_PROPERTY(SmartFilter activeSmartFilter READ activeSmartFilter WRITE setActiveSmartFilter NOTIFY activeSmartFilterChanged)
    Q_PROPERTY(std::optional<QString> activeExtensionFilter READ activeExtensionFilter WRITE setActiveExtensionFilter NOTIFY activeExtensionFilterChanged)
    Q_PROPERTY(QString searchQuery READ searchQuery WRITE setSearchQuery NOTIFY searchQueryChanged)
    Q_PROPERTY(bool isAISearchMode READ isAISearchMode WRITE setIsAISearchMode NOTIFY isAISearchModeChanged)
    Q_PROPERTY(OnDeviceAIEngineStatus aiEngineStatus READ aiEngineStatus WRITE setAiEngineStatus NOTIFY aiEngineStatusChanged)
    Q_PROPERTY(VisualIndexMap aiIndexEntries READ aiIndexEntries WRITE setAiIndexEntries NOTIFY aiIndexEntriesChanged)
    Q_PROPERTY(ScoreMap aiSearchScores READ aiSearchScores WRITE setAiSearchScores NOTIFY aiSearchScoresChanged)
    Q_PROPERTY(SearchHitMap aiSearchHits READ aiSearchHits WRITE setAiSearchHits NOTIFY aiSearchHitsChanged)
    Q_PROPERTY(bool isAIIndexing READ isAIIndexing WRITE setIsAIIndexing NOTIFY isAIIndexingChanged)
    Q_PROPERTY(int aiIndexedCount READ aiIndexedCount WRITE setAiIndexedCount NOTIFY aiIndexedCountChanged)
    Q_PROPERTY(int aiTotalToIndex READ aiTotalToIndex WRITE setAiTotalToIndex NOTIFY aiTotalToIndexChanged)
    Q_PROPERTY(int aiSkippedICloudCount READ aiSkippedICloudCount WRITE setAiSkippedICloudCount NOTIFY aiSkippedICloudCountChanged)
    Q_PROPERTY(int aiSkippedUnreadableCount READ aiSkippedUnreadableCount WRITE setAiSkippedUnreadableCount NOTIFY aiSkippedUnreadableCountChanged)
    Q_PROPERTY(double aiVideosPerSecond READ aiVideosPerSecond WRITE setAiVideosPerSecond NOTIFY aiVideosPerSecondChanged)
    Q_PROPERTY(std::optional<QString> aiETAText READ aiETAText WRITE setAiETAText NOTIFY aiETATextChanged)
    Q_PROPERTY(bool isAISearchRunning READ isAISearchRunning WRITE setIsAISearchRunning NOTIFY isAISearchRunningChanged)
    Q_PROPERTY(bool isMobileCLIPInstalled READ isMobileCLIPInstalled WRITE setIsMobileCLIPInstalled NOTIFY isMobileCLIPInstalledChanged)
    Q_PROPERTY(std::optional<QString> aiModelInstalledSizeText READ aiModelInstalledSizeText WRITE setAiModelInstalledSizeText NOTIFY aiModelInstalledSizeTextChanged)
    Q_PROPERTY(bool isDownloadingAIModel READ isDownloadingAIModel WRITE setIsDownloadingAIModel NOTIFY isDownloadingAIModelChanged)
    Q_PROPERTY(double aiModelDownloadProgress READ aiModelDownloadProgress WRITE setAiModelDownloadProgress NOTIFY aiModelDownloadProgressChanged)
    Q_PROPERTY(QString aiModelDownloadStage READ aiModelDownloadStage WRITE setAiModelDownloadStage NOTIFY aiModelDownloadStageChanged)
    Q_PROPERTY(QString aiModelDownloadError READ aiModelDownloadError WRITE setAiModelDownloadError NOTIFY aiModelDownloadErrorChanged)
    Q_PROPERTY(TranscriptMap speechTranscripts READ speechTranscripts WRITE setSpeechTranscripts NOTIFY speechTranscriptsChanged)
    Q_PROPERTY(QSet<QString> transcribingVideoIDs READ transcribingVideoIDs WRITE setTranscribingVideoIDs NOTIFY transcribingVideoIDsChanged)
    Q_PROPERTY(std::optional<QString> primarySelectedVideoID READ primarySelectedVideoID WRITE setPrimarySelectedVideoID NOTIFY primarySelectedVideoIDChanged)
    Q_PROPERTY(QSet<QString> selectedVideoIDs READ selectedVideoIDs WRITE setSelectedVideoIDs NOTIFY selectedVideoIDsChanged)
    Q_PROPERTY(bool isTheaterMode READ isTheaterMode WRITE setIsTheaterMode NOTIFY isTheaterModeChanged)
    Q_PROPERTY(int playbackToggleSignal READ playbackToggleSignal WRITE setPlaybackToggleSignal NOTIFY playbackToggleSignalChanged)
    Q_PROPERTY(int fullscreenRequestSignal READ fullscreenRequestSignal WRITE setFullscreenRequestSignal NOTIFY fullscreenRequestSignalChanged)
    Q_PROPERTY(int videoReloadSignal READ videoReloadSignal WRITE setVideoReloadSignal NOTIFY videoReloadSignalChanged)
    Q_PROPERTY(std::optional<double> pendingSeekTimestamp READ pendingSeekTimestamp WRITE setPendingSeekTimestamp NOTIFY pendingSeekTimestampChanged)
    Q_PROPERTY(int pendingSeekSignal READ pendingSeekSignal WRITE setPendingSeekSignal NOTIFY pendingSeekSignalChanged)
    Q_PROPERTY(bool showInspector READ showInspector WRITE setShowInspector NOTIFY showInspectorChanged)
    Q_PROPERTY(bool showCommandPalette READ showCommandPalette WRITE setShowCommandPalette NOTIFY showCommandPaletteChanged)
    Q_PROPERTY(bool showMoveSheet READ showMoveSheet WRITE setShowMoveSheet NOTIFY showMoveSheetChanged)
    Q_PROPERTY(bool showDuplicatesSheet READ showDuplicatesSheet WRITE setShowDuplicatesSheet NOTIFY showDuplicatesSheetChanged)
    Q_PROPERTY(bool showBatchCompressSheet READ showBatchCompressSheet WRITE setShowBatchCompressSheet NOTIFY showBatchCompressSheetChanged)
    Q_PROPERTY(QList<VideoFile> videosPendingCompression READ videosPendingCompression WRITE setVideosPendingCompression NOTIFY videosPendingCompressionChanged)
    Q_PROPERTY(bool showStorageInsightsSheet READ showStorageInsightsSheet WRITE setShowStorageInsightsSheet NOTIFY showStorageInsightsSheetChanged)
    Q_PROPERTY(bool showOnboarding READ showOnboarding WRITE setShowOnboarding NOTIFY showOnboardingChanged)
    Q_PROPERTY(std::optional<VideoFile> videoPendingEdit READ videoPendingEdit WRITE setVideoPendingEdit NOTIFY videoPendingEditChanged)
    Q_PROPERTY(QList<VideoFile> videosPendingMove READ videosPendingMove WRITE setVideosPendingMove NOTIFY videosPendingMoveChanged)
    Q_PROPERTY(QList<VideoFile> videosPendingPermanentDelete READ videosPendingPermanentDelete WRITE setVideosPendingPermanentDelete NOTIFY videosPendingPermanentDeleteChanged)
    Q_PROPERTY(bool showPermanentDeleteAlert READ showPermanentDeleteAlert WRITE setShowPermanentDeleteAlert NOTIFY showPermanentDeleteAlertChanged)
    Q_PROPERTY(QList<QUrl> recentMoveDestinations READ recentMoveDestinations WRITE setRecentMoveDestinations NOTIFY recentMoveDestinationsChanged)
    Q_PROPERTY(std::optional<ToastMessage> activeToast READ activeToast WRITE setActiveToast NOTIFY activeToastChanged)
    Q_PROPERTY(std::optional<UndoRecord> lastUndoRecord READ lastUndoRecord WRITE setLastUndoRecord NOTIFY lastUndoRecordChanged)

    // Derived values; each signal fires when one of its inputs changed.
    Q_PROPERTY(QList<VideoFile> filteredVideos READ filteredVideos NOTIFY filteredVideosChanged)
    Q_PROPERTY(std::optional<QString> lastScanText READ lastScanText NOTIFY lastScanTextChanged)
    Q_PROPERTY(int indexedVideoCount READ indexedVideoCount NOTIFY indexedVideoCountChanged)
    Q_PROPERTY(qint64 totalVideoBytes READ totalVideoBytes NOTIFY totalVideoBytesChanged)
    Q_PROPERTY(QList<ExtensionCount> extensionCounts READ extensionCounts NOTIFY extensionCountsChanged)
    Q_PROPERTY(std::optional<VideoFile> primarySelectedVideo READ primarySelectedVideo NOTIFY primarySelectedVideoChanged)
    Q_PROPERTY(QList<VideoFile> selectedVideos READ selectedVideos NOTIFY selectedVideosChanged)
    Q_PROPERTY(qint64 selectedVideosTotalSize READ selectedVideosTotalSize NOTIFY selectedVideosChanged)
    Q_PROPERTY(QString scopeCacheKey READ scopeCacheKey NOTIFY scopeCacheKeyChanged)

public:
    // Toast lifetimes.
    static constexpr int kToastMilliseconds = 3500;
    static constexpr int kUndoToastMilliseconds = 6500;
    // "Large Files (≥ 250 MB)": 250 × 1024 × 1024 bytes, inclusive, as the sidebar counts them.
    // "Large Files (≥ 250 MB)": sizes are shown in decimal units, so 250 MB is 250,000,000 bytes.
    static constexpr qint64 kLargeFileBytes = 250'000'000;
    static constexpr int kRecentDays = 30;
    // A filtered list this small opens every folder on automatic expansion.
    static constexpr int kExpandAllLimit = 80;
    // Scan batches rebuild the tree, and join a large library, at most once per this many
    // milliseconds.
    static constexpr int kScanRebuildIntervalMs = 250;
    // From this many filtered videos on, the trees of a scan, and those asked for with
    // refreshTree(), are built on a worker thread.
    static constexpr int kBackgroundRebuildMinimum = 5000;
    // From this many rows on, opening and closing folders makes the rows on a worker.
    static constexpr int kBackgroundFlattenMinimum = 50'000;
    static constexpr int kMaxRecentDestinations = 6;

    // Replaceable services; null members keep the built-in stand-ins.
    struct Services {
        std::shared_ptr<OnDeviceSearchServices> onDeviceSearch;
        std::shared_ptr<MediaCacheInvalidator> mediaCache;
        std::shared_ptr<FolderChooser> folderChooser;
    };

    // Starts a scan; the default runs the real scanner. Tests and benchmarks may supply
    // their own event source.
    using ScanStarter = std::function<ScanJob(const ScanScope &scope, bool includePhotosLibrary, QObject *context,
                                              VideoScanner::EventHandler onEvent)>;

    explicit AppState(QObject *parent = nullptr);
    explicit AppState(Services services, QObject *parent = nullptr);
    ~AppState() override;

    AppLanguage language() const { return m_language; }
    AppAppearance appearance() const { return m_appearance; }
    bool compactSingleChildFolders() const { return m_compactSingleChildFolders; }
    VideoSortOrder sortOrder() const { return m_sortOrder; }
    bool includePhotosLibrary() const { return m_includePhotosLibrary; }
    const ScanScope & activeScope() const { return m_activeScope; }
    const QList<ScanScope> & externalVolumes() const { return m_externalVolumes; }
    const QList<ScanScope> & customScopes() const { return m_customScopes; }
    bool isScanning() const { return m_isScanning; }
    const std::optional<QString> & scanStatusPath() const { return m_scanStatusPath; }
    const QStringList & deniedFolders() const { return m_deniedFolders; }
    const std::optional<QDateTime> & lastScanDate() const { return m_lastScanDate; }
    bool isShowingCachedScan() const { return m_isShowingCachedScan; }
    // True while the library file found at start-up is still being read and applied: the
    // window shows a loading state meanwhile, not an empty library.
    bool isLoadingLibrary() const;
    // Waits for the file read at start-up when it is still being read.
    const ScopeCache & scopeCache() const { joinScopeCacheLoad(); return m_scopeCache; }
    const QList<VideoFile> & allVideos() const { return m_allVideos; }
    const QList<VideoFolderNodePtr> & treeRoots() const { return m_treeRoots; }
    const QList<TreeRow> & flattenedRows() const { return m_flattenedRows; }
    const QSet<QString> & expandedFolderIDs() const { return m_expandedFolderIDs; }
    SmartFilter activeSmartFilter() const { return m_activeSmartFilter; }
    const std::optional<QString> & activeExtensionFilter() const { return m_activeExtensionFilter; }
    const QString & searchQuery() const { return m_searchQuery; }
    bool isAISearchMode() const { return m_isAISearchMode; }
    const OnDeviceAIEngineStatus & aiEngineStatus() const { return m_aiEngineStatus; }
    const VisualIndexMap & aiIndexEntries() const { return m_aiIndexEntries; }
    const ScoreMap & aiSearchScores() const { return m_aiSearchScores; }
    const SearchHitMap & aiSearchHits() const { return m_aiSearchHits; }
    bool isAIIndexing() const { return m_isAIIndexing; }
    int aiIndexedCount() const { return m_aiIndexedCount; }
    int aiTotalToIndex() const { return m_aiTotalToIndex; }
    int aiSkippedICloudCount() const { return m_aiSkippedICloudCount; }
    int aiSkippedUnreadableCount() const { return m_aiSkippedUnreadableCount; }
    double aiVideosPerSecond() const { return m_aiVideosPerSecond; }
    const std::optional<QString> & aiETAText() const { return m_aiETAText; }
    bool isAISearchRunning() const { return m_isAISearchRunning; }
    bool isMobileCLIPInstalled() const { return m_isMobileCLIPInstalled; }
    const std::optional<QString> & aiModelInstalledSizeText() const { return m_aiModelInstalledSizeText; }
    bool isDownloadingAIModel() const { return m_isDownloadingAIModel; }
    double aiModelDownloadProgress() const { return m_aiModelDownloadProgress; }
    const QString & aiModelDownloadStage() const { return m_aiModelDownloadStage; }
    // Why the last download failed, kept (with Retry on the model card) until the next one starts.
    const QString & aiModelDownloadError() const { return m_aiModelDownloadError; }
    const TranscriptMap & speechTranscripts() const { return m_speechTranscripts; }
    const QSet<QString> & transcribingVideoIDs() const { return m_transcribingVideoIDs; }
    const std::optional<QString> & primarySelectedVideoID() const { return m_primarySelectedVideoID; }
    const QSet<QString> & selectedVideoIDs() const { return m_selectedVideoIDs; }
    bool isTheaterMode() const { return m_isTheaterMode; }
    int playbackToggleSignal() const { return m_playbackToggleSignal; }
    int fullscreenRequestSignal() const { return m_fullscreenRequestSignal; }
    int videoReloadSignal() const { return m_videoReloadSignal; }
    const std::optional<double> & pendingSeekTimestamp() const { return m_pendingSeekTimestamp; }
    int pendingSeekSignal() const { return m_pendingSeekSignal; }
    bool showInspector() const { return m_showInspector; }
    bool showCommandPalette() const { return m_showCommandPalette; }
    bool showMoveSheet() const { return m_showMoveSheet; }
    bool showDuplicatesSheet() const { return m_showDuplicatesSheet; }
    bool showBatchCompressSheet() const { return m_showBatchCompressSheet; }
    const QList<VideoFile> & videosPendingCompression() const { return m_videosPendingCompression; }
    bool showStorageInsightsSheet() const { return m_showStorageInsightsSheet; }
    bool showOnboarding() const { return m_showOnboarding; }
    const std::optional<VideoFile> & videoPendingEdit() const { return m_videoPendingEdit; }
    const QList<VideoFile> & videosPendingMove() const { return m_videosPendingMove; }
    const QList<VideoFile> & videosPendingPermanentDelete() const { return m_videosPendingPermanentDelete; }
    bool showPermanentDeleteAlert() const { return m_showPermanentDeleteAlert; }
    const QList<QUrl> & recentMoveDestinations() const { return m_recentMoveDestinations; }
    const std::optional<ToastMessage> & activeToast() const { return m_activeToast; }
    const std::optional<UndoRecord> & lastUndoRecord() const { return m_lastUndoRecord; }

    // ---- setters (hook fields run their reaction on every assignment) ----
    void setLanguage(AppLanguage value);
    void setAppearance(AppAppearance value);
    void setCompactSingleChildFolders(bool value);
    void setSortOrder(VideoSortOrder value);
    void setIncludePhotosLibrary(bool value);
    void setActiveScope(const ScanScope &value);
    void setExternalVolumes(const QList<ScanScope> &value);
    void setCustomScopes(const QList<ScanScope> &value);
    void setIsScanning(bool value);
    void setScanStatusPath(const std::optional<QString> &value);
    void setDeniedFolders(const QStringList &value);
    void setLastScanDate(const std::optional<QDateTime> &value);
    void setIsShowingCachedScan(bool value);
    void setScopeCache(const ScopeCache &value);
    void setAllVideos(const QList<VideoFile> &value);
    void setTreeRoots(const QList<VideoFolderNodePtr> &value);
    void setFlattenedRows(const QList<TreeRow> &value);
    void setExpandedFolderIDs(const QSet<QString> &value);
    void setActiveSmartFilter(SmartFilter value);
    void setActiveExtensionFilter(const std::optional<QString> &value);
    void setSearchQuery(const QString &value);
    void setIsAISearchMode(bool value);
    void setAiEngineStatus(const OnDeviceAIEngineStatus &value);
    void setAiIndexEntries(const VisualIndexMap &value);
    void setAiSearchScores(const ScoreMap &value);
    void setAiSearchHits(const SearchHitMap &value);
    void setIsAIIndexing(bool value);
    void setAiIndexedCount(int value);
    void setAiTotalToIndex(int value);
    void setAiSkippedICloudCount(int value);
    void setAiSkippedUnreadableCount(int value);
    void setAiVideosPerSecond(double value);
    void setAiETAText(const std::optional<QString> &value);
    void setIsAISearchRunning(bool value);
    void setIsMobileCLIPInstalled(bool value);
    void setAiModelInstalledSizeText(const std::optional<QString> &value);
    void setIsDownloadingAIModel(bool value);
    void setAiModelDownloadProgress(double value);
    void setAiModelDownloadStage(const QString &value);
    void setAiModelDownloadError(const QString &value);
    void setSpeechTranscripts(const TranscriptMap &value);
    void setTranscribingVideoIDs(const QSet<QString> &value);
    void setPrimarySelectedVideoID(const std::optional<QString> &value);
    void setSelectedVideoIDs(const QSet<QString> &value);
    void setIsTheaterMode(bool value);
    void setPlaybackToggleSignal(int value);
    void setFullscreenRequestSignal(int value);
    void setVideoReloadSignal(int value);
    void setPendingSeekTimestamp(const std::optional<double> &value);
    void setPendingSeekSignal(int value);
    void setShowInspector(bool value);
    void setShowCommandPalette(bool value);
    void setShowMoveSheet(bool value);
    void setShowDuplicatesSheet(bool value);
    void setShowBatchCompressSheet(bool value);
    void setVideosPendingCompression(const QList<VideoFile> &value);
    void setShowStorageInsightsSheet(bool value);
    void setShowOnboarding(bool value);
    void setVideoPendingEdit(const std::optional<VideoFile> &value);
    void setVideosPendingMove(const QList<VideoFile> &value);
    void setVideosPendingPermanentDelete(const QList<VideoFile> &value);
    void setShowPermanentDeleteAlert(bool value);
    void setRecentMoveDestinations(const QList<QUrl> &value);
    void setActiveToast(const std::optional<ToastMessage> &value);
    void setLastUndoRecord(const std::optional<UndoRecord> &value);

    // Not observed.
    const VideoScanner &scanner() const { return m_scanner; }
    const TaskHandle &scanTask() const { return m_scanTask; }
    const TaskHandle &aiIndexTask() const { return m_aiIndexTask; }
    const TaskHandle &aiSearchTask() const { return m_aiSearchTask; }
    const TaskHandle &modelDownloadTask() const { return m_modelDownloadTask; }
    const TaskHandle &toastDismissTask() const { return m_toastDismissTask; }
    const QUrl &scopeCacheURL() const { return m_scopeCacheURL; }
    // ~/.local/share/Lumenkite (or the temporary folder's "Lumenkite").
    const QString &supportFolder() const { return m_supportFolder; }

    void setServices(Services services);
    const Services &services() const;
    void setScanStarter(ScanStarter starter);

    // ---- start-up, settings, toasts ----
    void restoreCustomScopes();
    // Runs `then` on this thread once the cache file read at start-up is in (at once when it
    // is), so a window can show itself while a large file is read.
    void afterScopeCacheLoads(std::function<void()> then);
    void loadRecentMoveDestinations();
    void refreshAIModelStatus();
    // Copies the visual index and the transcripts of their services into the state.
    void loadCachedIndexes();
    void completeOnboarding();
    void showToast(const QString &message, bool isError = false, bool canUndo = false);
    // Clears the toast without touching its dismissal.
    void dismissToast();
    // The time-left text of the indexing progress: "~42s", "~2m 11s", "~1h 2m".
    static QString formatETA(double seconds);

    // ---- scopes, scanning, scope cache ----
    QString scopeCacheKey() const;
    void selectScope(const ScanScope &scope);
    void applyActiveScope();
    void startScan();
    void stopScan();
    // Asks the folder chooser for a folder, then adds it.
    void addCustomFolder();
    // Adds a chosen folder as a custom scope and selects it.
    void addCustomFolder(const QUrl &folder);
    void removeCustomScope(const ScanScope &scope);
    void saveScopeCache();
    // Applies one event of the running scan; ignored when no scan runs.
    void handle(const ScanEvent &event);
    // Blocks until queued cache writes reached the disk (shutdown, tests).
    void waitForCacheWrites();

    // ---- filtering and derived lists ----
    QList<VideoFile> filteredVideos() const;
    // Its size, without making the list.
    qsizetype filteredVideoCount() const;
    // Their total size.
    qint64 filteredVideoBytes() const;
    // The same two figures as the window shows them beside the tree. A large library's are
    // the tree's own: its filter is made on a worker with the tree that shows the result, so
    // the window neither waits for the filter nor shows a count its rows do not have.
    qsizetype shownVideoCount() const;
    qint64 shownVideoBytes() const;
    // The videos of the library a smart view keeps, whatever filter is active; none for an
    // empty library. Counted once per change of the library (the recent view once a minute).
    std::optional<int> smartFilterCount(SmartFilter filter) const;
    std::optional<QString> lastScanText() const;
    int indexedVideoCount() const;
    qint64 totalVideoBytes() const;
    QList<ExtensionCount> extensionCounts() const;
    bool hasHigherAIScore(const VideoFile &a, const VideoFile &b) const;

    // ---- tree, expansion, selection ----
    void rebuildTree(bool autoExpand);
    // The tree for the filters, query and sort order as they are now. A large result is built
    // and flattened on a worker and replaces the shown tree in one step; a newer request (or a
    // rebuildTree()) supersedes it, so an older result never shows. Small results are built at once.
    void refreshTree();
    void toggleFolder(const QString &folderID);
    void expandAll();
    void collapseAll();
    void selectVideo(const VideoFile &video);
    void select(const VideoFile &video, double seekTo);
    void toggleSelection(const VideoFile &video);
    void clearSelection();
    void selectAdjacent(int step);
    void revealVideo(const VideoFile &video);
    std::optional<VideoFile> primarySelectedVideo() const;
    QList<VideoFile> selectedVideos() const;
    qint64 selectedVideosTotalSize() const;
    // The library's video with this id (through the id index).
    std::optional<VideoFile> videoWithID(const QString &id) const;

    // ---- edit and compression results ----
    void applyCompressionResults(const BatchCompressionResult &result);
    void applyTrimExport(const VideoFile &source, const QUrl &outputURL, qint64 outputSize, bool replacedOriginal);
    void refreshMediaAfterEdit(const QUrl &outputURL, bool replacedOriginal, const VideoFile &source);

    // ---- moving, trashing, deleting, undo ----
    void prepareMove(const VideoFolderNode &folder);
    void moveSelected(const QUrl &destination);
    void rememberMoveDestination(const QUrl &destination);
    void moveSelectedToTrash(const QList<VideoFile> &videos);
    void deletePermanently();
    void undoLastOperation();
    // A move or an undo that copies between file systems does so on a worker: the bytes
    // done and in all while it runs (false/0 otherwise), and a stop at its next step (the
    // file being copied stays where it was; those already moved are kept).
    bool isCopyingFiles() const;
    qint64 fileCopyDone() const;
    qint64 fileCopyTotal() const;
    void cancelFileCopy();

    // ---- on-device search (its full behaviour comes with the search services) ----
    void scheduleAISearch();
    void setAISearchMode(bool on);
    void startAIIndexingIfNeeded();
    void stopAIIndexing();
    void downloadAIModel();
    void cancelAIModelDownload();
    // Deletes the installed models through the search services; the error text on failure.
    std::optional<QString> removeInstalledAIModelFiles();
    void transcribeSelected(const VideoFile &video);

signals:
    void languageChanged();
    void appearanceChanged();
    void compactSingleChildFoldersChanged();
    void sortOrderChanged();
    void includePhotosLibraryChanged();
    void activeScopeChanged();
    void externalVolumesChanged();
    void customScopesChanged();
    void isScanningChanged();
    void scanStatusPathChanged();
    void deniedFoldersChanged();
    void lastScanDateChanged();
    void isShowingCachedScanChanged();
    void isLoadingLibraryChanged();
    void scopeCacheChanged();
    void allVideosChanged();
    void treeRootsChanged();
    void flattenedRowsChanged();
    void expandedFolderIDsChanged();
    void activeSmartFilterChanged();
    void activeExtensionFilterChanged();
    void searchQueryChanged();
    void isAISearchModeChanged();
    void aiEngineStatusChanged();
    void aiIndexEntriesChanged();
    void aiSearchScoresChanged();
    void aiSearchHitsChanged();
    void isAIIndexingChanged();
    void aiIndexedCountChanged();
    void aiTotalToIndexChanged();
    void aiSkippedICloudCountChanged();
    void aiSkippedUnreadableCountChanged();
    void aiVideosPerSecondChanged();
    void aiETATextChanged();
    void isAISearchRunningChanged();
    void isMobileCLIPInstalledChanged();
    void aiModelInstalledSizeTextChanged();
    void isDownloadingAIModelChanged();
    void aiModelDownloadProgressChanged();
    void aiModelDownloadStageChanged();
    void aiModelDownloadErrorChanged();
    void speechTranscriptsChanged();
    void transcribingVideoIDsChanged();
    void primarySelectedVideoIDChanged();
    void selectedVideoIDsChanged();
    void isTheaterModeChanged();
    void playbackToggleSignalChanged();
    void fullscreenRequestSignalChanged();
    void videoReloadSignalChanged();
    void pendingSeekTimestampChanged();
    void pendingSeekSignalChanged();
    void showInspectorChanged();
    void showCommandPaletteChanged();
    void showMoveSheetChanged();
    void showDuplicatesSheetChanged();
    void showBatchCompressSheetChanged();
    void videosPendingCompressionChanged();
    void showStorageInsightsSheetChanged();
    void showOnboardingChanged();
    void videoPendingEditChanged();
    void videosPendingMoveChanged();
    void videosPendingPermanentDeleteChanged();
    void showPermanentDeleteAlertChanged();
    void recentMoveDestinationsChanged();
    void activeToastChanged();
    void lastUndoRecordChanged();
    void fileCopyChanged();
    void filteredVideosChanged();
    void lastScanTextChanged();
    void indexedVideoCountChanged();
    void totalVideoBytesChanged();
    void extensionCountsChanged();
    void primarySelectedVideoChanged();
    void selectedVideosChanged();
    void scopeCacheKeyChanged();
    // A rebuild replaced the tree and the rows.
    void treeRebuilt();

private:
    enum Derived : unsigned {
        filtered = 1u << 0,
        libraryCounts = 1u << 1,
        indexedCount = 1u << 2,
        lastScan = 1u << 3,
        primary = 1u << 4,
        selection = 1u << 5,
        scopeKey = 1u << 6,
        lookup = 1u << 7,
    };
    struct Private;

    template <typename T> static bool assign(T &field, const T &value)
    {
        if (field == value)
            return false;
        field = value;
        return true;
    }
    // Rows have no equality of their own: equal when they show the same nodes and videos.
    static bool assign(QList<TreeRow> &field, const QList<TreeRow> &value);
    void invalidate(unsigned derived);

    using FilterTest = std::function<bool(const VideoFile &)>;

    static QString keyFor(const ScanScope &scope, bool includePhotosLibrary);
    OnDeviceAIEngineStatus computeEngineStatus() const;
    void presentToast(const QString &message, bool isError, bool canUndo);
    // A success toast, with the failures of the same call as an error toast after it.
    void showToastThenFollowUp(const QString &message, bool canUndo, const QStringList &failures);
    void finishMove(const QUrl &destination, const QList<MovedItemRecord> &records, const QStringList &failures);
    void finishUndo(const UndoRecord &record, const QList<VideoFile> &restored, const QStringList &failures);
    // Runs `work` on the copying worker; what it returns runs on this thread when it ends.
    void runFileCopy(std::function<std::function<void()>(const FileOperationService::CopyControl &)> work);
    void toastExpired();
    void showFollowUpToast();
    void cancelConsumer();
    void selectFirstVideoRow();
    void scheduleScanRebuild();
    void runScanRebuild();
    // The rebuilds of a scan: on a worker for a large list; `then` runs once the tree is in place.
    void rebuildForScan(bool autoExpand, std::function<void()> then = {});
    void startBackgroundRebuild(const QList<VideoFile> &list, bool autoExpand, bool withIndex = false);
    void publishRows(const QList<TreeRow> &rows);
    void releaseOnWorker(std::shared_ptr<void> garbage);
    // Lets go of the library's index (it describes the list as it was), freed on a worker.
    void releaseIndex();
    // Keeps `roots`, a tree of every video of `index` in the layout asked for now, for the
    // next tree of the whole library (a large one only).
    void keepWholeTree(const std::shared_ptr<const LibraryIndex> &index, const std::optional<QString> &rootPath,
                       const QList<VideoFolderNodePtr> &roots);
    void runAfterRebuild();
    void flushScanSignals();
    bool publishScanPending();
    // A large scan's gathered videos join the library through a worker (AppStateScanning.cpp).
    void startScanMerge();
    bool finishScanMerge();
    void completeScan();
    // The caches follow videos that joined the library, counted with `context`.
    void noteVideosAppended(const QList<VideoFile> &fresh, const AppendedCounts &counts,
                            const CountingContext &context, bool filteredDone);
    CountingContext countingContext() const;
    void commitLibraryChange(const LibraryChange &change);
    void writeScopeCache();
    bool isInsideActiveScope(const QString &directoryPath) const;
    void setLibrary(const QList<VideoFile> &videos);
    void ensureLookup() const;
    // The position of each of `ids` found in the library (an id's last), in the order of `ids`.
    std::vector<qsizetype> positionsOfIDs(const QList<QString> &ids) const;
    // Starts making the id lookup of a large library on a worker, which it takes when done.
    void makeLookupInBackground() const;
    void appendVideos(const QList<VideoFile> &fresh, bool notify = true);
    bool aiSearchActive() const;
    FilterTest filterTest() const;
    const LibraryIndex &libraryIndex() const;
    // The library's index when one is made already (none is made here).
    const LibraryIndex *madeIndex() const;
    void joinScopeCacheLoad() const;
    void releaseCacheLoadWorker();
    LibraryIndex::Criteria filterCriteria() const;
    void ensureFiltered() const;
    // Whether a large library's filter is made on the worker that builds its tree rather than
    // here (never while a scan runs, nor for score-ordered results).
    bool filtersOnWorker() const;
    void ensureCounts() const;
    void reflatten(bool expandAll);
    // The same, on a worker when the rows are many (the user's opening and closing of folders).
    void reflattenSoon(bool expandAll);
    // Every folder opened, its rows made here.
    void expandAllNow();
    void replaceRows(const QList<TreeRow> &rows);
    // Lets go of replaced rows on a worker, keeping their storage for the next large flatten.
    void recycleRows(QList<TreeRow> rows);
    // A smart or extension filter that leaves few videos (no more than the first view opens
    // whole) opens the folders holding them. True when it opened any.
    bool openFoldersOfFewResults();
    VideoFile enterNewFile(const VideoFile &source, const QUrl &outputURL, qint64 size, bool replacedOriginal,
                           const std::optional<QDateTime> &created);
    void invalidateMedia(const QUrl &outputURL, bool replacedOriginal, const VideoFile &source);
    void removeFromLibrary(const QSet<QString> &ids);
    // The library indexing run (AppStateSearch.cpp).
    struct AIIndexRun;
    void startAIIndexWorker(const std::shared_ptr<AIIndexRun> &run);
    void takeAIIndexResult(const std::shared_ptr<AIIndexRun> &run, const VideoFile &video,
                           const VideoIndexOutcome &outcome);
    void endAIIndexRun(const std::shared_ptr<AIIndexRun> &run);
    // Cancels the run and waits until no worker is inside a video (the state's end).
    void endAIIndexWorkers();
    // Starts a run when the visual search is turned on over an empty index (once the saved
    // index has loaded).
    void triggerAIIndexingForSearchMode();
    bool isAIIndexFresh(const VideoFile &video, bool needsEmbeddings) const;
    // Whether the video's entry counts as indexed: with the scene model installed, only one
    // whose embeddings that model can search.
    bool countsAsIndexed(const QString &videoID) const;

    void languageHook();
    void compactSingleChildFoldersHook();
    void sortOrderHook();
    void includePhotosLibraryHook();
    void searchQueryHook();
    void isAISearchModeHook();

    AppLanguage m_language{AppLanguage::en};
    AppAppearance m_appearance{AppAppearance::system};
    bool m_compactSingleChildFolders{true};
    VideoSortOrder m_sortOrder{VideoSortOrder::nameAsc};
    bool m_includePhotosLibrary{true};
    ScanScope m_activeScope{ScanScope::homeDirectory()};
    QList<ScanScope> m_externalVolumes;
    QList<ScanScope> m_customScopes;
    bool m_isScanning{false};
    std::optional<QString> m_scanStatusPath;
    QStringList m_deniedFolders;
    std::optional<QDateTime> m_lastScanDate;
    bool m_isShowingCachedScan{false};
    bool m_isLoadingLibrary{false};
    ScopeCache m_scopeCache;
    QList<VideoFile> m_allVideos;
    QList<VideoFolderNodePtr> m_treeRoots;
    QList<TreeRow> m_flattenedRows;
    QSet<QString> m_expandedFolderIDs;
    SmartFilter m_activeSmartFilter{SmartFilter::all};
    std::optional<QString> m_activeExtensionFilter;
    QString m_searchQuery;
    bool m_isAISearchMode{false};
    OnDeviceAIEngineStatus m_aiEngineStatus;
    VisualIndexMap m_aiIndexEntries;
    ScoreMap m_aiSearchScores;
    SearchHitMap m_aiSearchHits;
    bool m_isAIIndexing{false};
    int m_aiIndexedCount{0};
    int m_aiTotalToIndex{0};
    int m_aiSkippedICloudCount{0};
    int m_aiSkippedUnreadableCount{0};
    double m_aiVideosPerSecond{0};
    std::optional<QString> m_aiETAText;
    bool m_isAISearchRunning{false};
    bool m_isMobileCLIPInstalled{false};
    std::optional<QString> m_aiModelInstalledSizeText;
    bool m_isDownloadingAIModel{false};
    double m_aiModelDownloadProgress{0};
    QString m_aiModelDownloadStage;
    QString m_aiModelDownloadError;
    TranscriptMap m_speechTranscripts;
    QSet<QString> m_transcribingVideoIDs;
    std::optional<QString> m_primarySelectedVideoID;
    QSet<QString> m_selectedVideoIDs;
    bool m_isTheaterMode{false};
    int m_playbackToggleSignal{0};
    int m_fullscreenRequestSignal{0};
    int m_videoReloadSignal{0};
    std::optional<double> m_pendingSeekTimestamp;
    int m_pendingSeekSignal{0};
    bool m_showInspector{true};
    bool m_showCommandPalette{false};
    bool m_showMoveSheet{false};
    bool m_showDuplicatesSheet{false};
    bool m_showBatchCompressSheet{false};
    QList<VideoFile> m_videosPendingCompression;
    bool m_showStorageInsightsSheet{false};
    bool m_showOnboarding{false};
    std::optional<VideoFile> m_videoPendingEdit;
    QList<VideoFile> m_videosPendingMove;
    QList<VideoFile> m_videosPendingPermanentDelete;
    bool m_showPermanentDeleteAlert{false};
    QList<QUrl> m_recentMoveDestinations;
    std::optional<ToastMessage> m_activeToast;
    std::optional<UndoRecord> m_lastUndoRecord;

    VideoScanner m_scanner;
    TaskHandle m_scanTask;
    TaskHandle m_aiIndexTask;
    TaskHandle m_aiSearchTask;
    TaskHandle m_modelDownloadTask;
    TaskHandle m_toastDismissTask;
    QUrl m_scopeCacheURL;
    QString m_supportFolder;
    std::unique_ptr<Private> d;
};
