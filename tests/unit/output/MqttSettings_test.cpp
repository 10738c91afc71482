#include "output/MqttOutput.h"
#include "output/MqttSettings.h"

#include "base/Exceptions.h"
#include "config/Config.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using tavlo::output::MqttBroker;
using tavlo::output::MqttOutput;
using tavlo::output::MqttSettings;

TEST(MqttBroker, SpellingsOfOneBrokerAreOneBrokerWithOneFolder) {
    const char* spellings[] = {"tcp://broker.lab:1883", "tcp://Broker.LAB:1883", "TCP://broker.lab",
                               "tcp://broker.lab/", " tcp://broker.lab:1883 "};
    const auto first = MqttBroker::parse(QString::fromLatin1(spellings[0]), nullptr);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->uri(), "tcp://broker.lab:1883");
    EXPECT_EQ(first->folderName(), "tcp-broker.lab-1883");
    for (const char* spelling : spellings) {
        QString error;
        const auto broker = MqttBroker::parse(QString::fromLatin1(spelling), &error);
        ASSERT_TRUE(broker) << spelling << ": " << error.toStdString();
        EXPECT_EQ(*broker, *first) << spelling;
        EXPECT_EQ(broker->folderName(), first->folderName()) << spelling;
    }
    // Another port or TLS is another broker.
    EXPECT_NE(MqttBroker::parse("tcp://broker.lab:1884", nullptr)->folderName(), first->folderName());
    const auto tls = MqttBroker::parse("ssl://broker.lab", nullptr);
    ASSERT_TRUE(tls);
    EXPECT_TRUE(tls->isTls());
    EXPECT_EQ(tls->uri(), "ssl://broker.lab:8883");
    EXPECT_NE(tls->folderName(), first->folderName());
}

TEST(MqttBroker, AnIpv6AddressIsWrittenInBracketsForTheClientAndPlainInTheFolder) {
    const auto broker = MqttBroker::parse("tcp://[::1]:1884", nullptr);
    ASSERT_TRUE(broker);
    EXPECT_EQ(broker->host, "::1");
    EXPECT_EQ(broker->uri(), "tcp://[::1]:1884");
    EXPECT_FALSE(broker->folderName().contains(u':'));
    EXPECT_FALSE(broker->folderName().contains(u'/'));
}

TEST(MqttBroker, AddressesThatCannotWorkAreRefusedWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"broker.lab:1883", "tcp://HOST:PORT"},
        {"mqtt://broker.lab", "only tcp:// and ssl://"},
        {"tcp://", "host is missing"},
        {"tcp://broker.lab:0", "1 to 65535"},
        {"tcp://broker.lab:65536", "1 to 65535"},
        {"tcp://broker.lab:x", "1 to 65535"},
        {"tcp://broker.lab:", "port is missing"},
        {"tcp://user:pw@broker.lab", "without a path, a user"},
        {"tcp://broker.lab/tavlo", "without a path"},
        {"tcp://::1:1883", "brackets"},
        {"tcp://[::1", "closing bracket"},
        {"tcp://[broker]:1883", "not an IPv6 address"},
        {"tcp://bro ker:1883", "not a host name"},
    };
    for (const auto& [url, reason] : cases) {
        QString error;
        EXPECT_FALSE(MqttBroker::parse(QString::fromLatin1(url), &error)) << url;
        EXPECT_TRUE(error.contains(QString::fromLatin1(url).trimmed())) << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromLatin1(reason))) << url << ": " << error.toStdString();
    }
}

TEST(MqttTopic, TheStationFillsThePatternAndWildcardsAreRefused) {
    QString error;
    EXPECT_EQ(MqttSettings::expandTopic("tavlo/{station}/readings", "bench-4", &error), "tavlo/bench-4/readings");
    EXPECT_EQ(MqttSettings::expandTopic("lab/{station}/{station}", "b", &error), "lab/b/b");
    EXPECT_EQ(MqttSettings::expandTopic("fixed", "b", &error), "fixed");
    for (const char* bad : {"tavlo/+/readings", "tavlo/#", ""}) {
        error.clear();
        EXPECT_TRUE(MqttSettings::expandTopic(QString::fromLatin1(bad), "b", &error).isEmpty()) << bad;
        EXPECT_FALSE(error.isEmpty()) << bad;
    }
}

