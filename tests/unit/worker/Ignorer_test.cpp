#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/Ignorer.h"

#include <gtest/gtest.h>

using tavlo::base::Decimal;
using tavlo::config::Config;
using tavlo::worker::DataLine;
using tavlo::worker::Ignorer;
using tavlo::worker::Instant;
using H = tavlo::config::ConfigHelper;
using namespace std::chrono_literals;

namespace {

DataLine at(std::chrono::nanoseconds t, const char* value) {
    static int count = 0;
    return DataLine(QString(value) + "\r\n", value, ++count, Instant(t), false);
}

// Feeds the values, each `step` after the previous one, and returns those that stay typed.
QStringList filter(Ignorer& ignorer, const QStringList& values, std::chrono::nanoseconds step = 1ms) {
    QStringList typed;
    std::chrono::nanoseconds t = 1000s;
    for (const QString& v : values) {
        DataLine line = at(t, v.toLatin1().constData());
        ignorer.process(line);
        if (line.hasValue())
            typed << line.getProcessedData();
        t += step;
    }
    return typed;
}

TEST(Ignorer, ZeroDifferenceComparesText) {
    Ignorer ignorer(0, Decimal());
    EXPECT_EQ(filter(ignorer, {"12.50", "12.50", "12.5", "12.5", "12.50"}), QStringList({"12.50", "12.5", "12.50"}));
}

TEST(Ignorer, ToleranceComparesWithTheImmediatelyPreviousValue) {
    Ignorer ignorer(0, Decimal::parse(u"0.01"));
    EXPECT_EQ(filter(ignorer, {"10.00", "10.01", "10.02", "10.03"}), QStringList({"10.00"}));
    Ignorer comma(0, Decimal::parse(u"0.01"));
    EXPECT_EQ(filter(comma, {"10,00", "10,02", "10,025", "9,99"}), QStringList({"10,00", "10,02", "9,99"}));
}

TEST(Ignorer, TimeLimitInWholeMilliseconds) {
    Ignorer ignorer(500, Decimal());
    DataLine first = at(10s, "5");
    DataLine again = at(10s + 500ms + 999us, "5"); // 500.999 ms counts as 500
    DataLine late = at(10s + 500ms + 999us + 501ms, "5");
    ignorer.process(first);
    ignorer.process(again);
    ignorer.process(late);
    EXPECT_TRUE(first.hasValue());
    EXPECT_FALSE(again.hasValue());
    EXPECT_TRUE(late.hasValue());
}

TEST(Ignorer, EmptyLinesAreNeitherTestedNorRemembered) {
    Ignorer ignorer(0, Decimal());
    EXPECT_EQ(filter(ignorer, {"7", "", "7"}), QStringList({"7"}));
}

TEST(Ignorer, BuiltFromTheSettings) {
    Config c;
    c.setInstrument(&H::Instrument::GENERIC);
    c.setIgnoreTimeLimit("250");
    c.setIgnoreDifference("0.5");
    Ignorer numbers(c);
    EXPECT_EQ(numbers.timeLimit(), 250);
    EXPECT_EQ(numbers.difference().toPlainString(), "0.5");

    c.setInstrument(&H::Instrument::BARCODE);
    c.setIgnoreTimeLimit("x");
    Ignorer text(c);
    EXPECT_EQ(text.timeLimit(), 0);
    EXPECT_EQ(text.difference().signum(), 0);
    EXPECT_EQ(filter(text, {"1.0", "1.2", "1.2"}), QStringList({"1.0", "1.2"}));
}

TEST(Ignorer, NewFilterNeverSuppressesTheFirstValue) {
    Ignorer before(0, Decimal());
    filter(before, {"3"});
    Ignorer after(0, Decimal());
    EXPECT_EQ(filter(after, {"3"}), QStringList({"3"}));
}

} // namespace
