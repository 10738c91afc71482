#include "output/ReadingServer.h"

#include "output/HttpConnection.h"
#include "output/ReadingJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

#include <sys/socket.h>

namespace tavlo::output {

namespace {

// Refusals are logged once per kind and origin; a program that makes up a new origin for every request
// cannot grow the list without end.
constexpr int kMaxRefusalsLogged = 1000;

// {"type":"command","command":"tare","ok":false,"error":"...","id":...}
QString commandReply(const QString& command, bool ok, const QString& reason, const QJsonValue& id) {
    QByteArray out = "{\"type\":\"command\",\"command\":";
    if (command.isEmpty())
        out += "null";
    else
        appendJsonString(out, command);
    out += ",\"ok\":";
    out += ok ? "true" : "false";
    if (!ok) {
        out += ",\"error\":";
        appendJsonString(out, reason);
    }
    if (!id.isUndefined()) {
        const QByteArray array = QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact);
        out += ",\"id\":" + array.mid(1, array.size() - 2);
    }
    out += '}';
    return QString::fromUtf8(out);
}

} // namespace

ReadingServer::ReadingServer(ServiceAccess access, CommandRunner commands, Log important, Log info)
    : m_access(std::move(access)), m_commands(std::move(commands)), m_important(std::move(important)),
      m_info(std::move(info)),
      m_webSockets(new QWebSocketServer(QStringLiteral("Tavlo"), QWebSocketServer::NonSecureMode, this)) {
    connect(m_webSockets, &QWebSocketServer::newConnection, this, [this] {
        while (m_webSockets->hasPendingConnections())
            addClient(m_webSockets->nextPendingConnection());
    });
}

ReadingServer::~ReadingServer() {
    // The children (listeners, sockets, clients) go with this object, on this thread.
    for (const Client& client : m_clients)
        disconnect(client.socket, nullptr, this, nullptr);
}

bool ReadingServer::listen(QString* error) {
    int port = m_access.port();
    const std::pair<QHostAddress, const char*> addresses[] = {{QHostAddress(QHostAddress::LocalHost), "127.0.0.1"},
                                                              {QHostAddress(QHostAddress::LocalHostIPv6), "[::1]"}};
    for (const auto& [address, name] : addresses) {
        auto* listener = new QTcpServer(this);
        if (!listener->listen(address, static_cast<quint16>(port))) {
            const auto failure = listener->serverError();
            const QString why = listener->errorString();
            delete listener;
            // A computer without IPv6 on its loopback is served on 127.0.0.1 alone.
            if (address.protocol() == QAbstractSocket::IPv6Protocol && !m_listeners.empty() &&
                (failure == QAbstractSocket::SocketAddressNotAvailableError ||
                 failure == QAbstractSocket::UnsupportedSocketOperationError)) {
                m_info(QStringLiteral("Reading service: this computer has no IPv6 loopback (%1); serving on "
                                      "127.0.0.1 only.")
                           .arg(why));
                continue;
            }
            if (error)
                *error = QStringLiteral("The reading service cannot listen on %1:%2: %3.")
                             .arg(QLatin1String(name), QString::number(port), why);
            for (QTcpServer* open : m_listeners)
                delete open;
            m_listeners.clear();
            return false;
        }
        if (port == 0)
            port = listener->serverPort();
        connect(listener, &QTcpServer::newConnection, this, [this, listener] { accept(listener); });
        m_listeners.push_back(listener);
    }
    m_port = port;
    m_access.setPort(port);
    return true;
}

void ReadingServer::accept(QTcpServer* listener) {
    while (listener->hasPendingConnections()) {
        QTcpSocket* socket = listener->nextPendingConnection();
        if (m_shuttingDown || m_connections >= kMaxConnections) {
            if (!m_shuttingDown && !m_tooManyLogged) {
                m_tooManyLogged = true;
                m_important(QStringLiteral("Reading service: more than %1 connections at once; further ones are "
                                           "closed at once (logged once).")
                                .arg(kMaxConnections));
            }
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        socket->setParent(this);
        connect(socket, &QObject::destroyed, this, [this] {
            --m_connections;
            checkShutdownDone();
        });
        // Readings are small and wanted at once, not gathered into larger segments.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        new HttpConnection(socket, *this);
    }
}

void ReadingServer::adoptWebSocket(QTcpSocket* socket) {
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kClientSocketBuffer);
    m_webSockets->handleConnection(socket);
}

