#include "tavlo/prefs/ConfigStore.h"

#include "base/SystemProperties.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "tavlo/prefs/FilePreferences.h"
#include "tavlo/prefs/PreferencesExceptions.h"

#include "../../fakes/LogCapture.h"
#include "../../fakes/MemoryPreferences.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using tavlo::config::Config;
using H = tavlo::config::ConfigHelper;
using tavlo::prefs::AccessDeniedException;
using tavlo::prefs::BackingStoreException;
using tavlo::prefs::ConfigStore;
using tavlo::prefs::FilePreferences;
using tavlo::prefs::InvalidPreferencesFormatException;
using tavlo::prefs::Preferences;

namespace {

const QStringList kPorts = {QStringLiteral("COM1"), QStringLiteral("COM2")};

// A record in which every setting differs from its default, with texts that the settings file must escape.
Config everythingSet() {
    Config c(QStringLiteral("/dev/tty USB0"), &H::Instrument::SARTORIUS, 11, 2, 1, 2, 10, &H::Connect::AUTO,
             &H::KeyboardType::GERMAN, QStringLiteral("0"), &H::DecimalSeparator::COMMA, &H::StartWith::F12,
             &H::OutputTerminator::TAB, &H::OutputTerminator::ENTER, QStringLiteral("99"), &H::MathOperation::DIVIDE,
             QStringLiteral("1E3"), QStringLiteral("7"), &H::RoundingMethod::HALF_EVEN, &H::Sound::COWBELL, true, true,
             false, true, &H::EditOperation::KEEP, &H::EditPosition::LAST, QStringLiteral("12"),
             QStringLiteral(" =:#!\\\u00b0"), QStringLiteral("^\\s*([-+]?\\d+[.,]\\d*) g\\r"), true,
             QStringLiteral("1500"), QStringLiteral("0.05"));
    return c;
}

class ConfigStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    std::unique_ptr<FilePreferences> openRoot(const QString& name = QStringLiteral("prefs.txt")) {
        return FilePreferences::createRoot(m_dir.filePath(name));
    }
    QTemporaryDir m_dir;
};

TEST_F(ConfigStoreTest, AFreshInstallationGivesEveryDefaultAndTheFirstSaveWritesEveryKey) {
    auto root = openRoot();
    ConfigStore store(*root);
    Config config;
    ASSERT_TRUE(store.loadConfig(config, kPorts));

    EXPECT_EQ(config.getPort(), QStringLiteral("COM1"));
    EXPECT_EQ(config.getPrevPort(), QStringLiteral("COM1"));
    EXPECT_EQ(config.getInstrument(), &H::Instrument::GENERIC);
    EXPECT_EQ(config.getBitRate(), 7);
    EXPECT_EQ(config.getDataBits(), 3);
    EXPECT_EQ(config.getStopBits(), 0);
    EXPECT_EQ(config.getParity(), 0);
    EXPECT_EQ(config.getInputTerminator(), 13);
    EXPECT_EQ(config.getDelay(), QStringLiteral("20"));
    EXPECT_EQ(config.getConnect(), &H::Connect::MANUAL);
    EXPECT_EQ(config.getKeyboardType(), &H::KeyboardType::QUERTY);
    EXPECT_EQ(config.getRoundingMethod(), &H::RoundingMethod::HALF_UP);
    EXPECT_FALSE(config.minimizeToTray);
    EXPECT_FALSE(config.notifyWhenMinimizedToTray);
    EXPECT_TRUE(config.checkForUpdates);
    EXPECT_FALSE(config.abortAutoStartWhenPrevPortNotAvailable);
    EXPECT_FALSE(config.ignoreDuplicates);
    EXPECT_TRUE(config.getEveryXValues().isEmpty() && config.getCustomRegEx().isEmpty());

    store.saveConfig(config);
    auto reread = openRoot();
    QStringList keys = reread->node(ConfigStore::NODE_PATH).keys();
    EXPECT_EQ(keys.size(), 33) << keys.join(u' ').toStdString();
}

TEST_F(ConfigStoreTest, SavedSettingsLoadBackEqualAndPrevPortFollowsPort) {
    {
        auto root = openRoot();
        ConfigStore(*root).saveConfig(everythingSet());
    }
    auto root = openRoot();
    Config loaded;
    ASSERT_TRUE(ConfigStore(*root).loadConfig(loaded, kPorts));
    EXPECT_FALSE(loaded.hasChanged(everythingSet()));
    EXPECT_EQ(loaded.getPrevPort(), QStringLiteral("/dev/tty USB0"));
}

