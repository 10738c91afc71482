// The weight worker and its two variants against tspSim: construction, framing, line errors, failures per
// record, the record bound, unplugging, and the handshake test.
#include "FakeViews.h"
#include "SimFixture.h"

#include "../fakes/QtTestApp.h"

#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/MessageBoxSeam.h"
#include "worker/WeightWorker.h"
#include "worker/WeightWorkerAnd.h"
#include "worker/WeightWorkerBarcode.h"
#include "worker/WeightWorkerFactory.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <memory>

using tavlo::config::Config;
using tavlo::test::processEventsUntil;
using tavlo::test::RecordingWorkerView;
using tavlo::worker::MessageBoxSeam;
using tavlo::worker::RecordingMessageBoxSeam;
using tavlo::worker::WeightWorker;
using tavlo::worker::WeightWorkerAnd;
using tavlo::worker::WeightWorkerBarcode;
using tavlo::worker::WeightWorkerFactory;
using H = tavlo::config::ConfigHelper;

namespace {

constexpr const char* kPort = "COM7";

QString text(const char* key) {
    return WeightWorker::resourceBundle().getString(QLatin1String(key));
}

// The beginning of the port-lost line, without the failure.
QString lostPrefix() {
    const QString line = WeightWorker::resourceBundle().format(QStringLiteral("port.lost"),
                                                               {QString::fromLatin1(kPort), QStringLiteral("\x01")});
    return line.left(line.indexOf(QChar(1)));
}

// The beginning of the line that gives why a reopen attempt failed.
QString reopenFailedPrefix() {
    const QString line = WeightWorker::resourceBundle().format(QStringLiteral("port.reopen.failed"),
                                                               {QString::fromLatin1(kPort), QStringLiteral("\x01")});
    return line.left(line.indexOf(QChar(1)));
}

Config settings(const H::Instrument& instrument = H::Instrument::GENERIC, int terminator = 10) {
    Config c = instrument.getDefaultConfig();
    c.setInstrument(&instrument);
    c.setPort(QString::fromLatin1(kPort));
    c.setInputTerminator(terminator);
    return c;
}

class WeightWorkerSim : public tavlo::test::SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        tspSimAddPort(kPort, "Sim", "Virtual port");
    }

    template <typename Worker = WeightWorker> std::shared_ptr<Worker> start(const Config& config) {
        auto worker = std::make_shared<Worker>(view, config);
        worker->execute();
        return worker;
    }
    void stop(const std::shared_ptr<WeightWorker>& worker) {
        worker->cancel(true);
        ASSERT_TRUE(processEventsUntil([&] { return view.disconnected(); }));
    }
    bool waitForLines(qsizetype n) {
        return processEventsUntil([&] { return view.lines.size() >= n; });
    }
    bool waitForLog(const QString& prefix, qsizetype n = 1) {
        return processEventsUntil([&] { return view.linesStartingWith(prefix).size() >= n; });
    }

    RecordingWorkerView view;
};

TEST_F(WeightWorkerSim, ConstructionFlushesOpensReportsAndSetsTheLines) {
    feed(kPort, "99.9\n"); // arrived before Start: must never become a record
    tspSimSetLines(kPort, TSP_LINE_DSR);
    Config c = settings();
    c.setBitRate(H::BitRates::BR_19200.ordinal());
    c.setParity(H::Parity::EVEN.ordinal());
    c.setDataBits(H::DataBits::LN_7BITS.ordinal());
    auto worker = std::make_shared<WeightWorker>(view, c);

    EXPECT_EQ(view.connectedStates, QList<bool>{true});
    EXPECT_EQ(tspSimIsOpen(kPort), 1);
    EXPECT_EQ(tspSimOutputLines(kPort), TSP_LINE_DTR) << "RTS must be off and DTR on";
    const QStringList log = view.texts();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0], WeightWorker::resourceBundle().format(QStringLiteral("port.opened"),
                                                            {QString::fromLatin1(kPort), H::BitRates::getReadable(8),
                                                             H::DataBits::getReadable(2), H::StopBits::getReadable(0),
                                                             H::Parity::getReadable(2)}));
    EXPECT_TRUE(log[0].contains(QLatin1String("19200")));
    EXPECT_EQ(log[1], QStringLiteral("RTS: off, DTR: on. DSR: on, CTS: off."));

    worker->execute();
    feed(kPort, "1.5\n");
    ASSERT_TRUE(waitForLines(1));
    stop(worker);
    ASSERT_EQ(view.lines.size(), 1);
    EXPECT_EQ(view.lines[0].getProcessedData(), QStringLiteral("1.5"));
    EXPECT_EQ(view.lines[0].getCount(), 1);
    EXPECT_EQ(tspSimIsOpen(kPort), 0);
    EXPECT_EQ(view.connectedStates, (QList<bool>{true, false}));
    EXPECT_TRUE(view.texts().contains(text("stopped")));
    EXPECT_FALSE(view.offGui);
}

