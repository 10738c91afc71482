// What the profiles' rules make of records on the way through Start, the worker and update(): an overload is
// no weight whatever "stable values only" says, and control characters in barcode records are replaced or
// reported as the settings ask.
#include "AcquisitionFixture.h"

#include "worker/ReadingOutput.h"
#include "worker/WeightWorker.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tavlo::test;
using tavlo::worker::Outcome;
using tavlo::worker::Reading;

namespace {

// Keeps the readings a run hands to its outputs.
class KeptReadings : public tavlo::worker::ReadingOutput {
public:
    void deliver(const std::shared_ptr<const Reading>& reading) override { readings.append(reading); }
    void deliverStatus(const tavlo::worker::StatusEvent&) override {}
    void close() override {}
    QList<std::shared_ptr<const Reading>> readings;
};

class AcquisitionRecords : public AcquisitionSim {
protected:
    void SetUp() override {
        AcquisitionSim::SetUp();
        m_acquisition.setOutputFactory(
            [this](const Config& c, tavlo::worker::AcquisitionView& view, const tavlo::worker::CommandSink& sink) {
                // The program's own outputs (the data log) and one that keeps what it is given.
                auto outputs = tavlo::output::createOutputs(c, view, sink);
                m_kept = std::make_shared<KeptReadings>();
                outputs.push_back(m_kept);
                return outputs;
            });
    }
    bool waitForReadings(qsizetype n) {
        return processEventsUntil([&] { return m_kept && m_kept->readings.size() >= n; });
    }
    // The important lines the run logged with the text.
    qsizetype importantLines(const QString& text) const {
        qsizetype n = 0;
        for (const QString& e : m_view.events())
            n += e.startsWith("! ") && e.contains(text) ? 1 : 0;
        return n;
    }
    std::shared_ptr<KeptReadings> m_kept;
};

struct OverloadCase {
    const H::Instrument* instrument;
    QByteArray weight; // a stable reading of 1
    QByteArray over;
    QByteArray under;
    bool stableOnly;
};

void PrintTo(const OverloadCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1() << (c.stableOnly ? " stable only" : " every value");
}

class OverloadRecords : public AcquisitionRecords, public ::testing::WithParamInterface<OverloadCase> {};

// Over- and underload between two equal weights: neither is typed nor logged as a value, both are overloads for the
// outputs, and the second weight is a duplicate of the first, which it would not be had an overload counted.
TEST_P(OverloadRecords, AreNeverTypedAndCountForNoFilter) {
    const OverloadCase& c = GetParam();
    Config config = settings(*c.instrument);
    config.stableOnly = c.stableOnly;
    config.ignoreDuplicates = true;
    config.setEveryXValues("2");
    config.setOutputTerminator2(&H::OutputTerminator::TAB);
    ASSERT_TRUE(m_acquisition.start(config));
    feed(kPort, c.weight + c.over + c.under + c.weight + c.over);
    ASSERT_TRUE(waitForReadings(5));
    const auto& r = m_kept->readings;
    EXPECT_EQ(r[0]->outcome, Outcome::Queued);
    for (int i : {1, 2, 4}) {
        EXPECT_EQ(r[i]->outcome, Outcome::Overload) << i;
        EXPECT_FALSE(r[i]->typed) << i;
        EXPECT_EQ(tavlo::worker::outcomeText(r[i]->outcome), "overload");
    }
    EXPECT_EQ(r[3]->outcome, Outcome::Duplicate);
    ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 5; }));
    for (int i : {1, 2, 4}) {
        ASSERT_EQ(m_view.logLines[i].size(), 1) << i;
        EXPECT_EQ(m_view.logLines[i][0].style, "ignored");
        EXPECT_TRUE(m_view.logLines[i][0].text.endsWith(" (overload)\n")) << m_view.logLines[i][0].text.toStdString();
    }
    // One value typed, ended by the first terminator: no overload counted towards "every 2 values".
    ASSERT_TRUE(waitForEnters(1));
    feed(kPort, "\n"); // a record without a value: the run has handled everything before it
    ASSERT_TRUE(waitForReadings(6));
    const QString typed = typedCharacters();
    m_acquisition.stop();
    EXPECT_EQ(typed.count(u'|'), 1) << typed.toStdString();
    EXPECT_EQ(typed.left(typed.indexOf(u'|')).toDouble(), 1.0) << typed.toStdString();
}

