#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace tavlo::base {

// A text table ("tavlo.Tavlo", "tavlo.config.ConfigBundle", "tavlo.worker.WorkerBundle") compiled in as a
// UTF-8 properties resource. Tables are loaded once and shared; look-ups are thread-safe.
class ResourceBundle {
public:
    // The table of that name; MissingResourceException when no such table exists.
    static const ResourceBundle& getBundle(const QString& name);

    // The text of the key; MissingResourceException when the table does not hold it.
    QString getString(const QString& key) const;
    bool containsKey(const QString& key) const { return m_texts.contains(key); }
    QStringList keys() const { return m_texts.keys(); }
    const QString& name() const { return m_name; }

    // "{0}", "{1}", ... in the text of the key replaced by the arguments.
    QString format(const QString& key, const QStringList& arguments) const;
    static QString formatText(const QString& pattern, const QStringList& arguments);

    // Loads a table from a file path (tests and damaged-table checks use it).
    static ResourceBundle fromFile(const QString& name, const QString& path);

    // Tests only: the texts of the loaded table of that name replaced by those of the file, before any other
    // thread uses it (references handed out stay valid).
    static void replaceForTesting(const QString& name, const QString& path);

private:
    ResourceBundle(QString name, QHash<QString, QString> texts) : m_name(std::move(name)), m_texts(std::move(texts)) {}

    QString m_name;
    QHash<QString, QString> m_texts;
};

} // namespace tavlo::base
