#pragma once

#include "tavlo/prefs/PreferencesFactory.h"

#include <QString>
#include <memory>
#include <optional>

namespace tavlo::prefs {

class FilePreferences;

// Supplies the one process-wide FilePreferences tree. Its file is named by the process property
// SYSTEM_PROPERTY_FILE, or else is ".fileprefs" in the user's home folder.
class FilePreferencesFactory final : public PreferencesFactory {
public:
    static inline const QString SYSTEM_PROPERTY_FILE = QStringLiteral("tavlo.prefs.FilePreferences.file");

    static FilePreferencesFactory& instance();

    // The root, created on first use; the system root is the same tree.
    Preferences& userRoot() override;
    Preferences& systemRoot() override;

    // The absolute path of the file, computed on the first call from the properties and kept from then on.
    static QString getPreferencesFile();
    // The path for a property value (absent or empty: the home folder's ".fileprefs"), made absolute.
    static QString resolvePreferencesFile(const std::optional<QString>& property, const QString& home);

private:
    FilePreferencesFactory() = default;
};

} // namespace tavlo::prefs
