#include "RecordFile.h"

#include <QFile>
#include <QFileInfo>

namespace RecordFile {

namespace {
constexpr qsizetype kChunk = 1 << 20;
}

Contents read(const QString &path, const std::function<void(const char *begin, const char *end)> &read)
{
    QFile file(path);
    if (!file.exists())
        return Contents::none;
    if (!file.open(QIODevice::ReadOnly))
        return Contents::unreadable;
    const qint64 size = file.size();
    if (size == 0)
        return Contents::none;
    // Mapped, not copied: the reader walks the file's pages once.
    if (uchar *mapped = file.map(0, size)) {
        const char *begin = reinterpret_cast<const char *>(mapped);
        read(begin, begin + size);
        file.unmap(mapped);
        return Contents::read;
    }
    const QByteArray all = file.readAll();
    if (all.size() != size)
        return Contents::unreadable;
    read(all.constData(), all.constData() + all.size());
    return Contents::read;
}

QString moveAside(const QString &path, const QDateTime &when)
{
    const QFileInfo info(path);
    const QString stem = info.absolutePath() + '/' + info.completeBaseName() + ".damaged-" +
                         when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString suffix = info.suffix().isEmpty() ? QString() : '.' + info.suffix();
    for (int n = 0; n < 1000; ++n) {
        const QString target = stem + (n ? QStringLiteral("-%1").arg(n) : QString()) + suffix;
        if (QFileInfo::exists(target))
            continue;
        return QFile::rename(path, target) ? target : QString();
    }
    return QString();
}

bool DamagedFileKeeper::beforeSave(const QString &path)
{
    if (!m_pending) return true;
    const QString moved = moveAside(path, QDateTime::currentDateTime());
    if (moved.isEmpty() && QFileInfo::exists(path)) return false;
    m_pending = false;
    QMutexLocker lock(&m_mutex);
    m_movedAsidePath = moved;
    return true;
}

QString DamagedFileKeeper::movedAsidePath() const
{
    QMutexLocker lock(&m_mutex);
    return m_movedAsidePath;
}

ChunkedWriter::ChunkedWriter(AtomicFileSave::Sink sink) : JsonStream::Writer(chunk), m_sink(std::move(sink))
{
    chunk.reserve(kChunk + 65536);
}

bool ChunkedWriter::flush()
{
    if (m_ok && !chunk.isEmpty())
        m_ok = m_sink(chunk.constData(), chunk.size());
    chunk.resize(0); // keeps the capacity, where clear() would give it back
    return m_ok;
}

bool ChunkedWriter::flushIfFull() { return chunk.size() < kChunk ? m_ok : flush(); }

bool ChunkedWriter::finish() { return flush(); }

QByteArray text(const std::function<bool(ChunkedWriter &)> &write)
{
    QByteArray all;
    ChunkedWriter out([&](const char *data, qint64 size) {
        all.append(data, qsizetype(size));
        return true;
    });
    write(out);
    return all;
}

bool save(const QString &path, const std::function<bool(ChunkedWriter &)> &write)
{
    return AtomicFileSave::save(path, [&](const AtomicFileSave::Sink &sink) {
        ChunkedWriter out(sink);
        return write(out);
    });
}

} // namespace RecordFile
