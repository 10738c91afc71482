#pragma once

#include "config/InstrumentCommand.h"

// The commands that the makers' interface descriptions give for their instruments, one entry per command set.
// The profiles point at these entries; a profile whose maker documents no command has none.
namespace tavlo::config::commands {

// METTLER TOLEDO MT-SICS, levels 0 and 1: S, T and Z with CR LF.
extern const InstrumentCommands MT_SICS;
// A&D standard commands (FX-i/FZ-i, GP and GX series): S, T and R with CR LF; AK (06h) acknowledges.
extern const InstrumentCommands AND_STANDARD;
// KERN s/w/t remote control (572, DS, FKB): single characters without CR LF; no tare answer.
extern const InstrumentCommands KERN_SWT;
// OHAUS command set of the Adventurer, PR and Courier series: SP, T and Z with CR LF; "OK!" acknowledges.
extern const InstrumentCommands OHAUS_STANDARD;
// OHAUS Scout Pro, Traveler and Navigator: P prints, T is the ON-ZERO key.
extern const InstrumentCommands OHAUS_SCOUT;
// Sartorius SBI data input: Esc P, Esc f4_ (tare), Esc f3_ (zero), each with CR LF; no answer.
extern const InstrumentCommands SARTORIUS_SBI;
// Adam Equipment CPWplus: N sends the net weight, Z is the Tare/Zero key.
extern const InstrumentCommands ADAM_CPWPLUS;
// Mitutoyo 264-007: the request text of the profile.
extern const InstrumentCommands MITUTOYO_264;

} // namespace tavlo::config::commands
