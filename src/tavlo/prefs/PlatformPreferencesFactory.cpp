#include "tavlo/prefs/PlatformPreferencesFactory.h"

#include "tavlo/prefs/PlatformPreferences.h"

#include <QSettings>

namespace tavlo::prefs {

PlatformPreferencesFactory& PlatformPreferencesFactory::instance() {
    static PlatformPreferencesFactory factory;
    return factory;
}

Preferences& PlatformPreferencesFactory::userRoot() {
    static const std::unique_ptr<PlatformPreferences> root = PlatformPreferences::createRoot(
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, ORGANIZATION, APPLICATION));
    return *root;
}

Preferences& PlatformPreferencesFactory::systemRoot() {
    static const std::unique_ptr<PlatformPreferences> root = PlatformPreferences::createRoot(
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::SystemScope, ORGANIZATION, APPLICATION));
    return *root;
}

} // namespace tavlo::prefs
