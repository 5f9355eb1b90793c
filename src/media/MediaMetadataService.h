#pragma once

#include "library/Models.h"

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

// How soon a request should be served. Rows on screen ask with `visible`; among requests
// of one priority the newest is served first.
enum class MediaRequestPriority { background = 0, normal = 1, visible = 2 };

struct MediaRequestOptions {
    MediaRequestPriority priority = MediaRequestPriority::normal;
    // The caller's own generation (a row's reload counter, say), handed back with the
    // result so that an answer arriving after the caller moved on can be recognised.
    quint64 generation = 0;
};

namespace lkmedia {
struct Ticket;
}

// One caller's interest in a result. After cancel() (called on the context's thread) the
// callback does not run, and queued work that nobody wants any more is dropped.
class MediaRequest {
public:
    MediaRequest() = default;

    void cancel();
    // True after cancel(), and for a handle that belongs to no request.
    bool isCancelled() const;
    // True once the result was handed over (or the request was cancelled).
    bool isFinished() const;
    // Raising or lowering a request reorders work not started yet.
    void setPriority(MediaRequestPriority priority);
    quint64 generation() const;

private:
    friend class MediaMetadataService;
    explicit MediaRequest(std::shared_ptr<lkmedia::Ticket> ticket) : m_ticket(std::move(ticket)) {}
    std::shared_ptr<lkmedia::Ticket> m_ticket;
};

// Thumbnails and media facts of video files. One shared instance; every call is
// thread-safe and returns at once: probing and decoding run on worker threads, and
// results come back queued on the thread of the given context object (or through a
// QFuture). Sources in order of preference: the freedesktop thumbnail cache (read only),
// the FFmpeg libraries in process, then the `ffmpeg`/`ffprobe` programs when installed.
// Everything is kept in memory only.
class MediaMetadataService {
public:
    using ThumbnailHandler = std::function<void(const QImage &image, quint64 generation)>;
    using MetadataHandler = std::function<void(const VideoMediaInfo &info, quint64 generation)>;

    struct Options {
        // Unset: the standard locations, looked up once per process. An empty string: the
        // program is treated as not installed.
        std::optional<QString> ffmpegPath;
        std::optional<QString> ffprobePath;
        // Child processes are killed when they run longer; a killed run gives no result.
        int factsTimeoutMs = 10000;
        int frameTimeoutMs = 4000;
        // Folder holding the freedesktop normal/large/x-large/xx-large thumbnail folders;
        // empty: $XDG_CACHE_HOME/thumbnails.
        QString thumbnailCacheRoot;
        // Probes and decodes at once; 0: one per core.
        int workerThreads = 0;
        // External programs at once; 0: half the cores, at least one.
        int programThreads = 0;
    };

    // What has run so far (for diagnostics and tests).
    struct Counters {
        int metadataJobs = 0;      // facts work started (joined requests share one)
        int thumbnailJobs = 0;     // thumbnail work started
        int inProcessProbes = 0;   // files opened with libavformat for facts
        int inProcessFrames = 0;   // frames decoded in process
        int programRuns = 0;       // ffmpeg/ffprobe processes started
        int programTimeouts = 0;   // of those, killed at their time limit
    };

    MediaMetadataService();
    explicit MediaMetadataService(Options options);
    virtual ~MediaMetadataService();
    MediaMetadataService(const MediaMetadataService &) = delete;
    MediaMetadataService &operator=(const MediaMetadataService &) = delete;

    // The process-wide instance, made on first use.
    static MediaMetadataService &shared();

    // Forgets the file's facts (a facts request under way is restarted for its callers)
    // and every cached thumbnail of every file.
    virtual void invalidate(const QUrl &url);

    // The thumbnail of the file, at most twice `size` in pixels; a null image when no
    // source produced one. `onDone` runs on `context`'s thread, never when `context` is
    // gone or the request was cancelled. A size that is not finite gives a null image.
    virtual MediaRequest thumbnail(const QUrl &url, const QSizeF &size, const QObject *context,
                                   ThumbnailHandler onDone, MediaRequestOptions options = {});
    // The media facts of the file; never fails (every field empty when nothing was learned).
    virtual MediaRequest metadata(const QUrl &url, const QObject *context, MetadataHandler onDone,
                                  MediaRequestOptions options = {});

    // The same with handlers that take only the result.
    template <typename F>
        requires(std::is_invocable_v<F, const QImage &> && !std::is_invocable_v<F, const QImage &, quint64>)
    MediaRequest thumbnail(const QUrl &url, const QSizeF &size, const QObject *context, F &&onDone,
                           MediaRequestOptions options = {})
    {
        return thumbnail(url, size, context,
                         ThumbnailHandler([f = std::forward<F>(onDone)](const QImage &image, quint64) { f(image); }),
                         options);
    }
    template <typename F>
        requires(std::is_invocable_v<F, const VideoMediaInfo &> &&
                 !std::is_invocable_v<F, const VideoMediaInfo &, quint64>)
    MediaRequest metadata(const QUrl &url, const QObject *context, F &&onDone, MediaRequestOptions options = {})
    {
        return metadata(url, context,
                        MetadataHandler([f = std::forward<F>(onDone)](const VideoMediaInfo &info, quint64) { f(info); }),
                        options);
    }

    // Future forms; cancelling the future withdraws the request.
    QFuture<QImage> thumbnail(const QUrl &url, const QSizeF &size, MediaRequestOptions options = {});
    QFuture<VideoMediaInfo> metadata(const QUrl &url, MediaRequestOptions options = {});

    // What is already known, without starting any work (for painting).
    std::optional<QImage> cachedThumbnail(const QUrl &url, const QSizeF &size) const;
    std::optional<VideoMediaInfo> cachedMetadata(const QUrl &url) const;

    // The programs this instance runs, none when not installed.
    std::optional<QString> ffmpegProgram() const;
    std::optional<QString> ffprobeProgram() const;
    const Options &options() const;
    Counters counters() const;

    // The first executable of /opt/homebrew/bin, /usr/local/bin, /usr/bin; looked up once.
    static const std::optional<QString> &ffmpegPath();
    static const std::optional<QString> &ffprobePath();

    // "<standardized path>#<int width>x<int height>", the width and height truncated.
    static QString thumbnailKey(const QUrl &url, const QSizeF &size);
    static QString pathKey(const QUrl &url);

    // Display name of a video codec's four-character code (read big-endian: 'avc1' is
    // 0x61766331): "H.264", "HEVC (H.265)", ..., else the code's text upper-cased, or "Video".
    static QString codecName(quint32 fourCharCode);

private:
    struct Impl;
    std::shared_ptr<Impl> d;
};
