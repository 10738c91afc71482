#include "tavlo/prefs/PreferencesXml.h"

#include "tavlo/prefs/Preferences.h"
#include "tavlo/prefs/PreferencesExceptions.h"

#include <QIODevice>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace tavlo::prefs {

namespace {

const QString kPreferences = QStringLiteral("preferences");
const QString kRoot = QStringLiteral("root");
const QString kNode = QStringLiteral("node");
const QString kMap = QStringLiteral("map");
const QString kEntry = QStringLiteral("entry");
const QString kVersionAttribute = QStringLiteral("EXTERNAL_XML_VERSION");
const QString kVersion = QStringLiteral("1.0");

// The characters that XML 1.0 can carry; the others would make a file that cannot be read back.
bool isXmlText(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == 0x9 || c == 0xA || c == 0xD)
            continue;
        if (c < 0x20 || c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

class DocumentReader {
public:
    explicit DocumentReader(QIODevice& in) : m_xml(&in) {}

    PreferencesXml::Document read() {
        PreferencesXml::Document document;
        if (!nextElementOrEnd())
            malformed();
        if (m_xml.name() != kPreferences)
            throw InvalidPreferencesFormatException(
                QStringLiteral("The file is not a settings export: its document element is <%1>, not <preferences>.")
                    .arg(m_xml.name()));
        const QXmlStreamAttributes attributes = m_xml.attributes();
        if (attributes.hasAttribute(kVersionAttribute) && attributes.value(kVersionAttribute) != kVersion)
            throw InvalidPreferencesFormatException(
                QStringLiteral("Settings export format version %1 is not supported.")
                    .arg(attributes.value(kVersionAttribute)));

        bool haveRoot = false;
        while (nextElementOrEnd()) {
            if (m_xml.name() != kRoot || haveRoot)
                unexpected(kPreferences);
            haveRoot = true;
            const QStringView type = m_xml.attributes().value(QStringLiteral("type"));
            if (type == QLatin1String("system"))
                document.systemRoot = true;
            else if (!type.isEmpty() && type != QLatin1String("user"))
                fail(QStringLiteral("The root type \"%1\" is neither \"user\" nor \"system\"").arg(type));
            readNodeContent(document.root, kRoot);
        }
        if (!haveRoot)
            fail(QStringLiteral("The settings export has no <root> element"));
        // Anything after the document element other than comments is an error of the reader.
        while (!m_xml.atEnd()) {
            m_xml.readNext();
            if (m_xml.isStartElement())
                unexpected(kPreferences);
        }
        if (m_xml.hasError())
            malformed();
        return document;
    }

private:
    [[noreturn]] void fail(const QString& what) {
        throw InvalidPreferencesFormatException(QStringLiteral("%1 (line %2).").arg(what).arg(m_xml.lineNumber()));
    }
    [[noreturn]] void malformed() {
        throw InvalidPreferencesFormatException(
            QStringLiteral("The file is not well-formed XML (line %1, column %2): %3")
                .arg(m_xml.lineNumber())
                .arg(m_xml.columnNumber())
                .arg(m_xml.errorString()));
    }
    [[noreturn]] void unexpected(const QString& parent) {
        fail(QStringLiteral("The settings export has an unexpected element <%1> in <%2>").arg(m_xml.name(), parent));
    }

    // Moves to the next start element (true) or to the end element of the current one (false), skipping
    // comments, processing instructions, the DOCTYPE and white space.
    bool nextElementOrEnd() {
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartElement:
                return true;
            case QXmlStreamReader::EndElement:
                return false;
            case QXmlStreamReader::Characters:
                if (m_xml.isWhitespace())
                    continue;
                fail(QStringLiteral("The settings export has unexpected text \"%1\"").arg(m_xml.text().trimmed()));
            case QXmlStreamReader::EntityReference:
                fail(QStringLiteral("The settings export has an undeclared entity &%1;").arg(m_xml.name()));
            case QXmlStreamReader::Invalid:
                malformed();
            case QXmlStreamReader::EndDocument:
                malformed();
            default:
                continue;
            }
        }
    }

    QString requiredAttribute(const QString& name) {
        const QXmlStreamAttributes attributes = m_xml.attributes();
        if (!attributes.hasAttribute(name))
            fail(QStringLiteral("The settings export has the element <%1> without the attribute \"%2\"")
                     .arg(m_xml.name(), name));
        return attributes.value(name).toString();
    }

