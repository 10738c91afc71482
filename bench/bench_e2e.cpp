// The whole headless wedge through a pseudo-terminal: throughput without loss, latency at an instrument's
// pace, memory over a million records, wake-ups and CPU of the idle process, and the same stream read by a
// short Python script for comparison. Prints e2e_values_per_s, e2e_lost, e2e_latency_p99_us, e2e_rss_growth_kib,
// e2e_idle_wakeups_per_s, e2e_idle_cpu_pct and python_values_per_s; then the same throughput and latency through a
// TCP connection (e2e_tcp_values_per_s, e2e_tcp_latency_p99_us) and the throughput with the data log on
// (e2e_data_log_values_per_s). With --additions only the idle, throughput, TCP and data-log runs are made (no
// memory run, no Python run).
#include "../tests/fakes/ResidentMemory.h"
#include "ProcessWakeups.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using tavlo::test::residentKib;

struct Pty {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    Pty() {
        ::openpty(&master, &slave, name, nullptr, nullptr);
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        ::close(slave);
        ::close(master);
    }
};

// The instrument's side of a network connection: a listening socket on the loopback address.
struct TcpLink {
    int listener = -1;
    int master = -1; // the accepted connection, written like the terminal's master side
    int port = 0;
    TcpLink() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener, 1);
        socklen_t size = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
    }
    QString address() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(port); }
    bool accept() {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return false;
        master = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        // An instrument sends each record as it is made, without waiting to fill a segment.
        const int on = 1;
        ::setsockopt(master, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return master >= 0;
    }
    ~TcpLink() {
        if (master >= 0)
            ::close(master);
        ::close(listener);
    }
};

QString writeSettings(QTemporaryDir& dir) {
    const QString path = dir.filePath("settings.xml");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?><preferences EXTERNAL_XML_VERSION=\"1.0\"><root "
                "type=\"user\"><map/><node name=\"com\"><map/><node name=\"corvane\"><map/><node name=\"Tavlo\"><map>"
                "<entry key=\"instrument\" value=\"GENERIC\"/><entry key=\"inputTerminator\" value=\"10\"/>"
                "<entry key=\"delay\" value=\"0\"/></map></node></node></node></root></preferences>\n");
    return path;
}

// Reads complete lines of the process's standard output as they come.
struct LineReader {
    QProcess& process;
    QByteArray buffer;
    std::vector<QByteArray> take(int waitMs) {
        process.waitForReadyRead(waitMs);
        buffer += process.readAllStandardOutput();
        std::vector<QByteArray> lines;
        qsizetype at;
        while ((at = buffer.indexOf('\n')) >= 0) {
            lines.push_back(buffer.left(at));
            buffer.remove(0, at + 1);
        }
        return lines;
    }
};

bool startReader(QProcess& p, const QString& program, const QStringList& args, bool waitForReady,
                 const QByteArray& ready = "RTS: ") {
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return false;
    if (!waitForReady)
        return true;
    QByteArray err;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!err.contains(ready) && Clock::now() < deadline) {
        p.waitForReadyRead(20);
        err += p.readAllStandardError();
    }
    return err.contains(ready);
}

struct Flood {
    double valuesPerSecond = 0;
    long lost = 0;
    long outOfOrder = 0;
    long rssAt10k = -1;
    long rssAtEnd = -1;
};

// Writes records "S <n>\n" as fast as the terminal takes them for `seconds` (or until `limit` records), and
// checks that the reader prints 1, 2, 3, ... in order.
template <typename Link> Flood flood(QProcess& reader, Link& pty, double seconds, long limit) {
    Flood f;
    LineReader lines{reader, {}};
    long sent = 0, received = 0, expected = 1;
    QByteArray pending;
    const auto start = Clock::now();
    const auto stopSending = start + std::chrono::duration<double>(seconds);
    auto lastReceive = start;
    while (true) {
        const bool sending = Clock::now() < stopSending && sent < limit;
        if (sending && pending.size() < 4096) {
            for (int i = 0; i < 64 && sent < limit; ++i)
                pending += "S " + QByteArray::number(++sent) + " g\n";
        }
        if (!pending.isEmpty()) {
            const ssize_t n = ::write(pty.master, pending.constData(), static_cast<size_t>(pending.size()));
            if (n > 0)
                pending.remove(0, n);
        }
        for (const QByteArray& line : lines.take(pending.isEmpty() && !sending ? 200 : 0)) {
            ++received;
            lastReceive = Clock::now();
            if (line.toLong() != expected)
                ++f.outOfOrder;
            expected = line.toLong() + 1;
            if (received == 10000)
                f.rssAt10k = residentKib(reader.processId());
            if (received % 100000 == 0 && std::getenv("TAVLO_BENCH_RSS_TRACE"))
                std::fprintf(stderr, "rss after %ld: %ld KiB\n", received, residentKib(reader.processId()));
        }
        if (!sending && pending.isEmpty() && (received >= sent || Clock::now() - lastReceive > std::chrono::seconds(3)))
            break;
    }
    f.rssAtEnd = residentKib(reader.processId());
    f.lost = sent - received;
    f.valuesPerSecond = received / std::chrono::duration<double>(lastReceive - start).count();
    return f;
}

