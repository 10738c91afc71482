#pragma once

#include "tavlo/prefs/Preferences.h"

class QSettings;

namespace tavlo::prefs {

// A preferences tree in a QSettings store: nodes are groups, entries are string values. The factory's roots
// use the native format (the registry on Windows, an INI file in the user's configuration folder on Linux).
//
// QSettings cannot hold "/" or "\" in a name, nor an empty key, so keys and node names are stored
// percent-escaped ("%2F", "%5C", "%25"; the empty key as "%"). A key and a child node of the same name share
// one QSettings name: removing the key removes that child's entries too.
class PlatformPreferences final : public Preferences {
public:
    // A root over the settings object, which the tree then owns.
    static std::unique_ptr<PlatformPreferences> createRoot(std::unique_ptr<QSettings> settings);
    ~PlatformPreferences() override;

    // The file or registry path of the store, for messages.
    QString storeLocation() const;

protected:
    std::optional<QString> getSpi(const QString& key) override;
    void putSpi(const QString& key, const QString& value) override;
    void removeSpi(const QString& key) override;
    QStringList keysSpi() override;
    QStringList childrenNamesSpi() override;
    std::unique_ptr<Preferences> childSpi(const QString& name) override;
    void removeNodeSpi() override;
    void syncSpi() override;
    void flushSpi() override;

private:
    PlatformPreferences(PlatformPreferences* parent, const QString& name, std::shared_ptr<QSettings> settings);

    static QString encode(const QString& name);
    static QString decode(const QString& stored);
    QString fullKey(const QString& key) const;
    QStringList listGroup(bool groups) const;
    void syncStore();

    std::shared_ptr<QSettings> m_settings;
    // The QSettings group of this node ("com/corvane/Tavlo"); empty for the root.
    QString m_group;
};

} // namespace tavlo::prefs