TEST_F(WeightWorkerSim, FramesEveryRecordAtTheTerminatorInOrder) {
    auto worker = start(settings());
    // Two records in one burst, a lone terminator, a record without a match and a zero byte inside a record.
    feed(kPort, QByteArray("ST,+  12.345 kg\r\nST,-0.5 kg\r\n\nno value\r\n") + QByteArray("7\0\n", 3));
    ASSERT_TRUE(waitForLines(5));
    stop(worker);

    ASSERT_EQ(view.lines.size(), 5);
    const QStringList raw = {QStringLiteral("ST,+  12.345 kg\r\n"), QStringLiteral("ST,-0.5 kg\r\n"),
                             QStringLiteral("\n"), QStringLiteral("no value\r\n"), QString::fromLatin1("7\0\n", 3)};
    const QStringList values = {QStringLiteral("12.345"), QStringLiteral("-0.5"), QString(), QString(),
                                QStringLiteral("7")};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(view.lines[i].getCount(), i + 1);
        EXPECT_EQ(view.lines[i].rawText(), raw[i]) << i;
        EXPECT_EQ(view.lines[i].getProcessedData(), values[i]) << i;
        EXPECT_FALSE(view.lines[i].isError());
    }
    EXPECT_LE(view.lines[0].getInstant(), view.lines[4].getInstant());
    EXPECT_TRUE(view.linesStartingWith(text("unsent.data")).isEmpty());
}

TEST_F(WeightWorkerSim, BytesWithoutTerminatorAtStopAreReportedOnceAndNotTyped) {
    auto worker = std::make_shared<WeightWorker>(view, settings());
    feed(kPort, QByteArray("3\n4\x02x", 5));
    tspSimClearLog();
    worker->execute();
    ASSERT_TRUE(waitForLines(1));
    // Six reads take the six bytes; two more find the port empty, so every byte has been seen.
    ASSERT_TRUE(processEventsUntil([] { return QString::fromLatin1(tspSimLog()).count("SerGetByte") >= 8; }));
    stop(worker);
    EXPECT_EQ(view.lines.size(), 1);
    const auto unsent = view.linesStartingWith(text("unsent.data"));
    ASSERT_EQ(unsent.size(), 1);
    EXPECT_EQ(unsent[0].text, text("unsent.data") + QStringLiteral(" 4<2>x"));
    EXPECT_TRUE(unsent[0].important);
}

TEST_F(WeightWorkerSim, ParityErrorsMarkOnlyTheirRecordAndLogEveryByte) {
    auto worker = start(settings());
    tspSimFeedByte(kPort, '1', TSP_SIM_PARITY);
    tspSimFeedByte(kPort, '2', TSP_SIM_PARITY | TSP_SIM_FRAME);
    feed(kPort, "\n3\n");
    ASSERT_TRUE(waitForLines(2));
    stop(worker);
    EXPECT_TRUE(view.lines[0].isError());
    EXPECT_EQ(view.lines[0].getProcessedData(), QStringLiteral("12"));
    EXPECT_FALSE(view.lines[1].isError()) << "the next record starts with clear flags";
    const auto parity = view.linesStartingWith(text("parity.error"));
    EXPECT_EQ(parity.size(), 2);
    EXPECT_TRUE(parity[0].important);
    EXPECT_EQ(view.linesStartingWith(text("framing.error")).size(), 1);
}

TEST_F(WeightWorkerSim, ACustomExpressionTakesTheInstrumentsGroup) {
    Config c = settings();
    c.setCustomRegEx(QStringLiteral("T=(\\d+)(\\d)"));
    auto worker = start(c);
    feed(kPort, "W=5 T=123\n");
    ASSERT_TRUE(waitForLines(1));
    stop(worker);
    EXPECT_EQ(view.lines[0].getProcessedData(), QStringLiteral("12"));
}

