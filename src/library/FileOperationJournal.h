#pragma once

// A note of each file-operation step that a kill could leave half done: the hidden copy of
// a move between file systems, and a Trash entry's .trashinfo written before its file
// arrives. The note is made before the step and removed after it; at the next start
// `tidyInterrupted` removes what the notes of ended processes still point at. The notes
// lie beside the exports' journal, under names of their own.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace FileOperationJournal {

// "<data>/Lumenkite/PartialOutputs".
QString folder();

// The hidden name a move gives the copy it makes: ".lumenkite-move-" and six characters.
bool isMoveTemporaryName(const QByteArray &fileName);

// One step's note, kept while the object lives. A note that cannot be written only costs
// the tidying after a kill.
class Note {
public:
    enum class Kind { moveTemporary, trashInfo };
    // `path`: the temporary copy, or the .trashinfo file; the exact bytes.
    Note(Kind kind, const QByteArray &path, const QString &folder = FileOperationJournal::folder());
    ~Note();
    Note(const Note &) = delete;
    Note &operator=(const Note &) = delete;

private:
    QByteArray m_file;
};

struct Tidied {
    int removedTemporaries = 0; // half-made copies of moves
    int removedTrashInfos = 0;  // .trashinfo files whose file never reached the Trash
};

// Tidies after every note whose process is gone; only a regular file of a move's own naming
// and a .trashinfo with no file beside it are ever removed. Cheap when there is nothing.
Tidied tidyInterrupted(const QString &folder = FileOperationJournal::folder());

} // namespace FileOperationJournal
