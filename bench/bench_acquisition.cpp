// Acquisition over a real pseudo-terminal with the real native library (libtspWin.so next to this program):
// throughput and loss under a flood, latency from the terminator to the worker's hand-over, the CPU and the
// wake-ups of an idle worker, and how long Stop takes. The last lines are the figures that CI reads.
#include "ProcessWakeups.h"

#include "base/SystemProperties.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "serial/SerialPortLocal.h"
#include "worker/WeightWorker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using tavlo::config::Config;
using tavlo::worker::DataLine;
using tavlo::worker::WeightWorker;
using H = tavlo::config::ConfigHelper;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double recordsPerSecond = 0;
    long long lost = -1;
    double latencyP50Us = 0;
    double latencyP99Us = 0;
    double handOverP99Us = 0;
    double idleCpuPercent = -1;
    double idleWakeupsPerSecond = -1;
    double stopWorstMs = -1;
    double stopIdleWorstMs = -1;
} g_figures;

// Counts what the worker delivers; checks that record n carries the value n.
class BenchView : public tavlo::worker::WeightWorkerView {
public:
    void logEvent(const QString&) override {}
    void logImportantEvent(const QString& text) override {
        std::lock_guard lock(m_mutex);
        important.push_back(text.toStdString());
    }
    void setConnectedInGUI(bool connected) override { disconnected = !connected; }
    void update(const DataLine& line) override {
        const Clock::time_point now = Clock::now();
        ++received;
        if (line.getProcessedData() != QString::number(received))
            ++outOfOrder;
        if (onRecord)
            onRecord(line, now);
    }

    long long received = 0;
    long long outOfOrder = 0;
    bool disconnected = false;
    std::function<void(const DataLine&, Clock::time_point)> onRecord;
    std::mutex m_mutex;
    std::vector<std::string> important;
};

struct Pty {
    int master = -1;
    QString device;
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        ::close(slave);
        device = QString::fromLocal8Bit(name);
    }
    ~Pty() { ::close(master); }
};

Config settings(const QString& device) {
    Config c = H::Instrument::GENERIC.getDefaultConfig();
    c.setInstrument(&H::Instrument::GENERIC);
    c.setPort(device);
    c.setInputTerminator(10);
    c.setBitRate(H::BitRates::BR_921600.ordinal());
    return c;
}