    void readNodeContent(PreferencesXml::Node& node, const QString& element) {
        while (nextElementOrEnd()) {
            if (m_xml.name() == kMap) {
                readMap(node);
            } else if (m_xml.name() == kNode) {
                PreferencesXml::Node child;
                child.name = requiredAttribute(QStringLiteral("name"));
                readNodeContent(child, kNode);
                node.children.push_back(std::move(child));
            } else {
                unexpected(element);
            }
        }
    }

    void readMap(PreferencesXml::Node& node) {
        while (nextElementOrEnd()) {
            if (m_xml.name() != kEntry)
                unexpected(kMap);
            QString key = requiredAttribute(QStringLiteral("key"));
            QString value = requiredAttribute(QStringLiteral("value"));
            if (nextElementOrEnd())
                unexpected(kEntry);
            node.entries.append({std::move(key), std::move(value)});
        }
    }

    QXmlStreamReader m_xml;
};

void validateNode(const PreferencesXml::Node& node, const QString& path, const Preferences& root) {
    try {
        for (const auto& [key, value] : node.entries) {
            root.validateKey(key);
            root.validateValue(value);
        }
    } catch (const base::IllegalArgumentException& e) {
        throw InvalidPreferencesFormatException(QStringLiteral("The settings export holds an entry of %1 that cannot "
                                                               "be stored: %2.")
                                                    .arg(path, e.message()));
    }
    for (const PreferencesXml::Node& child : node.children) {
        try {
            root.validateName(child.name);
        } catch (const base::IllegalArgumentException& e) {
            throw InvalidPreferencesFormatException(
                QStringLiteral("The settings export holds a node below %1 that cannot be stored: %2.")
                    .arg(path, e.message()));
        }
        validateNode(child, path.endsWith(u'/') ? path + child.name : path + u'/' + child.name, root);
    }
}

void mergeNode(const PreferencesXml::Node& node, Preferences& target) {
    for (const auto& [key, value] : node.entries)
        target.put(key, value);
    for (const PreferencesXml::Node& child : node.children)
        mergeNode(child, target.node(child.name));
}

} // namespace

const PreferencesXml::Node* PreferencesXml::Document::find(const QString& absolutePath) const {
    const Node* node = &root;
    for (const QString& name : absolutePath.split(u'/', Qt::SkipEmptyParts)) {
        const Node* next = nullptr;
        for (const Node& child : node->children) {
            if (child.name == name) {
                next = &child;
                break;
            }
        }
        if (!next)
            return nullptr;
        node = next;
    }
    return node;
}

void PreferencesXml::exportNode(Preferences& node, QIODevice& out) {
    QStringList path;
    for (const Preferences* p = &node; p->parent(); p = p->parent())
        path.prepend(p->name());
    QList<std::pair<QString, QString>> entries;
    for (const QString& key : node.keys()) {
        const QString value = node.get(key, QString());
        if (!isXmlText(key) || !isXmlText(value))
            throw IOException(QStringLiteral("The setting \"%1\" holds a character that an XML file cannot carry")
                                  .arg(isXmlText(key) ? key : QString(key).toHtmlEscaped()));
        entries.append({key, value});
    }

    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument(QStringLiteral("1.0"), false);
    // Readers of this format validate against the DTD that this line names; without it they refuse the file.
    xml.writeDTD(QStringLiteral("<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">"));
    xml.writeStartElement(kPreferences);
    xml.writeAttribute(kVersionAttribute, kVersion);
    xml.writeStartElement(kRoot);
    xml.writeAttribute(QStringLiteral("type"), QStringLiteral("user"));
    for (const QString& name : path) {
        xml.writeEmptyElement(kMap);
        xml.writeStartElement(kNode);
        xml.writeAttribute(QStringLiteral("name"), name);
    }
    if (entries.isEmpty()) {
        xml.writeEmptyElement(kMap);
    } else {
        xml.writeStartElement(kMap);
        for (const auto& [key, value] : entries) {
            xml.writeEmptyElement(kEntry);
            xml.writeAttribute(QStringLiteral("key"), key);
            xml.writeAttribute(QStringLiteral("value"), value);
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    if (xml.hasError())
        throw IOException(QStringLiteral("Cannot write the settings export: ") + out.errorString());
}

PreferencesXml::Document PreferencesXml::read(QIODevice& in) {
    return DocumentReader(in).read();
}

void PreferencesXml::validate(const Document& document, const Preferences& root) {
    validateNode(document.root, QStringLiteral("/"), root);
}

void PreferencesXml::merge(const Document& document, Preferences& root) {
    mergeNode(document.root, root);
}

} // namespace tavlo::prefs
