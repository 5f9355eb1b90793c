#pragma once

// Putting a finished file in the place of an original without ever losing either: the new
// file is in place before the original goes to the Trash; a target with the original's own
// name is reached through a hidden backup that is renamed back on any failure; once the
// original has left its place the finished file is never deleted; every message says where
// each file is. The trim export and the batch compressor share these rules.

#include <QString>

#include <functional>
#include <memory>

namespace SafeReplace {

// What tells one file from another at the same path: a rename over it, a rewrite or a
// removal changes at least one of these.
struct FileIdentity {
    bool exists = false;
    quint64 device = 0, inode = 0;
    qint64 size = 0, modifiedNs = 0;
    bool operator==(const FileIdentity &other) const = default;
};
FileIdentity identityOf(const QString &path);

// The file-system steps, replaceable so that tests can make any one of them fail.
class FileSteps {
public:
    virtual ~FileSteps() = default;
    // Renames without replacing an existing file; false with a reason on failure.
    virtual bool rename(const QString &from, const QString &to, QString *error);
    virtual bool trash(const QString &path, QString *error);
    // Like `trash`, but the Trash's record names `recordedPath` as the place the file came
    // from, so that restoring it puts it there and not in a hidden folder.
    bool trashRecording(const QString &path, const QString &recordedPath, QString *error);

protected:
    // Where the last successful `trash` put the file; empty when unknown.
    QString m_lastTrashed;

public:
    virtual bool makeFolder(const QString &path, QString *error);
    virtual void removeFile(const QString &path);
    virtual void removeFolder(const QString &path);
};
std::shared_ptr<FileSteps> realFileSteps();

struct Outcome {
    bool ok = false;
    bool replaced = false;   // on success: the new file took the original's place
    bool originalKept = false; // on success: the original is still on disk (see remark)
    QString outputPath;      // where the new file is (on success)
    bool keepFinished = false; // the finished file must not be removed: it may be the only copy
    QString message;         // on failure: what happened and where each file is
    QString remark;          // on success: something the user should still know
};

// Moves `finished` to `target` (a free name, or the original's own path) and the original
// at `original` to the Trash. `settingAside` hears of the hidden folder before the original
// moves into it, so that a run ended midway can be tidied later.
Outcome replaceOriginal(const QString &finished, const QString &original, const QString &target, FileSteps &steps,
                        const std::function<void(const QString &backupFolder)> &settingAside = {});

// Moves `finished` to `target`, which must be free.
Outcome placeNew(const QString &finished, const QString &target, FileSteps &steps);

// `replaceOriginal`, but only while the file at `original` is still `probed` (the one the
// result was made from). Otherwise someone saved, moved or removed it meanwhile: it is left
// as it is and the result goes to `newName()` instead, with a remark saying so.
Outcome replaceIfUnchanged(const QString &finished, const QString &original, const QString &target,
                           const FileIdentity &probed, const std::function<QString()> &newName, FileSteps &steps,
                           const std::function<void(const QString &backupFolder)> &settingAside = {});

} // namespace SafeReplace
