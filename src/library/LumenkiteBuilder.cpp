#include "LumenkiteBuilder.h"

#include "LibraryIndex.h"
#include "StableMergeSort.h"

#include <QCollator>
#include <QCollatorSortKey>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

namespace {

constexpr double kScoreTolerance = 0.001;

// Plain code-point order: UTF-16 code-unit order differs only where a surrogate meets a
// unit from U+E000 to U+FFFF.
int compareCodePoints(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = a.at(i).unicode(), y = b.at(i).unicode();
        if (x == y)
            continue;
        auto fix = [](char16_t c) -> int { return c >= 0xD800 ? (c >= 0xE000 ? c - 0x800 : c + 0x2000) : c; };
        return fix(x) < fix(y) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

struct MutableNode {
    FolderPath path;
    QString name;
    std::vector<int> children; // indices into the arena, in insertion order
    std::vector<int> videos;   // indices into the input, in input order
    int parent = 0;            // the synthetic root is its own parent
    int placed = -1;           // the node of an index's folder placement it was made from
};

// Lands directory strings in an arena of folder nodes below one root (none, or "/", for the
// whole computer), making each node and its missing ancestors on first use. Nodes of folders
// outside the root carry their real paths.
class Placer {
public:
    Placer(const std::optional<QString> &root, std::vector<MutableNode> &nodes)
        : m_root(root), m_wholeComputer(!root || *root == QLatin1String("/")),
          m_rootPrefix(root.value_or(QString()) + QLatin1Char('/')), m_nodes(nodes)
    {
        if (m_nodes.empty())
            m_nodes.push_back({FolderPath(QStringLiteral("/")), QStringLiteral("/"), {}, {}}); // synthetic root
    }

    int place(const QString &rawDir)
    {
        auto cached = m_byDirectory.constFind(rawDir);
        if (cached != m_byDirectory.cend())
            return *cached;
        const QString dir = standardizedPath(rawDir);
        QStringView rest;
        const QString *prefix = nullptr;
        bool inRoot = false;
        if (!m_wholeComputer) {
            if (dir == *m_root) {
                inRoot = true; // directly in the root: rest stays empty
            } else if (dir.startsWith(m_rootPrefix)) {
                inRoot = true;
                rest = QStringView(dir).mid(m_rootPrefix.size());
                prefix = &*m_root;
            }
        }
        if (!inRoot)
            rest = QStringView(dir);
        const auto components = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        int target = 0;
        if (components.isEmpty()) {
            const QString path = m_wholeComputer ? QStringLiteral("/") : *m_root;
            const QString name = m_wholeComputer ? LumenkiteBuilder::computerName()
                                                 : m_root->mid(m_root->lastIndexOf(QLatin1Char('/')) + 1);
            target = top(path, name);
        } else {
            const QString name = components.front().toString();
            target = top((prefix ? *prefix : QString()) + QLatin1Char('/') + name, name);
            for (qsizetype i = 1; i < components.size(); ++i)
                target = child(target, components[i].toString());
        }
        m_byDirectory.insert(rawDir, target);
        return target;
    }

private:
    // A folder at the tree's top, found by its path.
    int top(const QString &path, const QString &name)
    {
        auto it = m_topByPath.constFind(path);
        if (it != m_topByPath.cend())
            return *it;
        const int index = add(0, name);
        m_nodes[size_t(index)].path = FolderPath(path);
        m_topByPath.insert(path, index);
        return index;
    }

    // A folder below another, found by its parent and name: a lookup by path would hash the
    // whole path at every level.
    int child(int parent, const QString &name)
    {
        auto it = m_byParentAndName.constFind({parent, name});
        if (it != m_byParentAndName.cend())
            return *it;
        const int index = add(parent, name);
        m_nodes[size_t(index)].path = FolderPath(m_nodes[size_t(parent)].path, name);
        m_byParentAndName.insert({parent, name}, index);
        return index;
    }

    int add(int parent, const QString &name)
    {
        const int index = int(m_nodes.size());
        m_nodes.push_back({FolderPath(), name, {}, {}, parent});
        m_nodes[size_t(parent)].children.push_back(index);
        return index;
    }

    const std::optional<QString> m_root;
    const bool m_wholeComputer;
    const QString m_rootPrefix;
    std::vector<MutableNode> &m_nodes;
    QHash<QString, int> m_topByPath;                     // the nodes at the top, by path
    QHash<std::pair<int, QString>, int> m_byParentAndName; // every other node
    QHash<QString, int> m_byDirectory; // the node each raw directory string lands in
};

// Every folder of the index's list placed below `root`, in the list's order.
LibraryIndex::FolderPlacement makePlacement(const LibraryIndex &index, const std::optional<QString> &root)
{
    std::vector<MutableNode> nodes;
    Placer placer(root, nodes);
    const QList<VideoFile> &videos = index.videos();
    const std::vector<int> &folderOf = index.folders();
    LibraryIndex::FolderPlacement placement;
    placement.nodeOfFolder.assign(size_t(index.folderCount()), -1);
    for (qsizetype v = 0; v < videos.size(); ++v) {
        int &slot = placement.nodeOfFolder[size_t(folderOf[size_t(v)])];
        if (slot < 0)
            slot = placer.place(videos[v].directoryPath) - 1; // the arena's synthetic root is left out
    }
    const QCollator collator = LibraryIndex::nameCollator();
    placement.nodes.resize(nodes.size() - 1);
    for (size_t i = 1; i < nodes.size(); ++i) {
        LibraryIndex::FolderPlacement::Node &node = placement.nodes[i - 1];
        node.path = std::move(nodes[i].path);
        node.name = std::move(nodes[i].name);
        node.parent = nodes[i].parent - 1;
        node.nameKey.emplace(collator.sortKey(node.name));
    }
    return placement;
}

// A made node with the facts its parent sorts by, computed once.
struct MadeNode {
    std::shared_ptr<VideoFolderNode> node;
    const QCollatorSortKey *nameKey = nullptr; // the placement's key of its display name, if any
    double bestScore = 0;
    qint64 latestMs = 0;
};

class Build {
public:
    // Builds from the videos of `library` at `subset` (all of them without it). An index of
    // the same list lends its folders, dates and placements, and with `useRanks` its name
    // ranks and sort orders instead of collating names anew.
    Build(const QList<VideoFile> &library, const std::vector<int> *subset, const LibraryIndex *index, bool useRanks,
          bool compact, VideoSortOrder order, const std::optional<QHash<QString, double>> &scores,
          const LumenkiteBuilder::Superseded &superseded)
        : m_videos(library), m_subset(subset), m_index(index), m_superseded(superseded), m_compact(compact),
          m_order(order),
          m_useScores(scores && !scores->isEmpty()), m_collator(LibraryIndex::nameCollator())
    {
        m_distantPast = LumenkiteBuilder::distantPast();
        m_distantPastMs = m_distantPast.toMSecsSinceEpoch();
        const qsizetype count = inputCount();
        if (index) {
            m_folderOf = &index->folders();
            m_folderCount = index->folderCount();
            if (useRanks) {
                m_ranks = &index->nameRanks();
                // Without scores, the index's order of the whole list hands each folder its
                // videos already sorted; a small part of the list sorts its own folders by the
                // ranks rather than walk that order of every video.
                if (!m_useScores && (!subset || qsizetype(subset->size()) * 8 > library.size()))
                    m_permutation = &index->sortPermutation(order);
            }
            // Read in place (a copy per build would cost more than the build of a small result).
            m_dates = index->modifiedMs().data();
        } else {
            m_modifiedMs.resize(size_t(library.size()));
            for (qsizetype j = 0; j < count; ++j) {
                const int i = input(j);
                const QDateTime &d = library[i].modifiedDate;
                m_modifiedMs[size_t(i)] = d.isValid() ? d.toMSecsSinceEpoch() : m_distantPastMs;
            }
            m_dates = m_modifiedMs.data();
        }
        if (m_useScores) {
            m_scores.resize(size_t(library.size()));
            m_hasScore.resize(size_t(library.size()));
            for (qsizetype j = 0; j < count; ++j) {
                const int i = input(j);
                const auto it = scores->constFind(library[i].id);
                m_hasScore[size_t(i)] = it != scores->cend();
                m_scores[size_t(i)] = m_hasScore[size_t(i)] ? *it : 0.0;
            }
        }
    }

    qsizetype inputCount() const { return m_subset ? qsizetype(m_subset->size()) : m_videos.size(); }
    int input(qsizetype j) const { return m_subset ? (*m_subset)[size_t(j)] : int(j); }

    QList<VideoFolderNodePtr> run(const std::optional<QString> &rootPath)
    {
        std::optional<QString> root;
        if (rootPath && !rootPath->isEmpty())
            root = standardizedPath(*rootPath);

        m_nodes.reserve(1024);
        Placer placer(root, m_nodes);
        // The index's placement of every folder below this root: made by a build of a large
        // part of the list (which places most folders anyway) and used by every build after.
        if (m_index) {
            const QString key = root.value_or(QStringLiteral("/"));
            m_placement = m_index->folderPlacement(key);
            if (!m_placement && inputCount() * 8 > m_videos.size())
                m_placement = m_index->folderPlacement(key, [&] { return makePlacement(*m_index, root); });
            if (m_placement)
                m_nodeOfPlaced.assign(m_placement->nodes.size(), -1);
        }

        const QString *previousDir = nullptr;
        int previousTarget = -1;
        // The node of each of the index's folders, once known.
        std::vector<int> folderTarget(m_folderOf ? size_t(m_folderCount) : 0, -1);
        int previousFolder = -1;
        for (qsizetype j = 0; j < inputCount(); ++j) {
            if (j % 65536 == 65535 && stopped())
                return {};
            const int v = input(j);
            const QString &rawDir = m_videos[v].directoryPath;
            int target;
            if (m_folderOf) {
                const int folder = (*m_folderOf)[size_t(v)];
                if (folder == previousFolder || folderTarget[size_t(folder)] >= 0) {
                    previousFolder = folder;
                    previousTarget = folderTarget[size_t(folder)];
                    if (!m_permutation)
                        m_nodes[size_t(previousTarget)].videos.push_back(v);
                    continue;
                }
                target = m_placement ? nodeOfPlaced(m_placement->nodeOfFolder[size_t(folder)]) : placer.place(rawDir);
                previousFolder = folder;
                folderTarget[size_t(folder)] = target;
            } else if (previousDir && *previousDir == rawDir) {
                // Scans deliver a folder's videos together: most videos share the previous one's folder.
                m_nodes[size_t(previousTarget)].videos.push_back(int(v));
                continue;
            } else {
                target = placer.place(rawDir);
            }
            if (!m_permutation)
                m_nodes[size_t(target)].videos.push_back(int(v));
            previousDir = &rawDir;
            previousTarget = target;
        }
        if (m_permutation) {
            // Every node exists (made in list order, as without the permutation); its videos
            // arrive in sorted order.
            std::vector<char> chosen(size_t(m_videos.size()), m_subset ? 0 : 1);
            if (m_subset)
                for (int v : *m_subset)
                    chosen[size_t(v)] = 1;
            for (int v : *m_permutation)
                if (chosen[size_t(v)])
                    m_nodes[size_t(folderTarget[size_t((*m_folderOf)[size_t(v)])])].videos.push_back(v);
        }

        if (!m_permutation)
            sortEveryFolderInParallel();

        std::vector<MadeNode> top;
        top.reserve(m_nodes[0].children.size());
        for (int c : m_nodes[0].children)
            top.push_back(make(c));
        if (m_stopped)
            return {};
        return sortedFolders(top);
    }

private:
    // Collating names costs microseconds each: a large build sorts its folders' videos on
    // several threads (each with a collator of its own) before it makes the nodes.
    void sortEveryFolderInParallel()
    {
        constexpr qsizetype kVideosPerThread = 20'000;
        const qsizetype threads = std::clamp<qsizetype>(inputCount() / kVideosPerThread, 1,
                                                        std::clamp<qsizetype>(std::thread::hardware_concurrency(), 1, 8));
        if (threads == 1)
            return;
        std::atomic<size_t> next{0};
        auto work = [this, &next] {
            const QCollator collator = LibraryIndex::nameCollator();
            for (size_t i = next++; i < m_nodes.size(); i = next++) {
                if (m_superseded && m_superseded())
                    return;
                if (m_nodes[i].videos.size() > 1)
                    sortVideos(m_nodes[i].videos, collator);
            }
        };
        std::vector<std::thread> pool;
        for (qsizetype t = 1; t < threads; ++t)
            pool.emplace_back(work);
        work();
        for (std::thread &thread : pool)
            thread.join();
        m_videosSorted = true;
    }

    bool stopped()
    {
        if (!m_stopped && m_superseded && m_superseded())
            m_stopped = true;
        return m_stopped;
    }

    // This build's node for node `placed` of the placement, made with its missing ancestors
    // top down, as placing its directory would make them.
    int nodeOfPlaced(int placed)
    {
        std::vector<int> missing;
        int at = placed;
        for (; at >= 0 && m_nodeOfPlaced[size_t(at)] < 0; at = m_placement->nodes[size_t(at)].parent)
            missing.push_back(at);
        int parent = at >= 0 ? m_nodeOfPlaced[size_t(at)] : 0;
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            const LibraryIndex::FolderPlacement::Node &from = m_placement->nodes[size_t(*it)];
            const int index = int(m_nodes.size());
            m_nodes.push_back({from.path, from.name, {}, {}, parent, *it});
            m_nodes[size_t(parent)].children.push_back(index);
            m_nodeOfPlaced[size_t(*it)] = index;
            parent = index;
        }
        return parent;
    }

    // Sorts input indices of one folder's videos. Name keys live only while this folder is
    // sorted, so a million-video build never holds a million keys at once.
    void sortVideos(std::vector<int> &order, const QCollator &collator) const
    {
        // A key costs about as much as seven comparisons, and sorting n names takes about
        // log2(n) comparisons each: the names of a folder of up to a few hundred videos are
        // compared as they are (a scan's last tree sorted its 200,000 names about a fifth sooner).
        constexpr size_t kKeyedSortMinimum = 256;
        const bool collateDirectly = order.size() < kKeyedSortMinimum;
        std::vector<std::optional<QCollatorSortKey>> keys(collateDirectly ? 0 : order.size());
        // Sort positions within `order`, so each key slot belongs to one video.
        std::vector<int> positions(order.size());
        for (size_t i = 0; i < positions.size(); ++i)
            positions[i] = int(i);
        auto key = [&](int p) -> const QCollatorSortKey & {
            auto &slot = keys[size_t(p)];
            if (!slot)
                slot.emplace(collator.sortKey(m_videos[order[size_t(p)]].name));
            return *slot;
        };
        auto byName = [&](int p, int q) {
            if (m_ranks)
                return (*m_ranks)[size_t(order[size_t(p)])] < (*m_ranks)[size_t(order[size_t(q)])];
            if (collateDirectly)
                return collator.compare(m_videos[order[size_t(p)]].name, m_videos[order[size_t(q)]].name) < 0;
            return key(p).compare(key(q)) < 0;
        };
        auto less = [&](int p, int q) -> bool {
            const int a = order[size_t(p)], b = order[size_t(q)];
            if (m_useScores) {
                const double sa = m_scores[size_t(a)], sb = m_scores[size_t(b)];
                if (std::abs(sa - sb) > kScoreTolerance)
                    return sa > sb;
                return byName(p, q);
            }
            switch (m_order) {
            case VideoSortOrder::nameAsc:
                break;
            case VideoSortOrder::sizeDesc: {
                const qint64 x = m_videos[a].fileSize, y = m_videos[b].fileSize;
                if (x != y)
                    return x > y;
                break;
            }
            case VideoSortOrder::dateDesc: {
                const qint64 x = modifiedMs(a), y = modifiedMs(b);
                if (x != y)
                    return x > y;
                break;
            }
            case VideoSortOrder::extensionAsc: {
                const int c = compareCodePoints(m_videos[a].fileExtension, m_videos[b].fileExtension);
                if (c != 0)
                    return c < 0;
                break;
            }
            }
            return byName(p, q);
        };
        lk::stableMergeSort(positions.begin(), positions.end(), less);
        std::vector<int> sorted(order.size());
        for (size_t i = 0; i < positions.size(); ++i)
            sorted[i] = order[size_t(positions[i])];
        order.swap(sorted);
    }

    // A made node with the subfolders still to make below it.
    struct Making {
        MadeNode made;
        int index = 0;          // the arena node whose contents it has (the deepest of a chain)
        size_t nextChild = 0;
        std::vector<MadeNode> subfolders;
    };

    // The node of arena node `top` with everything below it; null once the build is
    // superseded. Made level by level on a stack of its own: a chain of folders may be tens of
    // thousands deep, and a call per level would run out of stack.
    MadeNode make(int top)
    {
        std::vector<Making> stack;
        stack.push_back(startNode(top));
        for (;;) {
            if (stopped())
                return {};
            Making &at = stack.back();
            const std::vector<int> &children = m_nodes[size_t(at.index)].children;
            if (at.nextChild < children.size()) {
                const int child = children[at.nextChild++];
                stack.push_back(startNode(child)); // `at` is not used past this
                continue;
            }
            MadeNode made = finishNode(at);
            stack.pop_back();
            if (stack.empty())
                return made;
            stack.back().subfolders.push_back(std::move(made));
        }
    }

    // The node of arena node `index` with its own videos: a chain of folders without videos
    // and with one subfolder each is one node when compacting.
    Making startNode(int index)
    {
        QStringList names{m_nodes[size_t(index)].name};
        if (m_compact) {
            while (m_nodes[size_t(index)].videos.empty() && m_nodes[size_t(index)].children.size() == 1) {
                index = m_nodes[size_t(index)].children.front();
                names.append(m_nodes[size_t(index)].name);
            }
        }
        MutableNode &n = m_nodes[size_t(index)];
        const LibraryIndex::FolderPlacement::Node *placed =
            n.placed >= 0 ? &m_placement->nodes[size_t(n.placed)] : nullptr;

        auto node = std::make_shared<VideoFolderNode>();
        node->path = n.path;
        node->displayName = names.size() == 1 ? names.front() : names.join(QStringLiteral(" / "));
        node->pathComponentsCount = int(names.size());

        Making making;
        making.index = index;
        making.subfolders.reserve(n.children.size());
        MadeNode &made = making.made;
        if (placed && names.size() == 1 && placed->nameKey)
            made.nameKey = &*placed->nameKey;
        int latestVideo = -1;
        std::vector<int> order = std::move(n.videos); // each node is made once
        if (!m_permutation && !m_videosSorted)
            sortVideos(order, m_collator);
        for (int v : order) {
            node->totalSize += m_videos[v].fileSize;
            if (latestVideo < 0 || modifiedMs(v) > modifiedMs(latestVideo))
                latestVideo = v;
            if (m_useScores && m_hasScore[size_t(v)] && m_scores[size_t(v)] > made.bestScore)
                made.bestScore = m_scores[size_t(v)];
        }
        node->videos = FolderVideos(m_videos, std::move(order));
        node->totalVideoCount = node->videos.size();
        made.latestMs = m_distantPastMs;
        node->latestModifiedDate = m_distantPast;
        if (latestVideo >= 0 && modifiedMs(latestVideo) > m_distantPastMs) {
            made.latestMs = modifiedMs(latestVideo);
            node->latestModifiedDate = m_videos[latestVideo].modifiedDate;
        }
        made.node = std::move(node);
        return making;
    }

    // The node once its subfolders are made: their totals added and their order set.
    MadeNode finishNode(Making &making)
    {
        MadeNode &made = making.made;
        VideoFolderNode &node = *made.node;
        for (const MadeNode &s : making.subfolders) {
            node.totalVideoCount += s.node->totalVideoCount;
            node.totalSize += s.node->totalSize;
            if (s.latestMs > made.latestMs) {
                made.latestMs = s.latestMs;
                node.latestModifiedDate = s.node->latestModifiedDate;
            }
            if (s.bestScore > made.bestScore)
                made.bestScore = s.bestScore;
        }
        node.subfolders = sortedFolders(making.subfolders);
        return std::move(made);
    }

    QList<VideoFolderNodePtr> sortedFolders(std::vector<MadeNode> &folders)
    {
        std::vector<std::optional<QCollatorSortKey>> keys(folders.size());
        auto key = [&](size_t i) -> const QCollatorSortKey & {
            if (folders[i].nameKey)
                return *folders[i].nameKey;
            if (!keys[i])
                keys[i].emplace(m_collator.sortKey(folders[i].node->displayName));
            return *keys[i];
        };
        auto byName = [&](size_t a, size_t b) { return key(a).compare(key(b)) < 0; };
        auto less = [&](size_t a, size_t b) -> bool {
            const MadeNode &x = folders[a], &y = folders[b];
            if (m_useScores) {
                if (std::abs(x.bestScore - y.bestScore) > kScoreTolerance)
                    return x.bestScore > y.bestScore;
                return byName(a, b);
            }
            switch (m_order) {
            case VideoSortOrder::sizeDesc:
                if (x.node->totalSize != y.node->totalSize)
                    return x.node->totalSize > y.node->totalSize;
                break;
            case VideoSortOrder::dateDesc:
                if (x.latestMs != y.latestMs)
                    return x.latestMs > y.latestMs;
                break;
            case VideoSortOrder::nameAsc:
            case VideoSortOrder::extensionAsc:
                break;
            }
            return byName(a, b);
        };
        std::vector<size_t> order(folders.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        lk::stableMergeSort(order.begin(), order.end(), less);
        QList<VideoFolderNodePtr> result;
        result.reserve(qsizetype(order.size()));
        for (size_t i : order)
            result.append(std::move(folders[i].node));
        return result;
    }

    const QList<VideoFile> &m_videos;
    const std::vector<int> *m_subset = nullptr;
    const LibraryIndex *m_index = nullptr;
    const LumenkiteBuilder::Superseded &m_superseded;
    bool m_stopped = false;
    bool m_videosSorted = false; // every node's videos are in order already
    std::shared_ptr<const LibraryIndex::FolderPlacement> m_placement;
    std::vector<int> m_nodeOfPlaced; // this build's node of each placed node, or -1
    const std::vector<int> *m_ranks = nullptr;
    const std::vector<int> *m_folderOf = nullptr;
    qsizetype m_folderCount = 0;
    const std::vector<int> *m_permutation = nullptr;
    const bool m_compact;
    const VideoSortOrder m_order;
    const bool m_useScores;
    const QCollator m_collator;
    QDateTime m_distantPast;
    qint64 m_distantPastMs = 0;
    std::vector<MutableNode> m_nodes;
    std::vector<qint64> m_modifiedMs;
    // Modification instants by position (an index's, or m_modifiedMs); a missing date
    // counts as distantPast().
    const qint64 *m_dates = nullptr;
    qint64 modifiedMs(int v) const
    {
        const qint64 ms = m_dates[size_t(v)];
        return ms == LibraryIndex::kNoDate ? m_distantPastMs : ms;
    }
    std::vector<double> m_scores;
    std::vector<bool> m_hasScore;
};

// The rows of `videos`, which follow `foldersBefore` folder rows in their parent.
template <typename Videos>
void appendVideoRows(const std::shared_ptr<const void> &owner, const Videos &videos, qsizetype foldersBefore,
                     int depth, const QList<bool> &guides, QList<TreeRow> &into)
{
    const qsizetype n = foldersBefore + videos.size();
    for (qsizetype j = 0; j < videos.size(); ++j) {
        TreeRow row;
        row.depth = depth;
        row.ancestorHasNextSibling = guides;
        row.isLastInParent = foldersBefore + j == n - 1;
        row.kind = TreeRowKind::video;
        row.videoFile = std::shared_ptr<const VideoFile>(owner, &videos[j]);
        into.append(std::move(row));
    }
}

// The rows of `folders` (followed by `videosAfter` video rows in their parent), each folder
// followed by its contents when expanded. Level by level on a stack of its own: a chain of
// open folders may be tens of thousands deep.
void appendFolderRows(const QList<VideoFolderNodePtr> &folders, qsizetype videosAfter, int depth,
                      const QList<bool> &guides, bool expandAll, const QSet<QString> &expandedIDs,
                      QList<TreeRow> &into)
{
    struct Level {
        const QList<VideoFolderNodePtr> *folders;
        VideoFolderNodePtr owner; // whose videos follow the folders; none at the top
        qsizetype count;          // rows directly in the parent: folders and videos
        int depth;
        QList<bool> guides;
        qsizetype next = 0;
    };
    std::vector<Level> stack;
    stack.push_back({&folders, nullptr, folders.size() + videosAfter, depth, guides});
    while (!stack.empty()) {
        Level &level = stack.back();
        if (level.next == level.folders->size()) {
            if (level.owner)
                appendVideoRows(level.owner, level.owner->videos, level.folders->size(), level.depth, level.guides,
                                into);
            stack.pop_back();
            continue;
        }
        const qsizetype i = level.next++;
        const VideoFolderNodePtr &folder = (*level.folders)[i];
        const bool expanded = expandAll || expandedIDs.contains(folder->id());
        TreeRow row;
        row.depth = level.depth;
        row.ancestorHasNextSibling = level.guides;
        row.isLastInParent = i == level.count - 1;
        row.kind = TreeRowKind::folder;
        row.isExpanded = expanded;
        row.folderNode = folder;
        into.append(std::move(row));
        if (expanded) {
            QList<bool> inner = level.guides;
            inner.append(i != level.count - 1);
            const int innerDepth = level.depth + 1;
            // `level` is not used past this.
            stack.push_back({&folder->subfolders, folder, folder->subfolders.size() + folder->videos.size(),
                             innerDepth, std::move(inner)});
        }
    }
}

// Touches each page of [begin, begin + bytes) once, on several threads. The first write to a
// page the system has not handed out yet costs far more than filling it (it is cleared, and
// under a hypervisor backed first), so a large list of rows filled on one thread spent most
// of its time there: half a million rows took 80-130 ms in fresh memory against 9 ms in
// reused memory.
void touchPagesInParallel(void *begin, size_t bytes)
{
    constexpr size_t kPage = 4096;
    constexpr size_t kPerThreadMinimum = size_t(4) << 20;
    const size_t threads = std::clamp<size_t>(bytes / kPerThreadMinimum, 1,
                                              std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8));
    if (threads == 1)
        return; // small lists are not worth a thread
    auto *bytesStart = static_cast<volatile char *>(begin);
    auto touch = [bytesStart, bytes, threads](size_t part) {
        const size_t from = bytes * part / threads, to = bytes * (part + 1) / threads;
        for (size_t at = from; at < to; at += kPage)
            bytesStart[at] = 0;
    };
    std::vector<std::thread> pool;
    for (size_t part = 1; part < threads; ++part)
        pool.emplace_back(touch, part);
    touch(0);
    for (std::thread &thread : pool)
        thread.join();
}

qsizetype visibleRowCount(const QList<VideoFolderNodePtr> &folders, bool expandAll, const QSet<QString> &expandedIDs)
{
    qsizetype count = 0;
    std::vector<const QList<VideoFolderNodePtr> *> pending{&folders};
    while (!pending.empty()) {
        const QList<VideoFolderNodePtr> *list = pending.back();
        pending.pop_back();
        count += list->size();
        for (const VideoFolderNodePtr &folder : *list) {
            if (expandAll || expandedIDs.contains(folder->id())) {
                count += folder->videos.size();
                pending.push_back(&folder->subfolders);
            }
        }
    }
    return count;
}

} // namespace

