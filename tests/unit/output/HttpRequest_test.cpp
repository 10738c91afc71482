// The reading service's request heads: what decides access must be read one way only.
#include "output/HttpRequest.h"

#include <gtest/gtest.h>

using tavlo::output::HttpRequest;
using Parse = HttpRequest::Parse;

namespace {

Parse parse(const QByteArray& data, HttpRequest* out = nullptr, QString* reason = nullptr) {
    return HttpRequest::parse(data, out, reason);
}

} // namespace

TEST(HttpRequest, ACompleteHeadIsSplitIntoItsPartsWithLowerCaseNamesAndTrimmedValues) {
    const QByteArray head = "GET /readings?token=ab%2Dcd&x=1 HTTP/1.1\r\nHost: localhost:8181\r\n"
                            "Origin:  https://erp.example.com \r\nUpgrade: WebSocket\r\n"
                            "Connection: keep-alive, Upgrade\r\n\r\n";
    HttpRequest r;
    ASSERT_EQ(parse(head + "next request", &r), Parse::Complete);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/readings");
    EXPECT_EQ(r.query, "token=ab%2Dcd&x=1");
    EXPECT_EQ(r.headSize, head.size()) << "what follows the blank line is not part of the head";
    EXPECT_EQ(r.header("origin"), QByteArray("https://erp.example.com"));
    EXPECT_EQ(r.queryValue("token"), QByteArray("ab-cd"));
    EXPECT_EQ(r.queryValue("x"), QByteArray("1"));
    EXPECT_FALSE(r.queryValue("y"));
    EXPECT_TRUE(r.wantsWebSocket());
    EXPECT_TRUE(r.keepAlive());
}

TEST(HttpRequest, BlankLinesLeftBeforeARequestAreSkippedAndCounted) {
    HttpRequest r;
    const QByteArray request = "GET /reading HTTP/1.1\r\nHost: localhost:1\r\n\r\n";
    ASSERT_EQ(parse("\r\n\r\n" + request, &r), Parse::Complete);
    EXPECT_EQ(r.path, "/reading");
    EXPECT_EQ(r.headSize, 4 + request.size());
}

TEST(HttpRequest, AHeadWithoutItsBlankLineIsIncompleteUntilItIsTooLong) {
    EXPECT_EQ(parse("GET /reading HTTP/1.1\r\nHost: localhost:1\r\n"), Parse::Incomplete);
    EXPECT_EQ(parse(""), Parse::Incomplete);
    QString reason;
    EXPECT_EQ(parse("GET /" + QByteArray(HttpRequest::kMaxHeadBytes, 'a'), nullptr, &reason), Parse::TooLarge);
    EXPECT_TRUE(reason.contains("8192"));
    const QByteArray longHead =
        "GET /reading HTTP/1.1\r\nHost: localhost:1\r\nX: " + QByteArray(HttpRequest::kMaxHeadBytes, 'a') + "\r\n\r\n";
    EXPECT_EQ(parse(longHead), Parse::TooLarge);
}

struct InvalidCase {
    const char* name;
    QByteArray head;
};

class HttpRequestInvalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(HttpRequestInvalid, IsRefusedWithAReason) {
    QString reason;
    EXPECT_EQ(parse(GetParam().head, nullptr, &reason), Parse::Invalid);
    EXPECT_FALSE(reason.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Heads, HttpRequestInvalid,
    ::testing::Values(
        InvalidCase{"BareLineFeeds", "GET /reading HTTP/1.1\nHost: localhost:1\r\n\r\n"},
        InvalidCase{"BareCarriageReturn", "GET /reading HTTP/1.1\r\nHost: local\rhost:1\r\n\r\n"},
        InvalidCase{"FoldedHeader", "GET /reading HTTP/1.1\r\nHost: localhost:1\r\nX: a\r\n b\r\n\r\n"},
        InvalidCase{"TwoHosts", "GET /reading HTTP/1.1\r\nHost: localhost:1\r\nHost: evil.example\r\n\r\n"},
        InvalidCase{"TwoOrigins",
                    "GET /reading HTTP/1.1\r\nHost: localhost:1\r\nOrigin: https://a.example\r\nOrigin: null\r\n\r\n"},
        InvalidCase{"TwoAuthorizations",
                    "POST /command HTTP/1.1\r\nHost: localhost:1\r\nAuthorization: Bearer a\r\nauthorization: "
                    "Bearer b\r\n\r\n"},
        InvalidCase{"NoHostInHttp11", "GET /reading HTTP/1.1\r\nAccept: */*\r\n\r\n"},
        InvalidCase{"AbsoluteTarget", "GET http://localhost:1/reading HTTP/1.1\r\nHost: localhost:1\r\n\r\n"},
        InvalidCase{"AsteriskTarget", "OPTIONS * HTTP/1.1\r\nHost: localhost:1\r\n\r\n"},
        InvalidCase{"OtherVersion", "GET /reading HTTP/2.0\r\nHost: localhost:1\r\n\r\n"},
        InvalidCase{"TwoBlanks", "GET  /reading HTTP/1.1\r\nHost: localhost:1\r\n\r\n"},
        InvalidCase{"NotAMethod", "G(T /reading HTTP/1.1\r\nHost: localhost:1\r\n\r\n"},
        InvalidCase{"ControlInValue", "GET /reading HTTP/1.1\r\nHost: localhost:1\r\nX: a\x01z\r\n\r\n"},
        InvalidCase{"ByteAbove127InTarget", "GET /re\xe4"
                                            "ding HTTP/1.1\r\nHost: localhost:1\r\n\r\n"},
        InvalidCase{"BlankBeforeColon", "GET /reading HTTP/1.1\r\nHost : localhost:1\r\n\r\n"},
        InvalidCase{"NoColon", "GET /reading HTTP/1.1\r\nHost localhost:1\r\n\r\n"},
        InvalidCase{"Chunked", "POST /command HTTP/1.1\r\nHost: localhost:1\r\nTransfer-Encoding: chunked\r\n\r\n"},
        InvalidCase{"LengthNotANumber", "POST /command HTTP/1.1\r\nHost: localhost:1\r\nContent-Length: 1e3\r\n\r\n"},
        InvalidCase{"NegativeLength", "POST /command HTTP/1.1\r\nHost: localhost:1\r\nContent-Length: -1\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpRequest, Http10NeedsNoHostAndKeepsTheConnectionOnlyWhenAsked) {
    HttpRequest r;
    ASSERT_EQ(parse("GET /reading HTTP/1.0\r\n\r\n", &r), Parse::Complete);
    EXPECT_FALSE(r.keepAlive());
    ASSERT_EQ(parse("GET /reading HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", &r), Parse::Complete);
    EXPECT_TRUE(r.keepAlive());
    ASSERT_EQ(parse("GET /reading HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", &r), Parse::Complete);
    EXPECT_FALSE(r.keepAlive());
}

TEST(HttpRequest, AnUpgradeNeedsBothHeaders) {
    HttpRequest r;
    ASSERT_EQ(parse("GET /readings HTTP/1.1\r\nHost: a\r\nUpgrade: websocket\r\n\r\n", &r), Parse::Complete);
    EXPECT_FALSE(r.wantsWebSocket());
    ASSERT_EQ(parse("GET /readings HTTP/1.1\r\nHost: a\r\nConnection: Upgrade\r\nUpgrade: h2c\r\n\r\n", &r),
              Parse::Complete);
    EXPECT_FALSE(r.wantsWebSocket());
}

TEST(HttpRequest, TheBodysLengthComesFromContentLength) {
    HttpRequest r;
    ASSERT_EQ(parse("POST /command HTTP/1.1\r\nHost: a\r\nContent-Length: 21\r\n\r\n", &r), Parse::Complete);
    EXPECT_EQ(r.contentLength(), 21);
    ASSERT_EQ(parse("GET /reading HTTP/1.1\r\nHost: a\r\n\r\n", &r), Parse::Complete);
    EXPECT_EQ(r.contentLength(), 0);
}

TEST(HttpRequest, TheFirstOfRepeatedQueryParametersCounts) {
    HttpRequest r;
    ASSERT_EQ(parse("GET /readings?token=a&token=b HTTP/1.1\r\nHost: a\r\n\r\n", &r), Parse::Complete);
    EXPECT_EQ(r.queryValue("token"), QByteArray("a"));
    ASSERT_EQ(parse("GET /readings?token HTTP/1.1\r\nHost: a\r\n\r\n", &r), Parse::Complete);
    EXPECT_EQ(r.queryValue("token"), QByteArray());
}
