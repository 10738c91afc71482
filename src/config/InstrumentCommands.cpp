#include "config/InstrumentCommands.h"

namespace tavlo::config::commands {

// Each entry gives the bytes exactly as the document names them; the README's command table lists the same.
// The acknowledgement patterns find only the answers that say the command was carried out: an answer that
// refuses it carries no weight, so the record gives no value anyway.

// "S" sends the stable weight ("S S     100.00 g"), "T" tares and answers "T S" with the tare weight, "Z" zeroes
// and answers "Z A". The tare answer carries a number that the profile's expression would take for a weight.
constinit const InstrumentCommands MT_SICS{
    .request = "S\r\n",
    .tare = "T\r\n",
    .zero = "Z\r\n",
    .acknowledgement = R"(^(T S\s|Z A(\s|$)))",
    .source = "METTLER TOLEDO MT-SICS reference manual (11780711), commands S, T and Z"};

// "S" requests the weight when stabilized, "T" is the Tare key, "R" the RE-ZERO key. With "AK, error code"
// set in the function table the balance answers a control command with AK (06h) and the terminator.
constinit const InstrumentCommands AND_STANDARD{
    .request = "S\r\n",
    .tare = "T\r\n",
    .zero = "R\r\n",
    .acknowledgement = R"(^\x06\s*$)",
    .source = "A&D FX-i/FZ-i series instruction manual, Commands (command list; acknowledge code and error codes)"};

// Sent without a subsequent CR LF: "s" sends the stable weight, "t" tares and sends nothing.
constinit const InstrumentCommands KERN_SWT{
    .request = "s",
    .tare = "t",
    .source = "KERN 572/573/KB/DS/FKB operating instructions and FKB_A-BA-e-1513, remote control commands s/w/t"};

// "SP" prints when stable, "T" and "Z" are the Tare and Zero keys; with responses enabled (xRL) the balance
// answers a command with "OK!".
constinit const InstrumentCommands OHAUS_STANDARD{
    .request = "SP\r\n",
    .tare = "T\r\n",
    .zero = "Z\r\n",
    .acknowledgement = R"(^\s*OK!)",
    .source = "OHAUS Adventurer service manual and PR series manual, interface commands"};

// "P" prints the displayed weight; "T" tares, the same as the ON-ZERO key, which also zeroes an empty pan.
constinit const InstrumentCommands OHAUS_SCOUT{
    .request = "P\r\n",
    .tare = "T\r\n",
    .source = "OHAUS RS232 interface manual (Scout Pro, Traveler, Navigator), RS232 input commands"};

// Format 1 "Esc P" prints (with or without stability, as set in the menu); format 2 "Esc f4 _" is the tare key
// and "Esc f3 _" the zero key. The balance sends no answer.
constinit const InstrumentCommands SARTORIUS_SBI{
    .request = "\x1bP\r\n",
    .tare = "\x1b"
            "f4_\r\n",
    .zero = "\x1b"
            "f3_\r\n",
    .source = "Sartorius operating instructions (FB, ME, Entris II), SBI data input format: Esc P, Esc f4_, Esc f3_"};

// "N" sends the net weight; "Z" is the Tare/Zero key ("T" only sends the tare weight).
constinit const InstrumentCommands ADAM_CPWPLUS{
    .request = "N\r\n", .tare = "Z\r\n", .source = "Adam Equipment CPWplus user manual, RS-232 input commands"};

// The interface answers the request "1" and carriage return with one reading.
constinit const InstrumentCommands MITUTOYO_264{.request = "1\r",
                                                .source = "Mitutoyo 264-007 interface, request text of the profile"};

} // namespace tavlo::config::commands
