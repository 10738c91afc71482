#include "output/ServiceAccess.h"

#include <QRegularExpression>

namespace tavlo::output {

ServiceAccess::ServiceAccess(int port, QList<QByteArray> origins, QByteArray token)
    : m_port(port), m_origins(std::move(origins)), m_token(std::move(token)) {
    setPort(port);
}

void ServiceAccess::setPort(int port) {
    m_port = port;
    m_hosts.clear();
    const QByteArray suffix = ':' + QByteArray::number(port);
    for (const char* name : {"localhost", "127.0.0.1", "[::1]"}) {
        m_hosts.append(name + suffix);
        if (port == 80)
            m_hosts.append(name);
    }
}

bool ServiceAccess::hostAllowed(const QByteArray& host) const {
    // Host names are case-insensitive; the addresses have no letters that could differ.
    return m_hosts.contains(host.toLower());
}

bool ServiceAccess::originListed(const QByteArray& origin) const {
    return m_origins.contains(origin);
}

bool ServiceAccess::tokenMatches(const QByteArray& given) const {
    return !m_token.isEmpty() && constantTimeEquals(given, m_token);
}

std::optional<QByteArray> ServiceAccess::bearerToken(const QByteArray& authorization) {
    const QByteArray value = authorization.trimmed();
    const qsizetype blank = value.indexOf(' ');
    if (blank < 0 || value.left(blank).toLower() != "bearer")
        return std::nullopt;
    return value.mid(blank + 1).trimmed();
}

bool ServiceAccess::constantTimeEquals(const QByteArray& a, const QByteArray& b) {
    // Every byte of the longer text is looked at, whatever the first difference.
    const qsizetype n = std::max(a.size(), b.size());
    unsigned difference = a.size() == b.size() ? 0u : 1u;
    for (qsizetype i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}

bool ServiceAccess::parseOrigins(const QString& text, QList<QByteArray>* origins, QString* reason) {
    static const QRegularExpression form(
        QStringLiteral("^([a-z][a-z0-9+.-]*)://([a-z0-9._~-]+|\\[[0-9a-f:.]+\\])(?::([0-9]{1,5}))?$"));
    QList<QByteArray> out;
    const auto fail = [reason](const QString& entry, const QString& why) {
        if (reason)
            *reason = QStringLiteral("readingServiceOrigins: \"%1\" is not an origin as browsers send it: %2")
                          .arg(entry, why);
        return false;
    };
    for (const QString& entry : text.split(u' ', Qt::SkipEmptyParts)) {
        if (entry == QLatin1String("null"))
            return fail(entry, QStringLiteral("every local file and sandboxed page sends it, so it would let any "
                                              "of them in; serve the page from a web server instead"));
        if (entry != entry.toLower())
            return fail(entry, QStringLiteral("write it in lower case"));
        if (entry.endsWith(u'/'))
            return fail(entry, QStringLiteral("leave out the final slash"));
        const QRegularExpressionMatch m = form.match(entry);
        if (!m.hasMatch())
            return fail(entry, QStringLiteral("write it as scheme://host or scheme://host:port, without a path"));
        const QString scheme = m.captured(1);
        const QString port = m.captured(3);
        if (!port.isEmpty()) {
            const int number = port.toInt();
            if (number < 1 || number > 65535 || port.startsWith(u'0'))
                return fail(entry, QStringLiteral("the port is not a port number"));
            if ((scheme == QLatin1String("https") && number == 443) ||
                (scheme == QLatin1String("http") && number == 80))
                return fail(entry, QStringLiteral("browsers leave out the scheme's own port :%1").arg(port));
        }
        out.append(entry.toLatin1());
    }
    if (origins)
        *origins = std::move(out);
    return true;
}

} // namespace tavlo::output
