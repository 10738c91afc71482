#include "base/Exceptions.h"
#include "base/PropertiesCodec.h"
#include "base/ResourceBundle.h"
#include "base/SystemProperties.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>

using tavlo::base::PropertiesCodec;
using Enc = PropertiesCodec::Encoding;

namespace {

TEST(PropertiesCodec, ReadsTheFormat) {
    const QByteArray text = "# comment\n"
                            "! other comment\n"
                            "  key1 = value one  \n"
                            "key2:value2\n"
                            "key3 value3\n"
                            "long = first \\\n"
                            "       second\\\n"
                            "third\n"
                            "esc\\ aped\\=key = a\\tb\\u00e9\\u20ac\\\\\n"
                            "empty\n"
                            "evenslashes = x\\\\\n"
                            "next = y\r\n"
                            "last = z";
    const auto entries = PropertiesCodec::read(text, Enc::Latin1);
    const QList<PropertiesCodec::Entry> expected = {
        {"key1", "value one  "},
        {"key2", "value2"},
        {"key3", "value3"},
        {"long", "first secondthird"},
        {"esc aped=key", QString("a\tb") + QChar(0xE9) + QChar(0x20AC) + "\\"},
        {"empty", ""},
        {"evenslashes", "x\\"},
        {"next", "y"},
        {"last", "z"}};
    EXPECT_EQ(entries, expected);
}

TEST(PropertiesCodec, RoundTripsAwkwardTextsInBothEncodings) {
    const QList<PropertiesCodec::Entry> entries = {
        {"a=b:c", "x=y:z"},
        {" lead", "  leading blanks"},
        {"hash#!", "#!not a comment"},
        {"back\\slash", "C:\\path\\"},
        {"lines", "one\ntwo\r\nthree"},
        {"degree", QString("12") + QChar(0xB0)},
        {"euro", QString(QChar(0x20AC)) + QString::fromUtf8("\xf0\x9f\x98\x80")},
        {"", "empty key"},
        {"trailing", "ends with blank "}};
    for (const Enc enc : {Enc::Latin1, Enc::Utf8}) {
        const QByteArray written = PropertiesCodec::write(entries, enc, "a comment\nwith two lines");
        EXPECT_EQ(PropertiesCodec::read(written, enc), entries) << written.toStdString();
        if (enc == Enc::Latin1) {
            for (const char c : written)
                EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << written.toStdString();
        }
    }
}

TEST(ResourceBundle, LooksUpKeysAndFillsPlaceholders) {
    const auto& bundle = tavlo::base::ResourceBundle::getBundle("tavlo.config.ConfigBundle");
    EXPECT_FALSE(bundle.getString("generic").isEmpty());
    EXPECT_THROW(bundle.getString("no.such.key"), tavlo::base::MissingResourceException);
    EXPECT_THROW(tavlo::base::ResourceBundle::getBundle("tavlo.NoSuchTable"), tavlo::base::MissingResourceException);
    EXPECT_EQ(tavlo::base::ResourceBundle::formatText("{1} of {0}, {2} {x}", {"a", "b"}), "b of a, {2} {x}");
}

TEST(ResourceBundle, TablesAreUtf8) {
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write("unit = 12 \xc2\xb0\x43\n");
    file.close();
    const auto bundle = tavlo::base::ResourceBundle::fromFile("test", file.fileName());
    EXPECT_EQ(bundle.getString("unit"), QString("12 ") + QChar(0xB0) + "C");
}

TEST(SystemProperties, SeededWithThePlatformAndWritable) {
    using tavlo::base::SystemProperties;
    EXPECT_TRUE(SystemProperties::get("os.name").has_value());
    EXPECT_TRUE(SystemProperties::get("user.home").has_value());
    SystemProperties::set("tavlo.test", "1");
    EXPECT_EQ(SystemProperties::get("tavlo.test", "x"), "1");
    SystemProperties::remove("tavlo.test");
    EXPECT_EQ(SystemProperties::get("tavlo.test", "x"), "x");
}

} // namespace
