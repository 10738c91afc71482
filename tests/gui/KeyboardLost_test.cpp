// The desktop goes away under the keyboard output of a running window: the run stops, the status line and the
// event log say why, and Start makes a new keyboard output.
#include "WindowFixture.h"

#include "tavlo/EventLog.h"
#include "tavlo/JLabelHtml.h"
#include "worker/Keybot.h"

#include <QPushButton>
#include <QTest>
#include <QTextDocument>

using namespace tavlo;
using tavlo::test::processEventsUntil;

namespace {

class KeyboardLost : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        worker::Keybot::clearQueue();
        // The first Start's desktop goes away at the first digit it types; later ones stay.
        makeKeyboard = [this] {
            auto device = std::make_unique<platform::RecordingKeyboard>(false);
            if (m_made++ == 0)
                device->loseDesktopAtPress('1');
            return device;
        };
    }
    void TearDown() override {
        WindowFixture::TearDown();
        worker::Keybot::clearQueue();
    }

    void feed(const QByteArray& records) {
        tspSimFeed("COM5", reinterpret_cast<const uint8_t*>(records.constData()), int32_t(records.size()));
    }
    QString log(VudareDiVezFrame2& w) {
        w.eventLog()->flushPending();
        return w.eventLog()->document()->toPlainText();
    }

    int m_made = 0;
};

TEST_F(KeyboardLost, TheRunStopsTheStatusLineSaysWhyAndStartTriesAgain) {
    tspSimAddPort("COM5", nullptr, nullptr);
    VudareDiVezFrame2& w = open();
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); }));
    feed("+0001.11 g\r+0002.22 g\r");
    const QString status = QStringLiteral("Typing stopped: The test desktop went away. Press Start to try again.");
    ASSERT_TRUE(processEventsUntil([&] { return !w.isConnected() && w.statusLabel()->text() == status; }))
        << w.statusLabel()->text().toStdString();
    EXPECT_FALSE(tspSimIsOpen("COM5")) << "the run stopped and closed its port";
    EXPECT_EQ(log(w).count(QStringLiteral("Typing stopped: The test desktop went away.")), 1) << log(w).toStdString();

    // The value behind the lost one waited; the next Start types it with a new keyboard, then what comes.
    QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return w.isConnected(); }));
    EXPECT_EQ(m_made, 2);
    feed("+0003.33 g\r");
    platform::RecordingKeyboard* second = keyboard;
    const auto typed = [second] {
        std::string text;
        for (const auto& e : second->events())
            if (e.kind == platform::RecordingKeyboard::Kind::Begin)
                text += static_cast<char>(e.value);
        return text;
    };
    EXPECT_TRUE(processEventsUntil([&] { return typed() == "2.223.33"; })) << typed();
    EXPECT_TRUE(log(w).contains(QStringLiteral("1 value(s) of the previous run are still waiting")))
        << log(w).toStdString();
}

} // namespace
