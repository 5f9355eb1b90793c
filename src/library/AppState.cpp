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

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <numeric>



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

namespace {

// Off Qt's global pool, which paints and scales images for the window in parts; like it, it
// is waited for when the application object ends, not when a state goes. Waiting only in its
// own destructor is too late: the statics a job still reads (Qt's locale and collation data,
// ours) may be gone by then.
QThreadPool &indexWarmingPool()
{
    static QThreadPool &pool = []() -> QThreadPool & {
        static QThreadPool p;
        p.setMaxThreadCount(1);
        qAddPostRoutine([] { indexWarmingPool().waitForDone(); });
        return p;
    }();
    return pool;
}

// A large library's searchable names and sort orders, made ahead so the first search and the
// first change of the sort order find them ready; not for an index the state let go of
// meanwhile (the library changed).
void completeIndex(const std::weak_ptr<const LibraryIndex> &weak, const QList<VideoSortOrder> &orders)
{
    if (const auto index = weak.lock())
        index->totals();
    if (const auto index = weak.lock())
        index->foldedNames();
    for (VideoSortOrder order : orders)
        if (const auto index = weak.lock())
            index->sortPermutation(order);
}

// The same, off the GUI thread.
void warmIndexInBackground(const std::shared_ptr<const LibraryIndex> &index)
{
    if (index->size() >= AppState::kBackgroundRebuildMinimum)
        indexWarmingPool().start(
            inBackground([weak = std::weak_ptr<const LibraryIndex>(index), orders = VideoSortOrderInfo::allCases()] {
                completeIndex(weak, orders);
            }));
}

} // namespace

// ---- start-up ----

AppState::AppState(QObject *parent) : AppState(Services{}, parent) {}

