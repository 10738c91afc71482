#include "base/ProgramProperties.h"

#include "base/SystemProperties.h"

namespace tavlo::base {

void setProgramProperties() {
    SystemProperties::set(QStringLiteral("VERSION"), QStringLiteral("2018.1.0.1"));
    SystemProperties::set(QStringLiteral("RELEASEDATE"), QStringLiteral("20180130"));
    // The native library that ships with the program offers the Windows feature set on every platform.
    SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
    SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
}

} // namespace tavlo::base
