#pragma once

namespace tavlo::platform {

// The program's own key numbering, shared by the key maps, the start and terminator keys and every keyboard
// backend; each backend translates it into the key codes of its desktop.
namespace KeyCode {
inline constexpr int TAB = 9;
inline constexpr int ENTER = 10;
inline constexpr int SHIFT = 16;
inline constexpr int CONTROL = 17;
inline constexpr int ALT = 18;
inline constexpr int SPACE = 32;
inline constexpr int RIGHT = 39;
inline constexpr int DOWN = 40;
inline constexpr int COMMA = 44;
inline constexpr int MINUS = 45;
inline constexpr int PERIOD = 46;
inline constexpr int SLASH = 47;
inline constexpr int DIGIT_0 = 48; // to DIGIT_0 + 9
inline constexpr int SEMICOLON = 59;
inline constexpr int EQUALS = 61;
inline constexpr int LETTER_A = 65; // to LETTER_A + 25
inline constexpr int OPEN_BRACKET = 91;
inline constexpr int BACK_SLASH = 92;
inline constexpr int CLOSE_BRACKET = 93;
inline constexpr int NUMPAD_0 = 96; // to NUMPAD_0 + 9
inline constexpr int MULTIPLY = 106;
inline constexpr int ADD = 107;
inline constexpr int DIVIDE = 111;
inline constexpr int F1 = 112;  // to F1 + 11
inline constexpr int DEL = 127; // Delete (DELETE is a Windows macro)
inline constexpr int DEAD_GRAVE = 128;
inline constexpr int DEAD_ACUTE = 129;
inline constexpr int DEAD_CIRCUMFLEX = 130;
inline constexpr int LESS = 153;
inline constexpr int BACK_QUOTE = 192;
inline constexpr int QUOTE = 222;
inline constexpr int COLON = 513;
inline constexpr int DOLLAR = 515;
inline constexpr int EXCLAMATION_MARK = 517;
inline constexpr int NUMBER_SIGN = 520;
inline constexpr int PLUS = 521;
inline constexpr int RIGHT_PARENTHESIS = 522;
} // namespace KeyCode

} // namespace tavlo::platform