TEST_F(ConfigStoreTest, WithoutOfferedPortsThePortIsNotReadAndAnEmptyPortIsNotWritten) {
    auto root = openRoot();
    Preferences& node = root->node(ConfigStore::NODE_PATH);
    node.put(QStringLiteral("port"), QStringLiteral("COM9"));
    ConfigStore store(*root);
    Config config;
    config.setPort(QStringLiteral("COM5"));
    ASSERT_TRUE(store.loadConfig(config, {}));
    EXPECT_EQ(config.getPort(), QStringLiteral("COM5"));

    Config noPort;
    store.saveConfig(noPort);
    EXPECT_EQ(node.get(QStringLiteral("port"), QString()), QStringLiteral("COM9"));
}

struct ReportedValue {
    const char* key;
    const char* stored;
    const char* line;
};

class InvalidValueReportTest : public ConfigStoreTest, public ::testing::WithParamInterface<ReportedValue> {};

// The user reads which key held what, and what is used instead, in the form the window shows that setting.
TEST_P(InvalidValueReportTest, NamesTheKeyTheStoredTextAndTheDefaultAsShown) {
    auto root = openRoot();
    root->node(ConfigStore::NODE_PATH).put(QLatin1String(GetParam().key), QString::fromUtf8(GetParam().stored));
    ConfigStore store(*root);
    Config loaded;
    EXPECT_FALSE(store.loadConfig(loaded, kPorts));
    EXPECT_EQ(store.invalidSettings(), QStringList{QString::fromUtf8(GetParam().line)});
}

INSTANTIATE_TEST_SUITE_P(
    Lines, InvalidValueReportTest,
    ::testing::Values(
        ReportedValue{"bitRate", "99", "bitRate: stored \"99\" is not valid; 9600 is used"},
        ReportedValue{"parity", "x", "parity: stored \"x\" is not valid; NONE is used"},
        ReportedValue{"inputTerminator", "256", "inputTerminator: stored \"256\" is not valid; 13 <CR> is used"},
        ReportedValue{"delay", "1001", "delay: stored \"1001\" is not valid; 20 is used"},
        ReportedValue{"decimalPlaces", "8", "decimalPlaces: stored \"8\" is not valid; an empty field is used"},
        ReportedValue{"sound", "BELL", "sound: stored \"BELL\" is not valid; No sound is used"},
        // A stored text with a line break or a quote stays on its one line.
        ReportedValue{"startWith", "a\"b\nc", "startWith: stored \"a\\\"b\\x0ac\" is not valid; None is used"}),
    [](const auto& info) { return std::string(info.param.key); });

TEST_F(ConfigStoreTest, EveryInvalidKeyIsReportedOnItsOwnLineAndAValidStoreReportsNone) {
    auto root = openRoot();
    Preferences& node = root->node(ConfigStore::NODE_PATH);
    node.put(QStringLiteral("bitRate"), QStringLiteral("99"));
    node.put(QStringLiteral("delay"), QStringLiteral("-5"));
    ConfigStore store(*root);
    Config loaded;
    EXPECT_FALSE(store.loadConfig(loaded, kPorts));
    EXPECT_EQ(store.invalidSettings(), (QStringList{"bitRate: stored \"99\" is not valid; 9600 is used",
                                                    "delay: stored \"-5\" is not valid; 20 is used"}));
    node.put(QStringLiteral("bitRate"), QStringLiteral("7"));
    node.put(QStringLiteral("delay"), QStringLiteral("5"));
    EXPECT_TRUE(store.loadConfig(loaded, kPorts));
    EXPECT_TRUE(store.invalidSettings().isEmpty());
}

struct InvalidValue {
    const char* key;
    const char* stored;
};

class InvalidStoredValueTest : public ConfigStoreTest, public ::testing::WithParamInterface<InvalidValue> {};

