#include "tools/DuplicateVideoService.h"

#include "library/FileNames.h"
#include "library/L10n.h"

#include <QFile>
#include <QHash>
#include <QTextBoundaryFinder>

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// ---- reading ----

// A file opened for hashing: never blocks on a FIFO or device (opened non-blocking and
// refused unless it is a regular file).
class ReadableFile {
public:
    explicit ReadableFile(const QString &path) : m_fd(FileNames::openRegularFile(path)) {}
    ~ReadableFile()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    ReadableFile(const ReadableFile &) = delete;
    ReadableFile &operator=(const ReadableFile &) = delete;
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // Reads exactly `length` bytes at `offset` unless the file ends or fails first;
    // returns the count read, or -1 on a read error.
    qint64 readAt(char *buffer, qint64 length, qint64 offset) const
    {
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::pread(m_fd, buffer + done, size_t(length - done), off_t(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            if (n == 0) break;
            done += n;
        }
        return done;
    }

private:
    int m_fd = -1;
};

struct Sha256 {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    Sha256() { EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr); }
    ~Sha256() { EVP_MD_CTX_free(ctx); }
    void update(const char *data, qint64 length) { EVP_DigestUpdate(ctx, data, size_t(length)); }
    QString finalHex()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(ctx, digest, &length);
        return DuplicateVideoService::hexString({digest, length});
    }
};

// ---- parallel reads, bounded per storage device ----

// How many files of one device are read at once: one on a spinning disk (seeks dominate),
// several on flash and network storage.
int readersForDevice(dev_t device)
{
    const unsigned hw = std::max(1u, std::thread::hardware_concurrency());
    const int flash = int(std::min(8u, hw));
    if (major(device) == 0) return flash; // tmpfs, overlay and the like
    const QString base = QStringLiteral("/sys/dev/block/%1:%2").arg(major(device)).arg(minor(device));
    for (const QString &path : {base + "/queue/rotational", base + "/../queue/rotational"}) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) return f.readAll().trimmed() == "1" ? 1 : flash;
    }
    return flash;
}

// Runs `work(i)` for every item on worker threads (per device at most its reader count) and
// hands each finished index to `done` on the calling thread, in completion order.
template <typename Work, typename Done>
void forEachFileInParallel(const std::vector<QString> &paths, std::stop_token stop, Work work, Done done)
{
    std::map<dev_t, std::vector<int>> byDevice;
    for (int i = 0; i < int(paths.size()); ++i) {
        struct stat st {};
        const QByteArray native = FileNames::encode(paths[size_t(i)]);
        const dev_t device = ::stat(native.constData(), &st) == 0 ? st.st_dev : 0;
        byDevice[device].push_back(i);
    }
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<int> finished;
    struct Queue {
        const std::vector<int> *items;
        std::atomic_size_t next{0};
    };
    std::vector<std::unique_ptr<Queue>> queues;
    std::vector<std::jthread> threads;
    for (const auto &[device, items] : byDevice) {
        auto q = std::make_unique<Queue>();
        q->items = &items;
        Queue *qp = q.get();
        queues.push_back(std::move(q));
        const int readers = std::min<int>(readersForDevice(device), int(items.size()));
        for (int r = 0; r < readers; ++r) {
            threads.emplace_back([&, qp] {
                for (;;) {
                    if (stop.stop_requested()) return;
                    const size_t slot = qp->next.fetch_add(1);
                    if (slot >= qp->items->size()) return;
                    const int index = (*qp->items)[slot];
                    work(index);
                    std::lock_guard lock(mutex);
                    finished.push_back(index);
                    ready.notify_one();
                }
            });
        }
    }
    for (size_t handled = 0; handled < paths.size();) {
        int index;
        {
            std::unique_lock lock(mutex);
            ready.wait_for(lock, std::chrono::milliseconds(50), [&] { return !finished.empty(); });
            if (finished.empty()) {
                if (stop.stop_requested()) break;
                continue;
            }
            index = finished.front();
            finished.pop_front();
        }
        ++handled;
        // Nothing more is reported once the scan was cancelled.
        if (stop.stop_requested()) break;
        done(index);
    }
    threads.clear(); // joins
}

int graphemeCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0) ++count;
    return count;
}

bool looksLikeCopy(const VideoFile &v)
{
    return v.name.contains(QLatin1Char('(')) || v.name.toLower().contains(QLatin1String("copy"));
}

QString countStage(qint64 k, qint64 total) { return QString::number(k) + QStringLiteral(" / ") + QString::number(total); }

} // namespace

// ---- the pieces ----

QString DuplicateVideoService::hexString(std::span<const unsigned char> digest)
{
    static const char digits[] = "0123456789abcdef";
    QString out;
    out.reserve(int(digest.size()) * 2);
    for (unsigned char b : digest) {
        out.append(QLatin1Char(digits[b >> 4]));
        out.append(QLatin1Char(digits[b & 15]));
    }
    return out;
}

