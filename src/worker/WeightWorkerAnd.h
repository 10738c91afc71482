#pragma once

#include "worker/MessageBoxSeam.h"
#include "worker/WeightWorker.h"

namespace tavlo::worker {

// The worker for balances that expect hardware handshaking: after opening the port it raises DTR and RTS
// and checks that the balance answers on DSR and CTS, warning the user when it does not; then it reads like
// the weight worker, with both output lines kept on.
class WeightWorkerAnd : public WeightWorker {
public:
    // The warning box goes through boxes; by default the one the window installed.
    WeightWorkerAnd(WeightWorkerView& view, const config::Config& config,
                    MessageBoxSeam& boxes = MessageBoxSeam::installed());

    // The handshake test: about 100 ms on the GUI thread and at most one warning box. Never fails.
    void testDevice();

protected:
    void setRunningLines(serial::SerialPortLocal& port) override;

private:
    MessageBoxSeam& m_boxes;
};

} // namespace tavlo::worker
