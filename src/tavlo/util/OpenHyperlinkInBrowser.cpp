#include "tavlo/util/OpenHyperlinkInBrowser.h"

namespace tavlo::util {

bool OpenHyperlinkInBrowser::containsHyperlink(const QString& text) {
    return text.contains(HTML) && text.contains(HTML_END) && text.contains(A_HREF) && text.contains(HREF_CLOSED);
}

QString OpenHyperlinkInBrowser::getPlainLink(const QString& text) {
    if (!containsHyperlink(text))
        return QString();
    const qsizetype start = text.indexOf(A_HREF) + A_HREF.size();
    // The closing quote must follow the opening one; a HREF_CLOSED earlier in the text does not count.
    const qsizetype end = text.indexOf(HREF_CLOSED, start);
    if (end < 0)
        return QString();
    return text.mid(start, end - start);
}

QString OpenHyperlinkInBrowser::htmlIfy(const QString& text) {
    return HTML + text + HTML_END;
}

QString OpenHyperlinkInBrowser::linkIfy(const QString& address) {
    return A_HREF + address + HREF_CLOSED + address + HREF_END;
}

} // namespace tavlo::util
