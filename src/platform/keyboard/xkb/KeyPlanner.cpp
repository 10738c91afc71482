#include "platform/keyboard/xkb/KeyPlanner.h"

#include "platform/keyboard/xkb/KeySymbols.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <memory>

namespace tavlo::platform::xkb {

namespace {

struct StateDeleter {
    void operator()(xkb_state* s) const { xkb_state_unref(s); }
};

} // namespace

KeyPlanner::KeyPlanner(xkb_keymap* keymap, xkb_layout_index_t layout, xkb_mod_mask_t lockedMods)
    : m_keymap(xkb_keymap_ref(keymap)), m_layout(layout < xkb_keymap_num_layouts(keymap) ? layout : 0),
      m_lockedMods(lockedMods) {
    m_shift = keyFor(XKB_KEY_Shift_L);
    if (!m_shift)
        m_shift = keyFor(XKB_KEY_Shift_R);
    m_control = keyFor(XKB_KEY_Control_L);
    if (!m_control)
        m_control = keyFor(XKB_KEY_Control_R);
    m_alt = keyFor(XKB_KEY_Alt_L);
    // The right Alt key where it is AltGr: a real key, unlike the LVL3 placeholder that also carries it.
    const xkb_keycode_t rightAlt = xkb_keymap_key_by_name(m_keymap, "RALT");
    const xkb_keysym_t* syms = nullptr;
    if (rightAlt != XKB_KEYCODE_INVALID && xkb_keymap_num_layouts_for_key(m_keymap, rightAlt) > 0 &&
        xkb_keymap_key_get_syms_by_level(m_keymap, rightAlt, layoutOf(rightAlt), 0, &syms) == 1 &&
        syms[0] == XKB_KEY_ISO_Level3_Shift)
        m_level3 = rightAlt;
    else
        m_level3 = keyFor(XKB_KEY_ISO_Level3_Shift);
    m_space = keyFor(XKB_KEY_space);
}

KeyPlanner::~KeyPlanner() {
    xkb_keymap_unref(m_keymap);
}

// A key with fewer groups than the active one wraps around, as XKB does by default.
xkb_layout_index_t KeyPlanner::layoutOf(xkb_keycode_t key) const {
    const xkb_layout_index_t n = xkb_keymap_num_layouts_for_key(m_keymap, key);
    return n == 0 ? 0 : m_layout % n;
}

xkb_keycode_t KeyPlanner::keyFor(xkb_keysym_t keysym) const {
    if (keysym == XKB_KEY_NoSymbol)
        return 0;
    xkb_keycode_t best = 0;
    xkb_level_index_t bestLevel = 0;
    const xkb_keycode_t last = xkb_keymap_max_keycode(m_keymap);
    for (xkb_keycode_t key = xkb_keymap_min_keycode(m_keymap); key <= last; ++key) {
        if (xkb_keymap_num_layouts_for_key(m_keymap, key) == 0)
            continue;
        const xkb_layout_index_t layout = layoutOf(key);
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(m_keymap, key, layout);
        for (xkb_level_index_t level = 0; level < levels && (!best || level < bestLevel); ++level) {
            const xkb_keysym_t* syms = nullptr;
            const int n = xkb_keymap_key_get_syms_by_level(m_keymap, key, layout, level, &syms);
            if (n == 1 && syms[0] == keysym) {
                best = key;
                bestLevel = level;
                break;
            }
        }
    }
    return best;
}

xkb_keycode_t KeyPlanner::keyForCode(int keyCode) const {
    return keyFor(KeySymbols::forKeyCode(keyCode));
}

std::optional<std::u32string> KeyPlanner::produce(const KeyActions& actions) const {
    std::unique_ptr<xkb_state, StateDeleter> state(xkb_state_new(m_keymap));
    if (!state)
        return std::nullopt;
    xkb_state_update_mask(state.get(), 0, 0, m_lockedMods, 0, 0, m_layout);
    std::u32string out;
    xkb_keysym_t dead = XKB_KEY_NoSymbol;
    for (const KeyAction& a : actions) {
        if (a.press) {
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(state.get(), a.keycode);
            if (!KeySymbols::isModifier(sym)) {
                if (dead != XKB_KEY_NoSymbol) {
                    const char32_t alone = KeySymbols::deadKeyAlone(dead);
                    if (sym != XKB_KEY_space || alone == 0)
                        return std::nullopt;
                    out += alone;
                    dead = XKB_KEY_NoSymbol;
                } else if (KeySymbols::isDeadKey(sym)) {
                    dead = sym;
                } else {
                    const uint32_t c = xkb_state_key_get_utf32(state.get(), a.keycode);
                    if (c == 0)
                        return std::nullopt;
                    out += static_cast<char32_t>(c);
                }
            }
        }
        xkb_state_update_key(state.get(), a.keycode, a.press ? XKB_KEY_DOWN : XKB_KEY_UP);
    }
    if (dead != XKB_KEY_NoSymbol)
        return std::nullopt;
    return out;
}

std::optional<std::vector<xkb_keycode_t>> KeyPlanner::chordFor(char32_t character) const {
    return findChord(xkb_utf32_to_keysym(character), character, false);
}

std::optional<std::vector<xkb_keycode_t>> KeyPlanner::deadChordFor(char32_t character) const {
    if (!m_space)
        return std::nullopt;
    for (xkb_keysym_t dead = XKB_KEY_dead_grave; dead <= XKB_KEY_dead_diaeresis; ++dead)
        if (KeySymbols::deadKeyAlone(dead) == character)
            if (auto chord = findChord(dead, character, true))
                return chord;
    return std::nullopt;
}

std::optional<std::vector<xkb_keycode_t>> KeyPlanner::findChord(xkb_keysym_t keysym, char32_t character,
                                                                bool spaceAfter) const {
    if (keysym == XKB_KEY_NoSymbol)
        return std::nullopt;
    std::vector<std::vector<xkb_keycode_t>> modifierSets{{}};
    if (m_shift)
        modifierSets.push_back({m_shift});
    if (m_level3) {
        modifierSets.push_back({m_level3});
        if (m_shift)
            modifierSets.push_back({m_shift, m_level3});
    }
    const std::u32string wanted(1, character);
    const xkb_keycode_t last = xkb_keymap_max_keycode(m_keymap);
    for (const auto& modifiers : modifierSets) {
        for (xkb_keycode_t key = xkb_keymap_min_keycode(m_keymap); key <= last; ++key) {
            if (xkb_keymap_num_layouts_for_key(m_keymap, key) == 0)
                continue;
            const xkb_layout_index_t layout = layoutOf(key);
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(m_keymap, key, layout);
            bool carries = false;
            for (xkb_level_index_t level = 0; level < levels && !carries; ++level) {
                const xkb_keysym_t* syms = nullptr;
                const int n = xkb_keymap_key_get_syms_by_level(m_keymap, key, layout, level, &syms);
                carries = n == 1 && syms[0] == keysym;
            }
            if (!carries)
                continue;
            KeyActions actions;
            for (xkb_keycode_t m : modifiers)
                actions.push_back({m, true});
            actions.push_back({key, true});
            actions.push_back({key, false});
            for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
                actions.push_back({*it, false});
            if (spaceAfter) {
                actions.push_back({m_space, true});
                actions.push_back({m_space, false});
            }
            if (produce(actions) == wanted) {
                std::vector<xkb_keycode_t> chord = modifiers;
                chord.push_back(key);
                return chord;
            }
        }
    }
    return std::nullopt;
}

} // namespace tavlo::platform::xkb
