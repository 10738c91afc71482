#include "output/ReadingService.h"

#include "base/Exceptions.h"
#include "config/Config.h"
#include "output/ReadingJson.h"
#include "output/ReadingServer.h"
#include "output/ReadingServiceToken.h"
#include "output/ServiceAccess.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <future>

namespace tavlo::output {

namespace {

struct Started {
    ReadingServer* server = nullptr;
    QEventLoop* loop = nullptr;
    int port = 0;
    QString error;
};

} // namespace

ReadingService::ReadingService(Settings settings, worker::CommandSink commands, Log important, Log info) {
    std::promise<Started> started;
    std::future<Started> result = started.get_future();
    const std::shared_ptr<std::atomic<bool>> open = m_open;
    m_thread.reset(
        QThread::create([settings = std::move(settings), commands = std::move(commands),
                         important = std::move(important), info = std::move(info), open, &started]() mutable {
            QEventLoop loop;
            ReadingServer* self = nullptr;
            // A command goes to the run; its outcome comes back to this thread as long as the service is open
            // (both are decided on the GUI thread, so a late outcome finds the service closed, never half gone).
            const ReadingServer::CommandRunner runner = [commands, open, &self](config::InstrumentCommand command,
                                                                                quint64 id) {
                ReadingServer* server = self;
                commands(command, [server, open, id](bool ok, const QString& reason) {
                    if (open->load())
                        QMetaObject::invokeMethod(
                            server, [server, id, ok, reason] { server->commandDone(id, ok, reason); },
                            Qt::QueuedConnection);
                });
            };
            ReadingServer server(ServiceAccess(settings.port, settings.origins, settings.token.toLatin1()), runner,
                                 important, info);
            self = &server;
            Started outcome;
            if (server.listen(&outcome.error)) {
                outcome.server = &server;
                outcome.loop = &loop;
                outcome.port = server.port();
            }
            const bool ok = outcome.server != nullptr;
            started.set_value(std::move(outcome));
            if (ok)
                loop.exec();
        }));
    m_thread->setObjectName(QStringLiteral("reading service"));
    m_thread->start();
    Started outcome = result.get();
    if (!outcome.server) {
        m_thread->wait();
        m_intake->closed = true;
        throw base::TavloException(outcome.error);
    }
    m_server = outcome.server;
    m_loop = outcome.loop;
    m_port = outcome.port;
}

ReadingService::~ReadingService() {
    close();
}

std::shared_ptr<ReadingService> ReadingService::create(const config::Config& config, worker::AcquisitionView& view,
                                                       const worker::CommandSink& commands) {
    Settings settings;
    settings.port = config.readingServicePort;
    QString reason;
    if (!ServiceAccess::parseOrigins(config.readingServiceOrigins, &settings.origins, &reason))
        throw base::TavloException(reason);
    QString warning;
    settings.token = ReadingServiceToken::loadOrCreate(&reason, &warning);
    if (settings.token.isEmpty())
        throw base::TavloException(reason);
    if (!warning.isEmpty())
        view.logImportantEvent(warning);
    worker::AcquisitionView* log = &view;
    auto service = std::make_shared<ReadingService>(
        std::move(settings), commands, [log](const QString& text) { log->logImportantEvent(text); },
        [log](const QString& text) { log->logEvent(text); });
    const QString port = QString::number(service->port());
    view.logEvent(
        QStringLiteral("Reading service: ws://localhost:%1/readings, http://localhost:%1/reading and "
                       "/command, on 127.0.0.1 and [::1] only%2")
            .arg(port, config.readingServiceOrigins.trimmed().isEmpty()
                           ? QStringLiteral("; no web page may use it (no origins listed)")
                           : QStringLiteral("; for the pages of ") + config.readingServiceOrigins.simplified()));
    return service;
}

void ReadingService::push(Item item) {
    bool wake = false;
    {
        std::lock_guard lock(m_intake->mutex);
        if (m_intake->closed)
            return;
        if (m_intake->items.size() >= kIntakeLimit) {
            ++m_intake->dropped;
            return;
        }
        m_intake->items.push_back(std::move(item));
        wake = !std::exchange(m_intake->wakePending, true);
    }
    // One wake-up for everything that arrives until the service's thread has taken the queue.
    if (wake) {
        ReadingServer* server = m_server;
        const std::shared_ptr<Intake> intake = m_intake;
        QMetaObject::invokeMethod(
            server, [server, intake] { drain(server, intake, false); }, Qt::QueuedConnection);
    }
}

void ReadingService::deliver(const std::shared_ptr<const worker::Reading>& reading) {
    push(Item{reading, {}});
}

void ReadingService::deliverStatus(const worker::StatusEvent& event) {
    push(Item{nullptr, event});
}

void ReadingService::drain(ReadingServer* server, const std::shared_ptr<Intake>& intake, bool all) {
    using namespace std::chrono;
    for (;;) {
        std::deque<Item> batch;
        qint64 dropped = 0;
        const auto now = steady_clock::now();
        const auto sinceSend = now - intake->lastSend;
        {
            std::lock_guard lock(intake->mutex);
            if (intake->items.empty()) {
                intake->wakePending = false;
            } else if (!all && sinceSend < microseconds(kGatherUs)) {
                // Sent a moment ago: what comes now waits for the rest of the moment (no further wake-ups are
                // asked for meanwhile, since one is pending).
                if (!intake->sendArranged) {
                    intake->sendArranged = true;
                    const auto wait = duration_cast<milliseconds>(microseconds(kGatherUs) - sinceSend);
                    QTimer::singleShot(std::max<milliseconds>(wait, milliseconds(1)), Qt::PreciseTimer, server,
                                       [server, intake] {
                                           intake->sendArranged = false;
                                           drain(server, intake, false);
                                       });
                }
                return;
            } else if (all || intake->items.size() <= kBatch) {
                batch.swap(intake->items);
            } else {
                const auto end = intake->items.begin() + static_cast<std::ptrdiff_t>(kBatch);
                batch.assign(std::make_move_iterator(intake->items.begin()), std::make_move_iterator(end));
                intake->items.erase(intake->items.begin(), end);
            }
            dropped = std::exchange(intake->dropped, 0);
        }
        server->noteDropped(dropped);
        if (batch.empty())
            return;
        // Each message is made once, and the whole batch is one write per client.
        QByteArray frames;
        frames.reserve(static_cast<qsizetype>(batch.size()) * 400);
        QByteArray last;
        for (const Item& item : batch) {
            const QByteArray json = item.reading ? readingJson(*item.reading) : statusJson(item.status);
            ReadingServer::appendTextFrame(frames, json);
            if (item.reading)
                last = json;
        }
        server->broadcast(frames, last);
        intake->lastSend = now;
        if (!all) {
            // What came meanwhile is sent at the next turn, after the sockets' own events.
            QMetaObject::invokeMethod(
                server, [server, intake] { drain(server, intake, false); }, Qt::QueuedConnection);
            return;
        }
    }
}

void ReadingService::close() {
    {
        std::lock_guard lock(m_intake->mutex);
        if (m_intake->closed && !m_server)
            return;
        m_intake->closed = true;
    }
    if (!m_server)
        return;
    m_open->store(false);
    ReadingServer* server = std::exchange(m_server, nullptr);
    QEventLoop* loop = m_loop;
    const std::shared_ptr<Intake> intake = m_intake;
    QMetaObject::invokeMethod(
        server,
        [server, loop, intake] {
            drain(server, intake, true);
            server->shutdown([loop] { loop->quit(); });
        },
        Qt::QueuedConnection);
    m_thread->wait();
}

} // namespace tavlo::output
