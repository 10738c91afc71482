#pragma once

#include <xkbcommon/xkbcommon.h>

#include <optional>
#include <string>
#include <vector>

namespace tavlo::platform::xkb {

// One press or release of a physical key, in XKB key codes (X11 key codes; evdev codes plus 8).
struct KeyAction {
    xkb_keycode_t keycode;
    bool press;
    bool operator==(const KeyAction&) const = default;
};
using KeyActions = std::vector<KeyAction>;

// Questions about one keyboard layout (a compiled XKB keymap and the active layout group): which key carries a
// symbol, what a series of key actions types, and which keys type a character on their own.
class KeyPlanner {
public:
    // Takes its own reference to the keymap. lockedMods are the modifiers locked on the keyboard (Caps Lock):
    // the plans take them into account, so that a locked modifier does not change the characters.
    KeyPlanner(xkb_keymap* keymap, xkb_layout_index_t layout, xkb_mod_mask_t lockedMods = 0);
    ~KeyPlanner();
    KeyPlanner(const KeyPlanner&) = delete;
    KeyPlanner& operator=(const KeyPlanner&) = delete;

    xkb_keymap* keymap() const { return m_keymap; }
    xkb_layout_index_t layout() const { return m_layout; }

    // The key that carries the symbol at the lowest level of the active layout; 0 when no key does.
    xkb_keycode_t keyFor(xkb_keysym_t keysym) const;
    // The key for a program key code (platform/KeyCodes.h); 0 when the layout has none.
    xkb_keycode_t keyForCode(int keyCode) const;
    xkb_keycode_t shiftKey() const { return m_shift; }
    xkb_keycode_t controlKey() const { return m_control; }
    xkb_keycode_t altKey() const { return m_alt; }
    // The AltGr key (ISO_Level3_Shift); 0 on layouts without a third level.
    xkb_keycode_t level3Key() const { return m_level3; }

    // The text the actions type from a released keyboard, as an application with the standard compose table
    // sees it: a dead key followed by Space gives the accent alone. Nullopt when the actions leave a dead key
    // pending, combine it with anything else, or type a key without a character.
    std::optional<std::u32string> produce(const KeyActions& actions) const;

    // The keys that type the character on their own: modifier keys first, the character's key last (press in
    // this order, release in reverse). Nullopt when the layout has no such key.
    std::optional<std::vector<xkb_keycode_t>> chordFor(char32_t character) const;
    // For a character that only a dead key gives (the accent alone): the chord of that dead key, to be
    // followed by a Space tap.
    std::optional<std::vector<xkb_keycode_t>> deadChordFor(char32_t character) const;
    xkb_keycode_t spaceKey() const { return m_space; }

private:
    std::optional<std::vector<xkb_keycode_t>> findChord(xkb_keysym_t keysym, char32_t character, bool spaceAfter) const;
    xkb_layout_index_t layoutOf(xkb_keycode_t key) const;

    xkb_keymap* m_keymap;
    xkb_layout_index_t m_layout;
    xkb_mod_mask_t m_lockedMods;
    xkb_keycode_t m_shift = 0;
    xkb_keycode_t m_control = 0;
    xkb_keycode_t m_alt = 0;
    xkb_keycode_t m_level3 = 0;
    xkb_keycode_t m_space = 0;
};

} // namespace tavlo::platform::xkb
