#pragma once

#include "FolderPath.h"
#include "Models.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <compare>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

class LibraryIndex;
struct VideoFolderNode;
// Nodes are immutable and shared: a tree, its rows and any copy of either hold the same
// nodes, so no subtree is ever copied.
using VideoFolderNodePtr = std::shared_ptr<const VideoFolderNode>;

// The videos directly in one folder: positions in the list the tree was built from, which
// every node of the tree shares, so no video is copied. Reads like a const list.
class FolderVideos {
public:
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = VideoFile;
        using difference_type = std::ptrdiff_t;
        using pointer = const VideoFile *;
        using reference = const VideoFile &;

        const_iterator() = default;
        reference operator*() const { return (*m_library)[*m_position]; }
        pointer operator->() const { return &**this; }
        reference operator[](difference_type n) const { return (*m_library)[m_position[n]]; }
        const_iterator &operator++() { ++m_position; return *this; }
        const_iterator operator++(int) { auto old = *this; ++m_position; return old; }
        const_iterator &operator--() { --m_position; return *this; }
        const_iterator operator--(int) { auto old = *this; --m_position; return old; }
        const_iterator &operator+=(difference_type n) { m_position += n; return *this; }
        const_iterator &operator-=(difference_type n) { m_position -= n; return *this; }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator &a, const const_iterator &b)
        { return a.m_position - b.m_position; }
        friend bool operator==(const const_iterator &a, const const_iterator &b) { return a.m_position == b.m_position; }
        friend auto operator<=>(const const_iterator &a, const const_iterator &b) { return a.m_position <=> b.m_position; }

    private:
        friend class FolderVideos;
        const_iterator(const QList<VideoFile> *library, const int *position) : m_library(library), m_position(position) {}
        const QList<VideoFile> *m_library = nullptr;
        const int *m_position = nullptr;
    };
    using iterator = const_iterator;

    FolderVideos() = default;
    FolderVideos(QList<VideoFile> library, std::vector<int> positions)
        : m_library(std::move(library)), m_positions(std::move(positions)) {}

    qsizetype size() const { return qsizetype(m_positions.size()); }
    qsizetype count() const { return size(); }
    bool isEmpty() const { return m_positions.empty(); }
    const VideoFile &operator[](qsizetype i) const { return m_library[m_positions[size_t(i)]]; }
    const VideoFile &at(qsizetype i) const { return (*this)[i]; }
    const VideoFile &first() const { return (*this)[0]; }
    const VideoFile &last() const { return (*this)[size() - 1]; }
    const_iterator begin() const { return {&m_library, m_positions.data()}; }
    const_iterator end() const { return {&m_library, m_positions.data() + m_positions.size()}; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    QList<VideoFile> toList() const { return QList<VideoFile>(begin(), end()); }
    operator QList<VideoFile>() const { return toList(); }

private:
    QList<VideoFile> m_library; // shared with the caller's list; only ever read
    std::vector<int> m_positions;
};

// One folder of the built tree. A compacted chain of single-child folders is one node
// with the path and contents of its deepest folder.
struct VideoFolderNode {
    FolderPath path;                // the (deepest) folder's path
    QString displayName;            // chain names joined with " / "
    int pathComponentsCount = 1;    // folders this node stands for
    QList<VideoFolderNodePtr> subfolders; // sorted
    FolderVideos videos;            // sorted, directly in the (deepest) folder
    qsizetype totalVideoCount = 0;  // this node and everything below it
    qint64 totalSize = 0;
    QDateTime latestModifiedDate;   // distantPast() when there is no video

    VideoFolderNode() = default;
    VideoFolderNode(const VideoFolderNode &) = default;
    VideoFolderNode &operator=(const VideoFolderNode &) = default;
    // Takes a deep tree apart without nesting a call per level.
    ~VideoFolderNode();

    // The folder's path: its identity in the expanded set and the rows.
    QString id() const { return path.toString(); }
    // The file URL of the path, made on demand like a video's.
    QUrl url() const { return QUrl::fromLocalFile(id()); }

    // The videos of this node followed by those of each subfolder, depth first, pre-order.
    QList<VideoFile> allVideosRecursive() const;
};

enum class TreeRowKind { folder, video };

// One drawable row of the flattened tree. A row refers to its folder node or its video;
// it copies neither.
struct TreeRow {
    int depth = 0;                      // 0 for top-level folders
    QList<bool> ancestorHasNextSibling; // one entry per enclosing level, outermost first
    bool isLastInParent = false;        // last of the parent's folders-then-videos list
    TreeRowKind kind = TreeRowKind::folder;
    bool isExpanded = false;            // folder rows only

