// The entry points of the native library over the handle table and a backend's Port.
#include "native/common/PortTable.h"
#include "native/tsp.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

using tsp::Port;
using tsp::PortTable;

namespace {

constexpr const char* kLibraryVersion = "tspWin 1.0.0";

// The bytes of the shared buffer first, then one system read that refills it.
int32_t nextByte(Port& port) {
    if (port.m_bufferPos < port.m_bufferLen)
        return port.m_buffer[port.m_bufferPos++];
    const int32_t n = port.readChunk(port.m_buffer, static_cast<int32_t>(sizeof port.m_buffer), port.m_timeoutRx);
    if (n < 0)
        return TSP_READ_FAILED;
    if (n == 0)
        return TSP_NO_BYTE;
    port.m_bufferPos = 1;
    port.m_bufferLen = n;
    return port.m_buffer[0];
}

int32_t lineResult(int32_t handle, Port::Line which) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port ? port->line(which) : -1;
}

int32_t conditionResult(int32_t handle, Port::Condition which) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port ? port->takeCondition(which) : -1;
}

std::mutex g_stateLock;
int32_t g_instanceLock = 0;
TspDeviceNotification g_notification = nullptr;
void* g_notificationContext = nullptr;

} // namespace

extern "C" {

int32_t SerOpenPort(TspPortConfig* config) {
    if (!config || !config->portName || !*config->portName)
        return TSP_ERR_NOT_VALID;
    const std::string name = config->portName;
    PortTable& table = PortTable::instance();
    if (table.isOpen(name))
        return TSP_ERR_ALREADY_OPEN;
    int32_t error = TSP_OK;
    std::unique_ptr<Port> port = tsp::openDevice(name, error);
    if (!port)
        return error == TSP_OK ? TSP_ERR_FAILED : error;
    const int32_t handle = table.insert(port, error);
    if (handle < 0) {
        // Another thread opened the same name meanwhile, or every slot is taken.
        port->close();
        return error;
    }
    config->port = handle + 1;
    return TSP_OK;
}

int32_t SerConfigure(int32_t handle, const TspPortConfig* config) {
    if (!config)
        return TSP_ERR_NOT_VALID;
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port)
        return TSP_ERR_NOT_OPEN;
    return port->configure(*config);
}

int32_t SerClosePort(int32_t handle) {
    std::unique_ptr<Port> port = PortTable::instance().remove(handle);
    if (!port)
        return TSP_ERR_NOT_OPEN;
    return port->close();
}

int32_t SerGetByte(int32_t handle) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port)
        return TSP_READ_FAILED;
    std::lock_guard<std::mutex> lock(port->m_readLock);
    return nextByte(*port.get());
}

int32_t SerGetData(int32_t handle, uint8_t* buffer, int32_t count) {
    if (!buffer || count < 0)
        return -1;
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port)
        return -1;
    std::lock_guard<std::mutex> lock(port->m_readLock);
    int32_t stored = std::min(count, port->m_bufferLen - port->m_bufferPos);
    std::memcpy(buffer, port->m_buffer + port->m_bufferPos, static_cast<size_t>(stored));
    port->m_bufferPos += stored;
    if (stored < count) {
        // Waiting applies only when nothing was buffered, as for a single byte.
        const int32_t n = port->readChunk(buffer + stored, count - stored, stored > 0 ? 0 : port->m_timeoutRx);
        if (n < 0)
            return stored > 0 ? stored : -1;
        stored += n;
    }
    return stored;
}

int32_t SerPutByte(int32_t handle, uint8_t byte) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port)
        return TSP_ERR_NOT_OPEN;
    return port->write(&byte, 1, port->m_timeoutTx) == 1 ? TSP_OK : TSP_ERR_FAILED;
}

int32_t SerPutData(int32_t handle, const uint8_t* buffer, int32_t count) {
    if (!buffer || count <= 0)
        return 0;
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port)
        return 0;
    return port->write(buffer, count, port->m_timeoutTx);
}

int32_t SerRxReadyCount(int32_t handle) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port)
        return -1;
    std::lock_guard<std::mutex> lock(port->m_readLock);
    const int32_t pending = port->pendingInput();
    if (pending < 0)
        return -1;
    return pending + port->m_bufferLen - port->m_bufferPos;
}

int32_t SerTxBufCount(int32_t handle) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port ? port->pendingOutput() : -1;
}

int32_t SerRxFlush(int32_t handle) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port)
        return -1;
    std::lock_guard<std::mutex> lock(port->m_readLock);
    port->m_bufferPos = port->m_bufferLen = 0;
    return port->flushInput() ? 0 : -1;
}

