#include "AppState.h"

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

namespace {

QSettings appSettings() { return QSettings(QStringLiteral("Lumenkite"), QStringLiteral("Lumenkite")); }

const QString kLanguageKey = QStringLiteral("Lumenkite.language");
const QString kOnboardingKey = QStringLiteral("Lumenkite.hasCompletedOnboarding");
const QString kRecentDestinationsKey = QStringLiteral("Lumenkite.recentMoveDestinations");
const QString kLastCustomScopeKey = QStringLiteral("Lumenkite.lastCustomScopePath");

QString trimmed(const QString &s) { return s.trimmed(); }

bool isUnder(const QString &path, const QString &root)
{
    if (root == QLatin1String("/"))
        return true;
    return path == root || (path.startsWith(root) && path.size() > root.size() && path.at(root.size()) == '/');
}

// A video entering the library at `url`: size and dates as the caller gives them.
VideoFile videoForOutput(const QUrl &url, qint64 size, const QDateTime &modified,
                         const std::optional<QDateTime> &created)
{
    const QString path = standardizedPath(url.toLocalFile());
    const int slash = path.lastIndexOf('/');
    VideoFile v;
    v.id = path;
    v.url = QUrl::fromLocalFile(path);
    v.name = path.mid(slash + 1);
    const int dot = v.name.lastIndexOf('.');
    v.fileExtension = dot > 0 && dot < v.name.size() - 1 ? v.name.mid(dot + 1).toUpper() : QString();
    v.directoryPath = slash <= 0 ? QStringLiteral("/") : path.left(slash);
    v.fileSize = size;
    v.modifiedDate = modified;
    v.createdDate = created;
    return v;
}

QString joinedFailures(const QStringList &lines) { return lines.mid(0, 3).join('\n'); }

} // namespace

// A change made to the library by a file operation or an edit result, so that the same
// change can be applied to a cached record when the library itself is not complete.
struct LibraryChange {
    QSet<QString> removed;              // ids that leave
    QHash<QString, VideoFile> replaced; // old id -> new video, at the same position
    QList<VideoFile> appended;          // added at the end (replacing any entry of the same id)

    QList<VideoFile> applied(const QList<VideoFile> &videos) const
    {
        QSet<QString> appendedIDs;
        for (const VideoFile &v : appended)
            appendedIDs.insert(v.id);
        QList<VideoFile> out;
        out.reserve(videos.size() + appended.size());
        for (const VideoFile &v : videos) {
            if (removed.contains(v.id) || appendedIDs.contains(v.id))
                continue;
            const auto it = replaced.constFind(v.id);
            out.append(it == replaced.cend() ? v : it.value());
        }
        out.append(appended);
        return out;
    }
};

struct AppState::Private {
    Services services;
    ScanStarter starter;
    std::unique_ptr<ScopeCacheWriter> writer;

    // The running scan's consumer.
    struct Consumer {
        quint64 token = 0;
        ScanScope scope;
        bool includePhotosLibrary = true;
        QString key;
        QSet<QString> ids;
        QSet<QString> denied;
        ScanJob job;
    };
    std::optional<Consumer> consumer;
    quint64 nextConsumerToken = 1;

    // The key of the scope the library shows, and whether it holds that scope's complete
    // scan (a cache hit or a completed scan) rather than a partial one.
    QString libraryKey;
    bool libraryComplete = false;

    // Coalesced tree rebuilds while scan batches arrive.
    QTimer scanRebuildTimer;
    QElapsedTimer sinceScanRebuild;
    qint64 lastRebuildMs = 0;

    // Toast dismissal and the notice that follows the current toast.
    QTimer toastTimer;
    std::optional<ToastMessage> followUpToast;

    // ---- derived caches ----
    bool lookupValid = false;
    QHash<QString, qsizetype> indexByID; // first position of each id in allVideos

    bool filteredValid = false;
    QList<VideoFile> filtered;
    QDateTime filteredAt;

    bool countsValid = false;
    qint64 totalBytes = 0;
    QHash<QString, int> countByExtension;
    bool extensionListValid = false;
    QList<ExtensionCount> extensionList;

    bool indexedValid = false;
    int indexedCount = 0;

    bool primaryValid = false;
    std::optional<VideoFile> primary;

    bool selectionValid = false;
    QList<VideoFile> selected;
    qint64 selectedBytes = 0;

    // Case-folded search keys, made once per video.
    struct SearchKey {
        QString name, folder, extension;
    };
    QHash<QString, SearchKey> searchKeys;
    QHash<QString, QString> foldedFolders;

    const SearchKey &searchKey(const VideoFile &v)
    {
        auto it = searchKeys.find(v.id);
        if (it != searchKeys.end())
            return it.value();
        auto folder = foldedFolders.find(v.directoryPath);
        if (folder == foldedFolders.end())
            folder = foldedFolders.insert(v.directoryPath, v.directoryPath.toCaseFolded());
        return searchKeys.insert(v.id, {v.name.toCaseFolded(), folder.value(), v.fileExtension.toCaseFolded()}).value();
    }
};

bool AppState::assign(QList<TreeRow> &field, const QList<TreeRow> &value)
{
    const auto same = [](const TreeRow &a, const TreeRow &b) {
        return a.kind == b.kind && a.depth == b.depth && a.isLastInParent == b.isLastInParent &&
               a.isExpanded == b.isExpanded && a.ancestorHasNextSibling == b.ancestorHasNextSibling &&
               a.folderNode == b.folderNode &&
               (a.videoFile == b.videoFile || (a.videoFile && b.videoFile && *a.videoFile == *b.videoFile));
    };
    if (field.size() == value.size() && std::equal(field.begin(), field.end(), value.begin(), same))
        return false;
    field = value;
    return true;
}

// ---- AppAppearance ----

namespace AppAppearanceInfo {
const QList<AppAppearance> &allCases()
{
    static const QList<AppAppearance> all{AppAppearance::system, AppAppearance::light, AppAppearance::dark};
    return all;
}
QString rawValue(AppAppearance a)
{
    switch (a) {
    case AppAppearance::system: return QStringLiteral("system");
    case AppAppearance::light: return QStringLiteral("light");
    case AppAppearance::dark: return QStringLiteral("dark");
    }
    return {};
}
std::optional<AppAppearance> fromRawValue(const QString &raw)
{
    for (AppAppearance a : allCases())
        if (rawValue(a) == raw)
            return a;
    return std::nullopt;
}
QString titleKey(AppAppearance a) { return QStringLiteral("appearance.") + rawValue(a); }
} // namespace AppAppearanceInfo

