#include "SimFixture.h"

#include <gmock/gmock.h>

#include <memory>
#include <stdexcept>

using serial::SerialArgumentError;
using serial::SerialConfig;
using serial::SerialIoError;
using serial::SerialPortLocal;
using testing::HasSubstr;
using testing::Not;

namespace {

class SerialPortLocalTest : public SimFixture {};

TEST_F(SerialPortLocalTest, OpenConfiguresAndSetsTheTimeouts) {
    SerialConfig config = configFor("COM3");
    config.setParity(SerialConfig::PY_EVEN);
    SerialPortLocal port(config);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.getPortNum(), 0);
    EXPECT_EQ(port.getConfig().getPort(), 1);
    EXPECT_EQ(port.getPortName(), "COM3");
    EXPECT_FALSE(port.getConfig().getHardFlow());
    EXPECT_EQ(tspSimIsOpen("COM3"), 1);
    // The Windows feature set takes bit rates as they are stored: the index 7 goes to the library unchanged.
    EXPECT_EQ(simLog(), "SerOpenPort(COM3)\n"
                        "SerConfigure(0, bitRate=7 dataBits=3 parity=2 stopBits=0 handshake=0)\n"
                        "SerSetTimeoutRx(0, 0)\n"
                        "SerSetTimeoutTx(0, 426300)\n");
    EXPECT_EQ(port.getTimeoutRx(), 0);
    EXPECT_EQ(port.getTimeoutTx(), 426300);
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getPortNum(), -1);
    EXPECT_EQ(tspSimIsOpen("COM3"), 0);
}

TEST_F(SerialPortLocalTest, TransmitTimeoutFollowsRateAndBufferLength) {
    SerialConfig config = configFor("COM3");
    config.setBitRate(SerialConfig::BR_19200);
    { SerialPortLocal port(config); }
    EXPECT_THAT(simLog(), HasSubstr("SerSetTimeoutTx(0, 212900)"));
    tspSimClearLog();
    config.setBitRate(921600);
    config.setTxLen(100000);
    { SerialPortLocal port(config); }
    EXPECT_THAT(simLog(), HasSubstr("SerConfigure(0, bitRate=921600 "));
    EXPECT_THAT(simLog(), HasSubstr("SerSetTimeoutTx(0, 100000)"));
}

TEST_F(SerialPortLocalTest, InvalidStoredBitRateFailsBeforeTheTimeoutFormula) {
    SerialConfig config = configFor("COM3");
    config.setBitRate(20);
    try {
        SerialPortLocal port(config);
        FAIL() << "opened";
    } catch (const SerialArgumentError& e) {
        EXPECT_EQ(e.message(), "Invalid Serial Port Bit Rate");
    }
    EXPECT_THAT(simLog(), Not(HasSubstr("SerSetTimeoutTx")));
}

struct OpenFailure {
    int32_t code;
    const char* text;
};

class OpenFailureText : public SimFixture, public testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureText, NamesThePortAndTheCode) {
    tspSimAddPort("COM7", nullptr, nullptr);
    tspSimSetOpenResult("COM7", GetParam().code);
    std::unique_ptr<SerialPortLocal> port;
    EXPECT_EQ(ioFailure([&] { port = std::make_unique<SerialPortLocal>(configFor("COM7")); }),
              QString::fromUtf8(GetParam().text));
    EXPECT_EQ(simLog(), "SerOpenPort(COM7)\n");
}

INSTANTIATE_TEST_SUITE_P(Codes, OpenFailureText,
                         testing::Values(OpenFailure{1000, "COM7: SerOpenPort failed: Port is already open"},
                                         OpenFailure{1001, "COM7: SerOpenPort failed: : 1001"},
                                         OpenFailure{1002, "COM7: SerOpenPort failed: Port is in use"},
                                         OpenFailure{1003, "COM7: SerOpenPort failed: Port not valid"},
                                         OpenFailure{1004, "COM7: SerOpenPort failed: 2: No such device"},
                                         OpenFailure{1005, "COM7: SerOpenPort failed: : 1005"},
                                         OpenFailure{1006, "COM7: SerOpenPort failed: Permission denied"},
                                         OpenFailure{1007, "COM7: SerOpenPort failed: Device busy"},
                                         OpenFailure{1008, "COM7: SerOpenPort failed: 19: No such device"},
                                         OpenFailure{-3, "COM7: SerOpenPort failed: : -3"}));

