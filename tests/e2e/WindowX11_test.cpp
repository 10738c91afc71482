// The program as a user runs it: the window on a private X server, tavlo-sim as the instrument and an xterm
// as the application that receives the values. Start and Stop are pressed with the keyboard, the window is
// closed the way a window manager's close button does it, and the settings must then be on disk.
#include "HeadlessRun.h"
#include "XvfbSession.h"

#include "../fakes/QtTestApp.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using tavlo::test::XvfbSession;

namespace {

QString readLine(QProcess& p, int ms) {
    QDeadlineTimer deadline(ms);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(20);
        out += p.readAllStandardOutput();
    }
    return QString::fromLatin1(out.left(out.indexOf('\n')));
}

// The settings file that the program wrote under the configuration folder, or empty.
QString storedSettings(const QString& configHome) {
    QDirIterator it(configHome, {QStringLiteral("*.conf")}, QDir::Files, QDirIterator::Subdirectories);
    QString all;
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            all += QString::fromUtf8(file.readAll());
    }
    return all;
}

TEST(WindowUnderX11, StartTypesIntoTheFocusedApplicationStopEndsItAndClosingSaves) {
    XvfbSession x;
    ASSERT_TRUE(x.ok()) << x.error();
    // Raw, so that each key reaches the file at once: the default settings end a value with no key at all.
    const std::string typed = x.openTerminal("stty raw -echo; cat > \"$OUT\"");
    ASSERT_FALSE(typed.empty()) << x.error();
    const unsigned long terminal = x.terminalWindow();

    QProcess sim;
    sim.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo-sim"),
              {"--values", "1.25,12.5", "--format", "%s\\r", "--interval", "200", "--wait-usr1", "--linger", "60000"});
    const QString device = readLine(sim, 10000);
    ASSERT_TRUE(device.startsWith(QLatin1String("/dev/"))) << device.toStdString();

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(x.display()));
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    // A runtime folder of its own, so that a Tavlo window that runs elsewhere does not take this start.
    QDir(home.path()).mkdir("run");
    QFile::setPermissions(home.filePath("run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert("XDG_RUNTIME_DIR", home.filePath("run"));
    env.remove("QT_QPA_PLATFORM");
    QProcess tavlo;
    tavlo.setProcessEnvironment(env);
    tavlo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    tavlo.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"), {device});
    const unsigned long window = x.findWindow("Corvane Tavlo", 30000);
    ASSERT_NE(window, 0u) << "no window titled \"Corvane Tavlo\"";
    std::printf("window_shown_after_ms: %lld\n", static_cast<long long>(clock.elapsed()));

    // Start has the focus on the Start tab: space in the window presses it (and later Stop); then the terminal
    // takes the focus back, settleMs after the press.
    const auto pressStartStop = [&](int settleMs) {
        x.focus(window);
        QThread::msleep(200);
        x.pressKey("space");
        QThread::msleep(settleMs);
        x.focus(terminal);
    };
    QThread::msleep(500);
    pressStartStop(1000);
    QThread::msleep(200);
    ::kill(static_cast<pid_t>(sim.processId()), SIGUSR1);
    // Records sent before the port was open are gone; the stream goes on, so a whole pair comes all the same.
    const std::string first = XvfbSession::waitForContent(typed, 24, 20000);
    ASSERT_NE(first.find("1.2512.5"), std::string::npos) << first;

    // Stop: whatever arrives while the window has the focus lands harmlessly there; after that, nothing more.
    pressStartStop(800);
    QThread::msleep(700);
    const size_t afterStop = XvfbSession::waitForContent(typed, 0, 0).size();
    QThread::msleep(1500);
    EXPECT_EQ(XvfbSession::waitForContent(typed, 0, 0).size(), afterStop) << "values typed after Stop";

    x.requestClose(window);
    ASSERT_TRUE(tavlo.waitForFinished(20000));
    EXPECT_EQ(tavlo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tavlo.exitCode(), 0);
    EXPECT_TRUE(storedSettings(home.filePath("config")).contains(device))
        << storedSettings(home.filePath("config")).toStdString();
    tavlo::test::stopProcess(tavlo);
    tavlo::test::stopProcess(sim);
}

} // namespace
