// The process-wide side of the serial layer: set-up, port lists, driver information, class-level operations.
#include "SimFixture.h"

#include "serial/ListPortsCommand.h"
#include "serial/NativeLibraryError.h"

#include <gmock/gmock.h>

using serial::NativeLibraryError;
using serial::PortDriverInfo;
using serial::SerialPortLocal;
using tavlo::base::SystemProperties;
using testing::HasSubstr;

namespace {

class SerialLayerTest : public SimFixture {};

struct ListCase {
    const char* property;
    QStringList expected;
};

class PortListProperty : public SimFixture, public testing::WithParamInterface<ListCase> {};

TEST_P(PortListProperty, GivesThePortsItNames) {
    // Linux offers no discovery, so what the property does not add is not there.
    useSystem("Linux", "amd64");
    SystemProperties::set(QStringLiteral("SERIAL_PORT_LIST"), QString::fromUtf8(GetParam().property));
    EXPECT_EQ(SerialPortLocal::getPortList(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, PortListProperty,
                         testing::Values(ListCase{"COM1", {}}, ListCase{"COM1;", {"COM1"}}, ListCase{"  COM1 \t", {}},
                                         ListCase{"COM1; COM2", {"COM1", " COM2"}},
                                         ListCase{"/dev/ttyS0:/dev/ttyS1", {"/dev/ttyS0", "/dev/ttyS1"}},
                                         ListCase{"COM7;COM3;", {"COM7", "COM3"}},
                                         ListCase{";;COM7;;com7:COM3", {"COM7", "COM3"}}));

TEST_F(SerialLayerTest, PropertyListIsTakenInsteadOfDiscovery) {
    SystemProperties::set(QStringLiteral("SERIAL_PORT_LIST"), QStringLiteral("COM7;COM3;"));
    EXPECT_EQ(SerialPortLocal::getPortList(), QStringList({"COM7", "COM3"}));
    EXPECT_THAT(simLog(), testing::Not(HasSubstr("SerGetPortList")));
}

TEST_F(SerialLayerTest, WindowsListingIsSortedByComNumber) {
    tspSimReset();
    tspSimAddPort("COM10", "Maker A", "Adapter A");
    tspSimAddPort("COM3", nullptr, nullptr);
    tspSimAddPort("/dev/ttyUSB0", "Maker B", "Adapter B");
    tspSimAddPort("COM4", nullptr, nullptr);
    tspSimAddPort("XCOM", nullptr, nullptr);
    EXPECT_EQ(SerialPortLocal::getPortList(), QStringList({"COM3", "COM4", "COM10", "/dev/ttyUSB0", "XCOM"}));
    EXPECT_EQ(simLog(), "SerGetPortList()\n");

    const QList<PortDriverInfo> infos = SerialPortLocal::getDriverInfoList();
    ASSERT_EQ(infos.size(), 2);
    EXPECT_EQ(infos[0].getPortName(), "COM10");
    EXPECT_EQ(infos[0].getDriverMfgr(), "Maker A");
    EXPECT_EQ(infos[0].getDriverDesc(), "Adapter A");
    EXPECT_EQ(infos[1].getPortName(), "/dev/ttyUSB0");

    // Every listing starts from an empty list: a port that has gone is not offered any more.
    tspSimUnplug("COM4");
    EXPECT_EQ(SerialPortLocal::getPortList(), QStringList({"COM3", "COM10", "/dev/ttyUSB0", "XCOM"}));
}

TEST_F(SerialLayerTest, DriverInfoListFailures) {
    EXPECT_EQ(ioFailure([] { SerialPortLocal::getDriverInfoList(); }),
              "Must call SerialPortLocal.getPortList method first");
    useSystem("Linux", "amd64");
    EXPECT_EQ(ioFailure([] { SerialPortLocal::getDriverInfoList(); }), "Not supported on this platform");
    SerialPortLocal::addPortName(QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(ioFailure([] { SerialPortLocal::getDriverInfoList(); }), "Not supported on this platform");
}

TEST_F(SerialLayerTest, AddedNamesAndInfosIgnoreCase) {
    useSystem("Linux", "amd64");
    EXPECT_EQ(SerialPortLocal::getPortList(), QStringList());
    SerialPortLocal::addPortName(QStringLiteral("COM3"));
    SerialPortLocal::addPortName(QStringLiteral("com3"));
    SerialPortLocal::addPortName(QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(SerialPortLocal::getPortList(), QStringList({"COM3", "/dev/ttyS0"}));

    useSystem("Windows", "x86");
    SerialPortLocal::addPortName(QStringLiteral("COM5"));
    SerialPortLocal::addPortInfo(QStringLiteral("COM5"), QStringLiteral("M1"), QStringLiteral("D1"));
    SerialPortLocal::addPortInfo(QStringLiteral("com5"), QStringLiteral("M2"), QStringLiteral("D2"));
    const QList<PortDriverInfo> infos = SerialPortLocal::getDriverInfoList();
    ASSERT_EQ(infos.size(), 1);
    EXPECT_EQ(infos[0].getDriverMfgr(), "M1");
    SerialPortLocal::clearPortListInfo();
    EXPECT_TRUE(SerialPortLocal::getDriverInfoList().isEmpty());
}

TEST_F(SerialLayerTest, SetUpTakesTheSystemFromTheProperties) {
    EXPECT_EQ(SerialPortLocal::getOsName(), "Windows");
    EXPECT_EQ(SerialPortLocal::getOsArch(), "x86");
    EXPECT_EQ(SerialPortLocal::getNativeLibName(), "tspWin");
    EXPECT_EQ(SerialPortLocal::getDevName(), "COM1");
    EXPECT_TRUE(SerialPortLocal::isLibraryLoaded());
    SerialPortLocal::setPortListMode(3);
    EXPECT_EQ(SerialPortLocal::getPortListMode(), 3);

    // Without TSP_OSARCH the architecture stays the machine's.
    SystemProperties::remove(QStringLiteral("TSP_OSARCH"));
    SerialPortLocal::resetForTesting();
    EXPECT_EQ(SerialPortLocal::getOsArch(), SystemProperties::get(QStringLiteral("os.arch"), QString()));
    EXPECT_EQ(SerialPortLocal::getNativeLibName(), "tspWin");
}

TEST_F(SerialLayerTest, MissingLibraryIsItsOwnKindOfFailure) {
    SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral(TAVLO_BIN_DIR "/libtspMissing.so"));
    SerialPortLocal::resetForTesting();
    EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());
    EXPECT_THAT(SerialPortLocal::getLibraryFailure().toStdString(), HasSubstr("libtspMissing.so"));
    EXPECT_THROW(SerialPortLocal port(configFor("COM3")), NativeLibraryError);
    EXPECT_THROW(SerialPortLocal::getPortList(), NativeLibraryError);

    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    EXPECT_EQ(serial::listPortsCommand(outStream, errStream), 2);
    EXPECT_EQ(out, "");
    EXPECT_THAT(err.toStdString(), HasSubstr("libtspMissing.so"));
}

TEST_F(SerialLayerTest, LibraryLackingAnEntryPointIsRefused) {
    // Any shared library that is not a serial library will do.
    SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral("libserialport.so.0"));
    SerialPortLocal::resetForTesting();
    EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());
    EXPECT_EQ(SerialPortLocal::getLibraryFailure(),
              "Native library libserialport.so.0 lacks the entry point SerOpenPort");
}

TEST_F(SerialLayerTest, ListPortsCommandShowsFriendlyNames) {
    tspSimAddPort("COM10", nullptr, nullptr);
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    EXPECT_EQ(serial::listPortsCommand(outStream, errStream), 0);
    EXPECT_EQ(out, "COM3: USB Serial Port - FTDI\nCOM10\n");
}

TEST(SerialLayerDeathTest, UnsupportedPlatformEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Plan 9"));
            SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
            SerialPortLocal::resetForTesting();
            SerialPortLocal::getPortList();
        },
        testing::ExitedWithCode(255), "osName=Plan 9 osArch=x86");
}

