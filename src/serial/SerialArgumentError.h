#pragma once

#include "tavlo/util/Exceptions.h"

namespace serial {

// A port setting outside what the serial layer accepts, such as a bit rate above 921600.
class SerialArgumentError : public tavlo::TavloException {
public:
    using TavloException::TavloException;
};

} // namespace serial
