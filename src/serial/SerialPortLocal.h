#pragma once

#include "serial/DeviceNotificationCallback.h"
#include "serial/ErrorStatusHandler.h"
#include "serial/PortDriverInfo.h"
#include "serial/SerialFeatures.h"
#include "serial/SerialPort.h"

#include <QList>
#include <QStringList>
#include <atomic>

namespace serial {

class NativeLibrary;

// The serial port over the native library. The class also holds the process-wide side of the layer: the
// platform it runs on, the features offered there, the native library, and the list of known ports. That side
// is set up once, on first use.
class SerialPortLocal : public SerialPort {
public:
    static constexpr int32_t buildNum = 9233;

    // Loads the native library if need be; the port stays closed with a configuration for the default device.
    SerialPortLocal();
    // Opens the port at once; every failure of open passes to the caller, after closing a port that was
    // opened before configuring it failed.
    explicit SerialPortLocal(const SerialConfig& config);
    ~SerialPortLocal() override;
    SerialPortLocal(const SerialPortLocal&) = delete;
    SerialPortLocal& operator=(const SerialPortLocal&) = delete;

    void open();
    void close() override;
    void configure() override;
    // Applies the configuration to the open port; may store a bit rate index into it.
    void configure(SerialConfig& config);
    void reset();
    void resetPortDriver(const QString& driver);
    void setConfig(const SerialConfig& config) override;
    const SerialConfig& getConfig() const override { return m_config; }
    bool isOpen() const { return m_isOpen.load(); }
    QString getName() const override { return m_name; }
    void setName(const QString& name) override { m_name = name; }
    QString getName(int32_t which);
    int32_t getPortNum() const override { return m_port.load(); }
    QString getPortName() const;
    void setPortName(const QString& name);

    int32_t getBitRate() const { return m_config.getBitRate(); }
    void setBitRate(int32_t value) { m_config.setBitRate(value); }
    int32_t getDataBits() const { return m_config.getDataBits(); }
    void setDataBits(int32_t value) { m_config.setDataBits(value); }
    int32_t getParity() const { return m_config.getParity(); }
    void setParity(int32_t value) { m_config.setParity(value); }
    int32_t getStopBits() const { return m_config.getStopBits(); }
    void setStopBits(int32_t value) { m_config.setStopBits(value); }
    int32_t getHandshake() const { return m_config.getHandshake(); }
    void setHandshake(int32_t value) { m_config.setHandshake(value); }

    QString getLibVer() override;
    static int32_t getBuildNum() { return buildNum; }
    static int32_t getMaxBitRate();
    bool isSupported(const QString& feature) const override;
    void setErrorStatusHandler(ErrorStatusHandler* handler) { m_esh = handler; }

    int32_t getByte() override;
    int32_t getData(QByteArray& buffer) override;
    // Raises std::out_of_range, before reading anything, when offset and count do not lie within the buffer.
    int32_t getData(QByteArray& buffer, int32_t offset, int32_t count) override;
    void putByte(uint8_t byte) override;
    void putData(const QByteArray& buffer) override;
    void putData(const QByteArray& buffer, int32_t count) override;
    void putData(const QByteArray& buffer, int32_t offset, int32_t count);
    void putString(const QString& text) override;

    void setDTR(bool on) override;
    void setRTS(bool on) override;
    bool sigCTS() override;
    bool sigDSR() override;
    bool sigCD() override;
    bool sigRing() override;
    bool sigBreak() override;
    bool sigFrameErr() override;
    bool sigOverrun() override;
    bool sigParityErr() override;
    bool rxOverflow() override;
    int32_t rxReadyCount() override;
    int32_t txBufCount() override;
    void sendBreak(int32_t milliseconds) override;
    void rxFlush() override;
    void txFlush() override;
    void txDrain() override;
    void setTimeoutRx(int32_t milliseconds) override;
    void setTimeoutTx(int32_t milliseconds) override;
    int32_t getTimeoutRx() override;
    int32_t getTimeoutTx() override;

    bool readSinceRxBufCheck() const { return m_rdSinceRxBufCheck.load(); }
    void clearReadSinceRxBufCheck() { m_rdSinceRxBufCheck = false; }
    bool sendSinceTxBufEmpty() const { return m_wrSinceTxBufEmpty.load(); }
    void clearSendSinceTxBufEmpty() { m_wrSinceTxBufEmpty = false; }

    // Process-wide side.
    static bool isLibraryLoaded();
    // Why the native library could not be loaded; empty once it is loaded.
    static QString getLibraryFailure();
    static void setNativeLibName();
    static void featureSetup();
    static QStringList getPortList();
    static void addPortName(const QString& name);
    static void addPortInfo(const QString& name, const QString& maker, const QString& description);
    static void clearPortListInfo();
    static QList<PortDriverInfo> getDriverInfoList();
    static int32_t getPortListMode();
    static void setPortListMode(int32_t mode);
    static QString getOsName();
    static QString getOsArch();
    static QString getNativeLibName();
    static QString getDevName();
    static SerialFeatures getFeatures();

    static int32_t getInstanceLock();
    static int32_t setInstanceLock(int32_t value);
    static int32_t getStatusAPM();
    static int32_t getResumeState(int32_t flag);
    static int32_t getPowerMode(int32_t which);
    static void setPowerMode(int32_t which, int32_t mode);

    static void registerDeviceNotification(DeviceNotificationCallback* callback);
    static void unregisterDeviceNotification();
    static void deviceNotification();

    // Test support: forgets the process-wide set-up, so that the next use runs it again from the properties.
    static void resetForTesting();

private:
    static const NativeLibrary& lib();
    [[noreturn]] void unsupported(const char* text) const;
    void requireOpen(const char* text) const;
    bool booleanResult(int32_t result, const char* failure) const;
    void openNative(const char* failurePrefix);

    std::atomic<int32_t> m_port{-1};
    std::atomic<bool> m_isOpen{false};
    QString m_name = QStringLiteral("Serial Port");
    SerialConfig m_config;
    ErrorStatusHandler* m_esh = nullptr;
    std::atomic<bool> m_wrSinceTxBufEmpty{false};
    std::atomic<bool> m_rdSinceRxBufCheck{false};
};

} // namespace serial
