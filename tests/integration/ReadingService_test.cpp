// The reading service in the test program, with real WebSocket and HTTP clients on the loopback: every
// reading reaches every client in order, refusals come with their status and are logged once, a client that
// stops reading is cut without holding up the others, and Stop closes every connection.
#include "../fakes/QtTestApp.h"
#include "ServiceClients.h"

#include "base/Exceptions.h"
#include "output/ReadingJson.h"
#include "output/ReadingService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTcpServer>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <memory>

using namespace tavlo::test;
using tavlo::config::InstrumentCommand;
using tavlo::output::ReadingService;
using tavlo::worker::CommandDone;
using tavlo::worker::Outcome;
using tavlo::worker::Reading;
using tavlo::worker::StatusEvent;

namespace {

const QString kToken = QStringLiteral("0123456789abcdef0123456789abcdef");
const QByteArray kListed = "https://erp.example.com";

std::shared_ptr<const Reading> reading(qint64 seq) {
    auto r = std::make_shared<Reading>();
    r->run = "run-1";
    r->seq = seq;
    r->time = std::chrono::time_point_cast<std::chrono::nanoseconds>(
        std::chrono::sys_days{} + std::chrono::hours(24 * 20000) + std::chrono::milliseconds(seq));
    r->station = "bench";
    r->port = "/dev/ttyUSB0";
    r->instrument = "AND";
    r->raw = QStringLiteral("ST,+%1.00  g\r\n").arg(seq, 5, 10, QChar(u'0'));
    r->value = QString::number(seq) + ".00";
    r->typed = true;
    r->unit = "g";
    r->stable = true;
    r->outcome = Outcome::Queued;
    return r;
}

// A WebSocket client on the test's thread that keeps what it receives.
struct Client {
    explicit Client(int port, const QString& query = {}, const QString& origin = {}) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& m) { messages.append(m); });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/readings%2").arg(port).arg(query)));
        if (!origin.isEmpty())
            request.setRawHeader("Origin", origin.toUtf8());
        socket.open(request);
    }
    bool waitConnected() {
        return processEventsUntil([&] { return socket.state() == QAbstractSocket::ConnectedState || closed; }) &&
               !closed;
    }
    QList<QJsonObject> objects() const {
        QList<QJsonObject> out;
        for (const QString& m : messages)
            out.append(QJsonDocument::fromJson(m.toUtf8()).object());
        return out;
    }
    QWebSocket socket;
    QStringList messages;
    bool closed = false;
};

class ReadingServiceTest : public ::testing::Test {
protected:
    void SetUp() override { start(); }
    void TearDown() override {
        if (m_service)
            m_service->close();
    }
    void start(int port = 0) {
        ReadingService::Settings settings;
        settings.port = port;
        settings.origins = {kListed, "http://localhost:8000"};
        settings.token = kToken;
        m_service = std::make_unique<ReadingService>(
            settings,
            [this](InstrumentCommand command, CommandDone done) {
                // As the run's sink does: the command is carried out on the GUI thread (here: the test's).
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [this, command, done] {
                        m_commands.append(command);
                        if (m_holdCommands) {
                            m_held.append(done);
                            return;
                        }
                        const bool ok = command != InstrumentCommand::Zero;
                        done(ok, ok ? QString() : QStringLiteral("The instrument AND has no zero command."));
                    },
                    Qt::QueuedConnection);
            },
            [this](const QString& text) {
                QMutexLocker lock(&m_logMutex);
                m_important.append(text);
            },
            [](const QString&) {});
        m_port = m_service->port();
    }
    QStringList important() {
        QMutexLocker lock(&m_logMutex);
        return m_important;
    }
    HttpReply get(const QByteArray& line, const QByteArray& extra = {}) {
        return httpRequest(m_port, requestHead(line, m_port, extra));
    }
    HttpReply post(const QByteArray& body, const QByteArray& extra) {
        return httpRequest(m_port, requestHead("POST /command HTTP/1.1", m_port,
                                               extra + "Content-Length: " + QByteArray::number(body.size()) + "\r\n") +
                                       body);
    }

    std::unique_ptr<ReadingService> m_service;
    int m_port = 0;
    QMutex m_logMutex;
    QStringList m_important;
    QList<InstrumentCommand> m_commands;
    bool m_holdCommands = false;
    QList<CommandDone> m_held;
};

