#pragma once

#include "native/common/Port.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tsp {

// A COM port through the Win32 communications functions.
class Win32Port : public Port {
public:
    Win32Port(std::string name, HANDLE handle);
    ~Win32Port() override;

    int32_t configure(const TspPortConfig& config) override;
    int32_t readChunk(uint8_t* buffer, int32_t max, int32_t timeoutMs) override;
    int32_t write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) override;
    int32_t pendingInput() override;
    int32_t pendingOutput() override;
    bool flushInput() override;
    bool flushOutput() override;
    bool drain() override;
    bool setDtr(bool on) override;
    bool setRts(bool on) override;
    int32_t line(Line which) override;
    int32_t takeCondition(Condition which) override;
    bool sendBreak(int32_t milliseconds) override;
    int32_t close() override;

private:
    // ClearCommError clears every flag at once; each one is kept until its own query takes it.
    bool collectErrors(COMSTAT* status);
    bool applyTimeouts(int32_t rxMs, int32_t txMs);

    HANDLE m_handle;
    std::mutex m_errorLock;
    DWORD m_latched = 0;
    int32_t m_appliedRx = -1;
    int32_t m_appliedTx = -1;
};

} // namespace tsp
