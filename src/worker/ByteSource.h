#pragma once

#include <QByteArray>

namespace tavlo::worker {

// Where a worker's bytes come from: the serial port, or a network connection to an instrument. The worker's
// thread is its only reader; a request may be written from another thread beside a read.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // The next received byte, or -1 when none is waiting. Throws serial::SerialIoError when the source is lost.
    virtual int getByte() = 0;
    // True when waitForBytes() really waits; otherwise the caller pauses by itself between empty reads.
    virtual bool canWait() const { return false; }
    // Waits up to timeoutMs until a byte is waiting or the source's wake-up fires; returns at once when a byte is
    // waiting.
    virtual void waitForBytes(int timeoutMs) { (void)timeoutMs; }
    // Line errors seen with the last byte read; a network connection has none.
    virtual bool sigParityErr() { return false; }
    virtual bool sigFrameErr() { return false; }
    // Sends a request text to the instrument. Throws serial::SerialArgumentError or serial::SerialIoError.
    virtual void putData(const QByteArray& data) = 0;
    virtual void close() = 0;
    // True for a network connection: no serial settings, no modem lines.
    virtual bool isNetwork() const { return false; }
};

} // namespace tavlo::worker
