// The request hotkey on a real X server (Xvfb): the window (on the offscreen platform, over tspSim) grabs it on
// the root window while it runs; a key sent with xdotool makes the request, also with Caps Lock or Num Lock on;
// a combination another client holds is named and the setting stays; under Wayland nothing is grabbed.
#include "../gui/WindowFixture.h"
#include "XvfbSession.h"

#include "config/Instrument.h"
#include "platform/hotkey/x11/X11Hotkey.h"
#include "tavlo/EventLog.h"

#include <QApplication>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextDocument>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace tavlo;
using tavlo::test::processEventsUntil;
using tavlo::test::XvfbSession;
using H = tavlo::config::ConfigHelper;

namespace {

// One QApplication on the offscreen platform for the whole program.
class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "e2e_hotkey_x11";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};
const bool registered = [] {
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);
    return true;
}();

QString eventLogText(VudareDiVezFrame2& w) {
    w.eventLog()->flushPending();
    return w.eventLog()->document()->toPlainText();
}

QByteArray sentToPort(qsizetype size, int timeoutMs = 10000) {
    QByteArray sent;
    processEventsUntil(
        [&] {
            uint8_t buffer[64];
            const int n = tspSimTakeOutput("COM5", buffer, sizeof buffer);
            sent.append(reinterpret_cast<const char*>(buffer), n > 0 ? n : 0);
            return sent.size() >= size;
        },
        timeoutMs);
    return sent;
}

class HotkeyX11Test : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        ASSERT_TRUE(x.ok()) << x.error();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
            saved.emplace_back(name, qgetenv(name));
        qputenv("DISPLAY", QByteArray::fromStdString(x.display()));
        qunsetenv("WAYLAND_DISPLAY");
        qunsetenv("XDG_SESSION_TYPE");
        // The desktop's own hotkeys: the X11 backend on this display.
        hotkeys = [](const platform::HotkeyChord& chord, std::function<void()> pressed) {
            return platform::createGlobalHotkey(chord, std::move(pressed));
        };
    }
    void TearDown() override {
        WindowFixture::TearDown();
        for (const auto& [name, value] : saved)
            value.isNull() ? (void)qunsetenv(name) : (void)qputenv(name, value);
    }
    // Runs xdotool while this thread goes on serving the window's events.
    void press(const std::string& keys) { ASSERT_EQ(x.run({"xdotool", "key", keys}), 0) << keys; }

    VudareDiVezFrame2& startMitutoyo(const char* hotkey) {
        tspSimAddPort("COM5", nullptr, nullptr);
        storeSettings([&](config::Config& s) {
            s.setInstrument(H::Instrument::valueOf(QStringLiteral("MITUTOYO")));
            s.requestHotkey = QLatin1String(hotkey);
        });
        VudareDiVezFrame2& w = open();
        QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
        EXPECT_TRUE(processEventsUntil([&] { return w.isConnected(); }));
        return w;
    }

    XvfbSession x;
    std::vector<std::pair<const char*, QByteArray>> saved;
};

TEST_F(HotkeyX11Test, AKeyPressedAnywhereRequestsAReadingWhileRunningAlsoWithTheLocksOn) {
    VudareDiVezFrame2& w = startMitutoyo("Ctrl+Alt+W");
    ASSERT_TRUE(eventLogText(w).contains("Hotkey Ctrl+Alt+W")) << eventLogText(w).toStdString();
    press("ctrl+alt+w");
    EXPECT_EQ(sentToPort(2), QByteArray("1\r"));
    for (const char* lock : {"Caps_Lock", "Num_Lock"}) {
        press(lock);
        press("ctrl+alt+w");
        EXPECT_EQ(sentToPort(2), QByteArray("1\r")) << lock;
        press(lock);
    }
    // Nothing goes out while a key of the combination is down: typed then, the reading would reach the grab
    // that the press began, or combine with Ctrl and Alt.
    press("ctrl+alt+w");
    sentToPort(2);
    ASSERT_EQ(x.run({"xdotool", "keydown", "ctrl+alt+w"}), 0);
    ASSERT_EQ(x.run({"xdotool", "keyup", "ctrl+alt"}), 0);
    EXPECT_EQ(sentToPort(1, 300), QByteArray());
    ASSERT_EQ(x.run({"xdotool", "keyup", "w"}), 0);
    EXPECT_EQ(sentToPort(2), QByteArray("1\r"));
    // Other combinations of that key are not taken.
    press("ctrl+w");
    press("alt+shift+w");
    EXPECT_EQ(sentToPort(1, 500), QByteArray());

    // Stopped, the grab is gone: another client may take the combination now.
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
    platform::HotkeyChord chord;
    chord.modifiers = platform::HotkeyChord::Control | platform::HotkeyChord::Alt;
    chord.character = 'W';
    EXPECT_NO_THROW(platform::X11Hotkey(chord, {}, x.display().c_str()));
}

TEST_F(HotkeyX11Test, ACombinationAnotherClientHoldsIsNamedAndTheSettingStays) {
    // Another client grabs Ctrl+Alt+E first, as a desktop shortcut would.
    Display* other = XOpenDisplay(x.display().c_str());
    ASSERT_NE(other, nullptr);
    XGrabKey(other, XKeysymToKeycode(other, XK_e), ControlMask | Mod1Mask, DefaultRootWindow(other), False,
             GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    VudareDiVezFrame2& w = startMitutoyo("Ctrl+Alt+E");
    EXPECT_TRUE(eventLogText(w).contains("The hotkey Ctrl+Alt+E is held by another program"))
        << eventLogText(w).toStdString();
    press("ctrl+alt+e");
    EXPECT_EQ(sentToPort(1, 500), QByteArray());
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected(); }));
    EXPECT_EQ(w.config().requestHotkey, "Ctrl+Alt+E");

    // Chosen on the Output tab, the combination is named at once.
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::OutputTab);
    bool finished = false;
    QObject scope;
    QObject::connect(w.requestHotkeyEdit, &QKeySequenceEdit::editingFinished, &scope, [&] { finished = true; });
    w.requestHotkeyEdit->setFocus();
    QTest::keyClick(w.requestHotkeyEdit, Qt::Key_E, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(processEventsUntil([&] { return finished; }));
    EXPECT_TRUE(w.requestHotkeyNote->text().contains("held by another program"))
        << w.requestHotkeyNote->text().toStdString();

    // Once the other client lets go, the next Start takes it.
    XCloseDisplay(other);
    w.tabbedPane()->setCurrentIndex(VudareDiVezFrame2::StartTab);
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); }));
    press("ctrl+alt+e");
    EXPECT_EQ(sentToPort(2), QByteArray("1\r"));
}

TEST_F(HotkeyX11Test, UnderWaylandNothingIsGrabbedAndTheLogPointsToSend) {
    qputenv("XDG_SESSION_TYPE", "wayland");
    VudareDiVezFrame2& w = startMitutoyo("Ctrl+Alt+W");
    const QString log = eventLogText(w);
    EXPECT_TRUE(log.contains("tavlo --send request")) << log.toStdString();
    press("ctrl+alt+w");
    EXPECT_EQ(sentToPort(1, 500), QByteArray());
    // Nothing holds the combination.
    platform::HotkeyChord chord;
    chord.modifiers = platform::HotkeyChord::Control | platform::HotkeyChord::Alt;
    chord.character = 'W';
    EXPECT_NO_THROW(platform::X11Hotkey(chord, {}, x.display().c_str()));
}

} // namespace
