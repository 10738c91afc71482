#pragma once

#include "SimFormat.h"

#include "base/Decimal.h"
#include "config/InstrumentCommand.h"

#include <QByteArray>
#include <QStringList>
#include <optional>

namespace tavlo::sim {

// A balance that answers the commands of its profile: a request sends one record of the load now on the pan (the
// next of the values, in turn), tare makes later records net of the current load and answers as the maker
// documents, zero makes the current load the zero point. All arithmetic is exact.
class CommandInstrument {
public:
    // The values are the loads in turn; the record template formats the net weight. The answers come from the
    // preset (none: the instrument answers nothing).
    CommandInstrument(QStringList values, QByteArray recordFormat, std::optional<Preset> preset,
                      const config::InstrumentCommands& commands);

    struct Found {
        config::InstrumentCommand command;
        // The bytes up to the end of the command: consumed from what was received.
        qsizetype consumed;
    };
    // The first whole command in the bytes received (the longest one where two end at the same place).
    std::optional<Found> find(const QByteArray& received) const;

    struct Answer {
        QByteArray bytes; // empty: nothing is sent
        bool record = false;
        QString error; // a value the template cannot use
    };
    Answer answer(config::InstrumentCommand command);

    // The commands of the profile that this instrument answers, with their bytes.
    const config::InstrumentCommands& commands() const { return m_commands; }

private:
    QByteArray format(const QByteArray& format, const base::Decimal& value, QString* error) const;

    QStringList m_values;
    QByteArray m_recordFormat;
    std::optional<Preset> m_preset;
    config::InstrumentCommands m_commands;
    qsizetype m_next = 0;
    base::Decimal m_current;
    base::Decimal m_zero;
    base::Decimal m_tare;
};

} // namespace tavlo::sim
