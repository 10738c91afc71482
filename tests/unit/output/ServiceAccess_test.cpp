// Who may use the reading service: loopback host names only, listed origins exactly, the token for commands.
#include "output/ServiceAccess.h"

#include <gtest/gtest.h>

using tavlo::output::ServiceAccess;

namespace {

struct HostCase {
    const char* host;
    int port;
    bool allowed;
};

class ServiceAccessHost : public ::testing::TestWithParam<HostCase> {};

TEST_P(ServiceAccessHost, OnlyLoopbackNamesWithTheServicesPortAreServed) {
    const ServiceAccess access(GetParam().port, {}, "t");
    EXPECT_EQ(access.hostAllowed(GetParam().host), GetParam().allowed) << GetParam().host;
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, ServiceAccessHost,
    ::testing::Values(HostCase{"localhost:8181", 8181, true}, HostCase{"LocalHost:8181", 8181, true},
                      HostCase{"127.0.0.1:8181", 8181, true}, HostCase{"[::1]:8181", 8181, true},
                      HostCase{"localhost", 8181, false}, HostCase{"localhost:8182", 8181, false},
                      HostCase{"localhost:08181", 8181, false}, HostCase{"evil.example:8181", 8181, false},
                      HostCase{"localhost.evil.example:8181", 8181, false},
                      HostCase{"127.0.0.1.nip.io:8181", 8181, false}, HostCase{"127.0.0.2:8181", 8181, false},
                      HostCase{"[::ffff:127.0.0.1]:8181", 8181, false}, HostCase{"0.0.0.0:8181", 8181, false},
                      HostCase{"::1:8181", 8181, false}, HostCase{"localhost:8181 ", 8181, false},
                      HostCase{"", 8181, false}, HostCase{"localhost", 80, true}, HostCase{"localhost:80", 80, true}));

TEST(ServiceAccess, AnOriginIsListedOnlyWhenItIsWrittenExactlyAsTheBrowserSendsIt) {
    const ServiceAccess access(8181, {"https://erp.example.com", "http://localhost:8000"}, "t");
    EXPECT_TRUE(access.originListed("https://erp.example.com"));
    EXPECT_TRUE(access.originListed("http://localhost:8000"));
    for (const char* other : {"https://erp.example.com/", "https://erp.example.com:443", "http://erp.example.com",
                              "https://ERP.example.com", "https://erp.example.com.evil.example", "null", "",
                              "http://localhost:8001", "http://127.0.0.1:8000"})
        EXPECT_FALSE(access.originListed(other)) << other;
}

TEST(ServiceAccess, TheTokenMatchesOnlyInFullAndAnEmptyTokenMatchesNothing) {
    const ServiceAccess access(8181, {}, "0123456789abcdef0123");
    EXPECT_TRUE(access.tokenMatches("0123456789abcdef0123"));
    for (const char* wrong :
         {"", "0123456789abcdef012", "0123456789abcdef01234", "0123456789abcdef0124", "1123456789abcdef0123"})
        EXPECT_FALSE(access.tokenMatches(wrong)) << wrong;
    EXPECT_FALSE(ServiceAccess(8181, {}, "").tokenMatches(""));
}

TEST(ServiceAccess, ConstantTimeEqualsComparesLengthAndEveryByte) {
    EXPECT_TRUE(ServiceAccess::constantTimeEquals("", ""));
    EXPECT_TRUE(ServiceAccess::constantTimeEquals("abc", "abc"));
    EXPECT_FALSE(ServiceAccess::constantTimeEquals("abc", "abd"));
    EXPECT_FALSE(ServiceAccess::constantTimeEquals("abc", "ab"));
    EXPECT_FALSE(ServiceAccess::constantTimeEquals("ab", "abc"));
    EXPECT_FALSE(ServiceAccess::constantTimeEquals(QByteArray("a\0", 2), "a")) << "a zero byte is not the end";
}

TEST(ServiceAccess, TheBearerTokenIsTakenFromItsSchemeOnly) {
    EXPECT_EQ(ServiceAccess::bearerToken("Bearer abc"), QByteArray("abc"));
    EXPECT_EQ(ServiceAccess::bearerToken("bearer  abc "), QByteArray("abc"));
    EXPECT_FALSE(ServiceAccess::bearerToken("Basic abc"));
    EXPECT_FALSE(ServiceAccess::bearerToken("Bearer"));
    EXPECT_FALSE(ServiceAccess::bearerToken("abc"));
}

struct OriginsCase {
    const char* text;
    const char* reasonPart; // nullptr: accepted
};

class ServiceAccessOrigins : public ::testing::TestWithParam<OriginsCase> {};

TEST_P(ServiceAccessOrigins, AnEntryThatCouldNeverMatchIsRefusedWithTheReason) {
    QList<QByteArray> origins;
    QString reason;
    const bool ok = ServiceAccess::parseOrigins(GetParam().text, &origins, &reason);
    if (!GetParam().reasonPart) {
        EXPECT_TRUE(ok) << reason.toStdString();
        return;
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(reason.contains(QLatin1String(GetParam().reasonPart))) << reason.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ServiceAccessOrigins,
    ::testing::Values(OriginsCase{"", nullptr}, OriginsCase{"https://erp.example.com", nullptr},
                      OriginsCase{"  http://localhost:8000   https://erp.example.com ", nullptr},
                      OriginsCase{"http://[::1]:8000 http://127.0.0.1:3000 chrome-extension://abcdef", nullptr},
                      OriginsCase{"https://erp.example.com/", "final slash"},
                      OriginsCase{"https://erp.example.com/pos", "without a path"},
                      OriginsCase{"https://ERP.example.com", "lower case"},
                      OriginsCase{"https://erp.example.com:443", ":443"}, OriginsCase{"http://localhost:80", ":80"},
                      OriginsCase{"http://localhost:0", "not a port number"},
                      OriginsCase{"http://localhost:65536", "not a port number"},
                      OriginsCase{"erp.example.com", "scheme://host"}, OriginsCase{"null", "sandboxed"},
                      OriginsCase{"https://a.example,https://b.example", "scheme://host"}));

TEST(ServiceAccess, ParsedOriginsKeepTheirOrder) {
    QList<QByteArray> origins;
    ASSERT_TRUE(ServiceAccess::parseOrigins(" http://b.example  http://a.example ", &origins, nullptr));
    EXPECT_EQ(origins, (QList<QByteArray>{"http://b.example", "http://a.example"}));
}

} // namespace
