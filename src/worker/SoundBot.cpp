#include "worker/SoundBot.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace tavlo::worker {

namespace {

// The note-off clock: one thread that sleeps until the pending action is due.
class ThreadTimer : public SoundBot::NoteOffTimer {
public:
    ThreadTimer() : m_thread([this] { loop(); }) {}
    ~ThreadTimer() override {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
            m_action.reset();
        }
        m_changed.notify_all();
        m_thread.join();
    }

    void schedule(std::chrono::milliseconds after, std::function<void()> action) override {
        {
            std::lock_guard lock(m_mutex);
            m_due = std::chrono::steady_clock::now() + after;
            m_action = std::move(action);
        }
        m_changed.notify_all();
    }

    void cancel() override {
        std::unique_lock lock(m_mutex);
        m_action.reset();
        m_changed.wait(lock, [&] { return !m_running; });
    }

private:
    void loop() {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            if (!m_action) {
                m_changed.wait(lock);
                continue;
            }
            if (m_changed.wait_until(lock, m_due) != std::cv_status::timeout)
                continue; // rescheduled, cancelled or stopped: look again
            if (!m_action || std::chrono::steady_clock::now() < m_due)
                continue;
            auto action = std::move(*m_action);
            m_action.reset();
            m_running = true;
            lock.unlock();
            action();
            lock.lock();
            m_running = false;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::function<void()>> m_action;
    std::chrono::steady_clock::time_point m_due;
    bool m_running = false;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace

SoundBot::SoundBot(int percussionNumber, std::unique_ptr<platform::MidiSynth> synth)
    : SoundBot(percussionNumber, std::move(synth), std::make_unique<ThreadTimer>()) {}

SoundBot::SoundBot(int percussionNumber, std::unique_ptr<platform::MidiSynth> synth,
                   std::unique_ptr<NoteOffTimer> timer)
    : m_percussionNumber(percussionNumber), m_synth(std::move(synth)), m_timer(std::move(timer)) {
    if (!m_synth)
        throw platform::MidiError("No MIDI synthesiser available");
}

SoundBot::~SoundBot() {
    close();
}

void SoundBot::beep() {
    if (m_closed)
        return;
    m_timer->cancel();
    m_synth->noteOn(kChannel, m_percussionNumber, kVelocity);
    platform::MidiSynth* synth = m_synth.get();
    const int key = m_percussionNumber;
    m_timer->schedule(kTick, [synth, key] { synth->noteOff(kChannel, key, kVelocity); });
}

void SoundBot::close() {
    if (m_closed)
        return;
    m_closed = true;
    m_timer->cancel();
    m_synth->close();
}

} // namespace tavlo::worker
