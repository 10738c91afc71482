#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace tavlo::worker {

// The interrupt flag of one thread. Interrupting sets the flag and wakes every interruptible wait of that
// thread: a sleep through sleep() ends at once, and every registered Hook runs so that other kinds of wait
// (a local event loop, a queue wait) can end themselves.
//
// A thread has an Interruption once something asks for it with current(); a BackgroundTask installs its own
// for the thread that runs its body, so that cancel(true) reaches the waits of that body.
class Interruption {
public:
    Interruption() = default;
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // The state of the calling thread, created on first use. Another thread keeps the returned pointer to
    // interrupt this one later.
    static std::shared_ptr<Interruption> current();

    // Sets the flag, wakes sleeps and runs the hooks. Thread-safe; the flag stays set until cleared.
    void interrupt();
    bool isInterrupted() const;
    void clear();

    // Sleeps up to ms milliseconds on the calling thread. Returns true when the whole time passed, false when
    // the thread was interrupted before or during the sleep; the flag stays set in that case, so later waits
    // end at once as well.
    static bool sleep(int ms);

    // True when the calling thread's flag is set.
    static bool currentIsInterrupted();

    // Runs fn on the interrupting thread when this thread is interrupted while the hook exists, or at once
    // (on the registering thread) when the flag is already set. fn runs under the state's lock: it must only
    // signal (post a quit to an event loop, notify a condition under that condition's own mutex) and must not
    // call back into this Interruption. After the destructor returns, fn is never called again.
    class Hook {
    public:
        explicit Hook(std::function<void()> fn);
        ~Hook();
        Hook(const Hook&) = delete;
        Hook& operator=(const Hook&) = delete;

    private:
        std::shared_ptr<Interruption> m_state;
        std::uint64_t m_id = 0;
    };

    // Makes state the calling thread's Interruption for the lifetime of the scope (used by thread starters).
    class Scope {
    public:
        explicit Scope(std::shared_ptr<Interruption> state);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        std::shared_ptr<Interruption> m_previous;
    };

private:
    bool sleepFor(int ms);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_interrupted = false;
    std::uint64_t m_nextHook = 1;
    std::map<std::uint64_t, std::function<void()>> m_hooks;
};

} // namespace tavlo::worker
