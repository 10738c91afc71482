#include "worker/Extraction.h"

#include "base/Exceptions.h"

namespace tavlo::worker {

QString extractValue(const QRegularExpression& expression, int group, const QString& record) {
    return extractValueSpan(expression, group, record).value;
}

ExtractedValue extractValueSpan(const QRegularExpression& expression, int group, const QString& record) {
    if (group < 0 || group > expression.captureCount())
        return {};
    const QRegularExpressionMatch match = expression.match(record);
    if (!match.hasMatch())
        return {};
    if (!match.hasCaptured(group))
        throw base::TavloException(
            QStringLiteral("Group %1 of the expression did not take part in the match").arg(group));
    return {match.captured(group), match.capturedStart(group), match.capturedEnd(group)};
}

} // namespace tavlo::worker
