#include "worker/WeightWorkerFactory.h"

#include "config/Instrument.h"
#include "worker/TcpByteSource.h"
#include "worker/WeightWorkerAnd.h"
#include "worker/WeightWorkerBarcode.h"

namespace tavlo::worker {

using H = config::ConfigHelper;

std::shared_ptr<WeightWorker> WeightWorkerFactory::create(WeightWorkerView& view, const config::Config& config,
                                                          MessageBoxSeam& boxes) {
    const H::Instrument* instrument = config.getInstrument() ? config.getInstrument() : H::Instrument::getDefault();
    if (instrument->getInstrumentType() == H::InstrumentType::TEXT)
        return std::make_shared<WeightWorkerBarcode>(view, config);
    // The handshake lines of the A&D worker exist only on a serial port.
    if ((instrument == &H::Instrument::AND || instrument == &H::Instrument::AND_EM) &&
        !TcpByteSource::isNetworkAddress(config.getPort()))
        return std::make_shared<WeightWorkerAnd>(view, config, boxes);
    return std::make_shared<WeightWorker>(view, config);
}

} // namespace tavlo::worker
