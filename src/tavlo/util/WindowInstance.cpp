#include "tavlo/util/WindowInstance.h"

#include "base/SystemProperties.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/util/instance/UserSession.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QTextStream>
#include <QTimer>

namespace tavlo::util {

namespace {

// A request line is a few words; anything longer is not from Tavlo.
constexpr qsizetype kMaxLine = 4096;
// A connection that says nothing is closed after this long, so that it cannot hold a slot for ever.
constexpr int kIdleMs = 10000;

bool isQxEdition() {
    return base::SystemProperties::get(QStringLiteral("EDITION"), QString()) == QLatin1String("QX");
}

QByteArray line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Who holds the multi-user lock, for the user who may not start.
QString holderText(const QLockFile& lock) {
    qint64 pid = 0;
    QString host, application;
    const bool known = lock.getLockInfo(&pid, &host, &application);
    QString owner = fileOwner(lock.fileName());
    const bool mine = !owner.isEmpty() && owner == currentUserName();
    if (owner.isEmpty())
        owner = QStringLiteral("another user");
    QString where = QStringLiteral("this computer");
    if (known && !host.isEmpty() && host != QHostInfo::localHostName())
        where = QStringLiteral("the computer %1").arg(host);
    const QString process = known ? QStringLiteral(" (process %1)").arg(pid) : QString();
    if (mine)
        return QStringLiteral("Tavlo QX is already open for you on %1%2, but that window cannot be reached. Close it "
                              "first.")
            .arg(where, process);
    return QStringLiteral("Tavlo QX is open for the user %1 on %2%3. All users of this computer share its settings, so "
                          "only one window may be open at a time: ask %1 to close it.")
        .arg(owner, where, process);
}

} // namespace

std::optional<WindowInstance::Location> WindowInstance::forThisUser(QString* error) {
    const QString folder = privateFolder(error);
    if (folder.isEmpty())
        return std::nullopt;
    const QString base = isQxEdition() ? QStringLiteral("tavlo-window-QX") : QStringLiteral("tavlo-window");
    Location location;
    location.socket = localSocketName(folder, base);
    location.startLock = folder + u'/' + base + QStringLiteral(".lock");
    if (isQxEdition())
        location.machineLock = prefs::ConfigStore::multiUserPreferencesFile() + QStringLiteral(".lock");
    return location;
}

WindowInstance::WindowInstance(Location location) : m_location(std::move(location)) {}

WindowInstance::~WindowInstance() {
    if (m_server)
        m_server->close();
    if (m_machineLock)
        m_machineLock->unlock();
}

WindowInstance::Answer WindowInstance::ask(const QString& socketName, const QString& command, const QString& argument,
                                           int replyMs) {
    Answer answer;
    QLocalSocket socket;
    socket.connectToServer(socketName);
    if (!socket.waitForConnected(3000))
        return answer; // nobody listens: no socket, or one left by a run that ended without removing it
    answer.reached = true;
    QJsonObject request{{QStringLiteral("command"), command}};
    if (!argument.isEmpty())
        request.insert(QStringLiteral("argument"), argument);
    socket.write(line(request));
    socket.flush();
    QByteArray received;
    QDeadlineTimer deadline(replyMs);
    while (!received.contains('\n') && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())) &&
            socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            break;
        received += socket.readAll();
        if (received.size() > kMaxLine)
            break;
    }
    if (!received.contains('\n'))
        return answer;
    const QJsonObject reply = QJsonDocument::fromJson(received.left(received.indexOf('\n'))).object();
    answer.replied = reply.contains(QStringLiteral("ok"));
    answer.ok = reply.value(QStringLiteral("ok")).toBool();
    answer.text = reply.value(QStringLiteral("text")).toString();
    return answer;
}

