#pragma once

#include "platform/MidiSynth.h"

#include <chrono>
#include <functional>
#include <memory>

namespace tavlo::worker {

// One short percussion hit per typed value: Note On at once on the General MIDI percussion channel and the
// Note Off one tick later (a tick is 125 ms: four ticks per quarter note at 120 quarter notes per minute).
// Used from the GUI thread only; beep never waits.
class SoundBot {
public:
    static constexpr int kChannel = 9; // channel 10, the percussion channel
    static constexpr int kVelocity = 127;
    static constexpr std::chrono::milliseconds kTick{125};

    // Runs one deferred action at a time: scheduling again replaces the action still pending.
    class NoteOffTimer {
    public:
        virtual ~NoteOffTimer() = default;
        virtual void schedule(std::chrono::milliseconds after, std::function<void()> action) = 0;
        // Drops the pending action and waits for one that is running.
        virtual void cancel() = 0;
    };

    // MidiError when there is no synthesiser.
    SoundBot(int percussionNumber, std::unique_ptr<platform::MidiSynth> synth);
    SoundBot(int percussionNumber, std::unique_ptr<platform::MidiSynth> synth, std::unique_ptr<NoteOffTimer> timer);
    ~SoundBot();
    SoundBot(const SoundBot&) = delete;
    SoundBot& operator=(const SoundBot&) = delete;

    // Plays the hit from its start; a hit still sounding is started over, its Note Off moved along.
    void beep();
    // Closes the synthesiser; later beeps are silent.
    void close();

private:
    int m_percussionNumber;
    std::unique_ptr<platform::MidiSynth> m_synth;
    std::unique_ptr<NoteOffTimer> m_timer;
    bool m_closed = false;
};

} // namespace tavlo::worker
