#include "platform/hotkey/win32/Win32Hotkey.h"

#include <windows.h>

#include <string>

namespace tavlo::platform {

namespace {

const wchar_t kWindowClass[] = L"TavloHotkeyWindow";

unsigned namedVirtualKey(HotkeyChord::Named key) {
    using N = HotkeyChord::Named;
    if (key >= N::F1 && key <= N::F24)
        return VK_F1 + static_cast<unsigned>(static_cast<int>(key) - static_cast<int>(N::F1));
    switch (key) {
    case N::Space:
        return VK_SPACE;
    case N::Return:
        return VK_RETURN;
    case N::Tab:
        return VK_TAB;
    case N::Escape:
        return VK_ESCAPE;
    case N::Backspace:
        return VK_BACK;
    case N::Insert:
        return VK_INSERT;
    case N::Delete:
        return VK_DELETE;
    case N::Home:
        return VK_HOME;
    case N::End:
        return VK_END;
    case N::PageUp:
        return VK_PRIOR;
    case N::PageDown:
        return VK_NEXT;
    case N::Left:
        return VK_LEFT;
    case N::Up:
        return VK_UP;
    case N::Right:
        return VK_RIGHT;
    case N::Down:
        return VK_DOWN;
    case N::Print:
        return VK_SNAPSHOT;
    case N::Pause:
        return VK_PAUSE;
    case N::ScrollLock:
        return VK_SCROLL;
    default:
        return 0;
    }
}

} // namespace

Win32Hotkey::Win32Hotkey(const HotkeyChord& chord, std::function<void()> pressed) : m_pressed(std::move(pressed)) {
    if (chord.named != HotkeyChord::Named::None) {
        m_virtualKey = namedVirtualKey(chord.named);
    } else if ((chord.character >= 'A' && chord.character <= 'Z') ||
               (chord.character >= '0' && chord.character <= '9')) {
        m_virtualKey = chord.character; // their virtual-key codes are their characters
    } else if (chord.character > 0 && chord.character < 0x10000) {
        // The key of the character on the active layout; Shift where the character needs it.
        const SHORT scan = VkKeyScanW(static_cast<wchar_t>(chord.character));
        if (scan != -1) {
            m_virtualKey = LOBYTE(scan);
            if (HIBYTE(scan) & 1)
                m_modifierFlags |= MOD_SHIFT;
        }
    }
    if (!m_virtualKey)
        throw HotkeyError(HotkeyError::Kind::UnknownKey, "the keyboard has no key for it");
    if (chord.modifiers & HotkeyChord::Shift)
        m_modifierFlags |= MOD_SHIFT;
    if (chord.modifiers & HotkeyChord::Control)
        m_modifierFlags |= MOD_CONTROL;
    if (chord.modifiers & HotkeyChord::Alt)
        m_modifierFlags |= MOD_ALT;
    if (chord.modifiers & HotkeyChord::Meta)
        m_modifierFlags |= MOD_WIN;

    std::promise<unsigned long> registered;
    std::future<unsigned long> result = registered.get_future();
    m_thread = std::thread([this, &registered] { serve(registered); });
    const unsigned long error = result.get();
    if (error == 0)
        return;
    m_thread.join();
    if (error == ERROR_HOTKEY_ALREADY_REGISTERED)
        throw HotkeyError(HotkeyError::Kind::Taken, "another program holds the combination");
    throw HotkeyError(HotkeyError::Kind::Failed, "RegisterHotKey failed (error " + std::to_string(error) + ")");
}

Win32Hotkey::~Win32Hotkey() {
    if (!m_thread.joinable())
        return;
    PostThreadMessageW(m_threadId.load(), WM_QUIT, 0, 0);
    m_thread.join();
}

void Win32Hotkey::serve(std::promise<unsigned long>& result) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass); // fails harmlessly when an earlier hotkey registered it
    HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!window) {
        result.set_value(GetLastError() ? GetLastError() : ERROR_INVALID_HANDLE);
        return;
    }
    if (!RegisterHotKey(window, 1, m_modifierFlags | MOD_NOREPEAT, m_virtualKey)) {
        const DWORD error = GetLastError();
        DestroyWindow(window);
        result.set_value(error ? error : ERROR_HOTKEY_ALREADY_REGISTERED);
        return;
    }
    // The queue exists (the window made it) before the destructor can post the end to it.
    m_threadId = GetCurrentThreadId();
    result.set_value(0);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_HOTKEY && message.hwnd == window) {
            if (m_pressed)
                m_pressed();
            continue;
        }
        DispatchMessageW(&message);
    }
    UnregisterHotKey(window, 1);
    DestroyWindow(window);
}

bool Win32Hotkey::keysHeld() const {
    for (const int key : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN, static_cast<int>(m_virtualKey)})
        if (GetAsyncKeyState(key) & 0x8000)
            return true;
    return false;
}

} // namespace tavlo::platform
