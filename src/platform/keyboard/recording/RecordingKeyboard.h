#pragma once

#include "platform/KeyboardDevice.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tavlo::platform {

// A keyboard that types nothing: it records every press, release and pause with the time it happened,
// and the character hints. Tests make chosen key codes fail and wait for the events they expect.
class RecordingKeyboard : public KeyboardDevice {
public:
    enum class Kind { Press, Release, Pause, Begin, End };
    struct Event {
        Kind kind;
        int value; // key code, pause in ms, or the hinted character
        std::chrono::steady_clock::time_point at;
    };

    // With `sleep` false, pauses are recorded but take no time.
    explicit RecordingKeyboard(bool sleep = true) : m_sleep(sleep) {}

    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    bool isCapsLockOn() override;
    void beginCharacter(char32_t character, std::span<const int> sequence) override;
    void endCharacter() override;

    void setCapsLock(bool on);
    // Presses (or releases) of this code fail with KeyboardError.
    void failPress(int keyCode);
    void failRelease(int keyCode);
    // The desktop goes away at the next press of this code: that press and every later call fail with
    // KeyboardLost.
    void loseDesktopAtPress(int keyCode);

    std::vector<Event> events() const;
    // The presses, releases and pauses only, written "P65 R65 D20 ...".
    std::string keyTrace() const;
    // Waits until the predicate holds for the recorded events; false after the time-out.
    bool waitFor(const std::function<bool(const std::vector<Event>&)>& predicate, std::chrono::milliseconds timeout);
    void clear();

private:
    void record(Kind kind, int value);
    void throwIfLost() const; // with m_mutex held

    const bool m_sleep;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
    std::set<int> m_failPress;
    std::set<int> m_failRelease;
    bool m_capsLock = false;
    int m_loseAtPress = -1;
    std::string m_lost;
};

} // namespace tavlo::platform