// ---- start-up ----

AppState::AppState(QObject *parent) : AppState(Services{}, parent) {}

AppState::AppState(Services services, QObject *parent) : QObject(parent), d(std::make_unique<Private>())
{
    setServices(std::move(services));
    d->scanRebuildTimer.setSingleShot(true);
    connect(&d->scanRebuildTimer, &QTimer::timeout, this, [this] { runScanRebuild(); });
    d->toastTimer.setSingleShot(true);
    d->toastTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->toastTimer, &QTimer::timeout, this, [this] { toastExpired(); });

    // 1-2. Language, then the defaults of the member initialisers.
    m_language = AppLanguageInfo::current();
    m_aiEngineStatus = computeEngineStatus();

    // 3. The support folder and the cache file in it.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    m_supportFolder = QDir(base).filePath(QStringLiteral("Lumenkite"));
    QDir().mkpath(m_supportFolder);
    const QString cachePath = QDir(m_supportFolder).filePath(QStringLiteral("scope_cache_v1.json"));
    m_scopeCacheURL = QUrl::fromLocalFile(cachePath);
    d->writer = std::make_unique<ScopeCacheWriter>(cachePath);

    // 4-6.
    m_externalVolumes = VideoScanner::mountedVolumes();
    restoreCustomScopes();
    loadRecentMoveDestinations();

    // 7. A missing or undecodable file gives an empty cache. Parsed on this thread: a
    // worker gains nothing over the few milliseconds of steps 4-6, and its fresh malloc
    // arena made the parse several times slower.
    m_scopeCache = ScopeCacheCodec::load(cachePath);

    // 8-9.
    refreshAIModelStatus();
    if (!appSettings().value(kOnboardingKey, false).toBool())
        m_showOnboarding = true;

    // 10. The indexes are copied once the event loop runs.
    QMetaObject::invokeMethod(this, [this] { loadCachedIndexes(); }, Qt::QueuedConnection);
}

AppState::~AppState()
{
    // The scan task's flag outlives the state: an event source that still delivers finds
    // it cancelled before it reaches the state.
    cancelConsumer();
    d->writer->waitForIdle();
}

void AppState::setServices(Services services)
{
    if (!services.onDeviceSearch)
        services.onDeviceSearch = std::make_shared<OnDeviceSearchServices>();
    d->services = std::move(services);
}

void AppState::setScanStarter(ScanStarter starter) { d->starter = std::move(starter); }

void AppState::restoreCustomScopes()
{
    QList<ScanScope> scopes;
    for (const QUrl &url : BookmarkService::shared().restoreFolders())
        scopes.append(ScanScope::customFolder(url));
    setCustomScopes(scopes);
}

void AppState::loadRecentMoveDestinations()
{
    const QVariant stored = appSettings().value(kRecentDestinationsKey);
    QList<QUrl> urls;
    if (stored.canConvert<QStringList>() && (stored.typeId() == QMetaType::QStringList ||
                                             stored.typeId() == QMetaType::QVariantList ||
                                             stored.typeId() == QMetaType::QString)) {
        for (const QString &path : stored.toStringList())
            if (!path.isEmpty() && QFileInfo::exists(path))
                urls.append(QUrl::fromLocalFile(path));
    }
    setRecentMoveDestinations(urls);
}

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
            self->setSpeechTranscripts(transcripts);
        }, Qt::QueuedConnection);
    });
}

void AppState::completeOnboarding()
{
    appSettings().setValue(kOnboardingKey, true);
    setShowOnboarding(false);
}

// ---- toasts ----

void AppState::showToast(const QString &message, bool isError, bool canUndo)
{
    // A newer notice supersedes whatever was waiting to follow the old one.
    d->followUpToast.reset();
    presentToast(message, isError, canUndo);
}

void AppState::presentToast(const QString &message, bool isError, bool canUndo)
{
    m_toastDismissTask.cancel();
    d->toastTimer.stop();
    setActiveToast(ToastMessage{QUuid::createUuid(), message, isError, canUndo});
    m_toastDismissTask = TaskHandle::make();
    d->toastTimer.start(canUndo ? kUndoToastMilliseconds : kToastMilliseconds);
}

void AppState::showToastThenFollowUp(const QString &message, bool canUndo, const QStringList &failures)
{
    showToast(message, false, canUndo);
    if (!failures.isEmpty())
        d->followUpToast = ToastMessage{QUuid(), joinedFailures(failures), true, false};
}

void AppState::toastExpired()
{
    if (m_toastDismissTask.isCancelled())
        return;
    setActiveToast(std::nullopt);
    showFollowUpToast();
}

void AppState::showFollowUpToast()
{
    if (!d->followUpToast)
        return;
    const ToastMessage next = *d->followUpToast;
    d->followUpToast.reset();
    presentToast(next.message, next.isError, next.canUndo);
}

void AppState::dismissToast()
{
    // The close action cancels the dismissal task itself; the timer goes with it.
    if (m_toastDismissTask.isCancelled())
        d->toastTimer.stop();
    setActiveToast(std::nullopt);
    showFollowUpToast();
}

QString AppState::formatETA(double seconds)
{
    const qint64 s = std::isfinite(seconds) ? qint64(std::llround(seconds)) : 0;
    const auto n = [](qint64 v) { return QString::number(v); };
    if (s <= 59)
        return QStringLiteral("~") + n(std::max<qint64>(s, 1)) + QStringLiteral("s");
    if (s > 3599)
        return QStringLiteral("~") + n(s / 3600) + QStringLiteral("h ") + n((s / 60) % 60) + QStringLiteral("m");
    if (s % 60 < 11)
        return QStringLiteral("~") + n(s / 60) + QStringLiteral("m");
    return QStringLiteral("~") + n(s / 60) + QStringLiteral("m ") + n(s % 60) + QStringLiteral("s");
}

// ---- hooks ----

void AppState::languageHook() { appSettings().setValue(kLanguageKey, AppLanguageInfo::rawValue(m_language)); }
void AppState::compactSingleChildFoldersHook() { rebuildTree(false); }
void AppState::sortOrderHook() { rebuildTree(false); }
void AppState::includePhotosLibraryHook() { applyActiveScope(); }
void AppState::searchQueryHook()
{
    if (m_isAISearchMode)
        scheduleAISearch();
    else
        rebuildTree(false);
}
void AppState::isAISearchModeHook() { setAISearchMode(m_isAISearchMode); }

