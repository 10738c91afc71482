#include "XvfbSession.h"
#include "platform/KeyCodes.h"
#include "platform/keyboard/x11/XTestKeyboard.h"
#include "worker/Keybot.h"

#include <gtest/gtest.h>

using tavlo::platform::XTestKeyboard;
using tavlo::test::XvfbSession;
using tavlo::worker::Keybot;
using KT = tavlo::config::ConfigHelper::KeyboardType;
using KMT = tavlo::config::ConfigHelper::KeyMapType;
namespace K = tavlo::platform::KeyCode;

namespace {

class X11Typing : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_session.ok()) << m_session.error(); }

    std::shared_ptr<Keybot> keybot(const KT* layout, int delay) {
        return std::make_shared<Keybot>(delay, 0, K::ENTER, 0, 0, layout, KMT::ALPHANUMERIC_COMPLETE, nullptr,
                                        std::make_unique<XTestKeyboard>(m_session.display()));
    }

    std::string typeInto(const std::string& file, const std::shared_ptr<Keybot>& bot, const QString& value) {
        bot->typeStart();
        bot->typeString(value);
        bot->typeEnd();
        return XvfbSession::waitForContent(file, value.toUtf8().size() + 1);
    }

    static QString printableAscii() {
        QString all;
        for (char c = 32; c <= 126; ++c)
            all += QChar(c);
        return all;
    }

    XvfbSession m_session;
};

class X11TypingLayouts : public X11Typing, public ::testing::WithParamInterface<const KT*> {};

// The live layout of the server is us; every keyboard type's sequences must still give their characters.
TEST_P(X11TypingLayouts, AllPrintableAsciiArriveExactly) {
    const std::string file = m_session.openTerminal();
    ASSERT_FALSE(file.empty()) << m_session.error();
    const QString text = printableAscii();
    EXPECT_EQ(typeInto(file, keybot(GetParam(), 0), text), text.toStdString() + "\n");
}

INSTANTIATE_TEST_SUITE_P(KeyboardTypes, X11TypingLayouts,
                         ::testing::Values(&KT::QUERTY, &KT::US_INTERNATIONAL, &KT::GERMAN, &KT::AZERTY, &KT::ALL),
                         [](const auto& info) { return std::string(info.param->nameLatin1()); });

class X11TypingCapsLock : public X11Typing, public ::testing::WithParamInterface<const KT*> {};

// Alt codes ignore Caps Lock on Windows; on X11 the characters are typed as keys, and Caps Lock must not change
// them either ("AbC" came out as "aBc"). Letters outside the live layout: X11TypingSpareKeys.
TEST_P(X11TypingCapsLock, CapsLockDoesNotChangeTheCharacters) {
    const std::string file = m_session.openTerminal();
    ASSERT_FALSE(file.empty()) << m_session.error();
    ASSERT_EQ(m_session.run({"xdotool", "key", "Caps_Lock"}), 0);
    const QString text = QStringLiteral("AbC x1;Z");
    const std::string typed = typeInto(file, keybot(GetParam(), 0), text);
    ASSERT_EQ(m_session.run({"xdotool", "key", "Caps_Lock"}), 0);
    EXPECT_EQ(typed, text.toStdString() + "\n");
}

INSTANTIATE_TEST_SUITE_P(KeyboardTypes, X11TypingCapsLock, ::testing::Values(&KT::QUERTY, &KT::ALL),
                         [](const auto& info) { return std::string(info.param->nameLatin1()); });

TEST_F(X11Typing, KeysHeldForASecondDoNotRepeat) {
    const std::string file = m_session.openTerminal();
    ASSERT_FALSE(file.empty()) << m_session.error();
    const auto repeats = [&] { return m_session.autoRepeats(); };
    const std::string before = repeats();
    ASSERT_NE(before, std::string(32, '\0')) << "the server repeats no key, so the test would prove nothing";
    EXPECT_EQ(typeInto(file, keybot(&KT::QUERTY, 1000), "a1"), "a1\n");
    // The user's auto-repeat comes back once the keys are released.
    EXPECT_EQ(repeats(), before);
}

class X11TypingSpareKeys : public X11Typing, public ::testing::WithParamInterface<bool> {};

// A character that no key of the live layout carries is typed through a key bound to it for the moment; a
// letter keeps its case whether Caps Lock is on or not.
TEST_P(X11TypingSpareKeys, AltCodeOutsideTheLayoutUsesASpareKey) {
    const std::string file = m_session.openTerminal();
    ASSERT_FALSE(file.empty()) << m_session.error();
    const bool capsLock = GetParam();
    if (capsLock) {
        ASSERT_EQ(m_session.run({"xdotool", "key", "Caps_Lock"}), 0);
    }
    {
        XTestKeyboard keyboard(m_session.display());
        for (int code : {233, 8364, 201}) { // e acute, euro sign, E acute
            keyboard.keyPress(K::ALT);
            for (char d : std::to_string(code)) {
                keyboard.keyPress(K::NUMPAD_0 + (d - '0'));
                keyboard.keyRelease(K::NUMPAD_0 + (d - '0'));
            }
            keyboard.keyRelease(K::ALT);
            keyboard.delay(0);
        }
        keyboard.keyPress(K::ENTER);
        keyboard.keyRelease(K::ENTER);
        keyboard.delay(0);
        EXPECT_EQ(XvfbSession::waitForContent(file, 8), "\xc3\xa9\xe2\x82\xac\xc3\x89\n");
    }
    if (capsLock) {
        ASSERT_EQ(m_session.run({"xdotool", "key", "Caps_Lock"}), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(CapsLock, X11TypingSpareKeys, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "on" : "off"); });

TEST_F(X11Typing, CapsLockStateComesFromTheIndicator) {
    XTestKeyboard keyboard(m_session.display());
    EXPECT_FALSE(keyboard.isCapsLockOn());
    ASSERT_EQ(m_session.run({"xdotool", "key", "Caps_Lock"}), 0);
    EXPECT_TRUE(keyboard.isCapsLockOn());
    ASSERT_EQ(m_session.run({"xdotool", "key", "Caps_Lock"}), 0);
    EXPECT_FALSE(keyboard.isCapsLockOn());
}

TEST(X11Keyboard, UnreachableDisplayFailsWithItsName) {
    try {
        XTestKeyboard keyboard(":4093");
        FAIL() << "opened a display that does not exist";
    } catch (const tavlo::platform::KeyboardError& e) {
        EXPECT_NE(std::string(e.what()).find(":4093"), std::string::npos) << e.what();
    }
}

} // namespace