class MqttSettingsFromConfig : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_config.mqttBroker = "tcp://Broker.Lab";
    }
    QString write(const char* name, const QByteArray& content) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }
    // The reason the settings are refused; empty when they are taken.
    QString refusal(const QString& station = "bench4") {
        try {
            MqttSettings::fromConfig(m_config, station);
            return {};
        } catch (const tavlo::base::TavloException& e) {
            return e.message();
        }
    }

    QTemporaryDir m_dir;
    tavlo::config::Config m_config;
};

TEST_F(MqttSettingsFromConfig, DefaultsNameTheStationsTopicsAndAFolderOfBrokerAndStation) {
    const MqttSettings s = MqttSettings::fromConfig(m_config, "bench4");
    EXPECT_EQ(s.broker.uri(), "tcp://broker.lab:1883");
    EXPECT_EQ(s.topic, "tavlo/bench4/readings");
    EXPECT_EQ(s.statusTopic, "tavlo/bench4/status");
    EXPECT_EQ(s.commandTopic, "tavlo/bench4/command");
    EXPECT_EQ(s.clientId, "tavlo-bench4");
    EXPECT_EQ(s.qos, 1);
    EXPECT_EQ(s.backlog, 100000);
    EXPECT_FALSE(s.commands);
    EXPECT_TRUE(s.password.isEmpty());
    EXPECT_EQ(QDir(s.folder).dirName(), "tcp-broker.lab-1883-tavlo-bench4");
    EXPECT_TRUE(s.folder.startsWith(MqttSettings::dataFolder()));

    // The same broker spelt otherwise keeps its readings in the same folder; another station has its own.
    m_config.mqttBroker = "tcp://broker.lab:1883/";
    EXPECT_EQ(MqttSettings::fromConfig(m_config, "bench4").folder, s.folder);
    EXPECT_NE(MqttSettings::fromConfig(m_config, "bench5").folder, s.folder);
}

TEST_F(MqttSettingsFromConfig, ThePasswordIsTheFilesFirstLineAndAMissingFileIsNamed) {
    m_config.mqttUser = "bench4";
    m_config.mqttPasswordFile = write("pw", "s3cret pass\r\nsecond line\n");
    EXPECT_EQ(MqttSettings::fromConfig(m_config, "bench4").password, "s3cret pass");
    m_config.mqttPasswordFile = write("pw2", "no line end");
    EXPECT_EQ(MqttSettings::fromConfig(m_config, "bench4").password, "no line end");

    m_config.mqttPasswordFile = m_dir.filePath("missing");
    EXPECT_TRUE(refusal().contains(m_dir.filePath("missing"))) << refusal().toStdString();
    m_config.mqttPasswordFile = write("empty", "\n");
    EXPECT_TRUE(refusal().contains("empty")) << refusal().toStdString();
    // A password goes to the broker only with a user.
    m_config.mqttPasswordFile = write("pw3", "x\n");
    m_config.mqttUser.clear();
    EXPECT_TRUE(refusal().contains("without a user")) << refusal().toStdString();
}

TEST_F(MqttSettingsFromConfig, SettingsThatCannotWorkAreRefusedAtStart) {
    EXPECT_TRUE(refusal("lab/4").contains("must not hold")) << "a slash in the station splits its topics";
    EXPECT_TRUE(refusal("a+b").contains("must not hold"));
    m_config.mqttTopic = "tavlo/#";
    EXPECT_TRUE(refusal().contains("wildcards"));
    m_config.mqttTopic.clear();
    m_config.mqttQos = 3;
    EXPECT_TRUE(refusal().contains("0, 1 or 2"));
    m_config.mqttQos = 2;
    m_config.mqttCaFile = write("ca.pem", "x");
    EXPECT_TRUE(refusal().contains("only with an ssl://")) << refusal().toStdString();
    m_config.mqttBroker = "ssl://broker.lab";
    EXPECT_TRUE(refusal().isEmpty()) << refusal().toStdString();
    m_config.mqttCaFile = m_dir.filePath("none.pem");
    EXPECT_TRUE(refusal().contains("none.pem"));
    m_config.mqttBroker = "http://broker.lab";
    EXPECT_TRUE(refusal().contains("only tcp:// and ssl://"));
}

