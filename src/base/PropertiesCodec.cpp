#include "base/PropertiesCodec.h"

#include <QStringDecoder>

namespace tavlo::base {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\f';
}

// Splits the text into logical lines: continuation lines are joined, comment and blank lines dropped.
QStringList logicalLines(const QString& text) {
    QStringList lines;
    QString current;
    bool continuing = false;
    qsizetype pos = 0;
    const qsizetype n = text.size();
    while (pos <= n) {
        qsizetype end = pos;
        while (end < n && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        QString line = text.mid(pos, end - pos);
        if (end < n && text[end] == u'\r' && end + 1 < n && text[end + 1] == u'\n')
            ++end;
        pos = end + 1;

        qsizetype start = 0;
        while (start < line.size() && isBlank(line[start]))
            ++start;
        if (!continuing) {
            if (start == line.size() || line[start] == u'#' || line[start] == u'!') {
                if (end >= n)
                    break;
                continue;
            }
        }
        line = line.mid(start);
        // An odd number of trailing backslashes continues the line.
        qsizetype slashes = 0;
        while (slashes < line.size() && line[line.size() - 1 - slashes] == u'\\')
            ++slashes;
        if (slashes % 2 == 1) {
            current += line.left(line.size() - 1);
            continuing = true;
        } else {
            current += line;
            lines.append(current);
            current.clear();
            continuing = false;
        }
        if (end >= n)
            break;
    }
    if (continuing)
        lines.append(current);
    return lines;
}

int hexValue(QChar c) {
    if (c >= u'0' && c <= u'9')
        return c.unicode() - '0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - 'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - 'A' + 10;
    return -1;
}

// Resolves the escapes of one key or value. A malformed "\u" escape keeps its characters as they are.
QString unescape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c != u'\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        c = text[++i];
        switch (c.unicode()) {
        case 't':
            out += u'\t';
            break;
        case 'n':
            out += u'\n';
            break;
        case 'r':
            out += u'\r';
            break;
        case 'f':
            out += u'\f';
            break;
        case 'u': {
            int value = 0;
            bool ok = i + 4 < text.size();
            for (int k = 1; ok && k <= 4; ++k) {
                const int h = hexValue(text[i + k]);
                ok = h >= 0;
                value = value * 16 + h;
            }
            if (ok) {
                out += QChar(static_cast<char16_t>(value));
                i += 4;
            } else {
                out += u'u';
            }
            break;
        }
        default:
            out += c;
            break;
        }
    }
    return out;
}

} // namespace

QList<PropertiesCodec::Entry> PropertiesCodec::read(const QByteArray& bytes, Encoding encoding) {
    QString text;
    if (encoding == Encoding::Utf8) {
        QByteArray data = bytes;
        if (data.startsWith("\xEF\xBB\xBF"))
            data.remove(0, 3);
        text = QString::fromUtf8(data);
    } else {
        text = QString::fromLatin1(bytes);
    }

    QList<Entry> entries;
    for (const QString& line : logicalLines(text)) {
        qsizetype keyEnd = 0;
        while (keyEnd < line.size()) {
            const QChar c = line[keyEnd];
            if (c == u'\\') {
                keyEnd += 2;
                continue;
            }
            if (c == u'=' || c == u':' || isBlank(c))
                break;
            ++keyEnd;
        }
        keyEnd = qMin(keyEnd, line.size());
        qsizetype valueStart = keyEnd;
        while (valueStart < line.size() && isBlank(line[valueStart]))
            ++valueStart;
        if (valueStart < line.size() && (line[valueStart] == u'=' || line[valueStart] == u':')) {
            ++valueStart;
            while (valueStart < line.size() && isBlank(line[valueStart]))
                ++valueStart;
        }
        entries.append({unescape(line.left(keyEnd)), unescape(line.mid(valueStart))});
    }
    return entries;
}

QString PropertiesCodec::escape(const QString& text, bool isKey, Encoding encoding) {
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
        case ' ':
            out += (isKey || i == 0) ? QStringLiteral("\\ ") : QStringLiteral(" ");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\f':
            out += QStringLiteral("\\f");
            break;
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '=':
        case ':':
        case '#':
        case '!':
            out += u'\\';
            out += c;
            break;
        default:
            if (c.unicode() < 0x20 || (encoding == Encoding::Latin1 && c.unicode() > 0x7E))
                out += QStringLiteral("\\u") + QString::number(c.unicode(), 16).rightJustified(4, u'0').toUpper();
            else
                out += c;
        }
    }
    return out;
}

QByteArray PropertiesCodec::write(const QList<Entry>& entries, Encoding encoding, const QString& comment) {
    QString text;
    if (!comment.isEmpty())
        text += u'#' + escape(comment, false, encoding) + u'\n';
    for (const Entry& e : entries)
        text += escape(e.key, true, encoding) + u'=' + escape(e.value, false, encoding) + u'\n';
    return encoding == Encoding::Utf8 ? text.toUtf8() : text.toLatin1();
}

} // namespace tavlo::base
