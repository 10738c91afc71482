#pragma once

#include <QCoreApplication>
#include <QList>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/Exceptions.h"
#include "worker/Interruption.h"

namespace tavlo::worker {

// get() on a task that was cancelled.
class CancellationException : public base::TavloException {
public:
    using base::TavloException::TavloException;
};

// The program's one facility for work off the GUI thread (the GUI thread is the thread of the
// QCoreApplication, which must exist while tasks run).
//
// Subclass it, override doInBackground() and, where needed, process() and done(), create the task with
// std::make_shared and call execute() on the GUI thread:
//
//   - doInBackground() runs once, on a thread of its own. It may call publish() to hand items to the GUI
//     thread and sleep() (or any other interruptible wait of Interruption) to pause.
//   - process(chunks) runs on the GUI thread with the published items in the order they were published,
//     several at a time when they came faster than the GUI thread took them. Never after done().
//   - done() runs exactly once on the GUI thread, after the body has returned or thrown, also when the task
//     was cancelled (then once the body has left doInBackground), or at once for a task cancelled before its
//     body started. get() tells which of these happened. Waiting for the body means that done() may release
//     what the body uses (close its port) without racing with its last steps.
//   - cancel(true) sets the cancelled flag and interrupts the body's thread: sleep() returns false at once and
//     every Interruption::Hook of that thread runs. cancel(false) only sets the flag; the body polls
//     isCancelled(). Items published before the cancellation still reach process(); later ones are dropped.
//
// The running task keeps itself alive (until its body has returned and its last GUI-thread call has run), so
// the owner may drop its pointer at any time; the object is destroyed on the GUI thread. Whatever process()
// and done() touch (a view, a window) must outlive the task or be detached in done().
template <typename Result, typename Progress = std::monostate>
class BackgroundTask : public std::enable_shared_from_this<BackgroundTask<Result, Progress>> {
public:
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    virtual ~BackgroundTask() {
        if (!m_thread)
            return;
        if (QThread::currentThread() == m_thread) {
            // Only when the GUI thread could not be reached any more: the thread cannot join itself.
            m_thread->deleteLater();
            return;
        }
        m_thread->wait();
        delete m_thread;
    }

    // Starts the body on a new thread. Call once, on the GUI thread, on a task owned by a std::shared_ptr.
    // A task cancelled before it was started never runs its body. Further calls do nothing.
    void execute() {
        {
            std::lock_guard lock(m_mutex);
            if (m_executed)
                return;
            m_executed = true;
            if (m_state == State::Cancelled)
                return;
            m_state = State::Running;
            m_bodyStarted = true;
            m_keepAlive = this->shared_from_this();
        }
        m_thread = QThread::create([this] { runBody(); });
        m_thread->start();
    }

    // Requests cancellation; with mayInterruptIfRunning the body's thread is interrupted as well. Returns
    // false when the task had already ended or been cancelled. done() follows on the GUI thread once the
    // body has left doInBackground.
    bool cancel(bool mayInterruptIfRunning) {
        bool postDone = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_state == State::Finished || m_state == State::Cancelled)
                return false;
            m_state = State::Cancelled;
            m_changed.notify_all();
            // A running body posts done() itself when it has left doInBackground.
            postDone = !m_bodyStarted;
        }
        if (mayInterruptIfRunning)
            m_interruption->interrupt();
        if (postDone)
            postToGui([](BackgroundTask& task) { task.runDone(); });
        return true;
    }

    bool isCancelled() const {
        std::lock_guard lock(m_mutex);
        return m_state == State::Cancelled;
    }

    // True once the body has returned or thrown, or the task was cancelled.
    bool isDone() const {
        std::lock_guard lock(m_mutex);
        return m_state == State::Finished || m_state == State::Cancelled;
    }

    // Waits until the task is done. Returns the body's result or throws what the body threw;
    // CancellationException when the task was cancelled. In done() it never blocks.
    Result get() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state == State::Finished || m_state == State::Cancelled; });
        if (m_state == State::Cancelled)
            throw CancellationException(QStringLiteral("The task was cancelled"));
        if (m_error)
            std::rethrow_exception(m_error);
        if constexpr (!std::is_void_v<Result>)
            return *m_result;
    }

    // Waits up to timeoutMs (negative: without limit) until the body's thread has left the body, which after
    // a cancellation may be later than done(). True when it has, or when the body never started because the
    // task was cancelled first. For shutdown and tests; the GUI thread should not wait in normal operation.
    bool waitForBody(int timeoutMs = -1) {
        std::unique_lock lock(m_mutex);
        auto ended = [this] { return m_bodyEnded || (m_state == State::Cancelled && !m_bodyStarted); };
        if (timeoutMs < 0) {
            m_changed.wait(lock, ended);
            return true;
        }
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
    }

