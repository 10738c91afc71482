#pragma once

// A minimal HTTP server on 127.0.0.1 for tests of code that fetches documents. It serves on the thread that
// created it, so that thread must run its event loop (a nested loop of the code under test counts).

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <atomic>
#include <memory>
#include <vector>

namespace tavlo::test {

class LocalHttpServer {
public:
    enum class Mode { Serve, NeverAnswer, NotFound };

    LocalHttpServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
    }

    void serve(const QByteArray& body) {
        m_mode = Mode::Serve;
        m_body = body;
    }
    void setMode(Mode mode) { m_mode = mode; }

    QString url(const QString& path = QStringLiteral("/version.xml")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    int requests() const { return m_requests; }
    bool isListening() const { return m_server.isListening(); }

private:
    void accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            m_sockets.emplace_back(socket);
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                request->append(socket->readAll());
                if (!request->contains("\r\n\r\n"))
                    return;
                ++m_requests;
                respond(*socket);
            });
        }
    }

    void respond(QTcpSocket& socket) {
        switch (m_mode) {
        case Mode::NeverAnswer:
            return;
        case Mode::NotFound:
            socket.write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            break;
        case Mode::Serve:
            socket.write("HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nConnection: close\r\n"
                         "Content-Length: " +
                         QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
            break;
        }
        socket.disconnectFromHost();
    }

    QTcpServer m_server;
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
    Mode m_mode = Mode::Serve;
    QByteArray m_body;
    std::atomic<int> m_requests{0};
};

} // namespace tavlo::test
