// The start-up path against tspSim with a recording keyboard: Start, the records through update, Stop, and
// the failures that leave nothing running.
#include "SimFixture.h"

#include "../fakes/QtTestApp.h"

#include "base/ResourceBundle.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "platform/keyboard/recording/RecordingKeyboard.h"
#include "worker/Acquisition.h"
#include "worker/Keybot.h"
#include "worker/WeightWorker.h"

#include <QMutex>
#include <gtest/gtest.h>

using tavlo::config::Config;
using tavlo::platform::RecordingKeyboard;
using tavlo::test::processEventsUntil;
using tavlo::worker::Acquisition;
using tavlo::worker::DataLine;
using tavlo::worker::LogSpan;
using H = tavlo::config::ConfigHelper;

namespace {

constexpr const char* kPort = "COM5";

QString tavloText(const char* key) {
    return tavlo::base::ResourceBundle::getBundle("tavlo.Tavlo").getString(QLatin1String(key));
}

class View : public tavlo::worker::AcquisitionView {
public:
    Acquisition* acquisition = nullptr;
    QStringList messages; // "title|text"
    QList<QList<LogSpan>> logLines;
    QStringList statuses;
    QList<bool> connected;

    void logEvent(const QString& text) override { add(text); }
    void logImportantEvent(const QString& text) override { add(QStringLiteral("! ") + text); }
    void setConnectedInGUI(bool on) override { connected.append(on); }
    void update(const DataLine& line) override { acquisition->update(line); }
    void showMessage(const QString& title, const QString& text, tavlo::worker::MessageBoxSeam::Icon) override {
        messages.append(title + u'|' + text);
    }
    void appendLog(const QList<LogSpan>& spans) override { logLines.append(spans); }
    void setStatus(const QString& text) override { statuses.append(text); }
    QStringList events() const {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }

private:
    void add(const QString& text) {
        QMutexLocker lock(&m_mutex);
        m_events.append(text);
    }
    mutable QMutex m_mutex;
    QStringList m_events;
};

class AcquisitionSim : public tavlo::test::SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        tspSimAddPort(kPort, "Sim", "Virtual port");
        tavlo::worker::Keybot::clearQueue();
        m_view.acquisition = &m_acquisition;
    }
    void TearDown() override {
        m_acquisition.stop();
        if (m_view.connected.contains(true))
            processEventsUntil([&] { return !m_view.connected.last(); }, 5000);
        SimFixture::TearDown();
    }

    Config settings(const H::Instrument& instrument = H::Instrument::GENERIC) {
        Config c = instrument.getDefaultConfig();
        c.setInstrument(&instrument);
        c.setPort(kPort);
        c.setInputTerminator(10);
        c.setDelay("0");
        c.setOutputTerminator(&H::OutputTerminator::ENTER);
        return c;
    }

    // Waits until the keyboard has seen `count` Enter presses.
    bool waitForEnters(int count) {
        return processEventsUntil([&] {
            int enters = 0;
            for (const auto& e : m_keyboard->events())
                enters += e.kind == RecordingKeyboard::Kind::Press && e.value == 10;
            return enters >= count;
        });
    }
    QString typedCharacters() const {
        QString out;
        for (const auto& e : m_keyboard->events())
            if (e.kind == RecordingKeyboard::Kind::Begin)
                out += QChar(e.value);
            else if (e.kind == RecordingKeyboard::Kind::Press && e.value == 10)
                out += u'|';
        return out;
    }

    View m_view;
    RecordingKeyboard* m_keyboard = nullptr;
    bool m_capsLock = false;
    bool m_keyboardFails = false;
    Acquisition m_acquisition{m_view,
                              [this](const QString&) -> std::unique_ptr<tavlo::platform::KeyboardDevice> {
                                  if (m_keyboardFails)
                                      throw tavlo::platform::KeyboardError("no display");
                                  auto keyboard = std::make_unique<RecordingKeyboard>(false);
                                  keyboard->setCapsLock(m_capsLock);
                                  m_keyboard = keyboard.get();
                                  return keyboard;
                              },
                              nullptr};
};

TEST_F(AcquisitionSim, RecordsAreLoggedCountedAndTyped) {
    Config c = settings();
    c.setDecimalSeparator(&H::DecimalSeparator::COMMA);
    ASSERT_TRUE(m_acquisition.start(c));
    EXPECT_TRUE(m_view.messages.isEmpty()) << m_view.messages.join('\n').toStdString();
    EXPECT_TRUE(m_acquisition.isRunning());
    feed(kPort, "G +12.5 kg\r\nno value\r\nN -3\r\n");
    ASSERT_TRUE(waitForEnters(2));
    EXPECT_EQ(typedCharacters(), "12,5|-3|");
    ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 3; }));
    EXPECT_EQ(m_view.logLines[1].last().style, "ignored");
    EXPECT_EQ(m_view.logLines[0][2], (LogSpan{"12.5", "typed"}));
    EXPECT_EQ(m_view.statuses.last(), tavloText("line.count") + "3");
    const QStringList events = m_view.events();
    EXPECT_TRUE(
        events.contains(tavloText("VudareDiVezFrame2.deviceLabel.text") + " " + H::Instrument::GENERIC.toString()));
}