protected:
    BackgroundTask() = default;

    virtual Result doInBackground() = 0;
    virtual void process(const QList<Progress>& chunks) { Q_UNUSED(chunks); }
    virtual void done() {}

    // From the body: hands one item to process() on the GUI thread.
    void publish(Progress item) {
        bool schedule = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_state == State::Cancelled)
                return;
            m_pending.append(std::move(item));
            schedule = !m_deliveryScheduled;
            m_deliveryScheduled = true;
        }
        if (schedule)
            postToGui([](BackgroundTask& task) { task.deliver(); });
    }

    // From the body: how many published items the GUI thread has not finished processing yet.
    qsizetype backlog() const {
        std::lock_guard lock(m_mutex);
        return m_pending.size() + m_delivering;
    }

    // From the body: sleeps up to ms milliseconds; false when cancel(true) (or another interruption of this
    // thread) ended the sleep early or had already happened.
    static bool sleep(int ms) { return Interruption::sleep(ms); }

private:
    enum class State { Pending, Running, Finished, Cancelled };
    using Storage = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;

    void runBody() {
        Interruption::Scope scope(m_interruption);
        std::optional<Storage> result;
        std::exception_ptr error;
        if (!isCancelled()) {
            try {
                if constexpr (std::is_void_v<Result>) {
                    doInBackground();
                    result.emplace();
                } else {
                    result.emplace(doInBackground());
                }
            } catch (...) {
                error = std::current_exception();
            }
        }
        std::shared_ptr<BackgroundTask> self;
        {
            std::lock_guard lock(m_mutex);
            self = std::move(m_keepAlive);
            m_bodyEnded = true;
            if (m_state == State::Running) {
                m_state = State::Finished;
                m_result = std::move(result);
                m_error = error;
            }
            m_changed.notify_all();
        }
        // The last reference of the thread goes to the GUI thread, so that the task is destroyed there.
        postToGui([](BackgroundTask& task) { task.runDone(); }, std::move(self));
    }

    void deliver() {
        QList<Progress> chunks;
        {
            std::lock_guard lock(m_mutex);
            chunks.swap(m_pending);
            m_deliveryScheduled = false;
            m_delivering = chunks.size();
        }
        if (!m_doneCalled && !chunks.isEmpty())
            process(chunks);
        std::lock_guard lock(m_mutex);
        m_delivering = 0;
    }

    void runDone() {
        if (m_doneCalled)
            return;
        m_doneCalled = true;
        done();
    }

    template <typename Fn> void postToGui(Fn fn, std::shared_ptr<BackgroundTask> self = nullptr) {
        if (!self)
            self = this->shared_from_this();
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app, [fn, self = std::move(self)]() { fn(*self); }, Qt::QueuedConnection);
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Pending;
    bool m_executed = false;
    bool m_bodyStarted = false;
    bool m_bodyEnded = false;
    bool m_deliveryScheduled = false;
    bool m_doneCalled = false; // GUI thread only
    std::optional<Storage> m_result;
    std::exception_ptr m_error;
    QList<Progress> m_pending;
    qsizetype m_delivering = 0;
    std::shared_ptr<BackgroundTask> m_keepAlive;
    std::shared_ptr<Interruption> m_interruption = std::make_shared<Interruption>();
    QThread* m_thread = nullptr;
};

} // namespace tavlo::worker
