#pragma once

#include <QRecursiveMutex>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

namespace tavlo::prefs {

// One node of a hierarchical preferences tree: a name, a parent, string entries and child nodes. The general
// operations here are built on the service operations (the *Spi functions) that each store implements:
// FilePreferences (one properties file for the whole tree) and PlatformPreferences (the platform's per-user
// store through QSettings).
//
// Nodes are owned by their parent; the roots by their factory. A reference to a node stays valid for the
// life of its tree, also after removeNode() (the node then refuses further use). All operations of one tree
// share one lock, so a tree may be used from several threads.
class Preferences {
public:
    static constexpr int MAX_KEY_LENGTH = 80;
    static constexpr int MAX_VALUE_LENGTH = 8 * 1024;
    static constexpr int MAX_NAME_LENGTH = 80;

    virtual ~Preferences();
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    // The roots of the process-wide store chosen by PreferencesFactory::instance().
    static Preferences& userRoot();
    static Preferences& systemRoot();

    QString name() const { return m_name; }
    QString absolutePath() const { return m_absolutePath; }
    Preferences* parent() const { return m_parent; }
    bool isRemoved() const;

    // The value of the key, or def when the node has none (or the store failed to give it).
    QString get(const QString& key, const QString& def);
    // IllegalArgumentException for a key or value that is too long, holds U+0000 or that the store refuses.
    void put(const QString& key, const QString& value);
    // def unless the value is a decimal integer (an optional sign and digits) within the range of int.
    int getInt(const QString& key, int def);
    void putInt(const QString& key, int value);
    // def unless the value is "true" or "false" in any letter case.
    bool getBoolean(const QString& key, bool def);
    void putBoolean(const QString& key, bool value);
    void remove(const QString& key);

    QStringList keys();
    QStringList childrenNames();

    // The node at path: absolute ("/com/corvane/Tavlo") or relative to this node ("corvane/Tavlo"); the empty
    // path is this node. Missing nodes along the path are created. IllegalArgumentException for a malformed
    // path ("//", a trailing "/", a name too long or refused by the store).
    Preferences& node(const QString& path);

    // Removes this node and its descendants from the tree and the store.
    void removeNode();

    // Writes this node and its descendants to the store; reads them back from it.
    void flush();
    void sync();

    // Writes this node, without its children, as a preferences export document (UTF-8 XML).
    void exportNode(QIODevice& out);
    // Merges every entry of a preferences export document into the tree it names (user or system root).
    // The whole document is read and checked first: InvalidPreferencesFormatException leaves the store alone.
    static void importPreferences(QIODevice& in);
    static void importPreferences(QIODevice& in, Preferences& root);

    // IllegalArgumentException unless this store accepts the text as a key, value or node name.
    void validateKey(const QString& key) const;
    void validateValue(const QString& value) const;
    void validateName(const QString& name) const;

protected:
    // parent nullptr makes a root (name empty).
    Preferences(Preferences* parent, const QString& name);

    virtual std::optional<QString> getSpi(const QString& key) = 0;
    virtual void putSpi(const QString& key, const QString& value) = 0;
    virtual void removeSpi(const QString& key) = 0;
    virtual QStringList keysSpi() = 0;
    // Children the store knows beyond those already asked for.
    virtual QStringList childrenNamesSpi() = 0;
    virtual std::unique_ptr<Preferences> childSpi(const QString& name) = 0;
    // Called after the descendants were removed and this node is marked removed.
    virtual void removeNodeSpi() = 0;
    virtual void syncSpi() = 0;
    virtual void flushSpi() = 0;

    // Restrictions of the store on top of the general ones; throw IllegalArgumentException.
    virtual void checkKey(const QString& key) const;
    virtual void checkName(const QString& name) const;

    QRecursiveMutex& treeLock() const { return *m_lock; }

private:
    Preferences& root();
    Preferences& child(const QString& name);
    void requireLive() const;
    void removeTree();
    void flushTree();
    void syncTree();

    Preferences* m_parent;
    QString m_name;
    QString m_absolutePath;
    std::shared_ptr<QRecursiveMutex> m_lock;
    bool m_removed = false;
    std::map<QString, std::unique_ptr<Preferences>> m_kids;
    // Removed children stay alive so that references to them do not dangle.
    std::vector<std::unique_ptr<Preferences>> m_removedKids;
};

} // namespace tavlo::prefs
