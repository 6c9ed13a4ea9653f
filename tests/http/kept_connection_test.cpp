// A kept-alive connection that the server closes just as the next request goes out: the
// request is asked once more on a new connection instead of failing.
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

struct CrossedClose {
    const char* name;
    bool reset; // false: a normal close (FIN), true: a reset (RST)
};

class KeptConnectionTest : public ::testing::TestWithParam<CrossedClose> {};

TEST_P(KeptConnectionTest, ARequestThatCrossesTheServersCloseGoesAgainOnANewConnection)
{
    ScriptedServer server;
    ConnectionScript first = ConnectionScript().reply200("one").expectHead();
    server.addConnection(GetParam().reset ? first.reset() : first.close());
    server.addConnection(ConnectionScript().reply200("two"));
    HttpClient client(ClientSettings::configured());
    MemoryStream one, two;
    client.GetToStream(server.url("/1"), one);
    client.GetToStream(server.url("/2"), two);
    EXPECT_EQ(one.bytes(), "one");
    EXPECT_EQ(two.bytes(), "two");
    EXPECT_EQ(server.connectionCount(), 2u);
    ASSERT_EQ(server.requestHeads().size(), 3u);
    EXPECT_EQ(server.requestHeads()[1], server.requestHeads()[2]); // the same request, asked again
}

INSTANTIATE_TEST_SUITE_P(Closes, KeptConnectionTest,
                         ::testing::Values(CrossedClose{"Close", false}, CrossedClose{"Reset", true}),
                         [](const auto& test) { return std::string(test.param.name); });

// Only a kept connection is asked again: a new one that ends without a reply is the failure.
TEST(KeptConnection, ANewConnectionClosedWithoutAReplyFails)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().close());
    server.addConnection(ConnectionScript().reply200("never asked"));
    HttpClient client(ClientSettings::configured());
    MemoryStream body;
    try {
        client.GetToStream(server.url("/1"), body);
        FAIL() << "the request succeeded";
    } catch (const HttpError& failure) {
        EXPECT_EQ(failure.kind(), "EIdConnClosedGracefully");
    }
    EXPECT_EQ(server.requestHeads().size(), 1u);
}

// A second close on the new connection is reported as it is: one more try, no more.
TEST(KeptConnection, IsAskedAgainOnlyOnce)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("one").expectHead().close());
    server.addConnection(ConnectionScript().expectHead().close());
    server.addConnection(ConnectionScript().reply200("three"));
    HttpClient client(ClientSettings::configured());
    MemoryStream one, two;
    client.GetToStream(server.url("/1"), one);
    EXPECT_THROW(client.GetToStream(server.url("/2"), two), HttpError);
    EXPECT_EQ(server.requestHeads().size(), 3u);
}

} // namespace
