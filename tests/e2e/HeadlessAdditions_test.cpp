// Stable values only, the data log and network instruments, end to end: tavlo --headless against tavlo-sim
// on a pseudo-terminal or a TCP port.
#include "HeadlessRun.h"

#include "../fakes/QtTestApp.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <gtest/gtest.h>

using tavlo::test::readUntil;
using tavlo::test::runHeadless;
using Settings = QList<QPair<QString, QString>>;

namespace {

Settings profile(const char* instrument, Settings more = {}) {
    Settings s{{"instrument", instrument}, {"inputTerminator", "10"}, {"delay", "0"}};
    return s + more;
}

// A port on the loopback address that nobody listens on.
int closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

struct StableCase {
    const char* instrument;
};

class HeadlessStableOnly : public ::testing::TestWithParam<StableCase> {};

// Two unstable records before each stable one, as a balance sends them while the load settles: --count
// counts every framed record, and only the stable values are typed.
TEST_P(HeadlessStableOnly, OnlyStableValuesAreTyped) {
    const char* instrument = GetParam().instrument;
    const QStringList sim{"--instrument", instrument, "--values", "12.34,5.5", "--unstable", "2", "--interval", "5"};
    const auto on = runHeadless(profile(instrument, {{"stableOnly", "true"}}), sim, 6);
    ASSERT_TRUE(on.finished) << on.err.toStdString();
    EXPECT_EQ(on.exitCode, 0) << on.err.toStdString();
    const QStringList typed = on.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(typed.size(), 2) << on.out.toStdString();
    EXPECT_EQ(typed[0].toDouble(), 12.34);
    EXPECT_EQ(typed[1].toDouble(), 5.5);
    EXPECT_EQ(on.err.count("(unstable)"), 4) << on.err.toStdString();

    // Without the setting every record is typed, as before.
    const auto off = runHeadless(profile(instrument), sim, 6);
    EXPECT_EQ(off.out.split('\n', Qt::SkipEmptyParts).size(), 6) << off.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Profiles, HeadlessStableOnly,
                         ::testing::Values(StableCase{"AND"}, StableCase{"METTLER_PRINT"}, StableCase{"KERN_572"},
                                           StableCase{"SARTORIUS"}));

TEST(HeadlessNetwork, ValuesFromATcpInstrumentAreTyped) {
    const auto r = runHeadless(profile("AND"), {"--tcp", "0", "--instrument", "AND", "--values", "1.5,-2.25,3"}, 3);
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts), QStringList({"1.50", "-2.25", "3.00"})) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Connected to tcp://127.0.0.1:")) << r.err.toStdString();
    // Neither the serial settings nor the handshake apply to a socket.
    EXPECT_FALSE(r.err.contains("RTS:"));
    EXPECT_FALSE(r.err.contains("bit/s"));
}

TEST(HeadlessNetwork, AnInstrumentRestartedMidRunIsReconnected) {
    QProcess first;
    first.start(TAVLO_BIN_DIR "/tavlo-sim", {"--tcp", "0", "--values", "1", "--count", "1", "--linger", "0"});
    QByteArray firstOut;
    ASSERT_TRUE(readUntil(first, firstOut, "\n", false, 10000));
    const QString address = QString::fromLatin1(firstOut.left(firstOut.indexOf('\n')));
    const QString port = address.section(':', -1);

    QTemporaryDir home;
    QProcess tavlo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    tavlo.setProcessEnvironment(env);
    const QString settings = home.filePath("settings.xml");
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(tavlo::test::settingsExport(profile("GENERIC")));
    file.close();
    tavlo.start(TAVLO_BIN_DIR "/tavlo", {"--headless", "--settings", settings, "--output", "print", address});
    QByteArray out, err;
    ASSERT_TRUE(readUntil(tavlo, out, "1\n", false, 10000)) << tavlo.readAllStandardError().toStdString();
    // The first instrument ends and closes the connection: the port is lost.
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(readUntil(tavlo, err, "failed while reading", true, 10000)) << err.toStdString();

    QProcess second;
    second.start(TAVLO_BIN_DIR "/tavlo-sim", {"--tcp", port, "--values", "2", "--count", "1"});
    ASSERT_TRUE(readUntil(tavlo, err, "is back and reopened", true, 15000)) << err.toStdString();
    ASSERT_TRUE(readUntil(tavlo, out, "2\n", false, 10000)) << err.toStdString();
    tavlo::test::stopProcess(tavlo, 10000);
    tavlo::test::stopProcess(second, 10000);
    err += tavlo.readAllStandardError();
    EXPECT_EQ(tavlo.exitCode(), 0) << err.toStdString();
    EXPECT_EQ(err.count("failed while reading"), 1) << err.toStdString();
    EXPECT_EQ(QString::fromLatin1(out), "1\n2\n");
}

