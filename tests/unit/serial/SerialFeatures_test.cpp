#include "serial/SerialFeatures.h"

#include <gtest/gtest.h>

#include <QStringList>

using serial::SerialFeatures;

namespace {

const char* const kAllFlags[] = {"supGetPortList",    "supUnplugPort",     "supSendBreak",       "supSigBreak",
                                 "supSigFrameErr",    "supSigOverrun",     "supSigParityErr",    "supRxOverflow",
                                 "supSigRing",        "supSigCTS",         "supSigDSR",          "supSigCD",
                                 "supSetRTS",         "supSetDTR",         "supRxReadyCount",    "supTxBufCount",
                                 "supSetTimeoutTx",   "supGetTimeoutTx",   "supGetStatusAPM",    "supSetPowerMode",
                                 "supGetResumeState", "supInstanceLock",   "supParityMarkSpace", "supNoIndexBitRate",
                                 "supDriverInfo",     "hostGetDataTimeout"};

bool flag(const SerialFeatures& f, const QString& name) {
    const std::pair<const char*, bool> values[] = {{"supGetPortList", f.supGetPortList},
                                                   {"supUnplugPort", f.supUnplugPort},
                                                   {"supSendBreak", f.supSendBreak},
                                                   {"supSigBreak", f.supSigBreak},
                                                   {"supSigFrameErr", f.supSigFrameErr},
                                                   {"supSigOverrun", f.supSigOverrun},
                                                   {"supSigParityErr", f.supSigParityErr},
                                                   {"supRxOverflow", f.supRxOverflow},
                                                   {"supSigRing", f.supSigRing},
                                                   {"supSigCTS", f.supSigCTS},
                                                   {"supSigDSR", f.supSigDSR},
                                                   {"supSigCD", f.supSigCD},
                                                   {"supSetRTS", f.supSetRTS},
                                                   {"supSetDTR", f.supSetDTR},
                                                   {"supRxReadyCount", f.supRxReadyCount},
                                                   {"supTxBufCount", f.supTxBufCount},
                                                   {"supSetTimeoutTx", f.supSetTimeoutTx},
                                                   {"supGetTimeoutTx", f.supGetTimeoutTx},
                                                   {"supGetStatusAPM", f.supGetStatusAPM},
                                                   {"supSetPowerMode", f.supSetPowerMode},
                                                   {"supGetResumeState", f.supGetResumeState},
                                                   {"supInstanceLock", f.supInstanceLock},
                                                   {"supParityMarkSpace", f.supParityMarkSpace},
                                                   {"supNoIndexBitRate", f.supNoIndexBitRate},
                                                   {"supDriverInfo", f.supDriverInfo},
                                                   {"hostGetDataTimeout", f.hostGetDataTimeout}};
    for (const auto& [n, v] : values) {
        if (name == QLatin1String(n))
            return v;
    }
    ADD_FAILURE() << "no flag " << name.toStdString();
    return false;
}

const char* const kWindowsFlags =
    "supParityMarkSpace supInstanceLock supGetPortList supGetStatusAPM supSigBreak supSigFrameErr supSigParityErr "
    "supSigOverrun supRxOverflow supRxReadyCount supTxBufCount supSetTimeoutTx supGetTimeoutTx supSigRing supSetRTS "
    "supSetDTR supSigCD supSigCTS supSigDSR supUnplugPort supSendBreak";
const char* const kUnixFlags = "supParityMarkSpace supRxReadyCount supTxBufCount supSigRing supSetRTS supSetDTR "
                               "supSigCD supSigCTS supSigDSR hostGetDataTimeout supSendBreak";

struct FeatureCase {
    const char* os;
    const char* arch;
    QString flags; // every flag that is true
    int32_t maxBitRate;
    const char* devName;
};

class FeatureTable : public testing::TestWithParam<FeatureCase> {};

TEST_P(FeatureTable, SetsExactlyTheRowsFlags) {
    const FeatureCase& c = GetParam();
    const SerialFeatures f = SerialFeatures::forSystem(QString::fromUtf8(c.os), QString::fromUtf8(c.arch));
    const QStringList expected = c.flags.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const char* name : kAllFlags)
        EXPECT_EQ(flag(f, QLatin1String(name)), expected.contains(QLatin1String(name))) << c.os << ": " << name;
    EXPECT_EQ(f.maxBitRate, c.maxBitRate) << c.os;
    EXPECT_EQ(f.devName, QString::fromUtf8(c.devName)) << c.os;
}

