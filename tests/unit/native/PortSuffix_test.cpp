// Friendly names of Windows ports carry the port in parentheses; the list shows the port already.
#include "native/common/Listing.h"

#include <gtest/gtest.h>

namespace {

struct SuffixCase {
    const char* description;
    const char* port;
    const char* shown;
};

class PortSuffix : public testing::TestWithParam<SuffixCase> {};

TEST_P(PortSuffix, IsTakenOffOnlyForThePortItself) {
    EXPECT_EQ(tsp::withoutPortSuffix(GetParam().description, GetParam().port), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortSuffix,
    testing::Values(SuffixCase{"USB Serial Port (COM4)", "COM4", "USB Serial Port"},
                    SuffixCase{"USB Serial Port (COM14)", "COM14", "USB Serial Port"},
                    // Another port's number is part of the name: COM1 is not COM14.
                    SuffixCase{"USB Serial Port (COM14)", "COM1", "USB Serial Port (COM14)"},
                    SuffixCase{"USB Serial Port (com4)", "COM4", "USB Serial Port"},
                    SuffixCase{"Communications Port (COM1) extra", "COM1", "Communications Port (COM1) extra"},
                    SuffixCase{"USB Serial Port", "COM4", "USB Serial Port"},
                    // Nothing but the suffix: the name stays rather than becoming empty.
                    SuffixCase{" (COM4)", "COM4", " (COM4)"}, SuffixCase{"(COM4)", "COM4", "(COM4)"},
                    SuffixCase{"", "COM4", ""}, SuffixCase{"Port (COM4)", "", "Port (COM4)"}));

} // namespace
