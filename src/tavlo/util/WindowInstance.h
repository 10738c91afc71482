#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QTextStream;

namespace tavlo::util {

// One window per user and edition: the first window listens on a local socket that only its user can reach,
// and a later start hands its wish to it instead of opening a second window, whose settings would otherwise
// overwrite the first one's when it closes. In the multi-user edition, whose settings file all users share, a
// lock file beside that file keeps the window to one per computer. `tavlo --send` reaches the window the same
// way. Requests and answers are one line of JSON each: {"command": ..., "argument": ...} and {"ok": ..., "text":
// ...}. Used on the GUI thread.
class WindowInstance {
public:
    struct Location {
        QString socket;      // the running window's local socket
        QString startLock;   // held while a start looks for a running window and takes the socket
        QString machineLock; // the multi-user edition: beside the shared settings file; else empty
    };
    // The location for this user and the edition of the process properties; none, with the reason, when the
    // user has no private folder for the socket.
    static std::optional<Location> forThisUser(QString* error);

    enum class Outcome {
        Own,       // this start has the window: it may open it
        Forwarded, // a window of this user runs and was asked to come to the front; `text` is its port
        Refused    // a window runs that this start may not join (another user's, or one that does not answer)
    };
    struct Claim {
        Outcome outcome = Outcome::Own;
        QString text;    // Forwarded: the running window's port; Refused: why, for the user
        QString warning; // Own: what did not work and what that means (no lock could be made), else empty
    };

    explicit WindowInstance(Location location);
    ~WindowInstance();
    WindowInstance(const WindowInstance&) = delete;
    WindowInstance& operator=(const WindowInstance&) = delete;

    // At a window's start. A socket left by a run that crashed is removed; a lock left by one is stale (its
    // process is gone) and taken over. `port`: the port given on this start's command line, sent along.
    Claim claim(const std::optional<QString>& port);

    // Answers a request; may be called later, once (nothing happens when the asker has gone).
    using Reply = std::function<void(bool ok, const QString& text)>;
    // The window's part: "show" (argument: the port of the later start), "request", "tare", "zero", "start",
    // "stop". Requests that come while the window is still being built wait for it; they reach the handler when
    // it is set. An empty handler (the window is going) refuses them.
    using Handler = std::function<void(const QString& command, const QString& argument, const Reply& reply)>;
    void setHandler(Handler handler);

    // What a request to the running window brought.
    struct Answer {
        bool reached = false; // a window listens on the socket
        bool replied = false; // and answered in time
        bool ok = false;
        QString text;
    };
    static Answer ask(const QString& socket, const QString& command, const QString& argument, int replyMs);

    // tavlo --send COMMAND: hands it to the running window. 0 when carried out, 1 with the reason on err.
    static int sendCommand(const QString& command, QTextStream& err);

private:
    void serve(QLocalSocket* socket);

    Location m_location;
    std::unique_ptr<QLockFile> m_machineLock;
    std::unique_ptr<QLocalServer> m_server;
    Handler m_handler;
    bool m_handlerSet = false;
    struct Pending {
        QString command;
        QString argument;
        Reply reply;
    };
    std::vector<Pending> m_pending;
};

} // namespace tavlo::util
