#include "output/MqttJournal.h"

#include "base/Exceptions.h"

#include <MQTTAsync.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using tavlo::output::MqttJournal;
using Keys = std::vector<std::string>;

namespace {

constexpr std::uint64_t kNever = std::uint64_t(1) << 40;

// Calls the journal exactly as Paho does: one handle from popen, keys as C strings, data in several buffers, and
// every buffer and key array it gets back released with MQTTAsync_free(), as Paho does. Paho calls the journal
// only while a client of its exists, and its allocator keeps track of buffers only then: an idle client stands
// for the one that would own the journal.
class Paho {
public:
    explicit Paho(MqttJournal& journal) : m_p(journal.persistence()) {
        EXPECT_EQ(
            MQTTAsync_create(&m_client, "tcp://127.0.0.1:1", "journal-test", MQTTCLIENT_PERSISTENCE_NONE, nullptr),
            MQTTASYNC_SUCCESS);
        EXPECT_EQ(m_p->popen(&m_handle, "station-1", "tcp://localhost:1883", m_p->context), 0);
    }
    ~Paho() { MQTTAsync_destroy(&m_client); }
    Paho(const Paho&) = delete;
    Paho& operator=(const Paho&) = delete;
    int putParts(std::string key, std::vector<std::string> parts) {
        std::vector<char*> buffers;
        std::vector<int> lengths;
        for (std::string& part : parts) {
            buffers.push_back(part.data());
            lengths.push_back(static_cast<int>(part.size()));
        }
        return m_p->pput(m_handle, key.data(), static_cast<int>(parts.size()), buffers.data(), lengths.data());
    }
    int put(const std::string& key, const std::string& data) { return putParts(key, {data}); }
    std::optional<std::string> get(std::string key) {
        char* buffer = nullptr;
        int length = -1;
        if (m_p->pget(m_handle, key.data(), &buffer, &length) != 0)
            return std::nullopt;
        std::string data(buffer, static_cast<std::size_t>(length));
        MQTTAsync_free(buffer);
        return data;
    }
    int remove(std::string key) { return m_p->premove(m_handle, key.data()); }
    int contains(std::string key) { return m_p->pcontainskey(m_handle, key.data()); }
    Keys keys() {
        char** keys = reinterpret_cast<char**>(&m_handle); // anything but null, to see it set
        int n = -1;
        EXPECT_EQ(m_p->pkeys(m_handle, &keys, &n), 0);
        Keys result;
        for (int i = 0; i < n; ++i) {
            result.emplace_back(keys[i]);
            MQTTAsync_free(keys[i]);
        }
        // Paho frees the array whatever the number of keys.
        EXPECT_TRUE(n > 0 || keys == nullptr);
        MQTTAsync_free(keys);
        return result;
    }
    MQTTClient_persistence* operator->() const { return m_p; }
    void* handle() const { return m_handle; }

private:
    MQTTAsync m_client = nullptr;
    MQTTClient_persistence* m_p;
    void* m_handle = nullptr;
};

std::uint64_t fileSize(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

unsigned modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

std::string data(int i, std::size_t size = 40) {
    std::string d(size, '\0');
    for (std::size_t k = 0; k < size; ++k)
        d[k] = static_cast<char>((i * 31 + static_cast<int>(k)) & 0xFF);
    return d;
}

void cutTo(const QString& path, std::uint64_t size) {
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), static_cast<off_t>(size)), 0);
}

void flipByte(const QString& path, std::uint64_t at) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
    char c = 0;
    ASSERT_EQ(::pread(fd, &c, 1, static_cast<off_t>(at)), 1);
    c = static_cast<char>(c ^ 0x20);
    ASSERT_EQ(::pwrite(fd, &c, 1, static_cast<off_t>(at)), 1);
    ::close(fd);
}

class MqttJournalTest : public ::testing::Test {
protected:
    QTemporaryDir m_dir;
    QString folder() const { return m_dir.filePath(QStringLiteral("mqtt/station-1")); }
};

