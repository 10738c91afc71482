#include "SimCommands.h"

namespace tavlo::sim {

using config::InstrumentCommand;

CommandInstrument::CommandInstrument(QStringList values, QByteArray recordFormat, std::optional<Preset> preset,
                                     const config::InstrumentCommands& commands)
    : m_values(std::move(values)), m_recordFormat(std::move(recordFormat)), m_preset(preset), m_commands(commands) {
    // Before the first request the load on the pan is the first value.
    if (!m_values.isEmpty())
        m_current = base::Decimal::tryParse(m_values.first()).value_or(base::Decimal());
}

std::optional<CommandInstrument::Found> CommandInstrument::find(const QByteArray& received) const {
    std::optional<Found> best;
    qsizetype bestStart = 0;
    for (const InstrumentCommand command :
         {InstrumentCommand::Request, InstrumentCommand::Tare, InstrumentCommand::Zero}) {
        const QByteArray bytes(command == InstrumentCommand::Request ? m_commands.request
                               : command == InstrumentCommand::Tare  ? m_commands.tare
                                                                     : m_commands.zero);
        if (bytes.isEmpty())
            continue;
        const qsizetype at = received.indexOf(bytes);
        if (at < 0)
            continue;
        const qsizetype end = at + bytes.size();
        if (!best || end < best->consumed || (end == best->consumed && at < bestStart)) {
            best = Found{command, end};
            bestStart = at;
        }
    }
    return best;
}

QByteArray CommandInstrument::format(const QByteArray& format, const base::Decimal& value, QString* error) const {
    return fillTemplate(format, value.toPlainString(), error).value_or(QByteArray());
}

CommandInstrument::Answer CommandInstrument::answer(InstrumentCommand command) {
    Answer out;
    switch (command) {
    case InstrumentCommand::Request: {
        if (m_values.isEmpty())
            return out;
        const auto load = base::Decimal::tryParse(m_values[m_next]);
        if (!load) {
            out.error = QStringLiteral("not a decimal number: %1").arg(m_values[m_next]);
            return out;
        }
        m_next = (m_next + 1) % m_values.size();
        m_current = *load;
        out.bytes = format(m_recordFormat, m_current.subtract(m_zero).subtract(m_tare), &out.error);
        out.record = true;
        return out;
    }
    case InstrumentCommand::Tare: {
        // The tare weight is the load above the zero point; the display shows zero net.
        m_tare = m_current.subtract(m_zero);
        if (m_preset && m_preset->tareAnswer)
            out.bytes = format(m_preset->tareAnswer, m_tare, &out.error);
        return out;
    }
    case InstrumentCommand::Zero:
        m_zero = m_current;
        m_tare = base::Decimal();
        if (m_preset && m_preset->zeroAnswer)
            out.bytes = format(m_preset->zeroAnswer, m_zero, &out.error);
        return out;
    }
    return out;
}

} // namespace tavlo::sim
