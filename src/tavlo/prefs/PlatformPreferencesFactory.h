#pragma once

#include "tavlo/prefs/PreferencesFactory.h"

namespace tavlo::prefs {

// The platform's own stores through QSettings in the native format: the user root in the user's scope
// (HKEY_CURRENT_USER\Software\Corvane\Preferences, ~/.config/Corvane/Preferences.conf), the system root in the
// machine's scope.
class PlatformPreferencesFactory final : public PreferencesFactory {
public:
    static inline const QString ORGANIZATION = QStringLiteral("Corvane");
    static inline const QString APPLICATION = QStringLiteral("Preferences");

    static PlatformPreferencesFactory& instance();

    Preferences& userRoot() override;
    Preferences& systemRoot() override;

private:
    PlatformPreferencesFactory() = default;
};

} // namespace tavlo::prefs
