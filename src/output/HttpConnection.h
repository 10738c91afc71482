#pragma once

#include "output/HttpRequest.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>

class QTcpSocket;
class QTimer;

namespace tavlo::output {

class ReadingServer;

// One TCP connection to the reading service until it is answered or handed on: reads each request head
// without taking it from the socket, checks Host, Origin and the token, then answers GET /reading, POST
// /command and preflights itself, or hands a WebSocket handshake for /readings, still unread, to the WebSocket
// server. Keeps the connection for further requests (HTTP/1.1 keep-alive) until it has been idle too long.
class HttpConnection : public QObject {
    Q_OBJECT // found among the server's children at Stop
        public : using Headers = QList<QPair<QByteArray, QByteArray>>;

    // The longest body taken (a command is a few dozen bytes).
    static constexpr qint64 kMaxBodyBytes = 4096;
    // A request must be complete within this time of the connection or of the previous answer.
    static constexpr int kIdleMs = 15000;

    HttpConnection(QTcpSocket* socket, ReadingServer& server);

    // Stop: an answer under way is finished, then the connection is closed.
    void close();

    // "HTTP/1.1 <status> <reason>" with the headers, Content-Length (except for 204) and the body.
    static QByteArray response(int status, const Headers& headers, const QByteArray& body, bool keepAlive);
    // {"error":"text"}
    static QByteArray errorBody(const QString& text);

private:
    void process();
    // Answers one complete request (head and body taken from the socket); false when the socket was handed
    // to the WebSocket server or the connection is closing.
    bool handle(const HttpRequest& request);
    void handleCommand(const HttpRequest& request, const QByteArray& body, const Headers& cors);
    void answer(int status, const Headers& headers, const QByteArray& body, bool keepAlive);
    // Refuses the request and closes the connection; logged once per kind and origin.
    void refuse(int status, const QString& kind, const QByteArray& from, const QString& text,
                const Headers& headers = {});
    void finishCommand(bool ok, const QString& reason, const QByteArray& command, const Headers& cors);
    // "127.0.0.1:50312", for the log.
    QString peer() const;

    QTcpSocket* m_socket;
    ReadingServer& m_server;
    QTimer* m_idle;
    bool m_keepAlive = true; // of the request being answered
    bool m_busy = false;     // a command is under way
    bool m_closing = false;
};

} // namespace tavlo::output
