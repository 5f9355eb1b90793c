#include "library/BackgroundJob.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <semaphore>

namespace {

struct Step {
    int n = 0;
    QThread *thread = nullptr;
};

using StepJob = Job<Step>;

// Work that sends 1..100, waits for the test to cancel, then sends what a job that had begun
// to put its result in place still sends (-1).
struct GatedWork {
    std::shared_ptr<std::binary_semaphore> cancelled = std::make_shared<std::binary_semaphore>(0);
    std::shared_ptr<std::atomic_bool> sawStop = std::make_shared<std::atomic_bool>(false);
    std::shared_ptr<std::atomic_bool> returned = std::make_shared<std::atomic_bool>(false);

    StepJob::Work work() const
    {
        return [gate = cancelled, sawStop = sawStop, returned = returned](const StepJob::Sink &sink,
                                                                          std::stop_token stop) {
            for (int i = 1; i <= 100; ++i) sink({i, QThread::currentThread()});
            gate->acquire();
            *sawStop = stop.stop_requested();
            sink({-1, QThread::currentThread()});
            *returned = true;
        };
    }
};

} // namespace

TEST(BackgroundJob, EventsArriveInOrderOnTheConsumersThreadThenFinished)
{
    struct Case {
        BackgroundJob::AfterCancel afterCancel;
        bool lateEventArrives;
    };
    for (const Case c : {Case{BackgroundJob::AfterCancel::deliver, true}, Case{BackgroundJob::AfterCancel::drop, false}}) {
        SCOPED_TRACE(c.lateEventArrives ? "deliver" : "drop");
        GatedWork gated;
        std::unique_ptr<StepJob> job(StepJob::start(gated.work(), nullptr, c.afterCancel));
        QObject context;
        QList<int> seen;
        bool onConsumersThread = true, workOffIt = true, finishedAfterEvents = true;
        job->onEvent(&context, [&](const Step &s) {
            seen << s.n;
            onConsumersThread &= QThread::currentThread() == context.thread();
            workOffIt &= s.thread != context.thread();
            finishedAfterEvents &= !job->isFinished();
        });
        bool finishedSignal = false;
        QObject::connect(job.get(), &BackgroundJob::finished, &context, [&] { finishedSignal = true; });

        ASSERT_TRUE(lktest::waitFor([&] { return seen.size() >= 1; }));
        job->cancel();
        const int atCancel = seen.size();
        EXPECT_TRUE(job->isCancelled());
        gated.cancelled->release();
        ASSERT_TRUE(lktest::waitFor([&] { return job->isFinished(); }));
        EXPECT_TRUE(finishedSignal);
        EXPECT_TRUE(job->waitForFinished(0));
        EXPECT_TRUE(*gated.sawStop);
        EXPECT_TRUE(onConsumersThread);
        EXPECT_TRUE(workOffIt);
        EXPECT_TRUE(finishedAfterEvents);

        // Everything sent before the cancel arrives in order under `deliver`; under `drop`
        // nothing does once the consumer has cancelled, not even what was already queued.
        for (int i = 0; i < std::min<int>(seen.size(), 100); ++i) EXPECT_EQ(seen[i], i + 1);
        if (c.lateEventArrives) {
            ASSERT_EQ(seen.size(), 101);
            EXPECT_EQ(seen.last(), -1);
        } else {
            EXPECT_EQ(seen.size(), atCancel);
        }
    }
}

// A consumer that goes away while the work still runs hears nothing more, and the work is
// asked to stop.
TEST(BackgroundJob, DestroyingTheJobStopsAndSilencesIt)
{
    GatedWork gated;
    auto *job = StepJob::start(gated.work(), nullptr);
    QObject context;
    int seen = 0;
    job->onEvent(&context, [&](const Step &) { ++seen; });
    ASSERT_TRUE(lktest::waitFor([&] { return seen >= 1; }));
    delete job;
    const int atDelete = seen;
    gated.cancelled->release();
    // Whatever the work sent after the job was gone would be queued by the time it returns.
    ASSERT_TRUE(lktest::waitFor([&] { return gated.returned->load(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, atDelete);
    EXPECT_TRUE(*gated.sawStop);
}
