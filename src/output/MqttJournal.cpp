#include "output/MqttJournal.h"

#include "base/Exceptions.h"

#include <MQTTAsync.h>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tavlo::output {

namespace {

// A record: type (1 byte), zero (1), key length (2, little-endian), data length (4), key, data, and the CRC-32 of
// everything before it (4). A remove record carries no data.
constexpr char kPut = 'P';
constexpr char kRemove = 'R';
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kCrcBytes = 4;
constexpr std::size_t kMaxKeyBytes = 0xFFFF;
// Paho hands lengths over as int; the record's own bytes must fit beside the data.
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<int>::max() - 64;
constexpr std::size_t kChunkBytes = 1 << 20;
constexpr const char* kNewFileName = "journal.new";

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

std::uint32_t crc32(const char* data, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i)
        crc = kCrcTable[(crc ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void putLe(char* p, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t getLe(const char* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return value;
}

std::uint64_t recordBytes(std::size_t keyLength, std::uint64_t dataLength) {
    return kHeaderBytes + keyLength + dataLength + kCrcBytes;
}

// The header and key of a record; the caller appends the data and then calls finishRecord.
std::string startRecord(char type, std::string_view key, std::uint32_t dataLength) {
    std::string record;
    record.reserve(recordBytes(key.size(), dataLength));
    record.resize(kHeaderBytes);
    record[0] = type;
    record[1] = 0;
    putLe(&record[2], static_cast<std::uint32_t>(key.size()), 2);
    putLe(&record[4], dataLength, 4);
    record.append(key);
    return record;
}

void finishRecord(std::string& record) {
    char crc[kCrcBytes];
    putLe(crc, crc32(record.data(), record.size()), kCrcBytes);
    record.append(crc, kCrcBytes);
}

QString describe(const char* pattern, const QString& path, int error) {
    return QString::fromLatin1(pattern).arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

bool writeAll(int fd, const char* data, std::size_t n, std::size_t* written = nullptr) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t k = ::write(fd, data + done, n - done);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            if (k == 0)
                errno = ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(k);
    }
    if (written)
        *written = done;
    return done == n;
}

bool readAll(int fd, char* to, std::size_t n, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t k = ::pread(fd, to + done, n - done, static_cast<off_t>(offset + done));
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            if (k == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(k);
    }
    return true;
}

int syncFile(int fd, bool dataOnly) {
    int rc;
    do
        rc = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    return rc;
}

// Makes the folder and any missing parent, each readable by the user alone.
int makeFolders(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return errno;
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return ENOENT;
    if (const int error = makeFolders(path.substr(0, slash)))
        return error;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

// Reads the whole records of fd from its start and hands each to onRecord(type, key, dataOffset, dataLength).
// Returns the offset where they end: the file's size, or the start of the first record that is cut short or fails
// its CRC. -1 with errno when the file cannot be read, which must not be taken for a torn record.
template <typename OnRecord> std::int64_t scanRecords(int fd, OnRecord&& onRecord) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return -1;
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    std::vector<char> buffer;
    std::uint64_t bufferStart = 0;
    std::size_t bufferLength = 0;
    // Points at bytes [pos, pos + n) of the file, reading a chunk when they are not in the buffer yet.
    auto window = [&](std::uint64_t pos, std::size_t n, const char** at) {
        if (pos < bufferStart || pos + n > bufferStart + bufferLength) {
            bufferLength = static_cast<std::size_t>(std::min<std::uint64_t>(std::max(n, kChunkBytes), size - pos));
            buffer.resize(bufferLength);
            bufferStart = pos;
            if (!readAll(fd, buffer.data(), bufferLength, pos)) {
                bufferLength = 0;
                return false;
            }
        }
        *at = buffer.data() + (pos - bufferStart);
        return true;
    };
    std::uint64_t pos = 0;
    while (size - pos >= kHeaderBytes + 1 + kCrcBytes) {
        const char* at = nullptr;
        if (!window(pos, kHeaderBytes, &at))
            return -1;
        const char type = at[0];
        const std::size_t keyLength = getLe(at + 2, 2);
        const std::uint32_t dataLength = getLe(at + 4, 4);
        if ((type != kPut && type != kRemove) || at[1] != 0 || keyLength == 0 || (type == kRemove && dataLength != 0))
            break;
        const std::uint64_t bytes = recordBytes(keyLength, dataLength);
        if (bytes > size - pos)
            break;
        if (!window(pos, static_cast<std::size_t>(bytes), &at))
            return -1;
        const std::size_t covered = static_cast<std::size_t>(bytes) - kCrcBytes;
        if (crc32(at, covered) != getLe(at + covered, kCrcBytes))
            break;
        onRecord(type, std::string_view(at + kHeaderBytes, keyLength), pos + kHeaderBytes + keyLength, dataLength);
        pos += bytes;
    }
    return static_cast<std::int64_t>(pos);
}

std::string_view stemOf(std::string_view key) {
    const std::size_t dash = key.find('-');
    return dash == std::string_view::npos ? key : key.substr(0, dash + 1);
}

// Runs a callback's body for Paho, which is C: nothing may be thrown across it.
template <typename Body> int guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return MQTTCLIENT_PERSISTENCE_ERROR;
    }
}

} // namespace

