// One window per user, as a user meets it on a private X server: a second start brings the running window
// forward instead of opening another one, tavlo --send hands commands to it (their bytes arrive on a
// pseudo-terminal), the hotkey pressed from outside brings a reading into the application in front, a socket
// left by a killed window blocks nothing, and in the multi-user edition another user's start is refused.
#include "HeadlessRun.h"
#include "XvfbSession.h"

#include "../fakes/QtTestApp.h"
#include "config/Instrument.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using tavlo::test::XvfbSession;
using H = tavlo::config::ConfigHelper;
using tavlo::config::InstrumentCommand;

namespace {

constexpr InstrumentCommand kCommands[] = {InstrumentCommand::Request, InstrumentCommand::Tare,
                                           InstrumentCommand::Zero};

// A pseudo-terminal pair: the program opens the slave as its port, the test reads what it sends on the master.
class Pty {
public:
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        // The slave stays open here too, so that the master never reads a hang-up between two runs.
        m_slave = slave;
        m_name = QString::fromLocal8Bit(name);
    }
    ~Pty() {
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }
    const QString& name() const { return m_name; }
    // What arrives within timeoutMs, up to `size` bytes.
    QByteArray read(qsizetype size, int timeoutMs = 10000) {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (got.size() < size && !deadline.hasExpired()) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
                char buffer[256];
                const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, n);
            }
        }
        return got;
    }
    void drain() { read(1 << 20, 200); }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_name;
};

struct Ran {
    int status = -1;
    QString err;
};

// One user's desktop session: a home, a private runtime folder, the X server; the window and the command-line
// runs of tavlo in it.
class Session {
public:
    explicit Session(XvfbSession& x) : m_x(x) {
        ::chmod(QFile::encodeName(m_home.path()).constData(), 0700);
        QDir(m_home.path()).mkpath("run");
        ::chmod(QFile::encodeName(m_home.filePath("run")).constData(), 0700);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", QString::fromStdString(x.display()));
        env.insert("HOME", m_home.path());
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", m_home.filePath("run"));
        for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
            env.remove(name);
    }
    ~Session() {
        for (auto& window : m_windows)
            tavlo::test::stopProcess(*window);
    }

    Ran run(const QStringList& args, int timeoutMs = 60000) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"), args);
        Ran ran;
        if (!p.waitForFinished(timeoutMs)) {
            tavlo::test::stopProcess(p);
            ran.err = "did not end: " + args.join(' ');
            return ran;
        }
        ran.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        ran.err = QString::fromLocal8Bit(p.readAllStandardError());
        return ran;
    }
    bool importSettings(const QList<QPair<QString, QString>>& entries) {
        const QString file = tavlo::test::writeSettingsFile(m_home, entries);
        return run({"--import-settings", file}).status == 0;
    }
    // Starts the window and waits until it is on screen; its X window, or 0.
    unsigned long startWindow(const QStringList& args, const char* title = "Corvane Tavlo") {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"), args);
        m_windows.push_back(std::move(p));
        return m_x.findWindow(title, 30000);
    }
    QProcess& window() { return *m_windows.back(); }
    // Closes the window as a window manager does and waits for the program's end; its exit status.
    int closeWindow(unsigned long xWindow) {
        m_x.requestClose(xWindow);
        QProcess& p = window();
        if (!p.waitForFinished(20000))
            return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    // The settings the program wrote under the configuration folder.
    QString stored() const {
        QDirIterator it(m_home.filePath("config"), {QStringLiteral("*.conf")}, QDir::Files,
                        QDirIterator::Subdirectories);
        QString all;
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                all += QString::fromUtf8(file.readAll());
        }
        return all;
    }
    QString socketPath() const { return m_home.filePath("run/tavlo-window.socket"); }

    QProcessEnvironment env;

private:
    XvfbSession& m_x;
    QTemporaryDir m_home;
    std::vector<std::unique_ptr<QProcess>> m_windows;
};

