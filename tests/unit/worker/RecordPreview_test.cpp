#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/RecordPreview.h"

#include <gtest/gtest.h>

using tavlo::worker::frameSample;
using tavlo::worker::previewRecords;
using H = tavlo::config::ConfigHelper;

namespace {

struct FrameCase {
    const char* name;
    const char* sample;
    int terminator;
    QStringList records; // empty list with error set: refused
    bool refused = false;
};

class FrameSampleTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameSampleTest, EscapesAndTerminators) {
    QString error;
    const auto records = frameSample(QString::fromLatin1(GetParam().sample), GetParam().terminator, &error);
    if (GetParam().refused) {
        EXPECT_FALSE(records.has_value());
        EXPECT_FALSE(error.isEmpty());
        return;
    }
    ASSERT_TRUE(records.has_value()) << error.toStdString();
    EXPECT_EQ(*records, GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, FrameSampleTest,
    ::testing::Values(FrameCase{"terminator_added", "12.5 g", 13, {"12.5 g\r"}},
                      FrameCase{"escaped_terminator_kept", "12.5 g\\r", 13, {"12.5 g\r"}},
                      FrameCase{"line_end_after_terminator_dropped", "12.5\\r\\n", 13, {"12.5\r"}},
                      FrameCase{"line_feed_terminator", "A\\r\\nB\\r\\n", 10, {"A\r\n", "B\r\n"}},
                      FrameCase{"two_records", "1\\r2", 13, {"1\r", "2\r"}},
                      FrameCase{"hex_and_octal", "\\x02+1\\003\\x3", 13, {QString("\x02+1\x03\x03\r")}},
                      FrameCase{"escaped_backslash", "a\\\\b", 13, {"a\\b\r"}}, FrameCase{"empty", "", 13, {}},
                      FrameCase{"lone_backslash", "12\\", 13, {}, true},
                      FrameCase{"unknown_escape", "\\q", 13, {}, true},
                      FrameCase{"hex_without_digits", "\\xg", 13, {}, true},
                      FrameCase{"octal_beyond_a_byte", "\\777", 13, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordPreview, UsesTheSettingsOfTheWholeChain) {
    tavlo::config::Config c;
    c.setInstrument(&H::Instrument::GENERIC);
    c.setDecimalSeparator(&H::DecimalSeparator::COMMA);
    c.setStartWith(&H::StartWith::F2);
    c.setOutputTerminator(&H::OutputTerminator::TAB);
    const auto previews = previewRecords(c, {"N -0012.50 kg\r", "nothing\r"});
    ASSERT_EQ(previews.size(), 2);
    EXPECT_EQ(previews[0].extracted, "-0012.50");
    EXPECT_EQ(previews[0].typed, "<F2>-12,50<TAB>");
    EXPECT_TRUE(previews[0].reason.isEmpty());
    EXPECT_FALSE(previews[1].matched);
    EXPECT_TRUE(previews[1].typed.isEmpty());
    EXPECT_FALSE(previews[1].reason.isEmpty());
}

TEST(RecordPreview, ReportsTheFailureOfTheRecordAndAnInvalidExpression) {
    tavlo::config::Config c;
    c.setInstrument(&H::Instrument::GENERIC);
    c.setCustomRegEx(R"(V=(\S+))");
    auto previews = previewRecords(c, {"V=abc\r"});
    ASSERT_EQ(previews.size(), 1);
    EXPECT_TRUE(previews[0].typed.isEmpty());
    EXPECT_FALSE(previews[0].reason.isEmpty());

    c.setCustomRegEx(R"(V=(\d+)");
    previews = previewRecords(c, {"V=1\r"});
    ASSERT_EQ(previews.size(), 1);
    EXPECT_TRUE(previews[0].reason.contains("not valid")) << previews[0].reason.toStdString();
}

TEST(RecordPreview, NamesCharactersTheLayoutCannotType) {
    tavlo::config::Config c;
    c.setInstrument(&H::Instrument::BARCODE_ALPHA_COMPLETE);
    c.setCustomRegEx(QStringLiteral("(.+)"));
    const auto previews = previewRecords(c, {QStringLiteral("A\u4e2dB\r")});
    ASSERT_EQ(previews.size(), 1);
    EXPECT_TRUE(previews[0].reason.contains("cannot type"))
        << previews[0].reason.toStdString() << "|" << previews[0].typed.toStdString() << "|" << previews[0].matched;
}

} // namespace

TEST(RecordPreview, AnUnstableReadingIsNamedOnlyWhenStableValuesAreAsked) {
    tavlo::config::Config c = H::Instrument::AND.getDefaultConfig();
    c.setInstrument(&H::Instrument::AND);
    c.setOutputTerminator(&H::OutputTerminator::ENTER);
    const QStringList records{"US,+00012.34  g\r\n", "ST,+00012.34  g\r\n"};

    // Off: both readings are typed alike.
    auto previews = previewRecords(c, records);
    ASSERT_EQ(previews.size(), 2);
    EXPECT_EQ(previews[0].typed, previews[1].typed);
    EXPECT_FALSE(previews[0].typed.isEmpty());

    c.stableOnly = true;
    previews = previewRecords(c, records);
    ASSERT_EQ(previews.size(), 2);
    EXPECT_TRUE(previews[0].typed.isEmpty());
    EXPECT_TRUE(previews[0].reason.contains("unstable")) << previews[0].reason.toStdString();
    ASSERT_EQ(previews[0].logLine.size(), 1);
    EXPECT_EQ(previews[0].logLine[0].style, "ignored");
    EXPECT_TRUE(previews[0].logLine[0].text.endsWith(" (unstable)\n"));
    EXPECT_EQ(previews[1].typed, "12.34<ENTER>");
    EXPECT_TRUE(previews[1].reason.isEmpty()) << previews[1].reason.toStdString();
}
