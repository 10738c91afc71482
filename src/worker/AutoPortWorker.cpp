#include "worker/AutoPortWorker.h"

#include "base/ResourceBundle.h"
#include "config/ConfigHelper.h"
#include "serial/SerialConfig.h"
#include "serial/SerialIoError.h"
#include "serial/SerialPortLocal.h"
#include "worker/WeightWorker.h"

namespace tavlo::worker {

using H = config::ConfigHelper;

namespace {

const base::ResourceBundle& bundle() {
    return WeightWorker::resourceBundle();
}

QString text(const char* key) {
    return bundle().getString(QLatin1String(key));
}

QString messageOf(const std::exception& failure) {
    if (const auto* own = dynamic_cast<const base::TavloException*>(&failure))
        return own->message();
    return QString::fromLocal8Bit(failure.what());
}

} // namespace

AutoPortWorker::AutoPortWorker(AutoPortWorkerView& view, QStringList ports) : m_view(view), m_ports(std::move(ports)) {}

AutoPortWorker::~AutoPortWorker() = default;

std::optional<QString> AutoPortWorker::doInBackground() {
    publish(text("auto.port.detection.started"));
    for (const QString& name : m_ports) {
        if (isCancelled())
            break;
        m_currentPortConfidence = 0;
        publish(bundle().format(QStringLiteral("testing.port.0"), {name}));
        try {
            serial::SerialPortLocal::addPortName(name);
            serial::SerialConfig config(name);
            config.setBitRate(H::BitRates::BR_9600.ordinal());
            config.setDataBits(H::DataBits::LN_8BITS.ordinal());
            config.setParity(H::Parity::NONE.ordinal());
            config.setStopBits(H::StopBits::ST_1BITS.ordinal());
            m_sp = WeightWorker::openPort(config);
            // Cancelled during a wait: the port under test stays for done() to close.
            if (!probe(name))
                return m_bestPortName;
            m_sp->setDTR(false);
            m_sp->setRTS(false);
            closePort();
        } catch (const serial::SerialIoError& failure) {
            publish(failure.message());
            closePort();
            continue;
        }
        if (m_currentPortConfidence > m_bestPortConfidence) {
            m_bestPortName = name;
            m_bestPortConfidence = m_currentPortConfidence;
        }
        publish(text("confidence") + QStringLiteral(" ") + QString::number(m_currentPortConfidence));
    }
    return m_bestPortName;
}

bool AutoPortWorker::probe(const QString& name) {
    serial::SerialPortLocal& sp = *m_sp;
    sp.setDTR(false);
    sp.setRTS(false);
    if (!sleep(PAUSE))
        return false;
    if (sp.sigDSR()) {
        // DSR already on at rest: a device that holds it, or a cable that loops it.
        sp.setDTR(true);
        sp.setRTS(true);
        if (!sleep(PAUSE))
            return false;
        const bool both = sp.sigDSR() && sp.sigCTS();
        // COM3 is often a built-in modem with DSR on, never an instrument to prefer.
        m_currentPortConfidence = both && name != QLatin1String("COM3") ? 3 : 1;
        sp.setDTR(false);
        sp.setRTS(false);
        return true;
    }
    sp.setDTR(true);
    if (!sleep(PAUSE))
        return false;
    if (sp.sigDSR()) {
        sp.setRTS(true);
        if (!sleep(PAUSE))
            return false;
        m_currentPortConfidence = sp.sigDSR() && sp.sigCTS() ? 2 : 1;
        sp.setDTR(false);
        sp.setRTS(false);
        return true;
    }
    sp.setRTS(true);
    if (!sleep(PAUSE))
        return false;
    m_currentPortConfidence = sp.sigCTS() ? 1 : 0;
    return true;
}

void AutoPortWorker::closePort() {
    if (!m_sp)
        return;
    try {
        m_sp->close();
    } catch (const serial::SerialIoError&) {
        // Nothing depends on a clean close of a port under test.
    }
    m_sp.reset();
}

void AutoPortWorker::process(const QList<QString>& chunks) {
    for (const QString& line : chunks)
        m_view.update(line, std::nullopt);
}

void AutoPortWorker::done() {
    m_view.setButtonToClose();
    try {
        const std::optional<QString> port = get();
        if (port) {
            m_view.setPort(*port);
            m_view.update(text("best.port") + QStringLiteral(" ") + *port, successStyle());
        } else {
            m_view.update(text("could.not.auto.detect.port"), failureStyle());
        }
    } catch (const CancellationException&) {
        m_view.update(text("stopped"), std::nullopt);
    } catch (const std::exception& failure) {
        m_view.update(text("execution.exception") + messageOf(failure), std::nullopt);
    }
    closePort();
}

} // namespace tavlo::worker
