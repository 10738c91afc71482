// The headless wedge typing into a Wayland terminal (foot on headless Sway) through the compositor's virtual
// keyboard, from records on a pseudo-terminal: every printable character whatever the compositor's layout, many
// values without a loss, and the end of a run whose compositor goes away.
#include "SwayHeadless.h"
#include "SwaySession.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using tavlo::test::SwayHeadless;
using tavlo::test::SwaySession;
using Settings = SwayHeadless::Settings;

namespace {

std::string printableAscii() {
    std::string all;
    for (char c = 32; c <= 126; ++c)
        all += c;
    return all;
}

// A text instrument whose key map holds all 95 printable characters; records end with a carriage return. Each
// value is typed after a Tab and ended with Enter, so the terminal's file holds one line per value.
Settings barcodeSettings(const QString& keyboardType, const QString& delay) {
    return {{"instrument", "BARCODE_ALPHA_COMPLETE"},
            {"inputTerminator", "13"},
            {"keyboardType", keyboardType},
            {"delay", delay},
            {"startWith", "TAB"},
            {"outputTerminator", "ENTER"},
            {"sound", "NONE"}};
}

class SwayLayouts : public ::testing::TestWithParam<const char*> {};

// The keymap that counts is the one the virtual keyboard sends, so the compositor's layout changes nothing: with
// each keyboard type, and with "Any layout", every printable character comes out as itself.
TEST_P(SwayLayouts, EveryPrintableCharacterArrivesWithEachKeyboardType) {
    SwaySession session(GetParam());
    ASSERT_TRUE(session.ok()) << session.error();
    const std::string text = printableAscii();
    for (const char* type : {"ALL", "QUERTY", "GERMAN", "AZERTY", "US_INTERNATIONAL"}) {
        SCOPED_TRACE(type);
        const std::string file = session.openTerminal();
        ASSERT_FALSE(file.empty()) << session.error();
        SwayHeadless tavlo(session);
        ASSERT_TRUE(tavlo.start(barcodeSettings(type, "0"), {"--count", "1"})) << tavlo.error();
        ASSERT_TRUE(tavlo.send(QByteArray::fromStdString(text + "\r")));
        ASSERT_TRUE(tavlo.waitFinished(30000)) << tavlo.err().toStdString();
        EXPECT_EQ(tavlo.exitCode(), 0) << tavlo.err().toStdString();
        EXPECT_EQ(SwaySession::waitForContent(file, text.size() + 2), "\t" + text + "\n");
        // Nothing told it which backend to use: the compositor's virtual keyboard came first.
        EXPECT_TRUE(tavlo.err().contains("Keyboard backend: wayland")) << tavlo.err().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(CompositorLayouts, SwayLayouts, ::testing::Values("us", "de", "fr"));

// Values of the characters that differ most between the layouts, each different from the one before.
std::vector<std::string> manyValues(int count) {
    static const std::string alphabet = "0123456789azAZqQwWyY@#{}[]~|\\^`'\"<>!?%&*/+-=_.,;: $()";
    std::vector<std::string> values;
    unsigned seed = 2024;
    for (int i = 0; i < count; ++i) {
        std::string v = std::to_string(i) + ":";
        for (int k = 0; k < 12; ++k) {
            seed = seed * 1103515245u + 12345u;
            v += alphabet[(seed >> 16) % alphabet.size()];
        }
        values.push_back(v);
    }
    return values;
}

// Every value of a long run arrives, whole and in order, at the fastest setting.
TEST(SwayTyping, NothingIsLostOverTwoThousandValues) {
    SwaySession session("de");
    ASSERT_TRUE(session.ok()) << session.error();
    const std::string file = session.openTerminal();
    ASSERT_FALSE(file.empty()) << session.error();
    const auto values = manyValues(2000);
    std::string records, expected;
    for (const std::string& v : values) {
        records += v + "\r";
        expected += "\t" + v + "\n";
    }
    SwayHeadless tavlo(session);
    ASSERT_TRUE(tavlo.start(barcodeSettings("GERMAN", "0"), {"--count", "2000"}, {"TAVLO_KEYBOARD_BACKEND=wayland"}))
        << tavlo.error();
    ASSERT_TRUE(tavlo.send(QByteArray::fromStdString(records)));
    ASSERT_TRUE(tavlo.waitFinished(600000)) << tavlo.err().toStdString();
    EXPECT_EQ(tavlo.exitCode(), 0) << tavlo.err().toStdString();
    EXPECT_TRUE(tavlo.err().contains("Keyboard backend: wayland (set by TAVLO_KEYBOARD_BACKEND). Keyboard layout of "
                                     "the virtual keyboard: de"))
        << tavlo.err().toStdString();
    const std::string typed = SwaySession::waitForContent(file, expected.size(), 60000);
    EXPECT_EQ(typed.size(), expected.size());
    EXPECT_TRUE(typed == expected)
        << "the first difference is at byte "
        << std::mismatch(typed.begin(), typed.end(), expected.begin(), expected.end()).first - typed.begin();
}

// The compositor ends in the middle of a run: the loss is reported once, the run ends after closing its port, with
// status 1 and the number of values it did not type.
TEST(SwayTyping, ACompositorThatGoesAwayEndsTheRunWithTheCountNotTyped) {
    SwaySession session;
    ASSERT_TRUE(session.ok()) << session.error();
    const std::string file = session.openTerminal();
    ASSERT_FALSE(file.empty()) << session.error();
    constexpr int kValues = 300;
    std::string records;
    for (int i = 0; i < kValues; ++i)
        records += "value" + std::to_string(i) + "\r";
    SwayHeadless tavlo(session);
    ASSERT_TRUE(tavlo.start(barcodeSettings("QUERTY", "2"))) << tavlo.err().toStdString();
    ASSERT_TRUE(tavlo.send(QByteArray::fromStdString(records)));
    // A few values are in the terminal, most are still queued.
    const std::string early = SwaySession::waitForContent(file, 60, 30000);
    ASSERT_GE(early.size(), 60u) << tavlo.err().toStdString();
    session.killCompositor();
    ASSERT_TRUE(tavlo.waitFinished(30000)) << tavlo.err().toStdString();
    const QString err = tavlo.err();
    EXPECT_EQ(tavlo.exitCode(), 1) << err.toStdString();
    EXPECT_EQ(err.count("Typing stopped: The connection to the Wayland compositor"), 1) << err.toStdString();
    const QRegularExpressionMatch notTyped =
        QRegularExpression("ended without its keyboard output; (\\d+) value\\(s\\) were not typed").match(err);
    ASSERT_TRUE(notTyped.hasMatch()) << err.toStdString();
    // The worker ended (its completion closes the port) before the count was given.
    const qsizetype stopped = err.indexOf(" Stopped.\n");
    EXPECT_GE(stopped, 0) << err.toStdString();
    EXPECT_LT(stopped, err.indexOf("ended without its keyboard")) << err.toStdString();
    const int left = notTyped.captured(1).toInt();
    const std::string typed = SwaySession::waitForContent(file, 0, 0);
    const int lines = static_cast<int>(std::count(typed.begin(), typed.end(), '\n'));
    EXPECT_GT(left, 0);
    // Every value counted as typed was handled by the compositor; the terminal may have died before showing the
    // last of them, and the value under way may have reached it before its confirmation did.
    EXPECT_LE(left, kValues - lines + 1) << err.toStdString();
}

} // namespace

#include "platform/KeyCodes.h"
#include "platform/keyboard/wayland/WaylandKeyboard.h"
#include "worker/Keybot.h"

namespace {

using tavlo::platform::WaylandKeyboard;
using KT = tavlo::config::ConfigHelper::KeyboardType;
using KMT = tavlo::config::ConfigHelper::KeyMapType;

// A keyboard made for each value, typing at once: the seat gains its only keyboard each time, and the terminal
// must have taken it before the first key comes.
TEST(SwayKeyboard, TheFirstKeyOfANewKeyboardArrives) {
    SwaySession session;
    ASSERT_TRUE(session.ok()) << session.error();
    const std::string file = session.openTerminal();
    ASSERT_FALSE(file.empty()) << session.error();
    std::string expected;
    for (int round = 0; round < 20; ++round) {
        const QString value = QStringLiteral("Round %1").arg(round);
        expected += value.toStdString() + "\n";
        auto device = std::make_unique<WaylandKeyboard>("QUERTY", session.runtimeDir() + "/" + session.display());
        EXPECT_FALSE(device->seatHadKeyboard());
        auto keybot = std::make_shared<tavlo::worker::Keybot>(0, 0, tavlo::platform::KeyCode::ENTER, 0, 0, &KT::QUERTY,
                                                              KMT::ALPHANUMERIC_COMPLETE, nullptr, std::move(device));
        keybot->typeString(value);
        keybot->typeEnd();
    }
    EXPECT_EQ(SwaySession::waitForContent(file, expected.size(), 10000), expected);
}

} // namespace
