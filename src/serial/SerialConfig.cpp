#include "serial/SerialConfig.h"

#include "base/SystemProperties.h"
#include "serial/SerialArgumentError.h"

#include <QStringList>

namespace serial {

namespace {

const QString kBaseName = QStringLiteral("/dev/ttyS");

QString currentOsName() {
    return tavlo::base::SystemProperties::get(QStringLiteral("os.name"), QString());
}

// The systems whose drivers offer DSR/DTR handshaking.
bool hasDsrDtr(const QString& osName) {
    static const QStringList systems = {
        QStringLiteral("Windows 95"),           QStringLiteral("Windows NT"),
        QStringLiteral("Windows CE"),           QStringLiteral("Windows 98"),
        QStringLiteral("Windows Me"),           QStringLiteral("Windows XP"),
        QStringLiteral("Windows 2000"),         QStringLiteral("Windows 2003"),
        QStringLiteral("Windows Server 2008"),  QStringLiteral("Windows Server 2008 R2"),
        QStringLiteral("Windows Vista"),        QStringLiteral("Windows 7"),
        QStringLiteral("Windows NT (unknown)"), QStringLiteral("OS/2")};
    return systems.contains(osName);
}

} // namespace

const std::array<const char*, 5> SerialConfig::parityNames = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};
const std::array<const char*, 4> SerialConfig::handshakeNames = {"NONE", "XON-XOFF", "CTS-RTS", "DSR-DTR"};

SerialConfig::SerialConfig() : m_osName(currentOsName()) {
    setPortName(QStringLiteral("COM1"));
    setBaseName(kBaseName);
}

SerialConfig::SerialConfig(int32_t port) : m_port(port), m_osName(currentOsName()) {
    setBaseName(kBaseName);
}

SerialConfig::SerialConfig(int32_t port, int32_t txLen, int32_t rxLen)
    : m_port(port), m_txLen(txLen), m_rxLen(rxLen), m_osName(currentOsName()) {
    setBaseName(kBaseName);
}

SerialConfig::SerialConfig(const QString& portName) : m_osName(currentOsName()) {
    setPortName(portName);
}

void SerialConfig::setBitRate(int32_t value) {
    if (value < 0 || value > 921600)
        throw SerialArgumentError(QStringLiteral("Invalid Serial Port Bit Rate"));
    m_bitRate = value;
}

void SerialConfig::setDataBits(int32_t value) {
    if (value < LN_5BITS || value > LN_8BITS)
        throw SerialArgumentError(QStringLiteral("Invalid Serial Port Data Bits"));
    m_dataBits = value;
}

void SerialConfig::setParity(int32_t value) {
    if (value < PY_NONE || value > PY_SPACE)
        throw SerialArgumentError(QStringLiteral("Invalid Serial Port Parity"));
    m_parity = value;
}

void SerialConfig::setStopBits(int32_t value) {
    if (value < ST_1BITS || value > ST_2BITS)
        throw SerialArgumentError(QStringLiteral("Invalid Serial Port Stop Bits"));
    m_stopBits = value;
}

void SerialConfig::setHandshake(int32_t value) {
    if (value == HS_DSRDTR) {
        if (!hasDsrDtr(m_osName))
            throw SerialArgumentError(QStringLiteral("DSRDTR handshaking not available on this platform"));
    } else if (!(value >= HS_NONE && value <= HS_CTSRTS) && !(value >= HS_HARD_IN && value <= HS_SPLIT_MASK)) {
        throw SerialArgumentError(QStringLiteral("Invalid Serial Port Handshake"));
    }
    m_handshake = value;
}

void SerialConfig::setPortNum(int32_t port) {
    if (port < 0 && m_osName != QLatin1String("EPOC"))
        throw SerialArgumentError(QStringLiteral("Invalid Port Number: ") + QString::number(port));
    m_port = port;
}

void SerialConfig::setRxLen(int32_t length) {
    if (m_osName == QLatin1String("EPOC") && length > 8192)
        throw SerialArgumentError(QStringLiteral("Limited to 8192 on EPOC"));
    m_rxLen = length;
}

void SerialConfig::setTxLen(int32_t length) {
    if (m_osName == QLatin1String("EPOC") && length > 8192)
        throw SerialArgumentError(QStringLiteral("Limited to 8192 on EPOC"));
    m_txLen = length;
}

void SerialConfig::setPortName(const QString& name) {
    m_sPortName = name;
    m_portName = name.toLocal8Bit();
}

void SerialConfig::setBaseName(const QString& name) {
    m_baseName = name.toLocal8Bit();
}

int32_t SerialConfig::getBitRateIndex(int32_t rate) {
    for (size_t i = 0; i < bitRateNumbers.size(); ++i) {
        if (bitRateNumbers[i] == rate)
            return static_cast<int32_t>(i);
    }
    return -1;
}

int32_t SerialConfig::getBitRateNumber(int32_t index) const {
    if (m_bitRate > 30)
        return m_bitRate;
    if (m_bitRate > 14 || index < 0 || index >= static_cast<int32_t>(bitRateNumbers.size()))
        throw SerialArgumentError(QStringLiteral("Invalid Serial Port Bit Rate"));
    return bitRateNumbers[static_cast<size_t>(index)];
}

QString SerialConfig::getSettingsString() const {
    QString s = QString::number(getBitRateNumber(m_bitRate));
    s += QStringLiteral(" / ");
    s += QLatin1String(m_parity >= 0 && m_parity < 5 ? parityNames[static_cast<size_t>(m_parity)] : "?");
    s += QStringLiteral(" / ");
    s += QChar(u'5' + m_dataBits);
    s += QStringLiteral(" / ");
    s += QChar(u'1' + m_stopBits);
    s += QStringLiteral(" / ");
    if (m_handshake & HS_SPLIT_MASK) {
        if (m_handshake & HS_HARD_IN)
            s += QStringLiteral(" HI");
        if (m_handshake & HS_HARD_OUT)
            s += QStringLiteral(" HO");
        if (m_handshake & HS_SOFT_IN)
            s += QStringLiteral(" SI");
        if (m_handshake & HS_SOFT_OUT)
            s += QStringLiteral(" SO");
    } else if (m_handshake == HS_CTSRTS && m_osName == QLatin1String("Mac OS")) {
        s += QStringLiteral("CTS-DTR");
    } else {
        s +=
            QLatin1String(m_handshake >= 0 && m_handshake < 4 ? handshakeNames[static_cast<size_t>(m_handshake)] : "?");
    }
    return s;
}

} // namespace serial
