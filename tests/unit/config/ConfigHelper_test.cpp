#include "config/ConfigHelper.h"
#include "config/Instrument.h"

#include <gtest/gtest.h>

using tavlo::config::ConfigHelper;
using H = ConfigHelper;

namespace {

struct TextCase {
    const char* type;
    bool (*valid)(const QString&);
    const char* text;
    bool expected;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.type << "(\"" << c.text << "\")";
}

class FreeTextValidity : public ::testing::TestWithParam<TextCase> {};

TEST_P(FreeTextValidity, FollowsTheIntegerAndDecimalRules) {
    const TextCase& c = GetParam();
    EXPECT_EQ(c.valid(QString::fromUtf8(c.text)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FreeTextValidity,
    ::testing::Values(
        TextCase{"EveryXValues", H::EveryXValues::valid, "", true},
        TextCase{"EveryXValues", H::EveryXValues::valid, "1", false},
        TextCase{"EveryXValues", H::EveryXValues::valid, "2", true},
        TextCase{"EveryXValues", H::EveryXValues::valid, "99", true},
        TextCase{"EveryXValues", H::EveryXValues::valid, "100", false},
        TextCase{"EveryXValues", H::EveryXValues::valid, "+5", true},
        TextCase{"EditNumCharacters", H::EditNumCharacters::valid, "0", false},
        TextCase{"EditNumCharacters", H::EditNumCharacters::valid, "1", true},
        TextCase{"EditNumCharacters", H::EditNumCharacters::valid, "99", true},
        TextCase{"Delay", H::Delay::valid, "0", true}, TextCase{"Delay", H::Delay::valid, "1000", true},
        TextCase{"Delay", H::Delay::valid, "1001", false}, TextCase{"Delay", H::Delay::valid, " 20", false},
        TextCase{"Delay", H::Delay::valid, "20 ", false}, TextCase{"Delay", H::Delay::valid, "2.0", false},
        TextCase{"Delay", H::Delay::valid, "-0", true}, TextCase{"Delay", H::Delay::valid, "+", false},
        TextCase{"Delay", H::Delay::valid, "\xd9\xa1", false}, // Arabic-Indic digit one
        TextCase{"DecimalPlaces", H::DecimalPlaces::valid, "7", true},
        TextCase{"DecimalPlaces", H::DecimalPlaces::valid, "8", false},
        TextCase{"DecimalPlaces", H::DecimalPlaces::valid, "-1", false},
        TextCase{"IgnoreTimeLimit", H::IgnoreTimeLimit::valid, "0", false},
        TextCase{"IgnoreTimeLimit", H::IgnoreTimeLimit::valid, "1", true},
        TextCase{"IgnoreTimeLimit", H::IgnoreTimeLimit::valid, "2147483647", true},
        TextCase{"IgnoreTimeLimit", H::IgnoreTimeLimit::valid, "2147483648", false},
        TextCase{"IgnoreTimeLimit", H::IgnoreTimeLimit::valid, "99999999999999999999", false},
        TextCase{"IgnoreDifference", H::IgnoreDifference::valid, "0.5", true},
        TextCase{"IgnoreDifference", H::IgnoreDifference::valid, "0", false},
        TextCase{"IgnoreDifference", H::IgnoreDifference::valid, "0.000", false},
        TextCase{"IgnoreDifference", H::IgnoreDifference::valid, "-1", false},
        TextCase{"IgnoreDifference", H::IgnoreDifference::valid, "1E-3", true},
        TextCase{"IgnoreDifference", H::IgnoreDifference::valid, "0,5", false},
        TextCase{"MathOperand", H::MathOperand::valid, "", true},
        TextCase{"MathOperand", H::MathOperand::valid, "0", false},
        TextCase{"MathOperand", H::MathOperand::valid, "0.0", true},
        TextCase{"MathOperand", H::MathOperand::valid, "00", true},
        TextCase{"MathOperand", H::MathOperand::valid, "-0", true},
        TextCase{"MathOperand", H::MathOperand::valid, "1E2", true},
        TextCase{"MathOperand", H::MathOperand::valid, "-12.5", true},
        TextCase{"MathOperand", H::MathOperand::valid, "1,5", false},
        TextCase{"MathOperand", H::MathOperand::valid, " 2", false},
        TextCase{"MathOperand", H::MathOperand::valid, "abc", false},
        TextCase{"RemoveCharacters", H::RemoveCharacters::valid, "kg \xc2\xb0", true},   // degree sign, 176
        TextCase{"RemoveCharacters", H::RemoveCharacters::valid, "\xc3\xbf", true},      // 255
        TextCase{"RemoveCharacters", H::RemoveCharacters::valid, "\xe2\x82\xac", false}, // euro sign, 8364
        TextCase{"RemoveCharacters", H::RemoveCharacters::valid, "a\xf0\x9f\x98\x80", false}));

struct RegexCase {
    const char* text;
    bool expected;
};

void PrintTo(const RegexCase& c, std::ostream* os) {
    *os << "\"" << c.text << "\"";
}

class CustomRegExValidity : public ::testing::TestWithParam<RegexCase> {};

TEST_P(CustomRegExValidity, NeedsAnOpeningBracketBeforeTheFirstClosingOne) {
    EXPECT_EQ(H::CustomRegEx::valid(QString::fromUtf8(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CustomRegExValidity,
                         ::testing::Values(RegexCase{"", true}, RegexCase{R"(N\s+([0-9.]+)\s*kg)", true},
                                           RegexCase{R"(N\s+[0-9.]+\s*kg)", false}, RegexCase{R"(\(\d+\))", false},
                                           RegexCase{R"([)x]([0-9]+))", false}, RegexCase{R"([)x]+)", true},
                                           RegexCase{R"(([0-9]+)", false}, RegexCase{R"((?<v>[0-9]+))", true},
                                           RegexCase{R"(\\([0-9]+))", true}));

TEST(ConfigHelper, IntegerParsingIsStrictAscii) {
    EXPECT_EQ(H::parseInteger(u"-2147483648"), -2147483647 - 1);
    EXPECT_EQ(H::parseInteger(u"+2147483647"), 2147483647);
    EXPECT_FALSE(H::parseInteger(u"-2147483649"));
    EXPECT_FALSE(H::parseInteger(u"2147483648"));
    EXPECT_FALSE(H::parseInteger(u""));
    EXPECT_FALSE(H::parseInteger(u"-"));
    EXPECT_FALSE(H::parseInteger(u"1 "));
    EXPECT_FALSE(H::parseInteger(u"0x10"));
    EXPECT_EQ(H::parseInteger(u"007"), 7);
}

TEST(ConfigHelper, IndexOptionsReportPositionsAndReadableLabels) {
    EXPECT_EQ(H::BitRates::getDefault(), 7);
    EXPECT_EQ(H::BitRates::getReadable(7), "9600");
    EXPECT_EQ(H::BitRates::getReadable(14), "921600");
    EXPECT_EQ(H::BitRates::getReadable(15), "");
    EXPECT_EQ(H::BitRates::getReadable(-1), "");
    EXPECT_FALSE(H::BitRates::valid(15));
    EXPECT_TRUE(H::BitRates::valid(0));
    EXPECT_EQ(H::DataBits::getDefault(), 3);
    EXPECT_EQ(H::DataBits::getReadable(H::DataBits::getDefault()), "8");
    EXPECT_EQ(H::StopBits::getReadable(1), "2");
    EXPECT_EQ(H::Parity::getReadable(4), "SPACE");
    EXPECT_EQ(H::Parity::EVEN.toString(), "EVEN");
    EXPECT_FALSE(H::Parity::valid(5));
}

TEST(ConfigHelper, NamedOptionsLookUpByExactName) {
    EXPECT_EQ(H::KeyboardType::valueOf("QUERTY"), &H::KeyboardType::QUERTY);
    EXPECT_FALSE(H::KeyboardType::valid("QWERTY"));
    EXPECT_FALSE(H::Connect::valid("auto"));
    EXPECT_FALSE(H::Connect::valid(" AUTO"));
    EXPECT_TRUE(H::Connect::valid("AUTO"));
    EXPECT_THROW(H::Sound::valueOf("GONG"), tavlo::base::IllegalArgumentException);
    EXPECT_EQ(H::RoundingMethod::getDefault(), &H::RoundingMethod::HALF_UP);
    EXPECT_EQ(H::RoundingMethod::values().size(), 7);
    EXPECT_EQ(H::RoundingMethod::values().first(), &H::RoundingMethod::CEILING);
    EXPECT_EQ(H::RoundingMethod::HALF_EVEN.getRoundingMode(), tavlo::base::RoundingMode::HALF_EVEN);
    EXPECT_EQ(H::RoundingMethod::HALF_DOWN.toString(), "half down");
    EXPECT_EQ(H::Sound::OPEN_TRIANGLE.toString(), "Triangle");
    EXPECT_EQ(H::Sound::OPEN_TRIANGLE.getPercussionNumber(), 81);
    EXPECT_EQ(H::StartWith::F12.toString(), "F12");
    EXPECT_EQ(H::StartWith::MULTIPLY.toString(), "*");
}

TEST(ConfigHelper, EveryLabelOfEveryTypeIsInTheTextTable) {
    // Loading a type's labels fails when one of its keys is missing from the table.
    EXPECT_EQ(H::StartWith::labels().size(), 19);
    EXPECT_EQ(H::OutputTerminator::labels().size(), 5);
    EXPECT_EQ(H::Sound::labels().size(), 7);
    EXPECT_EQ(H::MathOperation::labels().size(), 3);
    EXPECT_EQ(H::DecimalSeparator::labels().size(), 2);
    EXPECT_EQ(H::Connect::labels().size(), 2);
    EXPECT_EQ(H::EditPosition::labels().size(), 2);
    EXPECT_EQ(H::EditOperation::labels().size(), 2);
    EXPECT_EQ(H::KeyboardType::labels().size(), 5);
    EXPECT_EQ(H::Instrument::labels().size(), 36);
    for (const QString& label : H::KeyboardType::labels())
        EXPECT_FALSE(label.isEmpty());
}

TEST(ConfigHelper, KeyCodesFollowTheConstantNames) {
    EXPECT_EQ(H::StartWith::getKeyCode(&H::StartWith::NONE), 0);
    EXPECT_EQ(H::StartWith::getKeyCode(nullptr), 0);
    EXPECT_EQ(H::StartWith::getKeyCode(&H::StartWith::ENTER), 10);
    EXPECT_EQ(H::StartWith::getKeyCode(&H::StartWith::TAB), 9);
    EXPECT_EQ(H::StartWith::getKeyCode(&H::StartWith::DELETE), 127);
    EXPECT_EQ(H::StartWith::getKeyCode(&H::StartWith::MULTIPLY), 106);
    EXPECT_EQ(H::StartWith::getKeyCode(&H::StartWith::F1), 112);
    EXPECT_EQ(H::StartWith::getKeyCode(&H::StartWith::F12), 123);
    EXPECT_EQ(H::OutputTerminator::getKeyCode(&H::OutputTerminator::RIGHT), 39);
    EXPECT_EQ(H::OutputTerminator::getKeyCode(&H::OutputTerminator::DOWN), 40);
}

TEST(ConfigHelper, InputTerminatorPresets) {
    EXPECT_EQ(H::InputTerminator::getDefault(), 13);
    EXPECT_EQ(H::InputTerminator::itemFromDecimal(10), &H::InputTerminator::LF);
    EXPECT_EQ(H::InputTerminator::itemFromDecimal(3), nullptr);
    EXPECT_EQ(H::InputTerminator::EOT.toString(), "4 <EOT>");
    EXPECT_TRUE(H::InputTerminator::valid(0));
    EXPECT_TRUE(H::InputTerminator::valid(255));
    EXPECT_FALSE(H::InputTerminator::valid(256));
    EXPECT_FALSE(H::InputTerminator::valid(-1));
}

} // namespace