TEST_F(WeightWorkerSim, AFailingRecordIsLoggedKeepsItsNumberAndReadingGoesOn) {
    Config c = settings();
    c.setCustomRegEx(QStringLiteral("V=(\\S+)"));
    auto worker = start(c);
    feed(kPort, "V=12-\nV=-3\n");
    ASSERT_TRUE(waitForLines(2));
    stop(worker);
    ASSERT_EQ(view.lines.size(), 2);
    // The failed record reaches the view in its place, without a value, so that nothing downstream has a gap.
    EXPECT_EQ(view.lines[0].getCount(), 1);
    EXPECT_TRUE(view.lines[0].isFailure());
    EXPECT_FALSE(view.lines[0].hasValue());
    EXPECT_EQ(view.lines[0].rawText(), QStringLiteral("V=12-\n"));
    EXPECT_EQ(view.lines[1].getCount(), 2) << "the failed record counts";
    EXPECT_FALSE(view.lines[1].isFailure());
    EXPECT_EQ(view.lines[1].getProcessedData(), QStringLiteral("-3"));
    const auto errors = view.linesStartingWith(QStringLiteral("Error [WW]: "));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].text.startsWith(QStringLiteral("Error [WW]: NumberFormatException: "))) << errors[0].text;
    EXPECT_TRUE(errors[0].important);
    EXPECT_EQ(view.lines[0].failure(), errors[0].text);
}

TEST_F(WeightWorkerSim, ARecordPastTheBoundIsDroppedUpToItsTerminatorAndFramingGoesOn) {
    auto worker = start(settings());
    feed(kPort, QByteArray(WeightWorker::kMaxRecordBytes, 'a') + "\x01"
                                                                 "7\n8\n");
    ASSERT_TRUE(waitForLines(1));
    stop(worker);
    const QString overflow = WeightWorker::resourceBundle().format(QStringLiteral("record.overflow"),
                                                                   {QStringLiteral("65536"), QString(64, u'a')});
    EXPECT_EQ(view.linesStartingWith(overflow.left(20)).size(), 1);
    EXPECT_TRUE(view.texts().contains(overflow));
    // The tail of the overlong record, its terminator included, is never taken for a value of its own.
    const QString ended =
        WeightWorker::resourceBundle().format(QStringLiteral("record.overflow.end"), {QStringLiteral("65539")});
    EXPECT_EQ(view.linesStartingWith(ended).size(), 1) << view.texts().join(u'|').right(400).toStdString();
    ASSERT_EQ(view.lines.size(), 2);
    // The dropped record is one failed record, shown by its first bytes.
    EXPECT_TRUE(view.lines[0].isFailure());
    EXPECT_EQ(view.lines[0].failure(), ended);
    EXPECT_EQ(view.lines[0].rawText(), QString(64, u'a'));
    EXPECT_EQ(view.lines[1].rawText(), QStringLiteral("8\n"));
    EXPECT_EQ(view.lines[1].getCount(), 2) << "the dropped record was framed and counts";
}

TEST_F(WeightWorkerSim, WithoutATerminatorEveryBoundsWorthIsReportedOnce) {
    auto worker = start(settings());
    feed(kPort, QByteArray(3 * WeightWorker::kMaxRecordBytes + 10, 'b'));
    const QString overflow = WeightWorker::resourceBundle().format(QStringLiteral("record.overflow"),
                                                                   {QStringLiteral("65536"), QString(64, u'b')});
    ASSERT_TRUE(waitForLog(overflow, 3));
    feed(kPort, "\n5\n");
    ASSERT_TRUE(waitForLines(2));
    stop(worker);
    EXPECT_EQ(view.linesStartingWith(overflow).size(), 3);
    const QString ended = WeightWorker::resourceBundle().format(
        QStringLiteral("record.overflow.end"), {QString::number(3 * WeightWorker::kMaxRecordBytes + 11)});
    EXPECT_EQ(view.linesStartingWith(ended).size(), 1);
    EXPECT_EQ(view.lines[0].rawText(), QString(64, u'b')) << "the record's head, not its last bound's worth";
    EXPECT_EQ(view.lines[1].rawText(), QStringLiteral("5\n"));
}