template <typename Link> double latencyP99Us(QProcess& reader, Link& pty) {
    LineReader lines{reader, {}};
    std::vector<double> latencies;
    for (int i = 1; i <= 100; ++i) {
        const QByteArray record = "S " + QByteArray::number(i) + " g\n";
        const auto sent = Clock::now();
        [[maybe_unused]] const ssize_t n = ::write(pty.master, record.constData(), static_cast<size_t>(record.size()));
        bool seen = false;
        while (!seen && Clock::now() - sent < std::chrono::seconds(2))
            for (const QByteArray& line : lines.take(1))
                if (line.toLong() == i) {
                    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
                    seen = true;
                }
        std::this_thread::sleep_until(sent + std::chrono::milliseconds(50)); // 20 values per second
    }
    if (latencies.empty())
        return -1;
    std::sort(latencies.begin(), latencies.end());
    return latencies[static_cast<size_t>(latencies.size() * 99 / 100)];
}

struct Idle {
    double wakeupsPerSecond = -1;
    double cpuPercent = -1;
};

// The headless process on a silent line for ten seconds: the context switches of all its threads per second,
// and its CPU time against one core.
Idle idle(QProcess& reader) {
    const long long pid = reader.processId();
    QThread::msleep(1000); // let the start settle
    const auto before = tavlo::bench::threadSwitches(pid);
    const double cpuBefore = tavlo::bench::processCpuSeconds(pid);
    const auto begin = Clock::now();
    QThread::msleep(10000);
    const auto after = tavlo::bench::threadSwitches(pid);
    const double cpu = tavlo::bench::processCpuSeconds(pid) - cpuBefore;
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::fprintf(stderr, "idle wake-ups of the headless process by thread:\n");
    tavlo::bench::printSwitchesPerThread(before, after, seconds);
    Idle result;
    result.wakeupsPerSecond =
        static_cast<double>(tavlo::bench::totalSwitches(after) - tavlo::bench::totalSwitches(before)) / seconds;
    result.cpuPercent = 100.0 * cpu / seconds;
    return result;
}

void stop(QProcess& p) {
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    const QString settings = writeSettings(dir);
    const QStringList tavloArgs{"--headless", "--settings", settings, "--output", "print"};

    const bool additionsOnly = app.arguments().contains(QStringLiteral("--additions"));
    Flood throughput, memory;
    double p99 = -1;
    Idle quiet;
    {
        Pty pty;
        QProcess tavlo;
        if (startReader(tavlo, bin + "/tavlo", tavloArgs + QStringList{pty.name}, true))
            quiet = idle(tavlo);
        stop(tavlo);
    }
    {
        Pty pty;
        QProcess tavlo;
        if (!startReader(tavlo, bin + "/tavlo", tavloArgs + QStringList{pty.name}, true)) {
            std::fprintf(stderr, "tavlo did not start\n");
            return 1;
        }
        throughput = flood(tavlo, pty, 10, 100000000);
        p99 = latencyP99Us(tavlo, pty);
        stop(tavlo);
    }
    Flood tcp;
    double tcpP99 = -1;
    {
        TcpLink link;
        QProcess tavlo;
        tavlo.start(bin + "/tavlo", tavloArgs + QStringList{link.address()});
        if (!tavlo.waitForStarted(5000) || !link.accept()) {
            std::fprintf(stderr, "tavlo did not connect\n");
            return 1;
        }
        QByteArray err;
        while (!err.contains("Connected to") && tavlo.waitForReadyRead(10000))
            err += tavlo.readAllStandardError();
        tcp = flood(tavlo, link, 10, 100000000);
        tcpP99 = latencyP99Us(tavlo, link);
        stop(tavlo);
    }
    Flood dataLog;
    {
        Pty pty;
        QProcess tavlo;
        startReader(tavlo, bin + "/tavlo",
                    tavloArgs + QStringList{"--data-log", dir.filePath("bench-log.csv"), pty.name}, true);
        dataLog = flood(tavlo, pty, 10, 100000000);
        stop(tavlo);
    }
    Flood python;
    if (!additionsOnly) {
        {
            Pty pty;
            QProcess tavlo;
            startReader(tavlo, bin + "/tavlo", tavloArgs + QStringList{pty.name}, true);
            memory = flood(tavlo, pty, 600, 1000000);
            stop(tavlo);
        }
        Pty pty;
        QProcess script;
        startReader(script, "/usr/bin/python3",
                    {QStringLiteral(TAVLO_SOURCE_DIR "/bench/scripts/read_serial.py"), pty.name}, false);
        QThread::msleep(500); // the script opens the port
        python = flood(script, pty, 10, 100000000);
        stop(script);
        std::printf("memory_run_lost: %ld\n", memory.lost);
        std::printf("python_lost: %ld\n", python.lost);
    }
    std::printf("e2e_out_of_order: %ld\n", throughput.outOfOrder + memory.outOfOrder);
    std::printf("e2e_values_per_s: %.0f\n", throughput.valuesPerSecond);
    std::printf("e2e_lost: %ld\n", throughput.lost);
    std::printf("e2e_latency_p99_us: %.0f\n", p99);
    if (!additionsOnly) {
        std::printf("e2e_rss_growth_kib: %ld\n", memory.rssAtEnd - memory.rssAt10k);
        std::printf("python_values_per_s: %.0f\n", python.valuesPerSecond);
    }
    std::printf("e2e_tcp_values_per_s: %.0f\n", tcp.valuesPerSecond);
    std::printf("e2e_tcp_lost: %ld\n", tcp.lost);
    std::printf("e2e_tcp_out_of_order: %ld\n", tcp.outOfOrder);
    std::printf("e2e_tcp_latency_p99_us: %.0f\n", tcpP99);
    std::printf("e2e_data_log_values_per_s: %.0f\n", dataLog.valuesPerSecond);
    std::printf("e2e_data_log_lost: %ld\n", dataLog.lost);
    std::printf("e2e_idle_cpu_pct: %.3f\n", quiet.cpuPercent);
    std::printf("e2e_idle_wakeups_per_s: %.2f\n", quiet.wakeupsPerSecond);
    return 0;
}
