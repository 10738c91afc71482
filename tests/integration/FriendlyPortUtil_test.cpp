// Friendly port names from the driver list of the port layer (tspSim lists makers and descriptions).
#include "FakeViews.h"
#include "SimFixture.h"

#include "serial/SerialIoError.h"
#include "tavlo/util/FriendlyPortUtil.h"

#include <gtest/gtest.h>

using tavlo::util::FriendlyPortUtil;

namespace {

class FriendlyPortUtilSim : public tavlo::test::SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        FriendlyPortUtil::resetForTesting();
    }
    void TearDown() override {
        FriendlyPortUtil::resetForTesting();
        SimFixture::TearDown();
    }
};

TEST_F(FriendlyPortUtilSim, NamesPortsWithTheirDriverAndBack) {
    tspSimAddPort("COM4", "FTDI", "USB Serial Port");
    tspSimAddPort("COM1", nullptr, nullptr); // no driver information
    tspSimAddPort("COM9", "Prolific", "USB-to-Serial Comm Port");
    serial::SerialPortLocal::getPortList();

    EXPECT_FALSE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_TRUE(FriendlyPortUtil::getFriendlyPortList().isEmpty());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM4"), "COM4") << "no list yet";

    FriendlyPortUtil::update();
    EXPECT_TRUE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortList(),
              (QStringList{"COM4: USB Serial Port - FTDI", "COM9: USB-to-Serial Comm Port - Prolific"}));
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM4"), "COM4: USB Serial Port - FTDI");
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("com4"), "com4") << "names compare with case";
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM1"), "COM1");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM9: USB-to-Serial Comm Port - Prolific"), "COM9");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM1"), "COM1");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM4: usb serial port - FTDI"), "COM4: usb serial port - FTDI");
}

TEST_F(FriendlyPortUtilSim, AFailingUpdateKeepsTheOldList) {
    tspSimAddPort("COM4", "FTDI", "USB Serial Port");
    serial::SerialPortLocal::getPortList();
    FriendlyPortUtil::update();

    // The port layer forgets its list: it must be listed again first.
    serial::SerialPortLocal::resetForTesting();
    try {
        FriendlyPortUtil::update();
        FAIL() << "update without a port list";
    } catch (const serial::SerialIoError& e) {
        EXPECT_EQ(e.message(), "Must call SerialPortLocal.getPortList method first");
    }
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortList(), QStringList{"COM4: USB Serial Port - FTDI"});

    // A platform without driver information.
    tavlo::base::SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Linux"));
    serial::SerialPortLocal::resetForTesting();
    try {
        FriendlyPortUtil::update();
        FAIL() << "update on a platform without driver information";
    } catch (const serial::SerialIoError& e) {
        EXPECT_EQ(e.message(), "Not supported on this platform");
    }
    EXPECT_TRUE(FriendlyPortUtil::portInfoListIsPopulated());
}

} // namespace
