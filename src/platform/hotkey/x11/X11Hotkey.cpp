#include "platform/hotkey/x11/X11Hotkey.h"

#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace tavlo::platform {

namespace {

using Keysym = std::uint32_t;

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* p) {
    return Reply<T>(p, &std::free);
}

Keysym namedKeysym(HotkeyChord::Named key) {
    using N = HotkeyChord::Named;
    if (key >= N::F1 && key <= N::F24)
        return XK_F1 + static_cast<Keysym>(static_cast<int>(key) - static_cast<int>(N::F1));
    switch (key) {
    case N::Space:
        return XK_space;
    case N::Return:
        return XK_Return;
    case N::Tab:
        return XK_Tab;
    case N::Escape:
        return XK_Escape;
    case N::Backspace:
        return XK_BackSpace;
    case N::Insert:
        return XK_Insert;
    case N::Delete:
        return XK_Delete;
    case N::Home:
        return XK_Home;
    case N::End:
        return XK_End;
    case N::PageUp:
        return XK_Prior;
    case N::PageDown:
        return XK_Next;
    case N::Left:
        return XK_Left;
    case N::Up:
        return XK_Up;
    case N::Right:
        return XK_Right;
    case N::Down:
        return XK_Down;
    case N::Print:
        return XK_Print;
    case N::Pause:
        return XK_Pause;
    case N::ScrollLock:
        return XK_Scroll_Lock;
    default:
        return 0;
    }
}

// The keysym of a character: Latin-1 has its own numbers, the rest of Unicode the 0x01000000 range. A letter
// is looked up in lower case, the level without Shift.
Keysym characterKeysym(std::uint32_t c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 'a';
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff))
        return c;
    return c > 0xff ? 0x01000000 | c : 0;
}

// The server's keymap: the keysyms of each keycode.
class Keymap {
public:
    explicit Keymap(xcb_connection_t* c) {
        const xcb_setup_t* setup = xcb_get_setup(c);
        m_min = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        m_reply.reset(xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, m_min, count), nullptr));
        if (m_reply) {
            m_perCode = m_reply->keysyms_per_keycode;
            m_syms = xcb_get_keyboard_mapping_keysyms(m_reply.get());
            m_count = m_perCode ? xcb_get_keyboard_mapping_keysyms_length(m_reply.get()) / m_perCode : 0;
        }
    }
    // The keycode with the keysym in its first two levels, and whether it is the second (shifted) one.
    bool find(Keysym sym, std::uint8_t* code, bool* shifted) const {
        for (int level = 0; level < 2 && level < m_perCode; ++level)
            for (int i = 0; i < m_count; ++i)
                if (m_syms[i * m_perCode + level] == sym) {
                    *code = static_cast<std::uint8_t>(m_min + i);
                    *shifted = level == 1;
                    return true;
                }
        return false;
    }
    bool has(std::uint8_t code, Keysym sym) const {
        const int i = code - m_min;
        if (i < 0 || i >= m_count)
            return false;
        for (int level = 0; level < m_perCode; ++level)
            if (m_syms[i * m_perCode + level] == sym)
                return true;
        return false;
    }

private:
    Reply<xcb_get_keyboard_mapping_reply_t> m_reply{nullptr, &std::free};
    const xcb_keysym_t* m_syms = nullptr;
    int m_min = 0;
    int m_perCode = 0;
    int m_count = 0;
};

// The modifier masks that the keymap gives Alt, the logo key and Num Lock (by default Mod1, Mod4, Mod2).
struct ModifierMasks {
    std::uint16_t alt = XCB_MOD_MASK_1;
    std::uint16_t logo = XCB_MOD_MASK_4;
    std::uint16_t numLock = XCB_MOD_MASK_2;
};

ModifierMasks modifierMasks(xcb_connection_t* c, const Keymap& keymap) {
    ModifierMasks masks;
    const auto mapping = reply(xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    if (!mapping)
        return masks;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    bool alt = false, logo = false, numLock = false;
    // Shift, Lock and Control are fixed; Mod1 to Mod5 are what the keymap makes of them.
    for (int modifier = 3; modifier < 8; ++modifier)
        for (int k = 0; k < perModifier; ++k) {
            const std::uint8_t code = codes[modifier * perModifier + k];
            if (!code)
                continue;
            const auto mask = static_cast<std::uint16_t>(1u << modifier);
            if (!alt && (keymap.has(code, XK_Alt_L) || keymap.has(code, XK_Alt_R))) {
                masks.alt = mask;
                alt = true;
            }
            if (!logo && (keymap.has(code, XK_Super_L) || keymap.has(code, XK_Super_R))) {
                masks.logo = mask;
                logo = true;
            }
            if (!numLock && keymap.has(code, XK_Num_Lock)) {
                masks.numLock = mask;
                numLock = true;
            }
        }
    return masks;
}

} // namespace

