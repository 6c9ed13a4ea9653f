// Host header values and the Cookie line of the request head.
#include "http/request_head.h"
#include "tests/http/wire_helpers.h"

#include <gtest/gtest.h>

namespace {

using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::hostHeaderValue;
using vornel::http::HttpClient;
using vornel::http::MemoryStream;

TEST(HostHeader, OmitsOnlyTheProtocolsDefaultPort)
{
    struct Case {
        const char* protocol;
        const char* host;
        const char* port;
        bool ipv6;
        const char* value;
    };
    for (const Case c : {Case{"http", "h", "80", false, "h"}, Case{"HTTP", "h", "80", false, "h"},
                         Case{"https", "h", "443", false, "h"}, Case{"http", "h", "8080", false, "h:8080"},
                         Case{"https", "h", "80", false, "h:80"}, Case{"http", "h", "443", false, "h:443"},
                         Case{"http", "::1", "80", true, "[::1]"}, Case{"http", "::1", "81", true, "[::1]:81"}})
        EXPECT_EQ(hostHeaderValue(c.protocol, c.host, c.port, c.ipv6), c.value) << c.protocol << " " << c.port;
}

TEST(RequestHead, ValuesLoseTrailingBlanks)
{
    ClientSettings settings;
    settings.userAgent = "Agent  ";
    EXPECT_EQ(vornel::http::requestHead("/", "h", settings, {}, std::string("a=1 ")),
              std::string("GET / HTTP/1.1\r\nHost: h\r\nAccept: ") + kAccept +
                  "\r\nUser-Agent: Agent\r\nCookie: a=1\r\n\r\n");
}

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
