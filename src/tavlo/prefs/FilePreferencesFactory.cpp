#include "tavlo/prefs/FilePreferencesFactory.h"

#include "base/SystemProperties.h"
#include "tavlo/prefs/FilePreferences.h"
#include "tavlo/prefs/PrefsLog.h"

#include <QDir>
#include <QFileInfo>

namespace tavlo::prefs {

FilePreferencesFactory& FilePreferencesFactory::instance() {
    static FilePreferencesFactory factory;
    return factory;
}

QString FilePreferencesFactory::resolvePreferencesFile(const std::optional<QString>& property, const QString& home) {
    QString path = property.value_or(QString());
    if (path.isEmpty())
        path = home + QDir::separator() + QStringLiteral(".fileprefs");
    return QFileInfo(path).absoluteFilePath();
}

QString FilePreferencesFactory::getPreferencesFile() {
    static const QString file = [] {
        const QString path =
            resolvePreferencesFile(base::SystemProperties::get(SYSTEM_PROPERTY_FILE),
                                   base::SystemProperties::get(QStringLiteral("user.home"), QDir::homePath()));
        qCInfo(tavloPrefsLog).noquote() << QStringLiteral("Preferences file is ") + QDir::toNativeSeparators(path);
        return path;
    }();
    return file;
}

Preferences& FilePreferencesFactory::userRoot() {
    static const std::unique_ptr<FilePreferences> root = [] {
        qCDebug(tavloPrefsLog) << "Instantiating root preferences";
        return FilePreferences::createRoot(getPreferencesFile());
    }();
    return *root;
}

Preferences& FilePreferencesFactory::systemRoot() {
    return userRoot();
}

} // namespace tavlo::prefs
