#pragma once

#include "platform/KeyboardDevice.h"
#include "platform/keyboard/xkb/KeyPlanner.h"
#include "platform/keyboard/xkb/KeyStream.h"

#include <functional>
#include <memory>
#include <string>

namespace tavlo::platform {

// The uinput backend's translation: program key events become evdev key events for the XKB layout that matches
// the configured keyboard type, since a uinput device cannot learn the layout the compositor uses.
class UinputTranslator : public KeyboardDevice {
public:
    struct LayoutNames {
        std::string layout;
        std::string variant;
        std::string source; // where the layout was found, for the event log
    };
    // Where the desktop's layout may be written down, in the order they are asked.
    struct LayoutSources {
        std::string environmentLayout;                // XKB_DEFAULT_LAYOUT
        std::string environmentVariant;               // XKB_DEFAULT_VARIANT
        std::function<std::string()> localectlStatus; // the output of `localectl status`
        std::string keyboardFile;                     // the text of /etc/default/keyboard
    };
    // us, us(intl), de, fr for QUERTY, US_INTERNATIONAL, GERMAN, AZERTY; for ALL (and anything else) the
    // desktop's layout (desktopLayout of this system).
    static LayoutNames layoutFor(const std::string& keyboardType);
    // XKB_DEFAULT_LAYOUT, then the X11 layout of `localectl status`, then XKBLAYOUT of /etc/default/keyboard,
    // then us; of a list such as "de,us" the first entry, with the variant of the same place.
    static LayoutNames desktopLayout(const LayoutSources& sources);
    static LayoutSources systemLayoutSources();
    std::string layoutNote() const override;

    using Emit = std::function<void(int evdevCode, bool press)>;
    // Compiles the layout; KeyboardError when it cannot be compiled.
    UinputTranslator(const std::string& keyboardType, Emit emit);
    ~UinputTranslator() override;

    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    bool isCapsLockOn() override { return false; }
    void beginCharacter(char32_t character, std::span<const int> sequence) override;
    void endCharacter() override;

    const LayoutNames& layoutNames() const { return m_names; }

private:
    class Sink : public xkb::KeySink {
    public:
        explicit Sink(Emit emit) : m_emit(std::move(emit)) {}
        void key(xkb_keycode_t keycode, bool press) override { m_emit(static_cast<int>(keycode) - 8, press); }

    private:
        Emit m_emit;
    };

    LayoutNames m_names;
    xkb_context* m_context = nullptr;
    std::unique_ptr<xkb::KeyPlanner> m_planner;
    Sink m_sink;
    std::unique_ptr<xkb::KeyStream> m_stream;
};

} // namespace tavlo::platform
