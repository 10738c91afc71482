#pragma once

#include <QMutex>

namespace serial {

// The one process-wide lock around every native call that makes, removes or reconfigures a port.
class NativeHandleMutex {
public:
    static NativeHandleMutex& getInstance();
    QMutex& mutex() { return m_mutex; }

private:
    NativeHandleMutex() = default;
    QMutex m_mutex;
};

} // namespace serial