X11Hotkey::X11Hotkey(const HotkeyChord& chord, std::function<void()> pressed, const char* display)
    : m_pressed(std::move(pressed)) {
    int screenNumber = 0;
    m_connection = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        throw HotkeyError(HotkeyError::Kind::Unavailable, "the X display cannot be opened");
    }
    try {
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (!screens.rem)
            throw HotkeyError(HotkeyError::Kind::Failed, "the X display has no such screen");
        m_root = screens.data->root;

        const Keymap keymap(m_connection);
        const Keysym sym =
            chord.named != HotkeyChord::Named::None ? namedKeysym(chord.named) : characterKeysym(chord.character);
        bool shifted = false;
        if (!sym || !keymap.find(sym, &m_keycode, &shifted))
            throw HotkeyError(HotkeyError::Kind::UnknownKey, "the keyboard has no key for it");
        const ModifierMasks masks = modifierMasks(m_connection, keymap);
        if (chord.modifiers & HotkeyChord::Shift || shifted)
            m_modifiers |= XCB_MOD_MASK_SHIFT;
        if (chord.modifiers & HotkeyChord::Control)
            m_modifiers |= XCB_MOD_MASK_CONTROL;
        if (chord.modifiers & HotkeyChord::Alt)
            m_modifiers |= masks.alt;
        if (chord.modifiers & HotkeyChord::Meta)
            m_modifiers |= masks.logo;
        m_heldMask = static_cast<std::uint16_t>(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | masks.alt | masks.logo);

        for (const std::uint16_t locks : {std::uint16_t(0), std::uint16_t(XCB_MOD_MASK_LOCK), masks.numLock,
                                          std::uint16_t(XCB_MOD_MASK_LOCK | masks.numLock)}) {
            const std::uint16_t mask = m_modifiers | locks;
            const xcb_void_cookie_t cookie = xcb_grab_key_checked(m_connection, 0, m_root, mask, m_keycode,
                                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (const auto failure = reply(xcb_request_check(m_connection, cookie))) {
                if (failure->error_code == XCB_ACCESS)
                    throw HotkeyError(HotkeyError::Kind::Taken, "another program holds the combination");
                throw HotkeyError(HotkeyError::Kind::Failed,
                                  "the X server refused the grab (error " + std::to_string(failure->error_code) + ")");
            }
            m_grabbed.push_back(mask);
        }
    } catch (...) {
        ungrabAll();
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        throw;
    }
}

X11Hotkey::~X11Hotkey() {
    if (!m_connection)
        return;
    ungrabAll();
    xcb_disconnect(m_connection);
}

void X11Hotkey::ungrabAll() {
    if (!m_connection || xcb_connection_has_error(m_connection))
        return;
    for (const std::uint16_t mask : m_grabbed)
        xcb_ungrab_key(m_connection, m_keycode, m_root, mask);
    m_grabbed.clear();
    xcb_flush(m_connection);
}

int X11Hotkey::eventDescriptor() const {
    return xcb_get_file_descriptor(m_connection);
}

bool X11Hotkey::dispatch() {
    while (xcb_generic_event_t* raw = xcb_poll_for_event(m_connection)) {
        const auto event = reply(raw);
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS) {
            const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
            // A held key repeats as a release and a press at the same instant: only the first press counts.
            if (key->detail == m_keycode && key->time != m_lastRelease && m_pressed)
                m_pressed();
        } else if (type == XCB_KEY_RELEASE) {
            const auto* key = reinterpret_cast<const xcb_key_release_event_t*>(event.get());
            if (key->detail == m_keycode)
                m_lastRelease = key->time;
        }
    }
    return !xcb_connection_has_error(m_connection);
}

bool X11Hotkey::keysHeld() const {
    const xcb_query_keymap_cookie_t keys = xcb_query_keymap(m_connection);
    const auto pointer = reply(xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr));
    const auto keymap = reply(xcb_query_keymap_reply(m_connection, keys, nullptr));
    const bool keyDown = keymap && (keymap->keys[m_keycode / 8] & (1u << (m_keycode % 8))) != 0;
    return keyDown || (pointer && (pointer->mask & m_heldMask) != 0);
}

} // namespace tavlo::platform
