#include "config/ConfigHelper.h"
#include "config/KeyMaps.h"

#include <gtest/gtest.h>

#include <vector>

using tavlo::config::ConfigHelper;
using tavlo::config::KeyMap;
using KT = ConfigHelper::KeyboardType;
using KMT = ConfigHelper::KeyMapType;

namespace {

struct CountCase {
    const KT* layout;
    KMT coverage;
    qsizetype expected;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.layout->nameLatin1() << "/" << ConfigHelper::keyMapTypeName(c.coverage).toStdString();
}

class KeyMapCoverage : public ::testing::TestWithParam<CountCase> {};

TEST_P(KeyMapCoverage, HoldsExactlyTheCoveredPrintableCharacters) {
    const CountCase& c = GetParam();
    const KeyMap map = KT::getKeymap(c.layout, c.coverage);
    EXPECT_EQ(map.size(), c.expected);
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        EXPECT_GE(it.key(), 32u);
        EXPECT_LE(it.key(), 126u);
        EXPECT_FALSE(it.value().isEmpty()) << "character " << static_cast<unsigned>(it.key());
    }
    const bool smallLetters = map.contains(U'a');
    EXPECT_EQ(smallLetters, c.coverage == KMT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(map.contains(U'Z'), c.coverage != KMT::NUMERIC);
    for (char32_t d = U'0'; d <= U'9'; ++d)
        EXPECT_TRUE(map.contains(d));
    for (char32_t s : {U'-', U'+', U',', U'.'})
        EXPECT_TRUE(map.contains(s));
}

std::vector<CountCase> countCases() {
    std::vector<CountCase> out;
    for (const KT* layout : KT::constants()) {
        out.push_back({layout, KMT::NUMERIC, 14});
        out.push_back({layout, KMT::ALPHANUMERIC_BASIC, 40});
        out.push_back({layout, KMT::ALPHANUMERIC_COMPLETE, 95});
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, KeyMapCoverage, ::testing::ValuesIn(countCases()));

struct SequenceCase {
    const KT* layout;
    char32_t character;
    std::vector<int> sequence;
};

void PrintTo(const SequenceCase& c, std::ostream* os) {
    *os << c.layout->nameLatin1() << " U+" << std::hex << static_cast<unsigned>(c.character);
}

class KeyMapSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(KeyMapSequence, IsTheLayoutsKeySequence) {
    const SequenceCase& c = GetParam();
    const KeyMap map = KT::getKeymap(c.layout, KMT::ALPHANUMERIC_COMPLETE);
    ASSERT_TRUE(map.contains(c.character));
    const QList<int> seq = map.value(c.character);
    EXPECT_EQ(std::vector<int>(seq.begin(), seq.end()), c.sequence);
}

// The entries in which the layouts differ, and the pattern of each column.
INSTANTIATE_TEST_SUITE_P(
    Differences, KeyMapSequence,
    ::testing::Values(SequenceCase{&KT::AZERTY, U'7', {16, 55}}, SequenceCase{&KT::QUERTY, U'7', {55}},
                      SequenceCase{&KT::GERMAN, U'7', {55}}, SequenceCase{&KT::AZERTY, U'-', {54}},
                      SequenceCase{&KT::US_INTERNATIONAL, U'-', {45}}, SequenceCase{&KT::AZERTY, U'.', {16, 59}},
                      SequenceCase{&KT::GERMAN, U'.', {46}}, SequenceCase{&KT::GERMAN, U'+', {107}},
                      SequenceCase{&KT::GERMAN, U'@', {17, 18, 81}}, SequenceCase{&KT::GERMAN, U'?', {18, 102, 99}},
                      SequenceCase{&KT::GERMAN, U'\\', {18, 105, 98}}, SequenceCase{&KT::AZERTY, U'%', {18, 99, 103}},
                      SequenceCase{&KT::US_INTERNATIONAL, U'\'', {129, 32}}, SequenceCase{&KT::QUERTY, U'\'', {222}},
                      SequenceCase{&KT::US_INTERNATIONAL, U'"', {16, 129, 32}},
                      SequenceCase{&KT::US_INTERNATIONAL, U'^', {16, 54, 32}},
                      SequenceCase{&KT::US_INTERNATIONAL, U'~', {16, 128, 32}},
                      SequenceCase{&KT::GERMAN, U'`', {16, 129, 32}}, SequenceCase{&KT::AZERTY, U'`', {17, 18, 55, 32}},
                      SequenceCase{&KT::AZERTY, U'~', {17, 18, 50, 32}}, SequenceCase{&KT::GERMAN, U'~', {17, 18, 521}},
                      SequenceCase{&KT::AZERTY, U'^', {130, 32}}, SequenceCase{&KT::AZERTY, U']', {17, 18, 522}},
                      SequenceCase{&KT::GERMAN, U'|', {17, 18, 153}}, SequenceCase{&KT::QUERTY, U'|', {16, 92}},
                      SequenceCase{&KT::QUERTY, U'a', {65}}, SequenceCase{&KT::AZERTY, U'Q', {16, 81}},
                      SequenceCase{&KT::GERMAN, U'*', {106}}, SequenceCase{&KT::AZERTY, U'/', {111}},
                      SequenceCase{&KT::QUERTY, U' ', {32}}, SequenceCase{&KT::ALL, U'0', {18, 100, 104}},
                      SequenceCase{&KT::ALL, U'a', {18, 105, 103}}, SequenceCase{&KT::ALL, U'd', {18, 97, 96, 96}},
                      SequenceCase{&KT::ALL, U' ', {18, 99, 98}}, SequenceCase{&KT::ALL, U'~', {18, 97, 98, 102}}));

TEST(KeyMaps, AllLayoutEntersEveryCharacterAsItsDecimalAltCode) {
    const KeyMap map = KT::getKeymap(&KT::ALL, KMT::ALPHANUMERIC_COMPLETE);
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QList<int>& seq = it.value();
        ASSERT_EQ(seq.first(), 18);
        unsigned code = 0;
        for (qsizetype i = 1; i < seq.size(); ++i) {
            ASSERT_GE(seq[i], 96);
            ASSERT_LE(seq[i], 105);
            code = code * 10 + static_cast<unsigned>(seq[i] - 96);
        }
        EXPECT_EQ(code, it.key());
        EXPECT_NE(seq[1], 96) << "leading zero for " << static_cast<unsigned>(it.key());
    }
}

TEST(KeyMaps, EachCallBuildsAnIndependentMap) {
    KeyMap first = KT::getKeymap(&KT::QUERTY, KMT::NUMERIC);
    first.clear();
    EXPECT_EQ(KT::getKeymap(&KT::QUERTY, KMT::NUMERIC).size(), 14);
}

} // namespace
