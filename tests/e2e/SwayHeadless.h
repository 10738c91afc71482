#pragma once

// The headless wedge on a SwaySession's desktop, as that desktop's user: its port is a pseudo-terminal handed to the
// user, its settings a file the user may read, its program a copy the user may run.
#include "HeadlessRun.h"
#include "SwaySession.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace tavlo::test {

class SwayHeadless {
public:
    using Settings = QList<QPair<QString, QString>>;

    explicit SwayHeadless(SwaySession& session) : m_session(session) {}
    ~SwayHeadless() {
        stopProcess(m_tavlo);
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }
    SwayHeadless(const SwayHeadless&) = delete;
    SwayHeadless& operator=(const SwayHeadless&) = delete;

    // Starts `tavlo --headless --settings FILE --output keyboard [args] PORT` and waits until the port is open and
    // set up. `environment` ("NAME=value") comes on top of the desktop's. False with error() when it did not start.
    bool start(const Settings& settings, const QStringList& args = {},
               const std::vector<std::string>& environment = {}) {
        const std::string program = m_session.exposeProgram(TAVLO_BIN_DIR "/tavlo", {"libtspWin.so"});
        if (program.empty())
            return fail("cannot copy tavlo where the desktop's user may run it");
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0 ||
            ::chown(name, m_session.user(), m_session.group()) != 0)
            return fail("cannot hand a pseudo-terminal to the desktop's user");
        const QString settingsFile = QString::fromStdString(m_session.sharedDir()) + "/settings.xml";
        QFile file(settingsFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(settingsExport(settings)) < 0)
            return fail("cannot write the settings file");
        file.close();
        if (::chown(settingsFile.toLocal8Bit().constData(), m_session.user(), m_session.group()) != 0)
            return fail("cannot hand the settings file to the desktop's user");
        std::vector<std::string> argv{program,    "--headless", "--settings", settingsFile.toStdString(),
                                      "--output", "keyboard"};
        for (const QString& a : args)
            argv.push_back(a.toStdString());
        argv.push_back(name);
        const std::vector<std::string> command = m_session.asUser(argv, environment);
        QStringList rest;
        for (size_t i = 1; i < command.size(); ++i)
            rest << QString::fromStdString(command[i]);
        m_tavlo.start(QString::fromStdString(command[0]), rest);
        if (!readUntil(m_tavlo, m_err, "RTS: ", true, 20000))
            return fail("tavlo did not open its port: " + m_err.toStdString());
        return true;
    }

    // Writes the bytes to the instrument's end of the port.
    bool send(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Waits until the program has ended; its standard error so far is in err().
    bool waitFinished(int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (m_tavlo.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            m_tavlo.waitForFinished(50);
            m_err += m_tavlo.readAllStandardError();
        }
        m_err += m_tavlo.readAllStandardError();
        return m_tavlo.state() == QProcess::NotRunning;
    }
    // Reads what the program has logged until `wanted` appears; false when it did not within timeoutMs.
    bool waitForLog(const QByteArray& wanted, int timeoutMs) {
        return readUntil(m_tavlo, m_err, wanted, true, timeoutMs);
    }

    int exitCode() const { return m_tavlo.exitStatus() == QProcess::NormalExit ? m_tavlo.exitCode() : -1; }
    QString err() const { return QString::fromUtf8(m_err); }
    const std::string& error() const { return m_error; }

private:
    bool fail(const std::string& why) {
        m_error = why;
        return false;
    }

    SwaySession& m_session;
    QProcess m_tavlo;
    QByteArray m_err;
    std::string m_error;
    int m_master = -1;
    int m_slave = -1;
};

} // namespace tavlo::test
