// The headless wedge under faults: the far end going away and coming back, a record far beyond the buffer
// bound, a stream of random bytes; and typing into a real terminal under Xvfb.
#include "HeadlessRun.h"
#include "XvfbSession.h"

#include "../fakes/QtTestApp.h"
#include "../fakes/ResidentMemory.h"

#include <QRandomGenerator>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using tavlo::test::residentKib;
using tavlo::test::runHeadless;
using Settings = QList<QPair<QString, QString>>;

namespace {

const Settings kGeneric{{"instrument", "GENERIC"}, {"inputTerminator", "10"}, {"delay", "0"}};

QProcess* startSim(QObject* parent, const QStringList& args, QByteArray& out) {
    auto* sim = new QProcess(parent);
    sim->start(QStringLiteral(TAVLO_BIN_DIR "/tavlo-sim"), args);
    tavlo::test::readUntil(*sim, out, "\n", false, 10000);
    return sim;
}

TEST(HeadlessFaults, AVanishedPortIsReopenedWhenItComesBack) {
    QTemporaryDir dir;
    const QString link = dir.filePath("balance");
    QObject owner;
    QByteArray firstOut;
    QProcess* first =
        startSim(&owner, {"--values", "1", "--count", "1", "--link", link, "--wait-usr1", "--linger", "0"}, firstOut);

    QProcess tavlo;
    tavlo.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"),
                {"--headless", "--settings", tavlo::test::writeSettingsFile(dir, kGeneric), "--output", "print",
                 "--count", "2", link});
    QByteArray err;
    ASSERT_TRUE(tavlo::test::readUntil(tavlo, err, "RTS: ", true, 10000)) << err.toStdString();
    ::kill(static_cast<pid_t>(first->processId()), SIGUSR1);
    ASSERT_TRUE(first->waitForFinished(10000)); // sends 1, then closes the terminal
    ASSERT_TRUE(tavlo::test::readUntil(tavlo, err, "failed while reading", true, 10000)) << err.toStdString();

    QByteArray secondOut;
    QProcess* second = startSim(&owner, {"--values", "2", "--count", "1", "--link", link, "--wait-usr1"}, secondOut);
    ASSERT_TRUE(tavlo::test::readUntil(tavlo, err, "reopened", true, 10000)) << err.toStdString();
    ::kill(static_cast<pid_t>(second->processId()), SIGUSR1);
    ASSERT_TRUE(tavlo.waitForFinished(20000)) << (err + tavlo.readAllStandardError()).toStdString();
    EXPECT_EQ(tavlo.exitCode(), 0);
    EXPECT_EQ(tavlo.readAllStandardOutput().toStdString(), "1\n2\n");
    const QByteArray rest = tavlo.readAllStandardError();
    EXPECT_EQ((err + rest).count("failed while reading"), 1) << (err + rest).toStdString();
    second->terminate();
    second->waitForFinished(5000);
}

TEST(HeadlessFaults, ARecordBeyondTheBoundIsDroppedAndFramingGoesOn) {
    const QString huge(100000, u'x');
    const auto r = runHeadless(kGeneric, {"--values", huge + ",5", "--format", "%s\\n", "--interval", "0"}, 2);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.toStdString(), "5\n");
    EXPECT_TRUE(r.err.contains("65536 bytes")) << r.err.left(2000).toStdString();
}

TEST(HeadlessFaults, RandomBytesNeitherCrashNorGrowMemory) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    QTemporaryDir dir;
    QProcess tavlo;
    tavlo.setProcessChannelMode(QProcess::ForwardedOutputChannel); // stdout is discarded below
    tavlo.setStandardOutputFile(QProcess::nullDevice());
    tavlo.setStandardErrorFile(QProcess::nullDevice());
    tavlo.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"),
                {"--headless", "--settings", tavlo::test::writeSettingsFile(dir, kGeneric), "--output", "print", name});
    ASSERT_TRUE(tavlo.waitForStarted(5000));
    QRandomGenerator random(20261208);
    QByteArray chunk(4096, 0);
    long warm = -1;
    const QDeadlineTimer deadline(60000); // a minute of noise
    for (int round = 0; !deadline.hasExpired(); ++round) {
        for (char& c : chunk)
            c = static_cast<char>(random.bounded(256));
        [[maybe_unused]] const ssize_t n = ::write(master, chunk.constData(), static_cast<size_t>(chunk.size()));
        QThread::msleep(2);
        if (round == 500)
            warm = residentKib(tavlo.processId());
        ASSERT_EQ(tavlo.state(), QProcess::Running) << "after " << round << " chunks";
    }
    const long end = residentKib(tavlo.processId());
    tavlo.terminate();
    ASSERT_TRUE(tavlo.waitForFinished(10000));
    EXPECT_EQ(tavlo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tavlo.exitCode(), 0);
    ASSERT_GT(warm, 0);
    EXPECT_LT(end - warm, 4096) << "resident memory grew from " << warm << " KiB to " << end << " KiB";
    ::close(slave);
    ::close(master);
}

TEST(HeadlessFaults, TypesIntoATerminalUnderXvfb) {
    tavlo::test::XvfbSession x;
    ASSERT_TRUE(x.ok()) << x.error();
    const std::string file = x.openTerminal();
    ASSERT_FALSE(file.empty()) << x.error();
    const Settings settings = kGeneric + Settings{{"outputTerminator", "ENTER"}, {"decimalSeparator", "COMMA"}};
    const auto r = runHeadless(settings, {"--values", "12.5,-0.75,3", "--format", "ST,%+09.3f g\\r\\n"}, 3,
                               {"--output", "keyboard"},
                               {{"DISPLAY", QString::fromStdString(x.display())}, {"TAVLO_KEYBOARD_BACKEND", "x11"}});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(tavlo::test::XvfbSession::waitForContent(file, 19), "12,500\n-0,750\n3,000\n");
}

} // namespace
