// How the weight worker waits and wakes, against tspSim: the receive timeout it gives its port, a request and
// Stop that reach a worker waiting in the library, and the failures on those paths.
//
// Several tests stretch the port's receive timeout to an hour once the worker runs, so that anything that
// waits for the read to time out instead of waking it shows up as a wait that never ends.
#include "FakeViews.h"
#include "SimFixture.h"

#include "../fakes/QtTestApp.h"

#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/WeightWorker.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <memory>

using tavlo::config::Config;
using tavlo::test::processEventsUntil;
using tavlo::test::RecordingWorkerView;
using tavlo::worker::WeightWorker;
using H = tavlo::config::ConfigHelper;

namespace {

constexpr const char* kPort = "COM9";
constexpr int32_t kHourMs = 3600000;

Config settings() {
    Config c = H::Instrument::GENERIC.getDefaultConfig();
    c.setInstrument(&H::Instrument::GENERIC);
    c.setPort(QString::fromLatin1(kPort));
    c.setInputTerminator(10);
    return c;
}

QString lostPrefix() {
    const QString line = WeightWorker::resourceBundle().format(QStringLiteral("port.lost"),
                                                               {QString::fromLatin1(kPort), QStringLiteral("\x01")});
    return line.left(line.indexOf(QChar(1)));
}

// The arguments of the last logged SerSetTimeoutRx call: handle and milliseconds; {-1, -1} when there is none.
// What the worker wrote to the virtual port, once at least `size` bytes are there (fewer after the wait's limit).
QByteArray takeOutput(qsizetype size) {
    QByteArray sent;
    processEventsUntil([&] {
        uint8_t buffer[64];
        const int32_t n = tspSimTakeOutput(kPort, buffer, sizeof buffer);
        if (n > 0)
            sent.append(reinterpret_cast<const char*>(buffer), n);
        return sent.size() >= size;
    });
    return sent;
}

std::pair<int, int> lastReceiveTimeout() {
    static const QRegularExpression call(QStringLiteral("SerSetTimeoutRx\\((\\d+), (\\d+)\\)"));
    std::pair<int, int> found{-1, -1};
    auto it = call.globalMatch(QString::fromLatin1(tspSimLog()));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        found = {m.captured(1).toInt(), m.captured(2).toInt()};
    }
    return found;
}

class WeightWorkerWait : public tavlo::test::SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        tspSimAddPort(kPort, "Sim", "Virtual port");
    }
    void TearDown() override {
        if (m_worker && !m_worker->isDone())
            m_worker->cancel(true);
        if (m_worker)
            processEventsUntil([&] { return view.disconnected(); });
        SimFixture::TearDown();
    }

    // A running worker whose next reads wait an hour for a byte; returns once such a read has begun.
    void startWaitingAnHour() {
        m_worker = std::make_shared<WeightWorker>(view, settings());
        const int handle = lastReceiveTimeout().first;
        ASSERT_GE(handle, 0);
        m_worker->execute();
        ASSERT_EQ(SerSetTimeoutRx(handle, kHourMs), 0);
        tspSimClearLog();
        ASSERT_TRUE(processEventsUntil([] { return QString::fromLatin1(tspSimLog()).contains("SerGetByte"); }));
    }

    RecordingWorkerView view;
    std::shared_ptr<WeightWorker> m_worker;
};

struct SystemTimeout {
    const char* osName;
    int expectedMs;
};

class WorkerReceiveTimeout : public WeightWorkerWait, public testing::WithParamInterface<SystemTimeout> {};

TEST_P(WorkerReceiveTimeout, IsSetWhereTheLibraryWaitsAndZeroWhereTheLayerWouldSpin) {
    tavlo::base::SystemProperties::set(QStringLiteral("TSP_OSNAME"), QString::fromLatin1(GetParam().osName));
    serial::SerialPortLocal::resetForTesting();
    m_worker = std::make_shared<WeightWorker>(view, settings());
    EXPECT_EQ(lastReceiveTimeout().second, GetParam().expectedMs) << tspSimLog();
    m_worker->execute();
    m_worker->cancel(true);
    ASSERT_TRUE(processEventsUntil([&] { return view.disconnected(); }));
    EXPECT_TRUE(view.linesStartingWith(lostPrefix()).isEmpty()) << view.texts().join('\n');
}

