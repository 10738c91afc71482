#pragma once

#include "config/ConfigHelper.h"
#include "config/InstrumentCommand.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>
#include <span>

namespace tavlo::config {

class Config;

// One instrument profile: how its records are searched, what kind of value they carry, which characters the
// keyboard output must cover, the instrument's usual serial settings, an optional set-up hint and sample
// records with the value that extraction must give. Profiles that follow another one (the A&D variants, the
// Kern models) ask that profile at every call instead of holding a copy.
class ConfigHelper::Instrument : public OptionType<ConfigHelper::Instrument> {
public:
    struct Sample {
        const char* record;
        const char* expected;
    };
    // Serial defaults as option indexes (bit rate, data bits, stop bits, parity) and the terminator code.
    struct Serial {
        int bitRate;
        int dataBits;
        int stopBits;
        int parity;
        int inputTerminator;
    };
    struct Profile {
        InstrumentType type = InstrumentType::NUMBER;
        KeyMapType keyMap = KeyMapType::NUMERIC;
        const char* pattern = nullptr;
        Serial serial{7, 3, 0, 0, 13};
        const char* messageKey = nullptr;
        std::span<const Sample> samples{};
        const char* dataCommand = "";
        const Instrument* patternFrom = nullptr; // expression and samples come from this profile
        const Instrument* serialFrom = nullptr;  // serial defaults come from this profile
        // An expression searched in the raw record (terminator included) that finds the instrument's mark of
        // a reading still in motion; none for instruments whose records carry no such mark.
        const char* unstable = nullptr;
        // An expression searched in the raw record that finds the instrument's mark of a reading over or under
        // its range; such a record is never a weight. None where the maker documents no such record.
        const char* overload = nullptr;
        // An expression searched in the part of the record after the value; its group 1 is the unit text the
        // record carries (for display only). None for records without a unit.
        const char* unit = nullptr;
        // The commands the maker documents for the instrument's interface; null for none.
        const InstrumentCommands* commands = nullptr;
    };

    constexpr Instrument(int ordinal, const char* name, const char* labelKey, const char* labelText, Profile profile)
        : OptionType(ordinal, name, labelKey, labelText), m_profile(profile) {}

    static const Instrument GENERIC, BARCODE, BARCODE_ALPHA, BARCODE_ALPHA_COMPLETE, AND, AND_SIMPLE, AND_EM,
        ADAM_AZEXTRA_WEIGHT, ADAM_CBK, ADAM_CPWPLUS, ADAM_GC_WEIGHT, ADAM_GC_PCS, ADAM_HCB, ADAM_LABEL, KERND_440E,
        KERN_572, KERND_DE, KERN_DS, KERN_FKB, KERN_KB_N, KERN_KFB, KERN_MPS, KERN_RPB, KEYENCE_IL, METTLER_DIALOG,
        METTLER_PRINT, MITUTOYO, MITUTOYO_LSM_6200, MYWEIGH_HD, OHAUS, OHAUSSPU, PRECISA, SARTORIUS, SCHLAGE_HANDPUNCH,
        TANITA_TL280, WEDDERBURN;
    static std::span<const Instrument* const> constants();
    static const char* typeName() { return "ConfigHelper.Instrument"; }
    static const Instrument* getDefault() { return &GENERIC; }

    // Number of the expression group that holds the value.
    int getCaptureGroup() const { return 1; }
    // Text that requests one reading from the instrument; empty for instruments that send by themselves.
    QString getDataCommand() const { return QString::fromLatin1(m_profile.dataCommand); }
    // A new record with the instrument's usual serial settings; every other field keeps its default.
    Config getDefaultConfig() const;
    // Set-up hint for the user, read from the option text table at every call; none for most profiles.
    std::optional<QString> getDefaultMessage() const;
    InstrumentType getInstrumentType() const { return m_profile.type; }
    KeyMapType getKeyMapType() const { return m_profile.keyMap; }
    QString getPattern() const;
    // The stability rule (see Profile::unstable); empty when the profile has none.
    QString getStabilityRule() const;
    bool hasStabilityRule() const { return !getStabilityRule().isEmpty(); }
    // The overload rule (see Profile::overload); empty when the profile has none.
    QString getOverloadRule() const;
    // The unit rule (see Profile::unit); empty when the profile has none.
    QString getUnitRule() const;
    // The bytes that make the instrument carry out the command; empty when its maker documents none.
    QByteArray getCommand(InstrumentCommand command) const;
    bool hasCommand(InstrumentCommand command) const { return !getCommand(command).isEmpty(); }
    // An expression that finds the instrument's acknowledgement of a tare or zero command in a record, which
    // is logged and never typed; empty when the profile has none.
    QString getAcknowledgementRule() const;
    // The command table entry, or null.
    const InstrumentCommands* commands() const;
    // Pairs of (record, expected value of the value group); an empty expected value means "no match".
    QList<QPair<QString, QString>> getTestStrings() const;
    QString toPlainString() const { return display(); }

private:
    Profile m_profile;
};

} // namespace tavlo::config
