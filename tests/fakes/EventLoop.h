#pragma once

// Waiting on the calling thread's event loop, for tests whose code hands work to the GUI thread.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace tavlo::test {

// Runs the event loop of the calling thread until pred holds or timeoutMs passed; returns pred().
inline bool processEventsUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

} // namespace tavlo::test
