#pragma once

#include <span>
#include <stdexcept>
#include <string>

namespace tavlo::platform {

// A key event the desktop refused; what() is the message shown in the event log.
class KeyboardError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The desktop that took the keys is gone (its X server or Wayland compositor ended the connection): no later key
// can reach it, so typing stops rather than failing key by key. Every call after the first failure fails again.
class KeyboardLost : public KeyboardError {
public:
    using KeyboardError::KeyboardError;
};

// The desktop's synthetic keyboard, driven in the program's own key numbering (platform/KeyCodes.h).
// Used by one thread at a time.
class KeyboardDevice {
public:
    virtual ~KeyboardDevice() = default;

    virtual void keyPress(int keyCode) = 0;
    virtual void keyRelease(int keyCode) = 0;
    // Pauses the calling thread.
    virtual void delay(int milliseconds) = 0;
    virtual bool isCapsLockOn() = 0;

    // The key events up to endCharacter are meant to produce `character` through `sequence` (the key map's
    // entry). A backend whose desktop layout would produce something else from that sequence may use the hint
    // to produce the character correctly; others ignore it.
    virtual void beginCharacter(char32_t character, std::span<const int> sequence) {
        (void)character;
        (void)sequence;
    }
    virtual void endCharacter() {}
    // One value, with its start key and terminator, has been typed completely.
    virtual void endValue() {}
    // A line for the event log at Start about the layout the device types with; empty when there is nothing
    // to say.
    virtual std::string layoutNote() const { return {}; }
};

} // namespace tavlo::platform
