#pragma once

// Clients of the reading service for tests that run it in the test program: plain HTTP requests over a
// socket, answered while the calling thread's event loop runs (it plays the GUI thread, where commands go).
#include "../fakes/EventLoop.h"

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavlo::test {

struct HttpReply {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    bool closedAfter = false; // the server closed the connection after the answer
};

// The length of the first complete answer in data, or -1.
inline qsizetype completeResponse(const QByteArray& data) {
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return -1;
    const QByteArray head = data.left(end).toLower();
    if (head.startsWith("http/1.1 204"))
        return end + 4;
    const qsizetype at = head.indexOf("content-length:");
    if (at < 0)
        return -1;
    const qsizetype lineEnd = head.indexOf('\r', at);
    const qsizetype length = head.mid(at + 15, lineEnd < 0 ? -1 : lineEnd - at - 15).trimmed().toLongLong();
    return data.size() >= end + 4 + length ? end + 4 + length : -1;
}

inline HttpReply parseResponse(const QByteArray& data) {
    HttpReply reply;
    const qsizetype end = data.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = data.left(end).split('\n');
    if (lines.isEmpty())
        return reply;
    reply.status = lines[0].split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    reply.body = data.mid(end + 4);
    return reply;
}

// Sends one request on a new connection and waits for the answer (and for the connection to close when the
// answer says so).
inline HttpReply httpRequest(int port, const QByteArray& request,
                             const QHostAddress& address = QHostAddress::LocalHost) {
    QTcpSocket socket;
    socket.connectToHost(address, static_cast<quint16>(port));
    processEventsUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    socket.write(request);
    QByteArray data;
    processEventsUntil(
        [&] {
            data += socket.readAll();
            return completeResponse(data) >= 0 || socket.state() == QAbstractSocket::UnconnectedState;
        },
        10000);
    HttpReply reply = parseResponse(data.left(completeResponse(data)));
    if (reply.headers.value("connection") == "close")
        processEventsUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    reply.closedAfter = socket.state() == QAbstractSocket::UnconnectedState;
    return reply;
}

// "GET /reading HTTP/1.1" with Host localhost:port and the extra header lines.
inline QByteArray requestHead(const QByteArray& line, int port, const QByteArray& extra = {}) {
    return line + "\r\nHost: localhost:" + QByteArray::number(port) + "\r\n" + extra + "\r\n";
}

// A WebSocket client that completes its handshake and then never reads again, with a small receive buffer so
// that the server's queue for it fills soon. A plain socket: no event loop reads it behind the test's back.
class StalledClient {
public:
    explicit StalledClient(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return;
        const QByteArray handshake = "GET /readings HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                                     "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                                     "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        if (::write(m_fd, handshake.constData(), static_cast<size_t>(handshake.size())) != handshake.size())
            return;
        // Only the answer to the handshake is read, byte by byte, so that no message is taken with it.
        QByteArray answer;
        char c;
        while (!answer.endsWith("\r\n\r\n") && ::read(m_fd, &c, 1) == 1)
            answer += c;
        m_upgraded = answer.startsWith("HTTP/1.1 101");
    }
    ~StalledClient() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StalledClient(const StalledClient&) = delete;
    StalledClient& operator=(const StalledClient&) = delete;
    bool upgraded() const { return m_upgraded; }
    // Reads what is left; true when the server has cut or closed the connection.
    bool closedByServer() {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                return true;
            if (n < 0)
                return false;
        }
    }

private:
    int m_fd = -1;
    bool m_upgraded = false;
};

} // namespace tavlo::test
