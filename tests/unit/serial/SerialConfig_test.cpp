#include "base/SystemProperties.h"
#include "serial/SerialArgumentError.h"
#include "serial/SerialConfig.h"

#include <gtest/gtest.h>

#include <functional>

using serial::SerialArgumentError;
using serial::SerialConfig;
using tavlo::base::SystemProperties;

namespace {

// Runs the test body with "os.name" set to a system, restoring the machine's value afterwards.
class OsName {
public:
    explicit OsName(const QString& name) : m_saved(SystemProperties::get(QStringLiteral("os.name"))) {
        SystemProperties::set(QStringLiteral("os.name"), name);
    }
    ~OsName() {
        if (m_saved)
            SystemProperties::set(QStringLiteral("os.name"), *m_saved);
        else
            SystemProperties::remove(QStringLiteral("os.name"));
    }

private:
    std::optional<QString> m_saved;
};

QString failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const SerialArgumentError& e) {
        return e.message();
    }
    return QString();
}

} // namespace

TEST(SerialConfig, ConstructorsStartFromTheDefaults) {
    const SerialConfig plain;
    EXPECT_EQ(plain.getPortNameString(), "COM1");
    EXPECT_EQ(plain.getPortName(), QByteArray("COM1"));
    EXPECT_EQ(plain.getBaseName(), QByteArray("/dev/ttyS"));
    EXPECT_EQ(plain.getPort(), 0);
    EXPECT_EQ(plain.getTxLen(), 4096);
    EXPECT_EQ(plain.getRxLen(), 4096);
    EXPECT_EQ(plain.getBitRate(), SerialConfig::BR_9600);
    EXPECT_EQ(plain.getDataBits(), SerialConfig::LN_8BITS);
    EXPECT_EQ(plain.getStopBits(), SerialConfig::ST_1BITS);
    EXPECT_EQ(plain.getParity(), SerialConfig::PY_NONE);
    EXPECT_EQ(plain.getHandshake(), SerialConfig::HS_NONE);
    EXPECT_TRUE(plain.getHardFlow());
    EXPECT_FALSE(plain.getDisableActiveLink());

    const SerialConfig numbered(3, 100, 200);
    EXPECT_EQ(numbered.getPort(), 3);
    EXPECT_EQ(numbered.getTxLen(), 100);
    EXPECT_EQ(numbered.getRxLen(), 200);
    EXPECT_EQ(numbered.getPortNameString(), "");
    EXPECT_EQ(numbered.getPortName(), QByteArray(1, '\0'));
    EXPECT_EQ(numbered.getBaseName(), QByteArray("/dev/ttyS"));

    // The name constructor leaves the port number to the native library and the base name empty.
    const SerialConfig named(QStringLiteral("COM3"));
    EXPECT_EQ(named.getPort(), 0);
    EXPECT_EQ(named.getPortName(), QByteArray("COM3"));
    EXPECT_EQ(named.getBaseName(), QByteArray(1, '\0'));
}

struct SetterCase {
    const char* label;
    std::function<void(SerialConfig&)> set;
    std::function<int32_t(const SerialConfig&)> get;
    int32_t value;
    const char* failure; // null when accepted
};

class SerialConfigSetter : public testing::TestWithParam<SetterCase> {};

TEST_P(SerialConfigSetter, AcceptsOrRefusesLeavingTheFieldAlone) {
    const OsName os(QStringLiteral("Windows 10"));
    SerialConfig config(QStringLiteral("COM1"));
    const SetterCase& c = GetParam();
    const int32_t before = c.get(config);
    const QString failure = failureOf([&] { c.set(config); });
    if (c.failure) {
        EXPECT_EQ(failure, QString::fromUtf8(c.failure));
        EXPECT_EQ(c.get(config), before);
    } else {
        EXPECT_EQ(failure, QString());
        EXPECT_EQ(c.get(config), c.value);
    }
}

