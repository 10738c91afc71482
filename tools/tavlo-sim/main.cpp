// tavlo-sim: a virtual instrument on a pseudo-terminal. It prints the device path of the terminal's far end
// on its first line; a program that opens that path receives the records as from a real instrument.
#include "SimFormat.h"
#include "config/Instrument.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

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

// Waits until the request text has arrived (in any chunks) or the program is stopped.
bool waitForRequest(int fd, const QByteArray& request, QByteArray& pending) {
    while (!g_stop) {
        const qsizetype at = pending.indexOf(request);
        if (at >= 0) {
            pending.remove(0, at + request.size());
            return true;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            pending.append(buf, n);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // far end not open (EIO)
    }
    return false;
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
        {"request", "Send one record each time TEXT is received (C escapes) instead of on a timer.", "TEXT"},
        {"unstable", "Send N unstable records before each stable one.", "N"},
        {"link", "Make a symbolic link PATH to the device.", "PATH"},
        {"linger", "Milliseconds to keep the terminal open after the last record (default 500).", "MS"},
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

    std::signal(SIGUSR1, onGo);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    if (parser.isSet("wait-usr1"))
        while (!g_go && !g_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));

    QByteArray pending;
    long long sent = 0;
    int status = 0;
    for (qsizetype i = 0; !g_stop && (o.count < 0 || sent < o.count); i = (i + 1) % o.stable.size()) {
        for (int u = 0; u <= o.unstableCount && !g_stop && (o.count < 0 || sent < o.count); ++u) {
            if (!o.request.isEmpty() && !waitForRequest(master, o.request, pending))
                break;
            const QByteArray& record = u < o.unstableCount ? o.unstable[i] : o.stable[i];
            if (!writeAll(master, record)) {
                status = 1;
                g_stop = 1;
                break;
            }
            ++sent;
            if (o.request.isEmpty() && o.intervalMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(o.intervalMs));
        }
    }
    if (!g_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(o.lingerMs));
    if (!link.isEmpty())
        QFile::remove(link);
    ::close(slave);
    ::close(master);
    return status;
}
