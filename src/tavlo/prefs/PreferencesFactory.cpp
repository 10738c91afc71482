#include "tavlo/prefs/PreferencesFactory.h"

#include "tavlo/prefs/FilePreferencesFactory.h"
#include "tavlo/prefs/PlatformPreferencesFactory.h"
#include "tavlo/util/SystemProperties.h"

namespace tavlo::prefs {

PreferencesFactory& PreferencesFactory::instance() {
    static PreferencesFactory* const chosen = []() -> PreferencesFactory* {
        if (util::SystemProperties::get(SYSTEM_PROPERTY, QString()) == FILE_PREFERENCES)
            return &FilePreferencesFactory::instance();
        return &PlatformPreferencesFactory::instance();
    }();
    return *chosen;
}

} // namespace tavlo::prefs
