// The start-up path against tspSim with a recording keyboard: Start, the records through update, Stop, and
// the failures that leave nothing running.
#include "AcquisitionFixture.h"

#include "worker/WeightWorker.h"

#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using tavlo::test::processEventsUntil;

using namespace tavlo::test;

namespace {

TEST_F(AcquisitionSim, RecordsAreLoggedCountedAndTyped) {
    Config c = settings();
    c.setDecimalSeparator(&H::DecimalSeparator::COMMA);
    ASSERT_TRUE(m_acquisition.start(c));
    EXPECT_TRUE(m_view.messages.isEmpty()) << m_view.messages.join('\n').toStdString();
    EXPECT_TRUE(m_acquisition.isRunning());
    feed(kPort, "G +12.5 kg\r\nno value\r\nN -3\r\n");
    ASSERT_TRUE(waitForEnters(2));
    EXPECT_EQ(typedCharacters(), "12,5|-3|");
    ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 3; }));
    EXPECT_EQ(m_view.logLines[1].last().style, "ignored");
    // The whole value group is marked, sign included, though the typed value is "12,5".
    EXPECT_EQ(m_view.logLines[0][2], (LogSpan{"+12.5", "typed"}));
    EXPECT_EQ(m_view.statuses.last(), tavloText("line.count") + "3");
    const QStringList events = m_view.events();
    EXPECT_TRUE(
        events.contains(tavloText("VudareDiVezFrame2.deviceLabel.text") + " " + H::Instrument::GENERIC.toString()));
}

TEST_F(AcquisitionSim, DuplicatesAreSuppressedBeforeTyping) {
    Config c = settings();
    c.ignoreDuplicates = true;
    ASSERT_TRUE(m_acquisition.start(c));
    feed(kPort, "7\n7\n8\n");
    ASSERT_TRUE(waitForEnters(2));
    ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 3; }));
    EXPECT_EQ(typedCharacters(), "7|8|");
    EXPECT_EQ(m_view.logLines[1].last().style, "ignored");
}

TEST_F(AcquisitionSim, CapsLockWarnsAndKeyboardFailureStillStarts) {
    m_capsLock = true;
    ASSERT_TRUE(m_acquisition.start(settings()));
    EXPECT_EQ(m_view.messages, QStringList({tavloText("warning") + "|" + tavloText("please.turn.off.caps.lock")}));
    m_acquisition.stop();
    ASSERT_TRUE(processEventsUntil([&] { return !m_view.connected.isEmpty() && !m_view.connected.last(); }));

    m_view.messages.clear();
    m_keyboardFails = true;
    ASSERT_TRUE(m_acquisition.start(settings()));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(
        m_view.messages[0].startsWith(tavloText("error") + "|" + tavloText("error.initializing.keyboard.output")));
    EXPECT_TRUE(m_view.messages[0].endsWith("no display"));
    EXPECT_EQ(m_acquisition.keybot(), nullptr);
    // The run goes on without typing, and the log does not claim otherwise.
    EXPECT_TRUE(m_acquisition.isRunning());
    const QString started = tavloText("keyboard.output.started.type");
    EXPECT_EQ(m_view.events().filter(started).size(), 1) << "only the first run's output started";
}

TEST_F(AcquisitionSim, AKeyboardThatIsRequiredButFailsStartsNothing) {
    m_keyboardFails = true;
    m_acquisition.setKeyboardRequired(true);
    EXPECT_FALSE(m_acquisition.start(settings()));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(m_view.messages[0].contains(tavloText("error.initializing.keyboard.output")));
    EXPECT_FALSE(m_acquisition.isRunning());
    EXPECT_EQ(tspSimIsOpen(kPort), 0) << "the port is never opened";
    EXPECT_TRUE(m_view.connected.isEmpty());
    EXPECT_TRUE(m_view.events().filter(tavloText("keyboard.output.started.type")).isEmpty());
}