TEST_F(WeightWorkerSim, AnUnpluggedPortIsReportedOnceAndReopenedWhenItIsBack) {
    tspSimSetLines(kPort, TSP_LINE_CTS);
    auto worker = start(settings());
    feed(kPort, "1\n2");
    ASSERT_TRUE(waitForLines(1));
    tspSimUnplug(kPort);
    ASSERT_TRUE(waitForLog(lostPrefix()));
    // Several attempts fail for the same reason: it is logged once.
    ASSERT_TRUE(processEventsUntil([] { return QString::fromLatin1(tspSimLog()).count("SerOpenPort") >= 3; }));
    EXPECT_EQ(view.linesStartingWith(reopenFailedPrefix()).size(), 1);
    // The device is back but another program holds it: a new reason, logged once more.
    tspSimAddPort(kPort, "Sim", "Virtual port");
    tspSimSetOpenResult(kPort, TSP_ERR_IN_USE);
    ASSERT_TRUE(waitForLog(reopenFailedPrefix(), 2));
    ASSERT_TRUE(processEventsUntil([] { return QString::fromLatin1(tspSimLog()).count("SerOpenPort") >= 6; }));
    EXPECT_EQ(view.linesStartingWith(reopenFailedPrefix()).size(), 2);
    tspSimSetOpenResult(kPort, TSP_OK);
    ASSERT_TRUE(waitForLog(
        WeightWorker::resourceBundle().format(QStringLiteral("port.reopened"), {QString::fromLatin1(kPort)})));
    EXPECT_EQ(tspSimOutputLines(kPort), TSP_LINE_DTR);
    feed(kPort, "3\n");
    ASSERT_TRUE(waitForLines(2));
    stop(worker);

    EXPECT_EQ(view.lines[1].rawText(), QStringLiteral("3\n")) << "framing restarts from an empty buffer";
    EXPECT_EQ(view.lines[1].getCount(), 2);
    const auto lost = view.linesStartingWith(lostPrefix());
    ASSERT_EQ(lost.size(), 1);
    EXPECT_TRUE(lost[0].important);
    EXPECT_TRUE(lost[0].text.contains(QLatin1String("getByte failed"))) << lost[0].text;
    EXPECT_TRUE(view.linesStartingWith(QStringLiteral("Error [WW]")).isEmpty());
    // The half record of the moment of the loss is reported once, as at Stop, and never typed.
    const auto unsent = view.linesStartingWith(text("unsent.data"));
    ASSERT_EQ(unsent.size(), 1);
    EXPECT_EQ(unsent[0].text, text("unsent.data") + QStringLiteral(" 2"));
    const auto reasons = view.linesStartingWith(reopenFailedPrefix());
    ASSERT_EQ(reasons.size(), 2);
    EXPECT_NE(reasons[0].text, reasons[1].text);
    EXPECT_TRUE(reasons[1].text.contains(QLatin1String("in use"))) << reasons[1].text;
    EXPECT_EQ(tspSimIsOpen(kPort), 0);
}

// Port failures other than a lost device are reported per record and reading goes on without a reopen.
struct OtherFailure {
    const char* entryPoint;
    int32_t result;
    bool request; // the failure comes from writing a request text
};

class OtherPortFailure : public WeightWorkerSim, public ::testing::WithParamInterface<OtherFailure> {};

TEST_P(OtherPortFailure, IsAnErrorLineAndReadingGoesOn) {
    auto worker = start(settings());
    tspSimClearLog();
    tspSimForceResult(GetParam().entryPoint, GetParam().result);
    if (GetParam().request) {
        worker->requestData("Q\r\n");
        ASSERT_TRUE(processEventsUntil([] { return QString::fromLatin1(tspSimLog()).contains("SerPutData"); }));
    } else {
        feed(kPort, "1\n");
    }
    ASSERT_TRUE(waitForLog(QStringLiteral("Error [WW]: SerialIoError: ")));
    tspSimClearForcedResults();
    feed(kPort, "5\n");
    ASSERT_TRUE(processEventsUntil(
        [&] { return !view.lines.isEmpty() && view.lines.last().getProcessedData() == QStringLiteral("5"); }));
    stop(worker);
    EXPECT_TRUE(view.linesStartingWith(lostPrefix()).isEmpty());
    EXPECT_EQ(QString::fromLatin1(tspSimLog()).count("SerOpenPort"), 0) << "no reopen";
}

INSTANTIATE_TEST_SUITE_P(Failures, OtherPortFailure,
                         ::testing::Values(OtherFailure{"SerSigFrameErr", -1, false},
                                           OtherFailure{"SerPutData", 1, true}));

