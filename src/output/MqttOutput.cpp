#include "output/MqttOutput.h"

#include "base/Exceptions.h"
#include "config/Config.h"
#include "output/MqttJournal.h"
#include "output/ReadingJson.h"
#include "worker/Acquisition.h"

#include <MQTTAsync.h>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <unistd.h>

namespace tavlo::output {

namespace {

// Set while the output's thread hands a message to the client: a buffered message that the client removes
// from the journal then is one that the full backlog pushed out (sending happens on the client's threads).
thread_local bool t_publishing = false;

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The message id of a journal key such as "s-17"; 0 when it has none.
int messageId(std::string_view key) {
    const std::size_t dash = key.find('-');
    if (dash == std::string_view::npos)
        return 0;
    int id = 0;
    for (const char c : key.substr(dash + 1)) {
        if (c < '0' || c > '9' || id > 100000)
            return 0;
        id = id * 10 + (c - '0');
    }
    return id;
}

} // namespace

bool MqttOutput::parsePublishPacket(QByteArrayView bytes, Packet* packet) {
    if (bytes.size() < 2 || (static_cast<unsigned char>(bytes[0]) >> 4) != 3)
        return false;
    const auto first = static_cast<unsigned char>(bytes[0]);
    packet->qos = (first >> 1) & 3;
    packet->retained = (first & 1) != 0;
    if (packet->qos > 2)
        return false;
    // The remaining length: up to four bytes of seven bits each, least significant first.
    qsizetype at = 1;
    qsizetype remaining = 0;
    for (int shift = 0;; shift += 7) {
        if (at >= bytes.size() || shift > 21)
            return false;
        const auto b = static_cast<unsigned char>(bytes[at++]);
        remaining |= static_cast<qsizetype>(b & 0x7f) << shift;
        if (!(b & 0x80))
            break;
    }
    if (remaining != bytes.size() - at || remaining < 2)
        return false;
    const qsizetype topicLength =
        (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
    at += 2;
    const qsizetype idLength = packet->qos > 0 ? 2 : 0;
    if (at + topicLength + idLength > bytes.size())
        return false;
    packet->topic = bytes.sliced(at, topicLength).toByteArray();
    at += topicLength + idLength;
    packet->payload = bytes.sliced(at).toByteArray();
    return true;
}

MqttOutput::MqttOutput(MqttSettings settings, worker::CommandSink commands, Reporter reporter)
    : m_settings(std::move(settings)), m_commands(std::move(commands)), m_reporter(std::move(reporter)) {
    const QString folder = m_settings.folder;
    if (!QDir().mkpath(folder))
        throw base::TavloException(QStringLiteral("The folder %1 for the readings that wait for the MQTT broker "
                                                  "cannot be made.")
                                       .arg(QDir::toNativeSeparators(folder)));
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // One run at a time per broker and station: two would share one journal and one session at the broker.
    const QByteArray lockPath = QFile::encodeName(QDir(folder).filePath(QStringLiteral("lock")));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0)
        throw base::TavloException(QStringLiteral("The MQTT folder %1 cannot be used: %2.")
                                       .arg(QDir::toNativeSeparators(folder), QString::fromLocal8Bit(strerror(errno))));
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        throw base::TavloException(
            QStringLiteral("Another Tavlo run publishes to %1 as the station \"%2\". Give each run its own "
                           "station name (Services tab, or \"station\" in the settings).")
                .arg(m_settings.broker.uri(), m_settings.station));
    }
    // Names the broker of this folder, for the report of backlogs left for another broker.
    if (QFile origin(QDir(folder).filePath(QStringLiteral("broker"))); origin.open(QIODevice::WriteOnly))
        origin.write((m_settings.broker.uri() + u'\n' + m_settings.station + u'\n').toUtf8());

    try {
        m_journal = std::make_unique<MqttJournal>(folder);
    } catch (...) {
        ::close(m_lockFd);
        m_lockFd = -1;
        throw;
    }
    m_journal->setRemoveObserver([this](std::string_view key, std::string_view data) { entryRemoved(key, data); });
    for (const auto& [key, data] : m_journal->ownEntries())
        m_ownCounter = std::max(m_ownCounter, std::strtoull(key.c_str() + MqttJournal::kOwnPrefix.size(), nullptr, 10));
    const std::size_t waiting = backlog();