AppState::AppState(Services services, QObject *parent) : QObject(parent), d(std::make_unique<Private>())
{
    setServices(std::move(services));
    d->rebuildPool.setMaxThreadCount(1);
    d->refreshPool.setMaxThreadCount(1);
    d->releasePool.setMaxThreadCount(1);
    d->mergePool.setMaxThreadCount(1);
    d->scanRebuildTimer.setSingleShot(true);
    connect(&d->scanRebuildTimer, &QTimer::timeout, this, [this] { runScanRebuild(); });
    d->scanPublishTimer.setSingleShot(true);
    d->scanPublishTimer.setInterval(kScanRebuildIntervalMs);
    connect(&d->scanPublishTimer, &QTimer::timeout, this, [this] { startScanMerge(); });
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

    // 7. A missing or undecodable file gives an empty cache. Read on a worker, so the
    // window can show itself meanwhile; the first reader of the cache waits for it. The
    // index of the record the window opens on is made there too.
    const QString openingKey = scopeCacheKey();
    // And its first tree, whole and opened by the rule, so the window does not build it.
    auto layout = std::make_shared<Private::PreparedTree>();
    if (const std::optional<QUrl> root = m_activeScope.rootURL())
        layout->rootPath = standardizedPath(root->toLocalFile());
    layout->compact = m_compactSingleChildFolders;
    layout->order = m_sortOrder;
    // Only a start that has a library file to read has something to wait for.
    m_isLoadingLibrary = QFileInfo::exists(cachePath);
    // The worker hands its result over as soon as the first tree is made, and then goes on
    // to rank the library's names (which later trees and the other sort orders use) while
    // the window shows that tree.
    auto handOver = std::make_shared<std::promise<Private::CacheLoad>>();
    d->cacheLoad = handOver->get_future();
    d->firstTreeShown = std::make_shared<std::promise<void>>();
    d->cacheLoadWorker = std::async(std::launch::async, [cachePath, volumes = m_externalVolumes, openingKey, layout,
                                                         handOver, shown = d->firstTreeShown->get_future()]() mutable {
        // Nothing of what is handed over stays with this worker once it is.
        std::shared_ptr<Private::PreparedTree> tree = std::exchange(layout, nullptr);
        std::weak_ptr<const LibraryIndex> made;
        bool large = false;
        try {
            Private::CacheLoad loaded;
            loaded.cache = ScopeCacheCodec::load(cachePath, volumes);
            const auto record = loaded.cache.constFind(openingKey);
            if (record != loaded.cache.cend() && !record->videos.isEmpty()) {
                auto index = std::make_shared<const LibraryIndex>(record->videos);
                made = index;
                large = index->size() >= kBackgroundRebuildMinimum;
                const std::vector<int> all = index->filter({});
                tree->index = index;
                // Each folder's own names are collated, on several threads: ranking every name
                // of the library first took about twice as long.
                tree->roots = LumenkiteBuilder::buildTree(*index, all, tree->rootPath, tree->compact, tree->order,
                                                          std::nullopt, {}, LumenkiteBuilder::Unranked::collateOwnNames);
                LumenkiteBuilder::collectFolderIDs(tree->roots, 0, 2, all.size() <= size_t(kExpandAllLimit),
                                                   tree->expanded);
                tree->rows = LumenkiteBuilder::flatten(tree->roots, false, tree->expanded);
                // The header's and the sidebar's counts, so the window does not count them.
                index->totals();
                loaded.index = std::move(index);
                loaded.tree = std::move(tree);
            }
            handOver->set_value(std::move(loaded));
        } catch (...) {
            handOver->set_exception(std::current_exception());
            return;
        }
        // The rest of the index once the window has applied and painted the first tree (or,
        // when nobody shows it, after a moment), at the window's own priority: the first
        // searches and large trees wait for it. The names searches use first.
        if (large) {
            shown.wait_for(std::chrono::seconds(1));
            completeIndex(made, VideoSortOrderInfo::allCases());
        }
    });
    d->cacheLoadPoll.setInterval(10);
    connect(&d->cacheLoadPoll, &QTimer::timeout, this, [this] {
        if (d->cacheLoad.valid() && d->cacheLoad.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        d->cacheLoadPoll.stop();
        joinScopeCacheLoad();
        for (const std::function<void()> &then : std::exchange(d->afterCacheLoad, {}))
            then();
        if (std::exchange(m_isLoadingLibrary, false))
            emit isLoadingLibraryChanged();
        // Posted after the repaint the new rows asked for.
        QMetaObject::invokeMethod(this, [this] { releaseCacheLoadWorker(); }, Qt::QueuedConnection);
    });
    // Watched from the start, so the loading state ends even when nothing waits on the file.
    if (m_isLoadingLibrary)
        d->cacheLoadPoll.start();

    // 8-9.
    refreshAIModelStatus();
    if (!appSettings().value(kOnboardingKey, false).toBool())
        m_showOnboarding = true;

    // 10. The indexes are copied once the event loop runs.
    QMetaObject::invokeMethod(this, [this] { loadCachedIndexes(); }, Qt::QueuedConnection);
}

AppState::~AppState()
{
    // A copy stops at its next step; what it posts back is dropped with this object.
    if (d->fileCopy.thread.joinable()) {
        d->fileCopy.thread.request_stop();
        d->fileCopy.thread.join();
    }
    if (d->cacheLoad.valid())
        d->cacheLoad.wait();
    releaseCacheLoadWorker();
    if (d->cacheLoadWorker.valid())
        d->cacheLoadWorker.wait();
    // A tree being built posts its result to this object.
    ++d->rebuildGeneration;
    d->rebuildPool.waitForDone();
    d->refreshPool.waitForDone();
    d->mergePool.waitForDone();
    // Last: the other workers hand what they replace to this one.
    d->releasePool.waitForDone();
    d->scanSignalsPending = false;
    // The scan task's flag outlives the state: an event source that still delivers finds
    // it cancelled before it reaches the state.
    cancelConsumer();
    d->writer->waitForIdle();
    endAIIndexWorkers();
}

void AppState::setServices(Services services)
{
    if (!services.onDeviceSearch)
        services.onDeviceSearch = std::make_shared<OnDeviceSearchServices>();
    d->services = std::move(services);
}

const AppState::Services &AppState::services() const { return d->services; }

void AppState::setScanStarter(ScanStarter starter) { d->starter = std::move(starter); }

void AppState::restoreCustomScopes()
{
    QList<ScanScope> scopes;
    for (const QUrl &url : BookmarkService::shared().restoreFolders()) {
        // A stored path that is "/" or has become a file is not offered as a folder (a
        // missing one may be an unplugged drive and stays).
        const QString path = standardizedPath(url.toLocalFile());
        struct stat st {};
        if (!folderPathIsAddable(path)
            || (::stat(FileNames::encode(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode)))
            continue;
        scopes.append(ScanScope::customFolder(url));
    }
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
void AppState::compactSingleChildFoldersHook() { refreshTree(); }
void AppState::sortOrderHook() { refreshTree(); }
void AppState::includePhotosLibraryHook() { applyActiveScope(); }
void AppState::searchQueryHook()
{
    if (m_isAISearchMode)
        scheduleAISearch();
    else
        refreshTree();
}
void AppState::isAISearchModeHook() { setAISearchMode(m_isAISearchMode); }

// ---- scopes and scanning ----

void AppState::setLibrary(const QList<VideoFile> &videos) { setAllVideos(videos); }

void AppState::ensureLookup() const
{
    if (d->lookupValid)
        return;
    d->indexByID.clear();
    d->indexByID.reserve(m_allVideos.size());
    for (qsizetype i = 0; i < m_allVideos.size(); ++i)
        d->indexByID.insert(m_allVideos[i].id, i); // a later position of an id replaces an earlier one
    d->lookupValid = true;
}

void AppState::appendVideos(const QList<VideoFile> &fresh, bool notify)
{
    const qsizetype start = m_allVideos.size();
    // The index covers the list as it was. It shares the list: let go of it first, so the
    // list is this state's own again and grows without a copy; a large one is taken apart
    // on a worker.
    releaseIndex();
    // A list of our own grows in place (videos are relocatable, appending reallocates in
    // doublings); a shared one must be copied, and then with room for many more batches.
    const auto grow = [](QList<VideoFile> &list, qsizetype more) {
        if (!list.isDetached())
            list.reserve(std::max<qsizetype>(2 * list.size(), list.size() + more + 64));
    };
    grow(m_allVideos, fresh.size());
    m_allVideos.append(fresh);
    if (d->lookupValid)
        for (qsizetype i = 0; i < fresh.size(); ++i)
            d->indexByID.insert(fresh[i].id, start + i);
    // The filtered positions stay true of the list's prefix; the new videos that pass join
    // them, and the filtered list itself, so neither is made anew from the whole library.
    const bool filterGrows = d->filteredValid && !d->filteredByScore && !aiSearchActive() &&
                             m_activeSmartFilter != SmartFilter::recent;
    if (filterGrows) {
        const FilterTest test = filterTest();
        const size_t before = d->filteredPositions.size();
        for (qsizetype i = 0; i < fresh.size(); ++i)
            if (test(fresh[i]))
                d->filteredPositions.push_back(int(start + i));
        if (d->filteredListValid) {
            grow(d->filtered, qsizetype(d->filteredPositions.size() - before));
            for (size_t j = before; j < d->filteredPositions.size(); ++j)
                d->filtered.append(m_allVideos.at(d->filteredPositions[j]));
        }
    }
    noteVideosAppended(fresh, AppendedCounts::of(fresh, countingContext()), countingContext(), filterGrows);
    if (!notify)
        return;
    d->scanSignalsPending = true;
    flushScanSignals();
}

AppendedCounts AppendedCounts::of(const QList<VideoFile> &videos, const CountingContext &context)
{
    AppendedCounts counts;
    for (const VideoFile &v : videos) {
        counts.bytes += v.fileSize;
        ++counts.byExtension[v.fileExtension];
        counts.recent += !context.haveCutoff ||
                         (v.modifiedDate.isValid() && v.modifiedDate.toMSecsSinceEpoch() >= context.cutoffMs);
        counts.largeFiles += v.fileSize >= AppState::kLargeFileBytes;
    }
    if (!context.indexEntries.isEmpty())
        for (const VideoFile &v : videos)
            counts.indexed += countsAsIndexed(v.id, context) ? 1 : 0;
    // Told by extension, once per extension rather than once per video.
    const QSet<QString> &native = VideoFile::nativeVideoExtensions();
    for (auto it = counts.byExtension.cbegin(); it != counts.byExtension.cend(); ++it)
        if (native.contains(it.key().toLower()))
            counts.nativeFormats += it.value();
    return counts;
}

bool AppendedCounts::countsAsIndexed(const QString &videoID, const CountingContext &context)
{
    return countsAsIndexed(videoID, context.indexEntries, context.sceneModelInstalled, context.sceneEmbeddingDimension);
}

bool AppendedCounts::countsAsIndexed(const QString &videoID, const VisualIndexMap &entries, bool sceneModelInstalled,
                                     int sceneEmbeddingDimension)
{
    const auto it = entries.constFind(videoID);
    return it != entries.cend() && (!sceneModelInstalled || it->hasSceneEmbeddings(sceneEmbeddingDimension));
}

CountingContext AppState::countingContext() const
{
    return CountingContext{d->smartCountsHaveCutoff, d->smartCountsCutoffMs, m_aiIndexEntries,
                           m_isMobileCLIPInstalled, d->sceneEmbeddingDimension};
}

void AppState::noteVideosAppended(const QList<VideoFile> &fresh, const AppendedCounts &madeCounts,
                                  const CountingContext &context, bool filteredDone)
{
    // Counted elsewhere with what the counts kept here depended on then; when that changed
    // meanwhile, counted again here.
    const bool holds = context.holdsIn(countingContext(), d->smartCountsValid, d->indexedValid);
    const AppendedCounts counts = holds ? madeCounts : AppendedCounts::of(fresh, countingContext());
    // The caches follow the additions instead of starting over.
    if (d->countsValid) {
        d->totalBytes += counts.bytes;
        for (auto it = counts.byExtension.cbegin(); it != counts.byExtension.cend(); ++it)
            d->countByExtension[it.key()] += it.value();
        d->extensionListValid = false;
    }
    if (d->indexedValid)
        d->indexedCount += counts.indexed;
    if (!filteredDone) {
        d->filteredValid = false;
        d->positionsCurrent = false;
    }
    // The sidebar's counts take the new videos in, as the index would count them.
    if (d->smartCountsValid) {
        LibraryIndex::SmartCounts &smart = d->smartCounts;
        smart.all += int(fresh.size());
        smart.recent += counts.recent;
        smart.largeFiles += counts.largeFiles;
        smart.nativeFormats += counts.nativeFormats;
        smart.otherFormats = smart.all - smart.nativeFormats;
    }
    d->primaryValid = false;
    d->selectionValid = false;
}

void AppState::invalidate(unsigned derived)
{
    if (derived & Derived::lookup) {
        d->lookupValid = false;
        releaseIndex();
        d->positionsCurrent = false;
        d->smartCountsValid = false;
    }
    if (derived & (Derived::filtered | Derived::lookup))
        d->filteredBytesCount = -1;
    if (derived & Derived::filtered) {
        d->forgetFiltered();
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
    // Compared as instants, so the local-time cutoff is converted once, not once per video.
    const qint64 cutoffMs = haveCutoff ? cutoff.toMSecsSinceEpoch() : 0;
    const QSet<QString> &native = VideoFile::nativeVideoExtensions();
    return [=, &native](const VideoFile &v) {
        switch (smart) {
        case SmartFilter::all: break;
        case SmartFilter::recent:
            if (haveCutoff && v.modifiedDate.toMSecsSinceEpoch() < cutoffMs)
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
        if (textSearch)
            return v.name.toCaseFolded().contains(folded) || v.directoryPath.toCaseFolded().contains(folded) ||
                   v.fileExtension.toCaseFolded().contains(folded);
        return true;
    };
}

static_assert(AppState::kLargeFileBytes == LibraryIndex::kLargeFileBytes);

void AppState::releaseCacheLoadWorker()
{
    if (const auto shown = std::exchange(d->firstTreeShown, nullptr))
        shown->set_value();
}

const LibraryIndex *AppState::madeIndex() const
{
    const std::shared_ptr<const LibraryIndex> &prepared = d->preparedIndex;
    if (!d->index && prepared && prepared->videos().size() == m_allVideos.size() &&
        prepared->videos().constData() == m_allVideos.constData())
        libraryIndex();
    return d->index.get();
}

const LibraryIndex &AppState::libraryIndex() const
{
    if (!d->index) {
        // The index made while the cache was read serves when the library is that record (the
        // worker that made it completes it).
        const auto prepared = std::exchange(d->preparedIndex, nullptr);
        if (prepared && prepared->videos().size() == m_allVideos.size() &&
            prepared->videos().constData() == m_allVideos.constData()) {
            d->index = prepared;
        } else {
            d->index = std::make_shared<const LibraryIndex>(m_allVideos);
            // Not while a scan runs: the list changes again soon.
            if (!d->consumer)
                warmIndexInBackground(d->index);
        }
    }
    return *d->index;
}

void AppState::joinScopeCacheLoad() const
{
    if (!d->cacheLoad.valid())
        return;
    Private::CacheLoad loaded = d->cacheLoad.get();
    const_cast<AppState *>(this)->m_scopeCache = std::move(loaded.cache);
    d->preparedIndex = std::move(loaded.index);
    d->preparedTree = std::move(loaded.tree);
}

bool AppState::isLoadingLibrary() const
{
    if (!m_isLoadingLibrary)
        return false;
    // What waits on the read applies it (the cached scan, or a scan when there is none).
    if (!d->afterCacheLoad.isEmpty())
        return true;
    return d->cacheLoad.valid() && d->cacheLoad.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

void AppState::afterScopeCacheLoads(std::function<void()> then)
{
    // Behind what was asked for earlier, even when the read has come in since: the window's
    // request to apply the library must run before the requests that need it applied.
    if (d->afterCacheLoad.isEmpty()) {
        if (d->cacheLoad.valid() && d->cacheLoad.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            joinScopeCacheLoad();
        if (!d->cacheLoad.valid()) {
            then();
            return;
        }
    }
    d->afterCacheLoad.append(std::move(then));
    d->cacheLoadPoll.start();
}

LibraryIndex::Criteria AppState::filterCriteria() const
{
    LibraryIndex::Criteria c;
    c.smart = m_activeSmartFilter;
    c.extension = m_activeExtensionFilter;
    if (!m_isAISearchMode)
        c.foldedQuery = trimmed(m_searchQuery).toCaseFolded();
    if (c.smart == SmartFilter::recent) {
        // Calendar days in local time; a date the calendar cannot make keeps every video.
        const QDateTime cutoff = QDateTime::currentDateTime().addDays(-kRecentDays);
        c.haveCutoff = cutoff.isValid();
        c.cutoffMs = c.haveCutoff ? cutoff.toMSecsSinceEpoch() : 0;
    }
    return c;
}

void AppState::ensureFiltered() const
{
    // The recent window moves with the clock; a cached result is refreshed once a minute.
    if (d->filteredValid && m_activeSmartFilter == SmartFilter::recent &&
        d->filteredAt.secsTo(QDateTime::currentDateTimeUtc()) >= 60) {
        d->filteredValid = false;
        d->filteredListValid = false;
    }
    if (d->filteredValid)
        return;
    if (aiSearchActive()) {
        const FilterTest test = filterTest();
        QList<VideoFile> out;
        for (const VideoFile &v : m_allVideos) {
            const auto it = m_aiSearchScores.constFind(v.id);
            if (it != m_aiSearchScores.cend() && it.value() > 0 && test(v))
                out.append(v);
        }
        std::stable_sort(out.begin(), out.end(),
                         [this](const VideoFile &a, const VideoFile &b) { return hasHigherAIScore(a, b); });
        d->filtered = out;
        d->filteredListValid = true;
        d->filteredByScore = true;
        d->filteredPositions.clear();
        d->positionsCurrent = false;
    } else {
        const LibraryIndex::Criteria criteria = filterCriteria();
        // A query that only grew narrows the last result instead of the whole library.
        const bool narrow = d->positionsCurrent && !d->filteredByScore &&
                            LibraryIndex::narrows(d->filteredCriteria, criteria);
        d->filteredPositions = libraryIndex().filter(criteria, narrow ? &d->filteredPositions : nullptr);
        d->filteredCriteria = criteria;
        d->positionsCurrent = true;
        d->filteredByScore = false;
        d->filteredListValid = false;
    }
    // A list made anew: a tree grown from the last one's list would not start with it.
    ++d->filteredEpoch;
    d->filteredAt = QDateTime::currentDateTimeUtc();
    d->filteredValid = true;
}

QList<VideoFile> AppState::filteredVideos() const
{
    ensureFiltered();
    if (!d->filteredListValid) {
        // Nothing filtered out: the list is the library's own, shared rather than copied.
        bool everyVideo = qsizetype(d->filteredPositions.size()) == m_allVideos.size();
        for (size_t i = 0; everyVideo && i < d->filteredPositions.size(); ++i)
            everyVideo = d->filteredPositions[i] == int(i);
        if (everyVideo) {
            d->filtered = m_allVideos;
        } else {
            QList<VideoFile> out;
            out.reserve(qsizetype(d->filteredPositions.size()));
            for (int i : d->filteredPositions)
                out.append(m_allVideos[i]);
            d->filtered = out;
        }
        d->filteredListValid = true;
    }
    return d->filtered;
}

qsizetype AppState::filteredVideoCount() const
{
    ensureFiltered();
    return d->filteredByScore ? d->filtered.size() : qsizetype(d->filteredPositions.size());
}

qint64 AppState::filteredVideoBytes() const
{
    ensureFiltered();
    // Asked for by several parts of the window after each change; counted once.
    const qsizetype count = filteredVideoCount();
    if (d->filteredBytesEpoch == d->filteredEpoch && d->filteredBytesCount == count)
        return d->filteredBytes;
    qint64 bytes = 0;
    if (d->filteredByScore) {
        for (const VideoFile &v : std::as_const(d->filtered))
            bytes += v.fileSize;
    } else {
        for (int i : d->filteredPositions)
            bytes += m_allVideos[i].fileSize;
    }
    d->filteredBytes = bytes;
    d->filteredBytesEpoch = d->filteredEpoch;
    d->filteredBytesCount = count;
    return bytes;
}

qsizetype AppState::shownVideoCount() const
{
    if (!filtersOnWorker())
        return filteredVideoCount();
    qsizetype count = 0;
    for (const VideoFolderNodePtr &root : m_treeRoots)
        count += root->totalVideoCount;
    return count;
}

qint64 AppState::shownVideoBytes() const
{
    if (!filtersOnWorker())
        return filteredVideoBytes();
    qint64 bytes = 0;
    for (const VideoFolderNodePtr &root : m_treeRoots)
        bytes += root->totalSize;
    return bytes;
}

std::optional<int> AppState::smartFilterCount(SmartFilter filter) const
{
    if (m_allVideos.isEmpty())
        return std::nullopt;
    // The recent window moves with the clock: counted anew once a minute.
    if (d->smartCountsValid && d->smartCountsAt.secsTo(QDateTime::currentDateTimeUtc()) >= 60)
        d->smartCountsValid = false;
    if (!d->smartCountsValid) {
        const QDateTime since = QDateTime::currentDateTime().addDays(-kRecentDays);
        d->smartCountsHaveCutoff = since.isValid();
        d->smartCountsCutoffMs = since.isValid() ? since.toMSecsSinceEpoch() : 0;
        d->smartCounts = libraryIndex().smartCounts(d->smartCountsHaveCutoff, d->smartCountsCutoffMs);
        d->smartCountsAt = QDateTime::currentDateTimeUtc();
        d->smartCountsValid = true;
    }
    return d->smartCounts.count(filter);
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
    // A large library's counts are made by a worker along with its index (a cached library's
    // while the file is read): counting a million videos here held the window up.
    if (const LibraryIndex *index = madeIndex(); index && index->totalsReady()) {
        d->totalBytes = index->totals().bytes;
        d->countByExtension = index->totals().byExtension;
        d->countsValid = true;
        d->extensionListValid = false;
        return;
    }
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
        // With the scene model installed, an entry made without it (no scene embedding) or by
        // another model still needs indexing: counting it would show a library that scene
        // search cannot find.
        if (!m_aiIndexEntries.isEmpty())
            for (const VideoFile &v : m_allVideos)
                n += countsAsIndexed(v.id) ? 1 : 0;
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
    ++d->rebuildGeneration; // a tree still being built on a worker is older than this one
    ensureFiltered();
    std::optional<QString> rootPath;
    if (const std::optional<QUrl> root = m_activeScope.rootURL())
        rootPath = standardizedPath(root->toLocalFile());
    const bool expandByRule = autoExpand && (m_expandedFolderIDs.isEmpty() || d->automaticExpansion);
    // The tree made while the cache was read serves only the very list it was made of,
    // unfiltered, in the layout asked for now, and opened by the rule.
    std::shared_ptr<Private::PreparedTree> prepared = std::exchange(d->preparedTree, nullptr);
    if (prepared &&
        !(expandByRule && m_expandedFolderIDs.isEmpty() && d->index == prepared->index && !d->filteredByScore &&
          !aiSearchActive() && d->filteredCriteria == LibraryIndex::Criteria{} && prepared->rootPath == rootPath &&
          prepared->compact == m_compactSingleChildFolders && prepared->order == m_sortOrder &&
          trimmed(m_searchQuery).isEmpty())) {
        releaseOnWorker(std::move(prepared));
    }
    if (prepared) {
        setTreeRoots(prepared->roots);
        keepWholeTree(prepared->index, rootPath, prepared->roots);
    } else if (d->filteredByScore)
        setTreeRoots(LumenkiteBuilder::buildTree(d->filtered, rootPath, m_compactSingleChildFolders, m_sortOrder,
                                                 m_aiSearchScores));
    else
        setTreeRoots(LumenkiteBuilder::buildTree(libraryIndex(), d->filteredPositions, rootPath,
                                                 m_compactSingleChildFolders, m_sortOrder));
    // This tree was not built from a list a later background build could grow from.
    releaseOnWorker(std::make_shared<QList<VideoFile>>(std::exchange(d->treeSource, {})));
    d->treeSourceEpoch = 0;
    // An expansion made automatically for an earlier tree is redone for this one: the first
    // batches of a scan show only part of the final tree, whose folders it may not name.
    if (expandByRule) {
        QSet<QString> ids;
        if (prepared)
            ids = prepared->expanded;
        else
            LumenkiteBuilder::collectFolderIDs(m_treeRoots, 0, 2, filteredVideoCount() <= kExpandAllLimit, ids);
        setExpandedFolderIDs(ids);
        d->automaticExpansion = true;
    } else {
        openFoldersOfFewResults();
    }
    if (prepared)
        publishRows(prepared->rows);
    else
        reflatten(!trimmed(m_searchQuery).isEmpty());
    d->lastRebuildMs = clock.elapsed();
    emit treeRebuilt();
    runAfterRebuild();
}

void AppState::runAfterRebuild()
{
    if (std::function<void()> then = std::exchange(d->afterRebuild, {}))
        then();
}

void AppState::rebuildForScan(bool autoExpand, std::function<void()> then)
{
    d->afterRebuild = std::move(then);
    const QList<VideoFile> list = filteredVideos();
    // While a scan runs its batches keep coming: a tree of a few thousand videos is already
    // built on a worker, so they are taken in meanwhile.
    constexpr qsizetype kScanForegroundRebuildLimit = 1000;
    if (list.size() < (d->consumer ? kScanForegroundRebuildLimit : kBackgroundRebuildMinimum) &&
        !LumenkiteBuilder::hasDeepFolders(list)) {
        rebuildTree(autoExpand);
        return;
    }
    // Once the scan is over the library stays as it is: the tree is built from an index of
    // it, whose names are ranked on several threads, and the index serves the filters after.
    startBackgroundRebuild(list, autoExpand, !d->consumer);
}

void AppState::startBackgroundRebuild(const QList<VideoFile> &list, bool autoExpand, bool withIndex)
{
    struct Input {
        // The tree's list is `base` followed by `added`. The worker makes the copy, so the
        // filtered list stays this thread's own and later batches append to it in place.
        QList<VideoFile> base;
        QList<VideoFile> added;
        std::optional<QString> rootPath;
        bool compact;
        VideoSortOrder order;
        std::optional<QHash<QString, double>> scores;
        bool expandAll;
        bool autoExpand;
        QSet<QString> expanded;
        // Or the library's index and the filtered positions in it.
        std::shared_ptr<const LibraryIndex> index;
        std::vector<int> positions;
    };
    Input in{{}, {}, std::nullopt, m_compactSingleChildFolders, m_sortOrder, std::nullopt,
             !trimmed(m_searchQuery).isEmpty(),
             autoExpand && (m_expandedFolderIDs.isEmpty() || d->automaticExpansion), m_expandedFolderIDs, {}, {}};
    // The last tree's list is still the start of this one when the filtered list was not
    // made anew since.
    const bool grown = d->filteredValid && list.constData() == d->filtered.constData()
                       && d->treeSourceEpoch == d->filteredEpoch && d->treeSource.size() <= list.size();
    if (withIndex && d->filteredValid && !d->filteredByScore && d->positionsCurrent) {
        if (!d->index)
            d->index = std::make_shared<const LibraryIndex>(m_allVideos);
        in.index = d->index;
        in.positions = d->filteredPositions;
    } else if (grown) {
        in.base = d->treeSource;
        in.added = list.mid(d->treeSource.size());
    } else {
        in.base = list;
    }
    const quint64 epoch = d->filteredEpoch;
    if (const std::optional<QUrl> root = m_activeScope.rootURL())
        in.rootPath = standardizedPath(root->toLocalFile());
    if (aiSearchActive())
        in.scores = m_aiSearchScores;
    const quint64 generation = ++d->rebuildGeneration;
    ++d->rebuildsInFlight;
    d->rebuildPool.start(inBackground([this, in = std::move(in), generation, epoch]() mutable {
        struct Output {
            QList<VideoFile> list;
            QList<VideoFolderNodePtr> roots;
            QSet<QString> expanded;
            QList<TreeRow> rows;
            qint64 ms = 0;
        };
        auto out = std::make_shared<Output>();
        QElapsedTimer clock;
        clock.start();
        // A build a newer one took the place of stops (the scan's last tree waited for the
        // one before it).
        const LumenkiteBuilder::Superseded superseded = d->supersededUnless(generation);
        if (generation == d->rebuildGeneration.load() && in.index) {
            // The scan's tree is wanted now: its names are collated, and the library's ranks
            // (which later trees and sort orders use) are made once it is shown.
            out->roots = LumenkiteBuilder::buildTree(*in.index, in.positions, in.rootPath, in.compact, in.order,
                                                     in.scores, superseded,
                                                     LumenkiteBuilder::Unranked::collateOwnNames);
            if (in.autoExpand)
                LumenkiteBuilder::collectFolderIDs(out->roots, 0, 2, in.positions.size() <= size_t(kExpandAllLimit),
                                                   out->expanded);
            else
                out->expanded = in.expanded;
            out->rows = LumenkiteBuilder::flatten(out->roots, in.expandAll, out->expanded);
        } else if (generation == d->rebuildGeneration.load()) {
            out->list = std::move(in.base);
            out->list.append(in.added);
            // The tree's list is its own (the filtered list grows in place on the GUI thread
            // and would otherwise have to copy itself there).
            out->list.detach();
            in.added = {};
            out->roots =
                LumenkiteBuilder::buildTree(out->list, in.rootPath, in.compact, in.order, in.scores, superseded);
            if (in.autoExpand)
                LumenkiteBuilder::collectFolderIDs(out->roots, 0, 2, out->list.size() <= kExpandAllLimit,
                                                   out->expanded);
            else
                out->expanded = in.expanded;
            out->rows = LumenkiteBuilder::flatten(out->roots, in.expandAll, out->expanded);
        }
        in.base = {};
        out->ms = clock.elapsed();
        const bool autoExpand = in.autoExpand, expandAll = in.expandAll;
        QMetaObject::invokeMethod(this, [this, out, generation, epoch, autoExpand, expandAll]() mutable {
            --d->rebuildsInFlight;
            if (generation == d->rebuildGeneration.load()) {
                // The tree and rows replaced here are freed on the worker: a large tree takes
                // long to take apart.
                auto old = std::make_shared<std::tuple<QList<VideoFolderNodePtr>, QList<TreeRow>, QList<VideoFile>>>(
                    m_treeRoots, m_flattenedRows, std::exchange(d->treeSource, out->list));
                d->treeSourceEpoch = epoch;
                setTreeRoots(out->roots);
                if (autoExpand && (m_expandedFolderIDs.isEmpty() || d->automaticExpansion)) {
                    setExpandedFolderIDs(out->expanded);
                    d->automaticExpansion = true;
                }
                // The user may have opened or closed a folder while the tree was built.
                if (m_expandedFolderIDs == out->expanded && expandAll == !trimmed(m_searchQuery).isEmpty())
                    publishRows(out->rows);
                else
                    reflatten(!trimmed(m_searchQuery).isEmpty());
                d->lastRebuildMs = out->ms;
                emit treeRebuilt();
                releaseOnWorker(std::move(old));
                runAfterRebuild();
            } else {
                releaseOnWorker(std::move(out));
            }
            if (d->rebuildsInFlight == 0 && d->scanRebuildAgain && d->consumer) {
                d->scanRebuildAgain = false;
                scheduleScanRebuild();
            }
        }, Qt::QueuedConnection);
        // The library's searchable names, ranks and this order's permutation, for the
        // searches and trees after this one.
        if (in.index && !superseded()) {
            in.index->foldedNames();
            in.index->nameRanks();
            in.index->sortPermutation(in.order);
        }
    }));
}

bool AppState::filtersOnWorker() const
{
    return !d->consumer && !aiSearchActive() && m_allVideos.size() >= kBackgroundRebuildMinimum;
}

void AppState::refreshTree()
{
    // A large library is filtered on the worker that builds its tree: filtering a million
    // videos here (on threads this one then waited for) held the window up while typing.
    const bool filterThere = !d->filteredValid && filtersOnWorker();
    if (!filterThere) {
        ensureFiltered();
        // Score-ordered results are small; a scan grows its trees its own way. A small result
        // of a large library still goes to the worker while the library's name order is being
        // made: building it here would wait for all of it.
        const bool ranksPending = !d->filteredByScore && !d->consumer &&
                                  libraryIndex().size() >= kBackgroundRebuildMinimum &&
                                  !libraryIndex().nameRanksReady();
        // A tree of deep folders takes long however few videos it has.
        const auto deep = [this] {
            return std::any_of(d->filteredPositions.cbegin(), d->filteredPositions.cend(), [this](int i) {
                return LumenkiteBuilder::isDeepFolder(m_allVideos.at(i).directoryPath);
            });
        };
        if (d->filteredByScore || d->consumer ||
            (qsizetype(d->filteredPositions.size()) < kBackgroundRebuildMinimum && !ranksPending && !deep())) {
            rebuildTree(false);
            return;
        }
    }
    struct Job {
        std::shared_ptr<const LibraryIndex> index;
        std::vector<int> positions;
        std::optional<QString> rootPath;
        bool compact;
        VideoSortOrder order;
        bool expandAll;
        QSet<QString> expanded;
        // Set when the worker filters: what it keeps, and the result a longer query narrows.
        std::optional<LibraryIndex::Criteria> criteria;
        bool narrow = false;
        // The kept tree of the whole library, when that is what is asked for.
        QList<VideoFolderNodePtr> whole;
    };
    libraryIndex();
    auto job = std::make_shared<Job>(Job{d->index, {}, std::nullopt, m_compactSingleChildFolders, m_sortOrder,
                                         !trimmed(m_searchQuery).isEmpty(), m_expandedFolderIDs, std::nullopt, false,
                                         {}});
    if (const std::optional<QUrl> root = m_activeScope.rootURL())
        job->rootPath = standardizedPath(root->toLocalFile());
    bool everyVideo = false;
    if (filterThere) {
        job->criteria = filterCriteria();
        everyVideo = *job->criteria == LibraryIndex::Criteria{};
        job->narrow = d->positionsCurrent && !d->filteredByScore && LibraryIndex::narrows(d->filteredCriteria, *job->criteria);
        if (job->narrow && !everyVideo)
            job->positions = d->filteredPositions;
    } else {
        everyVideo = qsizetype(d->filteredPositions.size()) == d->index->size();
        job->positions = d->filteredPositions;
    }
    if (everyVideo)
        job->whole = d->wholeTreeFor(job->index, job->rootPath, job->compact, job->order);
    const quint64 generation = ++d->rebuildGeneration;
    // At the window's own priority: the user waits for this tree, and on a busy machine a
    // lowered worker got a fraction of a core while the window's thread sat idle.
    d->refreshPool.start([this, job, generation] {
        struct Output {
            QList<VideoFolderNodePtr> roots;
            QList<TreeRow> rows;
            qint64 bytes = 0;
            qint64 ms = 0;
        };
        auto out = std::make_shared<Output>();
        QElapsedTimer clock;
        clock.start();
        if (job->criteria && generation == d->rebuildGeneration.load()) {
            if (!job->whole.isEmpty()) {
                // Every video: nothing to look at.
                job->positions.resize(size_t(job->index->size()));
                std::iota(job->positions.begin(), job->positions.end(), 0);
                out->bytes = job->index->totals().bytes;
            } else {
                job->positions =
                    job->index->filter(*job->criteria, job->narrow ? &job->positions : nullptr, &out->bytes);
            }
        }
        // A request superseded before its turn is not built at all, and one superseded while
        // it was built is not flattened.
        if (!job->whole.isEmpty())
            out->roots = job->whole;
        else if (generation == d->rebuildGeneration.load())
            out->roots = LumenkiteBuilder::buildTree(*job->index, job->positions, job->rootPath, job->compact,
                                                     job->order, std::nullopt, d->supersededUnless(generation));
        if (generation == d->rebuildGeneration.load()) {
            QList<TreeRow> rows;
            {
                const std::lock_guard<std::mutex> lock(d->spareRowsMutex);
                rows = std::exchange(d->spareRows, {});
            }
            LumenkiteBuilder::flatten(out->roots, job->expandAll, job->expanded, rows);
            out->rows = std::move(rows);
        }
        out->ms = clock.elapsed();
        QMetaObject::invokeMethod(this, [this, out, job, generation]() mutable {
            // What the job held is freed on the worker too, whichever reference is the last.
            if (generation != d->rebuildGeneration.load()) {
                releaseOnWorker(std::move(job));
                releaseOnWorker(std::move(out));
                return;
            }
            const bool everyVideo = qsizetype(job->positions.size()) == job->index->size();
            // The worker's filter is this library's filter when nothing changed since.
            if (job->criteria && !d->filteredValid && d->index == job->index && filtersOnWorker() &&
                filterCriteria() == *job->criteria) {
                d->filteredPositions = std::exchange(job->positions, {});
                d->filteredCriteria = *job->criteria;
                d->positionsCurrent = true;
                d->filteredByScore = false;
                d->filteredListValid = false;
                ++d->filteredEpoch;
                d->filteredAt = QDateTime::currentDateTimeUtc();
                d->filteredValid = true;
                d->filteredBytes = out->bytes;
                d->filteredBytesEpoch = d->filteredEpoch;
                d->filteredBytesCount = qsizetype(d->filteredPositions.size());
            }
            if (job->whole.isEmpty() && everyVideo && !out->roots.isEmpty() && job->compact == m_compactSingleChildFolders && job->order == m_sortOrder)
                keepWholeTree(job->index, job->rootPath, out->roots);
            // The tree and rows replaced here are freed on the worker: a large tree takes long
            // to take apart.
            auto old = std::make_shared<std::pair<QList<VideoFolderNodePtr>, QList<TreeRow>>>(m_treeRoots,
                                                                                             m_flattenedRows);
            setTreeRoots(out->roots);
            openFoldersOfFewResults();
            // The user may have opened or closed a folder while the tree was built.
            if (m_expandedFolderIDs == job->expanded && job->expandAll == !trimmed(m_searchQuery).isEmpty())
                publishRows(out->rows);
            else
                reflatten(!trimmed(m_searchQuery).isEmpty());
            releaseOnWorker(std::move(job));
            // This tree was not built from a list a later scan build could grow from.
            releaseOnWorker(std::make_shared<QList<VideoFile>>(std::exchange(d->treeSource, {})));
            d->treeSourceEpoch = 0;
            d->lastRebuildMs = out->ms;
            emit treeRebuilt();
            // The replaced rows' storage is kept for the next large flatten.
            d->releasePool.start(inBackground([this, old = std::move(old)]() mutable {
                QList<TreeRow> rows = std::move(old->second);
                old.reset();
                if (!rows.isDetached())
                    return;
                rows.clear();
                const std::lock_guard<std::mutex> lock(d->spareRowsMutex);
                if (rows.capacity() > d->spareRows.capacity())
                    d->spareRows = std::move(rows);
            }));
            releaseOnWorker(std::move(out));
            runAfterRebuild();
        }, Qt::QueuedConnection);
    });
}

void AppState::publishRows(const QList<TreeRow> &rows)
{
    // Rows of a newly built tree never equal the shown ones (their nodes are new), so they
    // are not compared row by row.
    ++d->rowsGeneration;
    m_flattenedRows = rows;
    emit flattenedRowsChanged();
}

void AppState::releaseIndex()
{
    // The index shares the library's list; a large one takes long to take apart.
    if (d->index)
        releaseOnWorker(std::make_shared<std::shared_ptr<const LibraryIndex>>(std::exchange(d->index, nullptr)));
    if (d->wholeTree)
        releaseOnWorker(std::exchange(d->wholeTree, nullptr));
}

void AppState::keepWholeTree(const std::shared_ptr<const LibraryIndex> &index, const std::optional<QString> &rootPath,
                             const QList<VideoFolderNodePtr> &roots)
{
    if (!index || index != d->index || index->size() < kBackgroundRebuildMinimum)
        return;
    auto kept = std::make_shared<Private::WholeTree>(
        Private::WholeTree{index, rootPath, m_compactSingleChildFolders, m_sortOrder, roots});
    if (d->wholeTree)
        releaseOnWorker(std::exchange(d->wholeTree, nullptr));
    d->wholeTree = std::move(kept);
}

void AppState::releaseOnWorker(std::shared_ptr<void> garbage)
{
    // The last reference goes on the pool's thread (after the state is gone, the pool has
    // been waited for, so nothing is left behind).
    d->releasePool.start(inBackground([garbage = std::move(garbage)]() mutable { garbage.reset(); }));
}

void AppState::reflatten(bool expandAll)
{
    replaceRows(LumenkiteBuilder::flatten(m_treeRoots, expandAll, m_expandedFolderIDs));
}

void AppState::reflattenSoon(bool expandAll)
{
    // Many rows (a large library opened whole, or searched) are made on the worker that
    // builds trees: making a million of them here held the window up for a good part of a
    // second. The rows shown stay until they are in; a newer change of the rows drops them.
    if (LumenkiteBuilder::rowCount(m_treeRoots, expandAll, m_expandedFolderIDs) < kBackgroundFlattenMinimum) {
        reflatten(expandAll);
        return;
    }
    struct Job {
        QList<VideoFolderNodePtr> roots;
        bool expandAll;
        QSet<QString> expanded;
        QList<TreeRow> rows;
    };
    auto job = std::make_shared<Job>(Job{m_treeRoots, expandAll, m_expandedFolderIDs, {}});
    const quint64 generation = ++d->rowsGeneration;
    d->refreshPool.start([this, job, generation] {
        if (generation == d->rowsGeneration.load()) {
            {
                const std::lock_guard<std::mutex> lock(d->spareRowsMutex);
                job->rows = std::exchange(d->spareRows, {});
            }
            LumenkiteBuilder::flatten(job->roots, job->expandAll, job->expanded, job->rows);
        }
        QMetaObject::invokeMethod(this, [this, job, generation]() mutable {
            if (generation == d->rowsGeneration.load() && job->roots == m_treeRoots &&
                job->expanded == m_expandedFolderIDs)
                replaceRows(std::exchange(job->rows, {}));
            releaseOnWorker(std::move(job));
        }, Qt::QueuedConnection);
    });
}

void AppState::replaceRows(const QList<TreeRow> &rows)
{
    // The rows replaced are let go of on a worker once the window has taken the new ones (the
    // last of a large list took long to take apart here), and their storage kept for the
    // next large flatten.
    QList<TreeRow> old = m_flattenedRows;
    setFlattenedRows(rows);
    if (old.size() >= kBackgroundRebuildMinimum && !old.isSharedWith(m_flattenedRows))
        recycleRows(std::move(old));
}

void AppState::recycleRows(QList<TreeRow> rows)
{
    d->releasePool.start(inBackground([this, rows = std::move(rows)]() mutable {
        if (!rows.isDetached())
            return;
        rows.clear();
        const std::lock_guard<std::mutex> lock(d->spareRowsMutex);
        if (rows.capacity() > d->spareRows.capacity())
            d->spareRows = std::move(rows);
    }));
}

bool AppState::openFoldersOfFewResults()
{
    const bool filtered = m_activeSmartFilter != SmartFilter::all || m_activeExtensionFilter.has_value();
    if (!filtered || filteredVideoCount() > kExpandAllLimit)
        return false;
    QSet<QString> ids = m_expandedFolderIDs;
    const qsizetype before = ids.size();
    LumenkiteBuilder::collectFolderIDs(m_treeRoots, 0, 0, true, ids);
    if (ids.size() == before)
        return false;
    // Opened by the rule, not by the user: a later first view may still redo it.
    const bool automatic = d->automaticExpansion;
    setExpandedFolderIDs(ids);
    d->automaticExpansion = automatic;
    return true;
}

void AppState::toggleFolder(const QString &folderIDArgument)
{
    const QString folderID = folderIDArgument;
    QSet<QString> ids = m_expandedFolderIDs;
    if (!ids.remove(folderID))
        ids.insert(folderID);
    setExpandedFolderIDs(ids);
    reflattenSoon(!trimmed(m_searchQuery).isEmpty());
}

void AppState::expandAll()
{
    QSet<QString> ids;
    LumenkiteBuilder::collectFolderIDs(m_treeRoots, 0, 0, true, ids);
    setExpandedFolderIDs(ids);
    reflattenSoon(false);
}

void AppState::expandAllNow()
{
    QSet<QString> ids;
    LumenkiteBuilder::collectFolderIDs(m_treeRoots, 0, 0, true, ids);
    setExpandedFolderIDs(ids);
    reflatten(false);
}

void AppState::collapseAll()
{
    setExpandedFolderIDs({});
    reflattenSoon(false);
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
    // The row is there at once, so the list can show it as it is selected.
    expandAllNow();
    selectVideo(video);
    setShowInspector(true);
}

std::optional<VideoFile> AppState::videoWithID(const QString &id) const
{
    const std::vector<qsizetype> at = positionsOfIDs({id});
    if (at.empty())
        return std::nullopt;
    return m_allVideos[at.front()];
}

std::vector<qsizetype> AppState::positionsOfIDs(const QList<QString> &ids) const
{
    std::vector<qsizetype> found;
    // A large library's id lookup is made on a worker: making it here held the window up for
    // most of a second at a million videos. Until it is in, a few ids are looked for in one
    // pass over the list, which costs a small part of that.
    constexpr qsizetype kLinearSearchMaximum = 16;
    if (!d->lookupValid && m_allVideos.size() >= kBackgroundRebuildMinimum && ids.size() <= kLinearSearchMaximum) {
        makeLookupInBackground();
        // From the end: the lookup holds an id's last position.
        std::vector<qsizetype> last(size_t(ids.size()), -1);
        qsizetype missing = ids.size();
        const VideoFile *videos = m_allVideos.constData();
        for (qsizetype i = m_allVideos.size() - 1; i >= 0 && missing > 0; --i) {
            const QString &id = videos[i].id;
            for (qsizetype j = 0; j < ids.size(); ++j) {
                // Equal lengths first: most ids differ there, without their text being read.
                if (last[size_t(j)] < 0 && id.size() == ids[j].size() && id == ids[j]) {
                    last[size_t(j)] = i;
                    --missing;
                }
            }
        }
        for (qsizetype i : last)
            if (i >= 0)
                found.push_back(i);
        return found;
    }
    ensureLookup();
    for (const QString &id : ids) {
        const auto it = d->indexByID.constFind(id);
        if (it != d->indexByID.cend())
            found.push_back(it.value());
    }
    return found;
}

void AppState::makeLookupInBackground() const
{
    if (d->lookupValid || d->lookupInMaking)
        return;
    d->lookupInMaking = true;
    QPointer<AppState> self(const_cast<AppState *>(this));
    indexWarmingPool().start(inBackground([self, videos = m_allVideos] {
        auto lookup = std::make_shared<QHash<QString, qsizetype>>();
        lookup->reserve(videos.size());
        for (qsizetype i = 0; i < videos.size(); ++i)
            lookup->insert(videos[i].id, i); // the last position of an id, as ensureLookup() keeps
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, videos, lookup]() mutable {
            if (!self)
                return;
            self->d->lookupInMaking = false;
            // Taken only for the very list it was made of; otherwise freed off this thread.
            if (!self->d->lookupValid && videos.constData() == self->m_allVideos.constData() &&
                videos.size() == self->m_allVideos.size()) {
                self->d->indexByID = std::move(*lookup);
                self->d->lookupValid = true;
            }
            self->releaseOnWorker(std::make_shared<std::pair<QList<VideoFile>, std::shared_ptr<void>>>(
                std::move(videos), std::move(lookup)));
        }, Qt::QueuedConnection);
    }));
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
            std::vector<qsizetype> positions = positionsOfIDs(m_selectedVideoIDs.values());
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
