#include "tavlo/prefs/FilePreferences.h"
#include "tavlo/prefs/FilePreferencesFactory.h"
#include "tavlo/prefs/PreferencesExceptions.h"

#include "../../fakes/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using tavlo::base::IllegalArgumentException;
using tavlo::prefs::BackingStoreException;
using tavlo::prefs::FilePreferences;
using tavlo::prefs::FilePreferencesFactory;
using tavlo::prefs::IllegalStateException;
using tavlo::prefs::Preferences;

namespace {

const QString kNode = QStringLiteral("/com/corvane/Tavlo");

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class FilePreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString file() const { return m_dir.filePath(QStringLiteral("prefs.txt")); }

    QTemporaryDir m_dir;
};

struct RoundTrip {
    const char* label;
    QString key;
    QString value;
};

class FilePreferencesRoundTripTest : public FilePreferencesTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(FilePreferencesRoundTripTest, AValueWrittenByOneTreeIsReadBackByAFreshOne) {
    const RoundTrip& c = GetParam();
    {
        auto root = FilePreferences::createRoot(file());
        root->node(kNode).put(c.key, c.value);
    }
    const QByteArray bytes = readAll(file());
    for (const char byte : bytes)
        ASSERT_TRUE(static_cast<unsigned char>(byte) < 0x80) << "the file holds a byte beyond ASCII: " << bytes.data();

    auto fresh = FilePreferences::createRoot(file());
    Preferences& node = fresh->node(kNode);
    EXPECT_EQ(node.get(c.key, QStringLiteral("<absent>")), c.value);
    EXPECT_EQ(node.keys(), QStringList{c.key});
}

INSTANTIATE_TEST_SUITE_P(
    AwkwardCharacters, FilePreferencesRoundTripTest,
    ::testing::Values(RoundTrip{"plain", QStringLiteral("port"), QStringLiteral("COM3")},
                      RoundTrip{"separators", QStringLiteral("customRegEx"), QStringLiteral("a=b:c#d!e")},
                      RoundTrip{"leading_blanks", QStringLiteral("startWith"), QStringLiteral("  two blanks")},
                      RoundTrip{"trailing_blank", QStringLiteral("x"), QStringLiteral("end ")},
                      RoundTrip{"backslashes", QStringLiteral("path"), QStringLiteral("C:\\dir\\\\share\\")},
                      RoundTrip{"line_breaks", QStringLiteral("lines"), QStringLiteral("one\ntwo\r\nthree\t")},
                      RoundTrip{"latin1", QStringLiteral("name"), QStringLiteral("Gr\u00fc\u00dfe \u00e9")},
                      RoundTrip{"beyond_latin1", QStringLiteral("sym"), QStringLiteral("\u20ac \u0416 \U0001F600")},
                      RoundTrip{"empty_value", QStringLiteral("removeCharacters"), QString()},
                      RoundTrip{"awkward_key", QStringLiteral("k=y:#! \\"), QStringLiteral("v")},
                      RoundTrip{"empty_key", QString(), QStringLiteral("v")}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FilePreferencesTest, WritesTheCommentsAndOneLinePerEntryKeyedByNodePath) {
    auto root = FilePreferences::createRoot(file());
    Preferences& node = root->node(kNode);
    EXPECT_EQ(static_cast<FilePreferences&>(node).getPath(), QStringLiteral("com.corvane.Tavlo."));
    EXPECT_EQ(root->getPath(), QString());
    node.put(QStringLiteral("port"), QStringLiteral("COM3"));
    root->put(QStringLiteral("top"), QStringLiteral("1"));

    const QList<QByteArray> lines = readAll(file()).split('\n');
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], "#FilePreferences");
    EXPECT_TRUE(lines[1].startsWith('#') && lines[1].size() > 10) << lines[1].data();
    EXPECT_TRUE(lines.contains("com.corvane.Tavlo.port=COM3"));
    EXPECT_TRUE(lines.contains("top=1"));
}

