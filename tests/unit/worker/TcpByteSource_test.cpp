#include "worker/TcpByteSource.h"

#include "serial/SerialIoError.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using tavlo::worker::TcpByteSource;
using tavlo::worker::WakePipe;

namespace {

struct AddressCase {
    const char* name;
    const char* host; // nullptr: not an address
    const char* port;
};

class ParseAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ParseAddressTest, TakesHostAndPortApart) {
    const AddressCase& c = GetParam();
    QString error;
    const auto address = TcpByteSource::parseAddress(QString::fromLatin1(c.name), &error);
    if (!c.host) {
        EXPECT_FALSE(address) << address->host.toStdString();
        EXPECT_FALSE(error.isEmpty());
        return;
    }
    ASSERT_TRUE(address) << error.toStdString();
    EXPECT_EQ(address->host, QString::fromLatin1(c.host));
    EXPECT_EQ(address->port, QString::fromLatin1(c.port));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ParseAddressTest,
    ::testing::Values(AddressCase{"tcp://192.168.1.20:4001", "192.168.1.20", "4001"},
                      AddressCase{"TCP://scale-3.lab.example:23", "scale-3.lab.example", "23"},
                      AddressCase{"tcp://[fe80::1]:10001", "fe80::1", "10001"},
                      AddressCase{"tcp://[::1]:1", "::1", "1"}, AddressCase{"tcp://::1:4001", nullptr, nullptr},
                      AddressCase{"tcp://host", nullptr, nullptr}, AddressCase{"tcp://:4001", nullptr, nullptr},
                      AddressCase{"tcp://host:0", nullptr, nullptr}, AddressCase{"tcp://host:65536", nullptr, nullptr},
                      AddressCase{"tcp://host:80x", nullptr, nullptr}, AddressCase{"tcp://[::1]4001", nullptr, nullptr},
                      AddressCase{"/dev/ttyUSB0", nullptr, nullptr}, AddressCase{"COM3", nullptr, nullptr}));

// A listening socket on the loopback address; accept() gives the instrument's side of a connection.
class Listener {
public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 4);
        socklen_t size = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &size);
        m_port = ntohs(a.sin_port);
    }
    ~Listener() { closeListening(); }
    QString address() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port); }
    int accept() { return ::accept(m_fd, nullptr, nullptr); }
    void closeListening() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

QByteArray readAll(TcpByteSource& source, qsizetype count) {
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.size() < count && clock.elapsed() < 10000) {
        const int byte = source.getByte();
        if (byte >= 0)
            out.append(static_cast<char>(byte));
        else
            source.waitForBytes(250);
    }
    return out;
}

TEST(TcpByteSource, ReadsWhatTheInstrumentSendsAndSendsItsRequests) {
    Listener listener;
    auto wake = std::make_shared<WakePipe>();
    TcpByteSource source(listener.address(), wake, 3000);
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);
    EXPECT_EQ(source.getByte(), -1);
    const QByteArray records("ST,+00012.34  g\r\n\x00\xff", 19);
    ASSERT_EQ(::send(peer, records.constData(), records.size(), 0), records.size());
    EXPECT_EQ(readAll(source, records.size()), records);

    source.putData("Q\r\n");
    char buffer[8] = {};
    ASSERT_EQ(::recv(peer, buffer, sizeof buffer, 0), 3);
    EXPECT_EQ(QByteArray(buffer, 3), "Q\r\n");
    ::close(peer);
}

TEST(TcpByteSource, AClosedConnectionIsALossNotAnEmptyRead) {
    Listener listener;
    TcpByteSource source(listener.address(), std::make_shared<WakePipe>(), 3000);
    const int peer = listener.accept();
    ::send(peer, "1\r", 2, 0);
    ::close(peer);
    EXPECT_EQ(readAll(source, 2), "1\r");
    source.waitForBytes(5000); // the end of the stream wakes the wait as well
    EXPECT_THROW(
        {
            for (int i = 0; i < 100; ++i)
                if (source.getByte() < 0)
                    source.waitForBytes(100);
        },
        serial::SerialIoError);
}

TEST(TcpByteSource, WakeEndsAWaitFromAnotherThread) {
    Listener listener;
    auto wake = std::make_shared<WakePipe>();
    TcpByteSource source(listener.address(), wake, 3000);
    const int peer = listener.accept();
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wake->signal();
    });
    source.waitForBytes(-1); // without end: only the wake-up ends it
    waker.join();
    // A wake-up that came while nobody waited ends the next wait at once as well.
    wake->signal();
    source.waitForBytes(-1);
    ::close(peer);
}

TEST(TcpByteSource, ARefusedConnectionGivesTheSystemsReason) {
    QString address;
    {
        Listener closed;
        address = closed.address();
    }
    try {
        TcpByteSource source(address, nullptr, 3000);
        FAIL() << "connected";
    } catch (const serial::SerialIoError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Cannot connect to %1: Connection refused").arg(address));
    }
}

TEST(TcpByteSource, AHostThatDoesNotResolveIsReportedWithTheResolversReason) {
    try {
        TcpByteSource source("tcp://no-such-host.invalid:4001", nullptr, 3000);
        FAIL() << "connected";
    } catch (const serial::SerialIoError& e) {
        EXPECT_TRUE(e.message().startsWith("Cannot connect to tcp://no-such-host.invalid:4001: "))
            << e.message().toStdString();
        EXPECT_GT(e.message().size(), QString("Cannot connect to tcp://no-such-host.invalid:4001: ").size());
    }
}

} // namespace
