#include "base/Expressions.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/DataLine.h"
#include "worker/Extraction.h"
#include "worker/RecordProcessor.h"

#include <cstring>
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

INSTANTIATE_TEST_SUITE_P(
    Profiles, StabilityRuleTest,
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
                      StabilityCase{&Instrument::SARTORIUS, "-      0.05\r\n", true},
                      // Sartorius special codes: over- and underload, also while
                      // checkweighing, with and without the identification code.
                      StabilityCase{&Instrument::SARTORIUS, "        H     \r\n", false, true},
                      StabilityCase{&Instrument::SARTORIUS, "        L     \r\n", false, true},
                      StabilityCase{&Instrument::SARTORIUS, "Stat              HH\r\n", false, true},
                      StabilityCase{&Instrument::SARTORIUS, "Stat        High    \r\n", false, true},
                      StabilityCase{&Instrument::SARTORIUS, "Stat        Low     \r\n", false, true},
                      // An error code is a number, but no weight.
                      StabilityCase{&Instrument::SARTORIUS, "Stat     ERR 101    \r\n", false, true},
                      // A weight in grams is no "H": the unit is a letter after digits.
                      StabilityCase{&Instrument::SARTORIUS, "N     +   153.00 g  \r\n", false},
                      // KERN s/w/t balances leave the unit out while the weight moves.
                      StabilityCase{&Instrument::KERN_FKB, "         0.0 g  \r\n", false},
                      StabilityCase{&Instrument::KERN_FKB, "         0.0 \r\n", true},
                      StabilityCase{&Instrument::KERN_572, "    12.345   \n", true},
                      StabilityCase{&Instrument::KERN_572, "      100 pcs\n", false},
                      // KERN KFB indicators send A&D-like headers.
                      StabilityCase{&Instrument::KERN_KFB, "ST,GS     1.000KG\r\n", false},
                      StabilityCase{&Instrument::KERN_KFB, "US,GS     1.342KG\r\n", true}));

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