TEST_F(FilePreferencesTest, AChildNodesLinesAreNotTheParentsAndSurviveEveryFlushOfIt) {
    writeAll(file(), "#FilePreferences\n"
                     "com.corvane.Tavlo.port=COM3\n"
                     "com.corvane.Tavlo.sub.key=x\n"
                     "other.node.k=kept\n");
    auto root = FilePreferences::createRoot(file());
    Preferences& node = root->node(kNode);
    EXPECT_EQ(node.keys(), QStringList{QStringLiteral("port")});
    EXPECT_EQ(node.childrenNames(), QStringList{QStringLiteral("sub")});
    EXPECT_EQ(root->childrenNames(), (QStringList{QStringLiteral("com"), QStringLiteral("other")}));

    node.put(QStringLiteral("port"), QStringLiteral("COM4"));
    node.remove(QStringLiteral("port"));
    node.put(QStringLiteral("bitRate"), QStringLiteral("6"));
    node.flush();

    const QByteArray bytes = readAll(file());
    EXPECT_TRUE(bytes.contains("com.corvane.Tavlo.sub.key=x\n"));
    EXPECT_TRUE(bytes.contains("other.node.k=kept\n"));
    EXPECT_TRUE(bytes.contains("com.corvane.Tavlo.bitRate=6\n"));
    EXPECT_FALSE(bytes.contains("com.corvane.Tavlo.port"));
    EXPECT_EQ(root->node(kNode + QStringLiteral("/sub")).get(QStringLiteral("key"), QString()), QStringLiteral("x"));
}

TEST_F(FilePreferencesTest, AFreshInstallationHasNoKeysAndTheFirstPutCreatesTheFileAndItsFolders) {
    const QString nested = m_dir.filePath(QStringLiteral("Corvane/TavloQX/prefs.txt"));
    auto root = FilePreferences::createRoot(nested);
    Preferences& node = root->node(kNode);
    EXPECT_TRUE(node.keys().isEmpty());
    EXPECT_EQ(node.get(QStringLiteral("port"), QStringLiteral("none")), QStringLiteral("none"));
    EXPECT_FALSE(QFile::exists(nested)) << "reading created the file";

    node.put(QStringLiteral("port"), QStringLiteral("COM1"));
    EXPECT_TRUE(readAll(nested).contains("com.corvane.Tavlo.port=COM1\n"));
}

TEST_F(FilePreferencesTest, APutWhoseWriteFailsIsLoggedAndKeptInMemoryAndFlushReportsTheFailure) {
    // A regular file where the folder of the settings file should be: no user, root included, can write there.
    writeAll(m_dir.filePath(QStringLiteral("blocker")), "x");
    const QString unwritable = m_dir.filePath(QStringLiteral("blocker/prefs.txt"));
    auto root = FilePreferences::createRoot(unwritable);
    Preferences& node = root->node(kNode);

    tavlo::test::LogCapture log;
    node.put(QStringLiteral("port"), QStringLiteral("COM3"));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to flush after putting port")))
        << log.messages().join(u'|').toStdString();
    EXPECT_EQ(node.get(QStringLiteral("port"), QString()), QStringLiteral("COM3"));
    EXPECT_THROW(node.flush(), BackingStoreException);
}

TEST_F(FilePreferencesTest, AFileThatCannotBeReadIsNeverOverwritten) {
    // A folder in place of the file: reading fails, and the flush must not replace it with this node alone.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("prefs.txt")));
    auto root = FilePreferences::createRoot(file());
    Preferences& node = root->node(kNode);
    EXPECT_THROW(node.flush(), BackingStoreException);
    EXPECT_TRUE(QFileInfo(file()).isDir());
}

