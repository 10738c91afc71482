#include "worker/DataLine.h"

namespace tavlo::worker {

QDateTime DataLine::getDateTime() const {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(m_instant.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
}

qsizetype DataLine::notationOffset(QStringView text, qsizetype rawOffset) {
    qsizetype at = 0;
    for (qsizetype i = 0; i < rawOffset && i < text.size(); ++i) {
        const char16_t code = text[i].unicode();
        at += (code >= 32 && code <= 126) ? 1 : QString::number(code).size() + 2;
    }
    return at;
}

QString DataLine::transformControlChars(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code >= 32 && code <= 126) {
            out += c;
        } else {
            out += u'<';
            out += QString::number(code);
            out += u'>';
        }
    }
    return out;
}

} // namespace tavlo::worker
