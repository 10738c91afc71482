#include "platform/KeyCodes.h"
#include "platform/keyboard/recording/RecordingKeyboard.h"
#include "worker/Keybot.h"
#include "worker/WeightWorkerView.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

using tavlo::platform::RecordingKeyboard;
using tavlo::worker::Keybot;
using KT = tavlo::config::ConfigHelper::KeyboardType;
using KMT = tavlo::config::ConfigHelper::KeyMapType;
using namespace std::chrono_literals;

namespace {

class FakeView : public tavlo::worker::WeightWorkerView {
public:
    void logEvent(const QString& text) override {
        std::lock_guard lock(m_mutex);
        m_events.append(text);
    }
    void logImportantEvent(const QString& text) override {
        std::lock_guard lock(m_mutex);
        m_important.append(text);
    }
    void setConnectedInGUI(bool) override {}
    void update(const tavlo::worker::DataLine&) override {}
    void keyboardLost(const QString& reason) override {
        std::lock_guard lock(m_mutex);
        m_lost.append(reason);
    }
    QStringList lost() {
        std::lock_guard lock(m_mutex);
        return m_lost;
    }
    QStringList events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    QStringList important() {
        std::lock_guard lock(m_mutex);
        return m_important;
    }

private:
    std::mutex m_mutex;
    QStringList m_events;
    QStringList m_important;
    QStringList m_lost;
};

struct Options {
    const KT* layout = &KT::QUERTY;
    KMT coverage = KMT::ALPHANUMERIC_COMPLETE;
    int delay = 7;
    int startWith = 0;
    int endWith = 0;
    int endWith2 = 0;
    int everyX = 0;
    bool withView = true;
};

// Holds its first key press until opened, so that a test can act while a value is being typed.
class GatedKeyboard : public RecordingKeyboard {
public:
    GatedKeyboard() : RecordingKeyboard(false) {}
    void keyPress(int keyCode) override {
        std::unique_lock lock(m_mutex);
        m_arrived = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_open; });
        lock.unlock();
        RecordingKeyboard::keyPress(keyCode);
    }
    void waitArrived() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_arrived; });
    }
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_arrived = false;
    bool m_open = false;
};

struct Bench {
    explicit Bench(const Options& s = Options(), bool gated = false) {
        std::unique_ptr<RecordingKeyboard> device;
        if (gated)
            device = std::make_unique<GatedKeyboard>();
        else
            device = std::make_unique<RecordingKeyboard>(false);
        keyboard = device.get();
        keybot = std::make_shared<Keybot>(s.delay, s.startWith, s.endWith, s.endWith2, s.everyX, s.layout, s.coverage,
                                          s.withView ? &view : nullptr, std::move(device));
    }
    FakeView view;
    RecordingKeyboard* keyboard;
    std::shared_ptr<Keybot> keybot;
};

struct TypingCase {
    const char* name;
    const KT* layout;
    KMT coverage;
    QString value;
    std::string trace;
};

void PrintTo(const TypingCase& c, std::ostream* os) {
    *os << c.name;
}

class KeybotTyping : public ::testing::TestWithParam<TypingCase> {};