TEST_F(SerialPortLocalTest, IndexOnlyLibraryGetsIndexes) {
    useSystem("Linux", "amd64");
    SerialConfig config = configFor("COM3");
    config.setBitRate(9600);
    SerialPortLocal port(config);
    EXPECT_EQ(port.getBitRate(), SerialConfig::BR_9600);
    EXPECT_THAT(simLog(), HasSubstr("SerConfigure(0, bitRate=7 "));
    // Linux has no transmit timeout and emulates the receive timeout.
    EXPECT_THAT(simLog(), Not(HasSubstr("SerSetTimeoutTx")));
}

TEST_F(SerialPortLocalTest, UnsupportedRateFailsAfterTheNativeOpen) {
    useSystem("Linux", "amd64");
    SerialConfig config = configFor("COM3");
    config.setBitRate(1000);
    std::unique_ptr<SerialPortLocal> port;
    EXPECT_EQ(ioFailure([&] { port = std::make_unique<SerialPortLocal>(config); }), "Unsupported Serial Port Bit Rate");
    // The failed constructor leaves no object behind, so it releases the port itself.
    EXPECT_EQ(simLog(), "SerOpenPort(COM3)\nSerClosePort(0)\n");
    EXPECT_EQ(tspSimIsOpen("COM3"), 0);

    // open() on an existing object keeps the port open for its owner to close.
    config.setBitRate(SerialConfig::BR_9600);
    SerialPortLocal reusable(config);
    reusable.close();
    reusable.setConfig(config);
    reusable.setBitRate(1000);
    EXPECT_EQ(ioFailure([&] { reusable.open(); }), "Unsupported Serial Port Bit Rate");
    EXPECT_TRUE(reusable.isOpen());
    reusable.close();
    EXPECT_EQ(tspSimIsOpen("COM3"), 0);
}

TEST_F(SerialPortLocalTest, ConfigureChecks) {
    useSystem("Mac OS", "ppc");
    SerialPortLocal port(configFor("COM3"));
    SerialConfig mark = configFor("COM3");
    mark.setParity(SerialConfig::PY_MARK);
    EXPECT_EQ(ioFailure([&] { port.configure(mark); }), "Unsupported Mark/Space parity");
    tspSimForceResult("SerConfigure", 1009);
    EXPECT_EQ(ioFailure([&] { port.configure(); }), "Configure failed: 1009");
    port.close();
    EXPECT_EQ(ioFailure([&] { port.configure(); }), "configure: Port is not open");
}

TEST_F(SerialPortLocalTest, CloseTwiceCallsTheLibraryOnce) {
    SerialPortLocal port(configFor("COM3"));
    tspSimClearLog();
    port.close();
    port.close();
    EXPECT_EQ(simLog(), "SerClosePort(0)\n");
}

TEST_F(SerialPortLocalTest, FailedCloseStillClosesTheObject) {
    SerialPortLocal port(configFor("COM3"));
    port.putByte('x');
    tspSimForceResult("SerClosePort", 5);
    EXPECT_EQ(ioFailure([&] { port.close(); }), "ClosePort failed");
    EXPECT_EQ(port.getPortNum(), -1);
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.sendSinceTxBufEmpty());
}

TEST_F(SerialPortLocalTest, DestructionClosesAnOpenPort) {
    { SerialPortLocal port(configFor("COM3")); }
    EXPECT_EQ(tspSimIsOpen("COM3"), 0);
}

TEST_F(SerialPortLocalTest, ResetReopensWithTheSameTransmitTimeout) {
    SerialPortLocal port(configFor("COM3"));
    port.setTimeoutTx(1234);
    tspSimClearLog();
    port.reset();
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(simLog(), "SerGetTimeoutTx(0)\n"
                        "SerClosePort(0)\n"
                        "SerOpenPort(COM3)\n"
                        "SerSetTimeoutTx(0, 1234)\n"
                        "SerConfigure(0, bitRate=7 dataBits=3 parity=0 stopBits=0 handshake=0)\n");

    tspSimForceResult("SerOpenPort", 1002);
    EXPECT_EQ(ioFailure([&] { port.reset(); }), "reset: SerOpenPort failed: 1002");
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(ioFailure([&] { port.reset(); }), "reset: Port is not open");
}

