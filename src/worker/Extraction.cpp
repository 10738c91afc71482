#include "worker/Extraction.h"

#include "base/Exceptions.h"

namespace tavlo::worker {

QString extractValue(const QRegularExpression& expression, int group, const QString& record) {
    if (group < 0 || group > expression.captureCount())
        return QString();
    const QRegularExpressionMatch match = expression.match(record);
    if (!match.hasMatch())
        return QString();
    if (!match.hasCaptured(group))
        throw base::TavloException(
            QStringLiteral("Group %1 of the expression did not take part in the match").arg(group));
    return match.captured(group);
}

} // namespace tavlo::worker
