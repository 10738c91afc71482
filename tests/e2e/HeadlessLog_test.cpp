// What the headless wedge writes to the user's terminal: never a control code that came from the instrument,
// and no lines of the sound system's own.
#include "HeadlessRun.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using Settings = QList<QPair<QString, QString>>;

namespace {

// Runs tavlo on a raw pseudo-terminal, writes the records to it and returns standard error once `count` records
// were handled.
QByteArray runOnTerminal(const Settings& settings, const QByteArray& records, int count) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return "openpty failed";
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.xml");
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return "no settings file";
    f.write(tavlo::test::settingsExport(settings));
    f.close();
    QProcess tavlo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    tavlo.setProcessEnvironment(env);
    tavlo.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"),
                {"--headless", "--settings", file, "--output", "print", "--count", QString::number(count), name});
    QByteArray err;
    if (tavlo::test::readUntil(tavlo, err, "RTS: ", true, 10000)) [[maybe_unused]]
        const ssize_t n = ::write(master, records.constData(), static_cast<size_t>(records.size()));
    if (!tavlo.waitForFinished(20000)) {
        tavlo.kill();
        tavlo.waitForFinished(5000);
    }
    err += tavlo.readAllStandardError();
    ::close(slave);
    ::close(master);
    return err;
}

// The C0 and C1 control codes other than the line ends (the serial layer's banner ends in CR LF), as raw bytes
// or in UTF-8.
QString controlCodesIn(QByteArray bytes) {
    bytes.replace("\r\n", "\n");
    QString found;
    for (const QChar c : QString::fromUtf8(bytes)) {
        const char16_t code = c.unicode();
        if (code != u'\n' && (code < 32 || (code >= 127 && code <= 159)))
            found += QStringLiteral("<%1>").arg(int(code));
    }
    return found;
}

TEST(HeadlessLog, ControlCodesFromTheInstrumentAreShownNotSent) {
    // Values that are no numbers reach the log inside the failure's text; the records themselves too.
    const Settings settings{{"instrument", "GENERIC"}, {"inputTerminator", "10"}, {"customRegEx", R"(V=(\S+))"}};
    const QByteArray records = "V=1\x1b[2J\n"
                               "V=\x1b]0;title\x07\n"
                               "V=\xc2\x9b"
                               "31m\n";
    const QByteArray err = runOnTerminal(settings, records, 3);
    EXPECT_EQ(controlCodesIn(err), QString()) << err.toStdString();
    EXPECT_TRUE(err.contains("Error [WW]: NumberFormatException")) << err.toStdString();
    EXPECT_TRUE(err.contains("<27>[2J")) << err.toStdString();
    EXPECT_TRUE(err.contains("<27>]0;title<7>")) << err.toStdString();
}

TEST(HeadlessLog, NoSoundCardGivesOurMessageWithoutTheSoundSystemsOwnLines) {
    if (QFileInfo::exists("/dev/snd"))
        GTEST_SKIP() << "this machine has sound devices; the failure cannot be caused here";
    const Settings settings{{"instrument", "GENERIC"}, {"inputTerminator", "10"}, {"sound", "COWBELL"}};
    const QByteArray err = runOnTerminal(settings, "5\n", 1);
    EXPECT_TRUE(err.contains("The sound output could not be started")) << err.toStdString();
    EXPECT_FALSE(err.contains("ALSA lib")) << err.toStdString();
}

} // namespace
