#include "serial/ListPortsCommand.h"
#include "tavlo/headless/HeadlessRunner.h"
#include "tavlo/util/CommandLine.h"
#include "tavlo/util/ProgramProperties.h"
#include "tavlo/util/SystemProperties.h"
#include "worker/SelfTest.h"

#include <QCoreApplication>
#include <QTextStream>

using tavlo::util::CommandLine;
using tavlo::util::SystemProperties;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString error;
    const auto commandLine = CommandLine::parse(app.arguments().mid(1), &error);
    if (!commandLine) {
        err << "tavlo: " << error << '\n' << CommandLine::usage();
        return 1;
    }
    tavlo::util::setProgramProperties();
    commandLine->applyProperties();

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
    case CommandLine::Mode::Headless:
        return tavlo::headless::HeadlessRunner(*commandLine).run();
    case CommandLine::Mode::Window:
        break;
    }
    err << "tavlo: this build has no window yet; use --headless (see --help)\n";
    return 1;
}
