#pragma once

// Points the serial layer at tspSim, the simulated native library, with no ports yet.
#include "base/SystemProperties.h"
#include "native/sim/tspSimControl.h"
#include "serial/SerialPortLocal.h"

namespace tavlo::test {

inline void useSim() {
    using base::SystemProperties;
    SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral(TAVLO_BIN_DIR "/libtspSim.so"));
    SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
    SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
    tspSimReset();
    serial::SerialPortLocal::resetForTesting();
}

// Removes every simulated port and forgets the loaded library.
inline void resetSim() {
    tspSimReset();
    serial::SerialPortLocal::resetForTesting();
}

} // namespace tavlo::test
