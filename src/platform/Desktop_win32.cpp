#include "platform/Desktop.h"

#include "platform/keyboard/win32/SendInputKeyboard.h"
#include "platform/midi/winmm/WinmmMidiSynth.h"

#include <cstdlib>

namespace tavlo::platform {

std::unique_ptr<KeyboardDevice> createKeyboardDevice(const std::string&) {
    if (const char* chosen = std::getenv("TAVLO_KEYBOARD_BACKEND"); chosen && *chosen && std::string(chosen) != "win32")
        throw KeyboardError("Unknown keyboard backend " + std::string(chosen) + " (win32)");
    return std::make_unique<SendInputKeyboard>();
}

std::unique_ptr<MidiSynth> createMidiSynth() {
    return std::make_unique<WinmmMidiSynth>();
}

void prepareProcess() {}

} // namespace tavlo::platform
