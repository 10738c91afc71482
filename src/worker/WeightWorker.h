#pragma once

#include "config/Config.h"
#include "worker/BackgroundTask.h"
#include "worker/DataLine.h"
#include "worker/WeightWorkerView.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace serial {
class SerialConfig;
class SerialIoError;
class SerialPortLocal;
} // namespace serial

namespace tavlo::base {
class ResourceBundle;
}

namespace tavlo::worker {

class ByteSource;
class RecordProcessor;
class WakePipe;

// One connection to an instrument: the constructor opens and prepares the port on the GUI thread, the body
// reads it byte by byte, cuts the stream into records at the input terminator and hands each processed record
// to the view; done() reports how the run ended and closes the port. The result is the number of records
// framed. Create it with std::make_shared, start it with execute(), stop it with cancel(true).
class WeightWorker : public BackgroundTask<int, DataLine> {
public:
    // A record buffer holds at most this many bytes; a record that would grow past it is dropped up to and
    // including its terminator.
    static constexpr qsizetype kMaxRecordBytes = 65536;
    // Records handed to the GUI thread and not yet processed there; beyond this the worker leaves further bytes
    // in the port's buffer for a moment, so that a flood the window cannot keep up with does not grow memory
    // without bound.
    static constexpr qsizetype kMaxBacklog = 4096;
    // Pause between attempts to reopen a port that failed while reading.
    static constexpr int kReopenIntervalMs = 1000;
    // How long one wait for bytes lasts: a serial read waiting in the native library, or a network source's
    // wait. A byte, Stop (which closes the port or wakes the wait) and a request (written by a thread of its own)
    // never wait for it; it only sets how often an idle worker wakes.
    static constexpr int kReceiveTimeoutMs = 750;
    // The longest a connection attempt to a network instrument lasts.
    static constexpr int kConnectTimeoutMs = 3000;

    // Opens and prepares the port; throws when no port is configured or the port layer fails, and then leaves
    // the port closed and the view disconnected. The worker keeps its own copy of the settings.
    WeightWorker(WeightWorkerView& view, const config::Config& config);
    ~WeightWorker() override;

    // Opens a port with that configuration; a failure after the native open (configuring it) closes it again
    // before the failure passes on, so that a failed open never leaves the port locked.
    static std::unique_ptr<serial::SerialPortLocal> openPort(const serial::SerialConfig& config);
    // The port configuration of a settings record: its port name, bit rate, data bits, parity and stop bits.
    static serial::SerialConfig portConfig(const config::Config& config);
    // "Error [WW]: " with the failure's class name (without namespace), ": " and its message.
    static QString failureText(const std::exception& failure);
    // The worker message table.
    static const base::ResourceBundle& resourceBundle();

    const config::Config& config() const { return m_config; }

    // Queues a request text (an instrument's data command) for the worker's writer thread, which sends it at
    // once, beside the read that waits for the answer. Callable from any thread; never waits for the port.
    void requestData(const QByteArray& text);

    // Keeps whatever the view needs alive as long as the worker (set before execute()).
    void keepViewAlive(std::shared_ptr<void> keep) { m_viewKeepAlive = std::move(keep); }
    // True when the port is a network address rather than a serial port.
    bool isNetwork() const;
    // The receive timeout the worker gives its port: kReceiveTimeoutMs where the native library waits by itself,
    // 0 where the port layer would emulate the wait by spinning (the worker then polls with short sleeps).
    static int receiveTimeoutMs();

protected:
    int doInBackground() override;
    void process(const QList<DataLine>& chunks) override;
    void done() override;

    // The texts logged when the port reports a line error on a received byte.
    virtual QString parityErrorText() const;
    virtual QString framingErrorText() const;
    // Puts the output lines into the state of a running worker (after open and after a reopen).
    virtual void setRunningLines(serial::SerialPortLocal& port);

    // The serial port; only for workers of a serial port (never of a network address).
    serial::SerialPortLocal& port();
    WeightWorkerView& view() { return m_view; }

private:
    void receive(int byte, RecordProcessor& processor);
    void processRecord(RecordProcessor& processor);
    void clearRecord();
    // The record buffer is full: reports and drops its bytes, and the rest of the record up to its terminator.
    void dropOverlongPart();
    // The terminator of a record that was dropped: reports the total number of bytes dropped.
    void endOverlongRecord();
    // Logs the line-error flags of the byte just received; throws when the port cannot tell.
    void checkLineErrors();
    // Hands a framed record that carries no value because of a failure to the view, in order with the others.
    void publishFailure(QString raw, const QString& text);
    // Reports the bytes of a record that never got its terminator (at the end, or when the port was lost).
    void reportUnsentData();
    // After a failing read: reports the loss once and reopens the port about once a second. False when the
    // task was cancelled meanwhile.
    bool reopenAfterFailure(const serial::SerialIoError& failure);
    // Writes the queued request texts, if any; a failure is logged and reading goes on, except while the port is
    // being reopened: then the texts wait for the reopened port.
    void writeRequests();
    // Opens the configured source again after a loss, ready to read.
    std::unique_ptr<ByteSource> reopenSource();
    // The writer thread: waits (without a timeout) for request texts and writes them until the body ends.
    void writeLoop();
    // Ends the writer thread, if there is one, and lets no request start another.
    void endWriter();
    // Reads one byte (or -1 for none) into byte; false, without reading, once Stop has begun.
    bool readByte(int& byte);
    // Stop's interruption hook: closing the port ends a read that waits in the library at once. The port is
    // closed only while a read is under way; otherwise the body sees Stop before it reads again.
    void closeForStop();

    std::mt19937 m_generator;
    WeightWorkerView& m_view;
    const config::Config m_config;
    std::shared_ptr<WakePipe> m_wake; // network sources only
    std::unique_ptr<ByteSource> m_source;
    std::shared_ptr<void> m_viewKeepAlive;
    QString m_rawData;
    QString m_overlongHead;    // the first bytes of the record being dropped, for its reading
    qint64 m_droppedBytes = 0; // of the record being received, when it grew past the bound
    int m_count = 0;
    bool m_parityError = false;
    bool m_framingError = false;
    bool m_connectedShown = false;
    // A text record cut short by control characters is reported once per run.
    bool m_controlCutReported = false;
    // Guards m_source against Stop's close from another thread while the body replaces it.
    std::mutex m_portMutex;
    // Held by the writer thread while it uses the port, so that a reopen never replaces it under a write.
    std::mutex m_writeMutex;
    std::mutex m_requestMutex;
    std::condition_variable m_requestArrived;
    QByteArray m_requests;
    // While the body reopens a lost port, a request that fails waits for the new port instead of being lost.
    bool m_reopening = false;
    bool m_requestsHeld = false;
    bool m_writerStop = false;
    std::thread m_writer;
    // No writer thread could be started: the read loop writes the requests.
    std::atomic<bool> m_writerFailed{false};
    // Set while the body is in a read, and by Stop's hook before it looks at that.
    std::atomic<bool> m_inRead{false};
    std::atomic<bool> m_stopping{false};
    // What a close at Stop reported; done() logs it.
    QString m_stopCloseFailure;
};

} // namespace tavlo::worker
