#include "worker/BackgroundTask.h"

#include "../../fakes/QtTestApp.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>

using tavlo::test::drainEvents;
using tavlo::test::processEventsUntil;
using tavlo::worker::BackgroundTask;
using tavlo::worker::CancellationException;
using tavlo::worker::Interruption;

namespace {

// A task whose body is given by the test; it records where and how often its GUI-thread parts ran.
class ScriptedTask : public BackgroundTask<int, int> {
public:
    explicit ScriptedTask(std::function<int(ScriptedTask&)> body, std::atomic<int>* destroyedOnGui = nullptr)
        : m_body(std::move(body)), m_destroyedOnGui(destroyedOnGui) {}
    ~ScriptedTask() override {
        if (m_destroyedOnGui)
            *m_destroyedOnGui = QThread::currentThread() == QCoreApplication::instance()->thread() ? 1 : 2;
    }

    using BackgroundTask::publish;
    using BackgroundTask::sleep;

    std::atomic<QThread*> bodyThread{nullptr};
    QList<int> processed;
    int processCalls = 0;
    int doneCalls = 0;
    bool processOffGui = false;
    bool doneOffGui = false;
    bool processAfterDone = false;

protected:
    int doInBackground() override {
        bodyThread = QThread::currentThread();
        return m_body(*this);
    }
    void process(const QList<int>& chunks) override {
        ++processCalls;
        processOffGui |= QThread::currentThread() != QCoreApplication::instance()->thread();
        processAfterDone |= doneCalls > 0;
        processed += chunks;
    }
    void done() override {
        ++doneCalls;
        doneOffGui |= QThread::currentThread() != QCoreApplication::instance()->thread();
    }

private:
    std::function<int(ScriptedTask&)> m_body;
    std::atomic<int>* m_destroyedOnGui;
};

TEST(BackgroundTaskTest, RunsBodyOffTheGuiThreadAndDeliversEveryItemInOrderBeforeDone) {
    auto task = std::make_shared<ScriptedTask>([](ScriptedTask& t) {
        for (int i = 0; i < 2000; ++i)
            t.publish(i);
        return 42;
    });
    task->execute();
    ASSERT_TRUE(processEventsUntil([&] { return task->doneCalls > 0; }));
    drainEvents();

    EXPECT_NE(task->bodyThread.load(), QCoreApplication::instance()->thread());
    ASSERT_EQ(task->processed.size(), 2000);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(task->processed[i], i);
    EXPECT_FALSE(task->processOffGui);
    EXPECT_FALSE(task->doneOffGui);
    EXPECT_FALSE(task->processAfterDone);
    EXPECT_EQ(task->doneCalls, 1);
    EXPECT_EQ(task->get(), 42);
    EXPECT_TRUE(task->isDone());
    EXPECT_FALSE(task->isCancelled());
    EXPECT_FALSE(task->cancel(true)) << "a finished task cannot be cancelled";
    drainEvents();
    EXPECT_EQ(task->doneCalls, 1);
}

TEST(BackgroundTaskTest, GetRethrowsWhatTheBodyThrew) {
    auto task = std::make_shared<ScriptedTask>(
        [](ScriptedTask&) -> int { throw tavlo::base::NumberFormatException(QStringLiteral("not a number: x")); });
    task->execute();
    ASSERT_TRUE(processEventsUntil([&] { return task->doneCalls > 0; }));
    try {
        task->get();
        FAIL() << "get() returned";
    } catch (const tavlo::base::NumberFormatException& e) {
        EXPECT_EQ(e.message(), QStringLiteral("not a number: x"));
    }
    EXPECT_TRUE(task->isDone());
    EXPECT_FALSE(task->isCancelled());
}

TEST(BackgroundTaskTest, CancelWithInterruptionEndsASleepAtOnceAndRunsDoneOnce) {
    std::atomic<bool> sleepCompleted{true};
    std::atomic<bool> laterSleepCompleted{true};
    auto task = std::make_shared<ScriptedTask>([&](ScriptedTask& t) {
        t.publish(1);
        sleepCompleted = ScriptedTask::sleep(60000);
        // The flag stays set: a second wait does not block either.
        laterSleepCompleted = ScriptedTask::sleep(60000);
        t.publish(2);
        return 7;
    });
    task->execute();
    ASSERT_TRUE(processEventsUntil([&] { return task->processed.size() == 1; }));

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(task->cancel(true));
    EXPECT_FALSE(task->cancel(true));
    EXPECT_TRUE(task->isCancelled());
    EXPECT_TRUE(task->isDone());
    ASSERT_TRUE(task->waitForBody(20000));
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_FALSE(sleepCompleted);
    EXPECT_FALSE(laterSleepCompleted);

    ASSERT_TRUE(processEventsUntil([&] { return task->doneCalls > 0; }));
    drainEvents();
    EXPECT_EQ(task->doneCalls, 1);
    EXPECT_EQ(task->processed, QList<int>{1}) << "an item published after the cancellation was delivered";
    EXPECT_THROW(task->get(), CancellationException);
}

TEST(BackgroundTaskTest, CancelWithoutInterruptionLetsSleepsRunAndTheBodyPollsTheFlag) {
    std::atomic<bool> sleptFully{false};
    std::atomic<int> rounds{0};
    auto task = std::make_shared<ScriptedTask>([&](ScriptedTask& t) {
        while (!t.isCancelled()) {
            ++rounds;
            ScriptedTask::sleep(5);
        }
        sleptFully = ScriptedTask::sleep(30);
        return 0;
    });
    task->execute();
    ASSERT_TRUE(processEventsUntil([&] { return rounds > 2; }));
    task->cancel(false);
    ASSERT_TRUE(task->waitForBody(20000));
    EXPECT_TRUE(sleptFully);
    ASSERT_TRUE(processEventsUntil([&] { return task->doneCalls > 0; }));
}

TEST(BackgroundTaskTest, ATaskCancelledBeforeItStartsNeverRunsItsBody) {
    std::atomic<bool> ran{false};
    auto task = std::make_shared<ScriptedTask>([&](ScriptedTask&) {
        ran = true;
        return 1;
    });
    EXPECT_TRUE(task->cancel(true));
    task->execute();
    EXPECT_TRUE(task->waitForBody(0));
    ASSERT_TRUE(processEventsUntil([&] { return task->doneCalls > 0; }));
    drainEvents();
    EXPECT_FALSE(ran);
    EXPECT_EQ(task->doneCalls, 1);
    EXPECT_THROW(task->get(), CancellationException);
}

TEST(BackgroundTaskTest, CancellationRunsTheHooksOfTheBodysThreadSoAnEventLoopWaitEnds) {
    std::atomic<bool> loopEntered{false};
    std::atomic<bool> timerFired{false};
    auto task = std::make_shared<ScriptedTask>([&](ScriptedTask&) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            timerFired = true;
            loop.quit();
        });
        timer.start(60000);
        Interruption::Hook hook([&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
        loopEntered = true;
        loop.exec();
        return 0;
    });
    task->execute();
    ASSERT_TRUE(processEventsUntil([&] { return loopEntered.load(); }));
    task->cancel(true);
    ASSERT_TRUE(task->waitForBody(20000));
    EXPECT_FALSE(timerFired);
    ASSERT_TRUE(processEventsUntil([&] { return task->doneCalls > 0; }));
}