// ---- scopes and scanning ----

QString AppState::scopeCacheKey() const { return keyFor(m_activeScope, m_includePhotosLibrary); }

QString AppState::keyFor(const ScanScope &scope, bool includePhotosLibrary)
{
    return scope.id() + QStringLiteral("#photos=") + (includePhotosLibrary ? QLatin1Char('1') : QLatin1Char('0'));
}

void AppState::selectScope(const ScanScope &scopeArgument)
{
    const ScanScope scope = scopeArgument;
    if (scope == m_activeScope && !m_allVideos.isEmpty())
        return;
    setActiveScope(scope);
    setActiveExtensionFilter(std::nullopt);
    applyActiveScope();
}

void AppState::cancelConsumer()
{
    m_scanTask.cancel();
    d->scanRebuildTimer.stop();
    if (d->consumer) {
        d->consumer->job.cancel();
        d->consumer.reset();
    }
}

void AppState::applyActiveScope()
{
    const QString key = scopeCacheKey();
    const auto hit = m_scopeCache.constFind(key);
    if (hit == m_scopeCache.cend()) {
        startScan();
        return;
    }
    const CachedScopeScan record = hit.value();
    cancelConsumer();
    setIsScanning(false);
    setScanStatusPath(std::nullopt);
    setLibrary(record.videos);
    d->libraryKey = key;
    d->libraryComplete = true;
    QStringList denied = record.deniedFolders;
    denied.removeAll(QStringLiteral("Guest"));
    setDeniedFolders(denied);
    setLastScanDate(record.scannedAt);
    setIsShowingCachedScan(true);
    setExpandedFolderIDs({});
    setSelectedVideoIDs({});
    setPrimarySelectedVideoID(std::nullopt);
    rebuildTree(true);
    selectFirstVideoRow();
    if (m_isAISearchMode && !m_searchQuery.isEmpty())
        scheduleAISearch();
}

void AppState::selectFirstVideoRow()
{
    for (const TreeRow &row : std::as_const(m_flattenedRows)) {
        if (row.isVideo()) {
            selectVideo(row.video());
            return;
        }
    }
}

void AppState::startScan()
{
    cancelConsumer();
    setIsScanning(true);
    setIsShowingCachedScan(false);
    switch (m_activeScope.kind) {
    case ScanScope::Kind::volume:
    case ScanScope::Kind::customFolder:
        setScanStatusPath(m_activeScope.url.toLocalFile());
        break;
    case ScanScope::Kind::homeDirectory:
        setScanStatusPath(L10n::text(QStringLiteral("scope.users.sub"), m_language));
        break;
    case ScanScope::Kind::entireMacDeep:
        setScanStatusPath(L10n::text(QStringLiteral("scope.allmac.sub"), m_language));
        break;
    }
    setDeniedFolders({});
    setLibrary({});
    setTreeRoots({});
    setFlattenedRows({});
    setExpandedFolderIDs({});
    setSelectedVideoIDs({});
    setPrimarySelectedVideoID(std::nullopt);

    Private::Consumer consumer;
    consumer.token = d->nextConsumerToken++;
    consumer.scope = m_activeScope;
    consumer.includePhotosLibrary = m_includePhotosLibrary;
    consumer.key = scopeCacheKey();
    d->libraryKey = consumer.key;
    d->libraryComplete = false;
    d->sinceScanRebuild.invalidate();
    const quint64 token = consumer.token;
    d->consumer = std::move(consumer);
    m_scanTask = TaskHandle::make();

    const TaskHandle task = m_scanTask;
    auto onEvent = [this, token, task](const ScanEvent &event) {
        if (task.isCancelled() || !d->consumer || d->consumer->token != token)
            return;
        handle(event);
    };
    ScanJob job = d->starter
        ? d->starter(d->consumer->scope, d->consumer->includePhotosLibrary, this, onEvent)
        : m_scanner.scan(d->consumer->scope, d->consumer->includePhotosLibrary, this, onEvent);
    // The starter may already have delivered events (and ended the scan).
    if (d->consumer && d->consumer->token == token)
        d->consumer->job = std::move(job);
}

void AppState::stopScan()
{
    const bool pendingRebuild = d->scanRebuildTimer.isActive();
    cancelConsumer();
    setIsScanning(false);
    setScanStatusPath(std::nullopt);
    // The videos received so far stay, and the tree shows all of them.
    if (pendingRebuild)
        rebuildTree(m_expandedFolderIDs.isEmpty());
}

void AppState::handle(const ScanEvent &event)
{
    if (!d->consumer)
        return;
    Private::Consumer &c = *d->consumer;
    switch (event.kind) {
    case ScanEvent::Kind::batch: {
        ensureLookup();
        QList<VideoFile> fresh;
        for (const VideoFile &v : event.videos) {
            if (c.ids.contains(v.id))
                continue;
            c.ids.insert(v.id);
            // A video the library already holds (put there by a move, an undo or an edit
            // during the scan) is not added twice.
            if (d->indexByID.contains(v.id))
                continue;
            fresh.append(v);
        }
        setScanStatusPath(event.scannedPath);
        if (!fresh.isEmpty()) {
            // Additions to the current library, so changes made during the scan survive.
            appendVideos(fresh);
            scheduleScanRebuild();
        }
        break;
    }
    case ScanEvent::Kind::permissionDenied: {
        if (c.denied.contains(event.folderName))
            break;
        c.denied.insert(event.folderName);
        QStringList names(c.denied.cbegin(), c.denied.cend());
        std::sort(names.begin(), names.end());
        setDeniedFolders(names);
        break;
    }
    case ScanEvent::Kind::completed: {
        const QString key = c.key;
        cancelConsumer();
        setIsScanning(false);
        setScanStatusPath(std::nullopt);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        setLastScanDate(now);
        setIsShowingCachedScan(false);
        rebuildTree(true);
        if (!m_primarySelectedVideoID)
            selectFirstVideoRow();
        d->libraryKey = key;
        d->libraryComplete = true;
        ScopeCache cache = m_scopeCache;
        cache.insert(key, CachedScopeScan{key, m_allVideos, m_deniedFolders, now});
        setScopeCache(cache);
        writeScopeCache();
        break;
    }
    case ScanEvent::Kind::failed: {
        const bool pendingRebuild = d->scanRebuildTimer.isActive();
        cancelConsumer();
        setIsScanning(false);
        setScanStatusPath(std::nullopt);
        if (pendingRebuild)
            rebuildTree(m_expandedFolderIDs.isEmpty());
        showToast(event.message, true, false);
        break;
    }
    }
}

