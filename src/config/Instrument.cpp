#include "config/Instrument.h"

#include "base/ResourceBundle.h"
#include "config/Config.h"
#include "config/InstrumentCommands.h"

#include <array>

namespace tavlo::config {

using I = ConfigHelper::Instrument;
using IT = ConfigHelper::InstrumentType;
using KM = ConfigHelper::KeyMapType;

namespace {

// Extraction expressions; a backslash here is one character of the expression.
constexpr const char* G = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* AD = R"(([-+]+[0-9]*[\.,]?[0-9]+))";
constexpr const char* BA = R"(([\dA-Z]+))";
// Exactly the printable ASCII characters, space to tilde.
constexpr const char* BC = R"(([] !-/\d:-@A-Z\[\\^_`a-z{-~]+))";
constexpr const char* AZ = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)kg)";
constexpr const char* GW = R"(Wt\s?([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* GP = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(pcs))";
constexpr const char* AL =
    R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(kg|g|lb|oz|pcs|ct|d|GN|ozt|dwt|MM|TlH|TlC|Tlt|t|N|g2|TlJ))";
constexpr const char* KM_ = R"(^N.*?(-?\s*[0-9]*[\.,]?[0-9]+)\s*kg)";
constexpr const char* KR = R"(^N:\s*([0-9]*\.?[0-9]+))";
constexpr const char* KY = R"(([+-]+\d*\.?\d+))";
constexpr const char* MI = R"(01A([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* ML = R"(([-+]?\s*[0-9]*\.+[0-9]+))";
constexpr const char* SH = R"(\(\s*([0-9]*)\))";
constexpr const char* TA = R"(Wg,([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* WE = R"(^0(-?\s+[0-9]*\.?[0-9]+))";

// Stability rules. A&D: the header "US" marks motion; "ST" and "QT" are stable. Mettler Toledo: "S D" is a
// dynamic (unstable) weight; "S S" is stable. Ohaus puts a "?" after an unstable weight. Sartorius leaves the unit
// out while the weight moves, so the number is followed only by blanks and the line end; the Kern balances with
// the s/w/t interface do the same, and older ones mark motion with a "?". The Kern KFB indicators send the header
// "US" as A&D does.
constexpr const char* UNSTABLE_AND = R"(^\s*US,)";
constexpr const char* UNSTABLE_METTLER = R"(^S ?D)";
constexpr const char* UNSTABLE_QUESTION = R"(\?)";
constexpr const char* UNSTABLE_SARTORIUS = R"([0-9][ \r\n]*$)";
constexpr const char* UNSTABLE_KERN = R"(\?|[0-9][ \r\n]*$)";
constexpr const char* UNSTABLE_KERN_KFB = R"(^\s*US,|\?)";
// Overload rules: records that carry a number which is no weight, or only the mark of one. A&D sends
// "OL,+9999999E+19" over its range; Mettler Toledo "S +" over and "S -" under its range; Sartorius the special
// codes "H" (over) and "L" (under), "HH" and "LL" while checkweighing, and "High" and "Low" on newer models, after
// "Stat" in the format with identification codes. Any "Stat" line is a state of the balance (an error code such
// as "Stat  ERR 101" included), never a weight.
constexpr const char* OVERLOAD_AND = R"(^\s*OL,)";
constexpr const char* OVERLOAD_METTLER = R"(^S ?[+-])";
constexpr const char* OVERLOAD_SARTORIUS = R"(^\s*Stat\b|^\s*(HH?|LL?|High|Low)\s*$)";
// Unit rules, searched from the end of the value: the letters (and % or /) that follow it on the same line.
// The Adam label format names its units; the longer names come first so that "ozt" is not taken as "oz".
constexpr const char* UNIT = R"(\G[ \t]*([A-Za-z%/]+))";
constexpr const char* UNIT_ADAM_LABEL = R"(\G\s?(ozt|oz|kg|g2|g|lb|pcs|ct|dwt|d|GN|MM|TlH|TlC|Tlt|TlJ|t|N))";

