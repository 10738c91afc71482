#pragma once

#include "tavlo/prefs/Preferences.h"

#include <QMap>
#include <QSet>

class QMutex;

namespace tavlo::prefs {

// A preferences tree kept in one properties file (ISO 8859-1, escapes, "\uXXXX" beyond Latin-1). Every entry
// is one line whose key is the node path followed by the entry key: the node /com/corvane/Tavlo with the key
// "port" is the line "com.corvane.Tavlo.port=COM3". Node names and keys therefore must not contain ".".
//
// Every put and remove rewrites the file; the lines of other nodes are carried over. The file is replaced
// atomically, so a crash or a full disk during a write leaves the previous file whole. One process-wide lock
// covers the file during each flush or sync; other processes are not coordinated.
class FilePreferences final : public Preferences {
public:
    // A new, independent root over the file (the factory's root is the process-wide one).
    static std::unique_ptr<FilePreferences> createRoot(const QString& filePath);

    // The names of the ancestors below the root and of this node, each followed by "."; empty for the root.
    const QString& getPath() const { return m_path; }
    const QString& file() const { return m_file; }

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

    void checkKey(const QString& key) const override;
    void checkName(const QString& name) const override;

private:
    FilePreferences(FilePreferences* parent, const QString& name, const QString& file);

    static QMutex& fileLock();
    // The entries of the file (none when it does not exist); BackingStoreException when it cannot be read.
    QMap<QString, QString> loadFile() const;
    void writeFile(const QMap<QString, QString>& entries) const;
    bool ownsFileKey(const QString& fileKey) const;

    QString m_file;
    QString m_path;
    QMap<QString, QString> m_root;
    // Children that have lines in the file, as seen by the last sync.
    QSet<QString> m_fileChildren;
};

} // namespace tavlo::prefs
