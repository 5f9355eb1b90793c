#pragma once

#include <QMutex>
#include <QString>
#include <QThreadPool>
#include <QWaitCondition>

#include <functional>
#include <optional>

// The one writer of a file that holds snapshots of some state. Snapshots are written off
// the calling thread, one at a time, in the order submitted; a snapshot still waiting when
// a newer one arrives is dropped, so the newest always reaches the disk last. The save
// function replaces the file atomically; its failures are silent (the state in memory
// stays as it is and the next snapshot rewrites the whole file).
template <typename Snapshot> class SnapshotWriter
{
public:
    using SaveFunction = std::function<void(const Snapshot &, const QString &path)>;

    SnapshotWriter(QString path, SaveFunction save) : m_path(std::move(path)), m_save(std::move(save)) {}
    ~SnapshotWriter() { waitForIdle(); }
    SnapshotWriter(const SnapshotWriter &) = delete;
    SnapshotWriter &operator=(const SnapshotWriter &) = delete;

    void submit(Snapshot snapshot)
    {
        QMutexLocker lock(&m_mutex);
        m_pending = std::move(snapshot);
        if (m_running)
            return;
        m_running = true;
        QThreadPool::globalInstance()->start([this] { drain(); });
    }

    // Blocks until nothing is queued or being written.
    void waitForIdle()
    {
        QMutexLocker lock(&m_mutex);
        while (m_running)
            m_idle.wait(&m_mutex);
    }

    // Completed file writes (for tests of the coalescing).
    int writesDone() const
    {
        QMutexLocker lock(&m_mutex);
        return m_writesDone;
    }
    QString path() const { return m_path; }

private:
    void drain()
    {
        for (;;) {
            std::optional<Snapshot> snapshot;
            {
                QMutexLocker lock(&m_mutex);
                if (!m_pending) {
                    m_running = false;
                    m_idle.wakeAll();
                    return;
                }
                snapshot.swap(m_pending);
            }
            m_save(*snapshot, m_path);
            snapshot.reset(); // the snapshot's last reference may go here, off the caller's thread
            QMutexLocker lock(&m_mutex);
            ++m_writesDone;
        }
    }

    const QString m_path;
    const SaveFunction m_save;
    mutable QMutex m_mutex;
    QWaitCondition m_idle;
    std::optional<Snapshot> m_pending;
    bool m_running = false;
    int m_writesDone = 0;
};