TEST_F(ReadingServiceTest, TenClientsEachReceiveEveryReadingAndStatusEventInOrder) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 10; ++i)
        clients.push_back(std::make_unique<Client>(m_port));
    for (auto& c : clients)
        ASSERT_TRUE(c->waitConnected());
    m_service->deliverStatus(StatusEvent{"run-1", tavlo::worker::instantNow(), StatusEvent::Kind::PortOpened, "open"});
    for (int seq = 1; seq <= 500; ++seq)
        m_service->deliver(reading(seq));
    ASSERT_TRUE(processEventsUntil([&] {
        for (auto& c : clients)
            if (c->messages.size() < 501)
                return false;
        return true;
    }));
    for (auto& c : clients) {
        const QList<QJsonObject> got = c->objects();
        ASSERT_EQ(got.size(), 501);
        EXPECT_EQ(got[0]["type"].toString(), "status");
        EXPECT_EQ(got[0]["event"].toString(), "port-opened");
        for (int seq = 1; seq <= 500; ++seq)
            ASSERT_EQ(got[seq]["seq"].toInteger(), seq);
        // Each message is the one JSON form of its reading, unchanged.
        EXPECT_EQ(c->messages[250].toUtf8(), tavlo::output::readingJson(*reading(250)));
        EXPECT_EQ(got.last()["raw"].toString(), "ST,+00500.00  g<13><10>");
    }
}

