#pragma once

#include "platform/MidiSynth.h"

#include <mutex>

namespace tavlo::platform {

// The Windows MIDI mapper (the built-in General MIDI synthesiser unless the user chose another device).
class WinmmMidiSynth : public MidiSynth {
public:
    // MidiError when no MIDI output can be opened.
    WinmmMidiSynth();
    ~WinmmMidiSynth() override;
    WinmmMidiSynth(const WinmmMidiSynth&) = delete;
    WinmmMidiSynth& operator=(const WinmmMidiSynth&) = delete;

    void noteOn(int channel, int key, int velocity) override;
    void noteOff(int channel, int key, int velocity) override;
    void close() override;

private:
    void shortMessage(unsigned status, int channel, int key, int velocity);

    std::mutex m_mutex;
    void* m_handle = nullptr;
};

} // namespace tavlo::platform