    // The folder of a folder row; null for a video row.
    VideoFolderNodePtr folderNode;
    // The video of a video row (it shares the ownership of whatever holds the video);
    // null for a folder row.
    std::shared_ptr<const VideoFile> videoFile;

    // "folder:" + folder id, or "video:" + video id.
    QString id() const;
    bool isFolder() const { return kind == TreeRowKind::folder; }
    bool isVideo() const { return kind == TreeRowKind::video; }
    // Only valid for the matching kind.
    const VideoFolderNode &folder() const { return *folderNode; }
    const VideoFile &video() const { return *videoFile; }
};

// Turns the filtered videos into the folder tree and the expanded part of the tree into
// rows. Pure computation: no state, no files.
class LumenkiteBuilder {
public:
    LumenkiteBuilder() = delete;

    // The date used as the latest modification of a folder without videos
    // (0001-01-01 00:00:00 UTC).
    static QDateTime distantPast();

    // Asked now and then while a tree is built; when it answers true, the build stops and
    // gives no folders (a newer build has taken its place).
    using Superseded = std::function<bool()>;
    // How a build from an index orders names the index has not ranked yet: by ranking every
    // name of the list (worth it when most of the list is built again and again), or by
    // collating only the names of the part built, on several threads (a tree wanted at once).
    // Either way a small part of a large list collates its own names.
    enum class Unranked { rankAll, collateOwnNames };

    // The sorted top-level folders of `videos` below `rootPath` (none, or "/", for the
    // whole computer). With a non-empty `scores` map (video id -> search score) the score
    // orders apply instead of `sortOrder`. Every video lands in exactly one node.
    static QList<VideoFolderNodePtr> buildTree(const QList<VideoFile> &videos,
                                               const std::optional<QString> &rootPath,
                                               bool compactFolders, VideoSortOrder sortOrder,
                                               const std::optional<QHash<QString, double>> &scores = std::nullopt,
                                               const Superseded &superseded = {});
    // The same tree for the videos of `library` at `subset` (ascending positions), taken
    // in place: no video is copied and names are ordered by the index's ranks.
    static QList<VideoFolderNodePtr> buildTree(const LibraryIndex &library, const std::vector<int> &subset,
                                               const std::optional<QString> &rootPath,
                                               bool compactFolders, VideoSortOrder sortOrder,
                                               const std::optional<QHash<QString, double>> &scores = std::nullopt,
                                               const Superseded &superseded = {},
                                               Unranked unranked = Unranked::rankAll);

    // Whether a folder of `videos` lies so deep (its path longer than the system's own limit
    // for a path) that its tree takes long to build, however few videos there are.
    static bool hasDeepFolders(const QList<VideoFile> &videos);
    static bool isDeepFolder(const QString &directoryPath);

    // Appends the rows of `folders` (each followed by its contents when expanded) and then of
    // `videos`. Callers start with the top-level folders, no videos, depth 0 and an empty
    // guide list.
    static void flatten(const QList<VideoFolderNodePtr> &folders, const QList<VideoFile> &videos, int depth,
                        const QList<bool> &ancestorHasNextSibling, bool expandAll,
                        const QSet<QString> &expandedIDs, QList<TreeRow> &into);
    // The usual top-level call: rows of the whole tree, room for 256 rows reserved.
    static QList<TreeRow> flatten(const QList<VideoFolderNodePtr> &roots, bool expandAll,
                                  const QSet<QString> &expandedIDs);
    // The same rows into `into`, emptied first; storage of its own that is large enough is
    // reused, which spares a large list the cost of fresh memory.
    static void flatten(const QList<VideoFolderNodePtr> &roots, bool expandAll, const QSet<QString> &expandedIDs,
                        QList<TreeRow> &into);

    // How many rows flatten() makes of the tree, counted without making them.
    static qsizetype rowCount(const QList<VideoFolderNodePtr> &roots, bool expandAll, const QSet<QString> &expandedIDs);

    // With `all`, every folder id; otherwise the ids of folders at depth < maxDepth,
    // descending only through folders it collected.
    static void collectFolderIDs(const QList<VideoFolderNodePtr> &folders, int depth, int maxDepth, bool all,
                                 QSet<QString> &into);

    // Every folder of the tree in pre-order (a folder, then its subfolders' subtrees).
    static void allFolders(const QList<VideoFolderNodePtr> &folders, QList<VideoFolderNodePtr> &into);

    // The name of the node for videos directly in "/".
    static QString computerName() { return QStringLiteral("Computer"); }
};
