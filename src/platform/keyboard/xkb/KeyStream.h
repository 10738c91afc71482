#pragma once

#include "platform/keyboard/xkb/KeyPlanner.h"

#include <map>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavlo::platform::xkb {

// Where a KeyStream sends physical key events.
class KeySink {
public:
    virtual ~KeySink() = default;
    virtual void key(xkb_keycode_t keycode, bool press) = 0;
    // A key bound to the symbol for the moment, for a character that no key of the layout types, and whether
    // Shift is held with it; key 0 when the desktop cannot bind keys (then such a character cannot be typed).
    struct SpareKey {
        xkb_keycode_t key = 0;
        bool shift = false;
    };
    virtual SpareKey spareKeyFor(xkb_keysym_t keysym) {
        (void)keysym;
        return {};
    }
};

// Turns the program's key events (platform/KeyCodes.h) into physical key events of an XKB layout.
//
// Control held together with Alt is the AltGr chord: Control is held back until the next code shows whether
// Alt follows, and the pair becomes the layout's ISO_Level3_Shift key, so the application never sees Control
// with AltGr. A lone Alt starts an Alt code; XKB has none, so the keypad digits are collected and the character
// itself is typed when Alt is released. With the character hint (begin), a sequence that this layout would not
// turn into its character is replaced by the keys that type the character itself, and its other keys are dropped.
class KeyStream {
public:
    KeyStream(const KeyPlanner& planner, KeySink& sink) : m_planner(&planner), m_sink(&sink) {}

    // Switches to another layout (after a keymap or group change), between characters.
    void setPlanner(const KeyPlanner& planner);

    void begin(char32_t character, std::span<const int> sequence);
    void end();
    void press(int keyCode);
    void release(int keyCode);
    // Releases every key still held.
    void releaseAll();
    // No key held and no chord or Alt code under way: the layout may be switched.
    bool idle() const { return m_down.empty() && !m_altCode && !m_controlPending && !m_controlDown && !m_altGrDown; }

    // Whether this layout turns the sequence, typed key by key, into exactly the character.
    bool producesFaithfully(char32_t character, std::span<const int> sequence);

private:
    void send(xkb_keycode_t keycode, bool press);
    void sendPendingControl();
    // The keys held to type a character by itself; a dead key's accent needs a Space tap after them.
    struct CharacterKeys {
        std::vector<xkb_keycode_t> keys;
        bool spaceAfter = false;
    };
    // Presses the keys that type the character itself; KeyboardError when there are none.
    CharacterKeys pressCharacter(char32_t character);
    void releaseCharacter(const CharacterKeys& held);
    void reset();

    const KeyPlanner* m_planner;
    KeySink* m_sink;
    char32_t m_character = 0;
    bool m_direct = false;
    bool m_directTyped = false;
    int m_directCode = 0;
    CharacterKeys m_directKeys;
    bool m_controlPending = false;
    bool m_controlDown = false;
    bool m_altGrDown = false;
    bool m_altCode = false;
    char32_t m_altValue = 0;
    std::map<int, xkb_keycode_t> m_pressed; // program key code -> key held for it
    std::multiset<xkb_keycode_t> m_down;
    std::unordered_map<std::u32string, bool> m_faithful; // character followed by its sequence -> answer
};

} // namespace tavlo::platform::xkb
