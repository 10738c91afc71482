#include "tavlo/util/ReadRemoteUpdate.h"

#include "base/Exceptions.h"
#include "worker/Interruption.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <optional>

namespace tavlo::util {

namespace {

bool isDigits(QStringView text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

// Compares two digit strings by value, without limits on their length.
int compareDigits(QStringView a, QStringView b) {
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

struct Decimal {
    QStringView integer;
    QStringView fraction;
};

std::optional<Decimal> parseDecimal(QStringView text) {
    const qsizetype dot = text.indexOf(u'.');
    const QStringView integer = dot < 0 ? text : text.left(dot);
    const QStringView fraction = dot < 0 ? QStringView() : text.mid(dot + 1);
    if (!isDigits(integer) || (dot >= 0 && !isDigits(fraction)))
        return std::nullopt;
    return Decimal{integer, fraction};
}

int compareDecimals(const Decimal& a, const Decimal& b) {
    if (const int c = compareDigits(a.integer, b.integer))
        return c;
    const qsizetype n = qMax(a.fraction.size(), b.fraction.size());
    for (qsizetype i = 0; i < n; ++i) {
        const QChar x = i < a.fraction.size() ? a.fraction[i] : u'0';
        const QChar y = i < b.fraction.size() ? b.fraction[i] : u'0';
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace

ReadRemoteUpdate::ReadRemoteUpdate(const QString& url, const QString& currentVersion, const QString& language,
                                   const QString& edition)
    : ReadRemoteUpdate(url, currentVersion, language, edition, Timeouts{}) {}

ReadRemoteUpdate::ReadRemoteUpdate(const QString& url, const QString& currentVersion, const QString& language,
                                   const QString& edition, Timeouts timeouts)
    : m_urlString(url), m_currentVersion(currentVersion) {
    if (edition.isEmpty()) {
        m_versionTag = QStringLiteral("version2");
        m_dateTag = QStringLiteral("date");
    } else {
        m_versionTag = QStringLiteral("version2_") + edition.toLower();
        m_dateTag = QStringLiteral("date_") + edition.toLower();
    }
    fetch(timeouts);
    m_remoteVersion = findXML(m_versionTag, language.toLower());
}

void ReadRemoteUpdate::fetch(Timeouts timeouts) {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(m_urlString)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(network.get(request));

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool connected = false;
    bool timedOut = false;
    bool tooLarge = false;

    // The connect time-out runs until the request has gone out; from then on, the read time-out restarts
    // whenever data arrives.
    auto reading = [&] {
        connected = true;
        timer.start(timeouts.readMs);
    };
    QObject::connect(reply.get(), &QNetworkReply::requestSent, &loop, reading);
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, reading);
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64) {
        reading();
        if (received > MAX_DOCUMENT_BYTES) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    worker::Interruption::Hook hook(
        [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });

    timer.start(timeouts.connectMs);
    if (!reply->isFinished() && !worker::Interruption::currentIsInterrupted())
        loop.exec();
    if (!reply->isFinished()) {
        reply->abort();
        throw base::TavloException(QStringLiteral("Interrupted"));
    }
    if (timedOut)
        throw base::TavloException(connected ? QStringLiteral("Timeout") : QStringLiteral("Connect timed out"));
    if (tooLarge)
        throw base::TavloException(QStringLiteral("The version document is too large"));
    if (reply->error() != QNetworkReply::NoError)
        throw base::TavloException(reply->errorString());
    m_content = QString::fromUtf8(reply->readAll());
}

QString ReadRemoteUpdate::findXML(const QString& tag, const QString& language) const {
    const QString suffix = language.isEmpty() ? QString() : u'_' + language;
    const QString start = u'<' + tag + suffix + u'>';
    const QString end = QStringLiteral("</") + tag + suffix + u'>';
    const qsizetype startAt = m_content.indexOf(start);
    const qsizetype endAt = m_content.indexOf(end);
    if (startAt < 0 || endAt < 0 || endAt < startAt + start.size())
        return QString();
    return m_content.mid(startAt + start.size(), endAt - startAt - start.size());
}

bool ReadRemoteUpdate::compareVersions(const QString& currentText, const QString& remoteText) {
    // Blanks around a version (a document written by hand with line breaks) do not make it unreadable.
    const QString current = currentText.trimmed();
    const QString remote = remoteText.trimmed();
    if (current.isEmpty() || remote.isEmpty() || current == remote)
        return false;

    if (remote.count(u'.') == 1) {
        const std::optional<Decimal> r = parseDecimal(remote);
        // The current version as a decimal: its first two numbers (2018.1.0.1 reads as 2018.1).
        const qsizetype second = current.indexOf(u'.', current.indexOf(u'.') + 1);
        const std::optional<Decimal> c =
            parseDecimal(second < 0 ? QStringView(current) : QStringView(current).left(second));
        return r && c && compareDecimals(*r, *c) > 0;
    }

    const QStringList c = current.split(u'.');
    const QStringList r = remote.split(u'.');
    if (c.size() != 4 || r.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (!isDigits(c[i]) || !isDigits(r[i]))
            return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (const int cmp = compareDigits(r[i], c[i]))
            return cmp > 0;
    }
    return false;
}

} // namespace tavlo::util