TEST(OneWindowPerUser, ASecondStartBringsTheWindowForwardKeepsItsPortAndTheSettingsSurvive) {
    XvfbSession x;
    ASSERT_TRUE(x.ok()) << x.error();
    Session user(x);
    Pty pty;
    ASSERT_TRUE(user.importSettings({{"instrument", "MITUTOYO"}, {"delay", "55"}}));
    const unsigned long window = user.startWindow({pty.name()});
    ASSERT_NE(window, 0u);
    const QString before = user.stored();

    const Ran withPort = user.run({"/dev/ttyS9"});
    EXPECT_EQ(withPort.status, 0) << withPort.err.toStdString();
    EXPECT_TRUE(withPort.err.contains("keeps its port " + pty.name())) << withPort.err.toStdString();
    EXPECT_TRUE(withPort.err.contains("/dev/ttyS9 is not used")) << withPort.err.toStdString();
    const Ran plain = user.run({});
    EXPECT_EQ(plain.status, 0) << plain.err.toStdString();
    EXPECT_FALSE(plain.err.contains("tavlo:")) << plain.err.toStdString();
    EXPECT_EQ(x.countWindows("Corvane Tavlo"), 1);
    // The later starts wrote nothing: only the running window saves, when it closes.
    EXPECT_EQ(user.stored(), before);

    // The window still reads its own port.
    EXPECT_EQ(user.run({"--send", "start"}).status, 0);
    EXPECT_EQ(user.run({"--send", "request"}).status, 0);
    EXPECT_EQ(pty.read(2), QByteArray("1\r"));

    EXPECT_EQ(user.closeWindow(window), 0);
    const QString after = user.stored();
    EXPECT_TRUE(after.contains("delay=55")) << after.toStdString();
    EXPECT_TRUE(after.contains(pty.name())) << after.toStdString();
    EXPECT_FALSE(after.contains("ttyS9")) << after.toStdString();
}

