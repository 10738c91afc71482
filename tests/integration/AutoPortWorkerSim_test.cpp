// Automatic port detection against tspSim: the confidence rules, ties, per-port failures and cancellation.
#include "FakeViews.h"
#include "SimFixture.h"

#include "../fakes/QtTestApp.h"

#include "worker/AutoPortWorker.h"
#include "worker/WeightWorker.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using tavlo::test::processEventsUntil;
using tavlo::test::RecordingAutoPortView;
using tavlo::worker::AutoPortWorker;
using tavlo::worker::WeightWorker;

namespace {

QString text(const char* key) {
    return WeightWorker::resourceBundle().getString(QLatin1String(key));
}

// How a simulated device behind a port answers: fixed input lines, or lines that follow the host's outputs
// (DSR follows DTR, CTS follows RTS), as an instrument with a handshaking cable does.
struct Device {
    std::string name;
    int fixedLines = 0;
    bool dsrFollowsDtr = false;
    bool ctsFollowsRts = false;
};

// Drives the input lines of devices that follow the host's outputs, until destroyed.
class LineFollower {
public:
    explicit LineFollower(std::vector<Device> devices) : m_devices(std::move(devices)) {
        m_thread = std::thread([this] {
            while (!m_stop) {
                for (const Device& d : m_devices) {
                    if (!d.dsrFollowsDtr && !d.ctsFollowsRts)
                        continue;
                    const int out = tspSimOutputLines(d.name.c_str());
                    int lines = d.fixedLines;
                    if (d.dsrFollowsDtr && (out & TSP_LINE_DTR))
                        lines |= TSP_LINE_DSR;
                    if (d.ctsFollowsRts && (out & TSP_LINE_RTS))
                        lines |= TSP_LINE_CTS;
                    tspSimSetLines(d.name.c_str(), lines);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~LineFollower() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::vector<Device> m_devices;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class AutoPortWorkerSim : public tavlo::test::SimFixture {
protected:
    // Runs a detection over the devices (probed in their order) to its end.
    void detect(const std::vector<Device>& devices) {
        QStringList names;
        for (const Device& d : devices) {
            tspSimAddPort(d.name.c_str(), nullptr, nullptr);
            tspSimSetLines(d.name.c_str(), d.fixedLines);
            names.append(QString::fromStdString(d.name));
        }
        LineFollower follower(devices);
        auto worker = std::make_shared<AutoPortWorker>(view, names);
        worker->execute();
        ASSERT_TRUE(processEventsUntil([&] { return !view.buttons.isEmpty(); }, 30000));
        for (const Device& d : devices)
            EXPECT_EQ(tspSimIsOpen(d.name.c_str()), 0) << d.name;
    }
    QStringList confidences() const {
        QStringList out;
        for (const QString& line : view.texts())
            if (line.startsWith(text("confidence")))
                out.append(line.mid(text("confidence").size() + 1));
        return out;
    }

    RecordingAutoPortView view;
};

struct ScoreCase {
    const char* label;
    Device device;
    int confidence;
};

class ConfidenceTest : public AutoPortWorkerSim, public ::testing::WithParamInterface<ScoreCase> {};

TEST_P(ConfidenceTest, ScoresHowTheLinesAnswer) {
    detect({GetParam().device});
    EXPECT_EQ(confidences(), QStringList{QString::number(GetParam().confidence)});
    const QString name = QString::fromStdString(GetParam().device.name);
    if (GetParam().confidence > 0) {
        EXPECT_EQ(view.ports, QStringList{name});
        EXPECT_EQ(view.lines.last().text, text("best.port") + QStringLiteral(" ") + name);
        EXPECT_EQ(view.lines.last().attributes, AutoPortWorker::successStyle());
    } else {
        EXPECT_TRUE(view.ports.isEmpty()) << "a port with confidence 0 is never chosen";
        EXPECT_EQ(view.lines.last().text, text("could.not.auto.detect.port"));
        EXPECT_EQ(view.lines.last().attributes, AutoPortWorker::failureStyle());
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, ConfidenceTest,
                         ::testing::Values(ScoreCase{"DsrAndCtsOnAtRest", {"COM5", TSP_LINE_DSR | TSP_LINE_CTS}, 3},
                                           ScoreCase{"Com3NeverScoresThree", {"COM3", TSP_LINE_DSR | TSP_LINE_CTS}, 1},
                                           ScoreCase{"DsrAloneAtRest", {"COM5", TSP_LINE_DSR}, 1},
                                           ScoreCase{"BothLinesAnswer", {"COM5", 0, true, true}, 2},
                                           ScoreCase{"OnlyDsrAnswers", {"COM5", 0, true, false}, 1},
                                           ScoreCase{"OnlyCtsAnswers", {"COM5", 0, false, true}, 1},
                                           ScoreCase{"CtsAloneAtRest", {"COM5", TSP_LINE_CTS}, 1},
                                           ScoreCase{"Silent", {"COM5", 0}, 0}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(AutoPortWorkerSim, TiesKeepTheEarlierPortAndHigherScoresWin) {
    detect({{"COM3", TSP_LINE_DSR | TSP_LINE_CTS}, {"COM4", 0, true, true}, {"COM6", 0, true, true}});
    EXPECT_EQ(confidences(), (QStringList{"1", "2", "2"}));
    EXPECT_EQ(view.ports, QStringList{"COM4"});
    EXPECT_EQ(view.buttons, QStringList{"Close"});
    // Progress comes in probing order, plain.
    const QStringList lines = view.texts();
    EXPECT_EQ(lines.first(), text("auto.port.detection.started"));
    EXPECT_EQ(lines[1], WeightWorker::resourceBundle().format(QStringLiteral("testing.port.0"), {"COM3"}));
    for (qsizetype i = 0; i + 1 < view.lines.size(); ++i)
        EXPECT_FALSE(view.lines[i].attributes.has_value()) << i;
}

TEST_F(AutoPortWorkerSim, NoAnsweringPortGivesNoResult) {
    detect({{"COM1", 0}, {"COM2", 0}});
    EXPECT_EQ(confidences(), (QStringList{"0", "0"}));
    EXPECT_TRUE(view.ports.isEmpty());
    EXPECT_EQ(view.lines.last().text, text("could.not.auto.detect.port"));
}

TEST_F(AutoPortWorkerSim, APortThatCannotBeOpenedIsOneLineAndProbingGoesOn) {
    tspSimAddPort("COM8", nullptr, nullptr);
    tspSimSetOpenResult("COM8", TSP_ERR_IN_USE);
    detect({{"COM8", 0}, {"COM9", TSP_LINE_DSR | TSP_LINE_CTS}});
    EXPECT_EQ(confidences(), QStringList{"3"}) << "no confidence line for the port that failed";
    EXPECT_TRUE(view.texts().contains(QStringLiteral("COM8: SerOpenPort failed: Port is in use")))
        << view.texts().join('|').toStdString();
    EXPECT_EQ(view.ports, QStringList{"COM9"});
}

TEST_F(AutoPortWorkerSim, CancelDuringTheFirstPauseStopsAtOnceAndClosesThePort) {
    tspSimAddPort("COM5", nullptr, nullptr);
    tspSimAddPort("COM6", nullptr, nullptr);
    auto worker = std::make_shared<AutoPortWorker>(view, QStringList{"COM5", "COM6"});
    worker->execute();
    ASSERT_TRUE(processEventsUntil([] { return tspSimIsOpen("COM5") == 1; }));
    worker->cancel(true);
    ASSERT_TRUE(worker->waitForBody(10000));
    // The first pause comes before the first line is read: an interrupted pause reads none.
    EXPECT_FALSE(simLog().contains(QLatin1String("SerSigDSR"))) << "the pause went on after the cancellation";
    ASSERT_TRUE(processEventsUntil([&] { return !view.buttons.isEmpty(); }));
    EXPECT_EQ(view.buttons, QStringList{"Close"});
    EXPECT_EQ(view.lines.last().text, text("stopped"));
    EXPECT_FALSE(view.lines.last().attributes.has_value());
    EXPECT_TRUE(view.ports.isEmpty());
    EXPECT_EQ(tspSimIsOpen("COM5"), 0);
    EXPECT_FALSE(simLog().contains(QLatin1String("SerOpenPort(COM6)"))) << "probing went on after the cancel";
}

} // namespace
