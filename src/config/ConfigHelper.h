#pragma once

#include "base/Decimal.h"
#include "config/OptionType.h"

#include <QString>
#include <optional>
#include <span>

namespace tavlo::config {

// Holder of the option types of the settings record and of the validators of its free-text settings.
class ConfigHelper {
public:
    ConfigHelper() = delete;

    // Base-10 32-bit signed integer: an optional sign and ASCII digits only, nothing else, within range.
    static std::optional<int> parseInteger(QStringView text);

    // ----- Index options: stored as the position of the constant -----

    class BitRates : public IndexOptionType<BitRates> {
    public:
        using IndexOptionType::IndexOptionType;
        static const BitRates BR_110, BR_150, BR_300, BR_600, BR_1200, BR_2400, BR_4800, BR_9600, BR_19200, BR_38400,
            BR_57600, BR_115200, BR_230400, BR_460800, BR_921600;
        static std::span<const BitRates* const> constants();
        static const char* typeName() { return "ConfigHelper.BitRates"; }
        static int getDefault() { return 7; }
    };

    class DataBits : public IndexOptionType<DataBits> {
    public:
        using IndexOptionType::IndexOptionType;
        static const DataBits LN_5BITS, LN_6BITS, LN_7BITS, LN_8BITS;
        static std::span<const DataBits* const> constants();
        static const char* typeName() { return "ConfigHelper.DataBits"; }
        static int getDefault() { return 3; }
    };

    class StopBits : public IndexOptionType<StopBits> {
    public:
        using IndexOptionType::IndexOptionType;
        static const StopBits ST_1BITS, ST_2BITS;
        static std::span<const StopBits* const> constants();
        static const char* typeName() { return "ConfigHelper.StopBits"; }
        static int getDefault() { return 0; }
    };

    // Parity has no label of its own: its label and readable form are the constant name.
    class Parity : public IndexOptionType<Parity> {
    public:
        using IndexOptionType::IndexOptionType;
        static const Parity NONE, ODD, EVEN, MARK, SPACE;
        static std::span<const Parity* const> constants();
        static const char* typeName() { return "ConfigHelper.Parity"; }
        static int getDefault() { return 0; }
    };

    // ----- Named options: stored by constant name -----

    class StartWith : public OptionType<StartWith> {
    public:
        using OptionType::OptionType;
        static const StartWith NONE, ENTER, TAB, RIGHT, DOWN, DELETE, MULTIPLY, F1, F2, F3, F4, F5, F6, F7, F8, F9, F10,
            F11, F12;
        static std::span<const StartWith* const> constants();
        static const char* typeName() { return "ConfigHelper.StartWith"; }
        static const StartWith* getDefault() { return &NONE; }
        // The key code typed for the constant, chosen by its name; NONE (and none) give 0.
        static int getKeyCode(const StartWith* startWith);
    };

    class OutputTerminator : public OptionType<OutputTerminator> {
    public:
        using OptionType::OptionType;
        static const OutputTerminator NONE, ENTER, TAB, RIGHT, DOWN;
        static std::span<const OutputTerminator* const> constants();
        static const char* typeName() { return "ConfigHelper.OutputTerminator"; }
        static const OutputTerminator* getDefault() { return &NONE; }
        static int getKeyCode(const OutputTerminator* outputTerminator);
    };

    class Sound : public OptionType<Sound> {
    public:
        constexpr Sound(int ordinal, const char* name, const char* labelKey, const char* labelText, int percussion)
            : OptionType(ordinal, name, labelKey, labelText), m_percussionNumber(percussion) {}
        static const Sound NONE, RIDE_BELL, COWBELL, HIGH_AGOGO, LOW_AGOGO, CLAVES, OPEN_TRIANGLE;
        static std::span<const Sound* const> constants();
        static const char* typeName() { return "ConfigHelper.Sound"; }
        static const Sound* getDefault() { return &NONE; }
        // General MIDI percussion key number; 0 for no sound.
        int getPercussionNumber() const { return m_percussionNumber; }
        QString percussionName() const { return display(); }

    private:
        int m_percussionNumber;
    };

    class RoundingMethod : public OptionType<RoundingMethod> {
    public:
        constexpr RoundingMethod(int ordinal, const char* name, const char* labelText, base::RoundingMode mode)
            : OptionType(ordinal, name, nullptr, labelText), m_roundingMode(mode) {}
        static const RoundingMethod CEILING, DOWN, FLOOR, HALF_DOWN, HALF_EVEN, HALF_UP, UP;
        static std::span<const RoundingMethod* const> constants();
        static const char* typeName() { return "ConfigHelper.RoundingMethod"; }
        static const RoundingMethod* getDefault() { return &HALF_UP; }
        base::RoundingMode getRoundingMode() const { return m_roundingMode; }

    private:
        base::RoundingMode m_roundingMode;
    };