TEST_F(SerialLayerTest, ProcessWideOperationsFollowTheirFeatures) {
    // The Windows set has the instance lock and power status but no power modes.
    EXPECT_EQ(SerialPortLocal::setInstanceLock(4), 0);
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 4);
    EXPECT_EQ(SerialPortLocal::getStatusAPM(), 0);
    EXPECT_EQ(SerialPortLocal::getResumeState(1), -1);
    EXPECT_EQ(SerialPortLocal::getPowerMode(0), -1);
    SerialPortLocal::setPowerMode(0, 0);
    EXPECT_EQ(simLog(), "SerSetInstanceLock(4)\nSerGetInstanceLock()\nSerGetStatusAPM()\n");

    // The feature table sees the machine's architecture; only the library choice takes TSP_OSARCH.
    const QString machineArch = SystemProperties::get(QStringLiteral("os.arch"), QString());
    SystemProperties::set(QStringLiteral("os.arch"), QStringLiteral("arm"));
    useSystem("Linux", "arm");
    EXPECT_EQ(SerialPortLocal::getNativeLibName(), "tspLuxArm");
    SystemProperties::set(QStringLiteral("os.arch"), machineArch);
    tspSimClearLog();
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), -1);
    SerialPortLocal::setPowerMode(0, serial::SerialConfig::PWR_STANDBY);
    EXPECT_EQ(SerialPortLocal::getPowerMode(0), serial::SerialConfig::PWR_STANDBY);
    EXPECT_EQ(SerialPortLocal::getResumeState(1), 0);
    tspSimForceResult("SerGetPowerMode", 5000);
    EXPECT_EQ(ioFailure([] { SerialPortLocal::getPowerMode(0); }), "getPowerMode failed: 5000");
    tspSimForceResult("SerGetPowerMode", 4999);
    EXPECT_EQ(SerialPortLocal::getPowerMode(0), 4999);
    tspSimForceResult("SerSetPowerMode", 2);
    EXPECT_EQ(ioFailure([] { SerialPortLocal::setPowerMode(0, 1); }), "setPowerMode failed: 2");
}

struct Notified : serial::DeviceNotificationCallback {
    void deviceNotification() override { ++count; }
    int count = 0;
};

TEST_F(SerialLayerTest, DeviceNotificationReachesTheRegisteredCallback) {
    Notified first, second;
    SerialPortLocal::registerDeviceNotification(&first);
    tspSimNotifyDevice();
    EXPECT_EQ(first.count, 1);
    SerialPortLocal::registerDeviceNotification(&second);
    tspSimNotifyDevice();
    EXPECT_EQ(first.count, 1);
    EXPECT_EQ(second.count, 1);
    EXPECT_EQ(simLog(), "SerRegisterDeviceNotification(callback)\n"
                        "SerUnregisterDeviceNotification(callback)\n"
                        "SerRegisterDeviceNotification(callback)\n");
    SerialPortLocal::unregisterDeviceNotification();
    tspSimNotifyDevice();
    EXPECT_EQ(second.count, 1);
}

} // namespace