MqttJournal::MqttJournal(const QString& folder) : MqttJournal(folder, kTruncateEmptyBytes, kRewriteBytes) {}

MqttJournal::MqttJournal(const QString& folder, std::uint64_t truncateEmptyBytes, std::uint64_t rewriteBytes)
    : m_folder(QDir::cleanPath(folder)), m_filePath(QDir::cleanPath(folder + u'/' + QLatin1String(kFileName))),
      m_truncateEmptyBytes(truncateEmptyBytes), m_rewriteBytes(rewriteBytes) {
    // A file-size limit must fail the write, reported by sync(), instead of killing the whole program.
    std::signal(SIGXFSZ, SIG_IGN);
    m_persistence.context = this;
    m_persistence.popen = &pOpen;
    m_persistence.pclose = &pClose;
    m_persistence.pput = &pPut;
    m_persistence.pget = &pGet;
    m_persistence.premove = &pRemove;
    m_persistence.pkeys = &pKeys;
    m_persistence.pclear = &pClear;
    m_persistence.pcontainskey = &pContainsKey;
    try {
        open();
    } catch (...) {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_folderFd >= 0)
            ::close(m_folderFd);
        throw;
    }
}

MqttJournal::~MqttJournal() {
    ::close(m_fd);
    ::close(m_folderFd);
}

void MqttJournal::open() {
    const std::string folder = QFile::encodeName(m_folder).toStdString();
    if (const int error = makeFolders(folder))
        throw base::TavloException(describe("Cannot make the folder %1 for the MQTT journal: %2", m_folder, error));
    m_folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folderFd < 0)
        throw base::TavloException(describe("Cannot open the folder %1 of the MQTT journal: %2", m_folder, errno));
    // Two writers would each append where they believe the end is and corrupt each other's offsets.
    if (::flock(m_folderFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        throw base::TavloException(
            QStringLiteral("The MQTT journal in %1 is in use by another connection or program.").arg(m_folder));
    // Left by a rewrite that was cut short; the journal itself is still whole.
    ::unlinkat(m_folderFd, kNewFileName, 0);

    m_fd = ::openat(m_folderFd, kFileName, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_fd >= 0)
        m_folderUnsynced = true;
    else if (errno == EEXIST)
        m_fd = ::openat(m_folderFd, kFileName, O_RDWR | O_APPEND | O_CLOEXEC);
    if (m_fd < 0)
        throw base::TavloException(describe("Cannot open the MQTT journal %1: %2", m_filePath, errno));
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && (st.st_mode & 077) != 0)
        ::fchmod(m_fd, 0600);
    replay();
}

