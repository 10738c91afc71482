#include "worker/WeightWorker.h"

#include "base/Exceptions.h"
#include "base/Expressions.h"
#include "base/ResourceBundle.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"
#include "serial/SerialConfig.h"
#include "serial/SerialIoError.h"
#include "serial/SerialPortLocal.h"
#include "worker/DataLog.h"
#include "worker/Interruption.h"
#include "worker/RecordProcessor.h"
#include "worker/SerialByteSource.h"
#include "worker/TcpByteSource.h"

#include <chrono>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

namespace tavlo::worker {

using H = config::ConfigHelper;

namespace {

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

Instant now() {
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
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
        m_view.logEvent(QStringLiteral("Connected to %1.").arg(m_config.getPort()));
        return;
    }
    serial::SerialPortLocal::addPortName(m_config.getPort());
    m_source = std::make_unique<SerialByteSource>(openPort(portConfig(m_config)));
    serial::SerialPortLocal* sp = &port();
    try {
        m_view.setConnectedInGUI(true);
        m_connectedShown = true;
        sp->rxFlush();
        m_view.logEvent(resourceBundle().format(
            QStringLiteral("port.opened"),
            {sp->getPortName(), H::BitRates::getReadable(sp->getBitRate()), H::DataBits::getReadable(sp->getDataBits()),
             H::StopBits::getReadable(sp->getStopBits()), H::Parity::getReadable(sp->getParity())}));
        setRunningLines(*sp);
        const bool dsr = sp->sigDSR();
        const bool cts = sp->sigCTS();
        m_view.logEvent(QStringLiteral("RTS: off, DTR: on. DSR: %1, CTS: %2.").arg(onOff(dsr), onOff(cts)));
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

WeightWorker::~WeightWorker() = default;

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
    // Stop ends a wait for bytes at once.
    const std::shared_ptr<WakePipe> wake = m_wake;
    Interruption::Hook wakeOnCancel([wake] {
        if (wake)
            wake->signal();
    });

    // Cancellation is checked before every byte as well, so that Stop works under a continuous flood.
    while (!isCancelled()) {
        if (backlog() >= kMaxBacklog) {
            if (!sleep(1))
                break;
            continue;
        }
        writeRequests();
        int byte;
        try {
            byte = m_source->getByte();
            if (byte < 0 && m_source->canWait())
                m_source->waitForBytes(kReceiveTimeoutMs);
        } catch (const serial::SerialIoError& failure) {
            // Only a failing read means a lost device; the port is reopened once it is back.
            if (!reopenAfterFailure(failure))
                break;
            continue;
        }
        if (byte >= 0)
            receive(byte, processor);
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
            if (m_dataLog)
                m_dataLog->append(
                    DataLog::Entry{now(), m_rawData, QString(), DataLog::Outcome::Error, failureText(failure)});
            m_view.recordFailed(m_count);
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
    clearRecord();
    m_droppedBytes = dropped;
}

void WeightWorker::endOverlongRecord() {
    // The rest of the record goes too, so that its tail is never taken for a value; it counts as a failed record.
    const qint64 dropped = m_droppedBytes + m_rawData.size();
    clearRecord();
    ++m_count;
    m_view.logImportantEvent(
        resourceBundle().format(QStringLiteral("record.overflow.end"), {QString::number(dropped)}));
    m_view.recordFailed(m_count);
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
    const Instant instant = now();
    const bool error = m_parityError || m_framingError;
    RecordProcessor::Result result = processor.run(m_rawData);
    DataLine line(m_rawData, std::move(result.value), m_count, instant, error, result.start, result.end);
    if (processor.isUnstable(m_rawData))
        line.markUnstable();
    publish(std::move(line));
}

void WeightWorker::requestData(const QByteArray& text) {
    {
        QMutexLocker lock(&m_requestMutex);
        m_requests += text;
    }
    if (m_wake)
        m_wake->signal();
}

void WeightWorker::writeRequests() {
    QByteArray pending;
    {
        QMutexLocker lock(&m_requestMutex);
        if (m_requests.isEmpty())
            return;
        pending.swap(m_requests);
    }
    try {
        m_source->putData(pending);
    } catch (const std::exception& failure) {
        // A request that could not be written (a short write) is reported; reading goes on.
        m_view.logImportantEvent(failureText(failure));
    }
}

void WeightWorker::reportUnsentData() {
    if (!m_rawData.isEmpty())
        m_view.logImportantEvent(resourceBundle().getString(QStringLiteral("unsent.data")) + QStringLiteral(" ") +
                                 DataLine::transformControlChars(m_rawData));
}

void WeightWorker::clearRecord() {
    m_rawData.clear();
    m_droppedBytes = 0;
    m_parityError = m_framingError = false;
}

bool WeightWorker::reopenAfterFailure(const serial::SerialIoError& failure) {
    const QString name = m_config.getPort();
    m_view.logImportantEvent(resourceBundle().format(
        QStringLiteral("port.lost"), {name, className(failure) + QStringLiteral(": ") + messageOf(failure)}));
    try {
        m_source->close();
    } catch (...) {
        // The device is gone; its handle is released all the same.
    }
    reportUnsentData();
    clearRecord();
    QString lastReason;
    for (;;) {
        if (isCancelled())
            return false;
        try {
            m_source = reopenSource();
            m_view.logImportantEvent(resourceBundle().format(QStringLiteral("port.reopened"), {name}));
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
        port->setTimeoutRx(0);
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
    m_view.setConnectedInGUI(false);
}

} // namespace tavlo::worker