namespace {

using tavlo::config::InstrumentCommand;

// Every entry names its document and has a valid acknowledgement pattern; a profile without an entry sends nothing.
// (The bytes themselves are checked where they arrive: on a pseudo-terminal, in the integration tests.)
TEST(CommandTable, EntriesNameTheirDocumentAndProfilesWithoutOneHaveNoCommand) {
    for (const Instrument* i : Instrument::values()) {
        if (const auto* table = i->commands()) {
            EXPECT_GT(std::strlen(table->source), 10u) << i->nameLatin1();
            if (const QString rule = i->getAcknowledgementRule(); !rule.isEmpty()) {
                EXPECT_TRUE(tavlo::base::compileExpression(rule).isValid()) << rule.toStdString();
            }
            continue;
        }
        for (const InstrumentCommand command :
             {InstrumentCommand::Request, InstrumentCommand::Tare, InstrumentCommand::Zero})
            EXPECT_FALSE(i->hasCommand(command)) << i->nameLatin1();
        EXPECT_TRUE(i->getAcknowledgementRule().isEmpty());
    }
    // The profile's own request text is the table's for the one profile that has one.
    EXPECT_EQ(Instrument::MITUTOYO.getDataCommand().toLatin1(),
              Instrument::MITUTOYO.getCommand(InstrumentCommand::Request));
}

// What the instruments answer to tare and zero is no reading; their readings are no acknowledgement.
struct AnswerCase {
    const Instrument* instrument;
    const char* record;
    bool acknowledgement;
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1() << " \""
        << tavlo::worker::DataLine::transformControlChars(QString::fromLatin1(c.record)).toStdString() << "\"";
}

class AcknowledgementRule : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AcknowledgementRule, FindsOnlyTheAnswersToTareAndZero) {
    const AnswerCase& c = GetParam();
    Config config;
    config.setInstrument(c.instrument);
    tavlo::worker::RecordProcessor processor(config);
    const auto result = processor.run(QString::fromLatin1(c.record));
    EXPECT_EQ(result.acknowledgement, c.acknowledgement);
    if (result.acknowledgement) {
        EXPECT_FALSE(result.overload);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, AcknowledgementRule,
    ::testing::Values(AnswerCase{&Instrument::METTLER_DIALOG, "T S    100.00 g\r\n", true},
                      AnswerCase{&Instrument::METTLER_PRINT, "Z A\r\n", true},
                      AnswerCase{&Instrument::METTLER_DIALOG, "S S    100.00 g\r\n", false},
                      // Refusals carry no weight and are no acknowledgement of a carried-out command.
                      AnswerCase{&Instrument::METTLER_DIALOG, "T I\r\n", false},
                      AnswerCase{&Instrument::METTLER_DIALOG, "Z +\r\n", false},
                      AnswerCase{&Instrument::AND, "\x06\r\n", true},
                      // An AK sent without the terminator only precedes the next reading, which stays one.
                      AnswerCase{&Instrument::AND, "\x06ST,+00012.34  g\r\n", false},
                      AnswerCase{&Instrument::AND_SIMPLE, "\x06\r\n", true},
                      AnswerCase{&Instrument::OHAUS, "OK!\r\n", true},
                      AnswerCase{&Instrument::OHAUS, "     12.34 g\r\n", false}));

// The unit a record carries after its value, as each profile's records write it.
struct UnitCase {
    const Instrument* instrument;
    const char* record;
    const char* unit;
};

void PrintTo(const UnitCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1() << " \""
        << tavlo::worker::DataLine::transformControlChars(QString::fromLatin1(c.record)).toStdString() << "\"";
}

class UnitRule : public ::testing::TestWithParam<UnitCase> {};

TEST_P(UnitRule, TakesTheUnitAfterTheValue) {
    const UnitCase& c = GetParam();
    Config config;
    config.setInstrument(c.instrument);
    tavlo::worker::RecordProcessor processor(config);
    EXPECT_EQ(processor.run(QString::fromLatin1(c.record)).unit.toStdString(), c.unit);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, UnitRule,
    ::testing::Values(
        UnitCase{&Instrument::AND, "ST,+00012.34  g\r\n", "g"},
        UnitCase{&Instrument::AND_EM, "ST,+00000101 PC\r\n", "PC"},
        UnitCase{&Instrument::AND, "US,-00012,45 kg\r\n", "kg"},
        UnitCase{&Instrument::METTLER_DIALOG, "S S      12.345 g\r\n", "g"},
        UnitCase{&Instrument::METTLER_PRINT, "S D     -1.2 kg\r\n", "kg"},
        UnitCase{&Instrument::KERN_572, "    12.345 g ?\n", "g"},
        UnitCase{&Instrument::KERN_FKB, "         0.0 \r\n", ""},
        UnitCase{&Instrument::KERN_KFB, "ST,GS     1.000KG\r\n", "KG"},
        UnitCase{&Instrument::KERN_MPS, "N  60.24 kg\n", "kg"}, UnitCase{&Instrument::KERN_RPB, "N:  4000 g\r", "g"},
        UnitCase{&Instrument::OHAUS, "     192.21 g ?\r\n", "g"},
        UnitCase{&Instrument::OHAUSSPU, "     0.01 oz\r\n", "oz"},
        UnitCase{&Instrument::SARTORIUS, "N     +   153.00 g  \r\n", "g"},
        UnitCase{&Instrument::SARTORIUS, "+     12.34    \r\n", ""},
        UnitCase{&Instrument::ADAM_CBK, "  1.9999 kg\n", "kg"},
        UnitCase{&Instrument::ADAM_CPWPLUS, "G/W:+ 60.24   kg\n\n\n\n", "kg"},
        UnitCase{&Instrument::ADAM_GC_WEIGHT, "Net Wt     0.0845 kg\r", "kg"},
        UnitCase{&Instrument::ADAM_GC_PCS, "   125 pcs\r\n", "pcs"},
        UnitCase{&Instrument::ADAM_AZEXTRA_WEIGHT, "   1.234kg\r\n", "kg"},
        UnitCase{&Instrument::ADAM_HCB, " 123.45 g \r\n", "g"},
        UnitCase{&Instrument::ADAM_LABEL, "12.5 ozt\r\n", "ozt"}, UnitCase{&Instrument::ADAM_LABEL, "3 dwt\r\n", "dwt"},
        UnitCase{&Instrument::GENERIC, "W: +12.5 kg\r\n", "kg"},
        // The unit belongs to the value's line: the next line of a printout is no unit.
        UnitCase{&Instrument::ADAM_AZEXTRA_WEIGHT, "\r\nNET.      1.234kg\r\n\r\nTOTAL ?  412.53\r\n", "kg"},
        UnitCase{&Instrument::GENERIC, "12.5\r\nkg\r\n", ""},
        // Records without a unit after the value, and profiles without a unit rule.
        UnitCase{&Instrument::MITUTOYO, "01A+001.1920\r", ""},
        UnitCase{&Instrument::KEYENCE_IL, "DR,02,+123.567\r", ""},
        UnitCase{&Instrument::TANITA_TL280, "{0,16,~0,1,MO,\"TL-280\",Wg,123,Pt,0\n", ""},
        UnitCase{&Instrument::BARCODE, "12345 kg\r", ""}));

} // namespace
