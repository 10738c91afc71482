#include "native/posix/PosixPort.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace tsp {

namespace {

const int32_t kRates[15] = {110,   150,   300,   600,    1200,   2400,   4800,  9600,
                            19200, 38400, 57600, 115200, 230400, 460800, 921600};

speed_t speedFor(int32_t rate) {
    switch (rate) {
    case 110:
        return B110;
    case 150:
        return B150;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
#ifdef B460800
    case 460800:
        return B460800;
#endif
#ifdef B921600
    case 921600:
        return B921600;
#endif
    default:
        return B0;
    }
}

// Index 0 to 14 or a rate above 30; B0 for anything else.
speed_t speedForSetting(int32_t bitRate) {
    if (bitRate >= 0 && bitRate <= 14)
        return speedFor(kRates[bitRate]);
    if (bitRate > 30)
        return speedFor(bitRate);
    return B0;
}

// A driver without the ioctl at all (a pseudo-terminal, some virtual ports) is not a failure.
bool unsupportedIoctl(int error) {
    return error == ENOTTY || error == EINVAL;
}

} // namespace

bool heldExclusively(int fd) {
#ifdef TIOCGEXCL
    int exclusive = 0;
    return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
    (void)fd;
    return false;
#endif
}

int32_t openErrorCode(int error) {
    switch (error) {
    case ENOENT:
        return TSP_ERR_NO_FILE;
    case EACCES:
    case EPERM:
        return TSP_ERR_PERMISSION;
    case EBUSY:
        return TSP_ERR_BUSY;
    case ENODEV:
    case ENXIO:
        return TSP_ERR_NO_DEVICE;
    case EWOULDBLOCK:
        return TSP_ERR_IN_USE;
    case ENOTTY:
    case ENOTDIR:
    case EISDIR:
        return TSP_ERR_NOT_VALID;
    default:
        return TSP_ERR_FAILED;
    }
}

PosixPort::PosixPort(std::string name, int fd, const termios& original, bool setExclusive)
    : Port(std::move(name)), m_fd(fd), m_original(original), m_setExclusive(setExclusive) {
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
    int32_t counts[5];
    if (readCounters(counts)) {
        for (int i = 0; i < 5; ++i)
            m_seen[i] = counts[i];
    }
}

PosixPort::~PosixPort() {
    if (m_fd >= 0)
        close();
    for (int end : m_wake) {
        if (end >= 0)
            ::close(end);
    }
}

void PosixPort::interrupt() {
    // Set before the byte goes in: a waiter that sees the byte also sees the flag and leaves the byte for
    // every other waiter of this closing port.
    m_closing = true;
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
    }
}

