#include "output/DataLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using tavlo::output::DataLog;
using tavlo::worker::Outcome;
using tavlo::worker::Reading;

namespace {

class Reports {
public:
    DataLog::Reporter reporter() {
        return [this](const QString& text) {
            QMutexLocker lock(&m_mutex);
            m_texts << text;
        };
    }
    QStringList texts() const {
        QMutexLocker lock(&m_mutex);
        return m_texts;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_texts;
};

tavlo::worker::Instant nowInstant() {
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

Reading entry(const QString& value, Outcome outcome = Outcome::Queued, const QString& port = "COM1",
              const QString& instrument = "GENERIC", const QString& raw = {}, const QString& error = {}) {
    Reading r;
    r.time = nowInstant();
    r.port = port;
    r.instrument = instrument;
    r.raw = raw.isNull() ? value + QStringLiteral("\r\n") : raw;
    r.value = value;
    r.outcome = outcome;
    r.error = error;
    return r;
}

// Sets the process's time zone for the scope of a test.
class TimeZone {
public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (m_old)
            ::setenv("TZ", m_old->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

tavlo::worker::Instant utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms) {
    using namespace std::chrono;
    return time_point_cast<nanoseconds>(sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s) +
                                        milliseconds(ms));
}

QStringList linesOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.isEmpty() || text.endsWith(QStringLiteral("\r\n"))) << "a line is cut short";
    QStringList lines = text.split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

class DataLogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const char* name = "log.csv") const { return m_dir.filePath(QLatin1String(name)); }
    QTemporaryDir m_dir;
    Reports m_reports;
};

struct FieldCase {
    const char* text;
    const char* csv;
};

class CsvFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CsvFieldTest, QuotesOnlyWhatRfc4180Needs) {
    EXPECT_EQ(DataLog::csvField(QString::fromUtf8(GetParam().text)), QString::fromUtf8(GetParam().csv));
}

INSTANTIATE_TEST_SUITE_P(Fields, CsvFieldTest,
                         ::testing::Values(FieldCase{"12.34", "12.34"}, FieldCase{"", ""},
                                           FieldCase{"12,34", "\"12,34\""},
                                           FieldCase{"say \"hi\"", "\"say \"\"hi\"\"\""}, FieldCase{"a\nb", "\"a\nb\""},
                                           FieldCase{" 12", "\" 12\""},
                                           FieldCase{"Mettler Toledo \u00b0", "Mettler Toledo \u00b0"}));

TEST(DataLogTime, IsIso8601LocalTimeWithMillisecondsAndTheOffset) {
    {
        const TimeZone east("IST-5:30");
        EXPECT_EQ(tavlo::worker::isoTime(utc(2026, 3, 5, 1, 38, 9, 42)), "2026-03-05T07:08:09.042+05:30");
    }
    {
        const TimeZone west("BRT3");
        EXPECT_EQ(tavlo::worker::isoTime(utc(2027, 1, 1, 2, 59, 59, 999)), "2026-12-31T23:59:59.999-03:00");
    }
    {
        const TimeZone zero("UTC0");
        EXPECT_EQ(tavlo::worker::isoTime(utc(2026, 1, 1, 0, 0, 0, 0)), "2026-01-01T00:00:00.000+00:00");
    }
}

TEST(DataLogName, RotatedFilesCarryTheDateAndACounterBeforeTheSuffix) {
    const QDate day(2026, 12, 9);
    EXPECT_EQ(DataLog::rotatedName("/var/log/scale.csv", day, 1), "/var/log/scale-2026-12-09-1.csv");
    EXPECT_EQ(DataLog::rotatedName("/tmp/a.b.csv", day, 12), "/tmp/a.b-2026-12-09-12.csv");
    EXPECT_EQ(DataLog::rotatedName("/tmp/plain", day, 2), "/tmp/plain-2026-12-09-2");
}

TEST_F(DataLogTest, WritesTheHeaderOnceAndAppendsWithoutTruncating) {
    {
        DataLog log(path(), m_reports.reporter());
        log.append(entry("1", Outcome::Queued, "/dev/ttyUSB0", "AND"));
    }
    {
        DataLog log(path(), m_reports.reporter());
        log.append(entry("2", Outcome::Duplicate, "tcp://10.0.0.5:4001", "AND"));
        log.append(entry("", Outcome::Error, "tcp://10.0.0.5:4001", "AND", "bad\r", "Error [WW]: x, y"));
    }
    const QStringList lines = linesOf(path());
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "time,port,instrument,record,value,outcome");
    EXPECT_TRUE(lines[1].endsWith(",/dev/ttyUSB0,AND,1<13><10>,1,queued")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].endsWith(",tcp://10.0.0.5:4001,AND,2<13><10>,2,duplicate")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].endsWith(",bad<13>,,\"error: Error [WW]: x, y\"")) << lines[3].toStdString();
    EXPECT_TRUE(m_reports.texts().isEmpty());
}