TEST_F(ReadingServiceTest, MessagesOfEveryFrameLengthArriveWhole) {
    Client client(m_port);
    ASSERT_TRUE(client.waitConnected());
    // Around the three length forms of a frame: 7 bits, 16 bits and 64 bits.
    const QList<int> sizes{1, 40, 60, 100, 65000, 70000, 200000};
    for (int i = 0; i < sizes.size(); ++i) {
        auto r = std::make_shared<Reading>(*reading(i + 1));
        r->raw = QString(sizes[i], u'x');
        m_service->deliver(r);
    }
    ASSERT_TRUE(processEventsUntil([&] { return client.messages.size() >= sizes.size(); }));
    for (int i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(client.objects()[i]["raw"].toString().size(), sizes[i]);
}

TEST_F(ReadingServiceTest, GetReadingAnswersTheLastReadingAndNoContentBeforeTheFirst) {
    const HttpReply before = get("GET /reading HTTP/1.1");
    EXPECT_EQ(before.status, 204);
    EXPECT_TRUE(before.body.isEmpty());
    const auto last = reading(7);
    m_service->deliver(reading(6));
    m_service->deliver(last);
    m_service->deliverStatus(StatusEvent{"run-1", tavlo::worker::instantNow(), StatusEvent::Kind::Lost, "lost"});
    HttpReply after;
    ASSERT_TRUE(processEventsUntil([&] {
        after = get("GET /reading HTTP/1.1");
        return after.status == 200;
    }));
    EXPECT_EQ(after.body.trimmed(), tavlo::output::readingJson(*last)) << "a status event is not a reading";
    EXPECT_EQ(after.headers.value("content-type"), "application/json");
    EXPECT_FALSE(after.headers.contains("access-control-allow-origin")) << "no Origin, no CORS answer";
}

struct RefusalCase {
    const char* name;
    QByteArray request; // "%PORT%" becomes the service's port
    int status;
    bool corsAnswered;
};

class ReadingServiceRefusal : public ReadingServiceTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ReadingServiceRefusal, IsAnsweredWithItsStatus) {
    QByteArray request = GetParam().request;
    request.replace("%PORT%", QByteArray::number(m_port));
    request.replace("%TOKEN%", kToken.toLatin1());
    const HttpReply reply = httpRequest(m_port, request);
    EXPECT_EQ(reply.status, GetParam().status) << reply.body.toStdString();
    EXPECT_EQ(reply.headers.contains("access-control-allow-origin"), GetParam().corsAnswered);
    if (GetParam().status >= 400) {
        EXPECT_FALSE(QJsonDocument::fromJson(reply.body).object()["error"].toString().isEmpty()) << "the reason";
    }
    EXPECT_TRUE(m_commands.isEmpty()) << "nothing was carried out";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ReadingServiceRefusal,
    ::testing::Values(
        RefusalCase{"ForgedHost", "GET /reading HTTP/1.1\r\nHost: evil.example:%PORT%\r\n\r\n", 403, false},
        RefusalCase{"RebindingHostWithListedOrigin",
                    "GET /reading HTTP/1.1\r\nHost: evil.example:%PORT%\r\nOrigin: https://erp.example.com\r\n\r\n",
                    403, false},
        RefusalCase{"WrongPortInHost", "GET /reading HTTP/1.1\r\nHost: localhost:1\r\n\r\n", 403, false},
        RefusalCase{"NoHostInHttp10", "GET /reading HTTP/1.0\r\n\r\n", 403, false},
        RefusalCase{"UnlistedOrigin",
                    "GET /reading HTTP/1.1\r\nHost: localhost:%PORT%\r\nOrigin: https://evil.example\r\n\r\n", 403,
                    false},
        RefusalCase{"UnlistedOriginPreflight",
                    "OPTIONS /command HTTP/1.1\r\nHost: localhost:%PORT%\r\nOrigin: https://evil.example\r\n"
                    "Access-Control-Request-Method: POST\r\n\r\n",
                    403, false},
        RefusalCase{"UnlistedOriginWebSocket",
                    "GET /readings HTTP/1.1\r\nHost: localhost:%PORT%\r\nOrigin: https://evil.example\r\n"
                    "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                    "Sec-WebSocket-Version: 13\r\n\r\n",
                    403, false},
        RefusalCase{"WebSocketWithWrongToken",
                    "GET /readings?token=wrong-token-0123456789 HTTP/1.1\r\nHost: localhost:%PORT%\r\n"
                    "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                    "Sec-WebSocket-Version: 13\r\n\r\n",
                    401, false},
        RefusalCase{"CommandWithoutToken",
                    "POST /command HTTP/1.1\r\nHost: localhost:%PORT%\r\nContent-Length: 17\r\n\r\n"
                    "{\"command\":\"tare\"}",
                    401, false},
        RefusalCase{"CommandWithWrongToken",
                    "POST /command HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nAuthorization: Bearer %TOKEN%x\r\n"
                    "Content-Length: 18\r\n\r\n{\"command\":\"tare\"}",
                    401, false},
        RefusalCase{"CommandFromListedPageWithWrongToken",
                    "POST /command HTTP/1.1\r\nHost: [::1]:%PORT%\r\nOrigin: https://erp.example.com\r\n"
                    "Authorization: Bearer nope\r\nContent-Length: 18\r\n\r\n{\"command\":\"tare\"}",
                    401, true},
        RefusalCase{"CommandFromUnlistedPageWithToken",
                    "POST /command HTTP/1.1\r\nHost: localhost:%PORT%\r\nOrigin: https://evil.example\r\n"
                    "Authorization: Bearer %TOKEN%\r\nContent-Length: 18\r\n\r\n{\"command\":\"tare\"}",
                    403, false},
        RefusalCase{"CommandThatIsNoJson",
                    "POST /command HTTP/1.1\r\nHost: localhost:%PORT%\r\nAuthorization: Bearer %TOKEN%\r\n"
                    "Content-Length: 4\r\n\r\ntare",
                    400, false},
        RefusalCase{"UnknownCommand",
                    "POST /command HTTP/1.1\r\nHost: localhost:%PORT%\r\nAuthorization: Bearer %TOKEN%\r\n"
                    "Content-Length: 20\r\n\r\n{\"command\":\"reboot\"}",
                    400, false},
        RefusalCase{"BodyTooLarge",
                    "POST /command HTTP/1.1\r\nHost: localhost:%PORT%\r\nContent-Length: 100000\r\n\r\n", 413, false},
        RefusalCase{"GetCommand", "GET /command HTTP/1.1\r\nHost: localhost:%PORT%\r\n\r\n", 405, false},
        RefusalCase{"PlainGetOfTheWebSocket", "GET /readings HTTP/1.1\r\nHost: localhost:%PORT%\r\n\r\n", 426, false},
        RefusalCase{"UnknownPath", "GET /admin HTTP/1.1\r\nHost: localhost:%PORT%\r\n\r\n", 404, false},
        RefusalCase{"Malformed", "GET /reading HTTP/1.1\nHost: localhost:%PORT%\n\n\r\n\r\n", 400, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadingServiceTest, AListedPageGetsCorsAnswersAndItsPreflightsPass) {
    m_service->deliver(reading(1));
    HttpReply reply;
    ASSERT_TRUE(processEventsUntil([&] {
        reply = get("GET /reading HTTP/1.1", "Origin: " + kListed + "\r\n");
        return reply.status == 200;
    }));
    EXPECT_EQ(reply.headers.value("access-control-allow-origin"), kListed);
    EXPECT_EQ(reply.headers.value("access-control-allow-private-network"), "true");
    EXPECT_EQ(reply.headers.value("vary"), "Origin");

    const HttpReply preflight =
        get("OPTIONS /command HTTP/1.1", "Origin: " + kListed +
                                             "\r\nAccess-Control-Request-Method: POST\r\nAccess-Control-Request-"
                                             "Headers: authorization, content-type\r\nAccess-Control-Request-Private-"
                                             "Network: true\r\n");
    EXPECT_EQ(preflight.status, 204);
    EXPECT_EQ(preflight.headers.value("access-control-allow-origin"), kListed);
    EXPECT_EQ(preflight.headers.value("access-control-allow-private-network"), "true");
    EXPECT_TRUE(preflight.headers.value("access-control-allow-methods").contains("POST"));
    EXPECT_TRUE(preflight.headers.value("access-control-allow-headers").toLower().contains("authorization"));
}

TEST_F(ReadingServiceTest, CommandsWithTheTokenAreCarriedOutAndAnsweredWithTheirOutcome) {
    const QByteArray auth = "Authorization: Bearer " + kToken.toLatin1() + "\r\n";
    const HttpReply tare = post("{\"command\": \"tare\"}", auth + "Origin: " + kListed + "\r\n");
    EXPECT_EQ(tare.status, 200) << tare.body.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(tare.body).object()["ok"].toBool());
    EXPECT_EQ(tare.headers.value("access-control-allow-origin"), kListed);
    const HttpReply zero = post("{\"command\": \"zero\"}", auth);
    EXPECT_EQ(zero.status, 409);
    EXPECT_EQ(QJsonDocument::fromJson(zero.body).object()["error"].toString(),
              "The instrument AND has no zero command.");
    EXPECT_EQ(m_commands, (QList<InstrumentCommand>{InstrumentCommand::Tare, InstrumentCommand::Zero}));
}

TEST_F(ReadingServiceTest, AKeptAliveConnectionServesOneRequestAfterTheOther) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
    ASSERT_TRUE(processEventsUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
    // Two requests at once (pipelined), a command among them.
    const QByteArray body = "{\"command\":\"request\"}";
    socket.write(requestHead("POST /command HTTP/1.1", m_port,
                             "Authorization: Bearer " + kToken.toLatin1() +
                                 "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n") +
                 body + requestHead("GET /reading HTTP/1.1", m_port));
    QByteArray data;
    ASSERT_TRUE(processEventsUntil([&] {
        data += socket.readAll();
        const qsizetype first = completeResponse(data);
        return first > 0 && completeResponse(data.mid(first)) > 0;
    })) << data.toStdString();
    const qsizetype first = completeResponse(data);
    EXPECT_EQ(parseResponse(data.left(first)).status, 200);
    EXPECT_EQ(parseResponse(data.mid(first)).status, 204);
    EXPECT_EQ(socket.state(), QAbstractSocket::ConnectedState);
}

TEST_F(ReadingServiceTest, WebSocketCommandsNeedTheTokenInTheAddress) {
    Client reader(m_port);
    Client commander(m_port, "?token=" + kToken, QString::fromLatin1(kListed));
    ASSERT_TRUE(reader.waitConnected());
    ASSERT_TRUE(commander.waitConnected());
    reader.socket.sendTextMessage(R"({"command":"tare"})");
    commander.socket.sendTextMessage(R"({"command":"request","id":7})");
    commander.socket.sendTextMessage(R"({"command":"zero"})");
    ASSERT_TRUE(processEventsUntil([&] { return reader.messages.size() >= 1 && commander.messages.size() >= 2; }));
    const QJsonObject refused = reader.objects()[0];
    EXPECT_EQ(refused["type"].toString(), "command");
    EXPECT_FALSE(refused["ok"].toBool());
    EXPECT_TRUE(refused["error"].toString().contains("token"));
    const QJsonObject request = commander.objects()[0];
    EXPECT_TRUE(request["ok"].toBool());
    EXPECT_EQ(request["command"].toString(), "request");
    EXPECT_EQ(request["id"].toInt(), 7);
    EXPECT_FALSE(commander.objects()[1]["ok"].toBool());
    EXPECT_EQ(m_commands, (QList<InstrumentCommand>{InstrumentCommand::Request, InstrumentCommand::Zero}));
}

TEST_F(ReadingServiceTest, RefusalsAreLoggedOncePerOriginNotPerRequest) {
    for (int i = 0; i < 5; ++i) {
        get("GET /reading HTTP/1.1", "Origin: https://evil.example\r\n");
        post("{\"command\":\"tare\"}", "Authorization: Bearer wrong\r\n");
    }
    get("GET /reading HTTP/1.1", "Origin: https://other.example\r\n");
    ASSERT_TRUE(processEventsUntil([&] { return important().size() >= 3; }));
    drainEvents(100);
    const QStringList lines = important();
    EXPECT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter("https://evil.example").size(), 1);
    EXPECT_EQ(lines.filter("https://other.example").size(), 1);
    EXPECT_EQ(lines.filter("token is wrong").size(), 1);
}

