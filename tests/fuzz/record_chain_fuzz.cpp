// Random raw records under random but valid settings through the record processor and the duplicate filter.
// A failure of one record (TavloException) is the chain's normal answer; anything else is a finding.
#include "base/Exceptions.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/Ignorer.h"
#include "worker/RecordProcessor.h"

#include <array>
#include <cstddef>
#include <cstdint>

using tavlo::config::Config;
using H = tavlo::config::ConfigHelper;

namespace {

constexpr size_t kSettingsBytes = 8;

constexpr std::array<const char*, 8> kOperands = {"2", "0.5", "1000", "-3", "0.0", "1E2", "0.001", "7E-9"};
constexpr std::array<const char*, 7> kExpressions = {"",
                                                     R"(([-+]?[0-9]+(?:\.[0-9]+)?(?:[eE][-+]?[0-9]+)?))",
                                                     R"((\S+))",
                                                     R"(W=(.*)$)",
                                                     R"(([^,]*),)",
                                                     R"(()|(x))",
                                                     R"((?:a|(b))+)"};
constexpr std::array<const char*, 5> kRemove = {"", "kg", " ", "-+",
                                                "\xb0"
                                                "E"};
constexpr std::array<const char*, 4> kDifferences = {"", "0.01", "1E3", "0.5"};

Config settingsFrom(const uint8_t* s) {
    Config c;
    const auto instruments = H::Instrument::values();
    c.setInstrument(instruments[s[0] % instruments.size()]);
    c.setDecimalSeparator(s[1] & 1 ? &H::DecimalSeparator::COMMA : &H::DecimalSeparator::DOT);
    if (s[1] & 2)
        c.setDecimalPlaces(QString::number(s[2] % 8));
    c.setRoundingMethod(H::RoundingMethod::values()[(s[2] >> 3) % 7]);
    c.setMathOperation(H::MathOperation::values()[(s[1] >> 2) % 3]);
    c.setMathOperand(kOperands[s[3] % kOperands.size()]);
    c.setEditOperation(s[1] & 16 ? &H::EditOperation::KEEP : &H::EditOperation::REMOVE);
    c.setEditPosition(s[1] & 32 ? &H::EditPosition::LAST : &H::EditPosition::FIRST);
    if (s[4] % 12)
        c.setEditNumCharacters(QString::number(s[4] % 12));
    c.setCustomRegEx(kExpressions[s[5] % kExpressions.size()]);
    c.setRemoveCharacters(QString::fromLatin1(kRemove[s[6] % kRemove.size()]));
    c.setIgnoreDifference(kDifferences[s[7] % kDifferences.size()]);
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kSettingsBytes)
        return 0;
    const Config config = settingsFrom(data);
    tavlo::worker::RecordProcessor processor(config);
    tavlo::worker::Ignorer ignorer(config);
    // The rest is a stream of records cut at line feed, as a worker frames them.
    const QString stream = QString::fromLatin1(reinterpret_cast<const char*>(data + kSettingsBytes),
                                               static_cast<qsizetype>(size - kSettingsBytes));
    qsizetype start = 0;
    int count = 0;
    while (start < stream.size()) {
        qsizetype end = stream.indexOf(u'\n', start);
        end = end < 0 ? stream.size() : end + 1;
        const QString record = stream.mid(start, end - start);
        start = end;
        ++count;
        try {
            tavlo::worker::DataLine line(record, processor.process(record), count,
                                         tavlo::worker::Instant(std::chrono::milliseconds(count * 7)), false);
            ignorer.process(line);
        } catch (const tavlo::base::TavloException&) {
            // A record that cannot be processed is logged and skipped by the worker.
        }
    }
    return 0;
}
