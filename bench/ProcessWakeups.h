#pragma once

// Wake-ups of a process, from /proc: the voluntary and involuntary context switches of each of its threads.
// A thread that sleeps in a wait costs one switch each time it wakes, so the sum over an idle interval is
// the number of times the process woke the processor.

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>

namespace tavlo::bench {

struct ThreadSwitches {
    std::string name;
    long long switches = 0;
};

// By thread id; pid 0 is this process.
inline std::map<long long, ThreadSwitches> threadSwitches(long long pid = 0) {
    const QString base = pid == 0 ? QStringLiteral("/proc/self/task") : QStringLiteral("/proc/%1/task").arg(pid);
    std::map<long long, ThreadSwitches> result;
    for (const QString& tid : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(base + QLatin1Char('/') + tid + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue; // the thread ended meanwhile
        ThreadSwitches entry;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Name:"))
                entry.name = line.mid(5).trimmed().toStdString();
            else if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                entry.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
        result[tid.toLongLong()] = entry;
    }
    return result;
}

inline long long totalSwitches(const std::map<long long, ThreadSwitches>& threads) {
    long long sum = 0;
    for (const auto& [tid, entry] : threads)
        sum += entry.switches;
    return sum;
}

// The switches of each thread between two readings, one line each on stderr, for finding who wakes.
inline void printSwitchesPerThread(const std::map<long long, ThreadSwitches>& before,
                                   const std::map<long long, ThreadSwitches>& after, double seconds) {
    for (const auto& [tid, entry] : after) {
        const auto was = before.find(tid);
        const long long delta = entry.switches - (was == before.end() ? 0 : was->second.switches);
        std::fprintf(stderr, "  thread %lld (%s): %.2f wake-ups/s\n", tid, entry.name.c_str(),
                     static_cast<double>(delta) / seconds);
    }
}

// User plus system CPU seconds of a process (all threads), from /proc/<pid>/stat.
inline double processCpuSeconds(long long pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The command name may hold spaces; the fields after it are counted from its closing parenthesis.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong());
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace tavlo::bench
