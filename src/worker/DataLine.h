#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>
#include <optional>

namespace tavlo::worker {

using Instant = std::chrono::sys_time<std::chrono::nanoseconds>;

// One received record as it travels from the worker to the window: the raw text (one character per byte,
// terminator included), the value to type, its running number, the line-error flag, its arrival time and the
// span of the raw record the value was extracted from (start and end offsets, -1 when there is none).
class DataLine {
public:
    DataLine(QString rawData, QString processedData, int count, Instant instant, bool error, qsizetype spanStart = -1,
             qsizetype spanEnd = -1)
        : m_rawData(std::move(rawData)), m_processedData(std::move(processedData)), m_count(count), m_error(error),
          m_instant(instant), m_spanStart(spanStart), m_spanEnd(spanEnd) {}

    DataLine copy() const { return *this; }
    // The duplicate filter blanks a value this way; the record itself stays for the event log.
    void deleteProcessedData() { m_processedData.clear(); }

    int getCount() const { return m_count; }
    Instant getInstant() const { return m_instant; }
    const QString& getProcessedData() const { return m_processedData; }
    bool isError() const { return m_error; }
    bool hasValue() const { return !m_processedData.isEmpty(); }
    // The instrument's stability rule marked the record unstable (checked only when stable values are asked for).
    bool isUnstable() const { return m_unstable; }
    void markUnstable() { m_unstable = true; }

    // What the profile's rules say of the record, for display and for the outputs: the unit after the value,
    // the stability mark (none without a rule), an over- or underload mark, an acknowledgement of a command.
    struct Marks {
        QString unit;
        std::optional<bool> stable;
        bool overload = false;
        bool acknowledgement = false;
    };
    const Marks& marks() const { return m_marks; }
    void setMarks(Marks marks) { m_marks = std::move(marks); }
    bool isOverload() const { return m_marks.overload; }
    bool isAcknowledgement() const { return m_marks.acknowledgement; }

    // A framed record whose processing failed (or that was too long): the failure's text; it carries no value.
    bool isFailure() const { return !m_failure.isEmpty(); }
    const QString& failure() const { return m_failure; }
    void setFailure(QString text) { m_failure = std::move(text); }
    // The raw record in control-character notation.
    QString getRawData() const { return transformControlChars(m_rawData); }
    // The raw record itself, one character per received byte.
    const QString& rawText() const { return m_rawData; }
    // True when the value's span is a non-empty part of the raw record.
    bool hasSpan() const { return m_spanStart >= 0 && m_spanStart < m_spanEnd && m_spanEnd <= m_rawData.size(); }
    qsizetype spanStart() const { return m_spanStart; }
    qsizetype spanEnd() const { return m_spanEnd; }
    // The instant as local date and time in the computer's time zone.
    QDateTime getDateTime() const;

    // Codes 32 to 126 as themselves, every other code as its decimal value between "<" and ">".
    static QString transformControlChars(QStringView text);
    // Where the character at rawOffset of text begins in transformControlChars(text).
    static qsizetype notationOffset(QStringView text, qsizetype rawOffset);

private:
    QString m_rawData;
    QString m_processedData;
    int m_count;
    bool m_error;
    bool m_unstable = false;
    Marks m_marks;
    QString m_failure;
    Instant m_instant;
    qsizetype m_spanStart;
    qsizetype m_spanEnd;
};

} // namespace tavlo::worker
