#pragma once

// Long work on a thread of its own, reported to one consumer. Events arrive in the order the
// work sent them, on the thread the job object lives on, and `finished` comes after the last
// one. Cancelling asks the work to stop through its stop token and returns at once. What the
// work still reports afterwards (a result it had already begun to put in place, which the
// library must learn of) still arrives, unless the job was started to report only until it
// is cancelled. Destroying the job cancels it and silences it: the work then runs to its
// next check and nothing reaches the consumer.

#include <QMetaObject>
#include <QObject>
#include <QVariant>

#include <functional>
#include <memory>
#include <stop_token>

class BackgroundJob : public QObject {
    Q_OBJECT
public:
    // Whether events the work sends once the job is cancelled still reach the consumer.
    enum class AfterCancel { deliver, drop };

    ~BackgroundJob() override;

    void cancel();
    bool isCancelled() const;
    // `finished` was emitted: every event has been delivered.
    bool isFinished() const { return m_finished; }
    // Blocks until the work has returned (its last events may still be on their way); false
    // on timeout. For shutdown and tests.
    bool waitForFinished(int timeoutMs = -1) const;

    struct Control;

signals:
    // The typed event, for `Job<Event>::onEvent`.
    void eventArrived(const QVariant &event);
    void finished();

protected:
    BackgroundJob(AfterCancel afterCancel, QObject *parent);
    using Post = std::function<void(QVariant)>;
    // Runs `work` on a new thread; `post` hands one event to the consumer.
    void launch(std::function<void(const Post &post, std::stop_token stop)> work);

private:
    void deliver(const QVariant &event);
    std::shared_ptr<Control> m_control;
    bool m_finished = false;
};

// A job whose events are `Event`s.
template <class Event> class Job final : public BackgroundJob {
public:
    using Sink = std::function<void(const Event &)>;
    using Work = std::function<void(const Sink &sink, std::stop_token stop)>;

    // Starts `work` and returns at once; the job is a child of `parent` (which may be null:
    // the caller then owns it).
    static Job *start(Work work, QObject *parent, AfterCancel afterCancel = AfterCancel::deliver)
    {
        auto *job = new Job(afterCancel, parent);
        job->launch([work = std::move(work)](const Post &post, std::stop_token stop) {
            work([&post](const Event &e) { post(QVariant::fromValue(e)); }, std::move(stop));
        });
        return job;
    }

    // Calls `handler(const Event &)` for every event while `context` lives.
    template <class Handler> QMetaObject::Connection onEvent(const QObject *context, Handler handler)
    {
        return QObject::connect(this, &BackgroundJob::eventArrived, context,
                                [handler = std::move(handler)](const QVariant &event) {
                                    handler(*static_cast<const Event *>(event.constData()));
                                });
    }

private:
    Job(AfterCancel afterCancel, QObject *parent) : BackgroundJob(afterCancel, parent) {}
};