int32_t SerTxFlush(int32_t handle) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port && port->flushOutput() ? 0 : -1;
}

int32_t SerTxDrain(int32_t handle) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port && port->drain() ? 0 : -1;
}

int32_t SerSetDTR(int32_t handle, int32_t on) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port && port->setDtr(on != 0) ? 0 : -1;
}

int32_t SerSetRTS(int32_t handle, int32_t on) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port && port->setRts(on != 0) ? 0 : -1;
}

int32_t SerSigCTS(int32_t handle) {
    return lineResult(handle, Port::Cts);
}
int32_t SerSigDSR(int32_t handle) {
    return lineResult(handle, Port::Dsr);
}
int32_t SerSigCD(int32_t handle) {
    return lineResult(handle, Port::Cd);
}
int32_t SerSigRing(int32_t handle) {
    return lineResult(handle, Port::Ring);
}
int32_t SerSigBreak(int32_t handle) {
    return conditionResult(handle, Port::Break);
}
int32_t SerSigFrameErr(int32_t handle) {
    return conditionResult(handle, Port::Frame);
}
int32_t SerSigOverrun(int32_t handle) {
    return conditionResult(handle, Port::Overrun);
}
int32_t SerSigParityErr(int32_t handle) {
    return conditionResult(handle, Port::Parity);
}
int32_t SerRxOverflow(int32_t handle) {
    return conditionResult(handle, Port::RxOverflow);
}

int32_t SerSendBreak(int32_t handle, int32_t milliseconds) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port && port->sendBreak(milliseconds) ? 0 : -1;
}

int32_t SerSetTimeoutRx(int32_t handle, int32_t milliseconds) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port || milliseconds < 0)
        return -1;
    std::lock_guard<std::mutex> lock(port->m_readLock);
    port->m_timeoutRx = milliseconds;
    return 0;
}

int32_t SerSetTimeoutTx(int32_t handle, int32_t milliseconds) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port || milliseconds < 0)
        return -1;
    port->m_timeoutTx = milliseconds;
    return 0;
}

int32_t SerGetTimeoutRx(int32_t handle) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    if (!port)
        return -1;
    std::lock_guard<std::mutex> lock(port->m_readLock);
    return port->m_timeoutRx;
}

int32_t SerGetTimeoutTx(int32_t handle) {
    PortTable::Lease port = PortTable::instance().acquire(handle);
    return port ? port->m_timeoutTx : -1;
}

int32_t SerResetPortDriver(const char*) {
    return TSP_ERR_UNSUPPORTED;
}
const char* SerGetLibVer(void) {
    return kLibraryVersion;
}
const char* SerGetName(int32_t) {
    return "";
}
int32_t SerFlowTask(int32_t) {
    return 0;
}

int32_t SerServerTask(char* message, int32_t messageSize) {
    if (message && messageSize > 0) {
        std::strncpy(message, "no port server on this system", static_cast<size_t>(messageSize) - 1);
        message[messageSize - 1] = '\0';
    }
    return TSP_ERR_UNSUPPORTED;
}

int32_t SerGetInstanceLock(void) {
    std::lock_guard<std::mutex> lock(g_stateLock);
    return g_instanceLock;
}

int32_t SerSetInstanceLock(int32_t value) {
    std::lock_guard<std::mutex> lock(g_stateLock);
    const int32_t previous = g_instanceLock;
    g_instanceLock = value;
    return previous;
}

// No power management of ports: always on mains and active.
int32_t SerGetStatusAPM(void) {
    return 0;
}
int32_t SerGetResumeState(int32_t) {
    return 0;
}
int32_t SerGetPowerMode(int32_t) {
    return 1;
}
int32_t SerSetPowerMode(int32_t, int32_t) {
    return 0;
}

int32_t SerRegisterDeviceNotification(TspDeviceNotification callback, void* context) {
    std::lock_guard<std::mutex> lock(g_stateLock);
    g_notification = callback;
    g_notificationContext = context;
    return 0;
}

int32_t SerUnregisterDeviceNotification(TspDeviceNotification callback, void* context) {
    std::lock_guard<std::mutex> lock(g_stateLock);
    if (g_notification == callback && g_notificationContext == context) {
        g_notification = nullptr;
        g_notificationContext = nullptr;
    }
    return 0;
}

int32_t SerGetPortList(const TspHost* host) {
    return host ? tsp::listPorts(host) : -1;
}

const char* SerGetPortMfgr(const char* portName) {
    // The text must outlive the call; one per thread is enough for a caller that copies it at once.
    thread_local std::string maker;
    maker = portName ? tsp::portMaker(portName) : std::string();
    return maker.c_str();
}

} // extern "C"
