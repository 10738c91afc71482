#pragma once

namespace tavlo::base {

// Sets the process properties the program defines for itself at start: "VERSION", "RELEASEDATE" and the
// platform the native serial library is chosen for ("TSP_OSNAME", "TSP_OSARCH").
void setProgramProperties();

} // namespace tavlo::base
