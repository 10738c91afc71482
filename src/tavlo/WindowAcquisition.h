#pragma once

#include "worker/DataLine.h"

#include <QString>

namespace tavlo {

class VudareDiVezFrame2;

// The window's hold on the acquisition start-up path: Start, Stop, the per-record steps and the request text.
// The steps themselves belong to the shared start-up path, not to the window.
class WindowAcquisition {
public:
    explicit WindowAcquisition(VudareDiVezFrame2& window) : m_window(window) {}
    ~WindowAcquisition();

    // Starts acquisition with the window's settings; the window becomes connected once the port is open.
    void start();
    // Stops a running acquisition; the window becomes idle when the worker has ended.
    void stop();
    // The steps for one received record, on the GUI thread.
    void update(worker::DataLine line);
    // Sends the instrument's request text through the running worker.
    void request();
    // Stops and joins every thread of the acquisition (closing the program).
    void shutdown();
    bool available() const;

private:
    VudareDiVezFrame2& m_window;
};

} // namespace tavlo