TEST_F(AcquisitionSim, ValuesLeftFromThePreviousRunAreAnnouncedOnce) {
    tavlo::worker::Keybot::add("1");
    tavlo::worker::Keybot::add("2");
    ASSERT_TRUE(m_acquisition.start(settings()));
    ASSERT_TRUE(waitForEnters(2));
    const QString queued = tavlo::base::ResourceBundle::getBundle("tavlo.worker.WorkerBundle")
                               .format("keyboard.values.still.queued", {"2"});
    EXPECT_EQ(m_view.events().filter(queued).size(), 1) << m_view.events().join('\n').toStdString();
}

TEST_F(AcquisitionSim, APortThatCannotBeOpenedStartsNothing) {
    tspSimSetOpenResult(kPort, 1002);
    EXPECT_FALSE(m_acquisition.start(settings()));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(m_view.messages[0].startsWith(tavloText("error.opening.port") + "|"));
    EXPECT_FALSE(m_acquisition.isRunning());
    EXPECT_EQ(m_acquisition.keybot(), nullptr);
    EXPECT_EQ(tspSimIsOpen(kPort), 0);

    Config noPort = settings();
    noPort.setPort("");
    m_view.messages.clear();
    EXPECT_FALSE(m_acquisition.start(noPort));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(m_view.messages[0].startsWith(tavloText("invalid.setting") + "|"));
}

TEST_F(AcquisitionSim, RequestTextGoesOutThroughTheWorker) {
    ASSERT_TRUE(m_acquisition.start(settings(H::Instrument::MITUTOYO)));
    EXPECT_TRUE(m_acquisition.sendRequest());
    QByteArray written;
    ASSERT_TRUE(processEventsUntil([&] {
        uint8_t buffer[64];
        const int32_t n = tspSimTakeOutput(kPort, buffer, sizeof buffer);
        if (n > 0)
            written.append(reinterpret_cast<const char*>(buffer), n);
        return written.contains("1\r");
    }));
    m_acquisition.stop();
    EXPECT_FALSE(m_acquisition.sendRequest());

    ASSERT_TRUE(processEventsUntil([&] { return !m_view.connected.isEmpty() && !m_view.connected.last(); }));
    ASSERT_TRUE(m_acquisition.start(settings(H::Instrument::GENERIC)));
    EXPECT_FALSE(m_acquisition.sendRequest()); // no request text for this profile
}

} // namespace

// Stable values only, through the real worker: each profile's own unstable and overload records are logged as
// ignored and never typed, and they count neither for the duplicate filter nor for "every X values".
struct StableCase {
    const H::Instrument* instrument;
    QByteArray records; // stable 1, unstable 2, unstable or overloaded 3, stable 2 in the profile's format
    const char* thirdMark = " (unstable)\n";
};

void PrintTo(const StableCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1();
}

class StableOnlySim : public AcquisitionSim, public ::testing::WithParamInterface<StableCase> {};

TEST_P(StableOnlySim, UnstableRecordsAreLoggedButNotTyped) {
    Config c = settings(*GetParam().instrument);
    c.setInputTerminator(10);
    c.stableOnly = true;
    c.ignoreDuplicates = true;
    ASSERT_TRUE(m_acquisition.start(c));
    feed(kPort, GetParam().records);
    ASSERT_TRUE(waitForEnters(2));
    ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 4; }));
    // Had the unstable "2" counted for the duplicate filter, the stable "2" after it would not be typed.
    // (The recording keyboard goes with the keyboard thread at Stop, so read it first.)
    const QStringList typed = typedCharacters().split(u'|', Qt::SkipEmptyParts);
    m_acquisition.stop();
    ASSERT_EQ(typed.size(), 2);
    EXPECT_EQ(typed[0].toDouble(), 1.0);
    EXPECT_EQ(typed[1].toDouble(), 2.0);
    EXPECT_EQ(m_view.logLines[1].size(), 1);
    EXPECT_EQ(m_view.logLines[1][0].style, "ignored");
    EXPECT_TRUE(m_view.logLines[1][0].text.endsWith(" (unstable)\n"));
    EXPECT_TRUE(m_view.logLines[2][0].text.endsWith(GetParam().thirdMark)) << m_view.logLines[2][0].text.toStdString();
    EXPECT_EQ(m_view.statuses.last(), tavloText("line.count") + "4");
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, StableOnlySim,
    ::testing::Values(StableCase{&H::Instrument::AND,
                                 "ST,+00001.00  g\r\nUS,+00002.00  g\r\nOL,+9999999E+19\r\n"
                                 "ST,+00002.00  g\r\n",
                                 " (overload)\n"},
                      StableCase{&H::Instrument::METTLER_PRINT,
                                 "S S       1.00 g\r\nS D       2.00 g\r\nS +\r\n"
                                 "S S       2.00 g\r\n",
                                 " (overload)\n"},
                      StableCase{&H::Instrument::KERN_572,
                                 "     1.000 g\n     2.000 g ?\n     1.2 g ?\n     2.000 g\n"},
                      StableCase{&H::Instrument::OHAUS, "      1.00 g\r\n      2.00 g ?\r\n      9.99 g ?\r\n"
                                                        "      2.00 g\r\n"},
                      StableCase{&H::Instrument::SARTORIUS, "N     +      1.00 g  \r\nN     +      2.00    \r\n"
                                                            "N     +      5.00    \r\nN     +      2.00 g  \r\n"}));

