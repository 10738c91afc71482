#pragma once

#include "platform/keyboard/uinput/UinputTranslator.h"

namespace tavlo::platform {

// A virtual keyboard of the Linux kernel (/dev/uinput): reaches Wayland compositors and consoles, which
// apply their own layout to its key codes. The keys are those of the layout of the configured keyboard type.
class UinputKeyboard : public KeyboardDevice {
public:
    // KeyboardError with the reason when /dev/uinput cannot be opened or the device cannot be created.
    explicit UinputKeyboard(const std::string& keyboardType);
    ~UinputKeyboard() override;

    void keyPress(int keyCode) override { m_translator.keyPress(keyCode); }
    void keyRelease(int keyCode) override { m_translator.keyRelease(keyCode); }
    void delay(int milliseconds) override { m_translator.delay(milliseconds); }
    // The Caps Lock light as the desktop sets it on this device.
    bool isCapsLockOn() override;
    void beginCharacter(char32_t character, std::span<const int> sequence) override {
        m_translator.beginCharacter(character, sequence);
    }
    void endCharacter() override { m_translator.endCharacter(); }
    std::string layoutNote() const override { return m_translator.layoutNote(); }

private:
    static int openDevice();
    void emit(int evdevCode, bool press);

    int m_fd;
    bool m_capsLock = false;
    UinputTranslator m_translator;
};

} // namespace tavlo::platform
