#include "tavlo/util/CommandLine.h"

#include "base/SystemProperties.h"

using tavlo::base::SystemProperties;

namespace tavlo::util {

namespace {

std::optional<int> positiveNumber(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || text.trimmed() != text || text.startsWith(u'+'))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<CommandLine> CommandLine::parse(const QStringList& arguments, QString* error) {
    CommandLine cl;
    const auto fail = [&](const QString& text) -> std::optional<CommandLine> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    bool modeGiven = false;
    std::optional<Mode> transferMode;
    const auto setMode = [&](Mode mode) {
        // --headless combines with nothing else that picks a mode; the informational modes win over it.
        if (!modeGiven || cl.mode == Mode::Headless || mode != Mode::Headless)
            cl.mode = mode;
        modeGiven = true;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!argument.startsWith(u'-') || argument == QLatin1String("-")) {
            if (cl.port)
                return fail(QStringLiteral("only one port may be given (\"%1\" and \"%2\")").arg(*cl.port, argument));
            cl.port = argument;
            continue;
        }
        if (argument.startsWith(QLatin1String("-D"))) {
            const qsizetype eq = argument.indexOf(u'=');
            const QString name = eq < 0 ? argument.mid(2) : argument.mid(2, eq - 2);
            if (name.isEmpty())
                return fail(QStringLiteral("-D needs a property name, as in -DNAME=value"));
            cl.properties.append({name, eq < 0 ? QString() : argument.mid(eq + 1)});
            continue;
        }
        QString name = argument;
        std::optional<QString> inlineValue;
        if (const qsizetype eq = argument.indexOf(u'='); eq > 0) {
            name = argument.left(eq);
            inlineValue = argument.mid(eq + 1);
        }
        const auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        const auto flag = [&](Mode mode) -> bool {
            if (inlineValue)
                return false;
            setMode(mode);
            return true;
        };
        if (name == QLatin1String("--headless")) {
            if (!flag(Mode::Headless))
                return fail(QStringLiteral("--headless takes no value"));
        } else if (name == QLatin1String("--list-ports")) {
            if (!flag(Mode::ListPorts))
                return fail(QStringLiteral("--list-ports takes no value"));
        } else if (name == QLatin1String("--self-test")) {
            if (!flag(Mode::SelfTest))
                return fail(QStringLiteral("--self-test takes no value"));
        } else if (name == QLatin1String("--version")) {
            if (!flag(Mode::Version))
                return fail(QStringLiteral("--version takes no value"));
        } else if (name == QLatin1String("--reading-service-token")) {
            if (!flag(Mode::ReadingServiceToken))
                return fail(QStringLiteral("--reading-service-token takes no value"));
        } else if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            if (!flag(Mode::Help))
                return fail(QStringLiteral("--help takes no value"));
        } else if (name == QLatin1String("--settings")) {
            const auto v = value();
            if (!v || v->isEmpty())
                return fail(QStringLiteral("--settings needs a file name"));
            cl.settingsFile = *v;
        } else if (name == QLatin1String("--export-settings") || name == QLatin1String("--import-settings")) {
            const auto v = value();
            if (!v || v->isEmpty())
                return fail(QStringLiteral("%1 needs a file name").arg(name));
            if (cl.transferFile)
                return fail(QStringLiteral("only one of --export-settings and --import-settings may be given"));
            cl.transferFile = *v;
            transferMode = name == QLatin1String("--export-settings") ? Mode::ExportSettings : Mode::ImportSettings;
        } else if (name == QLatin1String("--data-log")) {
            const auto v = value();
            if (!v || v->isEmpty())
                return fail(QStringLiteral("--data-log needs a file name"));
            cl.dataLog = *v;
        } else if (name == QLatin1String("--send")) {
            const auto v = value();
            static const QStringList commands{"request", "tare", "zero", "start", "stop"};
            if (!v || !commands.contains(*v))
                return fail(QStringLiteral("--send takes request, tare, zero, start or stop"));
            cl.sendCommand = *v;
        } else if (name == QLatin1String("--output")) {
            const auto v = value();
            if (v == QLatin1String("keyboard"))
                cl.output = Output::Keyboard;
            else if (v == QLatin1String("print"))
                cl.output = Output::Print;
            else if (v == QLatin1String("none"))
                cl.output = Output::None;
            else
                return fail(QStringLiteral("--output takes \"keyboard\", \"print\" or \"none\""));
            cl.outputGiven = true;
        } else if (name == QLatin1String("--reading-service")) {
            const auto v = value();
            bool ok = false;
            const int port = v ? v->toInt(&ok) : -1;
            if (!ok || port < 0 || port > 65535 || v->trimmed() != *v || v->startsWith(u'+'))
                return fail(QStringLiteral("--reading-service needs a port number from 1 to 65535 (0: off)"));
            cl.readingService = port;
        } else if (name == QLatin1String("--mqtt-broker")) {
            // Checked at Start with the other MQTT settings; an empty value switches MQTT off.
            const auto v = value();
            if (!v)
                return fail(QStringLiteral("--mqtt-broker needs a broker address, tcp://HOST:PORT or ssl://HOST:PORT"));
            cl.mqttBroker = *v;
        } else if (name == QLatin1String("--count") || name == QLatin1String("--poll")) {
            const auto v = value();
            const auto n = v ? positiveNumber(*v) : std::nullopt;
            if (!n)
                return fail(QStringLiteral("%1 needs a whole number of 1 or more").arg(name));
            (name == QLatin1String("--count") ? cl.count : cl.pollMs) = n;
        } else {
            return fail(QStringLiteral("unknown option %1").arg(name));
        }
    }
    const bool headlessOnly =
        cl.settingsFile || cl.count || cl.pollMs || cl.outputGiven || cl.dataLog || cl.readingService || cl.mqttBroker;
    if (transferMode) {
        // The informational modes still answer; a run, a window or a port has no place next to a settings copy.
        if (cl.mode == Mode::Help || cl.mode == Mode::Version)
            return cl;
        if (modeGiven || headlessOnly || cl.port || cl.sendCommand)
            return fail(QStringLiteral("--export-settings and --import-settings take no port and no other mode"));
        cl.mode = *transferMode;
        return cl;
    }
    if (cl.sendCommand) {
        // The command goes to the window that runs; nothing of a run of its own goes with it.
        if (cl.mode == Mode::Help || cl.mode == Mode::Version)
            return cl;
        if (modeGiven || headlessOnly || cl.port)
            return fail(QStringLiteral("--send takes no port and no other mode"));
        cl.mode = Mode::Send;
        return cl;
    }
    if (headlessOnly && cl.mode == Mode::Window)
        return fail(QStringLiteral(
            "--settings, --output, --count, --poll, --data-log, --reading-service and --mqtt-broker need "
            "--headless"));
    return cl;
}

