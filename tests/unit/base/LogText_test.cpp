#include "base/LogText.h"

#include <gtest/gtest.h>

using tavlo::base::visibleLine;
using tavlo::base::visibleText;

namespace {

struct LogTextCase {
    const char* name;
    QString in;
    QString shown;
};

void PrintTo(const LogTextCase& c, std::ostream* os) {
    *os << c.name;
}

class VisibleText : public ::testing::TestWithParam<LogTextCase> {};

TEST_P(VisibleText, ShowsControlCodesAndKeepsPrintableText) {
    EXPECT_EQ(visibleText(GetParam().in), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VisibleText,
    ::testing::Values(LogTextCase{"plain", "Port COM3 opened.", "Port COM3 opened."},
                      LogTextCase{"terminal escape", QString::fromLatin1("1\x1b[2J2"), "1<27>[2J2"},
                      LogTextCase{"bell and delete", QString::fromLatin1("a\x07\x7f"), "a<7><127>"},
                      LogTextCase{"C1 control introducer",
                                  QString::fromLatin1("\x9b"
                                                      "31m"),
                                  "<155>31m"},
                      LogTextCase{"every edge of the ranges", QString::fromLatin1("\x1f\x20\x7e\x7f\x9f\xa0"),
                                  "<31> ~<127><159>\u00a0"},
                      LogTextCase{"printable non-ASCII stays",
                                  QString::fromUtf8("25 \xc2\xb0"
                                                    "C \xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80"),
                                  QString::fromUtf8("25 \xc2\xb0"
                                                    "C \xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80")},
                      LogTextCase{"nul", QString(QChar(0)) + "x", "<0>x"}));

TEST(VisibleLine, JoinsLinesBeforeShowingWhatIsLeft) {
    EXPECT_EQ(visibleLine(QString::fromLatin1("first\r\nsecond\nthird\x1b")), "first second third<27>");
}

} // namespace
