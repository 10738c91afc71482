#pragma once

#include <stdexcept>

namespace tavlo::platform {

// A synthesiser, soundfont or audio output that is missing or refuses to work.
class MidiError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A General MIDI synthesiser that plays notes as they come. Channels are 0-based (9 is percussion).
class MidiSynth {
public:
    virtual ~MidiSynth() = default;
    virtual void noteOn(int channel, int key, int velocity) = 0;
    virtual void noteOff(int channel, int key, int velocity) = 0;
    // Releases the synthesiser; later notes are ignored.
    virtual void close() = 0;
};

} // namespace tavlo::platform
