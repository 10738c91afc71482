// One window per user: the local socket of the running window, a later start that finds it, a socket or lock
// left by a run that crashed, the multi-user lock, and requests that are not Tavlo's.
#include "../../fakes/QtTestApp.h"
#include "tavlo/util/WindowInstance.h"
#include "tavlo/util/instance/UserSession.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using tavlo::test::processEventsUntil;
using tavlo::util::WindowInstance;

namespace {

void restoreEnvironment(const char* name, const QByteArray& saved) {
    if (saved.isNull())
        qunsetenv(name);
    else
        qputenv(name, saved);
}

class WindowInstanceTest : public ::testing::Test {
protected:
    WindowInstance::Location location(bool machineLock = false) const {
        WindowInstance::Location l;
        l.socket = m_dir.filePath(QStringLiteral("tavlo-window.socket"));
        l.startLock = m_dir.filePath(QStringLiteral("tavlo-window.lock"));
        if (machineLock)
            l.machineLock = m_dir.filePath(QStringLiteral("prefs.txt.lock"));
        return l;
    }

    // Asks from another thread while this one serves the running window's socket.
    static WindowInstance::Answer askServed(const QString& socket, const QString& command,
                                            const QString& argument = QString()) {
        WindowInstance::Answer answer;
        std::atomic<bool> done{false};
        std::thread asker([&] {
            answer = WindowInstance::ask(socket, command, argument, 10000);
            done = true;
        });
        processEventsUntil([&] { return done.load(); }, 20000);
        asker.join();
        return answer;
    }

    // A later start on another thread, while this one serves the running window.
    static WindowInstance::Claim claimServed(const WindowInstance::Location& where, const QString& port) {
        WindowInstance::Claim claim;
        std::atomic<bool> done{false};
        std::thread starter([&] {
            WindowInstance later(where);
            claim = later.claim(port);
            done = true;
        });
        processEventsUntil([&] { return done.load(); }, 30000);
        starter.join();
        return claim;
    }

    QTemporaryDir m_dir;
};

TEST_F(WindowInstanceTest, ALaterStartFindsTheRunningWindowAndHandsItsPortOver) {
    WindowInstance first(location());
    ASSERT_EQ(first.claim(QStringLiteral("/dev/ttyUSB0")).outcome, WindowInstance::Outcome::Own);
    QStringList seen;
    first.setHandler([&](const QString& command, const QString& argument, const WindowInstance::Reply& reply) {
        seen.append(command + u' ' + argument);
        reply(true, QStringLiteral("/dev/ttyUSB0"));
    });

    const WindowInstance::Claim later = claimServed(location(), QStringLiteral("COM7"));
    EXPECT_EQ(later.outcome, WindowInstance::Outcome::Forwarded);
    EXPECT_EQ(later.text, "/dev/ttyUSB0");
    EXPECT_EQ(seen, QStringList{"show COM7"});

    // Only the user can reach the socket.
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(location().socket).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u) << std::oct << info.st_mode;
}

TEST_F(WindowInstanceTest, ASocketLeftByACrashedRunNeverBlocksAStart) {
    // A bound socket whose process is gone: the file stays, nobody listens.
    const QByteArray path = QFile::encodeName(location().socket);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(location().socket));
    EXPECT_FALSE(WindowInstance::ask(location().socket, QStringLiteral("show"), QString(), 1000).reached);

    WindowInstance window(location());
    const WindowInstance::Claim claim = window.claim(std::nullopt);
    EXPECT_EQ(claim.outcome, WindowInstance::Outcome::Own);
    EXPECT_TRUE(claim.warning.isEmpty()) << claim.warning.toStdString();
    window.setHandler([](const QString&, const QString&, const WindowInstance::Reply& reply) { reply(true, "up"); });
    const WindowInstance::Answer answer = askServed(location().socket, QStringLiteral("request"));
    EXPECT_TRUE(answer.replied);
    EXPECT_EQ(answer.text, "up");
}