    m_uri = m_settings.broker.uri().toUtf8();
    m_clientId = m_settings.clientId.toUtf8();
    m_user = m_settings.user.toUtf8();
    m_password = m_settings.password;
    m_caFile = QFile::encodeName(m_settings.caFile);
    m_statusTopic = m_settings.statusTopic.toUtf8();
    m_topic = m_settings.topic.toUtf8();
    m_commandTopic = m_settings.commandTopic.toUtf8();

    MQTTAsync_createOptions create = MQTTAsync_createOptions_initializer;
    create.MQTTVersion = MQTTVERSION_3_1_1;
    create.sendWhileDisconnected = 1;
    create.allowDisconnectedSendAtAnyTime = 1;
    // At QoS 1 and 2 the client numbers every buffered message with MQTT's 16-bit message id as it takes it, so
    // it can hold only as many as the ids leave beside those in flight.
    m_bufferLimit = m_settings.qos > 0 ? std::min(m_settings.backlog, kMaxBufferedWithIds) : m_settings.backlog;
    m_window = m_settings.qos == 2 ? kMaxInflightExactlyOnce : kMaxInflight;
    create.maxBufferedMessages = m_bufferLimit;
    create.deleteOldestMessages = 1;
    create.restoreMessages = 1;
    create.persistQoS0 = 1;
    MQTTAsync client = nullptr;
    const int rc = MQTTAsync_createWithOptions(&client, m_uri.constData(), m_clientId.constData(),
                                               MQTTCLIENT_PERSISTENCE_USER, m_journal->persistence(), &create);
    if (rc != MQTTASYNC_SUCCESS) {
        m_journal.reset();
        ::close(m_lockFd);
        m_lockFd = -1;
        throw base::TavloException(QStringLiteral("The MQTT client for %1 cannot be made: %2.")
                                       .arg(m_settings.broker.uri(), QString::fromUtf8(MQTTAsync_strerror(rc))));
    }
    m_client = client;
    MQTTAsync_setCallbacks(client, this, &MqttOutput::onLost, &MqttOutput::onMessage, &MqttOutput::onDelivered);
    // The client library has one sending thread for every client of the process. When the window of
    // unacknowledged messages is full it waits, and looks at its queue again only when a command is added or a
    // second has passed: a backlog would drain at one window a second. A client of our own that never connects
    // takes a command (one at most, kept in memory only) whenever a delivery opens the window.
    MQTTAsync_createOptions quiet = MQTTAsync_createOptions_initializer;
    quiet.MQTTVersion = MQTTVERSION_3_1_1;
    quiet.sendWhileDisconnected = 1;
    quiet.allowDisconnectedSendAtAnyTime = 1;
    quiet.maxBufferedMessages = 1;
    quiet.deleteOldestMessages = 1;
    MQTTAsync nudger = nullptr;
    if (MQTTAsync_createWithOptions(&nudger, "tcp://localhost:1", (m_clientId + "-wake").constData(),
                                    MQTTCLIENT_PERSISTENCE_NONE, nullptr, &quiet) == MQTTASYNC_SUCCESS)
        m_nudger = nudger;
    if (m_bufferLimit < m_settings.backlog)
        m_reporter.info(QStringLiteral("MQTT: at QoS %1 the backlog holds at most %2 readings (MQTT numbers each "
                                       "message with a 16-bit id), not the %3 set")
                            .arg(QString::number(m_settings.qos), QString::number(m_bufferLimit),
                                 QString::number(m_settings.backlog)));
    if (waiting > 0)
        m_reporter.info(QStringLiteral("MQTT: %1 kept by an earlier run go to %2 first")
                            .arg(plural(static_cast<qint64>(waiting), "reading", "readings"), m_settings.broker.uri()));
    m_thread = std::thread([this] { run(); });
}

MqttOutput::~MqttOutput() {
    close();
}