TEST(OneWindowPerUser, SendHandsCommandsToTheWindowAndSaysWhyWhenItCannot) {
    XvfbSession x;
    ASSERT_TRUE(x.ok()) << x.error();
    Session user(x);
    Pty pty;
    const auto* mitutoyo = H::Instrument::valueOf(QStringLiteral("MITUTOYO"));
    ASSERT_TRUE(user.importSettings({{"instrument", "MITUTOYO"}}));

    Ran ran = user.run({"--send", "request"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.contains("no Tavlo window is open")) << ran.err.toStdString();

    const unsigned long window = user.startWindow({pty.name()});
    ASSERT_NE(window, 0u);
    ran = user.run({"--send", "request"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.contains("Press Start first")) << ran.err.toStdString();
    EXPECT_EQ(user.run({"--send", "start"}).status, 0);
    pty.drain();
    EXPECT_EQ(user.run({"--send", "request"}).status, 0);
    EXPECT_EQ(pty.read(2), mitutoyo->getCommand(InstrumentCommand::Request));
    for (InstrumentCommand command : {InstrumentCommand::Tare, InstrumentCommand::Zero}) {
        ran = user.run({"--send", tavlo::config::commandName(command)});
        if (mitutoyo->hasCommand(command)) {
            EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
            EXPECT_EQ(pty.read(mitutoyo->getCommand(command).size()), mitutoyo->getCommand(command));
        } else {
            EXPECT_EQ(ran.status, 1);
            EXPECT_TRUE(ran.err.contains("has no " + tavlo::config::commandName(command) + " command"))
                << ran.err.toStdString();
        }
    }
    EXPECT_EQ(user.run({"--send", "stop"}).status, 0);
    EXPECT_EQ(user.run({"--send", "request"}).status, 1);

    // Killed, the window leaves its socket behind; that neither answers nor blocks the next window.
    ::kill(static_cast<pid_t>(user.window().processId()), SIGKILL);
    ASSERT_TRUE(user.window().waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(user.socketPath()));
    ran = user.run({"--send", "request"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.contains("no Tavlo window is open")) << ran.err.toStdString();
    QThread::msleep(300); // the killed window's X window goes from the screen
    const unsigned long next = user.startWindow({pty.name()});
    ASSERT_NE(next, 0u);
    EXPECT_EQ(user.run({"--send", "start"}).status, 0);
    pty.drain();
    EXPECT_EQ(user.run({"--send", "request"}).status, 0);
    EXPECT_EQ(pty.read(2), QByteArray("1\r"));
    EXPECT_EQ(user.closeWindow(next), 0);
}

// Every command that a profile's maker documents arrives on the port byte for byte. The A&D profiles with
// handshaking ask the user about their lines first, which a pseudo-terminal does not have; "A&D (no
// handshaking)" has the same commands.
TEST(OneWindowPerUser, EveryProfilesCommandsReachThePortFromSend) {
    XvfbSession x;
    ASSERT_TRUE(x.ok()) << x.error();
    int checked = 0;
    for (const H::Instrument* instrument : H::Instrument::constants()) {
        if (instrument == &H::Instrument::AND || instrument == &H::Instrument::AND_EM)
            continue;
        bool any = false;
        for (InstrumentCommand command : kCommands)
            any = any || instrument->hasCommand(command);
        if (!any)
            continue;
        Session user(x);
        Pty pty;
        ASSERT_TRUE(user.importSettings({{"instrument", QString::fromLatin1(instrument->nameLatin1())}}));
        const unsigned long window = user.startWindow({pty.name()});
        ASSERT_NE(window, 0u) << instrument->nameLatin1();
        const Ran started = user.run({"--send", "start"});
        ASSERT_EQ(started.status, 0) << instrument->nameLatin1() << ' ' << started.err.toStdString();
        pty.drain();
        for (InstrumentCommand command : kCommands) {
            if (!instrument->hasCommand(command))
                continue;
            const QByteArray bytes = instrument->getCommand(command);
            const Ran sent = user.run({"--send", tavlo::config::commandName(command)});
            EXPECT_EQ(sent.status, 0) << instrument->nameLatin1() << ' ' << sent.err.toStdString();
            EXPECT_EQ(pty.read(bytes.size()), bytes)
                << instrument->nameLatin1() << ' ' << tavlo::config::commandName(command).toStdString();
            ++checked;
        }
        EXPECT_EQ(user.closeWindow(window), 0);
    }
    std::printf("profile_commands_checked: %d\n", checked);
    EXPECT_GE(checked, 1);
}

TEST(OneWindowPerUser, TheHotkeyPressedFromOutsideBringsAReadingIntoTheApplicationInFront) {
    XvfbSession x;
    ASSERT_TRUE(x.ok()) << x.error();
    const std::string typed = x.openTerminal("stty raw -echo; cat > \"$OUT\"");
    ASSERT_FALSE(typed.empty()) << x.error();
    const unsigned long terminal = x.terminalWindow();

    // The instrument answers each request with one record.
    QProcess sim;
    sim.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo-sim"),
              {"--instrument", "MITUTOYO", "--values", "12.5", "--request", "1\\r", "--linger", "60000"});
    QByteArray simOut;
    ASSERT_TRUE(tavlo::test::readUntil(sim, simOut, "\n", false, 10000));
    const QString device = QString::fromLatin1(simOut.left(simOut.indexOf('\n')));

    Session user(x);
    ASSERT_TRUE(user.importSettings({{"instrument", "MITUTOYO"}, {"requestHotkey", "Ctrl+Alt+W"}}));
    const unsigned long window = user.startWindow({device});
    ASSERT_NE(window, 0u);
    // Started, the window holds the hotkey; the user works in the terminal.
    ASSERT_EQ(user.run({"--send", "start"}).status, 0);
    x.focus(terminal);
    QThread::msleep(200);
    // What one reading types: the simulator's record through the profile, as the self-test shows it.
    const std::string value = "12.5000";
    // Ctrl and Alt let go before W: until W is up, keys would go to the grab that its press began.
    EXPECT_EQ(x.run({"xdotool", "keydown", "ctrl+alt+w"}), 0);
    EXPECT_EQ(x.run({"xdotool", "keyup", "ctrl+alt"}), 0);
    QThread::msleep(300);
    EXPECT_EQ(x.run({"xdotool", "keyup", "w"}), 0);
    EXPECT_EQ(XvfbSession::waitForContent(typed, value.size(), 20000), value);
    // With Caps Lock or Num Lock on, the grab's variants take the same combination.
    for (const char* lock : {"Caps_Lock", "Num_Lock"}) {
        const size_t before = XvfbSession::waitForContent(typed, 0, 0).size();
        EXPECT_EQ(x.run({"xdotool", "key", lock}), 0);
        EXPECT_EQ(x.run({"xdotool", "key", "ctrl+alt+w"}), 0);
        EXPECT_EQ(XvfbSession::waitForContent(typed, before + value.size(), 20000).substr(before), value) << lock;
        EXPECT_EQ(x.run({"xdotool", "key", lock}), 0);
    }

    // Stopped, the window lets the combination go: it reaches the terminal (Ctrl+Alt+W is a byte there).
    const size_t typedWhileRunning = XvfbSession::waitForContent(typed, 0, 0).size();
    EXPECT_EQ(typedWhileRunning, 3 * value.size());
    EXPECT_EQ(user.run({"--send", "stop"}).status, 0);
    EXPECT_EQ(x.run({"xdotool", "key", "ctrl+alt+w"}), 0);
    const std::string last = XvfbSession::waitForContent(typed, typedWhileRunning + 1, 10000);
    EXPECT_EQ(last.substr(typedWhileRunning).find("12.5"), std::string::npos)
        << QByteArray::fromStdString(last).toPercentEncoding().constData();
    EXPECT_GT(last.size(), typedWhileRunning);
    EXPECT_EQ(user.closeWindow(window), 0);
    tavlo::test::stopProcess(sim);
}

TEST(OneWindowPerComputer, TheMultiUserEditionRefusesAnotherUsersStartAndNamesThem) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a window as another user";
    XvfbSession x;
    ASSERT_TRUE(x.ok()) << x.error();
    QTemporaryDir shared;
    const QString folder = shared.filePath("Corvane/TavloQX");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString& path : {shared.path(), shared.filePath("Corvane"), folder})
        ::chmod(QFile::encodeName(path).constData(), 0777);

    // The other user: nobody, with a home of its own.
    QTemporaryDir otherHome;
    QDir(otherHome.path()).mkdir("run");
    for (const QString& path : {otherHome.path(), otherHome.filePath("run")}) {
        ::chown(QFile::encodeName(path).constData(), 65534, 65534);
        ::chmod(QFile::encodeName(path).constData(), 0700);
    }
    QProcessEnvironment otherEnv;
    otherEnv.insert("DISPLAY", QString::fromStdString(x.display()));
    otherEnv.insert("HOME", otherHome.path());
    otherEnv.insert("XDG_RUNTIME_DIR", otherHome.filePath("run"));
    otherEnv.insert("ProgramData", shared.path());
    otherEnv.insert("PATH", qEnvironmentVariable("PATH"));
    QProcess other;
    other.setProcessEnvironment(otherEnv);
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", TAVLO_BIN_DIR "/tavlo", "-DEDITION=QX",
                            "/dev/ttyS0"});
    const unsigned long otherWindow = x.findWindow("Corvane Tavlo QX", 30000);
    ASSERT_NE(otherWindow, 0u);

    Session me(x);
    me.env.insert("ProgramData", shared.path());
    QProcess mine;
    mine.setProcessEnvironment(me.env);
    mine.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"), {"-DEDITION=QX", "/dev/ttyS1"});
    // Started from a menu, the user would see no standard error: the refusal is also a message on screen.
    const unsigned long box = x.findWindow("Tavlo QX is in use", 30000);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(x.countWindows("Corvane Tavlo QX"), 1);
    x.focus(box);
    QThread::msleep(200);
    x.pressKey("Return");
    ASSERT_TRUE(mine.waitForFinished(20000));
    EXPECT_EQ(mine.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(mine.readAllStandardError());
    EXPECT_TRUE(err.contains("the user nobody")) << err.toStdString();

    // Once the other user's window has closed, this user's start opens the window.
    x.requestClose(otherWindow);
    ASSERT_TRUE(other.waitForFinished(20000));
    EXPECT_EQ(other.exitCode(), 0);
    QThread::msleep(300);
    const unsigned long window = me.startWindow({"-DEDITION=QX", "/dev/ttyS1"}, "Corvane Tavlo QX");
    ASSERT_NE(window, 0u);
    EXPECT_EQ(me.closeWindow(window), 0);
    tavlo::test::stopProcess(other);
}

} // namespace
