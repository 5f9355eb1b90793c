#include "LibraryIndex.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QHash>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>

namespace {

// Splits [0, n) into a few ranges worked on at once; small lists stay on the caller's thread.
template <typename Work> void forChunks(qsizetype n, Work &&work, qsizetype chunkMinimum = 100'000)
{
    const qsizetype threads =
        std::clamp<qsizetype>(n / chunkMinimum, 1, std::clamp<qsizetype>(std::thread::hardware_concurrency(), 1, 8));
    if (threads == 1) {
        work(0, qsizetype(0), n);
        return;
    }
    std::vector<std::thread> pool;
    for (qsizetype t = 1; t < threads; ++t)
        pool.emplace_back([&work, t, n, threads] { work(int(t), n * t / threads, n * (t + 1) / threads); });
    work(0, qsizetype(0), n / threads);
    for (std::thread &thread : pool)
        thread.join();
}

// Splits [0, n) into `slices` ranges that a few threads, the caller's among them, take one
// after another until none is left. On a busy machine a thread may get its core late: equal
// shares made the whole wait for the slowest, while here the others take its slices.
template <typename Work>
void forSlices(qsizetype n, int slices, Work &&work, qsizetype chunkMinimum = 100'000)
{
    const qsizetype threads =
        std::clamp<qsizetype>(n / chunkMinimum, 1, std::clamp<qsizetype>(std::thread::hardware_concurrency(), 1, 8));
    if (threads == 1) {
        for (int slice = 0; slice < slices; ++slice)
            work(slice, n * slice / slices, n * (slice + 1) / slices);
        return;
    }
    std::atomic<int> next{0};
    const auto take = [&] {
        for (int slice = next++; slice < slices; slice = next++)
            work(slice, n * slice / slices, n * (slice + 1) / slices);
    };
    std::vector<std::thread> pool;
    for (qsizetype t = 1; t < threads; ++t)
        pool.emplace_back(take);
    take();
    for (std::thread &thread : pool)
        thread.join();
}

} // namespace

QCollator LibraryIndex::nameCollator()
{
    QCollator collator;
    // The C locale collates by code units, with neither numeric nor case-blind order.
    if (QLocale().language() == QLocale::C)
        collator.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

LibraryIndex::LibraryIndex(QList<VideoFile> videos) : m_videos(std::move(videos)) {}

const LibraryIndex::Keys &LibraryIndex::keys() const
{
    std::call_once(m_keysOnce, [this] {
        Keys &k = m_keys;
        const qsizetype n = m_videos.size();
        k.folder.resize(size_t(n));
        k.extension.resize(size_t(n));
        k.modifiedMs.resize(size_t(n));
        // Reading each video's strings waits on memory more than it computes: parts of the
        // list are numbered side by side, each with folders and extensions of its own, and
        // the parts' numbers are then made the list's, in the order the videos come.
        struct Part {
            qsizetype from = 0, to = 0;
            std::vector<QString> folders, extensions;
        };
        std::vector<Part> parts(8);
        forChunks(
            n,
            [&](int index, qsizetype from, qsizetype to) {
                Part &part = parts[size_t(index)];
                part.from = from;
                part.to = to;
                QHash<QString, int> folders, extensions;
                const QString *previousFolder = nullptr;
                int previousFolderIndex = -1;
                for (qsizetype i = from; i < to; ++i) {
                    const VideoFile &v = m_videos[i];
                    // Videos of one folder mostly come together.
                    if (!previousFolder || *previousFolder != v.directoryPath) {
                        auto it = folders.constFind(v.directoryPath);
                        if (it == folders.cend()) {
                            it = folders.insert(v.directoryPath, int(part.folders.size()));
                            part.folders.push_back(v.directoryPath);
                        }
                        previousFolder = &v.directoryPath;
                        previousFolderIndex = it.value();
                    }
                    k.folder[size_t(i)] = previousFolderIndex;
                    auto ext = extensions.constFind(v.fileExtension);
                    if (ext == extensions.cend()) {
                        ext = extensions.insert(v.fileExtension, int(part.extensions.size()));
                        part.extensions.push_back(v.fileExtension);
                    }
                    k.extension[size_t(i)] = quint16(ext.value());
                    k.modifiedMs[size_t(i)] =
                        v.modifiedDate.isValid() ? v.modifiedDate.toMSecsSinceEpoch() : kNoDate;
                }
            },
            20'000);
        QHash<QString, int> folders, extensions;
        const QSet<QString> &native = VideoFile::nativeVideoExtensions();
        std::vector<std::pair<std::vector<int>, std::vector<quint16>>> toList(parts.size());
        for (size_t p = 0; p < parts.size(); ++p) {
            for (const QString &folder : parts[p].folders) {
                auto it = folders.constFind(folder);
                if (it == folders.cend()) {
                    it = folders.insert(folder, int(k.foldedFolders.size()));
                    k.foldedFolders.push_back(folder.toCaseFolded());
                }
                toList[p].first.push_back(it.value());
            }
            for (const QString &extension : parts[p].extensions) {
                auto it = extensions.constFind(extension);
                if (it == extensions.cend()) {
                    it = extensions.insert(extension, int(k.extensions.size()));
                    k.extensions.push_back(extension);
                    k.foldedExtensions.push_back(extension.toCaseFolded());
                    k.extensionIsNative.push_back(native.contains(extension.toLower()));
                }
                toList[p].second.push_back(quint16(it.value()));
            }
        }
        // The first part's numbers are the list's already.
        for (size_t p = 1; p < parts.size(); ++p)
            for (qsizetype i = parts[p].from; i < parts[p].to; ++i) {
                k.folder[size_t(i)] = toList[p].first[size_t(k.folder[size_t(i)])];
                k.extension[size_t(i)] = toList[p].second[k.extension[size_t(i)]];
            }
    });
    return m_keys;
}

const std::vector<QString> &LibraryIndex::foldedNames() const
{
    std::call_once(m_namesOnce, [this] {
        const qsizetype n = m_videos.size();
        m_foldedNames.resize(size_t(n));
        forChunks(n, [&](int, qsizetype from, qsizetype to) {
            for (qsizetype i = from; i < to; ++i)
                m_foldedNames[size_t(i)] = m_videos[i].name.toCaseFolded();
        });
    });
    return m_foldedNames;
}

std::vector<int> LibraryIndex::filter(const Criteria &c, const std::vector<int> *within, qint64 *bytes) const
{
    if (c == Criteria{}) {
        // Nothing to test: every video passes (a large library's first view asks this).
        std::vector<int> every;
        if (within) {
            every = *within;
        } else {
            every.resize(size_t(m_videos.size()));
            std::iota(every.begin(), every.end(), 0);
        }
        if (bytes) {
            *bytes = 0;
            if (!within && totalsReady())
                *bytes = totals().bytes;
            else
                for (const int i : every)
                    *bytes += m_videos[i].fileSize;
        }
        return every;
    }
    const Keys &k = keys();
    const QString &query = c.foldedQuery;
    const bool text = !query.isEmpty();
    const std::vector<QString> *names = text ? &foldedNames() : nullptr;
    // Folder and extension matches are answered once per distinct value, not per video.
    std::vector<char> folderMatches, extensionMatches(k.extensions.size());
    if (text) {
        folderMatches.resize(k.foldedFolders.size());
        for (size_t f = 0; f < k.foldedFolders.size(); ++f)
            folderMatches[f] = k.foldedFolders[f].contains(query);
    }
    std::vector<char> extensionPasses(k.extensions.size());
    for (size_t e = 0; e < k.extensions.size(); ++e) {
        bool pass = !c.extension || k.extensions[e] == *c.extension;
        if (c.smart == SmartFilter::nativeFormats)
            pass = pass && k.extensionIsNative[e];
        if (c.smart == SmartFilter::otherFormats)
            pass = pass && !k.extensionIsNative[e];
        extensionPasses[e] = pass;
        extensionMatches[e] = text && k.foldedExtensions[e].contains(query);
    }
    const auto passes = [&](int i) {
        if (!extensionPasses[k.extension[size_t(i)]])
            return false;
        if (c.smart == SmartFilter::recent && c.haveCutoff && k.modifiedMs[size_t(i)] < c.cutoffMs)
            return false;
        if (c.smart == SmartFilter::largeFiles && m_videos[i].fileSize < kLargeFileBytes)
            return false;
        if (!text)
            return true;
        return folderMatches[size_t(k.folder[size_t(i)])] || extensionMatches[k.extension[size_t(i)]] ||
               (*names)[size_t(i)].contains(query);
    };
    const qsizetype n = within ? qsizetype(within->size()) : m_videos.size();
    std::vector<std::vector<int>> parts(n >= 100'000 ? 64 : 1);
    std::vector<qint64> partBytes(parts.size(), 0);
    forSlices(n, int(parts.size()), [&](int part, qsizetype from, qsizetype to) {
        std::vector<int> &out = parts[size_t(part)];
        qint64 sum = 0;
        for (qsizetype j = from; j < to; ++j) {
            const int i = within ? (*within)[size_t(j)] : int(j);
            if (passes(i)) {
                out.push_back(i);
                if (bytes)
                    sum += m_videos[i].fileSize;
            }
        }
        partBytes[size_t(part)] = sum;
    });
    if (bytes) {
        *bytes = 0;
        for (const qint64 b : partBytes)
            *bytes += b;
    }
    // Joined in storage of the final size: growing it part by part copied a million
    // positions several times over, into fresh memory each time.
    size_t total = 0;
    for (const std::vector<int> &part : parts)
        total += part.size();
    std::vector<int> result = std::move(parts[0]);
    result.reserve(total);
    for (size_t p = 1; p < parts.size(); ++p)
        result.insert(result.end(), parts[p].begin(), parts[p].end());
    return result;
}

bool LibraryIndex::narrows(const Criteria &previous, const Criteria &next)
{
    return previous.smart == next.smart && previous.extension == next.extension &&
           previous.haveCutoff == next.haveCutoff && previous.cutoffMs == next.cutoffMs &&
           next.foldedQuery.contains(previous.foldedQuery);
}

int LibraryIndex::SmartCounts::count(SmartFilter filter) const
{
    switch (filter) {
    case SmartFilter::all: return all;
    case SmartFilter::recent: return recent;
    case SmartFilter::largeFiles: return largeFiles;
    case SmartFilter::nativeFormats: return nativeFormats;
    case SmartFilter::otherFormats: return otherFormats;
    }
    return 0;
}

LibraryIndex::SmartCounts LibraryIndex::smartCounts(bool haveCutoff, qint64 cutoffMs) const
{
    const Keys &k = keys();
    const Totals &t = totals();
    SmartCounts counts;
    counts.all = int(m_videos.size());
    if (haveCutoff) {
        for (const qint64 ms : k.modifiedMs)
            counts.recent += ms >= cutoffMs;
    } else {
        counts.recent = counts.all;
    }
    counts.largeFiles = t.largeFiles;
    counts.nativeFormats = t.nativeFormats;
    counts.otherFormats = counts.all - counts.nativeFormats;
    return counts;
}

const LibraryIndex::Totals &LibraryIndex::totals() const
{
    std::call_once(m_totalsOnce, [this] {
        const Keys &k = keys();
        Totals &t = m_totals;
        std::vector<int> perExtension(k.extensions.size(), 0);
        for (qsizetype i = 0; i < m_videos.size(); ++i) {
            const qint64 size = m_videos[i].fileSize;
            t.bytes += size;
            t.largeFiles += size >= kLargeFileBytes;
            ++perExtension[k.extension[size_t(i)]];
        }
        t.byExtension.reserve(qsizetype(perExtension.size()));
        for (size_t e = 0; e < perExtension.size(); ++e) {
            t.byExtension.insert(k.extensions[e], perExtension[e]);
            if (k.extensionIsNative[e])
                t.nativeFormats += perExtension[e];
        }
        m_totalsReady.store(true, std::memory_order_release);
    });
    return m_totals;
}

const std::vector<int> &LibraryIndex::nameRanks() const
{
    std::call_once(m_ranksOnce, [this] {
        const qsizetype n = m_videos.size();
        std::vector<std::optional<QCollatorSortKey>> sortKeys;
        sortKeys.resize(static_cast<size_t>(n));
        std::vector<int> order(static_cast<size_t>(n));
        std::iota(order.begin(), order.end(), 0);
        const auto less = [&](int a, int b) { return sortKeys[size_t(a)]->compare(*sortKeys[size_t(b)]) < 0; };
        // Each part makes and sorts its own keys; the sorted parts are then merged, which
        // costs a fraction of sorting the whole list on one thread.
        std::vector<std::pair<qsizetype, qsizetype>> runs(8, {0, 0});
        // A name's collation key costs microseconds: a part of 20,000 names is worth a thread
        // (a scan's library of 200,000 waited for two threads to key 100,000 each).
        forChunks(
            n,
            [&](int part, qsizetype from, qsizetype to) {
                const QCollator collator = nameCollator();
                for (qsizetype i = from; i < to; ++i)
                    sortKeys[size_t(i)].emplace(collator.sortKey(m_videos[i].name));
                std::sort(order.begin() + from, order.begin() + to, less);
                runs[size_t(part)] = {from, to};
            },
            20'000);
        runs.erase(std::remove_if(runs.begin(), runs.end(), [](const auto &r) { return r.first == r.second; }),
                   runs.end());
        std::sort(runs.begin(), runs.end());
        while (runs.size() > 1) {
            // The pairs of one round are merged side by side.
            std::vector<std::pair<qsizetype, qsizetype>> merged;
            std::vector<std::thread> merging;
            for (size_t r = 0; r + 1 < runs.size(); r += 2) {
                const auto a = order.begin() + runs[r].first, mid = order.begin() + runs[r].second,
                           b = order.begin() + runs[r + 1].second;
                if (r + 3 < runs.size())
                    merging.emplace_back([a, mid, b, &less] { std::inplace_merge(a, mid, b, less); });
                else
                    std::inplace_merge(a, mid, b, less);
                merged.push_back({runs[r].first, runs[r + 1].second});
            }
            for (std::thread &thread : merging)
                thread.join();
            if (runs.size() % 2)
                merged.push_back(runs.back());
            runs.swap(merged);
        }
        m_ranks.resize(size_t(n));
        int rank = 0;
        for (size_t j = 0; j < order.size(); ++j) {
            if (j > 0 && sortKeys[size_t(order[j - 1])]->compare(*sortKeys[size_t(order[j])]) != 0)
                ++rank;
            m_ranks[size_t(order[j])] = rank;
        }
        m_ranksReady.store(true, std::memory_order_release);
    });
    return m_ranks;
}

namespace {

// Plain code-point order (as the tree orders extensions): UTF-16 code-unit order differs
// only where a surrogate meets a unit from U+E000 to U+FFFF.
bool codePointLess(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a.at(i).unicode(), y = b.at(i).unicode();
        if (x == y)
            continue;
        const auto fix = [](char16_t c) -> int { return c >= 0xD800 ? (c >= 0xE000 ? c - 0x800 : c + 0x2000) : c; };
        return fix(x) < fix(y);
    }
    return a.size() < b.size();
}

} // namespace

const std::vector<int> &LibraryIndex::sortPermutation(VideoSortOrder order) const
{
    const int slot = int(order);
    std::call_once(m_permutationOnce[slot], [this, order, slot] {
        const std::vector<int> &ranks = nameRanks();
        const Keys &k = keys();
        const size_t n = ranks.size();
        std::vector<int> &out = m_permutations[slot];
        // By name: ranks lie in [0, n), so counting them keeps equal names in list order.
        std::vector<int> start(n + 1, 0);
        for (size_t i = 0; i < n; ++i)
            ++start[size_t(ranks[i]) + 1];
        for (size_t r = 0; r < n; ++r)
            start[r + 1] += start[r];
        out.resize(n);
        for (size_t i = 0; i < n; ++i)
            out[size_t(start[size_t(ranks[i])]++)] = int(i);
        if (order == VideoSortOrder::nameAsc)
            return;
        // The other orders put their key first; a stable sort of the name order keeps name,
        // then position, among equal keys.
        std::vector<qint64> key(n);
        bool descending = true;
        switch (order) {
        case VideoSortOrder::sizeDesc:
            for (size_t i = 0; i < n; ++i)
                key[i] = m_videos[qsizetype(i)].fileSize;
            break;
        case VideoSortOrder::dateDesc: {
            // A video without a date sorts as the earliest date there is (as the tree does).
            const qint64 distantPast = QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
            for (size_t i = 0; i < n; ++i)
                key[i] = k.modifiedMs[i] == kNoDate ? distantPast : k.modifiedMs[i];
            break;
        }
        case VideoSortOrder::extensionAsc: {
            std::vector<int> byCode(k.extensions.size());
            std::iota(byCode.begin(), byCode.end(), 0);
            std::sort(byCode.begin(), byCode.end(),
                      [&](int a, int b) { return codePointLess(k.extensions[size_t(a)], k.extensions[size_t(b)]); });
            std::vector<qint64> extensionRank(k.extensions.size());
            for (size_t r = 0; r < byCode.size(); ++r)
                extensionRank[size_t(byCode[r])] =
                    r > 0 && !codePointLess(k.extensions[size_t(byCode[r - 1])], k.extensions[size_t(byCode[r])])
                        ? extensionRank[size_t(byCode[r - 1])]
                        : qint64(r);
            for (size_t i = 0; i < n; ++i)
                key[i] = extensionRank[k.extension[i]];
            descending = false;
            break;
        }
        case VideoSortOrder::nameAsc:
            break;
        }
        if (descending)
            std::stable_sort(out.begin(), out.end(), [&](int a, int b) { return key[size_t(a)] > key[size_t(b)]; });
        else
            std::stable_sort(out.begin(), out.end(), [&](int a, int b) { return key[size_t(a)] < key[size_t(b)]; });
    });
    return m_permutations[slot];
}

std::shared_ptr<const LibraryIndex::FolderPlacement> LibraryIndex::folderPlacement(const QString &root) const
{
    std::unique_lock<std::mutex> lock(m_placementsMutex, std::try_to_lock);
    if (!lock.owns_lock())
        return nullptr;
    const auto it = m_placements.find(root);
    return it == m_placements.end() ? nullptr : it->second;
}

std::shared_ptr<const LibraryIndex::FolderPlacement>
LibraryIndex::folderPlacement(const QString &root, const std::function<FolderPlacement()> &make) const
{
    const std::lock_guard<std::mutex> lock(m_placementsMutex);
    std::shared_ptr<const FolderPlacement> &slot = m_placements[root];
    if (!slot)
        slot = std::make_shared<const FolderPlacement>(make());
    return slot;
}
