#include "platform/keyboard/wayland/WaylandKeyboard.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace tavlo::platform {

namespace {

using namespace std::chrono_literals;

// How long an application needs to take a keyboard the seat has just gained (a few milliseconds when it is not
// busy).
constexpr auto kApplicationJoins = 200ms;

// The compositor passes keys on to the application without waiting for it, and disconnects an application that
// falls more than its socket buffer behind (libwayland-server keeps no more). Even without a key delay, presses
// are therefore sent no faster than one per 250 us on average: about 2,000 characters a second, in bursts of one
// value, which a busy terminal still follows.
constexpr auto kPressInterval = 250us;

void registryGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    static_cast<WaylandKeyboard*>(data)->onGlobal(registry, name, interface, version);
}

void registryGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener{registryGlobal, registryGlobalRemove};

void seatCapabilities(void* data, wl_seat*, uint32_t capabilities) {
    static_cast<WaylandKeyboard*>(data)->onCapabilities(capabilities);
}

void seatName(void*, wl_seat*, const char*) {}

const wl_seat_listener kSeatListener{seatCapabilities, seatName};

// A round trip's answer; the counter lives in the device, so that an answer that comes after a time-out finds
// something to count.
void syncDone(void* data, wl_callback* callback, uint32_t) {
    ++*static_cast<unsigned*>(data);
    wl_callback_destroy(callback);
}

const wl_callback_listener kSyncListener{syncDone};

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 60000));
}

} // namespace

WaylandKeyboard::WaylandKeyboard(const std::string& keyboardType, const std::string& displayName) {
    const char* fromEnvironment = std::getenv("WAYLAND_DISPLAY");
    m_name = !displayName.empty() ? displayName : fromEnvironment && *fromEnvironment ? fromEnvironment : "wayland-0";
    m_display = wl_display_connect(displayName.empty() ? nullptr : displayName.c_str());
    if (!m_display)
        throw KeyboardError("Cannot connect to the Wayland compositor " + m_name + ": " + std::strerror(errno));
    try {
        m_registry = wl_display_get_registry(m_display);
        wl_registry_add_listener(m_registry, &kRegistryListener, this);
        const auto deadline = Clock::now() + 5s;
        // The first round trip lists the globals, the second brings the seat's capabilities.
        if (!roundtrip(deadline) || !roundtrip(deadline))
            throw KeyboardError("The Wayland compositor " + m_name + " does not answer");
        if (!m_manager)
            throw KeyboardError("The Wayland compositor " + m_name +
                                " does not offer the virtual keyboard protocol (zwp_virtual_keyboard_manager_v1)");
        if (!m_seat)
            throw KeyboardError("The Wayland compositor " + m_name + " has no seat");
        m_seatHadKeyboard = (m_capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
        m_translator = std::make_unique<VirtualKeyboardTranslator>(keyboardType, m_events);
        m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_seat);
        uploadKeymap();
        m_created = Clock::now();
        // A compositor that refuses the keyboard answers with a protocol error: at Start, not at the first key.
        if (!roundtrip(deadline))
            throw KeyboardError("The Wayland compositor " + m_name + " does not answer");
    } catch (...) {
        disconnect();
        throw;
    }
}

WaylandKeyboard::~WaylandKeyboard() {
    // A key left held would repeat in the application until the compositor notices that the keyboard is gone.
    if (m_lost.empty() && m_translator) {
        try {
            m_translator->releaseAll();
            settle();
        } catch (const KeyboardError&) {
            // The compositor went away meanwhile; nothing is held there any more.
        }
    }
    disconnect();
}

void WaylandKeyboard::disconnect() {
    if (!m_display)
        return;
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_manager)
        zwp_virtual_keyboard_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    m_keyboard = nullptr;
    m_manager = nullptr;
    m_seat = nullptr;
    m_registry = nullptr;
    if (m_lost.empty())
        wl_display_flush(m_display);
    wl_display_disconnect(m_display);
    m_display = nullptr;
}

void WaylandKeyboard::onGlobal(wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    const std::string which = interface;
    if (which == wl_seat_interface.name && !m_seat) {
        // Version 1 has all this device needs: the capabilities.
        m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 1u)));
        wl_seat_add_listener(m_seat, &kSeatListener, this);
    } else if (which == zwp_virtual_keyboard_manager_v1_interface.name && !m_manager) {
        m_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

void WaylandKeyboard::uploadKeymap() {
    const std::string& text = m_translator->keymapText();
    const size_t size = text.size() + 1; // the compositor reads a NUL-terminated string
    const int fd = ::memfd_create("tavlo-keymap", MFD_CLOEXEC);
    if (fd < 0)
        throw KeyboardError(std::string("Cannot create the keymap of the virtual keyboard: ") + std::strerror(errno));
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, text.c_str() + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            throw KeyboardError(std::string("Cannot write the keymap of the virtual keyboard: ") +
                                std::strerror(error));
        }
        written += static_cast<size_t>(n);
    }
    // The request carries a duplicate of the descriptor.
    zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
    ::close(fd);
    flush();
}

void WaylandKeyboard::onCapabilities(uint32_t capabilities) {
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !(m_capabilities & WL_SEAT_CAPABILITY_KEYBOARD))
        m_keyboardSeen = Clock::now();
    m_capabilities = capabilities;
}

