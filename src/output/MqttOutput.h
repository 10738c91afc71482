#pragma once

#include "output/MqttSettings.h"
#include "worker/AcquisitionView.h"
#include "worker/ReadingOutput.h"

#include <MQTTAsync.h>
#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tavlo::output {

class MqttJournal;

// Every reading to an MQTT broker, with nothing lost while the broker or the network is away: each reading is
// handed to the Paho client, which keeps what it cannot send yet in a journal on disk (synced before a reading
// counts as kept), sends it in order once connected, and also after Tavlo was stopped and started again. The
// output connects by itself, again and again with a growing pause, from the first attempt on. A retained
// status topic says online / offline (the last will says offline when Tavlo dies). With commands on, request,
// tare and zero from the broker go to the run like the window's buttons.
//
// deliver() only queues. The output's own thread hands the readings to the client and syncs the journal once
// per batch (so a flood costs one disk sync per batch, not per reading) and times the reconnections; Paho's
// threads send and receive. (MqttOutputConnection.cpp: connecting and the client's callbacks;
// MqttOutputReport.cpp: what the user is told.)
class MqttOutput : public worker::ReadingOutput {
public:
    using Log = std::function<void(const QString& text)>;
    struct Reporter {
        Log important; // any thread
        Log info;      // any thread
        Log state;     // the connection state for the Start tab; any thread
    };

    static constexpr int kFirstPauseMs = 1000;
    static constexpr int kLongestPauseMs = 30000;
    // How long Stop waits for the broker to take what is left, counted from the last progress.
    static constexpr int kCloseIdleMs = 3000;

    // Opens the journal (readings left by an earlier run are sent first) and starts connecting. Throws
    // base::TavloException with the reason when the journal cannot be used or another run of this user
    // publishes to the same broker as the same station.
    MqttOutput(MqttSettings settings, worker::CommandSink commands, Reporter reporter);
    ~MqttOutput() override;
    MqttOutput(const MqttOutput&) = delete;
    MqttOutput& operator=(const MqttOutput&) = delete;

    // The output of a run's settings; the backlogs left for other brokers are reported on the view.
    static std::shared_ptr<MqttOutput> create(const config::Config& config, worker::AcquisitionView& view,
                                              const worker::CommandSink& commands);

    void deliver(const std::shared_ptr<const worker::Reading>& reading) override;
    // Hands on what is queued, publishes offline, waits while the broker takes the backlog (at most
    // kCloseIdleMs without progress), disconnects and ends the thread. What the broker did not take stays in the
    // journal for the next Start.
    void close() override;

    // Readings kept on disk and not yet taken by the broker (status messages included).
    std::size_t backlog() const;
    bool isConnected() const;
    // Readings that the full backlog pushed out, this run.
    qint64 dropped() const { return m_dropped.load(); }

    // The topic, payload, QoS and retained flag of a PUBLISH packet as the client keeps it in flight; false when
    // the bytes are not one.
    struct Packet {
        QByteArray topic;
        QByteArray payload;
        int qos = 0;
        bool retained = false;
    };
    static bool parsePublishPacket(QByteArrayView bytes, Packet* packet);

    // The reason of a refused or failed connection as the user reads it.
    static QString connectFailureText(int code, const char* message);

private:
    enum class Link { Down, Connecting, Up };
    using Clock = std::chrono::steady_clock;

    // Messages sent and not yet acknowledged at most, at QoS 1: enough to keep a flood moving through the round
    // trips to the broker, few enough for the client, which searches them for a free message id with every new
    // message (128: 8,000 readings a second here; 32 and 1,000 were slower). The client never sends them again
    // itself: every connection is a new session.
    static constexpr int kMaxInflight = 128;
    // At QoS 2 a message whose release the broker took just before the connection broke cannot be told from one
    // it did not take; it is sent again, so the window is as small as can be: one such message at most.
    static constexpr int kMaxInflightExactlyOnce = 1;
    // Message ids are 16 bits: the buffered messages and those in flight share 65,535 of them.
    static constexpr int kMaxBufferedWithIds = 64000;
    static_assert(kMaxBufferedWithIds + kMaxInflight < 65535);
    // Readings waiting while connected that make the state say how many are left.
    static constexpr std::size_t kCatchingUp = 100;
    // While not connected, the count of kept readings goes to the log when the readings pause this long, and
    // during a long flow at most this often.
    static constexpr auto kKeptSettle = std::chrono::seconds(1);
    static constexpr auto kKeptLogInterval = std::chrono::seconds(10);
    // At Stop without a connection, one more attempt waits this long: a broker that has just come back takes the
    // readings now instead of at the next Start.
    static constexpr auto kCloseConnectWait = std::chrono::seconds(3);
    static constexpr int kKeepAliveS = 10;
    static constexpr int kConnectTimeoutS = 10;

