#include "base/ProgramProperties.h"
#include "base/SystemProperties.h"
#include "output/ReadingServiceToken.h"
#include "platform/Desktop.h"
#include "serial/ListPortsCommand.h"
#include "tavlo/VudareDiVez.h"
#include "tavlo/headless/HeadlessRunner.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/SettingsCommands.h"
#include "tavlo/util/CommandLine.h"
#include "tavlo/util/WindowInstance.h"
#include "worker/SelfTest.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>
#include <memory>

using tavlo::base::SystemProperties;
using tavlo::util::CommandLine;

int main(int argc, char** argv) {
    tavlo::platform::prepareProcess();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString error;
    const auto commandLine = CommandLine::parse(arguments, &error);
    if (!commandLine) {
        err << "tavlo: " << error << '\n' << CommandLine::usage();
        return 1;
    }
    tavlo::base::setProgramProperties();
    commandLine->applyProperties();

    // Only the window needs a GUI application; the other modes also run without a display.
    std::unique_ptr<QCoreApplication> app;
    if (commandLine->mode == CommandLine::Mode::Window)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    switch (commandLine->mode) {
    case CommandLine::Mode::Version:
        out << SystemProperties::get(QStringLiteral("VERSION"), QString()) << '\n';
        return 0;
    case CommandLine::Mode::Help:
        out << CommandLine::usage();
        return 0;
    case CommandLine::Mode::SelfTest:
        return tavlo::worker::runSelfTest(out) == 0 ? 0 : 1;
    case CommandLine::Mode::ListPorts:
        return serial::listPortsCommand(out, err);
    case CommandLine::Mode::ExportSettings: {
        tavlo::prefs::ConfigStore store;
        return tavlo::prefs::exportSettingsCommand(store, *commandLine->transferFile, out, err);
    }
    case CommandLine::Mode::ImportSettings: {
        tavlo::prefs::ConfigStore store;
        return tavlo::prefs::importSettingsCommand(store, *commandLine->transferFile, out, err);
    }
    case CommandLine::Mode::ReadingServiceToken: {
        QString error;
        QString warning;
        const QString token = tavlo::output::ReadingServiceToken::loadOrCreate(&error, &warning);
        if (!warning.isEmpty())
            err << "tavlo: " << warning << '\n';
        if (token.isEmpty()) {
            err << "tavlo: " << error << '\n';
            return 1;
        }
        out << token << '\n';
        return 0;
    }
    case CommandLine::Mode::Headless:
        return tavlo::headless::HeadlessRunner(*commandLine).run();
    case CommandLine::Mode::Send:
        return tavlo::util::WindowInstance::sendCommand(*commandLine->sendCommand, err);
    case CommandLine::Mode::Window:
        return tavlo::VudareDiVez::runWindow(commandLine->port);
    }
    return 1;
}
