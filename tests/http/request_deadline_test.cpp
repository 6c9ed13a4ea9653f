// The whole-request deadline: a server that trickles bytes cannot hold a page request
// beyond it, while the per-byte bound alone would let it run on.
#include "http/http_client.h"
#include "tests/http/request_failure.h"
#include "tests/http/wire_helpers.h"

#include <gtest/gtest.h>

namespace {

using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::HttpClient;
using vornel::http::HttpError;
using vornel::http::MemoryStream;

const std::string kBody(40, 'x');

struct TrickleCase {
    const char* name;
    bool dripHead;  // the status line and headers trickle, not only the body
    int deadlineMs; // 0: none
    bool expectTimeout;
};

void PrintTo(const TrickleCase& c, std::ostream* out)
{
    *out << c.name;
}

class TrickleTest : public ::testing::TestWithParam<TrickleCase> {};

// Every 100 ms one byte: well within the per-byte bound of 1 s, and 40 body bytes alone
// take 4 s, four times the deadline.
TEST_P(TrickleTest, EndsByTheDeadlineOnlyWhenOneIsSet)
{
    const TrickleCase& c = GetParam();
    ScriptedServer server;
    const std::string answer = lengthReply("HTTP/1.1 200 OK", kBody, {"Content-Type: text/html"});
    if (c.dripHead) {
        server.addConnection(ConnectionScript().expectHead().drip(answer, 1, Millis(100)));
    } else {
        const size_t headLength = answer.size() - kBody.size();
        server.addConnection(
            ConnectionScript().expectHead().send(answer.substr(0, headLength)).drip(kBody, 1, Millis(100)));
    }
    ClientSettings settings = ClientSettings::configured();
    settings.readTimeoutMs = 1000;
    settings.requestDeadlineMs = c.deadlineMs;
    HttpClient client(settings);
    MemoryStream body;
    const RequestFailure failure = failureOf(client, server.url("/page"), body);
    if (c.expectTimeout) {
        EXPECT_EQ(failure.text(), "EIdReadTimeout: Read timed out.");
        EXPECT_LT(body.bytes().size(), kBody.size());
    } else {
        EXPECT_EQ(failure.kind, "none") << failure.message;
        EXPECT_EQ(body.bytes(), kBody);
    }
}

INSTANTIATE_TEST_SUITE_P(Deadline, TrickleTest,
                         ::testing::Values(TrickleCase{"BodyWithoutDeadline", false, 0, false},
                                           TrickleCase{"BodyPastTheDeadline", false, 1000, true},
                                           TrickleCase{"HeadPastTheDeadline", true, 1000, true}),
                         [](const auto& test) { return std::string(test.param.name); });

// The deadline covers the redirects of a request: a slow redirect (at least 0.6 s) and a
// reply that would fit a deadline of its own (0.8 s) together pass 1 s.
TEST(Deadline, RedirectsCountTowardsIt)
{
    ScriptedServer server;
    const std::string redirect =
        lengthReply("HTTP/1.1 302 Found", "", {"Location: " + server.url("/next"), "Connection: close"});
    server.addConnection(ConnectionScript().expectHead().drip(redirect, redirect.size() / 6, Millis(100)));
    const std::string answer = lengthReply("HTTP/1.1 200 OK", "12345678");
    server.addConnection(
        ConnectionScript().expectHead().send(answer.substr(0, answer.size() - 8)).drip("12345678", 1, Millis(100)));
    ClientSettings settings = ClientSettings::configured();
    settings.requestDeadlineMs = 1000;
    HttpClient client(settings);
    MemoryStream body;
    try {
        client.GetToStream(server.url("/first"), body);
        ADD_FAILURE() << "the request ended normally with " << body.bytes();
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kindName(), "EIdReadTimeout");
    }
    EXPECT_EQ(server.requestHeads().size(), 2u) << "the redirect was followed";
}

// Each request has a deadline of its own: one that ran into it leaves the next unharmed.
TEST(Deadline, TheNextRequestGetsAFreshDeadline)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().drip(lengthReply("HTTP/1.1 200 OK", kBody), 1, Millis(100)));
    server.addConnection(ConnectionScript().expectHead().drip(lengthReply("HTTP/1.1 200 OK", "ok"), 1, Millis(20)));
    ClientSettings settings = ClientSettings::configured();
    settings.requestDeadlineMs = 1000;
    HttpClient client(settings);
    MemoryStream first;
    EXPECT_THROW(client.GetToStream(server.url("/slow"), first), HttpError);
    MemoryStream second;
    client.GetToStream(server.url("/quick"), second);
    EXPECT_EQ(second.bytes(), "ok");
}

} // namespace
