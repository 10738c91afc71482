// The whole headless wedge through a pseudo-terminal: throughput without loss, latency at an instrument's
// pace, memory over a million records, wake-ups and CPU of the idle process, and the same stream read by a
// short Python script for comparison. Prints e2e_values_per_s, e2e_lost, e2e_latency_p99_us, e2e_rss_growth_kib,
// e2e_idle_wakeups_per_s, e2e_idle_cpu_pct and python_values_per_s; then the same throughput and latency through a
// TCP connection (e2e_tcp_values_per_s, e2e_tcp_latency_p99_us) and the throughput with the data log on
// (e2e_data_log_values_per_s); then with the reading service on and ten WebSocket clients: the latency from the
// record on the pseudo-terminal to its JSON message at a client beside the bare terminal's (web_latency_p99_us,
// web_pty_floor_p99_us, best of three), the readings per second every client got (web_values_per_s), the same
// with one more client that never reads (web_stalled_values_per_s), and beside them the run without the service
// (web_plain_values_per_s), each the best of three floods taken in turn. With --additions only the idle,
// throughput, TCP, data-log and reading-service runs are made (no memory run, no Python run); with --web only
// the plain throughput and the reading-service runs. Then MQTT against a Mosquitto of its own at QoS 1: the
// latency from the record on the pseudo-terminal to the message at a subscriber beside the bare terminal's
// (mqtt_latency_p99_us, mqtt_pty_floor_p99_us, best of three), the readings per second the subscriber got
// (mqtt_values_per_s, best of three floods) and how many it missed (mqtt_lost), and the same stream through the
// short Python script a user would write, pyserial and paho-mqtt (python_mqtt_values_per_s, python_mqtt_lost);
// --mqtt makes only these.
#include "../tests/fakes/ResidentMemory.h"
#include "MqttPeers.h"
#include "ProcessWakeups.h"
#include "WebClients.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mutex>
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

// The bench's settings file: the generic profile, records cut at LF, no delay between values; `extra` adds entries.
QString writeSettings(QTemporaryDir& dir, const QString& name = QStringLiteral("settings.xml"),
                      const QByteArray& extra = {}) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?><preferences EXTERNAL_XML_VERSION=\"1.0\"><root "
                "type=\"user\"><map/><node name=\"com\"><map/><node name=\"corvane\"><map/><node name=\"Tavlo\"><map>"
                "<entry key=\"instrument\" value=\"GENERIC\"/><entry key=\"inputTerminator\" value=\"10\"/>"
                "<entry key=\"delay\" value=\"0\"/>" +
                extra + "</map></node></node></node></root></preferences>\n");
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
    long received = 0;
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
    f.received = received;
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

void stop(QProcess& p);

// The best p99 of three blocks of 100 records at 20 per second: write one, wait until `arrived` says when it came.
template <typename Write, typename Arrived> double bestP99Us(Write write, Arrived arrived) {
    double best = -1;
    for (int block = 0; block < 3; ++block) {
        std::vector<double> latencies;
        for (int i = 0; i < 100; ++i) {
            const auto sent = Clock::now();
            const long seq = write();
            Clock::time_point at;
            if (arrived(seq, &at))
                latencies.push_back(std::chrono::duration<double, std::micro>(at - sent).count());
            std::this_thread::sleep_until(sent + std::chrono::milliseconds(50));
        }
        if (latencies.empty())
            continue;
        std::sort(latencies.begin(), latencies.end());
        const double p99 = latencies[static_cast<size_t>(latencies.size() * 99 / 100)];
        if (best < 0 || p99 < best)
            best = p99;
    }
    return best;
}

// The floor under any reader of a pseudo-terminal: a thread blocked on the terminal's reading side, woken by a
// record written on the other.
double ptyFloorP99Us() {
    Pty pty;
    std::mutex mutex;
    std::condition_variable wake;
    long lines = 0;
    Clock::time_point last;
    std::thread reader([&] {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(pty.slave, buffer, sizeof buffer);
            if (n <= 0)
                return;
            const auto now = Clock::now();
            std::lock_guard lock(mutex);
            for (ssize_t i = 0; i < n; ++i)
                if (buffer[i] == '\n') {
                    ++lines;
                    last = now;
                } else if (buffer[i] == 'Q') {
                    return;
                }
            wake.notify_all();
        }
    });
    long written = 0;
    const double p99 = bestP99Us(
        [&] {
            const QByteArray record = "S " + QByteArray::number(++written) + " g\n";
            [[maybe_unused]] const ssize_t n =
                ::write(pty.master, record.constData(), static_cast<size_t>(record.size()));
            return written;
        },
        [&](long seq, Clock::time_point* at) {
            std::unique_lock lock(mutex);
            if (!wake.wait_for(lock, std::chrono::seconds(2), [&] { return lines >= seq; }))
                return false;
            *at = last;
            return true;
        });
    [[maybe_unused]] const ssize_t n = ::write(pty.master, "Q", 1);
    reader.join();
    return p99;
}

