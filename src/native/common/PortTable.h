#pragma once

#include "native/common/Port.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace tsp {

// The open ports by handle. Each call on a port holds a lease on it; closing takes the port out of the table
// at once (no new lease) and waits for the leases to end before the device is released, so a read that
// races with close never lands on a closed or reused descriptor.
class PortTable {
public:
    static constexpr int32_t kSlots = 64;

    class Lease {
    public:
        Lease(PortTable* table, int32_t handle, Port* port) : m_table(table), m_handle(handle), m_port(port) {}
        Lease(Lease&& other) noexcept : m_table(other.m_table), m_handle(other.m_handle), m_port(other.m_port) {
            other.m_port = nullptr;
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Lease& operator=(Lease&&) = delete;
        ~Lease();
        Port* operator->() const { return m_port; }
        Port* get() const { return m_port; }
        explicit operator bool() const { return m_port != nullptr; }

    private:
        PortTable* m_table;
        int32_t m_handle;
        Port* m_port;
    };

    static PortTable& instance();

    Lease acquire(int32_t handle);
    bool isOpen(const std::string& name);
    // The new handle, taking the port over; or -1 when every slot is taken or the name is open already
    // (error says which), leaving the port with the caller.
    int32_t insert(std::unique_ptr<Port>& port, int32_t& error);
    // Takes the port out and waits for its leases; null when the handle names no open port.
    std::unique_ptr<Port> remove(int32_t handle);

private:
    struct Slot {
        std::unique_ptr<Port> port;
        int32_t users = 0;
        bool closing = false;
    };
    void release(int32_t handle);

    std::mutex m_lock;
    std::condition_variable m_released;
    Slot m_slots[kSlots];
};

} // namespace tsp