void MqttJournal::replay() {
    const std::int64_t end =
        scanRecords(m_fd, [this](char type, std::string_view key, std::uint64_t offset, std::uint32_t length) {
            if (type == kPut) {
                addEntry(key, {offset, length});
            } else if (const auto it = m_index.find(key); it != m_index.end()) {
                dropEntry(it);
            }
        });
    if (end < 0)
        throw base::TavloException(describe("Cannot read the MQTT journal %1: %2", m_filePath, errno));
    struct stat st {};
    ::fstat(m_fd, &st);
    m_size = static_cast<std::uint64_t>(end);
    if (m_size < static_cast<std::uint64_t>(st.st_size)) {
        // A record cut short or damaged by a power failure ends the journal; appends must not follow it.
        if (::ftruncate(m_fd, static_cast<off_t>(m_size)) != 0 || syncFile(m_fd, true) != 0)
            throw base::TavloException(describe("Cannot repair the MQTT journal %1: %2", m_filePath, errno));
    }
    if (m_index.empty() && m_size > 0) {
        if (::ftruncate(m_fd, 0) == 0) {
            m_size = 0;
            m_unsynced = true;
        }
    } else if (m_size > m_truncateEmptyBytes && m_size > 2 * m_liveBytes) {
        rewrite();
    }
}

void MqttJournal::addEntry(std::string_view key, Entry entry) {
    auto it = m_index.find(key);
    if (it != m_index.end()) {
        m_liveBytes -= recordBytes(key.size(), it->second.length);
        it->second = entry;
    } else {
        m_index.emplace(std::string(key), entry);
        const std::string_view stem = stemOf(key);
        auto s = m_stems.find(stem);
        if (s == m_stems.end())
            s = m_stems.emplace(std::string(stem), 0).first;
        ++s->second;
    }
    m_liveBytes += recordBytes(key.size(), entry.length);
}

void MqttJournal::dropEntry(Index::iterator it) {
    m_liveBytes -= recordBytes(it->first.size(), it->second.length);
    const auto s = m_stems.find(stemOf(it->first));
    if (s != m_stems.end() && --s->second == 0)
        m_stems.erase(s);
    m_index.erase(it);
}

bool MqttJournal::append(const std::string& record) {
    if (m_tornTail && !cutTornTail()) {
        rememberFailure("Cannot write the MQTT journal %1: %2", errno);
        return false;
    }
    // One write per record, so that a record is torn only by a failure, never by another thread's record.
    std::size_t written = 0;
    if (!writeAll(m_fd, record.data(), record.size(), &written)) {
        const int error = errno;
        if (written > 0) {
            m_tornTail = true;
            cutTornTail();
        }
        rememberFailure("Cannot write the MQTT journal %1: %2", error);
        return false;
    }
    m_size += record.size();
    m_unsynced = true;
    return true;
}

bool MqttJournal::cutTornTail() {
    if (::ftruncate(m_fd, static_cast<off_t>(m_size)) != 0)
        return false;
    m_tornTail = false;
    return true;
}

void MqttJournal::rememberFailure(const char* pattern, int error) {
    if (m_failure.isEmpty())
        m_failure = describe(pattern, m_filePath, error);
}

bool MqttJournal::readData(const Entry& entry, char* to) const {
    return readAll(m_fd, to, entry.length, entry.offset);
}

void MqttJournal::compact() {
    if (m_index.empty()) {
        // Nothing in the file is live: emptying it is one cheap call, the common case while the broker keeps up.
        // Below the threshold the file is left to grow, so that a steady flow does not truncate per message.
        if (m_size > m_truncateEmptyBytes && ::ftruncate(m_fd, 0) == 0) {
            m_size = 0;
            m_tornTail = false;
            m_unsynced = true;
            m_rewriteRetryAt = 0;
        }
        return;
    }
    if (m_size > m_rewriteBytes && m_size / 4 > m_liveBytes && m_size >= m_rewriteRetryAt && !rewrite())
        m_rewriteRetryAt = m_size + m_size / 2;
}

