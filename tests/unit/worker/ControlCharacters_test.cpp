// Control characters inside records: replaced before extraction when the setting is on, with the value's place
// mapped back to the record's own bytes; reported when they cut a text record short while it is off.
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/ControlCharacters.h"
#include "worker/DataLine.h"
#include "worker/RecordPreview.h"
#include "worker/RecordProcessor.h"

#include <gtest/gtest.h>

using tavlo::config::Config;
using tavlo::worker::DataLine;
using tavlo::worker::RecordProcessor;
using H = tavlo::config::ConfigHelper;

namespace {

const QString kGs1 = QStringLiteral("0104012345678901\x1d"
                                    "10ABC123\r");

Config barcode(const H::Instrument& instrument, const QString& replacement = {}) {
    Config c;
    c.setInstrument(&instrument);
    c.replaceControlCharacters = replacement;
    return c;
}

std::string readable(const QString& text) {
    return DataLine::transformControlChars(text).toStdString();
}

struct ReplaceCase {
    const char* name;
    const H::Instrument* instrument;
    QString replacement;
    QString record;
    QString value;    // what is typed
    QString span;     // the part of the record the event log marks as typed
    bool cut = false; // reported as cut by control characters (only while the setting is off)
};

void PrintTo(const ReplaceCase& c, std::ostream* os) {
    *os << c.name;
}

class ControlCharacterReplacement : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ControlCharacterReplacement, TypesTheValueAndMarksTheRecordsOwnBytes) {
    const ReplaceCase& c = GetParam();
    RecordProcessor processor(barcode(*c.instrument, c.replacement));
    const RecordProcessor::Result result = processor.run(c.record);
    EXPECT_EQ(readable(result.value), readable(c.value));
    ASSERT_GE(result.start, 0);
    EXPECT_EQ(readable(c.record.mid(result.start, result.end - result.start)), readable(c.span));
    EXPECT_EQ(result.cutByControlCharacters, c.cut);
    EXPECT_EQ(readable(processor.extract(c.record)), readable(result.extracted));
    // Nothing of a control character is typed.
    for (const QChar ch : result.value)
        EXPECT_FALSE(tavlo::worker::isControlCharacter(ch)) << readable(result.value);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ControlCharacterReplacement,
    ::testing::Values(
        ReplaceCase{"gs1_off_is_cut",
                    &H::Instrument::BARCODE_ALPHA_COMPLETE,
                    {},
                    kGs1,
                    "0104012345678901",
                    "0104012345678901",
                    true},
        ReplaceCase{"gs1_with_bar", &H::Instrument::BARCODE_ALPHA_COMPLETE, "|", kGs1, "0104012345678901|10ABC123",
                    QStringLiteral("0104012345678901\x1d"
                                   "10ABC123")},
        // A reader that ends lines with CR LF, framed at CR: the LF starts the next record and is dropped.
        ReplaceCase{"gs1_crlf_framing", &H::Instrument::BARCODE_ALPHA_COMPLETE, "|",
                    QStringLiteral("\n0104012345678901\x1d"
                                   "10ABC123\r"),
                    "0104012345678901|10ABC123",
                    QStringLiteral("0104012345678901\x1d"
                                   "10ABC123")},
        // A run of control characters becomes the text once; the text may be longer than one character; DEL
        // is a control character too.
        ReplaceCase{"run_and_long_text", &H::Instrument::BARCODE_ALPHA_COMPLETE, " - ",
                    QStringLiteral("AB\x1d\x1e\x7f"
                                   "CD\r\n"),
                    "AB - CD",
                    QStringLiteral("AB\x1d\x1e\x7f"
                                   "CD")},
        // The numeric barcode profile: the separator must be one of its characters, and its expression takes
        // one number, so a comma joins two fields of digits.
        ReplaceCase{"numeric_with_comma", &H::Instrument::BARCODE, ",",
                    QStringLiteral("123\x1d"
                                   "456\r"),
                    "123,456",
                    QStringLiteral("123\x1d"
                                   "456")},
        ReplaceCase{"numeric_off_is_cut",
                    &H::Instrument::BARCODE,
                    {},
                    QStringLiteral("123\x1d"
                                   "456\r"),
                    "123",
                    "123",
                    true},
        // Capital letters only: the lower-case part is not taken, but no control character cut it.
        ReplaceCase{"alpha_off_no_control", &H::Instrument::BARCODE_ALPHA, {}, "ABC12def\r", "ABC12", "ABC12"},
        ReplaceCase{"alpha_with_letter", &H::Instrument::BARCODE_ALPHA, "X",
                    QStringLiteral("\x02"
                                   "AB\x1d"
                                   "12\x03\r"),
                    "ABX12",
                    QStringLiteral("AB\x1d"
                                   "12")},
        // A control character only at the ends is framing: nothing is cut.
        ReplaceCase{"framing_only",
                    &H::Instrument::BARCODE_ALPHA_COMPLETE,
                    {},
                    QStringLiteral("\x02"
                                   "ABC\x03\r\n"),
                    "ABC",
                    "ABC"}));

