#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace tavlo::platform {

// A key combination to be taken for the whole desktop: modifiers and one key.
struct HotkeyChord {
    enum Modifier : unsigned { Shift = 1, Control = 2, Alt = 4, Meta = 8 };
    // The keys that are not characters.
    enum class Named {
        None,
        F1, // to F24 in order
        F24 = F1 + 23,
        Space,
        Return,
        Tab,
        Escape,
        Backspace,
        Insert,
        Delete,
        Home,
        End,
        PageUp,
        PageDown,
        Left,
        Up,
        Right,
        Down,
        Print,
        Pause,
        ScrollLock
    };

    unsigned modifiers = 0;
    Named named = Named::None;
    // With Named::None: the character on the key (letters in upper case), as a Unicode code point.
    std::uint32_t character = 0;
};

// Why a combination could not be taken. The text is for the log; the kind lets the caller phrase it.
class HotkeyError : public std::runtime_error {
public:
    enum class Kind {
        Unavailable, // the desktop offers no global keys to this program (a Wayland session, no display)
        Taken,       // another program holds the combination
        UnknownKey,  // the keyboard has no key for it
        Failed       // anything else
    };
    HotkeyError(Kind kind, const std::string& text) : std::runtime_error(text), m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// A combination held for the whole desktop while the object lives. pressed() is called once per press (auto
// repeat does not count): on the thread that calls dispatch() where the backend has an event descriptor,
// else on a thread of the backend.
class GlobalHotkey {
public:
    virtual ~GlobalHotkey() = default;
    // Readable when events wait for dispatch(); -1 when the backend delivers from a thread of its own.
    virtual int eventDescriptor() const = 0;
    // Handles the waiting events. False once the combination is lost for good (the display went away): the
    // descriptor must then no longer be watched.
    virtual bool dispatch() = 0;
    // A key of the combination, or any Shift, Control, Alt or logo key, is still held down: keys typed now would
    // combine with it, or (X11) go to the grab that the press began and that lasts until the key is let go.
    virtual bool keysHeld() const = 0;
};

// Takes the combination on this desktop (X11: a grab on the root window, also with Caps Lock and Num Lock on;
// Windows: RegisterHotKey). Throws HotkeyError.
std::unique_ptr<GlobalHotkey> createGlobalHotkey(const HotkeyChord& chord, std::function<void()> pressed);

} // namespace tavlo::platform