void AppState::scheduleScanRebuild()
{
    if (d->scanRebuildTimer.isActive())
        return;
    // Large trees take long to build: space rebuilds so the window stays responsive.
    const qint64 interval = std::max<qint64>(kScanRebuildIntervalMs, 2 * d->lastRebuildMs);
    const qint64 since = d->sinceScanRebuild.isValid() ? d->sinceScanRebuild.elapsed() : interval;
    if (since >= interval)
        runScanRebuild();
    else
        d->scanRebuildTimer.start(int(interval - since));
}

void AppState::runScanRebuild()
{
    if (!d->consumer)
        return;
    rebuildTree(m_expandedFolderIDs.isEmpty());
    d->sinceScanRebuild.restart();
}

void AppState::addCustomFolder()
{
    if (!d->services.folderChooser)
        return;
    const std::optional<QUrl> url = d->services.folderChooser->chooseFolder(
        L10n::text(QStringLiteral("sidebar.addFolder"), m_language),
        L10n::text(QStringLiteral("move.chooseFolder"), m_language));
    if (!url || url->isEmpty())
        return;
    addCustomFolder(*url);
}

void AppState::addCustomFolder(const QUrl &folder)
{
    BookmarkService::shared().addFolder(folder);
    const QString path = standardizedPath(folder.toLocalFile());
    ScanScope scope = ScanScope::customFolder(QUrl::fromLocalFile(path));
    const auto listed = std::find_if(m_customScopes.cbegin(), m_customScopes.cend(), [&](const ScanScope &s) {
        const std::optional<QUrl> root = s.rootURL();
        return root && standardizedPath(root->toLocalFile()) == path;
    });
    if (listed == m_customScopes.cend()) {
        QList<ScanScope> scopes = m_customScopes;
        scopes.append(scope);
        setCustomScopes(scopes);
    } else {
        scope = *listed; // the row already shown
    }
    appSettings().setValue(kLastCustomScopeKey, path);
    selectScope(scope);
}

void AppState::removeCustomScope(const ScanScope &scopeArgument)
{
    const ScanScope scope = scopeArgument; // may refer into customScopes
    if (scope.kind == ScanScope::Kind::customFolder)
        BookmarkService::shared().removeFolder(scope.url);
    QList<ScanScope> scopes = m_customScopes;
    scopes.removeAll(scope);
    setCustomScopes(scopes);
    if (m_activeScope == scope)
        selectScope(ScanScope::homeDirectory());
}

void AppState::saveScopeCache()
{
    const QString key = scopeCacheKey();
    // Only a complete library is a scan of its scope; a partial one is never cached.
    if (!d->libraryComplete || d->libraryKey != key)
        return;
    ScopeCache cache = m_scopeCache;
    cache.insert(key, CachedScopeScan{key, m_allVideos, m_deniedFolders,
                                      m_lastScanDate.value_or(QDateTime::currentDateTimeUtc())});
    setScopeCache(cache);
    writeScopeCache();
}

void AppState::commitLibraryChange(const LibraryChange &change)
{
    if (d->libraryComplete && d->libraryKey == scopeCacheKey()) {
        saveScopeCache();
        return;
    }
    // The library is partial (a scan runs or was stopped): the completed record of the
    // scope, when there is one, takes the same change.
    const auto it = m_scopeCache.constFind(d->libraryKey);
    if (it == m_scopeCache.cend())
        return;
    CachedScopeScan record = it.value();
    record.videos = change.applied(record.videos);
    ScopeCache cache = m_scopeCache;
    cache.insert(d->libraryKey, record);
    setScopeCache(cache);
    writeScopeCache();
}

void AppState::writeScopeCache() { d->writer->submit(m_scopeCache); }

void AppState::waitForCacheWrites() { d->writer->waitForIdle(); }

bool AppState::isInsideActiveScope(const QString &directoryPath) const
{
    const std::optional<QUrl> root = m_activeScope.rootURL();
    if (!root)
        return true;
    if (isUnder(directoryPath, standardizedPath(root->toLocalFile())))
        return true;
    // The home scope also walks the user's own home where it lies outside the users folder.
    return m_activeScope.kind == ScanScope::Kind::homeDirectory &&
           isUnder(directoryPath, standardizedPath(QDir::homePath()));
}

// ---- the library and its derived values ----

void AppState::setLibrary(const QList<VideoFile> &videos) { setAllVideos(videos); }

void AppState::ensureLookup() const
{
    if (d->lookupValid)
        return;
    d->indexByID.clear();
    d->indexByID.reserve(m_allVideos.size());
    for (qsizetype i = 0; i < m_allVideos.size(); ++i)
        d->indexByID.insert(m_allVideos[i].id, i); // keeps the first position of an id
    d->lookupValid = true;
}

void AppState::appendVideos(const QList<VideoFile> &fresh)
{
    const qsizetype start = m_allVideos.size();
    m_allVideos.append(fresh);
    // The caches follow the additions instead of starting over.
    if (d->lookupValid)
        for (qsizetype i = 0; i < fresh.size(); ++i)
            d->indexByID.insert(fresh[i].id, start + i);
    if (d->countsValid) {
        for (const VideoFile &v : fresh) {
            d->totalBytes += v.fileSize;
            ++d->countByExtension[v.fileExtension];
        }
        d->extensionListValid = false;
    }
    if (d->indexedValid)
        for (const VideoFile &v : fresh)
            d->indexedCount += m_aiIndexEntries.contains(v.id) ? 1 : 0;
    if (d->filteredValid && !aiSearchActive() && m_activeSmartFilter != SmartFilter::recent) {
        const FilterTest test = filterTest();
        for (const VideoFile &v : fresh)
            if (test(v))
                d->filtered.append(v);
    } else {
        d->filteredValid = false;
    }
    d->primaryValid = false;
    d->selectionValid = false;
    emit allVideosChanged();
    emit filteredVideosChanged();
    emit totalVideoBytesChanged();
    emit extensionCountsChanged();
    emit indexedVideoCountChanged();
    emit primarySelectedVideoChanged();
    emit selectedVideosChanged();
}

