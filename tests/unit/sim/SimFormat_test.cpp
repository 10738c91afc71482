#include "SimFormat.h"

#include "base/Decimal.h"
#include "base/Expressions.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/RecordProcessor.h"

#include <gtest/gtest.h>

using tavlo::sim::decodeEscapes;
using tavlo::sim::fillTemplate;

namespace {

TEST(SimFormat, DecodesShellEscapes) {
    EXPECT_EQ(decodeEscapes("1\\r"), QByteArray("1\r"));
    EXPECT_EQ(decodeEscapes("a\\tb\\n\\\\"), QByteArray("a\tb\n\\"));
    EXPECT_EQ(decodeEscapes("\\x02X\\x03"), QByteArray("\x02X\x03"));
    EXPECT_EQ(decodeEscapes("\\q\\"), QByteArray("\\q\\"));
}

TEST(SimFormat, FillsTemplatesExactly) {
    EXPECT_EQ(*fillTemplate("ST,%+09.2f  g\r\n", "12.34"), QByteArray("ST,+00012.34  g\r\n"));
    EXPECT_EQ(*fillTemplate("ST,%+09.2f  g\r\n", "-0.5"), QByteArray("ST,-00000.50  g\r\n"));
    EXPECT_EQ(*fillTemplate("%8.3f|", "2.0005"), QByteArray("   2.001|"));
    EXPECT_EQ(*fillTemplate("%-6s|%%", "ab"), QByteArray("ab    |%"));
    EXPECT_EQ(*fillTemplate("%f", "1E-3"), QByteArray("0.001"));
    QString error;
    EXPECT_FALSE(fillTemplate("%f", "abc", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(fillTemplate("%d", "1"));
    EXPECT_FALSE(fillTemplate("50%", "1"));
}

TEST(SimFormat, PresetsMarkUnstableRecords) {
    const auto preset = tavlo::sim::presetFor("AND");
    ASSERT_TRUE(preset);
    EXPECT_NE(QByteArray(preset->stable), QByteArray(preset->unstable));
    EXPECT_FALSE(tavlo::sim::presetFor("NO_SUCH"));
}

// The profile's stability rule is the authority: for every profile with a rule the simulator has a preset whose
// unstable records the rule marks and whose stable records it lets through with the value intact.
TEST(SimFormat, EveryProfileWithAStabilityRuleHasPresetsTheRuleAgreesWith) {
    using Instrument = tavlo::config::ConfigHelper::Instrument;
    int checked = 0;
    for (const Instrument* instrument : Instrument::values()) {
        if (!instrument->hasStabilityRule())
            continue;
        const auto preset = tavlo::sim::presetFor(instrument->name());
        ASSERT_TRUE(preset) << instrument->nameLatin1() << " has a rule but no preset";
        const QRegularExpression rule = tavlo::base::compileExpression(instrument->getStabilityRule());
        tavlo::config::Config config = instrument->getDefaultConfig();
        config.setInstrument(instrument);
        tavlo::worker::RecordProcessor processor(config);
        for (const char* value : {"12.34", "0.5", "0", "1234.5"}) {
            const QByteArray stable = *tavlo::sim::fillTemplate(preset->stable, value);
            const QByteArray unstable = *tavlo::sim::fillTemplate(preset->unstable, value);
            EXPECT_FALSE(rule.match(QString::fromLatin1(stable)).hasMatch())
                << instrument->nameLatin1() << " " << stable.toStdString();
            EXPECT_TRUE(rule.match(QString::fromLatin1(unstable)).hasMatch())
                << instrument->nameLatin1() << " " << unstable.toStdString();
            const QString typed = processor.process(QString::fromLatin1(stable));
            const auto number = tavlo::base::Decimal::tryParse(typed);
            ASSERT_TRUE(number) << instrument->nameLatin1() << " typed \"" << typed.toStdString() << "\"";
            EXPECT_EQ(number->compareTo(tavlo::base::Decimal::parse(QString::fromLatin1(value))), 0)
                << instrument->nameLatin1() << " typed " << typed.toStdString() << " for " << value;
        }
        ++checked;
    }
    EXPECT_GE(checked, 15);
}

} // namespace
