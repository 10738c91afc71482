#include "output/MqttSettings.h"

#include "base/Exceptions.h"
#include "config/Config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>

namespace tavlo::output {

namespace {

// Letters, digits and "-._" pass into a folder name; anything else becomes "_".
QString safeName(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
                        u == '.' || u == '_';
        out += ok ? c : QChar(u'_');
    }
    return out;
}

} // namespace

QString MqttBroker::uri() const {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return scheme + QStringLiteral("://") + shownHost + u':' + QString::number(port);
}

QString MqttBroker::folderName() const {
    return safeName(scheme + u'-' + host + u'-' + QString::number(port));
}

std::optional<MqttBroker> MqttBroker::parse(const QString& url, QString* error) {
    const auto fail = [&](const QString& reason) -> std::optional<MqttBroker> {
        if (error)
            *error = QStringLiteral("The MQTT broker \"%1\" cannot be used: %2.").arg(url, reason);
        return std::nullopt;
    };
    const QString text = url.trimmed();
    const qsizetype schemeEnd = text.indexOf(QStringLiteral("://"));
    if (schemeEnd <= 0)
        return fail(QStringLiteral("write it as tcp://HOST:PORT or ssl://HOST:PORT"));
    MqttBroker broker;
    broker.scheme = text.left(schemeEnd).toLower();
    if (broker.scheme != QLatin1String("tcp") && broker.scheme != QLatin1String("ssl"))
        return fail(QStringLiteral("only tcp:// and ssl:// are understood"));
    QString rest = text.mid(schemeEnd + 3);
    if (rest.endsWith(u'/'))
        rest.chop(1);
    if (rest.contains(u'/') || rest.contains(u'@') || rest.contains(u'?') || rest.contains(u'#'))
        return fail(QStringLiteral("give only the host and the port, without a path, a user or a query"));

    QString portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return fail(QStringLiteral("the IPv6 address has no closing bracket"));
        broker.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':'))
            return fail(QStringLiteral("a port follows the address after a colon"));
        portText = after.mid(1);
        if (QHostAddress(broker.host).protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("\"%1\" is not an IPv6 address").arg(broker.host));
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon >= 0 && rest.indexOf(u':') != colon)
            return fail(QStringLiteral("write an IPv6 address in brackets, as [::1]"));
        broker.host = colon >= 0 ? rest.left(colon) : rest;
        portText = colon >= 0 ? rest.mid(colon + 1) : QString();
        if (colon >= 0 && portText.isEmpty())
            return fail(QStringLiteral("the port is missing after the colon"));
    }
    broker.host = broker.host.toLower();
    if (broker.host.isEmpty())
        return fail(QStringLiteral("the host is missing"));
    for (const QChar c : broker.host) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '.' || u == ':' ||
                        u == '_' || u == '%';
        if (!ok)
            return fail(QStringLiteral("\"%1\" is not a host name").arg(broker.host));
    }
    if (portText.isEmpty()) {
        broker.port = broker.isTls() ? 8883 : 1883;
    } else {
        bool ok = false;
        broker.port = portText.toInt(&ok);
        if (!ok || broker.port < 1 || broker.port > 65535 || portText.startsWith(u'+'))
            return fail(QStringLiteral("the port must be a number from 1 to 65535"));
    }
    return broker;
}

QString MqttSettings::expandTopic(const QString& pattern, const QString& station, QString* error) {
    QString topic = pattern;
    topic.replace(QStringLiteral("{station}"), station);
    QString reason;
    if (topic.isEmpty())
        reason = QStringLiteral("it is empty");
    else if (topic.contains(u'+') || topic.contains(u'#'))
        reason = QStringLiteral("readings cannot be published to a topic with the wildcards + or #");
    else if (topic.contains(QChar(0)))
        reason = QStringLiteral("it holds a null character");
    else if (topic.toUtf8().size() > 65535)
        reason = QStringLiteral("it is longer than 65,535 bytes");
    if (reason.isEmpty())
        return topic;
    if (error)
        *error = QStringLiteral("The MQTT topic \"%1\" cannot be used: %2.").arg(topic, reason);
    return {};
}

QString MqttSettings::dataFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Corvane/Tavlo/mqtt"));
}

QByteArray MqttSettings::readPassword(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw base::TavloException(QStringLiteral("The MQTT password file %1 cannot be read: %2.")
                                       .arg(QDir::toNativeSeparators(path), file.errorString()));
    // A password file holds one line; what follows a line end is not part of the password.
    QByteArray password = file.read(65536);
    const qsizetype end = password.indexOf('\n');
    if (end >= 0)
        password.truncate(end);
    if (password.endsWith('\r'))
        password.chop(1);
    if (password.isEmpty())
        throw base::TavloException(
            QStringLiteral("The MQTT password file %1 is empty.").arg(QDir::toNativeSeparators(path)));
    return password;
}

MqttSettings MqttSettings::fromConfig(const config::Config& config, const QString& station) {
    MqttSettings s;
    QString error;
    const auto broker = MqttBroker::parse(config.mqttBroker, &error);
    if (!broker)
        throw base::TavloException(error);
    s.broker = *broker;
    s.station = station;
    // The station's name is one level of every topic: a slash or a wildcard would change what it means.
    if (station.contains(u'/') || station.contains(u'+') || station.contains(u'#'))
        throw base::TavloException(
            QStringLiteral("The station's name \"%1\" cannot be part of an MQTT topic: it must not hold / + or #. "
                           "Choose another name on the Services tab.")
                .arg(station));
    s.clientId = QStringLiteral("tavlo-") + station;
    const QString pattern =
        config.mqttTopic.trimmed().isEmpty() ? QString::fromLatin1(kDefaultTopic) : config.mqttTopic.trimmed();
    s.topic = expandTopic(pattern, station, &error);
    if (s.topic.isEmpty())
        throw base::TavloException(error);
    s.statusTopic = QStringLiteral("tavlo/%1/status").arg(station);
    s.commandTopic = QStringLiteral("tavlo/%1/command").arg(station);
    if (config.mqttQos < 0 || config.mqttQos > 2)
        throw base::TavloException(
            QStringLiteral("The MQTT quality of service must be 0, 1 or 2, not %1.").arg(config.mqttQos));
    s.qos = config.mqttQos;
    s.user = config.mqttUser.trimmed();
    if (!config.mqttPasswordFile.trimmed().isEmpty()) {
        if (s.user.isEmpty())
            throw base::TavloException(
                QStringLiteral("An MQTT password file is set without a user: the broker takes a password only "
                               "with a user name."));
        s.password = readPassword(config.mqttPasswordFile.trimmed());
    }
    s.caFile = config.mqttCaFile.trimmed();
    if (!s.caFile.isEmpty() && !s.broker.isTls())
        throw base::TavloException(QStringLiteral("The MQTT CA file is used only with an ssl:// broker; the broker "
                                                  "%1 is not one.")
                                       .arg(s.broker.uri()));
    if (!s.caFile.isEmpty() && !QFileInfo(s.caFile).isReadable())
        throw base::TavloException(
            QStringLiteral("The MQTT CA file %1 cannot be read.").arg(QDir::toNativeSeparators(s.caFile)));
    s.commands = config.mqttCommands;
    s.backlog = config.mqttBacklog > 0 ? config.mqttBacklog : 100000;
    s.folder = QDir(dataFolder()).filePath(s.broker.folderName() + u'-' + safeName(s.clientId));
    return s;
}

} // namespace tavlo::output