TEST_F(MqttJournalTest, CallbacksStoreReadAndRemoveAsPahoExpectsAndReopenKeepsThem) {
    const std::string binary("\0\x01\xff\r\n", 5);
    {
        MqttJournal journal(folder());
        Paho paho(journal);
        EXPECT_EQ(modeOf(folder()), 0700u);
        EXPECT_EQ(modeOf(journal.filePath()), 0600u);
        EXPECT_TRUE(paho.keys().empty());

        // Zero bytes and empty pieces are data too.
        EXPECT_EQ(paho.putParts("c-1", {"head", "", binary, "tail"}), 0);
        EXPECT_EQ(paho.putParts("s-7", {}), 0);
        EXPECT_EQ(paho.put("c-2", "second"), 0);
        EXPECT_EQ(paho.put("c-3", "third"), 0);
        EXPECT_EQ(paho.get("c-1"), "head" + binary + "tail");
        EXPECT_EQ(paho.get("s-7"), "");
        EXPECT_EQ(paho.get("c-4"), std::nullopt);
        EXPECT_EQ(paho.contains("c-2"), 0);
        EXPECT_EQ(paho.contains("c-4"), MQTTCLIENT_PERSISTENCE_ERROR);

        // A key put again (Paho's counters wrap) holds the new data and moves behind the others.
        EXPECT_EQ(paho.put("c-2", "again"), 0);
        EXPECT_EQ(paho.get("c-2"), "again");
        EXPECT_EQ(paho.keys(), (Keys{"c-1", "s-7", "c-3", "c-2"}));

        // After an acknowledgement Paho also removes keys that were never stored.
        EXPECT_EQ(paho.remove("sc-7"), 0);
        EXPECT_EQ(paho.remove("s-7"), 0);
        EXPECT_EQ(paho.contains("s-7"), MQTTCLIENT_PERSISTENCE_ERROR);
        EXPECT_EQ(paho->pclose(paho.handle()), 0);
    }
    {
        MqttJournal journal(folder());
        Paho paho(journal);
        EXPECT_EQ(paho.keys(), (Keys{"c-1", "c-3", "c-2"}));
        EXPECT_EQ(paho.get("c-1"), "head" + binary + "tail");
        EXPECT_EQ(paho.get("c-2"), "again");
        EXPECT_EQ(paho->pclear(paho.handle()), 0);
        EXPECT_TRUE(paho.keys().empty());
        EXPECT_EQ(paho.put("c-9", "after clear"), 0);
        EXPECT_TRUE(journal.sync());
    }
    MqttJournal reopened(folder());
    EXPECT_EQ(Paho(reopened).keys(), Keys{"c-9"});
}

TEST_F(MqttJournalTest, DamagedLastRecordEndsReplayAndLaterAppendsReplay) {
    // Ways a power cut or a bad sector leaves the last record (c-3): cut to, or one byte flipped at, an offset
    // from its start (from its end when negative).
    struct Damage {
        const char* name;
        bool flip;
        int at;
    };
    for (const auto& [name, flip, at] : {Damage{"last byte missing", false, -1}, Damage{"cut in the header", false, 3},
                                         Damage{"data byte flipped", true, 12}, Damage{"length byte flipped", true, 4},
                                         Damage{"CRC byte flipped", true, -2}}) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal"));
        std::uint64_t start = 0;
        {
            MqttJournal journal(dir.path());
            Paho paho(journal);
            ASSERT_EQ(paho.put("c-1", data(1)), 0);
            ASSERT_EQ(paho.put("c-2", data(2)), 0);
            start = fileSize(path);
            ASSERT_EQ(paho.put("c-3", data(3)), 0);
        }
        const std::uint64_t offset = at < 0 ? fileSize(path) - static_cast<std::uint64_t>(-at) : start + at;
        if (flip)
            flipByte(path, offset);
        else
            cutTo(path, offset);
        {
            MqttJournal journal(dir.path());
            Paho paho(journal);
            EXPECT_EQ(paho.keys(), (Keys{"c-1", "c-2"}));
            EXPECT_EQ(fileSize(path), start);
            ASSERT_EQ(paho.put("c-4", data(4)), 0);
        }
        MqttJournal journal(dir.path());
        Paho paho(journal);
        EXPECT_EQ(paho.keys(), (Keys{"c-1", "c-2", "c-4"}));
        EXPECT_EQ(paho.get("c-4"), data(4));
    }

    // A lost removal brings its entry back: sent twice rather than never.
    {
        MqttJournal journal(folder());
        Paho paho(journal);
        ASSERT_EQ(paho.put("s-1", "in flight"), 0);
        ASSERT_EQ(paho.remove("s-1"), 0);
    }
    cutTo(folder() + "/journal", fileSize(folder() + "/journal") - 1);
    MqttJournal journal(folder());
    EXPECT_EQ(Paho(journal).get("s-1"), "in flight");
}

