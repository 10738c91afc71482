#pragma once

#include "base/Decimal.h"
#include "worker/DataLine.h"

#include <optional>

namespace tavlo::config {
class Config;
}

namespace tavlo::worker {

// The duplicate filter: blanks a record's value when it repeats the previous non-empty value within the time
// limit and the tolerance. One filter lives for one run, on the window's thread.
class Ignorer {
public:
    explicit Ignorer(const config::Config& config);
    Ignorer(int timeLimitMs, base::Decimal difference)
        : m_timeLimit(timeLimitMs), m_difference(std::move(difference)) {}

    // Suppresses the line's value in place when it repeats the last one; always remembers a non-empty line.
    void process(DataLine& line);
    // Whole milliseconds since the last line are at most the limit (always true without a limit).
    bool inTime(const DataLine& line) const;
    // Same text with a zero difference; otherwise the numbers are at most the difference apart.
    bool inTolerance(const DataLine& line) const;

    int timeLimit() const { return m_timeLimit; }
    const base::Decimal& difference() const { return m_difference; }

private:
    std::optional<DataLine> m_lastData;
    int m_timeLimit;
    base::Decimal m_difference;
};

} // namespace tavlo::worker
