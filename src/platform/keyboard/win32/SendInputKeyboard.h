#pragma once

#include "platform/KeyboardDevice.h"

namespace tavlo::platform {

// Synthetic keys on a Windows desktop through SendInput. Letters, digits, the keypad and the function keys
// have fixed virtual keys; the punctuation keys are found for the keyboard layout of the foreground window.
// Windows itself turns Control+Alt into AltGr, completes dead keys and enters Alt codes, so the character
// hint is not needed.
class SendInputKeyboard : public KeyboardDevice {
public:
    SendInputKeyboard() = default;

    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    bool isCapsLockOn() override;

    // The virtual key for a program key code on the given layout (an HKL); 0 when there is none.
    static unsigned virtualKey(int keyCode, void* layout);

private:
    void send(int keyCode, bool press);
};

} // namespace tavlo::platform
