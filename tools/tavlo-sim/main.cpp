// tavlo-sim: a virtual instrument on a pseudo-terminal or a TCP port. It prints the device path of the
// terminal's far end (or "tcp://127.0.0.1:PORT") on its first line; a program that opens that path (or
// connects to that address) receives the records as from a real instrument.
#include "SimCommands.h"
#include "SimFormat.h"
#include "config/Instrument.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using tavlo::config::ConfigHelper;

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_go = 0;
void onGo(int) {
    g_go = 1;
}
void onSignal(int) {
    g_stop = 1;
}

struct Options {
    QList<QByteArray> stable;   // records to send in turn
    QList<QByteArray> unstable; // matching unstable records (same order), or empty
    int unstableCount = 0;
    int intervalMs = 200;
    long long count = -1; // records to send; -1 without end
    QByteArray request;   // send one record per request received instead of on a timer
    int lingerMs = 500;
};

// Writes all of the bytes to the master side; a reader that has not opened the terminal yet just lets them queue.
bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size() && !g_stop) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return true;
}

// Waits up to a moment for bytes from the reader and adds them to pending; false once the program is stopped.
bool readMore(int fd, QByteArray& pending) {
    if (g_stop)
        return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0)
        return !g_stop;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0)
        pending.append(buf, n);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // far end not open (EIO)
    return !g_stop;
}

// Waits until the request text has arrived (in any chunks) or the program is stopped.
bool waitForRequest(const QByteArray& request, QByteArray& pending, const std::function<bool(QByteArray&)>& more) {
    for (;;) {
        const qsizetype at = pending.indexOf(request);
        if (at >= 0) {
            pending.remove(0, at + request.size());
            return true;
        }
        if (!more(pending))
            return false;
    }
}

