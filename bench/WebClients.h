#pragma once

// WebSocket clients of the reading service for the end-to-end benchmark: plain sockets, each read by a thread of
// its own that notes every reading's sequence number and when it arrived; and a client that never reads.
#include <QByteArray>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tavlo::bench {

using WebClock = std::chrono::steady_clock;

// Connects to the service's /readings and completes the handshake; -1 when that fails. receiveBuffer > 0 sets
// a small receive buffer first (for a client that stops reading).
inline int openWebSocket(int port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const QByteArray handshake = "GET /readings HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                                 "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                                 "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (::write(fd, handshake.constData(), static_cast<size_t>(handshake.size())) != handshake.size()) {
        ::close(fd);
        return -1;
    }
    // The answer is read byte by byte, so that no message is taken with it.
    QByteArray answer;
    char c;
    while (!answer.endsWith("\r\n\r\n") && ::read(fd, &c, 1) == 1)
        answer += c;
    if (!answer.startsWith("HTTP/1.1 101")) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads the text messages of one WebSocket on its own thread; for each reading the sequence number and the time.
class WebClient {
public:
    explicit WebClient(int port) : m_fd(openWebSocket(port)) {
        if (m_fd >= 0)
            m_thread = std::thread([this] { run(); });
    }
    ~WebClient() {
        if (m_fd >= 0)
            ::shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    WebClient(const WebClient&) = delete;
    WebClient& operator=(const WebClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    // The readings received since the last reset, the last one's time, and those not in sequence.
    long received() const { return m_received.load(); }
    long outOfOrder() const { return m_outOfOrder.load(); }
    WebClock::time_point lastArrival() const {
        std::lock_guard lock(m_mutex);
        return m_lastArrival;
    }
    void reset() {
        std::lock_guard lock(m_mutex);
        m_received = 0;
        m_outOfOrder = 0;
    }
    // Waits until the reading with this sequence number has arrived; its arrival time, or none after the wait.
    bool waitFor(long seq, std::chrono::milliseconds wait, WebClock::time_point* arrival) {
        std::unique_lock lock(m_mutex);
        if (!m_wake.wait_for(lock, wait, [&] { return m_lastSeq >= seq || m_closed; }) || m_lastSeq < seq)
            return false;
        *arrival = m_seqArrival;
        return true;
    }

private:
    void run() {
        QByteArray buffer;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            const auto now = WebClock::now();
            buffer.append(chunk, n);
            qsizetype at = 0;
            for (;;) {
                if (buffer.size() - at < 2)
                    break;
                const auto b0 = static_cast<unsigned char>(buffer[at]);
                quint64 length = static_cast<unsigned char>(buffer[at + 1]) & 0x7f;
                qsizetype header = 2;
                if (length == 126) {
                    if (buffer.size() - at < 4)
                        break;
                    length = (quint64(static_cast<unsigned char>(buffer[at + 2])) << 8) |
                             static_cast<unsigned char>(buffer[at + 3]);
                    header = 4;
                } else if (length == 127) {
                    if (buffer.size() - at < 10)
                        break;
                    length = 0;
                    for (int i = 0; i < 8; ++i)
                        length = (length << 8) | static_cast<unsigned char>(buffer[at + 2 + i]);
                    header = 10;
                }
                if (static_cast<quint64>(buffer.size() - at - header) < length)
                    break;
                if ((b0 & 0x0f) == 1)
                    note(QByteArrayView(buffer.constData() + at + header, static_cast<qsizetype>(length)), now);
                at += header + static_cast<qsizetype>(length);
            }
            buffer.remove(0, at);
        }
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_wake.notify_all();
    }
    void note(QByteArrayView message, WebClock::time_point now) {
        const qsizetype at = message.indexOf(QByteArrayView("\"seq\":"));
        if (!message.startsWith(QByteArrayView("{\"type\":\"reading\"")) || at < 0)
            return;
        long seq = 0;
        for (qsizetype i = at + 6; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i)
            seq = seq * 10 + (message[i] - '0');
        std::lock_guard lock(m_mutex);
        if (seq != m_lastSeq + 1)
            ++m_outOfOrder;
        m_lastSeq = seq;
        m_seqArrival = now;
        m_lastArrival = now;
        ++m_received;
        m_wake.notify_all();
    }

    int m_fd;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<long> m_received{0};
    std::atomic<long> m_outOfOrder{0};
    long m_lastSeq = 0;
    WebClock::time_point m_seqArrival{};
    WebClock::time_point m_lastArrival{};
    bool m_closed = false;
};

} // namespace tavlo::bench