TEST_F(SerialPortLocalTest, ResetPortDriverChecks) {
    SerialPortLocal port(configFor("COM3"));
    EXPECT_EQ(ioFailure([&] { port.resetPortDriver(QStringLiteral("usbser")); }),
              "resetPortDriver: Port must be closed");
    port.close();
    tspSimForceResult("SerResetPortDriver", 3);
    EXPECT_EQ(ioFailure([&] { port.resetPortDriver(QStringLiteral("usbser")); }), "Reset port driver failed: 3");
    EXPECT_THAT(simLog(), HasSubstr("SerResetPortDriver(usbser)"));
    tspSimClearForcedResults();
    EXPECT_EQ(ioFailure([&] { port.resetPortDriver(QStringLiteral("usbser")); }), "");

    useSystem("Linux", "amd64");
    SerialPortLocal linuxPort(configFor("COM3"));
    linuxPort.close();
    EXPECT_EQ(ioFailure([&] { linuxPort.resetPortDriver(QStringLiteral("x")); }),
              "resetPortDriver not supported on Linux");
}

TEST_F(SerialPortLocalTest, SetConfigOnAClosedPortResetsThePortNumber) {
    SerialPortLocal port(configFor("COM3"));
    port.close();
    SerialConfig other(4);
    other.setPortName(QStringLiteral("COM9"));
    port.setConfig(other);
    EXPECT_EQ(port.getConfig().getPort(), 0);
    EXPECT_EQ(port.getPortName(), "COM9");
    EXPECT_EQ(SerialPortLocal::getDevName(), "COM9");
    port.setPortName(QStringLiteral("COM11"));
    EXPECT_EQ(port.getPortName(), "COM11");
    EXPECT_EQ(SerialPortLocal::getDevName(), "COM11");
}

TEST_F(SerialPortLocalTest, PlainConstructorLeavesThePortClosedOnTheDefaultDevice) {
    SerialPortLocal port;
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getPortNum(), -1);
    EXPECT_EQ(port.getPortName(), "COM1");
    EXPECT_EQ(port.getName(), "Serial Port");
    EXPECT_EQ(port.getLibVer(), "tspSim 1.0.0");
    EXPECT_EQ(port.getName(1), "Not implemented");
    EXPECT_EQ(SerialPortLocal::getBuildNum(), 9233);
    EXPECT_EQ(SerialPortLocal::getMaxBitRate(), 921600);
}

TEST_F(SerialPortLocalTest, ConfigurationSettersGoThroughTheirChecks) {
    SerialPortLocal port(configFor("COM3"));
    port.setDataBits(SerialConfig::LN_7BITS);
    EXPECT_EQ(port.getDataBits(), 2);
    try {
        port.setStopBits(5);
        FAIL();
    } catch (const SerialArgumentError& e) {
        EXPECT_EQ(e.message(), "Invalid Serial Port Stop Bits");
    }
    EXPECT_EQ(port.getStopBits(), 0);
}

// Data in.

TEST_F(SerialPortLocalTest, GetByteReturnsBytesThenMinusOne) {
    SerialPortLocal port(configFor("COM3"));
    feed("COM3", std::string("\x0d\x00\xff", 3));
    EXPECT_FALSE(port.readSinceRxBufCheck());
    EXPECT_EQ(port.getByte(), 13);
    EXPECT_TRUE(port.readSinceRxBufCheck());
    EXPECT_EQ(port.getByte(), 0);
    EXPECT_EQ(port.getByte(), 255);
    EXPECT_EQ(port.getByte(), -1);
    port.clearReadSinceRxBufCheck();
    EXPECT_FALSE(port.readSinceRxBufCheck());
}

