// The simulator's instrument answers the commands of the profile's table, and its answers are what the profile's
// rules expect: acknowledgements that the record chain recognises, weights net of the tare.
#include "SimCommands.h"

#include "config/Config.h"
#include "config/Instrument.h"
#include "worker/RecordProcessor.h"

#include <gtest/gtest.h>

using tavlo::config::InstrumentCommand;
using tavlo::sim::CommandInstrument;
using Instrument = tavlo::config::ConfigHelper::Instrument;

namespace {

CommandInstrument instrumentFor(const Instrument& profile, QStringList values) {
    const auto preset = tavlo::sim::presetFor(profile.name());
    return CommandInstrument(std::move(values), preset ? QByteArray(preset->stable) : QByteArray("%s\r\n"), preset,
                             *profile.commands());
}

TEST(SimCommands, FindsTheEarliestWholeCommandInWhatArrived) {
    const CommandInstrument mettler = instrumentFor(Instrument::METTLER_DIALOG, {"1"});
    EXPECT_FALSE(mettler.find("S\r"));
    const auto tare = mettler.find("xxT\r\nS\r\n");
    ASSERT_TRUE(tare);
    EXPECT_EQ(tare->command, InstrumentCommand::Tare);
    EXPECT_EQ(tare->consumed, 5);
    // Kern's single characters: whatever comes first.
    const CommandInstrument kern = instrumentFor(Instrument::KERN_572, {"1"});
    EXPECT_EQ(kern.find("ts")->command, InstrumentCommand::Tare);
    EXPECT_EQ(kern.find("ts")->consumed, 1);
    EXPECT_FALSE(kern.find("w"));
}

TEST(SimCommands, TareMakesLaterRecordsNetAndZeroMovesTheZeroPoint) {
    CommandInstrument mettler = instrumentFor(Instrument::METTLER_DIALOG, {"100", "150.5"});
    EXPECT_EQ(mettler.answer(InstrumentCommand::Request).bytes, "S S    100.000 g\r\n");
    const auto tare = mettler.answer(InstrumentCommand::Tare);
    EXPECT_FALSE(tare.record);
    EXPECT_EQ(tare.bytes, "T S    100.000 g\r\n");
    EXPECT_EQ(mettler.answer(InstrumentCommand::Request).bytes, "S S     50.500 g\r\n");
    EXPECT_EQ(mettler.answer(InstrumentCommand::Request).bytes, "S S      0.000 g\r\n");
    EXPECT_EQ(mettler.answer(InstrumentCommand::Zero).bytes, "Z A\r\n");
    EXPECT_EQ(mettler.answer(InstrumentCommand::Request).bytes, "S S     50.500 g\r\n");

    // Without a documented answer nothing is sent, and the tare still applies.
    CommandInstrument kern = instrumentFor(Instrument::KERN_572, {"2.5", "3"});
    EXPECT_TRUE(kern.answer(InstrumentCommand::Request).record);
    EXPECT_TRUE(kern.answer(InstrumentCommand::Tare).bytes.isEmpty());
    EXPECT_EQ(kern.answer(InstrumentCommand::Request).bytes, "     0.500 g\n");
}

// Every profile with commands is simulated, and what the simulator answers to tare and zero is what the profile's
// acknowledgement rule recognises: never typed.
TEST(SimCommands, EveryProfileWithCommandsHasAnswersItsRulesRecognise) {
    int checked = 0;
    for (const Instrument* profile : Instrument::values()) {
        if (!profile->commands())
            continue;
        const auto preset = tavlo::sim::presetFor(profile->name());
        ASSERT_TRUE(preset) << profile->nameLatin1() << " has commands but no preset";
        tavlo::config::Config config = profile->getDefaultConfig();
        config.setInstrument(profile);
        tavlo::worker::RecordProcessor processor(config);
        CommandInstrument sim = instrumentFor(*profile, {"12.5"});
        if (profile->hasCommand(InstrumentCommand::Request)) {
            const QString record = QString::fromLatin1(sim.answer(InstrumentCommand::Request).bytes);
            EXPECT_FALSE(processor.run(record).acknowledgement) << profile->nameLatin1();
        }
        const bool documented = !profile->getAcknowledgementRule().isEmpty();
        EXPECT_EQ(documented, preset->tareAnswer != nullptr || preset->zeroAnswer != nullptr) << profile->nameLatin1();
        for (const InstrumentCommand command : {InstrumentCommand::Tare, InstrumentCommand::Zero}) {
            if (!profile->hasCommand(command))
                continue;
            const QByteArray answer = sim.answer(command).bytes;
            if (!documented) {
                EXPECT_TRUE(answer.isEmpty()) << profile->nameLatin1();
                continue;
            }
            const auto result = processor.run(QString::fromLatin1(answer));
            EXPECT_TRUE(result.acknowledgement) << profile->nameLatin1() << " " << answer.toStdString();
        }
        ++checked;
    }
    EXPECT_GE(checked, 10);
}

} // namespace
