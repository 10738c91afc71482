#include "base/Exceptions.h"
#include "config/Config.h"
#include "worker/NumberFormatter.h"

#include <gtest/gtest.h>

using tavlo::base::Decimal;
using tavlo::base::RoundingMode;
using tavlo::config::Config;
using tavlo::worker::NumberFormatter;
using H = tavlo::config::ConfigHelper;

namespace {

struct Settings {
    const H::DecimalSeparator* separator = &H::DecimalSeparator::DOT;
    const char* places = "";
    const H::RoundingMethod* rounding = &H::RoundingMethod::HALF_UP;
    const H::MathOperation* operation = &H::MathOperation::NONE;
    const char* operand = "";
};

// Builds the formatter the way a worker does: rounding and math only when the record enables them.
NumberFormatter formatterFor(const Settings& s) {
    Config c;
    c.setDecimalSeparator(s.separator);
    c.setDecimalPlaces(s.places);
    c.setRoundingMethod(s.rounding);
    c.setMathOperation(s.operation);
    c.setMathOperand(s.operand);
    const bool rounding = c.roundingEnabled();
    const bool math = c.mathOperationEnabled();
    return NumberFormatter(c, rounding ? c.getDecimalPlacesAsInt() : std::nullopt,
                           rounding ? std::optional(s.rounding->getRoundingMode()) : std::nullopt,
                           math ? s.operation : nullptr,
                           math ? std::optional(c.getMathOperandAsBigDecimal()) : std::nullopt);
}

struct FormatCase {
    const char* name;
    Settings settings;
    const char* input;
    const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.name << ": " << c.input;
}

class Formatting : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Formatting, WritesTheExpectedText) {
    NumberFormatter f = formatterFor(GetParam().settings);
    EXPECT_EQ(f.format(GetParam().input), GetParam().expected);
}

const Settings COMMA{.separator = &H::DecimalSeparator::COMMA};
const Settings TWO_HALF_UP{.places = "2"};
const Settings TWO_HALF_EVEN{.places = "2", .rounding = &H::RoundingMethod::HALF_EVEN};
const Settings TIMES_1000{.operation = &H::MathOperation::MULTIPLY, .operand = "1000"};

INSTANTIATE_TEST_SUITE_P(
    Cases, Formatting,
    ::testing::Values(
        FormatCase{"comma keeps digits", COMMA, "12.5", "12,5"}, FormatCase{"comma input", COMMA, "12,50", "12,50"},
        FormatCase{"leading zeros", COMMA, "007", "7"}, FormatCase{"leading point", COMMA, ".5", "0,5"},
        FormatCase{"half up", TWO_HALF_UP, "2.345", "2.35"}, FormatCase{"never pads", TWO_HALF_UP, "2.3", "2.3"},
        FormatCase{"integer stays", TWO_HALF_UP, "2", "2"},
        FormatCase{"half even down", TWO_HALF_EVEN, "2.345", "2.34"},
        FormatCase{"half even up", TWO_HALF_EVEN, "2.355", "2.36"},
        FormatCase{"minus after blanks", Settings{}, "-   5.0", "-5.0"},
        FormatCase{"minus after status letter", Settings{}, "N-5.0", "-5.0"},
        FormatCase{"unit before minus dropped", Settings{}, "kg-12.5", "-12.5"},
        FormatCase{"plus disappears", Settings{}, "+5.0", "5.0"}, FormatCase{"exponent", Settings{}, "1E3", "1000"},
        FormatCase{"negative exponent is not a sign", Settings{}, "1E-3", "0.001"},
        FormatCase{"negative value with negative exponent", Settings{}, "-1.5E-2", "-0.015"},
        FormatCase{"sign then exponent", Settings{}, "N-2e-1", "-0.2"},
        FormatCase{"a letter e before the sign is no exponent", Settings{}, "E-5.0", "-5.0"},
        FormatCase{"a unit ending in e before the sign", Settings{}, "ke-5.0", "-5.0"},
        FormatCase{"exponent after a point", Settings{}, "2.E-1", "0.2"},
        FormatCase{"exponent after a digit, sign before", Settings{}, "-4e-1", "-0.4"},
        FormatCase{"multiply keeps digits", TIMES_1000, "0.125", "125.000"},
        FormatCase{"multiply then round",
                   Settings{.places = "2", .operation = &H::MathOperation::MULTIPLY, .operand = "2.00"}, "12.5",
                   "25.00"},
        FormatCase{"multiply three decimals rounded",
                   Settings{.places = "2", .operation = &H::MathOperation::MULTIPLY, .operand = "2.00"}, "12.55",
                   "25.10"},
        FormatCase{"divide down",
                   Settings{.places = "2",
                            .rounding = &H::RoundingMethod::DOWN,
                            .operation = &H::MathOperation::DIVIDE,
                            .operand = "3"},
                   "10", "3.33"},
        FormatCase{"divide up",
                   Settings{.places = "2",
                            .rounding = &H::RoundingMethod::UP,
                            .operation = &H::MathOperation::DIVIDE,
                            .operand = "3"},
                   "10", "3.34"},
        FormatCase{"divide pads to the places",
                   Settings{.places = "3", .operation = &H::MathOperation::DIVIDE, .operand = "4"}, "10", "2.500"},
        FormatCase{"divide without places is off", Settings{.operation = &H::MathOperation::DIVIDE, .operand = "4"},
                   "10", "10"},
        FormatCase{"negative zero", Settings{}, "-0.000", "0.000"},
        FormatCase{"negative rounds to zero", TWO_HALF_UP, "-0.004", "0.00"},
        FormatCase{"ceiling negative", Settings{.places = "1", .rounding = &H::RoundingMethod::CEILING}, "-1.25",
                   "-1.2"},
        FormatCase{"floor negative", Settings{.places = "1", .rounding = &H::RoundingMethod::FLOOR}, "-1.21", "-1.3"},
        FormatCase{"zero places", Settings{.places = "0"}, "2.5", "3"},
        FormatCase{"comma and rounding", Settings{.separator = &H::DecimalSeparator::COMMA, .places = "1"}, "1,25",
                   "1,3"}));

TEST(NumberFormatter, RejectsWhatIsNotANumber) {
    NumberFormatter f = formatterFor(Settings{});
    for (const char* bad : {"-", "12-", "abc", "1.2.3", "1,2,3", "--1", "1e", "."})
        EXPECT_THROW(f.format(bad), tavlo::base::NumberFormatException) << bad;
    EXPECT_EQ(f.format("+-1"), "-1");    // text before the minus sign is dropped, the plus sign with it
    EXPECT_EQ(f.format("4.20"), "4.20"); // the formatter goes on after a failure
}

TEST(NumberFormatter, DivisionByZeroFailsForTheRecordOnly) {
    NumberFormatter f = formatterFor(Settings{.places = "2", .operation = &H::MathOperation::DIVIDE, .operand = "0.0"});
    EXPECT_THROW(f.format("10"), tavlo::base::ArithmeticException);
    EXPECT_THROW(f.format("0"), tavlo::base::ArithmeticException);
}

TEST(NumberFormatter, RemembersTheNumberAfterTheMathStep) {
    NumberFormatter f = formatterFor(Settings{.places = "1", .operation = &H::MathOperation::MULTIPLY, .operand = "3"});
    EXPECT_EQ(f.format("1.25"), "3.8");
    EXPECT_EQ(f.number().toPlainString(), "3.75");
}

} // namespace
