#include "platform/keyboard/xkb/KeySymbols.h"

#include "platform/KeyCodes.h"

#include <xkbcommon/xkbcommon-keysyms.h>

namespace tavlo::platform::xkb {

namespace K = KeyCode;

xkb_keysym_t KeySymbols::forKeyCode(int code) {
    if (code >= K::DIGIT_0 && code <= K::DIGIT_0 + 9)
        return XKB_KEY_0 + static_cast<xkb_keysym_t>(code - K::DIGIT_0);
    // The letter keys name their small letter; Shift makes the capital where the layout puts it.
    if (code >= K::LETTER_A && code <= K::LETTER_A + 25)
        return XKB_KEY_a + static_cast<xkb_keysym_t>(code - K::LETTER_A);
    // Without Num Lock the keypad digit keys are cursor keys; the digits are their second level.
    if (code >= K::NUMPAD_0 && code <= K::NUMPAD_0 + 9)
        return XKB_KEY_KP_0 + static_cast<xkb_keysym_t>(code - K::NUMPAD_0);
    if (code >= K::F1 && code <= K::F1 + 11)
        return XKB_KEY_F1 + static_cast<xkb_keysym_t>(code - K::F1);
    switch (code) {
    case K::TAB:
        return XKB_KEY_Tab;
    case K::ENTER:
        return XKB_KEY_Return;
    case K::SHIFT:
        return XKB_KEY_Shift_L;
    case K::CONTROL:
        return XKB_KEY_Control_L;
    case K::ALT:
        return XKB_KEY_Alt_L;
    case K::SPACE:
        return XKB_KEY_space;
    case K::RIGHT:
        return XKB_KEY_Right;
    case K::DOWN:
        return XKB_KEY_Down;
    case K::COMMA:
        return XKB_KEY_comma;
    case K::MINUS:
        return XKB_KEY_minus;
    case K::PERIOD:
        return XKB_KEY_period;
    case K::SLASH:
        return XKB_KEY_slash;
    case K::SEMICOLON:
        return XKB_KEY_semicolon;
    case K::EQUALS:
        return XKB_KEY_equal;
    case K::OPEN_BRACKET:
        return XKB_KEY_bracketleft;
    case K::BACK_SLASH:
        return XKB_KEY_backslash;
    case K::CLOSE_BRACKET:
        return XKB_KEY_bracketright;
    case K::MULTIPLY:
        return XKB_KEY_KP_Multiply;
    case K::ADD:
        return XKB_KEY_KP_Add;
    case K::DIVIDE:
        return XKB_KEY_KP_Divide;
    case K::DEL:
        return XKB_KEY_Delete;
    case K::DEAD_GRAVE:
        return XKB_KEY_dead_grave;
    case K::DEAD_ACUTE:
        return XKB_KEY_dead_acute;
    case K::DEAD_CIRCUMFLEX:
        return XKB_KEY_dead_circumflex;
    case K::LESS:
        return XKB_KEY_less;
    case K::BACK_QUOTE:
        return XKB_KEY_grave;
    case K::QUOTE:
        return XKB_KEY_apostrophe;
    case K::COLON:
        return XKB_KEY_colon;
    case K::DOLLAR:
        return XKB_KEY_dollar;
    case K::EXCLAMATION_MARK:
        return XKB_KEY_exclam;
    case K::NUMBER_SIGN:
        return XKB_KEY_numbersign;
    case K::PLUS:
        return XKB_KEY_plus;
    case K::RIGHT_PARENTHESIS:
        return XKB_KEY_parenright;
    default:
        return XKB_KEY_NoSymbol;
    }
}

// The spacing forms that the standard compose tables give for "dead key, Space".
char32_t KeySymbols::deadKeyAlone(xkb_keysym_t keysym) {
    switch (keysym) {
    case XKB_KEY_dead_grave:
        return U'`';
    case XKB_KEY_dead_acute:
        return U'\'';
    case XKB_KEY_dead_circumflex:
        return U'^';
    case XKB_KEY_dead_tilde:
        return U'~';
    case XKB_KEY_dead_diaeresis:
        return U'"';
    default:
        return 0;
    }
}

bool KeySymbols::isDeadKey(xkb_keysym_t keysym) {
    return keysym >= XKB_KEY_dead_grave && keysym <= 0xfe93;
}

bool KeySymbols::isModifier(xkb_keysym_t keysym) {
    return (keysym >= XKB_KEY_Shift_L && keysym <= XKB_KEY_Hyper_R) ||
           (keysym >= XKB_KEY_ISO_Lock && keysym <= XKB_KEY_ISO_Level5_Lock) || keysym == XKB_KEY_Mode_switch ||
           keysym == XKB_KEY_Num_Lock;
}

} // namespace tavlo::platform::xkb