std::string record(long long n) {
    return "ST,+" + std::to_string(n) + " g\r\n";
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Runs the GUI thread's event loop until pred holds or timeoutMs passed.
bool runUntil(const std::function<bool()>& pred, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (pred())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(1);
    if (!pred())
        loop.exec();
    return pred();
}

// Runs the GUI thread's event loop for ms milliseconds without waking it otherwise.
void idleFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void stop(const std::shared_ptr<WeightWorker>& worker, BenchView& view) {
    worker->cancel(true);
    runUntil([&] { return view.disconnected; }, 10000);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[at];
}

// (a) Records as fast as the pseudo-terminal takes them, for five seconds.
void BM_Throughput(benchmark::State& state) {
    for (auto _ : state) {
        Pty pty;
        BenchView view;
        auto worker = std::make_shared<WeightWorker>(view, settings(pty.device));
        worker->execute();
        std::atomic<long long> written{0};
        const Clock::time_point begin = Clock::now();
        std::thread writer([&] {
            std::string burst;
            long long n = 0;
            while (Clock::now() - begin < std::chrono::seconds(5)) {
                burst.clear();
                for (int i = 0; i < 64; ++i)
                    burst += record(++n);
                if (!writeAll(pty.master, burst))
                    break;
                written = n;
            }
        });
        runUntil([&] { return Clock::now() - begin >= std::chrono::seconds(5); }, 6000);
        writer.join();
        runUntil([&] { return view.received >= written.load(); }, 20000);
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        stop(worker, view);
        g_figures.recordsPerSecond = static_cast<double>(view.received) / seconds;
        g_figures.lost = written.load() - view.received + view.outOfOrder;
        state.counters["records_per_s"] = g_figures.recordsPerSecond;
        state.counters["written"] = static_cast<double>(written.load());
        state.counters["lost"] = static_cast<double>(g_figures.lost);
    }
}

// (b) Fifty records a second for five seconds: terminator written to record handed over.
void BM_Latency(benchmark::State& state) {
    for (auto _ : state) {
        Pty pty;
        BenchView view;
        constexpr int kRecords = 250;
        std::vector<Clock::time_point> sentAt(kRecords + 1);
        std::vector<std::chrono::system_clock::time_point> sentAtSystem(kRecords + 1);
        std::vector<double> delivered;
        std::vector<double> handedOver;
        std::atomic<int> sent{0};
        view.onRecord = [&](const DataLine& line, Clock::time_point now) {
            const int n = line.getCount();
            if (n < 1 || n > sent.load())
                return;
            delivered.push_back(std::chrono::duration<double, std::micro>(now - sentAt[n]).count());
            handedOver.push_back(
                std::chrono::duration<double, std::micro>(line.getInstant() - sentAtSystem[n]).count());
        };
        auto worker = std::make_shared<WeightWorker>(view, settings(pty.device));
        worker->execute();
        std::thread writer([&] {
            const Clock::time_point begin = Clock::now();
            for (int n = 1; n <= kRecords; ++n) {
                std::this_thread::sleep_until(begin + std::chrono::milliseconds(20) * (n - 1));
                const std::string bytes = record(n);
                sentAt[n] = Clock::now();
                sentAtSystem[n] = std::chrono::system_clock::now();
                sent = n;
                writeAll(pty.master, bytes);
            }
        });
        runUntil([&] { return view.received >= kRecords; }, 15000);
        writer.join();
        stop(worker, view);
        g_figures.latencyP50Us = percentile(delivered, 0.50);
        g_figures.latencyP99Us = percentile(delivered, 0.99);
        g_figures.handOverP99Us = percentile(handedOver, 0.99);
        state.counters["p50_us"] = g_figures.latencyP50Us;
        state.counters["p99_us"] = g_figures.latencyP99Us;
        state.counters["terminator_p99_us"] = g_figures.handOverP99Us;
        state.counters["records"] = static_cast<double>(delivered.size());
    }
}

double processCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// (c) A worker waiting for data for ten seconds: CPU time of the whole process against one core, and the
// context switches of all its threads (each one a wake-up) per second.
void BM_IdleCpu(benchmark::State& state) {
    for (auto _ : state) {
        Pty pty;
        BenchView view;
        auto worker = std::make_shared<WeightWorker>(view, settings(pty.device));
        worker->execute();
        idleFor(200); // let the start settle
        const auto switchesBefore = tavlo::bench::threadSwitches();
        const double cpuBefore = processCpuSeconds();
        const Clock::time_point begin = Clock::now();
        idleFor(10000);
        const double cpu = processCpuSeconds() - cpuBefore;
        const auto switchesAfter = tavlo::bench::threadSwitches();
        const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
        stop(worker, view);
        g_figures.idleCpuPercent = 100.0 * cpu / wall;
        g_figures.idleWakeupsPerSecond = static_cast<double>(tavlo::bench::totalSwitches(switchesAfter) -
                                                             tavlo::bench::totalSwitches(switchesBefore)) /
                                         wall;
        std::fprintf(stderr, "idle wake-ups by thread:\n");
        tavlo::bench::printSwitchesPerThread(switchesBefore, switchesAfter, wall);
        state.counters["idle_cpu_pct"] = g_figures.idleCpuPercent;
        state.counters["idle_wakeups_per_s"] = g_figures.idleWakeupsPerSecond;
    }
}

// (e) Stop of a worker that waits for data on a silent line: from the cancellation to the body's exit, the
// worst of twenty runs. The wait in the library must end at Stop, not at its timeout.
void BM_StopIdle(benchmark::State& state) {
    for (auto _ : state) {
        double worst = 0;
        for (int run = 0; run < 20; ++run) {
            Pty pty;
            BenchView view;
            auto worker = std::make_shared<WeightWorker>(view, settings(pty.device));
            worker->execute();
            // At a different point of the receive timeout each time.
            idleFor(50 + 37 * run % 450);
            const Clock::time_point begin = Clock::now();
            worker->cancel(true);
            worker->waitForBody();
            worst = std::max(worst, std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
            runUntil([&] { return view.disconnected; }, 10000);
        }
        g_figures.stopIdleWorstMs = worst;
        state.counters["stop_idle_worst_ms"] = worst;
    }
}

// (d) Stop under a flood: from the cancellation to the body's exit, the worst of ten runs.
void BM_StopUnderFlood(benchmark::State& state) {
    for (auto _ : state) {
        double worst = 0;
        for (int run = 0; run < 10; ++run) {
            Pty pty;
            BenchView view;
            auto worker = std::make_shared<WeightWorker>(view, settings(pty.device));
            worker->execute();
            ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
            std::atomic<bool> stopWriting{false};
            std::thread writer([&] {
                std::string burst;
                for (int i = 0; i < 64; ++i)
                    burst += record(1);
                while (!stopWriting) {
                    if (::write(pty.master, burst.data(), burst.size()) <= 0) {
                        pollfd p{pty.master, POLLOUT, 0};
                        ::poll(&p, 1, 5);
                    }
                }
            });
            runUntil([&] { return view.received > 1000; }, 10000);
            const Clock::time_point begin = Clock::now();
            worker->cancel(true);
            worker->waitForBody();
            worst = std::max(worst, std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
            stopWriting = true;
            writer.join();
            runUntil([&] { return view.disconnected; }, 10000);
        }
        g_figures.stopWorstMs = worst;
        state.counters["stop_worst_ms"] = worst;
    }
}

BENCHMARK(BM_Throughput)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Latency)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StopUnderFlood)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StopIdle)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    using tavlo::base::SystemProperties;
    SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"),
                          QCoreApplication::applicationDirPath() + QStringLiteral("/libtspWin.so"));
    SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
    SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("acq_stop_worst_ms: %.3f\n", g_figures.stopWorstMs);
    std::printf("acq_latency_p50_us: %.0f\n", g_figures.latencyP50Us);
    std::printf("acq_terminator_to_handover_p99_us: %.0f\n", g_figures.handOverP99Us);
    std::printf("acq_records_per_s: %.0f\n", g_figures.recordsPerSecond);
    std::printf("acq_lost: %lld\n", g_figures.lost);
    std::printf("acq_latency_p99_us: %.0f\n", g_figures.latencyP99Us);
    std::printf("acq_idle_cpu_pct: %.3f\n", g_figures.idleCpuPercent);
    std::printf("acq_idle_wakeups_per_s: %.2f\n", g_figures.idleWakeupsPerSecond);
    std::printf("acq_stop_idle_ms: %.3f\n", g_figures.stopIdleWorstMs);
    return 0;
}
