// Each profile's commands, sent through the one request path (Acquisition::sendCommand, the worker's writer
// thread, the real native library), reach a pseudo-terminal byte for byte as the makers document them; what the
// instrument answers to tare and zero is logged as an acknowledgement and never typed.
#include "../fakes/QtTestApp.h"

#include "base/SystemProperties.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "platform/keyboard/recording/RecordingKeyboard.h"
#include "serial/SerialPortLocal.h"
#include "worker/Acquisition.h"
#include "worker/Keybot.h"

#include <QMutex>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using tavlo::config::Config;
using tavlo::config::InstrumentCommand;
using tavlo::platform::RecordingKeyboard;
using tavlo::test::processEventsUntil;
using tavlo::worker::Acquisition;
using tavlo::worker::LogSpan;
using H = tavlo::config::ConfigHelper;

namespace {

class View : public tavlo::worker::AcquisitionView {
public:
    Acquisition* acquisition = nullptr;
    QList<bool> connected;
    QList<QList<LogSpan>> logLines;
    QStringList messages;

    void logEvent(const QString&) override {}
    void logImportantEvent(const QString& text) override {
        QMutexLocker lock(&m_mutex);
        m_important.append(text);
    }
    void setConnectedInGUI(bool on) override { connected.append(on); }
    void update(const tavlo::worker::DataLine& line) override { acquisition->update(line); }
    void showMessage(const QString& title, const QString& text, tavlo::worker::MessageBoxSeam::Icon) override {
        messages.append(title + u'|' + text);
    }
    void appendLog(const QList<LogSpan>& spans) override { logLines.append(spans); }
    void setStatus(const QString&) override {}

private:
    QMutex m_mutex;
    QStringList m_important;
};

struct CommandCase {
    const H::Instrument* instrument;
    QByteArray request;
    QByteArray tare;
    QByteArray zero;
    QByteArray answer; // what the instrument answers to tare (and zero), as its maker documents; empty: nothing
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.instrument->nameLatin1();
}

class CommandsOnAPty : public ::testing::TestWithParam<CommandCase> {
protected:
    void SetUp() override {
        using tavlo::base::SystemProperties;
        SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral(TAVLO_BIN_DIR "/libtspWin.so"));
        SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
        SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
        serial::SerialPortLocal::resetForTesting();
        tavlo::worker::Keybot::clearQueue();
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(::openpty(&m_master, &slave, name, nullptr, nullptr), 0) << std::strerror(errno);
        m_device = QString::fromLocal8Bit(name);
        ::close(slave);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_view.acquisition = &m_acquisition;
    }
    void TearDown() override {
        m_acquisition.stop();
        if (m_view.connected.contains(true))
            processEventsUntil([&] { return !m_view.connected.last(); }, 5000);
        if (m_master >= 0)
            ::close(m_master);
        serial::SerialPortLocal::resetForTesting();
    }

    // What the program wrote to the instrument, once n bytes are there (or the wait ran out).
    QByteArray written(qsizetype n) {
        QByteArray out;
        processEventsUntil([&] {
            char buffer[64];
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got > 0)
                out.append(buffer, got);
            return out.size() >= n;
        });
        return out;
    }
    qsizetype typedCharacters() const {
        qsizetype n = 0;
        if (m_keyboard)
            for (const auto& e : m_keyboard->events())
                n += e.kind == RecordingKeyboard::Kind::Begin ? 1 : 0;
        return n;
    }

    int m_master = -1;
    QString m_device;
    View m_view;
    RecordingKeyboard* m_keyboard = nullptr;
    Acquisition m_acquisition{m_view,
                              [this](const QString&) -> std::unique_ptr<tavlo::platform::KeyboardDevice> {
                                  auto keyboard = std::make_unique<RecordingKeyboard>(false);
                                  m_keyboard = keyboard.get();
                                  return keyboard;
                              },
                              nullptr};
};