struct UnreachableCase {
    const char* name;
    QString address;
    const char* reason;
};

void PrintTo(const UnreachableCase& c, std::ostream* os) {
    *os << c.name;
}

class HeadlessUnreachable : public ::testing::TestWithParam<UnreachableCase> {};

TEST_P(HeadlessUnreachable, IsAPortThatCannotBeOpenedWithTheSystemsReason) {
    QTemporaryDir home;
    const QString settings = home.filePath("settings.xml");
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(tavlo::test::settingsExport(profile("GENERIC")));
    file.close();
    QProcess tavlo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    tavlo.setProcessEnvironment(env);
    tavlo.start(TAVLO_BIN_DIR "/tavlo",
                {"--headless", "--settings", settings, "--output", "print", GetParam().address});
    ASSERT_TRUE(tavlo.waitForFinished(30000));
    const QString err = QString::fromUtf8(tavlo.readAllStandardError());
    EXPECT_EQ(tavlo.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("Cannot connect to " + GetParam().address + ": " + GetParam().reason))
        << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Addresses, HeadlessUnreachable,
                         ::testing::Values(UnreachableCase{"refused",
                                                           QStringLiteral("tcp://127.0.0.1:%1").arg(closedPort()),
                                                           "Connection refused"},
                                           UnreachableCase{"unresolvable", "tcp://no-such-host.invalid:4001", ""}));

// The data log under a flood, ended by SIGTERM: one line per record, in order, read back by Python's csv module.
TEST(HeadlessDataLog, AFloodEndedBySigtermIsLoggedWholeAndParsesAsCsv) {
    constexpr int kRecords = 3000;
    QTemporaryDir dir;
    const QString log = dir.filePath("audit log.csv");
    QStringList values;
    for (int i = 1; i <= 30; ++i)
        values << QString::number(i);
    // The same value in a row and a record without a value give the other outcomes.
    const auto r = runHeadless(profile("AND", {{"stableOnly", "true"}, {"ignoreDuplicates", "true"}}),
                               {"--instrument", "AND", "--values", values.join(','), "--unstable", "1", "--interval",
                                "0", "--count", QString::number(kRecords)},
                               std::nullopt, {"--data-log", log});
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Data log: " + log));

    QProcess python;
    python.start("python3", {"-c", R"(
import csv, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f))
print(len(rows))
print('|'.join(rows[0]))
widths = set(len(r) for r in rows)
print(len(widths), widths.pop())
print(' '.join(r[5] for r in rows[1:]))
print(' '.join(r[4] for r in rows[1:]))
print(rows[1][0], rows[1][1], rows[1][2], rows[1][3])
)",
                             log});
    ASSERT_TRUE(python.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split('\n');
    ASSERT_GE(lines.size(), 6) << python.readAllStandardError().toStdString();
    // Records framed before SIGTERM are all logged: the header, then one row per record the program printed
    // or held back, never fewer than the values it typed.
    const int rows = lines[0].toInt() - 1;
    const int typed = r.out.split('\n', Qt::SkipEmptyParts).size();
    EXPECT_EQ(lines[1], "time|port|instrument|record|value|outcome");
    EXPECT_EQ(lines[2], "1 6");
    const QStringList outcomes = lines[3].split(' ');
    ASSERT_EQ(outcomes.size(), rows);
    EXPECT_EQ(outcomes.count("queued"), typed);
    // Unstable and stable records alternate, and the simulator sent them in order.
    for (int i = 0; i < rows; ++i)
        EXPECT_EQ(outcomes[i], i % 2 == 0 ? "unstable" : "queued") << i;
    const QStringList logged = lines[4].split(' ');
    for (int i = 0; i < rows; ++i)
        EXPECT_EQ(logged[i].toDouble(), (i / 2) % 30 + 1) << i;
    EXPECT_GE(rows, 2 * 100); // SIGTERM comes only after the simulator has sent every record
    EXPECT_TRUE(
        QRegularExpression(
            R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d /dev/pts/\d+ AND US,\+00001\.00  g<13><10>$)")
            .match(lines[5])
            .hasMatch())
        << lines[5].toStdString();
}

} // namespace