TEST_P(KeybotTyping, PressesReleasesAndPausesInOrder) {
    const TypingCase& c = GetParam();
    Options s;
    s.layout = c.layout;
    s.coverage = c.coverage;
    Bench b(s);
    b.keybot->typeString(c.value);
    EXPECT_EQ(b.keyboard->keyTrace(), c.trace);
    EXPECT_TRUE(b.view.important().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, KeybotTyping,
    ::testing::Values(
        TypingCase{"PlainLetter", &KT::QUERTY, KMT::ALPHANUMERIC_COMPLETE, "a", "P65 D7 R65 D7"},
        TypingCase{"ShiftLetter", &KT::QUERTY, KMT::ALPHANUMERIC_BASIC, "A", "P16 D7 P65 D7 R65 D7 R16 D7"},
        TypingCase{"AltCode", &KT::ALL, KMT::NUMERIC, "0", "P18 D7 P100 D7 R100 D7 P104 D7 R104 D7 R18 D7 D7"},
        TypingCase{"DeadKey", &KT::US_INTERNATIONAL, KMT::ALPHANUMERIC_COMPLETE, "'", "P129 D7 R129 D7 P32 D7 R32 D7"},
        TypingCase{"AltGrDeadKey", &KT::AZERTY, KMT::ALPHANUMERIC_COMPLETE, "`",
                   "P17 D7 P18 D7 P55 D7 R55 D7 R18 D7 R17 D7 P32 D7 R32 D7"},
        TypingCase{"SpaceAlone", &KT::QUERTY, KMT::ALPHANUMERIC_COMPLETE, " ", "P32 D7 R32 D7"},
        TypingCase{"TwoCharacters", &KT::AZERTY, KMT::NUMERIC, "-7", "P54 D7 R54 D7 P16 D7 P55 D7 R55 D7 R16 D7"}));

TEST(Keybot, HintsEachCharacterAroundItsSequence) {
    Bench b;
    b.keybot->typeString("a!");
    using K = RecordingKeyboard::Kind;
    std::vector<std::pair<K, int>> seen;
    for (const auto& e : b.keyboard->events())
        if (e.kind != K::Pause)
            seen.emplace_back(e.kind, e.value);
    const std::vector<std::pair<K, int>> expected{{K::Begin, 'a'},  {K::Press, 65}, {K::Release, 65}, {K::End, 0},
                                                  {K::Begin, '!'},  {K::Press, 16}, {K::Press, 49},   {K::Release, 49},
                                                  {K::Release, 16}, {K::End, 0}};
    EXPECT_EQ(seen, expected);
}

struct MissingCase {
    KMT coverage;
    QString value;
    std::string trace;
    QStringList reported;
};

class KeybotMissing : public ::testing::TestWithParam<MissingCase> {};

TEST_P(KeybotMissing, ReportsEachOccurrenceAndTypesTheRest) {
    const MissingCase& c = GetParam();
    Options s;
    s.coverage = c.coverage;
    Bench b(s);
    b.keybot->typeString(c.value);
    EXPECT_EQ(b.keyboard->keyTrace(), c.trace);
    const QString prefix = tavlo::base::ResourceBundle::getBundle("tavlo.worker.WorkerBundle").getString("cannot_type");
    QStringList expected;
    for (const QString& r : c.reported)
        expected.append(prefix + r);
    EXPECT_EQ(b.view.important(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, KeybotMissing,
    ::testing::Values(MissingCase{KMT::ALPHANUMERIC_BASIC, "1a1a", "P49 D7 R49 D7 P49 D7 R49 D7", {"a", "a"}},
                      MissingCase{KMT::ALPHANUMERIC_COMPLETE, "1\n", "P49 D7 R49 D7", {"<10>"}},
                      MissingCase{KMT::ALPHANUMERIC_COMPLETE,
                                  QString::fromUtf8("\xc3\xa9\xf0\x9f\x98\x80"),
                                  "",
                                  {"<233>", "<128512>"}}));

TEST(Keybot, StartKeyIsTappedWithoutTrailingPause) {
    Options s;
    s.startWith = tavlo::platform::KeyCode::TAB;
    Bench b(s);
    b.keybot->typeStart();
    EXPECT_EQ(b.keyboard->keyTrace(), "P9 D7 R9");
}

struct TerminatorCase {
    int endWith;
    int endWith2;
    int everyX;
    std::string trace; // six values
};

class KeybotTerminators : public ::testing::TestWithParam<TerminatorCase> {};

TEST_P(KeybotTerminators, SecondTerminatorReplacesTheFirstOnEveryXthValue) {
    const TerminatorCase& c = GetParam();
    Options s;
    s.endWith = c.endWith;
    s.endWith2 = c.endWith2;
    s.everyX = c.everyX;
    Bench b(s);
    for (int i = 0; i < 6; ++i)
        b.keybot->typeEnd();
    EXPECT_EQ(b.keyboard->keyTrace(), c.trace);
}

INSTANTIATE_TEST_SUITE_P(
    EveryX, KeybotTerminators,
    ::testing::Values(TerminatorCase{9, 10, 3, "P9 D7 R9 P9 D7 R9 P10 D7 R10 P9 D7 R9 P9 D7 R9 P10 D7 R10"},
                      TerminatorCase{9, 0, 3, "P9 D7 R9 P9 D7 R9 P9 D7 R9 P9 D7 R9"},
                      TerminatorCase{0, 10, 3, "P10 D7 R10 P10 D7 R10"},
                      TerminatorCase{9, 10, 1, "P9 D7 R9 P9 D7 R9 P9 D7 R9 P9 D7 R9 P9 D7 R9 P9 D7 R9"},
                      TerminatorCase{9, 10, 0, "P9 D7 R9 P9 D7 R9 P9 D7 R9 P9 D7 R9 P9 D7 R9 P9 D7 R9"}));

struct FailureCase {
    const char* name;
    const KT* layout;
    QString value;
    int failPress;
    int failRelease;
    std::string trace;
    QString logged;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class KeybotFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(KeybotFailures, AreLoggedAndTypingGoesOn) {
    const FailureCase& c = GetParam();
    Options s;
    s.layout = c.layout;
    Bench b(s);
    if (c.failPress)
        b.keyboard->failPress(c.failPress);
    if (c.failRelease)
        b.keyboard->failRelease(c.failRelease);
    b.keybot->typeString(c.value);
    EXPECT_EQ(b.keyboard->keyTrace(), c.trace);
    ASSERT_EQ(b.view.important().size(), 1);
    EXPECT_EQ(b.view.important().first(), c.logged);
}

INSTANTIATE_TEST_SUITE_P(
    Events, KeybotFailures,
    ::testing::Values(FailureCase{"ChordPress", &KT::QUERTY, "Ab", 65, 0, "P16 D7 D7 R65 D7 R16 D7 P66 D7 R66 D7",
                                  "Error pressing key 65 on QUERTY keyboard: Invalid key code"},
                      FailureCase{"ChordRelease", &KT::QUERTY, "A", 0, 16, "P16 D7 P65 D7 R65 D7 D7",
                                  "Error releasing key 16 on QUERTY keyboard: Invalid key code"},
                      FailureCase{"DeadKeySpace", &KT::US_INTERNATIONAL, "'a", 32, 0, "P129 D7 R129 D7 P65 D7 R65 D7",
                                  "Deadkey error: Invalid key code"},
                      FailureCase{"AltDigit", &KT::ALL, "a0", 105, 0,
                                  "P18 D7 R18 D7 P18 D7 P100 D7 R100 D7 P104 D7 R104 D7 R18 D7 D7",
                                  "Error pressing ALT key for a on ALL keyboard: Invalid key code"},
                      FailureCase{"AltItself", &KT::ALL, "0", 18, 0, "D7",
                                  "Error pressing ALT key for 0 on ALL keyboard: Invalid key code"}));

struct LostCase {
    const char* name;
    const KT* layout;
    int losePress; // the key code whose press finds the desktop gone
    std::string trace;
};

void PrintTo(const LostCase& c, std::ostream* os) {
    *os << c.name;
}

class KeybotDesktopLost : public ::testing::TestWithParam<LostCase> {
protected:
    void SetUp() override { Keybot::clearQueue(); }
    void TearDown() override { Keybot::clearQueue(); }
};

// Wherever the desktop goes away, typing stops there: no further key event, one report, the view told once, and
// the values behind stay queued for a later run.
TEST_P(KeybotDesktopLost, StopsTypingAndReportsOnce) {
    const LostCase& c = GetParam();
    Options s;
    s.layout = c.layout;
    s.delay = 0;
    s.startWith = 9;
    s.endWith = 10;
    Bench b(s);
    b.keyboard->loseDesktopAtPress(c.losePress);
    Keybot::add("1A2");
    Keybot::add("3");
    Keybot::add("4");
    b.keybot->start();
    ASSERT_TRUE(b.keybot->waitFinished(10000)) << "the thread ends by itself";
    EXPECT_EQ(b.keyboard->keyTrace(), c.trace);
    EXPECT_EQ(
        b.view.important(),
        QStringList{"Typing stopped: The test desktop went away. The value being typed (1A2) may be incomplete."});
    EXPECT_EQ(b.view.lost(), QStringList{"The test desktop went away"});
    EXPECT_EQ(Keybot::queuedCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Where, KeybotDesktopLost,
                         ::testing::Values(LostCase{"StartKey", &KT::QUERTY, 9, ""},
                                           LostCase{"InAChord", &KT::QUERTY, 16, "P9 D0 R9 P49 D0 R49 D0"},
                                           LostCase{"InAnAltCode", &KT::ALL, 105, "P9 D0 R9 P18 D0 P100 D0 R100 D0"},
                                           LostCase{
                                               "Terminator", &KT::QUERTY, 10,
                                               "P9 D0 R9 P49 D0 R49 D0 P16 D0 P65 D0 R65 D0 R16 D0 P50 D0 R50 D0"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A desktop that cannot prepare a character (its keymap could not be read): the character is reported and
// skipped, the rest of the value is typed.
TEST(Keybot, ACharacterTheDeviceCannotPrepareIsReportedAndSkipped) {
    class Refusing : public RecordingKeyboard {
    public:
        Refusing() : RecordingKeyboard(false) {}
        void beginCharacter(char32_t c, std::span<const int> sequence) override {
            if (c == U'2')
                throw tavlo::platform::KeyboardError("Cannot read the keymap");
            RecordingKeyboard::beginCharacter(c, sequence);
        }
    };
    FakeView view;
    auto device = std::make_unique<Refusing>();
    RecordingKeyboard* keyboard = device.get();
    Keybot keybot(0, 0, 0, 0, 0, &KT::QUERTY, KMT::NUMERIC, &view, std::move(device));
    keybot.typeString("123");
    EXPECT_EQ(keyboard->keyTrace(), "P49 D0 R49 D0 P51 D0 R51 D0");
    EXPECT_EQ(view.important(), QStringList{"Error typing 2 on QUERTY keyboard: Cannot read the keymap"});
}

TEST(Keybot, WithoutViewReportsOnTheConsole) {
    Options s;
    s.withView = false;
    s.coverage = KMT::NUMERIC;
    Bench b(s);
    b.keyboard->failPress(49);
    testing::internal::CaptureStderr();
    b.keybot->typeString("1x");
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Error pressing key 49 on QUERTY keyboard: Invalid key code"), std::string::npos) << out;
    EXPECT_NE(out.find("x"), std::string::npos);
}

class KeybotThread : public ::testing::Test {
protected:
    void SetUp() override { Keybot::clearQueue(); }
    void TearDown() override { Keybot::clearQueue(); }

    static bool releasedEnter(const std::vector<RecordingKeyboard::Event>& events, int count) {
        int n = 0;
        for (const auto& e : events)
            n += e.kind == RecordingKeyboard::Kind::Release && e.value == 10;
        return n >= count;
    }
};

TEST_F(KeybotThread, TypesQueuedValuesInOrderAndDropsEmptyOnes) {
    Options s;
    s.coverage = KMT::NUMERIC;
    s.delay = 0;
    s.startWith = 9;
    s.endWith = 10;
    Bench b(s);
    Keybot::add("1");
    Keybot::add("");
    Keybot::add("2");
    EXPECT_EQ(Keybot::queuedCount(), 2);
    b.keybot->start();
    ASSERT_TRUE(b.keyboard->waitFor([](const auto& e) { return releasedEnter(e, 2); }, 10s));
    b.keybot->interrupt();
    ASSERT_TRUE(b.keybot->waitFinished(10000));
    EXPECT_EQ(b.keyboard->keyTrace(), "P9 D0 R9 P49 D0 R49 D0 P10 D0 R10 P9 D0 R9 P50 D0 R50 D0 P10 D0 R10");
    EXPECT_EQ(Keybot::queuedCount(), 0);
}

// Typing that falls behind is told once when a value is added or taken, and once when it has caught up; nothing
// is dropped. The limit is shortened so that the test does not wait five seconds.
TEST_F(KeybotThread, ABacklogIsToldOnceAndItsEndOnce) {
    Keybot::setBacklogLimit(50ms);
    Options s;
    s.coverage = KMT::NUMERIC;
    s.delay = 0;
    s.endWith = 10;
    Bench b(s);
    EXPECT_TRUE(Keybot::add("1").isEmpty());
    EXPECT_FALSE(Keybot::isBehind());
    std::this_thread::sleep_for(80ms); // the first value now waits longer than the limit
    const QString behind = Keybot::add("2");
    EXPECT_TRUE(behind.contains(QStringLiteral("2 values"))) << behind.toStdString();
    EXPECT_TRUE(Keybot::isBehind());
    EXPECT_TRUE(Keybot::add("3").isEmpty()) << "told once while it lasts";
    EXPECT_EQ(Keybot::queuedCount(), 3);

    b.keybot->start();
    ASSERT_TRUE(b.keyboard->waitFor([](const auto& e) { return releasedEnter(e, 3); }, 10s));
    b.keybot->interrupt();
    ASSERT_TRUE(b.keybot->waitFinished(10000));
    EXPECT_FALSE(Keybot::isBehind());
    const QStringList caughtUp = b.view.important().filter(QStringLiteral("caught up"));
    EXPECT_EQ(caughtUp.size(), 1) << b.view.important().join(u'|').toStdString();
    EXPECT_EQ(b.keyboard->keyTrace(), "P49 D0 R49 D0 P10 D0 R10 P50 D0 R50 D0 P10 D0 R10 P51 D0 R51 D0 P10 D0 R10");
    Keybot::setBacklogLimit(5000ms);
}

TEST_F(KeybotThread, InterruptionWhileWaitingEndsTheThread) {
    Bench b;
    b.keybot->start();
    b.keybot->interrupt();
    EXPECT_TRUE(b.keybot->waitFinished(10000));
    EXPECT_TRUE(b.keyboard->events().empty());
}

TEST_F(KeybotThread, NextRunWaitsForTheValueBeingFinishedAndTypesWhatWasLeft) {
    Options s;
    s.delay = 5;
    s.endWith = 10;
    s.coverage = KMT::NUMERIC;
    auto first = std::make_unique<Bench>(s, true);
    auto* gate = static_cast<GatedKeyboard*>(first->keyboard);
    Keybot::add("1234567890");
    Keybot::add("99");
    first->keybot->start();
    // Stop while the first value is under way, and start the next run at once.
    gate->waitArrived();
    first->keybot->interrupt();
    Bench second(s);
    second.keybot->start();
    gate->open();
    ASSERT_TRUE(second.keyboard->waitFor([](const auto& e) { return releasedEnter(e, 1); }, 10s));
    ASSERT_TRUE(first->keybot->waitFinished(10000));
    second.keybot->interrupt();
    ASSERT_TRUE(second.keybot->waitFinished(10000));

    const auto a = first->keyboard->events();
    const auto c = second.keyboard->events();
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(c.empty());
    EXPECT_TRUE(releasedEnter(a, 1)) << "the first run finishes its value";
    EXPECT_FALSE(releasedEnter(a, 2));
    EXPECT_LE(a.back().at, c.front().at) << "the second run types only after the first has ended";
    EXPECT_EQ(second.keyboard->keyTrace(), "P57 D5 R57 D5 P57 D5 R57 D5 P10 D5 R10");
    EXPECT_EQ(second.view.events().size(), 1) << "the value left over is announced";
    EXPECT_TRUE(second.view.events().value(0).startsWith("1 ")) << second.view.events().value(0).toStdString();
}

// A device that takes its time to close, as a display connection may.
class SlowClosingKeyboard : public GatedKeyboard {
public:
    explicit SlowClosingKeyboard(std::atomic<bool>& closed) : m_closed(closed) {}
    ~SlowClosingKeyboard() override {
        std::this_thread::sleep_for(200ms);
        m_closed = true;
    }

private:
    std::atomic<bool>& m_closed;
};

TEST_F(KeybotThread, WaitingForAllThreadsCoversTheDeviceBeingClosed) {
    std::atomic<bool> closed{false};
    auto device = std::make_unique<SlowClosingKeyboard>(closed);
    SlowClosingKeyboard* gate = device.get();
    auto keybot = std::make_shared<Keybot>(0, 0, 10, 0, 0, &KT::QUERTY, KMT::NUMERIC, nullptr, std::move(device));
    Keybot::add("12");
    keybot->start();
    gate->waitArrived();
    // Stopped while a value is typed, and let go of at once: the thread holds the last reference.
    keybot->interrupt();
    keybot.reset();
    gate->open();
    ASSERT_TRUE(Keybot::waitForAllThreads(10000));
    EXPECT_TRUE(closed) << "the wait ended before the device was closed";
    EXPECT_TRUE(Keybot::waitForAllThreads(0)) << "nothing left to wait for";
}

TEST(Keybot, CapsLockComesFromTheDevice) {
    Bench b;
    EXPECT_FALSE(b.keybot->isCapsLockOn());
    b.keyboard->setCapsLock(true);
    EXPECT_TRUE(b.keybot->isCapsLockOn());
}

TEST(Keybot, ConstructionWithoutDeviceFails) {
    EXPECT_THROW(Keybot(0, 0, 0, 0, 0, &KT::QUERTY, KMT::NUMERIC, nullptr, nullptr), tavlo::platform::KeyboardError);
}

} // namespace
