// Replies meant to hang the client, exhaust its memory or inject into its requests: each
// ends in a defined failure or a clean request.
#include "http/http_client.h"
#include "http/idle_pump.h"
#include "tests/http/endless_server.h"
#include "tests/http/request_failure.h"
#include "tests/support/peak_memory.h"
#include "tests/support/sanitizer_build.h"
#include "tests/http/wire_helpers.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::HttpClient;
using vornel::http::MemoryStream;
using vornel::http::ProtocolError;

constexpr int64_t kMiB = 1024 * 1024;

constexpr bool kSanitized = vornel::test::kSanitizerBuild;

int64_t peakResidentBytes()
{
    return static_cast<int64_t>(vornel::test::peakKilobytes()) * 1024;
}

TEST(ReadBound, ASilentServerTimesOut)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().wait(Millis(3000)));
    ClientSettings settings = ClientSettings::configured();
    settings.readTimeoutMs = 300;
    HttpClient client(settings);
    MemoryStream body;
    EXPECT_EQ(failureOf(client, server.url("/silent"), body).text(), "EIdReadTimeout: Read timed out.");
}

TEST(ReadBound, ABodyThatStopsHalfWayTimesOut)
{
    ScriptedServer server;
    server.addConnection(
        ConnectionScript().expectHead().send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc").wait(Millis(3000)));
    ClientSettings settings = ClientSettings::configured();
    settings.readTimeoutMs = 300;
    HttpClient client(settings);
    MemoryStream body;
    EXPECT_EQ(failureOf(client, server.url("/stall"), body).text(), "EIdReadTimeout: Read timed out.");
    EXPECT_EQ(body.bytes(), "abc");
}

TEST(ReadBound, DataArrivingSlowerThanTheBoundInTotalIsNoTimeOut)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n")
                             .drip("hello", 1, Millis(150)));
    ClientSettings settings = ClientSettings::configured();
    settings.readTimeoutMs = 400;
    HttpClient client(settings);
    MemoryStream body;
    EXPECT_EQ(failureOf(client, server.url("/drip"), body).text(), "none");
    EXPECT_EQ(body.bytes(), "hello");
}

struct EndlessCase {
    const char* name;
    std::string opening;
    std::string piece;
    std::string failure;
};

void PrintTo(const EndlessCase& param, std::ostream* out)
{
    *out << param.name;
}

class EndlessReply : public ::testing::TestWithParam<EndlessCase> {};

// Each case runs in a process of its own (ctest), so the peak is this reply's.
TEST_P(EndlessReply, FailsWithMemoryFarBelowTheBounds)
{
    const EndlessCase& param = GetParam();
    EndlessServer server(param.opening, param.piece);
    HttpClient client(ClientSettings::configured());
    MemoryStream body;
    EXPECT_EQ(failureOf(client, server.url(), body).text(), param.failure);
    const int64_t peak = peakResidentBytes();
    std::printf("peak resident %.1f MiB after %.1f MiB sent\n", double(peak) / kMiB, double(server.sent()) / kMiB);
    if (kSanitized)
        std::printf("peak not checked: the sanitizer's shadow memory counts too\n");
    else
        EXPECT_LT(peak, 32 * kMiB + 32 * kMiB);
}

