#include "platform/keyboard/uinput/UinputTranslator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tavlo::platform {

UinputTranslator::LayoutNames UinputTranslator::layoutFor(const std::string& keyboardType) {
    if (keyboardType == "QUERTY")
        return {"us", "", "the keyboard type"};
    if (keyboardType == "US_INTERNATIONAL")
        return {"us", "intl", "the keyboard type"};
    if (keyboardType == "GERMAN")
        return {"de", "", "the keyboard type"};
    if (keyboardType == "AZERTY")
        return {"fr", "", "the keyboard type"};
    return desktopLayout(systemLayoutSources());
}

namespace {

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n\"'");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n\"'");
    return text.substr(first, last - first + 1);
}

// "de,us" gives "de"; an empty first entry stays empty.
std::string firstEntry(const std::string& list) {
    return trim(list.substr(0, list.find(',')));
}

// The value after "name" and the separator (":" or "=") on the line that starts with name.
std::string valueOf(const std::string& text, const std::string& name, char separator) {
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        const std::string line = trim(text.substr(from, end - from));
        if (line.compare(0, name.size(), name) == 0) {
            const std::string rest = trim(line.substr(name.size()));
            if (!rest.empty() && rest[0] == separator)
                return trim(rest.substr(1));
        }
        from = end + 1;
    }
    return {};
}

std::string readFile(const char* path) {
    std::string text;
    if (std::FILE* f = std::fopen(path, "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < 65536)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

std::string runLocalectl() {
    // Bounded in time: without a running system manager localectl may wait for its bus.
    std::string text;
    if (std::FILE* p = ::popen("timeout 2 localectl status 2>/dev/null", "r")) {
        char buffer[1024];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0 && text.size() < 65536)
            text.append(buffer, n);
        ::pclose(p);
    }
    return text;
}

} // namespace

UinputTranslator::LayoutSources UinputTranslator::systemLayoutSources() {
    const char* layout = std::getenv("XKB_DEFAULT_LAYOUT");
    const char* variant = std::getenv("XKB_DEFAULT_VARIANT");
    return {layout ? layout : "", variant ? variant : "", &runLocalectl, readFile("/etc/default/keyboard")};
}

UinputTranslator::LayoutNames UinputTranslator::desktopLayout(const LayoutSources& sources) {
    if (const std::string layout = firstEntry(sources.environmentLayout); !layout.empty())
        return {layout, firstEntry(sources.environmentVariant), "XKB_DEFAULT_LAYOUT"};
    if (sources.localectlStatus) {
        const std::string status = sources.localectlStatus();
        // localectl says "n/a" where no layout is set.
        if (const std::string layout = firstEntry(valueOf(status, "X11 Layout", ':'));
            !layout.empty() && layout != "n/a")
            return {layout, firstEntry(valueOf(status, "X11 Variant", ':')), "localectl status"};
    }
    if (const std::string layout = firstEntry(valueOf(sources.keyboardFile, "XKBLAYOUT", '=')); !layout.empty())
        return {layout, firstEntry(valueOf(sources.keyboardFile, "XKBVARIANT", '=')), "/etc/default/keyboard"};
    return {"us", "", "default"};
}

std::string UinputTranslator::layoutNote() const {
    std::string name = m_names.layout + (m_names.variant.empty() ? "" : "(" + m_names.variant + ")");
    if (m_names.source.empty())
        return "Keyboard layout of the uinput device: " + name;
    return "Keyboard layout of the uinput device: " + name + " (from " + m_names.source + ")";
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
