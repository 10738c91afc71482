#include "tavlo/RunCommands.h"

#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/Acquisition.h"
#include "worker/DataLine.h"
#include "worker/WeightWorker.h"

namespace tavlo {

using config::ConfigHelper;
using config::InstrumentCommand;

RunCommands::RunCommands(worker::Acquisition& acquisition, Log log)
    : m_acquisition(acquisition), m_log(std::move(log)) {}

void RunCommands::statusChanged(const worker::StatusEvent& event) {
    using Kind = worker::StatusEvent::Kind;
    m_portOpen = event.kind == Kind::PortOpened || event.kind == Kind::Reopened;
}

bool RunCommands::available(InstrumentCommand command, const config::Config& planned, QString* reason) const {
    const auto worker = m_acquisition.isRunning() ? m_acquisition.worker() : nullptr;
    if (!worker) {
        if (!worker::Acquisition::hasCommand(planned, command, reason))
            return false;
        if (reason)
            *reason = QStringLiteral("Press Start first: no instrument is being read.");
        return false;
    }
    if (!worker::Acquisition::hasCommand(worker->config(), command, reason))
        return false;
    if (!m_portOpen) {
        if (reason)
            *reason = QStringLiteral("The port %1 is not open; Tavlo is waiting for it to come back.")
                          .arg(worker->config().getPort());
        return false;
    }
    return true;
}

bool RunCommands::send(InstrumentCommand command, const QString& from, const config::Config& planned, QString* reason) {
    const auto worker = m_acquisition.isRunning() ? m_acquisition.worker() : nullptr;
    if (!available(command, worker ? worker->config() : planned, reason))
        return false;
    const config::Config& settings = worker->config();
    const auto* instrument =
        settings.getInstrument() ? settings.getInstrument() : ConfigHelper::Instrument::getDefault();
    const QByteArray bytes = instrument->getCommand(command);
    if (!m_acquisition.sendCommand(command, reason))
        return false;
    if (m_log)
        m_log(QStringLiteral("%1 sent to the instrument from %2: %3")
                  .arg(title(command), from, worker::DataLine::transformControlChars(QString::fromLatin1(bytes))));
    return true;
}

QString RunCommands::title(InstrumentCommand command) {
    switch (command) {
    case InstrumentCommand::Request:
        return QStringLiteral("Request");
    case InstrumentCommand::Tare:
        return QStringLiteral("Tare");
    case InstrumentCommand::Zero:
        return QStringLiteral("Zero");
    }
    return {};
}

} // namespace tavlo