const std::string kChunk32k = "8000\r\n" + std::string(32768, 'c') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Hostile, EndlessReply,
    ::testing::Values(
        EndlessCase{"ChunkedBody", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", kChunk32k,
                    "EIdBodyTooLarge: Reply body too large."},
        EndlessCase{"OneHugeChunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7fffffffffff\r\n",
                    std::string(65536, 'c'), "EIdBodyTooLarge: Reply body too large."},
        EndlessCase{"UntilCloseBody", "HTTP/1.1 200 OK\r\n\r\n", std::string(65536, 'u'),
                    "EIdBodyTooLarge: Reply body too large."},
        EndlessCase{"ShortHeaderLines", "HTTP/1.1 200 OK\r\n", "X-Filler: " + std::string(100, 'h') + "\r\n",
                    "EIdBodyTooLarge: Reply body too large."},
        EndlessCase{"LongHeaderLines", "HTTP/1.1 200 OK\r\n", "X-Filler: " + std::string(16000, 'h') + "\r\n",
                    "EIdHeaderBlockTooLarge: Reply header block too large."},
        EndlessCase{"ChunkedTrailer", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n",
                    "X-Trailer: " + std::string(1000, 't') + "\r\n",
                    "EIdHeaderBlockTooLarge: Reply header block too large."},
        EndlessCase{"DroppedErrorBody", "HTTP/1.1 404 Not Found\r\n\r\n", std::string(65536, 'e'),
                    "EIdBodyTooLarge: Reply body too large."},
        EndlessCase{"DroppedRedirectBody",
                    "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nTransfer-Encoding: chunked\r\n\r\n", kChunk32k,
                    "EIdBodyTooLarge: Reply body too large."},
        EndlessCase{"InterimReplies", "", "HTTP/1.1 100 Continue\r\nX-Filler: " + std::string(100, 'i') + "\r\n\r\n",
                    "EIdHeaderBlockTooLarge: Reply header block too large."}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(BodyBound, ABodyOfExactlyTheBoundIsKeptAndOneByteMoreFails)
{
    ScriptedServer server;
    const std::string exact(1000, 'e');
    // The first reply closes its connection, so the second request cannot race that close.
    server.addConnection(ConnectionScript().expectHead().send(
        "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n" + exact));
    server.addConnection(ConnectionScript().reply200(exact + "!"));
    ClientSettings settings = ClientSettings::configured();
    settings.maxBodyInMemory = 1000;
    HttpClient client(settings);
    MemoryStream kept;
    EXPECT_EQ(failureOf(client, server.url("/exact"), kept).text(), "none");
    EXPECT_EQ(kept.bytes(), exact);
    MemoryStream refused;
    EXPECT_EQ(failureOf(client, server.url("/over"), refused).text(), "EIdBodyTooLarge: Reply body too large.");
}

TEST(BodyBound, AChunkSizeBeyondTheBoundFailsBeforeItsData)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n1000\r\nxy")
                             .wait(Millis(3000)));
    ClientSettings settings = ClientSettings::configured();
    settings.maxBodyInMemory = 100;
    HttpClient client(settings);
    MemoryStream body;
    EXPECT_EQ(failureOf(client, server.url("/c"), body).text(), "EIdBodyTooLarge: Reply body too large.");
    EXPECT_EQ(body.bytes(), "abc");
}

TEST(StatusLine, ANulByteShowsAsAPlaceholderInTheMessage)
{
    ScriptedServer server;
    server.addConnection(
        ConnectionScript().expectHead().send(lengthReply(std::string("\0HTTP/1.1 404 N\x01o", 17), "")));
    HttpClient client;
    MemoryStream body;
    try {
        client.GetToStream(server.url("/nul"), body);
        FAIL() << "no failure";
    } catch (const ProtocolError& error) {
        EXPECT_STREQ(error.what(), "\xEF\xBF\xBDHTTP/1.1 404 N\xEF\xBF\xBDo");
        EXPECT_EQ(error.statusCode(), 404);
    }
}

// What reaches the server's request line and header lines when outside text holds line breaks.
struct InjectionCase {
    const char* name;
    std::string location; // "" : the URL itself carries the text
    std::string urlTail;
    std::string expectedSecondRequestLine;
};

void PrintTo(const InjectionCase& param, std::ostream* out)
{
    *out << param.name;
}

class HeaderInjection : public ::testing::TestWithParam<InjectionCase> {};