TEST_F(SerialPortLocalTest, VanishedDeviceFailsTheReadInsteadOfLookingIdle) {
    SerialPortLocal port(configFor("COM3"));
    feed("COM3", "a");
    EXPECT_EQ(port.getByte(), 'a');
    tspSimUnplug("COM3");
    EXPECT_EQ(ioFailure([&] { port.getByte(); }), "getByte failed");
    QByteArray buffer(4, '\0');
    EXPECT_EQ(ioFailure([&] { port.getData(buffer); }), "getData: failed");
    EXPECT_EQ(ioFailure([&] { port.sigCTS(); }), "sigCTS failed");
    // Closing a port whose device has gone still succeeds.
    port.close();
    EXPECT_EQ(ioFailure([&] { port.getByte(); }), "getByte failed");
}

TEST_F(SerialPortLocalTest, GetDataFillsTheBufferAtTheOffset) {
    SerialPortLocal port(configFor("COM3"));
    feed("COM3", "hello");
    QByteArray buffer("......");
    EXPECT_EQ(port.getData(buffer, 2, 3), 3);
    EXPECT_EQ(buffer, QByteArray("..hel."));
    EXPECT_EQ(port.getData(buffer), 2);
    EXPECT_EQ(buffer, QByteArray("lohel."));
    EXPECT_EQ(port.getData(buffer, 0, 4), 0);
    EXPECT_THROW(port.getData(buffer, 4, 3), std::out_of_range);
    EXPECT_THROW(port.getData(buffer, -1, 1), std::out_of_range);
    EXPECT_THAT(simLog(), Not(HasSubstr("SerGetData(0, 3)\nSerGetData(0, 3)")));
    port.clearReadSinceRxBufCheck();
    tspSimForceResult("SerGetData", -1);
    EXPECT_EQ(ioFailure([&] { port.getData(buffer, 1, 2); }), "getData: failed");
    EXPECT_TRUE(port.readSinceRxBufCheck());
}

TEST_F(SerialPortLocalTest, EmulatedReceiveTimeoutWaitsForReadyBytes) {
    useSystem("Linux", "amd64");
    SerialPortLocal port(configFor("COM3"));
    port.setTimeoutRx(20);
    tspSimClearLog();
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_THAT(simLog(), HasSubstr("SerRxReadyCount(0)"));
    EXPECT_THAT(simLog(), Not(HasSubstr("SerGetByte")));
    EXPECT_FALSE(port.readSinceRxBufCheck());
    QByteArray buffer(2, '\0');
    feed("COM3", "x");
    EXPECT_EQ(port.getData(buffer), 0) << "one byte is not the two asked for";
    EXPECT_EQ(port.getByte(), 'x');
    EXPECT_TRUE(port.readSinceRxBufCheck());
    feed("COM3", "yz");
    EXPECT_EQ(port.getData(buffer), 2);
    EXPECT_EQ(buffer, QByteArray("yz"));
    // A port that has gone is reported by the read, not waited on until the deadline.
    tspSimUnplug("COM3");
    EXPECT_EQ(ioFailure([&] { port.getByte(); }), "getByte failed");
}

// Data out.

TEST_F(SerialPortLocalTest, WritesSendTheBytes) {
    SerialPortLocal port(configFor("COM3"));
    port.putByte(0x02);
    port.putData(QByteArray("ab"));
    port.putData(QByteArray("cdef"), 2);
    port.putData(QByteArray("ghij"), 1, 2);
    port.putString(QStringLiteral("Q\r\n"));
    EXPECT_EQ(output("COM3"), std::string("\x02"
                                          "abcdhiQ\r\n"));
    EXPECT_TRUE(port.sendSinceTxBufEmpty());
    port.clearSendSinceTxBufEmpty();
    tspSimClearLog();
    port.putData(QByteArray());
    port.putString(QString());
    EXPECT_EQ(simLog(), "");
    EXPECT_FALSE(port.sendSinceTxBufEmpty());
}

