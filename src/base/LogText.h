#pragma once

#include <QString>
#include <QStringView>

namespace tavlo::base {

// Text from outside the program (record contents, values, texts quoted from a device or a file) on its way to
// standard error or the event log: every control code (0 to 31, 127, 128 to 159) becomes its decimal value
// between "<" and ">", so that an instrument or a file cannot send escape sequences to the user's terminal.
// Printable characters, non-ASCII ones included, stay as they are.
QString visibleText(QStringView text);

// The same for a text that may span lines, such as a message meant for a box: line breaks become spaces first.
QString visibleLine(QStringView text);

} // namespace tavlo::base
