#include "AtomicFileSave.h"

#include <QSaveFile>

#include <cerrno>
#include <unistd.h>

namespace AtomicFileSave {

bool save(const QString &path, const std::function<bool(const Sink &)> &produce)
{
    QSaveFile file(path);
    // Unbuffered: each write reaches the file (or fails) before the next, so nothing is
    // left for a flush at commit whose failure QSaveFile would not notice.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const Sink sink = [&](const char *data, qint64 size) { return size == 0 || file.write(data, size) == size; };
    bool written = produce(sink) && file.flush() && file.error() == QFileDevice::NoError;
    // A file system may hold back its failure until the data goes to the device.
    if (written && ::fsync(file.handle()) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP)
        written = false;
    if (!written) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool save(const QString &path, const QByteArray &content)
{
    return save(path, [&](const Sink &sink) { return sink(content.constData(), content.size()); });
}

} // namespace AtomicFileSave
