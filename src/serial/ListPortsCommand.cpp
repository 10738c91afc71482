#include "serial/ListPortsCommand.h"

#include "serial/NativeLibraryError.h"
#include "serial/SerialIoError.h"
#include "serial/SerialPortLocal.h"

namespace serial {

int listPortsCommand(QTextStream& out, QTextStream& err) {
    try {
        if (!SerialPortLocal::isLibraryLoaded()) {
            err << SerialPortLocal::getLibraryFailure() << Qt::endl;
            return 2;
        }
        const QStringList ports = SerialPortLocal::getPortList();
        QList<PortDriverInfo> infos;
        try {
            infos = SerialPortLocal::getDriverInfoList();
        } catch (const SerialIoError&) {
            // No driver information on this platform or for these ports: plain names only.
        }
        for (const QString& port : ports) {
            QString line = port;
            for (const PortDriverInfo& info : std::as_const(infos)) {
                if (info.getPortName() == port) {
                    line = QStringLiteral("%1: %2 - %3").arg(port, info.getDriverDesc(), info.getDriverMfgr());
                    break;
                }
            }
            out << line << '\n';
        }
        out.flush();
        return 0;
    } catch (const NativeLibraryError& e) {
        err << e.message() << Qt::endl;
        return 2;
    } catch (const SerialIoError& e) {
        err << e.message() << Qt::endl;
        return 1;
    }
}

} // namespace serial
