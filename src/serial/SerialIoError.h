#pragma once

#include "base/Exceptions.h"

namespace serial {

// A failure of a port operation: the port cannot be opened, a line or buffer query failed, a read or write
// did not go through, or the platform lacks the operation.
class SerialIoError : public tavlo::base::TavloException {
public:
    using tavlo::base::TavloException::TavloException;
};

} // namespace serial