VideoFolderNode::~VideoFolderNode()
{
    // Each subfolder this node alone holds gives up its own subfolders before it goes, so no
    // destructor finds more than one level below it.
    if (subfolders.isEmpty() || !subfolders.isDetached())
        return;
    std::vector<VideoFolderNodePtr> pending(std::make_move_iterator(subfolders.begin()),
                                            std::make_move_iterator(subfolders.end()));
    subfolders.clear();
    while (!pending.empty()) {
        const VideoFolderNodePtr node = std::move(pending.back());
        pending.pop_back();
        if (node.use_count() != 1)
            continue; // held elsewhere too: whoever lets go of it last takes it apart
        // Made non-const by the builder; shared as const only.
        QList<VideoFolderNodePtr> &below = const_cast<VideoFolderNode &>(*node).subfolders;
        if (!below.isDetached())
            continue;
        for (VideoFolderNodePtr &child : below)
            pending.push_back(std::move(child));
        below.clear();
    }
}

QList<VideoFile> VideoFolderNode::allVideosRecursive() const
{
    QList<VideoFile> result;
    result.reserve(totalVideoCount);
    std::vector<const VideoFolderNode *> stack{this};
    while (!stack.empty()) {
        const VideoFolderNode *node = stack.back();
        stack.pop_back();
        for (const VideoFile &video : node->videos)
            result.append(video);
        for (qsizetype i = node->subfolders.size(); i-- > 0;)
            stack.push_back(node->subfolders[i].get());
    }
    return result;
}

