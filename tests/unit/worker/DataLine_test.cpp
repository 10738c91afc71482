#include "base/Exceptions.h"
#include "base/Expressions.h"
#include "worker/DataLine.h"
#include "worker/Extraction.h"

#include <gtest/gtest.h>

using tavlo::worker::DataLine;
using tavlo::worker::extractValue;
using tavlo::worker::Instant;

namespace {

TEST(DataLine, ControlCharacterNotation) {
    EXPECT_EQ(DataLine::transformControlChars(u""), "");
    EXPECT_EQ(DataLine::transformControlChars(u"ST, +12.5 kg"), "ST, +12.5 kg");
    EXPECT_EQ(DataLine::transformControlChars(u"1\r\n"), "1<13><10>");
    QString bytes;
    bytes += QChar(0);
    bytes += QChar(127);
    bytes += QChar(255);
    bytes += QStringLiteral("<~>");
    EXPECT_EQ(DataLine::transformControlChars(bytes), "<0><127><255><~>");
}

TEST(DataLine, NotationOffsetsFollowTheNotation) {
    const QString record = QStringLiteral("\x02"
                                          "12\xFF"
                                          "3\r\n");
    const QString shown = DataLine::transformControlChars(record);
    ASSERT_EQ(shown, "<2>12<255>3<13><10>");
    // Every offset of the record lands on the first character of that byte's notation.
    const QList<qsizetype> expected = {0, 3, 4, 5, 10, 11, 15, 19};
    for (qsizetype i = 0; i <= record.size(); ++i)
        EXPECT_EQ(DataLine::notationOffset(record, i), expected[i]) << "offset " << i;
    EXPECT_EQ(DataLine::notationOffset(record, 99), shown.size());
}

TEST(DataLine, SpanIsOnlyUsableInsideTheRecord) {
    const auto at = [](qsizetype start, qsizetype end) {
        return DataLine(QStringLiteral("N 5\r"), QStringLiteral("5"), 1, Instant(), false, start, end).hasSpan();
    };
    EXPECT_TRUE(at(2, 3));
    EXPECT_TRUE(at(0, 4));
    EXPECT_FALSE(at(-1, -1));
    EXPECT_FALSE(at(2, 2));
    EXPECT_FALSE(at(3, 5));
}

TEST(DataLine, DeletingTheValueKeepsTheRecord) {
    DataLine line(QStringLiteral("N +5\r\n"), QStringLiteral("5"), 3, Instant(std::chrono::seconds(10)), true);
    EXPECT_TRUE(line.hasValue());
    const DataLine copy = line.copy();
    line.deleteProcessedData();
    EXPECT_FALSE(line.hasValue());
    EXPECT_EQ(line.getRawData(), "N +5<13><10>");
    EXPECT_EQ(line.getCount(), 3);
    EXPECT_TRUE(line.isError());
    EXPECT_TRUE(copy.hasValue());
    EXPECT_EQ(line.getDateTime().toMSecsSinceEpoch(), 10000);
}

TEST(Extraction, FirstMatchAnywhereAndItsGroup) {
    const auto signedNumber = tavlo::base::compileExpression(R"(([-+]?\s*[0-9]*[\.,]?[0-9]+))");
    EXPECT_EQ(extractValue(signedNumber, 1, "ST,+  12.345 kg\r\n"), "+  12.345");
    EXPECT_EQ(extractValue(signedNumber, 1, "A 1.5 B 2.5\r\n"), " 1.5");
    EXPECT_EQ(extractValue(signedNumber, 1, "no digits\r\n"), "");
    EXPECT_EQ(extractValue(signedNumber, 2, "12\r\n"), ""); // group the expression does not have
    EXPECT_EQ(extractValue(signedNumber, 0, "x12\r\n"), "12");
}

TEST(Extraction, GroupOutsideTheMatchIsAFailureNotAnEmptyValue) {
    const auto optionalGroup = tavlo::base::compileExpression(R"(N(?:([0-9]+)|x))");
    EXPECT_EQ(extractValue(optionalGroup, 1, "N12"), "12");
    EXPECT_THROW(extractValue(optionalGroup, 1, "Nx"), tavlo::base::TavloException);
    const auto emptyGroup = tavlo::base::compileExpression(R"(N([0-9]*))");
    EXPECT_EQ(extractValue(emptyGroup, 1, "Nx"), "");
}

TEST(Extraction, DotStopsAtCarriageReturnAndLineFeed) {
    const auto expression = tavlo::base::compileExpression(R"(^A.*(B))");
    EXPECT_EQ(extractValue(expression, 1, "A..B"), "B");
    EXPECT_EQ(extractValue(expression, 1, "A\rB"), "");
    EXPECT_EQ(extractValue(expression, 1, "A\nB"), "");
}

TEST(Extraction, AsciiClassesAndHighBytes) {
    const auto digits = tavlo::base::compileExpression(R"((\d+))");
    QString record = QString::fromUtf8("\xd9\xa1\xd9\xa2"); // Arabic-Indic digits are not \d
    EXPECT_EQ(extractValue(digits, 1, record + "7"), "7");
    QString latin1;
    latin1 += QChar(0xB0);
    latin1 += QStringLiteral("12");
    latin1 += QChar(0xFF);
    EXPECT_EQ(extractValue(digits, 1, latin1), "12");
    const auto invalid = tavlo::base::compileExpression("(");
    EXPECT_EQ(extractValue(invalid, 1, "12"), "");
}

} // namespace