std::shared_ptr<MqttOutput> MqttOutput::create(const config::Config& config, worker::AcquisitionView& view,
                                               const worker::CommandSink& commands) {
    MqttSettings settings = MqttSettings::fromConfig(config, worker::Acquisition::stationName(config));
    worker::AcquisitionView* log = &view;
    Reporter reporter{[log](const QString& text) { log->logImportantEvent(text); },
                      [log](const QString& text) { log->logEvent(text); },
                      [log](const QString& text) { log->setOutputState(QStringLiteral("mqtt"), text); }};

    // Readings left for a broker that is no longer the one set wait in their own folders; say so, so that
    // they are not forgotten.
    const QDir all(MqttSettings::dataFolder());
    for (const QString& name : all.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString folder = all.filePath(name);
        if (QDir(folder) == QDir(settings.folder))
            continue;
        const std::size_t left = MqttJournal::countIn(folder, "c-") + MqttJournal::countIn(folder, "s-") +
                                 MqttJournal::countIn(folder, "sc-");
        if (left == 0)
            continue;
        QFile origin(QDir(folder).filePath(QStringLiteral("broker")));
        QStringList lines;
        if (origin.open(QIODevice::ReadOnly))
            lines = QString::fromUtf8(origin.readAll()).split(u'\n');
        const QString broker = lines.value(0).isEmpty() ? name : lines.value(0);
        const QString station = lines.value(1);
        reporter.important(QStringLiteral("MQTT: %1 kept for %2%3 wait in %4; they are sent when that broker "
                                          "and station are set again")
                               .arg(plural(static_cast<qint64>(left), "reading", "readings"), broker,
                                    station.isEmpty() ? QString() : QStringLiteral(" (station %1)").arg(station),
                                    QDir::toNativeSeparators(folder)));
    }

    auto output = std::make_shared<MqttOutput>(std::move(settings), commands, reporter);
    view.logEvent(
        QStringLiteral("MQTT: readings to %1 on %2 (QoS %3)%4")
            .arg(output->m_settings.broker.uri(), output->m_settings.topic, QString::number(output->m_settings.qos),
                 output->m_settings.commands ? QStringLiteral("; commands from ") + output->m_settings.commandTopic
                                             : QString()));
    return output;
}

std::size_t MqttOutput::backlog() const {
    if (!m_journal)
        return 0;
    return m_journal->count("c-") + m_journal->count("s-") + m_journal->count("sc-") +
           m_journal->count(MqttJournal::kOwnPrefix);
}

bool MqttOutput::isConnected() const {
    std::lock_guard lock(m_mutex);
    return m_link == Link::Up;
}

void MqttOutput::deliver(const std::shared_ptr<const worker::Reading>& reading) {
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_closing)
            return;
        m_intake.push_back(reading);
        wake = !std::exchange(m_wakePending, true);
    }
    if (wake)
        m_wake.notify_one();
}

