#pragma once

#include "Models.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// One step of a scan, in the order the scanner produced it.
struct ScanEvent {
    enum class Kind { batch, permissionDenied, folderUnreadable, completed, failed };
    Kind kind = Kind::completed;

    // batch: 1 to 40 newly found videos and the folder the walk was in when it sent them
    // (none for the last batch of a root).
    QList<VideoFile> videos;
    std::optional<QString> scannedPath;
    // permissionDenied, folderUnreadable: the folder's last path component and its path.
    QString folderName;
    QString path;
    // completed: the number of accepted videos and the roots that could not be read.
    int totalCount = 0;
    QStringList deniedPaths;
    // failed: a scan that failed as a whole (the scanner itself never sends it);
    // folderUnreadable: why the folder could not be walked.
    QString message;

    static ScanEvent batch(QList<VideoFile> videos, std::optional<QString> scannedPath);
    static ScanEvent permissionDenied(const QString &folderName, const QString &path);
    static ScanEvent folderUnreadable(const QString &folderName, const QString &path, const QString &reason);
    static ScanEvent completed(int totalCount, const QStringList &deniedPaths);
    static ScanEvent failed(const QString &message);

    bool operator==(const ScanEvent &other) const = default;
};

// Where the home and whole-computer scans look. `system()` reads the real machine; tests
// build their own.
struct ScanEnvironment {
    QString usersFolder;            // "/home"
    QString homeFolder;             // the current user's home, entered first wherever it lies
    QStringList preferredHomeFolders; // names of home folders entered first, in this order
    std::function<QList<ScanScope>()> volumes; // the extra roots of the whole-computer scan

    static ScanEnvironment system();
};

class VideoScanner;

// Handle of one running scan. Copies share the job; when the last copy goes away the scan
// is cancelled, as when the consumer stops listening.
class ScanJob {
public:
    ScanJob() = default;

    bool isValid() const { return bool(m_control); }
    // Unique per scan in this process, increasing.
    quint64 generation() const;
    // Stops the walk at the next item. Called on the consumer's thread, no event of this
    // job reaches the handler afterwards.
    void cancel();
    bool isCancelled() const;
    // True once the worker has returned (after its last event was queued).
    bool isFinished() const;
    // Blocks until the worker has returned; false on timeout. For shutdown and tests.
    bool waitForFinished(int timeoutMs = -1) const;

private:
    friend class VideoScanner;
    struct State;
    struct Control;
    std::shared_ptr<Control> m_control;
};

class VideoScanner final {
public:
    using EventHandler = std::function<void(const ScanEvent &event)>;

    // Folder names whose subtrees are never entered (compared exactly).
    static const QSet<QString> &skippedFolderNames();
    // Lower-case extensions of folders that are never entered.
    static const QSet<QString> &skippedPackageExtensions();
    // Lower-case extensions of media-library bundles, entered only with the Photos switch on.
    static const QSet<QString> &photoLibraryExtensions();
    // The only first-level folders entered inside a "photoslibrary" bundle.
    static const QSet<QString> &photoLibraryMediaFolders();
    // The home folders entered first, in order: the XDG videos folder, Desktop, Documents,
    // Downloads, Pictures (their real, possibly localised names).
    static QStringList preferredHomeFolders();

    // Starts a scan of `scope` on a worker thread. Events are queued to `context`'s thread
    // and handed to `onEvent` there, in the order they were produced; `onFinished` runs
    // after the last one. Nothing is delivered once the job is cancelled or `context` is
    // gone. Call from `context`'s thread.
    ScanJob scan(const ScanScope &scope, bool includePhotosLibrary, QObject *context,
                 EventHandler onEvent, std::function<void()> onFinished = {}) const;
    // Same, with an explicit environment for the home and whole-computer scans.
    ScanJob scan(const ScanScope &scope, bool includePhotosLibrary, const ScanEnvironment &environment,
                 QObject *context, EventHandler onEvent, std::function<void()> onFinished = {}) const;

    // Runs a whole scan on the calling thread, handing each event to `sink` as it is made.
    // Stops between items once `stop` is requested; a cancelled home or whole-computer
    // scan sends no `completed`.
    static void run(const ScanScope &scope, bool includePhotosLibrary, const EventHandler &sink,
                    std::stop_token stop = {});
    static void run(const ScanScope &scope, bool includePhotosLibrary, const ScanEnvironment &environment,
                    const EventHandler &sink, std::stop_token stop = {});

    // The mounted volumes offered as scopes, in the system's order, without "/", pseudo and
    // system file systems and system mount points.
    static QList<ScanScope> mountedVolumes();
};
