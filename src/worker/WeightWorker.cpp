#include "worker/WeightWorker.h"

#include "base/Exceptions.h"
#include "base/Expressions.h"
#include "base/ResourceBundle.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"
#include "serial/SerialConfig.h"
#include "serial/SerialIoError.h"
#include "serial/SerialPortLocal.h"
#include "worker/Interruption.h"
#include "worker/RecordProcessor.h"
#include "worker/SerialByteSource.h"
#include "worker/TcpByteSource.h"

#include <chrono>
#include <cstdlib>
#include <cxxabi.h>
#include <thread>
#include <typeinfo>

namespace tavlo::worker {

using H = config::ConfigHelper;

namespace {

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

// The dynamic class name of a failure, without its namespace.
QString className(const std::exception& failure) {
    const char* mangled = typeid(failure).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    const qsizetype colon = name.lastIndexOf(QLatin1String("::"));
    return colon >= 0 ? name.mid(colon + 2) : name;
}

QString messageOf(const std::exception& failure) {
    if (const auto* own = dynamic_cast<const base::TavloException*>(&failure))
        return own->message();
    return QString::fromLocal8Bit(failure.what());
}

// How long Stop watches a read under way end by itself before it closes the port under it.
constexpr std::chrono::microseconds kStopSpin{200};

// How many of the dropped bytes the overflow report shows.
constexpr qsizetype kOverflowShown = 64;

} // namespace

const base::ResourceBundle& WeightWorker::resourceBundle() {
    static const base::ResourceBundle& bundle =
        base::ResourceBundle::getBundle(QStringLiteral("tavlo.worker.WorkerBundle"));
    return bundle;
}

QString WeightWorker::failureText(const std::exception& failure) {
    return QStringLiteral("Error [WW]: ") + className(failure) + QStringLiteral(": ") + messageOf(failure);
}

serial::SerialConfig WeightWorker::portConfig(const config::Config& config) {
    serial::SerialConfig portConfig(config.getPort());
    portConfig.setBitRate(config.getBitRate());
    portConfig.setDataBits(config.getDataBits());
    portConfig.setParity(config.getParity());
    portConfig.setStopBits(config.getStopBits());
    return portConfig;
}

std::unique_ptr<serial::SerialPortLocal> WeightWorker::openPort(const serial::SerialConfig& config) {
    // Opening through the configuration constructor would leave the native port open when configuring it
    // fails inside the constructor; a constructed object can always be closed again.
    auto port = std::make_unique<serial::SerialPortLocal>();
    port->setConfig(config);
    try {
        port->open();
    } catch (...) {
        try {
            port->close();
        } catch (...) {
            // The open's failure is the one to report.
        }
        throw;
    }
    return port;
}

WeightWorker::WeightWorker(WeightWorkerView& view, const config::Config& config)
    : m_view(view), m_config(config::Config::copyConfig(config)) {
    m_rawData.reserve(30);
    if (m_config.getPort().isEmpty())
        throw base::TavloException(resourceBundle().getString(QStringLiteral("null.port.error")));

    if (TcpByteSource::isNetworkAddress(m_config.getPort())) {
        // A network instrument has no serial settings and no modem lines: connected is all there is to say.
        m_wake = std::make_shared<WakePipe>();
        m_source = std::make_unique<TcpByteSource>(m_config.getPort(), m_wake, kConnectTimeoutMs);
        m_view.setConnectedInGUI(true);
        m_connectedShown = true;
        const QString connected = QStringLiteral("Connected to %1.").arg(m_config.getPort());
        m_view.logEvent(connected);
        m_view.statusChanged(StatusEvent::Kind::PortOpened, connected);
        return;
    }
    serial::SerialPortLocal::addPortName(m_config.getPort());
    m_source = std::make_unique<SerialByteSource>(openPort(portConfig(m_config)));
    serial::SerialPortLocal* sp = &port();
    try {
        m_view.setConnectedInGUI(true);
        m_connectedShown = true;
        sp->rxFlush();
        const QString opened = resourceBundle().format(
            QStringLiteral("port.opened"),
            {sp->getPortName(), H::BitRates::getReadable(sp->getBitRate()), H::DataBits::getReadable(sp->getDataBits()),
             H::StopBits::getReadable(sp->getStopBits()), H::Parity::getReadable(sp->getParity())});
        m_view.logEvent(opened);
        m_view.statusChanged(StatusEvent::Kind::PortOpened, opened);
        setRunningLines(*sp);
        const bool dsr = sp->sigDSR();
        const bool cts = sp->sigCTS();
        m_view.logEvent(QStringLiteral("RTS: off, DTR: on. DSR: %1, CTS: %2.").arg(onOff(dsr), onOff(cts)));
        sp->setTimeoutRx(receiveTimeoutMs());
    } catch (...) {
        // Nothing runs yet: give the port back and the window its idle state, so that the next Start works.
        try {
            sp->close();
        } catch (...) {
        }
        if (m_connectedShown)
            m_view.setConnectedInGUI(false);
        throw;
    }
}

WeightWorker::~WeightWorker() {
    // A worker whose body never ran may still have a writer thread from an early request.
    endWriter();
}

int WeightWorker::receiveTimeoutMs() {
    return serial::SerialPortLocal::getFeatures().hostGetDataTimeout ? 0 : kReceiveTimeoutMs;
}

bool WeightWorker::isNetwork() const {
    return m_source && m_source->isNetwork();
}

serial::SerialPortLocal& WeightWorker::port() {
    return static_cast<SerialByteSource&>(*m_source).port();
}

void WeightWorker::setRunningLines(serial::SerialPortLocal& port) {
    port.setRTS(false);
    port.setDTR(true);
}

QString WeightWorker::parityErrorText() const {
    return resourceBundle().getString(QStringLiteral("parity.error"));
}

QString WeightWorker::framingErrorText() const {
    return resourceBundle().getString(QStringLiteral("framing.error"));
}

int WeightWorker::doInBackground() {
    RecordProcessor processor(m_config);
    std::uniform_int_distribution<int> idleSleep(0, 4);
    m_count = 0;
    m_parityError = m_framingError = false;
    // However the body ends, the writer thread (if a request started one) ends with it.
    struct WriterEnd {
        WeightWorker& worker;
        ~WriterEnd() { worker.endWriter(); }
    } writerEnd{*this};
    // Stop ends a wait for bytes at once: a network source's wait wakes on its pipe, and a serial read waiting
    // in the library ends when Stop closes its port under it.
    const std::shared_ptr<WakePipe> wake = m_wake;
    Interruption::Hook stopHook([this, wake] {
        if (wake)
            wake->signal();
        else
            closeForStop();
    });

    // Cancellation is checked before every byte as well, so that Stop works under a continuous flood.
    while (!isCancelled()) {
        if (backlog() >= kMaxBacklog) {
            if (!sleep(1))
                break;
            continue;
        }
        if (m_writerFailed)
            writeRequests();
        int byte;
        try {
            if (!readByte(byte))
                break;
            if (byte < 0 && m_source->canWait())
                m_source->waitForBytes(kReceiveTimeoutMs);
        } catch (const serial::SerialIoError& failure) {
            // Only a failing read means a lost device, and a port that Stop closed under the read is none.
            if (isCancelled() || !reopenAfterFailure(failure))
                break;
            continue;
        }
        if (byte >= 0)
            receive(byte, processor);
        // A serial read waited the receive timeout already (or, with the wait emulated elsewhere, did not wait at
        // all): the short pause keeps a library that returns at once from turning this into a spin.
        if (byte < 0 && !m_source->canWait() && !sleep(idleSleep(m_generator)))
            break;
    }
    return m_count;
}

void WeightWorker::receive(int byte, RecordProcessor& processor) {
    if (m_rawData.size() >= kMaxRecordBytes)
        dropOverlongPart();
    m_rawData.append(QChar(static_cast<char16_t>(byte)));
    try {
        checkLineErrors();
    } catch (const serial::SerialIoError& failure) {
        // A failing error-flag query spoils this record only: reported like any failure of a record.
        m_view.logImportantEvent(failureText(failure));
        clearRecord();
        return;
    }
    if (byte == m_config.getInputTerminator()) {
        if (m_droppedBytes > 0) {
            endOverlongRecord();
            return;
        }
        try {
            processRecord(processor);
        } catch (const std::exception& failure) {
            m_view.logImportantEvent(failureText(failure));
            publishFailure(m_rawData, failureText(failure));
        }
        clearRecord();
    }
}

void WeightWorker::dropOverlongPart() {
    // A wrong terminator setting would otherwise let the buffer grow without end.
    m_view.logImportantEvent(resourceBundle().format(
        QStringLiteral("record.overflow"),
        {QString::number(m_rawData.size()), DataLine::transformControlChars(m_rawData.left(kOverflowShown))}));
    const qint64 dropped = m_droppedBytes + m_rawData.size();
    QString head = m_droppedBytes > 0 ? m_overlongHead : m_rawData.left(kOverflowShown);
    clearRecord();
    m_droppedBytes = dropped;
    m_overlongHead = std::move(head);
}

void WeightWorker::endOverlongRecord() {
    // The rest of the record goes too, so that its tail is never taken for a value; it counts as a failed record,
    // whose reading shows the record's first bytes.
    const qint64 dropped = m_droppedBytes + m_rawData.size();
    const QString head = m_overlongHead;
    clearRecord();
    ++m_count;
    const QString text = resourceBundle().format(QStringLiteral("record.overflow.end"), {QString::number(dropped)});
    m_view.logImportantEvent(text);
    publishFailure(head, text);
}

void WeightWorker::publishFailure(QString raw, const QString& text) {
    DataLine line(std::move(raw), QString(), m_count, instantNow(), m_parityError || m_framingError);
    line.setFailure(text);
    publish(std::move(line));
}

void WeightWorker::checkLineErrors() {
    if (m_source->sigParityErr()) {
        m_view.logImportantEvent(parityErrorText());
        m_parityError = true;
    }
    if (m_source->sigFrameErr()) {
        m_view.logImportantEvent(framingErrorText());
        m_framingError = true;
    }
}

void WeightWorker::processRecord(RecordProcessor& processor) {
    ++m_count;
    const Instant instant = instantNow();
    const bool error = m_parityError || m_framingError;
    RecordProcessor::Result result = processor.run(m_rawData);
    if (result.cutByControlCharacters && !m_controlCutReported) {
        m_controlCutReported = true;
        m_view.logImportantEvent(resourceBundle().format(QStringLiteral("control.characters.cut"),
                                                         {DataLine::transformControlChars(m_rawData)}));
    }
    DataLine line(m_rawData, std::move(result.value), m_count, instant, error, result.start, result.end);
    if (processor.isUnstable(m_rawData))
        line.markUnstable();
    line.setMarks({std::move(result.unit), result.stable, result.overload, result.acknowledgement});
    publish(std::move(line));
}

void WeightWorker::requestData(const QByteArray& text) {
    std::lock_guard lock(m_requestMutex);
    if (m_writerStop)
        return; // the run is over
    // While a lost port is reopened, a command already waiting is not queued again: a poll every half second
    // through a minute's outage would otherwise send a hundred requests at once, and each answer would be typed.
    if ((m_reopening || m_requestsHeld) && m_requests.contains(text))
        return;
    m_requests += text;
    if (!m_writer.joinable()) {
        // Started with the first request only: a worker that never sends one has no thread to wake or end.
        try {
            m_writer = std::thread([this] { writeLoop(); });
        } catch (const std::system_error&) {
            // No thread to spare: the read loop writes the requests between two reads instead.
            m_writerFailed = true;
        }
    }
    m_requestArrived.notify_all();
}

void WeightWorker::endWriter() {
    std::thread writer;
    {
        std::lock_guard lock(m_requestMutex);
        m_writerStop = true;
        writer.swap(m_writer);
    }
    m_requestArrived.notify_all();
    if (writer.joinable())
        writer.join();
}

void WeightWorker::writeRequests() {
    QByteArray pending;
    {
        std::lock_guard lock(m_requestMutex);
        // While the port is reopened the requests wait for it (nothing could be written to the old one).
        if (m_requests.isEmpty() || m_requestsHeld || m_reopening)
            return;
        pending.swap(m_requests);
    }
    std::lock_guard lock(m_writeMutex);
    try {
        m_source->putData(pending);
    } catch (const std::exception& failure) {
        // A lost port is the reader's to report and reopen; a write cut off by Stop is no failure.
        if (isCancelled())
            return;
        {
            std::lock_guard requestLock(m_requestMutex);
            if (m_reopening) {
                m_requests.prepend(pending);
                m_requestsHeld = true;
                return;
            }
        }
        m_view.logImportantEvent(failureText(failure));
    }
}

void WeightWorker::writeLoop() {
    std::unique_lock lock(m_requestMutex);
    for (;;) {
        m_requestArrived.wait(
            lock, [this] { return m_writerStop || (!m_requests.isEmpty() && !m_requestsHeld && !m_reopening); });
        if (m_writerStop)
            return;
        lock.unlock();
        writeRequests();
        lock.lock();
    }
}

bool WeightWorker::readByte(int& byte) {
    // Paired with closeForStop: either Stop sees this read coming and closes the port under it, or this sees
    // Stop and does not read.
    m_inRead = true;
    struct Leave {
        std::atomic<bool>& inRead;
        ~Leave() { inRead = false; }
    } leave{m_inRead};
    if (m_stopping)
        return false;
    byte = m_source->getByte();
    return true;
}

void WeightWorker::closeForStop() {
    m_stopping = true;
    // A body busy with a record checks for Stop before its next read, and a read that serves bytes already
    // received ends within microseconds. Only a read still under way after a short spin may be waiting in the
    // library for the line; closing the port under a busy body would only cost a blocking close and a failing
    // port call.
    const auto spinEnd = std::chrono::steady_clock::now() + kStopSpin;
    while (m_inRead && std::chrono::steady_clock::now() < spinEnd) {
    }
    if (!m_inRead)
        return;
    std::lock_guard lock(m_portMutex);
    try {
        m_source->close();
    } catch (const std::exception& failure) {
        m_stopCloseFailure = failureText(failure);
    }
}

void WeightWorker::reportUnsentData() {
    if (!m_rawData.isEmpty())
        m_view.logImportantEvent(resourceBundle().getString(QStringLiteral("unsent.data")) + QStringLiteral(" ") +
                                 DataLine::transformControlChars(m_rawData));
}

void WeightWorker::clearRecord() {
    m_rawData.clear();
    m_overlongHead.clear();
    m_droppedBytes = 0;
    m_parityError = m_framingError = false;
}

bool WeightWorker::reopenAfterFailure(const serial::SerialIoError& failure) {
    const QString name = m_config.getPort();
    {
        // From here a request that cannot be written waits for the reopened port.
        std::lock_guard lock(m_requestMutex);
        m_reopening = true;
    }
    try {
        std::lock_guard writeLock(m_writeMutex); // no request goes out through a handle being released
        m_source->close();
    } catch (...) {
        // The device is gone; its handle is released all the same.
    }
    // Told once the handle is released: a request made after the loss is known goes out on the reopened port.
    const QString lost = resourceBundle().format(
        QStringLiteral("port.lost"), {name, className(failure) + QStringLiteral(": ") + messageOf(failure)});
    m_view.logImportantEvent(lost);
    m_view.statusChanged(StatusEvent::Kind::Lost, lost);
    reportUnsentData();
    clearRecord();
    QString lastReason;
    for (;;) {
        if (isCancelled())
            return false;
        try {
            std::unique_ptr<ByteSource> source = reopenSource();
            {
                // Neither a write nor Stop's close may meet the source while it is replaced.
                std::lock_guard writeLock(m_writeMutex);
                std::lock_guard portLock(m_portMutex);
                m_source = std::move(source);
            }
            {
                std::lock_guard lock(m_requestMutex);
                m_reopening = false;
                m_requestsHeld = false;
            }
            m_requestArrived.notify_all();
            const QString reopened = resourceBundle().format(QStringLiteral("port.reopened"), {name});
            m_view.logImportantEvent(reopened);
            m_view.statusChanged(StatusEvent::Kind::Reopened, reopened);
            return true;
        } catch (const base::TavloException& attempt) {
            // Not back yet; the next attempt follows. Why is told once each time it changes.
            const QString reason = className(attempt) + QStringLiteral(": ") + messageOf(attempt);
            if (reason != lastReason)
                m_view.logEvent(resourceBundle().format(QStringLiteral("port.reopen.failed"), {name, reason}));
            lastReason = reason;
        }
        if (!sleep(kReopenIntervalMs))
            return false;
    }
}

std::unique_ptr<ByteSource> WeightWorker::reopenSource() {
    if (m_wake)
        return std::make_unique<TcpByteSource>(m_config.getPort(), m_wake, kReopenIntervalMs);
    std::unique_ptr<serial::SerialPortLocal> port = openPort(portConfig(m_config));
    try {
        port->rxFlush();
        setRunningLines(*port);
        port->setTimeoutRx(receiveTimeoutMs());
    } catch (...) {
        port->close();
        throw;
    }
    return std::make_unique<SerialByteSource>(std::move(port));
}

void WeightWorker::process(const QList<DataLine>& chunks) {
    for (const DataLine& line : chunks)
        m_view.update(line);
}

void WeightWorker::done() {
    try {
        get();
    } catch (const CancellationException&) {
        m_view.logEvent(resourceBundle().getString(QStringLiteral("stopped")));
    } catch (const std::exception& failure) {
        m_view.logImportantEvent(resourceBundle().getString(QStringLiteral("execution.exception")) +
                                 messageOf(failure));
    }
    reportUnsentData();
    try {
        m_source->close();
    } catch (const std::exception& failure) {
        m_view.logImportantEvent(failureText(failure));
    }
    QString stopCloseFailure;
    {
        std::lock_guard lock(m_portMutex);
        stopCloseFailure.swap(m_stopCloseFailure);
    }
    if (!stopCloseFailure.isEmpty())
        m_view.logImportantEvent(stopCloseFailure);
    m_view.setConnectedInGUI(false);
}

} // namespace tavlo::worker
