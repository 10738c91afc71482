#pragma once

#include "native/common/Port.h"

#include <atomic>

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
    void interrupt() override;

private:
    // ClearCommError clears every flag at once; each one is kept until its own query takes it.
    bool collectErrors(COMSTAT* status);
    bool applyWriteTimeout(int32_t txMs);
    // ClearCommError still succeeds: the device is there.
    bool deviceAnswers();

    // How long a waiting read sleeps between two looks at the device.
    static constexpr ULONGLONG kReadStepMs = 10;

    HANDLE m_handle;
    std::mutex m_errorLock;
    DWORD m_latched = 0;
    std::atomic<bool> m_interrupted{false};
    int32_t m_appliedTx = -1;
};

} // namespace tsp
