#pragma once

// Internals shared by the files that implement AppState, one file per concern.

#include "AppState.h"
#include "LibraryIndex.h"
#include "LumenkiteBuilder.h"

#include <QDateTime>
#include <QSettings>
#include <QTimer>
#include <QElapsedTimer>
#include <QThreadPool>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <tuple>
#include <functional>
#include <future>
#include <thread>

namespace AppStateDetail {


inline QSettings appSettings() { return QSettings(QStringLiteral("Lumenkite"), QStringLiteral("Lumenkite")); }

inline const QString kLanguageKey = QStringLiteral("Lumenkite.language");
inline const QString kOnboardingKey = QStringLiteral("Lumenkite.hasCompletedOnboarding");
inline const QString kRecentDestinationsKey = QStringLiteral("Lumenkite.recentMoveDestinations");
inline const QString kLastCustomScopeKey = QStringLiteral("Lumenkite.lastCustomScopePath");

inline QString trimmed(const QString &s) { return s.trimmed(); }

inline bool isUnder(const QString &path, const QString &root)
{
    if (root == QLatin1String("/"))
        return true;
    return path == root || (path.startsWith(root) && path.size() > root.size() && path.at(root.size()) == '/');
}

// A video entering the library at `url`: size and dates as the caller gives them.
inline VideoFile videoForOutput(const QUrl &url, qint64 size, const QDateTime &modified,
                         const std::optional<QDateTime> &created)
{
    const QString path = standardizedPath(url.toLocalFile());
    const int slash = path.lastIndexOf('/');
    VideoFile v;
    v.id = path;
    v.name = path.mid(slash + 1);
    const int dot = v.name.lastIndexOf('.');
    v.fileExtension = dot > 0 && dot < v.name.size() - 1 ? v.name.mid(dot + 1).toUpper() : QString();
    v.directoryPath = slash <= 0 ? QStringLiteral("/") : path.left(slash);
    v.fileSize = size;
    v.modifiedDate = modified;
    v.createdDate = created;
    return v;
}

// The folder name of an entry of the denied list: entries are whole paths, while records
// written by older versions hold bare names.
inline QString deniedFolderName(const QString &entry) { return entry.section(QLatin1Char('/'), -1, -1); }

inline QString joinedFailures(const QStringList &lines) { return lines.mid(0, 3).join('\n'); }


} // namespace AppStateDetail

using namespace AppStateDetail;


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

// What videos joining the library add to the counts kept of it (the header's total, the
// formats, the smart views, the indexed count): counted where they are gathered, which for
// a large scan is a worker, so that this thread only adds the sums. Made with the context
// of the counts kept when they were made.
struct CountingContext {
    bool haveCutoff = false; // the recent view's start
    qint64 cutoffMs = 0;
    VisualIndexMap indexEntries;
    bool sceneModelInstalled = false;
    int sceneEmbeddingDimension = 0;
    // Whether counts made with this context hold in `now` for the counts kept there.
    bool holdsIn(const CountingContext &now, bool smartCounts, bool indexedCount) const
    {
        return (!smartCounts || (haveCutoff == now.haveCutoff && cutoffMs == now.cutoffMs)) &&
               (!indexedCount || (indexEntries.isSharedWith(now.indexEntries) &&
                                  sceneModelInstalled == now.sceneModelInstalled &&
                                  sceneEmbeddingDimension == now.sceneEmbeddingDimension));
    }
};

struct AppendedCounts {
    qint64 bytes = 0;
    QHash<QString, int> byExtension;
    int recent = 0, largeFiles = 0, nativeFormats = 0;
    int indexed = 0;

    static AppendedCounts of(const QList<VideoFile> &videos, const CountingContext &context);
    // Whether a video's entry counts as indexed: with the scene model installed, only one
    // whose embeddings that model can search.
    static bool countsAsIndexed(const QString &videoID, const CountingContext &context);
    static bool countsAsIndexed(const QString &videoID, const VisualIndexMap &entries, bool sceneModelInstalled,
                                int sceneEmbeddingDimension);
};

// The ids a scan has delivered, kept in parts by hash: one set of a million ids rehashes
// all of them at once as it grows, holding the window up; a part rehashes a 64th of them.
class ScanIDSet
{
public:
    // False when the id was there already.
    bool insert(const QString &id)
    {
        // Its own seed: the part's own hashing stays spread over all its buckets.
        QSet<QString> &part = m_parts[qHash(id, size_t(0x9e3779b97f4a7c15ULL)) % kParts];
        const qsizetype before = part.size();
        part.insert(id);
        return part.size() != before;
    }

private:
    static constexpr size_t kParts = 64;
    std::array<QSet<QString>, kParts> m_parts;
};

struct AppState::Private {
    Services services;
    // The one copy between file systems that may run; results of an older one are dropped.
    struct FileCopy {
        bool running = false;
        qint64 done = 0, total = 0;
        quint64 generation = 0;
        std::jthread thread;
    } fileCopy;
    // Cancels the running model download (no event follows); empty when none runs.
    std::function<void()> cancelModelDownload;

