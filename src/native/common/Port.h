#pragma once

#include "native/tsp.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace tsp {

// One open device as a backend sees it. The shared entry points add the receive buffer, the timeouts and
// the handle table; a backend only talks to its system.
class Port {
public:
    // Conditions that the error-flag queries report.
    enum Condition { Break, Frame, Overrun, Parity, RxOverflow };
    // Input lines.
    enum Line { Cts, Dsr, Cd, Ring };

    explicit Port(std::string name) : m_name(std::move(name)) {}
    virtual ~Port() = default;
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    const std::string& name() const { return m_name; }

    // 0 or a TSP_ERR_* code.
    virtual int32_t configure(const TspPortConfig& config) = 0;
    // Up to max bytes, waiting at most timeoutMs for the first one (0: no wait). The count, 0 for none,
    // or -1 when the device has gone.
    virtual int32_t readChunk(uint8_t* buffer, int32_t max, int32_t timeoutMs) = 0;
    // The number of bytes accepted, waiting at most timeoutMs for room.
    virtual int32_t write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) = 0;
    // Bytes the system holds (not counting the shared buffer); -1 on failure.
    virtual int32_t pendingInput() = 0;
    virtual int32_t pendingOutput() = 0;
    // true on success.
    virtual bool flushInput() = 0;
    virtual bool flushOutput() = 0;
    virtual bool drain() = 0;
    virtual bool setDtr(bool on) = 0;
    virtual bool setRts(bool on) = 0;
    // 1 on, 0 off, -1 failure.
    virtual int32_t line(Line which) = 0;
    // 1 when the condition was seen since the last query of it, 0 when not, -1 failure.
    virtual int32_t takeCondition(Condition which) = 0;
    virtual bool sendBreak(int32_t milliseconds) = 0;
    // Releases the device; 0 or a TSP_ERR_* code.
    virtual int32_t close() = 0;

    // The shared receive buffer: one system read fills it, SerGetByte serves from it.
    std::mutex m_readLock;
    uint8_t m_buffer[4096];
    int32_t m_bufferPos = 0;
    int32_t m_bufferLen = 0;
    int32_t m_timeoutRx = 0;
    int32_t m_timeoutTx = 0;

private:
    std::string m_name;
};

// Provided by each backend.
std::unique_ptr<Port> openDevice(const std::string& name, int32_t& error);
int32_t listPorts(const TspHost* host);
std::string portMaker(const std::string& name);

} // namespace tsp