TEST_F(WeightWorkerSim, StopEndsTheWaitForALostPort) {
    auto worker = start(settings());
    tspSimUnplug(kPort);
    ASSERT_TRUE(waitForLog(lostPrefix()));
    worker->cancel(true);
    // Had Stop not cut the pause between two attempts short, the body would still sleep for most of it.
    ASSERT_TRUE(worker->waitForBody(WeightWorker::kReopenIntervalMs / 2))
        << "the pause between reopen attempts must end at Stop";
    ASSERT_TRUE(processEventsUntil([&] { return view.disconnected(); }));
    EXPECT_TRUE(view.texts().contains(text("stopped")));
}

TEST_F(WeightWorkerSim, ConstructionFailuresLeaveThePortClosedAndTheWindowIdle) {
    Config none = settings();
    none.setPort(QString());
    try {
        WeightWorker worker(view, none);
        FAIL() << "constructed without a port";
    } catch (const tavlo::base::TavloException& e) {
        EXPECT_EQ(e.message(), text("null.port.error"));
    }
    EXPECT_TRUE(simLog().isEmpty()) << "the port layer was touched: " << simLog().toStdString();

    tspSimSetOpenResult(kPort, TSP_ERR_IN_USE);
    EXPECT_THROW(WeightWorker(view, settings()), tavlo::base::TavloException);
    EXPECT_TRUE(view.connectedStates.isEmpty());
    tspSimSetOpenResult(kPort, TSP_OK);

    // Configuring fails after the native open: the port must be released.
    tspSimForceResult("SerConfigure", 5);
    EXPECT_THROW(WeightWorker(view, settings()), tavlo::base::TavloException);
    EXPECT_EQ(tspSimIsOpen(kPort), 0);
    tspSimClearForcedResults();

    // The flush fails after the window was switched to connected: it goes back to idle.
    tspSimForceResult("SerRxFlush", -1);
    EXPECT_THROW(WeightWorker(view, settings()), tavlo::base::TavloException);
    EXPECT_EQ(tspSimIsOpen(kPort), 0);
    EXPECT_EQ(view.connectedStates, (QList<bool>{true, false}));
    tspSimClearForcedResults();

    auto worker = start(settings());
    EXPECT_EQ(tspSimIsOpen(kPort), 1) << "the next Start works";
    stop(worker);
}

TEST_F(WeightWorkerSim, ABodyThatFailsAtItsSetUpIsReportedAndThePortClosed) {
    Config c = settings();
    c.setMathOperation(&H::MathOperation::MULTIPLY);
    c.setMathOperand(QStringLiteral("abc"));
    auto worker = start(c);
    ASSERT_TRUE(processEventsUntil([&] { return view.disconnected(); }));
    const auto failures = view.linesStartingWith(text("execution.exception"));
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].important);
    EXPECT_GT(failures[0].text.size(), text("execution.exception").size()) << "the failure's message follows";
    EXPECT_FALSE(view.texts().contains(text("stopped")));
    EXPECT_EQ(tspSimIsOpen(kPort), 0);
}

// Barcode readers.

TEST_F(WeightWorkerSim, BarcodeLinesKeepTheirSpacesAndUseFixedLineErrorTexts) {
    auto worker = start<WeightWorkerBarcode>(settings(H::Instrument::BARCODE_ALPHA_COMPLETE, 13));
    tspSimFeedByte(kPort, 'A', TSP_SIM_PARITY | TSP_SIM_FRAME);
    feed(kPort, "B 12,5 x\r");
    ASSERT_TRUE(waitForLines(1));
    stop(worker);
    EXPECT_EQ(view.lines[0].getProcessedData(), QStringLiteral("AB 12,5 x"));
    EXPECT_TRUE(view.lines[0].isError());
    EXPECT_EQ(view.linesStartingWith(QStringLiteral("Parity Error")).size(), 1);
    EXPECT_EQ(view.linesStartingWith(QStringLiteral("Framing Error")).size(), 1);
    EXPECT_TRUE(view.linesStartingWith(text("parity.error")).isEmpty());
}

TEST_F(WeightWorkerSim, ABarcodeExpressionWithoutAGroupTypesNothing) {
    Config c = settings(H::Instrument::BARCODE_ALPHA, 13);
    c.setCustomRegEx(QStringLiteral("[A-Z]+"));
    auto worker = start<WeightWorkerBarcode>(c);
    feed(kPort, "ABC\rDEF\r");
    ASSERT_TRUE(waitForLines(2));
    stop(worker);
    for (const auto& line : view.lines)
        EXPECT_FALSE(line.hasValue());
}

