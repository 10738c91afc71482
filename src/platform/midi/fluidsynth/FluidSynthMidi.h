#pragma once

#include "platform/MidiSynth.h"

#include <mutex>
#include <string>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_audio_driver_t fluid_audio_driver_t;
typedef struct _fluid_file_renderer_t fluid_file_renderer_t;

namespace tavlo::platform {

// FluidSynth with a General MIDI soundfont, playing through its audio driver, or (for tests) rendering into
// a raw file of 16-bit stereo samples at 44100 Hz on request.
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

    static constexpr int kSampleRate = 44100;
    // TAVLO_SOUNDFONT when set, else the General MIDI soundfont of timgm6mb-soundfont or another installed one;
    // empty when there is none.
    static std::string findSoundfont();

private:
    void release();

    std::mutex m_mutex;
    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    fluid_audio_driver_t* m_driver = nullptr;
    fluid_file_renderer_t* m_renderer = nullptr;
};

} // namespace tavlo::platform