TEST_F(ReadingServiceTest, AClientThatStopsReadingIsCutWhileTheOthersGetEveryReading) {
    StalledClient stalled(m_port);
    ASSERT_TRUE(stalled.upgraded());
    Client reader(m_port);
    ASSERT_TRUE(reader.waitConnected());
    // Far more than the stalled client's queue and socket buffers hold.
    const int total = 30000;
    for (int seq = 1; seq <= total; ++seq) {
        m_service->deliver(reading(seq));
        // The reader shares this thread with the deliveries: it is let to keep up, as a client of its own would.
        if (seq % 500 == 0) {
            ASSERT_TRUE(processEventsUntil([&] { return reader.messages.size() >= seq - 1000 || reader.closed; }));
        }
    }
    ASSERT_TRUE(processEventsUntil([&] { return reader.messages.size() >= total; }, 30000)) << reader.messages.size();
    const QList<QJsonObject> got = reader.objects();
    for (int i = 0; i < total; ++i)
        ASSERT_EQ(got[i]["seq"].toInteger(), i + 1);
    ASSERT_TRUE(processEventsUntil([&] { return !important().filter("stopped reading").isEmpty(); }));
    EXPECT_EQ(important().filter("stopped reading").size(), 1) << "one line";
    EXPECT_TRUE(stalled.closedByServer());
    EXPECT_FALSE(reader.closed);
}

