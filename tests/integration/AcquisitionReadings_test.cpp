// One reading per framed record for every output: numbered without gaps (failures included), with what
// became of it, and the run's status events around them.
#include "AcquisitionFixture.h"

#include "worker/ReadingOutput.h"
#include "worker/WeightWorker.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tavlo::test;
using tavlo::worker::Outcome;
using tavlo::worker::Reading;
using tavlo::worker::StatusEvent;

namespace {

// An output that keeps what it was given, and whether it was closed.
class RecordingOutput : public tavlo::worker::ReadingOutput {
public:
    void deliver(const std::shared_ptr<const Reading>& reading) override {
        EXPECT_FALSE(closed) << "a reading after close()";
        readings.append(reading);
    }
    void deliverStatus(const StatusEvent& event) override {
        EXPECT_FALSE(closed) << "an event after close()";
        events.append(event);
    }
    void close() override {
        EXPECT_FALSE(closed) << "closed twice";
        closed = true;
    }
    QList<StatusEvent::Kind> kinds() const {
        QList<StatusEvent::Kind> out;
        for (const StatusEvent& e : events)
            out.append(e.kind);
        return out;
    }

    QList<std::shared_ptr<const Reading>> readings;
    QList<StatusEvent> events;
    bool closed = false;
};

class AcquisitionReadings : public AcquisitionSim {
protected:
    void SetUp() override {
        AcquisitionSim::SetUp();
        m_acquisition.setOutputFactory(
            [this](const Config&, tavlo::worker::AcquisitionView&, const tavlo::worker::CommandSink& commands) {
                m_commands = commands;
                m_output = std::make_shared<RecordingOutput>();
                m_runs.append(m_output);
                return std::vector<std::shared_ptr<tavlo::worker::ReadingOutput>>{m_output};
            });
    }
    bool waitForReadings(qsizetype n) {
        return processEventsUntil([&] { return m_output && m_output->readings.size() >= n; });
    }
    std::shared_ptr<RecordingOutput> m_output;
    tavlo::worker::CommandSink m_commands;
    QList<std::shared_ptr<RecordingOutput>> m_runs;
};

TEST_F(AcquisitionReadings, EveryFramedRecordIsOneReadingNumberedWithoutGapsFailuresIncluded) {
    Config c = settings(H::Instrument::AND);
    c.setCustomRegEx(QStringLiteral(",([-+]?[0-9][0-9.+-]*)"));
    c.ignoreDuplicates = true;
    c.stableOnly = true;
    ASSERT_TRUE(m_acquisition.start(c));
    // 1 typed, 2 duplicate, 3 unstable, 4 overload, 5 no value, 6 failure (no number), 7 too long, 8 typed.
    feed(kPort, "ST,+00001.00  g\r\nST,+00001.00  g\r\nUS,+00002.00  g\r\nOL,+9999999E+19\r\nhello\r\n"
                "ST,12-  g\r\n" +
                    QByteArray(tavlo::worker::WeightWorker::kMaxRecordBytes + 5, 'x') + "\r\nST,+00003.00  g\r\n");
    ASSERT_TRUE(waitForReadings(8)) << m_output->readings.size();
    const auto& r = m_output->readings;
    for (int i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i]->seq, i + 1);
        EXPECT_EQ(r[i]->run, m_acquisition.runId());
        EXPECT_EQ(r[i]->port, kPort);
        EXPECT_EQ(r[i]->instrument, "AND");
        EXPECT_FALSE(r[i]->station.isEmpty()) << "the host name stands in for an unset station";
    }
    const std::pair<Outcome, const char*> expected[] = {{Outcome::Queued, "1.00"},   {Outcome::Duplicate, "1.00"},
                                                        {Outcome::Unstable, "2.00"}, {Outcome::Overload, ""},
                                                        {Outcome::NoValue, ""},      {Outcome::Error, ""},
                                                        {Outcome::Error, ""},        {Outcome::Queued, "3.00"}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(r[i]->outcome, expected[i].first) << i;
        if (expected[i].second) {
            EXPECT_EQ(r[i]->value, QString::fromLatin1(expected[i].second)) << i;
        }
        EXPECT_EQ(r[i]->typed, expected[i].first == Outcome::Queued) << i;
    }
    EXPECT_EQ(r[0]->raw, "ST,+00001.00  g\r\n");
    EXPECT_TRUE(r[5]->error.startsWith("Error [WW]: ")) << r[5]->error.toStdString();
    EXPECT_TRUE(r[6]->raw.startsWith("xxxx"));
    EXPECT_FALSE(r[6]->error.isEmpty());
    ASSERT_TRUE(r[0]->stable.has_value());
    EXPECT_TRUE(*r[0]->stable);
    EXPECT_FALSE(*r[2]->stable);
    // An overload carries no weight, unit or stability: its digits are the instrument's sign of a full range.
    EXPECT_TRUE(r[3]->unit.isEmpty());
    EXPECT_FALSE(r[3]->stable.has_value());
    EXPECT_EQ(m_acquisition.lastReading(), r.last());
    // The overload was never typed, and did not count for the duplicate filter: 3.00 follows 1.00.
    ASSERT_TRUE(waitForEnters(2));
    EXPECT_EQ(typedCharacters(), "1.00|3.00|");
}

