#pragma once

#include <MQTTClientPersistence.h>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tavlo::output {

// The persistence of the MQTT client's buffered and in-flight messages: every entry of one client goes into one
// append-only journal file, record by record (put or remove, each with a CRC-32), so that a message costs a few
// appends instead of a file of its own, and one sync makes everything written so far durable. Only the place of
// each live entry is kept in memory; its data is read back from the file. Replay at open stops at the first torn
// record (a write cut short by a power failure) and cuts the file there. The file is emptied or rewritten when
// dead records dominate it.
class MqttJournal {
public:
    // A journal without live entries is emptied once it is larger than this.
    static constexpr std::uint64_t kTruncateEmptyBytes = 4ULL * 1024 * 1024;
    // A journal larger than this and more than four times its live entries is rewritten with the live ones.
    static constexpr std::uint64_t kRewriteBytes = 64ULL * 1024 * 1024;
    static constexpr const char* kFileName = "journal";

    // Opens the journal file "journal" in folder (the folder is made, mode 0700, if missing), replays it, and
    // throws base::TavloException with the path and the system's reason when it cannot. One journal per folder:
    // a folder whose journal is open elsewhere (this process included) is refused.
    explicit MqttJournal(const QString& folder);
    // The same with other compaction thresholds (tests).
    MqttJournal(const QString& folder, std::uint64_t truncateEmptyBytes, std::uint64_t rewriteBytes);
    ~MqttJournal();
    MqttJournal(const MqttJournal&) = delete;
    MqttJournal& operator=(const MqttJournal&) = delete;

    // The callbacks to hand to MQTTAsync_createWithOptions(..., MQTTCLIENT_PERSISTENCE_USER, persistence(), ...).
    // popen ignores the client id and server URI (the caller chose the folder); context is this object, which
    // must outlive the client.
    MQTTClient_persistence* persistence() { return &m_persistence; }

    // Makes every entry written so far durable (fdatasync of the journal; fsync of the folder after the file was
    // created or replaced). False, with the path and the system's reason in *error, when the disk refused a
    // write since the last sync (reported by this one sync only) or refuses the sync itself.
    bool sync(QString* error = nullptr);

    // Entries stored now whose key starts with prefix (Paho's keys: "c-" buffered commands, "s-" sent and not
    // yet acknowledged, "sc-" ..., and "c5-", "s5-" ... for MQTT 5).
    std::size_t count(std::string_view prefix) const;

    // Told of every entry removed through premove, with the removed entry's data, on the thread that removes it
    // (Paho's threads or the caller of MQTTAsync_sendMessage), under no lock of the journal. Set before Paho uses it.
    using RemoveObserver = std::function<void(std::string_view key, std::string_view data)>;
    void setRemoveObserver(RemoveObserver observer) { m_observer = std::move(observer); }

    // Entries of the journal's owner beside the client's: kept and synced like the client's, but never listed to
    // the client (its restore would take them for its own) and removed without telling the observer.
    static constexpr std::string_view kOwnPrefix = "t-";
    // Stores an entry of the owner (a key with kOwnPrefix); false when the disk refused it (remembered for sync).
    bool keep(std::string_view key, std::string_view data);
    void discard(std::string_view key);
    // The owner's entries, oldest first.
    std::vector<std::pair<std::string, std::string>> ownEntries() const;

    // Reads the journal of another folder without changing it: the number of entries with the prefix (0 when
    // there is no journal or it cannot be read). For reporting backlogs left for another broker.
    static std::size_t countIn(const QString& folder, std::string_view prefix);

    // The journal file's full path.
    QString filePath() const { return m_filePath; }

private:
    // Where the data of a live entry lies in the file.
    struct Entry {
        std::uint64_t offset;
        std::uint32_t length;
    };
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
    };
    using Index = std::unordered_map<std::string, Entry, KeyHash, std::equal_to<>>;

    static int pOpen(void** handle, const char* clientId, const char* serverUri, void* context);
    static int pClose(void* handle);
    static int pPut(void* handle, char* key, int bufcount, char* buffers[], int buflens[]);
    static int pGet(void* handle, char* key, char** buffer, int* buflen);
    static int pRemove(void* handle, char* key);
    static int pKeys(void* handle, char*** keys, int* nkeys);
    static int pClear(void* handle);
    static int pContainsKey(void* handle, char* key);

    int put(std::string_view key, int bufcount, char* buffers[], int buflens[]);
    int get(std::string_view key, char** buffer, int* buflen);
    int remove(std::string_view key, bool tell = true);
    int keys(char*** keys, int* nkeys);
    int clear();
    bool contains(std::string_view key) const;

    void open();
    void replay();
    // Appends one record; false (remembered for sync) when the disk refuses it. Mutex held.
    bool append(const std::string& record);
    // Removes what a failed append left of its record, so that later appends follow a whole record. Mutex held.
    bool cutTornTail();
    void addEntry(std::string_view key, Entry entry);
    void dropEntry(Index::iterator it);
    // Empties or rewrites the file when dead records dominate it. Mutex held.
    void compact();
    bool rewrite();
    bool readData(const Entry& entry, char* to) const;
    void rememberFailure(const char* what, int error);
    QString failureText(const char* what, int error) const;

    const QString m_folder;
    const QString m_filePath;
    const std::uint64_t m_truncateEmptyBytes;
    const std::uint64_t m_rewriteBytes;
    MQTTClient_persistence m_persistence{};
    RemoveObserver m_observer;

    mutable std::mutex m_mutex;
    int m_fd = -1;
    int m_folderFd = -1;
    Index m_index;
    // Live entries per key stem (the key up to its first '-'), so that count() need not walk the index.
    std::map<std::string, std::size_t, std::less<>> m_stems;
    std::uint64_t m_size = 0;
    std::uint64_t m_liveBytes = 0;
    // A failed rewrite is tried again only once the file has grown by half.
    std::uint64_t m_rewriteRetryAt = 0;
    bool m_unsynced = false;
    bool m_folderUnsynced = false;
    bool m_tornTail = false;
    // The first write failure since the last sync, reported by the next one.
    QString m_failure;
};

} // namespace tavlo::output