#define SETTER(field, v)                                                                                               \
    [](SerialConfig& c) { c.set##field(v); }, [](const SerialConfig& c) { return c.get##field(); }, v

INSTANTIATE_TEST_SUITE_P(
    Cases, SerialConfigSetter,
    testing::Values(SetterCase{"rate0", SETTER(BitRate, 0), nullptr},
                    SetterCase{"rateMax", SETTER(BitRate, 921600), nullptr},
                    SetterCase{"rateAboveMax", SETTER(BitRate, 921601), "Invalid Serial Port Bit Rate"},
                    SetterCase{"rateNegative", SETTER(BitRate, -1), "Invalid Serial Port Bit Rate"},
                    SetterCase{"dataBits5", SETTER(DataBits, 0), nullptr},
                    SetterCase{"dataBits9", SETTER(DataBits, 4), "Invalid Serial Port Data Bits"},
                    SetterCase{"dataBitsNegative", SETTER(DataBits, -1), "Invalid Serial Port Data Bits"},
                    SetterCase{"paritySpace", SETTER(Parity, 4), nullptr},
                    SetterCase{"parity5", SETTER(Parity, 5), "Invalid Serial Port Parity"},
                    SetterCase{"stop2", SETTER(StopBits, 1), nullptr},
                    SetterCase{"stop3", SETTER(StopBits, 2), "Invalid Serial Port Stop Bits"},
                    SetterCase{"handshakeCtsRts", SETTER(Handshake, 2), nullptr},
                    SetterCase{"handshakeDsrDtr", SETTER(Handshake, 3),
                               "DSRDTR handshaking not available on this platform"},
                    SetterCase{"handshake4", SETTER(Handshake, 4), "Invalid Serial Port Handshake"},
                    SetterCase{"handshake15", SETTER(Handshake, 15), "Invalid Serial Port Handshake"},
                    SetterCase{"handshake16", SETTER(Handshake, 16), nullptr},
                    SetterCase{"handshake240", SETTER(Handshake, 240), nullptr},
                    SetterCase{"handshake241", SETTER(Handshake, 241), "Invalid Serial Port Handshake"},
                    SetterCase{"handshakeNegative", SETTER(Handshake, -1), "Invalid Serial Port Handshake"},
                    SetterCase{"portNum", [](SerialConfig& c) { c.setPortNum(5); },
                               [](const SerialConfig& c) { return c.getPort(); }, 5, nullptr},
                    SetterCase{"portNumNegative", [](SerialConfig& c) { c.setPortNum(-1); },
                               [](const SerialConfig& c) { return c.getPort(); }, -1, "Invalid Port Number: -1"},
                    SetterCase{"rxLenLarge", SETTER(RxLen, 100000), nullptr}),
    [](const testing::TestParamInfo<SetterCase>& info) { return std::string(info.param.label); });

#undef SETTER

TEST(SerialConfig, DsrDtrAndLimitsDependOnTheSystemAtConstruction) {
    {
        const OsName os(QStringLiteral("Windows 7"));
        SerialConfig config(QStringLiteral("COM1"));
        config.setHandshake(SerialConfig::HS_DSRDTR);
        EXPECT_EQ(config.getHandshake(), 3);
    }
    {
        const OsName os(QStringLiteral("EPOC"));
        SerialConfig config(QStringLiteral("COMM::0"));
        config.setPortNum(-1);
        EXPECT_EQ(config.getPort(), -1);
        EXPECT_EQ(failureOf([&] { config.setRxLen(8193); }), "Limited to 8192 on EPOC");
        EXPECT_EQ(failureOf([&] { config.setTxLen(8193); }), "Limited to 8192 on EPOC");
        config.setTxLen(8192);
        EXPECT_EQ(config.getTxLen(), 8192);
    }
    // The record keeps the system it was made on.
    SerialConfig made;
    {
        const OsName os(QStringLiteral("Windows 7"));
        made = SerialConfig(QStringLiteral("COM1"));
    }
    const OsName later(QStringLiteral("Linux"));
    made.setHandshake(3);
    EXPECT_EQ(made.getHandshake(), 3);
}

TEST(SerialConfig, BitRateNumberAndIndex) {
    SerialConfig config;
    EXPECT_EQ(SerialConfig::getBitRateIndex(9600), 7);
    EXPECT_EQ(SerialConfig::getBitRateIndex(110), 0);
    EXPECT_EQ(SerialConfig::getBitRateIndex(921600), 14);
    EXPECT_EQ(SerialConfig::getBitRateIndex(1000), -1);
    EXPECT_EQ(SerialConfig::getBitRateIndex(7), -1);

    config.setBitRate(7);
    EXPECT_EQ(config.getBitRateNumber(7), 9600);
    EXPECT_TRUE(config.validBitRateIndex());
    config.setBitRate(9600);
    EXPECT_EQ(config.getBitRateNumber(0), 9600);
    EXPECT_EQ(config.getBitRateNumber(99), 9600);
    EXPECT_FALSE(config.validBitRateIndex());

    // 15 to 30 is neither an index nor a rate.
    for (int32_t stored : {15, 22, 30}) {
        config.setBitRate(stored);
        EXPECT_EQ(failureOf([&] { config.getBitRateNumber(stored); }), "Invalid Serial Port Bit Rate") << stored;
        EXPECT_FALSE(config.validBitRateIndex());
    }
    config.setBitRate(3);
    EXPECT_EQ(failureOf([&] { config.getBitRateNumber(15); }), "Invalid Serial Port Bit Rate");
}

TEST(SerialConfig, SettingsString) {
    SerialConfig config;
    EXPECT_EQ(config.getSettingsString(), "9600 / NONE / 8 / 1 / NONE");

    config.setBitRate(SerialConfig::BR_110);
    config.setParity(SerialConfig::PY_MARK);
    config.setDataBits(SerialConfig::LN_7BITS);
    config.setStopBits(SerialConfig::ST_2BITS);
    config.setHandshake(SerialConfig::HS_XONXOFF);
    EXPECT_EQ(config.getSettingsString(), "110 / MARK / 7 / 2 / XON-XOFF");

    config.setBitRate(19200);
    config.setHandshake(SerialConfig::HS_HARD_IN | SerialConfig::HS_HARD_OUT);
    EXPECT_EQ(config.getSettingsString(), "19200 / MARK / 7 / 2 /  HI HO");
    config.setHandshake(SerialConfig::HS_SPLIT_MASK);
    EXPECT_EQ(config.getSettingsString(), "19200 / MARK / 7 / 2 /  HI HO SI SO");
    config.setHandshake(SerialConfig::HS_SOFT_OUT);
    EXPECT_EQ(config.getSettingsString(), "19200 / MARK / 7 / 2 /  SO");

    config.setHandshake(SerialConfig::HS_CTSRTS);
    EXPECT_EQ(config.getSettingsString(), "19200 / MARK / 7 / 2 / CTS-RTS");
    const OsName os(QStringLiteral("Mac OS"));
    SerialConfig mac;
    mac.setHandshake(SerialConfig::HS_CTSDTR);
    EXPECT_EQ(mac.getSettingsString(), "9600 / NONE / 8 / 1 / CTS-DTR");
}

TEST(SerialConfig, CopyIsEqualAndIndependent) {
    SerialConfig config(QStringLiteral("/dev/ttyUSB0"));
    config.setBitRate(SerialConfig::BR_115200);
    config.setParity(SerialConfig::PY_EVEN);
    config.setHardFlow(false);
    config.setDisableActiveLink(true);
    SerialConfig other = config.copy();
    EXPECT_EQ(other.getPortName(), QByteArray("/dev/ttyUSB0"));
    EXPECT_EQ(other.getPortName().constData(), config.getPortName().constData());
    EXPECT_EQ(other.getSettingsString(), config.getSettingsString());
    EXPECT_FALSE(other.getHardFlow());
    EXPECT_TRUE(other.getDisableActiveLink());
    other.setParity(SerialConfig::PY_NONE);
    EXPECT_EQ(config.getParity(), SerialConfig::PY_EVEN);
}
