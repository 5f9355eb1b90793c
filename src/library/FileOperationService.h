#pragma once

#include "Models.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <exception>
#include <functional>

struct MovedItemRecord {
    VideoFile originalVideo; // as it was before the move
    VideoFile newVideo;      // at its new place
    bool operator==(const MovedItemRecord &other) const = default;
};

struct TrashedItemRecord {
    VideoFile originalVideo; // as it was before it went to the Trash
    QUrl trashedURL;         // where the file lies in the Trash (…/Trash/files/<name>)
    bool operator==(const TrashedItemRecord &other) const = default;
};

// The last undoable operation: a move or a trash. Permanent deletion makes none.
struct UndoRecord {
    enum class Kind { moved, trashed };
    Kind kind = Kind::moved;
    QList<MovedItemRecord> movedItems;     // kind == moved
    QList<TrashedItemRecord> trashedItems; // kind == trashed

    static UndoRecord moved(QList<MovedItemRecord> items) { return {Kind::moved, std::move(items), {}}; }
    static UndoRecord trashed(QList<TrashedItemRecord> items) { return {Kind::trashed, {}, std::move(items)}; }
    bool operator==(const UndoRecord &other) const = default;
};

// Thrown by the file operations.
class FileOperationError : public std::exception
{
public:
    enum class Kind { partialFailure, destinationNotDirectory };

    // One line per failed file: "<file name>: <system message>".
    static FileOperationError partialFailure(QStringList lines);
    static FileOperationError destinationNotDirectory();

    Kind kind() const { return m_kind; }
    // Every failure line of the call (partialFailure only).
    const QStringList &lines() const { return m_lines; }
    // partialFailure: the first 3 lines joined by "\n". destinationNotDirectory: a fixed
    // text, the same in every interface language.
    QString localizedDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    FileOperationError(Kind kind, QStringList lines);
    Kind m_kind;
    QStringList m_lines;
    QByteArray m_what;
};

// Moving, trashing, deleting and undoing videos on disk. Every operation runs synchronously,
// keeps no state and never stops at the first failed file. A call throws
// FileOperationError::partialFailure only when no item succeeded; when some succeeded it
// returns those, and `failures` (when given) receives the failure lines of the others.
namespace FileOperationService {

// How a move or an undo copies the files a rename cannot take (another file system or
// mount). Both functions are called on the copying thread.
struct CopyControl {
    // After each step of a copy: the bytes done so far of all the call's files, and their total.
    std::function<void(qint64 done, qint64 total)> progress;
    // Asked between steps: a copy stopped removes its temporary, and nothing more is moved.
    std::function<bool()> cancelled;
};

// Moves into `destination` under unique names; a file is never overwritten, also when one
// appears at the chosen name while the move runs. Videos already in the destination are
// passed over. Across file systems the file is copied to a temporary name (noted in the
// file-operation journal), renamed into place when complete (modification time kept) and
// the source removed afterwards; with `leftForCopy` such files are not copied but listed
// there, for a second call on a worker. Throws destinationNotDirectory, before touching any
// file, when the destination is missing or not a folder.
QList<MovedItemRecord> move(const QList<VideoFile> &videos, const QUrl &destination,
                            QStringList *failures = nullptr, const CopyControl &copy = {},
                            QList<VideoFile> *leftForCopy = nullptr);

// Moves to the freedesktop Trash of the user.
QList<TrashedItemRecord> trash(const QList<VideoFile> &videos, QStringList *failures = nullptr);

// Removes the files for good; returns the videos whose files were removed.
QList<VideoFile> deletePermanently(const QList<VideoFile> &videos, QStringList *failures = nullptr);

// Puts the files back under unique names next to where they were; a restored trash item
// also loses its .trashinfo entry. Returns the restored videos in record order. Across file
// systems it copies as `move` does; `leftForCopy` receives the items left for a second call.
QList<VideoFile> undo(const UndoRecord &record, QStringList *failures = nullptr, const CopyControl &copy = {},
                      UndoRecord *leftForCopy = nullptr);

// The URL in `folder` that a file called `fileName` may take: the name itself when free,
// else "<base> (n).<ext>" for the first free n from 2 ("Clip (2).mov", "a.b (2).mp4", "Notes (2)").
QUrl uniqueDestination(const QString &fileName, const QUrl &folder);

// The video `old` at `newURL`: size and dates kept, everything else from the new place.
VideoFile videoAt(const VideoFile &old, const QUrl &newURL);

// For tests: stands in for the rename into a Trash folder (the hook returns an errno to
// inject, or -1 to rename for real) and for the mount table (a file in the format of
// /proc/self/mountinfo). Each resets with an empty argument.
void setTrashRenameHookForTesting(std::function<int(const QByteArray &from, const QByteArray &to)> hook);
void setMountTableForTesting(const QString &mountInfoFile);

} // namespace FileOperationService
