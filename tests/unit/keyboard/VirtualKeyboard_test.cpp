// The Wayland virtual keyboard's translation against an independent client: the keymap it uploads, compiled from its
// text as a compositor and an application do, and the modifier state taken only from its modifier events, as a
// Wayland application receives it. Every character of every key map must come out as itself.
#include "platform/KeyCodes.h"
#include "platform/keyboard/wayland/VirtualKeyboardTranslator.h"
#include "platform/keyboard/wayland/WaylandKeyboard.h"
#include "worker/Keybot.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <map>
#include <set>
#include <variant>

using tavlo::platform::KeyboardDevice;
using tavlo::platform::VirtualKeyboardTranslator;
using tavlo::platform::VirtualKeyEvents;
using tavlo::worker::Keybot;
using KT = tavlo::config::ConfigHelper::KeyboardType;
using KMT = tavlo::config::ConfigHelper::KeyMapType;
namespace K = tavlo::platform::KeyCode;

namespace {

struct KeyEvent {
    uint32_t code;
    bool press;
    bool operator==(const KeyEvent&) const = default;
};
struct ModifiersEvent {
    uint32_t depressed, latched, locked, group;
    bool operator==(const ModifiersEvent&) const = default;
};
using Event = std::variant<KeyEvent, ModifiersEvent>;

// A Wayland application on the other end: it knows the keyboard only from the uploaded keymap and the events.
class ClientOracle : public VirtualKeyEvents {
public:
    ~ClientOracle() override {
        xkb_compose_state_unref(m_compose);
        xkb_compose_table_unref(m_table);
        xkb_state_unref(m_state);
        xkb_keymap_unref(m_keymap);
        xkb_context_unref(m_context);
    }
    // Compiles the keymap text with no include path at all: it must stand on its own, as the compositor gets it.
    bool load(const std::string& keymapText) {
        m_context = xkb_context_new(
            static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
        m_keymap = xkb_keymap_new_from_string(m_context, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                              XKB_KEYMAP_COMPILE_NO_FLAGS);
        m_state = m_keymap ? xkb_state_new(m_keymap) : nullptr;
        xkb_context* locales = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        m_table = xkb_compose_table_new_from_locale(locales, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
        xkb_context_unref(locales);
        m_compose = m_table ? xkb_compose_state_new(m_table, XKB_COMPOSE_STATE_NO_FLAGS) : nullptr;
        return m_state && m_compose;
    }

    void key(uint32_t code, bool press) override {
        m_events.push_back(KeyEvent{code, press});
        if (press)
            m_down.insert(code);
        else
            m_down.erase(code);
        if (!press)
            return;
        const xkb_keycode_t key = code + 8;
        const xkb_keysym_t sym = xkb_state_key_get_one_sym(m_state, key);
        if (xkb_compose_state_feed(m_compose, sym) != XKB_COMPOSE_FEED_ACCEPTED)
            return;
        char buffer[16];
        switch (xkb_compose_state_get_status(m_compose)) {
        case XKB_COMPOSE_COMPOSED:
            xkb_compose_state_get_utf8(m_compose, buffer, sizeof buffer);
            m_text += buffer;
            xkb_compose_state_reset(m_compose);
            break;
        case XKB_COMPOSE_NOTHING:
            if (xkb_state_key_get_utf8(m_state, key, buffer, sizeof buffer) > 0)
                m_text += buffer;
            break;
        case XKB_COMPOSE_CANCELLED:
            xkb_compose_state_reset(m_compose);
            break;
        case XKB_COMPOSE_COMPOSING:
            break;
        }
    }
    void modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) override {
        m_events.push_back(ModifiersEvent{depressed, latched, locked, group});
        xkb_state_update_mask(m_state, depressed, latched, locked, 0, 0, group);
        m_modifiers = depressed | latched | locked;
    }

    std::string take() {
        std::string out = m_text;
        if (xkb_compose_state_get_status(m_compose) == XKB_COMPOSE_COMPOSING)
            out += "<pending>";
        xkb_compose_state_reset(m_compose);
        m_text.clear();
        return out;
    }
    const std::set<uint32_t>& down() const { return m_down; }
    uint32_t modifiersNow() const { return m_modifiers; }
    std::vector<Event> takeEvents() { return std::exchange(m_events, {}); }
    uint32_t modifierBit(const char* name) const { return 1u << xkb_keymap_mod_get_index(m_keymap, name); }

private:
    xkb_context* m_context = nullptr;
    xkb_keymap* m_keymap = nullptr;
    xkb_state* m_state = nullptr;
    xkb_compose_table* m_table = nullptr;
    xkb_compose_state* m_compose = nullptr;
    std::string m_text;
    std::set<uint32_t> m_down;
    uint32_t m_modifiers = 0;
    std::vector<Event> m_events;
};

// The translation as the keyboard output drives it, without the connection.
class TranslatorDevice : public KeyboardDevice {
public:
    explicit TranslatorDevice(VirtualKeyboardTranslator& translator) : m_translator(translator) {}
    void keyPress(int code) override { m_translator.keyPress(code); }
    void keyRelease(int code) override { m_translator.keyRelease(code); }
    void delay(int) override {}
    bool isCapsLockOn() override { return false; }
    void beginCharacter(char32_t c, std::span<const int> sequence) override {
        m_translator.beginCharacter(c, sequence);
    }
    void endCharacter() override { m_translator.endCharacter(); }

private:
    VirtualKeyboardTranslator& m_translator;
};

class VirtualKeyboardLayouts : public ::testing::TestWithParam<const KT*> {};

// XKB_DEFAULT_LAYOUT names another layout: the uploaded keymap must not follow it.
TEST_P(VirtualKeyboardLayouts, EveryCharacterComesOutAsItselfWithNothingLeftHeld) {
    setenv("XKB_DEFAULT_LAYOUT", "fr", 1);
    ClientOracle client;
    VirtualKeyboardTranslator translator(GetParam()->nameLatin1(), client);
    unsetenv("XKB_DEFAULT_LAYOUT");
    ASSERT_TRUE(client.load(translator.keymapText())) << "the keymap text or the en_US.UTF-8 compose table";
    auto keybot = std::make_shared<Keybot>(0, 0, 0, 0, 0, GetParam(), KMT::ALPHANUMERIC_COMPLETE, nullptr,
                                           std::make_unique<TranslatorDevice>(translator));
    EXPECT_EQ(keybot->keyMap().size(), 95);
    for (char c = 32; c <= 126; ++c) {
        keybot->typeString(QString(QChar(c)));
        EXPECT_EQ(client.take(), std::string(1, c));
        EXPECT_TRUE(client.down().empty()) << "a key left held after '" << c << "'";
        EXPECT_EQ(client.modifiersNow(), 0u) << "a modifier left on after '" << c << "'";
    }
}

INSTANTIATE_TEST_SUITE_P(KeyboardTypes, VirtualKeyboardLayouts,
                         ::testing::Values(&KT::QUERTY, &KT::US_INTERNATIONAL, &KT::GERMAN, &KT::AZERTY, &KT::ALL),
                         [](const auto& info) { return std::string(info.param->nameLatin1()); });

struct LayoutCase {
    const char* keyboardType;
    const char* layout;
    const char* variant;
};

class VirtualKeyboardLayoutNames : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(VirtualKeyboardLayoutNames, TheKeyboardTypeChoosesTheKeymap) {
    const auto names = VirtualKeyboardTranslator::layoutFor(GetParam().keyboardType);
    EXPECT_EQ(names.layout, GetParam().layout);
    EXPECT_EQ(names.variant, GetParam().variant);
}

// "Any layout" needs no guess: the us layout holds every printable character.
INSTANTIATE_TEST_SUITE_P(Types, VirtualKeyboardLayoutNames,
                         ::testing::Values(LayoutCase{"QUERTY", "us", ""}, LayoutCase{"US_INTERNATIONAL", "us", "intl"},
                                           LayoutCase{"GERMAN", "de", ""}, LayoutCase{"AZERTY", "fr", ""},
                                           LayoutCase{"ALL", "us", ""}, LayoutCase{"SOMETHING_ELSE", "us", ""}));

// evdev codes: 42 left Shift, 30 A, 100 right Alt (AltGr on de), 16 Q.
TEST(VirtualKeyboard, TheModifiersFollowTheKeyThatChangesThem) {
    ClientOracle client;
    VirtualKeyboardTranslator translator("QUERTY", client);
    ASSERT_TRUE(client.load(translator.keymapText()));
    const uint32_t shift = client.modifierBit(XKB_MOD_NAME_SHIFT);
    const int sequence[] = {K::SHIFT, K::LETTER_A};
    translator.beginCharacter(U'A', sequence);
    translator.keyPress(K::SHIFT);
    translator.keyPress(K::LETTER_A);
    translator.keyRelease(K::LETTER_A);
    translator.keyRelease(K::SHIFT);
    translator.endCharacter();
    const std::vector<Event> expected{KeyEvent{42, true},  ModifiersEvent{shift, 0, 0, 0},
                                      KeyEvent{30, true},  KeyEvent{30, false},
                                      KeyEvent{42, false}, ModifiersEvent{0, 0, 0, 0}};
    EXPECT_EQ(client.takeEvents(), expected);
    EXPECT_EQ(client.take(), "A");
}

TEST(VirtualKeyboard, AltGrReachesTheApplicationAsTheThirdLevelWithoutControl) {
    ClientOracle client;
    VirtualKeyboardTranslator translator("GERMAN", client);
    ASSERT_TRUE(client.load(translator.keymapText()));
    const int sequence[] = {K::CONTROL, K::ALT, K::LETTER_A + 16};
    translator.beginCharacter(U'@', sequence);
    for (int code : sequence)
        translator.keyPress(code);
    for (int i = 2; i >= 0; --i)
        translator.keyRelease(sequence[i]);
    translator.endCharacter();
    const std::vector<Event> events = client.takeEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), Event(KeyEvent{100, true}));
    for (const Event& e : events)
        if (const auto* m = std::get_if<ModifiersEvent>(&e)) {
            EXPECT_EQ(m->depressed & client.modifierBit(XKB_MOD_NAME_CTRL), 0u);
        }
    EXPECT_EQ(client.take(), "@");
}

// Stopping in the middle of a chord: every key still held is released, and the modifiers come back to none.
TEST(VirtualKeyboard, ReleasingAllLetsGoOfEveryKeyHeld) {
    ClientOracle client;
    VirtualKeyboardTranslator translator("AZERTY", client);
    ASSERT_TRUE(client.load(translator.keymapText()));
    translator.keyPress(K::SHIFT);
    translator.keyPress(K::DIGIT_0 + 7);
    translator.keyPress(K::CONTROL);
    translator.keyPress(K::ALT);
    ASSERT_FALSE(client.down().empty());
    ASSERT_NE(client.modifiersNow(), 0u);
    translator.releaseAll();
    EXPECT_TRUE(client.down().empty());
    EXPECT_EQ(client.modifiersNow(), 0u);
}

TEST(VirtualKeyboard, ACompositorThatCannotBeReachedIsNamed) {
    try {
        tavlo::platform::WaylandKeyboard keyboard("QUERTY", "/nonexistent/wayland-9");
        FAIL() << "connected to a compositor that does not exist";
    } catch (const tavlo::platform::KeyboardError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot connect to the Wayland compositor /nonexistent/wayland-9"),
                  std::string::npos)
            << e.what();
    }
}

} // namespace