void AppState::invalidate(unsigned derived)
{
    if (derived & Derived::lookup)
        d->lookupValid = false;
    if (derived & Derived::filtered) {
        d->filteredValid = false;
        emit filteredVideosChanged();
    }
    if (derived & Derived::libraryCounts) {
        d->countsValid = false;
        d->extensionListValid = false;
        emit totalVideoBytesChanged();
        emit extensionCountsChanged();
    }
    if (derived & Derived::indexedCount) {
        d->indexedValid = false;
        emit indexedVideoCountChanged();
    }
    if (derived & Derived::lastScan)
        emit lastScanTextChanged();
    if (derived & Derived::primary) {
        d->primaryValid = false;
        emit primarySelectedVideoChanged();
    }
    if (derived & Derived::selection) {
        d->selectionValid = false;
        emit selectedVideosChanged();
    }
    if (derived & Derived::scopeKey)
        emit scopeCacheKeyChanged();
}

bool AppState::aiSearchActive() const { return m_isAISearchMode && !trimmed(m_searchQuery).isEmpty(); }

AppState::FilterTest AppState::filterTest() const
{
    const SmartFilter smart = m_activeSmartFilter;
    const std::optional<QString> extension = m_activeExtensionFilter;
    const QString query = trimmed(m_searchQuery);
    const QString folded = query.toCaseFolded();
    const bool textSearch = !query.isEmpty() && !m_isAISearchMode;
    // Calendar days in local time; a date the calendar cannot make keeps every video.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime cutoff = now.addDays(-kRecentDays);
    const bool haveCutoff = cutoff.isValid();
    const QSet<QString> &native = VideoFile::nativeVideoExtensions();
    Private *p = d.get();
    return [=, &native](const VideoFile &v) {
        switch (smart) {
        case SmartFilter::all: break;
        case SmartFilter::recent:
            if (haveCutoff && v.modifiedDate < cutoff)
                return false;
            break;
        case SmartFilter::largeFiles:
            if (v.fileSize < kLargeFileBytes)
                return false;
            break;
        case SmartFilter::nativeFormats:
            if (!native.contains(v.fileExtension.toLower()))
                return false;
            break;
        case SmartFilter::otherFormats:
            if (native.contains(v.fileExtension.toLower()))
                return false;
            break;
        }
        if (extension && v.fileExtension != *extension)
            return false;
        if (textSearch) {
            const Private::SearchKey &key = p->searchKey(v);
            return key.name.contains(folded) || key.folder.contains(folded) || key.extension.contains(folded);
        }
        return true;
    };
}

QList<VideoFile> AppState::filteredVideos() const
{
    // The recent window moves with the clock; a cached result is refreshed once a minute.
    if (d->filteredValid && m_activeSmartFilter == SmartFilter::recent &&
        d->filteredAt.secsTo(QDateTime::currentDateTimeUtc()) >= 60)
        d->filteredValid = false;
    if (d->filteredValid)
        return d->filtered;
    const FilterTest test = filterTest();
    QList<VideoFile> out;
    if (aiSearchActive()) {
        for (const VideoFile &v : m_allVideos) {
            const auto it = m_aiSearchScores.constFind(v.id);
            if (it != m_aiSearchScores.cend() && it.value() > 0 && test(v))
                out.append(v);
        }
        std::stable_sort(out.begin(), out.end(),
                         [this](const VideoFile &a, const VideoFile &b) { return hasHigherAIScore(a, b); });
    } else {
        out.reserve(m_allVideos.size());
        for (const VideoFile &v : m_allVideos)
            if (test(v))
                out.append(v);
        if (out.size() < m_allVideos.size() / 2)
            out.squeeze();
    }
    // Keys of videos that left the library are dropped now and then.
    if (d->searchKeys.size() > 2 * m_allVideos.size() + 1024) {
        d->searchKeys.clear();
        d->foldedFolders.clear();
    }
    d->filtered = out;
    d->filteredAt = QDateTime::currentDateTimeUtc();
    d->filteredValid = true;
    return out;
}

bool AppState::hasHigherAIScore(const VideoFile &a, const VideoFile &b) const
{
    return m_aiSearchScores.value(a.id, 0.0) > m_aiSearchScores.value(b.id, 0.0);
}

std::optional<QString> AppState::lastScanText() const
{
    if (!m_lastScanDate)
        return std::nullopt;
    const QLocale locale = uiLocale(m_language);
    const QDateTime local = m_lastScanDate->toLocalTime();
    if (local.date() == QDate::currentDate())
        return local.toString(QStringLiteral("HH:mm"));
    return locale.toString(local, QLocale::ShortFormat);
}

void AppState::ensureCounts() const
{
    if (d->countsValid)
        return;
    d->totalBytes = 0;
    d->countByExtension.clear();
    for (const VideoFile &v : m_allVideos) {
        d->totalBytes += v.fileSize;
        ++d->countByExtension[v.fileExtension];
    }
    d->countsValid = true;
    d->extensionListValid = false;
}

int AppState::indexedVideoCount() const
{
    if (!d->indexedValid) {
        int n = 0;
        if (!m_aiIndexEntries.isEmpty())
            for (const VideoFile &v : m_allVideos)
                n += m_aiIndexEntries.contains(v.id) ? 1 : 0;
        d->indexedCount = n;
        d->indexedValid = true;
    }
    return d->indexedCount;
}

qint64 AppState::totalVideoBytes() const
{
    ensureCounts();
    return d->totalBytes;
}

QList<ExtensionCount> AppState::extensionCounts() const
{
    ensureCounts();
    if (!d->extensionListValid) {
        QList<ExtensionCount> list;
        list.reserve(d->countByExtension.size());
        for (auto it = d->countByExtension.cbegin(); it != d->countByExtension.cend(); ++it)
            list.append({it.key(), it.value()});
        std::sort(list.begin(), list.end(), [](const ExtensionCount &a, const ExtensionCount &b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        });
        d->extensionList = list;
        d->extensionListValid = true;
    }
    return d->extensionList;
}

// ---- tree, expansion, selection ----