std::vector<OverloadCase> overloadCases() {
    const OverloadCase base[] = {
        {&H::Instrument::AND, "ST,+00001.00  g\r\n", "OL,+9999999E+19\r\n", "OL,-9999999E+19\r\n", false},
        {&H::Instrument::AND_SIMPLE, "ST,+00001.00  g\r\n", "OL,+9999999E+19\r\n", "OL,-9999999E+19\r\n", false},
        {&H::Instrument::AND_EM, "ST,+00001.00  g\r\n", "OL,+9999999E+19\r\n", "OL,-9999999E+19\r\n", false},
        {&H::Instrument::METTLER_DIALOG, "S S      1.000 g\r\n", "S +\r\n", "S -\r\n", false},
        {&H::Instrument::METTLER_PRINT, "S S      1.000 g\r\n", "S +\r\n", "S -\r\n", false},
        {&H::Instrument::SARTORIUS, "N     +      1.00 g  \r\n", "Stat        High    \r\n", "        L     \r\n",
         false},
    };
    std::vector<OverloadCase> cases;
    for (const OverloadCase& c : base)
        for (bool stableOnly : {false, true}) {
            OverloadCase each = c;
            each.stableOnly = stableOnly;
            cases.push_back(each);
        }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Profiles, OverloadRecords, ::testing::ValuesIn(overloadCases()));

TEST_F(AcquisitionRecords, ATareAcknowledgementIsLoggedAndNeverTyped) {
    ASSERT_TRUE(m_acquisition.start(settings(H::Instrument::METTLER_DIALOG)));
    feed(kPort, "T S    100.00 g\r\nZ A\r\nS S      5.00 g\r\n");
    ASSERT_TRUE(waitForReadings(3));
    const auto& r = m_kept->readings;
    EXPECT_EQ(r[0]->outcome, Outcome::NoValue);
    EXPECT_TRUE(r[0]->value.isEmpty());
    EXPECT_EQ(r[1]->outcome, Outcome::NoValue);
    EXPECT_EQ(r[2]->outcome, Outcome::Queued);
    EXPECT_EQ(r[2]->unit, "g");
    ASSERT_TRUE(waitForEnters(1));
    ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 3; }));
    const QString typed = typedCharacters();
    m_acquisition.stop();
    EXPECT_EQ(typed, "5.00|");
    EXPECT_TRUE(m_view.logLines[0][0].text.endsWith("T S    100.00 g<13><10> (acknowledgement)\n"));
    EXPECT_TRUE(m_view.logLines[1][0].text.endsWith(" (acknowledgement)\n"));
}

const QByteArray kGs1 = "0104012345678901\x1d"
                        "10ABC123\r";

