#pragma once

#include <QString>
#include <optional>

namespace tavlo::worker {

// The look of one progress line of the port detection.
struct TextAttributes {
    bool bold = false;
    // A second emphasis on top of bold, for the line that reports no result.
    bool alert = false;
    bool operator==(const TextAttributes&) const = default;
};

// Where the automatic port detection reports: the detection dialog. Called on the GUI thread only.
class AutoPortWorkerView {
public:
    virtual ~AutoPortWorkerView() = default;
    virtual void setButtonToCancel() = 0;
    virtual void setButtonToClose() = 0;
    // Selects the detected port (a plain port name) in the main window.
    virtual void setPort(const QString& name) = 0;
    // Appends one line; no attributes means plain text.
    virtual void update(const QString& text, std::optional<TextAttributes> attributes) = 0;
};

} // namespace tavlo::worker
