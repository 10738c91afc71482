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
    // The program's window start: one window per user and edition. A window of this user that runs already is
    // brought to the front instead (status 0; a port given here is named on standard error as not used); in
    // the multi-user edition a window of another user refuses the start (status 1, with a message).
    static int runWindow(const std::optional<QString>& port);
};

} // namespace tavlo