TEST_P(HeaderInjection, NoLineBreakOrNulReachesTheHead)
{
    const InjectionCase& param = GetParam();
    ScriptedServer server;
    if (!param.location.empty())
        server.addConnection(ConnectionScript().expectHead().send(
            lengthReply("HTTP/1.1 302 Found", "", {"Location: " + param.location, "Connection: close"})));
    server.addConnection(ConnectionScript().reply200("done"));
    HttpClient client(ClientSettings::configured());
    MemoryStream body;
    client.GetToStream(server.url(param.urlTail), body);
    const std::vector<std::string> heads = server.requestHeads();
    ASSERT_FALSE(heads.empty());
    const std::string& last = heads.back();
    EXPECT_EQ(last.substr(0, last.find("\r\n")), param.expectedSecondRequestLine);
    EXPECT_EQ(last.find('\0'), std::string::npos);
    size_t lines = 0;
    for (size_t at = last.find('\n'); at != std::string::npos; at = last.find('\n', at + 1))
        ++lines;
    EXPECT_EQ(lines, 5u) << last; // request line, Host, Accept, User-Agent, blank line
}

INSTANTIATE_TEST_SUITE_P(
    Outside, HeaderInjection,
    ::testing::Values(InjectionCase{"LocationWithBareCr", "/x?Injected\r: 1", "/start", "GET /x?Injected?: 1 HTTP/1.1"},
                      InjectionCase{"LocationWithNul", std::string("/x?Injected\0: 1", 15), "/start",
                                    "GET /x?Injected?: 1 HTTP/1.1"},
                      InjectionCase{"UrlWithLf", "", "/x?Injected\n: 1", "GET /x?Injected?: 1 HTTP/1.1"}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace

namespace {

// The window's pump belongs to the window thread: a request on another thread (the audio
// engine's downloads) never runs it, even while the pump exists and says yes to everyone.
TEST(IdlePumpThreads, ARequestOnAnotherThreadNeverReachesThePump)
{
    using vornel::http::IdlePump;
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .wait(Millis(700))
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab")
                             .wait(Millis(400))
                             .send("cd"));
    std::mutex mutex;
    std::vector<std::thread::id> pumpedOn;
    IdlePump pump(
        [&] {
            std::lock_guard lock(mutex);
            pumpedOn.push_back(std::this_thread::get_id());
        },
        [] { return true; });
    pump.idleTimeoutMs = 50;
    std::string outcome;
    std::thread::id worker;
    std::thread request([&] {
        worker = std::this_thread::get_id();
        HttpClient client(ClientSettings::configured());
        MemoryStream body;
        client.GetToStream(server.url("/engine"), body);
        outcome = body.bytes();
    });
    request.join();
    EXPECT_EQ(outcome, "abcd");
    std::lock_guard lock(mutex);
    EXPECT_EQ(std::count(pumpedOn.begin(), pumpedOn.end(), worker), 0);
}

// The window makes and destroys its pump while a download thread waits for data; under
// ThreadSanitizer or AddressSanitizer any read of a destroyed pump shows.
TEST(IdlePumpThreads, PumpsComeAndGoWhileAnotherThreadWaits)
{
    using vornel::http::IdlePump;
    ScriptedServer server;
    server.addConnection(
        ConnectionScript().expectHead().wait(Millis(600)).send(lengthReply("HTTP/1.1 200 OK", "late")));
    std::atomic<bool> done{false};
    std::string outcome;
    std::thread request([&] {
        HttpClient client(ClientSettings::configured());
        MemoryStream body;
        client.GetToStream(server.url("/engine"), body);
        outcome = body.bytes();
        done = true;
    });
    int made = 0;
    while (!done) {
        auto pump = std::make_unique<IdlePump>([] {}, [] { return true; });
        pump->idleTimeoutMs = 1;
        ++made;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    request.join();
    EXPECT_EQ(outcome, "late");
    EXPECT_GT(made, 10);
}

TEST(IdlePumpThreads, TheMakingThreadStillRunsIt)
{
    using vornel::http::IdlePump;
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().wait(Millis(400)).send(lengthReply("HTTP/1.1 200 OK", "ok")));
    int pumped = 0;
    IdlePump pump([&] { ++pumped; }, [] { return true; });
    HttpClient client(ClientSettings::configured());
    MemoryStream body;
    client.GetToStream(server.url("/window"), body);
    EXPECT_EQ(body.bytes(), "ok");
    EXPECT_GE(pumped, 1);
}

} // namespace