TEST_F(MqttJournalTest, CompactionKeepsLiveEntries) {
    const auto churn = [](Paho& paho, int from, int to) {
        for (int i = from; i < to; ++i) {
            ASSERT_EQ(paho.put("c-" + std::to_string(i), data(i, 100)), 0);
            ASSERT_EQ(paho.remove("c-" + std::to_string(i)), 0);
        }
    };
    const auto check = [&](MqttJournal& journal, const Keys& keys) {
        Paho paho(journal);
        EXPECT_EQ(paho.keys(), keys);
        for (std::size_t i = 0; i < keys.size(); ++i)
            EXPECT_EQ(paho.get(keys[i]), data(static_cast<int>(i), 300));
        EXPECT_FALSE(QFile::exists(folder() + "/journal.new"));
        EXPECT_EQ(modeOf(journal.filePath()), 0600u);
    };
    {
        // Emptied once nothing is live, and only then.
        MqttJournal journal(folder(), 2048, kNever);
        Paho paho(journal);
        ASSERT_EQ(paho.put("s-0", data(0, 300)), 0);
        churn(paho, 0, 40);
        EXPECT_GT(fileSize(journal.filePath()), 2048u);
        ASSERT_EQ(paho.remove("s-0"), 0);
        EXPECT_EQ(fileSize(journal.filePath()), 0u);
    }
    const Keys kept{"s-1", "s-2", "s-3"};
    {
        // Rewritten while running, the live entries spread between dead ones.
        MqttJournal journal(folder(), kNever, 16384);
        Paho paho(journal);
        ASSERT_EQ(paho.put("s-1", data(0, 300)), 0);
        churn(paho, 0, 500);
        ASSERT_EQ(paho.put("s-2", data(1, 300)), 0);
        churn(paho, 500, 1000);
        ASSERT_EQ(paho.put("s-3", data(2, 300)), 0);
        churn(paho, 1000, 1100);
        // Without rewrites the file would hold over 200 KB of dead records.
        EXPECT_LT(fileSize(journal.filePath()), 16384u + 200);
        check(journal, kept);
    }
    // At open, a journal of mostly dead records is rewritten.
    const std::uint64_t before = fileSize(folder() + "/journal");
    MqttJournal atOpen(folder(), 1024, kNever);
    EXPECT_LT(fileSize(atOpen.filePath()), before / 2);
    check(atOpen, kept);
}

TEST_F(MqttJournalTest, CountsByPrefixHereAndInAnotherFolder) {
    EXPECT_EQ(MqttJournal::countIn(folder(), "c-"), 0u);
    MqttJournal journal(folder());
    Paho paho(journal);
    for (const char* key : {"c-1", "c-2", "c-10", "s-1", "sc-1", "c5-1", "q-1"})
        ASSERT_EQ(paho.put(key, "x"), 0);
    ASSERT_EQ(paho.remove("c-2"), 0);
    for (const bool here : {true, false}) {
        const auto count = [&](std::string_view p) {
            return here ? journal.count(p) : MqttJournal::countIn(folder(), p);
        };
        EXPECT_EQ(count("c-"), 2u);
        EXPECT_EQ(count("s-"), 1u);
        EXPECT_EQ(count("c"), 3u);
        EXPECT_EQ(count("c-1"), 2u);
        EXPECT_EQ(count(""), 6u);
    }
    // countIn reads a damaged journal as far as it is whole and leaves the file alone.
    ASSERT_EQ(paho.put("c-20", "torn"), 0);
    const std::uint64_t size = fileSize(journal.filePath());
    cutTo(journal.filePath(), size - 1);
    EXPECT_EQ(MqttJournal::countIn(folder(), "c-"), 2u);
    EXPECT_EQ(fileSize(journal.filePath()), size - 1);
}

TEST_F(MqttJournalTest, RemoveObserverGetsKeyAndDataOutsideTheLock) {
    MqttJournal journal(folder());
    using Seen = std::tuple<std::string, std::string, std::size_t>;
    std::vector<Seen> seen;
    journal.setRemoveObserver([&](std::string_view key, std::string_view data) {
        // Asking the journal from here would deadlock if it held its lock.
        seen.emplace_back(std::string(key), std::string(data), journal.count("c-"));
    });
    Paho paho(journal);
    ASSERT_EQ(paho.putParts("c-1", {"pay", "load"}), 0);
    ASSERT_EQ(paho.put("c-2", "two"), 0);
    ASSERT_EQ(paho.put("c-2", "two again"), 0);
    ASSERT_EQ(paho.remove("c-3"), 0);
    ASSERT_EQ(paho.remove("c-2"), 0);
    ASSERT_EQ(paho.remove("c-1"), 0);
    EXPECT_EQ(seen, (std::vector<Seen>{{"c-2", "two again", 1}, {"c-1", "payload", 0}}));
}

TEST_F(MqttJournalTest, TheOwnersEntriesSurviveAReopenButTheClientNeverSeesThem) {
    {
        MqttJournal journal(folder());
        std::vector<std::string> told;
        journal.setRemoveObserver([&](std::string_view key, std::string_view) { told.emplace_back(key); });
        Paho paho(journal);
        ASSERT_EQ(paho.put("s-7", data(7)), 0);
        ASSERT_TRUE(journal.keep("t-2", data(2)));
        ASSERT_TRUE(journal.keep("t-10", data(10)));
        ASSERT_TRUE(journal.keep("t-3", data(3)));
        journal.discard("t-3");
        // The client's restore would take the owner's entries for messages of its own.
        EXPECT_EQ(paho.keys(), Keys{"s-7"});
        EXPECT_EQ(journal.count(MqttJournal::kOwnPrefix), 2u);
        EXPECT_TRUE(told.empty()) << "the owner's own removals are not reported back to it";
        ASSERT_TRUE(journal.sync());
    }
    MqttJournal again(folder());
    const auto own = again.ownEntries();
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[0], (std::pair<std::string, std::string>{"t-2", data(2)})) << "oldest first";
    EXPECT_EQ(own[1], (std::pair<std::string, std::string>{"t-10", data(10)}));
    EXPECT_EQ(Paho(again).keys(), Keys{"s-7"});
}