bool MqttJournal::rewrite() {
    // In file order, so that the new file replays the entries in the order they were put.
    std::vector<Index::iterator> live;
    live.reserve(m_index.size());
    for (auto it = m_index.begin(); it != m_index.end(); ++it)
        live.push_back(it);
    std::sort(live.begin(), live.end(),
              [](const auto& a, const auto& b) { return a->second.offset < b->second.offset; });

    const int fd = ::openat(m_folderFd, kNewFileName, O_RDWR | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    auto fail = [&] {
        ::close(fd);
        ::unlinkat(m_folderFd, kNewFileName, 0);
        return false;
    };
    // The records are copied as they are (their CRCs stay valid), read from the old file a chunk at a time.
    std::vector<std::uint64_t> offsets;
    offsets.reserve(live.size());
    std::string out;
    std::vector<char> window;
    std::uint64_t windowStart = 0;
    std::uint64_t size = 0;
    for (const auto& it : live) {
        const std::uint64_t start = it->second.offset - kHeaderBytes - it->first.size();
        const std::uint64_t bytes = recordBytes(it->first.size(), it->second.length);
        if (window.empty() || start < windowStart || start + bytes > windowStart + window.size()) {
            window.resize(
                static_cast<std::size_t>(std::min(std::max<std::uint64_t>(bytes, kChunkBytes), m_size - start)));
            windowStart = start;
            if (!readAll(m_fd, window.data(), window.size(), start))
                return fail();
        }
        out.append(window.data() + (start - windowStart), static_cast<std::size_t>(bytes));
        offsets.push_back(size + kHeaderBytes + it->first.size());
        size += bytes;
        if (out.size() >= kChunkBytes) {
            if (!writeAll(fd, out.data(), out.size()))
                return fail();
            out.clear();
        }
    }
    // The new file must be on the disk before its name replaces the old one, or a power cut could leave neither.
    if (!writeAll(fd, out.data(), out.size()) || syncFile(fd, false) != 0 ||
        ::renameat(m_folderFd, kNewFileName, m_folderFd, kFileName) != 0)
        return fail();
    ::close(m_fd);
    m_fd = fd;
    for (std::size_t i = 0; i < live.size(); ++i)
        live[i]->second.offset = offsets[i];
    m_size = size;
    m_tornTail = false;
    m_rewriteRetryAt = 0;
    // Without the folder's sync the rename may be lost, and appends to the new file with it; sync() tries again.
    if (syncFile(m_folderFd, false) != 0)
        m_folderUnsynced = true;
    return true;
}

bool MqttJournal::sync(QString* error) {
    int fd = -1;
    bool folder = false;
    QString failure;
    {
        std::lock_guard lock(m_mutex);
        failure = std::exchange(m_failure, QString());
        folder = std::exchange(m_folderUnsynced, false);
        // A duplicate, because a rewrite may replace m_fd meanwhile; it synced the live entries itself.
        if (std::exchange(m_unsynced, false) && (fd = ::dup(m_fd)) < 0) {
            m_unsynced = true;
            if (failure.isEmpty())
                failure = describe("Cannot sync the MQTT journal %1: %2", m_filePath, errno);
        }
    }
    // The disk is waited for without the lock: Paho goes on writing meanwhile.
    if (fd >= 0) {
        if (syncFile(fd, true) != 0) {
            const int e = errno;
            std::lock_guard lock(m_mutex);
            m_unsynced = true;
            if (failure.isEmpty())
                failure = describe("Cannot sync the MQTT journal %1: %2", m_filePath, e);
        }
        ::close(fd);
    }
    if (folder && syncFile(m_folderFd, false) != 0) {
        const int e = errno;
        std::lock_guard lock(m_mutex);
        m_folderUnsynced = true;
        if (failure.isEmpty())
            failure = describe("Cannot sync the folder %1 of the MQTT journal: %2", m_folder, e);
    }
    if (failure.isEmpty())
        return true;
    if (error)
        *error = failure;
    return false;
}

std::size_t MqttJournal::count(std::string_view prefix) const {
    std::lock_guard lock(m_mutex);
    const std::size_t dash = prefix.find('-');
    if (dash == std::string_view::npos || dash + 1 == prefix.size()) {
        // Such a prefix cannot reach past a key's first '-', so the key has it exactly when the key's stem has it.
        std::size_t n = 0;
        for (auto s = m_stems.lower_bound(prefix); s != m_stems.end() && s->first.starts_with(prefix); ++s)
            n += s->second;
        return n;
    }
    return static_cast<std::size_t>(
        std::count_if(m_index.begin(), m_index.end(), [&](const auto& e) { return e.first.starts_with(prefix); }));
}

std::size_t MqttJournal::countIn(const QString& folder, std::string_view prefix) {
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder + u'/' + QLatin1String(kFileName)));
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::unordered_set<std::string> keys;
    const std::int64_t end = scanRecords(fd, [&](char type, std::string_view key, std::uint64_t, std::uint32_t) {
        if (type == kPut)
            keys.emplace(key);
        else
            keys.erase(std::string(key));
    });
    ::close(fd);
    if (end < 0)
        return 0;
    return static_cast<std::size_t>(
        std::count_if(keys.begin(), keys.end(), [&](const std::string& key) { return key.starts_with(prefix); }));
}

