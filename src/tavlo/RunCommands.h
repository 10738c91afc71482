#pragma once

#include "config/InstrumentCommand.h"
#include "worker/Reading.h"

#include <QString>
#include <functional>

namespace tavlo::config {
class Config;
}
namespace tavlo::worker {
class Acquisition;
}

namespace tavlo {

// The window's commands to the instrument (its buttons, the hotkey, tavlo --send): whether one can go out now
// and why not, and sending it through the run's one request path. A command goes out only while the port is
// open: before Start, during a pause after the port was lost and after Stop the instrument cannot hear it.
class RunCommands {
public:
    using Log = std::function<void(const QString& text)>;

    RunCommands(worker::Acquisition& acquisition, Log log);

    // The run's status events, in order (Started, PortOpened, Lost, Reopened, Stopped).
    void statusChanged(const worker::StatusEvent& event);
    bool portOpen() const { return m_portOpen; }

    // Whether the command can go out now. `planned`: the settings the next Start would use, for the reason
    // given before Start (a profile without the command is named first: pressing Start would not help).
    bool available(config::InstrumentCommand command, const config::Config& planned, QString* reason) const;
    // Sends it and logs what went out and from where ("the window", "the hotkey Ctrl+Alt+W", ...). `planned` as
    // for available().
    bool send(config::InstrumentCommand command, const QString& from, const config::Config& planned, QString* reason);

    // "Request", "Tare", "Zero".
    static QString title(config::InstrumentCommand command);

private:
    worker::Acquisition& m_acquisition;
    Log m_log;
    bool m_portOpen = false;
};

} // namespace tavlo
