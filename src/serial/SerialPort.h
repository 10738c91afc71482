#pragma once

#include "serial/SerialConfig.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace serial {

// One serial port as the workers and the port detection use it. Failures are SerialIoError; settings that
// the configuration refuses are SerialArgumentError.
class SerialPort {
public:
    // Error code given to an ErrorStatusHandler when rxReadyCount fails.
    static constexpr int32_t RXREADYCOUNT = 10;

    virtual ~SerialPort() = default;

    virtual void close() = 0;
    virtual void configure() = 0;
    // The next received byte 0 to 255, or -1 when none is there within the receive timeout.
    virtual int32_t getByte() = 0;
    virtual const SerialConfig& getConfig() const = 0;
    virtual int32_t getData(QByteArray& buffer) = 0;
    virtual int32_t getData(QByteArray& buffer, int32_t offset, int32_t count) = 0;
    virtual QString getLibVer() = 0;
    virtual QString getName() const = 0;
    virtual int32_t getPortNum() const = 0;
    virtual int32_t getTimeoutRx() = 0;
    virtual int32_t getTimeoutTx() = 0;
    virtual bool isSupported(const QString& feature) const = 0;
    virtual void putByte(uint8_t byte) = 0;
    virtual void putData(const QByteArray& buffer) = 0;
    virtual void putData(const QByteArray& buffer, int32_t count) = 0;
    virtual void putString(const QString& text) = 0;
    virtual void rxFlush() = 0;
    virtual bool rxOverflow() = 0;
    virtual int32_t rxReadyCount() = 0;
    virtual void sendBreak(int32_t milliseconds) = 0;
    virtual void setConfig(const SerialConfig& config) = 0;
    virtual void setDTR(bool on) = 0;
    virtual void setName(const QString& name) = 0;
    virtual void setRTS(bool on) = 0;
    virtual void setTimeoutRx(int32_t milliseconds) = 0;
    virtual void setTimeoutTx(int32_t milliseconds) = 0;
    virtual bool sigBreak() = 0;
    virtual bool sigCD() = 0;
    virtual bool sigCTS() = 0;
    virtual bool sigDSR() = 0;
    virtual bool sigFrameErr() = 0;
    virtual bool sigOverrun() = 0;
    virtual bool sigParityErr() = 0;
    virtual bool sigRing() = 0;
    virtual int32_t txBufCount() = 0;
    virtual void txDrain() = 0;
    virtual void txFlush() = 0;
};

} // namespace serial
