#include "platform/Desktop.h"

#include <malloc.h>

#include "platform/keyboard/uinput/UinputKeyboard.h"
#include "platform/keyboard/x11/XTestKeyboard.h"
#include "platform/midi/fluidsynth/FluidSynthMidi.h"

#include <cstdlib>
#include <unistd.h>

namespace tavlo::platform {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

std::unique_ptr<KeyboardDevice> createKeyboardDevice(const std::string& keyboardType) {
    if (const char* chosen = std::getenv("TAVLO_KEYBOARD_BACKEND"); chosen && *chosen) {
        const std::string backend = chosen;
        if (backend == "x11")
            return std::make_unique<XTestKeyboard>();
        if (backend == "uinput")
            return std::make_unique<UinputKeyboard>(keyboardType);
        throw KeyboardError("Unknown keyboard backend " + backend + " (x11 or uinput)");
    }
    // Under XWayland, X11 keys would reach X clients only; the compositor takes uinput keys for everyone.
    if (isSet("WAYLAND_DISPLAY") && ::access("/dev/uinput", W_OK) == 0)
        return std::make_unique<UinputKeyboard>(keyboardType);
    if (isSet("DISPLAY")) {
        try {
            return std::make_unique<XTestKeyboard>();
        } catch (const KeyboardError&) {
            // The display is not reachable: a console may still take uinput keys.
        }
    }
    return std::make_unique<UinputKeyboard>(keyboardType);
}

std::unique_ptr<MidiSynth> createMidiSynth() {
    return std::make_unique<FluidSynthMidi>();
}

void prepareProcess() {
    mallopt(M_ARENA_MAX, 1);
}

} // namespace tavlo::platform