TEST_F(MqttJournalTest, ConcurrentPutsRemovesAndSyncsStayConsistent) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1500;
    // Small thresholds, so that emptying and rewriting happen among the other threads' calls.
    MqttJournal journal(folder(), 8192, 65536);
    std::atomic<int> removed{0};
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    journal.setRemoveObserver([&](std::string_view, std::string_view) { ++removed; });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Paho paho(journal);
            for (int n = t * kPerThread; n < (t + 1) * kPerThread; ++n) {
                const std::string key = "c-" + std::to_string(n);
                const std::string tail = data(n + 1, static_cast<std::size_t>(n % 200));
                if (paho.putParts(key, {data(n, 20), tail}) != 0 || paho.get(key) != data(n, 20) + tail ||
                    (n % 10 != 0 && paho.remove(key) != 0))
                    ++failures;
            }
        });
    }
    std::thread syncer([&] {
        while (!done)
            failures += journal.sync() ? 0 : 1;
    });
    for (auto& t : threads)
        t.join();
    done = true;
    syncer.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(journal.count("c-"), std::size_t(kThreads * kPerThread / 10));
    EXPECT_EQ(removed.load(), kThreads * kPerThread * 9 / 10);
    EXPECT_EQ(MqttJournal::countIn(folder(), "c-"), journal.count("c-"));
}

// In a child process, so that the file-size limit cannot touch the test's own output. The number tells which
// step went wrong.
int writeBeyondTheFileSizeLimit(const QString& folder) {
    MqttJournal journal(folder);
    Paho paho(journal);
    if (paho.put("c-1", data(1)) != 0 || paho.put("c-2", data(2)) != 0 || !journal.sync())
        return 1;
    const std::uint64_t size = fileSize(journal.filePath());
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    // Room for part of the next record: its write is cut short, then refused.
    rlimit limit = old;
    limit.rlim_cur = size + 10;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return 2;
    if (paho.put("c-3", data(3, 100)) != MQTTCLIENT_PERSISTENCE_ERROR)
        return 3;
    if (fileSize(journal.filePath()) != size || journal.count("c-") != 2 || paho.get("c-3"))
        return 4;
    QString error;
    if (journal.sync(&error) || !error.contains(journal.filePath()) || !error.contains(std::strerror(EFBIG)))
        return 5;
    // Reported once.
    if (!journal.sync())
        return 6;
    if (::setrlimit(RLIMIT_FSIZE, &old) != 0 || paho.put("c-4", data(4)) != 0 || !journal.sync())
        return 7;
    return 0;
}

TEST_F(MqttJournalTest, WriteFailureIsReportedByPutAndSyncAndLeavesNoTornRecord) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(writeBeyondTheFileSizeLimit(folder()));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    MqttJournal journal(folder());
    Paho paho(journal);
    EXPECT_EQ(paho.keys(), (Keys{"c-1", "c-2", "c-4"}));
    EXPECT_EQ(paho.get("c-4"), data(4));
}

TEST_F(MqttJournalTest, RefusesWhatItCannotUseWithThePath) {
    const auto failure = [](const QString& folder) {
        try {
            MqttJournal journal(folder);
        } catch (const tavlo::base::TavloException& e) {
            return e.message();
        }
        return QString();
    };
    QFile file(m_dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString underFile = file.fileName() + QStringLiteral("/mqtt");
    EXPECT_TRUE(failure(underFile).contains(underFile)) << failure(underFile).toStdString();
    EXPECT_TRUE(failure(underFile).contains(QString::fromLocal8Bit(std::strerror(ENOTDIR))));

    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("dir/journal"))));
    const QString dirJournal = failure(m_dir.filePath(QStringLiteral("dir")));
    EXPECT_TRUE(dirJournal.contains(m_dir.filePath(QStringLiteral("dir/journal")))) << dirJournal.toStdString();
    EXPECT_TRUE(dirJournal.contains(QString::fromLocal8Bit(std::strerror(EISDIR))));

    // A second writer would corrupt the first one's journal.
    MqttJournal first(folder());
    EXPECT_TRUE(failure(folder()).contains(folder())) << failure(folder()).toStdString();
}

} // namespace
