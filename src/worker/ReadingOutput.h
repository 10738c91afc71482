#pragma once

#include "config/InstrumentCommand.h"
#include "worker/Reading.h"

#include <functional>
#include <memory>

namespace tavlo::worker {

// Where readings go besides the event log: the data log, the reading service, MQTT. The run calls every
// output on the GUI thread, in reading order; an output must return at once (queue the reading, never wait for
// a file, a socket or a broker), so that no output holds up the worker or another output.
class ReadingOutput {
public:
    virtual ~ReadingOutput() = default;
    virtual void deliver(const std::shared_ptr<const Reading>& reading) = 0;
    virtual void deliverStatus(const StatusEvent& event) { (void)event; }
    // At Stop: hands on what is queued as far as the output can within a bounded time, then ends its threads.
    // Called once, on the GUI thread; nothing is delivered afterwards.
    virtual void close() = 0;
};

// How an output asks the run for a command to the instrument (the reading service, MQTT). Callable from any
// thread; the command is carried out on the GUI thread through the same path as the window's buttons, and
// done (when given) is called there with the outcome: true, or false and the reason for the user.
using CommandDone = std::function<void(bool ok, const QString& reason)>;
using CommandSink = std::function<void(config::InstrumentCommand command, CommandDone done)>;

} // namespace tavlo::worker
