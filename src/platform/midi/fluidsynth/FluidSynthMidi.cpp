#include "platform/midi/fluidsynth/FluidSynthMidi.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <cstdlib>
#include <unistd.h>

namespace tavlo::platform {

namespace {

// FluidSynth reports its failures through a process-wide log function; the last error becomes part of ours.
std::mutex g_logMutex;
std::string g_lastError;

void captureError(int, const char* message, void*) {
    std::lock_guard lock(g_logMutex);
    g_lastError = message ? message : "";
}

// ALSA writes its own lines ("ALSA lib ... cannot find card") to standard error when FluidSynth looks for an
// audio device; the failure reaches the user as our own message instead.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void installLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(ignoreAlsaError);
        fluid_set_log_function(FLUID_PANIC, captureError, nullptr);
        fluid_set_log_function(FLUID_ERR, captureError, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
    std::lock_guard lock(g_logMutex);
    g_lastError.clear();
}

std::string withReason(const std::string& text) {
    std::lock_guard lock(g_logMutex);
    return g_lastError.empty() ? text : text + ": " + g_lastError;
}

} // namespace

std::string FluidSynthMidi::findSoundfont() {
    if (const char* chosen = std::getenv("TAVLO_SOUNDFONT"); chosen && *chosen)
        return chosen;
    for (const char* path : {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/default-GM.sf2",
                             "/usr/share/soundfonts/default.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"})
        if (::access(path, R_OK) == 0)
            return path;
    return std::string();
}

FluidSynthMidi::FluidSynthMidi(const Options& options) {
    installLog();
    const std::string soundfont = options.soundfont.empty() ? findSoundfont() : options.soundfont;
    if (soundfont.empty())
        throw MidiError("No General MIDI soundfont found (package timgm6mb-soundfont)");
    if (::access(soundfont.c_str(), R_OK) != 0)
        throw MidiError("The soundfont " + soundfont + " cannot be read");

    m_settings = new_fluid_settings();
    if (!m_settings)
        throw MidiError(withReason("Cannot create the MIDI synthesiser settings"));
    try {
        fluid_settings_setnum(m_settings, "synth.sample-rate", kSampleRate);
        if (!options.renderFile.empty()) {
            fluid_settings_setstr(m_settings, "audio.file.name", options.renderFile.c_str());
            fluid_settings_setstr(m_settings, "audio.file.type", "raw");
            fluid_settings_setstr(m_settings, "audio.file.format", "s16");
            fluid_settings_setstr(m_settings, "audio.file.endian", "little");
            fluid_settings_setstr(m_settings, "player.timing-source", "sample");
        } else if (!options.audioDriver.empty()) {
            if (fluid_settings_setstr(m_settings, "audio.driver", options.audioDriver.c_str()) != FLUID_OK)
                throw MidiError("Unknown audio driver " + options.audioDriver);
            if (!options.alsaDevice.empty())
                fluid_settings_setstr(m_settings, "audio.alsa.device", options.alsaDevice.c_str());
        }
        m_synth = new_fluid_synth(m_settings);
        if (!m_synth)
            throw MidiError(withReason("Cannot create the MIDI synthesiser"));
        if (fluid_synth_sfload(m_synth, soundfont.c_str(), 1) == FLUID_FAILED)
            throw MidiError(withReason("Cannot load the soundfont " + soundfont));
        if (!options.renderFile.empty()) {
            m_renderer = new_fluid_file_renderer(m_synth);
            if (!m_renderer)
                throw MidiError(withReason("Cannot render MIDI into " + options.renderFile));
        } else {
            m_driver = new_fluid_audio_driver(m_settings, m_synth);
            if (!m_driver)
                throw MidiError(withReason("No audio output for the MIDI synthesiser"));
            // The output works; it opens again with the first note.
            delete_fluid_audio_driver(m_driver);
            m_driver = nullptr;
            m_closer = std::thread([this] { closeLoop(); });
        }
    } catch (...) {
        release();
        throw;
    }
}

FluidSynthMidi::~FluidSynthMidi() {
    close();
}

void FluidSynthMidi::stopClosing() {
    {
        std::lock_guard lock(m_mutex);
        m_closerStop = true;
    }
    m_closeChanged.notify_all();
    if (m_closer.joinable() && m_closer.get_id() != std::this_thread::get_id())
        m_closer.join();
}

void FluidSynthMidi::closeLoop() {
    std::unique_lock lock(m_mutex);
    while (!m_closerStop) {
        if (!m_closeDue) {
            m_closeChanged.wait(lock);
            continue;
        }
        const auto due = *m_closeDue;
        if (m_closeChanged.wait_until(lock, due) != std::cv_status::timeout)
            continue; // a new note or the end: look again
        if (!m_closeDue || *m_closeDue != due)
            continue;
        if (m_synth && fluid_synth_get_active_voice_count(m_synth) > 0) {
            m_closeDue = std::chrono::steady_clock::now() + kCloseDelay; // still sounding
            continue;
        }
        m_closeDue.reset();
        if (m_driver) {
            delete_fluid_audio_driver(m_driver);
            m_driver = nullptr;
        }
    }
}

bool FluidSynthMidi::outputOpen() {
    std::lock_guard lock(m_mutex);
    return m_driver != nullptr;
}

void FluidSynthMidi::release() {
    if (m_driver)
        delete_fluid_audio_driver(m_driver);
    if (m_renderer)
        delete_fluid_file_renderer(m_renderer);
    if (m_synth)
        delete_fluid_synth(m_synth);
    if (m_settings)
        delete_fluid_settings(m_settings);
    m_driver = nullptr;
    m_renderer = nullptr;
    m_synth = nullptr;
    m_settings = nullptr;
}

void FluidSynthMidi::noteOn(int channel, int key, int velocity) {
    std::lock_guard lock(m_mutex);
    if (!m_synth)
        return;
    m_closeDue.reset();
    if (!m_renderer && !m_driver) {
        // A failure leaves this note silent; the next one tries again.
        m_driver = new_fluid_audio_driver(m_settings, m_synth);
    }
    fluid_synth_noteon(m_synth, channel, key, velocity);
}

void FluidSynthMidi::noteOff(int channel, int key, int) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_synth)
            return;
        fluid_synth_noteoff(m_synth, channel, key);
        if (m_driver)
            m_closeDue = std::chrono::steady_clock::now() + kCloseDelay;
    }
    m_closeChanged.notify_all();
}

void FluidSynthMidi::close() {
    stopClosing();
    std::lock_guard lock(m_mutex);
    release();
}

void FluidSynthMidi::render(int milliseconds) {
    std::lock_guard lock(m_mutex);
    if (!m_renderer)
        return;
    int period = 64;
    fluid_settings_getint(m_settings, "audio.period-size", &period);
    const long blocks = static_cast<long>(milliseconds) * kSampleRate / 1000 / (period > 0 ? period : 64) + 1;
    for (long i = 0; i < blocks; ++i)
        if (fluid_file_renderer_process_block(m_renderer) != FLUID_OK)
            break;
}

} // namespace tavlo::platform
