#include "worker/BackgroundTask.h"

#include "../../fakes/QtTestApp.h"

#include <atomic>
#include <gtest/gtest.h>

using tavlo::test::drainEvents;
using tavlo::test::processEventsUntil;
using tavlo::worker::BackgroundTask;
using tavlo::worker::CancellationException;

namespace {

// A body that goes on working for a while after the cancellation, as a worker finishing its last read does.
class SlowToLeaveTask : public BackgroundTask<int, int> {
public:
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    std::atomic<bool> bodyLeft{false};
    std::atomic<bool> interrupted{false};
    bool bodyHadLeftAtDone = false;
    int doneCalls = 0;
    bool cancelledAtDone = false;

protected:
    int doInBackground() override {
        started = true;
        interrupted = !sleep(60000);
        while (!release)
            std::this_thread::yield();
        bodyLeft = true;
        return 1;
    }
    void done() override {
        ++doneCalls;
        bodyHadLeftAtDone = bodyLeft;
        try {
            get();
        } catch (const CancellationException&) {
            cancelledAtDone = true;
        }
    }
};

TEST(BackgroundTaskDone, DoneAfterACancellationWaitsUntilTheBodyHasLeft) {
    auto task = std::make_shared<SlowToLeaveTask>();
    task->execute();
    ASSERT_TRUE(processEventsUntil([&] { return task->started.load(); }));
    EXPECT_TRUE(task->cancel(true));
    ASSERT_TRUE(processEventsUntil([&] { return task->interrupted.load(); }));
    drainEvents();
    EXPECT_EQ(task->doneCalls, 0) << "done ran while the body was still working";
    task->release = true;
    ASSERT_TRUE(processEventsUntil([&] { return task->doneCalls > 0; }));
    drainEvents();
    EXPECT_EQ(task->doneCalls, 1);
    EXPECT_TRUE(task->bodyHadLeftAtDone);
    EXPECT_TRUE(task->cancelledAtDone) << "a cancelled task reports the cancellation, not its result";
}

} // namespace
