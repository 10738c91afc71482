#pragma once

#include "base/Exceptions.h"

namespace serial {

// The native serial library is missing, cannot be loaded, or lacks an entry point. The program cannot work
// without it: the window ends the process with status 2 and this message.
class NativeLibraryError : public tavlo::base::TavloException {
public:
    using tavlo::base::TavloException::TavloException;
};

} // namespace serial