void AppState::rebuildTree(bool autoExpand)
{
    QElapsedTimer clock;
    clock.start();
    const QList<VideoFile> list = filteredVideos();
    std::optional<QString> rootPath;
    if (const std::optional<QUrl> root = m_activeScope.rootURL())
        rootPath = standardizedPath(root->toLocalFile());
    std::optional<QHash<QString, double>> scores;
    if (aiSearchActive())
        scores = m_aiSearchScores;
    setTreeRoots(LumenkiteBuilder::buildTree(list, rootPath, m_compactSingleChildFolders, m_sortOrder, scores));
    if (autoExpand && m_expandedFolderIDs.isEmpty()) {
        QSet<QString> ids;
        const bool all = list.size() <= kExpandAllLimit;
        LumenkiteBuilder::collectFolderIDs(m_treeRoots, 0, 2, all, ids);
        setExpandedFolderIDs(ids);
    }
    reflatten(!trimmed(m_searchQuery).isEmpty());
    d->lastRebuildMs = clock.elapsed();
    emit treeRebuilt();
}

void AppState::reflatten(bool expandAll)
{
    setFlattenedRows(LumenkiteBuilder::flatten(m_treeRoots, expandAll, m_expandedFolderIDs));
}

void AppState::toggleFolder(const QString &folderIDArgument)
{
    const QString folderID = folderIDArgument;
    QSet<QString> ids = m_expandedFolderIDs;
    if (!ids.remove(folderID))
        ids.insert(folderID);
    setExpandedFolderIDs(ids);
    reflatten(!trimmed(m_searchQuery).isEmpty());
}

void AppState::expandAll()
{
    QSet<QString> ids;
    LumenkiteBuilder::collectFolderIDs(m_treeRoots, 0, 0, true, ids);
    setExpandedFolderIDs(ids);
    reflatten(false);
}

void AppState::collapseAll()
{
    setExpandedFolderIDs({});
    reflatten(false);
}

void AppState::selectVideo(const VideoFile &videoArgument)
{
    const VideoFile video = videoArgument; // may refer into the rows or the library
    const bool wasPrimary = m_primarySelectedVideoID == video.id;
    setPrimarySelectedVideoID(video.id);
    setSelectedVideoIDs({video.id});
    if (aiSearchActive()) {
        const auto hit = m_aiSearchHits.constFind(video.id);
        if (hit != m_aiSearchHits.cend() && hit->bestTimestamp) {
            setPendingSeekTimestamp(hit->bestTimestamp);
            if (wasPrimary)
                setPendingSeekSignal(m_pendingSeekSignal + 1);
        }
    }
}

void AppState::select(const VideoFile &videoArgument, double seekTo)
{
    const VideoFile video = videoArgument;
    const bool wasPrimary = m_primarySelectedVideoID == video.id;
    setPrimarySelectedVideoID(video.id);
    setSelectedVideoIDs({video.id});
    setShowInspector(true);
    setPendingSeekTimestamp(seekTo);
    if (wasPrimary)
        setPendingSeekSignal(m_pendingSeekSignal + 1);
}

void AppState::toggleSelection(const VideoFile &videoArgument)
{
    const VideoFile video = videoArgument;
    QSet<QString> ids = m_selectedVideoIDs;
    if (ids.remove(video.id)) {
        setSelectedVideoIDs(ids);
        if (m_primarySelectedVideoID == video.id)
            setPrimarySelectedVideoID(ids.isEmpty() ? std::nullopt : std::optional<QString>(*ids.cbegin()));
    } else {
        ids.insert(video.id);
        setSelectedVideoIDs(ids);
        setPrimarySelectedVideoID(video.id);
    }
}

void AppState::clearSelection() { setSelectedVideoIDs({}); }

void AppState::selectAdjacent(int step)
{
    qsizetype count = 0;
    qsizetype current = -1;
    for (const TreeRow &row : std::as_const(m_flattenedRows)) {
        if (!row.isVideo())
            continue;
        if (current < 0 && m_primarySelectedVideoID && row.video().id == *m_primarySelectedVideoID)
            current = count;
        ++count;
    }
    if (count == 0)
        return;
    const qsizetype target = current < 0 ? 0 : std::clamp<qsizetype>(current + step, 0, count - 1);
    qsizetype n = 0;
    for (const TreeRow &row : std::as_const(m_flattenedRows)) {
        if (!row.isVideo())
            continue;
        if (n++ == target) {
            selectVideo(row.video());
            return;
        }
    }
}

void AppState::revealVideo(const VideoFile &videoArgument)
{
    const VideoFile video = videoArgument;
    setSearchQuery(QString());
    if (m_activeSmartFilter != SmartFilter::all)
        setActiveSmartFilter(SmartFilter::all);
    if (m_activeExtensionFilter)
        setActiveExtensionFilter(std::nullopt);
    rebuildTree(false);
    expandAll();
    selectVideo(video);
    setShowInspector(true);
}

std::optional<VideoFile> AppState::videoWithID(const QString &id) const
{
    ensureLookup();
    const auto it = d->indexByID.constFind(id);
    if (it == d->indexByID.cend())
        return std::nullopt;
    return m_allVideos[it.value()];
}

std::optional<VideoFile> AppState::primarySelectedVideo() const
{
    if (!d->primaryValid) {
        d->primary = m_primarySelectedVideoID ? videoWithID(*m_primarySelectedVideoID) : std::nullopt;
        d->primaryValid = true;
    }
    return d->primary;
}

QList<VideoFile> AppState::selectedVideos() const
{
    if (!d->selectionValid) {
        QList<VideoFile> out;
        if (m_selectedVideoIDs.isEmpty()) {
            if (const std::optional<VideoFile> p = primarySelectedVideo())
                out.append(*p);
        } else {
            ensureLookup();
            QList<qsizetype> positions;
            positions.reserve(m_selectedVideoIDs.size());
            for (const QString &id : m_selectedVideoIDs) {
                const auto it = d->indexByID.constFind(id);
                if (it != d->indexByID.cend())
                    positions.append(it.value());
            }
            std::sort(positions.begin(), positions.end());
            for (qsizetype i : positions)
                out.append(m_allVideos[i]);
        }
        qint64 bytes = 0;
        for (const VideoFile &v : out)
            bytes += v.fileSize;
        d->selected = out;
        d->selectedBytes = bytes;
        d->selectionValid = true;
    }
    return d->selected;
}

qint64 AppState::selectedVideosTotalSize() const
{
    selectedVideos();
    return d->selectedBytes;
}

// ---- edit and compression results ----

