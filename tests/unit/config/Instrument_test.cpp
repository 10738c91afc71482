#include "base/Expressions.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/DataLine.h"
#include "worker/Extraction.h"
#include "worker/RecordProcessor.h"

#include <gtest/gtest.h>

using tavlo::config::Config;
using H = tavlo::config::ConfigHelper;
using Instrument = H::Instrument;

namespace {

struct SampleCase {
    const Instrument* instrument;
    QString record;
    QString expected;
};

void PrintTo(const SampleCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1() << " record \""
        << tavlo::worker::DataLine::transformControlChars(c.record).toStdString() << "\"";
}

std::vector<SampleCase> allSamples() {
    std::vector<SampleCase> cases;
    for (const Instrument* instrument : Instrument::values())
        for (const auto& [record, expected] : instrument->getTestStrings())
            cases.push_back({instrument, record, expected});
    return cases;
}

class InstrumentSamples : public ::testing::TestWithParam<SampleCase> {};

TEST_P(InstrumentSamples, ExpressionGivesTheExpectedValueGroup) {
    const SampleCase& c = GetParam();
    Config config;
    config.setInstrument(c.instrument);
    const tavlo::worker::RecordProcessor processor(config);
    ASSERT_TRUE(processor.isExpressionValid()) << processor.expression().errorString().toStdString();
    const QString got = processor.extract(c.record);
    EXPECT_EQ(tavlo::worker::DataLine::transformControlChars(got).toStdString(),
              tavlo::worker::DataLine::transformControlChars(c.expected).toStdString());
}

INSTANTIATE_TEST_SUITE_P(AllProfiles, InstrumentSamples, ::testing::ValuesIn(allSamples()));

TEST(Instrument, ConstantsInTheirOrder) {
    const auto all = Instrument::values();
    ASSERT_EQ(all.size(), 36);
    EXPECT_EQ(Instrument::getDefault(), &Instrument::GENERIC);
    EXPECT_EQ(all[35], &Instrument::WEDDERBURN);
    EXPECT_EQ(Instrument::valueOf("KERN_KB_N")->ordinal(), 19);
    for (int i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i]->ordinal(), i) << all[i]->nameLatin1();
    EXPECT_FALSE(Instrument::valid("generic"));
    EXPECT_EQ(Instrument::AND.toString(), "A&D");
    EXPECT_EQ(Instrument::KERN_MPS.toPlainString(), "Kern MPS / MPT / MXS / MWS / MTS / MCB");
}

void expectSerial(const Config& c, int bitRate, int dataBits, int stopBits, int parity, int terminator) {
    EXPECT_EQ(c.getBitRate(), bitRate);
    EXPECT_EQ(c.getDataBits(), dataBits);
    EXPECT_EQ(c.getStopBits(), stopBits);
    EXPECT_EQ(c.getParity(), parity);
    EXPECT_EQ(c.getInputTerminator(), terminator);
}

TEST(Instrument, VariantsAskTheProfileTheyFollow) {
    expectSerial(Instrument::AND_SIMPLE.getDefaultConfig(), 5, 2, 0, 2, 10);
    expectSerial(Instrument::AND.getDefaultConfig(), 5, 2, 0, 2, 10);
    expectSerial(Instrument::AND_EM.getDefaultConfig(), 7, 3, 0, 0, 10);
    EXPECT_EQ(Instrument::AND_EM.getPattern(), Instrument::AND.getPattern());
    EXPECT_EQ(Instrument::AND_EM.getTestStrings(), Instrument::AND.getTestStrings());
    for (const Instrument* kern : {&Instrument::KERND_440E, &Instrument::KERND_DE, &Instrument::KERN_DS,
                                   &Instrument::KERN_FKB, &Instrument::KERN_KB_N})
        EXPECT_FALSE(kern->getDefaultConfig().hasChanged(Instrument::KERN_572.getDefaultConfig()))
            << kern->nameLatin1();
    expectSerial(Instrument::SARTORIUS.getDefaultConfig(), 4, 2, 0, 1, 10);
    expectSerial(Instrument::MYWEIGH_HD.getDefaultConfig(), 7, 3, 0, 4, 13);
    expectSerial(Instrument::MITUTOYO.getDefaultConfig(), 5, 3, 0, 0, 13);
    expectSerial(Instrument::GENERIC.getDefaultConfig(), 7, 3, 0, 0, 13);
}