QString TreeRow::id() const
{
    if (kind == TreeRowKind::folder)
        return QStringLiteral("folder:") + (folderNode ? folderNode->id() : QString());
    return QStringLiteral("video:") + (videoFile ? videoFile->id : QString());
}

QDateTime LumenkiteBuilder::distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QList<VideoFolderNodePtr> LumenkiteBuilder::buildTree(const QList<VideoFile> &videos,
                                                      const std::optional<QString> &rootPath,
                                                      bool compactFolders, VideoSortOrder sortOrder,
                                                      const std::optional<QHash<QString, double>> &scores,
                                                      const Superseded &superseded)
{
    if (videos.isEmpty())
        return {};
    Build build(videos, nullptr, nullptr, false, compactFolders, sortOrder, scores, superseded);
    return build.run(rootPath);
}

QList<VideoFolderNodePtr> LumenkiteBuilder::buildTree(const LibraryIndex &library, const std::vector<int> &subset,
                                                      const std::optional<QString> &rootPath,
                                                      bool compactFolders, VideoSortOrder sortOrder,
                                                      const std::optional<QHash<QString, double>> &scores,
                                                      const Superseded &superseded, Unranked unranked)
{
    if (subset.empty())
        return {};
    // While a large library's names are still being ranked (on several threads, after a scan
    // or a rescan), a small part of it is ordered by collating its own names sooner than the
    // ranks of all of them would be ready.
    const bool ownNames = !library.nameRanksReady() && (unranked == Unranked::collateOwnNames ||
                                                        qsizetype(subset.size()) * 8 <= library.size());
    Build build(library.videos(), &subset, &library, !ownNames, compactFolders, sortOrder, scores, superseded);
    return build.run(rootPath);
}

