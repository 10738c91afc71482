#pragma once

#include "platform/keyboard/xkb/KeyPlanner.h"
#include "platform/keyboard/xkb/KeyStream.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tavlo::platform {

// What a virtual keyboard of the Wayland protocol sends: keys in evdev codes, and the modifier state, which the
// compositor takes from the client instead of working it out from the keys.
class VirtualKeyEvents {
public:
    virtual ~VirtualKeyEvents() = default;
    virtual void key(uint32_t evdevCode, bool press) = 0;
    virtual void modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) = 0;
};

// The Wayland virtual keyboard's translation, apart from the connection: the keymap it uploads and the key and
// modifier events that type the program's key codes with that keymap. The keymap is the layout of the configured
// keyboard type, so that the key maps' codes mean what they say; for ALL (and anything else) it is us, which
// holds all 95 printable characters. The compositor's own layout plays no part.
class VirtualKeyboardTranslator {
public:
    struct LayoutNames {
        std::string layout;
        std::string variant;
    };
    // us, us(intl), de, fr for QUERTY, US_INTERNATIONAL, GERMAN, AZERTY; us for ALL and any other name.
    static LayoutNames layoutFor(const std::string& keyboardType);

    // Compiles the keymap; KeyboardError when it cannot be compiled.
    VirtualKeyboardTranslator(const std::string& keyboardType, VirtualKeyEvents& events);
    ~VirtualKeyboardTranslator();
    VirtualKeyboardTranslator(const VirtualKeyboardTranslator&) = delete;
    VirtualKeyboardTranslator& operator=(const VirtualKeyboardTranslator&) = delete;

    // The keymap to upload, in the XKB text format, without a terminating NUL.
    const std::string& keymapText() const { return m_keymapText; }
    const LayoutNames& layoutNames() const { return m_names; }
    std::string layoutNote() const;

    void keyPress(int keyCode) { m_stream->press(keyCode); }
    void keyRelease(int keyCode) { m_stream->release(keyCode); }
    void beginCharacter(char32_t character, std::span<const int> sequence) { m_stream->begin(character, sequence); }
    void endCharacter() { m_stream->end(); }
    // Releases every key still held; the modifiers follow.
    void releaseAll() { m_stream->releaseAll(); }

private:
    // Follows the keys with an XKB state of the keymap and sends the modifiers whenever a key changed them.
    class Sink : public xkb::KeySink {
    public:
        Sink(xkb_keymap* keymap, VirtualKeyEvents& events);
        ~Sink() override;
        Sink(const Sink&) = delete;
        Sink& operator=(const Sink&) = delete;
        void key(xkb_keycode_t keycode, bool press) override;

    private:
        xkb_state* m_state;
        VirtualKeyEvents& m_events;
    };

    LayoutNames m_names;
    xkb_context* m_context = nullptr;
    std::string m_keymapText;
    std::unique_ptr<xkb::KeyPlanner> m_planner;
    std::unique_ptr<Sink> m_sink;
    std::unique_ptr<xkb::KeyStream> m_stream;
};

} // namespace tavlo::platform
