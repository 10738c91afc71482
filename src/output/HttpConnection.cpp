#include "output/HttpConnection.h"

#include "output/ReadingJson.h"
#include "output/ReadingServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace tavlo::output {

namespace {

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Content Too Large";
    case 426:
        return "Upgrade Required";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

const HttpConnection::Headers kJson{{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};

QString printable(const QByteArray& text) {
    QString out = QString::fromLatin1(text.left(200));
    for (QChar& c : out)
        if (c.unicode() < 0x20 || c.unicode() >= 0x7f)
            c = u'?';
    return out;
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, ReadingServer& server)
    : QObject(&server), m_socket(socket), m_server(server), m_idle(new QTimer(this)) {
    m_idle->setSingleShot(true);
    connect(m_idle, &QTimer::timeout, this, [this] {
        if (m_busy)
            m_idle->start(kIdleMs);
        else
            close();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::process);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        m_socket->deleteLater();
        deleteLater();
    });
    m_idle->start(kIdleMs);
    process();
}

QString HttpConnection::peer() const {
    const QHostAddress address = m_socket->peerAddress();
    return (address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + address.toString() + u']'
                                                                : address.toString()) +
           u':' + QString::number(m_socket->peerPort());
}

void HttpConnection::close() {
    m_closing = true;
    m_idle->stop();
    // What is written goes out first; the connection ends once it has.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->disconnectFromHost();
}

QByteArray HttpConnection::response(int status, const Headers& headers, const QByteArray& body, bool keepAlive) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto& [name, value] : headers)
        out += name + ": " + value + "\r\n";
    if (status != 204)
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    out += "\r\n";
    if (status != 204)
        out += body;
    return out;
}

QByteArray HttpConnection::errorBody(const QString& text) {
    QByteArray out = "{\"error\":";
    appendJsonString(out, text);
    out += "}\n";
    return out;
}

void HttpConnection::process() {
    while (!m_busy && !m_closing && m_socket->bytesAvailable() > 0) {
        const QByteArray data = m_socket->peek(HttpRequest::kMaxHeadBytes + kMaxBodyBytes + 8);
        HttpRequest request;
        QString reason;
        switch (HttpRequest::parse(data, &request, &reason)) {
        case HttpRequest::Parse::Incomplete:
            return;
        case HttpRequest::Parse::TooLarge:
            refuse(431, QStringLiteral("large"), QByteArray(),
                   QStringLiteral("refused a request from %1: %2").arg(peer(), reason));
            return;
        case HttpRequest::Parse::Invalid:
            refuse(400, QStringLiteral("invalid"), QByteArray(),
                   QStringLiteral("refused a request from %1 that is not valid HTTP: %2").arg(peer(), reason));
            return;
        case HttpRequest::Parse::Complete:
            break;
        }
        if (*request.contentLength() > kMaxBodyBytes) {
            refuse(413, QStringLiteral("large"), request.header("origin").value_or(QByteArray()),
                   QStringLiteral("refused a request from %1: its body is longer than %2 bytes")
                       .arg(peer(), QString::number(kMaxBodyBytes)));
            return;
        }
        if (m_socket->bytesAvailable() < request.headSize + *request.contentLength())
            return; // the body is still on its way
        if (!handle(request))
            return;
    }
}

bool HttpConnection::handle(const HttpRequest& request) {
    const std::optional<QByteArray> origin = request.header("origin");
    const QByteArray host = request.header("host").value_or(QByteArray());
    const ServiceAccess& access = m_server.access();
    // Checked before anything is read or done, so that a refused page learns nothing but the refusal.
    if (!access.hostAllowed(host)) {
        refuse(403, QStringLiteral("host"), origin.value_or(host),
               QStringLiteral("refused requests for the host \"%1\"%2: only localhost, 127.0.0.1 and [::1] with "
                              "port %3 are served (a page on another name may be a DNS rebinding attack)")
                   .arg(printable(host),
                        origin ? QStringLiteral(" from the page at %1").arg(printable(*origin)) : QString(),
                        QString::number(access.port())));
        return false;
    }
    if (origin && !access.originListed(*origin)) {
        refuse(403, QStringLiteral("origin"), *origin,
               QStringLiteral("refused the web page at %1: its origin is not in readingServiceOrigins")
                   .arg(printable(*origin)));
        return false;
    }
    Headers cors;
    if (origin)
        cors = {{"Access-Control-Allow-Origin", *origin},
                {"Access-Control-Allow-Private-Network", "true"},
                {"Vary", "Origin"}};
    const bool known = request.path == "/readings" || request.path == "/reading" || request.path == "/command";
    if (!known) {
        m_socket->skip(request.headSize + *request.contentLength());
        answer(404, kJson + cors, errorBody(QStringLiteral("no such resource: /readings, /reading and /command")),
               request.keepAlive());
        return true;
    }
    const QByteArray allowed = request.path == "/command" ? "POST, OPTIONS" : "GET, OPTIONS";
    if (request.method == "OPTIONS") {
        // A preflight: the browser asks whether the page may send the request it has in mind.
        m_socket->skip(request.headSize + *request.contentLength());
        Headers headers = cors + Headers{{"Allow", allowed}};
        if (origin)
            headers += Headers{{"Access-Control-Allow-Methods", allowed},
                               {"Access-Control-Allow-Headers", "Authorization, Content-Type"},
                               {"Access-Control-Max-Age", "600"}};
        answer(204, headers, QByteArray(), request.keepAlive());
        return true;
    }
    if (request.path == "/readings") {
        if (request.method != "GET" || !request.wantsWebSocket()) {
            m_socket->skip(request.headSize + *request.contentLength());
            answer(request.method != "GET" ? 405 : 426,
                   kJson + cors + Headers{{"Allow", allowed}, {"Upgrade", "websocket"}},
                   errorBody(
                       QStringLiteral("/readings is a WebSocket: open ws://localhost:%1/readings").arg(access.port())),
                   request.keepAlive());
            return true;
        }
        if (const auto token = request.queryValue("token"); token && !access.tokenMatches(*token)) {
            refuse(401, QStringLiteral("token"), origin.value_or(QByteArray()),
                   QStringLiteral("refused a WebSocket from %1: the token in its address is wrong")
                       .arg(origin ? QStringLiteral("the page at ") + printable(*origin)
                                   : QStringLiteral("a local program")));
            return false;
        }
        // The handshake stays in the socket for the WebSocket server, which answers it.
        disconnect(m_socket, nullptr, this, nullptr);
        m_idle->stop();
        m_server.adoptWebSocket(m_socket);
        deleteLater();
        return false;
    }
    if ((request.path == "/reading" && request.method != "GET") ||
        (request.path == "/command" && request.method != "POST")) {
        m_socket->skip(request.headSize + *request.contentLength());
        answer(405, kJson + cors + Headers{{"Allow", allowed}},
               errorBody(
                   QStringLiteral("%1 takes %2").arg(QString::fromLatin1(request.path), QString::fromLatin1(allowed))),
               request.keepAlive());
        return true;
    }
    m_socket->skip(request.headSize);
    const QByteArray body = m_socket->read(*request.contentLength());
    if (request.path == "/reading") {
        const QByteArray& last = m_server.lastReading();
        if (last.isEmpty())
            answer(204, cors + Headers{{"Cache-Control", "no-store"}}, QByteArray(), request.keepAlive());
        else
            answer(200, kJson + cors, last + '\n', request.keepAlive());
        return true;
    }
    handleCommand(request, body, cors);
    return !m_closing;
}

