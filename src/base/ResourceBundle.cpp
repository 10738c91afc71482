#include "base/ResourceBundle.h"

#include "base/Exceptions.h"
#include "base/PropertiesCodec.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <map>
#include <memory>

namespace tavlo::base {

ResourceBundle ResourceBundle::fromFile(const QString& name, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw MissingResourceException(QStringLiteral("Can't find bundle for base name %1").arg(name), name, QString());
    QHash<QString, QString> texts;
    for (const auto& e : PropertiesCodec::read(file.readAll(), PropertiesCodec::Encoding::Utf8))
        texts.insert(e.key, e.value);
    return ResourceBundle(name, std::move(texts));
}

namespace {

// The loaded tables, made on first use so that a look-up during another file's static set-up finds them.
struct Loaded {
    QMutex mutex;
    std::map<QString, std::unique_ptr<ResourceBundle>> bundles;
};

Loaded& loaded() {
    static Loaded tables;
    return tables;
}

} // namespace

const ResourceBundle& ResourceBundle::getBundle(const QString& name) {
    Loaded& l = loaded();
    QMutexLocker lock(&l.mutex);
    auto it = l.bundles.find(name);
    if (it == l.bundles.end()) {
        auto bundle =
            std::make_unique<ResourceBundle>(fromFile(name, QStringLiteral(":/tables/%1.properties").arg(name)));
        it = l.bundles.emplace(name, std::move(bundle)).first;
    }
    return *it->second;
}

void ResourceBundle::replaceForTesting(const QString& name, const QString& path) {
    ResourceBundle replacement = fromFile(name, path);
    getBundle(name);
    Loaded& l = loaded();
    QMutexLocker lock(&l.mutex);
    *l.bundles.at(name) = std::move(replacement);
}

QString ResourceBundle::getString(const QString& key) const {
    const auto it = m_texts.constFind(key);
    if (it == m_texts.constEnd())
        throw MissingResourceException(QStringLiteral("Can't find resource for bundle %1, key %2").arg(m_name, key),
                                       m_name, key);
    return *it;
}

QString ResourceBundle::formatText(const QString& pattern, const QStringList& arguments) {
    QString out;
    out.reserve(pattern.size());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'{') {
            const qsizetype close = pattern.indexOf(u'}', i + 1);
            if (close > i + 1) {
                bool ok = false;
                const int index = pattern.mid(i + 1, close - i - 1).toInt(&ok);
                if (ok && index >= 0 && index < arguments.size()) {
                    out += arguments[index];
                    i = close;
                    continue;
                }
            }
        }
        out += pattern[i];
    }
    return out;
}

QString ResourceBundle::format(const QString& key, const QStringList& arguments) const {
    return formatText(getString(key), arguments);
}

} // namespace tavlo::base
