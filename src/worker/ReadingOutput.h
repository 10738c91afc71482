#pragma once

#include "worker/Reading.h"

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

} // namespace tavlo::worker