// Serial defaults: bit rate index (1200 = 4, 2400 = 5, 4800 = 6, 9600 = 7), data bits index (7 = 2, 8 = 3),
// stop bits index (1 = 0), parity index (NONE 0, ODD 1, EVEN 2, SPACE 4), terminator code.
constexpr I::Serial S9600_8N1_CR{7, 3, 0, 0, 13};
constexpr I::Serial S9600_8N1_LF{7, 3, 0, 0, 10};
constexpr I::Serial S2400_7E1_LF{5, 2, 0, 2, 10};
constexpr I::Serial S4800_8N1_LF{6, 3, 0, 0, 10};

constexpr I::Sample BASE_SAMPLES[] = {{"", ""}};
constexpr I::Sample BARCODE_COMPLETE_SAMPLES[] = {
    {BC, BC}, {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"}, {"1234567890", "1234567890"}, {" ", " "}};
constexpr I::Sample AND_SAMPLES[] = {{"ST, +00012.34 kg", "+00012.34"},
                                     {"US, -00012,45 g", "-00012,45"},
                                     {"ST, +00000101 PC", "+00000101"},
                                     {"ST, 12345,67 kg", ""}};
constexpr I::Sample ADAM_AZEXTRA_SAMPLES[] = {
    {"10/06/2016   03:52:47\r\n   UNIT PRICE        NET      TOTAL\r\n-------------------------------------\r\n"
     "?      4.45/100g    0.058kg ?    2.58\r\n\r\n\r\n\r\n",
     "    0.058"},
    {"\r\n\r\nDATE   10/06/2016\r\nTIME   04:18:39\r\n\r\nUNIT\r\nPRICE ?   33.43/100g\r\n\r\nNET.      1.234kg\r\n"
     "\r\nTOTAL ?  412.53\r\n\r\n\r\n\r\n",
     "      1.234"},
    {"   1.234kg\r\n", "   1.234"}};
constexpr I::Sample ADAM_CBK_SAMPLES[] = {{"  1.9999 kg\n", "  1.9999"}, {"  -1.8999 kg\n", "-1.8999"}};
constexpr I::Sample ADAM_CPWPLUS_SAMPLES[] = {{"add:   A\n", ""}, {"G/W:+ 60.24   kg\n\n\n\n", "+ 60.24"}};
constexpr I::Sample ADAM_GC_WEIGHT_SAMPLES[] = {{"Date   07/09/2010\r", ""},
                                                {"Time   16:20:15\r", ""},
                                                {"Scale ID         \r", ""},
                                                {"User ID          \r", ""},
                                                {"Gross Wt   0.0020 kg\r", "  0.0020"},
                                                {"Net Wt     0.0845 kg\r", "    0.0845"}};
constexpr I::Sample KERN_MPS_SAMPLES[] = {{"NET  WEIGHT  3.3kg\n", "  3.3"}, {"N  60.24 kg\n", "  60.24"}};
constexpr I::Sample KERN_RPB_SAMPLES[] = {
    {"N:    0.404 kg\r", "0.404"}, {"   0.34 EUR/kg\r", ""}, {"N:  4000 g\r", "4000"}};
constexpr I::Sample KEYENCE_SAMPLES[] = {
    {"DR,08,-99.998\r", "-99.998"}, {"DR,02,+123.567\r", "+123.567"}, {"DR,02,123.567\r", ""}};
constexpr I::Sample MITUTOYO_SAMPLES[] = {
    {"01A+001.1920\r", "+001.1920"}, {"01A-001.1805", "-001.1805"}, {"+123.45", ""}};
constexpr I::Sample MITUTOYO_LSM_SAMPLES[] = {
    {"P00, 12.3456\r\n", " 12.3456"}, {"12.3456", "12.3456"}, {"P00, +012.3456", "+012.3456"}};
constexpr I::Sample SCHLAGE_SAMPLES[] = {{"021   001   15:27:00  06/29/16  IDENTITY VERIFIED FOR ID ( 999)", "999"}};
constexpr I::Sample TANITA_SAMPLES[] = {{R"({0,16,~0,1,MO,"TL-280",Wg,123,Pt,0)", "123"},
                                        {R"({0,16,~0,1,MO,"TL-280",Wg,-12.3,Pt,0)", "-12.3"}};
constexpr I::Sample WEDDERBURN_SAMPLES[] = {{"\nA    2.10", ""}, {"0    2.45", "    2.45"},
                                            {"4-    0.35", ""},  {"14/06/2016 13:26:35", ""},
                                            {"1", ""},           {"B@G", ""}};

// A profile with the numeric expression and 8N1 at 9600 bit/s, ended by line feed: the most common kind.
constexpr I::Profile numeric(const char* pattern, I::Serial serial = S9600_8N1_LF, const char* messageKey = nullptr,
                             std::span<const I::Sample> samples = BASE_SAMPLES) {
    return I::Profile{.pattern = pattern, .serial = serial, .messageKey = messageKey, .samples = samples};
}

constexpr I::Profile asKern572(const InstrumentCommands* commands = nullptr) {
    return I::Profile{
        .pattern = G, .serialFrom = &I::KERN_572, .unstable = UNSTABLE_KERN, .unit = UNIT, .commands = commands};
}

// The rules of a profile's records (stability, overload, unit) and the commands its maker documents.
struct Rules {
    const char* unstable = nullptr;
    const char* overload = nullptr;
    const char* unit = UNIT;
    const InstrumentCommands* commands = nullptr;
};

constexpr I::Profile with(I::Profile profile, Rules rules) {
    profile.unstable = rules.unstable;
    profile.overload = rules.overload;
    profile.unit = rules.unit;
    profile.commands = rules.commands;
    return profile;
}

} // namespace

constinit const I I::GENERIC{0, "GENERIC", "generic", nullptr,
                             with(numeric(G, S9600_8N1_CR, "generic.defaultMessage"), {})};
constinit const I I::BARCODE{1, "BARCODE", "barcode_numeric", nullptr,
                             I::Profile{.type = IT::TEXT,
                                        .pattern = G,
                                        .serial = S9600_8N1_CR,
                                        .messageKey = "barcode_numeric.defaultMessage",
                                        .samples = BASE_SAMPLES}};
constinit const I I::BARCODE_ALPHA{2, "BARCODE_ALPHA", "barcode_alphanumeric", nullptr,
                                   I::Profile{.type = IT::TEXT,
                                              .keyMap = KM::ALPHANUMERIC_BASIC,
                                              .pattern = BA,
                                              .serial = S9600_8N1_CR,
                                              .messageKey = "barcode_alphanumeric.defaultMessage",
                                              .samples = BASE_SAMPLES}};
constinit const I I::BARCODE_ALPHA_COMPLETE{3, "BARCODE_ALPHA_COMPLETE", "barcode_alphanumeric_complete", nullptr,
                                            I::Profile{.type = IT::TEXT,
                                                       .keyMap = KM::ALPHANUMERIC_COMPLETE,
                                                       .pattern = BC,
                                                       .serial = S9600_8N1_CR,
                                                       .messageKey = "barcode_alphanumeric_complete.defaultMessage",
                                                       .samples = BARCODE_COMPLETE_SAMPLES}};
constinit const I I::AND{
    4, "AND", nullptr, "A&D",
    with(numeric(AD, S2400_7E1_LF, nullptr, AND_SAMPLES),
         {.unstable = UNSTABLE_AND, .overload = OVERLOAD_AND, .commands = &commands::AND_STANDARD})};
constinit const I I::AND_SIMPLE{
    5, "AND_SIMPLE", nullptr, "A&D (no handshaking)",
    I::Profile{.patternFrom = &I::AND, .serialFrom = &I::AND, .commands = &commands::AND_STANDARD}};
constinit const I I::AND_EM{
    6, "AND_EM", nullptr, "A&D EM",
    I::Profile{.serial = S9600_8N1_LF, .messageKey = "aandd.em.defaultmessage", .patternFrom = &I::AND}};
constinit const I I::ADAM_AZEXTRA_WEIGHT{
    7, "ADAM_AZEXTRA_WEIGHT", "adam_azextra_weight", nullptr,
    with(numeric(AZ, S4800_8N1_LF, "adam_azextra.defaultMessage", ADAM_AZEXTRA_SAMPLES), {})};
constinit const I I::ADAM_CBK{8, "ADAM_CBK", nullptr, "Adam CBK/GBK/GFK",
                              with(numeric(G, S4800_8N1_LF, "adam_cbk.defaultMessage", ADAM_CBK_SAMPLES), {})};
constinit const I I::ADAM_CPWPLUS{9, "ADAM_CPWPLUS", nullptr, "Adam CPWplus",
                                  with(numeric(G, S9600_8N1_CR, "adam_cpwplus.defaultMessage", ADAM_CPWPLUS_SAMPLES),
                                       {.commands = &commands::ADAM_CPWPLUS})};
constinit const I I::ADAM_GC_WEIGHT{10, "ADAM_GC_WEIGHT", "adam_gbc_gfc_weight", nullptr,
                                    with(numeric(GW, S4800_8N1_LF, nullptr, ADAM_GC_WEIGHT_SAMPLES), {})};
constinit const I I::ADAM_GC_PCS{11, "ADAM_GC_PCS", "adam_gbc_gfc_pcs", nullptr, with(numeric(GP, S4800_8N1_LF), {})};
constinit const I I::ADAM_HCB{12, "ADAM_HCB", nullptr, "Adam Highland (HCB)",
                              with(numeric(G, S9600_8N1_LF, "adam_hcb.defaultMessage"), {})};
constinit const I I::ADAM_LABEL{13, "ADAM_LABEL", nullptr, "Adam label format",
                                with(numeric(AL), {.unit = UNIT_ADAM_LABEL})};
constinit const I I::KERND_440E{14, "KERND_440E", nullptr, "Kern 440", asKern572()};
constinit const I I::KERN_572{15, "KERN_572", nullptr, "Kern 572",
                              with(numeric(G), {.unstable = UNSTABLE_KERN, .commands = &commands::KERN_SWT})};
constinit const I I::KERND_DE{16, "KERND_DE", nullptr, "Kern DE", asKern572()};
constinit const I I::KERN_DS{17, "KERN_DS", nullptr, "Kern DS", asKern572(&commands::KERN_SWT)};
constinit const I I::KERN_FKB{18, "KERN_FKB", nullptr, "Kern FKB", asKern572(&commands::KERN_SWT)};
constinit const I I::KERN_KB_N{19, "KERN_KB_N", nullptr, "Kern KB-N", asKern572()};
constinit const I I::KERN_KFB{20, "KERN_KFB", nullptr, "Kern KFB/KFN-TM/IFB",
                              with(numeric(G), {.unstable = UNSTABLE_KERN_KFB})};
constinit const I I::KERN_MPS{
    21, "KERN_MPS", nullptr, "Kern MPS / MPT / MXS / MWS / MTS / MCB",
    with(numeric(KM_, S9600_8N1_LF, nullptr, KERN_MPS_SAMPLES), {.unstable = UNSTABLE_QUESTION})};
constinit const I I::KERN_RPB{
    22, "KERN_RPB", "kern_rpb_weight", nullptr,
    with(numeric(KR, S9600_8N1_LF, "kern_rpb.defaultMessage", KERN_RPB_SAMPLES), {.unstable = UNSTABLE_QUESTION})};
constinit const I I::KEYENCE_IL{23, "KEYENCE_IL", nullptr, "Keyence IL",
                                numeric(KY, S9600_8N1_LF, nullptr, KEYENCE_SAMPLES)};
constinit const I I::METTLER_DIALOG{
    24, "METTLER_DIALOG", nullptr, "Mettler Toledo Dialog",
    with(numeric(G), {.unstable = UNSTABLE_METTLER, .overload = OVERLOAD_METTLER, .commands = &commands::MT_SICS})};
constinit const I I::METTLER_PRINT{
    25, "METTLER_PRINT", nullptr, "Mettler Toledo Print",
    with(numeric(G, S2400_7E1_LF),
         {.unstable = UNSTABLE_METTLER, .overload = OVERLOAD_METTLER, .commands = &commands::MT_SICS})};
constinit const I I::MITUTOYO{26, "MITUTOYO", nullptr, "Mitutoyo 264-007",
                              I::Profile{.pattern = MI,
                                         .serial = {5, 3, 0, 0, 13},
                                         .samples = MITUTOYO_SAMPLES,
                                         .dataCommand = "1\r",
                                         .commands = &commands::MITUTOYO_264}};
constinit const I I::MITUTOYO_LSM_6200{27, "MITUTOYO_LSM_6200", nullptr, "Mitutoyo LSM-6200",
                                       numeric(ML, S9600_8N1_LF, nullptr, MITUTOYO_LSM_SAMPLES)};
constinit const I I::MYWEIGH_HD{28, "MYWEIGH_HD", nullptr, "MyWeigh HD",
                                with(numeric(G, {7, 3, 0, 4, 13}, "myweigh_hd.defaultMessage"), {})};
constinit const I I::OHAUS{29, "OHAUS", nullptr, "Ohaus",
                           with(numeric(G), {.unstable = UNSTABLE_QUESTION, .commands = &commands::OHAUS_STANDARD})};
constinit const I I::OHAUSSPU{
    30, "OHAUSSPU", nullptr, "Ohaus SPU,TA,NV",
    with(numeric(G, {5, 2, 0, 0, 10}), {.unstable = UNSTABLE_QUESTION, .commands = &commands::OHAUS_SCOUT})};
constinit const I I::PRECISA{31, "PRECISA", nullptr, "Precisa", with(numeric(G, {7, 2, 0, 2, 10}), {})};
constinit const I I::SARTORIUS{
    32, "SARTORIUS", nullptr, "Sartorius",
    with(numeric(G, {4, 2, 0, 1, 10}, "sartorius.defaultMessage"),
         {.unstable = UNSTABLE_SARTORIUS, .overload = OVERLOAD_SARTORIUS, .commands = &commands::SARTORIUS_SBI})};
constinit const I I::SCHLAGE_HANDPUNCH{33, "SCHLAGE_HANDPUNCH", nullptr, "Schlage HandPunch (employee ID)",
                                       numeric(SH, S9600_8N1_LF, nullptr, SCHLAGE_SAMPLES)};
constinit const I I::TANITA_TL280{34, "TANITA_TL280", nullptr, "Tanita TL-280/TL-290",
                                  numeric(TA, S9600_8N1_LF, nullptr, TANITA_SAMPLES)};
constinit const I I::WEDDERBURN{35, "WEDDERBURN", nullptr, "Wedderburn",
                                numeric(WE, S9600_8N1_LF, nullptr, WEDDERBURN_SAMPLES)};

std::span<const I* const> I::constants() {
    static constexpr std::array<const I*, 36> list{&GENERIC,
                                                   &BARCODE,
                                                   &BARCODE_ALPHA,
                                                   &BARCODE_ALPHA_COMPLETE,
                                                   &AND,
                                                   &AND_SIMPLE,
                                                   &AND_EM,
                                                   &ADAM_AZEXTRA_WEIGHT,
                                                   &ADAM_CBK,
                                                   &ADAM_CPWPLUS,
                                                   &ADAM_GC_WEIGHT,
                                                   &ADAM_GC_PCS,
                                                   &ADAM_HCB,
                                                   &ADAM_LABEL,
                                                   &KERND_440E,
                                                   &KERN_572,
                                                   &KERND_DE,
                                                   &KERN_DS,
                                                   &KERN_FKB,
                                                   &KERN_KB_N,
                                                   &KERN_KFB,
                                                   &KERN_MPS,
                                                   &KERN_RPB,
                                                   &KEYENCE_IL,
                                                   &METTLER_DIALOG,
                                                   &METTLER_PRINT,
                                                   &MITUTOYO,
                                                   &MITUTOYO_LSM_6200,
                                                   &MYWEIGH_HD,
                                                   &OHAUS,
                                                   &OHAUSSPU,
                                                   &PRECISA,
                                                   &SARTORIUS,
                                                   &SCHLAGE_HANDPUNCH,
                                                   &TANITA_TL280,
                                                   &WEDDERBURN};
    return list;
}

QString I::getPattern() const {
    if (m_profile.patternFrom)
        return m_profile.patternFrom->getPattern();
    return QString::fromLatin1(m_profile.pattern ? m_profile.pattern : G);
}

QString I::getStabilityRule() const {
    if (m_profile.patternFrom)
        return m_profile.patternFrom->getStabilityRule();
    return QString::fromLatin1(m_profile.unstable ? m_profile.unstable : "");
}

QString I::getOverloadRule() const {
    if (m_profile.patternFrom)
        return m_profile.patternFrom->getOverloadRule();
    return QString::fromLatin1(m_profile.overload ? m_profile.overload : "");
}

QString I::getUnitRule() const {
    if (m_profile.patternFrom)
        return m_profile.patternFrom->getUnitRule();
    return QString::fromLatin1(m_profile.unit ? m_profile.unit : "");
}

const InstrumentCommands* I::commands() const {
    return m_profile.commands;
}

QByteArray I::getCommand(InstrumentCommand command) const {
    const InstrumentCommands* table = commands();
    if (!table)
        return {};
    switch (command) {
    case InstrumentCommand::Request:
        return QByteArray(table->request);
    case InstrumentCommand::Tare:
        return QByteArray(table->tare);
    case InstrumentCommand::Zero:
        return QByteArray(table->zero);
    }
    return {};
}

QString I::getAcknowledgementRule() const {
    const InstrumentCommands* table = commands();
    return QString::fromLatin1(table && table->acknowledgement ? table->acknowledgement : "");
}

QList<QPair<QString, QString>> I::getTestStrings() const {
    if (m_profile.patternFrom)
        return m_profile.patternFrom->getTestStrings();
    const std::span<const Sample> samples =
        m_profile.samples.empty() ? std::span<const Sample>(BASE_SAMPLES) : m_profile.samples;
    QList<QPair<QString, QString>> out;
    out.reserve(static_cast<qsizetype>(samples.size()));
    for (const Sample& s : samples)
        out.append({QString::fromLatin1(s.record), QString::fromLatin1(s.expected)});
    return out;
}

Config I::getDefaultConfig() const {
    if (m_profile.serialFrom)
        return m_profile.serialFrom->getDefaultConfig();
    Config config;
    config.setBitRate(m_profile.serial.bitRate);
    config.setDataBits(m_profile.serial.dataBits);
    config.setStopBits(m_profile.serial.stopBits);
    config.setParity(m_profile.serial.parity);
    config.setInputTerminator(m_profile.serial.inputTerminator);
    return config;
}

std::optional<QString> I::getDefaultMessage() const {
    if (!m_profile.messageKey)
        return std::nullopt;
    return base::ResourceBundle::getBundle(QStringLiteral("tavlo.config.ConfigBundle"))
        .getString(QLatin1String(m_profile.messageKey));
}

} // namespace tavlo::config