TEST_F(WeightWorkerSim, AWeightLineLosesItsSpaces) {
    auto worker = start(settings(H::Instrument::GENERIC, 13));
    feed(kPort, "- 12.5 g\r");
    ASSERT_TRUE(waitForLines(1));
    stop(worker);
    EXPECT_EQ(view.lines[0].getProcessedData(), QStringLiteral("-12.5"));
}

// The worker that fits each instrument.

TEST_F(WeightWorkerSim, TheFactoryPicksTheWorkerOfTheInstrument) {
    RecordingMessageBoxSeam boxes;
    MessageBoxSeam::install(&boxes);
    struct Case {
        const H::Instrument* instrument;
        bool handshake;
        bool barcode;
    };
    for (const Case& c : {Case{&H::Instrument::AND, true, false}, Case{&H::Instrument::AND_EM, true, false},
                          Case{&H::Instrument::AND_SIMPLE, false, false}, Case{&H::Instrument::GENERIC, false, false},
                          Case{&H::Instrument::BARCODE, false, true}}) {
        std::shared_ptr<WeightWorker> worker = WeightWorkerFactory::create(view, settings(*c.instrument));
        EXPECT_EQ(dynamic_cast<WeightWorkerAnd*>(worker.get()) != nullptr, c.handshake)
            << c.instrument->name().toStdString();
        EXPECT_EQ(dynamic_cast<WeightWorkerBarcode*>(worker.get()) != nullptr, c.barcode);
        // AND_SIMPLE is the variant without handshaking: RTS stays off.
        EXPECT_EQ(tspSimOutputLines(kPort), c.handshake ? (TSP_LINE_DTR | TSP_LINE_RTS) : TSP_LINE_DTR);
        worker->execute();
        stop(worker);
        view.connectedStates.clear();
    }
    MessageBoxSeam::install(nullptr);
    EXPECT_EQ(boxes.boxes().size(), 2) << "one warning for each handshake worker with nothing connected";
}

// The handshake test: one case per state of DSR and CTS.

struct HandshakeCase {
    int lines;
    const char* key; // null: no warning
};

class HandshakeTest : public WeightWorkerSim, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeTest, WarnsAccordingToTheLineState) {
    tspSimSetLines(kPort, GetParam().lines);
    RecordingMessageBoxSeam boxes;
    auto worker = std::make_shared<WeightWorkerAnd>(view, settings(H::Instrument::AND), boxes);
    EXPECT_EQ(tspSimOutputLines(kPort), TSP_LINE_DTR | TSP_LINE_RTS);
    const auto shown = boxes.boxes();
    if (!GetParam().key) {
        EXPECT_TRUE(shown.isEmpty());
    } else {
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].title, text("warning"));
        EXPECT_EQ(shown[0].text, text(GetParam().key));
        EXPECT_EQ(shown[0].icon, MessageBoxSeam::Icon::Warning);
    }
    // The worker reads whatever the lines said.
    worker->execute();
    feed(kPort, "+1.25\n");
    ASSERT_TRUE(waitForLines(1));
    stop(worker);
    EXPECT_EQ(view.lines[0].getProcessedData(), QStringLiteral("1.25"));
}

INSTANTIATE_TEST_SUITE_P(LineStates, HandshakeTest,
                         ::testing::Values(HandshakeCase{TSP_LINE_DSR | TSP_LINE_CTS, nullptr},
                                           HandshakeCase{TSP_LINE_DSR, "and.error.unusual"},
                                           HandshakeCase{TSP_LINE_CTS, "and.error.dataset.not.ready"},
                                           HandshakeCase{0, "and.error.not.connected"}));

TEST_F(WeightWorkerSim, AReopenedHandshakePortGetsBothLinesBack) {
    tspSimSetLines(kPort, TSP_LINE_DSR | TSP_LINE_CTS);
    RecordingMessageBoxSeam boxes;
    auto worker = std::make_shared<WeightWorkerAnd>(view, settings(H::Instrument::AND), boxes);
    worker->execute();
    tspSimUnplug(kPort);
    ASSERT_TRUE(waitForLog(lostPrefix()));
    tspSimAddPort(kPort, "Sim", "Virtual port");
    ASSERT_TRUE(waitForLog(
        WeightWorker::resourceBundle().format(QStringLiteral("port.reopened"), {QString::fromLatin1(kPort)})));
    EXPECT_EQ(tspSimOutputLines(kPort), TSP_LINE_DTR | TSP_LINE_RTS);
    stop(worker);
}

} // namespace