TEST_F(FilePreferencesTest, TwoTreesOnOneFileKeepEachOthersNodes) {
    auto first = FilePreferences::createRoot(file());
    auto second = FilePreferences::createRoot(file());
    Preferences& a = first->node(QStringLiteral("/app/a"));
    Preferences& b = second->node(QStringLiteral("/app/b"));
    a.put(QStringLiteral("k"), QStringLiteral("1"));
    b.put(QStringLiteral("k"), QStringLiteral("2"));
    a.put(QStringLiteral("j"), QStringLiteral("3"));
    b.flush();

    auto third = FilePreferences::createRoot(file());
    EXPECT_EQ(third->node(QStringLiteral("/app/a")).get(QStringLiteral("k"), QString()), QStringLiteral("1"));
    EXPECT_EQ(third->node(QStringLiteral("/app/a")).get(QStringLiteral("j"), QString()), QStringLiteral("3"));
    EXPECT_EQ(third->node(QStringLiteral("/app/b")).get(QStringLiteral("k"), QString()), QStringLiteral("2"));

    // sync takes in what the other tree wrote.
    b.put(QStringLiteral("late"), QStringLiteral("4"));
    Preferences& bSeenByFirst = first->node(QStringLiteral("/app/b"));
    bSeenByFirst.sync();
    EXPECT_EQ(bSeenByFirst.get(QStringLiteral("late"), QString()), QStringLiteral("4"));
}

TEST_F(FilePreferencesTest, RefusesDotsInKeysAndNamesBecauseTheyWouldReadBackAsAnotherNode) {
    auto root = FilePreferences::createRoot(file());
    Preferences& node = root->node(kNode);
    EXPECT_THROW(node.put(QStringLiteral("a.b"), QStringLiteral("v")), tavlo::base::IllegalArgumentException);
    EXPECT_THROW(root->node(QStringLiteral("/com/x.y")), tavlo::base::IllegalArgumentException);
    EXPECT_FALSE(QFile::exists(file()));
}

TEST_F(FilePreferencesTest, ARemovedNodeLeavesTheFileAndRefusesFurtherUse) {
    auto root = FilePreferences::createRoot(file());
    Preferences& node = root->node(kNode);
    node.put(QStringLiteral("port"), QStringLiteral("COM3"));
    node.node(QStringLiteral("sub")).put(QStringLiteral("k"), QStringLiteral("v"));
    root->node(QStringLiteral("/keep")).put(QStringLiteral("k"), QStringLiteral("v"));

    root->node(QStringLiteral("/com/corvane")).removeNode();
    const QByteArray bytes = readAll(file());
    EXPECT_FALSE(bytes.contains("com.corvane")) << bytes.data();
    EXPECT_TRUE(bytes.contains("keep.k=v"));
    EXPECT_TRUE(node.isRemoved());
    EXPECT_THROW(node.get(QStringLiteral("port"), QString()), IllegalStateException);
    EXPECT_THROW(root->removeNode(), IllegalStateException);
    EXPECT_EQ(root->node(QStringLiteral("/com")).childrenNames(), QStringList());

    auto fresh = FilePreferences::createRoot(file());
    EXPECT_TRUE(fresh->node(kNode).keys().isEmpty());
}

TEST(FilePreferencesFactoryTest, ThePerUserDefaultIsTheHomeFoldersDotFileprefsMadeAbsolute) {
    EXPECT_EQ(FilePreferencesFactory::resolvePreferencesFile(std::nullopt, QStringLiteral("/home/ann lee")),
              QStringLiteral("/home/ann lee/.fileprefs"));
    EXPECT_EQ(FilePreferencesFactory::resolvePreferencesFile(QString(), QStringLiteral("/home/ann lee")),
              QStringLiteral("/home/ann lee/.fileprefs"));
    EXPECT_EQ(FilePreferencesFactory::resolvePreferencesFile(QStringLiteral("rel/p.txt"), QStringLiteral("/h")),
              QDir::current().absoluteFilePath(QStringLiteral("rel/p.txt")));
}

} // namespace