TEST_F(AcquisitionReadings, StatusEventsFrameTheRunAndTheOutputsCloseAtStopAndAtANewStart) {
    Config c = settings();
    c.station = "bench-7";
    ASSERT_TRUE(m_acquisition.start(c));
    feed(kPort, "5\n");
    ASSERT_TRUE(waitForReadings(1));
    EXPECT_EQ(m_output->readings[0]->station, "bench-7");
    const QString firstRun = m_acquisition.runId();
    m_acquisition.stop();
    ASSERT_EQ(m_runs.size(), 1);
    EXPECT_TRUE(m_runs[0]->closed);
    const QList<StatusEvent::Kind> kinds = m_runs[0]->kinds();
    ASSERT_GE(kinds.size(), 3);
    EXPECT_EQ(kinds.first(), StatusEvent::Kind::Started);
    EXPECT_EQ(kinds[1], StatusEvent::Kind::PortOpened);
    EXPECT_EQ(kinds.last(), StatusEvent::Kind::Stopped);
    for (const StatusEvent& e : m_runs[0]->events)
        EXPECT_EQ(e.run, firstRun);
    ASSERT_TRUE(processEventsUntil([&] { return !m_view.connected.isEmpty() && !m_view.connected.last(); }));

    // A new run has a new id and starts counting again; its outputs are its own.
    ASSERT_TRUE(m_acquisition.start(c));
    feed(kPort, "6\n");
    ASSERT_TRUE(waitForReadings(1));
    EXPECT_NE(m_acquisition.runId(), firstRun);
    EXPECT_EQ(m_runs.size(), 2);
    EXPECT_EQ(m_output->readings[0]->seq, 1);
    EXPECT_EQ(m_runs[0]->readings.size(), 1);
}

TEST_F(AcquisitionReadings, ALostPortIsAStatusEventAndTheReopenAnother) {
    ASSERT_TRUE(m_acquisition.start(settings()));
    tspSimUnplug(kPort);
    ASSERT_TRUE(processEventsUntil([&] { return m_output->kinds().contains(StatusEvent::Kind::Lost); }));
    tspSimAddPort(kPort, "Sim", "Virtual port");
    ASSERT_TRUE(processEventsUntil([&] { return m_output->kinds().contains(StatusEvent::Kind::Reopened); }, 5000));
    feed(kPort, "9\n");
    ASSERT_TRUE(waitForReadings(1));
    EXPECT_EQ(m_output->readings[0]->value, "9");
}

