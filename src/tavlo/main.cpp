#include "serial/ListPortsCommand.h"
#include "tavlo/util/SystemProperties.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = tavlo::util::SystemProperties::applyCommandLine(app.arguments().mid(1));
    if (args.value(0) == QLatin1String("--list-ports")) {
        tavlo::util::SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
        tavlo::util::SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
        QTextStream out(stdout), err(stderr);
        return serial::listPortsCommand(out, err);
    }
    QTextStream(stdout) << "tavlo\n";
    return 0;
}
