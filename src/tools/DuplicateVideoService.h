#pragma once

// Finding duplicate videos: byte-identical files (equal size, then a fingerprint of up to
// three 64 KiB windows, then the SHA-256 of the whole file) and visually similar videos
// (from the keyframe embeddings of the visual index).

#include "library/BackgroundJob.h"
#include "library/Models.h"
#include "library/OnDeviceSearchTypes.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <vector>

// Byte-identical videos. videos[0] is the copy to keep, the others are redundant.
struct DuplicateVideoGroup {
    QString id;           // SHA-256 of the content, 64 lowercase hex digits
    qint64 fileSize = 0;  // of every member
    QList<VideoFile> videos;
    bool operator==(const DuplicateVideoGroup &other) const = default;
};

// Videos that look alike. Members are ordered largest file first; videos[0] is kept.
struct SimilarVideoGroup {
    QString id;                    // member ids in member order, joined with "|"
    double averageSimilarity = 0;  // mean of the linked pairs, at most 0.99
    QList<VideoFile> videos;
    // The member pairs whose own similarity reaches the threshold (ids, in member order).
    // Other pairs belong together only through a chain of members.
    QList<std::pair<QString, QString>> links;
    bool operator==(const SimilarVideoGroup &other) const = default;
    // The members directly linked to `id`.
    QSet<QString> linkedTo(const QString &id) const;
};

struct DuplicateScanEvent {
    enum class Kind { progress, completed };
    Kind kind = Kind::progress;
    double fraction = 0;  // progress
    QString stage;        // progress, fixed English
    QList<DuplicateVideoGroup> groups; // completed
    // completed: candidate files that could not be read to the end (or were no regular
    // file, or no longer had their recorded size); they are in no group.
    int unreadableCount = 0;

    static DuplicateScanEvent progress(double fraction, const QString &stage)
    {
        return {Kind::progress, fraction, stage, {}, 0};
    }
    static DuplicateScanEvent completed(QList<DuplicateVideoGroup> groups, int unreadable = 0)
    {
        return {Kind::completed, 0, {}, std::move(groups), unreadable};
    }
    bool operator==(const DuplicateScanEvent &other) const = default;
};

// One exact scan running on its own threads. Cancelling stops it at its next check (before
// each file, and every MiB inside one); no event reaches the consumer afterwards.
using DuplicateScanJob = Job<DuplicateScanEvent>;

// The pairs of usable videos whose similarity reaches a lowest threshold, computed once;
// grouping at any higher threshold then only filters these pairs.
struct SimilarityPairs {
    struct Pair {
        int a = 0, b = 0; // indices into videos, a < b
        float similarity = 0;
    };
    QList<VideoFile> videos; // the videos with usable embeddings, in input order
    std::vector<Pair> pairs; // sorted by (a, b)
    float minThreshold = 0;
};

class DuplicateVideoService final {
public:
    DuplicateVideoService() = delete;

    static constexpr qint64 kWindow = 0x10000;
    static constexpr qint64 kMiddleWindowAbove = 0x20000;
    static constexpr qint64 kDigestBlock = 0x100000;

    using EventHandler = std::function<void(const DuplicateScanEvent &event)>;

    // Starts the exact scan of `videos` on threads of its own; the job is a child of `parent`.
    static DuplicateScanJob *startScan(const QList<VideoFile> &videos, QObject *parent);

    // The whole exact scan on the calling thread (its reads fan out over worker threads).
    // Stops without `completed` once `stop` is requested.
    static void findExactDuplicates(const QList<VideoFile> &videos, const EventHandler &sink,
                                    std::stop_token stop = {});

    // Fingerprint of up to three 64 KiB windows; none when the file is no regular file,
    // cannot be read or is shorter than `size`.
    static std::optional<QString> fingerprint(const QString &path, qint64 size);
    // SHA-256 of the whole file, read in 1 MiB blocks; none when it cannot be read, is no
    // regular file, does not hold exactly `size` bytes, or `stop` was requested.
    static std::optional<QString> contentDigest(const QString &path, qint64 size, std::stop_token stop = {});
    static QString hexString(std::span<const unsigned char> digest);
    static bool shouldKeepFirst(const VideoFile &a, const VideoFile &b);
    static qint64 reclaimableBytes(const QList<VideoFile> &videos);

    // What trashing `marked` may really take, asked of the disk just before: a marked file
    // that is not a regular file of its recorded size any more stays (it may no longer be
    // the copy it was), and every group keeps one member that is on disk as recorded and
    // still in the library (`isPresent`): when none that is not marked is, its first
    // marked member that is stays too.
    struct TrashCheck {
        QList<VideoFile> toTrash; // in `marked` order
        QList<VideoFile> changed; // no longer as recorded
    };
    static TrashCheck checkBeforeTrash(const QList<DuplicateVideoGroup> &groups, const QList<VideoFile> &marked,
                                       const std::function<bool(const VideoFile &)> &isPresent = {});

    // ---- similar videos ----
    static SimilarityPairs similarPairs(const QList<VideoFile> &videos, const VisualIndexMap &entries,
                                        float minThreshold);
    // Groups at `threshold` (>= the pairs' lowest threshold). Videos for which `isPresent`
    // says false (gone from the library) take no part.
    static QList<SimilarVideoGroup> similarGroups(const SimilarityPairs &pairs, float threshold,
                                                  const std::function<bool(const VideoFile &)> &isPresent = {});
    static QList<SimilarVideoGroup> findSimilarVideos(const QList<VideoFile> &videos, const VisualIndexMap &entries,
                                                      float threshold);
    static bool similarGroupPrecedes(const SimilarVideoGroup &a, const SimilarVideoGroup &b);
    // A video's direction in embedding space (sum of its keyframe embeddings, normalised);
    // empty when it has no usable embedding.
    static std::vector<float> unitVector(const VideoVisualIndexEntry &entry);
};

Q_DECLARE_METATYPE(DuplicateScanEvent)