    // The library indexing run: the number of the newest run (only it writes the run's
    // fields), and the videos that failed, by size and modification time, so that an
    // unreadable file is not tried again until it changes.
    quint64 aiIndexGeneration = 0;
    // The newest run, so that quitting can keep what it received but had not handed over.
    std::weak_ptr<AppState::AIIndexRun> aiIndexRun;
    QHash<QString, QPair<qint64, qint64>> aiIndexFailures;
    // The installed scene model's embedding length (0: none loaded, or not known): entries
    // whose embeddings have another length are indexed again.
    int sceneEmbeddingDimension = 0;
    // Until the saved index has loaded every entry looks missing: the visual search's
    // indexing trigger waits for it instead of starting a run over the whole library.
    bool cachedIndexesLoaded = false;
    bool indexTriggerWaiting = false;
    ScanStarter starter;
    std::unique_ptr<ScopeCacheWriter> writer;

    // The running scan's consumer.
    struct Consumer {
        quint64 token = 0;
        ScanScope scope;
        bool includePhotosLibrary = true;
        QString key;
        std::shared_ptr<ScanIDSet> ids = std::make_shared<ScanIDSet>();
        QSet<QString> denied;       // names
        QStringList deniedEntries;  // whole paths, one per name
        // Its batches are gathered for a worker to join (the library became large); from
        // then on only that worker uses `ids`.
        bool gathering = false;
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
    // Scan batches join allVideos at once; observers hear of them with the next rebuild, so
    // a fast scan does not repaint the window thousands of times a second.
    bool scanSignalsPending = false;
    // A batch came while a worker built the tree: one more rebuild once it is done.
    bool scanRebuildAgain = false;
    // Once the library is large, a scan's batches wait here as they came and join it in one
    // step a few times a second (so the counts of the header, the scanning row and the
    // sidebar all change together), through a worker: telling a million videos apart from
    // those the library holds, counting them and growing the lists took this thread seconds.
    std::vector<QList<VideoFile>> scanBatches;
    // Videos already told apart from the scan's earlier ones, whose join is to be redone
    // against the library as it is now (it changed while a worker joined them).
    QList<VideoFile> scanChecked;
    bool hasScanPending() const { return !scanBatches.empty() || !scanChecked.isEmpty(); }
    QTimer scanPublishTimer;
    // The grown lists and id lookup are made on a worker from shared copies of this thread's
    // own, and taken in one step: growing a list of 200,000 videos here would hold the window
    // up (copying it, and the fresh memory it needs). One merge at a time, in order.
    struct ScanMerge {
        quint64 generation = 0;
        // What it starts from: this thread's containers as they were.
        QList<VideoFile> base;
        QHash<QString, qsizetype> lookup; // made on the worker when this thread had none
        bool withLookup = false;
        std::function<bool(const VideoFile &)> test; // set when the filtered positions grow
        QList<VideoFile> filtered;
        bool withFiltered = false;
        size_t positionsBefore = 0;
        quint64 filteredEpoch = 0;
        // The videos to join: batches as the scan sent them, and videos already told apart.
        std::vector<QList<VideoFile>> batches;
        QList<VideoFile> checked;
        qsizetype incoming = 0;
        std::shared_ptr<ScanIDSet> ids;
        CountingContext counting;
        // What it makes.
        QList<VideoFile> fresh;
        AppendedCounts counts;
        QList<VideoFile> all;
        QList<VideoFile> filteredOut;
        std::vector<int> newPositions;

        // On the worker: tells the videos apart from what the scan sent before and what the
        // library holds, counts them, and makes the grown list, lookup and filtered list.
        void join();
    };
    QThreadPool mergePool;
    std::shared_ptr<ScanMerge> merge; // the one under way
    std::future<void> mergeDone;
    quint64 mergeGeneration = 0;
    // The scan has completed; its end is applied once its last videos have joined.
    bool completeAfterMerge = false;

    // Large trees are built on a worker while a scan runs. A result is applied only when no
    // newer rebuild started since; `afterRebuild` runs once the current tree is in place.
    QThreadPool rebuildPool;
    // The trees asked for by the user's own changes (a query, a filter, a sort order).
    QThreadPool refreshPool;
    std::atomic<quint64> rebuildGeneration{0};
    // Whether a tree build of `generation` has been replaced by a newer one (asked by the
    // build itself, which then stops).
    LumenkiteBuilder::Superseded supersededUnless(quint64 generation) const
    {
        return [this, generation] { return generation != rebuildGeneration.load(); };
    }
    // Replaced trees and lists are taken apart here, not in the queue of the next build.
    QThreadPool releasePool;
    // Advances whenever the rows shown are replaced: rows made on a worker for an older
    // state are not shown.
    std::atomic<quint64> rowsGeneration{0};
    // The storage of replaced rows, emptied, for the next large flatten to fill.
    std::mutex spareRowsMutex;
    QList<TreeRow> spareRows;
    // The list the newest tree was built from, a copy made on the worker, and the filtered
    // list's epoch then. While the epoch holds (the filtered list only grew since), the next
    // tree is built from it plus the videos added since, so the filtered list itself is never
    // shared with a tree and grows on this thread without being copied.
    QList<VideoFile> treeSource;
    quint64 treeSourceEpoch = 0;
    int rebuildsInFlight = 0;
    std::function<void()> afterRebuild;

