#pragma once

#include <QRegularExpression>
#include <QString>

namespace tavlo::base {

// Compiles an extraction expression the way every part of the program uses it: no option flags
// (case-sensitive, no multi-line, no dot-matches-all), ASCII \d and \s, and carriage return as well as
// line feed treated as line ends so that the dot matches neither.
QRegularExpression compileExpression(const QString& text);

} // namespace tavlo::base