TEST_F(SerialPortLocalTest, WriteFailures) {
    SerialPortLocal port(configFor("COM3"));
    EXPECT_EQ(ioFailure([&] { port.putData(QByteArray("abcd"), 5); }), "putData: count out of bounds");
    EXPECT_EQ(ioFailure([&] { port.putData(QByteArray("abcd"), 3, 2); }), "putData3: count out of bounds");
    EXPECT_EQ(output("COM3"), "");
    EXPECT_FALSE(port.sendSinceTxBufEmpty());

    tspSimForceResult("SerPutByte", 1005);
    EXPECT_EQ(ioFailure([&] { port.putByte(1); }), "PutByte failed: 1005");
    EXPECT_TRUE(port.sendSinceTxBufEmpty());
    tspSimForceResult("SerPutData", 2);
    EXPECT_EQ(ioFailure([&] { port.putData(QByteArray("abcd")); }), "PutData1: Sent only 2 of 4 bytes");
    EXPECT_EQ(ioFailure([&] { port.putData(QByteArray("abcd"), 3); }), "PutData2: Sent only 2 of 3 bytes");
    EXPECT_EQ(ioFailure([&] { port.putData(QByteArray("abcd"), 1, 3); }), "putData3: Sent only 2 of 3 bytes");
    EXPECT_EQ(ioFailure([&] { port.putString(QStringLiteral("hello")); }), "PutString: sent only 2 of 5 bytes");
}

TEST_F(SerialPortLocalTest, LineStatesAndConditionsComeFromTheLibrary) {
    SerialPortLocal port(configFor("COM3"));
    EXPECT_FALSE(port.sigCTS());
    tspSimSetLines("COM3", TSP_LINE_CTS | TSP_LINE_RING);
    EXPECT_TRUE(port.sigCTS());
    EXPECT_FALSE(port.sigDSR());
    EXPECT_FALSE(port.sigCD());
    EXPECT_TRUE(port.sigRing());
    tspSimSetLines("COM3", TSP_LINE_DSR | TSP_LINE_CD);
    EXPECT_FALSE(port.sigCTS());
    EXPECT_TRUE(port.sigDSR());
    EXPECT_TRUE(port.sigCD());

    port.setDTR(true);
    port.setRTS(false);
    EXPECT_EQ(tspSimOutputLines("COM3"), TSP_LINE_DTR);
    port.setRTS(true);
    EXPECT_EQ(tspSimOutputLines("COM3"), TSP_LINE_DTR | TSP_LINE_RTS);

    // A condition shows once the byte that carried it has been read, and once only.
    tspSimFeedByte("COM3", 'a', TSP_SIM_PARITY | TSP_SIM_FRAME);
    tspSimFeedByte("COM3", 'b', TSP_SIM_OVERRUN | TSP_SIM_BREAK | TSP_SIM_OVERFLOW);
    EXPECT_FALSE(port.sigParityErr());
    EXPECT_EQ(port.getByte(), 'a');
    EXPECT_TRUE(port.sigParityErr());
    EXPECT_TRUE(port.sigFrameErr());
    EXPECT_FALSE(port.sigParityErr());
    EXPECT_FALSE(port.sigOverrun());
    EXPECT_EQ(port.getByte(), 'b');
    EXPECT_TRUE(port.sigOverrun());
    EXPECT_TRUE(port.sigBreak());
    EXPECT_TRUE(port.rxOverflow());
    EXPECT_FALSE(port.sigFrameErr());
}

TEST_F(SerialPortLocalTest, BuffersAndCounts) {
    SerialPortLocal port(configFor("COM3"));
    feed("COM3", "abc");
    EXPECT_EQ(port.rxReadyCount(), 3);
    port.rxFlush();
    EXPECT_EQ(port.rxReadyCount(), 0);
    EXPECT_EQ(port.getByte(), -1);
    port.putData(QByteArray("xy"));
    EXPECT_EQ(port.txBufCount(), 2);
    port.txDrain();
    port.txFlush();
    port.sendBreak(50);
    EXPECT_THAT(simLog(), HasSubstr("SerSendBreak(0, 50)"));
}

struct ErrorHandler : serial::ErrorStatusHandler {
    void sioErrorEvent(int32_t errorCode) override { codes.push_back(errorCode); }
    std::vector<int32_t> codes;
};

