// Link extraction on a thread of its own: the same links as GetLinks, a request that an
// abort or the job's end breaks off, and the page deadline of its client.
#include "catalogue/link_extraction_job.h"

#include "http/http_error.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vornel::catalogue {
namespace {

using test::ConnectionScript;
using test::Millis;
using test::Route;
using test::ScriptedServer;
using Links = std::vector<std::pair<std::string, std::string>>;

Route htmlRoute(std::string body)
{
    return Route{std::move(body), "text/html; charset=utf-8"};
}

Links pairsOf(const std::vector<PageLink>& links)
{
    Links pairs;
    for (const PageLink& link : links)
        pairs.emplace_back(link.url, link.text);
    return pairs;
}

// The kind of the failure that take() throws, or "none".
std::string failureKindOf(LinkExtractionJob& job)
{
    try {
        job.take();
    } catch (const http::HttpError& error) {
        return std::string(error.kindName());
    }
    return "none";
}

// A reply whose head arrives and whose body then trickles for five minutes.
ConnectionScript tricklingPage()
{
    const std::string body(3000, ' ');
    return ConnectionScript()
        .expectHead()
        .send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\n\r\n")
        .drip(body, 1, Millis(100));
}

TEST(LinkExtractionJob, GivesTheLinksThatGetLinksGives)
{
    ScriptedServer server;
    server.addRoute("/",
                    htmlRoute("<p><a href=\"http://127.0.0.2:8691/file/1\">One &amp; <b>two</b></a>"
                              "<a href=\"/page/2/\">older</a><a>no target</a><a href=\"x.html\">\xC3\xA9</a></p>"));
    Links direct;
    GetLinks(server.url("/"), [&](const std::string& url, const std::string& text) { direct.emplace_back(url, text); });
    LinkExtractionJob job(server.url("/"));
    EXPECT_EQ(pairsOf(job.take()), direct);
    EXPECT_EQ(direct.size(), 4u);
}

TEST(LinkExtractionJob, AFailureOfItsRequestIsThrownByTake)
{
    ScriptedServer server;
    server.addRoute("/gone", Route{"", "text/html", 404});
    LinkExtractionJob job(server.url("/gone"));
    EXPECT_THROW(job.take(), http::ProtocolError);
}

TEST(LinkExtractionJob, AbortBreaksOffATricklingPage)
{
    ScriptedServer server;
    server.addConnection(tricklingPage());
    LinkExtractionJob job(server.url("/"));
    ASSERT_FALSE(job.waitFor(Millis(300))) << "the page cannot have ended yet";
    job.abort();
    EXPECT_EQ(failureKindOf(job), "EIdRequestAborted");
}

TEST(LinkExtractionJob, DroppingTheJobBreaksOffItsRequest)
{
    ScriptedServer server;
    server.addConnection(tricklingPage());
    {
        LinkExtractionJob job(server.url("/"));
        ASSERT_FALSE(job.waitFor(Millis(300)));
    }
    // The trickle would go on for minutes; the server's drip ends when the client closes.
    EXPECT_TRUE(server.waitForFinishedConnections(1, Millis(60000)));
}

TEST(LinkExtractionJob, ItsClientEndsAPageByTheDeadline)
{
    const http::ClientSettings settings = linkPageClientSettings();
    EXPECT_EQ(settings.requestDeadlineMs, http::kPageRequestDeadlineMs);
    EXPECT_FALSE(settings.handleRedirects);
    ScriptedServer server;
    server.addConnection(tricklingPage());
    http::ClientSettings shortened = settings;
    shortened.requestDeadlineMs = 500;
    LinkExtractionJob job(server.url("/"), shortened);
    EXPECT_EQ(failureKindOf(job), "EIdReadTimeout");
}

} // namespace
} // namespace vornel::catalogue
