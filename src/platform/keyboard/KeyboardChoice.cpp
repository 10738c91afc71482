#include "platform/keyboard/KeyboardChoice.h"

namespace tavlo::platform {

namespace {

// The chosen device, with the choice in front of its own layout note.
class ChosenKeyboard : public KeyboardDevice {
public:
    ChosenKeyboard(std::unique_ptr<KeyboardDevice> device, std::string choice)
        : m_device(std::move(device)), m_choice(std::move(choice)) {}

    void keyPress(int keyCode) override { m_device->keyPress(keyCode); }
    void keyRelease(int keyCode) override { m_device->keyRelease(keyCode); }
    void delay(int milliseconds) override { m_device->delay(milliseconds); }
    bool isCapsLockOn() override { return m_device->isCapsLockOn(); }
    void beginCharacter(char32_t character, std::span<const int> sequence) override {
        m_device->beginCharacter(character, sequence);
    }
    void endCharacter() override { m_device->endCharacter(); }
    void endValue() override { m_device->endValue(); }
    std::string layoutNote() const override {
        const std::string own = m_device->layoutNote();
        return own.empty() ? m_choice : m_choice + ". " + own;
    }

private:
    std::unique_ptr<KeyboardDevice> m_device;
    std::string m_choice;
};

} // namespace

std::unique_ptr<KeyboardDevice> withChoiceNote(std::unique_ptr<KeyboardDevice> device, std::string choice) {
    return std::make_unique<ChosenKeyboard>(std::move(device), std::move(choice));
}

std::unique_ptr<KeyboardDevice> chooseKeyboard(const std::vector<KeyboardCandidate>& candidates) {
    std::vector<std::string> passedOver; // "name: reason" of each candidate that could not be made
    const auto joined = [&](std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i)
            text += (i ? "; " : "") + passedOver[i];
        return text;
    };
    for (const KeyboardCandidate& candidate : candidates) {
        try {
            std::unique_ptr<KeyboardDevice> device = candidate.create();
            if (!device)
                throw KeyboardError("not available");
            std::string choice = "Keyboard backend: " + candidate.name;
            if (!passedOver.empty())
                choice += " (passed over: " + joined(passedOver.size()) + ")";
            return withChoiceNote(std::move(device), std::move(choice));
        } catch (const KeyboardError& failure) {
            passedOver.push_back(candidate.name + ": " + failure.what());
        }
    }
    throw KeyboardError("No keyboard backend can type here: " + joined(passedOver.size()));
}

} // namespace tavlo::platform
