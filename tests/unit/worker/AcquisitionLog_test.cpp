#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/Acquisition.h"
#include "worker/RecordProcessor.h"

#include <gtest/gtest.h>

namespace tavlo::worker {
// Readable failures: the span's text and style instead of its bytes.
[[maybe_unused]] static void PrintTo(const LogSpan& span, std::ostream* os) {
    *os << '{' << span.text.toStdString() << '|' << span.style.toStdString() << '}';
}
} // namespace tavlo::worker

using tavlo::worker::Acquisition;
using tavlo::worker::DataLine;
using tavlo::worker::Instant;
using tavlo::worker::LogSpan;
using tavlo::worker::RecordProcessor;
using H = tavlo::config::ConfigHelper;

namespace {

QList<LogSpan> spansOf(const QString& raw, const QString& value, qsizetype start = -1, qsizetype end = -1) {
    const DataLine line(raw, value, 1, Instant(std::chrono::seconds(3600)), false, start, end);
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

// A record as the worker passes it on: processed by the record processor, with the span it reports.
QList<LogSpan> processedSpans(const tavlo::config::Config& config, const QString& raw) {
    RecordProcessor processor(config);
    const RecordProcessor::Result result = processor.run(raw);
    return spansOf(raw, result.value, result.start, result.end);
}

TEST(AcquisitionLog, ProcessedValuesMarkTheSpanTheyCameFrom) {
    tavlo::config::Config config;
    config.setInstrument(&H::Instrument::GENERIC);
    // Formatting drops the leading zeros, so the typed "-0.500" is nowhere in the record.
    EXPECT_EQ(
        processedSpans(config, "ST,GS,-0000.500 kg\r\n"),
        (QList<LogSpan>{{"", "regular"}, {"ST,GS,", "ignored"}, {"-0000.500", "typed"}, {" kg<13><10>\n", "ignored"}}));
    // A control character before the value shifts the shown span by the length of its notation.
    EXPECT_EQ(processedSpans(config, "\x02+5.00\x03\r"),
              (QList<LogSpan>{{"", "regular"}, {"<2>", "ignored"}, {"+5.00", "typed"}, {"<3><13>\n", "ignored"}}));
    config.setDecimalPlaces("1");
    config.setMathOperation(&H::MathOperation::MULTIPLY);
    config.setMathOperand("1000");
    EXPECT_EQ(processedSpans(config, QChar(0xB1) + QStringLiteral(" 0.25 kg\r")),
              (QList<LogSpan>{{"", "regular"}, {"<177>", "ignored"}, {" 0.25", "typed"}, {" kg<13>\n", "ignored"}}));
}

TEST(AcquisitionLog, ControlCharactersInsideTheSpanAreTypedInNotation) {
    EXPECT_EQ(spansOf("A\tB\r", "AB", 0, 3),
              (QList<LogSpan>{{"", "regular"}, {"A<9>B", "typed"}, {"<13>\n", "ignored"}}));
}

TEST(AcquisitionLog, EmptyValueIgnoresTheWholeLineEvenWithASpan) {
    EXPECT_EQ(spansOf("N 0.0 g\r", "", 2, 5), (QList<LogSpan>{{"N 0.0 g<13>\n", "ignored"}}));
}

} // namespace