TEST_F(AcquisitionReadings, WithTypingOffValuesAreAcceptedAndNoKeyboardIsMade) {
    Config c = settings();
    c.typeValues = false;
    m_keyboardFails = true; // a keyboard asked for would fail the run's typing
    ASSERT_TRUE(m_acquisition.start(c));
    EXPECT_FALSE(m_acquisition.keybot());
    EXPECT_TRUE(m_view.messages.isEmpty()) << m_view.messages.join('\n').toStdString();
    feed(kPort, "5\n\n");
    ASSERT_TRUE(waitForReadings(2));
    EXPECT_EQ(m_output->readings[0]->outcome, Outcome::Accepted);
    EXPECT_FALSE(m_output->readings[0]->typed);
    EXPECT_EQ(m_output->readings[1]->outcome, Outcome::NoValue);
}

TEST_F(AcquisitionReadings, AWantedKeyboardThatFailedMakesValuesErrors) {
    m_keyboardFails = true;
    ASSERT_TRUE(m_acquisition.start(settings()));
    feed(kPort, "5\n");
    ASSERT_TRUE(waitForReadings(1));
    EXPECT_EQ(m_output->readings[0]->outcome, Outcome::Error);
    EXPECT_EQ(m_output->readings[0]->error, "no keyboard output");
}

} // namespace

namespace {

// An output's command takes the one request path, from another thread, and its outcome comes back.
TEST_F(AcquisitionReadings, AnOutputsCommandIsCarriedOutOnTheGuiThreadWithItsOutcome) {
    Config c = settings(H::Instrument::MITUTOYO);
    c.setInputTerminator(13);
    ASSERT_TRUE(m_acquisition.start(c));
    QList<std::pair<bool, QString>> outcomes;
    const auto done = [&outcomes](bool ok, const QString& reason) { outcomes.append({ok, reason}); };
    std::thread([&] {
        m_commands(tavlo::config::InstrumentCommand::Request, done);
        m_commands(tavlo::config::InstrumentCommand::Tare, done);
    }).join();
    ASSERT_TRUE(processEventsUntil([&] { return outcomes.size() == 2; }));
    EXPECT_TRUE(outcomes[0].first);
    EXPECT_FALSE(outcomes[1].first);
    EXPECT_TRUE(outcomes[1].second.contains("tare")) << outcomes[1].second.toStdString();
    QByteArray sent;
    ASSERT_TRUE(processEventsUntil([&] {
        uint8_t buffer[64];
        const int32_t n = tspSimTakeOutput(kPort, buffer, sizeof buffer);
        sent.append(reinterpret_cast<const char*>(buffer), n);
        return sent.size() >= 2;
    }));
    EXPECT_EQ(sent, QByteArray("1\r"));

    m_acquisition.stop();
    m_commands(tavlo::config::InstrumentCommand::Request, done);
    ASSERT_TRUE(processEventsUntil([&] { return outcomes.size() == 3; }));
    EXPECT_FALSE(outcomes[2].first) << "no run, no command";
}

} // namespace

namespace {

// The port opens and the window is told "connected", then preparing the port fails: the run ends at once, its
// outputs learn that it stopped, and nothing of it is left to be called later.
TEST_F(AcquisitionReadings, AWorkerThatFailsAfterOpeningEndsTheRunCleanly) {
    tspSimForceResult("SerRxFlush", -1);
    EXPECT_FALSE(m_acquisition.start(settings()));
    tspSimClearForcedResults();
    ASSERT_EQ(m_runs.size(), 1);
    EXPECT_TRUE(m_runs[0]->closed);
    EXPECT_EQ(m_runs[0]->kinds().first(), StatusEvent::Kind::Started);
    EXPECT_EQ(m_runs[0]->kinds().last(), StatusEvent::Kind::Stopped);
    EXPECT_EQ(m_view.connected, QList<bool>({true, false}));
    EXPECT_EQ(tspSimIsOpen(kPort), 0);
    ASSERT_TRUE(m_acquisition.start(settings()));
    feed(kPort, "1\n");
    ASSERT_TRUE(waitForReadings(1));
}

} // namespace
