#include "base/Expressions.h"

namespace tavlo::base {

QRegularExpression compileExpression(const QString& text) {
    // PCRE2 as built for Qt treats only LF as a line end; the verb makes CR one as well.
    QRegularExpression expression(QStringLiteral("(*ANYCRLF)") + text);
    expression.optimize();
    return expression;
}

} // namespace tavlo::base
