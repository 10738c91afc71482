// The serial layer over the real native library (POSIX backend) and real pseudo-terminal pairs: the test holds
// the master side as the instrument, the port object opens the slave side by its device name.
#include "base/SystemProperties.h"
#include "native/tsp.h"
#include "serial/SerialIoError.h"
#include "serial/SerialPortLocal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using serial::SerialConfig;
using serial::SerialIoError;
using serial::SerialPortLocal;
using tavlo::base::SystemProperties;
using testing::HasSubstr;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);

class PtyPair {
public:
    PtyPair() {
        char name[256];
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        m_name = name;
    }
    ~PtyPair() {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& name() const { return m_name; }
    int slaveFd() const { return m_slave; }
    QString qname() const { return QString::fromStdString(m_name); }
    void closeMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    void write(const std::string& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ASSERT_GT(n, 0) << "write to the master side failed";
            done += static_cast<size_t>(n);
        }
    }

    // What the port sent, up to count bytes or until the deadline.
    std::string read(size_t count) const {
        std::string got;
        const auto deadline = Clock::now() + kDeadline;
        while (got.size() < count && Clock::now() < deadline) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_name;
};

std::string allByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    return bytes;
}

// Bytes from the port until count have come, a failure, or the deadline.
std::string readPort(SerialPortLocal& port, size_t count) {
    std::string got;
    const auto deadline = Clock::now() + kDeadline;
    while (got.size() < count && Clock::now() < deadline) {
        const int32_t b = port.getByte();
        if (b < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        else
            got.push_back(static_cast<char>(b));
    }
    return got;
}

QString ioFailure(const std::function<void()>& action) {
    try {
        action();
    } catch (const SerialIoError& e) {
        return e.message();
    }
    return QString();
}

class SerialPtyTest : public testing::Test {
protected:
    void SetUp() override {
        SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
        SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
        // Loaded by its base name, as the program does.
        SystemProperties::remove(QStringLiteral("TSP_LIBRARY_PATH"));
        SerialPortLocal::resetForTesting();
        ASSERT_TRUE(SerialPortLocal::isLibraryLoaded()) << SerialPortLocal::getLibraryFailure().toStdString();
    }
    void TearDown() override {
        SerialPortLocal::resetForTesting();
        SystemProperties::remove(QStringLiteral("TSP_OSNAME"));
        SystemProperties::remove(QStringLiteral("TSP_OSARCH"));
    }

    PtyPair m_pty;
};

struct Framing {
    int32_t bitRate;
    int32_t parity;
    int32_t stopBits;
};

class DataBothWays : public SerialPtyTest, public testing::WithParamInterface<Framing> {};

TEST_P(DataBothWays, EveryByteValueArrivesUnchanged) {
    SerialConfig config(m_pty.qname());
    config.setBitRate(GetParam().bitRate);
    config.setParity(GetParam().parity);
    config.setStopBits(GetParam().stopBits);
    SerialPortLocal port(config);
    ASSERT_EQ(port.getLibVer(), "tspWin 1.0.0");

    // Carriage return, line feed, EOT, XON/XOFF, ^C and 255 are data like any other byte.
    const std::string bytes = allByteValues();
    m_pty.write(bytes);
    EXPECT_EQ(readPort(port, bytes.size()), bytes);
    EXPECT_EQ(port.getByte(), -1);

    port.putData(QByteArray::fromStdString(bytes));
    EXPECT_EQ(m_pty.read(bytes.size()), bytes);
    port.putString(QStringLiteral("OK\r\n"));
    port.putByte(0);
    EXPECT_EQ(m_pty.read(5), std::string("OK\r\n\0", 5));
}

INSTANTIATE_TEST_SUITE_P(
    Rates, DataBothWays,
    testing::Values(Framing{SerialConfig::BR_110, SerialConfig::PY_NONE, SerialConfig::ST_1BITS},
                    Framing{SerialConfig::BR_9600, SerialConfig::PY_NONE, SerialConfig::ST_1BITS},
                    Framing{SerialConfig::BR_19200, SerialConfig::PY_EVEN, SerialConfig::ST_2BITS},
                    Framing{SerialConfig::BR_115200, SerialConfig::PY_MARK, SerialConfig::ST_1BITS},
                    Framing{SerialConfig::BR_921600, SerialConfig::PY_SPACE, SerialConfig::ST_1BITS},
                    Framing{57600, SerialConfig::PY_ODD, SerialConfig::ST_2BITS}));

TEST_F(SerialPtyTest, LargeBlocksArriveThroughGetData) {
    SerialPortLocal port(SerialConfig(m_pty.qname()));
    std::string sent;
    for (int i = 0; i < 20000; ++i)
        sent.push_back(static_cast<char>('A' + i % 26));
    std::thread writer([&] { m_pty.write(sent); });
    std::string got;
    QByteArray buffer(1000, '\0');
    const auto deadline = Clock::now() + kDeadline;
    while (got.size() < sent.size() && Clock::now() < deadline) {
        const int32_t n = port.getData(buffer);
        if (n == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        got.append(buffer.constData(), static_cast<size_t>(n));
    }
    writer.join();
    EXPECT_EQ(got, sent);
}

TEST_F(SerialPtyTest, RxFlushDiscardsWhatArrivedBefore) {
    SerialPortLocal port(SerialConfig(m_pty.qname()));
    m_pty.write("old data");
    const auto deadline = Clock::now() + kDeadline;
    while (port.rxReadyCount() < 8 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(port.rxReadyCount(), 8);
    // One byte read fills the library's buffer with the rest; the flush must empty that as well.
    EXPECT_EQ(port.getByte(), 'o');
    EXPECT_EQ(port.rxReadyCount(), 7);
    port.rxFlush();
    EXPECT_EQ(port.rxReadyCount(), 0);
    EXPECT_EQ(port.getByte(), -1);
    m_pty.write("new");
    EXPECT_EQ(readPort(port, 3), "new");
}

TEST_F(SerialPtyTest, PortIsOpenedExclusively) {
    {
        SerialPortLocal port(SerialConfig(m_pty.qname()));
        std::unique_ptr<SerialPortLocal> second;
        EXPECT_EQ(ioFailure([&] { second = std::make_unique<SerialPortLocal>(SerialConfig(m_pty.qname())); }),
                  m_pty.qname() + ": SerOpenPort failed: Port is already open");

        // Another program asking for the port while it is open is refused, even as root.
        const int other = ::open(m_pty.name().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (other >= 0) {
            EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
            EXPECT_EQ(errno, EWOULDBLOCK);
            ::close(other);
        } else {
            EXPECT_EQ(errno, EBUSY);
        }
    }
    // Another program holding it first: "in use".
    const int holder = ::open(m_pty.name().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0) << "the port must be free again after close";
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    std::unique_ptr<SerialPortLocal> port;
    EXPECT_EQ(ioFailure([&] { port = std::make_unique<SerialPortLocal>(SerialConfig(m_pty.qname())); }),
              m_pty.qname() + ": SerOpenPort failed: Port is in use");
    ::close(holder);
    port = std::make_unique<SerialPortLocal>(SerialConfig(m_pty.qname()));
    EXPECT_TRUE(port->isOpen());
}

// Another process that set the terminal's exclusive flag (without flock) keeps the port, even from root, and
// keeps its flag after our attempt and after our own open and close of a free port.
TEST_F(SerialPtyTest, AnExclusiveHolderKeepsThePortAndItsFlagFromRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: only root can open a terminal whose exclusive flag another process set";
    int toHolder[2], fromHolder[2];
    ASSERT_EQ(::pipe(toHolder), 0);
    ASSERT_EQ(::pipe(fromHolder), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(toHolder[1]);
        ::close(fromHolder[0]);
        const int fd = ::open(m_pty.name().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char ok = fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(fromHolder[1], &ok, 1);
        char go;
        n = ::read(toHolder[0], &go, 1); // until the test has tried
        int exclusive = 0;
        const bool still = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive;
        ::_exit(still ? 0 : 3);
    }
    ::close(toHolder[0]);
    ::close(fromHolder[1]);
    char ready = 0;
    ASSERT_EQ(::read(fromHolder[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');

    std::unique_ptr<SerialPortLocal> port;
    EXPECT_EQ(ioFailure([&] { port = std::make_unique<SerialPortLocal>(SerialConfig(m_pty.qname())); }),
              m_pty.qname() + ": SerOpenPort failed: Device busy");
    EXPECT_EQ(port, nullptr);
    port.reset(); // closed before the holder looks
    // Nothing of the holder's terminal was touched: the flag is still set.
    const char go = 'g';
    ASSERT_EQ(::write(toHolder[1], &go, 1), 1);
    int status = -1;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the holder lost its exclusive flag";
    ::close(toHolder[1]);
    ::close(fromHolder[0]);
}

// The flag our open sets goes at our close; a flag set before by the owner of a terminal we were given stays.
TEST_F(SerialPtyTest, CloseClearsOnlyTheExclusiveFlagItSet) {
    int exclusive = -1;
    {
        SerialPortLocal port(SerialConfig(m_pty.qname()));
        ASSERT_EQ(::ioctl(m_pty.slaveFd(), TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
    }
    ASSERT_EQ(::ioctl(m_pty.slaveFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

TEST_F(SerialPtyTest, FarEndClosingFailsAPendingRead) {
    SerialPortLocal port(SerialConfig(m_pty.qname()));
    // A long receive timeout: the read waits in the library until the far end goes.
    port.setTimeoutRx(60000);
    std::atomic<bool> started{false};
    QString failure;
    int32_t result = 0;
    std::thread reader([&] {
        started = true;
        try {
            result = port.getByte();
        } catch (const SerialIoError& e) {
            failure = e.message();
        }
    });
    while (!started)
        std::this_thread::yield();
    m_pty.closeMaster();
    reader.join();
    EXPECT_EQ(failure, "getByte failed") << "read returned " << result;
    // And it stays a failure, never an idle line.
    EXPECT_EQ(ioFailure([&] { port.getByte(); }), "getByte failed");
}

TEST_F(SerialPtyTest, FarEndClosingFailsAPollingReader) {
    SerialPortLocal port(SerialConfig(m_pty.qname()));
    m_pty.write("x");
    EXPECT_EQ(readPort(port, 1), "x");
    m_pty.closeMaster();
    QString failure;
    const auto deadline = Clock::now() + kDeadline;
    while (failure.isEmpty() && Clock::now() < deadline) {
        failure = ioFailure([&] { EXPECT_EQ(port.getByte(), -1); });
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(failure, "getByte failed");
}

TEST_F(SerialPtyTest, CloseWhileTheReaderIsStillReading) {
    for (int round = 0; round < 20; ++round) {
        auto port = std::make_unique<SerialPortLocal>(SerialConfig(m_pty.qname()));
        std::atomic<bool> reading{false};
        QString failure;
        std::thread reader([&] {
            try {
                for (;;) {
                    port->getByte();
                    reading = true;
                }
            } catch (const SerialIoError& e) {
                failure = e.message();
            }
        });
        m_pty.write("abc");
        while (!reading)
            std::this_thread::yield();
        port->close();
        reader.join();
        EXPECT_EQ(failure, "getByte failed");
    }
}

TEST_F(SerialPtyTest, CloseDoesNotWaitForAReceiveTimeout) {
    auto port = std::make_unique<SerialPortLocal>(SerialConfig(m_pty.qname()));
    // Ten minutes: a close that waited for the read to time out would hold this test that long.
    port->setTimeoutRx(600000);
    std::atomic<bool> started{false};
    int32_t result = 0;
    std::thread reader([&] {
        started = true;
        try {
            result = port->getByte();
        } catch (const SerialIoError&) {
            // The close came before the read began: the closed handle fails.
            result = TSP_READ_FAILED;
        }
    });
    while (!started)
        std::this_thread::yield();
    // Give the reader the moment it needs to be waiting inside the library.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port->close();
    reader.join();
    EXPECT_TRUE(result == -1 || result == TSP_READ_FAILED) << result;
    EXPECT_EQ(ioFailure([&] { port->getByte(); }), "getByte failed");
}

// A read that waits an hour in the library, on a thread of its own; the byte, -1 or TSP_READ_FAILED.
std::future<int32_t> waitingRead(SerialPortLocal& port) {
    port.setTimeoutRx(3600000);
    return std::async(std::launch::async, [&port] {
        try {
            return port.getByte();
        } catch (const SerialIoError&) {
            return static_cast<int32_t>(TSP_READ_FAILED);
        }
    });
}

TEST_F(SerialPtyTest, AByteWakesAReadWaitingInTheLibrary) {
    SerialPortLocal port(SerialConfig(m_pty.qname()));
    for (const char byte : std::string("a\n\0", 3)) {
        std::future<int32_t> read = waitingRead(port);
        m_pty.write(std::string(1, byte));
        ASSERT_EQ(read.wait_for(kDeadline), std::future_status::ready) << "the read waited for its timeout";
        EXPECT_EQ(read.get(), static_cast<uint8_t>(byte));
    }
}

TEST_F(SerialPtyTest, AWriteGoesOutWhileAReadWaits) {
    SerialPortLocal port(SerialConfig(m_pty.qname()));
    std::future<int32_t> read = waitingRead(port);
    // Whether or not the read has begun to wait yet, the write must neither wait for it nor end it.
    port.putData(QByteArrayLiteral("Q\r\n"));
    EXPECT_EQ(m_pty.read(3), "Q\r\n");
    EXPECT_EQ(read.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    m_pty.write("7");
    ASSERT_EQ(read.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(read.get(), '7');
}

TEST_F(SerialPtyTest, DeviceWithoutModemLinesOrCounters) {
    SerialPortLocal port(SerialConfig(m_pty.qname()));
    port.setDTR(true);
    port.setRTS(false);
    EXPECT_FALSE(port.sigCTS());
    EXPECT_FALSE(port.sigDSR());
    EXPECT_FALSE(port.sigCD());
    EXPECT_FALSE(port.sigRing());
    // No error counters: the conditions read as never seen, not as failures.
    EXPECT_FALSE(port.sigFrameErr());
    EXPECT_FALSE(port.sigOverrun());
    EXPECT_FALSE(port.sigParityErr());
    EXPECT_FALSE(port.sigBreak());
    EXPECT_FALSE(port.rxOverflow());
    EXPECT_GE(port.txBufCount(), 0);
    port.txDrain();
    port.txFlush();
    port.sendBreak(1);
}

struct Refused {
    const char* label;
    const char* osName;
    std::function<void(SerialConfig&)> set;
};

class SettingsTermiosLacks : public SerialPtyTest, public testing::WithParamInterface<Refused> {};

TEST_P(SettingsTermiosLacks, AreRefusedAtConfigure) {
    const std::optional<QString> machine = SystemProperties::get(QStringLiteral("os.name"));
    SystemProperties::set(QStringLiteral("os.name"), QString::fromUtf8(GetParam().osName));
    SerialConfig config(m_pty.qname());
    SystemProperties::set(QStringLiteral("os.name"), machine.value_or(QString()));
    GetParam().set(config);
    std::unique_ptr<SerialPortLocal> port;
    EXPECT_EQ(ioFailure([&] { port = std::make_unique<SerialPortLocal>(config); }), "Configure failed: 1009");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsTermiosLacks,
    testing::Values(Refused{"dsrDtr", "Windows 7", [](SerialConfig& c) { c.setHandshake(SerialConfig::HS_DSRDTR); }},
                    Refused{
                        "split", "Linux",
                        [](SerialConfig& c) { c.setHandshake(SerialConfig::HS_HARD_IN | SerialConfig::HS_HARD_OUT); }},
                    Refused{"rateBetween", "Linux", [](SerialConfig& c) { c.setBitRate(20); }},
                    Refused{"oddRate", "Linux", [](SerialConfig& c) { c.setBitRate(1000); }}),
    [](const testing::TestParamInfo<Refused>& info) { return std::string(info.param.label); });

TEST_F(SerialPtyTest, HandshakesTermiosHasAreAccepted) {
    for (int32_t handshake : {SerialConfig::HS_NONE, SerialConfig::HS_XONXOFF, SerialConfig::HS_CTSRTS}) {
        SerialConfig config(m_pty.qname());
        config.setHandshake(handshake);
        config.setDataBits(SerialConfig::LN_7BITS);
        SerialPortLocal port(config);
        EXPECT_TRUE(port.isOpen()) << handshake;
    }
}

TEST_F(SerialPtyTest, OpenFailuresOfTheSystem) {
    std::unique_ptr<SerialPortLocal> port;
    EXPECT_EQ(
        ioFailure([&] { port = std::make_unique<SerialPortLocal>(SerialConfig(QStringLiteral("/dev/tavlo-none"))); }),
        "/dev/tavlo-none: SerOpenPort failed: 2: No such device");
    EXPECT_EQ(ioFailure([&] { port = std::make_unique<SerialPortLocal>(SerialConfig(QStringLiteral("/dev/null"))); }),
              "/dev/null: SerOpenPort failed: Port not valid");
    EXPECT_EQ(ioFailure([&] { port = std::make_unique<SerialPortLocal>(SerialConfig(QString())); }),
              ": SerOpenPort failed: Port not valid");
}

TEST_F(SerialPtyTest, ListingGivesDriverInformationForEveryPort) {
    const QStringList ports = SerialPortLocal::getPortList();
    const QList<serial::PortDriverInfo> infos =
        ports.isEmpty() ? QList<serial::PortDriverInfo>() : SerialPortLocal::getDriverInfoList();
    EXPECT_EQ(infos.size(), ports.size());
    for (const serial::PortDriverInfo& info : infos)
        EXPECT_TRUE(ports.contains(info.getPortName())) << info.getPortName().toStdString();
}

} // namespace
