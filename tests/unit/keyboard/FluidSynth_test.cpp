#include "platform/midi/fluidsynth/FluidSynthMidi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

using tavlo::platform::FluidSynthMidi;
using tavlo::platform::MidiError;

namespace {

std::vector<int16_t> readSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<int16_t> samples;
    unsigned char pair[2];
    while (in.read(reinterpret_cast<char*>(pair), 2))
        samples.push_back(static_cast<int16_t>(pair[0] | (pair[1] << 8)));
    return samples;
}

int peak(const std::vector<int16_t>& samples, size_t from, size_t to) {
    int p = 0;
    for (size_t i = from; i < to && i < samples.size(); ++i)
        p = std::max(p, std::abs(static_cast<int>(samples[i])));
    return p;
}

TEST(FluidSynthMidi, RenderedPercussionHitIsAudible) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("tavlo-hit-" + std::to_string(getpid()) + ".raw")).string();
    {
        FluidSynthMidi::Options options;
        options.renderFile = path;
        FluidSynthMidi synth(options);
        synth.render(100); // silence first
        synth.noteOn(9, 56, 127);
        synth.render(125);
        synth.noteOff(9, 56, 127);
        synth.render(400);
        synth.close();
    }
    const auto samples = readSamples(path);
    std::filesystem::remove(path);
    const size_t silenceEnd = 2 * FluidSynthMidi::kSampleRate * 90 / 1000; // stereo
    ASSERT_GT(samples.size(), silenceEnd * 2);
    EXPECT_LT(peak(samples, 0, silenceEnd), 16) << "sound before the note (beyond dither)";
    EXPECT_GT(peak(samples, silenceEnd, samples.size()), 1000) << "the cowbell is silent";
}

TEST(FluidSynthMidi, MissingSoundfontFailsWithItsPath) {
    FluidSynthMidi::Options options;
    options.soundfont = "/nonexistent/tavlo.sf2";
    try {
        FluidSynthMidi synth(options);
        FAIL() << "a synthesiser without soundfont";
    } catch (const MidiError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/tavlo.sf2"), std::string::npos) << e.what();
    }
}

TEST(FluidSynthMidi, MissingAudioOutputFailsConstruction) {
    FluidSynthMidi::Options options;
    options.audioDriver = "alsa";
    options.alsaDevice = "tavlo_no_such_device";
    try {
        FluidSynthMidi synth(options);
        FAIL() << "an audio output that does not exist";
    } catch (const MidiError& e) {
        EXPECT_NE(std::string(e.what()).find("No audio output"), std::string::npos) << e.what();
    }
}

bool eventually(const std::function<bool()>& pred) {
    for (int i = 0; i < 1000 && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
}

TEST(FluidSynthMidi, AudioOutputRunsOnlyAroundNotes) {
    FluidSynthMidi::Options options;
    options.audioDriver = "alsa";
    options.alsaDevice = "null"; // ALSA's discarding device: a real driver thread without a sound card
    std::unique_ptr<FluidSynthMidi> synth;
    try {
        synth = std::make_unique<FluidSynthMidi>(options);
    } catch (const MidiError& e) {
        GTEST_SKIP() << "no ALSA null device here: " << e.what();
    }
    EXPECT_FALSE(synth->outputOpen()) << "the driver runs before any note";
    synth->noteOn(9, 56, 127);
    EXPECT_TRUE(synth->outputOpen());
    synth->noteOff(9, 56, 127);
    synth->noteOn(9, 56, 127); // a note within the close delay keeps the driver
    EXPECT_TRUE(synth->outputOpen());
    synth->noteOff(9, 56, 127);
    ASSERT_TRUE(eventually([&] { return !synth->outputOpen(); })) << "the driver stayed open in silence";
    synth->noteOn(9, 56, 127);
    EXPECT_TRUE(synth->outputOpen()) << "the next note opens it again";
    synth->close();
    EXPECT_FALSE(synth->outputOpen());
    synth->noteOn(9, 56, 127);
    EXPECT_FALSE(synth->outputOpen()) << "a closed synthesiser opens nothing";
}

TEST(FluidSynthMidi, FindsTheGeneralMidiSoundfont) {
    unsetenv("TAVLO_SOUNDFONT");
    const std::string found = FluidSynthMidi::findSoundfont();
    ASSERT_FALSE(found.empty()) << "timgm6mb-soundfont is not installed";
    EXPECT_EQ(access(found.c_str(), R_OK), 0);
}

} // namespace
