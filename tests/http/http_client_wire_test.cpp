// The client against a scripted loopback server: request heads, connection reuse,
// replies, redirects and body framings.
#include "http/http_client.h"
#include "tests/http/wire_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::HttpClient;
using vornel::http::HttpError;
using vornel::http::MemoryStream;
using vornel::http::ProtocolError;

std::string expectedHead(const std::string& target, uint16_t port)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nAccept: " + kAccept +
           "\r\nUser-Agent: " + kUserAgent + "\r\n\r\n";
}

TEST(RequestHead, IsFourLinesAndABlankLineWithoutTheFragment)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("x"));
    HttpClient client(ClientSettings::configured());
    MemoryStream body;
    client.GetToStream(server.url("/dir/page.html?x=1&y=2#frag"), body);
    ASSERT_EQ(server.requestHeads().size(), 1u);
    EXPECT_EQ(server.requestHeads()[0], expectedHead("/dir/page.html?x=1&y=2", server.port()));
}

TEST(RequestHead, SendsSpacesAndNonAsciiUnencoded)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("x"));
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/a b/\xC3\xA9.html?q=\xF0\x9F\x8E\xB5"), body);
    ASSERT_EQ(server.requestHeads().size(), 1u);
    EXPECT_EQ(server.requestHeads()[0], expectedHead("/a b/?.html?q=??", server.port()));
}

TEST(RequestHead, ExtraLinesFollowUserAgent)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("x"));
    HttpClient client;
    client.extraHeaders = {"Icy-MetaData: 1"};
    MemoryStream body;
    client.GetToStream(server.url("/s"), body);
    ASSERT_EQ(server.requestHeads().size(), 1u);
    EXPECT_NE(server.requestHeads()[0].find(std::string("User-Agent: ") + kUserAgent + "\r\nIcy-MetaData: 1\r\n\r\n"),
              std::string::npos);
}

TEST(KeepAlive, ReusesTheConnectionForTheNextRequest)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("one").reply200("two"));
    HttpClient client(ClientSettings::configured());
    MemoryStream first, second;
    client.GetToStream(server.url("/1"), first);
    client.GetToStream(server.url("/2"), second);
    EXPECT_EQ(first.bytes(), "one");
    EXPECT_EQ(second.bytes(), "two");
    EXPECT_EQ(server.connectionCount(), 1u);
    EXPECT_EQ(server.requestHeads().size(), 2u);
}

TEST(KeepAlive, ConnectionCloseInAnyCaseEndsTheConnection)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(lengthReply("HTTP/1.1 200 OK", "one", {"Connection:  ClOsE "}))
                             .expectPeerClose());
    server.addConnection(ConnectionScript().reply200("two"));
    HttpClient client(ClientSettings::configured());
    MemoryStream first, second;
    client.GetToStream(server.url("/1"), first);
    client.GetToStream(server.url("/2"), second);
    EXPECT_EQ(second.bytes(), "two");
    ASSERT_TRUE(server.waitForFinishedConnections(2));
    EXPECT_EQ(server.connectionCount(), 2u);
    EXPECT_EQ(server.peerClosed(), std::vector<bool>{true});
}

TEST(KeepAlive, AServerThatClosedMeanwhileGetsANewConnection)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("one").close());
    server.addConnection(ConnectionScript().reply200("two"));
    HttpClient client(ClientSettings::configured());
    MemoryStream first, second;
    client.GetToStream(server.url("/1"), first);
    ASSERT_TRUE(server.waitForFinishedConnections(1));
    client.GetToStream(server.url("/2"), second);
    EXPECT_EQ(second.bytes(), "two");
    EXPECT_EQ(server.connectionCount(), 2u);
}

TEST(ErrorReplies, ConfiguredClientDropsTheBodyAndKeepsTheConnection)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(lengthReply("HTTP/1.1 404 Not Found", "missing page", {"Content-Type: text/html"}))
                             .reply200("next"));
    HttpClient client(ClientSettings::configured());
    EventLog log;
    log.attach(client);
    MemoryStream body;
    client.GetToStream(server.url("/gone"), body);
    EXPECT_EQ(body.bytes(), "");
    EXPECT_EQ(client.response().ResponseCode, 404);
    EXPECT_EQ(client.response().ResponseText, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 12", "work 12", "end"}));
    MemoryStream next;
    client.GetToStream(server.url("/next"), next);
    EXPECT_EQ(next.bytes(), "next");
    EXPECT_EQ(server.connectionCount(), 1u);
}

TEST(ErrorReplies, RuntimeClientFailsWithStatusLineCodeAndBody)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(
        lengthReply("HTTP/1.1 404 Not Found", "missing page", {"Content-Type: text/html"})));
    HttpClient client(ClientSettings::runtime());
    try {
        client.GetAsText(server.url("/gone"));
        FAIL() << "no failure";
    } catch (const ProtocolError& error) {
        EXPECT_EQ(error.kindName(), "EIdHTTPProtocolException");
        EXPECT_STREQ(error.what(), "HTTP/1.1 404 Not Found");
        EXPECT_EQ(error.statusCode(), 404);
        EXPECT_EQ(error.bodyText(), "missing page");
    }
}