std::optional<QString> DuplicateVideoService::fingerprint(const QString &path, qint64 size)
{
    if (size < 1) return std::nullopt;
    ReadableFile file(path);
    if (!file.isOpen()) return std::nullopt;
    Sha256 sha;
    std::vector<char> buffer(static_cast<size_t>(kWindow));
    // Every window must be there in full: a file shorter than its recorded size, or one
    // whose read fails, is not what the library says it is and takes no part.
    auto feed = [&](qint64 offset) {
        const qint64 want = std::min(kWindow, size - offset);
        const qint64 got = file.readAt(buffer.data(), want, offset);
        if (got != want) return false;
        sha.update(buffer.data(), got);
        return true;
    };
    if (!feed(0)) return std::nullopt;
    if (size > kMiddleWindowAbove && !feed(size / 2)) return std::nullopt;
    if (size > kWindow && !feed(size - kWindow)) return std::nullopt;
    return sha.finalHex();
}

std::optional<QString> DuplicateVideoService::contentDigest(const QString &path, qint64 size, std::stop_token stop)
{
    ReadableFile file(path);
    if (!file.isOpen()) return std::nullopt;
    ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    Sha256 sha;
    std::vector<char> buffer(static_cast<size_t>(kDigestBlock));
    qint64 total = 0;
    for (;;) {
        // A cancelled scan does not finish the file in hand.
        if (stop.stop_requested()) return std::nullopt;
        const qint64 n = file.readAt(buffer.data(), kDigestBlock, total);
        if (n < 0) return std::nullopt; // a read error: the digest would cover a part only
        if (n == 0) break;
        total += n;
        if (total > size) return std::nullopt;
        sha.update(buffer.data(), n);
        if (n < kDigestBlock) break;
    }
    // The digest must cover exactly the bytes the file was grouped by.
    if (total != size) return std::nullopt;
    return sha.finalHex();
}

bool DuplicateVideoService::shouldKeepFirst(const VideoFile &a, const VideoFile &b)
{
    const bool aCopy = looksLikeCopy(a), bCopy = looksLikeCopy(b);
    if (aCopy != bCopy) return bCopy;
    if (a.directoryPath != b.directoryPath) {
        const int la = graphemeCount(a.directoryPath), lb = graphemeCount(b.directoryPath);
        if (la != lb) return la < lb;
    }
    return a.modifiedDate < b.modifiedDate;
}

qint64 DuplicateVideoService::reclaimableBytes(const QList<VideoFile> &videos)
{
    qint64 sum = 0;
    for (qsizetype i = 1; i < videos.size(); ++i) sum += videos[i].fileSize;
    return sum;
}

