#include "tavlo/InputTerminatorBox.h"

#include "config/ConfigHelper.h"

using tavlo::config::ConfigHelper;

namespace tavlo {

void InputTerminatorBox::fill(QComboBox& box) {
    box.setEditable(true);
    box.setInsertPolicy(QComboBox::NoInsert);
    for (const auto* item : ConfigHelper::InputTerminator::values())
        box.addItem(item->display(), item->getDecimal());
}

void InputTerminatorBox::setSelectedItem(QComboBox& box, int code) {
    const int index = box.findData(code);
    if (index >= 0) {
        box.setCurrentIndex(index);
        box.setEditText(box.itemText(index));
    } else {
        box.setCurrentIndex(-1);
        box.setEditText(QString::number(code));
    }
}

std::optional<int> InputTerminatorBox::selectedCode(const QComboBox& box) {
    const QString text = box.currentText();
    const int index = box.findText(text);
    if (index >= 0)
        return box.itemData(index).toInt();
    const std::optional<int> code = ConfigHelper::parseInteger(text.trimmed());
    if (!code || !ConfigHelper::InputTerminator::valid(*code))
        return std::nullopt;
    return code;
}

} // namespace tavlo
