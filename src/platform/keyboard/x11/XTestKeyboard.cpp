#include "platform/keyboard/x11/XTestKeyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace tavlo::platform {

namespace {

// Xlib's own handler ends the process when a connection breaks; this one returns, so that the display's exit
// handler below runs instead. Displays of other code keep Xlib's default exit handler, which still ends the process.
int returnFromIOError(Display*) {
    return 0;
}

} // namespace

void XTestKeyboard::onDisplayLost(Display*, void* self) {
    static_cast<XTestKeyboard*>(self)->m_lost = true;
}

void XTestKeyboard::throwIfLost() const {
    if (m_lost)
        throw KeyboardLost("The connection to the X display " + m_name + " was lost");
}

XTestKeyboard::XTestKeyboard(const std::string& displayName) {
    m_display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!m_display)
        throw KeyboardError("Cannot open the X display " +
                            (displayName.empty() ? std::string("$DISPLAY") : displayName));
    m_name = DisplayString(m_display);
    static std::once_flag quietIOErrors;
    std::call_once(quietIOErrors, [] { XSetIOErrorHandler(&returnFromIOError); });
    XSetIOErrorExitHandler(m_display, &XTestKeyboard::onDisplayLost, this);
    try {
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(m_display, &event, &error, &major, &minor))
            throw KeyboardError("The X server has no XTest extension");
        int opcode = 0;
        major = XkbMajorVersion;
        minor = XkbMinorVersion;
        if (!XkbQueryExtension(m_display, &opcode, &m_xkbEventType, &error, &major, &minor))
            throw KeyboardError("The X server has no XKB extension");
        xcb_connection_t* xcb = XGetXCBConnection(m_display);
        if (!xkb_x11_setup_xkb_extension(xcb, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                         XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
            throw KeyboardError("Cannot set up XKB on the X connection");
        m_deviceId = xkb_x11_get_core_keyboard_device_id(xcb);
        m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (m_deviceId < 0 || !m_context)
            throw KeyboardError("Cannot find the X core keyboard");

        XkbSelectEvents(m_display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask | XkbStateNotifyMask,
                        XkbNewKeyboardNotifyMask | XkbMapNotifyMask | XkbStateNotifyMask);
        XkbSelectEventDetails(m_display, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask,
                              XkbGroupStateMask | XkbModifierLockMask);
        XkbStateRec state{};
        if (XkbGetState(m_display, XkbUseCoreKbd, &state) == Success) {
            m_group = state.group;
            m_lockedMods = state.locked_mods & LockMask;
        }
        loadKeymap();

        XKeyboardState keyboard{};
        XGetKeyboardControl(m_display, &keyboard);
        std::copy(std::begin(keyboard.auto_repeats), std::end(keyboard.auto_repeats), m_userRepeat.begin());

        int minKey = 0, maxKey = 0;
        XDisplayKeycodes(m_display, &minKey, &maxKey);
        KeySym* syms =
            XGetKeyboardMapping(m_display, static_cast<KeyCode>(minKey), maxKey - minKey + 1, &m_keysymsPerKey);
        if (syms) {
            for (int key = minKey; key <= maxKey; ++key) {
                const KeySym* row = syms + static_cast<size_t>(key - minKey) * static_cast<size_t>(m_keysymsPerKey);
                if (std::all_of(row, row + m_keysymsPerKey, [](KeySym s) { return s == NoSymbol; }))
                    m_spareKeys.push_back(static_cast<unsigned>(key));
            }
            XFree(syms);
        }
    } catch (...) {
        close();
        throw;
    }
}

XTestKeyboard::~XTestKeyboard() {
    try {
        if (m_stream && !m_lost)
            m_stream->releaseAll();
    } catch (const KeyboardError&) {
        // Closing regardless.
    }
    close();
}

