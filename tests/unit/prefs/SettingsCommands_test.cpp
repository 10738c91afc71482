#include "tavlo/prefs/SettingsCommands.h"

#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/FilePreferences.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using tavlo::prefs::ConfigStore;
using tavlo::prefs::exportSettingsCommand;
using tavlo::prefs::FilePreferences;
using tavlo::prefs::importSettingsCommand;
using tavlo::prefs::Preferences;

namespace {

// What standard implementations of the format write for the node /com/corvane/Tavlo.
const char* kStandardExport = R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<!DOCTYPE preferences SYSTEM "http://java.sun.com/dtd/preferences.dtd">
<preferences EXTERNAL_XML_VERSION="1.0">
  <root type="user">
    <map/>
    <node name="com">
      <map/>
      <node name="corvane">
        <map/>
        <node name="Tavlo">
          <map>
            <entry key="bitRate" value="11"/>
            <entry key="delay" value="5"/>
            <entry key="instrument" value="SARTORIUS"/>
          </map>
        </node>
      </node>
    </node>
  </root>
</preferences>
)";

class SettingsCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_root = FilePreferences::createRoot(m_dir.filePath("store.txt"));
        m_store = std::make_unique<ConfigStore>(*m_root);
    }
    QString write(const char* name, const QByteArray& text) {
        QFile f(m_dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return f.fileName();
    }
    QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    Preferences& node() { return m_root->node(ConfigStore::NODE_PATH); }
    // The store's settings node as key=value lines, sorted.
    QStringList storeEntries() {
        auto reread = FilePreferences::createRoot(m_dir.filePath("store.txt"));
        Preferences& n = reread->node(ConfigStore::NODE_PATH);
        QStringList out;
        for (const QString& key : n.keys())
            out.append(key + u'=' + n.get(key, QString()));
        out.sort();
        return out;
    }
    int runExport(const QString& file) {
        QTextStream o(&m_out), e(&m_err);
        return exportSettingsCommand(*m_store, file, o, e);
    }
    int runImport(const QString& file) {
        QTextStream o(&m_out), e(&m_err);
        return importSettingsCommand(*m_store, file, o, e);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<FilePreferences> m_root;
    std::unique_ptr<ConfigStore> m_store;
    QString m_out, m_err;
};

TEST_F(SettingsCommandsTest, ExportWritesTheStandardDocumentWithEverySettingAndLeavesTheStoreAlone) {
    node().put("bitRate", "11");
    node().put("futureKey", "kept");
    node().flush();
    const QStringList before = storeEntries();
    const QString file = m_dir.filePath("out.xml");
    ASSERT_EQ(runExport(file), 0) << m_err.toStdString();
    EXPECT_TRUE(m_out.contains(file)) << m_out.toStdString();
    EXPECT_EQ(storeEntries(), before) << "exporting changed the store";

    const QByteArray xml = read(file);
    EXPECT_TRUE(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"")) << xml.data();
    EXPECT_TRUE(xml.contains("<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">"));
    QXmlStreamReader reader(xml);
    QStringList elements;
    QMap<QString, QString> entries;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        elements.append(reader.name().toString());
        if (reader.name() == QLatin1String("entry"))
            entries.insert(reader.attributes().value("key").toString(), reader.attributes().value("value").toString());
    }
    ASSERT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    // Every level has its map before the nested node, as the format's DTD demands.
    const QStringList head = elements.mid(0, 9);
    EXPECT_EQ(head, (QStringList{"preferences", "root", "map", "node", "map", "node", "map", "node", "map"}));
    EXPECT_EQ(entries.value("bitRate"), "11");
    EXPECT_EQ(entries.value("futureKey"), "kept");
    EXPECT_EQ(entries.value("delay"), "20"); // missing keys as the window writes them: their defaults
    EXPECT_EQ(entries.value("instrument"), "GENERIC");
}

TEST_F(SettingsCommandsTest, ExportReportsInvalidValuesAndWritesTheirDefaults) {
    node().put("bitRate", "99");
    node().flush();
    const QString file = m_dir.filePath("out.xml");
    ASSERT_EQ(runExport(file), 0);
    EXPECT_TRUE(m_err.contains("bitRate: stored \"99\" is not valid; 9600 is used")) << m_err.toStdString();
    EXPECT_TRUE(read(file).contains("key=\"bitRate\" value=\"7\""));
    EXPECT_TRUE(storeEntries().contains("bitRate=99"));
}

TEST_F(SettingsCommandsTest, ExportToAnUnwritablePlaceFailsWithTheReason) {
    const QString file = m_dir.filePath("missing/folder/out.xml");
    EXPECT_EQ(runExport(file), 1);
    EXPECT_TRUE(m_err.contains("cannot export")) << m_err.toStdString();
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(SettingsCommandsTest, ImportAcceptsTheStandardDocumentAndWarnsAboutARunningTavlo) {
    ASSERT_EQ(runImport(write("in.xml", kStandardExport)), 0) << m_err.toStdString();
    EXPECT_EQ(storeEntries(), (QStringList{"bitRate=11", "delay=5", "instrument=SARTORIUS"}));
    EXPECT_TRUE(m_out.contains("writes its own settings over the imported ones")) << m_out.toStdString();
    EXPECT_TRUE(m_err.isEmpty()) << m_err.toStdString();
}

TEST_F(SettingsCommandsTest, ImportReportsInvalidValuesAsTheWindowDoes) {
    QByteArray xml(kStandardExport);
    xml.replace("value=\"11\"", "value=\"99\"");
    ASSERT_EQ(runImport(write("in.xml", xml)), 0);
    EXPECT_TRUE(m_err.contains("bitRate: stored \"99\" is not valid; 9600 is used")) << m_err.toStdString();
}

struct Refusal {
    const char* name;
    const char* document;
    const char* reason;
};

class SettingsImportRefusalTest : public SettingsCommandsTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SettingsImportRefusalTest, RefusesWithTheReasonAndLeavesTheStoreUnchanged) {
    node().put("bitRate", "3");
    node().flush();
    const QStringList before = storeEntries();
    const QString file = GetParam().document ? write("in.xml", GetParam().document) : m_dir.filePath("none.xml");
    EXPECT_EQ(runImport(file), 1);
    EXPECT_TRUE(m_err.contains(GetParam().reason)) << m_err.toStdString();
    EXPECT_TRUE(m_err.contains("not changed")) << m_err.toStdString();
    EXPECT_EQ(storeEntries(), before);
    EXPECT_TRUE(m_out.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsImportRefusalTest,
    ::testing::Values(Refusal{"missing_file", nullptr, "Cannot read"},
                      Refusal{"not_xml", "bitRate=11\n", "not well-formed"},
                      Refusal{"other_program", R"(<preferences EXTERNAL_XML_VERSION="1.0"><root type="user"><map/>
<node name="org"><map><entry key="bitRate" value="11"/></map></node></root></preferences>)",
                              "/com/corvane/Tavlo"},
                      Refusal{"truncated", R"(<preferences><root type="user"><map/><node name="com"><map/>
<node name="corvane"><map/><node name="Tavlo"><map><entry key="bitRate" value="11"/>)",
                              "not well-formed"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
