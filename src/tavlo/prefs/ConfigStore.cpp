#include "tavlo/prefs/ConfigStore.h"

#include "base/SystemProperties.h"
#include "config/Config.h"
#include "config/Instrument.h"
#include "tavlo/prefs/FilePreferencesFactory.h"
#include "tavlo/prefs/Preferences.h"
#include "tavlo/prefs/PreferencesExceptions.h"
#include "tavlo/prefs/PreferencesXml.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <type_traits>

using tavlo::base::SystemProperties;

namespace tavlo::prefs {

using config::Config;
using H = config::ConfigHelper;
using base::SystemProperties;

namespace {

// Reads settings back, replacing every stored value that fails its check by the default and noting which.
class SettingsReader {
public:
    explicit SettingsReader(Preferences& node) : m_node(node) {}
    bool allValid() const { return m_invalid.isEmpty(); }
    const QStringList& invalid() const { return m_invalid; }

    template <typename T> const T* named(const QString& key) {
        const QString name = m_node.get(key, T::getDefault()->name());
        if (T::valid(name))
            return T::valueOf(name);
        return fallBack(key, name, T::getDefault(), T::getDefault()->display());
    }

    // Index options and the input terminator: an integer that the type accepts. A text that is not an
    // integer at all is as invalid as an index out of range.
    template <typename T> int integer(const QString& key) {
        const QString text = m_node.get(key, QString::number(T::getDefault()));
        const std::optional<int> value = H::parseInteger(text);
        if (value && T::valid(*value))
            return *value;
        return fallBack(key, text, T::getDefault(), shownIndex<T>(T::getDefault()));
    }

    template <typename T> QString text(const QString& key) {
        const QString value = m_node.get(key, T::getDefault());
        if (T::valid(value))
            return value;
        return fallBack(key, value, T::getDefault(), T::getDefault());
    }

    bool boolean(const QString& key, bool def) { return m_node.getBoolean(key, def); }
    // A whole number from min to max; anything else is invalid.
    int number(const QString& key, int def, int min, int max) {
        const QString text = m_node.get(key, QString::number(def));
        const std::optional<int> value = H::parseInteger(text);
        if (value && *value >= min && *value <= max)
            return *value;
        return fallBack(key, text, def, QString::number(def));
    }
    QString plain(const QString& key, const QString& def) { return m_node.get(key, def); }

private:
    // The default as the window shows it: the label of an index option, the preset's name of a terminator.
    template <typename T> static QString shownIndex(int value) {
        if constexpr (std::is_same_v<T, H::InputTerminator>) {
            const H::InputTerminator* preset = H::InputTerminator::itemFromDecimal(value);
            return preset ? preset->display() : QString::number(value);
        } else {
            return T::getReadable(value);
        }
    }

    template <typename V> V fallBack(const QString& key, const QString& stored, V def, const QString& shown) {
        m_invalid.append(ConfigStore::invalidSettingText(key, stored, shown));
        return def;
    }

