#pragma once

#include "worker/AcquisitionView.h"

#include <QList>
#include <QString>
#include <optional>

namespace tavlo::config {
class Config;
}

namespace tavlo::worker {

// What one record would give with the given settings, worked out by the record processor of acquisition:
// for the preview of the Processing tab.
struct RecordPreview {
    QString record;    // the framed record, terminator included
    QString extracted; // the value group, before processing
    bool matched = false;
    QString value;          // the processed value
    QString typed;          // start key, value and terminator as --output print shows them; empty when nothing
    QString reason;         // why nothing would be typed, or what cannot be typed
    QList<LogSpan> logLine; // the event-log line with its spans
};

// The records a sample text frames into with the settings' input terminator; the terminator is appended to a
// text that does not end with it; line-end characters after the last terminator are dropped. C escapes in the sample
// (\r, \n, \t, \\, \xHH, octal \ooo) stand for their bytes; none when an escape is malformed (the reason in error).
std::optional<QStringList> frameSample(const QString& sample, int terminator, QString* error);

// Every framed record of the sample through the chain of the settings.
QList<RecordPreview> previewRecords(const config::Config& config, const QStringList& records);

} // namespace tavlo::worker
