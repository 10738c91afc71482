// How the headless wedge ends: without a keyboard output it never opens the port, and on SIGTERM or SIGINT it
// types what is queued; a second signal ends it after the value under way with 130 or 143.
#include "HeadlessRun.h"
#include "XvfbSession.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

using tavlo::test::readUntil;
using Settings = QList<QPair<QString, QString>>;

namespace {

// Run with and without a chosen backend: neither may crash, type or touch the port.
class NoKeyboard : public ::testing::TestWithParam<const char*> {};

TEST_P(NoKeyboard, HeadlessEndsWithStatusOneBeforeOpeningThePort) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    QTemporaryDir dir;
    const QString settings =
        tavlo::test::writeSettingsFile(dir, {{"instrument", "GENERIC"}, {"inputTerminator", "10"}});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("HOME", dir.path());
    if (*GetParam())
        env.insert("TAVLO_KEYBOARD_BACKEND", GetParam());
    else
        env.remove("TAVLO_KEYBOARD_BACKEND");
    // The failure was a race with the process exit: repeat it.
    for (int round = 0; round < 10; ++round) {
        QProcess tavlo;
        tavlo.setProcessEnvironment(env);
        tavlo.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"), {"--headless", "--settings", settings, name});
        ASSERT_TRUE(tavlo.waitForFinished(20000));
        const QString err = QString::fromUtf8(tavlo.readAllStandardError());
        ASSERT_EQ(tavlo.exitStatus(), QProcess::NormalExit) << "round " << round << ": " << err.toStdString();
        ASSERT_EQ(tavlo.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains("The keyboard output could not be started")) << err.toStdString();
        EXPECT_FALSE(err.contains("Keyboard output started")) << err.toStdString();
        EXPECT_FALSE(err.contains(" opened")) << err.toStdString();
    }
    ::close(slave);
    ::close(master);
}

INSTANTIATE_TEST_SUITE_P(Backends, NoKeyboard, ::testing::Values("", "x11"));

// A terminal under Xvfb receives what tavlo types from a simulated balance that sent kValues records at once.
class QueuedAtSignal : public ::testing::Test {
protected:
    static constexpr int kValues = 40;

    void SetUp() override {
        ASSERT_TRUE(m_x.ok()) << m_x.error();
        m_file = m_x.openTerminal();
        ASSERT_FALSE(m_file.empty()) << m_x.error();
        QStringList values;
        for (int i = 1; i <= kValues; ++i) {
            values << QString::number(i);
            m_expected += std::to_string(i) + ".000\n";
        }
        m_sim.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo-sim"),
                    {"--values", values.join(','), "--count", QString::number(kValues), "--interval", "0", "--format",
                     "ST,%+09.3f g\\r\\n", "--wait-usr1", "--linger", "60000"});
        QByteArray simOut;
        ASSERT_TRUE(readUntil(m_sim, simOut, "\n", false, 10000));
        const QString device = QString::fromLatin1(simOut.left(simOut.indexOf('\n')));
        const QString settings = tavlo::test::writeSettingsFile(
            m_dir,
            {{"instrument", "GENERIC"}, {"inputTerminator", "10"}, {"delay", "8"}, {"outputTerminator", "ENTER"}});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());
        env.insert("DISPLAY", QString::fromStdString(m_x.display()));
        env.insert("TAVLO_KEYBOARD_BACKEND", "x11");
        m_tavlo.setProcessEnvironment(env);
        m_tavlo.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"),
                      {"--headless", "--settings", settings, "--output", "keyboard", device});
        ASSERT_TRUE(readUntil(m_tavlo, m_err, "RTS: ", true, 10000)) << m_err.toStdString();
        ::kill(static_cast<pid_t>(m_sim.processId()), SIGUSR1);
        // Every record has arrived (each has its log line) long before their values are typed.
        QDeadlineTimer deadline(20000);
        while (m_err.count("[typed]") < kValues && !deadline.hasExpired() && m_tavlo.state() == QProcess::Running) {
            m_tavlo.waitForReadyRead(20);
            m_err += m_tavlo.readAllStandardError();
        }
        ASSERT_EQ(m_err.count("[typed]"), kValues) << m_err.toStdString();
    }

    void TearDown() override {
        tavlo::test::stopProcess(m_tavlo);
        tavlo::test::stopProcess(m_sim);
    }

    void finish() {
        ASSERT_TRUE(m_tavlo.waitForFinished(60000));
        m_err += m_tavlo.readAllStandardError();
    }

    tavlo::test::XvfbSession m_x;
    std::string m_file;
    std::string m_expected;
    QTemporaryDir m_dir;
    QProcess m_sim;
    QProcess m_tavlo;
    QByteArray m_err;
};

