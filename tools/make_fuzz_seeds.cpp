// Writes the seed corpus of the record-chain fuzzer: every sample record of every profile, each behind
// eight settings bytes that select that profile and a spread of processing options.
#include "config/Instrument.h"

#include <QDir>
#include <QFile>
#include <cstdio>

using H = tavlo::config::ConfigHelper;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    int n = 0;
    for (const H::Instrument* instrument : H::Instrument::values()) {
        for (const auto& sample : instrument->getTestStrings()) {
            QByteArray bytes;
            bytes.append(static_cast<char>(instrument->ordinal()));
            bytes.append(static_cast<char>((n * 37) & 0xFF));
            bytes.append(static_cast<char>((n * 11) & 0xFF));
            bytes.append(static_cast<char>(n & 0xFF));
            bytes.append(static_cast<char>((n * 5) & 0xFF));
            bytes.append(static_cast<char>(0)); // the profile's own expression
            bytes.append(static_cast<char>(n % 5));
            bytes.append(static_cast<char>(n % 4));
            bytes.append(sample.first.toLatin1());
            bytes.append('\n');
            QFile file(QStringLiteral("%1/seed-%2").arg(dir).arg(n++, 3, 10, QLatin1Char('0')));
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
                return 1;
            }
        }
    }
    std::printf("%d seeds written to %s\n", n, argv[1]);
    return 0;
}