TEST_F(AcquisitionSim, DuplicatesAreSuppressedBeforeTyping) {
    Config c = settings();
    c.ignoreDuplicates = true;
    ASSERT_TRUE(m_acquisition.start(c));
    feed(kPort, "7\n7\n8\n");
    ASSERT_TRUE(waitForEnters(2));
    ASSERT_TRUE(processEventsUntil([&] { return m_view.logLines.size() == 3; }));
    EXPECT_EQ(typedCharacters(), "7|8|");
    EXPECT_EQ(m_view.logLines[1].last().style, "ignored");
}

TEST_F(AcquisitionSim, CapsLockWarnsAndKeyboardFailureStillStarts) {
    m_capsLock = true;
    ASSERT_TRUE(m_acquisition.start(settings()));
    EXPECT_EQ(m_view.messages, QStringList({tavloText("warning") + "|" + tavloText("please.turn.off.caps.lock")}));
    m_acquisition.stop();
    ASSERT_TRUE(processEventsUntil([&] { return !m_view.connected.isEmpty() && !m_view.connected.last(); }));

    m_view.messages.clear();
    m_keyboardFails = true;
    ASSERT_TRUE(m_acquisition.start(settings()));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(
        m_view.messages[0].startsWith(tavloText("error") + "|" + tavloText("error.initializing.keyboard.output")));
    EXPECT_TRUE(m_view.messages[0].endsWith("no display"));
    EXPECT_EQ(m_acquisition.keybot(), nullptr);
    // The run goes on without typing, and the log does not claim otherwise.
    EXPECT_TRUE(m_acquisition.isRunning());
    const QString started = tavloText("keyboard.output.started.type");
    EXPECT_EQ(m_view.events().filter(started).size(), 1) << "only the first run's output started";
}

TEST_F(AcquisitionSim, AKeyboardThatIsRequiredButFailsStartsNothing) {
    m_keyboardFails = true;
    m_acquisition.setKeyboardRequired(true);
    EXPECT_FALSE(m_acquisition.start(settings()));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(m_view.messages[0].contains(tavloText("error.initializing.keyboard.output")));
    EXPECT_FALSE(m_acquisition.isRunning());
    EXPECT_EQ(tspSimIsOpen(kPort), 0) << "the port is never opened";
    EXPECT_TRUE(m_view.connected.isEmpty());
    EXPECT_TRUE(m_view.events().filter(tavloText("keyboard.output.started.type")).isEmpty());
}

TEST_F(AcquisitionSim, ValuesLeftFromThePreviousRunAreAnnouncedOnce) {
    tavlo::worker::Keybot::add("1");
    tavlo::worker::Keybot::add("2");
    ASSERT_TRUE(m_acquisition.start(settings()));
    ASSERT_TRUE(waitForEnters(2));
    const QString queued = tavlo::base::ResourceBundle::getBundle("tavlo.worker.WorkerBundle")
                               .format("keyboard.values.still.queued", {"2"});
    EXPECT_EQ(m_view.events().filter(queued).size(), 1) << m_view.events().join('\n').toStdString();
}

TEST_F(AcquisitionSim, APortThatCannotBeOpenedStartsNothing) {
    tspSimSetOpenResult(kPort, 1002);
    EXPECT_FALSE(m_acquisition.start(settings()));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(m_view.messages[0].startsWith(tavloText("error.opening.port") + "|"));
    EXPECT_FALSE(m_acquisition.isRunning());
    EXPECT_EQ(m_acquisition.keybot(), nullptr);
    EXPECT_EQ(tspSimIsOpen(kPort), 0);

    Config noPort = settings();
    noPort.setPort("");
    m_view.messages.clear();
    EXPECT_FALSE(m_acquisition.start(noPort));
    ASSERT_EQ(m_view.messages.size(), 1);
    EXPECT_TRUE(m_view.messages[0].startsWith(tavloText("invalid.setting") + "|"));
}

TEST_F(AcquisitionSim, RequestTextGoesOutThroughTheWorker) {
    ASSERT_TRUE(m_acquisition.start(settings(H::Instrument::MITUTOYO)));
    EXPECT_TRUE(m_acquisition.sendRequest());
    QByteArray written;
    ASSERT_TRUE(processEventsUntil([&] {
        uint8_t buffer[64];
        const int32_t n = tspSimTakeOutput(kPort, buffer, sizeof buffer);
        if (n > 0)
            written.append(reinterpret_cast<const char*>(buffer), n);
        return written.contains("1\r");
    }));
    m_acquisition.stop();
    EXPECT_FALSE(m_acquisition.sendRequest());

    ASSERT_TRUE(processEventsUntil([&] { return !m_view.connected.isEmpty() && !m_view.connected.last(); }));
    ASSERT_TRUE(m_acquisition.start(settings(H::Instrument::GENERIC)));
    EXPECT_FALSE(m_acquisition.sendRequest()); // no request text for this profile
}

} // namespace