TEST_F(AcquisitionSim, WithStableOnlyOffOrWithoutARuleEveryRecordIsTyped) {
    Config c = settings(H::Instrument::AND);
    ASSERT_TRUE(m_acquisition.start(c));
    feed(kPort, "US,+00001.00  g\r\nST,+00002.00  g\r\n");
    ASSERT_TRUE(waitForEnters(2));
    ASSERT_TRUE(processEventsUntil([&] { return typedValues().size() == 2; }));
    m_acquisition.stop();
    ASSERT_TRUE(processEventsUntil([&] { return !m_view.connected.isEmpty() && !m_view.connected.last(); }));

    // GENERIC has no rule: a stored true changes nothing.
    Config generic = settings();
    generic.stableOnly = true;
    ASSERT_TRUE(m_acquisition.start(generic));
    feed(kPort, "3 g ?\n4\n");
    ASSERT_TRUE(waitForEnters(2)); // a new keyboard device for the new run
    EXPECT_EQ(typedValues().size(), 4);
}

TEST_F(AcquisitionSim, TheDataLogHasOneLinePerRecordWithWhatBecameOfIt) {
    QTemporaryDir dir;
    const QString file = dir.filePath("readings.csv");
    Config c = settings(H::Instrument::AND);
    c.stableOnly = true;
    c.ignoreDuplicates = true;
    c.setDataLogFile(file);
    ASSERT_TRUE(m_acquisition.start(c));
    feed(kPort, "ST,+00001.00  g\r\nST,+00001.00  g\r\nUS,+00002.00  g\r\nno value\r\nST,+00003.00  g\r\n");
    ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 5; }));
    m_acquisition.stop(); // writes what is queued before it returns
    QFile csv(file);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    const QString prefix = QStringLiteral(",%1,AND,").arg(kPort);
    const QStringList expected = {"\"ST,+00001.00  g<13><10>\",1.00,queued",
                                  "\"ST,+00001.00  g<13><10>\",1.00,duplicate",
                                  "\"US,+00002.00  g<13><10>\",2.00,unstable", "no value<13><10>,,no-value",
                                  "\"ST,+00003.00  g<13><10>\",3.00,queued"};
    for (int i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(lines[i + 1].endsWith(prefix + expected[i])) << lines[i + 1].toStdString();
    }
    EXPECT_TRUE(m_view.events().contains("Data log: " + file));
}

