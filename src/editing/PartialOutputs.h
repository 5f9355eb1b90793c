#pragma once

// A record of the files an export or a compression has in flight, so that a run ended by a
// crash or a kill can be tidied at the next start: an unfinished encode (".Lumenkite-Trim-…",
// ".Lumenkite-Comp-…") is removed, and an original that was set aside in a
// ".Lumenkite-Backup-…" folder goes back to its place, or to the Trash when the new file
// already took that place. Each running job keeps one small file in the journal folder and
// removes it when it ends. Only names of exactly those forms are ever touched.

#include <QString>
#include <QStringList>

namespace PartialOutputs {

// "<data>/Lumenkite/PartialOutputs".
QString journalFolder();

// The names this system gives its temporary outputs and set-aside folders.
bool isTemporaryOutputName(const QString &fileName);
bool isBackupFolderName(const QString &folderName);

// One job's entry, written before the job makes its temporary file and removed by the
// destructor. A journal that cannot be written only costs the tidying after a crash.
class Entry {
public:
    explicit Entry(const QString &temporaryPath, const QString &folder = journalFolder());
    ~Entry();
    Entry(const Entry &) = delete;
    Entry &operator=(const Entry &) = delete;

    // Noted before the original at `originalPath` moves into `backupFolder`.
    void settingAside(const QString &backupFolder, const QString &originalPath);

private:
    void write();
    QString m_file;
    QString m_temporary, m_backupFolder, m_original;
};

struct Cleanup {
    int removedPartials = 0;    // unfinished outputs removed
    int restoredOriginals = 0;  // originals put back in their place
    int trashedOriginals = 0;   // originals sent to the Trash behind a new file in their place
    QStringList problems;       // what could not be tidied, with where the files are
};

// Tidies after every job whose process is gone. Safe to call at every start; slow only
// when there is something to do (a Trash move), so callers run it off the GUI thread.
Cleanup cleanUp(const QString &folder = journalFolder());

} // namespace PartialOutputs