TEST_P(CommandsOnAPty, ReachTheInstrumentByteForByte) {
    const CommandCase& c = GetParam();
    Config config = c.instrument->getDefaultConfig();
    config.setInstrument(c.instrument);
    config.setPort(m_device);
    config.setInputTerminator(10);
    config.setDelay("0");
    ASSERT_TRUE(m_acquisition.start(config)) << m_view.messages.join('\n').toStdString();

    if (!c.answer.isEmpty()) {
        const QByteArray records = c.answer + c.answer;
        ASSERT_EQ(::write(m_master, records.constData(), static_cast<size_t>(records.size())), records.size());
        ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 2; }));
        for (const auto& line : m_view.logLines) {
            ASSERT_EQ(line.size(), 1);
            EXPECT_TRUE(line[0].text.endsWith(" (acknowledgement)\n")) << line[0].text.toStdString();
        }
        EXPECT_EQ(typedCharacters(), 0);
    }

    for (const auto& [command, bytes] :
         {std::pair{InstrumentCommand::Request, c.request}, std::pair{InstrumentCommand::Tare, c.tare},
          std::pair{InstrumentCommand::Zero, c.zero}}) {
        QString reason;
        const std::string name = tavlo::config::commandName(command).toStdString();
        if (bytes.isEmpty()) {
            EXPECT_FALSE(m_acquisition.sendCommand(command, &reason)) << name;
            EXPECT_TRUE(reason.contains(tavlo::config::commandName(command))) << reason.toStdString();
            continue;
        }
        ASSERT_TRUE(m_acquisition.sendCommand(command, &reason)) << name << ": " << reason.toStdString();
        const QByteArray sent = written(bytes.size());
        EXPECT_EQ(sent.toHex(' ').toStdString(), bytes.toHex(' ').toStdString()) << name;
    }
    // Stop ends the writer thread after what it was given: whatever else it wrote is in the terminal now.
    m_acquisition.stopAndWait();
    char rest[64];
    EXPECT_LE(::read(m_master, rest, sizeof rest), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, CommandsOnAPty,
    ::testing::Values(CommandCase{&H::Instrument::METTLER_DIALOG, "S\r\n", "T\r\n", "Z\r\n", "T S    100.00 g\r\n"},
                      CommandCase{&H::Instrument::METTLER_PRINT, "S\r\n", "T\r\n", "Z\r\n", "Z A\r\n"},
                      CommandCase{&H::Instrument::AND, "S\r\n", "T\r\n", "R\r\n", "\x06\r\n"},
                      CommandCase{&H::Instrument::AND_SIMPLE, "S\r\n", "T\r\n", "R\r\n", "\x06\r\n"},
                      CommandCase{&H::Instrument::KERN_572, "s", "t", "", ""},
                      CommandCase{&H::Instrument::KERN_DS, "s", "t", "", ""},
                      CommandCase{&H::Instrument::KERN_FKB, "s", "t", "", ""},
                      CommandCase{&H::Instrument::OHAUS, "SP\r\n", "T\r\n", "Z\r\n", "OK!\r\n"},
                      CommandCase{&H::Instrument::OHAUSSPU, "P\r\n", "T\r\n", "", ""},
                      CommandCase{&H::Instrument::SARTORIUS, "\x1bP\r\n",
                                  "\x1b"
                                  "f4_\r\n",
                                  "\x1b"
                                  "f3_\r\n",
                                  ""},
                      CommandCase{&H::Instrument::ADAM_CPWPLUS, "N\r\n", "Z\r\n", "", ""},
                      CommandCase{&H::Instrument::MITUTOYO, "1\r", "", "", ""},
                      // Profiles whose makers document no command have none.
                      CommandCase{&H::Instrument::GENERIC, "", "", "", ""},
                      CommandCase{&H::Instrument::KEYENCE_IL, "", "", "", ""}));

} // namespace
