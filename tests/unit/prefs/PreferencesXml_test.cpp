#include "tavlo/prefs/FilePreferences.h"
#include "tavlo/prefs/PreferencesExceptions.h"
#include "tavlo/prefs/PreferencesXml.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using tavlo::prefs::FilePreferences;
using tavlo::prefs::InvalidPreferencesFormatException;
using tavlo::prefs::IOException;
using tavlo::prefs::Preferences;
using tavlo::prefs::PreferencesXml;

namespace {

const QString kNode = QStringLiteral("/com/corvane/Tavlo");

class PreferencesXmlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    std::unique_ptr<FilePreferences> openRoot(const QString& name) {
        return FilePreferences::createRoot(m_dir.filePath(name));
    }
    static QByteArray exportOf(Preferences& node) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        node.exportNode(buffer);
        return bytes;
    }
    static void importInto(const QByteArray& bytes, Preferences& root) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        Preferences::importPreferences(buffer, root);
    }

    QTemporaryDir m_dir;
};

TEST_F(PreferencesXmlTest, AnExportImportsIntoAnEmptyStoreWithEveryEntryEqualAndNoChildren) {
    auto source = openRoot(QStringLiteral("a.txt"));
    Preferences& node = source->node(kNode);
    node.put(QStringLiteral("port"), QStringLiteral("/dev/ttyUSB0"));
    node.put(QStringLiteral("customRegEx"), QStringLiteral("<(\\d+)> & \"x\" 'y'\n\t\r"));
    node.put(QStringLiteral("startWith"), QStringLiteral("  \u00e9\u20ac\U0001F600"));
    node.put(QStringLiteral("removeCharacters"), QString());
    node.node(QStringLiteral("child")).put(QStringLiteral("not"), QStringLiteral("exported"));
    source->node(QStringLiteral("/com")).put(QStringLiteral("ancestor"), QStringLiteral("not exported"));
    const QByteArray xml = exportOf(node);

    auto target = openRoot(QStringLiteral("b.txt"));
    importInto(xml, *target);
    Preferences& imported = target->node(kNode);
    EXPECT_EQ(imported.keys(), node.keys());
    for (const QString& key : node.keys())
        EXPECT_EQ(imported.get(key, QStringLiteral("<absent>")), node.get(key, QString())) << key.toStdString();
    EXPECT_TRUE(imported.childrenNames().isEmpty());
    EXPECT_TRUE(target->node(QStringLiteral("/com")).keys().isEmpty());

    // The import reached the file, not only the tree in memory.
    auto reread = openRoot(QStringLiteral("b.txt"));
    EXPECT_EQ(reread->node(kNode).get(QStringLiteral("port"), QString()), QStringLiteral("/dev/ttyUSB0"));
}

TEST_F(PreferencesXmlTest, TheExportNestsThePathFromTheUserRoot) {
    auto root = openRoot(QStringLiteral("a.txt"));
    root->node(kNode).put(QStringLiteral("port"), QStringLiteral("COM3"));
    const QByteArray xml = exportOf(root->node(kNode));
    EXPECT_TRUE(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"")) << xml.data();
    // Validating readers of the format refuse a document without its DOCTYPE, which must precede the element.
    const qsizetype doctype = xml.indexOf("<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">");
    EXPECT_GT(doctype, 0) << xml.data();
    EXPECT_LT(doctype, xml.indexOf("<preferences")) << xml.data();

    QXmlStreamReader reader(xml);
    QStringList path;
    QStringList seen;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = reader.attributes();
        QString item = reader.name().toString();
        if (reader.name() == QLatin1String("node"))
            item += u':' + a.value(QStringLiteral("name")).toString();
        if (reader.name() == QLatin1String("root"))
            item += u':' + a.value(QStringLiteral("type")).toString();
        if (reader.name() == QLatin1String("preferences"))
            item += u':' + a.value(QStringLiteral("EXTERNAL_XML_VERSION")).toString();
        if (reader.name() == QLatin1String("entry"))
            item += QStringLiteral(":%1=%2").arg(a.value(QStringLiteral("key")), a.value(QStringLiteral("value")));
        seen.append(item);
    }
    ASSERT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_EQ(seen, (QStringList{"preferences:1.0", "root:user", "map", "node:com", "map", "node:corvane", "map",
                                 "node:Tavlo", "map", "entry:port=COM3"}));
}

TEST_F(PreferencesXmlTest, RefusesToExportAValueThatXmlCannotCarry) {
    auto root = openRoot(QStringLiteral("a.txt"));
    root->node(kNode).put(QStringLiteral("startWith"), QStringLiteral("a\x01"));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_THROW(root->node(kNode).exportNode(buffer), IOException);
}

struct Accepted {
    const char* label;
    const char* xml;
};

class AcceptedImportTest : public PreferencesXmlTest, public ::testing::WithParamInterface<Accepted> {};

