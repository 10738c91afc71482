#include "config/KeyMaps.h"

#include "config/ConfigHelper.h"
#include "platform/KeyCodes.h"

#include <initializer_list>

namespace tavlo::config {

namespace {

namespace K = platform::KeyCode;

using Seq = std::initializer_list<int>;

// One punctuation character of the complete coverage and its sequence on each of the four real layouts.
struct PunctuationRow {
    char32_t character;
    Seq querty;
    Seq usInternational;
    Seq german;
    Seq azerty;
};

constexpr int S = K::SHIFT;
constexpr int C = K::CONTROL;
constexpr int A = K::ALT;
constexpr int SP = K::SPACE;

const PunctuationRow kPunctuation[] = {
    {U'!', {S, 49}, {S, 49}, {S, 49}, {517}},
    {U'"', {S, 222}, {S, 129, SP}, {S, 50}, {51}},
    {U'#', {S, 51}, {S, 51}, {520}, {C, A, 51}},
    {U'$', {S, 52}, {S, 52}, {S, 52}, {515}},
    {U'%', {S, 53}, {S, 53}, {S, 53}, {A, 99, 103}},
    {U'&', {S, 55}, {S, 55}, {S, 54}, {49}},
    {U'\'', {222}, {129, SP}, {S, 520}, {52}},
    {U'(', {S, 57}, {S, 57}, {S, 56}, {53}},
    {U')', {S, 48}, {S, 48}, {S, 57}, {522}},
    {U':', {S, 59}, {S, 59}, {S, 46}, {513}},
    {U';', {59}, {59}, {S, 44}, {59}},
    {U'<', {S, 44}, {S, 44}, {153}, {153}},
    {U'=', {61}, {61}, {S, 48}, {61}},
    {U'>', {S, 46}, {S, 46}, {S, 153}, {S, 153}},
    {U'?', {S, 47}, {S, 47}, {A, 102, 99}, {S, 44}},
    {U'@', {S, 50}, {S, 50}, {C, A, 81}, {C, A, 48}},
    {U'[', {91}, {91}, {C, A, 56}, {C, A, 53}},
    {U'\\', {92}, {92}, {A, 105, 98}, {C, A, 56}},
    {U']', {93}, {93}, {C, A, 57}, {C, A, 522}},
    {U'^', {S, 54}, {S, 54, SP}, {130, SP}, {130, SP}},
    {U'_', {S, 45}, {S, 45}, {S, 45}, {56}},
    {U'`', {192}, {128, SP}, {S, 129, SP}, {C, A, 55, SP}},
    {U'{', {S, 91}, {S, 91}, {C, A, 55}, {C, A, 52}},
    {U'|', {S, 92}, {S, 92}, {C, A, 153}, {C, A, 54}},
    {U'}', {S, 93}, {S, 93}, {C, A, 48}, {C, A, 61}},
    {U'~', {S, 192}, {S, 128, SP}, {C, A, 521}, {C, A, 50, SP}},
};

using KT = ConfigHelper::KeyboardType;
using KMT = ConfigHelper::KeyMapType;

void put(KeyMap& map, char32_t character, Seq sequence) {
    map.insert(character, QList<int>(sequence));
}

void putAlt(KeyMap& map, char32_t character) {
    map.insert(character, KeyMaps::altCode(character));
}

} // namespace

QList<int> KeyMaps::altCode(char32_t character) {
    QList<int> digits;
    for (char32_t rest = character; rest > 0 || digits.isEmpty(); rest /= 10)
        digits.prepend(K::NUMPAD_0 + static_cast<int>(rest % 10));
    digits.prepend(K::ALT);
    return digits;
}

QHash<char32_t, QList<int>> ConfigHelper::KeyboardType::getKeymap(const KeyboardType* keyboardType,
                                                                  KeyMapType keyMapType) {
    KeyMap map;
    const bool all = keyboardType == &KT::ALL;
    const bool azerty = keyboardType == &KT::AZERTY;
    const bool letters = keyMapType == KMT::ALPHANUMERIC_BASIC || keyMapType == KMT::ALPHANUMERIC_COMPLETE;
    const bool complete = keyMapType == KMT::ALPHANUMERIC_COMPLETE;

    for (int d = 0; d <= 9; ++d) {
        const char32_t digit = U'0' + static_cast<char32_t>(d);
        if (all)
            putAlt(map, digit);
        else if (azerty)
            put(map, digit, {S, K::DIGIT_0 + d});
        else
            put(map, digit, {K::DIGIT_0 + d});
    }
    if (all) {
        for (char32_t c : {U'-', U'+', U',', U'.'})
            putAlt(map, c);
    } else {
        put(map, U'-', {azerty ? K::DIGIT_0 + 6 : K::MINUS});
        put(map, U'+', {K::ADD});
        put(map, U',', {K::COMMA});
        if (azerty)
            put(map, U'.', {S, K::SEMICOLON});
        else
            put(map, U'.', {K::PERIOD});
    }

    if (letters) {
        for (int i = 0; i < 26; ++i) {
            const char32_t capital = U'A' + static_cast<char32_t>(i);
            if (all)
                putAlt(map, capital);
            else
                put(map, capital, {S, K::LETTER_A + i});
        }
    }

    if (complete) {
        if (all) {
            // Everything printable that the numeric and basic coverages left out.
            for (char32_t c = 32; c <= 126; ++c)
                if (!map.contains(c))
                    putAlt(map, c);
        } else {
            for (int i = 0; i < 26; ++i)
                put(map, U'a' + static_cast<char32_t>(i), {K::LETTER_A + i});
            put(map, U'*', {K::MULTIPLY});
            put(map, U'/', {K::DIVIDE});
            put(map, U' ', {K::SPACE});
            for (const PunctuationRow& row : kPunctuation) {
                if (keyboardType == &KT::US_INTERNATIONAL)
                    put(map, row.character, row.usInternational);
                else if (keyboardType == &KT::GERMAN)
                    put(map, row.character, row.german);
                else if (azerty)
                    put(map, row.character, row.azerty);
                else
                    put(map, row.character, row.querty);
            }
        }
    }
    return map;
}

} // namespace tavlo::config
