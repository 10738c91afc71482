// The sound output around a note: how much opening the audio driver adds to a Note On, how often a running
// driver wakes the process, and how often the process wakes once the driver has closed again. The output is
// ALSA's device TAVLO_BENCH_ALSA_DEVICE ("null", the discarding device, when unset: it needs no sound card).
#include "ProcessWakeups.h"

#include "platform/midi/fluidsynth/FluidSynthMidi.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

using tavlo::platform::FluidSynthMidi;
using Clock = std::chrono::steady_clock;

namespace {

double wakeupsPerSecond(std::chrono::milliseconds span) {
    const auto before = tavlo::bench::threadSwitches();
    const auto begin = Clock::now();
    std::this_thread::sleep_for(span);
    const auto after = tavlo::bench::threadSwitches();
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return static_cast<double>(tavlo::bench::totalSwitches(after) - tavlo::bench::totalSwitches(before)) / seconds;
}

bool waitClosed(FluidSynthMidi& synth) {
    for (int i = 0; i < 500 && synth.outputOpen(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !synth.outputOpen();
}

} // namespace

int main() {
    FluidSynthMidi::Options options;
    options.audioDriver = "alsa";
    const char* device = std::getenv("TAVLO_BENCH_ALSA_DEVICE");
    options.alsaDevice = device && *device ? device : "null";
    std::unique_ptr<FluidSynthMidi> synth;
    try {
        synth = std::make_unique<FluidSynthMidi>(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "no sound output: %s\n", e.what());
        return 1;
    }
    double worstOpenMs = 0;
    std::vector<double> opens;
    double worstOpenNoteOnMs = 0;
    for (int i = 0; i < 20; ++i) {
        // A Note On with the driver open, then one that has to open it.
        synth->noteOn(9, 56, 127);
        auto t0 = Clock::now();
        synth->noteOn(9, 56, 127);
        worstOpenNoteOnMs =
            std::max(worstOpenNoteOnMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        synth->noteOff(9, 56, 127);
        if (!waitClosed(*synth)) {
            std::fprintf(stderr, "the driver did not close\n");
            return 1;
        }
        t0 = Clock::now();
        synth->noteOn(9, 56, 127);
        opens.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        worstOpenMs = std::max(worstOpenMs, opens.back());
        synth->noteOff(9, 56, 127);
        waitClosed(*synth);
    }
    synth->noteOn(9, 56, 127);
    const double running = wakeupsPerSecond(std::chrono::milliseconds(400)); // within the close delay
    synth->noteOff(9, 56, 127);
    waitClosed(*synth);
    const double idle = wakeupsPerSecond(std::chrono::seconds(5));
    std::sort(opens.begin(), opens.end());
    std::printf("sound_note_on_open_driver_ms: %.3f\n", worstOpenNoteOnMs);
    std::printf("sound_note_on_closed_driver_median_ms: %.3f\n", opens[opens.size() / 2]);
    std::printf("sound_note_on_closed_driver_ms: %.3f\n", worstOpenMs);
    std::printf("sound_running_driver_wakeups_per_s: %.1f\n", running);
    std::printf("sound_idle_wakeups_per_s: %.2f\n", idle);
    return 0;
}
