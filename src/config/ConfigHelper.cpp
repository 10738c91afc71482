#include "config/ConfigHelper.h"

#include "base/Expressions.h"

#include <array>

using tavlo::base::RoundingMode;

namespace tavlo::config {

using H = ConfigHelper;

std::optional<int> ConfigHelper::parseInteger(QStringView text) {
    if (text.isEmpty())
        return std::nullopt;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == u'+' || text[0] == u'-') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > 2147483648LL)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return std::nullopt;
    return static_cast<int>(value);
}

namespace {

bool integerIn(const QString& text, long long low, long long high) {
    if (text.isEmpty())
        return true;
    const auto value = ConfigHelper::parseInteger(text);
    return value && *value >= low && *value <= high;
}

} // namespace

// ----- Index options -----

constinit const H::BitRates H::BitRates::BR_110{0, "BR_110", nullptr, "110"};
constinit const H::BitRates H::BitRates::BR_150{1, "BR_150", nullptr, "150"};
constinit const H::BitRates H::BitRates::BR_300{2, "BR_300", nullptr, "300"};
constinit const H::BitRates H::BitRates::BR_600{3, "BR_600", nullptr, "600"};
constinit const H::BitRates H::BitRates::BR_1200{4, "BR_1200", nullptr, "1200"};
constinit const H::BitRates H::BitRates::BR_2400{5, "BR_2400", nullptr, "2400"};
constinit const H::BitRates H::BitRates::BR_4800{6, "BR_4800", nullptr, "4800"};
constinit const H::BitRates H::BitRates::BR_9600{7, "BR_9600", nullptr, "9600"};
constinit const H::BitRates H::BitRates::BR_19200{8, "BR_19200", nullptr, "19200"};
constinit const H::BitRates H::BitRates::BR_38400{9, "BR_38400", nullptr, "38400"};
constinit const H::BitRates H::BitRates::BR_57600{10, "BR_57600", nullptr, "57600"};
constinit const H::BitRates H::BitRates::BR_115200{11, "BR_115200", nullptr, "115200"};
constinit const H::BitRates H::BitRates::BR_230400{12, "BR_230400", nullptr, "230400"};
constinit const H::BitRates H::BitRates::BR_460800{13, "BR_460800", nullptr, "460800"};
constinit const H::BitRates H::BitRates::BR_921600{14, "BR_921600", nullptr, "921600"};
std::span<const H::BitRates* const> H::BitRates::constants() {
    static constexpr std::array<const BitRates*, 15> list{&BR_110,   &BR_150,    &BR_300,    &BR_600,    &BR_1200,
                                                          &BR_2400,  &BR_4800,   &BR_9600,   &BR_19200,  &BR_38400,
                                                          &BR_57600, &BR_115200, &BR_230400, &BR_460800, &BR_921600};
    return list;
}

constinit const H::DataBits H::DataBits::LN_5BITS{0, "LN_5BITS", nullptr, "5"};
constinit const H::DataBits H::DataBits::LN_6BITS{1, "LN_6BITS", nullptr, "6"};
constinit const H::DataBits H::DataBits::LN_7BITS{2, "LN_7BITS", nullptr, "7"};
constinit const H::DataBits H::DataBits::LN_8BITS{3, "LN_8BITS", nullptr, "8"};
std::span<const H::DataBits* const> H::DataBits::constants() {
    static constexpr std::array<const DataBits*, 4> list{&LN_5BITS, &LN_6BITS, &LN_7BITS, &LN_8BITS};
    return list;
}

constinit const H::StopBits H::StopBits::ST_1BITS{0, "ST_1BITS", nullptr, "1"};
constinit const H::StopBits H::StopBits::ST_2BITS{1, "ST_2BITS", nullptr, "2"};
std::span<const H::StopBits* const> H::StopBits::constants() {
    static constexpr std::array<const StopBits*, 2> list{&ST_1BITS, &ST_2BITS};
    return list;
}

