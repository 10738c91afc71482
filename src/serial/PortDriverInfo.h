#pragma once

#include <QString>

namespace serial {

// What the port listing knows about one port's driver.
class PortDriverInfo {
public:
    PortDriverInfo(QString name, QString manufacture, QString description)
        : m_name(std::move(name)), m_manufacture(std::move(manufacture)), m_description(std::move(description)) {}

    const QString& getPortName() const { return m_name; }
    const QString& getDriverMfgr() const { return m_manufacture; }
    const QString& getDriverDesc() const { return m_description; }

private:
    QString m_name;
    QString m_manufacture;
    QString m_description;
};

} // namespace serial