struct StatusCase {
    const char* name;
    std::string reply;
    bool configured;
    int code;         // ResponseCode afterwards
    bool fails;       // ProtocolError raised
    const char* body; // destination afterwards
};

class StatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusTest, ClassifiesTheReply)
{
    const StatusCase& c = GetParam();
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(c.reply));
    server.addConnection(ConnectionScript().reply200("followed"));
    HttpClient client(c.configured ? ClientSettings::configured() : ClientSettings::runtime());
    MemoryStream body;
    bool failed = false;
    try {
        client.GetToStream(server.url("/start"), body);
    } catch (const ProtocolError& error) {
        failed = true;
        EXPECT_EQ(error.statusCode(), c.code);
    }
    EXPECT_EQ(failed, c.fails);
    EXPECT_EQ(client.response().ResponseCode, c.code);
    EXPECT_EQ(body.bytes(), c.body);
}

const std::string kSixHundred(600, 'b');
const std::string kMoved = lengthReply("HTTP/1.1 302 Found", "moved", {"Location: /elsewhere", "Connection: close"});

INSTANTIATE_TEST_SUITE_P(
    Replies, StatusTest,
    testing::Values(StatusCase{"RedirectFollowed", kMoved, true, 200, false, "followed"},
                    StatusCase{"RedirectNotFollowedByRuntimeClient", kMoved, false, 302, true, ""},
                    StatusCase{"RedirectWithoutLocationIsAnError",
                               lengthReply("HTTP/1.1 302 Found", "x", {"Connection: close"}), true, 302, false, ""},
                    StatusCase{"NonNumericCode", lengthReply("HTTP/1.1 abc Weird", "xyz"), true, -1, false, ""},
                    StatusCase{"NonNumericCodeFailsOnRuntimeClient", lengthReply("HTTP/1.1 abc Weird", "xyz"), false,
                               -1, true, ""},
                    StatusCase{"DecimalCodeIsCut", lengthReply("HTTP/1.1 200.5 OK", "body"), false, 200, false, "body"},
                    StatusCase{"ContinueThenOk", "HTTP/1.1 100 Continue\r\n\r\n" + lengthReply("HTTP/1.1 200 OK", "ok"),
                               false, 200, false, "ok"},
                    StatusCase{"NoContent", reply("HTTP/1.1 204 No Content", {}), false, 204, false, ""},
                    StatusCase{"UntilClose", reply("HTTP/1.0 200 OK", {"Content-Type: text/plain"}, "all of it"), false,
                               200, false, "all of it"},
                    StatusCase{"LengthCutShort", reply("HTTP/1.1 200 OK", {"Content-Length: 1000"}, kSixHundred), false,
                               200, false, kSixHundred.c_str()}),
    [](const testing::TestParamInfo<StatusCase>& test) { return std::string(test.param.name); });

TEST(Redirects, RelativeLocationsResolveAgainstTheReplyUrl)
{
    struct Case {
        const char* location;
        const char* target;
    };
    for (const Case c :
         {Case{"other.html", "/dir/other.html"}, Case{"/top/x?y=1", "/top/x?y=1"}, Case{"../up.html", "/up.html"}}) {
        ScriptedServer server;
        server.addConnection(
            ConnectionScript()
                .expectHead()
                .send(lengthReply("HTTP/1.1 301 Moved Permanently", "", {std::string("Location: ") + c.location}))
                .reply200("done"));
        HttpClient client(ClientSettings::configured());
        MemoryStream body;
        client.GetToStream(server.url("/dir/page.html"), body);
        EXPECT_EQ(body.bytes(), "done");
        const auto heads = server.requestHeads();
        ASSERT_EQ(heads.size(), 2u);
        EXPECT_EQ(heads[1], expectedHead(c.target, server.port())) << c.location;
    }
}

TEST(Redirects, FourteenAreFollowedAndTheFifteenthEndsTheRequest)
{
    for (const int redirects : {14, 15}) {
        ScriptedServer server;
        ConnectionScript script;
        for (int i = 1; i <= redirects; ++i)
            script.expectHead().send(lengthReply("HTTP/1.1 302 Found", "", {"Location: /r" + std::to_string(i)}));
        script.reply200("the file");
        server.addConnection(script);
        HttpClient client(ClientSettings::configured());
        MemoryStream body;
        client.GetToStream(server.url("/r0"), body);
        if (redirects == 14) {
            EXPECT_EQ(body.bytes(), "the file");
            EXPECT_EQ(client.response().ResponseCode, 200);
            EXPECT_EQ(server.requestHeads().size(), 15u);
        } else {
            EXPECT_EQ(body.bytes(), "");
            EXPECT_EQ(client.response().ResponseCode, 302);
            EXPECT_EQ(client.response().Location, "/r15");
            EXPECT_EQ(server.requestHeads().size(), 15u);
        }
    }
}

