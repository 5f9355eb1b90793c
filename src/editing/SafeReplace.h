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

// The file-system steps, replaceable so that tests can make any one of them fail.
class FileSteps {
public:
    virtual ~FileSteps() = default;
    // Renames without replacing an existing file; false with a reason on failure.
    virtual bool rename(const QString &from, const QString &to, QString *error);
    virtual bool trash(const QString &path, QString *error);
    virtual bool makeFolder(const QString &path, QString *error);
    virtual void removeFile(const QString &path);
    virtual void removeFolder(const QString &path);
};
std::shared_ptr<FileSteps> realFileSteps();

struct Outcome {
    bool ok = false;
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

} // namespace SafeReplace