    class MathOperation : public OptionType<MathOperation> {
    public:
        using OptionType::OptionType;
        static const MathOperation NONE, MULTIPLY, DIVIDE;
        static std::span<const MathOperation* const> constants();
        static const char* typeName() { return "ConfigHelper.MathOperation"; }
        static const MathOperation* getDefault() { return &NONE; }
    };

    class DecimalSeparator : public OptionType<DecimalSeparator> {
    public:
        using OptionType::OptionType;
        static const DecimalSeparator DOT, COMMA;
        static std::span<const DecimalSeparator* const> constants();
        static const char* typeName() { return "ConfigHelper.DecimalSeparator"; }
        static const DecimalSeparator* getDefault() { return &DOT; }
    };

    class Connect : public OptionType<Connect> {
    public:
        using OptionType::OptionType;
        static const Connect MANUAL, AUTO;
        static std::span<const Connect* const> constants();
        static const char* typeName() { return "ConfigHelper.Connect"; }
        static const Connect* getDefault() { return &MANUAL; }
    };

    class EditPosition : public OptionType<EditPosition> {
    public:
        using OptionType::OptionType;
        static const EditPosition FIRST, LAST;
        static std::span<const EditPosition* const> constants();
        static const char* typeName() { return "ConfigHelper.EditPosition"; }
        static const EditPosition* getDefault() { return &FIRST; }
    };

    class EditOperation : public OptionType<EditOperation> {
    public:
        using OptionType::OptionType;
        static const EditOperation REMOVE, KEEP;
        static std::span<const EditOperation* const> constants();
        static const char* typeName() { return "ConfigHelper.EditOperation"; }
        static const EditOperation* getDefault() { return &REMOVE; }
    };

    enum class KeyMapType;
    // The first constant's stored name is QUERTY, as settings files carry it.
    class KeyboardType : public OptionType<KeyboardType> {
    public:
        using OptionType::OptionType;
        static const KeyboardType QUERTY, US_INTERNATIONAL, AZERTY, GERMAN, ALL;
        static std::span<const KeyboardType* const> constants();
        static const char* typeName() { return "ConfigHelper.KeyboardType"; }
        static const KeyboardType* getDefault() { return &QUERTY; }
        static QHash<char32_t, QList<int>> getKeymap(const KeyboardType* keyboardType, KeyMapType keyMapType);
    };

    // Three presets for the input terminator; the record stores the character code itself.
    class InputTerminator : public OptionType<InputTerminator> {
    public:
        constexpr InputTerminator(int ordinal, const char* name, const char* labelText, int code)
            : OptionType(ordinal, name, nullptr, labelText), m_decimal(code) {}
        static const InputTerminator EOT, LF, CR;
        static std::span<const InputTerminator* const> constants();
        static const char* typeName() { return "ConfigHelper.InputTerminator"; }
        static int getDefault() { return 13; }
        static bool valid(int code) { return code >= 0 && code <= 255; }
        // The preset with that code, or null.
        static const InputTerminator* itemFromDecimal(int code);
        int getDecimal() const { return m_decimal; }

    private:
        int m_decimal;
    };

    // Type tags without labels.
    enum class InstrumentType { NUMBER, TEXT };
    enum class KeyMapType { NUMERIC, ALPHANUMERIC_BASIC, ALPHANUMERIC_COMPLETE };
    static QString instrumentTypeName(InstrumentType type);
    static QString keyMapTypeName(KeyMapType type);

    class Instrument; // the instrument profiles, in Instrument.h

    // ----- Free-text settings: stored as typed; the empty text means "not set" and is always valid -----

    struct EveryXValues {
        static QString getDefault() { return QString(); }
        static bool valid(const QString& text); // 2 to 99
    };
    struct EditNumCharacters {
        static QString getDefault() { return QString(); }
        static bool valid(const QString& text); // 1 to 99
    };
    struct Delay {
        static QString getDefault() { return QStringLiteral("20"); }
        static bool valid(const QString& text); // 0 to 1000
    };
    struct DecimalPlaces {
        static QString getDefault() { return QString(); }
        static bool valid(const QString& text); // 0 to 7
    };
    struct IgnoreTimeLimit {
        static QString getDefault() { return QString(); }
        static bool valid(const QString& text); // greater than 0
    };
    struct IgnoreDifference {
        static QString getDefault() { return QString(); }
        static bool valid(const QString& text); // a decimal number greater than 0
    };
    struct MathOperand {
        static QString getDefault() { return QString(); }
        static bool valid(const QString& text); // a decimal number, but not the text "0"
    };
    struct RemoveCharacters {
        static QString getDefault() { return QString(); }
        static bool valid(const QString& text); // every character within codes 0 to 255
    };
    struct CustomRegEx {
        static QString getDefault() { return QString(); }
        // Compiles, and its first unescaped "(" comes before its first unescaped ")".
        static bool valid(const QString& text);
    };
};

} // namespace tavlo::config
