// Progress events, the hostile length guard and the idle pump during requests.
#include "http/http_client.h"
#include "http/idle_pump.h"
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
using vornel::http::ByteStream;
using vornel::http::ClientSettings;
using vornel::http::HttpClient;
using vornel::http::HttpError;
using vornel::http::IdlePump;
using vornel::http::MemoryStream;

TEST(Progress, BodyAfterTheHeadIsTakenIn32768BytePieces)
{
    ScriptedServer server;
    const std::string data(100000, 'd');
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")
                             .wait(Millis(100))
                             .drip(data, 7000, Millis(2)));
    HttpClient client(ClientSettings::configured());
    EventLog log;
    log.attach(client);
    MemoryStream body;
    client.GetToStream(server.url("/f"), body);
    EXPECT_EQ(body.bytes(), data);
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 100000", "work 32768", "work 65536", "work 98304",
                                                    "work 100000", "end"}));
}

TEST(Progress, BytesThatCameWithTheHeadAreTheFirstPiece)
{
    ScriptedServer server;
    const std::string data(100000, 'd');
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + data.substr(0, 1000))
                             .wait(Millis(100))
                             .send(data.substr(1000)));
    HttpClient client(ClientSettings::configured());
    EventLog log;
    log.attach(client);
    MemoryStream body;
    client.GetToStream(server.url("/f"), body);
    EXPECT_EQ(body.bytes(), data);
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 100000", "work 1000", "work 33768", "work 66536",
                                                    "work 99304", "work 100000", "end"}));
}

TEST(Progress, ARedirectBodyIsATransferOfItsOwn)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(lengthReply("HTTP/1.1 302 Found", "moved", {"Location: /file"}))
                             .reply200("abc"));
    HttpClient client(ClientSettings::configured());
    EventLog log;
    log.attach(client);
    MemoryStream body;
    client.GetToStream(server.url("/start"), body);
    EXPECT_EQ(body.bytes(), "abc");
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 5", "work 5", "end", "begin 3", "work 3", "end"}));
}

TEST(Progress, ADroppedUntilCloseBodyFiresBeginAndEndOnly)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(reply("HTTP/1.1 500 Oops", {}, "broken")).close());
    HttpClient client(ClientSettings::configured());
    EventLog log;
    log.attach(client);
    MemoryStream body;
    client.GetToStream(server.url("/x"), body);
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 0", "end"}));
}

TEST(Progress, NoEventsWithoutABody)
{
    for (const std::string& text : {lengthReply("HTTP/1.1 200 OK", ""), reply("HTTP/1.1 204 No Content", {}),
                                    reply("HTTP/1.1 304 Not Modified", {"Content-Length: 10"})}) {
        ScriptedServer server;
        server.addConnection(ConnectionScript().expectHead().send(text));
        HttpClient client(ClientSettings::configured());
        EventLog log;
        log.attach(client);
        MemoryStream body;
        client.GetToStream(server.url("/e"), body);
        EXPECT_TRUE(log.events.empty()) << text;
    }
}

TEST(Progress, ARedirectWithoutBodyDataWithinFiveSecondsHasNoTransfer)
{
    ScriptedServer server;
    // The redirect announces a body that never comes; the server then closes.
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(reply("HTTP/1.1 302 Found", {"Location: /next", "Content-Length: 4"}))
                             .wait(Millis(5600))
                             .close());
    server.addConnection(ConnectionScript().reply200("next"));
    HttpClient client(ClientSettings::configured());
    EventLog log;
    log.attach(client);
    MemoryStream body;
    client.GetToStream(server.url("/start"), body);
    EXPECT_EQ(body.bytes(), "next");
    EXPECT_EQ(log.events, (std::vector<std::string>{"begin 4", "work 4", "end"}));
    EXPECT_EQ(server.connectionCount(), 2u);
}

// A destination that records the size hint it was given.
class HintStream : public ByteStream {
public:
    int64_t position() const override { return inner.position(); }
    void write(const char* data, size_t size) override { inner.write(data, size); }
    void truncate(int64_t size) override { inner.truncate(size); }
    void reserve(int64_t bytes) override { hint = bytes; }
    MemoryStream inner;
    int64_t hint = -1;
};

