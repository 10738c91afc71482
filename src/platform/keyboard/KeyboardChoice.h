#pragma once

#include "platform/KeyboardDevice.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavlo::platform {

// One keyboard backend that may fit the desktop: its name as TAVLO_KEYBOARD_BACKEND spells it, and how to make
// it. `create` fails with KeyboardError saying why the backend cannot type here.
struct KeyboardCandidate {
    std::string name;
    std::function<std::unique_ptr<KeyboardDevice>()> create;
};

// Tries the candidates in order and keeps the first one that can be made. Its layout note, the line the event log
// shows at Start, begins with the backend chosen and why each earlier one was passed over. When none can be made:
// KeyboardError with the reason of every candidate.
std::unique_ptr<KeyboardDevice> chooseKeyboard(const std::vector<KeyboardCandidate>& candidates);

// The device with `choice` in front of its layout note (a backend chosen by name).
std::unique_ptr<KeyboardDevice> withChoiceNote(std::unique_ptr<KeyboardDevice> device, std::string choice);

} // namespace tavlo::platform
