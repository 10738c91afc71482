#pragma once

#include "tavlo/VudareDiVezFrame2.h"

#include <QString>
#include <optional>

namespace tavlo {

// The program's window entry: the locale, the process properties, the native look and the main window,
// built on the GUI thread. Needs a QApplication.
class VudareDiVez {
public:
    VudareDiVez() = delete;

    // "VERSION", "RELEASEDATE", "TSP_OSNAME" and "TSP_OSARCH".
    static void setDefaultProperties();
    // Builds the window and runs the event loop; the exit status (0 closed, 2 native library missing,
    // 4 damaged text tables or an accepted settings import).
    static int run(const std::optional<QString>& port, VudareDiVezFrame2::Options options);
    static int run(const std::optional<QString>& port) { return run(port, VudareDiVezFrame2::Options()); }
};

} // namespace tavlo
