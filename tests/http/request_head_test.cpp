// Host header values and the lines of the request head.
#include "http/request_head.h"
#include "tests/http/wire_helpers.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

namespace {

using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::hostHeaderValue;
using vornel::http::HttpClient;
using vornel::http::MemoryStream;
using vornel::http::requestHead;

struct HostCase {
    const char* name;
    const char* protocol;
    const char* host;
    const char* port;
    bool ipv6;
    const char* value;
};

void PrintTo(const HostCase& c, std::ostream* out)
{
    *out << c.name;
}

class HostHeader : public ::testing::TestWithParam<HostCase> {};

// Only the protocol's own default port is left out.
TEST_P(HostHeader, OmitsOnlyTheProtocolsDefaultPort)
{
    const HostCase& c = GetParam();
    EXPECT_EQ(hostHeaderValue(c.protocol, c.host, c.port, c.ipv6), c.value);
}

INSTANTIATE_TEST_SUITE_P(Ports, HostHeader,
                         ::testing::Values(HostCase{"HttpOn80", "http", "h", "80", false, "h"},
                                           HostCase{"UpperCaseHttpOn80", "HTTP", "h", "80", false, "h"},
                                           HostCase{"HttpsOn443", "https", "h", "443", false, "h"},
                                           HostCase{"HttpOn8080", "http", "h", "8080", false, "h:8080"},
                                           HostCase{"HttpsOn80", "https", "h", "80", false, "h:80"},
                                           HostCase{"HttpOn443", "http", "h", "443", false, "h:443"},
                                           HostCase{"Ipv6On80", "http", "::1", "80", true, "[::1]"},
                                           HostCase{"Ipv6On81", "http", "::1", "81", true, "[::1]:81"}),
                         [](const auto& test) { return std::string(test.param.name); });

struct HeadCase {
    const char* name;
    const char* target;
    const char* accept;
    const char* userAgent;
    std::vector<std::string> extraHeaders;
    std::optional<std::string> cookie;
    std::string head;
};

void PrintTo(const HeadCase& c, std::ostream* out)
{
    *out << c.name;
}

class RequestHeadLines : public ::testing::TestWithParam<HeadCase> {};

TEST_P(RequestHeadLines, AreWrittenInOrder)
{
    const HeadCase& c = GetParam();
    ClientSettings settings;
    settings.accept = c.accept;
    settings.userAgent = c.userAgent;
    EXPECT_EQ(requestHead(c.target, "h", settings, c.extraHeaders, c.cookie), c.head);
}

INSTANTIATE_TEST_SUITE_P(
    Heads, RequestHeadLines,
    ::testing::Values(
        HeadCase{"ValuesLoseTrailingBlanks",
                 "/",
                 kAccept,
                 "Agent  ",
                 {},
                 "a=1 ",
                 std::string("GET / HTTP/1.1\r\nHost: h\r\nAccept: ") + kAccept +
                     "\r\nUser-Agent: Agent\r\nCookie: a=1\r\n\r\n"},
        HeadCase{"NoCookieNoLine",
                 "/p?q=1",
                 "a/b",
                 "Agent",
                 {},
                 std::nullopt,
                 "GET /p?q=1 HTTP/1.1\r\nHost: h\r\nAccept: a/b\r\nUser-Agent: Agent\r\n\r\n"},
        HeadCase{"EmptyAcceptAndAgentAreLeftOut", "/", "", "", {}, std::nullopt, "GET / HTTP/1.1\r\nHost: h\r\n\r\n"},
        HeadCase{"ExtraLinesTrimmedBeforeTheCookie",
                 "/",
                 "",
                 "",
                 {"X-One:  1 ", "no colon", "X-Two:2"},
                 "c=3",
                 "GET / HTTP/1.1\r\nHost: h\r\nX-One: 1\r\nX-Two: 2\r\nCookie: c=3\r\n\r\n"},
        HeadCase{"LineBreaksInTheTargetGoOutAsQuestionMarks",
                 "/a\r\nX: y",
                 "",
                 "",
                 {},
                 std::nullopt,
                 "GET /a??X: y HTTP/1.1\r\nHost: h\r\n\r\n"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(RequestHead, AStoredCookieIsTheFifthLine)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(lengthReply("HTTP/1.1 200 OK", "set", {"Set-Cookie: session=abc; Path=/"}))
                             .reply200("again"));
    HttpClient client(ClientSettings::configured());
    MemoryStream first, second;
    client.GetToStream(server.url("/a"), first);
    client.GetToStream(server.url("/b"), second);
    const auto heads = server.requestHeads();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[0].find("Cookie:"), std::string::npos);
    EXPECT_EQ(heads[1], "GET /b HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\nAccept: " +
                            kAccept + "\r\nUser-Agent: " + kUserAgent + "\r\nCookie: session=abc\r\n\r\n");
}

} // namespace
