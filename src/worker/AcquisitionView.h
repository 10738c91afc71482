#pragma once

#include "worker/MessageBoxSeam.h"
#include "worker/WeightWorkerView.h"

#include <QList>
#include <QString>

namespace tavlo::worker {

// One piece of an event-log line in one of the log styles: "regular", "important", "typed", "ignored",
// "unknown".
struct LogSpan {
    QString text;
    QString style;
    bool operator==(const LogSpan&) const = default;
};

// What the start-up path needs from whoever shows a run: the window, or the terminal of the headless mode.
// Everything here is called on the GUI thread, except logEvent, logImportantEvent and setOutputState (any
// thread).
class AcquisitionView : public WeightWorkerView {
public:
    // A message for the user: a modal box in the window, a line on standard error without one.
    virtual void showMessage(const QString& title, const QString& text, MessageBoxSeam::Icon icon) = 0;
    // One styled event-log line; the last span ends with the line feed.
    virtual void appendLog(const QList<LogSpan>& spans) = 0;
    // The status line (the record counter while running).
    virtual void setStatus(const QString& text) = 0;
    // The state of an output that connects somewhere ("mqtt"), in a line for the user; empty: none. Any thread.
    virtual void setOutputState(const QString& output, const QString& text) {
        (void)output;
        (void)text;
    }
};

} // namespace tavlo::worker
