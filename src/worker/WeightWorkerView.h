#pragma once

#include "worker/DataLine.h"
#include "worker/Reading.h"

#include <QString>

namespace tavlo::worker {

// How a worker (and the keyboard output) reports to the window. logEvent and logImportantEvent are called
// from the worker and keyboard-output threads as well, so implementations must accept calls from any thread;
// setConnectedInGUI and update are called on the window's thread only, update in record order.
class WeightWorkerView {
public:
    virtual ~WeightWorkerView() = default;
    virtual void logEvent(const QString& text) = 0;
    virtual void logImportantEvent(const QString& text) = 0;
    virtual void setConnectedInGUI(bool connected) = 0;
    // Every framed record in order, also those whose processing failed (DataLine::isFailure()).
    virtual void update(const DataLine& line) = 0;
    // The connection's state changed (port opened, lost, reopened, run stopped); the text was logged already.
    // Any thread.
    virtual void statusChanged(StatusEvent::Kind kind, const QString& text) {
        (void)kind;
        (void)text;
    }
    // The keyboard output lost its desktop (the X server or the Wayland compositor went away) and stopped typing;
    // it has logged why. Called once, on the keyboard thread; views that end or stop the run override it.
    virtual void keyboardLost(const QString& reason) { (void)reason; }
};

} // namespace tavlo::worker
