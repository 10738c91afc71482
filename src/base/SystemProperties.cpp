#include "base/SystemProperties.h"

#include <QDir>
#include <QMutexLocker>
#include <QSysInfo>

namespace tavlo::base {

namespace {

QString platformOsName() {
    const QString kernel = QSysInfo::kernelType();
    if (kernel == QLatin1String("winnt"))
        return QStringLiteral("Windows");
    if (kernel == QLatin1String("darwin"))
        return QStringLiteral("Mac OS X");
    if (kernel == QLatin1String("linux"))
        return QStringLiteral("Linux");
    return kernel;
}

QString platformOsArch() {
    const QString cpu = QSysInfo::currentCpuArchitecture();
    if (cpu == QLatin1String("x86_64"))
        return QStringLiteral("amd64");
    if (cpu == QLatin1String("i386"))
        return QStringLiteral("x86");
    return cpu;
}

QHash<QString, QString> platformValues() {
    QHash<QString, QString> values;
    values.insert(QStringLiteral("os.name"), platformOsName());
    values.insert(QStringLiteral("os.arch"), platformOsArch());
    values.insert(QStringLiteral("os.version"), QSysInfo::kernelVersion());
    values.insert(QStringLiteral("user.home"), QDir::homePath());
    values.insert(QStringLiteral("user.name"), qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME")));
    values.insert(QStringLiteral("file.separator"), QString(QDir::separator()));
    values.insert(QStringLiteral("line.separator"), QStringLiteral("\n"));
    return values;
}

} // namespace

QHash<QString, QString>& SystemProperties::table() {
    static QHash<QString, QString> values = platformValues();
    return values;
}

QMutex& SystemProperties::mutex() {
    static QMutex m;
    return m;
}

std::optional<QString> SystemProperties::get(const QString& name) {
    QMutexLocker lock(&mutex());
    const auto it = table().constFind(name);
    if (it == table().constEnd())
        return std::nullopt;
    return *it;
}

QString SystemProperties::get(const QString& name, const QString& fallback) {
    return get(name).value_or(fallback);
}

void SystemProperties::set(const QString& name, const QString& value) {
    QMutexLocker lock(&mutex());
    table().insert(name, value);
}

void SystemProperties::remove(const QString& name) {
    QMutexLocker lock(&mutex());
    table().remove(name);
}

} // namespace tavlo::base