TEST_F(AcquisitionRecords, Gs1FieldsAreJoinedByTheReplacementAndTheLogKeepsTheBytes) {
    QTemporaryDir dir;
    Config c = settings(H::Instrument::BARCODE_ALPHA_COMPLETE);
    c.setInputTerminator(13);
    c.replaceControlCharacters = "|";
    c.setDataLogFile(dir.filePath("log.csv"));
    ASSERT_TRUE(m_acquisition.start(c));
    // A reader that ends its lines with CR LF: the LF starts the next record.
    feed(kPort, kGs1 + "\n0104012345678901\x1d"
                       "10XYZ\r");
    ASSERT_TRUE(waitForEnters(2));
    ASSERT_TRUE(waitForReadings(2));
    const QString typed = typedCharacters();
    m_acquisition.stop();
    EXPECT_EQ(typed, "0104012345678901|10ABC123|0104012345678901|10XYZ|");
    EXPECT_EQ(m_kept->readings[0]->raw, QString::fromLatin1(kGs1));
    EXPECT_EQ(m_kept->readings[0]->value, "0104012345678901|10ABC123");
    EXPECT_EQ(typedValues(), QStringList({"0104012345678901<29>10ABC123", "0104012345678901<29>10XYZ"}));
    QFile csv(dir.filePath("log.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readAll().contains("0104012345678901<29>10ABC123<13>,0104012345678901|10ABC123,queued"));
    EXPECT_EQ(importantLines("was not typed"), 0);
}

TEST_F(AcquisitionRecords, WithoutTheSettingACutRecordIsReportedOncePerStart) {
    Config c = settings(H::Instrument::BARCODE_ALPHA_COMPLETE);
    c.setInputTerminator(13);
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(m_acquisition.start(c));
        feed(kPort, kGs1 + kGs1);
        ASSERT_TRUE(waitForEnters(2));
        const QString typed = typedCharacters();
        m_acquisition.stop();
        ASSERT_TRUE(processEventsUntil([&] { return !m_view.connected.isEmpty() && !m_view.connected.last(); }));
        EXPECT_EQ(typed, "0104012345678901|0104012345678901|");
        EXPECT_EQ(importantLines("was not typed"), run + 1);
    }
    const QStringList events = m_view.events();
    const QString line =
        *std::find_if(events.begin(), events.end(), [](const QString& e) { return e.contains("was not typed"); });
    EXPECT_TRUE(line.contains("0104012345678901<29>10ABC123<13>")) << line.toStdString();
    EXPECT_TRUE(line.contains("Replace control characters")) << line.toStdString();
}

// A tare sent while the balance's cable is out is not lost: it goes out on the port once it is back.
TEST_F(AcquisitionRecords, ACommandSentWhileThePortIsLostGoesOutWhenItIsBack) {
    ASSERT_TRUE(m_acquisition.start(settings(H::Instrument::METTLER_DIALOG)));
    tspSimUnplug(kPort);
    const QString lost =
        tavlo::worker::WeightWorker::resourceBundle().format("port.lost", {kPort, "%"}).section('%', 0, 0);
    ASSERT_TRUE(processEventsUntil([&] { return importantLines(lost) == 1; }));
    // A poll through the outage, or a user pressing Tare again and again, asks once: each answer would be typed.
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(m_acquisition.sendCommand(tavlo::config::InstrumentCommand::Tare));
        EXPECT_TRUE(m_acquisition.sendCommand(tavlo::config::InstrumentCommand::Request));
    }
    tspSimAddPort(kPort, "Sim", "Virtual port");
    QByteArray sent;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            uint8_t buffer[64];
            const int32_t n = tspSimTakeOutput(kPort, buffer, sizeof buffer);
            sent.append(reinterpret_cast<const char*>(buffer), n > 0 ? n : 0);
            return sent.size() >= 6;
        },
        10000));
    processEventsUntil([] { return false; }, 300);
    uint8_t more[64];
    const int32_t late = tspSimTakeOutput(kPort, more, sizeof more);
    sent.append(reinterpret_cast<const char*>(more), late > 0 ? late : 0);
    EXPECT_EQ(sent, QByteArray("T\r\nS\r\n"));
    EXPECT_EQ(importantLines("Error [WW]"), 0) << m_view.events().join('\n').toStdString();
}

TEST_F(AcquisitionRecords, AReplacementTheKeyMapCannotTypeStartsNothing) {
    Config c = settings(H::Instrument::BARCODE_ALPHA);
    c.replaceControlCharacters = "|";
    EXPECT_FALSE(m_acquisition.start(c));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(m_view.messages[0].contains("\"|\"")) << m_view.messages[0].toStdString();
    EXPECT_FALSE(m_acquisition.isRunning());
    EXPECT_EQ(tspSimIsOpen(kPort), 0);
}

} // namespace
