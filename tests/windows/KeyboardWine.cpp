// The SendInput keyboard backend under Wine: a window with a focused edit control receives the keys of a few
// key-map sequences, typed from another thread as the program's keyboard thread does.
#include "WineCheck.h"
#include "platform/KeyCodes.h"
#include "platform/keyboard/win32/SendInputKeyboard.h"

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

using wine_check::report;
namespace K = tavlo::platform::KeyCode;

namespace {

// One key of a sequence: pressed (down) or released.
struct Stroke {
    int key;
    bool down;
};

std::vector<Stroke> tapped(std::initializer_list<int> keys) {
    std::vector<Stroke> strokes;
    for (int key : keys) {
        strokes.push_back({key, true});
        strokes.push_back({key, false});
    }
    return strokes;
}

struct Case {
    const char* name;
    std::vector<Stroke> strokes;
    std::wstring expected;
};

const UINT kTyped = WM_APP + 1;
HWND g_edit = nullptr;

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\r')
            out += "\\r";
        else if (c == L'\n')
            out += "\\n";
        else if (c == L'\t')
            out += "\\t";
        else
            out += c < 128 ? static_cast<char>(c) : '?';
    }
    return out;
}

std::wstring editText() {
    const int length = GetWindowTextLengthW(g_edit);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(g_edit, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

// Pumps the window's messages for about the given time, so that the keys sent reach the edit control.
void pump(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    MSG message;
    while (GetTickCount64() < end) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
}

} // namespace

int main() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TavloKeyboardCheck";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"TavloKeyboardCheck", L"Keyboard check", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                  400, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    g_edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL, 0,
                             0, 380, 160, window, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(g_edit);
    pump(500);
    const bool focused = GetFocus() == g_edit && GetForegroundWindow() == window;
    report(window && g_edit && focused, "the test window has the keyboard focus");

    const std::vector<Case> cases = {
        {"digits and the decimal point", tapped({K::DIGIT_0 + 1, K::DIGIT_0 + 2, K::PERIOD, K::DIGIT_0 + 5}), L"12.5"},
        {"a shifted letter, then an unshifted one",
         {{K::SHIFT, true},
          {K::LETTER_A, true},
          {K::LETTER_A, false},
          {K::SHIFT, false},
          {K::LETTER_A + 1, true},
          {K::LETTER_A + 1, false}},
         L"Ab"},
        {"minus, comma and slash", tapped({K::MINUS, K::DIGIT_0 + 3, K::COMMA, K::SLASH}), L"-3,/"},
        {"Enter ends the line", tapped({K::DIGIT_0 + 7, K::ENTER}), L"7\r\n"},
    };
    tavlo::platform::SendInputKeyboard keyboard;
    for (const Case& c : cases) {
        SetWindowTextW(g_edit, L"");
        SetFocus(g_edit);
        pump(50);
        std::string failure;
        std::thread typist([&] {
            try {
                for (const Stroke& s : c.strokes) {
                    if (s.down)
                        keyboard.keyPress(s.key);
                    else
                        keyboard.keyRelease(s.key);
                    keyboard.delay(5);
                }
            } catch (const std::exception& e) {
                failure = e.what();
            }
        });
        typist.join();
        std::wstring text;
        // The keys arrive through the message queue; give them a while, ending as soon as they are all there.
        for (int i = 0; i < 100 && (text = editText()) != c.expected; ++i)
            pump(20);
        report(failure.empty() && text == c.expected, c.name,
               failure.empty() ? "typed \"" + narrow(text) + "\", expected \"" + narrow(c.expected) + "\"" : failure);
    }
    DestroyWindow(window);
    return wine_check::failures() == 0 ? 0 : 1;
}
