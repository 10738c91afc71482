#include "base/Exceptions.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/RecordProcessor.h"

#include <gtest/gtest.h>

using tavlo::config::Config;
using tavlo::worker::RecordProcessor;
using H = tavlo::config::ConfigHelper;

namespace {

Config with(const H::Instrument* instrument) {
    Config c;
    c.setInstrument(instrument);
    return c;
}

TEST(RecordProcessor, NumberChainDeletesWhiteSpaceAndFormats) {
    Config c = with(&H::Instrument::GENERIC);
    c.setDecimalSeparator(&H::DecimalSeparator::COMMA);
    RecordProcessor p(c);
    EXPECT_EQ(p.extract("ST,+  12.345 kg\r\n"), "+  12.345");
    EXPECT_EQ(p.process("ST,+  12.345 kg\r\n"), "12,345");
    EXPECT_EQ(p.process("  -1.8999 kg\n"), "-1,8999");
    EXPECT_EQ(p.process("no value\r\n"), "");
}

TEST(RecordProcessor, TextChainKeepsWhiteSpaceAndSkipsFormatting) {
    Config c = with(&H::Instrument::BARCODE_ALPHA_COMPLETE);
    c.setDecimalPlaces("1");
    c.setMathOperation(&H::MathOperation::MULTIPLY);
    c.setMathOperand("10");
    RecordProcessor p(c);
    EXPECT_TRUE(p.isText());
    EXPECT_EQ(p.process("AB 12,50 x\r\n"), "AB 12,50 x");
}

TEST(RecordProcessor, TextInstrumentsAlwaysUseGroupOne) {
    Config c = with(&H::Instrument::BARCODE_ALPHA);
    c.setCustomRegEx("(X)([0-9]+)");
    EXPECT_EQ(RecordProcessor(c).process("X123\r"), "X");
    c.setCustomRegEx("[0-9]+");
    EXPECT_EQ(RecordProcessor(c).process("X123\r"), ""); // no group: nothing is typed
}

TEST(RecordProcessor, StepsRunInOrder) {
    Config c = with(&H::Instrument::GENERIC);
    c.setCustomRegEx(R"(W:(.*)$)");
    c.setEditOperation(&H::EditOperation::REMOVE);
    c.setEditPosition(&H::EditPosition::FIRST);
    c.setEditNumCharacters("2");
    c.setRemoveCharacters("kg");
    c.setMathOperation(&H::MathOperation::MULTIPLY);
    c.setMathOperand("2");
    c.setDecimalPlaces("1");
    c.setRoundingMethod(&H::RoundingMethod::HALF_EVEN);
    RecordProcessor p(c);
    // "XY" cut, "kg" removed, blanks deleted, 1.25 x 2 = 2.50 rounded to one place.
    EXPECT_EQ(p.process("W:XY 1.25 kg"), "2.5");
}

TEST(RecordProcessor, FailuresBelongToTheRecord) {
    Config c = with(&H::Instrument::GENERIC);
    c.setCustomRegEx(R"(V=(\S+))");
    RecordProcessor p(c);
    EXPECT_THROW(p.process("V=12-"), tavlo::base::NumberFormatException);
    EXPECT_EQ(p.process("V=-3"), "-3");

    c.setCustomRegEx(R"(V=(?:([0-9]+)|x))");
    RecordProcessor optional(c);
    EXPECT_THROW(optional.process("V=x"), tavlo::base::TavloException);

    Config d = with(&H::Instrument::GENERIC);
    d.setMathOperation(&H::MathOperation::DIVIDE);
    d.setMathOperand("0.0");
    d.setDecimalPlaces("2");
    RecordProcessor divide(d);
    EXPECT_THROW(divide.process("12\r"), tavlo::base::ArithmeticException);
    EXPECT_EQ(divide.process("none\r"), "");
}

TEST(RecordProcessor, CustomExpressionOverridesTheProfile) {
    Config c = with(&H::Instrument::KERN_RPB);
    EXPECT_EQ(RecordProcessor(c).process("N:    0.404 kg\r"), "0.404");
    c.setCustomRegEx(R"(T=([0-9.]+))");
    EXPECT_EQ(RecordProcessor(c).process("N:    0.404 kg T=7.5\r"), "7.5");
    c.setCustomRegEx("(");
    EXPECT_FALSE(RecordProcessor(c).isExpressionValid());
    EXPECT_EQ(RecordProcessor(c).process("12\r"), "");
}

TEST(RecordProcessor, WhiteSpaceDeletion) {
    EXPECT_EQ(tavlo::worker::deleteWhiteSpace(" 1\t2\n3\x0b\x0c\r4 "), "1234");
    EXPECT_EQ(tavlo::worker::deleteWhiteSpace("12.5"), "12.5");
    EXPECT_EQ(tavlo::worker::deleteWhiteSpace(QString(QChar(0xA0)) + "1"), QString(QChar(0xA0)) + "1");
}

} // namespace
