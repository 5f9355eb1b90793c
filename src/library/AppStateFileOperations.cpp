#include "AppStatePrivate.h"
#include "FileNames.h"

#include "BookmarkService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>


void AppState::prepareMove(const VideoFolderNode &folder)
{
    // Collected before anything changes: the node may belong to the current tree.
    const QList<VideoFile> videos = folder.allVideosRecursive();
    if (videos.isEmpty())
        return;
    setVideosPendingMove(videos);
    setShowMoveSheet(true);
}

void AppState::moveSelected(const QUrl &destinationArgument)
{
    const QUrl destination = destinationArgument;
    if (m_videosPendingMove.isEmpty())
        return;
    setShowMoveSheet(false);
    if (isCopyingFiles()) {
        showToast(L10n::text(QStringLiteral("move.copyBusy"), m_language), true, false);
        setVideosPendingMove({});
        return;
    }
    // Renames are quick and done here; what has to be copied goes to the worker.
    QStringList failures;
    QList<MovedItemRecord> records;
    QList<VideoFile> toCopy;
    try {
        records = FileOperationService::move(m_videosPendingMove, destination, &failures, {}, &toCopy);
    } catch (const FileOperationError &error) {
        if (toCopy.isEmpty() || error.kind() != FileOperationError::Kind::partialFailure) {
            showToast(error.localizedDescription(), true, false);
            setVideosPendingMove({});
            return;
        }
        failures = error.lines();
    }
    if (toCopy.isEmpty()) {
        finishMove(destination, records, failures);
        return;
    }
    runFileCopy([this, destination, records, failures, toCopy](const FileOperationService::CopyControl &control) {
        QStringList copyFailures;
        QList<MovedItemRecord> copied;
        try {
            copied = FileOperationService::move(toCopy, destination, &copyFailures, control);
        } catch (const FileOperationError &error) {
            copyFailures = error.lines();
        }
        return std::function<void()>([this, destination, all = records + copied, lines = failures + copyFailures] {
            finishMove(destination, all, lines);
        });
    });
}

void AppState::finishMove(const QUrl &destination, const QList<MovedItemRecord> &records, const QStringList &failures)
{
    if (records.isEmpty()) {
        if (!failures.isEmpty())
            showToast(FileOperationError::partialFailure(failures).localizedDescription(), true, false);
        setVideosPendingMove({});
        return;
    }
    LibraryChange change;
    for (const MovedItemRecord &r : std::as_const(records)) {
        // A video moved out of the scope's folders is no longer part of this scope.
        if (isInsideActiveScope(r.newVideo.directoryPath))
            change.replaced.insert(r.originalVideo.id, r.newVideo);
        else
            change.removed.insert(r.originalVideo.id);
    }
    setAllVideos(change.applied(m_allVideos));
    if (m_primarySelectedVideoID) {
        if (const auto it = change.replaced.constFind(*m_primarySelectedVideoID); it != change.replaced.cend())
            setPrimarySelectedVideoID(it->id);
        else if (change.removed.contains(*m_primarySelectedVideoID))
            setPrimarySelectedVideoID(std::nullopt);
    }
    QSet<QString> selected;
    for (const QString &id : std::as_const(m_selectedVideoIDs)) {
        if (const auto it = change.replaced.constFind(id); it != change.replaced.cend())
            selected.insert(it->id);
        else if (!change.removed.contains(id))
            selected.insert(id);
    }
    setSelectedVideoIDs(selected);
    const QString destinationPath = standardizedPath(destination.toLocalFile());
    QSet<QString> expanded = m_expandedFolderIDs;
    expanded.insert(destinationPath);
    setExpandedFolderIDs(expanded);
    rememberMoveDestination(destination);
    commitLibraryChange(change);
    rebuildTree(false);
    setLastUndoRecord(UndoRecord::moved(records));
    const QString name = destinationPath.mid(destinationPath.lastIndexOf('/') + 1);
    showToastThenFollowUp(QString::number(records.size()) + QStringLiteral(" \u2192 ") + name, true, failures);
    setVideosPendingMove({});
}