bool LumenkiteBuilder::hasDeepFolders(const QList<VideoFile> &videos)
{
    return std::any_of(videos.cbegin(), videos.cend(), [](const VideoFile &v) { return isDeepFolder(v.directoryPath); });
}

bool LumenkiteBuilder::isDeepFolder(const QString &directoryPath) { return directoryPath.size() > FolderPath::kKeptLength; }

void LumenkiteBuilder::flatten(const QList<VideoFolderNodePtr> &folders, const QList<VideoFile> &videos,
                               int depth, const QList<bool> &ancestorHasNextSibling, bool expandAll,
                               const QSet<QString> &expandedIDs, QList<TreeRow> &into)
{
    // Loose videos get one shared holder so their rows can keep them alive.
    std::shared_ptr<const QList<VideoFile>> holder;
    if (!videos.isEmpty())
        holder = std::make_shared<const QList<VideoFile>>(videos);
    appendFolderRows(folders, videos.size(), depth, ancestorHasNextSibling, expandAll, expandedIDs, into);
    if (holder)
        appendVideoRows(holder, *holder, folders.size(), depth, ancestorHasNextSibling, into);
}

QList<TreeRow> LumenkiteBuilder::flatten(const QList<VideoFolderNodePtr> &roots, bool expandAll,
                                         const QSet<QString> &expandedIDs)
{
    QList<TreeRow> rows;
    flatten(roots, expandAll, expandedIDs, rows);
    return rows;
}

