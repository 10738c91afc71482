#pragma once

#include "worker/AcquisitionView.h"
#include "worker/ReadingOutput.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QEventLoop;
class QThread;

namespace tavlo::config {
class Config;
}

namespace tavlo::output {

class ReadingServer;

// The local reading service, from Start to Stop: a WebSocket at /readings that pushes every reading and status
// event as JSON and takes commands, GET /reading, and POST /command, on 127.0.0.1 and ::1 only. Its network
// side runs on a thread of its own with an event loop; deliver() only queues, so that neither the worker nor
// typing waits for a client. Commands go to the run through the command sink, to the GUI thread.
class ReadingService : public worker::ReadingOutput {
public:
    using Log = std::function<void(const QString& text)>;

    struct Settings {
        int port = 0; // 0: any free port (the same on both addresses)
        QList<QByteArray> origins;
        QString token;
    };

    // Readings waiting for the service's thread at most; a service that falls this far behind leaves readings
    // out (reported once) rather than growing without bound.
    static constexpr std::size_t kIntakeLimit = 100000;
    // Readings sent per turn of the service's event loop, so that the sockets are served between them.
    static constexpr std::size_t kBatch = 1024;
    // Readings that come within this time of the last send wait for the end of it and go out together: a flood
    // costs one write per client per millisecond instead of one per reading, while a reading at an instrument's
    // pace goes out at once.
    static constexpr int kGatherUs = 1000;

    // Starts the thread and listens. Throws base::TavloException with the reason when it cannot.
    ReadingService(Settings settings, worker::CommandSink commands, Log important, Log info);
    ~ReadingService() override;
    ReadingService(const ReadingService&) = delete;
    ReadingService& operator=(const ReadingService&) = delete;

    // The service of a run's settings: the origins checked, the user's token (made when there is none).
    // Throws base::TavloException when the settings cannot be used.
    static std::shared_ptr<ReadingService> create(const config::Config& config, worker::AcquisitionView& view,
                                                  const worker::CommandSink& commands);

    void deliver(const std::shared_ptr<const worker::Reading>& reading) override;
    void deliverStatus(const worker::StatusEvent& event) override;
    // Sends what is queued, closes every connection cleanly (a client that does not read is cut after a
    // second) and ends the thread.
    void close() override;

    int port() const { return m_port; }

private:
    struct Item {
        std::shared_ptr<const worker::Reading> reading; // null: a status event
        worker::StatusEvent status;
    };
    struct Intake {
        std::mutex mutex;
        std::deque<Item> items;
        bool wakePending = false;
        bool closed = false;
        qint64 dropped = 0;
        // The service's thread only: when it last sent, and whether a later send is already arranged.
        std::chrono::steady_clock::time_point lastSend{};
        bool sendArranged = false;
    };

    void push(Item item);
    // On the service's thread: sends up to kBatch (all: every queued item) and asks for the next turn.
    static void drain(ReadingServer* server, const std::shared_ptr<Intake>& intake, bool all);

    std::shared_ptr<Intake> m_intake = std::make_shared<Intake>();
    // False once close() began; read on the GUI thread by the commands' outcomes.
    std::shared_ptr<std::atomic<bool>> m_open = std::make_shared<std::atomic<bool>>(true);
    std::unique_ptr<QThread> m_thread;
    ReadingServer* m_server = nullptr; // lives on m_thread until it ends
    QEventLoop* m_loop = nullptr;
    int m_port = 0;
};

} // namespace tavlo::output