int MqttJournal::put(std::string_view key, int bufcount, char* buffers[], int buflens[]) {
    if (key.empty() || key.size() > kMaxKeyBytes || bufcount < 0)
        return MQTTCLIENT_PERSISTENCE_ERROR;
    std::uint64_t length = 0;
    for (int i = 0; i < bufcount; ++i) {
        if (buflens[i] < 0)
            return MQTTCLIENT_PERSISTENCE_ERROR;
        length += static_cast<std::uint64_t>(buflens[i]);
    }
    if (length > kMaxDataBytes)
        return MQTTCLIENT_PERSISTENCE_ERROR;
    // Built before taking the lock: other threads' records need not wait for the copy and the CRC.
    std::string record = startRecord(kPut, key, static_cast<std::uint32_t>(length));
    for (int i = 0; i < bufcount; ++i) {
        if (buflens[i] > 0)
            record.append(buffers[i], static_cast<std::size_t>(buflens[i]));
    }
    finishRecord(record);

    std::lock_guard lock(m_mutex);
    const std::uint64_t offset = m_size + kHeaderBytes + key.size();
    if (!append(record))
        return MQTTCLIENT_PERSISTENCE_ERROR;
    addEntry(key, {offset, static_cast<std::uint32_t>(length)});
    // Paho reuses a key once its counter wraps; the record it replaces is dead.
    compact();
    return 0;
}

int MqttJournal::get(std::string_view key, char** buffer, int* buflen) {
    std::lock_guard lock(m_mutex);
    const auto it = m_index.find(key);
    if (it == m_index.end())
        return MQTTCLIENT_PERSISTENCE_ERROR;
    // Paho frees the buffer itself, through its own heap (which tracks every block it frees and leaves any other
    // alone), so it is allocated there; a zero size could give a null pointer, which it would take for no buffer.
    char* data = static_cast<char*>(MQTTAsync_malloc(std::max<std::size_t>(it->second.length, 1)));
    if (!data)
        return MQTTCLIENT_PERSISTENCE_ERROR;
    if (!readData(it->second, data)) {
        MQTTAsync_free(data);
        return MQTTCLIENT_PERSISTENCE_ERROR;
    }
    *buffer = data;
    *buflen = static_cast<int>(it->second.length);
    return 0;
}

int MqttJournal::remove(std::string_view key, bool tell) {
    std::string data;
    bool written;
    tell = tell && m_observer;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_index.find(key);
        // After an acknowledgement Paho removes every key the message might have had (s-, sc-, s5-, sc5-); most
        // are absent and cost no record.
        if (it == m_index.end())
            return 0;
        if (tell) {
            data.resize(it->second.length);
            if (!readData(it->second, data.data()))
                data.clear();
        }
        std::string record = startRecord(kRemove, key, 0);
        finishRecord(record);
        // Gone for Paho even when the record cannot be written: a replay then brings the entry back, which sends
        // a message twice rather than losing it.
        written = append(record);
        dropEntry(it);
        compact();
    }
    if (tell)
        m_observer(key, data);
    return written ? 0 : MQTTCLIENT_PERSISTENCE_ERROR;
}

bool MqttJournal::keep(std::string_view key, std::string_view data) {
    char* buffers[] = {const_cast<char*>(data.data())};
    int lengths[] = {static_cast<int>(data.size())};
    return put(key, 1, buffers, lengths) == 0;
}

void MqttJournal::discard(std::string_view key) {
    remove(key, false);
}