TEST_F(SerialPortLocalTest, ReadyCountFailureGoesToTheHandler) {
    SerialPortLocal port(configFor("COM3"));
    tspSimForceResult("SerRxReadyCount", -1);
    EXPECT_EQ(ioFailure([&] { port.rxReadyCount(); }), "rxReadyCount failed");
    ErrorHandler handler;
    port.setErrorStatusHandler(&handler);
    EXPECT_EQ(port.rxReadyCount(), -1);
    EXPECT_EQ(handler.codes, std::vector<int32_t>{serial::SerialPort::RXREADYCOUNT});
    port.setErrorStatusHandler(nullptr);
    EXPECT_EQ(ioFailure([&] { port.rxReadyCount(); }), "rxReadyCount failed");
}

// One row per checked operation: the system without its feature, and its three texts. Feature first, then the
// open check, then the native call.
struct CheckedOperation {
    const char* label;
    std::function<void(SerialPortLocal&)> call;
    const char* entry;
    const char* lackingOs; // null: no feature check
    const char* lackingArch;
    const char* unsupported;
    const char* notOpen; // null: no open check
    const char* failed;  // null: a native -1 reads as false
};

class CheckedOperations : public SimFixture, public testing::WithParamInterface<CheckedOperation> {};

TEST_P(CheckedOperations, ReportInTheirOrder) {
    const CheckedOperation& op = GetParam();
    if (op.lackingOs) {
        useSystem(op.lackingOs, op.lackingArch);
        SerialPortLocal closed(configFor("COM3"));
        closed.close();
        tspSimClearLog();
        const QString expected = QString::fromUtf8(op.unsupported) + QString::fromUtf8(op.lackingOs);
        EXPECT_EQ(ioFailure([&] { op.call(closed); }), expected);
        SerialPortLocal open(configFor("COM3"));
        EXPECT_EQ(ioFailure([&] { op.call(open); }), expected);
        EXPECT_THAT(simLog(), Not(HasSubstr(op.entry)));
        open.close();
        useSystem("Windows", "x86");
    }
    SerialPortLocal port(configFor("COM3"));
    port.close();
    tspSimClearLog();
    if (op.notOpen) {
        EXPECT_EQ(ioFailure([&] { op.call(port); }), QString::fromUtf8(op.notOpen));
        EXPECT_THAT(simLog(), Not(HasSubstr(op.entry)));
    } else {
        // Without an open check the library is asked with the closed handle and reports the failure.
        EXPECT_EQ(ioFailure([&] { op.call(port); }), QString::fromUtf8(op.failed));
        EXPECT_THAT(simLog(), HasSubstr(std::string(op.entry) + "(-1"));
    }
    SerialPortLocal open(configFor("COM3"));
    tspSimForceResult(op.entry, -1);
    EXPECT_EQ(ioFailure([&] { op.call(open); }), op.failed ? QString::fromUtf8(op.failed) : QString());
    tspSimClearForcedResults();
    EXPECT_EQ(ioFailure([&] { op.call(open); }), QString());
}

#define OP(expr) [](SerialPortLocal& p) { expr; }

