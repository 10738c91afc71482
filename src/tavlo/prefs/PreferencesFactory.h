#pragma once

#include <QString>

namespace tavlo::prefs {

class Preferences;

// Supplies the roots of one kind of preferences store.
class PreferencesFactory {
public:
    // Process property naming the store of the process; FILE_PREFERENCES selects FilePreferencesFactory,
    // anything else (or nothing) the platform's per-user store.
    static inline const QString SYSTEM_PROPERTY = QStringLiteral("tavlo.prefs.PreferencesFactory");
    static inline const QString FILE_PREFERENCES = QStringLiteral("tavlo.prefs.FilePreferencesFactory");

    virtual ~PreferencesFactory() = default;
    virtual Preferences& userRoot() = 0;
    virtual Preferences& systemRoot() = 0;

    // The factory of the process, chosen from SYSTEM_PROPERTY on the first call and kept from then on.
    static PreferencesFactory& instance();
};

} // namespace tavlo::prefs
