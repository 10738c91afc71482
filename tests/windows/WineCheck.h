#pragma once

// The smallest test harness for the Windows test programs: one line per check, "ok <name>" or
// "FAIL <name>: <why>", counted by scripts/test-windows.
#include <cstdio>
#include <string>

namespace wine_check {

inline int& failures() {
    static int count = 0;
    return count;
}

inline void report(bool passed, const std::string& name, const std::string& detail = std::string()) {
    if (passed) {
        std::printf("ok %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    } else {
        ++failures();
        std::printf("FAIL %s: %s\n", name.c_str(), detail.c_str());
    }
    std::fflush(stdout);
}

} // namespace wine_check
