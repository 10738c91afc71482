#include "output/ReadingJson.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using tavlo::output::readingJson;
using tavlo::output::statusJson;
using tavlo::worker::Outcome;
using tavlo::worker::Reading;
using tavlo::worker::StatusEvent;

namespace {

Reading sample() {
    Reading r;
    r.run = "5f0c";
    r.seq = 42;
    r.time = std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::sys_days{} + std::chrono::hours(1));
    r.station = "bench-3";
    r.port = "/dev/ttyUSB0";
    r.instrument = "AND";
    r.raw = QStringLiteral("ST,+00012.34  g\r\n");
    r.value = "12.34";
    r.typed = true;
    r.unit = "g";
    r.stable = true;
    r.outcome = Outcome::Queued;
    return r;
}

QJsonObject parsed(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json.toStdString();
    return document.object();
}

} // namespace

TEST(ReadingJson, AReadingHasEveryKeyInItsOrderWithTheRecordInControlCharacterNotation) {
    const QByteArray json = readingJson(sample());
    EXPECT_EQ(json.indexOf('\n'), -1) << "one message per line";
    const QJsonObject o = parsed(json);
    EXPECT_EQ(o.keys().size(), 14);
    EXPECT_EQ(o["type"].toString(), "reading");
    EXPECT_EQ(o["run"].toString(), "5f0c");
    EXPECT_EQ(o["seq"].toInteger(), 42);
    EXPECT_EQ(o["time"].toString(), tavlo::worker::isoTime(sample().time));
    EXPECT_EQ(o["station"].toString(), "bench-3");
    EXPECT_EQ(o["port"].toString(), "/dev/ttyUSB0");
    EXPECT_EQ(o["instrument"].toString(), "AND");
    EXPECT_EQ(o["raw"].toString(), "ST,+00012.34  g<13><10>");
    EXPECT_EQ(o["value"].toString(), "12.34");
    EXPECT_TRUE(o["typed"].toBool());
    EXPECT_EQ(o["unit"].toString(), "g");
    EXPECT_TRUE(o["stable"].toBool());
    EXPECT_EQ(o["outcome"].toString(), "queued");
    EXPECT_TRUE(o["error"].isNull());
    // The documented order, for readers that stream the text.
    const char* keys[] = {"type", "run",   "seq",   "time", "station", "port",    "instrument",
                          "raw",  "value", "typed", "unit", "stable",  "outcome", "error"};
    qsizetype at = 0;
    for (const char* key : keys) {
        const qsizetype next = json.indexOf(QByteArray("\"") + key + "\":", at);
        ASSERT_GE(next, at) << key;
        at = next;
    }
}

TEST(ReadingJson, WhatAReadingLacksIsNullAndAnErrorCarriesItsText) {
    Reading r = sample();
    r.value.clear();
    r.unit.clear();
    r.stable.reset();
    r.typed = false;
    r.outcome = Outcome::Error;
    r.error = "Error [WW]: NumberFormatException: \"12-\"";
    const QJsonObject o = parsed(readingJson(r));
    EXPECT_TRUE(o["value"].isNull());
    EXPECT_TRUE(o["unit"].isNull());
    EXPECT_TRUE(o["stable"].isNull());
    EXPECT_FALSE(o["typed"].toBool());
    EXPECT_EQ(o["outcome"].toString(), "error");
    EXPECT_EQ(o["error"].toString(), r.error);
    r.stable = false;
    EXPECT_FALSE(parsed(readingJson(r))["stable"].toBool(true));
}

// Values and barcodes may hold anything a record holds: quotes, backslashes, control characters, Latin-1.
TEST(ReadingJson, TextsAreEscapedSoThatTheyComeBackExactly) {
    Reading r = sample();
    const QString hostile = QStringLiteral("a\"b\\c\td\x01\x1f\x7f") + QChar(0xb0) + QChar(0x20ac) + "</script>" +
                            QString::fromUtf8("Z\xc3\xbcrich \xf0\x9f\x98\x80\xc2\xb5\n\xc3\xa9");
    r.value = hostile;
    r.station = hostile;
    r.error = hostile;
    const QByteArray json = readingJson(r);
    for (const char c : json)
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20) << "a raw control byte in the JSON text";
    const QJsonObject o = parsed(json);
    EXPECT_EQ(o["value"].toString(), hostile);
    EXPECT_EQ(o["station"].toString(), hostile);
    EXPECT_EQ(o["error"].toString(), hostile);
}

TEST(ReadingJson, EveryOutcomeHasItsWord) {
    const std::pair<Outcome, const char*> words[] = {{Outcome::Queued, "queued"},       {Outcome::Accepted, "accepted"},
                                                     {Outcome::Duplicate, "duplicate"}, {Outcome::Unstable, "unstable"},
                                                     {Outcome::Overload, "overload"},   {Outcome::NoValue, "no-value"},
                                                     {Outcome::Error, "error"}};
    for (const auto& [outcome, word] : words) {
        Reading r = sample();
        r.outcome = outcome;
        EXPECT_EQ(parsed(readingJson(r))["outcome"].toString(), word);
    }
}

TEST(ReadingJson, AStatusEventHasTypeRunTimeEventAndText) {
    const StatusEvent e{"5f0c", sample().time, StatusEvent::Kind::Lost, "Port COM3 lost: \"gone\""};
    const QJsonObject o = parsed(statusJson(e));
    EXPECT_EQ(o.keys().size(), 5);
    EXPECT_EQ(o["type"].toString(), "status");
    EXPECT_EQ(o["run"].toString(), "5f0c");
    EXPECT_EQ(o["time"].toString(), tavlo::worker::isoTime(e.time));
    EXPECT_EQ(o["event"].toString(), "lost");
    EXPECT_EQ(o["text"].toString(), e.text);
    const std::pair<StatusEvent::Kind, const char*> names[] = {{StatusEvent::Kind::Started, "started"},
                                                               {StatusEvent::Kind::PortOpened, "port-opened"},
                                                               {StatusEvent::Kind::Reopened, "reopened"},
                                                               {StatusEvent::Kind::Stopped, "stopped"}};
    for (const auto& [kind, name] : names)
        EXPECT_EQ(parsed(statusJson({"r", e.time, kind, "t"}))["event"].toString(), name);
}