std::vector<std::pair<std::string, std::string>> MqttJournal::ownEntries() const {
    std::lock_guard lock(m_mutex);
    std::vector<const Index::value_type*> own;
    for (const auto& e : m_index)
        if (std::string_view(e.first).substr(0, kOwnPrefix.size()) == kOwnPrefix)
            own.push_back(&e);
    std::sort(own.begin(), own.end(), [](auto* a, auto* b) { return a->second.offset < b->second.offset; });
    std::vector<std::pair<std::string, std::string>> out;
    out.reserve(own.size());
    for (const auto* e : own) {
        std::string data(e->second.length, '\0');
        if (readData(e->second, data.data()))
            out.emplace_back(e->first, std::move(data));
    }
    return out;
}

int MqttJournal::keys(char*** keys, int* nkeys) {
    // Paho frees the array even when there are no keys, so it must be null then.
    *keys = nullptr;
    *nkeys = 0;
    std::lock_guard lock(m_mutex);
    if (m_index.empty())
        return 0;
    std::vector<const Index::value_type*> live;
    live.reserve(m_index.size());
    for (const auto& e : m_index)
        if (std::string_view(e.first).substr(0, kOwnPrefix.size()) != kOwnPrefix)
            live.push_back(&e);
    if (live.empty())
        return 0;
    std::sort(live.begin(), live.end(), [](auto* a, auto* b) { return a->second.offset < b->second.offset; });
    // Allocated in Paho's heap, which frees them (see get()).
    auto** array = static_cast<char**>(MQTTAsync_malloc(live.size() * sizeof(char*)));
    if (!array)
        return MQTTCLIENT_PERSISTENCE_ERROR;
    for (std::size_t i = 0; i < live.size(); ++i) {
        const std::string& key = live[i]->first;
        array[i] = static_cast<char*>(MQTTAsync_malloc(key.size() + 1));
        if (!array[i]) {
            for (std::size_t j = 0; j < i; ++j)
                MQTTAsync_free(array[j]);
            MQTTAsync_free(array);
            return MQTTCLIENT_PERSISTENCE_ERROR;
        }
        std::memcpy(array[i], key.c_str(), key.size() + 1);
    }
    *keys = array;
    *nkeys = static_cast<int>(live.size());
    return 0;
}

int MqttJournal::clear() {
    std::lock_guard lock(m_mutex);
    if (::ftruncate(m_fd, 0) != 0) {
        rememberFailure("Cannot clear the MQTT journal %1: %2", errno);
        return MQTTCLIENT_PERSISTENCE_ERROR;
    }
    m_index.clear();
    m_stems.clear();
    m_size = 0;
    m_liveBytes = 0;
    m_tornTail = false;
    m_unsynced = true;
    m_rewriteRetryAt = 0;
    return 0;
}

bool MqttJournal::contains(std::string_view key) const {
    std::lock_guard lock(m_mutex);
    return m_index.find(key) != m_index.end();
}

int MqttJournal::pOpen(void** handle, const char*, const char*, void* context) {
    *handle = context;
    return context ? 0 : MQTTCLIENT_PERSISTENCE_ERROR;
}

int MqttJournal::pClose(void*) {
    return 0;
}

int MqttJournal::pPut(void* handle, char* key, int bufcount, char* buffers[], int buflens[]) {
    return guarded([&] { return static_cast<MqttJournal*>(handle)->put(key, bufcount, buffers, buflens); });
}

int MqttJournal::pGet(void* handle, char* key, char** buffer, int* buflen) {
    return guarded([&] { return static_cast<MqttJournal*>(handle)->get(key, buffer, buflen); });
}

int MqttJournal::pRemove(void* handle, char* key) {
    return guarded([&] { return static_cast<MqttJournal*>(handle)->remove(key); });
}

int MqttJournal::pKeys(void* handle, char*** keys, int* nkeys) {
    return guarded([&] { return static_cast<MqttJournal*>(handle)->keys(keys, nkeys); });
}

int MqttJournal::pClear(void* handle) {
    return guarded([&] { return static_cast<MqttJournal*>(handle)->clear(); });
}

int MqttJournal::pContainsKey(void* handle, char* key) {
    return guarded([&] { return static_cast<MqttJournal*>(handle)->contains(key) ? 0 : MQTTCLIENT_PERSISTENCE_ERROR; });
}

} // namespace tavlo::output
