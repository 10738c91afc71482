#include "platform/Desktop.h"

#include <malloc.h>

#include "platform/GlobalHotkey.h"
#include "platform/hotkey/x11/X11Hotkey.h"
#include "platform/keyboard/uinput/UinputKeyboard.h"
#include "platform/keyboard/x11/XTestKeyboard.h"
#include "platform/midi/fluidsynth/FluidSynthMidi.h"

#include <cstdlib>
#include <string>
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

std::unique_ptr<GlobalHotkey> createGlobalHotkey(const HotkeyChord& chord, std::function<void()> pressed) {
    // Under Wayland an X grab sees keys only while an X window has the focus, which is not what a hotkey is for.
    const char* session = std::getenv("XDG_SESSION_TYPE");
    if (isSet("WAYLAND_DISPLAY") || (session && std::string(session) == "wayland"))
        throw HotkeyError(HotkeyError::Kind::Unavailable,
                          "a Wayland session gives no program keys of the whole desktop");
    if (!isSet("DISPLAY"))
        throw HotkeyError(HotkeyError::Kind::Unavailable, "there is no X display");
    return std::make_unique<X11Hotkey>(chord, std::move(pressed));
}

std::unique_ptr<MidiSynth> createMidiSynth() {
    return std::make_unique<FluidSynthMidi>();
}

void prepareProcess() {
    mallopt(M_ARENA_MAX, 1);
}

} // namespace tavlo::platform
