#pragma once

#include "platform/KeyboardDevice.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

namespace tavlo::headless {

// Writes what the keyboard output would type instead of typing it: the start key and the terminator as
// <NAME>, the characters of the key map as themselves, a line feed after each value; no pauses. Flushed after
// every value.
class PrintKeyboard : public platform::KeyboardDevice {
public:
    explicit PrintKeyboard(std::FILE* out) : m_out(out) {}

    void keyPress(int keyCode) override;
    void keyRelease(int) override {}
    void delay(int) override {}
    bool isCapsLockOn() override { return false; }
    void beginCharacter(char32_t character, std::span<const int> sequence) override;
    void endCharacter() override { m_inCharacter = false; }
    void endValue() override;

    // "<ENTER>" for 10 and so on; empty for codes that are not start or terminator keys.
    static const char* keyName(int keyCode);

private:
    std::FILE* m_out;
    bool m_inCharacter = false;
};

// Passes everything on to another device and tells when a whole value has been typed.
class CountingKeyboard : public platform::KeyboardDevice {
public:
    CountingKeyboard(std::unique_ptr<platform::KeyboardDevice> device, std::function<void()> valueTyped)
        : m_device(std::move(device)), m_valueTyped(std::move(valueTyped)) {}

    void keyPress(int keyCode) override { m_device->keyPress(keyCode); }
    void keyRelease(int keyCode) override { m_device->keyRelease(keyCode); }
    void delay(int milliseconds) override { m_device->delay(milliseconds); }
    bool isCapsLockOn() override { return m_device->isCapsLockOn(); }
    void beginCharacter(char32_t character, std::span<const int> sequence) override {
        m_device->beginCharacter(character, sequence);
    }
    void endCharacter() override { m_device->endCharacter(); }
    void endValue() override {
        m_device->endValue();
        m_valueTyped();
    }
    std::string layoutNote() const override { return m_device->layoutNote(); }

private:
    std::unique_ptr<platform::KeyboardDevice> m_device;
    std::function<void()> m_valueTyped;
};

} // namespace tavlo::headless
