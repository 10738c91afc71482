#pragma once

#include <QString>
#include <string>

namespace tavlo::util {

// What a user can do when a device is refused for lack of permission: which group may use a serial port and how
// to join it, how to load or open up /dev/uinput for typing on Wayland desktops without the virtual keyboard
// protocol, and where the Wayland virtual keyboard works. The serial layer's own failure texts stay
// as they are; the window and the headless mode add these hints below them.
class PermissionHints {
public:
    // What the system says about a device, as far as the hints need it.
    struct Device {
        bool exists = false;
        bool usable = false;        // this process may read and write it
        QString owner;              // user name (or number) of the owner
        QString group;              // group name (or number)
        bool groupMayUse = false;   // the group has read and write permission
        bool listedInGroup = false; // the group database lists the user, though this session lacks the group
        unsigned mode = 0;          // permission bits
    };

    // Looks the device up for this process (effective user and groups).
    static Device inspect(const QString& path);

    // The hint for a serial device that could not be opened; empty unless it exists and this process may not
    // use it (a port that is missing or busy needs no permission advice).
    static QString forSerialPort(const QString& path);
    static QString forSerialPort(const QString& path, const Device& device);

    // The hint for a keyboard output that could not be created: where uinput was the way to type, how to open it up
    // (empty when the device is there and writable); for the wayland backend chosen explicitly, where it works;
    // nothing when the X11 backend was chosen explicitly.
    static QString forKeyboardFailure();
    // The failure text of a keyboard output with that hint below it, when there is one.
    static std::string withKeyboardHint(const std::string& failure);
    static QString forWaylandBackend();
    // `udevRule` is the shipped example rule; empty when it is not installed, the rule is then given inline.
    static QString forUinput(const QString& path, const Device& device, const QString& udevRule);

    // The example udev rule installed with the program, relative to the executable; empty when not installed.
    static QString installedUdevRule();
};

} // namespace tavlo::util
