// What the MQTT output tells the user: the reasons of failed connections, the count of kept readings, the state
// line of the Start tab.
#include "output/MqttOutput.h"

#include "output/MqttJournal.h"

#include <MQTTAsync.h>

namespace tavlo::output {

QString MqttOutput::connectFailureText(int code, const char* message) {
    switch (code) {
    case 1:
        return QStringLiteral("the broker does not speak MQTT 3.1.1 (unacceptable protocol version)");
    case 2:
        return QStringLiteral("the broker refused the client id (identifier rejected)");
    case 3:
        return QStringLiteral("the broker is unavailable (server unavailable)");
    case 4:
        return QStringLiteral("bad user name or password");
    case 5:
        return QStringLiteral("not authorized");
    default:
        break;
    }
    if (message && *message) {
        const QString text = QString::fromUtf8(message);
        if (text == QLatin1String("TCP connect timeout"))
            return QStringLiteral("the broker did not answer within %1 s").arg(kConnectTimeoutS);
        // Paho says the one or the other depending on whether the refusal came at once or a moment later: one
        // reason, told once.
        if (text == QLatin1String("TCP connect completion failure") || text == QLatin1String("TCP/TLS connect failure"))
            return QStringLiteral("nothing answers at that address");
        return text;
    }
    return QString::fromUtf8(MQTTAsync_strerror(code));
}

void MqttOutput::logKept() {
    if (isConnected())
        return;
    const std::size_t waiting = backlog();
    if (waiting == m_keptShown)
        return;
    m_keptShown = waiting;
    m_keptLogged = Clock::now();
    m_reporter.info(QStringLiteral("MQTT: %1 kept for %2")
                        .arg(plural(static_cast<qint64>(waiting), "reading", "readings"), m_settings.broker.uri()));
}

QString MqttOutput::stateText() const {
    const QString broker = m_settings.broker.uri();
    const std::size_t waiting = backlog();
    const QString kept =
        waiting > 0 ? QStringLiteral("; %1 kept").arg(plural(static_cast<qint64>(waiting), "reading", "readings"))
                    : QString();
    const qint64 dropped = m_dropped.load();
    const QString lost = dropped > 0
                             ? QStringLiteral("; %1 dropped (backlog full)").arg(plural(dropped, "reading", "readings"))
                             : QString();
    std::lock_guard lock(m_mutex);
    switch (m_link) {
    case Link::Up:
        // While connected a few readings are always on their way; a count matters only while catching up.
        return QStringLiteral("MQTT: connected to %1%2%3").arg(broker, waiting >= kCatchingUp ? kept : QString(), lost);
    case Link::Connecting:
        return QStringLiteral("MQTT: connecting to %1%2%3").arg(broker, kept, lost);
    case Link::Down:
        break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(m_nextAttempt - Clock::now()).count();
    return QStringLiteral("MQTT: not connected to %1%2%3%4")
        .arg(broker, m_lastFailure.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m_lastFailure),
             left > 0 ? QStringLiteral("; next try in %1 s").arg(left) : QString(), kept + lost);
}

void MqttOutput::showState(bool force) {
    // A change of the connection shows at once; the count of kept readings, which changes with every reading
    // of a flood, a few times a second.
    const Clock::time_point now = Clock::now();
    const QString text = stateText();
    if (text == m_shownState)
        return;
    const bool sameLink = text.section(u';', 0, 0) == m_shownState.section(u';', 0, 0);
    if (!force && sameLink && now - m_lastState < std::chrono::milliseconds(250))
        return;
    m_lastState = now;
    m_shownState = text;
    m_reporter.state(text);
}

} // namespace tavlo::output
