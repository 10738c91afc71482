#include "output/DataLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavlo::output {

namespace {

// The process's file-size limit; a write past it would end in the middle of a line.
qint64 fileSizeLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<qint64>::max();
    return static_cast<qint64>(limit.rlim_cur);
}

} // namespace

const char* const DataLog::kHeader = "time,port,instrument,record,value,outcome\r\n";

DataLog::DataLog(QString path, Reporter report, bool groupWritable, qint64 rotateBytes)
    : m_path(std::move(path)), m_report(std::move(report)), m_groupWritable(groupWritable), m_rotateBytes(rotateBytes) {
    // A file-size limit must fail the write (reported once) instead of killing the whole program.
    std::signal(SIGXFSZ, SIG_IGN);
    m_thread = std::thread([this] { run(); });
}

DataLog::~DataLog() {
    close();
}

void DataLog::deliver(const std::shared_ptr<const Reading>& reading) {
    bool first;
    {
        std::lock_guard lock(m_mutex);
        if (m_closing)
            return;
        first = m_queue.empty();
        m_queue.push_back(reading);
    }
    // Only the first line of a batch wakes the writer; it gathers the rest itself.
    if (first)
        m_wake.notify_one();
}

void DataLog::close() {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_closing = m_closed = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

QString DataLog::currentFile() const {
    std::lock_guard lock(m_mutex);
    return m_currentFile;
}

QString DataLog::csvField(const QString& text) {
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\r') || text.contains(u'\n') ||
                       (!text.isEmpty() && (text.front() == u' ' || text.back() == u' '));
    if (!quote)
        return text;
    return u'"' + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
}

QString DataLog::csvLine(const Reading& r) {
    QString outcome = worker::outcomeText(r.outcome);
    if (r.outcome == worker::Outcome::Error && !r.error.isEmpty())
        outcome += QStringLiteral(": ") + r.error;
    return csvField(worker::isoTime(r.time)) + u',' + csvField(r.port) + u',' + csvField(r.instrument) + u',' +
           csvField(worker::DataLine::transformControlChars(r.raw)) + u',' + csvField(r.value) + u',' +
           csvField(outcome) + QStringLiteral("\r\n");
}

QString DataLog::rotatedName(const QString& path, const QDate& date, int counter) {
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + u'-' + date.toString(QStringLiteral("yyyy-MM-dd")) + u'-' +
                               QString::number(counter) + suffix);
}

void DataLog::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        // No time-out: an idle log does not wake up. Once a line is there, the ones that follow within a
        // moment join it, so that a flood costs one write per batch instead of one per record.
        m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
        m_wake.wait_for(lock, std::chrono::milliseconds(kGatherMs), [this] { return m_closing; });
        std::deque<std::shared_ptr<const Reading>> batch;
        batch.swap(m_queue);
        const bool closing = m_closing;
        lock.unlock();
        if (!m_failed && !batch.empty()) {
            std::vector<QByteArray> lines;
            lines.reserve(batch.size());
            for (const auto& r : batch)
                lines.push_back(csvLine(*r).toUtf8());
            writeBatch(lines);
        }
        lock.lock();
        if (closing && m_queue.empty())
            break;
    }
    lock.unlock();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void DataLog::report(const QString& what, int error) {
    m_failed = true;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_report)
        m_report(QStringLiteral("Data log %1: %2 (%3). Acquisition goes on without the data log.")
                     .arg(m_currentFile.isEmpty() ? m_path : m_currentFile, what,
                          QString::fromLocal8Bit(std::strerror(error))));
}

bool DataLog::openFile(const QString& path) {
    {
        std::lock_guard lock(m_mutex);
        m_currentFile = path;
    }
    const mode_t mode = m_groupWritable ? 0664 : 0644;
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode);
    if (m_fd < 0) {
        report(QStringLiteral("cannot open the file"), errno);
        return false;
    }
    struct stat st {};
    ::fstat(m_fd, &st);
    m_size = st.st_size;
    if (m_size == 0) {
        // The user's umask would take the group's write permission away again.
        if (m_groupWritable)
            ::fchmod(m_fd, 0664);
        const qsizetype n = static_cast<qsizetype>(std::strlen(kHeader));
        if (::write(m_fd, kHeader, static_cast<size_t>(n)) != n) {
            report(QStringLiteral("cannot write the file"), errno ? errno : ENOSPC);
            return false;
        }
        m_size = n;
    }
    return true;
}

bool DataLog::writeBatch(const std::vector<QByteArray>& lines) {
    if (m_fd < 0 && !openFile(m_path))
        return false;
    const qint64 header = static_cast<qint64>(std::strlen(kHeader));
    QByteArray chunk;
    for (const QByteArray& line : lines) {
        if (m_size + chunk.size() + line.size() > m_rotateBytes && m_size + chunk.size() > header) {
            // Continue in the next free name of today; every earlier file is kept as it is.
            if (!writeChunk(chunk))
                return false;
            chunk.clear();
            ::close(m_fd);
            m_fd = -1;
            QString next;
            do
                next = rotatedName(m_path, QDate::currentDate(), ++m_counter);
            while (QFile::exists(next));
            if (!openFile(next))
                return false;
        }
        chunk += line;
    }
    return writeChunk(chunk);
}

bool DataLog::writeChunk(const QByteArray& lines) {
    // Only whole lines go in below the file-size limit, so that the file stays readable to its end.
    qsizetype end = lines.size();
    const qint64 room = fileSizeLimit() - m_size;
    if (end > room)
        end = room > 0 ? lines.lastIndexOf('\n', room - 1) + 1 : 0;
    qsizetype done = 0;
    while (done < end) {
        const ssize_t n = ::write(m_fd, lines.constData() + done, static_cast<size_t>(end - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            report(QStringLiteral("cannot write the file"), n < 0 ? errno : ENOSPC);
            return false;
        }
        done += n;
        m_size += n;
    }
    if (end < lines.size()) {
        report(QStringLiteral("cannot write the file"), EFBIG);
        return false;
    }
    return true;
}

} // namespace tavlo::output