TEST_F(ReadingServiceTest, StopSendsWhatIsQueuedThenClosesEveryConnectionCleanly) {
    Client a(m_port);
    Client b(m_port, "?token=" + kToken);
    ASSERT_TRUE(a.waitConnected());
    ASSERT_TRUE(b.waitConnected());
    QTcpSocket idle; // a kept-alive HTTP connection
    idle.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
    ASSERT_TRUE(processEventsUntil([&] { return idle.state() == QAbstractSocket::ConnectedState; }));
    for (int seq = 1; seq <= 100; ++seq)
        m_service->deliver(reading(seq));
    m_service->deliverStatus(StatusEvent{"run-1", tavlo::worker::instantNow(), StatusEvent::Kind::Stopped, "Stopped"});
    m_service->close();
    ASSERT_TRUE(
        processEventsUntil([&] { return a.closed && b.closed && idle.state() == QAbstractSocket::UnconnectedState; }));
    for (Client* c : {&a, &b}) {
        ASSERT_EQ(c->messages.size(), 101);
        EXPECT_EQ(c->objects().last()["event"].toString(), "stopped");
        EXPECT_EQ(c->socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
    }
    m_service->deliver(reading(101)); // after Stop: nothing, no crash
    // The port is free again at once.
    QTcpServer again;
    EXPECT_TRUE(again.listen(QHostAddress::LocalHost, static_cast<quint16>(m_port)))
        << again.errorString().toStdString();
}

TEST_F(ReadingServiceTest, ACommandStillUnderWayAtStopIsAnsweredAsUnavailable) {
    m_holdCommands = true;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
    ASSERT_TRUE(processEventsUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
    const QByteArray body = "{\"command\":\"tare\"}";
    socket.write(requestHead("POST /command HTTP/1.1", m_port,
                             "Authorization: Bearer " + kToken.toLatin1() +
                                 "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n") +
                 body);
    ASSERT_TRUE(processEventsUntil([&] { return !m_held.isEmpty(); }));
    m_service->close();
    for (const CommandDone& done : m_held)
        done(true, QString()); // the run answers after the service has gone: nothing happens
    QByteArray data;
    ASSERT_TRUE(processEventsUntil([&] {
        data += socket.readAll();
        return completeResponse(data) > 0;
    }));
    EXPECT_EQ(parseResponse(data).status, 503);
}

TEST_F(ReadingServiceTest, APortInUseIsReportedWithTheAddress) {
    try {
        ReadingService second(ReadingService::Settings{m_port, {}, kToken}, {}, {}, {});
        FAIL() << "a second service on the same port";
    } catch (const tavlo::base::TavloException& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("127.0.0.1:%1").arg(m_port))) << e.message().toStdString();
    }
}

TEST_F(ReadingServiceTest, TheServiceAnswersOnIpv6LoopbackToo) {
    const HttpReply reply =
        httpRequest(m_port, "GET /reading HTTP/1.1\r\nHost: [::1]:" + QByteArray::number(m_port) + "\r\n\r\n",
                    QHostAddress::LocalHostIPv6);
    EXPECT_EQ(reply.status, 204);
}

} // namespace
