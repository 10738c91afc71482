#pragma once

#include <QComboBox>
#include <optional>

namespace tavlo {

// The editable input terminator box: the listed presets (EOT, LF, CR) or a typed character code.
class InputTerminatorBox {
public:
    InputTerminatorBox() = delete;

    // Fills the box with the preset labels and makes it editable.
    static void fill(QComboBox& box);
    // Shows the preset with that code, or the code as typed text when no preset has it.
    static void setSelectedItem(QComboBox& box, int code);
    // The code the box shows: a preset's code, or a typed decimal integer from 0 to 255; none otherwise.
    static std::optional<int> selectedCode(const QComboBox& box);
};

} // namespace tavlo
