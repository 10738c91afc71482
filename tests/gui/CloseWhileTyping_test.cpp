// Closing the window while values still wait for the keyboard output: they are typed first, and a second close
// stops after the value under way and says how many were left.
#include "WindowFixture.h"

#include "tavlo/EventLog.h"
#include "tavlo/JLabelHtml.h"
#include "worker/Keybot.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace tavlo;
using tavlo::test::processEventsUntil;

namespace {

// Holds key presses until opened, and notes every character begun, so that values pile up behind the one being
// typed and the test can see what was typed after the device is gone (the keyboard thread closes it at exit).
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false;
    bool open = false;
    std::string typed;

    void wait() {
        std::unique_lock lock(mutex);
        arrived = true;
        changed.wait(lock, [&] { return open; });
    }
    void openNow() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    bool hasArrived() {
        std::lock_guard lock(mutex);
        return arrived;
    }
    std::string typedSoFar() {
        std::lock_guard lock(mutex);
        return typed;
    }
};

class GatedKeyboard : public platform::RecordingKeyboard {
public:
    explicit GatedKeyboard(std::shared_ptr<Gate> gate) : RecordingKeyboard(false), m_gate(std::move(gate)) {}
    void keyPress(int keyCode) override {
        m_gate->wait();
        RecordingKeyboard::keyPress(keyCode);
    }
    void beginCharacter(char32_t character, std::span<const int> sequence) override {
        {
            std::lock_guard lock(m_gate->mutex);
            m_gate->typed += static_cast<char>(character);
        }
        RecordingKeyboard::beginCharacter(character, sequence);
    }

private:
    std::shared_ptr<Gate> m_gate;
};

class CloseWhileTyping : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        worker::Keybot::clearQueue();
        makeKeyboard = [this] { return std::make_unique<GatedKeyboard>(m_gate); };
    }
    void TearDown() override {
        m_gate->openNow();
        if (m_opener.joinable())
            m_opener.join();
        WindowFixture::TearDown();
        worker::Keybot::clearQueue();
        worker::Keybot::setBacklogLimit(std::chrono::milliseconds(5000));
    }

    // Starts, sends three records and waits until the first value is being typed and two wait.
    VudareDiVezFrame2& startWithTwoWaiting() {
        tspSimAddPort("COM5", nullptr, nullptr);
        VudareDiVezFrame2& w = open();
        QTest::mouseClick(w.startStopJButton, Qt::LeftButton);
        EXPECT_TRUE(processEventsUntil([&] { return w.isConnected(); }));
        const QByteArray records("+0001.11 g\r+0002.22 g\r+0003.33 g\r");
        tspSimFeed("COM5", reinterpret_cast<const uint8_t*>(records.constData()), int32_t(records.size()));
        EXPECT_TRUE(processEventsUntil([&] { return m_gate->hasArrived() && worker::Keybot::queuedCount() == 2; }));
        return w;
    }

    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
    std::thread m_opener;
};

TEST_F(CloseWhileTyping, TheFirstCloseTypesEveryQueuedValueThenCloses) {
    VudareDiVezFrame2& w = startWithTwoWaiting();
    QSignalSpy exits(&w, &VudareDiVezFrame2::exitRequested);
    EXPECT_FALSE(w.close()) << "the window stays while the queue is typed";
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.statusLabel()->text().contains(QStringLiteral("Typing 2 queued values")))
        << w.statusLabel()->text().toStdString();
    EXPECT_FALSE(tspSimIsOpen("COM5") && w.acquisition().isRunning()) << "reading stopped";
    m_gate->openNow();
    ASSERT_TRUE(processEventsUntil([&] { return !exits.isEmpty(); }));
    EXPECT_EQ(exits.first().first().toInt(), 0);
    EXPECT_EQ(m_gate->typedSoFar(), "1.112.223.33");
    EXPECT_EQ(worker::Keybot::queuedCount(), 0);
}

TEST_F(CloseWhileTyping, TheSecondCloseStopsAfterTheValueUnderWayAndCountsTheRest) {
    VudareDiVezFrame2& w = startWithTwoWaiting();
    QSignalSpy exits(&w, &VudareDiVezFrame2::exitRequested);
    EXPECT_FALSE(w.close());
    // The second close waits for the value under way, which the gate holds until a moment later.
    m_opener = std::thread([gate = m_gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        gate->openNow();
    });
    w.close();
    ASSERT_TRUE(processEventsUntil([&] { return !exits.isEmpty(); }));
    EXPECT_EQ(m_gate->typedSoFar(), "1.11") << "the value under way is finished, nothing after it";
    w.eventLog()->flushPending();
    const QString log = w.eventLog()->document()->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("2 queued value(s) were not typed"))) << log.toStdString();
}

} // namespace

namespace {

// While typing lags behind, the status line shows the backlog instead of the record count, and the count comes
// back once the queue has caught up. The limit is set to nothing, so that any wait counts as lagging.
TEST_F(CloseWhileTyping, TheStatusLineShowsTheBacklogWhileItLasts) {
    worker::Keybot::setBacklogLimit(std::chrono::milliseconds(0));
    VudareDiVezFrame2& w = startWithTwoWaiting();
    // The status line was last refreshed when a record came in: the three records may all have been queued
    // before the keyboard took the first, so it counts the value under way too, or not.
    const QString status = w.statusLabel()->text();
    EXPECT_TRUE(status.startsWith(QStringLiteral("Typing falls behind: 2")) ||
                status.startsWith(QStringLiteral("Typing falls behind: 3")))
        << status.toStdString();
    m_gate->openNow();
    const QString counted = test::tavloText("line.count") + QStringLiteral("3");
    EXPECT_TRUE(processEventsUntil([&] { return w.statusLabel()->text() == counted; }))
        << w.statusLabel()->text().toStdString();
    w.eventLog()->flushPending();
    const QString log = w.eventLog()->document()->toPlainText();
    // With no limit at all even the first value lagged for a moment; every lag is ended by one caught-up line.
    const qsizetype behind = log.count(QStringLiteral("Typing falls behind"));
    EXPECT_GE(behind, 1) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Typing has caught up")), behind) << log.toStdString();
    EXPECT_LT(log.lastIndexOf(QStringLiteral("Typing falls behind")),
              log.lastIndexOf(QStringLiteral("Typing has caught up")));
}

} // namespace
