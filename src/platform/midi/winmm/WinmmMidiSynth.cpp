#include "platform/midi/winmm/WinmmMidiSynth.h"

#include <windows.h>

#include <mmsystem.h>

#include <string>

namespace tavlo::platform {

WinmmMidiSynth::WinmmMidiSynth() {
    HMIDIOUT handle = nullptr;
    const MMRESULT result = midiOutOpen(&handle, MIDI_MAPPER, 0, 0, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR) {
        char text[MAXERRORLENGTH] = {};
        midiOutGetErrorTextA(result, text, sizeof text);
        throw MidiError(std::string("Cannot open the MIDI output: ") + text);
    }
    m_handle = handle;
}

WinmmMidiSynth::~WinmmMidiSynth() {
    close();
}

void WinmmMidiSynth::shortMessage(unsigned status, int channel, int key, int velocity) {
    std::lock_guard lock(m_mutex);
    if (!m_handle)
        return;
    const DWORD message = (status | (static_cast<DWORD>(channel) & 0x0f)) | ((static_cast<DWORD>(key) & 0x7f) << 8) |
                          ((static_cast<DWORD>(velocity) & 0x7f) << 16);
    midiOutShortMsg(static_cast<HMIDIOUT>(m_handle), message);
}

void WinmmMidiSynth::noteOn(int channel, int key, int velocity) {
    shortMessage(0x90, channel, key, velocity);
}

void WinmmMidiSynth::noteOff(int channel, int key, int velocity) {
    shortMessage(0x80, channel, key, velocity);
}

void WinmmMidiSynth::close() {
    std::lock_guard lock(m_mutex);
    if (!m_handle)
        return;
    midiOutReset(static_cast<HMIDIOUT>(m_handle));
    midiOutClose(static_cast<HMIDIOUT>(m_handle));
    m_handle = nullptr;
}

} // namespace tavlo::platform
