#include "platform/keyboard/recording/RecordingKeyboard.h"

#include <thread>

namespace tavlo::platform {

void RecordingKeyboard::record(Kind kind, int value) {
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back({kind, value, std::chrono::steady_clock::now()});
    }
    m_changed.notify_all();
}

void RecordingKeyboard::throwIfLost() const {
    if (!m_lost.empty())
        throw KeyboardLost(m_lost);
}

void RecordingKeyboard::keyPress(int keyCode) {
    {
        std::lock_guard lock(m_mutex);
        if (keyCode == m_loseAtPress)
            m_lost = "The test desktop went away";
        throwIfLost();
        if (m_failPress.count(keyCode))
            throw KeyboardError("Invalid key code");
    }
    record(Kind::Press, keyCode);
}

void RecordingKeyboard::keyRelease(int keyCode) {
    {
        std::lock_guard lock(m_mutex);
        throwIfLost();
        if (m_failRelease.count(keyCode))
            throw KeyboardError("Invalid key code");
    }
    record(Kind::Release, keyCode);
}

void RecordingKeyboard::delay(int milliseconds) {
    {
        std::lock_guard lock(m_mutex);
        throwIfLost();
    }
    if (m_sleep && milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    record(Kind::Pause, milliseconds);
}

bool RecordingKeyboard::isCapsLockOn() {
    std::lock_guard lock(m_mutex);
    return m_capsLock;
}

void RecordingKeyboard::beginCharacter(char32_t character, std::span<const int>) {
    {
        std::lock_guard lock(m_mutex);
        throwIfLost();
    }
    record(Kind::Begin, static_cast<int>(character));
}

void RecordingKeyboard::endCharacter() {
    {
        std::lock_guard lock(m_mutex);
        throwIfLost();
    }
    record(Kind::End, 0);
}

void RecordingKeyboard::setCapsLock(bool on) {
    std::lock_guard lock(m_mutex);
    m_capsLock = on;
}

void RecordingKeyboard::failPress(int keyCode) {
    std::lock_guard lock(m_mutex);
    m_failPress.insert(keyCode);
}

void RecordingKeyboard::failRelease(int keyCode) {
    std::lock_guard lock(m_mutex);
    m_failRelease.insert(keyCode);
}

void RecordingKeyboard::loseDesktopAtPress(int keyCode) {
    std::lock_guard lock(m_mutex);
    m_loseAtPress = keyCode;
}

std::vector<RecordingKeyboard::Event> RecordingKeyboard::events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::string RecordingKeyboard::keyTrace() const {
    std::string out;
    for (const Event& e : events()) {
        char kind = 0;
        switch (e.kind) {
        case Kind::Press:
            kind = 'P';
            break;
        case Kind::Release:
            kind = 'R';
            break;
        case Kind::Pause:
            kind = 'D';
            break;
        default:
            continue;
        }
        if (!out.empty())
            out += ' ';
        out += kind;
        out += std::to_string(e.value);
    }
    return out;
}

bool RecordingKeyboard::waitFor(const std::function<bool(const std::vector<Event>&)>& predicate,
                                std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return predicate(m_events); });
}

void RecordingKeyboard::clear() {
    std::lock_guard lock(m_mutex);
    m_events.clear();
}

} // namespace tavlo::platform