INSTANTIATE_TEST_SUITE_P(
    Operations, CheckedOperations,
    testing::Values(CheckedOperation{"setDTR", OP(p.setDTR(true)), "SerSetDTR", "Irix", "mips",
                                     "setDTR not supported on ", "setDTR: Port not open", "setDTR failed"},
                    CheckedOperation{"setRTS", OP(p.setRTS(true)), "SerSetRTS", "UnixWare", "IA32",
                                     "setRts not supported on ", "setRTS: Port not open", "setRTS failed"},
                    CheckedOperation{"sigCTS", OP(p.sigCTS()), "SerSigCTS", nullptr, nullptr, nullptr,
                                     "sigCTS: Port not open", "sigCTS failed"},
                    CheckedOperation{"sigDSR", OP(p.sigDSR()), "SerSigDSR", nullptr, nullptr, nullptr,
                                     "sigDSR: Port not open", "sigDSR failed"},
                    CheckedOperation{"sigCD", OP(p.sigCD()), "SerSigCD", "Mac OS", "ppc", "sigCD not supported on ",
                                     "sigCD: Port not open", "sigCD failed"},
                    CheckedOperation{"sigRing", OP(p.sigRing()), "SerSigRing", "EPOC", "x86",
                                     "sigRing not supported on ", "sigRing: Port not open", nullptr},
                    CheckedOperation{"sigBreak", OP(p.sigBreak()), "SerSigBreak", "Linux", "amd64",
                                     "sigBreak not supported on ", "sigBreak: Port not open", nullptr},
                    CheckedOperation{"sigFrameErr", OP(p.sigFrameErr()), "SerSigFrameErr", "Linux", "amd64",
                                     "sigFrameErr not supported on ", "sigFrameErr: Port not open",
                                     "sigFrameErr failed"},
                    CheckedOperation{"sigOverrun", OP(p.sigOverrun()), "SerSigOverrun", "Linux", "amd64",
                                     "sigOverrun not supported on ", "sigOverrun: Port not open", "sigOverrun failed"},
                    CheckedOperation{"sigParityErr", OP(p.sigParityErr()), "SerSigParityErr", "Linux", "amd64",
                                     "sigParityErr not supported on ", "sigParityErr: Port not open", nullptr},
                    CheckedOperation{"rxOverflow", OP(p.rxOverflow()), "SerRxOverflow", "EPOC", "arm",
                                     "rxOverflow not supported on ", "rxOverflow: Port not open", "rxOverflow failed"},
                    CheckedOperation{"rxReadyCount", OP(p.rxReadyCount()), "SerRxReadyCount", nullptr, nullptr, nullptr,
                                     nullptr, "rxReadyCount failed"},
                    CheckedOperation{"txBufCount", OP(p.txBufCount()), "SerTxBufCount", nullptr, nullptr, nullptr,
                                     "txBufCount: Port not open", "txBufCount failed"},
                    CheckedOperation{"sendBreak", OP(p.sendBreak(10)), "SerSendBreak", "EPOC", "x86",
                                     "sendBreak not supported on ", "sendBreak: Port not open", "sendBreak failed"},
                    CheckedOperation{"rxFlush", OP(p.rxFlush()), "SerRxFlush", nullptr, nullptr, nullptr, nullptr,
                                     "rxFlush failed"},
                    CheckedOperation{"txFlush", OP(p.txFlush()), "SerTxFlush", nullptr, nullptr, nullptr, nullptr,
                                     "txFlush failed"},
                    CheckedOperation{"txDrain", OP(p.txDrain()), "SerTxDrain", nullptr, nullptr, nullptr, nullptr,
                                     "txDrain failed"},
                    CheckedOperation{"setTimeoutRx", OP(p.setTimeoutRx(5)), "SerSetTimeoutRx", nullptr, nullptr,
                                     nullptr, nullptr, "setTimeoutRx failed"},
                    CheckedOperation{"setTimeoutTx", OP(p.setTimeoutTx(5)), "SerSetTimeoutTx", nullptr, nullptr,
                                     nullptr, nullptr, "setTimeoutTx failed"}),
    [](const testing::TestParamInfo<CheckedOperation>& info) { return std::string(info.param.label); });

#undef OP

TEST_F(SerialPortLocalTest, BooleanResultsAreTrueOnlyForOne) {
    SerialPortLocal port(configFor("COM3"));
    tspSimForceResult("SerSigCTS", 2);
    EXPECT_FALSE(port.sigCTS());
    tspSimForceResult("SerSigCTS", 1);
    EXPECT_TRUE(port.sigCTS());
    tspSimForceResult("SerSigRing", -1);
    EXPECT_FALSE(port.sigRing());
}

TEST_F(SerialPortLocalTest, IsSupportedReadsTheSetUpFeatures) {
    SerialPortLocal port;
    EXPECT_TRUE(port.isSupported(QStringLiteral("sigBreak")));
    EXPECT_TRUE(port.isSupported(QStringLiteral("supDriverInfo")));
    EXPECT_FALSE(port.isSupported(QStringLiteral("sigbreak")));
    EXPECT_FALSE(port.isSupported(QStringLiteral("setPowerMode")));
}

} // namespace