TEST_F(WindowInstanceTest, EarlyRequestsWaitForTheWindowAndRequestsThatAreNotTavlosAreRefused) {
    WindowInstance window(location());
    ASSERT_EQ(window.claim(std::nullopt).outcome, WindowInstance::Outcome::Own);
    // A request that comes while the window is still being built waits for it.
    WindowInstance::Answer early;
    std::atomic<bool> earlyDone{false};
    std::thread earlyAsker([&] {
        early = WindowInstance::ask(location().socket, QStringLiteral("show"), QStringLiteral("COM3"), 10000);
        earlyDone = true;
    });
    tavlo::test::drainEvents(300);
    EXPECT_FALSE(earlyDone.load());
    int handled = 0;
    QStringList seen;
    window.setHandler([&](const QString& command, const QString& argument, const WindowInstance::Reply& reply) {
        ++handled;
        seen.append(command + u' ' + argument);
        reply(true, QString());
    });
    processEventsUntil([&] { return earlyDone.load(); }, 20000);
    earlyAsker.join();
    EXPECT_TRUE(early.ok);
    EXPECT_EQ(seen, QStringList{"show COM3"});
    handled = 0;
    // A line past the limit is not read to its end, and nothing is carried out.
    const WindowInstance::Answer flood = askServed(location().socket, QStringLiteral("request"), QString(8000, u'x'));
    EXPECT_TRUE(flood.reached);
    EXPECT_FALSE(flood.replied);
    // Not JSON at all.
    std::atomic<bool> done{false};
    QByteArray raw;
    std::thread asker([&] {
        QLocalSocket socket;
        socket.connectToServer(location().socket);
        if (socket.waitForConnected(3000)) {
            socket.write("hello\n");
            socket.flush();
            while (socket.waitForReadyRead(5000))
                raw += socket.readAll();
        }
        done = true;
    });
    processEventsUntil([&] { return done.load(); }, 20000);
    asker.join();
    EXPECT_TRUE(raw.contains("\"ok\":false")) << raw.constData();
    EXPECT_EQ(handled, 0);
    // The window still answers, until it goes.
    EXPECT_TRUE(askServed(location().socket, QStringLiteral("tare")).ok);
    EXPECT_EQ(handled, 1);
    window.setHandler({});
    const WindowInstance::Answer closing = askServed(location().socket, QStringLiteral("tare"));
    EXPECT_TRUE(closing.replied);
    EXPECT_FALSE(closing.ok);
    EXPECT_EQ(handled, 1);
}

TEST_F(WindowInstanceTest, TheMultiUserLockKeepsASecondWindowOutUntilTheFirstEnds) {
    auto first = std::make_unique<WindowInstance>(location(true));
    ASSERT_EQ(first->claim(std::nullopt).outcome, WindowInstance::Outcome::Own);
    ASSERT_TRUE(QFile::exists(location(true).machineLock));

    // A start that does not reach the first window's socket (another user's folder) meets the lock.
    WindowInstance::Location elsewhere = location(true);
    elsewhere.socket = m_dir.filePath(QStringLiteral("other.socket"));
    elsewhere.startLock = m_dir.filePath(QStringLiteral("other.lock"));
    {
        WindowInstance second(elsewhere);
        const WindowInstance::Claim refused = second.claim(std::nullopt);
        EXPECT_EQ(refused.outcome, WindowInstance::Outcome::Refused);
        EXPECT_TRUE(refused.text.contains(QStringLiteral("process %1").arg(::getpid()))) << refused.text.toStdString();
        EXPECT_TRUE(refused.text.contains("for you")) << refused.text.toStdString();
    }
    if (::geteuid() == 0) {
        // The owner of the lock file is the user whose window holds it.
        ASSERT_EQ(::chown(QFile::encodeName(location(true).machineLock).constData(), 65534, 65534), 0);
        WindowInstance second(elsewhere);
        const WindowInstance::Claim refused = second.claim(std::nullopt);
        EXPECT_EQ(refused.outcome, WindowInstance::Outcome::Refused);
        EXPECT_TRUE(refused.text.contains(
            QStringLiteral("the user %1").arg(tavlo::util::fileOwner(location(true).machineLock))))
            << refused.text.toStdString();
        EXPECT_FALSE(refused.text.contains("for you"));
    }
    first.reset();
    EXPECT_FALSE(QFile::exists(location(true).machineLock));
    WindowInstance third(elsewhere);
    EXPECT_EQ(third.claim(std::nullopt).outcome, WindowInstance::Outcome::Own);
}

