#pragma once

// A main window on the offscreen platform over tspSim, a settings store in memory, scripted message boxes and
// a recording keyboard.

#include "../fakes/MemoryPreferences.h"
#include "native/sim/tspSimControl.h"
#include "platform/MidiSynth.h"
#include "platform/keyboard/recording/RecordingKeyboard.h"
#include "serial/SerialPortLocal.h"
#include "tavlo/VudareDiVezFrame2.h"
#include "tavlo/WindowDialogs.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/PreferencesExceptions.h"
#include "tavlo/util/SystemProperties.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace tavlo::test {

// Answers every box at once and remembers it.
class ScriptedDialogs : public WindowDialogs {
public:
    struct Box {
        QString title;
        QString text;
    };
    QList<Box> boxes;
    QList<Box> questions;
    bool answer = true;
    std::optional<QString> saveFile;
    std::optional<QString> openFile;

    void showMessage(const QString& title, const QString& text, Icon) override { boxes.append({title, text}); }
    bool ask(const QString& title, const QString& text, Buttons) override {
        questions.append({title, text});
        return answer;
    }
    std::optional<QString> chooseSaveFile(const QString&) override { return saveFile; }
    std::optional<QString> chooseOpenFile() override { return openFile; }
    QStringList texts() const {
        QStringList out;
        for (const Box& b : boxes)
            out.append(b.text);
        return out;
    }
};

inline bool processEventsUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

inline void useSim() {
    using util::SystemProperties;
    SystemProperties::set(QStringLiteral("TSP_LIBRARY_PATH"), QStringLiteral(TAVLO_BIN_DIR "/libtspSim.so"));
    SystemProperties::set(QStringLiteral("TSP_OSNAME"), QStringLiteral("Windows"));
    SystemProperties::set(QStringLiteral("TSP_OSARCH"), QStringLiteral("x86"));
    tspSimReset();
    serial::SerialPortLocal::resetForTesting();
}

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        useSim();
        m_root = MemoryPreferences::createRoot();
        m_store = std::make_unique<prefs::ConfigStore>(*m_root);
    }
    void TearDown() override {
        m_window.reset();
        QCoreApplication::sendPostedEvents();
        tspSimReset();
        serial::SerialPortLocal::resetForTesting();
    }

    // The settings the next window finds in the store.
    void storeSettings(const std::function<void(config::Config&)>& edit) {
        config::Config c;
        m_store->loadConfig(c, {QStringLiteral("COM5")});
        edit(c);
        m_store->saveConfig(c);
    }
    QString stored(const char* key) {
        return m_store->settingsNode().get(QLatin1String(key), QStringLiteral("<none>"));
    }

    VudareDiVezFrame2& open(std::optional<QString> port = QStringLiteral("COM5")) {
        VudareDiVezFrame2::Options options;
        options.dialogs = &dialogs;
        options.store = m_store.get();
        options.updateDraw = [] { return 1; }; // no update check
        options.keyboards = [this](const QString&) {
            auto device = std::make_unique<platform::RecordingKeyboard>(false);
            keyboard = device.get();
            return device;
        };
        options.synths = [] { return std::unique_ptr<platform::MidiSynth>(); };
        m_window = std::make_unique<VudareDiVezFrame2>(port, options);
        return *m_window;
    }

    ScriptedDialogs dialogs;
    platform::RecordingKeyboard* keyboard = nullptr;
    std::unique_ptr<MemoryPreferences> m_root;
    std::unique_ptr<prefs::ConfigStore> m_store;
    std::unique_ptr<VudareDiVezFrame2> m_window;
};

} // namespace tavlo::test
