#pragma once

// The resident memory of another process (the program under test), for the tests and benchmarks that watch it
// over long runs.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace tavlo::test {

// VmRSS of the process in KiB; -1 when it cannot be read.
inline long residentKib(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace tavlo::test
