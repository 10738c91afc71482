#pragma once

// The MQTT run's peers for the end-to-end benchmark: a Mosquitto of its own on a free loopback port (anonymous,
// no persistence, queues without limit), and a subscriber (the Paho C client) that notes the value of every
// reading and when it arrived.
#include <MQTTAsync.h>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace tavlo::bench {

using MqttClock = std::chrono::steady_clock;

class Mosquitto {
public:
    explicit Mosquitto(const QTemporaryDir& dir) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        const QString conf = dir.filePath("bench-mosquitto.conf");
        QFile f(conf);
        if (!f.open(QIODevice::WriteOnly))
            return;
        f.write("listener " + QByteArray::number(m_port) +
                " 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 0\n"
                "max_inflight_messages 100\nlog_type error\n");
        if (::geteuid() == 0)
            f.write("user root\n"); // as root it would become a user who cannot read the folder
        f.close();
        QString program = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"});
        m_process.start(program, {"-c", conf});
        m_process.waitForStarted(5000);
        for (int i = 0; i < 200 && m_process.state() == QProcess::Running; ++i) {
            QTcpSocket probeClient;
            probeClient.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
            if (probeClient.waitForConnected(50)) {
                m_running = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    ~Mosquitto() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool running() const { return m_running; }
    int port() const { return m_port; }
    QString url() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port); }

private:
    QProcess m_process;
    int m_port = 0;
    bool m_running = false;
};

// Subscribes to a topic at QoS 1 and counts the distinct values ("value":"N") it receives.
class MqttSubscriber {
public:
    MqttSubscriber(int port, const char* topic) {
        const QByteArray uri = "tcp://127.0.0.1:" + QByteArray::number(port);
        if (MQTTAsync_create(&m_client, uri.constData(), "bench-subscriber", MQTTCLIENT_PERSISTENCE_NONE, nullptr) !=
            MQTTASYNC_SUCCESS)
            return;
        MQTTAsync_setCallbacks(m_client, this, nullptr, &MqttSubscriber::arrived, nullptr);
        MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
        options.cleansession = 1;
        options.context = this;
        options.onSuccess = [](void* context, MQTTAsync_successData*) {
            auto* self = static_cast<MqttSubscriber*>(context);
            MQTTAsync_responseOptions response = MQTTAsync_responseOptions_initializer;
            response.context = self;
            response.onSuccess = [](void* c, MQTTAsync_successData*) { static_cast<MqttSubscriber*>(c)->ready(); };
            MQTTAsync_subscribe(self->m_client, self->m_topic.constData(), 1, &response);
        };
        m_topic = topic;
        MQTTAsync_connect(m_client, &options);
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::seconds(10), [this] { return m_subscribed; });
    }
    ~MqttSubscriber() {
        if (m_client) {
            MQTTAsync_disconnect(m_client, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            MQTTAsync_destroy(&m_client);
        }
    }
    bool subscribed() {
        std::lock_guard lock(m_mutex);
        return m_subscribed;
    }
    void reset() {
        std::lock_guard lock(m_mutex);
        m_values.clear();
        m_last = {};
    }
    long received() {
        std::lock_guard lock(m_mutex);
        return static_cast<long>(m_values.size());
    }
    MqttClock::time_point lastArrival() {
        std::lock_guard lock(m_mutex);
        return m_last;
    }
    // Until the value has arrived (its arrival time in *at), at most `timeout`.
    bool waitFor(long value, std::chrono::milliseconds timeout, MqttClock::time_point* at) {
        std::unique_lock lock(m_mutex);
        if (!m_wake.wait_for(lock, timeout, [&] { return m_values.count(value) > 0; }))
            return false;
        *at = m_arrivals[value];
        return true;
    }

private:
    void ready() {
        {
            std::lock_guard lock(m_mutex);
            m_subscribed = true;
        }
        m_wake.notify_all();
    }
    static int arrived(void* context, char* topic, int, MQTTAsync_message* message) {
        auto* self = static_cast<MqttSubscriber*>(context);
        const auto now = MqttClock::now();
        const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
        MQTTAsync_freeMessage(&message);
        MQTTAsync_free(topic);
        const qsizetype at = payload.indexOf("\"value\":\"");
        if (at < 0)
            return 1;
        const long value = payload.mid(at + 9, payload.indexOf('"', at + 9) - at - 9).toLong();
        {
            std::lock_guard lock(self->m_mutex);
            if (self->m_values.insert(value).second) {
                self->m_arrivals[value] = now;
                self->m_last = now;
            }
        }
        self->m_wake.notify_all();
        return 1;
    }

    MQTTAsync m_client = nullptr;
    QByteArray m_topic;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_subscribed = false;
    std::unordered_set<long> m_values;
    std::unordered_map<long, MqttClock::time_point> m_arrivals;
    MqttClock::time_point m_last{};
};

} // namespace tavlo::bench