void LumenkiteBuilder::flatten(const QList<VideoFolderNodePtr> &roots, bool expandAll,
                               const QSet<QString> &expandedIDs, QList<TreeRow> &into)
{
    if (into.isDetached())
        into.clear();
    else
        into = QList<TreeRow>();
    // Reserving the exact count spares a million-row list its regrowth copies.
    const qsizetype count = std::max<qsizetype>(256, visibleRowCount(roots, expandAll, expandedIDs));
    const bool fresh = into.capacity() < count;
    into.reserve(count);
    // Fresh storage starts at its allocation, and no row lives in it yet.
    if (fresh)
        touchPagesInParallel(into.data(), size_t(count) * sizeof(TreeRow));
    // No large pages are asked for these rows: where the system compacts memory to make them
    // on the first touch (its default for regions that ask), a fragmented heap of a long
    // session made the first large flatten several times slower than filling small pages.
    flatten(roots, {}, 0, {}, expandAll, expandedIDs, into);
}

qsizetype LumenkiteBuilder::rowCount(const QList<VideoFolderNodePtr> &roots, bool expandAll,
                                     const QSet<QString> &expandedIDs)
{
    return visibleRowCount(roots, expandAll, expandedIDs);
}

void LumenkiteBuilder::collectFolderIDs(const QList<VideoFolderNodePtr> &folders, int depth, int maxDepth,
                                        bool all, QSet<QString> &into)
{
    // Only below folders whose path is kept whole: the paths of every level of a chain of
    // folders tens of thousands deep would take the square of its depth to hold. Deeper
    // folders are there to be opened one by one.
    std::vector<std::pair<const QList<VideoFolderNodePtr> *, int>> pending{{&folders, depth}};
    while (!pending.empty()) {
        const auto [list, level] = pending.back();
        pending.pop_back();
        if (!all && level >= maxDepth)
            continue;
        for (const VideoFolderNodePtr &folder : *list) {
            into.insert(folder->id());
            if (folder->path.isKeptWhole())
                pending.push_back({&folder->subfolders, level + 1});
        }
    }
}

void LumenkiteBuilder::allFolders(const QList<VideoFolderNodePtr> &folders, QList<VideoFolderNodePtr> &into)
{
    std::vector<std::pair<const QList<VideoFolderNodePtr> *, qsizetype>> stack{{&folders, 0}};
    while (!stack.empty()) {
        auto &[list, next] = stack.back();
        if (next == list->size()) {
            stack.pop_back();
            continue;
        }
        const VideoFolderNodePtr &folder = (*list)[next++];
        into.append(folder);
        stack.push_back({&folder->subfolders, 0}); // `list` and `next` are not used past this
    }
}