bool AppState::isCopyingFiles() const { return d->fileCopy.running; }
qint64 AppState::fileCopyDone() const { return d->fileCopy.done; }
qint64 AppState::fileCopyTotal() const { return d->fileCopy.total; }

void AppState::cancelFileCopy()
{
    if (d->fileCopy.running)
        d->fileCopy.thread.request_stop();
}

void AppState::runFileCopy(std::function<std::function<void()>(const FileOperationService::CopyControl &)> work)
{
    const quint64 generation = ++d->fileCopy.generation;
    // The previous worker has posted its end already; this only waits for it to return.
    if (d->fileCopy.thread.joinable())
        d->fileCopy.thread.join();
    d->fileCopy.running = true;
    d->fileCopy.done = d->fileCopy.total = 0;
    emit fileCopyChanged();
    QPointer<AppState> self(this);
    d->fileCopy.thread = std::jthread([self, this, generation, work = std::move(work)](std::stop_token stop) {
        FileOperationService::CopyControl control;
        control.cancelled = [stop] { return stop.stop_requested(); };
        control.progress = [self, this, generation](qint64 done, qint64 total) {
            QMetaObject::invokeMethod(this, [self, this, generation, done, total] {
                if (!self || generation != d->fileCopy.generation || !d->fileCopy.running)
                    return;
                d->fileCopy.done = done;
                d->fileCopy.total = total;
                emit fileCopyChanged();
            }, Qt::QueuedConnection);
        };
        std::function<void()> then = work(control);
        QMetaObject::invokeMethod(this, [self, this, generation, then = std::move(then)] {
            if (!self || generation != d->fileCopy.generation)
                return;
            d->fileCopy.running = false;
            d->fileCopy.done = d->fileCopy.total = 0;
            emit fileCopyChanged();
            then();
        }, Qt::QueuedConnection);
    });
}

void AppState::rememberMoveDestination(const QUrl &destinationArgument)
{
    const QUrl destination = destinationArgument;
    const QString path = standardizedPath(destination.toLocalFile());
    QList<QUrl> list;
    list.append(QUrl::fromLocalFile(path));
    for (const QUrl &url : std::as_const(m_recentMoveDestinations))
        if (standardizedPath(url.toLocalFile()) != path)
            list.append(url);
    if (list.size() > kMaxRecentDestinations)
        list.resize(kMaxRecentDestinations);
    setRecentMoveDestinations(list);
    QStringList paths;
    for (const QUrl &url : std::as_const(list))
        paths.append(url.toLocalFile());
    appSettings().setValue(kRecentDestinationsKey, paths);
}

void AppState::removeFromLibrary(const QSet<QString> &ids)
{
    LibraryChange change;
    change.removed = ids;
    setAllVideos(change.applied(m_allVideos));
    QSet<QString> selected = m_selectedVideoIDs;
    for (const QString &id : ids)
        selected.remove(id);
    setSelectedVideoIDs(selected);
    if (m_primarySelectedVideoID && ids.contains(*m_primarySelectedVideoID))
        setPrimarySelectedVideoID(std::nullopt);
    commitLibraryChange(change);
    rebuildTree(false);
}

void AppState::moveSelectedToTrash(const QList<VideoFile> &videosArgument)
{
    const QList<VideoFile> videos = videosArgument;
    if (videos.isEmpty())
        return;
    QStringList failures;
    QList<TrashedItemRecord> records;
    try {
        records = FileOperationService::trash(videos, &failures);
    } catch (const FileOperationError &error) {
        showToast(error.localizedDescription(), true, false);
        return;
    }
    if (records.isEmpty())
        return;
    QSet<QString> ids;
    for (const TrashedItemRecord &r : std::as_const(records))
        ids.insert(r.originalVideo.id);
    removeFromLibrary(ids);
    setLastUndoRecord(UndoRecord::trashed(records));
    showToastThenFollowUp(QString::number(records.size()) + QStringLiteral(" \u2192 ") +
                              L10n::text(QStringLiteral("inspector.trash"), m_language),
                          true, failures);
}

