#include "native/common/PortTable.h"

namespace tsp {

PortTable::Lease::~Lease() {
    if (m_port)
        m_table->release(m_handle);
}

PortTable& PortTable::instance() {
    static PortTable table;
    return table;
}

PortTable::Lease PortTable::acquire(int32_t handle) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (handle < 0 || handle >= kSlots)
        return Lease(this, handle, nullptr);
    Slot& slot = m_slots[handle];
    if (!slot.port || slot.closing)
        return Lease(this, handle, nullptr);
    ++slot.users;
    return Lease(this, handle, slot.port.get());
}

void PortTable::release(int32_t handle) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (--m_slots[handle].users == 0)
        m_released.notify_all();
}

bool PortTable::isOpen(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const Slot& slot : m_slots) {
        if (slot.port && slot.port->name() == name)
            return true;
    }
    return false;
}

int32_t PortTable::insert(std::unique_ptr<Port>& port, int32_t& error) {
    std::lock_guard<std::mutex> lock(m_lock);
    int32_t free = -1;
    for (int32_t i = 0; i < kSlots; ++i) {
        if (m_slots[i].port) {
            if (m_slots[i].port->name() == port->name()) {
                error = TSP_ERR_ALREADY_OPEN;
                return -1;
            }
        } else if (free < 0) {
            free = i;
        }
    }
    if (free < 0) {
        error = TSP_ERR_NO_SLOT;
        return -1;
    }
    m_slots[free].port = std::move(port);
    m_slots[free].users = 0;
    m_slots[free].closing = false;
    return free;
}

std::unique_ptr<Port> PortTable::remove(int32_t handle) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (handle < 0 || handle >= kSlots)
        return nullptr;
    Slot& slot = m_slots[handle];
    if (!slot.port || slot.closing)
        return nullptr;
    slot.closing = true;
    m_released.wait(lock, [&slot] { return slot.users == 0; });
    std::unique_ptr<Port> port = std::move(slot.port);
    slot.closing = false;
    return port;
}

} // namespace tsp