void MqttOutput::close() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    for (void** client : {&m_client, &m_nudger}) {
        if (*client) {
            MQTTAsync c = handle(*client);
            MQTTAsync_destroy(&c);
            *client = nullptr;
        }
    }
    if (m_journal) {
        keepUnconfirmed();
        QString error;
        if (!m_journal->sync(&error))
            m_reporter.important(
                QStringLiteral("MQTT: the readings that wait for the broker may not all be kept: %1").arg(error));
        m_journal.reset();
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

void MqttOutput::run() {
    connect();
    // While the broker is away the count of kept readings goes to the log once the readings pause.
    std::optional<Clock::time_point> keptDue;
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto ready = [this, &keptDue] {
            const Clock::time_point now = Clock::now();
            return !m_intake.empty() || !m_resend.empty() || m_upEvent || m_roomEvent || m_linkEvent || m_closing ||
                   (m_link == Link::Down && now >= m_nextAttempt) || (keptDue && now >= *keptDue);
        };
        // The time to wait for is looked at after every wake-up: a connection attempt that fails while this
        // thread waits sets the next one.
        while (!ready()) {
            std::optional<Clock::time_point> deadline = keptDue;
            if (m_link == Link::Down && (!deadline || m_nextAttempt < *deadline))
                deadline = m_nextAttempt;
            if (deadline)
                m_wake.wait_until(lock, *deadline);
            else
                m_wake.wait(lock);
        }
        std::deque<std::shared_ptr<const worker::Reading>> intake;
        intake.swap(m_intake);
        std::vector<std::pair<std::string, std::string>> resend;
        resend.swap(m_resend);
        m_wakePending = false;
        const bool up = std::exchange(m_upEvent, false);
        const bool room = std::exchange(m_roomEvent, false);
        m_linkEvent = false; // the state line below shows it
        const bool closing = m_closing;
        const bool attempt = !closing && m_link == Link::Down && Clock::now() >= m_nextAttempt;
        lock.unlock();

        if (up)
            connectionUp();
        else if (room && m_onlinePending && isConnected())
            publishOnline();
        if (room)
            wakeSender();
        resendDropped(resend);
        for (const auto& reading : intake)
            publish(m_topic, readingJson(*reading), m_settings.qos, false);
        if (!intake.empty() || !resend.empty()) {
            // The batch is kept once the journal is on the disk.
            if (QString error; !m_journal->sync(&error) && m_journalFailures.fetch_add(1) == 0)
                m_reporter.important(
                    QStringLiteral("MQTT: readings cannot be kept on the disk for the broker: %1. They are sent "
                                   "while the connection lasts, but a restart would lose those not yet sent.")
                        .arg(error));
        }
        if (attempt)
            connect();
        const Clock::time_point now = Clock::now();
        if (!intake.empty() && !isConnected()) {
            // During a long flow the count also goes to the log every few seconds.
            if (now - m_keptLogged >= kKeptLogInterval)
                logKept();
            keptDue = now + kKeptSettle;
        } else if (keptDue && now >= *keptDue) {
            logKept();
            keptDue.reset();
        }
        showState();
        if (closing) {
            finish();
            return;
        }
        lock.lock();
    }
}

void MqttOutput::publish(const QByteArray& topic, const QByteArray& payload, int qos, bool retained) {
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<char*>(payload.constData());
    message.payloadlen = static_cast<int>(payload.size());
    message.qos = qos;
    message.retained = retained ? 1 : 0;
    t_publishing = true;
    const int rc = MQTTAsync_sendMessage(handle(m_client), topic.constData(), &message, nullptr);
    t_publishing = false;
    if (rc != MQTTASYNC_SUCCESS)
        m_reporter.important(QStringLiteral("MQTT: a message to %1 was not taken: %2")
                                 .arg(QString::fromUtf8(topic), QString::fromUtf8(MQTTAsync_strerror(rc))));
}

void MqttOutput::wakeSender() {
    if (!m_nudger || m_journal->count("c-") == 0)
        return;
    MQTTAsync_message wake = MQTTAsync_message_initializer;
    wake.payload = const_cast<char*>("w");
    wake.payloadlen = 1;
    MQTTAsync_sendMessage(handle(m_nudger), "tavlo/wake", &wake, nullptr);
}

void MqttOutput::publishOnline() {
    // A full backlog would drop its oldest reading to make room for the state: the state waits for room.
    const bool room = m_journal->count("c-") < static_cast<std::size_t>(m_bufferLimit);
    m_onlinePending = !room;
    if (room)
        publish(m_statusTopic, QByteArrayLiteral("online"), 1, true);
}

void MqttOutput::entryRemoved(std::string_view key, std::string_view data) {
    if (startsWith(key, "c-")) {
        if (t_publishing) {
            // The client made room in the full backlog by dropping its oldest message.
            if (m_dropped.fetch_add(1) == 0 && !m_dropReported.exchange(true))
                m_reporter.important(QStringLiteral("MQTT: the backlog of %1 readings for %2 is full; the oldest "
                                                    "are dropped to make room for new ones")
                                         .arg(QString::number(m_bufferLimit), m_settings.broker.uri()));
        }
        return;
    }
    // A message in flight leaves the client's entries when the broker acknowledged it (the client then reports
    // it delivered, at once and on the same thread) or when the client drops it with its session (a broken
    // connection, Stop; the session's callbacks follow). It is held here until one or the other is clear; one
    // dropped is kept in the journal as the output's own entry and goes out again at the next connection. (At
    // QoS 2 this also covers a message the broker has received but not yet released: sent again, a broker that
    // lost that state gets it once more.)
    if (!startsWith(key, "s-"))
        return;
    if (const int id = messageId(key); id != 0) {
        std::lock_guard lock(m_flightMutex);
        auto [at, added] = m_unconfirmed.try_emplace(id);
        if (!added)
            keepInJournal(at->second); // an earlier message with this id, still not reported delivered
        at->second.assign(data);
    }
}