TEST(BackgroundTaskTest, AHookRegisteredAfterTheInterruptionRunsAtOnce) {
    auto state = std::make_shared<Interruption>();
    Interruption::Scope scope(state);
    state->interrupt();
    bool ran = false;
    Interruption::Hook hook([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(Interruption::sleep(60000));
    state->clear();
    EXPECT_TRUE(Interruption::sleep(1));
}

TEST(BackgroundTaskTest, ADroppedTaskFinishesAndIsDestroyedOnTheGuiThread) {
    std::atomic<int> destroyed{0};
    std::atomic<bool> release{false};
    {
        auto task = std::make_shared<ScriptedTask>(
            [&](ScriptedTask&) {
                while (!release)
                    ScriptedTask::sleep(1);
                return 0;
            },
            &destroyed);
        task->execute();
    }
    EXPECT_EQ(destroyed, 0) << "the running task was destroyed";
    release = true;
    ASSERT_TRUE(processEventsUntil([&] { return destroyed != 0; }));
    EXPECT_EQ(destroyed, 1) << "destroyed off the GUI thread";
}

class VoidTask : public BackgroundTask<void> {
public:
    std::atomic<int> runs{0};
    bool doneSeen = false;

protected:
    void doInBackground() override { ++runs; }
    void done() override {
        get();
        doneSeen = true;
    }
};

TEST(BackgroundTaskTest, AVoidTaskRunsOnceAndGetReturns) {
    auto task = std::make_shared<VoidTask>();
    task->execute();
    task->execute();
    ASSERT_TRUE(processEventsUntil([&] { return task->doneSeen; }));
    EXPECT_EQ(task->runs, 1);
    EXPECT_NO_THROW(task->get());
}

} // namespace
