// The loopback fixture itself, driven by a bare socket client.
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

using vornel::test::ConnectionScript;
using vornel::test::Millis;
using vornel::test::Route;
using vornel::test::ScriptedServer;

int connectTo(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

void sendText(int fd, const std::string& text)
{
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

std::string readUntilClose(int fd)
{
    std::string all;
    char chunk[4096];
    ssize_t got;
    while ((got = ::recv(fd, chunk, sizeof chunk, 0)) > 0)
        all.append(chunk, static_cast<size_t>(got));
    return all;
}

TEST(ScriptedServer, PlaysScriptsInAcceptOrderAndRecordsHeads)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().reply200("first"));
    server.addConnection(ConnectionScript().expectHead().drip("abcdef", 2, Millis(10)).close());
    const int a = connectTo(server.port());
    sendText(a, "GET /a HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(readUntilClose(a), ScriptedServer::ok200("first"));
    ::close(a);
    const int b = connectTo(server.port());
    sendText(b, "GET /b HTTP/1.1\r\n\r\n");
    EXPECT_EQ(readUntilClose(b), "abcdef");
    ::close(b);
    ASSERT_TRUE(server.waitForFinishedConnections(2));
    EXPECT_EQ(server.requestHeads(),
              (std::vector<std::string>{"GET /a HTTP/1.1\r\nHost: x\r\n\r\n", "GET /b HTTP/1.1\r\n\r\n"}));
    EXPECT_EQ(server.connectionCount(), 2u);
}

TEST(ScriptedServer, ResetGivesTheClientAConnectionReset)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send("partial").reset());
    const int fd = connectTo(server.port());
    sendText(fd, "GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(server.waitForFinishedConnections(1));
    char chunk[64];
    ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got > 0)
        got = ::recv(fd, chunk, sizeof chunk, 0);
    EXPECT_EQ(got, -1);
    EXPECT_EQ(errno, ECONNRESET);
    ::close(fd);
}

TEST(ScriptedServer, RoutesServeBodiesWithKeepAliveAnd404)
{
    ScriptedServer server;
    Route route;
    route.body = std::string(5000, 'm');
    route.dripSize = 1000;
    route.dripPause = Millis(5);
    server.addRoute("/track.mp3", route);
    const int fd = connectTo(server.port());
    sendText(fd, "GET /track.mp3?x=1 HTTP/1.1\r\n\r\nGET /missing HTTP/1.1\r\n\r\n");
    ::shutdown(fd, SHUT_WR);
    const std::string all = readUntilClose(fd);
    ::close(fd);
    EXPECT_EQ(all.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(all.find("Content-Length: 5000\r\n\r\n" + route.body), std::string::npos);
    EXPECT_NE(all.find("HTTP/1.1 404 Not Found\r\n"), std::string::npos);
    ASSERT_TRUE(server.waitForFinishedConnections(1));
    EXPECT_EQ(server.requestHeads().size(), 2u);
}

TEST(ScriptedServer, NoticesWhenThePeerCloses)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().expectPeerClose(Millis(3000)));
    const int fd = connectTo(server.port());
    sendText(fd, "GET / HTTP/1.1\r\n\r\n");
    ::close(fd);
    ASSERT_TRUE(server.waitForFinishedConnections(1));
    EXPECT_EQ(server.peerClosed(), std::vector<bool>{true});
}

} // namespace
