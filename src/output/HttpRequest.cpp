#include "output/HttpRequest.h"

namespace tavlo::output {

namespace {

bool isTokenChar(char c) {
    // RFC 9110 tchar.
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool isToken(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (!isTokenChar(c))
            return false;
    return true;
}

// Visible ASCII only: a target with blanks, controls or bytes above 127 is not one a browser sends.
bool isTarget(const QByteArray& text) {
    if (!text.startsWith('/'))
        return false;
    for (char c : text)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            return false;
    return true;
}

bool hasControl(const QByteArray& value) {
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return true;
    }
    return false;
}

// Headers that decide access or framing: a second copy would leave it open which one counts.
bool mustBeSingle(const QByteArray& name) {
    static const char* const names[] = {"host",           "origin",  "authorization",
                                        "content-length", "upgrade", "sec-websocket-key"};
    for (const char* n : names)
        if (name == n)
            return true;
    return false;
}

bool listContains(const QByteArray& list, const char* word) {
    for (const QByteArray& item : list.split(','))
        if (item.trimmed().toLower() == word)
            return true;
    return false;
}

} // namespace

HttpRequest::Parse HttpRequest::parse(const QByteArray& data, HttpRequest* out, QString* reason) {
    const auto invalid = [reason](const char* why) {
        if (reason)
            *reason = QString::fromLatin1(why);
        return Parse::Invalid;
    };
    // Blank lines before a request (left after a body by some clients) are skipped.
    qsizetype start = 0;
    while (data.mid(start, 2) == "\r\n")
        start += 2;
    const qsizetype end = data.indexOf("\r\n\r\n", start);
    if (end < 0) {
        if (data.size() - start >= kMaxHeadBytes) {
            if (reason)
                *reason = QStringLiteral("the request head is longer than %1 bytes").arg(kMaxHeadBytes);
            return Parse::TooLarge;
        }
        return Parse::Incomplete;
    }
    if (end + 4 - start > kMaxHeadBytes) {
        if (reason)
            *reason = QStringLiteral("the request head is longer than %1 bytes").arg(kMaxHeadBytes);
        return Parse::TooLarge;
    }
    const QList<QByteArray> lines = data.mid(start, end - start).split('\n');
    HttpRequest r;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (i + 1 < lines.size()) {
            if (!line.endsWith('\r'))
                return invalid("a line of the head does not end with CR LF");
            line.chop(1);
        }
        if (line.contains('\r'))
            return invalid("a bare CR in the head");
        if (i == 0) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3)
                return invalid("the request line is not METHOD TARGET VERSION");
            r.method = parts[0];
            r.target = parts[1];
            r.version = parts[2];
            if (!isToken(r.method))
                return invalid("the method is not a word");
            if (!isTarget(r.target))
                return invalid("the target is not a path on this server");
            if (r.version != "HTTP/1.1" && r.version != "HTTP/1.0")
                return invalid("only HTTP/1.1 and HTTP/1.0 are spoken here");
            const qsizetype q = r.target.indexOf('?');
            r.path = q < 0 ? r.target : r.target.left(q);
            r.query = q < 0 ? QByteArray() : r.target.mid(q + 1);
            continue;
        }
        if (line.startsWith(' ') || line.startsWith('\t'))
            return invalid("a folded header line");
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return invalid("a header line without a name and a colon");
        const QByteArray name = line.left(colon).toLower();
        if (!isToken(name))
            return invalid("a header name with characters that names cannot have");
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (hasControl(value))
            return invalid("a header value with control characters");
        if (mustBeSingle(name) && r.header(name.constData()))
            return invalid("a header that may appear once appears twice");
        if (r.headers.size() >= kMaxHeaders)
            return invalid("too many headers");
        r.headers.append({name, value});
    }
    if (r.header("transfer-encoding"))
        return invalid("bodies must come with Content-Length, not Transfer-Encoding");
    if (r.version == "HTTP/1.1" && !r.header("host"))
        return invalid("no Host header");
    if (r.header("content-length") && !r.contentLength())
        return invalid("Content-Length is not a number");
    r.headSize = end + 4;
    if (out)
        *out = std::move(r);
    return Parse::Complete;
}

std::optional<QByteArray> HttpRequest::header(const char* name) const {
    for (const auto& [key, value] : headers)
        if (key == name)
            return value;
    return std::nullopt;
}

std::optional<QByteArray> HttpRequest::queryValue(const char* name) const {
    if (query.isEmpty())
        return std::nullopt;
    for (const QByteArray& item : query.split('&')) {
        const qsizetype eq = item.indexOf('=');
        const QByteArray key = QByteArray::fromPercentEncoding(eq < 0 ? item : item.left(eq));
        if (key == name)
            return QByteArray::fromPercentEncoding(eq < 0 ? QByteArray() : item.mid(eq + 1));
    }
    return std::nullopt;
}

bool HttpRequest::wantsWebSocket() const {
    const auto upgrade = header("upgrade");
    const auto connection = header("connection");
    return upgrade && connection && listContains(*upgrade, "websocket") && listContains(*connection, "upgrade");
}

bool HttpRequest::keepAlive() const {
    const QByteArray connection = header("connection").value_or(QByteArray());
    if (listContains(connection, "close"))
        return false;
    return version == "HTTP/1.1" || listContains(connection, "keep-alive");
}

std::optional<qint64> HttpRequest::contentLength() const {
    const auto value = header("content-length");
    if (!value)
        return 0;
    if (value->isEmpty() || value->size() > 15)
        return std::nullopt;
    for (char c : *value)
        if (c < '0' || c > '9')
            return std::nullopt;
    return value->toLongLong();
}

} // namespace tavlo::output
