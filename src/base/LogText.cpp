#include "base/LogText.h"

namespace tavlo::base {

namespace {

bool isControl(char16_t code) {
    return code < 32 || (code >= 127 && code <= 159);
}

} // namespace

QString visibleText(QStringView text) {
    qsizetype first = 0;
    while (first < text.size() && !isControl(text[first].unicode()))
        ++first;
    if (first == text.size())
        return text.toString();
    QString out = text.left(first).toString();
    for (qsizetype i = first; i < text.size(); ++i) {
        const char16_t code = text[i].unicode();
        if (isControl(code))
            out += u'<' + QString::number(code) + u'>';
        else
            out += text[i];
    }
    return out;
}

QString visibleLine(QStringView text) {
    QString line = text.toString();
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(u'\n', u' ');
    return visibleText(line);
}

} // namespace tavlo::base