bool PosixPort::waitFor(short events, int timeoutMs) {
    if (m_closing)
        return false;
    pollfd p[2] = {{m_fd, events, 0}, {m_wake[0], POLLIN, 0}};
    const nfds_t count = m_wake[0] >= 0 ? 2 : 1;
    int r;
    do {
        r = ::poll(p, count, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (count == 2 && (p[1].revents & POLLIN)) {
        // A wake-up for a closing port stays in the pipe, so that every wait of that port ends; any other is
        // taken out, or each later wait would return at once and the reader would spin.
        if (!m_closing)
            drainWakeups();
        return false;
    }
    return r > 0;
}

void PosixPort::drainWakeups() {
    char bytes[64];
    while (::read(m_wake[0], bytes, sizeof bytes) > 0) {
    }
}

bool PosixPort::makeRaw(int fd) {
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    // Every byte as it arrives: no line editing, no translation of CR or NL, no signals, no echo, no
    // software flow control until asked for; a break is dropped rather than read as a NUL byte, and parity
    // is not checked by the line discipline (which would turn a bad byte into NUL): the error counters say it.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IGNPAR);
    t.c_iflag |= IGNBRK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    // VMIN 1 keeps read() from returning 0 on an idle line: with O_NONBLOCK an idle line gives EAGAIN,
    // and 0 means the device has hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

int32_t PosixPort::configure(const TspPortConfig& config) {
    const speed_t speed = speedForSetting(config.bitRate);
    if (speed == B0)
        return TSP_ERR_UNSUPPORTED;
    if (config.dataBits < 0 || config.dataBits > 3 || config.stopBits < 0 || config.stopBits > 1 || config.parity < 0 ||
        config.parity > 4)
        return TSP_ERR_UNSUPPORTED;
    // termios knows neither DSR/DTR flow control nor separate settings for each direction.
    if (config.handshake < 0 || config.handshake > 2)
        return TSP_ERR_UNSUPPORTED;
#ifndef CMSPAR
    if (config.parity > 2)
        return TSP_ERR_UNSUPPORTED;
#endif
    termios t;
    if (tcgetattr(m_fd, &t) != 0)
        return TSP_ERR_FAILED;
    static const tcflag_t sizes[4] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    t.c_cflag |= sizes[config.dataBits] | CLOCAL | CREAD;
    switch (config.parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
    case 3:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
#endif
    default:
        break;
    }
    if (config.stopBits == 1)
        t.c_cflag |= CSTOPB;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (config.handshake == 1)
        t.c_iflag |= IXON | IXOFF;
    else if (config.handshake == 2)
        t.c_cflag |= CRTSCTS;
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0)
        return TSP_ERR_UNSUPPORTED;
    if (tcsetattr(m_fd, TCSANOW, &t) != 0)
        return errno == EINVAL ? TSP_ERR_UNSUPPORTED : TSP_ERR_FAILED;
    return TSP_OK;
}

int32_t PosixPort::readChunk(uint8_t* buffer, int32_t max, int32_t timeoutMs) {
    // Readiness or a hang-up: the read below tells which.
    if (timeoutMs > 0 && !waitFor(POLLIN, timeoutMs))
        return 0;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, static_cast<size_t>(max));
        if (n > 0)
            return static_cast<int32_t>(n);
        if (n == 0)
            return -1;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

int32_t PosixPort::write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int32_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(m_fd, buffer + sent, static_cast<size_t>(count - sent));
        if (n > 0) {
            sent += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        if (!waitFor(POLLOUT, static_cast<int>(left)))
            break;
    }
    return sent;
}

int32_t PosixPort::pendingInput() {
    int n = 0;
    if (::ioctl(m_fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

int32_t PosixPort::pendingOutput() {
    int n = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &n) != 0)
        return unsupportedIoctl(errno) ? 0 : -1;
    return n;
}

bool PosixPort::flushInput() {
    return tcflush(m_fd, TCIFLUSH) == 0;
}
bool PosixPort::flushOutput() {
    return tcflush(m_fd, TCOFLUSH) == 0;
}
bool PosixPort::drain() {
    return tcdrain(m_fd) == 0;
}

bool PosixPort::setModemBit(int bit, bool on) {
    if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0)
        return true;
    return unsupportedIoctl(errno);
}

bool PosixPort::setDtr(bool on) {
    return setModemBit(TIOCM_DTR, on);
}
bool PosixPort::setRts(bool on) {
    return setModemBit(TIOCM_RTS, on);
}

int32_t PosixPort::line(Line which) {
    int bits = 0;
    if (::ioctl(m_fd, TIOCMGET, &bits) != 0)
        return unsupportedIoctl(errno) ? 0 : -1;
    switch (which) {
    case Cts:
        return (bits & TIOCM_CTS) ? 1 : 0;
    case Dsr:
        return (bits & TIOCM_DSR) ? 1 : 0;
    case Cd:
        return (bits & TIOCM_CD) ? 1 : 0;
    case Ring:
        return (bits & TIOCM_RI) ? 1 : 0;
    }
    return 0;
}

bool PosixPort::readCounters(int32_t counts[5]) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct c{};
    if (::ioctl(m_fd, TIOCGICOUNT, &c) != 0)
        return false;
    counts[Break] = c.brk;
    counts[Frame] = c.frame;
    counts[Overrun] = c.overrun;
    counts[Parity] = c.parity;
    counts[RxOverflow] = c.buf_overrun;
    return true;
#else
    (void)counts;
    errno = ENOTTY;
    return false;
#endif
}

int32_t PosixPort::takeCondition(Condition which) {
    std::lock_guard<std::mutex> lock(m_counterLock);
    // Drivers without error counters (pseudo-terminals, many USB adapters) are asked once, not for every byte.
    if (m_noCounters)
        return 0;
    int32_t counts[5];
    if (!readCounters(counts)) {
        if (!unsupportedIoctl(errno))
            return -1;
        m_noCounters = true;
        return 0;
    }
    const bool seen = counts[which] != m_seen[which];
    m_seen[which] = counts[which];
    return seen ? 1 : 0;
}

bool PosixPort::sendBreak(int32_t milliseconds) {
    if (milliseconds <= 0)
        return tcsendbreak(m_fd, 0) == 0;
    if (::ioctl(m_fd, TIOCSBRK) != 0)
        return unsupportedIoctl(errno);
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return ::ioctl(m_fd, TIOCCBRK) == 0;
}

int32_t PosixPort::close() {
    if (m_fd < 0)
        return TSP_ERR_NOT_OPEN;
    const int fd = m_fd;
    m_fd = -1;
    ::tcsetattr(fd, TCSANOW, &m_original);
    if (m_setExclusive)
        ::ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0 ? TSP_OK : TSP_ERR_FAILED;
}

std::unique_ptr<Port> openDevice(const std::string& name, int32_t& error) {
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = openErrorCode(errno);
        return nullptr;
    }
    if (heldExclusively(fd)) {
        ::close(fd);
        error = TSP_ERR_BUSY;
        return nullptr;
    }
    termios original;
    if (tcgetattr(fd, &original) != 0) {
        ::close(fd);
        error = TSP_ERR_NOT_VALID;
        return nullptr;
    }
    // TIOCEXCL keeps other programs out, but root passes it; the advisory lock holds for everybody who asks.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? TSP_ERR_IN_USE : TSP_ERR_FAILED;
        ::close(fd);
        return nullptr;
    }
    const bool setExclusive = ::ioctl(fd, TIOCEXCL) == 0;
    if (!PosixPort::makeRaw(fd)) {
        ::tcsetattr(fd, TCSANOW, &original);
        if (setExclusive)
            ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        error = TSP_ERR_NOT_VALID;
        return nullptr;
    }
    error = TSP_OK;
    return std::make_unique<PosixPort>(name, fd, original, setExclusive);
}

} // namespace tsp
