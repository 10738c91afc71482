#include "config/InstrumentCommand.h"

namespace tavlo::config {

QString commandName(InstrumentCommand command) {
    switch (command) {
    case InstrumentCommand::Request:
        return QStringLiteral("request");
    case InstrumentCommand::Tare:
        return QStringLiteral("tare");
    case InstrumentCommand::Zero:
        return QStringLiteral("zero");
    }
    return {};
}

std::optional<InstrumentCommand> commandFromName(QStringView name) {
    for (InstrumentCommand command : {InstrumentCommand::Request, InstrumentCommand::Tare, InstrumentCommand::Zero})
        if (name == commandName(command))
            return command;
    return std::nullopt;
}

} // namespace tavlo::config
