#pragma once

#include <QString>
#include <QStringList>

namespace tavlo::config {
class Config;
}

namespace tavlo::prefs {

class Preferences;

// Keeps the settings record in the preferences node /com/corvane/Tavlo: reading it back with validation,
// writing it, and exporting and importing the node as an XML file. The window owns one and calls it on its
// own thread.
//
// Failures: AccessDeniedException (the operating system refused access to the store) reaches the caller of
// every operation so that the window can tell the user; other store failures of saveConfig only go to the
// diagnostic output.
class ConfigStore {
public:
    static inline const QString NODE_PATH = QStringLiteral("/com/corvane/Tavlo");

    // The store of the edition, chosen at the first use: for "EDITION" "QX" the file shared by all users
    // (multiUserPreferencesFile), otherwise the platform's per-user store.
    ConfigStore();
    // The settings node below that root instead (tests, tools).
    explicit ConfigStore(Preferences& root);

    // Fills config from the store; the key "port" is read only when portList is not empty, with its first name
    // as default. Missing keys give the defaults; invalid stored values give the defaults too and make the
    // result false. When access is refused, AccessDeniedException leaves config untouched.
    bool loadConfig(config::Config& config, const QStringList& portList);
    // What the last loadConfig replaced, one line per key: `bitRate: stored "99" is not valid; 9600 is used`.
    const QStringList& invalidSettings() const { return m_invalidSettings; }
    // One such line; the default as the window shows it.
    static QString invalidSettingText(const QString& key, const QString& stored, const QString& shownDefault);

    // Writes every setting and flushes the node.
    void saveConfig(const config::Config& config);

    // True, after taking a new copy of config into oldConfig, when the two differ in a setting.
    static bool saveNecessary(const config::Config& config, config::Config& oldConfig);

    // saveConfig, then the settings node without its children as a preferences export in path. The file is
    // replaced only when complete. IOException when it cannot be written.
    void exportSettings(const config::Config& config, const QString& path);

    // Merges the entries of a preferences export file into the store and syncs the settings node. A file that
    // is not well-formed, not a preferences export or without the node NODE_PATH is refused
    // (InvalidPreferencesFormatException) before anything is stored; IOException when it cannot be read.
    void importSettings(const QString& path);

    // The settings node, opening the store if needed.
    Preferences& settingsNode();

    // The shared file of the multi-user edition: the "ProgramData" folder (on systems without one: /var/lib)
    // followed by /Corvane/TavloQX/prefs.txt.
    static QString multiUserPreferencesFile();

private:
    Preferences& root();

    Preferences* m_root = nullptr;
    QStringList m_invalidSettings;
};

} // namespace tavlo::prefs