TEST_F(WindowInstanceTest, ALockLeftByACrashedRunIsTakenOver) {
    // The lock file of a process that no longer exists.
    pid_t gone = 999999;
    while (::kill(gone, 0) == 0 || errno != ESRCH)
        --gone;
    QFile stale(location(true).machineLock);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(gone) + "\ntavlo\n" + QHostInfo::localHostName().toUtf8() + "\n");
    stale.close();
    WindowInstance window(location(true));
    const WindowInstance::Claim claim = window.claim(std::nullopt);
    EXPECT_EQ(claim.outcome, WindowInstance::Outcome::Own) << claim.text.toStdString();
    QFile taken(location(true).machineLock);
    ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
    EXPECT_EQ(taken.readLine().trimmed(), QByteArray::number(::getpid()));
}

TEST_F(WindowInstanceTest, ThePrivateFolderRefusesAPlaceThatAnotherUserOwns) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a folder of another user";
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray tmp = qgetenv("TMPDIR");
    // $XDG_RUNTIME_DIR of somebody else is passed over; the folder in the temporary folder is used instead.
    const QString foreign = m_dir.filePath(QStringLiteral("foreign"));
    ASSERT_TRUE(QDir().mkdir(foreign));
    ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
    ::chmod(QFile::encodeName(foreign).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(foreign));
    qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    QString error;
    const QString own = tavlo::util::privateFolder(&error);
    EXPECT_EQ(own, m_dir.filePath(QStringLiteral("tavlo-0"))) << error.toStdString();
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(own).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // That folder made in advance by another user (or a link to somewhere else) is refused.
    ASSERT_TRUE(QDir(own).removeRecursively());
    ASSERT_TRUE(QDir().mkdir(own));
    ASSERT_EQ(::chown(QFile::encodeName(own).constData(), 65534, 65534), 0);
    EXPECT_TRUE(tavlo::util::privateFolder(&error).isEmpty());
    EXPECT_TRUE(error.contains(own)) << error.toStdString();
    ASSERT_TRUE(QDir(own).removeRecursively());
    ASSERT_TRUE(QFile::link(foreign, own));
    EXPECT_TRUE(tavlo::util::privateFolder(&error).isEmpty());
    EXPECT_FALSE(WindowInstance::forThisUser(&error).has_value());

    // A folder of ours that others may enter is narrowed.
    QFile::remove(own);
    ASSERT_TRUE(QDir().mkdir(own));
    ::chmod(QFile::encodeName(own).constData(), 0777);
    EXPECT_EQ(tavlo::util::privateFolder(&error), own) << error.toStdString();
    ASSERT_EQ(::lstat(QFile::encodeName(own).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    restoreEnvironment("XDG_RUNTIME_DIR", runtime);
    restoreEnvironment("TMPDIR", tmp);
}

TEST(WindowInstanceSend, WithoutAWindowItSaysSoAndFails) {
    QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QString text;
    QTextStream err(&text);
    EXPECT_EQ(WindowInstance::sendCommand(QStringLiteral("request"), err), 1);
    err.flush();
    EXPECT_TRUE(text.contains("no Tavlo window is open for the user")) << text.toStdString();
    restoreEnvironment("XDG_RUNTIME_DIR", saved);
}

} // namespace