VideoFile AppState::enterNewFile(const VideoFile &source, const QUrl &outputURL, qint64 size,
                                 bool replacedOriginal, const std::optional<QDateTime> &created)
{
    const VideoFile fresh = videoForOutput(outputURL, size, QDateTime::currentDateTimeUtc(), created);
    LibraryChange change;
    if (replacedOriginal) {
        change.removed.insert(source.id);
        if (m_aiIndexEntries.contains(source.id)) {
            VisualIndexMap entries = m_aiIndexEntries;
            entries.remove(source.id);
            setAiIndexEntries(entries);
        }
    }
    change.appended.append(fresh);
    setAllVideos(change.applied(m_allVideos));
    QSet<QString> expanded = m_expandedFolderIDs;
    expanded.insert(fresh.directoryPath);
    setExpandedFolderIDs(expanded);
    commitLibraryChange(change);
    rebuildTree(false);
    return fresh;
}

void AppState::applyCompressionResults(const BatchCompressionResult &resultArgument)
{
    const BatchCompressionResult result = resultArgument;
    const VideoFile source = result.original;
    enterNewFile(source, result.outputURL, result.compressedBytes, result.replacedOriginal,
                 source.createdDate.value_or(QDateTime::currentDateTimeUtc()));
    const QUrl output = result.outputURL;
    const bool replaced = result.replacedOriginal;
    QMetaObject::invokeMethod(this, [this, output, replaced, source] {
        invalidateMedia(output, replaced, source);
        setVideoReloadSignal(m_videoReloadSignal + 1);
    }, Qt::QueuedConnection);
}

void AppState::applyTrimExport(const VideoFile &sourceArgument, const QUrl &outputURL, qint64 outputSize,
                               bool replacedOriginal)
{
    const VideoFile source = sourceArgument; // may refer into the library, which changes here
    const VideoFile fresh = enterNewFile(source, outputURL, outputSize, replacedOriginal,
                                         QDateTime::currentDateTimeUtc());
    // Open the new file's folder and every folder above it, so its row is visible.
    QSet<QString> expanded = m_expandedFolderIDs;
    for (QString folder = fresh.directoryPath; !folder.isEmpty();) {
        expanded.insert(folder);
        const int slash = folder.lastIndexOf('/');
        if (slash <= 0)
            break;
        folder.truncate(slash);
    }
    if (expanded != m_expandedFolderIDs) {
        setExpandedFolderIDs(expanded);
        reflatten(!trimmed(m_searchQuery).isEmpty());
    }

    const bool shown = std::any_of(m_flattenedRows.cbegin(), m_flattenedRows.cend(), [&](const TreeRow &row) {
        return row.isVideo() && row.video().id == fresh.id;
    });
    if (!shown) {
        setIsAISearchMode(false);
        setSearchQuery(QString());
        if (m_activeSmartFilter != SmartFilter::all)
            setActiveSmartFilter(SmartFilter::all);
        setActiveExtensionFilter(std::nullopt);
        rebuildTree(false);
    }
    QMetaObject::invokeMethod(this, [this, outputURL, replacedOriginal, source] {
        refreshMediaAfterEdit(outputURL, replacedOriginal, source);
    }, Qt::QueuedConnection);
    setPrimarySelectedVideoID(fresh.id);
    setSelectedVideoIDs({fresh.id});
    setShowInspector(true);
    setVideoReloadSignal(m_videoReloadSignal + 1);

    const qint64 s = source.fileSize;
    const qint64 n = outputSize;
    QString text = fresh.name + QStringLiteral(" (") + formatByteCount(n) + QStringLiteral(")");
    if (s >= 1) {
        const double saving = double(std::max<qint64>(s - n, 0)) / double(s) * 100.0;
        const qint64 percent = std::llround(saving);
        if (percent >= 1)
            text = fresh.name + QStringLiteral(" \u00B7 ") + formatByteCount(s) + QStringLiteral(" \u2192 ") +
                   formatByteCount(n) + QStringLiteral(" (-") + QString::number(percent) + QStringLiteral("%)");
    }
    showToast(text, false, false);
}

void AppState::invalidateMedia(const QUrl &outputURL, bool replacedOriginal, const VideoFile &source)
{
    if (MediaCacheInvalidator *media = d->services.mediaCache.get()) {
        media->invalidate(outputURL);
        if (replacedOriginal)
            media->invalidate(source.url);
    }
}

void AppState::refreshMediaAfterEdit(const QUrl &outputURL, bool replacedOriginal, const VideoFile &source)
{
    invalidateMedia(outputURL, replacedOriginal, source);
    setVideoReloadSignal(m_videoReloadSignal + 1);
}

// ---- moving, trashing, deleting, undo ----

void AppState::prepareMove(const VideoFolderNode &folder)
{
    // Collected before anything changes: the node may belong to the current tree.
    const QList<VideoFile> videos = folder.allVideosRecursive();
    if (videos.isEmpty())
        return;
    setVideosPendingMove(videos);
    setShowMoveSheet(true);
}

void AppState::moveSelected(const QUrl &destinationArgument)
{
    const QUrl destination = destinationArgument;
    if (m_videosPendingMove.isEmpty())
        return;
    setShowMoveSheet(false);
    QStringList failures;
    QList<MovedItemRecord> records;
    try {
        records = FileOperationService::move(m_videosPendingMove, destination, &failures);
    } catch (const FileOperationError &error) {
        showToast(error.localizedDescription(), true, false);
        setVideosPendingMove({});
        return;
    }
    if (records.isEmpty()) {
        setVideosPendingMove({});
        return;
    }
    LibraryChange change;
    for (const MovedItemRecord &r : std::as_const(records)) {
        // A video moved out of the scope's folders is no longer part of this scope.
        if (isInsideActiveScope(r.newVideo.directoryPath))
            change.replaced.insert(r.originalVideo.id, r.newVideo);
        else
            change.removed.insert(r.originalVideo.id);
    }
    setAllVideos(change.applied(m_allVideos));
    if (m_primarySelectedVideoID) {
        if (const auto it = change.replaced.constFind(*m_primarySelectedVideoID); it != change.replaced.cend())
            setPrimarySelectedVideoID(it->id);
        else if (change.removed.contains(*m_primarySelectedVideoID))
            setPrimarySelectedVideoID(std::nullopt);
    }
    QSet<QString> selected;
    for (const QString &id : std::as_const(m_selectedVideoIDs)) {
        if (const auto it = change.replaced.constFind(id); it != change.replaced.cend())
            selected.insert(it->id);
        else if (!change.removed.contains(id))
            selected.insert(id);
    }
    setSelectedVideoIDs(selected);
    const QString destinationPath = standardizedPath(destination.toLocalFile());
    QSet<QString> expanded = m_expandedFolderIDs;
    expanded.insert(destinationPath);
    setExpandedFolderIDs(expanded);
    rememberMoveDestination(destination);
    commitLibraryChange(change);
    rebuildTree(false);
    setLastUndoRecord(UndoRecord::moved(records));
    const QString name = destinationPath.mid(destinationPath.lastIndexOf('/') + 1);
    showToastThenFollowUp(QString::number(records.size()) + QStringLiteral(" \u2192 ") + name, true, failures);
    setVideosPendingMove({});
}