void XTestKeyboard::close() {
    if (m_display && !m_lost) {
        for (unsigned key : m_repeatSuppressed) {
            XKeyboardControl control{};
            control.key = static_cast<int>(key);
            control.auto_repeat_mode = AutoRepeatModeOn;
            XChangeKeyboardControl(m_display, KBKey | KBAutoRepeatMode, &control);
        }
        m_repeatSuppressed.clear();
        unbindSpareKeys();
        XSync(m_display, False);
    }
    m_stream.reset();
    m_planner.reset();
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    m_keymap = nullptr;
    if (m_context)
        xkb_context_unref(m_context);
    m_context = nullptr;
    // After a broken connection XCloseDisplay can wait for ever on Xlib's own lock: the dead connection is left.
    if (m_display && !m_lost)
        XCloseDisplay(m_display);
    m_display = nullptr;
}

void XTestKeyboard::loadKeymap() {
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(m_context, XGetXCBConnection(m_display), m_deviceId,
                                                        XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        // libxkbcommon asks through XCB, which breaks without Xlib noticing.
        if (m_display && xcb_connection_has_error(XGetXCBConnection(m_display)))
            m_lost = true;
        throwIfLost();
        throw KeyboardError("Cannot read the keymap of the X server");
    }
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    m_keymap = keymap;
    auto planner = std::make_unique<xkb::KeyPlanner>(m_keymap, m_group, m_lockedMods);
    if (m_stream)
        m_stream->setPlanner(*planner);
    else
        m_stream = std::make_unique<xkb::KeyStream>(*planner, m_sink);
    m_planner = std::move(planner);
}

void XTestKeyboard::followChanges() {
    bool reload = false;
    bool regroup = false;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == MappingNotify) {
            reload = true;
        } else if (event.type == m_xkbEventType) {
            const auto* xkbEvent = reinterpret_cast<const XkbEvent*>(&event);
            if (xkbEvent->any.xkb_type == XkbStateNotify) {
                if (static_cast<unsigned>(xkbEvent->state.group) != m_group) {
                    m_group = static_cast<unsigned>(xkbEvent->state.group);
                    regroup = true;
                }
                // Caps Lock changes which level types a letter: the plans follow it.
                if ((xkbEvent->state.locked_mods & LockMask) != m_lockedMods) {
                    m_lockedMods = xkbEvent->state.locked_mods & LockMask;
                    regroup = true;
                }
            } else {
                reload = true;
            }
        }
    }
    throwIfLost();
    if (reload) {
        loadKeymap();
    } else if (regroup) {
        auto planner = std::make_unique<xkb::KeyPlanner>(m_keymap, m_group, m_lockedMods);
        m_stream->setPlanner(*planner);
        m_planner = std::move(planner);
    }
}

void XTestKeyboard::sendKey(unsigned keycode, bool press) {
    // The server repeats a key that is held longer than the repeat delay, and the keyboard output holds
    // each key for its delay. Repeat is switched off for the key while we hold it.
    const bool repeats = keycode < 256 && (m_userRepeat[keycode / 8] & (1 << (keycode % 8)));
    if (press && repeats && m_repeatSuppressed.insert(keycode).second) {
        XKeyboardControl control{};
        control.key = static_cast<int>(keycode);
        control.auto_repeat_mode = AutoRepeatModeOff;
        XChangeKeyboardControl(m_display, KBKey | KBAutoRepeatMode, &control);
    }
    XTestFakeKeyEvent(m_display, keycode, press ? True : False, CurrentTime);
    if (!press && m_repeatSuppressed.erase(keycode)) {
        XKeyboardControl control{};
        control.key = static_cast<int>(keycode);
        control.auto_repeat_mode = AutoRepeatModeOn;
        XChangeKeyboardControl(m_display, KBKey | KBAutoRepeatMode, &control);
    }
}

