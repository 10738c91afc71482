#include "tavlo/prefs/PlatformPreferences.h"

#include "tavlo/prefs/PreferencesExceptions.h"

#include <QDir>
#include <QSettings>

namespace tavlo::prefs {

PlatformPreferences::PlatformPreferences(PlatformPreferences* parent, const QString& name,
                                         std::shared_ptr<QSettings> settings)
    : Preferences(parent, name), m_settings(std::move(settings)) {
    if (parent)
        m_group = parent->m_group.isEmpty() ? encode(name) : parent->m_group + u'/' + encode(name);
}

PlatformPreferences::~PlatformPreferences() = default;

std::unique_ptr<PlatformPreferences> PlatformPreferences::createRoot(std::unique_ptr<QSettings> settings) {
    return std::unique_ptr<PlatformPreferences>(
        new PlatformPreferences(nullptr, QString(), std::shared_ptr<QSettings>(std::move(settings))));
}

QString PlatformPreferences::storeLocation() const {
    return QDir::toNativeSeparators(m_settings->fileName());
}

QString PlatformPreferences::encode(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("%");
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'%')
            out += QStringLiteral("%25");
        else if (c == u'/')
            out += QStringLiteral("%2F");
        else if (c == u'\\')
            out += QStringLiteral("%5C");
        else
            out += c;
    }
    return out;
}

QString PlatformPreferences::decode(const QString& stored) {
    if (stored == QLatin1String("%"))
        return QString();
    QString out;
    out.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QStringView code = QStringView(stored).mid(i, 3);
        if (code.compare(QLatin1String("%25"), Qt::CaseInsensitive) == 0) {
            out += u'%';
            i += 2;
        } else if (code.compare(QLatin1String("%2F"), Qt::CaseInsensitive) == 0) {
            out += u'/';
            i += 2;
        } else if (code.compare(QLatin1String("%5C"), Qt::CaseInsensitive) == 0) {
            out += u'\\';
            i += 2;
        } else {
            out += stored[i];
        }
    }
    return out;
}

QString PlatformPreferences::fullKey(const QString& key) const {
    return m_group.isEmpty() ? encode(key) : m_group + u'/' + encode(key);
}

QStringList PlatformPreferences::listGroup(bool groups) const {
    if (!m_group.isEmpty())
        m_settings->beginGroup(m_group);
    const QStringList stored = groups ? m_settings->childGroups() : m_settings->childKeys();
    if (!m_group.isEmpty())
        m_settings->endGroup();
    QStringList names;
    names.reserve(stored.size());
    for (const QString& s : stored)
        names.append(decode(s));
    return names;
}

std::optional<QString> PlatformPreferences::getSpi(const QString& key) {
    const QVariant value = m_settings->value(fullKey(key));
    if (!value.isValid())
        return std::nullopt;
    // A hand-edited INI value with commas reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

void PlatformPreferences::putSpi(const QString& key, const QString& value) {
    m_settings->setValue(fullKey(key), value);
}

void PlatformPreferences::removeSpi(const QString& key) {
    m_settings->remove(fullKey(key));
}

QStringList PlatformPreferences::keysSpi() {
    return listGroup(false);
}

QStringList PlatformPreferences::childrenNamesSpi() {
    return listGroup(true);
}

std::unique_ptr<Preferences> PlatformPreferences::childSpi(const QString& name) {
    return std::unique_ptr<Preferences>(new PlatformPreferences(this, name, m_settings));
}

void PlatformPreferences::removeNodeSpi() {
    m_settings->remove(m_group);
    syncStore();
}

void PlatformPreferences::syncStore() {
    m_settings->sync();
    switch (m_settings->status()) {
    case QSettings::NoError:
        return;
    case QSettings::AccessError:
        throw AccessDeniedException(QStringLiteral("Access to the settings store was refused: ") + storeLocation());
    case QSettings::FormatError:
        throw BackingStoreException(QStringLiteral("The settings store is damaged: ") + storeLocation());
    }
}

void PlatformPreferences::syncSpi() {
    syncStore();
}

void PlatformPreferences::flushSpi() {
    syncStore();
}

} // namespace tavlo::prefs
