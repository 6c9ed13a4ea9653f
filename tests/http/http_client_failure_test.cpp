// Failure kinds and messages of the client.
#include "http/http_client.h"
#include "tests/http/request_failure.h"
#include "tests/http/wire_helpers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::HttpClient;
using vornel::http::MemoryStream;

// A loopback port on which nothing listens.
uint16_t closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(Failures, RefusedPortIsSocketError10061WithoutEvents)
{
    HttpClient client(ClientSettings::configured());
    EventLog log;
    log.attach(client);
    const RequestFailure failure = failureOf(client, "http://127.0.0.1:" + std::to_string(closedPort()) + "/");
    EXPECT_EQ(failure.kind, "EIdSocketError");
    EXPECT_EQ(failure.socketError, 10061);
    EXPECT_EQ(failure.message, "Socket Error # 10061\r\nConnection refused.");
    EXPECT_TRUE(log.events.empty());
}

TEST(Failures, UnresolvableHostIsSocketError11001)
{
    HttpClient client;
    const auto started = std::chrono::steady_clock::now();
    const RequestFailure failure = failureOf(client, "http://no-such-host.invalid/page");
    EXPECT_EQ(failure.kind, "EIdSocketError");
    EXPECT_EQ(failure.socketError, 11001);
    EXPECT_EQ(failure.message, "Socket Error # 11001\r\nHost not found.");
    std::printf(
        "resolver answered in %lld ms\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()));
}

TEST(Failures, UrlWithoutKnownPortIsUnknownProtocol)
{
    HttpClient client;
    EXPECT_EQ(failureOf(client, "ftp://127.0.0.1/file").kind, "EIdUnknownProtocol");
    EXPECT_EQ(failureOf(client, "page.html").message, "Unknown Protocol");
}

TEST(Failures, HttpsOnAPlainOnlyTransportIsRefused)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("plain"));
    HttpClient client; // makes a plain transport at its first (http) connection
    MemoryStream body;
    client.GetToStream(server.url("/"), body);
    const RequestFailure failure = failureOf(client, "https://127.0.0.1:" + std::to_string(server.port()) + "/");
    EXPECT_EQ(failure.kind, "EIdIOHandlerPropInvalid");
    EXPECT_EQ(failure.message, "IOHandler value is not valid");
}

struct ServerFailureCase {
    const char* name;
    ConnectionScript script;
    const char* kind;
    const char* message;
};

class ServerFailureTest : public testing::TestWithParam<ServerFailureCase> {};

TEST_P(ServerFailureTest, RaisesTheKindAndMessage)
{
    const auto& c = GetParam();
    ScriptedServer server;
    server.addConnection(c.script);
    HttpClient client(ClientSettings::configured());
    const RequestFailure failure = failureOf(client, server.url("/"));
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_EQ(failure.message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ServerFailureTest,
    testing::Values(
        ServerFailureCase{"LongStatusLine",
                          ConnectionScript().expectHead().send("HTTP/1.1 200 " + std::string(20000, 'x') + "\r\n\r\n"),
                          "EIdReadLnMaxLineLengthExceeded", "Max line length exceeded."},
        ServerFailureCase{"LongStatusLineWithoutEnd",
                          ConnectionScript().expectHead().send(std::string(20000, 'x')).wait(Millis(3000)),
                          "EIdReadLnMaxLineLengthExceeded", "Max line length exceeded."},
        ServerFailureCase{
            "LongHeaderLine",
            ConnectionScript().expectHead().send("HTTP/1.1 200 OK\r\nX: " + std::string(16385, 'h') + "\r\n\r\n"),
            "EIdReadLnMaxLineLengthExceeded", "Max line length exceeded."},
        ServerFailureCase{"LongChunkSizeLine",
                          ConnectionScript().expectHead().send(reply("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"},
                                                                     std::string(17000, '0'))),
                          "EIdReadLnMaxLineLengthExceeded", "Max line length exceeded."},
        ServerFailureCase{"ClosedBeforeStatusLine", ConnectionScript().expectHead().close(), "EIdConnClosedGracefully",
                          "Connection Closed Gracefully."},
        ServerFailureCase{"ClosedInsideStatusLine", ConnectionScript().expectHead().send("HTTP/1.1 20").close(),
                          "EIdConnClosedGracefully", "Connection Closed Gracefully."},
        ServerFailureCase{"ResetBeforeStatusLine", ConnectionScript().expectHead().reset(), "EIdSocketError",
                          "Socket Error # 10054\r\nConnection reset by peer."},
        ServerFailureCase{"ResetInsideALengthBody",
                          ConnectionScript()
                              .expectHead()
                              .send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab")
                              .wait(Millis(100))
                              .reset(),
                          "EIdSocketError", "Socket Error # 10054\r\nConnection reset by peer."}),
    [](const testing::TestParamInfo<ServerFailureCase>& test) { return std::string(test.param.name); });

TEST(Failures, AbortFromAnotherThreadBreaksABlockedRead)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send("HTTP/1.1 200 OK\r\n").wait(Millis(20000)));
    HttpClient client;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        client.abort();
    });
    const RequestFailure failure = failureOf(client, server.url("/stream"));
    stopper.join();
    EXPECT_EQ(failure.kind, "EIdRequestAborted");
    EXPECT_EQ(failureOf(client, server.url("/again")).kind, "EIdRequestAborted");
    client.clearAbort();
    server.addConnection(ConnectionScript().reply200("fresh"));
    MemoryStream body;
    client.GetToStream(server.url("/fresh"), body);
    EXPECT_EQ(body.bytes(), "fresh");
}

TEST(Failures, AfterAFailureTheNextRequestConnectsAnew)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(reply("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, "5\r\nab"))
                             .wait(Millis(200))
                             .close());
    server.addConnection(ConnectionScript().reply200("second"));
    HttpClient client(ClientSettings::configured());
    EXPECT_EQ(failureOf(client, server.url("/a")).kind, "EIdConnClosedGracefully");
    MemoryStream body;
    client.GetToStream(server.url("/b"), body);
    EXPECT_EQ(body.bytes(), "second");
    EXPECT_EQ(server.connectionCount(), 2u);
}

} // namespace