xkb::KeySink::SpareKey XTestKeyboard::bindSpareKey(unsigned long keysym) {
    // A letter with two cases is bound as the pair (lower, upper), which the server treats as an alphabetic
    // key: Shift picks the other case, and with Caps Lock on Shift picks the lower one. Either case is then
    // typed whatever the lock, as Alt codes are. Other symbols are bound alone on every level.
    const auto lower = static_cast<unsigned long>(xkb_keysym_to_lower(static_cast<xkb_keysym_t>(keysym)));
    const auto upper = static_cast<unsigned long>(xkb_keysym_to_upper(static_cast<xkb_keysym_t>(keysym)));
    const bool cased = lower != upper;
    const bool shift = cased && ((keysym == upper) != (m_lockedMods != 0));
    const unsigned long bound = cased ? lower : keysym;
    if (const auto it = m_boundSpare.find(bound); it != m_boundSpare.end()) {
        m_spareKeys.erase(std::find(m_spareKeys.begin(), m_spareKeys.end(), it->second));
        m_spareKeys.push_back(it->second);
        return {it->second, shift};
    }
    if (m_spareKeys.empty() || m_keysymsPerKey <= 0)
        return {};
    // Bindings are kept while the device lives: an application looks a key up when it handles the event, so
    // unbinding right after the press could make it see no symbol at all.
    const unsigned key = m_spareKeys.front();
    m_spareKeys.pop_front();
    m_spareKeys.push_back(key);
    std::erase_if(m_boundSpare, [key](const auto& entry) { return entry.second == key; });
    std::vector<KeySym> syms(static_cast<size_t>(m_keysymsPerKey), static_cast<KeySym>(keysym));
    if (cased) {
        std::fill(syms.begin(), syms.end(), NoSymbol);
        for (size_t i = 0; i < syms.size() && i < 4; ++i)
            syms[i] = static_cast<KeySym>(i % 2 == 0 ? lower : upper);
    }
    XChangeKeyboardMapping(m_display, static_cast<int>(key), m_keysymsPerKey, syms.data(), 1);
    XSync(m_display, False);
    m_boundSpare[bound] = key;
    return {key, shift};
}

void XTestKeyboard::unbindSpareKeys() {
    if (m_boundSpare.empty())
        return;
    // Give the applications time to handle the last keys before their symbols go away.
    XSync(m_display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<KeySym> none(static_cast<size_t>(m_keysymsPerKey), NoSymbol);
    for (const auto& entry : m_boundSpare)
        XChangeKeyboardMapping(m_display, static_cast<int>(entry.second), m_keysymsPerKey, none.data(), 1);
    m_boundSpare.clear();
}

void XTestKeyboard::keyPress(int keyCode) {
    throwIfLost();
    if (!m_inCharacter && m_stream->idle())
        followChanges();
    m_stream->press(keyCode);
}

void XTestKeyboard::keyRelease(int keyCode) {
    throwIfLost();
    m_stream->release(keyCode);
}

void XTestKeyboard::delay(int milliseconds) {
    throwIfLost();
    if (milliseconds <= 0) {
        XFlush(m_display);
        throwIfLost();
        return;
    }
    // The events must reach the server before the pause, or the pause would not separate them.
    XSync(m_display, False);
    throwIfLost();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool XTestKeyboard::isCapsLockOn() {
    if (m_lost)
        return false;
    Bool on = False;
    int index = 0;
    const Atom capsLock = XInternAtom(m_display, "Caps Lock", False);
    if (XkbGetNamedIndicator(m_display, capsLock, &index, &on, nullptr, nullptr))
        return on;
    XkbStateRec state{};
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) == Success)
        return (state.locked_mods & LockMask) != 0;
    return false;
}

void XTestKeyboard::beginCharacter(char32_t character, std::span<const int> sequence) {
    throwIfLost();
    followChanges();
    throwIfLost();
    m_inCharacter = true;
    m_stream->begin(character, sequence);
}

void XTestKeyboard::endCharacter() {
    throwIfLost();
    m_inCharacter = false;
    m_stream->end();
}

} // namespace tavlo::platform