    // The expanded set was made by automatic expansion and nobody changed it since, so the
    // next automatic expansion may redo it for the tree as it is now.
    bool automaticExpansion = false;
    // A rescan restores the video that was selected when it completes.
    std::optional<QString> reselectAfterScan;

    // Toast dismissal and the notice that follows the current toast.
    QTimer toastTimer;
    std::optional<ToastMessage> followUpToast;

    // ---- derived caches ----
    bool lookupValid = false;
    QHash<QString, qsizetype> indexByID; // the (last) position of each id in allVideos
    bool lookupInMaking = false; // a worker makes it for a large library

    // The cache file is read on a worker at start-up; the index of the record the window
    // opens on is made there too.
    // The first tree of the record the window opens on, made with the cache's index and the
    // layout asked for when it was made.
    struct PreparedTree {
        std::shared_ptr<const LibraryIndex> index;
        std::optional<QString> rootPath;
        bool compact = false;
        VideoSortOrder order = VideoSortOrder::nameAsc;
        QList<VideoFolderNodePtr> roots;
        QSet<QString> expanded;
        QList<TreeRow> rows;
    };
    struct CacheLoad {
        ScopeCache cache;
        std::shared_ptr<const LibraryIndex> index;
        std::shared_ptr<PreparedTree> tree;
    };
    std::future<CacheLoad> cacheLoad;
    std::future<void> cacheLoadWorker; // ends once the names are ranked too
    std::shared_ptr<std::promise<void>> firstTreeShown; // lets the worker go on to rank them
    std::shared_ptr<const LibraryIndex> preparedIndex;
    std::shared_ptr<PreparedTree> preparedTree;
    QTimer cacheLoadPoll;
    QList<std::function<void()>> afterCacheLoad;

    // The library's index, made on first use after each change of the list.
    std::shared_ptr<const LibraryIndex> index;
    // The tree of the whole library in the layout it was last built in, kept with the index
    // it was built from: the unfiltered view comes back often (a query cleared, "All Videos"),
    // and building it again took a large library's tree build each time.
    struct WholeTree {
        std::shared_ptr<const LibraryIndex> index;
        std::optional<QString> rootPath;
        bool compact = false;
        VideoSortOrder order = VideoSortOrder::nameAsc;
        QList<VideoFolderNodePtr> roots;
    };
    std::shared_ptr<WholeTree> wholeTree;
    // The kept whole tree when it is the one of this index and layout.
    QList<VideoFolderNodePtr> wholeTreeFor(const std::shared_ptr<const LibraryIndex> &of,
                                           const std::optional<QString> &rootPath, bool compact,
                                           VideoSortOrder order) const
    {
        if (!wholeTree || !of || wholeTree->index != of || wholeTree->rootPath != rootPath ||
            wholeTree->compact != compact || wholeTree->order != order)
            return {};
        return wholeTree->roots;
    }

    // The filtered videos: positions in allVideos (in library order), except while an
    // on-device search orders them by score, when only the list is kept.
    bool filteredValid = false;
    bool filteredByScore = false;
    // The filtered videos' bytes, for the list of this epoch and length.
    qint64 filteredBytes = 0;
    quint64 filteredBytesEpoch = 0;
    qsizetype filteredBytesCount = -1;
    // The filtered result (and what is derived from it) is made anew on its next read.
    void forgetFiltered()
    {
        filteredValid = false;
        filteredListValid = false;
        filteredBytesCount = -1;
    }
    std::vector<int> filteredPositions;
    LibraryIndex::Criteria filteredCriteria;
    // The positions still belong to allVideos as it is (a grown query may narrow them).
    bool positionsCurrent = false;
    bool filteredListValid = false;
    QList<VideoFile> filtered;
    quint64 filteredEpoch = 1; // advances whenever the filtered list is made anew
    QDateTime filteredAt;

    // Sidebar counts of the smart views, with the instant their recent window began.
    bool smartCountsValid = false;
    LibraryIndex::SmartCounts smartCounts;
    QDateTime smartCountsAt;
    // The recent view's start the counts were made with, so added videos are counted alike.
    bool smartCountsHaveCutoff = false;
    qint64 smartCountsCutoffMs = 0;

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

};

// A custom folder must be a real folder below the root: "/" is what the whole-computer
// scope covers.
inline bool folderPathIsAddable(const QString &standardized)
{
    return standardized.size() > 1 && standardized.startsWith(QLatin1Char('/'));
}