TEST_P(InvalidStoredValueTest, FallsBackToTheDefaultAndReportsIt) {
    auto root = openRoot();
    Preferences& node = root->node(ConfigStore::NODE_PATH);
    node.put(QLatin1String(GetParam().key), QString::fromUtf8(GetParam().stored));
    node.put(QStringLiteral("port"), QStringLiteral("COM2"));

    Config loaded;
    ConfigStore store(*root);
    EXPECT_FALSE(store.loadConfig(loaded, kPorts));
    ASSERT_EQ(store.invalidSettings().size(), 1);
    EXPECT_TRUE(store.invalidSettings()[0].startsWith(QStringLiteral("%1: stored \"").arg(GetParam().key)))
        << store.invalidSettings()[0].toStdString();

    auto empty = openRoot(QStringLiteral("empty.txt"));
    Config defaults;
    ASSERT_TRUE(ConfigStore(*empty).loadConfig(defaults, kPorts));
    defaults.setPort(QStringLiteral("COM2"));
    EXPECT_FALSE(loaded.hasChanged(defaults)) << "the invalid value was not replaced by its default";
}

INSTANTIATE_TEST_SUITE_P(
    Keys, InvalidStoredValueTest,
    ::testing::Values(InvalidValue{"instrument", "NO_LONGER_EXISTS"}, InvalidValue{"bitRate", "15"},
                      InvalidValue{"bitRate", "nine"}, InvalidValue{"dataBits", "-1"}, InvalidValue{"stopBits", "2"},
                      InvalidValue{"parity", "5"}, InvalidValue{"inputTerminator", "256"},
                      InvalidValue{"decimalSeparator", "dot"}, InvalidValue{"sound", "BELL"},
                      InvalidValue{"startWith", "F13"}, InvalidValue{"outputTerminator", ""},
                      InvalidValue{"outputTerminator2", "ESC"}, InvalidValue{"everyXValues", "1"},
                      InvalidValue{"connect", "auto"}, InvalidValue{"mathOperation", "ADD"},
                      InvalidValue{"mathOperand", "0"}, InvalidValue{"decimalPlaces", "8"},
                      InvalidValue{"roundingMethod", "HALF"}, InvalidValue{"keyboardType", "QWERTY"},
                      InvalidValue{"delay", "1001"}, InvalidValue{"editOperation", "CUT"},
                      InvalidValue{"editPosition", "MIDDLE"}, InvalidValue{"editNumCharacters", "0"},
                      InvalidValue{"removeCharacters", "\u20ac"}, InvalidValue{"customRegEx", "\\d+"},
                      InvalidValue{"ignoreTimeLimit", "0"}, InvalidValue{"ignoreDifference", "-1"}),
    [](const auto& info) {
        std::string name = std::string(info.param.key) + "_" + std::to_string(info.index);
        return name;
    });

TEST(ConfigStoreFailureTest, StoreFailuresOfASaveGoToTheDiagnosticOutputAndTheOtherKeysAreStillWritten) {
    auto root = tavlo::test::MemoryPreferences::createRoot();
    root->faults().onFlush = [] { throw BackingStoreException(QStringLiteral("disk full")); };
    ConfigStore store(*root);
    Config config = everythingSet();
    config.setRemoveCharacters(QStringLiteral("a") + QChar(0));

    tavlo::test::LogCapture log;
    EXPECT_NO_THROW(store.saveConfig(config));
    EXPECT_TRUE(log.contains(QStringLiteral("saveConfig exception: disk full")))
        << log.messages().join(u'|').toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("saveConfig exception: Value contains code point U+0000")));
    Preferences& node = root->node(ConfigStore::NODE_PATH);
    EXPECT_EQ(node.get(QStringLiteral("ignoreDifference"), QString()), QStringLiteral("0.05"));
    EXPECT_FALSE(node.keys().contains(QStringLiteral("removeCharacters")));
}

TEST(ConfigStoreFailureTest, ARefusalOfAccessReachesTheCallerAndLeavesTheRecordAlone) {
    auto root = tavlo::test::MemoryPreferences::createRoot();
    ConfigStore store(*root);
    root->faults().onFlush = [] { throw AccessDeniedException(QStringLiteral("denied")); };
    EXPECT_THROW(store.saveConfig(everythingSet()), AccessDeniedException);

    root->faults().onSync = [] { throw AccessDeniedException(QStringLiteral("denied")); };
    Config config = everythingSet();
    EXPECT_THROW(store.loadConfig(config, kPorts), AccessDeniedException);
    EXPECT_FALSE(config.hasChanged(everythingSet()));

    root->faults().onPut = [](const QString&) { throw AccessDeniedException(QStringLiteral("denied")); };
    root->faults().onFlush = nullptr;
    EXPECT_THROW(store.saveConfig(everythingSet()), AccessDeniedException);
}

