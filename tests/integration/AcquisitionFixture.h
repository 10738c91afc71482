#pragma once

// The start-up path against tspSim with a recording keyboard: a view that records what it is shown, and a
// fixture that runs Acquisition on a simulated port.
#include "SimFixture.h"

#include "../fakes/QtTestApp.h"

#include "base/ResourceBundle.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "output/Outputs.h"
#include "platform/keyboard/recording/RecordingKeyboard.h"
#include "worker/Acquisition.h"
#include "worker/Keybot.h"

#include <QMutex>
#include <gtest/gtest.h>

namespace tavlo::test {

using tavlo::config::Config;
using tavlo::platform::RecordingKeyboard;
using tavlo::worker::Acquisition;
using tavlo::worker::DataLine;
using tavlo::worker::LogSpan;
using H = tavlo::config::ConfigHelper;

constexpr const char* kPort = "COM5";

inline QString tavloText(const char* key) {
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
        m_acquisition.setOutputFactory(&tavlo::output::createOutputs);
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
    // The values the event log shows as typed, in order.
    QStringList typedValues() const {
        QStringList out;
        for (const auto& line : m_view.logLines)
            for (const LogSpan& span : line)
                if (span.style == QLatin1String("typed"))
                    out << span.text;
        return out;
    }
    // What the keyboard typed, each Enter written as "|".
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

} // namespace tavlo::test
