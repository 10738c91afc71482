#pragma once

#include "platform/GlobalHotkey.h"

#include <atomic>
#include <functional>
#include <future>
#include <thread>

namespace tavlo::platform {

// A key combination registered with RegisterHotKey for a message-only window that a thread of its own
// creates and serves; WM_HOTKEY reaches pressed() on that thread. MOD_NOREPEAT keeps a held key to one press.
class Win32Hotkey : public GlobalHotkey {
public:
    Win32Hotkey(const HotkeyChord& chord, std::function<void()> pressed);
    ~Win32Hotkey() override;
    Win32Hotkey(const Win32Hotkey&) = delete;
    Win32Hotkey& operator=(const Win32Hotkey&) = delete;

    int eventDescriptor() const override { return -1; }
    bool dispatch() override { return true; }
    bool keysHeld() const override;

    // The virtual-key code and MOD_* flags registered (without MOD_NOREPEAT).
    unsigned virtualKey() const { return m_virtualKey; }
    unsigned modifierFlags() const { return m_modifierFlags; }

private:
    // The thread's body: the window, the registration (its error code, 0 when done, goes to result), the loop.
    void serve(std::promise<unsigned long>& result);

    unsigned m_virtualKey = 0;
    unsigned m_modifierFlags = 0;
    std::function<void()> m_pressed;
    std::atomic<unsigned long> m_threadId{0};
    std::thread m_thread;
};

} // namespace tavlo::platform