void ReadingServer::addClient(QWebSocket* socket) {
    socket->setParent(this);
    socket->setMaxAllowedIncomingFrameSize(HttpConnection::kMaxBodyBytes);
    socket->setMaxAllowedIncomingMessageSize(HttpConnection::kMaxBodyBytes);
    // The handshake's token was checked before the socket was handed on; a wrong one never gets here.
    const QUrlQuery query(socket->requestUrl());
    Client client;
    client.socket = socket;
    for (QTcpSocket* tcp : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
        if (tcp->peerPort() == socket->peerPort() && tcp->peerAddress() == socket->peerAddress())
            client.connection = tcp;
    if (!client.connection) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    client.canCommand =
        query.hasQueryItem(QStringLiteral("token")) &&
        m_access.tokenMatches(query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toLatin1());
    client.label = socket->peerAddress().toString() + u':' + QString::number(socket->peerPort());
    if (!socket->origin().isEmpty())
        client.label += QStringLiteral(", the page at ") + socket->origin();
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket](const QString& message) { onClientMessage(socket, message); });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [socket](const QByteArray&) {
        socket->sendTextMessage(commandReply(QString(), false,
                                             QStringLiteral("commands are text messages {\"command\": \"tare\"}"),
                                             QJsonValue::Undefined));
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { removeClient(socket); });
    m_clients.push_back(client);
    if (m_shuttingDown)
        socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("Tavlo stopped"));
}

void ReadingServer::removeClient(QWebSocket* socket) {
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it)
        if (it->socket == socket) {
            m_clients.erase(it);
            break;
        }
    disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
    checkShutdownDone();
}

void ReadingServer::onClientMessage(QWebSocket* socket, const QString& message) {
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8());
    const QJsonObject object = document.object();
    const QJsonValue id = object.contains(QLatin1String("id")) ? object.value(QLatin1String("id")) : QJsonValue();
    const QJsonValue echo = object.contains(QLatin1String("id")) ? id : QJsonValue(QJsonValue::Undefined);
    const QString name = object.value(QLatin1String("command")).toString();
    const std::optional<config::InstrumentCommand> command =
        document.isObject() ? config::commandFromName(name) : std::nullopt;
    if (!command) {
        socket->sendTextMessage(commandReply(
            QString(), false, QStringLiteral("a command is {\"command\": \"request\"}, \"tare\" or \"zero\""), echo));
        return;
    }
    auto it =
        std::find_if(m_clients.begin(), m_clients.end(), [socket](const Client& c) { return c.socket == socket; });
    if (it == m_clients.end())
        return;
    if (!it->canCommand) {
        logRefusal(QStringLiteral("no-token"), socket->origin().toUtf8(),
                   QStringLiteral("refused a command from the WebSocket of %1: it was opened without the token")
                       .arg(it->label));
        socket->sendTextMessage(
            commandReply(name, false, QStringLiteral("commands need the token: open /readings?token=TOKEN"), echo));
        return;
    }
    QPointer<QWebSocket> target(socket);
    runCommand(*command, [target, name, echo](bool ok, const QString& reason) {
        if (target)
            target->sendTextMessage(commandReply(name, ok, reason, echo));
    });
}

