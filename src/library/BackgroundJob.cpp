#include "BackgroundJob.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct BackgroundJob::Control {
    std::mutex mutex;
    std::condition_variable workReturned;
    BackgroundJob *receiver = nullptr; // null once the job is gone
    std::stop_source stop;
    std::atomic_bool cancelled{false};
    bool returned = false;
    AfterCancel afterCancel = AfterCancel::deliver;

    bool silenced() const { return afterCancel == AfterCancel::drop && cancelled; }

    // Queued under the lock the destructor takes, so a call never targets a deleted job.
    void post(const std::function<void(BackgroundJob *)> &call)
    {
        std::lock_guard lock(mutex);
        if (!receiver || silenced()) return;
        BackgroundJob *r = receiver;
        QMetaObject::invokeMethod(r, [r, call] { call(r); }, Qt::QueuedConnection);
    }
};

BackgroundJob::BackgroundJob(AfterCancel afterCancel, QObject *parent)
    : QObject(parent), m_control(std::make_shared<Control>())
{
    m_control->receiver = this;
    m_control->afterCancel = afterCancel;
}

BackgroundJob::~BackgroundJob()
{
    m_control->cancelled = true;
    m_control->stop.request_stop();
    std::lock_guard lock(m_control->mutex);
    m_control->receiver = nullptr;
}

void BackgroundJob::cancel()
{
    m_control->cancelled = true;
    m_control->stop.request_stop();
}

bool BackgroundJob::isCancelled() const { return m_control->cancelled; }

bool BackgroundJob::waitForFinished(int timeoutMs) const
{
    std::unique_lock lock(m_control->mutex);
    auto returned = [&] { return m_control->returned; };
    if (timeoutMs < 0) {
        m_control->workReturned.wait(lock, returned);
        return true;
    }
    return m_control->workReturned.wait_for(lock, std::chrono::milliseconds(timeoutMs), returned);
}

void BackgroundJob::deliver(const QVariant &event)
{
    // Checked again here: an event queued before a dropping job was cancelled stays unheard.
    if (!m_control->silenced()) emit eventArrived(event);
}

void BackgroundJob::launch(std::function<void(const Post &post, std::stop_token stop)> work)
{
    std::thread([control = m_control, work = std::move(work)] {
        work([&control](QVariant event) {
                 control->post([event = std::move(event)](BackgroundJob *job) { job->deliver(event); });
             },
             control->stop.get_token());
        // `finished` is sent whatever the policy: the consumer's clean-up hangs on it.
        {
            std::lock_guard lock(control->mutex);
            if (control->receiver) {
                BackgroundJob *r = control->receiver;
                QMetaObject::invokeMethod(
                    r,
                    [r] {
                        r->m_finished = true;
                        emit r->finished();
                    },
                    Qt::QueuedConnection);
            }
            control->returned = true;
        }
        control->workReturned.notify_all();
    }).detach();
}
