#include "serial/SerialFeatures.h"

#include <QStringList>

namespace serial {

namespace {

bool isNetware(const QString& osName) {
    return osName.toLower().contains(QLatin1String("netware"));
}

bool oneOf(const QString& value, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (value == QLatin1String(name))
            return true;
    }
    return false;
}

} // namespace

SerialFeatures SerialFeatures::forSystem(const QString& osName, const QString& osArch) {
    SerialFeatures f;
    if (oneOf(osName, {"Windows 95",
                       "Windows NT",
                       "Windows 2000",
                       "Windows 2003",
                       "Windows Vista",
                       "Windows Server 2008",
                       "Windows Server 2008 R2",
                       "Windows",
                       "Windows Server 2012",
                       "Windows Server 2012 R2",
                       "Windows NT (unknown)",
                       "Windows 10",
                       "Windows 8.1",
                       "Windows 8",
                       "Windows 7",
                       "Windows XP",
                       "Windows 98",
                       "Windows Me",
                       "Windows CE",
                       "WindowsCE",
                       "OS/2"}) ||
        isNetware(osName)) {
        f.supParityMarkSpace = f.supInstanceLock = f.supGetPortList = f.supGetStatusAPM = true;
        f.supSigBreak = f.supSigFrameErr = f.supSigParityErr = f.supSigOverrun = f.supRxOverflow = true;
        f.supRxReadyCount = f.supTxBufCount = f.supSetTimeoutTx = f.supGetTimeoutTx = true;
        f.supSigRing = f.supSetRTS = f.supSetDTR = f.supSigCD = f.supSigCTS = f.supSigDSR = f.supUnplugPort = true;
        f.hostGetDataTimeout = false;
        f.supNoIndexBitRate = osName != QLatin1String("OS/2");
        f.devName = QStringLiteral("COM1");
        if (oneOf(osName, {"Windows", "Windows 10", "Windows 8.1", "Windows 8", "Windows 7", "Windows NT (unknown)",
                           "Windows Server 2008", "Windows Server 2008 R2", "Windows Server 2012", "Windows Vista",
                           "Windows 2003", "Windows 2000", "Windows XP"})) {
            f.maxBitRate = 921600;
            f.supDriverInfo = true;
        }
        if (isNetware(osName)) {
            f.supGetPortList = false;
            f.hostGetDataTimeout = true;
        }
    }
    if (osName == QLatin1String("Mac OS")) {
        f.maxBitRate = 921600;
        f.supGetPortList = f.supSigBreak = f.supSigFrameErr = f.supSigParityErr = f.supSigOverrun = true;
        f.supRxOverflow = f.supRxReadyCount = f.supTxBufCount = f.supSetTimeoutTx = f.supGetTimeoutTx = true;
        f.supSetDTR = f.supSigCTS = f.hostGetDataTimeout = f.supNoIndexBitRate = true;
        f.devName = QStringLiteral("Modem Port");
    }
    if (osName == QLatin1String("Mac OS X")) {
        f.maxBitRate = 230400;
        f.supParityMarkSpace = f.supGetPortList = f.supGetStatusAPM = f.supRxReadyCount = f.supTxBufCount = true;
        f.supSetRTS = f.supSetDTR = f.supSigCD = f.supSigCTS = f.supSigDSR = f.hostGetDataTimeout = true;
        f.devName = QString();
    }
    if (oneOf(osName, {"Linux", "FreeBSD", "Solaris", "SunOS", "HP-UX", "Irix", "AIX", "OSF1", "UnixWare"})) {
        f.supParityMarkSpace = f.supRxReadyCount = f.supTxBufCount = f.supSigRing = true;
        f.supSetRTS = f.supSetDTR = f.supSigCD = f.supSigCTS = f.supSigDSR = f.hostGetDataTimeout = true;
        f.devName = QStringLiteral("/dev/tty0");
        if (osName == QLatin1String("Linux")) {
            f.supGetStatusAPM = true;
            f.devName = QStringLiteral("/dev/ttyS0");
            if (osArch == QLatin1String("armv4l") || osArch == QLatin1String("arm"))
                f.supSetPowerMode = f.supGetResumeState = true;
        }
        if (oneOf(osName, {"Solaris", "SunOS"}))
            f.devName = QStringLiteral("/dev/ttya");
        if (osName == QLatin1String("Irix"))
            f.supSetRTS = f.supSetDTR = f.supSigCTS = false;
        if (osName == QLatin1String("UnixWare"))
            f.supSetRTS = false;
        if (osName == QLatin1String("OSF1"))
            f.devName = QStringLiteral("/dev/tty00");
    }
    if (osName == QLatin1String("EPOC")) {
        f.supGetPortList = f.supSigFrameErr = f.supSigParityErr = f.supSigOverrun = f.supRxReadyCount = true;
        f.supTxBufCount = f.supSetTimeoutTx = f.supGetTimeoutTx = f.supSetRTS = f.supSetDTR = true;
        f.supSigCD = f.supSigCTS = f.supSigDSR = f.supNoIndexBitRate = true;
        f.hostGetDataTimeout = false;
        f.supSendBreak = false;
        f.devName = QStringLiteral("COMM::0");
    }
    return f;
}

