#include "serial/NativeHandleMutex.h"

namespace serial {

NativeHandleMutex& NativeHandleMutex::getInstance() {
    // Initialisation of a function-local static is itself serialised.
    static NativeHandleMutex instance;
    return instance;
}

} // namespace serial