INSTANTIATE_TEST_SUITE_P(Systems, WorkerReceiveTimeout,
                         testing::Values(SystemTimeout{"Windows", WeightWorker::kReceiveTimeoutMs},
                                         SystemTimeout{"Linux", 0}),
                         [](const testing::TestParamInfo<SystemTimeout>& info) {
                             return std::string(info.param.osName);
                         });

TEST_F(WeightWorkerWait, AByteWakesTheWaitingWorker) {
    startWaitingAnHour();
    feed(kPort, "7.5\n");
    ASSERT_TRUE(processEventsUntil([&] { return view.lines.size() == 1; }));
    EXPECT_EQ(view.lines[0].getProcessedData(), QStringLiteral("7.5"));
}

TEST_F(WeightWorkerWait, ARequestGoesOutWhileTheReadWaits) {
    startWaitingAnHour();
    m_worker->requestData(QByteArrayLiteral("Q\r\n"));
    m_worker->requestData(QByteArrayLiteral("S\r\n"));
    EXPECT_EQ(takeOutput(6), QByteArray("Q\r\nS\r\n"));
    // The answer still reaches the reader that was waiting all along.
    feed(kPort, "1\n");
    ASSERT_TRUE(processEventsUntil([&] { return view.lines.size() == 1; }));
}

TEST_F(WeightWorkerWait, StopEndsTheWaitAndIsNoLostPort) {
    startWaitingAnHour();
    m_worker->cancel(true);
    ASSERT_TRUE(m_worker->waitForBody(10000)) << "Stop waited for the receive timeout";
    ASSERT_TRUE(processEventsUntil([&] { return view.disconnected(); }));
    EXPECT_EQ(tspSimIsOpen(kPort), 0);
    EXPECT_TRUE(view.texts().contains(WeightWorker::resourceBundle().getString(QStringLiteral("stopped"))));
    EXPECT_TRUE(view.linesStartingWith(lostPrefix()).isEmpty()) << view.texts().join('\n');
    EXPECT_TRUE(view.linesStartingWith(QStringLiteral("Error [WW]")).isEmpty()) << view.texts().join('\n');
    EXPECT_EQ(QString::fromLatin1(tspSimLog()).count("SerOpenPort"), 0) << "Stop must not reopen the port";
}

TEST_F(WeightWorkerWait, AFailingCloseAtStopIsStillReported) {
    startWaitingAnHour();
    tspSimForceResult("SerClosePort", TSP_ERR_FAILED);
    m_worker->cancel(true);
    ASSERT_TRUE(processEventsUntil([&] { return view.disconnected(); }));
    const auto errors = view.linesStartingWith(QStringLiteral("Error [WW]: SerialIoError: ClosePort failed"));
    ASSERT_EQ(errors.size(), 1) << view.texts().join('\n');
    EXPECT_TRUE(errors[0].important);
}

TEST_F(WeightWorkerWait, AFailedRequestIsLoggedAndReadingGoesOnOnTheSamePort) {
    startWaitingAnHour();
    tspSimForceResult("SerPutData", 0);
    m_worker->requestData(QByteArrayLiteral("Q\r\n"));
    ASSERT_TRUE(processEventsUntil(
        [&] { return !view.linesStartingWith(QStringLiteral("Error [WW]: SerialIoError: PutData")).isEmpty(); }));
    tspSimClearForcedResults();
    feed(kPort, "2\n");
    ASSERT_TRUE(processEventsUntil([&] { return view.lines.size() == 1; }));
    EXPECT_TRUE(view.linesStartingWith(lostPrefix()).isEmpty()) << "a refused request is no lost port";
    EXPECT_EQ(QString::fromLatin1(tspSimLog()).count("SerOpenPort"), 0);
}

TEST_F(WeightWorkerWait, ARequestAfterAReopenGoesToTheNewPort) {
    startWaitingAnHour();
    tspSimUnplug(kPort);
    ASSERT_TRUE(processEventsUntil([&] { return !view.linesStartingWith(lostPrefix()).isEmpty(); }));
    tspSimAddPort(kPort, "Sim", "Virtual port");
    ASSERT_TRUE(processEventsUntil([&] {
        return view.texts().contains(
            WeightWorker::resourceBundle().format(QStringLiteral("port.reopened"), {QString::fromLatin1(kPort)}));
    }));
    EXPECT_EQ(lastReceiveTimeout().second, WeightWorker::kReceiveTimeoutMs) << "the reopened port waits as well";
    m_worker->requestData(QByteArrayLiteral("Q\r\n"));
    EXPECT_EQ(takeOutput(3), QByteArray("Q\r\n"));
}

} // namespace
