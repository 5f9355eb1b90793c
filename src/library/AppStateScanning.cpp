#include "AppStatePrivate.h"
#include "BackgroundPriority.h"

#include "BookmarkService.h"
#include "FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <future>
#include <thread>

#include <malloc.h>
#include <sys/stat.h>
#include <cmath>


namespace {

constexpr int kHeapTrimDelayMs = 3000;

bool isAddableFolder(const QString &path)
{
    struct stat st {};
    return folderPathIsAddable(path) && ::stat(FileNames::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

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
    d->scanRebuildAgain = false;
    // Videos still gathered or joining belong to the scan left behind (a stop or the end of
    // the scan has published them before).
    d->scanPublishTimer.stop();
    d->scanBatches.clear();
    d->scanChecked = {};
    d->completeAfterMerge = false;
    if (d->merge) {
        ++d->mergeGeneration;
        d->merge.reset();
    }
    flushScanSignals();
    if (d->consumer) {
        d->consumer->job.cancel();
        // A large scan's ids take long to take apart.
        releaseOnWorker(std::move(d->consumer->ids));
        d->consumer.reset();
    }
}

void AppState::applyActiveScope()
{
    const QString key = scopeCacheKey();
    const auto hit = scopeCache().constFind(key);
    if (hit == scopeCache().cend()) {
        startScan();
        return;
    }
    const CachedScopeScan record = hit.value();
    cancelConsumer();
    d->afterRebuild = {};
    d->reselectAfterScan.reset();
    setIsScanning(false);
    setScanStatusPath(std::nullopt);
    setLibrary(record.videos);
    d->libraryKey = key;
    d->libraryComplete = true;
    QStringList denied = record.deniedFolders;
    denied.removeIf([](const QString &entry) { return deniedFolderName(entry) == QLatin1String("Guest"); });
    setDeniedFolders(denied);
    // A damaged date was read as none: no time is shown rather than an empty one.
    setLastScanDate(record.scannedAt.isValid() ? std::optional(record.scannedAt) : std::nullopt);
    setIsShowingCachedScan(true);
    setExpandedFolderIDs({});
    setSelectedVideoIDs({});
    setPrimarySelectedVideoID(std::nullopt);
    // A library with folders nested deeper than a path may be long gets its first tree off the
    // window's thread, as a scan's does (a start has made it on its reading worker already).
    if (!d->preparedTree && LumenkiteBuilder::hasDeepFolders(record.videos)) {
        // The tree of the library left behind is not shown meanwhile.
        auto old = std::make_shared<std::pair<QList<VideoFolderNodePtr>, QList<TreeRow>>>(m_treeRoots,
                                                                                         m_flattenedRows);
        setTreeRoots({});
        setFlattenedRows({});
        releaseOnWorker(std::move(old));
        rebuildForScan(true, [this] {
            if (!m_primarySelectedVideoID)
                selectFirstVideoRow();
        });
    } else {
        rebuildTree(true);
        selectFirstVideoRow();
    }
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
    // A rescan of the library shown keeps what the user opened and, once it completes, the
    // video that was selected.
    const bool rescan = !m_allVideos.isEmpty() && d->libraryKey == scopeCacheKey();
    const QSet<QString> keptExpansion =
        rescan && !d->automaticExpansion ? m_expandedFolderIDs : QSet<QString>();
    d->reselectAfterScan = rescan ? m_primarySelectedVideoID : std::nullopt;
    cancelConsumer();
    ++d->rebuildGeneration; // a tree still being built belongs to the library left behind
    if (d->preparedTree)
        releaseOnWorker(std::exchange(d->preparedTree, nullptr));
    d->afterRebuild = {};
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
    // The library and the tree left behind are taken apart on a worker: a large one takes long.
    auto old = std::make_shared<std::tuple<QList<VideoFolderNodePtr>, QList<TreeRow>, QList<VideoFile>,
                                           QList<VideoFile>, QList<VideoFile>>>(
        m_treeRoots, m_flattenedRows, std::exchange(d->treeSource, {}), m_allVideos, std::exchange(d->filtered, {}));
    setLibrary({});
    setTreeRoots({});
    setFlattenedRows({});
    releaseOnWorker(std::move(old));
    setExpandedFolderIDs(keptExpansion);
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
    const bool published = publishScanPending();
    const bool pendingRebuild = published || d->scanRebuildTimer.isActive() || d->rebuildsInFlight > 0;
    cancelConsumer();
    setIsScanning(false);
    setScanStatusPath(std::nullopt);
    d->reselectAfterScan.reset();
    // The videos received so far stay, and the tree shows all of them.
    if (pendingRebuild)
        rebuildForScan(true);
}

void AppState::handle(const ScanEvent &event)
{
    if (!d->consumer)
        return;
    Private::Consumer &c = *d->consumer;
    switch (event.kind) {
    case ScanEvent::Kind::batch: {
        setScanStatusPath(event.scannedPath);
        if (event.videos.isEmpty())
            break;
        if (c.gathering || m_allVideos.size() + event.videos.size() >= kBackgroundRebuildMinimum) {
            // A large library takes the batches gathered, a few times a second, through a worker.
            c.gathering = true;
            d->scanBatches.push_back(event.videos);
            if (!d->scanPublishTimer.isActive())
                d->scanPublishTimer.start();
            break;
        }
        ensureLookup();
        QList<VideoFile> fresh;
        fresh.reserve(event.videos.size());
        for (const VideoFile &v : event.videos) {
            if (!c.ids->insert(v.id))
                continue;
            // A video the library already holds (put there by a move, an undo or an edit
            // during the scan) is not added twice.
            if (d->indexByID.contains(v.id))
                continue;
            fresh.append(v);
        }
        if (fresh.isEmpty())
            break;
        // Additions to the current library, so changes made during the scan survive.
        appendVideos(fresh, false);
        d->scanSignalsPending = true;
        scheduleScanRebuild();
        break;
    }
    case ScanEvent::Kind::permissionDenied:
    case ScanEvent::Kind::folderUnreadable: {
        if (c.denied.contains(event.folderName))
            break;
        c.denied.insert(event.folderName);
        // The whole path is kept, so the folder can be shown in the file manager later.
        c.deniedEntries.append(event.path.isEmpty() ? event.folderName : event.path);
        QStringList entries = c.deniedEntries;
        std::sort(entries.begin(), entries.end(), [](const QString &a, const QString &b) {
            return deniedFolderName(a) < deniedFolderName(b);
        });
        setDeniedFolders(entries);
        if (event.kind == ScanEvent::Kind::permissionDenied)
            break;
        // A folder that failed for another reason is said once, with why.
        showToast(L10n::text(QStringLiteral("toast.folderUnreadable"), m_language) + QStringLiteral(": ")
                      + FileNames::display(event.path) + QStringLiteral(" (") + event.message + QLatin1Char(')'),
                  true, false);
        break;
    }
    case ScanEvent::Kind::completed: {
        // The scan's last tree replaces any tree of it still waiting or being built: those
        // would only hold up the merge and the last tree for the cores they take.
        d->scanRebuildTimer.stop();
        d->scanRebuildAgain = false;
        if (d->rebuildsInFlight > 0)
            ++d->rebuildGeneration;
        // The last videos gathered join first, off this thread as the others did.
        if (d->merge || d->hasScanPending()) {
            d->completeAfterMerge = true;
            d->scanPublishTimer.stop();
            startScanMerge();
            break;
        }
        completeScan();
        break;
    }
    case ScanEvent::Kind::failed: {
        const bool published = publishScanPending();
        const bool pendingRebuild = published || d->scanRebuildTimer.isActive() || d->rebuildsInFlight > 0;
        cancelConsumer();
        setIsScanning(false);
        setScanStatusPath(std::nullopt);
        d->reselectAfterScan.reset();
        if (pendingRebuild)
            rebuildForScan(true);
        showToast(event.message, true, false);
        break;
    }
    }
}

void AppState::completeScan()
{
    if (!d->consumer)
        return;
    publishScanPending();
    const QString key = d->consumer->key;
    cancelConsumer();
    setIsScanning(false);
    setScanStatusPath(std::nullopt);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    setLastScanDate(now);
    setIsShowingCachedScan(false);
    d->libraryKey = key;
    d->libraryComplete = true;
    ScopeCache cache = scopeCache();
    // The record replaced (a rescan's earlier scan) is taken apart on a worker.
    auto replaced = std::make_shared<CachedScopeScan>(cache.take(key));
    cache.insert(key, CachedScopeScan{key, m_allVideos, m_deniedFolders, now});
    setScopeCache(cache);
    releaseOnWorker(std::move(replaced));
    writeScopeCache();
    // The whole tree, opened by the rule for the whole library, with a video selected:
    // the one selected before a rescan when it is still there, else the first one.
    const std::optional<QString> reselect = std::exchange(d->reselectAfterScan, std::nullopt);
    rebuildForScan(true, [this, reselect] {
        if (m_primarySelectedVideoID)
            return;
        if (const std::optional<VideoFile> v = reselect ? videoWithID(*reselect) : std::nullopt)
            selectVideo(*v);
        else
            selectFirstVideoRow();
    });
    // The scan's batches and the rebuilds in between leave freed heap behind that the
    // high trim threshold (kept for fast rebuilds) would otherwise hold on to. Given back
    // on a worker: on a large heap it takes long. And later, once the window has shown the
    // result: trimming holds the heap's lock, and every allocation meanwhile (this thread's
    // too) waits for it.
    QTimer::singleShot(kHeapTrimDelayMs, this, [] { QThreadPool::globalInstance()->start([] { ::malloc_trim(0); }); });
}

void AppState::scheduleScanRebuild()
{
    if (d->scanRebuildTimer.isActive())
        return;
    if (d->rebuildsInFlight > 0) {
        d->scanRebuildAgain = true;
        return;
    }
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
    flushScanSignals();
    rebuildForScan(true);
    d->sinceScanRebuild.restart();
}

bool AppState::publishScanPending()
{
    d->scanPublishTimer.stop();
    // A merge under way is waited for: its videos came before those still gathered.
    bool published = false;
    if (d->merge) {
        d->mergeDone.wait();
        published = finishScanMerge();
    }
    if (!d->hasScanPending())
        return published;
    QList<VideoFile> pending = std::exchange(d->scanChecked, {});
    const std::shared_ptr<ScanIDSet> ids = d->consumer ? d->consumer->ids : std::make_shared<ScanIDSet>();
    for (const QList<VideoFile> &batch : std::exchange(d->scanBatches, {}))
        for (const VideoFile &v : batch)
            if (ids->insert(v.id))
                pending.append(v);
    // A move, an undo or an edit may have put one of them into the library meanwhile.
    ensureLookup();
    pending.removeIf([this](const VideoFile &v) { return d->indexByID.contains(v.id); });
    if (pending.isEmpty())
        return published;
    // Observers hear of them now, all at once; the tree follows when its worker is done.
    appendVideos(pending, false);
    d->scanSignalsPending = true;
    flushScanSignals();
    return true;
}

void AppState::Private::ScanMerge::join()
{
    ScanMerge &m = *this;
    const qsizetype start = m.base.size();
    // Room for the batches to come, so the next merges seldom have to move the list.
    const auto room = [](qsizetype size, qsizetype more) {
        return std::max<qsizetype>(size + size / 2, size + more) + 256;
    };
    const auto grown = [room](const QList<VideoFile> &from, qsizetype more) {
        QList<VideoFile> to;
        to.reserve(room(from.size(), more));
        to.append(from);
        return to;
    };
    if (!m.withLookup) {
        m.lookup.reserve(room(start, m.incoming));
        for (qsizetype i = 0; i < start; ++i)
            m.lookup.insert(m.base.at(i).id, i);
    }
    // A video the library already holds (put there by a move, an undo or an edit during the
    // scan) is not added twice.
    QList<VideoFile> &fresh = m.fresh;
    fresh.reserve(m.incoming);
    const QHash<QString, qsizetype> &lookup = m.lookup;
    for (const VideoFile &v : std::as_const(m.checked))
        if (!lookup.contains(v.id))
            fresh.append(v);
    for (const QList<VideoFile> &batch : m.batches)
        for (const VideoFile &v : batch)
            if (m.ids->insert(v.id) && !lookup.contains(v.id))
                fresh.append(v);
    m.checked = {};
    m.batches.clear();
    if (fresh.isEmpty())
        return;
    m.counts = AppendedCounts::of(fresh, m.counting);
    // The lookup and the filtered list are made beside the list: at a large library's size
    // each takes a while, and the scan's last tree waits for all three.
    std::thread lookupThread([&m, &fresh, room, start] {
        m.lookup.reserve(room(m.lookup.size(), fresh.size()));
        for (qsizetype i = 0; i < fresh.size(); ++i)
            m.lookup.insert(fresh.at(i).id, start + i);
    });
    // Nothing filtered out yet: the filtered list is the whole list, shared rather than copied.
    bool filteredIsAll = false;
    std::thread filterThread;
    if (m.test)
        filterThread = std::thread([&m, &fresh, &filteredIsAll, grown, start] {
            for (qsizetype i = 0; i < fresh.size(); ++i)
                if (m.test(fresh.at(i)))
                    m.newPositions.push_back(int(start + i));
            if (!m.withFiltered)
                return;
            filteredIsAll = m.filtered.size() == start && m.positionsBefore == size_t(start) &&
                            m.newPositions.size() == size_t(fresh.size());
            if (filteredIsAll)
                return;
            m.filteredOut = grown(m.filtered, qsizetype(m.newPositions.size()));
            for (int position : m.newPositions)
                m.filteredOut.append(fresh.at(position - start));
        });
    m.all = grown(m.base, fresh.size());
    m.all.append(fresh);
    lookupThread.join();
    if (filterThread.joinable())
        filterThread.join();
    if (filteredIsAll)
        m.filteredOut = m.all;
}

void AppState::startScanMerge()
{
    d->scanPublishTimer.stop();
    if (d->merge || !d->hasScanPending())
        return;
    // The index shares the list and describes it as it is: let go of it (on a worker).
    releaseIndex();
    auto merge = std::make_shared<Private::ScanMerge>();
    merge->generation = ++d->mergeGeneration;
    merge->base = m_allVideos;
    merge->withLookup = d->lookupValid;
    if (d->lookupValid)
        merge->lookup = d->indexByID;
    merge->batches = std::exchange(d->scanBatches, {});
    merge->checked = std::exchange(d->scanChecked, {});
    merge->incoming = merge->checked.size();
    for (const QList<VideoFile> &batch : merge->batches)
        merge->incoming += batch.size();
    merge->ids = d->consumer ? d->consumer->ids : std::make_shared<ScanIDSet>();
    merge->counting = countingContext();
    const bool filterGrows =
        d->filteredValid && !d->filteredByScore && !aiSearchActive() && m_activeSmartFilter != SmartFilter::recent;
    if (filterGrows) {
        merge->test = filterTest();
        merge->positionsBefore = d->filteredPositions.size();
        merge->withFiltered = d->filteredListValid;
        if (merge->withFiltered)
            merge->filtered = d->filtered;
    }
    merge->filteredEpoch = d->filteredEpoch;
    d->merge = merge;
    auto done = std::make_shared<std::promise<void>>();
    d->mergeDone = done->get_future();
    d->mergePool.start(inBackground([this, merge, done] {
        merge->join();
        done->set_value();
        QMetaObject::invokeMethod(this, [this, generation = merge->generation] {
            if (!d->merge || d->merge->generation != generation)
                return;
            const bool published = finishScanMerge();
            if (d->completeAfterMerge) {
                if (d->hasScanPending())
                    startScanMerge();
                else
                    completeScan();
                return;
            }
            if (published && d->consumer)
                scheduleScanRebuild();
            // Videos to join again (the library changed meanwhile) go at once.
            if (!d->scanChecked.isEmpty())
                startScanMerge();
            else if (d->hasScanPending() && !d->scanPublishTimer.isActive())
                d->scanPublishTimer.start();
        }, Qt::QueuedConnection);
    }));
}

bool AppState::finishScanMerge()
{
    std::shared_ptr<Private::ScanMerge> merge = std::exchange(d->merge, nullptr);
    if (!merge)
        return false;
    Private::ScanMerge &m = *merge;
    if (m.fresh.isEmpty()) {
        releaseOnWorker(std::move(merge));
        return false;
    }
    const qsizetype start = m_allVideos.size();
    // Taken as made only when the list it started from is still the library's (no file
    // operation or edit changed it meanwhile); otherwise its videos are joined again, to the
    // library as it is now, before any gathered since.
    if (m_allVideos.constData() != m.base.constData() || start != m.base.size()) {
        d->scanChecked = std::move(m.fresh) + d->scanChecked;
        releaseOnWorker(std::move(merge));
        return false;
    }
    const bool filteredSame = m.test && d->filteredValid && d->filteredEpoch == m.filteredEpoch &&
                              d->filteredPositions.size() == m.positionsBefore && d->filteredListValid == m.withFiltered &&
                              (!m.withFiltered || d->filtered.constData() == m.filtered.constData());
    // An index made meanwhile (the sidebar's counts, a sort) describes the list the merge
    // started from: the filtered positions now reach past it.
    releaseIndex();
    // The containers replaced are taken apart on a worker, with the copies the merge
    // started from.
    auto old = std::make_shared<std::tuple<QList<VideoFile>, QHash<QString, qsizetype>, QList<VideoFile>>>();
    std::get<0>(*old) = std::exchange(m_allVideos, std::move(m.all));
    std::get<1>(*old) = std::exchange(d->indexByID, std::move(m.lookup));
    d->lookupValid = true;
    if (filteredSame) {
        d->filteredPositions.insert(d->filteredPositions.end(), m.newPositions.begin(), m.newPositions.end());
        if (m.withFiltered)
            std::get<2>(*old) = std::exchange(d->filtered, std::move(m.filteredOut));
    }
    noteVideosAppended(m.fresh, m.counts, m.counting, filteredSame);
    m.base = {};
    m.filtered = {};
    releaseOnWorker(std::move(old));
    releaseOnWorker(std::move(merge));
    d->scanSignalsPending = true;
    flushScanSignals();
    return true;
}

void AppState::flushScanSignals()
{
    if (!std::exchange(d->scanSignalsPending, false))
        return;
    emit allVideosChanged();
    emit filteredVideosChanged();
    emit totalVideoBytesChanged();
    emit extensionCountsChanged();
    emit indexedVideoCountChanged();
    emit primarySelectedVideoChanged();
    emit selectedVideosChanged();
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
    // A file is no folder, and the computer's root is the whole-computer scope already.
    const QString path = standardizedPath(folder.toLocalFile());
    if (!isAddableFolder(path)) {
        showToast(L10n::text(QStringLiteral("error.notAFolder"), m_language), true, false);
        return;
    }
    BookmarkService::shared().addFolder(folder);
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
    ScopeCache cache = scopeCache();
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
    const auto it = scopeCache().constFind(d->libraryKey);
    if (it == scopeCache().cend())
        return;
    CachedScopeScan record = it.value();
    record.videos = change.applied(record.videos);
    ScopeCache cache = scopeCache();
    cache.insert(d->libraryKey, record);
    setScopeCache(cache);
    writeScopeCache();
}

void AppState::writeScopeCache() { d->writer->submit(scopeCache()); }

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