namespace {

// The file is where the library saw it, a regular file of the recorded size.
bool onDiskAsRecorded(const VideoFile &video)
{
    struct stat st {};
    return ::stat(FileNames::encode(video.id).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_size == video.fileSize;
}

} // namespace

DuplicateVideoService::TrashCheck DuplicateVideoService::checkBeforeTrash(
    const QList<DuplicateVideoGroup> &groups, const QList<VideoFile> &marked,
    const std::function<bool(const VideoFile &)> &isPresent)
{
    QHash<QString, bool> asRecorded; // each file asked once
    const auto intact = [&](const VideoFile &v) {
        auto it = asRecorded.find(v.id);
        if (it == asRecorded.end()) it = asRecorded.insert(v.id, onDiskAsRecorded(v));
        return *it;
    };
    TrashCheck check;
    QSet<QString> leaving;
    for (const VideoFile &v : marked) {
        if (intact(v)) leaving.insert(v.id);
        else check.changed.append(v);
    }
    for (const DuplicateVideoGroup &g : groups) {
        const VideoFile *fallback = nullptr;
        bool kept = false;
        for (const VideoFile &v : g.videos) {
            if ((isPresent && !isPresent(v)) || !intact(v)) continue;
            if (!leaving.contains(v.id)) {
                kept = true;
                break;
            }
            if (!fallback) fallback = &v;
        }
        if (!kept && fallback) leaving.remove(fallback->id);
    }
    for (const VideoFile &v : marked)
        if (leaving.contains(v.id)) check.toTrash.append(v);
    return check;
}

// ---- the scan ----

void DuplicateVideoService::findExactDuplicates(const QList<VideoFile> &videos, const EventHandler &sink,
                                                std::stop_token stop)
{
    sink(DuplicateScanEvent::progress(0.08, L10n::text(QStringLiteral("dup.stageSizes"))));

    // Size groups in the order their sizes first appear; members in input order.
    QHash<qint64, int> sizeSlot;
    std::vector<std::vector<int>> sizeGroups;
    for (int i = 0; i < videos.size(); ++i) {
        const qint64 size = videos[i].fileSize;
        if (size < 1) continue;
        auto it = sizeSlot.constFind(size);
        if (it == sizeSlot.cend()) {
            it = sizeSlot.insert(size, int(sizeGroups.size()));
            sizeGroups.emplace_back();
        }
        sizeGroups[size_t(*it)].push_back(i);
    }
    std::vector<int> candidates;
    for (const auto &g : sizeGroups)
        if (g.size() >= 2) candidates.insert(candidates.end(), g.begin(), g.end());
    if (candidates.empty()) {
        sink(DuplicateScanEvent::completed({}));
        return;
    }

    QSet<int> unreadable;
    auto pathsOf = [&](const std::vector<int> &indices) {
        std::vector<QString> paths;
        paths.reserve(indices.size());
        for (int i : indices) paths.push_back(videos[i].url().toLocalFile());
        return paths;
    };

    // Fingerprint pass.
    const qint64 T = qint64(candidates.size());
    std::vector<std::optional<QString>> prints(candidates.size());
    {
        const std::vector<QString> paths = pathsOf(candidates);
        qint64 k = 0;
        forEachFileInParallel(
            paths, stop,
            [&](int c) { prints[size_t(c)] = fingerprint(paths[size_t(c)], videos[candidates[size_t(c)]].fileSize); },
            [&](int) {
                ++k;
                if (k % 5 == 0 || k == T)
                    sink(DuplicateScanEvent::progress((double(k) / double(T)) * 0.45 + 0.1, countStage(k, T)));
            });
    }
    if (stop.stop_requested()) return;

    QHash<QString, int> printSlot;
    std::vector<std::vector<int>> printGroups;
    for (size_t c = 0; c < candidates.size(); ++c) {
        const int i = candidates[c];
        if (!prints[c]) {
            unreadable.insert(i);
            continue;
        }
        const QString key = QString::number(videos[i].fileSize) + QLatin1Char('-') + *prints[c];
        auto it = printSlot.constFind(key);
        if (it == printSlot.cend()) {
            it = printSlot.insert(key, int(printGroups.size()));
            printGroups.emplace_back();
        }
        printGroups[size_t(*it)].push_back(i);
    }
    std::vector<int> full;
    for (const auto &g : printGroups)
        if (g.size() >= 2) full.insert(full.end(), g.begin(), g.end());
    if (full.empty()) {
        sink(DuplicateScanEvent::completed({}, int(unreadable.size())));
        return;
    }

    // Digest pass.
    const qint64 G = qint64(full.size());
    std::vector<std::optional<QString>> digests(full.size());
    {
        const std::vector<QString> paths = pathsOf(full);
        qint64 k = 0;
        forEachFileInParallel(
            paths, stop,
            [&](int c) { digests[size_t(c)] = contentDigest(paths[size_t(c)], videos[full[size_t(c)]].fileSize, stop); },
            [&](int) {
                ++k;
                sink(DuplicateScanEvent::progress((double(k) / double(G)) * 0.43 + 0.55, countStage(k, G)));
            });
    }
    if (stop.stop_requested()) return;

    // Keyed by size and digest, so a file is only ever grouped with files of its own size.
    QHash<QString, int> digestSlot;
    std::vector<std::pair<QString, QList<VideoFile>>> digestGroups;
    for (size_t c = 0; c < full.size(); ++c) {
        const int i = full[c];
        if (!digests[c]) {
            unreadable.insert(i);
            continue;
        }
        const QString key = QString::number(videos[i].fileSize) + QLatin1Char('-') + *digests[c];
        auto it = digestSlot.constFind(key);
        if (it == digestSlot.cend()) {
            it = digestSlot.insert(key, int(digestGroups.size()));
            digestGroups.emplace_back(*digests[c], QList<VideoFile>{});
        }
        digestGroups[size_t(*it)].second.append(videos[i]);
    }

    QList<DuplicateVideoGroup> groups;
    for (auto &[digest, members] : digestGroups) {
        if (members.size() < 2) continue;
        std::stable_sort(members.begin(), members.end(), &DuplicateVideoService::shouldKeepFirst);
        groups.append(DuplicateVideoGroup{digest, members.first().fileSize, members});
    }
    auto redundant = [](const DuplicateVideoGroup &g) {
        return g.videos.size() < 2 ? qint64(0) : g.fileSize * qint64(g.videos.size() - 1);
    };
    std::stable_sort(groups.begin(), groups.end(),
                     [&](const DuplicateVideoGroup &a, const DuplicateVideoGroup &b) { return redundant(a) > redundant(b); });
    sink(DuplicateScanEvent::completed(groups, int(unreadable.size())));
}

DuplicateScanJob *DuplicateVideoService::startScan(const QList<VideoFile> &videos, QObject *parent)
{
    return DuplicateScanJob::start(
        [videos](const DuplicateScanJob::Sink &sink, std::stop_token stop) { findExactDuplicates(videos, sink, stop); },
        parent, BackgroundJob::AfterCancel::drop);
}