TEST_F(DataLogTest, ALineReachesTheFileWhileTheLogStaysOpen) {
    DataLog log(path(), m_reports.reporter());
    log.append(entry("7"));
    // Written without close(): a log that only wrote at Stop would lose the day's readings in a crash.
    QStringList lines;
    for (int i = 0; i < 1000 && lines.size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines = linesOf(path());
    }
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(",7<13><10>,7,queued"));
}

TEST_F(DataLogTest, AFloodFromTwoThreadsLosesNothingAndKeepsEachThreadsOrderUpToClose) {
    constexpr int kEach = 20000;
    DataLog log(path(), m_reports.reporter());
    const auto writer = [&log](const QString& prefix, Outcome outcome) {
        for (int i = 0; i < kEach; ++i)
            log.append(entry(prefix + QString::number(i), outcome));
    };
    std::thread gui(writer, QStringLiteral("g"), Outcome::Queued);
    std::thread worker(writer, QStringLiteral("w"), Outcome::Error);
    gui.join();
    worker.join();
    log.close();
    log.append(entry("after close")); // dropped, never written to a closed file

    const QStringList lines = linesOf(path());
    ASSERT_EQ(lines.size(), 1 + 2 * kEach);
    int nextG = 0, nextW = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QString value = lines[i].section(u',', 4, 4);
        if (value.startsWith(u'g'))
            EXPECT_EQ(value, QStringLiteral("g%1").arg(nextG++));
        else
            EXPECT_EQ(value, QStringLiteral("w%1").arg(nextW++));
    }
    EXPECT_EQ(nextG, kEach);
    EXPECT_EQ(nextW, kEach);
}

TEST_F(DataLogTest, PastTheSizeLimitTheLogGoesOnInDatedFilesAndKeepsEveryLine) {
    constexpr int kLines = 400;
    {
        DataLog log(path(), m_reports.reporter(), false, 4096);
        for (int i = 0; i < kLines; ++i) {
            log.append(entry(QString::number(i)));
            if (i % 50 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5)); // several batches
        }
    }
    QStringList files = QDir(m_dir.path()).entryList({"log*.csv"}, QDir::Files, QDir::Name);
    ASSERT_GT(files.size(), 2) << files.join(' ').toStdString();
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    QStringList values;
    // The first file, then the counters in order.
    QStringList ordered{"log.csv"};
    for (int n = 1; n < files.size(); ++n)
        ordered << QStringLiteral("log-%1-%2.csv").arg(today).arg(n);
    for (const QString& name : ordered) {
        ASSERT_TRUE(files.contains(name)) << name.toStdString();
        const QStringList lines = linesOf(m_dir.filePath(name));
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines[0], "time,port,instrument,record,value,outcome") << name.toStdString();
        for (int i = 1; i < lines.size(); ++i)
            values << lines[i].section(u',', 4, 4);
    }
    ASSERT_EQ(values.size(), kLines);
    for (int i = 0; i < kLines; ++i)
        EXPECT_EQ(values[i], QString::number(i));
    EXPECT_TRUE(m_reports.texts().isEmpty());
}

TEST_F(DataLogTest, AFileThatCannotBeOpenedIsReportedOnceAndAppendingGoesOn) {
    const QString missing = m_dir.filePath("no/such/folder/log.csv");
    DataLog log(missing, m_reports.reporter());
    for (int i = 0; i < 100; ++i)
        log.append(entry(QString::number(i)));
    log.close();
    const QStringList reports = m_reports.texts();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains(missing)) << reports[0].toStdString();
    EXPECT_TRUE(reports[0].contains("No such file or directory")) << reports[0].toStdString();
}

TEST_F(DataLogTest, AFileSizeLimitStopsTheLogAtAWholeLineWithOneReportAndTheProcessLives) {
    // The limit applies to the whole process, so the log runs in a child process of its own.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{3000, 3000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        Reports reports;
        {
            DataLog log(path(), reports.reporter());
            for (int i = 0; i < 500; ++i)
                log.append(entry(QString::number(i)));
        }
        const QStringList texts = reports.texts();
        _exit(texts.size() == 1 && texts[0].contains("File too large") ? 0 : 10 + static_cast<int>(texts.size()));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const QStringList lines = linesOf(path());
    EXPECT_GT(lines.size(), 10);
    EXPECT_LE(QFileInfo(path()).size(), 3000);
    for (int i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].section(u',', 4, 4), QString::number(i - 1));
}

TEST_F(DataLogTest, TheSharedEditionCreatesTheFileGroupWritable) {
    const mode_t old = ::umask(022);
    {
        DataLog log(path(), m_reports.reporter(), true);
        log.append(entry("1"));
    }
    {
        DataLog log(path("private.csv"), m_reports.reporter(), false);
        log.append(entry("1"));
    }
    ::umask(old);
    struct stat shared {};
    struct stat own {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &shared), 0);
    ASSERT_EQ(::stat(QFile::encodeName(path("private.csv")).constData(), &own), 0);
    EXPECT_TRUE(shared.st_mode & S_IWGRP);
    EXPECT_FALSE(own.st_mode & S_IWGRP);
}

} // namespace
