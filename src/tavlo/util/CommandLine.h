#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tavlo::util {

// The program's command line. Arguments that start with "-" are options ("--opt V" and "--opt=V" both work,
// "-DNAME=value" sets a process property); the first other argument names the port.
struct CommandLine {
    enum class Mode {
        Window,
        Headless,
        ListPorts,
        SelfTest,
        Version,
        Help,
        ExportSettings,
        ImportSettings,
        Send,
        ReadingServiceToken
    };
    // None: values are not typed at all (read, process, log and serve).
    enum class Output { Keyboard, Print, None };

    Mode mode = Mode::Window;
    Output output = Output::Keyboard;
    bool outputGiven = false; // --output was given: it decides over the stored "typeValues"
    std::optional<QString> port;
    std::optional<QString> settingsFile;
    std::optional<QString> transferFile; // of --export-settings and --import-settings
    std::optional<int> count;            // exit after this many framed records
    std::optional<int> pollMs;           // send the instrument's request text this often
    std::optional<QString> dataLog;      // the data log file, instead of the stored one
    std::optional<QString> sendCommand;  // --send: request, tare, zero, start or stop
    std::optional<int> readingService;   // the reading service's port, instead of the stored one (0: off)
    std::optional<QString> mqttBroker;   // the MQTT broker, instead of the stored one (empty: off)
    QList<QPair<QString, QString>> properties;

    // Reads the arguments (without the program name). A usage error gives none and its text in `error`.
    static std::optional<CommandLine> parse(const QStringList& arguments, QString* error);
    // Puts the -D properties into the process property table.
    void applyProperties() const;
    static QString usage();
};

} // namespace tavlo::util
