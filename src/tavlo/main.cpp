#include "serial/ListPortsCommand.h"
#include "tavlo/util/ProgramProperties.h"
#include "tavlo/util/SystemProperties.h"
#include "worker/SelfTest.h"

#include <QCoreApplication>
#include <QTextStream>

using tavlo::util::SystemProperties;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    tavlo::util::setProgramProperties();
    const QStringList arguments = SystemProperties::applyCommandLine(app.arguments().mid(1));
    QTextStream out(stdout);
    QTextStream err(stderr);

    if (arguments.contains(QLatin1String("--version"))) {
        out << SystemProperties::get(QStringLiteral("VERSION"), QString()) << '\n';
        return 0;
    }
    if (arguments.contains(QLatin1String("--self-test")))
        return tavlo::worker::runSelfTest(out) == 0 ? 0 : 1;
    if (arguments.contains(QLatin1String("--list-ports")))
        return serial::listPortsCommand(out, err);

    err << "usage: tavlo [-DNAME=value ...] [--self-test | --version | --list-ports]\n";
    return 2;
}
