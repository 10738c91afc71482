#include "SimFormat.h"

#include <gtest/gtest.h>

using tavlo::sim::decodeEscapes;
using tavlo::sim::fillTemplate;

namespace {

TEST(SimFormat, DecodesShellEscapes) {
    EXPECT_EQ(decodeEscapes("1\\r"), QByteArray("1\r"));
    EXPECT_EQ(decodeEscapes("a\\tb\\n\\\\"), QByteArray("a\tb\n\\"));
    EXPECT_EQ(decodeEscapes("\\x02X\\x03"), QByteArray("\x02X\x03"));
    EXPECT_EQ(decodeEscapes("\\q\\"), QByteArray("\\q\\"));
}

TEST(SimFormat, FillsTemplatesExactly) {
    EXPECT_EQ(*fillTemplate("ST,%+09.2f  g\r\n", "12.34"), QByteArray("ST,+00012.34  g\r\n"));
    EXPECT_EQ(*fillTemplate("ST,%+09.2f  g\r\n", "-0.5"), QByteArray("ST,-00000.50  g\r\n"));
    EXPECT_EQ(*fillTemplate("%8.3f|", "2.0005"), QByteArray("   2.001|"));
    EXPECT_EQ(*fillTemplate("%-6s|%%", "ab"), QByteArray("ab    |%"));
    EXPECT_EQ(*fillTemplate("%f", "1E-3"), QByteArray("0.001"));
    QString error;
    EXPECT_FALSE(fillTemplate("%f", "abc", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(fillTemplate("%d", "1"));
    EXPECT_FALSE(fillTemplate("50%", "1"));
}

TEST(SimFormat, PresetsMarkUnstableRecords) {
    const auto preset = tavlo::sim::presetFor("AND");
    ASSERT_TRUE(preset);
    EXPECT_NE(QByteArray(preset->stable), QByteArray(preset->unstable));
    EXPECT_FALSE(tavlo::sim::presetFor("NO_SUCH"));
}

} // namespace
