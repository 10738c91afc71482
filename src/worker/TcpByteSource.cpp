#include "worker/TcpByteSource.h"

#include "serial/SerialIoError.h"

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavlo::worker {

namespace {

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

} // namespace

WakePipe::WakePipe() {
    if (::pipe(m_fds) == 0) {
        setNonBlocking(m_fds[0]);
        setNonBlocking(m_fds[1]);
    }
}

WakePipe::~WakePipe() {
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

void WakePipe::signal() {
    const char byte = 1;
    // A full pipe is as good as a written byte: the reader is woken either way.
    [[maybe_unused]] const ssize_t n = ::write(m_fds[1], &byte, 1);
}

void WakePipe::drain() {
    char bytes[64];
    while (::read(m_fds[0], bytes, sizeof bytes) > 0) {
    }
}

bool TcpByteSource::isNetworkAddress(const QString& portName) {
    return portName.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

std::optional<TcpByteSource::Address> TcpByteSource::parseAddress(const QString& portName, QString* error) {
    const auto fail = [error](const QString& why) -> std::optional<Address> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!isNetworkAddress(portName))
        return fail(QStringLiteral("not a network address"));
    const QString rest = portName.mid(6);
    Address address;
    qsizetype colon;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0 || close + 1 >= rest.size() || rest[close + 1] != u':')
            return fail(QStringLiteral("an IPv6 address is written in brackets, followed by :PORT"));
        address.host = rest.mid(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.lastIndexOf(u':');
        if (colon <= 0)
            return fail(QStringLiteral("the address must be tcp://HOST:PORT"));
        address.host = rest.left(colon);
        if (address.host.contains(u':'))
            return fail(QStringLiteral("an IPv6 address is written in brackets"));
    }
    address.port = rest.mid(colon + 1);
    bool ok = false;
    const int number = address.port.toInt(&ok);
    if (address.host.isEmpty() || !ok || number < 1 || number > 65535)
        return fail(QStringLiteral("the address must be tcp://HOST:PORT with a port from 1 to 65535"));
    return address;
}

TcpByteSource::TcpByteSource(const QString& portName, std::shared_ptr<WakePipe> wake, int timeoutMs)
    : m_name(portName), m_wake(std::move(wake)) {
    const auto fail = [this](const QString& why) {
        throw serial::SerialIoError(QStringLiteral("Cannot connect to %1: %2").arg(m_name, why));
    };
    QString error;
    const auto address = parseAddress(portName, &error);
    if (!address)
        fail(error);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray host = address->host.toUtf8();
    const QByteArray port = address->port.toLatin1();
    if (const int status = ::getaddrinfo(host.constData(), port.constData(), &hints, &found); status != 0)
        fail(QString::fromLocal8Bit(status == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(status)));

    QElapsedTimer clock;
    clock.start();
    QString reason = QStringLiteral("no address");
    for (addrinfo* a = found; a && m_fd < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) {
            reason = systemReason(errno);
            continue;
        }
        setNonBlocking(fd);
        int result = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (result != 0 && errno == EINPROGRESS) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {m_wake ? m_wake->fd() : -1, POLLIN, 0}};
            const int left = static_cast<int>(std::max<qint64>(0, timeoutMs - clock.elapsed()));
            const int ready = ::poll(fds, 2, left);
            int soError = ETIMEDOUT;
            if (ready > 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
                socklen_t size = sizeof soError;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size);
            } else if (ready > 0) {
                // Woken by Stop or a request: this attempt ends, and the wake-up is used up so that the next
                // attempt (if any) can wait again.
                m_wake->drain();
                soError = ECANCELED;
            }
            result = soError == 0 ? 0 : -1;
            errno = soError;
        }
        if (result != 0) {
            reason = systemReason(errno);
            ::close(fd);
            continue;
        }
        m_fd = fd;
    }
    ::freeaddrinfo(found);
    if (m_fd < 0)
        fail(reason);
    const int on = 1;
    // Requests are short and should leave at once; keep-alive finds a peer that vanished without a word.
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(m_fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
}

TcpByteSource::~TcpByteSource() {
    close();
}

bool TcpByteSource::fill() {
    if (m_fd < 0)
        throw serial::SerialIoError(QStringLiteral("The connection to %1 is closed").arg(m_name));
    const ssize_t n = ::recv(m_fd, m_buffer, sizeof m_buffer, MSG_DONTWAIT);
    if (n > 0) {
        m_pos = 0;
        m_len = static_cast<int>(n);
        return true;
    }
    if (n == 0)
        throw serial::SerialIoError(QStringLiteral("The instrument closed the connection"));
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return false;
    throw serial::SerialIoError(systemReason(errno));
}

int TcpByteSource::getByte() {
    if (m_pos >= m_len && !fill())
        return -1;
    return static_cast<unsigned char>(m_buffer[m_pos++]);
}

void TcpByteSource::waitForBytes(int timeoutMs) {
    if (m_pos < m_len || m_fd < 0)
        return;
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake ? m_wake->fd() : -1, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) > 0 && (fds[1].revents & POLLIN))
        m_wake->drain();
}

void TcpByteSource::putData(const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        if (m_fd < 0)
            throw serial::SerialIoError(QStringLiteral("The connection to %1 is closed").arg(m_name));
        const ssize_t n =
            ::send(m_fd, data.constData() + done, static_cast<size_t>(data.size() - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            // A request is a few bytes; a peer that takes none of them for a second is treated as gone.
            pollfd out{m_fd, POLLOUT, 0};
            if (::poll(&out, 1, 1000) > 0)
                continue;
            throw serial::SerialIoError(QStringLiteral("The instrument takes no data"));
        }
        throw serial::SerialIoError(systemReason(errno));
    }
}

void TcpByteSource::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_pos = m_len = 0;
}

} // namespace tavlo::worker
