#pragma once

#include <QList>
#include <QString>
#include <utility>
#include <vector>

class QIODevice;

namespace tavlo::prefs {

class Preferences;

// The preferences export document: preferences > root type="user" > nested node name="..." > map >
// entry key="..." value="...". Written with the XML declaration and EXTERNAL_XML_VERSION="1.0"; read with or
// without them, with or without a DOCTYPE line, with empty or missing maps at any level.
class PreferencesXml {
public:
    struct Node {
        QString name;
        QList<std::pair<QString, QString>> entries;
        std::vector<Node> children;
    };
    struct Document {
        bool systemRoot = false;
        Node root;
        // The node at an absolute path ("/com/corvane/Tavlo"), or nullptr when the document has none.
        const Node* find(const QString& absolutePath) const;
    };

    // The node and the path to it; IOException when the device refuses the text or a value holds a character
    // that XML cannot carry.
    static void exportNode(Preferences& node, QIODevice& out);

    // InvalidPreferencesFormatException for a document that is not well-formed or not laid out as above.
    static Document read(QIODevice& in);
    // InvalidPreferencesFormatException for a name, key or value that the tree of root does not accept.
    static void validate(const Document& document, const Preferences& root);
    // Creates the document's nodes below root and puts every entry.
    static void merge(const Document& document, Preferences& root);
};

} // namespace tavlo::prefs
