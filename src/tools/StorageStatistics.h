#pragma once

// Where the library's bytes go: totals per file format, the heaviest folders and the
// largest videos. Pure computation over a copy of the library, safe on any thread, so the
// insights sheet can run it off the GUI thread for libraries of a million videos.

#include "library/Models.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <stop_token>
#include <vector>

struct FormatStat {
    QString id;  // equal to ext
    QString ext; // fileExtension as stored (upper case, may be empty)
    qint64 bytes = 0;
    qsizetype count = 0;
    bool operator==(const FormatStat &other) const = default;
};

struct FolderStat {
    QString id;   // equal to path
    QString name; // last path component
    QString path; // directoryPath as stored
    qint64 bytes = 0;
    qsizetype count = 0;
    bool operator==(const FolderStat &other) const = default;
};

// Byte totals and counts keyed by text (a format or a folder). Libraries share one string
// per folder and per format (the scope cache loads them so) and arrive folder by folder, so
// most keys are found by the identity of their text or as the key of the video before,
// without hashing; a key met for the first time goes through a hash map.
class KeyTotals {
public:
    struct Entry {
        QString key;
        qint64 bytes = 0;
        qsizetype count = 0;
    };

    void add(const QString &key, qint64 bytes);
    // One entry per distinct key, in the order the keys were first met.
    const std::vector<Entry> &entries() const { return m_entries; }

private:
    struct Seen {
        const QChar *text = nullptr;
        qsizetype size = -1;
        qsizetype index = -1;
    };
    std::vector<Entry> m_entries;
    QHash<QString, qsizetype> m_index;
    // Texts seen lately, by address. An address stands for one content only while that
    // text is alive, which the entries' own copies of every key guarantee.
    std::array<Seen, 256> m_seen{};
    qsizetype m_last = -1;
};

struct StorageStatistics {
    static constexpr qsizetype kMaxFolders = 6;
    static constexpr qsizetype kMaxLargestVideos = 10;

    QList<FormatStat> formatStats;  // every format, largest byte total first
    QList<FolderStat> folderStats;  // at most 6, largest byte total first
    QList<VideoFile> largestVideos; // at most 10, largest first; ties keep library order
    qint64 totalBytes = 0;
    qsizetype videoCount = 0;

    // All three lists in one pass over `videos`. A stop request ends the walk early and
    // returns a partial result the caller must drop.
    static StorageStatistics compute(const QList<VideoFile> &videos, std::stop_token stop = {});

    // One record per key of the totals.
    static QList<FormatStat> makeFormatStat(const KeyTotals &totals);
    static QList<FolderStat> makeFolderStat(const KeyTotals &totals);
    // The last component of a folder path, as a file URL of the path names it ("/" for "/").
    static QString folderName(const QString &path);
};
