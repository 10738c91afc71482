#include "platform/keyboard/win32/SendInputKeyboard.h"

#include "platform/KeyCodes.h"

#include <windows.h>

#include <string>

namespace tavlo::platform {

namespace K = KeyCode;

namespace {

std::string lastError() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = text ? text : "error " + std::to_string(code);
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message;
}

// The key that gives the character on the layout, unshifted where the layout has it so; 0 when none does.
unsigned keyOfCharacter(wchar_t character, HKL layout) {
    const SHORT scan = VkKeyScanExW(character, layout);
    if (scan == -1)
        return 0;
    return LOBYTE(scan);
}

HKL foregroundLayout() {
    const HWND window = GetForegroundWindow();
    return GetKeyboardLayout(window ? GetWindowThreadProcessId(window, nullptr) : 0);
}

bool isExtended(unsigned vk) {
    switch (vk) {
    case VK_RIGHT:
    case VK_LEFT:
    case VK_UP:
    case VK_DOWN:
    case VK_DELETE:
    case VK_INSERT:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_DIVIDE:
    case VK_RCONTROL:
    case VK_RMENU:
        return true;
    default:
        return false;
    }
}

} // namespace

unsigned SendInputKeyboard::virtualKey(int code, void* layoutHandle) {
    const HKL layout = static_cast<HKL>(layoutHandle);
    if ((code >= K::DIGIT_0 && code <= K::DIGIT_0 + 9) || (code >= K::LETTER_A && code <= K::LETTER_A + 25))
        return static_cast<unsigned>(code);
    if (code >= K::NUMPAD_0 && code <= K::NUMPAD_0 + 9)
        return VK_NUMPAD0 + static_cast<unsigned>(code - K::NUMPAD_0);
    if (code >= K::F1 && code <= K::F1 + 11)
        return VK_F1 + static_cast<unsigned>(code - K::F1);
    // Punctuation keys: the key whose character names the code on the active layout, else the US key.
    struct Punctuation {
        int code;
        wchar_t character;
        wchar_t alternative;
        unsigned usKey;
    };
    static const Punctuation table[] = {
        {K::COMMA, L',', 0, VK_OEM_COMMA},
        {K::MINUS, L'-', 0, VK_OEM_MINUS},
        {K::PERIOD, L'.', 0, VK_OEM_PERIOD},
        {K::SLASH, L'/', 0, VK_OEM_2},
        {K::SEMICOLON, L';', 0, VK_OEM_1},
        {K::EQUALS, L'=', 0, VK_OEM_PLUS},
        {K::OPEN_BRACKET, L'[', 0, VK_OEM_4},
        {K::BACK_SLASH, L'\\', 0, VK_OEM_5},
        {K::CLOSE_BRACKET, L']', 0, VK_OEM_6},
        {K::DEAD_GRAVE, L'`', 0, VK_OEM_3},
        {K::DEAD_ACUTE, L'\u00b4', L'\'', VK_OEM_7},
        {K::DEAD_CIRCUMFLEX, L'^', 0, VK_OEM_6},
        {K::LESS, L'<', 0, VK_OEM_102},
        {K::BACK_QUOTE, L'`', 0, VK_OEM_3},
        {K::QUOTE, L'\'', 0, VK_OEM_7},
        {K::COLON, L':', 0, VK_OEM_2},
        {K::DOLLAR, L'$', 0, VK_OEM_1},
        {K::EXCLAMATION_MARK, L'!', 0, VK_OEM_8},
        {K::NUMBER_SIGN, L'#', 0, VK_OEM_2},
        {K::PLUS, L'+', 0, VK_OEM_PLUS},
        {K::RIGHT_PARENTHESIS, L')', 0, VK_OEM_4},
    };
    for (const Punctuation& p : table) {
        if (p.code != code)
            continue;
        if (const unsigned vk = keyOfCharacter(p.character, layout))
            return vk;
        if (p.alternative)
            if (const unsigned vk = keyOfCharacter(p.alternative, layout))
                return vk;
        return p.usKey;
    }
    switch (code) {
    case K::TAB:
        return VK_TAB;
    case K::ENTER:
        return VK_RETURN;
    case K::SHIFT:
        return VK_SHIFT;
    case K::CONTROL:
        return VK_CONTROL;
    case K::ALT:
        return VK_MENU;
    case K::SPACE:
        return VK_SPACE;
    case K::RIGHT:
        return VK_RIGHT;
    case K::DOWN:
        return VK_DOWN;
    case K::MULTIPLY:
        return VK_MULTIPLY;
    case K::ADD:
        return VK_ADD;
    case K::DIVIDE:
        return VK_DIVIDE;
    case K::DEL:
        return VK_DELETE;
    default:
        return 0;
    }
}

void SendInputKeyboard::send(int keyCode, bool press) {
    const HKL layout = foregroundLayout();
    const unsigned vk = virtualKey(keyCode, layout);
    if (vk == 0)
        throw KeyboardError("Invalid key code " + std::to_string(keyCode));
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(vk);
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC, layout));
    input.ki.dwFlags = (press ? 0 : KEYEVENTF_KEYUP) | (isExtended(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
    if (SendInput(1, &input, sizeof input) != 1)
        throw KeyboardError("SendInput failed: " + lastError());
}

void SendInputKeyboard::keyPress(int keyCode) {
    send(keyCode, true);
}

void SendInputKeyboard::keyRelease(int keyCode) {
    send(keyCode, false);
}

void SendInputKeyboard::delay(int milliseconds) {
    if (milliseconds > 0)
        Sleep(static_cast<DWORD>(milliseconds));
}

bool SendInputKeyboard::isCapsLockOn() {
    return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

} // namespace tavlo::platform
