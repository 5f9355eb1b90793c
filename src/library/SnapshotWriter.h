#pragma once

// The one writer of a file that holds a snapshot of some state. Snapshots are written off
// the calling thread, one at a time, in the order submitted; one still waiting when a newer
// one arrives is dropped, so the newest always reaches the disk last.

#include <QMutex>
#include <QThreadPool>
#include <QWaitCondition>

#include <functional>
#include <optional>

template <typename Snapshot> class SnapshotWriter
{
public:
    using Write = std::function<bool(const Snapshot &)>;
    explicit SnapshotWriter(Write write) : m_write(std::move(write)) {}
    ~SnapshotWriter() { waitForIdle(); }

    void submit(Snapshot snapshot)
    {
        QMutexLocker lock(&m_mutex);
        m_pending = std::move(snapshot);
        if (m_running) return;
        m_running = true;
        QThreadPool::globalInstance()->start([this] { drain(); });
    }

    // Blocks until nothing is queued or being written.
    void waitForIdle()
    {
        QMutexLocker lock(&m_mutex);
        while (m_running) m_idle.wait(&m_mutex);
    }

    int writesDone() const
    {
        QMutexLocker lock(&m_mutex);
        return m_writesDone;
    }

private:
    void drain()
    {
        for (;;) {
            Snapshot snapshot;
            {
                QMutexLocker lock(&m_mutex);
                if (!m_pending) {
                    m_running = false;
                    m_idle.wakeAll();
                    return;
                }
                snapshot = std::move(*m_pending);
                m_pending.reset();
            }
            // A failed write is silent: the state in memory stays as it is.
            m_write(snapshot);
            QMutexLocker lock(&m_mutex);
            ++m_writesDone;
        }
    }

    const Write m_write;
    mutable QMutex m_mutex;
    QWaitCondition m_idle;
    std::optional<Snapshot> m_pending;
    bool m_running = false;
    int m_writesDone = 0;
};
