#include "worker/Ignorer.h"

#include "config/Config.h"
#include "config/Instrument.h"

namespace tavlo::worker {

using H = config::ConfigHelper;

namespace {

base::Decimal configuredDifference(const config::Config& config) {
    // Text instruments are only ever compared as text.
    const H::Instrument* instrument = config.getInstrument();
    if (config.getIgnoreDifference().isEmpty() ||
        (instrument && instrument->getInstrumentType() == H::InstrumentType::TEXT))
        return base::Decimal();
    return base::Decimal::tryParse(config.getIgnoreDifference()).value_or(base::Decimal());
}

std::optional<base::Decimal> readNumber(QString text) {
    text.replace(u',', u'.');
    return base::Decimal::tryParse(text);
}

} // namespace

Ignorer::Ignorer(const config::Config& config)
    : m_timeLimit(H::parseInteger(config.getIgnoreTimeLimit()).value_or(0)),
      m_difference(configuredDifference(config)) {}

void Ignorer::process(DataLine& line) {
    if (!line.hasValue())
        return;
    DataLine copy = line.copy();
    if (m_lastData && inTime(line) && inTolerance(line))
        line.deleteProcessedData();
    // Compared with the immediately preceding value, even when that one was itself suppressed.
    m_lastData = std::move(copy);
}

bool Ignorer::inTime(const DataLine& line) const {
    if (m_timeLimit == 0)
        return true;
    if (!m_lastData)
        return false;
    const auto elapsed = std::chrono::floor<std::chrono::milliseconds>(line.getInstant() - m_lastData->getInstant());
    return elapsed.count() <= m_timeLimit;
}

bool Ignorer::inTolerance(const DataLine& line) const {
    if (!m_lastData)
        return false;
    if (m_difference.signum() == 0)
        return line.getProcessedData() == m_lastData->getProcessedData();
    const auto current = readNumber(line.getProcessedData());
    const auto previous = readNumber(m_lastData->getProcessedData());
    // Values that are not numbers (a custom expression may deliver anything) fall back to text equality
    // rather than failing on the window's thread.
    if (!current || !previous)
        return line.getProcessedData() == m_lastData->getProcessedData();
    return current->subtract(*previous).abs().compareTo(m_difference) <= 0;
}

} // namespace tavlo::worker
