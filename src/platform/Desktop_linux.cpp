#include "platform/Desktop.h"

#include <malloc.h>

#include "platform/GlobalHotkey.h"
#include "platform/hotkey/x11/X11Hotkey.h"
#include "platform/keyboard/KeyboardChoice.h"
#include "platform/keyboard/uinput/UinputKeyboard.h"
#include "platform/keyboard/wayland/WaylandKeyboard.h"
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

KeyboardCandidate wayland(const std::string& keyboardType) {
    return {"wayland", [keyboardType]() -> std::unique_ptr<KeyboardDevice> {
                if (!isSet("WAYLAND_DISPLAY"))
                    throw KeyboardError("WAYLAND_DISPLAY is not set");
                return std::make_unique<WaylandKeyboard>(keyboardType);
            }};
}

KeyboardCandidate uinput(const std::string& keyboardType) {
    return {"uinput", [keyboardType] { return std::make_unique<UinputKeyboard>(keyboardType); }};
}

KeyboardCandidate x11() {
    return {"x11", []() -> std::unique_ptr<KeyboardDevice> {
                if (!isSet("DISPLAY"))
                    throw KeyboardError("DISPLAY is not set");
                return std::make_unique<XTestKeyboard>();
            }};
}

} // namespace

std::unique_ptr<KeyboardDevice> createKeyboardDevice(const std::string& keyboardType) {
    if (const char* chosen = std::getenv("TAVLO_KEYBOARD_BACKEND"); chosen && *chosen) {
        const std::string backend = chosen;
        const std::string note = "Keyboard backend: " + backend + " (set by TAVLO_KEYBOARD_BACKEND)";
        if (backend == "wayland")
            return withChoiceNote(std::make_unique<WaylandKeyboard>(keyboardType), note);
        if (backend == "x11")
            return withChoiceNote(std::make_unique<XTestKeyboard>(), note);
        if (backend == "uinput")
            return withChoiceNote(std::make_unique<UinputKeyboard>(keyboardType), note);
        throw KeyboardError("Unknown keyboard backend " + backend + " (wayland, uinput or x11)");
    }
    // The compositor's own virtual keyboard needs no rights at all. Under XWayland, X11 keys would reach X clients
    // only, while the compositor takes uinput keys for everyone; a console takes uinput keys too.
    if (isSet("WAYLAND_DISPLAY"))
        return chooseKeyboard({wayland(keyboardType), uinput(keyboardType), x11()});
    return chooseKeyboard({wayland(keyboardType), x11(), uinput(keyboardType)});
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
