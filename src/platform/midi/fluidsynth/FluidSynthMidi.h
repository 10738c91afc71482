#pragma once

#include "platform/MidiSynth.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_audio_driver_t fluid_audio_driver_t;
typedef struct _fluid_file_renderer_t fluid_file_renderer_t;

namespace tavlo::platform {

// FluidSynth with a General MIDI soundfont, playing through its audio driver, or (for tests) rendering into
// a raw file of 16-bit stereo samples at 44100 Hz on request.
//
// A running audio driver wakes the processor for every buffer it fills, also in silence, so it runs only
// around notes: a Note On opens it (when closed), and once the last note has died away after its Note Off a
// thread of this object closes it again. Construction opens it once to find out whether there is an output.
class FluidSynthMidi : public MidiSynth {
public:
    struct Options {
        std::string soundfont;   // empty: the first one found by findSoundfont
        std::string audioDriver; // empty: FluidSynth's default
        std::string alsaDevice;  // for the alsa driver; empty: its default
        std::string renderFile;  // not empty: no audio output, render() writes here
    };

    // MidiError with the reason when the soundfont is missing or the synthesiser or audio output fails.
    explicit FluidSynthMidi(const Options& options);
    FluidSynthMidi() : FluidSynthMidi(Options{}) {}
    ~FluidSynthMidi() override;
    FluidSynthMidi(const FluidSynthMidi&) = delete;
    FluidSynthMidi& operator=(const FluidSynthMidi&) = delete;

    void noteOn(int channel, int key, int velocity) override;
    void noteOff(int channel, int key, int velocity) override;
    void close() override;

    // Renders that much sound into the render file (render mode only).
    void render(int milliseconds);
    // True while the audio driver is open.
    bool outputOpen();

    static constexpr int kSampleRate = 44100;
    // TAVLO_SOUNDFONT when set, else the General MIDI soundfont of timgm6mb-soundfont or another installed one;
    // empty when there is none.
    static std::string findSoundfont();

    // How long after a Note Off the driver is asked to close; it stays open while any voice still sounds.
    static constexpr std::chrono::milliseconds kCloseDelay{500};

private:
    void release();
    // The closing thread: waits (without a timeout while nothing is due) until the driver may close.
    void closeLoop();
    void stopClosing();

    std::mutex m_mutex;
    std::condition_variable m_closeChanged;
    std::optional<std::chrono::steady_clock::time_point> m_closeDue;
    bool m_closerStop = false;
    std::thread m_closer;
    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    fluid_audio_driver_t* m_driver = nullptr;
    fluid_file_renderer_t* m_renderer = nullptr;
};

} // namespace tavlo::platform
