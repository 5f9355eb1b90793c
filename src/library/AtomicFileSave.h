#pragma once

// The one way a stored file is replaced: the new content goes to a temporary beside the
// file and takes its place only once every byte is known to be on the disk. QSaveFile alone
// is not enough: it buffers a small write, and when the flush inside commit() fails (a full
// disk) it still puts the short file in place and reports success.

#include <QByteArray>
#include <QString>

#include <functional>

namespace AtomicFileSave {

// Takes one piece of the content; false when it could not be written.
using Sink = std::function<bool(const char *data, qint64 size)>;

// Replaces `path` with what `produce` hands to the sink. `produce` returns false to give up.
// On any failure (opening, a write, the sync, the rename) the old file stays as it was, the
// temporary is removed, and the result is false.
bool save(const QString &path, const std::function<bool(const Sink &)> &produce);
bool save(const QString &path, const QByteArray &content);

} // namespace AtomicFileSave
