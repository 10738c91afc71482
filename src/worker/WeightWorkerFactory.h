#pragma once

#include "worker/MessageBoxSeam.h"
#include "worker/WeightWorker.h"

#include <memory>

namespace tavlo::worker {

// Creates the worker that fits the configured instrument: the barcode worker for text instruments, the
// handshake worker for the A&D balances that expect it (AND, AND_EM), the weight worker for all others.
class WeightWorkerFactory {
public:
    WeightWorkerFactory() = delete;

    // Opens the port like the worker's constructor and throws what it throws.
    static std::shared_ptr<WeightWorker> create(WeightWorkerView& view, const config::Config& config,
                                                MessageBoxSeam& boxes = MessageBoxSeam::installed());
};

} // namespace tavlo::worker