TEST(HostileReplies, AHugeContentLengthIsNoAllocation)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 4611686018427387904\r\n\r\n0123456789")
                             .close());
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 4611686018427387904\r\n\r\nabc")
                             .close());
    HttpClient client(ClientSettings::configured());
    EventLog log;
    log.attach(client);
    HintStream hinted;
    client.GetToStream(server.url("/a"), hinted);
    EXPECT_EQ(hinted.inner.bytes(), "0123456789");
    EXPECT_GT(hinted.hint, 0);
    EXPECT_LE(hinted.hint, 64 * 1024 * 1024);
    EXPECT_EQ(log.events.front(), "begin 4611686018427387904");
    MemoryStream memory;
    client.GetToStream(server.url("/b"), memory);
    EXPECT_EQ(memory.bytes(), "abc");
    EXPECT_LE(memory.bytes().capacity(), 64u * 1024 * 1024);
}

TEST(IdlePumpTest, OnlyOneCanExist)
{
    IdlePump pump([] {}, [] { return true; });
    try {
        IdlePump second([] {}, [] { return true; });
        FAIL() << "second pump made";
    } catch (const HttpError& error) {
        EXPECT_STREQ(error.what(), "Only one TIdAntiFreeze can exist per application.");
    }
}

// How often the idle pump ran on this thread while one request to the server read `expected`.
int pumpsDuringRequest(ScriptedServer& server, const std::string& expected)
{
    HttpClient client(ClientSettings::configured());
    bool requestOver = false;
    int pumped = 0;
    const auto windowThread = std::this_thread::get_id();
    IdlePump pump([&] { pumped += requestOver ? 0 : 1; }, [&] { return std::this_thread::get_id() == windowThread; });
    MemoryStream body;
    client.GetToStream(server.url("/body"), body);
    requestOver = true;
    EXPECT_EQ(body.bytes(), expected);
    return pumped;
}

TEST(IdlePumpTest, RunsWhileASlowServerDrips)
{
    ScriptedServer server;
    const std::string data(3000, 's');
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .wait(Millis(600))
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n")
                             .drip(data, 1000, Millis(300)));
    EXPECT_GE(pumpsDuringRequest(server, data), 2);
}

// A byte every 50 ms is never 250 ms of silence, and 40 bytes make no full piece: the pump
// still runs every idle time-out or so (about eight times in the two seconds).
TEST(IdlePumpTest, RunsWhileBytesTrickleInFasterThanItsIdleTime)
{
    ScriptedServer server;
    const std::string data(40, 't');
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n")
                             .drip(data, 1, Millis(50)));
    EXPECT_GE(pumpsDuringRequest(server, data), 4);
}

TEST(IdlePumpTest, DoesNotRunOffTheWindowThreadOrWhenInactive)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().wait(Millis(600)).send(lengthReply("HTTP/1.1 200 OK", "x")));
    server.addConnection(ConnectionScript().expectHead().wait(Millis(600)).send(lengthReply("HTTP/1.1 200 OK", "y")));
    int pumped = 0;
    IdlePump pump([&] { ++pumped; }, [] { return false; });
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/1"), body);
    EXPECT_EQ(pumped, 0);
}

TEST(IdlePumpTest, ANestedRequestOnTheBusyClientIsRefused)
{
    ScriptedServer server;
    server.addConnection(
        ConnectionScript().expectHead().wait(Millis(600)).send(lengthReply("HTTP/1.1 200 OK", "outer")));
    HttpClient client(ClientSettings::configured());
    std::string nestedKind;
    const auto windowThread = std::this_thread::get_id();
    IdlePump pump(
        [&] {
            if (!nestedKind.empty())
                return;
            MemoryStream nested;
            try {
                client.GetToStream(server.url("/nested"), nested);
                nestedKind = "none";
            } catch (const HttpError& error) {
                nestedKind = error.kindName();
            }
        },
        [&] { return std::this_thread::get_id() == windowThread; });
    MemoryStream body;
    client.GetToStream(server.url("/outer"), body);
    EXPECT_EQ(nestedKind, "EIdClientBusy");
    EXPECT_EQ(body.bytes(), "outer");
    EXPECT_EQ(server.requestHeads().size(), 1u);
}

} // namespace

namespace {

// A listener whose accept queue is full: further connects wait for the SYN to be answered.
TEST(IdlePumpTest, RunsWhileAConnectIsAwaited)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    HttpClient client(ClientSettings::configured());
    int pumped = 0;
    const auto windowThread = std::this_thread::get_id();
    IdlePump pump(
        [&] {
            if (++pumped == 4)
                client.abort();
        },
        [&] { return std::this_thread::get_id() == windowThread; });
    MemoryStream body;
    std::string kind;
    try {
        client.GetToStream("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/", body);
    } catch (const HttpError& error) {
        kind = error.kindName();
    }
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
    EXPECT_EQ(kind, "EIdRequestAborted");
    EXPECT_EQ(pumped, 4);
}

} // namespace
