#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <optional>

namespace tavlo::base {

// The process-wide property table ("VERSION", "EDITION", "SERIAL_PORT_LIST", "os.name", ...).
// Seeded with the platform's values on first use; every access is thread-safe.
class SystemProperties {
public:
    static std::optional<QString> get(const QString& name);
    static QString get(const QString& name, const QString& fallback);
    static void set(const QString& name, const QString& value);
    static void remove(const QString& name);

private:
    static QHash<QString, QString>& table();
    static QMutex& mutex();
};

} // namespace tavlo::base
