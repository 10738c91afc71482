#pragma once

// Runs tavlo-sim on a pseudo-terminal and tavlo --headless --output print against it, as a user would in a
// script, and collects what tavlo printed.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <optional>

namespace tavlo::test {

struct HeadlessResult {
    QString out;
    QString err;
    int exitCode = -1;
    bool finished = false;
};

// A settings export holding the given entries of the node /com/corvane/Tavlo.
inline QByteArray settingsExport(const QList<QPair<QString, QString>>& entries) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                     "<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\"><map/>"
                     "<node name=\"com\"><map/><node name=\"corvane\"><map/><node name=\"Tavlo\"><map>\n";
    for (const auto& [key, value] : entries)
        xml +=
            "<entry key=\"" + key.toHtmlEscaped().toUtf8() + "\" value=\"" + value.toHtmlEscaped().toUtf8() + "\"/>\n";
    xml += "</map></node></node></node></root></preferences>\n";
    return xml;
}

// Writes settingsExport(entries) to settings.xml in dir and returns its path.
inline QString writeSettingsFile(const QTemporaryDir& dir, const QList<QPair<QString, QString>>& entries) {
    const QString path = dir.filePath("settings.xml");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(settingsExport(entries));
    return path;
}

// Ends a program this test started: SIGTERM first, SIGKILL when it has not ended within graceMs.
inline void stopProcess(QProcess& p, int graceMs = 5000) {
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(graceMs)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

inline bool readUntil(QProcess& p, QByteArray& buffer, const QByteArray& wanted, bool fromStderr, int ms) {
    QDeadlineTimer deadline(ms);
    while (!buffer.contains(wanted)) {
        if (deadline.hasExpired() || p.state() == QProcess::NotRunning)
            return buffer.contains(wanted);
        p.waitForReadyRead(20);
        buffer += fromStderr ? p.readAllStandardError() : p.readAllStandardOutput();
    }
    return true;
}

// With a count, tavlo ends by itself; without one, it is sent SIGTERM once the simulator has sent everything.
inline HeadlessResult runHeadless(const QList<QPair<QString, QString>>& settings, const QStringList& simArgs,
                                  std::optional<int> count, const QStringList& extraArgs = {},
                                  const QList<QPair<QString, QString>>& environment = {}) {
    HeadlessResult result;
    QTemporaryDir dir;
    const QString settingsFile = dir.filePath("settings.xml");
    QFile file(settingsFile);
    if (!file.open(QIODevice::WriteOnly))
        return result;
    file.write(settingsExport(settings));
    file.close();

    QProcess sim;
    sim.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo-sim"), simArgs + QStringList{"--wait-usr1", "--linger", "30000"});
    QByteArray simOut;
    if (!readUntil(sim, simOut, "\n", false, 10000))
        return result;
    const QString device = QString::fromLatin1(simOut.left(simOut.indexOf('\n')));

    QProcess tavlo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    for (const auto& [name, value] : environment)
        env.insert(name, value);
    tavlo.setProcessEnvironment(env);
    QStringList args{"--headless", "--settings", settingsFile, "--output", "print"};
    if (count)
        args << "--count" << QString::number(*count);
    tavlo.start(QStringLiteral(TAVLO_BIN_DIR "/tavlo"), args + extraArgs + QStringList{device});
    QByteArray err;
    // A serial port logs its lines when it is ready, a network instrument its connection.
    const QByteArray ready = device.startsWith(QLatin1String("tcp://")) ? "Connected to" : "RTS: ";
    if (readUntil(tavlo, err, ready, true, 10000))
        ::kill(static_cast<pid_t>(sim.processId()), SIGUSR1);
    if (!count) {
        readUntil(sim, simOut, "done", false, 20000);
        QByteArray ignored;
        readUntil(tavlo, ignored, "never printed", false, 300); // let the last bytes arrive
        result.out += QString::fromUtf8(ignored);
        tavlo.terminate();
    }
    result.finished = tavlo.waitForFinished(20000);
    if (!result.finished) {
        tavlo.kill();
        tavlo.waitForFinished(5000);
    }
    result.out += QString::fromUtf8(tavlo.readAllStandardOutput());
    result.err = QString::fromUtf8(err + tavlo.readAllStandardError());
    result.exitCode = tavlo.exitCode();
    sim.terminate();
    if (!sim.waitForFinished(5000)) {
        sim.kill();
        sim.waitForFinished(5000);
    }
    return result;
}

} // namespace tavlo::test
