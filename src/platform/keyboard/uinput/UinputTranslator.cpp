#include "platform/keyboard/uinput/UinputTranslator.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace tavlo::platform {

UinputTranslator::LayoutNames UinputTranslator::layoutFor(const std::string& keyboardType) {
    if (keyboardType == "QUERTY")
        return {"us", ""};
    if (keyboardType == "US_INTERNATIONAL")
        return {"us", "intl"};
    if (keyboardType == "GERMAN")
        return {"de", ""};
    if (keyboardType == "AZERTY")
        return {"fr", ""};
    const char* layout = std::getenv("XKB_DEFAULT_LAYOUT");
    if (layout && *layout) {
        const char* variant = std::getenv("XKB_DEFAULT_VARIANT");
        return {layout, variant ? variant : ""};
    }
    return {"us", ""};
}

UinputTranslator::UinputTranslator(const std::string& keyboardType, Emit emit)
    : m_names(layoutFor(keyboardType)), m_sink(std::move(emit)) {
    m_context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!m_context)
        throw KeyboardError("Cannot create the XKB context");
    const xkb_rule_names names{"evdev", "pc105", m_names.layout.c_str(),
                               m_names.variant.empty() ? nullptr : m_names.variant.c_str(), nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        xkb_context_unref(m_context);
        throw KeyboardError("Cannot compile the XKB layout " + m_names.layout +
                            (m_names.variant.empty() ? "" : "(" + m_names.variant + ")"));
    }
    m_planner = std::make_unique<xkb::KeyPlanner>(keymap, 0);
    xkb_keymap_unref(keymap);
    m_stream = std::make_unique<xkb::KeyStream>(*m_planner, m_sink);
}

UinputTranslator::~UinputTranslator() {
    m_stream.reset();
    m_planner.reset();
    xkb_context_unref(m_context);
}

void UinputTranslator::keyPress(int keyCode) {
    m_stream->press(keyCode);
}

void UinputTranslator::keyRelease(int keyCode) {
    m_stream->release(keyCode);
}

void UinputTranslator::delay(int milliseconds) {
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void UinputTranslator::beginCharacter(char32_t character, std::span<const int> sequence) {
    m_stream->begin(character, sequence);
}

void UinputTranslator::endCharacter() {
    m_stream->end();
}

} // namespace tavlo::platform
