#include "tavlo/prefs/SettingsCommands.h"

#include "base/Exceptions.h"
#include "config/Config.h"
#include "tavlo/prefs/ConfigStore.h"
#include "tavlo/prefs/FilePreferences.h"
#include "tavlo/prefs/Preferences.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTextStream>

namespace tavlo::prefs {

namespace {

// A list of one empty name: the stored port is read as it is, and none is made up when there is none.
const QStringList kStoredPortOnly{QString()};

void reportInvalid(const QStringList& invalid, QTextStream& err) {
    for (const QString& line : invalid)
        err << "tavlo: warning: " << line << '\n';
}

} // namespace

int exportSettingsCommand(ConfigStore& store, const QString& file, QTextStream& out, QTextStream& err) {
    try {
        config::Config config;
        store.loadConfig(config, kStoredPortOnly);
        reportInvalid(store.invalidSettings(), err);

        // The window's Export saves before it exports; here the settings are saved into a private copy of the
        // node, so that exporting never changes the store. Keys this version does not know travel along.
        QTemporaryDir scratch;
        if (!scratch.isValid())
            throw base::TavloException(QStringLiteral("no temporary folder for preparing the export"));
        auto root = FilePreferences::createRoot(scratch.filePath(QStringLiteral("settings")));
        ConfigStore copy(*root);
        Preferences& source = store.settingsNode();
        Preferences& target = copy.settingsNode();
        for (const QString& key : source.keys())
            target.put(key, source.get(key, QString()));
        copy.exportSettings(config, file);
    } catch (const base::TavloException& failure) {
        err << "tavlo: cannot export the settings to " << QDir::toNativeSeparators(file) << ": " << failure.message()
            << '\n';
        return 1;
    }
    out << "Exported the settings to " << QDir::toNativeSeparators(file) << ".\n";
    return 0;
}

int importSettingsCommand(ConfigStore& store, const QString& file, QTextStream& out, QTextStream& err) {
    try {
        store.importSettings(file);
    } catch (const base::TavloException& failure) {
        err << "tavlo: cannot import the settings of " << QDir::toNativeSeparators(file) << ": " << failure.message()
            << "\nThe stored settings were not changed.\n";
        return 1;
    }
    out << "Imported the settings of " << QDir::toNativeSeparators(file) << ".\n"
        << "Note: a Tavlo that is running now writes its own settings over the imported ones when it closes; "
           "close it first, then import again.\n";
    try {
        config::Config config;
        store.loadConfig(config, kStoredPortOnly);
        reportInvalid(store.invalidSettings(), err);
    } catch (const base::TavloException& failure) {
        err << "tavlo: warning: the imported settings could not be read back: " << failure.message() << '\n';
    }
    return 0;
}

} // namespace tavlo::prefs
