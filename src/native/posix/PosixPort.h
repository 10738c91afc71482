#pragma once

#include "native/common/Port.h"

#include <termios.h>

namespace tsp {

// A serial device through termios and the modem-line ioctls.
class PosixPort : public Port {
public:
    PosixPort(std::string name, int fd, const termios& original);
    ~PosixPort() override;

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

    // Puts a freshly opened device into raw mode; false when it is no terminal.
    static bool makeRaw(int fd);

private:
    bool setModemBit(int bit, bool on);
    // Reads the driver's error counters; false when the driver has none.
    bool readCounters(int32_t counts[5]);

    int m_fd;
    termios m_original;
    // Counter values seen by the last query of each condition.
    int32_t m_seen[5] = {0, 0, 0, 0, 0};
    std::mutex m_counterLock;
};

// The TSP_ERR_* code for an errno of open(2).
int32_t openErrorCode(int error);

} // namespace tsp
