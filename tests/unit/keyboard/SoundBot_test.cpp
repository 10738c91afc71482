#include "worker/SoundBot.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

using tavlo::worker::SoundBot;
using namespace std::chrono_literals;

namespace {

class RecordingSynth : public tavlo::platform::MidiSynth {
public:
    struct Note {
        bool on;
        int channel;
        int key;
        int velocity;
        std::chrono::steady_clock::time_point at;
    };
    void noteOn(int channel, int key, int velocity) override { add({true, channel, key, velocity, now()}); }
    void noteOff(int channel, int key, int velocity) override { add({false, channel, key, velocity, now()}); }
    void close() override { closed = true; }
    std::vector<Note> notes() {
        std::lock_guard lock(mutex);
        return m_notes;
    }
    bool waitForNotes(size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return m_notes.size() >= n; });
    }
    bool closed = false;

private:
    static std::chrono::steady_clock::time_point now() { return std::chrono::steady_clock::now(); }
    void add(const Note& n) {
        {
            std::lock_guard lock(mutex);
            m_notes.push_back(n);
        }
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Note> m_notes;
};

// Runs the pending action only when the test says so.
class ManualTimer : public SoundBot::NoteOffTimer {
public:
    void schedule(std::chrono::milliseconds after, std::function<void()> action) override {
        delays.push_back(after);
        pending = std::move(action);
    }
    void cancel() override {
        if (pending)
            ++cancelled;
        pending = nullptr;
    }
    void fire() {
        auto action = std::move(pending);
        pending = nullptr;
        if (action)
            action();
    }
    std::function<void()> pending;
    std::vector<std::chrono::milliseconds> delays;
    int cancelled = 0;
};

struct Fixture {
    explicit Fixture(int key = 56) {
        auto s = std::make_unique<RecordingSynth>();
        auto t = std::make_unique<ManualTimer>();
        synth = s.get();
        timer = t.get();
        bot = std::make_unique<SoundBot>(key, std::move(s), std::move(t));
    }
    RecordingSynth* synth;
    ManualTimer* timer;
    std::unique_ptr<SoundBot> bot;
};

TEST(SoundBot, HitIsNoteOnNowAndNoteOffOneTickLaterOnThePercussionChannel) {
    Fixture f(75);
    f.bot->beep();
    ASSERT_EQ(f.synth->notes().size(), 1u);
    ASSERT_TRUE(f.timer->pending);
    EXPECT_EQ(f.timer->delays, std::vector<std::chrono::milliseconds>{125ms});
    f.timer->fire();
    const auto notes = f.synth->notes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_TRUE(notes[0].on);
    EXPECT_FALSE(notes[1].on);
    for (const auto& n : notes) {
        EXPECT_EQ(n.channel, 9);
        EXPECT_EQ(n.key, 75);
        EXPECT_EQ(n.velocity, 127);
    }
}

TEST(SoundBot, SecondBeepRewindsTheHitAndMovesItsNoteOff) {
    Fixture f;
    f.bot->beep();
    f.bot->beep();
    EXPECT_EQ(f.timer->cancelled, 1) << "the first hit's note-off is dropped";
    EXPECT_EQ(f.timer->delays.size(), 2u);
    f.timer->fire();
    const auto notes = f.synth->notes();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_TRUE(notes[0].on);
    EXPECT_TRUE(notes[1].on);
    EXPECT_FALSE(notes[2].on);
}

TEST(SoundBot, CloseEndsTheSynthesiserAndSilencesLaterBeeps) {
    Fixture f;
    f.bot->beep();
    f.bot->close();
    EXPECT_TRUE(f.synth->closed);
    EXPECT_FALSE(f.timer->pending);
    f.bot->beep();
    EXPECT_EQ(f.synth->notes().size(), 1u);
}

TEST(SoundBot, WithoutSynthesiserConstructionFails) {
    EXPECT_THROW(SoundBot(56, nullptr), tavlo::platform::MidiError);
}

// With the real clock the note-off comes on its own, never before its tick is over.
TEST(SoundBot, RealTimerSendsTheNoteOffAfterATick) {
    auto s = std::make_unique<RecordingSynth>();
    RecordingSynth* synth = s.get();
    SoundBot bot(53, std::move(s));
    bot.beep();
    ASSERT_TRUE(synth->waitForNotes(2));
    const auto notes = synth->notes();
    EXPECT_TRUE(notes[0].on);
    EXPECT_FALSE(notes[1].on);
    EXPECT_GE(notes[1].at - notes[0].at, 125ms);
}

} // namespace
