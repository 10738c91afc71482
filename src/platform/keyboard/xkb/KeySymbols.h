#pragma once

#include <xkbcommon/xkbcommon.h>

namespace tavlo::platform::xkb {

// The fixed part of the translation of the program's key numbering into XKB: each program key code names a
// key symbol, which a layout then places on a physical key.
class KeySymbols {
public:
    KeySymbols() = delete;

    // The key symbol of a program key code; XKB_KEY_NoSymbol for a code without one.
    static xkb_keysym_t forKeyCode(int keyCode);
    // The character that a dead key followed by Space gives (the accent on its own); 0 for other symbols.
    static char32_t deadKeyAlone(xkb_keysym_t keysym);
    static bool isDeadKey(xkb_keysym_t keysym);
    static bool isModifier(xkb_keysym_t keysym);
};

} // namespace tavlo::platform::xkb