void AppState::rememberMoveDestination(const QUrl &destinationArgument)
{
    const QUrl destination = destinationArgument;
    const QString path = standardizedPath(destination.toLocalFile());
    QList<QUrl> list;
    list.append(QUrl::fromLocalFile(path));
    for (const QUrl &url : std::as_const(m_recentMoveDestinations))
        if (standardizedPath(url.toLocalFile()) != path)
            list.append(url);
    if (list.size() > kMaxRecentDestinations)
        list.resize(kMaxRecentDestinations);
    setRecentMoveDestinations(list);
    QStringList paths;
    for (const QUrl &url : std::as_const(list))
        paths.append(url.toLocalFile());
    appSettings().setValue(kRecentDestinationsKey, paths);
}

void AppState::removeFromLibrary(const QSet<QString> &ids)
{
    LibraryChange change;
    change.removed = ids;
    setAllVideos(change.applied(m_allVideos));
    QSet<QString> selected = m_selectedVideoIDs;
    for (const QString &id : ids)
        selected.remove(id);
    setSelectedVideoIDs(selected);
    if (m_primarySelectedVideoID && ids.contains(*m_primarySelectedVideoID))
        setPrimarySelectedVideoID(std::nullopt);
    commitLibraryChange(change);
    rebuildTree(false);
}

void AppState::moveSelectedToTrash(const QList<VideoFile> &videosArgument)
{
    const QList<VideoFile> videos = videosArgument;
    if (videos.isEmpty())
        return;
    QStringList failures;
    QList<TrashedItemRecord> records;
    try {
        records = FileOperationService::trash(videos, &failures);
    } catch (const FileOperationError &error) {
        showToast(error.localizedDescription(), true, false);
        return;
    }
    if (records.isEmpty())
        return;
    QSet<QString> ids;
    for (const TrashedItemRecord &r : std::as_const(records))
        ids.insert(r.originalVideo.id);
    removeFromLibrary(ids);
    setLastUndoRecord(UndoRecord::trashed(records));
    showToastThenFollowUp(QString::number(records.size()) + QStringLiteral(" \u2192 ") +
                              L10n::text(QStringLiteral("inspector.trash"), m_language),
                          true, failures);
}

void AppState::deletePermanently()
{
    const QList<VideoFile> videos = m_videosPendingPermanentDelete;
    setVideosPendingPermanentDelete({});
    setShowPermanentDeleteAlert(false);
    if (videos.isEmpty())
        return;
    QStringList failures;
    QList<VideoFile> removed;
    try {
        removed = FileOperationService::deletePermanently(videos, &failures);
    } catch (const FileOperationError &error) {
        showToast(error.localizedDescription(), true, false);
        return;
    }
    QSet<QString> ids;
    for (const VideoFile &v : std::as_const(removed))
        ids.insert(v.id);
    removeFromLibrary(ids);
    showToastThenFollowUp(QString::number(removed.size()) + QStringLiteral(" deleted"), false, failures);
}

void AppState::undoLastOperation()
{
    if (!m_lastUndoRecord)
        return;
    const UndoRecord record = *m_lastUndoRecord;
    setLastUndoRecord(std::nullopt);
    QStringList failures;
    QList<VideoFile> restored;
    try {
        restored = FileOperationService::undo(record, &failures);
    } catch (const FileOperationError &error) {
        showToast(error.localizedDescription(), true, false);
        return;
    }
    LibraryChange change;
    if (record.kind == UndoRecord::Kind::moved) {
        // Only the videos that really left their new place go; a failed item stays put.
        for (const MovedItemRecord &r : record.movedItems)
            if (!QFileInfo::exists(r.newVideo.id))
                change.removed.insert(r.newVideo.id);
    }
    for (const VideoFile &v : std::as_const(restored))
        if (isInsideActiveScope(v.directoryPath))
            change.appended.append(v);
    setAllVideos(change.applied(m_allVideos));
    commitLibraryChange(change);
    rebuildTree(false);
    if (!restored.isEmpty()) {
        const auto first = std::find_if(restored.cbegin(), restored.cend(),
                                        [&](const VideoFile &v) { return isInsideActiveScope(v.directoryPath); });
        if (first != restored.cend())
            selectVideo(*first);
    }
    showToastThenFollowUp(L10n::text(QStringLiteral("toast.undo"), m_language) + QStringLiteral(" (") +
                              QString::number(restored.size()) + QStringLiteral(")"),
                          false, failures);
}

// ---- on-device search: what a machine without models or index does ----

void AppState::scheduleAISearch()
{
    m_aiSearchTask.cancel();
    // Without an index no video matches a query.
    setAiSearchScores({});
    setAiSearchHits({});
    setIsAISearchRunning(false);
    rebuildTree(false);
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
    m_modelDownloadTask = TaskHandle::make();
    // No model downloader is available in this build.
    setIsDownloadingAIModel(false);
    setAiModelDownloadProgress(0);
    setAiModelDownloadStage(QString());
}

void AppState::cancelAIModelDownload()
{
    m_modelDownloadTask.cancel();
    m_modelDownloadTask = TaskHandle();
    setIsDownloadingAIModel(false);
    setAiModelDownloadProgress(0);
    setAiModelDownloadStage(QString());
}

void AppState::transcribeSelected(const VideoFile &video)
{
    // No speech recogniser is available here: nothing starts.
    Q_UNUSED(video);
}

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
    if (assign(m_scopeCache, value)) {
        emit scopeCacheChanged();
    }
}

void AppState::setAllVideos(const QList<VideoFile> &value)
{
    if (assign(m_allVideos, value)) {
        emit allVideosChanged();
        invalidate(Derived::filtered | Derived::libraryCounts | Derived::indexedCount | Derived::lookup | Derived::primary | Derived::selection);
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
    if (assign(m_flattenedRows, value)) {
        emit flattenedRowsChanged();
    }
}

void AppState::setExpandedFolderIDs(const QSet<QString> &value)
{
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
