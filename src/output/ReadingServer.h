#pragma once

#include "config/InstrumentCommand.h"
#include "output/ServiceAccess.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketServer;

namespace tavlo::output {

class HttpConnection;

// The reading service's network side, living on the service's own thread: the listeners on 127.0.0.1 and ::1,
// the plain HTTP connections, and the WebSocket clients that every reading and status event goes to. A client
// that stops reading is closed once its queue is full, so that it holds up neither the others nor typing.
class ReadingServer : public QObject {
public:
    using Log = std::function<void(const QString& text)>;
    // A command's outcome, called on this thread.
    using Reply = std::function<void(bool ok, const QString& reason)>;
    // Carries a command out elsewhere; its outcome comes back through commandDone(id, ...).
    using CommandRunner = std::function<void(config::InstrumentCommand command, quint64 id)>;

    // What may wait for one WebSocket client beyond what the system's socket buffer holds.
    static constexpr qint64 kClientQueueBytes = 4 << 20;
    // The system's send buffer of a WebSocket client, so that a stalled client is found after a known amount.
    static constexpr int kClientSocketBuffer = 256 << 10;
    // Connections at once (HTTP and WebSocket); more are closed at once.
    static constexpr int kMaxConnections = 128;
    // How long Stop waits for the connections to close before it cuts the remaining ones.
    static constexpr int kCloseDeadlineMs = 1000;

    ReadingServer(ServiceAccess access, CommandRunner commands, Log important, Log info);
    ~ReadingServer() override;

    // Listens on both loopback addresses (port 0: a free port, the same on both); false with the reason.
    bool listen(QString* error);
    int port() const { return m_port; }

    // Appends one WebSocket text frame (unmasked, as a server sends it) holding payload.
    static void appendTextFrame(QByteArray& out, const QByteArray& payload);
    // Messages for every client, as WebSocket frames made once (appendTextFrame) and written to each client's
    // socket as they are, then handed to the system at once; lastReading (when not empty) is the answer to GET
    // /reading from now on.
    void broadcast(const QByteArray& frames, const QByteArray& lastReading);
    // Notes readings that never reached the service because its queue was full (logged once).
    void noteDropped(qint64 count);

    // Carries a command out; reply is called on this thread with the outcome (also when Stop comes first).
    void runCommand(config::InstrumentCommand command, Reply reply);
    void commandDone(quint64 id, bool ok, const QString& reason);

    // Closes every connection cleanly (WebSocket clients get a close frame); calls finished once all are gone
    // or the deadline has passed.
    void shutdown(std::function<void()> finished);
    bool isShuttingDown() const { return m_shuttingDown; }

    // For the HTTP connections.
    const ServiceAccess& access() const { return m_access; }
    const QByteArray& lastReading() const { return m_lastReading; }
    // Logs a refusal once per kind and origin (or host), not per request.
    void logRefusal(const QString& kind, const QByteArray& from, const QString& text);
    // Hands a connection whose handshake passed the checks (and is still unread) to the WebSocket server.
    void adoptWebSocket(QTcpSocket* socket);
    int clientCount() const { return static_cast<int>(m_clients.size()); }

private:
    struct Client {
        QWebSocket* socket = nullptr;
        QTcpSocket* connection = nullptr; // the socket under it
        bool canCommand = false;
        QString label; // "127.0.0.1:50312, origin https://..." for the log
    };

    void accept(QTcpServer* listener);
    void addClient(QWebSocket* socket);
    void removeClient(QWebSocket* socket);
    void onClientMessage(QWebSocket* socket, const QString& message);
    void dropStalled(std::size_t index);
    // Closes at once, dropping what the system still holds for the peer (a reset instead of a close after it).
    static void cut(QTcpSocket* socket);
    void checkShutdownDone();

    ServiceAccess m_access;
    CommandRunner m_commands;
    Log m_important;
    Log m_info;
    int m_port = 0;
    std::vector<QTcpServer*> m_listeners;
    QWebSocketServer* m_webSockets = nullptr;
    std::vector<Client> m_clients;
    QByteArray m_lastReading;
    QHash<quint64, Reply> m_pending;
    quint64 m_nextCommand = 1;
    int m_connections = 0;
    QSet<QString> m_refusalsLogged;
    bool m_tooManyLogged = false;
    qint64 m_droppedTotal = 0;
    bool m_shuttingDown = false;
    std::function<void()> m_finished;
    QTimer* m_closeDeadline = nullptr;
};

} // namespace tavlo::output
