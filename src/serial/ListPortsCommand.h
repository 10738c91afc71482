#pragma once

#include <QTextStream>

namespace serial {

// "tavlo --list-ports": one port a line (with its driver's description and maker where the listing knows
// them). Returns the exit status: 0, or 2 when the native library is missing or unfit.
int listPortsCommand(QTextStream& out, QTextStream& err);

} // namespace serial
