#include "tavlo/headless/OutputKeyboards.h"

#include <string>

namespace tavlo::headless {

const char* PrintKeyboard::keyName(int keyCode) {
    switch (keyCode) {
    case 10: return "<ENTER>";
    case 9: return "<TAB>";
    case 39: return "<RIGHT>";
    case 40: return "<DOWN>";
    case 127: return "<DELETE>";
    case 106: return "<MULTIPLY>";
    default: break;
    }
    static const char* const functionKeys[] = {"<F1>", "<F2>", "<F3>", "<F4>",  "<F5>",  "<F6>",
                                               "<F7>", "<F8>", "<F9>", "<F10>", "<F11>", "<F12>"};
    if (keyCode >= 112 && keyCode <= 123)
        return functionKeys[keyCode - 112];
    return "";
}

void PrintKeyboard::keyPress(int keyCode) {
    // Inside a character the keys are its sequence, already written as the character itself.
    if (!m_inCharacter)
        std::fputs(keyName(keyCode), m_out);
}

void PrintKeyboard::beginCharacter(char32_t character, std::span<const int>) {
    m_inCharacter = true;
    std::string utf8;
    if (character < 0x80) {
        utf8 += static_cast<char>(character);
    } else if (character < 0x800) {
        utf8 += static_cast<char>(0xC0 | (character >> 6));
        utf8 += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        utf8 += static_cast<char>(0xE0 | (character >> 12));
        utf8 += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        utf8 += static_cast<char>(0xF0 | (character >> 18));
        utf8 += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
        utf8 += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (character & 0x3F));
    }
    std::fputs(utf8.c_str(), m_out);
}

void PrintKeyboard::endValue() {
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

} // namespace tavlo::headless
