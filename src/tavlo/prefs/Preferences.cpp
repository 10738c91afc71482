#include "tavlo/prefs/Preferences.h"

#include "tavlo/prefs/PreferencesExceptions.h"
#include "tavlo/prefs/PreferencesFactory.h"
#include "tavlo/prefs/PreferencesXml.h"

#include <QMutexLocker>
#include <QSet>

namespace tavlo::prefs {

namespace {

bool isDecimalInteger(const QString& text) {
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    if (i == text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return false;
    }
    return true;
}

} // namespace

Preferences::Preferences(Preferences* parent, const QString& name)
    : m_parent(parent), m_name(parent ? name : QString()),
      m_lock(parent ? parent->m_lock : std::make_shared<QRecursiveMutex>()) {
    if (!parent)
        m_absolutePath = QStringLiteral("/");
    else if (!parent->m_parent)
        m_absolutePath = u'/' + name;
    else
        m_absolutePath = parent->m_absolutePath + u'/' + name;
}

Preferences::~Preferences() = default;

Preferences& Preferences::userRoot() {
    return PreferencesFactory::instance().userRoot();
}

Preferences& Preferences::systemRoot() {
    return PreferencesFactory::instance().systemRoot();
}

bool Preferences::isRemoved() const {
    QMutexLocker lock(m_lock.get());
    return m_removed;
}

void Preferences::requireLive() const {
    if (m_removed)
        throw IllegalStateException(QStringLiteral("Node has been removed: ") + m_absolutePath);
}

void Preferences::checkKey(const QString&) const {}

void Preferences::checkName(const QString&) const {}

void Preferences::validateKey(const QString& key) const {
    if (key.size() > MAX_KEY_LENGTH)
        throw base::IllegalArgumentException(QStringLiteral("Key too long: ") + key);
    if (key.contains(QChar(0)))
        throw base::IllegalArgumentException(QStringLiteral("Key contains code point U+0000"));
    checkKey(key);
}

void Preferences::validateValue(const QString& value) const {
    if (value.size() > MAX_VALUE_LENGTH)
        throw base::IllegalArgumentException(QStringLiteral("Value too long: ") + value.left(40) +
                                             QStringLiteral("..."));
    if (value.contains(QChar(0)))
        throw base::IllegalArgumentException(QStringLiteral("Value contains code point U+0000"));
}

void Preferences::validateName(const QString& name) const {
    if (name.isEmpty())
        throw base::IllegalArgumentException(QStringLiteral("Empty node name"));
    if (name.contains(u'/'))
        throw base::IllegalArgumentException(QStringLiteral("Node name contains '/': ") + name);
    if (name.size() > MAX_NAME_LENGTH)
        throw base::IllegalArgumentException(QStringLiteral("Node name too long: ") + name);
    checkName(name);
}

QString Preferences::get(const QString& key, const QString& def) {
    QMutexLocker lock(m_lock.get());
    requireLive();
    std::optional<QString> value;
    try {
        value = getSpi(key);
    } catch (const base::TavloException&) {
        // A store that cannot answer is treated like a missing key.
    }
    return value.value_or(def);
}

void Preferences::put(const QString& key, const QString& value) {
    validateKey(key);
    validateValue(value);
    QMutexLocker lock(m_lock.get());
    requireLive();
    putSpi(key, value);
}

int Preferences::getInt(const QString& key, int def) {
    const QString text = get(key, QString());
    if (!isDecimalInteger(text))
        return def;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : def;
}

void Preferences::putInt(const QString& key, int value) {
    put(key, QString::number(value));
}

bool Preferences::getBoolean(const QString& key, bool def) {
    const QString text = get(key, QString());
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return def;
}

void Preferences::putBoolean(const QString& key, bool value) {
    put(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void Preferences::remove(const QString& key) {
    QMutexLocker lock(m_lock.get());
    requireLive();
    removeSpi(key);
}

QStringList Preferences::keys() {
    QMutexLocker lock(m_lock.get());
    requireLive();
    return keysSpi();
}

QStringList Preferences::childrenNames() {
    QMutexLocker lock(m_lock.get());
    requireLive();
    QSet<QString> names;
    for (const auto& [name, kid] : m_kids)
        names.insert(name);
    for (const QString& name : childrenNamesSpi())
        names.insert(name);
    QStringList sorted(names.begin(), names.end());
    sorted.sort();
    return sorted;
}

Preferences& Preferences::root() {
    Preferences* p = this;
    while (p->m_parent)
        p = p->m_parent;
    return *p;
}

Preferences& Preferences::child(const QString& name) {
    const auto it = m_kids.find(name);
    if (it != m_kids.end())
        return *it->second;
    std::unique_ptr<Preferences> kid = childSpi(name);
    Preferences& ref = *kid;
    m_kids.emplace(name, std::move(kid));
    return ref;
}

Preferences& Preferences::node(const QString& path) {
    QMutexLocker lock(m_lock.get());
    requireLive();
    if (path.isEmpty())
        return *this;
    if (path == QLatin1String("/"))
        return root();
    if (path.endsWith(u'/'))
        throw base::IllegalArgumentException(QStringLiteral("Path ends with slash: ") + path);
    const bool absolute = path.startsWith(u'/');
    const QStringList names = (absolute ? path.mid(1) : path).split(u'/');
    for (const QString& name : names) {
        if (name.isEmpty())
            throw base::IllegalArgumentException(QStringLiteral("Consecutive slashes in path: ") + path);
        validateName(name);
    }
    Preferences* p = absolute ? &root() : this;
    for (const QString& name : names)
        p = &p->child(name);
    return *p;
}

void Preferences::removeTree() {
    requireLive();
    for (const QString& name : childrenNamesSpi())
        child(name);
    QStringList names;
    for (const auto& [name, kid] : m_kids)
        names.append(name);
    for (const QString& name : names)
        m_kids.at(name)->removeTree();
    m_removed = true;
    removeNodeSpi();
    auto it = m_parent->m_kids.find(m_name);
    m_parent->m_removedKids.push_back(std::move(it->second));
    m_parent->m_kids.erase(it);
}

void Preferences::removeNode() {
    QMutexLocker lock(m_lock.get());
    if (!m_parent)
        throw IllegalStateException(QStringLiteral("The root node cannot be removed"));
    removeTree();
}

void Preferences::flushTree() {
    flushSpi();
    if (m_removed)
        return;
    for (const auto& [name, kid] : m_kids)
        kid->flushTree();
}

void Preferences::flush() {
    QMutexLocker lock(m_lock.get());
    flushTree();
}

void Preferences::syncTree() {
    requireLive();
    syncSpi();
    for (const auto& [name, kid] : m_kids)
        kid->syncTree();
}

void Preferences::sync() {
    QMutexLocker lock(m_lock.get());
    syncTree();
}

void Preferences::exportNode(QIODevice& out) {
    QMutexLocker lock(m_lock.get());
    requireLive();
    PreferencesXml::exportNode(*this, out);
}

void Preferences::importPreferences(QIODevice& in) {
    const PreferencesXml::Document document = PreferencesXml::read(in);
    Preferences& target = document.systemRoot ? systemRoot() : userRoot();
    PreferencesXml::validate(document, target);
    PreferencesXml::merge(document, target);
}

void Preferences::importPreferences(QIODevice& in, Preferences& root) {
    const PreferencesXml::Document document = PreferencesXml::read(in);
    PreferencesXml::validate(document, root);
    PreferencesXml::merge(document, root);
}

} // namespace tavlo::prefs