    static MQTTAsync handle(void* client) { return static_cast<MQTTAsync>(client); }
    // "1 reading", "2 readings".
    static QString plural(qint64 n, const char* one, const char* many) {
        return QString::number(n) + u' ' + QLatin1String(n == 1 ? one : many);
    }

    static void onConnected(void* context, MQTTAsync_successData* data);
    static void onConnectFailed(void* context, MQTTAsync_failureData* data);
    static void onLost(void* context, char* cause);
    static int onMessage(void* context, char* topic, int topicLength, MQTTAsync_message* message);
    static void onDelivered(void* context, int token);
    static void onDisconnected(void* context, MQTTAsync_successData* data);
    static void onDisconnectFailed(void* context, MQTTAsync_failureData* data);

    void run();
    void connect();
    void connectionUp();
    void finish();
    // Hands one message to the client; readings are tracked so that a lost session sends them again.
    void publish(const QByteArray& topic, const QByteArray& payload, int qos, bool retained);
    void entryRemoved(std::string_view key, std::string_view data);
    void resendDropped(const std::vector<std::pair<std::string, std::string>>& dropped);
    void keepInJournal(const std::string& packet);
    void keepUnconfirmed();
    void carryOut(const QByteArray& text);
    void showState(bool force = false);
    void logKept();
    // Publishes the retained "online", or arranges it for when the full backlog has room.
    void publishOnline();
    // Has the client's sending thread look at its queue now (see the constructor).
    void wakeSender();
    QString stateText() const;

    MqttSettings m_settings;
    worker::CommandSink m_commands;
    Reporter m_reporter;
    std::unique_ptr<MqttJournal> m_journal;
    int m_lockFd = -1;
    int m_bufferLimit = 0;    // readings the client buffers at most (the setting, within the message ids)
    int m_window = 0;         // messages in flight at most
    void* m_client = nullptr; // MQTTAsync
    void* m_nudger = nullptr; // MQTTAsync that never connects (see the constructor)
    // Kept for the client, which reads them at each connection.
    QByteArray m_uri, m_clientId, m_user, m_password, m_caFile, m_statusTopic, m_topic, m_commandTopic;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<const worker::Reading>> m_intake;
    // Messages that were in flight when their session ended (journal key, PUBLISH packet), to send again.
    std::vector<std::pair<std::string, std::string>> m_resend;
    bool m_wakePending = false;
    bool m_closing = false;
    bool m_upEvent = false;   // the connection came up: the thread publishes online and subscribes
    bool m_roomEvent = false; // a message was delivered: the window and the backlog have room
    bool m_linkEvent = false; // a connection failed or was lost: the state line says so
    std::atomic<bool> m_onlinePending{false};
    bool m_disconnected = false;
    Link m_link = Link::Down;
    Clock::time_point m_nextAttempt{};
    int m_pauseMs = kFirstPauseMs;
    QString m_lastFailure;
    bool m_wasUp = false;
    bool m_credentialsReported = false;
    Clock::time_point m_lastState{};
    QString m_shownState;
    std::size_t m_keptShown = 0;
    Clock::time_point m_keptLogged{};

    // The packet of each message that left the client's in-flight entries, by message id, until the client
    // reports it delivered (at once, on the same thread, when the broker acknowledged it); what is left when a
    // session ends is kept in the journal as the output's own entry and sent again (see entryRemoved).
    std::mutex m_flightMutex;
    std::unordered_map<int, std::string> m_unconfirmed;
    unsigned long long m_ownCounter = 0;

    std::atomic<qint64> m_dropped{0};
    std::atomic<bool> m_dropReported{false};
    std::atomic<bool> m_commandsOffReported{false};
    std::atomic<qint64> m_journalFailures{0};
    qint64 m_droppedShown = 0;
    std::thread m_thread;
};

} // namespace tavlo::output