// A port free on both loopback addresses, for the reading service.
int freeServicePort() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpServer four;
        if (!four.listen(QHostAddress::LocalHost, 0))
            continue;
        QTcpServer six;
        if (six.listen(QHostAddress::LocalHostIPv6, four.serverPort()))
            return four.serverPort();
    }
    return 0;
}

struct Web {
    double latencyP99Us = -1;
    double floorP99Us = -1;
    double plainValuesPerSecond = -1;
    double valuesPerSecond = -1;
    double stalledValuesPerSecond = -1;
    long lost = -1; // readings that some client did not get
    long outOfOrder = -1;
    long typedLost = -1; // values that were not printed
    bool stalledClosed = false;
};

// Readings per second that every client got since `start`, after their flood; also what the slowest missed.
double clientRate(const std::vector<std::unique_ptr<tavlo::bench::WebClient>>& clients, long expected,
                  Clock::time_point start, long* missed, long* outOfOrder) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    const auto slowest = [&] {
        long least = expected;
        for (const auto& c : clients)
            least = std::min(least, c->received());
        return least;
    };
    while (slowest() < expected && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    double rate = -1;
    *missed = expected - slowest();
    std::fprintf(stderr, "web clients: the slowest got %ld of %ld readings\n", slowest(), expected);
    for (const auto& c : clients) {
        const double seconds = std::chrono::duration<double>(c->lastArrival() - start).count();
        const double r = seconds > 0 ? static_cast<double>(c->received()) / seconds : 0;
        rate = rate < 0 ? r : std::min(rate, r);
        *outOfOrder += c->outOfOrder();
    }
    return rate;
}

// The headless wedge with the reading service on and ten WebSocket clients: latency, then a flood, then a flood
// with one more client that never reads.
Web webRun(const QString& bin, const QStringList& tavloArgs, const QTemporaryDir& dir) {
    Web web;
    web.floorP99Us = ptyFloorP99Us();
    const int port = freeServicePort();
    Pty pty;
    QProcess tavlo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path()); // the token is made there, not in the user's folder
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    tavlo.setProcessEnvironment(env);
    if (!startReader(tavlo, bin + "/tavlo",
                     tavloArgs + QStringList{"--reading-service", QString::number(port), pty.name}, true)) {
        std::fprintf(stderr, "tavlo with the reading service did not start\n");
        return web;
    }
    std::vector<std::unique_ptr<tavlo::bench::WebClient>> clients;
    for (int i = 0; i < 10; ++i)
        clients.push_back(std::make_unique<tavlo::bench::WebClient>(port));
    for (const auto& c : clients)
        if (!c->connected()) {
            std::fprintf(stderr, "a WebSocket client could not connect\n");
            return web;
        }
    long seq = 0;
    web.latencyP99Us = bestP99Us(
        [&] {
            const QByteArray record = "S " + QByteArray::number(++seq) + " g\n";
            [[maybe_unused]] const ssize_t n =
                ::write(pty.master, record.constData(), static_cast<size_t>(record.size()));
            return seq;
        },
        [&](long wanted, Clock::time_point* at) { return clients[0]->waitFor(wanted, std::chrono::seconds(2), at); });
    // What was printed meanwhile is not part of the flood that follows.
    while (tavlo.waitForReadyRead(300))
        tavlo.readAllStandardOutput();

    // The machine is shared: each throughput is the best of three 5-second floods, the run without the service
    // (on a process of its own) taken in turn with the two service runs.
    const auto flooded = [&](double* best) {
        for (const auto& c : clients)
            c->reset();
        const auto start = Clock::now();
        const Flood f = flood(tavlo, pty, 5, 100000000);
        long missed = 0, outOfOrder = 0;
        // Every record written is one reading for every client.
        const double rate = clientRate(clients, f.received + f.lost, start, &missed, &outOfOrder);
        *best = std::max(*best, rate);
        web.lost = std::max(web.lost, missed);
        web.outOfOrder = std::max(web.outOfOrder, outOfOrder);
        web.typedLost = std::max(web.typedLost, f.lost);
    };
    std::vector<int> stalled;
    for (int round = 0; round < 3; ++round) {
        {
            Pty plainPty;
            QProcess plain;
            if (startReader(plain, bin + "/tavlo", tavloArgs + QStringList{plainPty.name}, true))
                web.plainValuesPerSecond =
                    std::max(web.plainValuesPerSecond, flood(plain, plainPty, 5, 100000000).valuesPerSecond);
            stop(plain);
        }
        flooded(&web.valuesPerSecond);
        // A new client that never reads, in each round: the one before was cut.
        stalled.push_back(tavlo::bench::openWebSocket(port, 4096));
        flooded(&web.stalledValuesPerSecond);
    }
    QByteArray err = tavlo.readAllStandardError();
    web.stalledClosed = err.count("stopped reading") == 3;
    stop(tavlo);
    for (int fd : stalled)
        if (fd >= 0)
            ::close(fd);
    return web;
}