void AppState::deletePermanently()
{
    const QList<VideoFile> videos = m_videosPendingPermanentDelete;
    setVideosPendingPermanentDelete({});
    setShowPermanentDeleteAlert(false);
    if (videos.isEmpty())
        return;
    QStringList failures;
    QList<VideoFile> removed;
    try {
        removed = FileOperationService::deletePermanently(videos, &failures);
    } catch (const FileOperationError &error) {
        showToast(error.localizedDescription(), true, false);
        return;
    }
    QSet<QString> ids;
    for (const VideoFile &v : std::as_const(removed))
        ids.insert(v.id);
    removeFromLibrary(ids);
    showToastThenFollowUp(QString::number(removed.size()) + QStringLiteral(" deleted"), false, failures);
}

void AppState::undoLastOperation()
{
    if (!m_lastUndoRecord)
        return;
    if (isCopyingFiles()) {
        showToast(L10n::text(QStringLiteral("move.copyBusy"), m_language), true, false);
        return;
    }
    const UndoRecord record = *m_lastUndoRecord;
    setLastUndoRecord(std::nullopt);
    QStringList failures;
    QList<VideoFile> restored;
    UndoRecord toCopy;
    try {
        restored = FileOperationService::undo(record, &failures, {}, &toCopy);
    } catch (const FileOperationError &error) {
        if (toCopy.movedItems.isEmpty() && toCopy.trashedItems.isEmpty()) {
            showToast(error.localizedDescription(), true, false);
            return;
        }
        failures = error.lines();
    }
    if (toCopy.movedItems.isEmpty() && toCopy.trashedItems.isEmpty()) {
        finishUndo(record, restored, failures);
        return;
    }
    // Putting files back across file systems copies them, as the move did.
    runFileCopy([this, record, restored, failures, toCopy](const FileOperationService::CopyControl &control) {
        QStringList copyFailures;
        QList<VideoFile> copied;
        try {
            copied = FileOperationService::undo(toCopy, &copyFailures, control);
        } catch (const FileOperationError &error) {
            copyFailures = error.lines();
        }
        return std::function<void()>([this, record, all = restored + copied, lines = failures + copyFailures] {
            finishUndo(record, all, lines);
        });
    });
}

void AppState::finishUndo(const UndoRecord &record, const QList<VideoFile> &restored, const QStringList &failures)
{
    if (restored.isEmpty() && !failures.isEmpty()) {
        showToast(FileOperationError::partialFailure(failures).localizedDescription(), true, false);
        return;
    }
    LibraryChange change;
    if (record.kind == UndoRecord::Kind::moved) {
        // Only the videos that really left their new place go; a failed item stays put.
        for (const MovedItemRecord &r : record.movedItems)
            if (struct stat st {}; ::lstat(FileNames::encode(r.newVideo.id).constData(), &st) != 0)
                change.removed.insert(r.newVideo.id);
    }
    for (const VideoFile &v : std::as_const(restored))
        if (isInsideActiveScope(v.directoryPath))
            change.appended.append(v);
    setAllVideos(change.applied(m_allVideos));
    commitLibraryChange(change);
    rebuildTree(false);
    if (!restored.isEmpty()) {
        const auto first = std::find_if(restored.cbegin(), restored.cend(),
                                        [&](const VideoFile &v) { return isInsideActiveScope(v.directoryPath); });
        if (first != restored.cend())
            selectVideo(*first);
    }
    showToastThenFollowUp(L10n::text(QStringLiteral("toast.undo"), m_language) + QStringLiteral(" (") +
                              QString::number(restored.size()) + QStringLiteral(")"),
                          false, failures);
}
