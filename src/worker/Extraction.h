#pragma once

#include <QRegularExpression>
#include <QString>

namespace tavlo::worker {

// The extraction rule every worker applies to a framed record: the first match anywhere in the record,
// then the given group. No match, or a group number the expression does not define, gives the empty value.
// A group that exists but did not take part in the match has no value at all: that is a failure of the
// record (TavloException), so that a missing value is reported instead of typing nothing silently.
QString extractValue(const QRegularExpression& expression, int group, const QString& record);

// The value and where it stands in the record: start and end offsets of the group, both -1 when nothing
// matched.
struct ExtractedValue {
    QString value;
    qsizetype start = -1;
    qsizetype end = -1;
};
ExtractedValue extractValueSpan(const QRegularExpression& expression, int group, const QString& record);

} // namespace tavlo::worker