QString plus(const char* base, const char* more) {
    return QString::fromUtf8(base) + u' ' + QString::fromUtf8(more);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, FeatureTable,
    testing::Values(
        FeatureCase{"Windows", "x86", plus(kWindowsFlags, "supNoIndexBitRate supDriverInfo"), 921600, "COM1"},
        FeatureCase{"Windows 10", "amd64", plus(kWindowsFlags, "supNoIndexBitRate supDriverInfo"), 921600, "COM1"},
        FeatureCase{"Windows 98", "x86", plus(kWindowsFlags, "supNoIndexBitRate"), 115200, "COM1"},
        FeatureCase{"Windows Server 2012 R2", "x86", plus(kWindowsFlags, "supNoIndexBitRate"), 115200, "COM1"},
        FeatureCase{"OS/2", "x86", QString::fromUtf8(kWindowsFlags), 115200, "COM1"},
        FeatureCase{
            "Novell NetWare", "x86",
            plus(kWindowsFlags, "supNoIndexBitRate hostGetDataTimeout").remove(QStringLiteral("supGetPortList ")),
            115200, "COM1"},
        FeatureCase{"Mac OS", "ppc",
                    "supGetPortList supSigBreak supSigFrameErr supSigParityErr supSigOverrun supRxOverflow "
                    "supRxReadyCount supTxBufCount supSetTimeoutTx supGetTimeoutTx supSetDTR supSigCTS "
                    "hostGetDataTimeout supNoIndexBitRate supSendBreak",
                    921600, "Modem Port"},
        FeatureCase{"Mac OS X", "ppc",
                    "supParityMarkSpace supGetPortList supGetStatusAPM supRxReadyCount supTxBufCount supSetRTS "
                    "supSetDTR supSigCD supSigCTS supSigDSR hostGetDataTimeout supSendBreak",
                    230400, ""},
        FeatureCase{"Linux", "amd64", plus(kUnixFlags, "supGetStatusAPM"), 115200, "/dev/ttyS0"},
        FeatureCase{"Linux", "arm", plus(kUnixFlags, "supGetStatusAPM supSetPowerMode supGetResumeState"), 115200,
                    "/dev/ttyS0"},
        FeatureCase{"SunOS", "sparc", QString::fromUtf8(kUnixFlags), 115200, "/dev/ttya"},
        FeatureCase{"Irix", "mips",
                    QString::fromUtf8(kUnixFlags)
                        .remove(QStringLiteral("supSetRTS supSetDTR "))
                        .remove(QStringLiteral("supSigCTS ")),
                    115200, "/dev/tty0"},
        FeatureCase{"UnixWare", "IA32", QString::fromUtf8(kUnixFlags).remove(QStringLiteral("supSetRTS ")), 115200,
                    "/dev/tty0"},
        FeatureCase{"OSF1", "alpha", QString::fromUtf8(kUnixFlags), 115200, "/dev/tty00"},
        FeatureCase{"EPOC", "arm",
                    "supGetPortList supSigFrameErr supSigParityErr supSigOverrun supRxReadyCount supTxBufCount "
                    "supSetTimeoutTx supGetTimeoutTx supSetRTS supSetDTR supSigCD supSigCTS supSigDSR "
                    "supNoIndexBitRate",
                    115200, "COMM::0"},
        FeatureCase{"BeOS", "x86", "supSendBreak", 115200, ""}));

TEST(SerialFeatures, FeatureNamesAreExact) {
    const SerialFeatures linux = SerialFeatures::forSystem(QStringLiteral("Linux"), QStringLiteral("amd64"));
    EXPECT_TRUE(linux.byName(QStringLiteral("sigCTS")));
    EXPECT_TRUE(linux.byName(QStringLiteral("ParityMarkSpace")));
    EXPECT_FALSE(linux.byName(QStringLiteral("sigBreak")));
    EXPECT_FALSE(linux.byName(QStringLiteral("supDriverInfo")));
    const SerialFeatures windows = SerialFeatures::forSystem(QStringLiteral("Windows"), QStringLiteral("x86"));
    EXPECT_TRUE(windows.byName(QStringLiteral("supDriverInfo")));
    EXPECT_TRUE(windows.byName(QStringLiteral("UnplugPort")));
    EXPECT_TRUE(windows.byName(QStringLiteral("InstanceLock")));
    EXPECT_TRUE(windows.byName(QStringLiteral("noIndexBitRate")));
    EXPECT_FALSE(windows.byName(QStringLiteral("SigBreak")));
    EXPECT_FALSE(windows.byName(QStringLiteral("setPowerMode")));
    EXPECT_FALSE(windows.byName(QStringLiteral("supSigBreak")));
}

struct LibraryCase {
    const char* os;
    const char* arch;
    const char* runtime;
    const char* library;
    bool windows;
};

class LibraryNames : public testing::TestWithParam<LibraryCase> {};

TEST_P(LibraryNames, ChoosesTheLibraryForTheSystem) {
    const LibraryCase& c = GetParam();
    bool windows = !c.windows;
    EXPECT_EQ(serial::nativeLibraryName(QString::fromUtf8(c.os), QString::fromUtf8(c.arch),
                                        QString::fromUtf8(c.runtime), &windows),
              QString::fromUtf8(c.library));
    EXPECT_EQ(windows, c.windows);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, LibraryNames,
    testing::Values(
        LibraryCase{"Windows", "x86", "6.4.2", "tspWin", true},
        LibraryCase{"Windows 2008", "amd64", "6.4.2", "tspWin", true},
        LibraryCase{"Windows XP", "x86", "1.0.2", "tspWinNm", true},
        LibraryCase{"Windows 7", "x86", "102", "tspWinNm", true},
        LibraryCase{"Windows CE", "SH4", "", "tspWceSh4", false},
        LibraryCase{"WindowsCE", "XSCALE", "", "tspWceArm", false}, LibraryCase{"EPOC", "arm", "", "tspEpocArm", false},
        LibraryCase{"OS/2", "x86", "", "tspos2j", false}, LibraryCase{"Mac OS X", "ppc", "", "tspMacOSX", false},
        LibraryCase{"Linux", "i686", "", "tspLux86", false}, LibraryCase{"Linux", "amd64", "", "tspLux86_64bit", false},
        LibraryCase{"Linux", "armv5tel", "", "tspLuxArm", false}, LibraryCase{"Linux", "aarch64", "", "", false},
        LibraryCase{"FreeBSD", "x86", "", "tspBsdx86", false}, LibraryCase{"SunOS", "x86", "", "tspSolx86", false},
        LibraryCase{"HP-UX", "PA_RISC2.0", "", "tspHpxPaRisc", false},
        LibraryCase{"OpenServer", "IA32", "", "tspUxWareIA32", false},
        LibraryCase{"NetWare", "x86", "", "TspNw", false}, LibraryCase{"BeOS", "x86", "", "", false}));

} // namespace
