#pragma once

#include "platform/KeyboardDevice.h"
#include "platform/MidiSynth.h"

#include <memory>
#include <string>

namespace tavlo::platform {

// The keyboard backend that fits this desktop. `keyboardType` is the configured layout's constant name
// (QUERTY, US_INTERNATIONAL, AZERTY, GERMAN, ALL); backends that cannot learn the desktop's own layout type
// for it. On Linux the Wayland virtual keyboard comes first where the compositor offers it, then uinput, then X11
// (under XWayland); without WAYLAND_DISPLAY, X11 before uinput. The device's layout note names the choice and why
// the earlier backends were passed over. The process environment variable TAVLO_KEYBOARD_BACKEND (wayland, x11,
// uinput, win32) overrides the choice. Fails with KeyboardError when no synthetic keyboard is available.
std::unique_ptr<KeyboardDevice> createKeyboardDevice(const std::string& keyboardType);

// Process-wide settings for a program that runs for weeks: on glibc, one malloc arena, so that the
// short-lived allocations of the worker and keyboard threads do not each keep an arena of their own resident.
void prepareProcess();

// The desktop's General MIDI synthesiser, ready to play. Fails with MidiError.
std::unique_ptr<MidiSynth> createMidiSynth();

} // namespace tavlo::platform