struct Mqtt {
    double latencyP99Us = -1;
    double floorP99Us = -1;
    double valuesPerSecond = -1;
    double pythonValuesPerSecond = -1;
    long lost = -1;
    long pythonLost = -1;
};

// Writes records "S <n> g" with n from *next on, as fast as the terminal takes them, for `seconds` (or `limit`
// records), and returns the readings per second the subscriber got; *lost: those it never got.
double mqttFlood(Pty& pty, tavlo::bench::MqttSubscriber& subscriber, long* next, double seconds, long limit,
                 long* lost) {
    subscriber.reset();
    const long first = *next;
    QByteArray pending;
    const auto start = Clock::now();
    const auto stopSending = start + std::chrono::duration<double>(seconds);
    while ((Clock::now() < stopSending && *next - first < limit) || !pending.isEmpty()) {
        if (pending.size() < 4096 && Clock::now() < stopSending && *next - first < limit)
            for (int i = 0; i < 64; ++i)
                pending += "S " + QByteArray::number((*next)++) + " g\n";
        const ssize_t n = ::write(pty.master, pending.constData(), static_cast<size_t>(pending.size()));
        if (n > 0)
            pending.remove(0, n);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const long sent = *next - first;
    long got = 0;
    auto progress = Clock::now();
    while (got < sent && Clock::now() - progress < std::chrono::seconds(3)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (const long now = subscriber.received(); now > got) {
            got = now;
            progress = Clock::now();
        }
    }
    *lost = sent - got;
    const double elapsed = std::chrono::duration<double>(subscriber.lastArrival() - start).count();
    return elapsed > 0 ? static_cast<double>(got) / elapsed : 0;
}

// Tavlo publishing to a local Mosquitto at QoS 1, and the Python script doing the same, each read by a
// subscriber of its own.
Mqtt mqttRun(const QString& bin, QTemporaryDir& dir) {
    Mqtt m;
    m.floorP99Us = ptyFloorP99Us();
    tavlo::bench::Mosquitto broker(dir);
    if (!broker.running()) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return m;
    }
    const QString settings =
        writeSettings(dir, QStringLiteral("mqtt-settings.xml"), "<entry key=\"station\" value=\"bench\"/>");
    {
        tavlo::bench::MqttSubscriber subscriber(broker.port(), "tavlo/bench/readings");
        Pty pty;
        QProcess tavlo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path()); // the readings waiting for the broker are kept there
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        tavlo.setProcessEnvironment(env);
        // Every record is an event-log line: it goes to a file, so that a full pipe never holds the program up.
        const QString log = dir.filePath("mqtt-tavlo.log");
        tavlo.setStandardErrorFile(log);
        tavlo.start(bin + "/tavlo", {"--headless", "--settings", settings, "--output", "none", "--mqtt-broker",
                                     broker.url(), pty.name});
        const auto connected = [&] {
            QFile f(log);
            return f.open(QIODevice::ReadOnly) && f.readAll().contains("MQTT: connected");
        };
        for (int i = 0; i < 200 && !connected(); ++i)
            QThread::msleep(50);
        if (!subscriber.subscribed() || !connected()) {
            std::fprintf(stderr, "tavlo with MQTT did not start\n");
            stop(tavlo);
            return m;
        }
        long next = 1;
        m.latencyP99Us = bestP99Us(
            [&] {
                const long value = next++;
                const QByteArray record = "S " + QByteArray::number(value) + " g\n";
                [[maybe_unused]] const ssize_t n =
                    ::write(pty.master, record.constData(), static_cast<size_t>(record.size()));
                return value;
            },
            [&](long value, Clock::time_point* at) { return subscriber.waitFor(value, std::chrono::seconds(2), at); });
        for (int round = 0; round < 3; ++round) {
            long lost = 0;
            m.valuesPerSecond = std::max(m.valuesPerSecond, mqttFlood(pty, subscriber, &next, 5, 200000, &lost));
            m.lost = std::max(m.lost, lost);
        }
        stop(tavlo);
    }
    tavlo::bench::MqttSubscriber subscriber(broker.port(), "python/bench/readings");
    Pty pty;
    QProcess script;
    startReader(
        script, "/usr/bin/python3",
        {QStringLiteral(TAVLO_SOURCE_DIR "/bench/scripts/serial_to_mqtt.py"), pty.name, QString::number(broker.port())},
        false);
    QThread::msleep(1000); // the script opens the port and connects
    long next = 1;
    m.pythonValuesPerSecond = mqttFlood(pty, subscriber, &next, 10, 200000, &m.pythonLost);
    stop(script);
    return m;
}