// A PUBLISH packet as the client keeps it in flight: fixed header, remaining length, topic, message id, payload.
QByteArray packet(int qos, bool retained, const QByteArray& topic, const QByteArray& payload) {
    QByteArray body;
    body += char(topic.size() >> 8);
    body += char(topic.size() & 0xff);
    body += topic;
    if (qos > 0)
        body += QByteArray("\x01\x2a", 2);
    body += payload;
    QByteArray out;
    out += char(0x30 | (qos << 1) | (retained ? 1 : 0));
    qsizetype n = body.size();
    do {
        char b = char(n & 0x7f);
        n >>= 7;
        if (n > 0)
            b = char(b | 0x80);
        out += b;
    } while (n > 0);
    return out + body;
}

TEST(MqttPacket, APublishInFlightGivesBackItsTopicPayloadAndQos) {
    const QByteArray payload = QByteArray(300, 'r') + "{\"seq\":7}"; // a remaining length of two bytes
    MqttOutput::Packet p;
    ASSERT_TRUE(MqttOutput::parsePublishPacket(packet(1, false, "tavlo/b/readings", payload), &p));
    EXPECT_EQ(p.topic, "tavlo/b/readings");
    EXPECT_EQ(p.payload, payload);
    EXPECT_EQ(p.qos, 1);
    EXPECT_FALSE(p.retained);
    ASSERT_TRUE(MqttOutput::parsePublishPacket(packet(2, true, "t", "x"), &p));
    EXPECT_EQ(p.qos, 2);
    EXPECT_TRUE(p.retained);
    EXPECT_EQ(p.payload, "x");
    ASSERT_TRUE(MqttOutput::parsePublishPacket(packet(0, false, "t", ""), &p));
    EXPECT_EQ(p.qos, 0);
    EXPECT_TRUE(p.payload.isEmpty());
}

TEST(MqttPacket, BytesThatAreNoWholePublishAreNotSentAgain) {
    MqttOutput::Packet p;
    const QByteArray good = packet(1, false, "tavlo/b/readings", "{}");
    EXPECT_FALSE(MqttOutput::parsePublishPacket(good.left(good.size() - 1), &p)) << "cut short";
    EXPECT_FALSE(MqttOutput::parsePublishPacket(good + "x", &p)) << "longer than it says";
    QByteArray pubrel = good;
    pubrel[0] = char(0x62);
    EXPECT_FALSE(MqttOutput::parsePublishPacket(pubrel, &p)) << "not a PUBLISH";
    EXPECT_FALSE(MqttOutput::parsePublishPacket(QByteArray("\x32\x03\x00\x05t", 5), &p)) << "topic past the end";
    EXPECT_FALSE(MqttOutput::parsePublishPacket(QByteArray("\x32\xff\xff\xff\xff\x01", 6), &p)) << "length overflow";
    EXPECT_FALSE(MqttOutput::parsePublishPacket({}, &p));
}

TEST(MqttConnectFailure, TheBrokersRefusalsReadAsTheUsersWords) {
    EXPECT_TRUE(MqttOutput::connectFailureText(4, nullptr).contains("bad user name or password"));
    EXPECT_TRUE(MqttOutput::connectFailureText(5, nullptr).contains("not authorized"));
    EXPECT_TRUE(MqttOutput::connectFailureText(-1, "TCP connect timeout").contains("did not answer"));
    // A refusal is one reason however Paho words it, so it is told once.
    EXPECT_TRUE(MqttOutput::connectFailureText(-1, "TCP connect completion failure").contains("nothing answers"));
    EXPECT_EQ(MqttOutput::connectFailureText(-1, "TCP connect completion failure"),
              MqttOutput::connectFailureText(-1, "TCP/TLS connect failure"));
    EXPECT_FALSE(MqttOutput::connectFailureText(-3, nullptr).isEmpty());
}

} // namespace
