#include "worker/SelfTest.h"

#include "base/Exceptions.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/DataLine.h"
#include "worker/RecordProcessor.h"

namespace tavlo::worker {

using Instrument = config::ConfigHelper::Instrument;

int runSelfTest(QTextStream& out) {
    int failedProfiles = 0;
    int samples = 0;
    const auto instruments = Instrument::values();
    for (const Instrument* instrument : instruments) {
        config::Config config;
        config.setInstrument(instrument);
        const RecordProcessor processor(config);
        const QRegularExpression& expression = processor.expression();
        const auto pairs = instrument->getTestStrings();
        samples += static_cast<int>(pairs.size());
        QString failure;
        if (!expression.isValid())
            failure = QStringLiteral("expression does not compile: %1").arg(expression.errorString());
        for (const auto& [record, expected] : pairs) {
            if (!failure.isEmpty())
                break;
            QString got;
            try {
                got = processor.extract(record);
            } catch (const base::TavloException& e) {
                got = QStringLiteral("<failure: %1>").arg(e.message());
            }
            if (got != expected)
                failure = QStringLiteral("record \"%1\": expected \"%2\", got \"%3\"")
                              .arg(DataLine::transformControlChars(record), DataLine::transformControlChars(expected),
                                   DataLine::transformControlChars(got));
        }
        out << instrument->name() << ' ' << pairs.size() << ' '
            << (failure.isEmpty() ? QStringLiteral("pass") : QStringLiteral("FAIL ") + failure) << '\n';
        if (!failure.isEmpty())
            ++failedProfiles;
    }
    out << "self-test: " << instruments.size() << " profiles, " << samples << " samples, " << failedProfiles
        << " failed\n";
    out.flush();
    return failedProfiles;
}

} // namespace tavlo::worker
