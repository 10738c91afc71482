#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>

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
    Instant m_instant;
    qsizetype m_spanStart;
    qsizetype m_spanEnd;
};

} // namespace tavlo::worker
