#pragma once

#include "platform/KeyboardDevice.h"
#include "platform/keyboard/xkb/KeyPlanner.h"
#include "platform/keyboard/xkb/KeyStream.h"

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>

typedef struct _XDisplay Display;
struct xkb_context;

namespace tavlo::platform {

// Synthetic keys on an X server through XTest, with the server's live keymap: program key code -> key symbol ->
// the key that carries it now. The keymap and the active group are followed while typing.
class XTestKeyboard : public KeyboardDevice {
public:
    // The display named by DISPLAY, or the given one. KeyboardError when it cannot be reached or lacks XTest/XKB.
    explicit XTestKeyboard(const std::string& displayName = std::string());
    ~XTestKeyboard() override;
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    // KeyboardLost once the connection to the X server has broken (the server ended).
    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    // The Caps Lock indicator of the core keyboard.
    bool isCapsLockOn() override;
    void beginCharacter(char32_t character, std::span<const int> sequence) override;
    void endCharacter() override;

private:
    class Sink : public xkb::KeySink {
    public:
        explicit Sink(XTestKeyboard& owner) : m_owner(owner) {}
        void key(xkb_keycode_t keycode, bool press) override { m_owner.sendKey(keycode, press); }
        SpareKey spareKeyFor(xkb_keysym_t keysym) override { return m_owner.bindSpareKey(keysym); }

    private:
        XTestKeyboard& m_owner;
    };

    void sendKey(unsigned keycode, bool press);
    xkb::KeySink::SpareKey bindSpareKey(unsigned long keysym);
    void unbindSpareKeys();
    // Follows keymap and group changes announced since the last call; between characters only.
    void followChanges();
    void loadKeymap();
    void close();
    void throwIfLost() const;
    // Xlib's exit handler of the display: the connection broke.
    static void onDisplayLost(Display* display, void* self);

    Display* m_display = nullptr;
    std::string m_name; // the display's name, for the messages
    bool m_lost = false;
    int m_xkbEventType = 0;
    int m_deviceId = -1;
    xkb_context* m_context = nullptr;
    xkb_keymap* m_keymap = nullptr;
    unsigned m_group = 0;
    unsigned m_lockedMods = 0; // Caps Lock only: the one lock that changes characters the plans choose
    std::unique_ptr<xkb::KeyPlanner> m_planner;
    Sink m_sink{*this};
    std::unique_ptr<xkb::KeyStream> m_stream;
    bool m_inCharacter = false;
    // The user's per-key auto-repeat, and the keys whose repeat is off while we hold them.
    std::array<char, 32> m_userRepeat{};
    std::set<unsigned> m_repeatSuppressed;
    // Keys without symbols that can be bound to a character no other key types; least recently used first.
    std::deque<unsigned> m_spareKeys;
    std::map<unsigned long, unsigned> m_boundSpare; // keysym -> key
    int m_keysymsPerKey = 0;
};

} // namespace tavlo::platform