TEST(Redirects, TheDestinationIsCutBackToWhereItStarted)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(lengthReply("HTTP/1.1 302 Found", "redirect body", {"Location: /b"}))
                             .reply200("B"));
    HttpClient client(ClientSettings::configured());
    MemoryStream body;
    body.write("keep", 4);
    client.GetToStream(server.url("/a"), body);
    EXPECT_EQ(body.bytes(), "keepB");
}

TEST(Framing, ChunkedWithExtensionAndTrailer)
{
    ScriptedServer server;
    const std::string data(26, 'c');
    server.addConnection(ConnectionScript().expectHead().send(
        reply("HTTP/1.1 200 OK", {"Transfer-Encoding: Chunked"},
              "1a;name=value\r\n" + data + "\r\n3\r\nxyz\r\n0\r\nX-Trailer: t\r\n\r\n")));
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/c"), body);
    EXPECT_EQ(body.bytes(), data + "xyz");
    EXPECT_EQ(client.response().RawHeaders.back(), "X-Trailer: t");
}

TEST(Framing, ANonHexChunkSizeEndsTheBody)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(
        reply("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "5\r\nhello\r\nzz\r\n\r\nignored")));
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/c"), body);
    EXPECT_EQ(body.bytes(), "hello");
}

TEST(Framing, AChunkedBodyCutByCloseFailsAfterWorkEnd)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(reply("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "10\r\nabc"))
                             .close());
    HttpClient client;
    EventLog log;
    log.attach(client);
    MemoryStream body;
    try {
        client.GetToStream(server.url("/c"), body);
        FAIL() << "no failure";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kindName(), "EIdConnClosedGracefully");
        EXPECT_STREQ(error.what(), "Connection Closed Gracefully.");
        ASSERT_FALSE(log.events.empty());
        EXPECT_EQ(log.events.front(), "begin 0");
        EXPECT_EQ(log.events.back(), "end");
    }
    EXPECT_EQ(body.bytes(), "abc");
}

TEST(Framing, ChunkedCountsIncludeSizeLines)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(
        reply("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "3\r\nabc\r\n0\r\n\r\n")));
    HttpClient client;
    EventLog log;
    log.attach(client);
    MemoryStream body;
    client.GetToStream(server.url("/c"), body);
    // "3\r\n" 3, "abc" 6, "\r\n" 8, "0\r\n" 11, "\r\n" 13
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"begin 0", "work 3", "work 6", "work 8", "work 11", "work 13", "end"}));
}

TEST(Framing, MultipartReadsThroughTheClosingBoundaryLine)
{
    ScriptedServer server;
    const std::string parts = "--XB\r\nContent-Type: text/plain\r\n\r\npart\r\n--XB--\r\n";
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(reply("HTTP/1.1 200 OK", {"Content-Type: multipart/mixed; boundary=XB"}, parts))
                             .wait(Millis(100))
                             .send("after the body")
                             .expectPeerClose());
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/m"), body);
    EXPECT_EQ(body.bytes(), parts);
}

TEST(Framing, AResetEndsAnUntilCloseBodyNormally)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(reply("HTTP/1.1 200 OK", {"Content-Type: audio/mpeg"}, "frames"))
                             .wait(Millis(100))
                             .reset());
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/u"), body);
    EXPECT_EQ(body.bytes(), "frames");
}

TEST(Headers, StopsAfter255LinesAndTakesTheRestAsBody)
{
    ScriptedServer server;
    std::vector<std::string> lines;
    for (int i = 0; i < 255; ++i)
        lines.push_back("X-H" + std::to_string(i) + ": v");
    lines.push_back("Content-Length: 3");
    server.addConnection(ConnectionScript().expectHead().send(reply("HTTP/1.1 200 OK", lines, "abc")).close());
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/h"), body);
    EXPECT_EQ(client.response().RawHeaders.size(), 255u);
    EXPECT_EQ(client.response().ContentLength, -1);
    EXPECT_EQ(body.bytes(), "Content-Length: 3\r\n\r\nabc");
}

TEST(Headers, AConnectionClosedInTheHeaderBlockKeepsTheLinesRead)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send("HTTP/1.1 200 OK\r\nX-One: 1\r\nX-Tw").close());
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/h"), body);
    EXPECT_EQ(client.response().RawHeaders, std::vector<std::string>{"X-One: 1"});
    EXPECT_EQ(body.bytes(), "");
}

TEST(Headers, FieldAccessJoinsContinuationLines)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(
        reply("HTTP/1.1 200 OK", {"x-long:   first  ", "\tsecond ", "  third", "X-Long: not this one",
                                  "Content-Type: text/plain; charset=\"koi8-r\"", "Content-Length: 0"})));
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/h"), body);
    const auto& response = client.response();
    // The first line keeps its inner blanks; continuation lines are trimmed.
    EXPECT_EQ(response.header("X-LONG"), "first   second third");
    EXPECT_EQ(response.header("Missing"), "");
    EXPECT_EQ(response.ContentType, "text/plain");
    EXPECT_EQ(response.CharSet, "koi8-r");
    EXPECT_EQ(response.ContentLength, 0);
    EXPECT_TRUE(response.version11);
}

} // namespace