void CommandLine::applyProperties() const {
    for (const auto& [name, value] : properties)
        SystemProperties::set(name, value);
}

QString CommandLine::usage() {
    return QStringLiteral(
        "usage: tavlo [options] [PORT]\n"
        "  (no option)           open the window\n"
        "  --headless            run without a window; the event log goes to standard error\n"
        "  --settings FILE       with --headless: take the settings from an export file (read only)\n"
        "  --output keyboard|print|none  type the values (default), print what would be typed, or type\n"
        "                        nothing (read, log and serve only)\n"
        "  --count N             with --headless: end once N records were framed and every output has them\n"
        "  --poll MS             with --headless: send the instrument's request text every MS milliseconds\n"
        "  --export-settings FILE  write the stored settings to FILE as a settings export; exit status 0 when\n"
        "                        written, 1 with the reason when not\n"
        "  --import-settings FILE  merge a settings export into the stored settings; exit status 0 when imported,\n"
        "                        1 with the reason when refused (the stored settings stay unchanged)\n"
        "  --data-log FILE       with --headless: log every record to the CSV file FILE (appended)\n"
        "  --send COMMAND        hand request, tare, zero, start or stop to the running window; exit status 0\n"
        "                        when done, 1 with the reason when no window runs or it cannot be done now\n"
        "  --reading-service PORT  with --headless: serve the readings on localhost:PORT (WebSocket /readings,\n"
        "                        GET /reading, POST /command); 0: off\n"
        "  --reading-service-token  print the reading service's token for commands (made when there is none)\n"
        "  --mqtt-broker URL     with --headless: publish every reading to the MQTT broker tcp://HOST:PORT or\n"
        "                        ssl://HOST:PORT, instead of the stored \"mqttBroker\" (empty: off)\n"
        "  --list-ports          list the serial ports and exit\n"
        "  --self-test           check every instrument profile's sample records and exit\n"
        "  --version             print the version and exit\n"
        "  --help                print this text and exit\n"
        "  -DNAME=value          set a process property (EDITION, SERIAL_PORT_LIST, TSP_LIBRARY_PATH, ...)\n"
        "With --headless, SIGINT or SIGTERM stops reading and types the queued values, then exits 0; a second one\n"
        "stops after the value being typed and exits 130 (SIGINT) or 143 (SIGTERM).\n"
        "Exit statuses: 0 normal, 1 could not start, 2 native serial library missing, 4 damaged program files,\n"
        "130/143 stopped by a second signal with values left untyped.\n");
}

} // namespace tavlo::util