bool SerialFeatures::byName(const QString& feature) const {
    struct Entry {
        const char* name;
        bool SerialFeatures::*flag;
    };
    static const Entry entries[] = {
        {"sigBreak", &SerialFeatures::supSigBreak},
        {"sendBreak", &SerialFeatures::supSendBreak},
        {"sigFrameErr", &SerialFeatures::supSigFrameErr},
        {"sigOverrun", &SerialFeatures::supSigOverrun},
        {"sigParityErr", &SerialFeatures::supSigParityErr},
        {"rxOverflow", &SerialFeatures::supRxOverflow},
        {"sigRing", &SerialFeatures::supSigRing},
        {"sigCTS", &SerialFeatures::supSigCTS},
        {"sigDSR", &SerialFeatures::supSigDSR},
        {"sigCD", &SerialFeatures::supSigCD},
        {"setRTS", &SerialFeatures::supSetRTS},
        {"setDTR", &SerialFeatures::supSetDTR},
        {"rxReadyCount", &SerialFeatures::supRxReadyCount},
        {"txBufCount", &SerialFeatures::supTxBufCount},
        {"setTimeoutTx", &SerialFeatures::supSetTimeoutTx},
        {"noIndexBitRate", &SerialFeatures::supNoIndexBitRate},
        {"getPortList", &SerialFeatures::supGetPortList},
        {"setPowerMode", &SerialFeatures::supSetPowerMode},
        {"getStatusAPM", &SerialFeatures::supGetStatusAPM},
        {"InstanceLock", &SerialFeatures::supInstanceLock},
        {"ParityMarkSpace", &SerialFeatures::supParityMarkSpace},
        {"supDriverInfo", &SerialFeatures::supDriverInfo},
        {"UnplugPort", &SerialFeatures::supUnplugPort},
    };
    for (const Entry& e : entries) {
        if (feature == QLatin1String(e.name))
            return this->*e.flag;
    }
    return false;
}

QString nativeLibraryName(const QString& osName, const QString& osArch, const QString& runtimeVersion,
                          bool* windowsFamily) {
    QString lib;
    bool windows = false;
    if (oneOf(osName, {"Windows 95", "Windows 98", "Windows Me", "Windows NT", "Windows XP", "Windows 2000",
                       "Windows 2003", "Windows 2008", "Windows Vista", "Windows Server 2008", "Windows Server 2008 R2",
                       "Windows Server 2012", "Windows Server 2012 R2", "Windows 7", "Windows NT (unknown)",
                       "Windows 8", "Windows 8.1", "Windows 10", "Windows"})) {
        windows = true;
        lib = oneOf(runtimeVersion, {"1.0.2", "102"}) ? QStringLiteral("tspWinNm") : QStringLiteral("tspWin");
    }
    if (osName == QLatin1String("EPOC")) {
        if (osArch == QLatin1String("x86"))
            lib = QStringLiteral("tspEpocx86");
        else if (osArch == QLatin1String("arm"))
            lib = QStringLiteral("tspEpocArm");
    }
    if (oneOf(osName, {"Windows CE", "WindowsCE", "WinCE"})) {
        if (osArch == QLatin1String("MIPS"))
            lib = QStringLiteral("tspWceMips");
        else if (osArch == QLatin1String("SH3"))
            lib = QStringLiteral("tspWceSh3");
        else if (osArch == QLatin1String("SH4"))
            lib = QStringLiteral("tspWceSh4");
        else if (oneOf(osArch, {"ARM", "Strong ARM", "XSCALE"}))
            lib = QStringLiteral("tspWceArm");
        else if (osArch == QLatin1String("x86"))
            lib = QStringLiteral("tspWceX86");
    }
    if (osName == QLatin1String("OS/2"))
        lib = QStringLiteral("tspos2j");
    if (osName == QLatin1String("Mac OS"))
        lib = QStringLiteral("tspMac");
    if (osName == QLatin1String("Mac OS X"))
        lib = QStringLiteral("tspMacOSX");
    if (osName == QLatin1String("Linux")) {
        if (oneOf(osArch, {"x86", "i386", "i486", "i586", "i686"}))
            lib = QStringLiteral("tspLux86");
        else if (oneOf(osArch, {"armv4l", "arm", "armv5tel", "armv5l"}))
            lib = QStringLiteral("tspLuxArm");
        else if (osArch == QLatin1String("amd64"))
            lib = QStringLiteral("tspLux86_64bit");
    }
    if (osName == QLatin1String("FreeBSD") && oneOf(osArch, {"i386", "x86"}))
        lib = QStringLiteral("tspBsdx86");
    if (oneOf(osName, {"Solaris", "SunOS"})) {
        if (osArch == QLatin1String("x86"))
            lib = QStringLiteral("tspSolx86");
        else if (osArch == QLatin1String("sparc"))
            lib = QStringLiteral("tspSolSparc");
    }
    if (osName == QLatin1String("HP-UX") && oneOf(osArch, {"PA-RISC", "PA_RISC", "PA_RISC2.0"}))
        lib = QStringLiteral("tspHpxPaRisc");
    if (osName == QLatin1String("Irix") && osArch == QLatin1String("mips"))
        lib = QStringLiteral("tspIrxMips");
    if (osName == QLatin1String("AIX") && oneOf(osArch, {"POWER_PC", "ppc"}))
        lib = QStringLiteral("tspAixPpc");
    if (oneOf(osName, {"UnixWare", "OpenServer"}) && osArch == QLatin1String("IA32"))
        lib = QStringLiteral("tspUxWareIA32");
    if (osName == QLatin1String("OSF1") && osArch == QLatin1String("alpha"))
        lib = QStringLiteral("tspTru64Alpha");
    if (isNetware(osName))
        lib = QStringLiteral("TspNw");
    if (windowsFamily)
        *windowsFamily = windows;
    return lib;
}

} // namespace serial
