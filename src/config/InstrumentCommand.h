#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace tavlo::config {

// What the user can ask of an instrument from the computer: a reading now, tare, zero.
enum class InstrumentCommand { Request, Tare, Zero };

// The command's word in the command line, the reading service and MQTT: "request", "tare", "zero".
QString commandName(InstrumentCommand command);
std::optional<InstrumentCommand> commandFromName(QStringView name);

// The bytes of each command as the maker's interface description gives them (an empty text: no such command),
// the pattern of the instrument's answer to tare and zero, and the document the commands come from.
struct InstrumentCommands {
    const char* request = "";
    const char* tare = "";
    const char* zero = "";
    const char* acknowledgement = nullptr;
    const char* source = "";
};

} // namespace tavlo::config
