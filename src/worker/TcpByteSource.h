#pragma once

#include "worker/ByteSource.h"

#include <QString>
#include <memory>
#include <optional>

namespace tavlo::worker {

// A descriptor pair that ends a poll() from another thread: signal() makes it readable until drain().
class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // Async-signal-safe and callable under any lock: one write of one byte.
    void signal();
    void drain();
    int fd() const { return m_fds[0]; }

private:
    int m_fds[2] = {-1, -1};
};

// A network instrument or serial device server: a raw TCP connection to "tcp://HOST:PORT" (an IPv4 address,
// an IPv6 address in brackets, or a host name). Reads wait in poll() on the socket and a wake-up descriptor.
class TcpByteSource : public ByteSource {
public:
    struct Address {
        QString host;
        QString port;
    };

    // True for a port name that names a network address rather than a serial port.
    static bool isNetworkAddress(const QString& portName);
    // The host and port of "tcp://HOST:PORT"; none (with the reason in error) when it is not one.
    static std::optional<Address> parseAddress(const QString& portName, QString* error = nullptr);

    // Connects within timeoutMs; a signal of the wake-up pipe ends the attempt early. Throws serial::SerialIoError
    // with the system's reason when the address does not resolve, refuses or cannot be reached.
    TcpByteSource(const QString& portName, std::shared_ptr<WakePipe> wake, int timeoutMs);
    ~TcpByteSource() override;

    int getByte() override;
    bool canWait() const override { return true; }
    void waitForBytes(int timeoutMs) override;
    void putData(const QByteArray& data) override;
    void close() override;
    bool isNetwork() const override { return true; }

private:
    // Reads what the socket holds into the buffer; false when nothing is waiting. Throws when the peer is gone.
    bool fill();

    QString m_name;
    std::shared_ptr<WakePipe> m_wake;
    int m_fd = -1;
    char m_buffer[8192];
    int m_pos = 0;
    int m_len = 0;
};

} // namespace tavlo::worker
