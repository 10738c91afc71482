#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tavlo::base {

// Reads and writes the ".properties" text format: "key=value" lines, "#" and "!" comments,
// backslash escapes including "\uXXXX", and lines continued by a trailing backslash.
// The encoding is a parameter: the text tables are UTF-8, the settings file is ISO 8859-1
// with every other character written as "\uXXXX".
class PropertiesCodec {
public:
    enum class Encoding { Utf8, Latin1 };

    struct Entry {
        QString key;
        QString value;
        bool operator==(const Entry&) const = default;
    };

    // Entries in file order; a key given twice appears twice (the last one wins for look-ups).
    static QList<Entry> read(const QByteArray& bytes, Encoding encoding);

    // One "key=value" line per entry, after an optional comment line.
    static QByteArray write(const QList<Entry>& entries, Encoding encoding, const QString& comment = QString());

    static QString escape(const QString& text, bool isKey, Encoding encoding);
};

} // namespace tavlo::base
