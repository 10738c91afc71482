#pragma once

#include "worker/Acquisition.h"

namespace tavlo::output {

// The outputs that a run's settings ask for besides typing (the data log, ...), for Acquisition's output
// factory. Each logs on the view where it goes.
std::vector<std::shared_ptr<worker::ReadingOutput>>
createOutputs(const config::Config& config, worker::AcquisitionView& view, const worker::CommandSink& commands);

} // namespace tavlo::output
