#pragma once

namespace serial {

// Told when a serial device arrives or leaves.
class DeviceNotificationCallback {
public:
    virtual ~DeviceNotificationCallback() = default;
    virtual void deviceNotification() = 0;
};

} // namespace serial
