#pragma once

#include "worker/ReadingOutput.h"

#include <QDateTime>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tavlo::output {

// The data log: one CSV line (RFC 4180, UTF-8) per framed record with its time, the port, the instrument, the
// raw record, the value and what became of it, for an audit trail of readings. Lines are written by the log's
// own thread, which sleeps while nothing arrives and writes every line within a moment of its record; close()
// writes what is left. The file is only ever appended to; past the size limit the log goes on in a new file
// named with the date and a counter. A file that cannot be opened or written is reported once and the run
// goes on without the log.
class DataLog : public worker::ReadingOutput {
public:
    using Reading = worker::Reading;
    // Receives the one report of a failing log file; called on the log's thread.
    using Reporter = std::function<void(const QString& text)>;

    static constexpr qint64 kRotateBytes = 100LL * 1024 * 1024;
    static const char* const kHeader;

    // Starts the writer thread; the file is opened at the first line. groupWritable: a new file is created
    // writable by the group as well (for installations shared by several users).
    DataLog(QString path, Reporter report, bool groupWritable = false, qint64 rotateBytes = kRotateBytes);
    ~DataLog() override;
    DataLog(const DataLog&) = delete;
    DataLog& operator=(const DataLog&) = delete;

    // Queues one line; the costly formatting is left to the writer thread. Any thread; after close() the
    // reading is dropped.
    void deliver(const std::shared_ptr<const Reading>& reading) override;
    void append(Reading reading) { deliver(std::make_shared<const Reading>(std::move(reading))); }
    // Writes every queued line, closes the file and joins the writer thread. Idempotent.
    void close() override;
    // The file written last (the rotated one after a rotation); empty before the first line.
    QString currentFile() const;

    // One CSV field, quoted when it holds a comma, a quote, a line end or leading or trailing blanks.
    static QString csvField(const QString& text);
    // The longest a line waits in memory; lines arriving meanwhile go out in the same write.
    static constexpr int kGatherMs = 200;
    // time,port,instrument,record,value,outcome; an error's text follows its outcome.
    static QString csvLine(const Reading& reading);
    // The file after `path` once it is full: "<base>-<yyyy-MM-dd>-<n>.<suffix>" in the same folder.
    static QString rotatedName(const QString& path, const QDate& date, int counter);

private:
    void run();
    // Writes one batch of lines; false (reported) when the file cannot be opened or written.
    bool writeBatch(const std::vector<QByteArray>& lines);
    // Writes lines to the open file, stopping at a whole line below the process's file-size limit.
    bool writeChunk(const QByteArray& lines);
    bool openFile(const QString& path);
    void report(const QString& what, int error);

    const QString m_path;
    const Reporter m_report;
    const bool m_groupWritable;
    const qint64 m_rotateBytes;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<const Reading>> m_queue;
    bool m_closing = false;
    bool m_closed = false;
    QString m_currentFile;

    // Writer thread only.
    int m_fd = -1;
    qint64 m_size = 0;
    bool m_failed = false;
    int m_counter = 0;
    std::thread m_thread;
};

} // namespace tavlo::output
