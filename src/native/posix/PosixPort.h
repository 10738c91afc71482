#pragma once

#include "native/common/Port.h"

#include <atomic>
#include <termios.h>

namespace tsp {

// A serial device through termios and the modem-line ioctls.
class PosixPort : public Port {
public:
    // setExclusive: this open set the terminal's exclusive flag, so close clears it again.
    PosixPort(std::string name, int fd, const termios& original, bool setExclusive);
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
    void interrupt() override;

    // Puts a freshly opened device into raw mode; false when it is no terminal.
    static bool makeRaw(int fd);

private:
    bool setModemBit(int bit, bool on);
    // Waits for the device (events) or an interrupt; false on timeout or interrupt, and at once once the port
    // is closing.
    bool waitFor(short events, int timeoutMs);
    // Empties the wake-up pipe (it is non-blocking).
    void drainWakeups();
    // Reads the driver's error counters; false when the driver has none.
    bool readCounters(int32_t counts[5]);

    int m_fd;
    termios m_original;
    bool m_setExclusive;
    // A pipe whose read end every wait watches too; interrupt() writes to it.
    int m_wake[2] = {-1, -1};
    // Set by interrupt(): the port is leaving the handle table, so no wait of it may start or go on.
    std::atomic<bool> m_closing{false};
    // Counter values seen by the last query of each condition.
    int32_t m_seen[5] = {0, 0, 0, 0, 0};
    std::mutex m_counterLock;
    bool m_noCounters = false; // the driver has no error counters
};

// Whether another opener set the terminal's exclusive flag (TIOCEXCL). Root passes the flag, so it is asked
// for before anything changes the terminal; a driver that cannot tell counts as not exclusive.
bool heldExclusively(int fd);

// The TSP_ERR_* code for an errno of open(2).
int32_t openErrorCode(int error);

} // namespace tsp
