// The whole wedge without a window: records from tavlo-sim through a pseudo-terminal into
// tavlo --headless --output print, under various settings.
#include "HeadlessRun.h"

#include "../fakes/QtTestApp.h"

#include "config/Instrument.h"

#include <gtest/gtest.h>

using tavlo::test::runHeadless;
using Settings = QList<QPair<QString, QString>>;

namespace {

Settings profile(const char* instrument, int terminator, Settings more = {}) {
    Settings s{{"instrument", instrument}, {"inputTerminator", QString::number(terminator)}, {"delay", "0"}};
    return s + more;
}

struct SampleCase {
    const char* instrument;
    int terminator;
    const char* expected; // what is printed; records without the terminator are never typed
};

void PrintTo(const SampleCase& c, std::ostream* os) {
    *os << c.instrument;
}

class HeadlessSamples : public ::testing::TestWithParam<SampleCase> {};

TEST_P(HeadlessSamples, ProfileSampleRecordsGiveTheirValues) {
    const SampleCase& c = GetParam();
    // Each sample record once: the simulator sends the non-empty ones.
    int samples = 0;
    for (const auto& sample : tavlo::config::ConfigHelper::Instrument::valueOf(c.instrument)->getTestStrings())
        samples += sample.first.isEmpty() ? 0 : 1;
    const auto r = runHeadless(profile(c.instrument, c.terminator),
                               {"--instrument", c.instrument, "--interval", "5", "--count", QString::number(samples)},
                               std::nullopt);
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), c.expected) << r.err.toStdString();
}

// The samples are whole texts: some hold several of the profile's terminators, most none at all.
INSTANTIATE_TEST_SUITE_P(Profiles, HeadlessSamples,
                         ::testing::Values(SampleCase{"ADAM_AZEXTRA_WEIGHT", 10, "0.058\n1.234\n1.234\n"},
                                           SampleCase{"ADAM_CBK", 10, "1.9999\n-1.8999\n"},
                                           SampleCase{"KERN_MPS", 10, "3.3\n60.24\n"},
                                           SampleCase{"MITUTOYO", 13, "1.1920\n"},
                                           SampleCase{"MITUTOYO_LSM_6200", 10, "12.3456\n"}, SampleCase{"AND", 10, ""},
                                           SampleCase{"ADAM_CPWPLUS", 13, ""}, SampleCase{"ADAM_GC_WEIGHT", 10, ""},
                                           SampleCase{"KERN_RPB", 10, ""}, SampleCase{"KEYENCE_IL", 10, ""},
                                           SampleCase{"SCHLAGE_HANDPUNCH", 10, ""}, SampleCase{"TANITA_TL280", 10, ""},
                                           SampleCase{"WEDDERBURN", 10, ""},
                                           SampleCase{"BARCODE_ALPHA_COMPLETE", 13, ""}));

struct SettingsCase {
    const char* name;
    Settings settings;
    const char* values;
    const char* format;
    const char* expected;
};

void PrintTo(const SettingsCase& c, std::ostream* os) {
    *os << c.name;
}

class HeadlessSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(HeadlessSettings, PrintWhatTheSettingsMakeOfTheRecords) {
    const SettingsCase& c = GetParam();
    const int records = static_cast<int>(QString(c.values).split(',').size());
    const auto r = runHeadless(c.settings, {"--values", c.values, "--format", c.format, "--interval", "5"}, records);
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), c.expected) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Variations, HeadlessSettings,
    ::testing::Values(
        SettingsCase{"half_even_comma",
                     profile("GENERIC", 10,
                             {{"decimalPlaces", "2"}, {"roundingMethod", "HALF_EVEN"}, {"decimalSeparator", "COMMA"}}),
                     "2.345,2.355,-1.005", "%s g\\r\\n", "2,34\n2,36\n-1,00\n"},
        SettingsCase{"ceiling_floor", profile("GENERIC", 10, {{"decimalPlaces", "1"}, {"roundingMethod", "CEILING"}}),
                     "1.21,-1.29", "%s\\n", "1.3\n-1.2\n"},
        SettingsCase{"multiply", profile("GENERIC", 10, {{"mathOperation", "MULTIPLY"}, {"mathOperand", "1000"}}),
                     "0.125,-2.5", "%s kg\\n", "125.000\n-2500.0\n"},
        SettingsCase{"divide",
                     profile("GENERIC", 10,
                             {{"mathOperation", "DIVIDE"},
                              {"mathOperand", "3"},
                              {"decimalPlaces", "2"},
                              {"roundingMethod", "DOWN"}}),
                     "10,1", "%s\\n", "3.33\n0.33\n"},
        SettingsCase{
            "keep_last",
            profile("GENERIC", 10, {{"editOperation", "KEEP"}, {"editPosition", "LAST"}, {"editNumCharacters", "3"}}),
            "12345", "%s\\n", "345\n"},
        SettingsCase{"remove_first", profile("GENERIC", 10, {{"editNumCharacters", "2"}}), "12345", "%s\\n", "345\n"},
        SettingsCase{"remove_characters",
                     profile("GENERIC", 10, {{"customRegEx", R"(W=(\S+))"}, {"removeCharacters", "kg"}}), "12.5",
                     "W=%skg\\r\\n", "12.5\n"},
        SettingsCase{"duplicates", profile("GENERIC", 10, {{"ignoreDuplicates", "true"}}), "5,5,6,6.0", "%s\\n",
                     "5\n6\n6.0\n"},
        SettingsCase{"duplicates_tolerance",
                     profile("GENERIC", 10, {{"ignoreDuplicates", "true"}, {"ignoreDifference", "0.01"}}),
                     "10.00,10.01,10.02,10.5", "%s\\n", "10.00\n10.5\n"},
        SettingsCase{"keys_every_third",
                     profile("GENERIC", 10,
                             {{"startWith", "F2"},
                              {"outputTerminator", "ENTER"},
                              {"outputTerminator2", "TAB"},
                              {"everyXValues", "3"}}),
                     "1,2,3,4", "%s\\n", "<F2>1<ENTER>\n<F2>2<ENTER>\n<F2>3<TAB>\n<F2>4<ENTER>\n"},
        SettingsCase{"custom_expression", profile("KERN_RPB", 13, {{"customRegEx", R"(T=([-0-9.]+))"}}), "7.5,-1",
                     "N: 1 kg T=%s\\r", "7.5\n-1\n"},
        SettingsCase{"text_keeps_blanks", profile("BARCODE_ALPHA_COMPLETE", 13), "AB 12,x y", "%s\\r",
                     "AB 12\nx y\n"}));

TEST(Headless, PollSendsTheRequestText) {
    const auto r =
        runHeadless(profile("MITUTOYO", 13),
                    {"--instrument", "MITUTOYO", "--values", "1.192,-2.5", "--request", "1\\r"}, 2, {"--poll", "100"});
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.toStdString(), "1.1920\n-2.5000\n") << r.err.toStdString();
}

TEST(Headless, PollNeedsARequestText) {
    const auto r = runHeadless(profile("GENERIC", 10), {"--values", "1"}, 1, {"--poll", "100"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("has no request command")) << r.err.toStdString();
}

TEST(Headless, CountsFailedAndEmptyRecordsToo) {
    // "x" is no number for the custom expression's group; "-" is not a number either; both count.
    const auto r = runHeadless(profile("GENERIC", 10, {{"customRegEx", R"(V=(\S+))"}}),
                               {"--values", "1,-,2,none", "--format", "V=%s\\n"}, 4);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.toStdString(), "1\n2\n");
    EXPECT_TRUE(r.err.contains("Error [WW]: NumberFormatException")) << r.err.toStdString();
}

} // namespace

TEST(Headless, CountEndsTheRunAtExactlyThatManyValues) {
    // The simulator repeats its records without pause; those arriving while the last counted value is still being
    // typed must not be typed as well.
    for (int run = 0; run < 3; ++run) {
        const auto r =
            runHeadless(profile("GENERIC", 10), {"--values", "7,8", "--format", "%s\\n", "--interval", "0"}, 3);
        ASSERT_TRUE(r.finished) << r.err.toStdString();
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out.toStdString(), "7\n8\n7\n") << r.err.toStdString();
    }
}

namespace {

// An invalid setting of the file is named with what was stored and what is used; the run goes on with it.
TEST(Headless, InvalidSettingsAreNamedOneByOne) {
    const auto r = runHeadless(profile("GENERIC", 10, {{"decimalPlaces", "9"}, {"startWith", "F13"}}),
                               {"--values", "-0.5", "--format", "ST,GS,%+09.3f kg\\r\\n"}, 1);
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), "-0.500\n");
    EXPECT_TRUE(r.err.contains("Warning: decimalPlaces: stored \"9\" is not valid; an empty field is used"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Warning: startWith: stored \"F13\" is not valid; None is used")) << r.err.toStdString();
    // The log marks the negative reading as typed, not as unknown.
    EXPECT_FALSE(r.err.contains("[unknown]")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("[typed]")) << r.err.toStdString();
}

} // namespace
