#include "platform/Desktop.h"

#include "platform/GlobalHotkey.h"
#include "platform/hotkey/win32/Win32Hotkey.h"
#include "platform/keyboard/win32/SendInputKeyboard.h"
#include "platform/midi/winmm/WinmmMidiSynth.h"

#include <cstdlib>

namespace tavlo::platform {

std::unique_ptr<KeyboardDevice> createKeyboardDevice(const std::string&) {
    if (const char* chosen = std::getenv("TAVLO_KEYBOARD_BACKEND"); chosen && *chosen && std::string(chosen) != "win32")
        throw KeyboardError("Unknown keyboard backend " + std::string(chosen) + " (win32)");
    return std::make_unique<SendInputKeyboard>();
}

std::unique_ptr<GlobalHotkey> createGlobalHotkey(const HotkeyChord& chord, std::function<void()> pressed) {
    return std::make_unique<Win32Hotkey>(chord, std::move(pressed));
}

std::unique_ptr<MidiSynth> createMidiSynth() {
    return std::make_unique<WinmmMidiSynth>();
}

void prepareProcess() {}

} // namespace tavlo::platform
