#include "platform/keyboard/uinput/UinputKeyboard.h"

#include <linux/uinput.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace tavlo::platform {

namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

int UinputKeyboard::openDevice() {
    const int fd = ::open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw KeyboardError(systemError("Cannot open /dev/uinput for the virtual keyboard"));
    bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0 &&
              ioctl(fd, UI_SET_EVBIT, EV_LED) == 0 && ioctl(fd, UI_SET_LEDBIT, LED_CAPSL) == 0;
    for (int key = KEY_ESC; ok && key < 256; ++key)
        ok = ioctl(fd, UI_SET_KEYBIT, key) == 0;
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1d6b;
    setup.id.product = 0x0104;
    std::strncpy(setup.name, "Tavlo virtual keyboard", UINPUT_MAX_NAME_SIZE - 1);
    ok = ok && ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ioctl(fd, UI_DEV_CREATE) == 0;
    if (!ok) {
        const std::string message = systemError("Cannot create the virtual keyboard");
        ::close(fd);
        throw KeyboardError(message);
    }
    // The desktop needs a moment to notice a new keyboard; keys sent before that are lost.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return fd;
}

UinputKeyboard::UinputKeyboard(const std::string& keyboardType)
    : m_fd(openDevice()), m_translator(keyboardType, [this](int code, bool press) { emit(code, press); }) {}

UinputKeyboard::~UinputKeyboard() {
    m_translator.endCharacter();
    ioctl(m_fd, UI_DEV_DESTROY);
    ::close(m_fd);
}

void UinputKeyboard::emit(int evdevCode, bool press) {
    input_event events[2]{};
    events[0].type = EV_KEY;
    events[0].code = static_cast<__u16>(evdevCode);
    events[0].value = press ? 1 : 0;
    events[1].type = EV_SYN;
    events[1].code = SYN_REPORT;
    if (::write(m_fd, events, sizeof events) != static_cast<ssize_t>(sizeof events))
        throw KeyboardError(systemError("Cannot send a key to the virtual keyboard"));
}

bool UinputKeyboard::isCapsLockOn() {
    input_event event{};
    while (::read(m_fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event))
        if (event.type == EV_LED && event.code == LED_CAPSL)
            m_capsLock = event.value != 0;
    return m_capsLock;
}

} // namespace tavlo::platform
