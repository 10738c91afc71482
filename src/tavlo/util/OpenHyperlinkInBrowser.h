#pragma once

#include <QString>

namespace tavlo::util {

// The link markup of labels that open an address in the standard browser: building it and taking it apart.
// The window side (making a label clickable, starting the browser) lives with the widgets.
class OpenHyperlinkInBrowser {
public:
    static inline const QString HTML = QStringLiteral("<html>");
    static inline const QString HTML_END = QStringLiteral("</html>");
    static inline const QString A_HREF = QStringLiteral("<a href=\"");
    static inline const QString HREF_CLOSED = QStringLiteral("\">");
    static inline const QString HREF_END = QStringLiteral("</a>");

    // True when the text holds HTML, HTML_END, A_HREF and HREF_CLOSED.
    static bool containsHyperlink(const QString& text);
    // The address between the first A_HREF and the HREF_CLOSED after it; empty when there is none.
    static QString getPlainLink(const QString& text);
    static QString htmlIfy(const QString& text);
    // A link to the address whose visible text is the address itself.
    static QString linkIfy(const QString& address);
};

} // namespace tavlo::util