WindowInstance::Claim WindowInstance::claim(const std::optional<QString>& port) {
    Claim claim;
    // Two starts at the same moment must not both find no window and both take the socket.
    QLockFile startLock(m_location.startLock);
    startLock.setStaleLockTime(30000);
    const bool serialised = startLock.tryLock(15000);

    const Answer answer = ask(m_location.socket, QStringLiteral("show"), port.value_or(QString()), 10000);
    if (answer.reached) {
        if (answer.replied && answer.ok) {
            claim.outcome = Outcome::Forwarded;
            claim.text = answer.text;
        } else {
            claim.outcome = Outcome::Refused;
            claim.text = answer.replied
                             ? answer.text
                             : QStringLiteral("A Tavlo window is open but does not answer; it may be showing "
                                              "a message. Close it first.");
        }
        return claim;
    }

    if (!m_location.machineLock.isEmpty()) {
        m_machineLock = std::make_unique<QLockFile>(m_location.machineLock);
        // Held for as long as the window runs, so never stale by age; only a vanished process frees it.
        m_machineLock->setStaleLockTime(0);
        if (!m_machineLock->tryLock(0)) {
            if (m_machineLock->error() == QLockFile::LockFailedError) {
                claim.outcome = Outcome::Refused;
                claim.text = holderText(*m_machineLock);
                m_machineLock.reset();
                return claim;
            }
            // No lock can be made where the shared settings are: they cannot be written there either.
            claim.warning = QStringLiteral("The lock %1 cannot be made, so a window of another user would not be "
                                           "noticed.")
                                .arg(m_location.machineLock);
            m_machineLock.reset();
        }
    }

    // Nobody answered: what is left at the name is a socket of a run that crashed.
    QLocalServer::removeServer(m_location.socket);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_location.socket)) {
        const QString why = m_server->errorString();
        m_server.reset();
        const QString note = QStringLiteral("The window cannot listen on %1 (%2): a second start will open a second "
                                            "window.")
                                 .arg(m_location.socket, why);
        claim.warning = claim.warning.isEmpty() ? note : claim.warning + u' ' + note;
        return claim;
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
    if (!serialised)
        claim.warning = QStringLiteral("Another start of Tavlo did not finish; this one went ahead.");
    return claim;
}

void WindowInstance::serve(QLocalSocket* socket) {
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    QObject::connect(idle, &QTimer::timeout, socket, &QLocalSocket::abort);
    idle->start(kIdleMs);
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    auto answered = std::make_shared<bool>(false);
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer, answered, idle] {
        if (*answered) {
            socket->readAll();
            return;
        }
        *buffer += socket->readAll();
        if (buffer->size() > kMaxLine) {
            socket->abort();
            return;
        }
        const qsizetype end = buffer->indexOf('\n');
        if (end < 0)
            return;
        *answered = true;
        idle->stop();
        const QJsonObject request = QJsonDocument::fromJson(buffer->left(end)).object();
        const QString command = request.value(QStringLiteral("command")).toString();
        const QString argument = request.value(QStringLiteral("argument")).toString();
        const Reply reply = [socket = QPointer<QLocalSocket>(socket)](bool ok, const QString& text) {
            if (!socket || socket->state() != QLocalSocket::ConnectedState)
                return;
            socket->write(line({{QStringLiteral("ok"), ok}, {QStringLiteral("text"), text}}));
            socket->disconnectFromServer(); // after what was written has gone out
        };
        if (command.isEmpty())
            reply(false, QStringLiteral("The request is not one of Tavlo's."));
        else if (!m_handlerSet)
            m_pending.push_back({command, argument, reply}); // the window is still being built
        else if (!m_handler)
            reply(false, QStringLiteral("The Tavlo window is closing."));
        else
            m_handler(command, argument, reply);
    });
}

void WindowInstance::setHandler(Handler handler) {
    m_handler = std::move(handler);
    m_handlerSet = true;
    std::vector<Pending> waiting;
    waiting.swap(m_pending);
    for (const Pending& request : waiting) {
        if (m_handler)
            m_handler(request.command, request.argument, request.reply);
        else
            request.reply(false, QStringLiteral("The Tavlo window is closing."));
    }
}

int WindowInstance::sendCommand(const QString& command, QTextStream& err) {
    QString error;
    const auto location = forThisUser(&error);
    if (!location) {
        err << "tavlo: " << error << '\n';
        return 1;
    }
    // Start may open the port and show a message that the user must answer first.
    const int replyMs = command == QLatin1String("start") ? 120000 : 15000;
    const Answer answer = ask(location->socket, command, QString(), replyMs);
    if (!answer.reached) {
        err << "tavlo: no Tavlo window is open for the user " << currentUserName();
        if (!location->machineLock.isEmpty()) {
            QLockFile lock(location->machineLock);
            qint64 pid = 0;
            QString host, application;
            if (lock.getLockInfo(&pid, &host, &application) && !fileOwner(location->machineLock).isEmpty())
                err << " (the window of the user " << fileOwner(location->machineLock)
                    << " has this computer's shared settings)";
        }
        err << '\n';
        return 1;
    }
    if (!answer.replied) {
        err << "tavlo: the Tavlo window did not answer\n";
        return 1;
    }
    if (!answer.ok) {
        err << "tavlo: " << answer.text << '\n';
        return 1;
    }
    if (!answer.text.isEmpty())
        err << "tavlo: " << answer.text << '\n';
    return 0;
}

} // namespace tavlo::util
