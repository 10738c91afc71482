#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tavlo::output {

// Who may use the reading service. Any web page can make the browser connect to this computer's loopback, so a
// request is served only when its Host is a loopback name with the service's port (a page on a rebound DNS name
// sends its own name), and, when it carries an Origin, that origin is listed exactly. Commands need the user's
// token as well.
class ServiceAccess {
public:
    ServiceAccess(int port, QList<QByteArray> origins, QByteArray token);

    // "localhost", "127.0.0.1" or "[::1]" with the port (without it only on port 80, as browsers send it).
    bool hostAllowed(const QByteArray& host) const;
    bool originListed(const QByteArray& origin) const;
    // Compared in constant time, so that the answer's timing tells nothing about the token.
    bool tokenMatches(const QByteArray& given) const;
    int port() const { return m_port; }
    // The port the service listens on, once known (a free port was asked for).
    void setPort(int port);

    // The token of "Authorization: Bearer TOKEN"; none for another scheme.
    static std::optional<QByteArray> bearerToken(const QByteArray& authorization);
    // Equal length and bytes; the time taken depends on the lengths only.
    static bool constantTimeEquals(const QByteArray& a, const QByteArray& b);
    // The entries of the origins setting (space-separated). False, with the reason for the user, when an entry
    // is not an origin as browsers send it ("https://erp.example.com", "http://localhost:8000"), since such an
    // entry would never match.
    static bool parseOrigins(const QString& text, QList<QByteArray>* origins, QString* reason);

private:
    int m_port;
    QList<QByteArray> m_origins;
    QByteArray m_token;
    QList<QByteArray> m_hosts;
};

} // namespace tavlo::output