TEST_P(AcceptedImportTest, HandWrittenVariantsOfTheLayoutImport) {
    auto root = openRoot(QStringLiteral("a.txt"));
    importInto(GetParam().xml, *root);
    EXPECT_EQ(root->node(kNode).get(QStringLiteral("port"), QString()), QStringLiteral("COM7"));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, AcceptedImportTest,
    ::testing::Values(
        Accepted{"full", R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<!DOCTYPE preferences SYSTEM "preferences.dtd">
<preferences EXTERNAL_XML_VERSION="1.0">
  <root type="user">
    <map/>
    <node name="com"><map/><node name="corvane"><map/><node name="Tavlo">
      <map><entry key="port" value="COM7"/></map>
    </node></node></node>
  </root>
</preferences>
)"},
        Accepted{"bare", R"(<preferences><root type="user"><node name="com"><node name="corvane"><node name="Tavlo">)"
                         R"(<map><entry key="port" value="COM7"/></map></node></node></node></root></preferences>)"},
        Accepted{"comments_and_empty_maps",
                 "<?xml version=\"1.0\"?><!-- saved by hand --><preferences EXTERNAL_XML_VERSION=\"1.0\">"
                 "<root type=\"user\"><map></map><node name=\"com\"><node name=\"corvane\"><map/>"
                 "<node name=\"Tavlo\"><map/><map><!-- x --><entry key=\"port\" value=\"COM7\"></entry></map>"
                 "<node name=\"sub\"><map/></node></node></node></node></root></preferences>"},
        Accepted{"other_nodes_too", "<preferences><root type=\"user\"><node name=\"other\"><map><entry key=\"k\" "
                                    "value=\"v\"/></map></node><node name=\"com\"><node name=\"corvane\"><node "
                                    "name=\"Tavlo\"><map><entry key=\"port\" value=\"COM7\"/></map></node></node>"
                                    "</node></root></preferences>"}),
    [](const auto& info) { return std::string(info.param.label); });

struct Refused {
    const char* label;
    const char* xml;
    const char* messagePart;
};

class RefusedImportTest : public PreferencesXmlTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedImportTest, AFileOutsideTheLayoutIsRefusedWithAClearMessageAndChangesNothing) {
    const QString file = m_dir.filePath(QStringLiteral("a.txt"));
    auto root = FilePreferences::createRoot(file);
    root->node(kNode).put(QStringLiteral("port"), QStringLiteral("COM1"));
    QFile before(file);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray bytesBefore = before.readAll();
    before.close();

    try {
        importInto(GetParam().xml, *root);
        FAIL() << "imported";
    } catch (const InvalidPreferencesFormatException& e) {
        EXPECT_TRUE(e.message().contains(QLatin1String(GetParam().messagePart))) << e.message().toStdString();
    }
    EXPECT_EQ(root->node(kNode).get(QStringLiteral("port"), QString()), QStringLiteral("COM1"));
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    EXPECT_EQ(before.readAll(), bytesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedImportTest,
    ::testing::Values(
        Refused{"empty", "", "not well-formed"},
        Refused{"truncated", "<preferences><root type=\"user\"><map>", "not well-formed"},
        Refused{"not_xml", "com.corvane.Tavlo.port=COM3\n", "not well-formed"},
        Refused{"other_document", "<html><body/></html>", "not a settings export"},
        Refused{"unknown_element",
                "<preferences><root type=\"user\"><map><item key=\"a\" value=\"b\"/></map>"
                "</root></preferences>",
                "unexpected element <item>"},
        Refused{"entry_without_value",
                "<preferences><root type=\"user\"><map><entry key=\"port\"/></map></root>"
                "</preferences>",
                "without the attribute \"value\""},
        Refused{"node_without_name", "<preferences><root type=\"user\"><node><map/></node></root></preferences>",
                "without the attribute \"name\""},
        Refused{"no_root", "<preferences/>", "no <root>"},
        Refused{"two_roots", "<preferences><root type=\"user\"/><root type=\"user\"/></preferences>",
                "unexpected element <root>"},
        Refused{"bad_root_type", "<preferences><root type=\"admin\"/></preferences>", "admin"},
        Refused{"newer_version", "<preferences EXTERNAL_XML_VERSION=\"2.0\"><root type=\"user\"/></preferences>",
                "version 2.0"},
        Refused{"text_content", "<preferences><root type=\"user\">port=COM3</root></preferences>", "unexpected text"},
        Refused{"dotted_key_late_in_file",
                "<preferences><root type=\"user\"><node name=\"com\"><node name=\"corvane\"><node name=\"Tavlo\">"
                "<map><entry key=\"port\" value=\"COM9\"/><entry key=\"a.b\" value=\"x\"/></map></node></node>"
                "</node></root></preferences>",
                "a.b"},
        Refused{"trailing_element", "<preferences><root type=\"user\"/></preferences><extra/>", "well-formed"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(PreferencesXmlDocumentTest, FindsANodeByItsAbsolutePath) {
    QBuffer buffer;
    buffer.setData("<preferences><root type=\"system\"><node name=\"com\"><node name=\"corvane\"><node "
                   "name=\"Tavlo\"/></node></node></root></preferences>");
    buffer.open(QIODevice::ReadOnly);
    const PreferencesXml::Document document = PreferencesXml::read(buffer);
    EXPECT_TRUE(document.systemRoot);
    ASSERT_NE(document.find(kNode), nullptr);
    EXPECT_EQ(document.find(kNode)->name, QStringLiteral("Tavlo"));
    EXPECT_EQ(document.find(QStringLiteral("/com/corvane/Other")), nullptr);
    EXPECT_EQ(document.find(QStringLiteral("/")), &document.root);
}

} // namespace
