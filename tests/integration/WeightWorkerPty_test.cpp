// The weight worker over a real pseudo-terminal pair with the real native library: nothing lost or reordered
// under bursts, and Stop under a continuous flood.
#include "FakeViews.h"

#include "../fakes/QtTestApp.h"

#include "base/SystemProperties.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "serial/SerialPortLocal.h"
#include "worker/WeightWorker.h"

#include <QElapsedTimer>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using tavlo::config::Config;
using tavlo::test::processEventsUntil;
using tavlo::test::RecordingWorkerView;
using tavlo::worker::WeightWorker;
using H = tavlo::config::ConfigHelper;

namespace {

class WeightWorkerPty : public ::testing::Test {
protected:
    void SetUp() override {
        using tavlo::base::SystemProperties;
        SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral(TAVLO_BIN_DIR "/libtspWin.so"));
        SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
        SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
        serial::SerialPortLocal::resetForTesting();
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(::openpty(&m_master, &slave, name, nullptr, nullptr), 0) << std::strerror(errno);
        m_device = QString::fromLocal8Bit(name);
        // The worker opens the device by its name; this end is not needed.
        ::close(slave);
    }
    void TearDown() override {
        if (m_master >= 0)
            ::close(m_master);
        serial::SerialPortLocal::resetForTesting();
    }

    Config settings() const {
        Config c = H::Instrument::GENERIC.getDefaultConfig();
        c.setInstrument(&H::Instrument::GENERIC);
        c.setPort(m_device);
        c.setInputTerminator(10);
        return c;
    }

    int m_master = -1;
    QString m_device;
    RecordingWorkerView view;
};

// Writes everything to fd; only async-signal-safe calls, since it runs in a forked child.
bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

TEST_F(WeightWorkerPty, TenThousandRecordsInBurstsArriveOnceAndInOrder) {
    constexpr int kRecords = 10000;
    constexpr int kBurst = 250;
    // All records prepared before the fork: the child only writes.
    std::string bursts;
    std::vector<size_t> ends;
    for (int i = 1; i <= kRecords; ++i) {
        bursts += "ST,+" + std::to_string(i) + " g\r\n";
        if (i % kBurst == 0)
            ends.push_back(bursts.size());
    }

    auto worker = std::make_shared<WeightWorker>(view, settings());
    worker->execute();
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        size_t begin = 0;
        for (size_t end : ends) {
            if (!writeAll(m_master, bursts.data() + begin, end - begin))
                ::_exit(1);
            begin = end;
            const timespec pause{0, 2000000};
            ::nanosleep(&pause, nullptr);
        }
        ::_exit(0);
    }
    int status = -1;
    // The GUI thread keeps processing while the writer sends: the worker leaves bytes in the terminal while the
    // records it handed over are not processed yet.
    ASSERT_TRUE(processEventsUntil([&] { return ::waitpid(writer, &status, WNOHANG) == writer; }, 60000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_TRUE(processEventsUntil([&] { return view.lines.size() >= kRecords; }, 60000))
        << "received " << view.lines.size();
    worker->cancel(true);
    ASSERT_TRUE(processEventsUntil([&] { return view.disconnected(); }));

    ASSERT_EQ(view.lines.size(), kRecords);
    for (int i = 0; i < kRecords; ++i) {
        ASSERT_EQ(view.lines[i].getCount(), i + 1);
        ASSERT_EQ(view.lines[i].getProcessedData(), QString::number(i + 1)) << "record " << i + 1;
    }
    EXPECT_TRUE(view.linesStartingWith(QStringLiteral("Error [WW]")).isEmpty()) << view.texts().join('|').toStdString();
    EXPECT_TRUE(view.linesStartingWith(WeightWorker::resourceBundle().getString("unsent.data")).isEmpty());
    EXPECT_FALSE(view.offGui);
}

TEST_F(WeightWorkerPty, StopEndsTheWorkerAtOnceUnderAContinuousFlood) {
    auto worker = std::make_shared<WeightWorker>(view, settings());
    worker->execute();
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    std::atomic<bool> stop{false};
    std::atomic<long long> written{0};
    std::thread flood([&] {
        const std::string chunk = [] {
            std::string s;
            for (int i = 0; i < 200; ++i)
                s += "12.5\n";
            return s;
        }();
        while (!stop) {
            const ssize_t n = ::write(m_master, chunk.data(), chunk.size());
            if (n > 0) {
                written += n;
                continue;
            }
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 5);
        }
    });
    ASSERT_TRUE(processEventsUntil([&] { return view.lines.size() > 2000; }, 30000));

    QElapsedTimer clock;
    clock.start();
    worker->cancel(true);
    const bool ended = worker->waitForBody(10000);
    const qint64 elapsed = clock.elapsed();
    stop = true;
    flood.join();
    // How fast is bench_acquisition's figure (acq_stop_worst_ms); here it only has to end.
    ASSERT_TRUE(ended) << "Stop did not end the body under a flood";
    std::printf("stop_under_flood_ms: %lld\n", static_cast<long long>(elapsed));
    ASSERT_TRUE(processEventsUntil([&] { return view.disconnected(); }));
    EXPECT_GT(written.load(), 0);
}

} // namespace
