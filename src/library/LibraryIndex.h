#pragma once

#include "FolderPath.h"
#include "Models.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <limits>
#include <memory>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

// What the filters, counts and sort orders need of every video of one library list, kept in
// arrays aligned with the list's positions. Made once per change of the list and shared,
// read-only, between the GUI thread and the workers that build trees; each part is made on
// first use, by whichever thread asks first.
class LibraryIndex
{
public:
    explicit LibraryIndex(QList<VideoFile> videos);

    // "Large Files": from 250 MB on, in decimal units.
    static constexpr qint64 kLargeFileBytes = 250'000'000;

    const QList<VideoFile> &videos() const { return m_videos; }
    qsizetype size() const { return m_videos.size(); }

    struct Criteria {
        SmartFilter smart = SmartFilter::all;
        std::optional<QString> extension; // exact, as videos carry it
        QString foldedQuery;              // case-folded; empty for no text search
        bool haveCutoff = false;          // the recent view's start, as an instant
        qint64 cutoffMs = 0;
        bool operator==(const Criteria &other) const = default;
    };
    // Positions (ascending) of the videos that pass, looked for among `within` (ascending
    // positions) or, without it, the whole list; with `bytes`, their total size too.
    std::vector<int> filter(const Criteria &criteria, const std::vector<int> *within = nullptr,
                            qint64 *bytes = nullptr) const;
    // Whether a search for `next` keeps only videos a search for `previous` kept: a longer
    // query that holds the shorter one finds a subset of its videos.
    static bool narrows(const Criteria &previous, const Criteria &next);

    struct SmartCounts {
        int all = 0, recent = 0, largeFiles = 0, nativeFormats = 0, otherFormats = 0;
        int count(SmartFilter filter) const;
    };
    SmartCounts smartCounts(bool haveCutoff, qint64 cutoffMs) const;

    // What the header and the sidebar count of the whole list, but the recent view (whose
    // window moves with the clock): made once, so a worker can have it ready for the window.
    struct Totals {
        qint64 bytes = 0;
        QHash<QString, int> byExtension; // exactly as the videos carry them
        int largeFiles = 0, nativeFormats = 0;
    };
    const Totals &totals() const;
    // Whether totals() answers at once.
    bool totalsReady() const { return m_totalsReady.load(std::memory_order_acquire); }

    // The collation trees sort names by: numeric, case-blind, in the user's locale.
    static QCollator nameCollator();
    // The rank of each video's name in the collation the tree sorts names by: equal names
    // share a rank, so comparing ranks answers as comparing the names would.
    const std::vector<int> &nameRanks() const;
    // Whether nameRanks() answers at once (a large library's ranks take a while to make).
    bool nameRanksReady() const { return m_ranksReady.load(std::memory_order_acquire); }
    // Each video's name case-folded, as searches compare it; made apart from the other
    // keys, as trees do not need it.
    const std::vector<QString> &foldedNames() const;
    // Modification instants, ms since the epoch; kNoDate for a video without a valid date.
    static constexpr qint64 kNoDate = std::numeric_limits<qint64>::min();
    const std::vector<qint64> &modifiedMs() const { return keys().modifiedMs; }

    // Every position of the list in the order `order` sorts the videos of one folder: by its
    // key, then by name, then by position. Made once per order, so a change of the sort
    // order and every later tree only pick videos out of it instead of sorting anew.
    const std::vector<int> &sortPermutation(VideoSortOrder order) const;
    // Each video's folder (the same number for the same directory string), and how many
    // folders there are.
    const std::vector<int> &folders() const { return keys().folder; }
    qsizetype folderCount() const { return qsizetype(keys().foldedFolders.size()); }

    // Where the folders of this list stand in trees below one root: every folder node such a
    // tree can have, each made once with the facts a tree's node copies, and the node of each
    // of folders(). Made by the tree builder and kept, so a later tree of any part of the list
    // only picks out the nodes its videos need.
    struct FolderPlacement {
        struct Node {
            FolderPath path;
            QString name;
            int parent = -1; // -1 for a node at the tree's top
            std::optional<QCollatorSortKey> nameKey;
        };
        std::vector<Node> nodes;
        std::vector<int> nodeOfFolder;
    };
    // The placement below `root`, or null when it is not made yet (or being made: this never
    // waits).
    std::shared_ptr<const FolderPlacement> folderPlacement(const QString &root) const;
    // The placement below `root`, made by `make` when there is none yet (once, whichever thread
    // asks first; others wait for it).
    std::shared_ptr<const FolderPlacement>
    folderPlacement(const QString &root, const std::function<FolderPlacement()> &make) const;

private:
    struct Keys {
        std::vector<int> folder;            // into foldedFolders
        std::vector<QString> foldedFolders;
        std::vector<quint16> extension;     // into extensions
        std::vector<QString> extensions;    // exactly as the videos carry them
        std::vector<QString> foldedExtensions;
        std::vector<bool> extensionIsNative;
        std::vector<qint64> modifiedMs;
    };
    const Keys &keys() const;

    QList<VideoFile> m_videos;
    mutable std::once_flag m_keysOnce, m_namesOnce, m_ranksOnce, m_totalsOnce;
    mutable Totals m_totals;
    mutable std::atomic<bool> m_totalsReady{false};
    mutable Keys m_keys;
    mutable std::vector<QString> m_foldedNames;
    mutable std::vector<int> m_ranks;
    mutable std::atomic<bool> m_ranksReady{false};
    static constexpr int kSortOrders = 4;
    mutable std::once_flag m_permutationOnce[kSortOrders];
    mutable std::vector<int> m_permutations[kSortOrders];
    mutable std::mutex m_placementsMutex;
    mutable std::map<QString, std::shared_ptr<const FolderPlacement>> m_placements;
};