    Preferences& m_node;
    QStringList m_invalid;
};

template <typename T> QString nameOf(const T* option) {
    return (option ? option : T::getDefault())->name();
}

void reportSaveFailure(const base::TavloException& e) {
    qWarning().noquote() << QStringLiteral("saveConfig exception: ") + e.message();
}

// Runs one store operation of saveConfig: a refusal of access goes to the caller, other failures are reported
// and the remaining settings are still written.
template <typename Fn> void guarded(Fn fn) {
    try {
        fn();
    } catch (const AccessDeniedException&) {
        throw;
    } catch (const base::TavloException& e) {
        reportSaveFailure(e);
    }
}

} // namespace

ConfigStore::ConfigStore() = default;

QString ConfigStore::invalidSettingText(const QString& key, const QString& stored, const QString& shownDefault) {
    // The stored text may hold anything, line breaks included; it is shown escaped so that it stays one line.
    QString quoted;
    for (const QChar c : stored) {
        if (c == u'"' || c == u'\\')
            quoted += u'\\';
        if (c.unicode() < 32 || c.unicode() == 127)
            quoted += QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            quoted += c;
    }
    const QString used = shownDefault.isEmpty() ? QStringLiteral("an empty field") : shownDefault;
    return QStringLiteral("%1: stored \"%2\" is not valid; %3 is used").arg(key, quoted, used);
}

ConfigStore::ConfigStore(Preferences& root) : m_root(&root) {}

QString ConfigStore::multiUserPreferencesFile() {
    QString folder = qEnvironmentVariable("ProgramData");
    if (folder.isEmpty())
        folder = QStringLiteral("/var/lib");
    return QDir::fromNativeSeparators(folder) + QStringLiteral("/Corvane/TavloQX/prefs.txt");
}

Preferences& ConfigStore::root() {
    if (!m_root) {
        if (SystemProperties::get(QStringLiteral("EDITION"), QString()) == QLatin1String("QX")) {
            SystemProperties::set(PreferencesFactory::SYSTEM_PROPERTY, PreferencesFactory::FILE_PREFERENCES);
            SystemProperties::set(FilePreferencesFactory::SYSTEM_PROPERTY_FILE, multiUserPreferencesFile());
        }
        m_root = &Preferences::userRoot();
    }
    return *m_root;
}

Preferences& ConfigStore::settingsNode() {
    return root().node(NODE_PATH);
}

bool ConfigStore::loadConfig(Config& config, const QStringList& portList) {
    Preferences& node = settingsNode();
    try {
        node.sync();
    } catch (const AccessDeniedException&) {
        throw;
    } catch (const BackingStoreException& e) {
        // What the node already holds (or the defaults) is used.
        qWarning().noquote() << QStringLiteral("loadConfig: ") + e.message();
    }

    // Everything is read before config changes, so a failure of the store leaves config as it was.
    SettingsReader r(node);
    const QString port = portList.isEmpty() ? config.getPort() : r.plain(QStringLiteral("port"), portList.first());
    const QString prevPort = r.plain(QStringLiteral("prevPort"), port);
    const H::Instrument* instrument = r.named<H::Instrument>(QStringLiteral("instrument"));
    const int bitRate = r.integer<H::BitRates>(QStringLiteral("bitRate"));
    const int dataBits = r.integer<H::DataBits>(QStringLiteral("dataBits"));
    const int stopBits = r.integer<H::StopBits>(QStringLiteral("stopBits"));
    const int parity = r.integer<H::Parity>(QStringLiteral("parity"));
    const auto* decimalSeparator = r.named<H::DecimalSeparator>(QStringLiteral("decimalSeparator"));
    const int inputTerminator = r.integer<H::InputTerminator>(QStringLiteral("inputTerminator"));
    const auto* startWith = r.named<H::StartWith>(QStringLiteral("startWith"));
    const auto* outputTerminator = r.named<H::OutputTerminator>(QStringLiteral("outputTerminator"));
    const auto* outputTerminator2 = r.named<H::OutputTerminator>(QStringLiteral("outputTerminator2"));
    const QString everyXValues = r.text<H::EveryXValues>(QStringLiteral("everyXValues"));
    const auto* connect = r.named<H::Connect>(QStringLiteral("connect"));
    const QString mathOperand = r.text<H::MathOperand>(QStringLiteral("mathOperand"));
    const auto* mathOperation = r.named<H::MathOperation>(QStringLiteral("mathOperation"));
    const QString decimalPlaces = r.text<H::DecimalPlaces>(QStringLiteral("decimalPlaces"));
    const auto* roundingMethod = r.named<H::RoundingMethod>(QStringLiteral("roundingMethod"));
    const auto* sound = r.named<H::Sound>(QStringLiteral("sound"));
    const auto* keyboardType = r.named<H::KeyboardType>(QStringLiteral("keyboardType"));
    const QString delay = r.text<H::Delay>(QStringLiteral("delay"));
    const bool minimizeToTray = r.boolean(QStringLiteral("minimizeToTray"), false);
    const bool notifyWhenMinimizedToTray = r.boolean(QStringLiteral("notifyWhenMinimizedToTray"), false);
    const bool checkForUpdates = r.boolean(QStringLiteral("checkForUpdates"), true);
    const bool abortAutoStart = r.boolean(QStringLiteral("abortAutoStartWhenPrevPortNotAvailable"), false);
    const bool ignoreDuplicates = r.boolean(QStringLiteral("ignoreDuplicates"), false);
    const auto* editOperation = r.named<H::EditOperation>(QStringLiteral("editOperation"));
    const auto* editPosition = r.named<H::EditPosition>(QStringLiteral("editPosition"));
    const QString editNumCharacters = r.text<H::EditNumCharacters>(QStringLiteral("editNumCharacters"));
    const QString removeCharacters = r.text<H::RemoveCharacters>(QStringLiteral("removeCharacters"));
    const QString ignoreTimeLimit = r.text<H::IgnoreTimeLimit>(QStringLiteral("ignoreTimeLimit"));
    const QString ignoreDifference = r.text<H::IgnoreDifference>(QStringLiteral("ignoreDifference"));
    const QString customRegEx = r.text<H::CustomRegEx>(QStringLiteral("customRegEx"));
    const bool stableOnly = r.boolean(QStringLiteral("stableOnly"), false);
    const QString dataLogFile = r.plain(QStringLiteral("dataLogFile"), QString());
    config::ConfigAdditions more;
    more.replaceControlCharacters = r.plain(QStringLiteral("replaceControlCharacters"), QString());
    more.requestHotkey = r.plain(QStringLiteral("requestHotkey"), QString());
    more.typeValues = r.boolean(QStringLiteral("typeValues"), true);
    more.station = r.plain(QStringLiteral("station"), QString());
    more.readingServicePort = r.number(QStringLiteral("readingServicePort"), 0, 0, 65535);
    more.readingServiceOrigins = r.plain(QStringLiteral("readingServiceOrigins"), QString());
    more.mqttBroker = r.plain(QStringLiteral("mqttBroker"), QString());
    more.mqttTopic = r.plain(QStringLiteral("mqttTopic"), QString());
    more.mqttQos = r.number(QStringLiteral("mqttQos"), 1, 0, 2);
    more.mqttUser = r.plain(QStringLiteral("mqttUser"), QString());
    more.mqttPasswordFile = r.plain(QStringLiteral("mqttPasswordFile"), QString());
    more.mqttCaFile = r.plain(QStringLiteral("mqttCaFile"), QString());
    more.mqttCommands = r.boolean(QStringLiteral("mqttCommands"), false);
    more.mqttBacklog = r.number(QStringLiteral("mqttBacklog"), 100000, 1, 100000000);

    config.setPort(port);
    config.setPrevPort(prevPort);
    config.setInstrument(instrument);
    config.setBitRate(bitRate);
    config.setDataBits(dataBits);
    config.setStopBits(stopBits);
    config.setParity(parity);
    config.setDecimalSeparator(decimalSeparator);
    config.setInputTerminator(inputTerminator);
    config.setStartWith(startWith);
    config.setOutputTerminator(outputTerminator);
    config.setOutputTerminator2(outputTerminator2);
    config.setEveryXValues(everyXValues);
    config.setConnect(connect);
    config.setMathOperand(mathOperand);
    config.setMathOperation(mathOperation);
    config.setDecimalPlaces(decimalPlaces);
    config.setRoundingMethod(roundingMethod);
    config.setSound(sound);
    config.setKeyboardType(keyboardType);
    config.setDelay(delay);
    config.minimizeToTray = minimizeToTray;
    config.notifyWhenMinimizedToTray = notifyWhenMinimizedToTray;
    config.checkForUpdates = checkForUpdates;
    config.abortAutoStartWhenPrevPortNotAvailable = abortAutoStart;
    config.ignoreDuplicates = ignoreDuplicates;
    config.setEditOperation(editOperation);
    config.setEditPosition(editPosition);
    config.setEditNumCharacters(editNumCharacters);
    config.setRemoveCharacters(removeCharacters);
    config.setIgnoreTimeLimit(ignoreTimeLimit);
    config.setIgnoreDifference(ignoreDifference);
    config.setCustomRegEx(customRegEx);
    config.stableOnly = stableOnly;
    config.setDataLogFile(dataLogFile);
    static_cast<config::ConfigAdditions&>(config) = more;
    m_invalidSettings = r.invalid();
    return r.allValid();
}

void ConfigStore::saveConfig(const Config& config) {
    Preferences* found = nullptr;
    guarded([&] { found = &settingsNode(); });
    if (!found)
        return;
    Preferences& node = *found;
    auto put = [&node](const QString& key, const QString& value) { guarded([&] { node.put(key, value); }); };
    auto putInt = [&node](const QString& key, int value) { guarded([&] { node.putInt(key, value); }); };
    auto putBoolean = [&node](const QString& key, bool value) { guarded([&] { node.putBoolean(key, value); }); };

    if (!config.getPort().isEmpty()) {
        put(QStringLiteral("port"), config.getPort());
        put(QStringLiteral("prevPort"), config.getPort());
    }
    put(QStringLiteral("instrument"), nameOf(config.getInstrument()));
    putInt(QStringLiteral("bitRate"), config.getBitRate());
    putInt(QStringLiteral("dataBits"), config.getDataBits());
    putInt(QStringLiteral("stopBits"), config.getStopBits());
    putInt(QStringLiteral("parity"), config.getParity());
    putInt(QStringLiteral("inputTerminator"), config.getInputTerminator());
    put(QStringLiteral("decimalSeparator"), nameOf(config.getDecimalSeparator()));
    put(QStringLiteral("sound"), nameOf(config.getSound()));
    put(QStringLiteral("startWith"), nameOf(config.getStartWith()));
    put(QStringLiteral("outputTerminator"), nameOf(config.getOutputTerminator()));
    put(QStringLiteral("outputTerminator2"), nameOf(config.getOutputTerminator2()));
    put(QStringLiteral("everyXValues"), config.getEveryXValues());
    put(QStringLiteral("connect"), nameOf(config.getConnect()));
    put(QStringLiteral("mathOperation"), nameOf(config.getMathOperation()));
    put(QStringLiteral("mathOperand"), config.getMathOperand());
    put(QStringLiteral("decimalPlaces"), config.getDecimalPlaces());
    put(QStringLiteral("roundingMethod"), nameOf(config.getRoundingMethod()));
    put(QStringLiteral("keyboardType"), nameOf(config.getKeyboardType()));
    put(QStringLiteral("delay"), config.getDelay());
    putBoolean(QStringLiteral("minimizeToTray"), config.minimizeToTray);
    putBoolean(QStringLiteral("notifyWhenMinimizedToTray"), config.notifyWhenMinimizedToTray);
    putBoolean(QStringLiteral("checkForUpdates"), config.checkForUpdates);
    putBoolean(QStringLiteral("abortAutoStartWhenPrevPortNotAvailable"), config.abortAutoStartWhenPrevPortNotAvailable);
    putBoolean(QStringLiteral("ignoreDuplicates"), config.ignoreDuplicates);
    put(QStringLiteral("editOperation"), nameOf(config.getEditOperation()));
    put(QStringLiteral("editPosition"), nameOf(config.getEditPosition()));
    put(QStringLiteral("editNumCharacters"), config.getEditNumCharacters());
    put(QStringLiteral("removeCharacters"), config.getRemoveCharacters());
    put(QStringLiteral("customRegEx"), config.getCustomRegEx());
    put(QStringLiteral("ignoreTimeLimit"), config.getIgnoreTimeLimit());
    put(QStringLiteral("ignoreDifference"), config.getIgnoreDifference());
    // The additions are stored only while they are on, so that the store and its export stay exactly as
    // before for everyone who does not use them.
    auto putOrRemove = [&node](const QString& key, const QString& value) {
        guarded([&] { value.isEmpty() ? node.remove(key) : node.put(key, value); });
    };
    putOrRemove(QStringLiteral("stableOnly"), config.stableOnly ? QStringLiteral("true") : QString());
    putOrRemove(QStringLiteral("dataLogFile"), config.getDataLogFile());
    const auto unlessDefault = [](int value, int def) { return value == def ? QString() : QString::number(value); };
    putOrRemove(QStringLiteral("replaceControlCharacters"), config.replaceControlCharacters);
    putOrRemove(QStringLiteral("requestHotkey"), config.requestHotkey);
    putOrRemove(QStringLiteral("typeValues"), config.typeValues ? QString() : QStringLiteral("false"));
    putOrRemove(QStringLiteral("station"), config.station);
    putOrRemove(QStringLiteral("readingServicePort"), unlessDefault(config.readingServicePort, 0));
    putOrRemove(QStringLiteral("readingServiceOrigins"), config.readingServiceOrigins);
    putOrRemove(QStringLiteral("mqttBroker"), config.mqttBroker);
    putOrRemove(QStringLiteral("mqttTopic"), config.mqttTopic);
    putOrRemove(QStringLiteral("mqttQos"), unlessDefault(config.mqttQos, 1));
    putOrRemove(QStringLiteral("mqttUser"), config.mqttUser);
    putOrRemove(QStringLiteral("mqttPasswordFile"), config.mqttPasswordFile);
    putOrRemove(QStringLiteral("mqttCaFile"), config.mqttCaFile);
    putOrRemove(QStringLiteral("mqttCommands"), config.mqttCommands ? QStringLiteral("true") : QString());
    putOrRemove(QStringLiteral("mqttBacklog"), unlessDefault(config.mqttBacklog, 100000));
    guarded([&] { node.flush(); });
}

bool ConfigStore::saveNecessary(const Config& config, Config& oldConfig) {
    if (!config.hasChanged(oldConfig))
        return false;
    oldConfig = Config::copyConfig(config);
    return true;
}

void ConfigStore::exportSettings(const Config& config, const QString& path) {
    saveConfig(config);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        throw IOException(QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), out.errorString()));
    settingsNode().exportNode(out);
    if (!out.commit())
        throw IOException(QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), out.errorString()));
}

void ConfigStore::importSettings(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        throw IOException(QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), in.errorString()));
    const PreferencesXml::Document document = PreferencesXml::read(in);
    if (!document.find(NODE_PATH))
        throw InvalidPreferencesFormatException(
            QStringLiteral("The file holds no Tavlo settings: it has no node %1.").arg(NODE_PATH));
    Preferences& target = root();
    PreferencesXml::validate(document, target);
    PreferencesXml::merge(document, target);
    // A put whose write failed only logs; the flush makes such a failure the import's failure.
    target.flush();
    settingsNode().sync();
}

} // namespace tavlo::prefs