// A network instrument on the loopback address: the test plays the instrument's side.
class TcpInstrument {
public:
    TcpInstrument() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 4);
        socklen_t size = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &size);
        m_port = ntohs(a.sin_port);
    }
    ~TcpInstrument() {
        dropClient();
        ::close(m_listen);
    }
    QString address() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port); }
    // Waits (with the event loop running) for the program to connect.
    bool acceptClient() {
        return processEventsUntil([&] {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0)
                return false;
            m_client = ::accept(m_listen, nullptr, nullptr);
            return m_client >= 0;
        });
    }
    void send(const QByteArray& bytes) { ::send(m_client, bytes.constData(), bytes.size(), MSG_NOSIGNAL); }
    QByteArray received() {
        char buffer[256];
        const ssize_t n = ::recv(m_client, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? QByteArray(buffer, n) : QByteArray();
    }
    void dropClient() {
        if (m_client >= 0)
            ::close(m_client);
        m_client = -1;
    }

private:
    int m_listen = -1;
    int m_client = -1;
    int m_port = 0;
};

TEST_F(AcquisitionSim, ANetworkInstrumentIsReadTypedAndReconnectedAfterADrop) {
    TcpInstrument instrument;
    Config c = settings(H::Instrument::AND); // the handshake worker's line test does not apply to a socket
    c.setPort(instrument.address());
    ASSERT_TRUE(m_acquisition.start(c));
    EXPECT_TRUE(m_view.messages.isEmpty()) << m_view.messages.join('\n').toStdString();
    ASSERT_TRUE(instrument.acceptClient());
    instrument.send("ST,+00001.50  g\r\nST,+00002.50  g\r\n");
    ASSERT_TRUE(waitForEnters(2));

    instrument.dropClient();
    const QString lost = tavlo::worker::WeightWorker::resourceBundle()
                             .format("port.lost", {instrument.address(), "%"})
                             .section('%', 0, 0);
    ASSERT_TRUE(processEventsUntil([&] { return m_view.events().filter(lost).size() == 1; }));
    ASSERT_TRUE(instrument.acceptClient());
    ASSERT_TRUE(processEventsUntil([&] {
        return m_view.events().contains(
            "! " + tavlo::worker::WeightWorker::resourceBundle().format("port.reopened", {instrument.address()}));
    }));
    instrument.send("ST,+00003.50  g\r\n");
    ASSERT_TRUE(waitForEnters(3));
    EXPECT_EQ(typedCharacters(), "1.50|2.50|3.50|");
    EXPECT_EQ(m_view.events().filter(lost).size(), 1); // logged once, however many attempts it took

    const QStringList events = m_view.events();
    EXPECT_TRUE(events.contains("Connected to " + instrument.address() + "."));
    EXPECT_TRUE(events.filter("RTS:").isEmpty());
    EXPECT_TRUE(events.filter("bit/s").isEmpty());
}

TEST_F(AcquisitionSim, TheRequestTextGoesToTheSocket) {
    TcpInstrument instrument;
    Config c = settings(H::Instrument::MITUTOYO);
    c.setPort(instrument.address());
    ASSERT_TRUE(m_acquisition.start(c));
    ASSERT_TRUE(instrument.acceptClient());
    EXPECT_TRUE(m_acquisition.sendRequest());
    QByteArray written;
    ASSERT_TRUE(processEventsUntil([&] {
        written += instrument.received();
        return written == "1\r";
    }));

    // A request made while the connection is down goes out once it is back.
    instrument.dropClient();
    ASSERT_TRUE(processEventsUntil([&] { return !m_view.events().filter("failed while reading").isEmpty(); }));
    EXPECT_TRUE(m_acquisition.sendRequest());
    ASSERT_TRUE(instrument.acceptClient());
    written.clear();
    ASSERT_TRUE(processEventsUntil([&] {
        written += instrument.received();
        return written == "1\r";
    }));
}

TEST_F(AcquisitionSim, ARefusedNetworkAddressIsAPortThatCannotBeOpened) {
    QString address;
    {
        TcpInstrument gone;
        address = gone.address();
    }
    Config c = settings();
    c.setPort(address);
    EXPECT_FALSE(m_acquisition.start(c));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_EQ(m_view.messages[0],
              tavloText("error.opening.port") + "|Cannot connect to " + address + ": Connection refused");
    EXPECT_FALSE(m_acquisition.isRunning());
    EXPECT_EQ(m_acquisition.keybot(), nullptr);
}
