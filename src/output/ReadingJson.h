#pragma once

#include "worker/Reading.h"

#include <QByteArray>

namespace tavlo::output {

// The one JSON form of readings and status events, for the reading service and MQTT: one object per reading
// with the keys type, run, seq, time, station, port, instrument, raw, value, typed, unit, stable, outcome and
// error (in that order); status events have type, run, time, event and text. UTF-8, no line breaks.
QByteArray readingJson(const worker::Reading& reading);
QByteArray statusJson(const worker::StatusEvent& event);

// A JSON string literal (quotes included) of text.
void appendJsonString(QByteArray& out, QStringView text);

} // namespace tavlo::output