constinit const H::Parity H::Parity::NONE{0, "NONE", nullptr, nullptr};
constinit const H::Parity H::Parity::ODD{1, "ODD", nullptr, nullptr};
constinit const H::Parity H::Parity::EVEN{2, "EVEN", nullptr, nullptr};
constinit const H::Parity H::Parity::MARK{3, "MARK", nullptr, nullptr};
constinit const H::Parity H::Parity::SPACE{4, "SPACE", nullptr, nullptr};
std::span<const H::Parity* const> H::Parity::constants() {
    static constexpr std::array<const Parity*, 5> list{&NONE, &ODD, &EVEN, &MARK, &SPACE};
    return list;
}

// ----- Named options -----

constinit const H::StartWith H::StartWith::NONE{0, "NONE", "key.none", nullptr};
constinit const H::StartWith H::StartWith::ENTER{1, "ENTER", "enter", nullptr};
constinit const H::StartWith H::StartWith::TAB{2, "TAB", "tab", nullptr};
constinit const H::StartWith H::StartWith::RIGHT{3, "RIGHT", "right", nullptr};
constinit const H::StartWith H::StartWith::DOWN{4, "DOWN", "down", nullptr};
constinit const H::StartWith H::StartWith::DELETE{5, "DELETE", "delete", nullptr};
constinit const H::StartWith H::StartWith::MULTIPLY{6, "MULTIPLY", nullptr, "*"};
constinit const H::StartWith H::StartWith::F1{7, "F1", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F2{8, "F2", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F3{9, "F3", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F4{10, "F4", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F5{11, "F5", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F6{12, "F6", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F7{13, "F7", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F8{14, "F8", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F9{15, "F9", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F10{16, "F10", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F11{17, "F11", nullptr, nullptr};
constinit const H::StartWith H::StartWith::F12{18, "F12", nullptr, nullptr};
std::span<const H::StartWith* const> H::StartWith::constants() {
    static constexpr std::array<const StartWith*, 19> list{&NONE, &ENTER, &TAB, &RIGHT, &DOWN, &DELETE, &MULTIPLY,
                                                           &F1,   &F2,    &F3,  &F4,    &F5,   &F6,     &F7,
                                                           &F8,   &F9,    &F10, &F11,   &F12};
    return list;
}

namespace {

// Key codes of the shared key numbering (Enter 10, Tab 9, cursor right 39, cursor down 40, Delete 127,
// keypad multiply 106, F1 to F12 112 to 123).
int keyCodeByName(const char* name) {
    const QLatin1String n(name);
    if (n == QLatin1String("ENTER"))
        return 10;
    if (n == QLatin1String("TAB"))
        return 9;
    if (n == QLatin1String("RIGHT"))
        return 39;
    if (n == QLatin1String("DOWN"))
        return 40;
    if (n == QLatin1String("DELETE"))
        return 127;
    if (n == QLatin1String("MULTIPLY"))
        return 106;
    if (n.size() >= 2 && n[0] == QLatin1Char('F')) {
        bool ok = false;
        const int f = QString(n.mid(1)).toInt(&ok);
        if (ok && f >= 1 && f <= 12)
            return 111 + f;
    }
    return 0;
}

} // namespace

int H::StartWith::getKeyCode(const StartWith* startWith) {
    return startWith ? keyCodeByName(startWith->nameLatin1()) : 0;
}

constinit const H::OutputTerminator H::OutputTerminator::NONE{0, "NONE", "key.none", nullptr};
constinit const H::OutputTerminator H::OutputTerminator::ENTER{1, "ENTER", "enter", nullptr};
constinit const H::OutputTerminator H::OutputTerminator::TAB{2, "TAB", "tab", nullptr};
constinit const H::OutputTerminator H::OutputTerminator::RIGHT{3, "RIGHT", "right", nullptr};
constinit const H::OutputTerminator H::OutputTerminator::DOWN{4, "DOWN", "down", nullptr};
std::span<const H::OutputTerminator* const> H::OutputTerminator::constants() {
    static constexpr std::array<const OutputTerminator*, 5> list{&NONE, &ENTER, &TAB, &RIGHT, &DOWN};
    return list;
}

int H::OutputTerminator::getKeyCode(const OutputTerminator* outputTerminator) {
    return outputTerminator ? keyCodeByName(outputTerminator->nameLatin1()) : 0;
}

constinit const H::Sound H::Sound::NONE{0, "NONE", "sound.none", nullptr, 0};
constinit const H::Sound H::Sound::RIDE_BELL{1, "RIDE_BELL", nullptr, "Ride Bell", 53};
constinit const H::Sound H::Sound::COWBELL{2, "COWBELL", nullptr, "Cowbell", 56};
constinit const H::Sound H::Sound::HIGH_AGOGO{3, "HIGH_AGOGO", nullptr, "High Agogo", 67};
constinit const H::Sound H::Sound::LOW_AGOGO{4, "LOW_AGOGO", nullptr, "Low Agogo", 68};
constinit const H::Sound H::Sound::CLAVES{5, "CLAVES", nullptr, "Claves", 75};
constinit const H::Sound H::Sound::OPEN_TRIANGLE{6, "OPEN_TRIANGLE", nullptr, "Triangle", 81};
std::span<const H::Sound* const> H::Sound::constants() {
    static constexpr std::array<const Sound*, 7> list{&NONE,      &RIDE_BELL, &COWBELL,      &HIGH_AGOGO,
                                                      &LOW_AGOGO, &CLAVES,    &OPEN_TRIANGLE};
    return list;
}

using base::RoundingMode;
constinit const H::RoundingMethod H::RoundingMethod::CEILING{0, "CEILING", "ceiling", RoundingMode::CEILING};
constinit const H::RoundingMethod H::RoundingMethod::DOWN{1, "DOWN", "down", RoundingMode::DOWN};
constinit const H::RoundingMethod H::RoundingMethod::FLOOR{2, "FLOOR", "floor", RoundingMode::FLOOR};
constinit const H::RoundingMethod H::RoundingMethod::HALF_DOWN{3, "HALF_DOWN", "half down", RoundingMode::HALF_DOWN};
constinit const H::RoundingMethod H::RoundingMethod::HALF_EVEN{4, "HALF_EVEN", "half even", RoundingMode::HALF_EVEN};
constinit const H::RoundingMethod H::RoundingMethod::HALF_UP{5, "HALF_UP", "half up", RoundingMode::HALF_UP};
constinit const H::RoundingMethod H::RoundingMethod::UP{6, "UP", "up", RoundingMode::UP};
std::span<const H::RoundingMethod* const> H::RoundingMethod::constants() {
    static constexpr std::array<const RoundingMethod*, 7> list{&CEILING,   &DOWN,    &FLOOR, &HALF_DOWN,
                                                               &HALF_EVEN, &HALF_UP, &UP};
    return list;
}

constinit const H::MathOperation H::MathOperation::NONE{0, "NONE", "math.none", nullptr};
constinit const H::MathOperation H::MathOperation::MULTIPLY{1, "MULTIPLY", "multiply", nullptr};
constinit const H::MathOperation H::MathOperation::DIVIDE{2, "DIVIDE", "divide", nullptr};
std::span<const H::MathOperation* const> H::MathOperation::constants() {
    static constexpr std::array<const MathOperation*, 3> list{&NONE, &MULTIPLY, &DIVIDE};
    return list;
}

constinit const H::DecimalSeparator H::DecimalSeparator::DOT{0, "DOT", "dot", nullptr};
constinit const H::DecimalSeparator H::DecimalSeparator::COMMA{1, "COMMA", "comma", nullptr};
std::span<const H::DecimalSeparator* const> H::DecimalSeparator::constants() {
    static constexpr std::array<const DecimalSeparator*, 2> list{&DOT, &COMMA};
    return list;
}

constinit const H::Connect H::Connect::MANUAL{0, "MANUAL", "manual", nullptr};
constinit const H::Connect H::Connect::AUTO{1, "AUTO", "auto", nullptr};
std::span<const H::Connect* const> H::Connect::constants() {
    static constexpr std::array<const Connect*, 2> list{&MANUAL, &AUTO};
    return list;
}

constinit const H::EditPosition H::EditPosition::FIRST{0, "FIRST", "edit.first", nullptr};
constinit const H::EditPosition H::EditPosition::LAST{1, "LAST", "edit.last", nullptr};
std::span<const H::EditPosition* const> H::EditPosition::constants() {
    static constexpr std::array<const EditPosition*, 2> list{&FIRST, &LAST};
    return list;
}

constinit const H::EditOperation H::EditOperation::REMOVE{0, "REMOVE", "edit.remove", nullptr};
constinit const H::EditOperation H::EditOperation::KEEP{1, "KEEP", "edit.keep", nullptr};
std::span<const H::EditOperation* const> H::EditOperation::constants() {
    static constexpr std::array<const EditOperation*, 2> list{&REMOVE, &KEEP};
    return list;
}

constinit const H::KeyboardType H::KeyboardType::QUERTY{0, "QUERTY", "keyboardType.default", nullptr};
constinit const H::KeyboardType H::KeyboardType::US_INTERNATIONAL{1, "US_INTERNATIONAL",
                                                                  "keyboardType.us_international", nullptr};
constinit const H::KeyboardType H::KeyboardType::AZERTY{2, "AZERTY", "keyboardType.azerty", nullptr};
constinit const H::KeyboardType H::KeyboardType::GERMAN{3, "GERMAN", "keyboardType.german", nullptr};
constinit const H::KeyboardType H::KeyboardType::ALL{4, "ALL", "keyboardType.all", nullptr};
std::span<const H::KeyboardType* const> H::KeyboardType::constants() {
    static constexpr std::array<const KeyboardType*, 5> list{&QUERTY, &US_INTERNATIONAL, &AZERTY, &GERMAN, &ALL};
    return list;
}

constinit const H::InputTerminator H::InputTerminator::EOT{0, "EOT", "4 <EOT>", 4};
constinit const H::InputTerminator H::InputTerminator::LF{1, "LF", "10 <LF>", 10};
constinit const H::InputTerminator H::InputTerminator::CR{2, "CR", "13 <CR>", 13};
std::span<const H::InputTerminator* const> H::InputTerminator::constants() {
    static constexpr std::array<const InputTerminator*, 3> list{&EOT, &LF, &CR};
    return list;
}

const H::InputTerminator* H::InputTerminator::itemFromDecimal(int code) {
    for (const InputTerminator* preset : constants())
        if (preset->getDecimal() == code)
            return preset;
    return nullptr;
}

QString ConfigHelper::instrumentTypeName(InstrumentType type) {
    return type == InstrumentType::TEXT ? QStringLiteral("TEXT") : QStringLiteral("NUMBER");
}

QString ConfigHelper::keyMapTypeName(KeyMapType type) {
    switch (type) {
    case KeyMapType::NUMERIC:
        return QStringLiteral("NUMERIC");
    case KeyMapType::ALPHANUMERIC_BASIC:
        return QStringLiteral("ALPHANUMERIC_BASIC");
    case KeyMapType::ALPHANUMERIC_COMPLETE:
        return QStringLiteral("ALPHANUMERIC_COMPLETE");
    }
    return QString();
}

// ----- Free-text validators -----

bool H::EveryXValues::valid(const QString& text) {
    return integerIn(text, 2, 99);
}
bool H::EditNumCharacters::valid(const QString& text) {
    return integerIn(text, 1, 99);
}
bool H::Delay::valid(const QString& text) {
    return integerIn(text, 0, 1000);
}
bool H::DecimalPlaces::valid(const QString& text) {
    return integerIn(text, 0, 7);
}
bool H::IgnoreTimeLimit::valid(const QString& text) {
    return integerIn(text, 1, 2147483647LL);
}

bool H::IgnoreDifference::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    const auto value = base::Decimal::tryParse(text);
    return value && value->signum() > 0;
}

bool H::MathOperand::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    // Only the literal "0" is refused; other ways of writing zero pass, as stored settings may hold them.
    return text != QLatin1String("0") && base::Decimal::isValid(text);
}

bool H::RemoveCharacters::valid(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t code = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (code > 255)
            return false;
    }
    return true;
}

namespace {

// Position of the first bracket character not directly preceded by a backslash, or -1.
qsizetype firstUnescaped(const QString& text, QChar bracket) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == bracket && (i == 0 || text[i - 1] != u'\\'))
            return i;
    return -1;
}

} // namespace

bool H::CustomRegEx::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    if (!base::compileExpression(text).isValid())
        return false;
    return firstUnescaped(text, u'(') < firstUnescaped(text, u')');
}

} // namespace tavlo::config
