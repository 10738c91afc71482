#include "worker/Editor.h"
#include "worker/Remover.h"

#include <gtest/gtest.h>

using tavlo::worker::Editor;
using tavlo::worker::Remover;
using H = tavlo::config::ConfigHelper;

namespace {

struct EditCase {
    const H::EditOperation* operation;
    const H::EditPosition* position;
    int n;
    const char* value;
    const char* expected;
};

void PrintTo(const EditCase& c, std::ostream* os) {
    *os << c.operation->nameLatin1() << ' ' << c.position->nameLatin1() << ' ' << c.n << " on \"" << c.value << "\"";
}

class Editing : public ::testing::TestWithParam<EditCase> {};

TEST_P(Editing, CutsOrKeeps) {
    const EditCase& c = GetParam();
    EXPECT_EQ(Editor(c.operation, c.position, c.n).edit(c.value), c.expected);
}

const auto* REMOVE = &H::EditOperation::REMOVE;
const auto* KEEP = &H::EditOperation::KEEP;
const auto* FIRST = &H::EditPosition::FIRST;
const auto* LAST = &H::EditPosition::LAST;

INSTANTIATE_TEST_SUITE_P(
    Cases, Editing,
    ::testing::Values(EditCase{KEEP, LAST, 3, "12345", "345"}, EditCase{REMOVE, FIRST, 3, "12345", "45"},
                      EditCase{REMOVE, LAST, 9, "12345", ""}, EditCase{KEEP, FIRST, 9, "12345", "12345"},
                      EditCase{REMOVE, LAST, 2, "12345", "123"}, EditCase{KEEP, FIRST, 2, "12345", "12"},
                      EditCase{REMOVE, FIRST, 5, "12345", ""}, EditCase{KEEP, LAST, 5, "12345", "12345"},
                      EditCase{REMOVE, FIRST, 0, "12345", "12345"}, EditCase{KEEP, FIRST, 3, "", ""}));

TEST(Remover, DropsEveryListedCharacterByExactCode) {
    EXPECT_EQ(Remover(QStringLiteral("gk")).removeCharacters("12.5kg"), "12.5");
    EXPECT_EQ(Remover(QStringLiteral("gk")).removeCharacters("12.5KG"), "12.5KG");
    EXPECT_EQ(Remover(QStringLiteral("kkgg")).removeCharacters("gkg1"), "1");
    EXPECT_EQ(Remover(QString()).removeCharacters("12 kg"), "12 kg");
    EXPECT_EQ(Remover(QStringLiteral("a")).removeCharacters(""), "");
    EXPECT_EQ(Remover(QString(QChar(0xB0)) + "C").removeCharacters(QString("21.5") + QChar(0xB0) + "C"), "21.5");
    EXPECT_EQ(Remover(QStringLiteral("-")).removeCharacters("a-b-c"), "abc"); // no ranges
}

} // namespace
