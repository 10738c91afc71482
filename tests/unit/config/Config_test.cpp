#include "config/Config.h"
#include "config/Instrument.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using tavlo::config::Config;
using tavlo::config::PropertyChangeEvent;
using tavlo::config::PropertyChangeListener;
using H = tavlo::config::ConfigHelper;

namespace {

struct RecordingListener : PropertyChangeListener {
    std::vector<PropertyChangeEvent> events;
    void propertyChange(const PropertyChangeEvent& e) override { events.push_back(e); }
};

Config fullRecord() {
    return Config("COM3", &H::Instrument::KERN_MPS, 7, 3, 0, 2, 13, &H::Connect::AUTO, &H::KeyboardType::GERMAN, "5",
                  &H::DecimalSeparator::COMMA, &H::StartWith::TAB, &H::OutputTerminator::ENTER,
                  &H::OutputTerminator::DOWN, "3", &H::MathOperation::MULTIPLY, "2.5", "2", &H::RoundingMethod::FLOOR,
                  &H::Sound::COWBELL, false, false, false, false, &H::EditOperation::KEEP, &H::EditPosition::LAST, "4",
                  "kg", "(\\d+)", true, "500", "0.01");
}

TEST(Config, NewRecordHoldsTheRecordDefaults) {
    const Config c;
    EXPECT_EQ(c.getBitRate(), 0);
    EXPECT_EQ(c.getDataBits(), 0);
    EXPECT_EQ(c.getStopBits(), 0);
    EXPECT_EQ(c.getParity(), 0);
    EXPECT_EQ(c.getInputTerminator(), 0);
    EXPECT_EQ(c.getInstrument(), nullptr);
    EXPECT_EQ(c.getDelay(), "20");
    EXPECT_EQ(c.getRoundingMethod(), &H::RoundingMethod::HALF_UP);
    EXPECT_EQ(c.getKeyboardType(), &H::KeyboardType::QUERTY);
    EXPECT_FALSE(c.getPrevPort().has_value());
    EXPECT_TRUE(c.minimizeToTray);
    EXPECT_TRUE(c.checkForUpdates);
    EXPECT_FALSE(c.ignoreDuplicates);
}

TEST(Config, CopyKeepsEverySettingButDropsPrevPortAndListeners) {
    Config source = fullRecord();
    source.setPrevPort(QStringLiteral("COM9"));
    RecordingListener listener;
    source.addPropertyChangeListener("NUMBER", &listener);

    Config copy = Config::copyConfig(source);
    EXPECT_FALSE(copy.hasChanged(source));
    EXPECT_FALSE(copy.getPrevPort().has_value());
    EXPECT_EQ(copy.getIgnoreDifference(), "0.01");
    EXPECT_EQ(copy.getOutputTerminator2(), &H::OutputTerminator::DOWN);
    EXPECT_TRUE(copy.ignoreDuplicates);
    copy.setInstrument(&H::Instrument::AND);
    EXPECT_TRUE(listener.events.empty());
}

TEST(Config, HasChangedSeesEverySettingExceptPrevPort) {
    const Config base = fullRecord();
    std::vector<std::pair<const char*, std::function<void(Config&)>>> edits = {
        {"port", [](Config& c) { c.setPort("COM4"); }},
        {"instrument", [](Config& c) { c.setInstrument(&H::Instrument::KERN_RPB); }},
        {"bitRate", [](Config& c) { c.setBitRate(8); }},
        {"parity", [](Config& c) { c.setParity(0); }},
        {"inputTerminator", [](Config& c) { c.setInputTerminator(10); }},
        {"outputTerminator2", [](Config& c) { c.setOutputTerminator2(&H::OutputTerminator::NONE); }},
        {"everyXValues", [](Config& c) { c.setEveryXValues("4"); }},
        {"mathOperand", [](Config& c) { c.setMathOperand("2.50"); }},
        {"sound", [](Config& c) { c.setSound(&H::Sound::NONE); }},
        {"delay", [](Config& c) { c.setDelay(""); }},
        {"removeCharacters", [](Config& c) { c.setRemoveCharacters("g"); }},
        {"customRegEx", [](Config& c) { c.setCustomRegEx(""); }},
        {"ignoreTimeLimit", [](Config& c) { c.setIgnoreTimeLimit("501"); }},
        {"minimizeToTray", [](Config& c) { c.minimizeToTray = true; }},
        {"abortAutoStart", [](Config& c) { c.abortAutoStartWhenPrevPortNotAvailable = true; }},
        {"ignoreDuplicates", [](Config& c) { c.ignoreDuplicates = false; }},
        {"stableOnly", [](Config& c) { c.stableOnly = true; }},
        {"dataLogFile", [](Config& c) { c.setDataLogFile("/tmp/log.csv"); }},
    };
    for (auto& [name, edit] : edits) {
        Config changed = Config::copyConfig(base);
        edit(changed);
        EXPECT_TRUE(changed.hasChanged(base)) << name;
        EXPECT_TRUE(base.hasChanged(changed)) << name;
    }
    Config onlyPrevPort = Config::copyConfig(base);
    onlyPrevPort.setPrevPort(QStringLiteral("COM1"));
    EXPECT_FALSE(onlyPrevPort.hasChanged(base));
}

TEST(Config, SetInstrumentFiresTheTypeNameOnEveryCall) {
    Config c;
    RecordingListener number, text;
    c.addPropertyChangeListener("NUMBER", &number);
    c.addPropertyChangeListener("TEXT", &text);
    c.setInstrument(&H::Instrument::BARCODE_ALPHA);
    c.setInstrument(&H::Instrument::AND);
    c.setInstrument(&H::Instrument::AND);
    ASSERT_EQ(text.events.size(), 1u);
    EXPECT_EQ(text.events[0].propertyName, "TEXT");
    EXPECT_EQ(text.events[0].oldValue, nullptr);
    EXPECT_EQ(text.events[0].newValue, &H::Instrument::BARCODE_ALPHA);
    EXPECT_EQ(number.events.size(), 2u);

    c.removePropertyChangeListener("NUMBER", &number);
    c.setInstrument(&H::Instrument::GENERIC);
    EXPECT_EQ(number.events.size(), 2u);
    EXPECT_EQ(c.getInstrument(), &H::Instrument::GENERIC);
}

TEST(Config, IntegerReadersFallBack) {
    Config c;
    c.setDelay("");
    EXPECT_EQ(c.getDelayAsInt(), 20);
    c.setDelay("150");
    EXPECT_EQ(c.getDelayAsInt(), 150);
    c.setEveryXValues("abc");
    EXPECT_EQ(c.getEveryXValuesAsInt(), 0);
    c.setEditNumCharacters("12");
    EXPECT_EQ(c.getEditNumCharactersAsInt(), 12);
    EXPECT_FALSE(c.getDecimalPlacesAsInt().has_value());
    c.setDecimalPlaces("9");
    EXPECT_EQ(c.getDecimalPlacesAsInt(), 9); // the range is not checked here
    EXPECT_FALSE(c.roundingEnabled());
    c.setDecimalPlaces("0");
    EXPECT_TRUE(c.roundingEnabled());
    c.setDecimalPlaces("x");
    EXPECT_FALSE(c.roundingEnabled());
}

TEST(Config, DivisionNeedsRoundingButMultiplicationDoesNot) {
    Config c;
    c.setMathOperation(&H::MathOperation::DIVIDE);
    c.setMathOperand("2");
    EXPECT_FALSE(c.mathOperationEnabled());
    c.setDecimalPlaces("2");
    EXPECT_TRUE(c.mathOperationEnabled());
    c.setMathOperation(&H::MathOperation::MULTIPLY);
    c.setDecimalPlaces("");
    EXPECT_TRUE(c.mathOperationEnabled());
    c.setMathOperand("");
    EXPECT_FALSE(c.mathOperationEnabled());
    c.setMathOperand("2");
    c.setMathOperation(&H::MathOperation::NONE);
    EXPECT_FALSE(c.mathOperationEnabled());
    c.setMathOperation(nullptr);
    EXPECT_FALSE(c.mathOperationEnabled());
}

TEST(Config, MathOperandReadsAsAnExactDecimal) {
    Config c;
    c.setMathOperand("2.50");
    EXPECT_EQ(c.getMathOperandAsBigDecimal().toPlainString(), "2.50");
    c.setMathOperand("");
    EXPECT_THROW(c.getMathOperandAsBigDecimal(), tavlo::base::NumberFormatException);
    c.setMathOperand("1,5");
    EXPECT_THROW(c.getMathOperandAsBigDecimal(), tavlo::base::NumberFormatException);
}

} // namespace