TEST_F(ConfigStoreTest, AnExportImportsIntoAnEmptyStoreWithEverySettingEqual) {
    const QString file = m_dir.filePath(QStringLiteral("Tavlo.xml"));
    {
        auto root = openRoot(QStringLiteral("source.txt"));
        ConfigStore(*root).exportSettings(everythingSet(), file);
    }
    auto target = openRoot(QStringLiteral("target.txt"));
    ConfigStore store(*target);
    store.importSettings(file);

    auto reopened = openRoot(QStringLiteral("target.txt"));
    Config imported;
    ASSERT_TRUE(ConfigStore(*reopened).loadConfig(imported, kPorts));
    EXPECT_FALSE(imported.hasChanged(everythingSet()));
}

TEST_F(ConfigStoreTest, StableOnlyAndTheDataLogAreStoredExportedAndImportedOnlyWhileOn) {
    Config on = everythingSet();
    on.stableOnly = true;
    on.setDataLogFile(QStringLiteral("/srv/lab/readings \u00b0.csv"));
    const QString file = m_dir.filePath(QStringLiteral("Tavlo.xml"));
    {
        auto root = openRoot(QStringLiteral("source.txt"));
        ConfigStore(*root).exportSettings(on, file);
    }
    auto target = openRoot(QStringLiteral("target.txt"));
    ConfigStore(*target).importSettings(file);
    Config imported;
    ASSERT_TRUE(ConfigStore(*openRoot(QStringLiteral("target.txt"))).loadConfig(imported, kPorts));
    EXPECT_FALSE(imported.hasChanged(on));

    // Turned off again, the keys leave the store, which then holds exactly what it held before they existed.
    auto root = openRoot(QStringLiteral("off.txt"));
    ConfigStore store(*root);
    store.saveConfig(on);
    Config off = Config::copyConfig(on);
    off.stableOnly = false;
    off.setDataLogFile(QString());
    store.saveConfig(off);
    const QStringList keys = openRoot(QStringLiteral("off.txt"))->node(ConfigStore::NODE_PATH).keys();
    EXPECT_FALSE(keys.contains(QStringLiteral("stableOnly")));
    EXPECT_FALSE(keys.contains(QStringLiteral("dataLogFile")));
    EXPECT_EQ(keys.size(), 33);
}

TEST_F(ConfigStoreTest, TheServiceAndBenchAdditionsRoundTripAndLeaveTheStoreWhenBackAtTheirDefaults) {
    Config set = everythingSet();
    set.replaceControlCharacters = QStringLiteral("|");
    set.requestHotkey = QStringLiteral("Ctrl+Alt+W");
    set.typeValues = false;
    set.station = QStringLiteral("bench 4");
    set.readingServicePort = 8181;
    set.readingServiceOrigins = QStringLiteral("https://erp.example.com http://localhost:3000");
    set.mqttBroker = QStringLiteral("ssl://broker.lab:8883");
    set.mqttTopic = QStringLiteral("lab/{station}/w");
    set.mqttQos = 2;
    set.mqttUser = QStringLiteral("bench4");
    set.mqttPasswordFile = QStringLiteral("/etc/tavlo/pw");
    set.mqttCaFile = QStringLiteral("/etc/tavlo/ca.pem");
    set.mqttCommands = true;
    set.mqttBacklog = 500;
    auto root = openRoot(QStringLiteral("more.txt"));
    ConfigStore store(*root);
    store.saveConfig(set);
    Config loaded;
    ASSERT_TRUE(ConfigStore(*openRoot(QStringLiteral("more.txt"))).loadConfig(loaded, kPorts));
    EXPECT_FALSE(loaded.hasChanged(set));

    store.saveConfig(everythingSet());
    EXPECT_EQ(openRoot(QStringLiteral("more.txt"))->node(ConfigStore::NODE_PATH).keys().size(), 33);
}