// The network instrument: a listening socket on 127.0.0.1 and the clients connected to it. Records go to
// every client; while none is connected the instrument waits, as a balance whose cable is unplugged.
class TcpServer {
public:
    bool listen(int port) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen < 0)
            return false;
        const int on = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_listen, 8) != 0)
            return false;
        socklen_t size = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        ::fcntl(m_listen, F_SETFL, ::fcntl(m_listen, F_GETFL) | O_NONBLOCK);
        return true;
    }
    int port() const { return m_port; }
    ~TcpServer() {
        for (int fd : m_clients)
            ::close(fd);
        if (m_listen >= 0)
            ::close(m_listen);
    }
    // Takes every waiting connection; with wait, blocks until there is at least one client.
    void acceptClients(bool wait) {
        for (;;) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                m_clients.push_back(fd);
                continue;
            }
            if (!wait || !m_clients.empty() || g_stop)
                return;
            pollfd p{m_listen, POLLIN, 0};
            ::poll(&p, 1, 100);
        }
    }
    // Sends the record to every client; a client that has gone is dropped.
    void send(const QByteArray& bytes) {
        acceptClients(true);
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            if (writeTo(*it, bytes)) {
                ++it;
            } else {
                ::close(*it);
                it = m_clients.erase(it);
            }
        }
    }
    // Waits up to a moment for bytes from any client; false once the program is stopped.
    bool readMore(QByteArray& pending) {
        if (g_stop)
            return false;
        acceptClients(true);
        std::vector<pollfd> fds;
        for (int fd : m_clients)
            fds.push_back({fd, POLLIN, 0});
        fds.push_back({m_listen, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            return !g_stop;
        for (size_t i = 0; i + 1 < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[256];
            const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                pending.append(buf, n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                drop(fds[i].fd);
        }
        return !g_stop;
    }

private:
    static bool writeTo(int fd, const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size() && !g_stop) {
            const ssize_t n = ::send(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        return true;
    }
    void drop(int fd) {
        ::close(fd);
        m_clients.erase(std::find(m_clients.begin(), m_clients.end(), fd));
    }

    int m_listen = -1;
    int m_port = 0;
    std::vector<int> m_clients;
};

// Sends the records in turn (each stable record after its unstable ones) until the count is reached or a stop
// signal arrives, waiting for the request text before each when one is set; then tells the caller "done N" and
// lingers. False when a record could not be sent.
bool sendRecords(const Options& o, const std::function<bool(QByteArray&)>& awaitRequest,
                 const std::function<bool(const QByteArray&)>& send) {
    QByteArray pending;
    long long sent = 0;
    bool good = true;
    for (qsizetype i = 0; !g_stop && (o.count < 0 || sent < o.count); i = (i + 1) % o.stable.size()) {
        for (int u = 0; u <= o.unstableCount && !g_stop && (o.count < 0 || sent < o.count); ++u) {
            if (!o.request.isEmpty() && !awaitRequest(pending))
                break;
            if (!send(u < o.unstableCount ? o.unstable[i] : o.stable[i])) {
                good = false;
                g_stop = 1;
                break;
            }
            if (g_stop)
                break;
            ++sent;
            if (o.request.isEmpty() && o.intervalMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(o.intervalMs));
        }
    }
    // Tells a caller that everything was handed over.
    std::printf("done %lld\n", sent);
    std::fflush(stdout);
    for (int waited = 0; !g_stop && waited < o.lingerMs; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return good;
}

// Answers the profile's commands as they arrive until the count of records is reached or a stop signal arrives;
// then tells the caller "done N" and lingers. False when an answer could not be sent.
bool answerCommands(const Options& o, tavlo::sim::CommandInstrument& instrument,
                    const std::function<bool(QByteArray&)>& more, const std::function<bool(const QByteArray&)>& send) {
    QByteArray pending;
    long long sent = 0;
    bool good = true;
    while (!g_stop && (o.count < 0 || sent < o.count)) {
        const auto found = instrument.find(pending);
        if (!found) {
            if (!more(pending))
                break;
            continue;
        }
        pending.remove(0, found->consumed);
        const auto answer = instrument.answer(found->command);
        if (!answer.error.isEmpty()) {
            std::fprintf(stderr, "tavlo-sim: %s\n", qPrintable(answer.error));
            good = false;
            break;
        }
        if (!answer.bytes.isEmpty() && !send(answer.bytes)) {
            good = false;
            break;
        }
        sent += answer.record ? 1 : 0;
    }
    std::printf("done %lld\n", sent);
    std::fflush(stdout);
    for (int waited = 0; !g_stop && waited < o.lingerMs; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return good;
}

int fail(const QString& message) {
    std::fprintf(stderr, "tavlo-sim: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A virtual instrument on a pseudo-terminal. Prints the device path on the first line, then sends records.");
    parser.addHelpOption();
    parser.addOptions({
        {"instrument", "Send the sample records of profile NAME, or format values as it does.", "NAME"},
        {"values", "Comma-separated values to send in turn, e.g. 12.34,-0.5.", "LIST"},
        {"format", "Record template for --values (%s, %+09.2f, ...; C escapes). Default: the profile's preset.",
         "TEMPLATE"},
        {"interval", "Milliseconds between records (default 200).", "MS"},
        {"count", "Send N records, then end.", "N"},
        {"request",
         "Send one record each time TEXT is received (C escapes) instead of on a timer. With --instrument and "
         "--values, the profile's tare and zero are answered too, as with --commands.",
         "TEXT"},
        {"commands",
         "With --instrument and --values: answer the profile's commands as the instrument does instead of sending "
         "on a timer. Request: one record of the next value; tare: later records net of the current value, with "
         "the documented answer; zero: the current value becomes zero. --count counts the records."},
        {"unstable", "Send N unstable records before each stable one.", "N"},
        {"link", "Make a symbolic link PATH to the device.", "PATH"},
        {"linger", "Milliseconds to keep the terminal open after the last record (default 500).", "MS"},
        {"tcp",
         "Listen on 127.0.0.1:PORT (0: any free port) instead of a pseudo-terminal and send the records to "
         "every client that connects. The first line is the address, tcp://127.0.0.1:PORT.",
         "PORT"},
        {"wait-usr1", "Send nothing before the signal SIGUSR1 arrives (lets a caller wait until the reader is ready)."},
    });
    parser.process(app);

    Options o;
    const QString instrumentName = parser.value("instrument");
    const ConfigHelper::Instrument* instrument = nullptr;
    if (!instrumentName.isEmpty()) {
        instrument = ConfigHelper::Instrument::find(instrumentName);
        if (!instrument)
            return fail(QStringLiteral("unknown instrument %1").arg(instrumentName));
    }
    bool ok = true;
    const auto number = [&](const char* name, long long fallback) {
        if (!parser.isSet(name))
            return fallback;
        bool good = false;
        const long long v = parser.value(name).toLongLong(&good);
        if (!good || v < 0)
            ok = false;
        return v;
    };
    o.intervalMs = static_cast<int>(number("interval", 200));
    o.count = number("count", -1);
    o.unstableCount = static_cast<int>(number("unstable", 0));
    o.lingerMs = static_cast<int>(number("linger", 500));
    if (!ok)
        return fail(QStringLiteral("--interval, --count, --unstable and --linger take numbers of 0 or more"));
    if (parser.isSet("request"))
        o.request = tavlo::sim::decodeEscapes(parser.value("request"));
    std::optional<tavlo::sim::CommandInstrument> commands;
    // --request with an instrument whose maker documents tare or zero, and loads to weigh, answers those too
    // (the text given is its request); --commands answers the table's own request.
    const tavlo::config::InstrumentCommands* documented = instrument ? instrument->commands() : nullptr;
    const bool requestAnswersCommands = parser.isSet("request") && parser.isSet("values") && documented &&
                                        (*documented->tare || *documented->zero) && !o.request.isEmpty();
    if (parser.isSet("commands") || requestAnswersCommands) {
        if (!instrument || !parser.isSet("values") || (parser.isSet("request") && parser.isSet("commands")))
            return fail(QStringLiteral("--commands needs --instrument NAME and --values LIST, and no --request"));
        tavlo::config::InstrumentCommands table = documented ? *documented : tavlo::config::InstrumentCommands{};
        if (requestAnswersCommands)
            table.request = o.request.constData();
        if (!*table.request && !*table.tare && !*table.zero)
            return fail(QStringLiteral("the maker of %1 documents no commands").arg(instrumentName));
        const auto preset = tavlo::sim::presetFor(instrument->name());
        const QByteArray format = parser.isSet("format") ? tavlo::sim::decodeEscapes(parser.value("format"))
                                                         : QByteArray(preset ? preset->stable : "%s\r\n");
        const QStringList values = parser.value("values").split(u',', Qt::SkipEmptyParts);
        for (const QString& value : values) {
            QString error;
            if (!tavlo::sim::fillTemplate(format, value, &error))
                return fail(error);
        }
        commands.emplace(values, format, preset, table);
    }

    if (parser.isSet("values")) {
        const auto preset = instrument ? tavlo::sim::presetFor(instrument->name()) : std::nullopt;
        const QByteArray stableFormat = parser.isSet("format") ? tavlo::sim::decodeEscapes(parser.value("format"))
                                                               : QByteArray(preset ? preset->stable : "%s\r\n");
        const QByteArray unstableFormat =
            preset && !parser.isSet("format") ? QByteArray(preset->unstable) : stableFormat;
        for (const QString& value : parser.value("values").split(u',', Qt::SkipEmptyParts)) {
            QString error;
            const auto stable = tavlo::sim::fillTemplate(stableFormat, value, &error);
            const auto unstable = tavlo::sim::fillTemplate(unstableFormat, value, &error);
            if (!stable || !unstable)
                return fail(error);
            o.stable << *stable;
            o.unstable << *unstable;
        }
    } else if (instrument) {
        for (const auto& [record, expected] : instrument->getTestStrings())
            if (!record.isEmpty())
                o.stable << record.toLatin1();
        o.unstable = o.stable;
        if (o.stable.isEmpty())
            return fail(QStringLiteral("%1 has no sample records; give --values").arg(instrumentName));
    } else {
        return fail(QStringLiteral("give --instrument NAME or --values LIST (see --help)"));
    }

    std::signal(SIGUSR1, onGo);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    if (parser.isSet("tcp")) {
        bool good = false;
        const int port = parser.value("tcp").toInt(&good);
        if (!good || port < 0 || port > 65535)
            return fail(QStringLiteral("--tcp takes a port number from 0 to 65535"));
        TcpServer server;
        if (!server.listen(port))
            return fail(QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(strerror(errno)));
        std::printf("tcp://127.0.0.1:%d\n", server.port());
        std::fflush(stdout);
        if (parser.isSet("wait-usr1"))
            while (!g_go && !g_stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto more = [&](QByteArray& pending) { return server.readMore(pending); };
        const auto send = [&](const QByteArray& record) {
            server.send(record);
            return true;
        };
        if (commands)
            answerCommands(o, *commands, more, send);
        else
            sendRecords(
                o, [&](QByteArray& pending) { return waitForRequest(o.request, pending, more); }, send);
        return 0;
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return fail(QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    // Raw on both sides, so the bytes arrive exactly as sent.
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // Our own handle on the far end keeps the terminal alive while readers come and go; closed at the end.
    const QString link = parser.value("link");
    if (!link.isEmpty()) {
        QFile::remove(link);
        if (::symlink(name, QFile::encodeName(link).constData()) != 0)
            return fail(QStringLiteral("cannot make the link %1").arg(link));
    }
    std::printf("%s\n", name);
    std::fflush(stdout);

    if (parser.isSet("wait-usr1"))
        while (!g_go && !g_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));

    const auto more = [&](QByteArray& pending) { return readMore(master, pending); };
    const auto send = [&](const QByteArray& record) { return writeAll(master, record); };
    const bool sentAll =
        commands ? answerCommands(o, *commands, more, send)
                 : sendRecords(
                       o, [&](QByteArray& pending) { return waitForRequest(o.request, pending, more); }, send);
    if (!link.isEmpty())
        QFile::remove(link);
    ::close(slave);
    ::close(master);
    return sentAll ? 0 : 1;
}
