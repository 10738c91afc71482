#include "platform/keyboard/wayland/VirtualKeyboardTranslator.h"

#include "platform/KeyboardDevice.h"

#include <cstdlib>

namespace tavlo::platform {

VirtualKeyboardTranslator::LayoutNames VirtualKeyboardTranslator::layoutFor(const std::string& keyboardType) {
    if (keyboardType == "US_INTERNATIONAL")
        return {"us", "intl"};
    if (keyboardType == "GERMAN")
        return {"de", ""};
    if (keyboardType == "AZERTY")
        return {"fr", ""};
    return {"us", ""};
}

VirtualKeyboardTranslator::Sink::Sink(xkb_keymap* keymap, VirtualKeyEvents& events)
    : m_state(xkb_state_new(keymap)), m_events(events) {
    if (!m_state)
        throw KeyboardError("Cannot create the XKB state of the virtual keyboard");
}

VirtualKeyboardTranslator::Sink::~Sink() {
    xkb_state_unref(m_state);
}

void VirtualKeyboardTranslator::Sink::key(xkb_keycode_t keycode, bool press) {
    m_events.key(keycode - 8, press);
    const auto changed = xkb_state_update_key(m_state, keycode, press ? XKB_KEY_DOWN : XKB_KEY_UP);
    if (changed &
        (XKB_STATE_MODS_DEPRESSED | XKB_STATE_MODS_LATCHED | XKB_STATE_MODS_LOCKED | XKB_STATE_LAYOUT_EFFECTIVE))
        m_events.modifiers(xkb_state_serialize_mods(m_state, XKB_STATE_MODS_DEPRESSED),
                           xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LATCHED),
                           xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LOCKED),
                           xkb_state_serialize_layout(m_state, XKB_STATE_LAYOUT_EFFECTIVE));
}

VirtualKeyboardTranslator::VirtualKeyboardTranslator(const std::string& keyboardType, VirtualKeyEvents& events)
    : m_names(layoutFor(keyboardType)) {
    // The names are ours alone: XKB_DEFAULT_* of the environment must not change the uploaded keymap.
    m_context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!m_context)
        throw KeyboardError("Cannot create the XKB context");
    const xkb_rule_names names{"evdev", "pc105", m_names.layout.c_str(),
                               m_names.variant.empty() ? nullptr : m_names.variant.c_str(), nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
    if (!text) {
        xkb_keymap_unref(keymap);
        xkb_context_unref(m_context);
        throw KeyboardError("Cannot compile the XKB layout " + m_names.layout +
                            (m_names.variant.empty() ? "" : "(" + m_names.variant + ")"));
    }
    m_keymapText = text;
    std::free(text);
    try {
        m_planner = std::make_unique<xkb::KeyPlanner>(keymap, 0);
        m_sink = std::make_unique<Sink>(keymap, events);
    } catch (...) {
        xkb_keymap_unref(keymap);
        xkb_context_unref(m_context);
        throw;
    }
    xkb_keymap_unref(keymap);
    m_stream = std::make_unique<xkb::KeyStream>(*m_planner, *m_sink);
}

VirtualKeyboardTranslator::~VirtualKeyboardTranslator() {
    m_stream.reset();
    m_sink.reset();
    m_planner.reset();
    xkb_context_unref(m_context);
}

std::string VirtualKeyboardTranslator::layoutNote() const {
    return "Keyboard layout of the virtual keyboard: " + m_names.layout +
           (m_names.variant.empty() ? "" : "(" + m_names.variant + ")") +
           " (sent to the compositor with the keys; its own layout does not matter)";
}

} // namespace tavlo::platform