TEST_F(ConfigStoreTest, AnOutOfRangeServiceNumberFallsBackToItsDefaultAndIsNamed) {
    auto root = openRoot(QStringLiteral("bad.txt"));
    ConfigStore(*root).saveConfig(everythingSet());
    root->node(ConfigStore::NODE_PATH).put(QStringLiteral("readingServicePort"), QStringLiteral("70000"));
    root->node(ConfigStore::NODE_PATH).put(QStringLiteral("mqttQos"), QStringLiteral("3"));
    root->node(ConfigStore::NODE_PATH).flush();
    auto reopened = openRoot(QStringLiteral("bad.txt"));
    ConfigStore store(*reopened);
    Config loaded;
    EXPECT_FALSE(store.loadConfig(loaded, kPorts));
    EXPECT_EQ(loaded.readingServicePort, 0);
    EXPECT_EQ(loaded.mqttQos, 1);
    EXPECT_TRUE(store.invalidSettings().contains(
        QStringLiteral("readingServicePort: stored \"70000\" is not valid; 0 is used")))
        << store.invalidSettings().join('\n').toStdString();
}

TEST_F(ConfigStoreTest, AnImportWithoutTheSettingsNodeIsRefusedAndChangesNothing) {
    const QString file = m_dir.filePath(QStringLiteral("other.xml"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<preferences><root type=\"user\"><node name=\"com\"><node name=\"corvane\"><node name=\"Other\">"
                "<map><entry key=\"port\" value=\"COM8\"/></map></node></node></node></root></preferences>");
    }
    auto root = openRoot();
    ConfigStore store(*root);
    store.saveConfig(everythingSet());
    try {
        store.importSettings(file);
        FAIL() << "imported";
    } catch (const InvalidPreferencesFormatException& e) {
        EXPECT_TRUE(e.message().contains(ConfigStore::NODE_PATH)) << e.message().toStdString();
    }
    EXPECT_TRUE(root->node(QStringLiteral("/com/corvane")).childrenNames() == QStringList{QStringLiteral("Tavlo")});
    EXPECT_THROW(store.importSettings(m_dir.filePath(QStringLiteral("missing.xml"))), tavlo::prefs::IOException);
}

TEST_F(ConfigStoreTest, AFailedExportLeavesAnExistingFileWhole) {
    const QString file = m_dir.filePath(QStringLiteral("Tavlo.xml"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("previous export");
    }
    auto root = openRoot();
    Config config = everythingSet();
    config.setCustomRegEx(QStringLiteral("(\\d+)\x01"));
    EXPECT_THROW(ConfigStore(*root).exportSettings(config, file), tavlo::prefs::IOException);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "previous export");
}

TEST(ConfigStoreSaveNecessaryTest, TakesACopyOnlyWhenASettingChanged) {
    Config config = everythingSet();
    Config old = Config::copyConfig(config);
    EXPECT_FALSE(ConfigStore::saveNecessary(config, old));
    config.setDelay(QStringLiteral("30"));
    EXPECT_TRUE(ConfigStore::saveNecessary(config, old));
    EXPECT_EQ(old.getDelay(), QStringLiteral("30"));
    EXPECT_FALSE(ConfigStore::saveNecessary(config, old));
}

TEST(ConfigStoreEditionTest, TheMultiUserEditionKeepsItsSettingsInTheSharedFile) {
    QTemporaryDir programData;
    ASSERT_TRUE(programData.isValid());
    qputenv("ProgramData", programData.path().toLocal8Bit());
    EXPECT_EQ(ConfigStore::multiUserPreferencesFile(),
              programData.path() + QStringLiteral("/Corvane/TavloQX/prefs.txt"));
    tavlo::base::SystemProperties::set(QStringLiteral("EDITION"), QStringLiteral("QX"));

    ConfigStore store;
    Config config;
    ASSERT_TRUE(store.loadConfig(config, kPorts));
    store.saveConfig(config);
    QFile file(programData.filePath(QStringLiteral("Corvane/TavloQX/prefs.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("com.corvane.Tavlo.port=COM1\n"));

    qunsetenv("ProgramData");
    EXPECT_EQ(ConfigStore::multiUserPreferencesFile(), QStringLiteral("/var/lib/Corvane/TavloQX/prefs.txt"));
    tavlo::base::SystemProperties::remove(QStringLiteral("EDITION"));
}

} // namespace
