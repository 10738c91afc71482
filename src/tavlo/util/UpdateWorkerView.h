#pragma once

#include <QString>

namespace tavlo::util {

// Where the update check reports: the main window's status line. Called on the GUI thread only.
class UpdateWorkerView {
public:
    virtual ~UpdateWorkerView() = default;
    // Formatted text (it may hold a link).
    virtual void setText(const QString& text) = 0;
};

} // namespace tavlo::util
