#pragma once

// A main window on the offscreen platform over tspSim, a settings store in memory, scripted message boxes and
// a recording keyboard.

#include "../fakes/EventLoop.h"
#include "../fakes/MemoryPreferences.h"
#include "../fakes/SimSetup.h"
#include "base/ResourceBundle.h"
#include "platform/MidiSynth.h"
#include "platform/keyboard/recording/RecordingKeyboard.h"
#include "serial/SerialPortLocal.h"
#include "tavlo/VudareDiVezFrame2.h"
#include "tavlo/WindowDialogs.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/PreferencesExceptions.h"

#include <QApplication>
#include <QList>
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
    QStringList fileDialogs; // "title|filter" of each file dialog shown
    std::optional<QString> chooseSaveFile(const QString& title, const QString&, const QString& filter) override {
        fileDialogs.append(title + u'|' + filter);
        return saveFile;
    }
    std::optional<QString> chooseOpenFile(const QString& title, const QString& filter) override {
        fileDialogs.append(title + u'|' + filter);
        return openFile;
    }
    QStringList texts() const {
        QStringList out;
        for (const Box& b : boxes)
            out.append(b.text);
        return out;
    }
};

// A text of the window's table.
inline QString tavloText(const char* key) {
    return base::ResourceBundle::getBundle(QStringLiteral("tavlo.Tavlo")).getString(QLatin1String(key));
}

// A hotkey that is taken and never pressed.
class SilentHotkey : public platform::GlobalHotkey {
public:
    int eventDescriptor() const override { return -1; }
    bool dispatch() override { return true; }
    bool keysHeld() const override { return false; }
};

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
        resetSim();
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
            auto device = makeKeyboard ? makeKeyboard() : std::make_unique<platform::RecordingKeyboard>(false);
            keyboard = device.get();
            return device;
        };
        options.synths = [] { return std::unique_ptr<platform::MidiSynth>(); };
        // The desktop's hotkeys stay untouched unless a test brings its own.
        options.hotkeys = hotkeys ? hotkeys : [](const platform::HotkeyChord&, std::function<void()>) {
            return std::unique_ptr<platform::GlobalHotkey>(std::make_unique<SilentHotkey>());
        };
        options.instance = instance;
        m_window = std::make_unique<VudareDiVezFrame2>(port, options);
        return *m_window;
    }

    ScriptedDialogs dialogs;
    platform::RecordingKeyboard* keyboard = nullptr;
    // The keyboard of the next Start, when a test needs its own kind.
    std::function<std::unique_ptr<platform::RecordingKeyboard>()> makeKeyboard;
    // The hotkeys and the instance channel of the next window.
    RequestHotkey::Factory hotkeys;
    util::WindowInstance* instance = nullptr;
    std::unique_ptr<MemoryPreferences> m_root;
    std::unique_ptr<prefs::ConfigStore> m_store;
    std::unique_ptr<VudareDiVezFrame2> m_window;
};

} // namespace tavlo::test
