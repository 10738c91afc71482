#pragma once

// A preferences tree in memory whose store operations can be made to fail, for tests of the callers'
// failure handling.

#include "tavlo/prefs/Preferences.h"

#include <QMap>
#include <functional>
#include <memory>

namespace tavlo::test {

class MemoryPreferences final : public prefs::Preferences {
public:
    struct Faults {
        std::function<void()> onFlush; // called by every node's flush; may throw
        std::function<void()> onSync;
        std::function<void(const QString& key)> onPut;
    };

    static std::unique_ptr<MemoryPreferences> createRoot() {
        return std::unique_ptr<MemoryPreferences>(
            new MemoryPreferences(nullptr, QString(), std::make_shared<Faults>()));
    }
    Faults& faults() { return *m_faults; }

protected:
    std::optional<QString> getSpi(const QString& key) override {
        const auto it = m_entries.constFind(key);
        return it == m_entries.constEnd() ? std::nullopt : std::optional<QString>(*it);
    }
    void putSpi(const QString& key, const QString& value) override {
        if (m_faults->onPut)
            m_faults->onPut(key);
        m_entries.insert(key, value);
    }
    void removeSpi(const QString& key) override { m_entries.remove(key); }
    QStringList keysSpi() override { return m_entries.keys(); }
    QStringList childrenNamesSpi() override { return {}; }
    std::unique_ptr<Preferences> childSpi(const QString& name) override {
        return std::unique_ptr<Preferences>(new MemoryPreferences(this, name, m_faults));
    }
    void removeNodeSpi() override { m_entries.clear(); }
    void syncSpi() override {
        if (m_faults->onSync)
            m_faults->onSync();
    }
    void flushSpi() override {
        if (m_faults->onFlush)
            m_faults->onFlush();
    }

private:
    MemoryPreferences(MemoryPreferences* parent, const QString& name, std::shared_ptr<Faults> faults)
        : Preferences(parent, name), m_faults(std::move(faults)) {}

    std::shared_ptr<Faults> m_faults;
    QMap<QString, QString> m_entries;
};

} // namespace tavlo::test
