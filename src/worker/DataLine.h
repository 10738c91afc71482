#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>

namespace tavlo::worker {

using Instant = std::chrono::sys_time<std::chrono::nanoseconds>;

// One received record as it travels from the worker to the window: the raw text (one character per byte,
// terminator included), the value to type, its running number, the line-error flag and its arrival time.
class DataLine {
public:
    DataLine(QString rawData, QString processedData, int count, Instant instant, bool error)
        : m_rawData(std::move(rawData)), m_processedData(std::move(processedData)), m_count(count), m_error(error),
          m_instant(instant) {}

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
    // The instant as local date and time in the computer's time zone.
    QDateTime getDateTime() const;

    // Codes 32 to 126 as themselves, every other code as its decimal value between "<" and ">".
    static QString transformControlChars(QStringView text);

private:
    QString m_rawData;
    QString m_processedData;
    int m_count;
    bool m_error;
    bool m_unstable = false;
    Instant m_instant;
};

} // namespace tavlo::worker
