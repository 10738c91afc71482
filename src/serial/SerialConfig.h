#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

namespace serial {

// How a port is to be opened and set up. The codes are what the settings store keeps and what the native
// library reads; the record goes whole to the library on open and configure.
class SerialConfig {
public:
    static constexpr int32_t BR_110 = 0, BR_150 = 1, BR_300 = 2, BR_600 = 3, BR_1200 = 4, BR_2400 = 5, BR_4800 = 6,
                             BR_9600 = 7, BR_19200 = 8, BR_38400 = 9, BR_57600 = 10, BR_115200 = 11, BR_230400 = 12,
                             BR_460800 = 13, BR_921600 = 14;
    static constexpr int32_t LN_5BITS = 0, LN_6BITS = 1, LN_7BITS = 2, LN_8BITS = 3;
    static constexpr int32_t ST_1BITS = 0, ST_2BITS = 1;
    static constexpr int32_t PY_NONE = 0, PY_ODD = 1, PY_EVEN = 2, PY_MARK = 3, PY_SPACE = 4;
    static constexpr int32_t HS_NONE = 0, HS_XONXOFF = 1, HS_CTSRTS = 2, HS_CTSDTR = 2, HS_DSRDTR = 3;
    static constexpr int32_t HS_HARD_IN = 16, HS_HARD_OUT = 32, HS_SOFT_IN = 64, HS_SOFT_OUT = 128, HS_SPLIT_MASK = 240;
    static constexpr int32_t PWR_STANDBY = 0, PWR_ACTIVE = 1;

    static constexpr std::array<int32_t, 15> bitRateNumbers = {110,   150,   300,   600,    1200,   2400,   4800,  9600,
                                                               19200, 38400, 57600, 115200, 230400, 460800, 921600};
    static const std::array<const char*, 5> parityNames;
    static const std::array<const char*, 4> handshakeNames;

    // Port "COM1", base name "/dev/ttyS".
    SerialConfig();
    explicit SerialConfig(int32_t port);
    SerialConfig(int32_t port, int32_t txLen, int32_t rxLen);
    explicit SerialConfig(const QString& portName);

    void setBitRate(int32_t value);
    void setDataBits(int32_t value);
    void setParity(int32_t value);
    void setStopBits(int32_t value);
    void setHandshake(int32_t value);
    void setPortNum(int32_t port);
    void setRxLen(int32_t length);
    void setTxLen(int32_t length);
    void setPortName(const QString& name);
    void setBaseName(const QString& name);
    void setHardFlow(bool on) { m_hardFlow = on; }
    void setDisableActiveLink(bool on) { m_disableActiveLink = on; }

    int32_t getPort() const { return m_port; }
    const QString& getPortNameString() const { return m_sPortName; }
    const QByteArray& getPortName() const { return m_portName; }
    const QByteArray& getBaseName() const { return m_baseName; }
    int32_t getTxLen() const { return m_txLen; }
    int32_t getRxLen() const { return m_rxLen; }
    int32_t getBitRate() const { return m_bitRate; }
    int32_t getParity() const { return m_parity; }
    int32_t getDataBits() const { return m_dataBits; }
    int32_t getStopBits() const { return m_stopBits; }
    int32_t getHandshake() const { return m_handshake; }
    bool getHardFlow() const { return m_hardFlow; }
    bool getDisableActiveLink() const { return m_disableActiveLink; }
    const QString& getOsName() const { return m_osName; }

    // Index of the rate among bitRateNumbers, -1 when it is none of them.
    static int32_t getBitRateIndex(int32_t rate);
    // The stored rate when it is one (above 30), else the table entry at index. A stored value of 15 to 30
    // (neither index nor rate) or an index outside the table raises SerialArgumentError.
    int32_t getBitRateNumber(int32_t index) const;
    bool validBitRateIndex() const { return m_bitRate >= 0 && m_bitRate <= 14; }

    // A record equal to this one; the name bytes are shared.
    SerialConfig copy() const { return *this; }
    // E.g. "9600 / NONE / 8 / 1 / NONE".
    QString getSettingsString() const;

private:
    friend class SerialPortLocal;
    // The native library's slot number after open; no validation, the library decides it.
    void storePortNumber(int32_t port) { m_port = port; }

    int32_t m_port = 0;
    QString m_sPortName;
    QByteArray m_portName = QByteArray(1, '\0');
    QByteArray m_baseName = QByteArray(1, '\0');
    int32_t m_txLen = 4096;
    int32_t m_rxLen = 4096;
    int32_t m_bitRate = BR_9600;
    int32_t m_parity = PY_NONE;
    int32_t m_dataBits = LN_8BITS;
    int32_t m_stopBits = ST_1BITS;
    int32_t m_handshake = HS_NONE;
    bool m_hardFlow = true;
    QString m_osName;
    bool m_disableActiveLink = false;
};

} // namespace serial