TEST_F(QueuedAtSignal, OneSignalTypesEveryQueuedValueThenEndsWithZero) {
    ::kill(static_cast<pid_t>(m_tavlo.processId()), SIGTERM);
    finish();
    EXPECT_EQ(m_tavlo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_tavlo.exitCode(), 0) << m_err.toStdString();
    EXPECT_EQ(m_err.count("press Ctrl+C again to stop"), 1) << m_err.toStdString();
    EXPECT_EQ(tavlo::test::XvfbSession::waitForContent(m_file, m_expected.size()), m_expected);
}

class SecondSignal : public QueuedAtSignal, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(SecondSignal, EndsAfterTheValueUnderWayAndCountsTheRest) {
    const auto [signal, status] = GetParam();
    ::kill(static_cast<pid_t>(m_tavlo.processId()), signal);
    ASSERT_TRUE(readUntil(m_tavlo, m_err, "again to stop", true, 10000)) << m_err.toStdString();
    ::kill(static_cast<pid_t>(m_tavlo.processId()), signal);
    finish();
    EXPECT_EQ(m_tavlo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_tavlo.exitCode(), status) << m_err.toStdString();
    const QRegularExpressionMatch notTyped =
        QRegularExpression("(\\d+) queued value\\(s\\) were not typed").match(QString::fromUtf8(m_err));
    ASSERT_TRUE(notTyped.hasMatch()) << m_err.toStdString();
    const int left = notTyped.captured(1).toInt();
    EXPECT_GT(left, 0);
    // Whole values only, in order: the terminal got exactly the values that were not counted as left.
    std::string typed;
    for (int i = 1; i <= kValues - left; ++i)
        typed += std::to_string(i) + ".000\n";
    EXPECT_EQ(tavlo::test::XvfbSession::waitForContent(m_file, typed.size(), 5000), typed);
}

INSTANTIATE_TEST_SUITE_P(Signals, SecondSignal, ::testing::Values(std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}));

// The X server ends while values wait: the loss is reported once, and the run ends after closing its port with
// status 1 and the number of values it did not type.
TEST_F(QueuedAtSignal, TheXServerGoingAwayEndsTheRunWithTheCountNotTyped) {
    ASSERT_FALSE(tavlo::test::XvfbSession::waitForContent(m_file, 6, 20000).empty());
    m_x.killServer();
    finish();
    const QString err = QString::fromUtf8(m_err);
    EXPECT_EQ(m_tavlo.exitStatus(), QProcess::NormalExit) << err.toStdString();
    EXPECT_EQ(m_tavlo.exitCode(), 1) << err.toStdString();
    EXPECT_EQ(err.count("Typing stopped: The connection to the X display"), 1) << err.toStdString();
    const QRegularExpressionMatch notTyped =
        QRegularExpression("ended without its keyboard output; (\\d+) value\\(s\\) were not typed").match(err);
    ASSERT_TRUE(notTyped.hasMatch()) << err.toStdString();
    const int left = notTyped.captured(1).toInt();
    EXPECT_GT(left, 0);
    EXPECT_LT(left, kValues);
    EXPECT_LT(err.indexOf(" Stopped.\n"), err.indexOf("ended without its keyboard")) << err.toStdString();
}

} // namespace

namespace {

// The multi-user edition's shared file, set up by root with mode 600: an ordinary user's headless run says once
// why it cannot use it, names the file, and ends before opening the port.
TEST(SharedSettings, UnreadableForTheUserEndsTheHeadlessRunWithTheReason) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to set up a file another user may not read";
    if (QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "setpriv is missing: cannot run as an unprivileged user";
    QTemporaryDir programData;
    ASSERT_TRUE(programData.isValid());
    ::chmod(programData.path().toLocal8Bit().constData(), 0755);
    const QString folder = programData.filePath("Corvane/TavloQX");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folder + "/prefs.txt";
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("com.corvane.Tavlo.instrument=AND\n");
    f.close();
    ASSERT_EQ(::chmod(file.toLocal8Bit().constData(), 0600), 0);

    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    QProcess tavlo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ProgramData", programData.path());
    env.insert("HOME", programData.path());
    tavlo.setProcessEnvironment(env);
    tavlo.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", TAVLO_BIN_DIR "/tavlo", "-DEDITION=QX",
                            "--headless", "--output", "print", name});
    ASSERT_TRUE(tavlo.waitForFinished(20000));
    const QString err = QString::fromUtf8(tavlo.readAllStandardError());
    EXPECT_EQ(tavlo.exitCode(), 1) << err.toStdString();
    EXPECT_EQ(err.count("access was refused"), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(file)) << err.toStdString();
    EXPECT_FALSE(err.contains(" opened")) << err.toStdString();
    ::close(slave);
    ::close(master);
}

} // namespace
