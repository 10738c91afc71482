#pragma once

#include <QString>
#include <cstdint>

namespace serial {

// What the native library offers on one operating system: the flags that every port operation checks,
// the highest bit rate, whether the receive timeout is emulated here, and the default device name.
struct SerialFeatures {
    bool supGetPortList = false;
    bool supUnplugPort = false;
    bool supSendBreak = true;
    bool supSigBreak = false;
    bool supSigFrameErr = false;
    bool supSigOverrun = false;
    bool supSigParityErr = false;
    bool supRxOverflow = false;
    bool supSigRing = false;
    bool supSigCTS = false;
    bool supSigDSR = false;
    bool supSigCD = false;
    bool supSetRTS = false;
    bool supSetDTR = false;
    bool supRxReadyCount = false;
    bool supTxBufCount = false;
    bool supSetTimeoutTx = false;
    bool supGetTimeoutTx = false;
    bool supGetStatusAPM = false;
    bool supSetPowerMode = false;
    bool supGetResumeState = false;
    bool supInstanceLock = false;
    bool supParityMarkSpace = false;
    bool supNoIndexBitRate = false;
    bool supDriverInfo = false;
    bool hostGetDataTimeout = false;
    int32_t maxBitRate = 115200;
    QString devName;

    // The feature table, by operating system name and processor architecture.
    static SerialFeatures forSystem(const QString& osName, const QString& osArch);
    // The flag behind a feature name of SerialPort::isSupported; false for an unknown name.
    bool byName(const QString& feature) const;
};

// The base name of the native library for a system; empty when the system is not supported. windowsFamily
// is set when the name is the Windows one.
QString nativeLibraryName(const QString& osName, const QString& osArch, const QString& runtimeVersion,
                          bool* windowsFamily);

} // namespace serial
