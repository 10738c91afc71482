#pragma once

#include "worker/DataLine.h"

#include <QString>
#include <memory>
#include <optional>

namespace tavlo::worker {

// What became of a framed record.
enum class Outcome {
    Queued,    // handed to the keyboard (or print) output
    Accepted,  // a value that passed every check while typing is off
    Duplicate, // the duplicate filter suppressed it
    Unstable,  // the instrument marked it unstable and only stable values are typed
    Overload,  // the instrument marked it over or under its range
    NoValue,   // nothing to type: no match, or an acknowledgement
    Error      // processing failed, the record was too long, or typing was wanted and impossible
};

// "queued", "accepted", "duplicate", "unstable", "overload", "no-value", "error".
QString outcomeText(Outcome outcome);

// One framed record as every output sees it, made once on the GUI thread from the worker's record and what the
// run decided about it. Outputs receive it shared and read only; it never changes after it was made.
struct Reading {
    QString run;        // the id of the run, new at each Start
    qint64 seq = 0;     // 1, 2, ... per run, one per framed record, failures included
    Instant time{};     // when the record's terminator arrived
    QString station;    // the station's name
    QString port;       // the port or network address
    QString instrument; // the profile's constant name
    QString raw;        // the record, one character per received byte (terminator included)
    QString value;      // the processed value (also for duplicates and unstable records); empty: none
    bool typed = false; // handed to the keyboard or print output
    QString unit;       // empty: none
    std::optional<bool> stable;
    Outcome outcome = Outcome::NoValue;
    QString error; // the failure's text for Outcome::Error, else empty
};

// A change of the run's state, as structured events for the outputs (the event log has its own text).
struct StatusEvent {
    enum class Kind { Started, PortOpened, Lost, Reopened, Stopped };
    QString run;
    Instant time{};
    Kind kind = Kind::Started;
    QString text;
};

// "started", "port-opened", "lost", "reopened", "stopped".
QString statusEventName(StatusEvent::Kind kind);

// ISO 8601 local time with milliseconds and the offset from UTC, "2026-12-09T07:05:03.042+01:00".
QString isoTime(Instant time);

// The current time as an Instant.
Instant instantNow();

} // namespace tavlo::worker
