#pragma once

#include "native/tsp.h"

#include <QString>
#include <memory>
#include <string>

namespace serial {

#define TAVLO_TSP_ENTRY_POINTS(X)                                                                                      \
    X(SerOpenPort)                                                                                                     \
    X(SerConfigure)                                                                                                    \
    X(SerClosePort)                                                                                                    \
    X(SerGetByte)                                                                                                      \
    X(SerGetData)                                                                                                      \
    X(SerPutByte)                                                                                                      \
    X(SerPutData)                                                                                                      \
    X(SerRxReadyCount)                                                                                                 \
    X(SerTxBufCount)                                                                                                   \
    X(SerRxFlush)                                                                                                      \
    X(SerTxFlush)                                                                                                      \
    X(SerTxDrain)                                                                                                      \
    X(SerSetDTR)                                                                                                       \
    X(SerSetRTS)                                                                                                       \
    X(SerSigCTS)                                                                                                       \
    X(SerSigDSR)                                                                                                       \
    X(SerSigCD)                                                                                                        \
    X(SerSigRing)                                                                                                      \
    X(SerSigBreak)                                                                                                     \
    X(SerSigFrameErr)                                                                                                  \
    X(SerSigOverrun)                                                                                                   \
    X(SerSigParityErr)                                                                                                 \
    X(SerRxOverflow)                                                                                                   \
    X(SerSendBreak)                                                                                                    \
    X(SerSetTimeoutRx)                                                                                                 \
    X(SerSetTimeoutTx)                                                                                                 \
    X(SerGetTimeoutRx)                                                                                                 \
    X(SerGetTimeoutTx)                                                                                                 \
    X(SerResetPortDriver)                                                                                              \
    X(SerGetLibVer)                                                                                                    \
    X(SerGetName)                                                                                                      \
    X(SerFlowTask)                                                                                                     \
    X(SerServerTask)                                                                                                   \
    X(SerGetInstanceLock)                                                                                              \
    X(SerSetInstanceLock)                                                                                              \
    X(SerGetStatusAPM)                                                                                                 \
    X(SerGetResumeState)                                                                                               \
    X(SerGetPowerMode)                                                                                                 \
    X(SerSetPowerMode)                                                                                                 \
    X(SerRegisterDeviceNotification)                                                                                   \
    X(SerUnregisterDeviceNotification)                                                                                 \
    X(SerGetPortList)                                                                                                  \
    X(SerGetPortMfgr)

// The native serial library, loaded at run time with every entry point resolved.
class NativeLibrary {
public:
#define TAVLO_TSP_MEMBER(name) decltype(&::name) name = nullptr;
    TAVLO_TSP_ENTRY_POINTS(TAVLO_TSP_MEMBER)
#undef TAVLO_TSP_MEMBER

    // By base name ("tspWin") through the system's library search path, which includes the executable's run
    // path: its own folder in the build tree, the private library folder once installed.
    // Raises NativeLibraryError when the library is missing or lacks an entry point.
    static std::unique_ptr<NativeLibrary> loadByName(const QString& baseName);
    // From one file.
    static std::unique_ptr<NativeLibrary> loadFile(const QString& path);
    // The file "<home>\\<baseName>.dll", then the library by name (where older Windows versions fail to find it).
    static std::unique_ptr<NativeLibrary> loadFromUserFolder(const QString& baseName, const QString& home);

    const QString& origin() const {
        return m_origin;
    }

private:
    static std::unique_ptr<NativeLibrary> resolve(void* handle, const std::string& origin, const QString& shownName);

    // The library stays loaded for the life of the process: ports and callbacks may still point into it.
    void* m_handle = nullptr;
    QString m_origin;
};

} // namespace serial
