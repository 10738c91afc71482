#include "worker/Acquisition.h"

#include <gtest/gtest.h>

using tavlo::worker::Acquisition;
using tavlo::worker::DataLine;
using tavlo::worker::Instant;
using tavlo::worker::LogSpan;

namespace {

QList<LogSpan> spansOf(const QString& raw, const QString& value) {
    const DataLine line(raw, value, 1, Instant(std::chrono::seconds(3600)), false);
    QList<LogSpan> spans = Acquisition::logLine(line);
    EXPECT_FALSE(spans.isEmpty());
    if (!spans.isEmpty()) {
        EXPECT_EQ(spans[0].text.left(9), tavlo::worker::logTimeStamp(line.getDateTime()));
        spans[0].text.remove(0, 9); // the time stamp
    }
    return spans;
}

TEST(AcquisitionLog, TypedSpanBetweenIgnoredParts) {
    const QList<LogSpan> expected = {
        {"", "regular"}, {"ST,GS,+", "ignored"}, {"0001.23", "typed"}, {" kg<13><10>\n", "ignored"}};
    EXPECT_EQ(spansOf("ST,GS,+0001.23 kg\r\n", "0001.23"), expected);
}

TEST(AcquisitionLog, ValueFoundWithTheOtherSeparator) {
    const QList<LogSpan> comma = {{"", "regular"}, {"N ", "ignored"}, {"12.5", "typed"}, {" g\n", "ignored"}};
    EXPECT_EQ(spansOf("N 12.5 g", "12,5"), comma);
    const QList<LogSpan> point = {{"", "regular"}, {"12,5", "typed"}, {"\n", "ignored"}};
    EXPECT_EQ(spansOf("12,5", "12.5"), point);
}

TEST(AcquisitionLog, UnknownWhenNotFoundOrAfterAControlCharacter) {
    EXPECT_EQ(spansOf("\x02 12.5 g", "12.5"), (QList<LogSpan>{{"<2> 12.5 g\n", "unknown"}}));
    EXPECT_EQ(spansOf("+0012.5 g", "12.50"), (QList<LogSpan>{{"+0012.5 g\n", "unknown"}}));
    EXPECT_EQ(spansOf("N 12.5 g\r", ""), (QList<LogSpan>{{"N 12.5 g<13>\n", "ignored"}}));
}

} // namespace