void ReadingServer::appendTextFrame(QByteArray& out, const QByteArray& payload) {
    const quint64 size = static_cast<quint64>(payload.size());
    out += static_cast<char>(0x81); // the whole message in one text frame
    if (size < 126) {
        out += static_cast<char>(size);
    } else if (size <= 0xffff) {
        out += static_cast<char>(126);
        out += static_cast<char>(size >> 8);
        out += static_cast<char>(size & 0xff);
    } else {
        out += static_cast<char>(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out += static_cast<char>((size >> shift) & 0xff);
    }
    out += payload;
}

void ReadingServer::broadcast(const QByteArray& frames, const QByteArray& lastReading) {
    if (!lastReading.isEmpty())
        m_lastReading = lastReading;
    // The frames go straight onto each client's socket, between whole frames of the WebSocket's own (answers,
    // close), all on this thread: one copy per client instead of framing every message for every client.
    for (std::size_t i = 0; i < m_clients.size();) {
        QTcpSocket* socket = m_clients[i].connection;
        if (socket->bytesToWrite() > kClientQueueBytes) {
            // Full unless the system takes some of it now: a client that reads is never cut for a burst.
            socket->flush();
            if (socket->bytesToWrite() > kClientQueueBytes) {
                dropStalled(i);
                continue;
            }
        }
        socket->write(frames);
        socket->flush();
        ++i;
    }
}

void ReadingServer::dropStalled(std::size_t index) {
    const Client client = m_clients[index];
    m_clients.erase(m_clients.begin() + static_cast<std::ptrdiff_t>(index));
    m_important(QStringLiteral("Reading service: closed the WebSocket of %1: it stopped reading, and %2 KiB were "
                               "waiting for it.")
                    .arg(client.label, QString::number(client.connection->bytesToWrite() / 1024)));
    disconnect(client.socket, nullptr, this, nullptr);
    // Its queue would never drain: the connection is cut rather than closed after what is waiting.
    cut(client.connection);
    client.socket->abort();
    client.socket->deleteLater();
}

void ReadingServer::cut(QTcpSocket* socket) {
    // Without this the system would go on offering the peer what it holds for it long after the program let go.
    const linger now{1, 0};
    if (socket->socketDescriptor() >= 0)
        ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    socket->abort();
}

void ReadingServer::noteDropped(qint64 count) {
    if (count <= 0)
        return;
    if (m_droppedTotal == 0)
        m_important(QStringLiteral("Reading service: it fell behind the instrument; readings were left out for its "
                                   "clients (their sequence numbers show the gap; logged once)."));
    m_droppedTotal += count;
}

void ReadingServer::runCommand(config::InstrumentCommand command, Reply reply) {
    if (m_shuttingDown) {
        reply(false, QStringLiteral("Tavlo is stopping."));
        return;
    }
    const quint64 id = m_nextCommand++;
    m_pending.insert(id, std::move(reply));
    m_commands(command, id);
}

void ReadingServer::commandDone(quint64 id, bool ok, const QString& reason) {
    const Reply reply = m_pending.take(id);
    if (reply)
        reply(ok, reason);
}

void ReadingServer::logRefusal(const QString& kind, const QByteArray& from, const QString& text) {
    const QString key = kind + u'\n' + QString::fromUtf8(from);
    if (m_refusalsLogged.contains(key) || m_refusalsLogged.size() > kMaxRefusalsLogged)
        return;
    m_refusalsLogged.insert(key);
    if (m_refusalsLogged.size() > kMaxRefusalsLogged) {
        m_important(QStringLiteral("Reading service: refusals from further origins are no longer logged."));
        return;
    }
    m_important(QStringLiteral("Reading service: ") + text + QStringLiteral(" (logged once)."));
}

void ReadingServer::shutdown(std::function<void()> finished) {
    m_shuttingDown = true;
    m_finished = std::move(finished);
    for (QTcpServer* listener : m_listeners)
        listener->close();
    // Commands still under way are answered; their outcome would come after the connections are gone.
    const QHash<quint64, Reply> pending = std::exchange(m_pending, {});
    for (const Reply& reply : pending)
        reply(false, QStringLiteral("Tavlo is stopping."));
    const std::vector<Client> clients = m_clients;
    for (const Client& client : clients)
        client.socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("Tavlo stopped"));
    for (HttpConnection* connection : findChildren<HttpConnection*>(Qt::FindDirectChildrenOnly))
        connection->close();
    m_closeDeadline = new QTimer(this);
    m_closeDeadline->setSingleShot(true);
    connect(m_closeDeadline, &QTimer::timeout, this, [this] {
        // Whatever has not closed by now (a client that does not read) is cut.
        for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
            cut(socket);
        if (m_finished)
            std::exchange(m_finished, nullptr)();
    });
    m_closeDeadline->start(kCloseDeadlineMs);
    checkShutdownDone();
}

void ReadingServer::checkShutdownDone() {
    if (m_shuttingDown && m_connections == 0 && m_finished)
        std::exchange(m_finished, nullptr)();
}

} // namespace tavlo::output
