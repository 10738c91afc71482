#include "base/SystemProperties.h"
#include "tavlo/util/CommandLine.h"

#include <gtest/gtest.h>

using tavlo::util::CommandLine;

namespace {

CommandLine parsed(const QStringList& args) {
    QString error;
    const auto cl = CommandLine::parse(args, &error);
    EXPECT_TRUE(cl.has_value()) << error.toStdString();
    return cl.value_or(CommandLine{});
}

QString refused(const QStringList& args) {
    QString error;
    EXPECT_FALSE(CommandLine::parse(args, &error).has_value()) << args.join(' ').toStdString();
    return error;
}

TEST(CommandLine, OptionsWithSeparateOrInlineValuesAndThePort) {
    const CommandLine a = parsed({"--headless", "--settings", "s.xml", "--output=print", "--count", "3", "COM7"});
    EXPECT_EQ(a.mode, CommandLine::Mode::Headless);
    EXPECT_EQ(a.settingsFile, "s.xml");
    EXPECT_EQ(a.output, CommandLine::Output::Print);
    EXPECT_EQ(a.count, 3);
    EXPECT_EQ(a.port, "COM7");
    const CommandLine b = parsed({"/dev/ttyUSB0", "--headless", "--poll=500", "--settings=x.xml"});
    EXPECT_EQ(b.port, "/dev/ttyUSB0");
    EXPECT_EQ(b.pollMs, 500);
    EXPECT_EQ(b.settingsFile, "x.xml");
    EXPECT_EQ(parsed({}).mode, CommandLine::Mode::Window);
    EXPECT_FALSE(parsed({}).port.has_value());
    EXPECT_EQ(parsed({"COM3"}).port, "COM3");
}

TEST(CommandLine, PropertiesAnywhere) {
    const CommandLine cl = parsed({"-DSERIAL_PORT_LIST=COM7;COM3;", "--list-ports", "-DEDITION=QX", "-DEMPTY"});
    EXPECT_EQ(cl.mode, CommandLine::Mode::ListPorts);
    ASSERT_EQ(cl.properties.size(), 3);
    EXPECT_EQ(cl.properties[0].second, "COM7;COM3;");
    cl.applyProperties();
    EXPECT_EQ(tavlo::base::SystemProperties::get("EDITION"), "QX");
    EXPECT_EQ(tavlo::base::SystemProperties::get("EMPTY"), "");
    for (const char* name : {"EDITION", "EMPTY", "SERIAL_PORT_LIST"})
        tavlo::base::SystemProperties::remove(name);
}

TEST(CommandLine, InformationalModesWinOverHeadless) {
    EXPECT_EQ(parsed({"--headless", "--version"}).mode, CommandLine::Mode::Version);
    EXPECT_EQ(parsed({"--self-test", "--headless"}).mode, CommandLine::Mode::SelfTest);
    EXPECT_EQ(parsed({"--help"}).mode, CommandLine::Mode::Help);
}

TEST(CommandLine, SettingsExportAndImportTakeAFileAndStandAlone) {
    const CommandLine e = parsed({"--export-settings", "out.xml"});
    EXPECT_EQ(e.mode, CommandLine::Mode::ExportSettings);
    EXPECT_EQ(e.transferFile, "out.xml");
    const CommandLine i = parsed({"-DEDITION=QX", "--import-settings=in.xml"});
    EXPECT_EQ(i.mode, CommandLine::Mode::ImportSettings);
    EXPECT_EQ(i.transferFile, "in.xml");
    EXPECT_EQ(parsed({"--import-settings", "in.xml", "--help"}).mode, CommandLine::Mode::Help);
    // A settings copy never starts a run or opens the window by the way.
    refused({"--export-settings"});
    refused({"--import-settings="});
    refused({"--export-settings", "a.xml", "--import-settings", "b.xml"});
    refused({"--import-settings", "in.xml", "COM3"});
    refused({"--import-settings", "in.xml", "--headless"});
    refused({"--export-settings", "out.xml", "--list-ports"});
    EXPECT_TRUE(CommandLine::usage().contains("--export-settings FILE"));
    EXPECT_TRUE(CommandLine::usage().contains("--import-settings FILE"));
}

TEST(CommandLine, SendTakesOneOfTheWindowCommandsAndStandsAlone) {
    for (const char* command : {"request", "tare", "zero", "start", "stop"}) {
        const CommandLine cl = parsed({"--send", command});
        EXPECT_EQ(cl.mode, CommandLine::Mode::Send) << command;
        EXPECT_EQ(cl.sendCommand, command);
    }
    // The edition picks which window is meant.
    const CommandLine qx = parsed({"-DEDITION=QX", "--send=tare"});
    EXPECT_EQ(qx.mode, CommandLine::Mode::Send);
    EXPECT_EQ(qx.properties.size(), 1);
    EXPECT_EQ(parsed({"--send", "zero", "--help"}).mode, CommandLine::Mode::Help);
    EXPECT_TRUE(refused({"--send", "print"}).contains("request, tare, zero, start or stop"));
    refused({"--send"});
    refused({"--send", "Request"});
    refused({"--send", "request", "COM3"});
    refused({"--send", "request", "--headless"});
    refused({"--send", "request", "--list-ports"});
    refused({"--send", "tare", "--export-settings", "out.xml"});
    refused({"--send", "tare", "--settings", "s.xml"});
    EXPECT_TRUE(CommandLine::usage().contains("--send COMMAND"));
}

TEST(CommandLine, UsageErrors) {
    EXPECT_FALSE(refused({"--count", "0", "--headless"}).isEmpty());
    refused({"--headless", "--count", "-2"});
    refused({"--headless", "--count", "x"});
    refused({"--headless", "--count"});
    refused({"--headless", "--poll", " 5"});
    refused({"--headless", "--output", "screen"});
    refused({"--headless", "--settings"});
    refused({"--frobnicate"});
    refused({"--headless=yes"});
    refused({"-D=1"});
    refused({"COM1", "COM2"});
    EXPECT_TRUE(refused({"--count", "2"}).contains("--headless"));
    refused({"--headless", "--data-log"});
    refused({"--headless", "--data-log="});
    EXPECT_TRUE(refused({"--data-log", "log.csv"}).contains("--headless"));
}

TEST(CommandLine, DataLogFileAndANetworkAddressAsThePort) {
    const CommandLine cl = parsed({"--headless", "--data-log", "/var/log/scale 1.csv", "tcp://[::1]:4001"});
    EXPECT_EQ(cl.dataLog, "/var/log/scale 1.csv");
    EXPECT_EQ(cl.port, "tcp://[::1]:4001");
    EXPECT_FALSE(parsed({"--headless", "COM1"}).dataLog);
}

TEST(CommandLine, TheMqttBrokerOfAHeadlessRun) {
    EXPECT_EQ(parsed({"--headless", "--mqtt-broker", "ssl://broker.lab:8883", "COM1"}).mqttBroker,
              "ssl://broker.lab:8883");
    EXPECT_EQ(parsed({"--headless", "--mqtt-broker="}).mqttBroker, "") << "empty switches a stored broker off";
    EXPECT_FALSE(parsed({"--headless", "COM1"}).mqttBroker);
    EXPECT_TRUE(refused({"--headless", "--mqtt-broker"}).contains("tcp://HOST:PORT"));
    EXPECT_TRUE(refused({"--mqtt-broker", "tcp://x:1"}).contains("--headless"));
}

TEST(CommandLine, TheReadingServiceAndAPureBridgeWithoutTyping) {
    const CommandLine cl = parsed({"--headless", "--reading-service", "8181", "--output", "none", "COM1"});
    EXPECT_EQ(cl.readingService, 8181);
    EXPECT_EQ(cl.output, CommandLine::Output::None);
    EXPECT_TRUE(cl.outputGiven);
    EXPECT_EQ(parsed({"--headless", "--reading-service=0"}).readingService, 0) << "0 turns a stored port off";
    const CommandLine plain = parsed({"--headless", "COM1"});
    EXPECT_FALSE(plain.readingService);
    EXPECT_FALSE(plain.outputGiven) << "without --output the stored choice decides";
    EXPECT_TRUE(parsed({"--headless", "--output", "keyboard"}).outputGiven);
    for (const char* bad : {"65536", "-1", "+80", " 80", "http", ""})
        EXPECT_TRUE(refused({"--headless", "--reading-service", bad}).contains("port number")) << bad;
    refused({"--headless", "--reading-service"});
    EXPECT_TRUE(refused({"--reading-service", "8181"}).contains("--headless"));
    EXPECT_TRUE(refused({"--output", "none"}).contains("--headless"));
    EXPECT_TRUE(refused({"--headless", "--output", "nothing"}).contains("\"none\""));
}

TEST(CommandLine, TheTokenIsPrintedByAModeOfItsOwn) {
    EXPECT_EQ(parsed({"--reading-service-token"}).mode, CommandLine::Mode::ReadingServiceToken);
    EXPECT_EQ(parsed({"--headless", "--reading-service-token"}).mode, CommandLine::Mode::ReadingServiceToken);
    refused({"--reading-service-token=x"});
    EXPECT_TRUE(CommandLine::usage().contains("--reading-service PORT"));
    EXPECT_TRUE(CommandLine::usage().contains("--reading-service-token"));
    EXPECT_TRUE(CommandLine::usage().contains("keyboard|print|none"));
}

} // namespace
