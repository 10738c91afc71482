#pragma once

#include "platform/GlobalHotkey.h"

#include <cstdint>
#include <functional>
#include <vector>

struct xcb_connection_t;

namespace tavlo::platform {

// A key combination grabbed on the X root window through a connection of its own: once as chosen and once
// each with Caps Lock, Num Lock and both on, since X matches the modifier state exactly. A grab that another
// client holds already is refused by the server with BadAccess; each grab is checked on its own.
class X11Hotkey : public GlobalHotkey {
public:
    // display: the X display name, or null for $DISPLAY.
    X11Hotkey(const HotkeyChord& chord, std::function<void()> pressed, const char* display = nullptr);
    ~X11Hotkey() override;
    X11Hotkey(const X11Hotkey&) = delete;
    X11Hotkey& operator=(const X11Hotkey&) = delete;

    int eventDescriptor() const override;
    bool dispatch() override;
    bool keysHeld() const override;

    // The keycode and modifier mask of the grab (without the lock variants).
    std::uint8_t keycode() const { return m_keycode; }
    std::uint16_t modifierMask() const { return m_modifiers; }

private:
    void ungrabAll();

    xcb_connection_t* m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint8_t m_keycode = 0;
    std::uint16_t m_modifiers = 0;
    std::uint16_t m_heldMask = 0; // Shift, Control, Alt and logo key masks of this keyboard
    std::vector<std::uint16_t> m_grabbed;
    std::uint32_t m_lastRelease = 0;
    std::function<void()> m_pressed;
};

} // namespace tavlo::platform
