// The MQTT output's connection: connecting again and again, the client library's callbacks, commands from the
// broker.
#include "output/MqttOutput.h"

#include "output/MqttJournal.h"

#include <MQTTAsync.h>
#include <QJsonDocument>
#include <QJsonObject>

namespace tavlo::output {

void MqttOutput::connect() {
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
    MQTTAsync_willOptions will = MQTTAsync_willOptions_initializer;
    MQTTAsync_SSLOptions ssl = MQTTAsync_SSLOptions_initializer;
    options.MQTTVersion = MQTTVERSION_3_1_1;
    options.keepAliveInterval = kKeepAliveS;
    options.connectTimeout = kConnectTimeoutS;
    // Every connection is a new session. What was in flight when a connection broke is sent again from the
    // journal by this output (see entryRemoved), not by the client library from its memory: after a write cut
    // short, the library repeated messages whose payload it had already freed, and the broker got garbage.
    options.cleansession = 1;
    options.maxInflight = m_window;
    will.topicName = m_statusTopic.constData();
    will.message = "offline";
    will.retained = 1;
    will.qos = 1;
    options.will = &will;
    if (!m_user.isEmpty())
        options.username = m_user.constData();
    if (!m_password.isEmpty()) {
        options.binarypwd.data = m_password.constData();
        options.binarypwd.len = static_cast<int>(m_password.size());
    }
    if (m_settings.broker.isTls()) {
        ssl.trustStore = m_caFile.isEmpty() ? nullptr : m_caFile.constData();
        ssl.enableServerCertAuth = 1;
        ssl.verify = 1;
        options.ssl = &ssl;
    }
    options.onSuccess = &MqttOutput::onConnected;
    options.onFailure = &MqttOutput::onConnectFailed;
    options.context = this;
    {
        std::lock_guard lock(m_mutex);
        m_link = Link::Connecting;
    }
    const int rc = MQTTAsync_connect(handle(m_client), &options);
    if (rc != MQTTASYNC_SUCCESS) {
        MQTTAsync_failureData failure{};
        failure.code = rc;
        failure.message = MQTTAsync_strerror(rc);
        onConnectFailed(this, &failure);
    }
}

void MqttOutput::onConnected(void* context, MQTTAsync_successData*) {
    auto* self = static_cast<MqttOutput*>(context);
    // A new session: whatever was in flight before, in this run or an earlier one, goes out again (the client
    // library has just dropped it, with the session, and the journal kept it).
    self->keepUnconfirmed();
    std::vector<std::pair<std::string, std::string>> dropped = self->m_journal->ownEntries();
    {
        std::lock_guard lock(self->m_mutex);
        self->m_resend = std::move(dropped);
        self->m_link = Link::Up;
        self->m_upEvent = true;
        self->m_pauseMs = kFirstPauseMs;
        self->m_lastFailure.clear();
        self->m_credentialsReported = false;
    }
    self->m_wake.notify_one();
}

void MqttOutput::connectionUp() {
    const std::size_t waiting = backlog();
    publishOnline();
    MQTTAsync_responseOptions response = MQTTAsync_responseOptions_initializer;
    response.context = this;
    response.onFailure = [](void* context, MQTTAsync_failureData* data) {
        auto* self = static_cast<MqttOutput*>(context);
        self->m_reporter.important(
            QStringLiteral("MQTT: commands cannot be received from %1: %2")
                .arg(self->m_settings.commandTopic,
                     connectFailureText(data ? data->code : -1, data ? data->message : nullptr)));
    };
    // Commands are taken only while connected (QoS 0): a tare that waited at the broker while Tavlo was away
    // would act on whatever lies on the pan by then.
    if (m_settings.commands)
        MQTTAsync_subscribe(handle(m_client), m_commandTopic.constData(), 0, &response);
    else
        MQTTAsync_unsubscribe(handle(m_client), m_commandTopic.constData(), nullptr);
    m_reporter.info(QStringLiteral("MQTT: connected to %1%2")
                        .arg(m_settings.broker.uri(),
                             waiting > 0 ? QStringLiteral("; sending the %1 kept")
                                               .arg(plural(static_cast<qint64>(waiting), "reading", "readings"))
                                         : QString()));
    m_keptShown = 0;
    if (const qint64 dropped = m_dropped.load(); dropped > m_droppedShown) {
        m_reporter.important(
            QStringLiteral("MQTT: %1 dropped while the backlog of %2 was full")
                .arg(plural(dropped - m_droppedShown, "reading was", "readings were"), QString::number(m_bufferLimit)));
        m_droppedShown = dropped;
    }
    showState(true);
}

void MqttOutput::onConnectFailed(void* context, MQTTAsync_failureData* data) {
    auto* self = static_cast<MqttOutput*>(context);
    const int code = data ? data->code : MQTTASYNC_FAILURE;
    const QString reason = connectFailureText(code, data ? data->message : nullptr);
    const bool credentials = code == 4 || code == 5;
    QString report;
    bool important = false;
    {
        std::lock_guard lock(self->m_mutex);
        self->m_link = Link::Down;
        const int pause = credentials ? kLongestPauseMs : self->m_pauseMs;
        self->m_nextAttempt = Clock::now() + std::chrono::milliseconds(pause);
        self->m_pauseMs = std::min(self->m_pauseMs * 2, kLongestPauseMs);
        if (credentials) {
            if (!self->m_credentialsReported) {
                report = QStringLiteral("MQTT: the broker %1 refused the connection: %2. Readings are kept; Tavlo "
                                        "tries again every %3 s.")
                             .arg(self->m_settings.broker.uri(), reason, QString::number(kLongestPauseMs / 1000));
                important = true;
            }
            self->m_credentialsReported = true;
        } else if (reason != self->m_lastFailure) {
            report = QStringLiteral("MQTT: no connection to %1: %2. Readings are kept; Tavlo tries again in %3 s, "
                                    "then less often (at most every %4 s).")
                         .arg(self->m_settings.broker.uri(), reason, QString::number(pause / 1000),
                              QString::number(kLongestPauseMs / 1000));
            important = true;
        }
        self->m_lastFailure = reason;
        self->m_linkEvent = true;
    }
    if (!report.isEmpty())
        (important ? self->m_reporter.important : self->m_reporter.info)(report);
    self->m_wake.notify_one();
}

void MqttOutput::onLost(void* context, char* cause) {
    auto* self = static_cast<MqttOutput*>(context);
    self->keepUnconfirmed();
    {
        std::lock_guard lock(self->m_mutex);
        if (self->m_closing)
            return;
        self->m_link = Link::Down;
        self->m_nextAttempt = Clock::now() + std::chrono::milliseconds(kFirstPauseMs);
        self->m_pauseMs = std::min(kFirstPauseMs * 2, kLongestPauseMs);
        self->m_lastFailure.clear();
        self->m_linkEvent = true;
    }
    self->m_reporter.important(
        QStringLiteral("MQTT: the connection to %1 was lost%2; readings are kept until it is "
                       "back")
            .arg(self->m_settings.broker.uri(),
                 cause && *cause ? QStringLiteral(" (%1)").arg(QString::fromUtf8(cause)) : QString()));
    self->m_wake.notify_one();
}

void MqttOutput::onDelivered(void* context, int token) {
    auto* self = static_cast<MqttOutput*>(context);
    {
        std::lock_guard lock(self->m_flightMutex);
        self->m_unconfirmed.erase(token);
    }
    // A full window has room again: the sending thread looks at the queue now, not in a second. (While the
    // window is not full, every new message wakes it by itself.)
    const std::size_t inFlight = self->m_journal->count("s-") + self->m_journal->count("sc-");
    if (inFlight + 1 < static_cast<std::size_t>(self->m_window) && !self->m_onlinePending.load())
        return;
    bool wake = false;
    {
        std::lock_guard lock(self->m_mutex);
        wake = !std::exchange(self->m_roomEvent, true);
    }
    if (wake)
        self->m_wake.notify_one();
}

int MqttOutput::onMessage(void* context, char* topic, int, MQTTAsync_message* message) {
    auto* self = static_cast<MqttOutput*>(context);
    const QByteArray text(static_cast<const char*>(message->payload), message->payloadlen);
    const bool retained = message->retained != 0;
    MQTTAsync_freeMessage(&message);
    MQTTAsync_free(topic);
    if (!self->m_settings.commands) {
        // The broker may still hold the subscription of an earlier run that took commands.
        if (!self->m_commandsOffReported.exchange(true))
            self->m_reporter.important(QStringLiteral("MQTT: a command on %1 was refused: commands from the broker "
                                                      "are off (Services tab)")
                                           .arg(self->m_settings.commandTopic));
        return 1;
    }
    if (retained) {
        self->m_reporter.important(QStringLiteral("MQTT: a retained command on %1 was refused; commands must not be "
                                                  "retained, or they would act again at every connection")
                                       .arg(self->m_settings.commandTopic));
        return 1;
    }
    self->carryOut(text);
    return 1;
}

void MqttOutput::carryOut(const QByteArray& text) {
    // A command is the word alone or, as on the reading service, {"command": "..."}.
    QString word = QString::fromUtf8(text).trimmed();
    if (word.startsWith(u'{')) {
        const QJsonDocument document = QJsonDocument::fromJson(text);
        word = document.isObject() ? document.object().value(QStringLiteral("command")).toString() : QString();
    }
    const auto command = config::commandFromName(word);
    if (!command) {
        QString shown = QString::fromUtf8(text.left(80)).simplified();
        m_reporter.important(QStringLiteral("MQTT: the command \"%1\" on %2 was refused: only request, tare and zero "
                                            "are carried out")
                                 .arg(shown, m_settings.commandTopic));
        return;
    }
    const Log important = m_reporter.important;
    const Log info = m_reporter.info;
    const QString name = config::commandName(*command);
    m_commands(*command, [important, info, name](bool ok, const QString& reason) {
        if (ok)
            info(QStringLiteral("MQTT: command %1 sent to the instrument").arg(name));
        else
            important(QStringLiteral("MQTT: the command %1 was not carried out: %2").arg(name, reason));
    });
}

void MqttOutput::onDisconnected(void* context, MQTTAsync_successData*) {
    auto* self = static_cast<MqttOutput*>(context);
    self->keepUnconfirmed();
    {
        std::lock_guard lock(self->m_mutex);
        self->m_disconnected = true;
        self->m_link = Link::Down;
    }
    self->m_wake.notify_one();
}

void MqttOutput::onDisconnectFailed(void* context, MQTTAsync_failureData*) {
    onDisconnected(context, nullptr);
}

} // namespace tavlo::output
