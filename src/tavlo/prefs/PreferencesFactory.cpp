#include "tavlo/prefs/PreferencesFactory.h"

#include "base/SystemProperties.h"
#include "tavlo/prefs/FilePreferencesFactory.h"
#include "tavlo/prefs/PlatformPreferencesFactory.h"

namespace tavlo::prefs {

PreferencesFactory& PreferencesFactory::instance() {
    static PreferencesFactory* const chosen = []() -> PreferencesFactory* {
        if (base::SystemProperties::get(SYSTEM_PROPERTY, QString()) == FILE_PREFERENCES)
            return &FilePreferencesFactory::instance();
        return &PlatformPreferencesFactory::instance();
    }();
    return *chosen;
}

} // namespace tavlo::prefs
