// The key maps against the real XKB layout data: every character typed through the uinput translation and fed
// into an independent libxkbcommon state with the standard compose table must come out as itself.
#include "platform/Desktop.h"
#include "platform/keyboard/uinput/UinputKeyboard.h"
#include "platform/keyboard/uinput/UinputTranslator.h"
#include "worker/Keybot.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <unistd.h>

using tavlo::platform::KeyboardDevice;
using tavlo::platform::UinputTranslator;
using tavlo::worker::Keybot;
using KT = tavlo::config::ConfigHelper::KeyboardType;
using KMT = tavlo::config::ConfigHelper::KeyMapType;

namespace {

// What an application on that layout receives from evdev key events, compose sequences included.
class LayoutOracle {
public:
    LayoutOracle(const std::string& layout, const std::string& variant) {
        m_context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        const xkb_rule_names names{"evdev", "pc105", layout.c_str(), variant.empty() ? nullptr : variant.c_str(),
                                   nullptr};
        m_keymap = xkb_keymap_new_from_names(m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        m_state = m_keymap ? xkb_state_new(m_keymap) : nullptr;
        m_table = xkb_compose_table_new_from_locale(m_context, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
        m_compose = m_table ? xkb_compose_state_new(m_table, XKB_COMPOSE_STATE_NO_FLAGS) : nullptr;
    }
    ~LayoutOracle() {
        xkb_compose_state_unref(m_compose);
        xkb_compose_table_unref(m_table);
        xkb_state_unref(m_state);
        xkb_keymap_unref(m_keymap);
        xkb_context_unref(m_context);
    }
    bool ready() const { return m_state && m_compose; }

    void key(int evdevCode, bool press) {
        const xkb_keycode_t key = static_cast<xkb_keycode_t>(evdevCode + 8);
        if (press) {
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(m_state, key);
            if (xkb_compose_state_feed(m_compose, sym) == XKB_COMPOSE_FEED_ACCEPTED) {
                switch (xkb_compose_state_get_status(m_compose)) {
                case XKB_COMPOSE_COMPOSED: {
                    char buffer[16];
                    xkb_compose_state_get_utf8(m_compose, buffer, sizeof buffer);
                    m_text += buffer;
                    xkb_compose_state_reset(m_compose);
                    break;
                }
                case XKB_COMPOSE_NOTHING: {
                    char buffer[16];
                    if (xkb_state_key_get_utf8(m_state, key, buffer, sizeof buffer) > 0)
                        m_text += buffer;
                    break;
                }
                case XKB_COMPOSE_CANCELLED:
                    xkb_compose_state_reset(m_compose);
                    break;
                case XKB_COMPOSE_COMPOSING:
                    break;
                }
            }
        }
        xkb_state_update_key(m_state, key, press ? XKB_KEY_DOWN : XKB_KEY_UP);
        if (!press)
            ++m_releases;
        m_down += press ? 1 : -1;
    }
    // Text so far; a dead key still waiting shows as "<pending>".
    std::string take() {
        std::string out = m_text;
        if (xkb_compose_state_get_status(m_compose) == XKB_COMPOSE_COMPOSING)
            out += "<pending>";
        xkb_compose_state_reset(m_compose);
        m_text.clear();
        return out;
    }
    int keysDown() const { return m_down; }

private:
    xkb_context* m_context = nullptr;
    xkb_keymap* m_keymap = nullptr;
    xkb_state* m_state = nullptr;
    xkb_compose_table* m_table = nullptr;
    xkb_compose_state* m_compose = nullptr;
    std::string m_text;
    int m_releases = 0;
    int m_down = 0;
};

// Passes key events on but withholds the character hint: the key map's sequences exactly as they stand.
class WithoutHints : public KeyboardDevice {
public:
    explicit WithoutHints(std::unique_ptr<KeyboardDevice> inner) : m_inner(std::move(inner)) {}
    void keyPress(int code) override { m_inner->keyPress(code); }
    void keyRelease(int code) override { m_inner->keyRelease(code); }
    void delay(int ms) override { m_inner->delay(ms); }
    bool isCapsLockOn() override { return false; }

private:
    std::unique_ptr<KeyboardDevice> m_inner;
};

struct LayoutCase {
    const KT* type;
    const char* defaultLayout; // XKB_DEFAULT_LAYOUT for ALL
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.type->nameLatin1() << (c.defaultLayout ? std::string("/") + c.defaultLayout : "");
}

class KeyMapOnRealLayout : public ::testing::TestWithParam<LayoutCase> {
protected:
    void SetUp() override {
        if (GetParam().defaultLayout)
            setenv("XKB_DEFAULT_LAYOUT", GetParam().defaultLayout, 1);
        else
            unsetenv("XKB_DEFAULT_LAYOUT");
    }
    void TearDown() override { unsetenv("XKB_DEFAULT_LAYOUT"); }

    // Types every character of the complete map and returns those that come out wrong, with what came out.
    std::map<char, std::string> mistyped(bool hints) {
        const LayoutCase& c = GetParam();
        const auto names = UinputTranslator::layoutFor(c.type->nameLatin1());
        LayoutOracle oracle(names.layout, names.variant);
        EXPECT_TRUE(oracle.ready()) << "layout " << names.layout << " or the en_US.UTF-8 compose table is missing";
        if (!oracle.ready())
            return {};
        std::unique_ptr<KeyboardDevice> device = std::make_unique<UinputTranslator>(
            c.type->nameLatin1(), [&](int code, bool press) { oracle.key(code, press); });
        if (!hints)
            device = std::make_unique<WithoutHints>(std::move(device));
        auto keybot =
            std::make_shared<Keybot>(0, 0, 0, 0, 0, c.type, KMT::ALPHANUMERIC_COMPLETE, nullptr, std::move(device));
        std::map<char, std::string> wrong;
        for (char ch = 32; ch <= 126; ++ch) {
            keybot->typeString(QString(QChar(ch)));
            const std::string out = oracle.take();
            if (out != std::string(1, ch))
                wrong[ch] = out;
            EXPECT_EQ(oracle.keysDown(), 0) << "keys left held after '" << ch << "'";
        }
        return wrong;
    }
};

TEST_P(KeyMapOnRealLayout, EveryCharacterComesOutAsItself) {
    const auto wrong = mistyped(true);
    for (const auto& [ch, out] : wrong)
        ADD_FAILURE() << "'" << ch << "' came out as \"" << out << "\"";
}

// The sequences of the key maps that the real layouts do not turn into their character, typed as they
// stand. The backend types these characters itself (test above).
TEST_P(KeyMapOnRealLayout, SequencesThatTheLayoutDoesNotFollow) {
    static const std::map<std::string, std::map<char, std::string>> expected{
        {"QUERTY", {}}, {"US_INTERNATIONAL", {}}, {"GERMAN", {}}, {"AZERTY", {{'`', "` "}, {'~', "~ "}}}, {"ALL", {}},
    };
    const auto wrong = mistyped(false);
    EXPECT_EQ(wrong, expected.at(GetParam().type->nameLatin1()));
}

INSTANTIATE_TEST_SUITE_P(Layouts, KeyMapOnRealLayout,
                         ::testing::Values(LayoutCase{&KT::QUERTY, nullptr}, LayoutCase{&KT::US_INTERNATIONAL, nullptr},
                                           LayoutCase{&KT::GERMAN, nullptr}, LayoutCase{&KT::AZERTY, nullptr},
                                           LayoutCase{&KT::ALL, nullptr}, LayoutCase{&KT::ALL, "de"}));

TEST(UinputLayouts, KeyboardTypesChooseTheirXkbLayout) {
    unsetenv("XKB_DEFAULT_LAYOUT");
    EXPECT_EQ(UinputTranslator::layoutFor("QUERTY").layout, "us");
    EXPECT_EQ(UinputTranslator::layoutFor("US_INTERNATIONAL").variant, "intl");
    EXPECT_EQ(UinputTranslator::layoutFor("GERMAN").layout, "de");
    EXPECT_EQ(UinputTranslator::layoutFor("AZERTY").layout, "fr");
    // ALL asks the desktop; the environment comes first.
    EXPECT_EQ(UinputTranslator::layoutFor("ALL").layout,
              UinputTranslator::desktopLayout(UinputTranslator::systemLayoutSources()).layout);
    setenv("XKB_DEFAULT_LAYOUT", "fr", 1);
    EXPECT_EQ(UinputTranslator::layoutFor("ALL").layout, "fr");
    EXPECT_EQ(UinputTranslator::layoutFor("ALL").source, "XKB_DEFAULT_LAYOUT");
    unsetenv("XKB_DEFAULT_LAYOUT");
}

struct DesktopLayoutCase {
    const char* name;
    const char* environment;
    const char* localectl;
    const char* keyboardFile;
    const char* layout;
    const char* variant;
    const char* source;
};

class DesktopLayoutTest : public ::testing::TestWithParam<DesktopLayoutCase> {};

TEST_P(DesktopLayoutTest, TheFirstPlaceThatNamesALayoutWinsWithItsFirstEntry) {
    const DesktopLayoutCase& c = GetParam();
    bool asked = false;
    UinputTranslator::LayoutSources sources{c.environment, "",
                                            [&] {
                                                asked = true;
                                                return std::string(c.localectl);
                                            },
                                            c.keyboardFile};
    const auto names = UinputTranslator::desktopLayout(sources);
    EXPECT_EQ(names.layout, c.layout);
    EXPECT_EQ(names.variant, c.variant);
    EXPECT_EQ(names.source, c.source);
    if (names.source == "XKB_DEFAULT_LAYOUT") {
        EXPECT_FALSE(asked) << "localectl was run although the environment names the layout";
    }
}

constexpr const char* kLocalectl = "   System Locale: LANG=de_DE.UTF-8\n       VC Keymap: de-nodeadkeys\n"
                                   "      X11 Layout: de,us\n       X11 Model: pc105\n     X11 Variant: nodeadkeys,\n";
constexpr const char* kKeyboardFile = "# KEYBOARD CONFIGURATION FILE\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"fr\"\n"
                                      "XKBVARIANT=\"\"\nXKBOPTIONS=\"\"\n";

INSTANTIATE_TEST_SUITE_P(
    Sources, DesktopLayoutTest,
    ::testing::Values(
        DesktopLayoutCase{"environment", "ch,de", kLocalectl, kKeyboardFile, "ch", "", "XKB_DEFAULT_LAYOUT"},
        DesktopLayoutCase{"localectl", "", kLocalectl, kKeyboardFile, "de", "nodeadkeys", "localectl status"},
        DesktopLayoutCase{"keyboard_file", "", "Failed to connect to bus\n", kKeyboardFile, "fr", "",
                          "/etc/default/keyboard"},
        DesktopLayoutCase{"localectl_without_x11_layout", "", "   System Locale: LANG=C\n      X11 Layout: n/a,\n",
                          "XKBLAYOUT=it,us\nXKBVARIANT=,intl\n", "it", "", "/etc/default/keyboard"},
        DesktopLayoutCase{"nothing", "", "", "", "us", "", "default"},
        DesktopLayoutCase{"empty_first_entry", ",de", "", "XKBLAYOUT='be'", "be", "", "/etc/default/keyboard"}),
    [](const auto& info) { return std::string(info.param.name); });

// The AltGr chord reaches the application as the third level only: never together with Control.
TEST(UinputLayouts, AltGrChordSendsNoControl) {
    std::vector<std::pair<int, bool>> events;
    UinputTranslator translator("GERMAN", [&](int code, bool press) { events.emplace_back(code, press); });
    const int seq[] = {17, 18, 81};
    translator.beginCharacter(U'@', seq);
    for (int code : seq)
        translator.keyPress(code);
    for (int i = 2; i >= 0; --i)
        translator.keyRelease(seq[i]);
    translator.endCharacter();
    // 100 is the right Alt key, AltGr on the German layout; 16 the Q key.
    const std::vector<std::pair<int, bool>> expected{{100, true}, {16, true}, {16, false}, {100, false}};
    EXPECT_EQ(events, expected);
}

} // namespace

namespace {

TEST(KeyboardBackends, UnknownBackendNameIsRefused) {
    setenv("TAVLO_KEYBOARD_BACKEND", "teletype", 1);
    try {
        tavlo::platform::createKeyboardDevice("QUERTY");
        ADD_FAILURE() << "a backend that does not exist";
    } catch (const tavlo::platform::KeyboardError& e) {
        EXPECT_NE(std::string(e.what()).find("teletype"), std::string::npos) << e.what();
    }
    unsetenv("TAVLO_KEYBOARD_BACKEND");
}

TEST(KeyboardBackends, UinputWithoutDeviceNodeFailsClearly) {
    if (access("/dev/uinput", F_OK) == 0)
        GTEST_SKIP() << "this machine has /dev/uinput; creating a real keyboard is not a unit test";
    try {
        tavlo::platform::UinputKeyboard keyboard("QUERTY");
        ADD_FAILURE() << "a uinput keyboard without /dev/uinput";
    } catch (const tavlo::platform::KeyboardError& e) {
        EXPECT_NE(std::string(e.what()).find("/dev/uinput"), std::string::npos) << e.what();
    }
}

} // namespace
