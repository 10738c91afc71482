#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tavlo::config {
class Config;
}

namespace tavlo::output {

// A broker's address as the settings give it ("tcp://HOST:PORT" or "ssl://HOST:PORT"), reduced to what
// identifies the broker: the scheme, the host in lower case (an IPv6 address without its brackets) and the port
// (1883 or 8883 when none is given). Two spellings of one broker give the same address.
struct MqttBroker {
    QString scheme;
    QString host;
    int port = 0;

    // The address for the client library: "tcp://host:1883", "ssl://[::1]:8883".
    QString uri() const;
    // A folder name made of the address alone: "tcp-broker.lab-1883".
    QString folderName() const;
    bool isTls() const { return scheme == QLatin1String("ssl"); }
    bool operator==(const MqttBroker&) const = default;

    // The address of a setting, or none with the reason for the user in *error.
    static std::optional<MqttBroker> parse(const QString& url, QString* error);
};

// Everything the MQTT output of a run needs, checked: made at Start from the settings and the station's name.
struct MqttSettings {
    static constexpr const char* kDefaultTopic = "tavlo/{station}/readings";

    MqttBroker broker;
    QString station;
    QString clientId;     // "tavlo-<station>": the broker keeps this station's session under it
    QString topic;        // the readings topic, {station} replaced
    QString statusTopic;  // "tavlo/<station>/status", retained: online / offline
    QString commandTopic; // "tavlo/<station>/command"
    int qos = 1;
    QString user;
    QByteArray password; // read from the password file at Start; never stored, exported or logged
    QString caFile;
    bool commands = false;
    int backlog = 100000;
    QString folder; // where the readings wait for the broker: <data folder>/mqtt/<broker>-<client id>

    // The settings of a run. Throws base::TavloException with the reason when they cannot be used: a broker
    // address that is not tcp:// or ssl://, a topic with wildcards, a station name that cannot be part of a
    // topic, a password file that cannot be read, a CA file that is missing.
    static MqttSettings fromConfig(const config::Config& config, const QString& station);

    // The topic with {station} replaced; empty (with the reason in *error) when it cannot be published to.
    static QString expandTopic(const QString& pattern, const QString& station, QString* error);
    // The folder below which every broker's backlog is kept: "<user's data folder>/Corvane/Tavlo/mqtt".
    static QString dataFolder();
    // The password: the file's first line without its line end. Throws base::TavloException with the reason.
    static QByteArray readPassword(const QString& path);
};

} // namespace tavlo::output