void WaylandKeyboard::waitForSeat() {
    if (m_seatChecked)
        return;
    m_seatChecked = true;
    const auto deadline = m_created + 1s;
    while (!(m_capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && Clock::now() < deadline) {
        if (!roundtrip(deadline))
            break;
        if (!(m_capabilities & WL_SEAT_CAPABILITY_KEYBOARD))
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, millisecondsUntil(deadline))));
    }
    // Where this keyboard is the seat's first, the focused application learns of it only now and must still ask
    // for it; keys that come before are lost to it. Nothing says when it has asked: it is given a moment.
    if (!m_seatHadKeyboard && (m_capabilities & WL_SEAT_CAPABILITY_KEYBOARD)) {
        const auto until = std::min(deadline, m_keyboardSeen + kApplicationJoins);
        if (Clock::now() < until)
            std::this_thread::sleep_until(until);
    }
}

void WaylandKeyboard::sendKey(uint32_t evdevCode, bool press) {
    const auto time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_epoch).count();
    zwp_virtual_keyboard_v1_key(m_keyboard, static_cast<uint32_t>(time), evdevCode,
                                press ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    countRequest();
}

void WaylandKeyboard::sendModifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
    zwp_virtual_keyboard_v1_modifiers(m_keyboard, depressed, latched, locked, group);
    countRequest();
}

void WaylandKeyboard::countRequest() {
    // The client library keeps at most 4 KiB of requests (a key takes 20 bytes, the modifiers 24) and fails when
    // more come while the socket is full.
    if (++m_unflushed >= 96)
        flush();
}

void WaylandKeyboard::flush() {
    m_unflushed = 0;
    const auto deadline = Clock::now() + 10s;
    while (wl_display_flush(m_display) < 0) {
        if (errno != EAGAIN)
            lose(errno);
        // The compositor has not yet read what came before: wait until it does, but not for ever.
        pollfd p{wl_display_get_fd(m_display), POLLOUT, 0};
        const int left = millisecondsUntil(deadline);
        if (left == 0)
            lose(ETIMEDOUT);
        if (::poll(&p, 1, left) < 0 && errno != EINTR)
            lose(errno);
        if (p.revents & (POLLERR | POLLHUP))
            lose(EPIPE);
    }
    // Events the compositor sends (a changed seat, new outputs) are handled as they come, so they never pile up.
    readEvents(0);
}

void WaylandKeyboard::readEvents(int timeoutMs) {
    while (wl_display_prepare_read(m_display) != 0)
        if (wl_display_dispatch_pending(m_display) < 0)
            lose(errno);
    pollfd p{wl_display_get_fd(m_display), POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
        if (wl_display_read_events(m_display) < 0)
            lose(errno);
    } else {
        wl_display_cancel_read(m_display);
    }
    if (wl_display_dispatch_pending(m_display) < 0)
        lose(errno);
}

bool WaylandKeyboard::roundtrip(Clock::time_point deadline) {
    wl_callback* callback = wl_display_sync(m_display);
    const unsigned wanted = ++m_syncsSent;
    wl_callback_add_listener(callback, &kSyncListener, &m_syncsDone);
    flush();
    while (m_syncsDone < wanted) {
        const int left = millisecondsUntil(deadline);
        if (left == 0)
            return false;
        readEvents(left);
    }
    return true;
}

std::string WaylandKeyboard::failureText(int error) const {
    if (m_display && wl_display_get_error(m_display) == EPROTO) {
        const wl_interface* interface = nullptr;
        uint32_t id = 0;
        const uint32_t code = wl_display_get_protocol_error(m_display, &interface, &id);
        return "The Wayland compositor " + m_name + " ended the connection with error " + std::to_string(code) +
               " on " + (interface ? interface->name : "an object");
    }
    return "The connection to the Wayland compositor " + m_name + " was lost: " + std::strerror(error);
}

void WaylandKeyboard::lose(int error) {
    if (m_lost.empty())
        m_lost = failureText(error);
    throw KeyboardLost(m_lost);
}

void WaylandKeyboard::throwIfLost() const {
    if (!m_lost.empty())
        throw KeyboardLost(m_lost);
}

void WaylandKeyboard::keyPress(int keyCode) {
    throwIfLost();
    waitForSeat();
    ++m_presses;
    m_translator->keyPress(keyCode);
}

void WaylandKeyboard::keyRelease(int keyCode) {
    throwIfLost();
    m_translator->keyRelease(keyCode);
}

void WaylandKeyboard::delay(int milliseconds) {
    throwIfLost();
    if (milliseconds <= 0)
        return; // the keys go out with the rest of the value
    // The keys must reach the compositor before the pause, or the pause would not separate them.
    flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void WaylandKeyboard::beginCharacter(char32_t character, std::span<const int> sequence) {
    throwIfLost();
    waitForSeat();
    m_translator->beginCharacter(character, sequence);
}

void WaylandKeyboard::endCharacter() {
    throwIfLost();
    m_translator->endCharacter();
}

void WaylandKeyboard::endValue() {
    throwIfLost();
    settle();
    // The value went out in one burst; the pause after it keeps the average below the pace an application is
    // sure to follow.
    const auto until = m_paceFrom + kPressInterval * m_presses;
    if (Clock::now() < until)
        std::this_thread::sleep_until(until);
    m_presses = 0;
    m_paceFrom = Clock::now();
}

void WaylandKeyboard::settle() {
    // The compositor drops what it has not read when the connection closes, so a value counts as typed once a
    // round trip shows that the compositor has handled its keys. That also keeps typing at the compositor's pace.
    roundtrip(Clock::now() + 5s);
}

} // namespace tavlo::platform