void HttpConnection::handleCommand(const HttpRequest& request, const QByteArray& body, const Headers& cors) {
    const std::optional<QByteArray> origin = request.header("origin");
    const QString from =
        origin ? QStringLiteral("the page at ") + printable(*origin) : QStringLiteral("a local program");
    const std::optional<QByteArray> authorization = request.header("authorization");
    const std::optional<QByteArray> token = authorization ? ServiceAccess::bearerToken(*authorization) : std::nullopt;
    if (!token) {
        refuse(401, QStringLiteral("no-token"), origin.value_or(QByteArray()),
               QStringLiteral("refused a command from %1: it came without the token "
                              "(Authorization: Bearer TOKEN)")
                   .arg(from),
               cors + Headers{{"WWW-Authenticate", "Bearer realm=\"tavlo\""}});
        return;
    }
    if (!m_server.access().tokenMatches(*token)) {
        refuse(401, QStringLiteral("token"), origin.value_or(QByteArray()),
               QStringLiteral("refused a command from %1: the token is wrong").arg(from),
               cors + Headers{{"WWW-Authenticate", "Bearer realm=\"tavlo\", error=\"invalid_token\""}});
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    const QString name = document.object().value(QLatin1String("command")).toString();
    const std::optional<config::InstrumentCommand> command =
        document.isObject() ? config::commandFromName(name) : std::nullopt;
    if (!command) {
        answer(400, kJson + cors,
               errorBody(QStringLiteral("the body must be {\"command\": \"request\"}, \"tare\" or \"zero\"")),
               request.keepAlive());
        return;
    }
    m_busy = true;
    m_keepAlive = request.keepAlive();
    const QByteArray commandName = config::commandName(*command).toLatin1();
    QPointer<HttpConnection> self(this);
    m_server.runCommand(*command, [self, commandName, cors](bool ok, const QString& reason) {
        if (self)
            self->finishCommand(ok, reason, commandName, cors);
    });
}

void HttpConnection::finishCommand(bool ok, const QString& reason, const QByteArray& command, const Headers& cors) {
    m_busy = false;
    QByteArray body = "{\"type\":\"command\",\"command\":\"" + command + "\",\"ok\":" + (ok ? "true" : "false");
    if (!ok) {
        body += ",\"error\":";
        appendJsonString(body, reason);
    }
    body += "}\n";
    // 409: the instrument cannot do it now (no run, or the profile has no such command); 503: Stop came first.
    const int status = ok ? 200 : m_server.isShuttingDown() ? 503 : 409;
    answer(status, kJson + cors, body, m_keepAlive && !m_server.isShuttingDown());
    if (m_server.isShuttingDown())
        close();
    else
        process();
}

void HttpConnection::answer(int status, const Headers& headers, const QByteArray& body, bool keepAlive) {
    m_socket->write(response(status, headers, body, keepAlive));
    m_socket->flush();
    if (!keepAlive || m_server.isShuttingDown()) {
        close();
        return;
    }
    m_idle->start(kIdleMs);
}

void HttpConnection::refuse(int status, const QString& kind, const QByteArray& from, const QString& text,
                            const Headers& headers) {
    m_server.logRefusal(kind, from, text);
    // Nothing more of this connection is read; what came with the request is dropped.
    m_socket->readAll();
    m_socket->write(response(status, kJson + headers, errorBody(text), false));
    m_socket->flush();
    close();
}

} // namespace tavlo::output