TEST(ControlCharacterText, MapsEveryOffsetBackToTheRecord) {
    const QString record = QStringLiteral("\n\nAB\x1d\x1d"
                                          "C\r");
    const tavlo::worker::ControlCharacterText text(record, QStringLiteral("<>"));
    EXPECT_EQ(text.text(), "AB<>C");
    EXPECT_EQ(text.recordStart(0), 2);
    // The replacement stands for the whole run.
    EXPECT_EQ(text.recordStart(2), 4);
    EXPECT_EQ(text.recordEnd(2, 3), 6);
    EXPECT_EQ(text.recordEnd(0, 5), 7);
    // An empty span is one point; past the end is the end of the content.
    EXPECT_EQ(text.recordEnd(4, 4), 6);
    EXPECT_EQ(text.recordStart(5), 7);
    EXPECT_EQ(text.recordStart(-1), -1);
    EXPECT_TRUE(tavlo::worker::ControlCharacterText("\r\n", "|").text().isEmpty());
}

TEST(ControlCharacterReplacementOnNumbers, WorksBeforeTheNumberChainAndKeepsTheRulesOnTheRecord) {
    // A MT-SICS reading with a stray control character: the rules still see the record as received.
    Config c = barcode(H::Instrument::METTLER_DIALOG, ".");
    RecordProcessor processor(c);
    const auto result = processor.run(QStringLiteral("S D      12\x1f"
                                                     "5 g\r\n"));
    EXPECT_EQ(result.value, "12.5");
    ASSERT_TRUE(result.stable.has_value());
    EXPECT_FALSE(*result.stable);
    EXPECT_EQ(result.unit, "g");
}

struct TypeableCase {
    const H::Instrument* instrument;
    const H::KeyboardType* keyboard;
    QString replacement;
    bool typeable;
};

void PrintTo(const TypeableCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1() << " " << c.keyboard->nameLatin1() << " \"" << readable(c.replacement) << "\"";
}

class ReplacementKeyMap : public ::testing::TestWithParam<TypeableCase> {};

TEST_P(ReplacementKeyMap, TheTextMustBeTypeableForTheInstrument) {
    const TypeableCase& c = GetParam();
    Config config = barcode(*c.instrument, c.replacement);
    config.setKeyboardType(c.keyboard);
    const QString problem = tavlo::worker::replacementProblem(config);
    EXPECT_EQ(problem.isEmpty(), c.typeable) << problem.toStdString();
    if (!c.typeable) {
        EXPECT_TRUE(problem.contains(c.instrument->toString())) << problem.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ReplacementKeyMap,
    ::testing::Values(TypeableCase{&H::Instrument::BARCODE_ALPHA_COMPLETE, &H::KeyboardType::QUERTY, "|", true},
                      TypeableCase{&H::Instrument::BARCODE_ALPHA_COMPLETE, &H::KeyboardType::ALL, "~ ", true},
                      TypeableCase{&H::Instrument::BARCODE_ALPHA_COMPLETE, &H::KeyboardType::GERMAN, "\t", false},
                      TypeableCase{&H::Instrument::BARCODE_ALPHA_COMPLETE, &H::KeyboardType::QUERTY, "\xe9", false},
                      TypeableCase{&H::Instrument::BARCODE_ALPHA, &H::KeyboardType::QUERTY, "-", true},
                      TypeableCase{&H::Instrument::BARCODE_ALPHA, &H::KeyboardType::AZERTY, "X", true},
                      TypeableCase{&H::Instrument::BARCODE_ALPHA, &H::KeyboardType::QUERTY, "|", false},
                      TypeableCase{&H::Instrument::BARCODE_ALPHA, &H::KeyboardType::QUERTY, "x", false},
                      TypeableCase{&H::Instrument::BARCODE, &H::KeyboardType::QUERTY, ",", true},
                      TypeableCase{&H::Instrument::BARCODE, &H::KeyboardType::QUERTY, "A", false},
                      TypeableCase{&H::Instrument::GENERIC, &H::KeyboardType::QUERTY, "|", false},
                      TypeableCase{&H::Instrument::GENERIC, &H::KeyboardType::QUERTY, "", true}));

TEST(ControlCharacterPreview, ThePreviewTypesWhatAcquisitionTypes) {
    const Config config = barcode(H::Instrument::BARCODE_ALPHA_COMPLETE, "|");
    const auto previews = tavlo::worker::previewRecords(config, {kGs1});
    ASSERT_EQ(previews.size(), 1);
    EXPECT_EQ(previews[0].value, "0104012345678901|10ABC123");
    EXPECT_TRUE(previews[0].reason.isEmpty()) << previews[0].reason.toStdString();
    // The event-log line marks the original bytes, group separator included.
    QString typed;
    for (const auto& span : previews[0].logLine)
        if (span.style == QLatin1String("typed"))
            typed += span.text;
    EXPECT_EQ(typed, "0104012345678901<29>10ABC123");
}

} // namespace
