#pragma once

#include <QHash>
#include <QList>

namespace tavlo::config {

// Character to key-code sequence (the program's key numbering, platform/KeyCodes.h). A sequence starting with
// Alt is an Alt code on the numeric keypad; any other is a chord, in which a Space after the first code marks
// a dead key that is completed by one Space tap after the chord.
using KeyMap = QHash<char32_t, QList<int>>;

// The fixed layout data behind ConfigHelper::KeyboardType::getKeymap.
class KeyMaps {
public:
    KeyMaps() = delete;

    // Alt, then the keypad digits of the decimal code, most significant first, without leading zeros.
    static QList<int> altCode(char32_t character);
};

} // namespace tavlo::config