void MqttOutput::keepInJournal(const std::string& packet) {
    m_journal->keep(std::string(MqttJournal::kOwnPrefix) + std::to_string(++m_ownCounter), packet);
}

void MqttOutput::keepUnconfirmed() {
    // Called once the client has ended a session (its callbacks for the connection come after it): what left the
    // client's entries without being reported delivered was dropped with the session.
    std::lock_guard lock(m_flightMutex);
    for (const auto& [id, packet] : m_unconfirmed)
        keepInJournal(packet);
    m_unconfirmed.clear();
}

void MqttOutput::resendDropped(const std::vector<std::pair<std::string, std::string>>& dropped) {
    for (const auto& [key, bytes] : dropped) {
        Packet packet;
        if (parsePublishPacket(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), &packet))
            publish(packet.topic, packet.payload, packet.qos, packet.retained);
        // Kept by the client now (or not a message at all).
        m_journal->discard(key);
    }
}

void MqttOutput::finish() {
    bool up = false;
    bool fresh = false;
    std::vector<std::pair<std::string, std::string>> resend;
    {
        std::unique_lock lock(m_mutex);
        const bool retry = m_link == Link::Down && !m_credentialsReported;
        if (retry) {
            lock.unlock();
            connect();
            lock.lock();
        }
        if (m_link == Link::Connecting)
            m_wake.wait_for(lock, kCloseConnectWait, [this] { return m_link != Link::Connecting; });
        up = m_link == Link::Up;
        fresh = std::exchange(m_upEvent, false);
        resend.swap(m_resend);
    }
    if (up && fresh)
        connectionUp();
    resendDropped(resend);
    if (up) {
        // Without room in the backlog the state is left out rather than a reading.
        if (m_journal->count("c-") < static_cast<std::size_t>(m_bufferLimit))
            publish(m_statusTopic, QByteArrayLiteral("offline"), 1, true);
        m_journal->sync();
        // The broker takes what is left while it keeps making progress.
        std::size_t left = backlog();
        Clock::time_point progress = Clock::now();
        while (left > 0) {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_link != Link::Up || m_roomEvent; });
            if (m_link != Link::Up)
                break;
            const bool room = std::exchange(m_roomEvent, false);
            m_linkEvent = false; // the state line below shows it
            lock.unlock();
            if (room)
                wakeSender();
            const std::size_t now = backlog();
            if (now < left) {
                left = now;
                progress = Clock::now();
            } else if (Clock::now() - progress > std::chrono::milliseconds(kCloseIdleMs)) {
                break;
            }
        }
        MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
        options.timeout = 1000;
        options.onSuccess = &MqttOutput::onDisconnected;
        options.onFailure = &MqttOutput::onDisconnectFailed;
        options.context = this;
        if (MQTTAsync_disconnect(handle(m_client), &options) == MQTTASYNC_SUCCESS) {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::seconds(3), [this] { return m_disconnected; });
        }
    } else {
        MQTTAsync_disconnect(handle(m_client), nullptr);
    }
    m_journal->sync();
    const std::size_t left = backlog();
    if (const qint64 dropped = m_dropped.load(); dropped > m_droppedShown)
        m_reporter.important(
            QStringLiteral("MQTT: %1 dropped this run while the backlog of %2 was full")
                .arg(plural(dropped - m_droppedShown, "reading was", "readings were"), QString::number(m_bufferLimit)));
    if (left > 0)
        m_reporter.info(QStringLiteral("MQTT: %1 kept for %2 wait for the next Start")
                            .arg(plural(static_cast<qint64>(left), "reading", "readings"), m_settings.broker.uri()));
    m_reporter.state(left > 0
                         ? QStringLiteral("MQTT: stopped; %1 kept for %2")
                               .arg(plural(static_cast<qint64>(left), "reading", "readings"), m_settings.broker.uri())
                         : QStringLiteral("MQTT: stopped; every reading reached %1").arg(m_settings.broker.uri()));
}

} // namespace tavlo::output