void printMqtt(const Mqtt& mqtt) {
    std::printf("mqtt_latency_p99_us: %.0f\n", mqtt.latencyP99Us);
    std::printf("mqtt_pty_floor_p99_us: %.0f\n", mqtt.floorP99Us);
    std::printf("mqtt_values_per_s: %.0f\n", mqtt.valuesPerSecond);
    std::printf("mqtt_lost: %ld\n", mqtt.lost);
    std::printf("python_mqtt_values_per_s: %.0f\n", mqtt.pythonValuesPerSecond);
    std::printf("python_mqtt_lost: %ld\n", mqtt.pythonLost);
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
    const bool webOnly = app.arguments().contains(QStringLiteral("--web"));
    if (app.arguments().contains(QStringLiteral("--mqtt"))) {
        printMqtt(mqttRun(bin, dir));
        return 0;
    }
    Flood throughput, memory;
    double p99 = -1;
    Idle quiet;
    if (!webOnly) {
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
    if (!webOnly) {
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
    if (!webOnly) {
        Pty pty;
        QProcess tavlo;
        startReader(tavlo, bin + "/tavlo",
                    tavloArgs + QStringList{"--data-log", dir.filePath("bench-log.csv"), pty.name}, true);
        dataLog = flood(tavlo, pty, 10, 100000000);
        stop(tavlo);
    }
    const Web web = webRun(bin, tavloArgs, dir);
    Flood python;
    if (!additionsOnly && !webOnly) {
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
    if (!additionsOnly && !webOnly) {
        std::printf("e2e_rss_growth_kib: %ld\n", memory.rssAtEnd - memory.rssAt10k);
        std::printf("python_values_per_s: %.0f\n", python.valuesPerSecond);
    }
    std::printf("e2e_tcp_values_per_s: %.0f\n", tcp.valuesPerSecond);
    std::printf("e2e_tcp_lost: %ld\n", tcp.lost);
    std::printf("e2e_tcp_out_of_order: %ld\n", tcp.outOfOrder);
    std::printf("e2e_tcp_latency_p99_us: %.0f\n", tcpP99);
    std::printf("e2e_data_log_values_per_s: %.0f\n", dataLog.valuesPerSecond);
    std::printf("e2e_data_log_lost: %ld\n", dataLog.lost);
    std::printf("web_latency_p99_us: %.0f\n", web.latencyP99Us);
    std::printf("web_pty_floor_p99_us: %.0f\n", web.floorP99Us);
    std::printf("web_plain_values_per_s: %.0f\n", web.plainValuesPerSecond);
    std::printf("web_values_per_s: %.0f\n", web.valuesPerSecond);
    std::printf("web_stalled_values_per_s: %.0f\n", web.stalledValuesPerSecond);
    std::printf("web_lost: %ld\n", web.lost);
    std::printf("web_out_of_order: %ld\n", web.outOfOrder);
    std::printf("web_typed_lost: %ld\n", web.typedLost);
    std::printf("web_stalled_client_closed: %d\n", web.stalledClosed ? 1 : 0);
    printMqtt(mqttRun(bin, dir));
    std::printf("e2e_idle_cpu_pct: %.3f\n", quiet.cpuPercent);
    std::printf("e2e_idle_wakeups_per_s: %.2f\n", quiet.wakeupsPerSecond);
    return 0;
}