TEST(Instrument, DefaultRecordKeepsNonSerialDefaults) {
    const Config c = Instrument::KERN_RPB.getDefaultConfig();
    EXPECT_EQ(c.getInstrument(), nullptr);
    EXPECT_EQ(c.getDelay(), "20");
    EXPECT_EQ(c.getPort(), "");
    EXPECT_EQ(c.getDecimalSeparator(), &H::DecimalSeparator::DOT);
}

TEST(Instrument, TypesKeyMapsAndCommands) {
    EXPECT_EQ(Instrument::BARCODE.getInstrumentType(), H::InstrumentType::TEXT);
    EXPECT_EQ(Instrument::BARCODE.getKeyMapType(), H::KeyMapType::NUMERIC);
    EXPECT_EQ(Instrument::BARCODE.getPattern(), Instrument::GENERIC.getPattern());
    EXPECT_EQ(Instrument::BARCODE_ALPHA.getKeyMapType(), H::KeyMapType::ALPHANUMERIC_BASIC);
    EXPECT_EQ(Instrument::BARCODE_ALPHA_COMPLETE.getKeyMapType(), H::KeyMapType::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(Instrument::WEDDERBURN.getInstrumentType(), H::InstrumentType::NUMBER);
    EXPECT_EQ(Instrument::MITUTOYO.getDataCommand(), "1\r");
    int withCommand = 0;
    for (const Instrument* i : Instrument::values()) {
        EXPECT_EQ(i->getCaptureGroup(), 1);
        withCommand += i->getDataCommand().isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(withCommand, 1);
}

TEST(Instrument, MessagesComeFromTheTextTable) {
    int withMessage = 0;
    for (const Instrument* i : Instrument::values()) {
        const auto message = i->getDefaultMessage(); // throws when a key is missing
        if (message) {
            EXPECT_FALSE(message->isEmpty()) << i->nameLatin1();
            ++withMessage;
        }
    }
    EXPECT_EQ(withMessage, 12);
    EXPECT_FALSE(Instrument::AND.getDefaultMessage().has_value());
    EXPECT_TRUE(Instrument::AND_EM.getDefaultMessage().has_value());
}

TEST(Instrument, FullPrintableClassTakesEveryPrintableCharacter) {
    QString printable;
    for (int c = 32; c <= 126; ++c)
        printable += QChar(c);
    const auto expression = tavlo::base::compileExpression(Instrument::BARCODE_ALPHA_COMPLETE.getPattern());
    EXPECT_EQ(tavlo::worker::extractValue(expression, 1, printable + "\r"), printable);
    EXPECT_EQ(tavlo::worker::extractValue(expression, 1, QString("\x7f\x80") + "AB\t"), "AB");
}

} // namespace

namespace {

// Records as the makers' instruments send them, and whether the profile's stability rule must hold them back.
struct StabilityCase {
    const Instrument* instrument;
    const char* record;
    bool unstable;
    bool overload = false;
};

void PrintTo(const StabilityCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1() << " \""
        << tavlo::worker::DataLine::transformControlChars(QString::fromLatin1(c.record)).toStdString() << "\"";
}

class StabilityRuleTest : public ::testing::TestWithParam<StabilityCase> {};

// An overload record is no weight whatever its stability mark says; a record in motion is a weight that may
// still change.
TEST_P(StabilityRuleTest, MarksExactlyTheUnstableAndOverloadRecords) {
    const StabilityCase& c = GetParam();
    ASSERT_TRUE(c.instrument->hasStabilityRule());
    const QRegularExpression rule = tavlo::base::compileExpression(c.instrument->getStabilityRule());
    ASSERT_TRUE(rule.isValid()) << rule.errorString().toStdString();
    const QString record = QString::fromLatin1(c.record);
    if (!c.overload) {
        EXPECT_EQ(rule.match(record).hasMatch(), c.unstable);
    }
    const QString overloadRule = c.instrument->getOverloadRule();
    EXPECT_EQ(!overloadRule.isEmpty() && tavlo::base::compileExpression(overloadRule).match(record).hasMatch(),
              c.overload);
}

INSTANTIATE_TEST_SUITE_P(Profiles, StabilityRuleTest,
                         ::testing::Values(StabilityCase{&Instrument::AND, "ST,+00012.34  g\r\n", false},
                                           StabilityCase{&Instrument::AND, "US,+00012.34  g\r\n", true},
                                           StabilityCase{&Instrument::AND, "OL,+9999999E+19\r\n", false, true},
                                           StabilityCase{&Instrument::AND, "QT,+00000101 PC\r\n", false},
                                           StabilityCase{&Instrument::AND_SIMPLE, "US, -00012,45 g\r\n", true},
                                           StabilityCase{&Instrument::AND_EM, "ST, +00012.34 kg\r\n", false},
                                           // "US" inside the unit or later in the record is no header.
                                           StabilityCase{&Instrument::AND, "ST,+00012.34 USg\r\n", false},
                                           StabilityCase{&Instrument::METTLER_PRINT, "S S      12.345 g\r\n", false},
                                           StabilityCase{&Instrument::METTLER_PRINT, "S S     -12.345 g\r\n", false},
                                           StabilityCase{&Instrument::METTLER_PRINT, "S D      12.345 g\r\n", true},
                                           StabilityCase{&Instrument::METTLER_PRINT, "S +\r\n", false, true},
                                           StabilityCase{&Instrument::METTLER_DIALOG, "S -\r\n", false, true},
                                           StabilityCase{&Instrument::METTLER_DIALOG, "S S      0.000 g\r\n", false},
                                           StabilityCase{&Instrument::KERN_572, "    12.345 g\n", false},
                                           StabilityCase{&Instrument::KERN_572, "    12.345 g ?\n", true},
                                           StabilityCase{&Instrument::KERN_DS, "    -0.500 g ?\n", true},
                                           StabilityCase{&Instrument::KERN_MPS, "N     12.34 kg\n", false},
                                           StabilityCase{&Instrument::KERN_RPB, "N:     0.404 kg ?\r", true},
                                           StabilityCase{&Instrument::OHAUS, "     12.34 g\r\n", false},
                                           StabilityCase{&Instrument::OHAUS, "     12.34 g ?\r\n", true},
                                           StabilityCase{&Instrument::OHAUSSPU, "     12.34 g ?\r\n", true},
                                           StabilityCase{&Instrument::SARTORIUS, "N     +     12.34 g  \r\n", false},
                                           StabilityCase{&Instrument::SARTORIUS, "N     +     12.34    \r\n", true},
                                           StabilityCase{&Instrument::SARTORIUS, "+     12.34 kg \r\n", false},
                                           StabilityCase{&Instrument::SARTORIUS, "-      0.05\r\n", true}));

TEST(StabilityRule, ProfilesWhoseRecordsCarryNoMarkHaveNoRule) {
    for (const Instrument* none : {&Instrument::GENERIC, &Instrument::BARCODE_ALPHA, &Instrument::MITUTOYO,
                                   &Instrument::TANITA_TL280, &Instrument::KEYENCE_IL, &Instrument::WEDDERBURN})
        EXPECT_FALSE(none->hasStabilityRule()) << none->nameLatin1();
    // The variants share their family's record format, and so its rule.
    EXPECT_EQ(Instrument::AND_EM.getStabilityRule(), Instrument::AND.getStabilityRule());
    EXPECT_EQ(Instrument::KERND_440E.getStabilityRule(), Instrument::KERN_572.getStabilityRule());
}

TEST(StabilityRule, NoSampleRecordOfAProfileIsMarkedUnlessItIsAnUnstableSample) {
    // The profile's own samples are stable readings, apart from A&D's "US" sample.
    for (const Instrument* instrument : Instrument::values()) {
        if (!instrument->hasStabilityRule())
            continue;
        const QRegularExpression rule = tavlo::base::compileExpression(instrument->getStabilityRule());
        for (const auto& [record, expected] : instrument->getTestStrings()) {
            if (expected.isEmpty() || record.startsWith(QLatin1String("US")))
                continue;
            EXPECT_FALSE(rule.match(record).hasMatch()) << instrument->nameLatin1() << " " << record.toStdString();
        }
    }
}

} // namespace
