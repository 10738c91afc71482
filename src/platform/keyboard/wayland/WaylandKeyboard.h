#pragma once

#include "platform/KeyboardDevice.h"
#include "platform/keyboard/wayland/VirtualKeyboardTranslator.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace tavlo::platform {

// Keys for a Wayland compositor through its virtual-keyboard protocol (zwp_virtual_keyboard_manager_v1, offered by
// Sway and the other wlroots compositors): an ordinary client, no device node, no root. The keyboard carries its
// own keymap and modifier state, so neither the compositor's layout nor the user's Caps Lock changes what it types.
class WaylandKeyboard : public KeyboardDevice {
public:
    // Connects to the compositor named by WAYLAND_DISPLAY (or `displayName`), creates a virtual keyboard on its
    // seat and uploads the keymap. KeyboardError with the reason when the compositor cannot be reached, has no
    // seat or does not offer the protocol.
    explicit WaylandKeyboard(const std::string& keyboardType, const std::string& displayName = std::string());
    ~WaylandKeyboard() override;
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    // KeyboardLost once the compositor has gone away.
    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    // The keyboard has a modifier state of its own, which the user's Caps Lock does not touch.
    bool isCapsLockOn() override { return false; }
    void beginCharacter(char32_t character, std::span<const int> sequence) override;
    void endCharacter() override;
    void endValue() override;
    std::string layoutNote() const override { return m_translator->layoutNote(); }

    // The display's name as the connection found it ("wayland-1").
    const std::string& displayName() const { return m_name; }
    // Whether the seat showed a keyboard before this one was added.
    bool seatHadKeyboard() const { return m_seatHadKeyboard; }

    // Wayland's callbacks (C functions) reach the object through these.
    void onGlobal(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    void onCapabilities(uint32_t capabilities);

private:
    class Events : public VirtualKeyEvents {
    public:
        explicit Events(WaylandKeyboard& owner) : m_owner(owner) {}
        void key(uint32_t evdevCode, bool press) override { m_owner.sendKey(evdevCode, press); }
        void modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) override {
            m_owner.sendModifiers(depressed, latched, locked, group);
        }

    private:
        WaylandKeyboard& m_owner;
    };

    using Clock = std::chrono::steady_clock;

    void sendKey(uint32_t evdevCode, bool press);
    void sendModifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);
    void countRequest();
    void uploadKeymap();
    // Before the first key, on the keyboard thread: the seat must show the keyboard, or the focused application
    // drops the keys; at most a second after the keyboard was made.
    void waitForSeat();
    // Sends what is buffered, waiting while the compositor's socket is full, and handles the events it sent.
    void flush();
    void readEvents(int timeoutMs);
    // Waits until the compositor has handled every key sent so far (for at most a few seconds).
    void settle();
    // One round trip; false when the compositor did not answer before the deadline.
    bool roundtrip(Clock::time_point deadline);
    // KeyboardLost from now on, with the reason of the failed call.
    [[noreturn]] void lose(int error);
    void throwIfLost() const;
    std::string failureText(int error) const;
    void disconnect();

    std::string m_name;
    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    zwp_virtual_keyboard_manager_v1* m_manager = nullptr;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
    uint32_t m_capabilities = 0;
    bool m_seatHadKeyboard = false;
    bool m_seatChecked = false;
    Clock::time_point m_created;
    Clock::time_point m_keyboardSeen; // when the seat showed a keyboard
    Clock::time_point m_epoch = Clock::now();
    int m_presses = 0;            // key presses of the value under way
    Clock::time_point m_paceFrom; // the end of the value before
    int m_unflushed = 0;          // requests since the last flush
    unsigned m_syncsSent = 0;
    unsigned m_syncsDone = 0;
    std::string m_lost; // why the compositor is gone; empty while it is there
    Events m_events{*this};
    std::unique_ptr<VirtualKeyboardTranslator> m_translator;
};

} // namespace tavlo::platform
