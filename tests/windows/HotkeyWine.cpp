// The RegisterHotKey backend under Wine: a combination is registered for the backend's message-only window on
// its own thread, a second registration of it is refused as taken, it is free again once the first is gone, and
// a press sent with SendInput reaches the callback once, on the backend's thread.
#include "WineCheck.h"
#include "platform/hotkey/win32/Win32Hotkey.h"

#include <windows.h>

#include <atomic>
#include <string>

using tavlo::platform::HotkeyChord;
using tavlo::platform::HotkeyError;
using tavlo::platform::Win32Hotkey;
using wine_check::report;

namespace {

HotkeyChord ctrlAltF9() {
    HotkeyChord chord;
    chord.modifiers = HotkeyChord::Control | HotkeyChord::Alt;
    chord.named = static_cast<HotkeyChord::Named>(static_cast<int>(HotkeyChord::Named::F1) + 8);
    return chord;
}

INPUT key(WORD vk, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    return input;
}

void pressCtrlAltF9() {
    INPUT inputs[] = {key(VK_CONTROL, true), key(VK_MENU, true),  key(VK_F9, true),
                      key(VK_F9, false),     key(VK_MENU, false), key(VK_CONTROL, false)};
    SendInput(static_cast<UINT>(sizeof inputs / sizeof inputs[0]), inputs, sizeof(INPUT));
}

// Waits up to about timeoutMs for the count to reach at least `wanted`.
bool waitFor(const std::atomic<int>& count, int wanted, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs && count.load() < wanted; waited += 10)
        Sleep(10);
    return count.load() >= wanted;
}

} // namespace

int main() {
    std::atomic<int> presses{0};
    std::atomic<DWORD> pressThread{0};
    {
        std::string failure;
        try {
            Win32Hotkey hotkey(ctrlAltF9(), [&] {
                pressThread = GetCurrentThreadId();
                ++presses;
            });
            report(hotkey.virtualKey() == VK_F9 && hotkey.modifierFlags() == (MOD_CONTROL | MOD_ALT),
                   "Ctrl+Alt+F9 is registered as VK_F9 with MOD_CONTROL and MOD_ALT");
            try {
                Win32Hotkey second(ctrlAltF9(), [] {});
                report(false, "a second registration of the combination is refused", "it was accepted");
            } catch (const HotkeyError& e) {
                report(e.kind() == HotkeyError::Kind::Taken, "a second registration of the combination is refused",
                       e.what());
            }

            pressCtrlAltF9();
            const bool arrived = waitFor(presses, 1, 5000);
            report(arrived, "a press sent with SendInput reaches the callback",
                   arrived ? std::string() : "no WM_HOTKEY within 5 s");
            report(!arrived || pressThread.load() != GetCurrentThreadId(),
                   "the callback runs on the backend's thread, not on the caller's");
            Sleep(200);
            report(presses.load() <= 1, "one press, one call", std::to_string(presses.load()) + " calls");
            report(!hotkey.keysHeld(), "no key is held once the press is over");
        } catch (const HotkeyError& e) {
            failure = e.what();
        }
        report(failure.empty(), "the backend starts", failure);
    }
    // Gone with its object, the combination is free for the next one.
    try {
        Win32Hotkey again(ctrlAltF9(), [] {});
        report(true, "the combination is free again after the first registration ended");
    } catch (const HotkeyError& e) {
        report(false, "the combination is free again after the first registration ended", e.what());
    }
    // A character that no key of the layout types.
    HotkeyChord snowman;
    snowman.modifiers = HotkeyChord::Control;
    snowman.character = 0x2603;
    try {
        Win32Hotkey none(snowman, [] {});
        report(false, "a character without a key is refused", "it was registered");
    } catch (const HotkeyError& e) {
        report(e.kind() == HotkeyError::Kind::UnknownKey, "a character without a key is refused", e.what());
    }
    return wine_check::failures() == 0 ? 0 : 1;
}
