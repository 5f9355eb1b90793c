#include "StorageStatistics.h"

#include <algorithm>
#include <vector>

void KeyTotals::add(const QString &key, qint64 bytes)
{
    const QChar *text = key.constData();
    Seen &seen = m_seen[(quintptr(text) >> 4) & (m_seen.size() - 1)];
    qsizetype index;
    if (seen.text == text && seen.size == key.size()) {
        index = seen.index;
    } else if (m_last >= 0 && m_entries[size_t(m_last)].key == key) {
        index = m_last;
    } else {
        const auto it = m_index.constFind(key);
        if (it != m_index.cend()) {
            index = *it;
        } else {
            index = qsizetype(m_entries.size());
            m_entries.push_back(Entry{key, 0, 0});
            m_index.insert(key, index);
        }
    }
    seen = Seen{text, key.size(), index};
    m_last = index;
    Entry &entry = m_entries[size_t(index)];
    entry.bytes += bytes;
    ++entry.count;
}

namespace {

template <typename Stat>
void sortByBytes(QList<Stat> &stats)
{
    std::stable_sort(stats.begin(), stats.end(), [](const Stat &a, const Stat &b) { return a.bytes > b.bytes; });
}

} // namespace

QString StorageStatistics::folderName(const QString &path)
{
    // What a file URL of the path names as its last component: trailing slashes do not
    // count, and the root is "/".
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    if (end == 1 && path.at(0) == QLatin1Char('/'))
        return QStringLiteral("/");
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'), end - 1);
    return path.mid(slash + 1, end - slash - 1);
}

QList<FormatStat> StorageStatistics::makeFormatStat(const KeyTotals &totals)
{
    QList<FormatStat> stats;
    stats.reserve(qsizetype(totals.entries().size()));
    for (const KeyTotals::Entry &e : totals.entries())
        stats.append(FormatStat{e.key, e.key, e.bytes, e.count});
    return stats;
}

QList<FolderStat> StorageStatistics::makeFolderStat(const KeyTotals &totals)
{
    QList<FolderStat> stats;
    stats.reserve(qsizetype(totals.entries().size()));
    for (const KeyTotals::Entry &e : totals.entries())
        stats.append(FolderStat{e.key, folderName(e.key), e.key, e.bytes, e.count});
    return stats;
}

StorageStatistics StorageStatistics::compute(const QList<VideoFile> &videos, std::stop_token stop)
{
    StorageStatistics result;
    KeyTotals formats;
    KeyTotals folders;
    // The largest videos so far, largest first; a later video of equal size goes after the
    // earlier ones, so ties keep the library's order.
    std::vector<qsizetype> top;
    top.reserve(kMaxLargestVideos + 1);
    qint64 total = 0;

    const qsizetype n = videos.size();
    const VideoFile *data = videos.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if ((i & 0xFFFF) == 0 && stop.stop_requested())
            return result;
        const VideoFile &v = data[i];
        total += v.fileSize;
        formats.add(v.fileExtension, v.fileSize);
        folders.add(v.directoryPath, v.fileSize);
        if (qsizetype(top.size()) == kMaxLargestVideos && data[top.back()].fileSize >= v.fileSize)
            continue;
        auto at = std::upper_bound(top.begin(), top.end(), v.fileSize,
                                   [data](qint64 size, qsizetype j) { return size > data[j].fileSize; });
        top.insert(at, i);
        if (qsizetype(top.size()) > kMaxLargestVideos)
            top.pop_back();
    }

    result.formatStats = makeFormatStat(formats);
    sortByBytes(result.formatStats);
    // Only the heaviest folders are kept, so only they are named: a library may have tens
    // of thousands of folders. Equal totals keep the order the folders were first met.
    std::vector<const KeyTotals::Entry *> heaviest;
    for (const KeyTotals::Entry &e : folders.entries()) {
        if (qsizetype(heaviest.size()) == kMaxFolders && heaviest.back()->bytes >= e.bytes)
            continue;
        auto at = std::upper_bound(heaviest.begin(), heaviest.end(), e.bytes,
                                   [](qint64 bytes, const KeyTotals::Entry *x) { return bytes > x->bytes; });
        heaviest.insert(at, &e);
        if (qsizetype(heaviest.size()) > kMaxFolders)
            heaviest.pop_back();
    }
    for (const KeyTotals::Entry *e : heaviest)
        result.folderStats.append(FolderStat{e->key, folderName(e->key), e->key, e->bytes, e->count});
    for (qsizetype j : top)
        result.largestVideos.append(data[j]);
    result.totalBytes = total;
    result.videoCount = n;
    return result;
}
