#pragma once

#include "base/Exceptions.h"

namespace serial {

// A port setting outside what the serial layer accepts, such as a bit rate above 921600.
class SerialArgumentError : public tavlo::base::TavloException {
public:
    using tavlo::base::TavloException::TavloException;
};

} // namespace serial
