#include "catalogue/link_extraction.h"

#include "http/http_error.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace vornel::catalogue {
namespace {

using test::ConnectionScript;
using test::Route;
using test::ScriptedServer;
using Links = std::vector<std::pair<std::string, std::string>>;

// The pair lists of the window: both grow together through the sink.
struct Collected {
    Links links;
    LinkSink sink()
    {
        return [this](const std::string& url, const std::string& text) { links.emplace_back(url, text); };
    }
};

Route htmlRoute(std::string body, int status = 200)
{
    Route route;
    route.body = std::move(body);
    route.contentType = "text/html; charset=utf-8";
    route.status = status;
    return route;
}

std::string numberedAnchors(int count)
{
    std::string html;
    for (int i = 0; i < count; ++i)
        html += "<li><a href=\"/t/" + std::to_string(i) + "\">Track " + std::to_string(i) + "</a></li>\n";
    return html;
}

TEST(GetLinks, ListsEveryAnchorOfAServedPageAgainstAPortlessBase)
{
    ScriptedServer server;
    server.addRoute(
        "/", htmlRoute("<!DOCTYPE html><html><head><title>Catalogue</title><script>var x='<a href=/no>';</script>"
                       "</head><body><h1>Songs</h1><ul>"
                       "<li><a href=\"http://127.0.0.2:8691/file/1\"><b>Artist</b> &ndash; <i>Title</i></a></li>"
                       "<li><a href=\"/page/2/\">older&nbsp;posts</a></li>"
                       "<li><a href=\"#top\">top</a></li>"
                       "<li><a href=\"song.html\">bare name</a></li>"
                       "<li><a>no target</a></li>"
                       "<li><a href=\"\">empty target</a></li>"
                       "<li><a href=\"/x\"><img src=cover.jpg></a></li>"
                       "<li><a href=\"mailto:me@example.org\">mail</a></li>"
                       "<li><a href=\"HTTPS://LOUD.EXAMPLE/\">loud</a></li>"
                       "</ul></body></html>"));

    Collected got;
    GetLinks(server.url("/"), got.sink());

    const std::string base = "http://127.0.0.1";
    const Links expected{
        {"http://127.0.0.2:8691/file/1", "Artist \xE2\x80\x93 Title"},
        {base + "/page/2/", "older\xC2\xA0posts"},
        {base + "#top", "top"},
        {base + "song.html", "bare name"},
        {base, "no target"},
        {base, "empty target"},
        {base + "/x", ""},
        {base + "mailto:me@example.org", "mail"},
        {base + "HTTPS://LOUD.EXAMPLE/", "loud"},
    };
    EXPECT_EQ(got.links, expected);
}

TEST(GetLinks, PageWithoutAnchorsAppendsNothing)
{
    ScriptedServer server;
    server.addRoute("/", htmlRoute("<html><body><p>empty</p></body></html>"));
    Collected got;
    GetLinks(server.url("/"), got.sink());
    EXPECT_TRUE(got.links.empty());
}

TEST(GetLinks, ErrorStatusIsAFailureAndAppendsNothing)
{
    ScriptedServer server;
    server.addRoute("/gone/", htmlRoute("<a href=/x>not for us</a>", 404));
    Collected got;
    EXPECT_THROW(GetLinks(server.url("/gone/"), got.sink()), http::ProtocolError);
    EXPECT_TRUE(got.links.empty());
}

TEST(GetLinks, RedirectIsAFailureAndIsNotFollowed)
{
    ScriptedServer server;
    Route moved = htmlRoute("<a href=/x>moved</a>", 302);
    moved.extraHeaders = {"Location: " + server.url("/elsewhere")};
    server.addRoute("/", moved);
    server.addRoute("/elsewhere", htmlRoute("<a href=/y>there</a>"));
    Collected got;
    EXPECT_THROW(GetLinks(server.url("/"), got.sink()), http::HttpError);
    EXPECT_TRUE(got.links.empty());
    EXPECT_EQ(server.requestHeads().size(), 1u);
}

TEST(GetLinks, RefusedConnectionIsAFailure)
{
    std::string url;
    {
        ScriptedServer server;
        url = server.url("/");
    }
    Collected got;
    EXPECT_THROW(GetLinks(url, got.sink()), http::HttpError);
    EXPECT_TRUE(got.links.empty());
}

TEST(GetLinks, BodyCutShortByACloseGivesTheAnchorsThatArrived)
{
    const std::string whole = "<html><body><ul>" + numberedAnchors(6) + "</ul></body></html>";
    const std::string cutAfter = "Track 2</a>";
    const std::string sent = whole.substr(0, whole.find(cutAfter) + cutAfter.size());
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                   std::to_string(whole.size()) + "\r\n\r\n" + sent)
                             .close());

    Collected got;
    GetLinks(server.url("/"), got.sink());
    const Links expected{
        {"http://127.0.0.1/t/0", "Track 0"}, {"http://127.0.0.1/t/1", "Track 1"}, {"http://127.0.0.1/t/2", "Track 2"}};
    EXPECT_EQ(got.links, expected);
}

TEST(GetLinks, BodyCutByAResetFailsWholeOrGivesPairedLinks)
{
    const std::string whole = "<ul>" + numberedAnchors(6) + "</ul>";
    const std::string sent = whole.substr(0, whole.find("Track 3"));
    ScriptedServer server;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                   std::to_string(whole.size()) + "\r\n\r\n" + sent)
                             .wait(test::Millis(100))
                             .reset());

    Collected got;
    try {
        GetLinks(server.url("/"), got.sink());
    } catch (const http::HttpError& error) {
        RecordProperty("outcome", std::string("failed: ") + error.what());
        EXPECT_TRUE(got.links.empty()) << "a failed request must not append anything";
        return;
    }
    RecordProperty("outcome", "delivered " + std::to_string(got.links.size()) + " pairs");
    // The page as far as it came: every pair still belongs together.
    ASSERT_EQ(got.links.size(), 4u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(got.links[i], (std::pair<std::string, std::string>{"http://127.0.0.1/t/" + std::to_string(i),
                                                                     "Track " + std::to_string(i)}));
    EXPECT_EQ(got.links[3].first, "http://127.0.0.1/t/3");
}

TEST(GetLinks, FailureWhileAppendingKeepsTheEarlierPairs)
{
    ScriptedServer server;
    server.addRoute("/", htmlRoute(numberedAnchors(5)));
    Links appended;
    auto sink = [&](const std::string& url, const std::string& text) {
        if (appended.size() == 2)
            throw std::runtime_error("list full");
        appended.emplace_back(url, text);
    };
    EXPECT_THROW(GetLinks(server.url("/"), sink), std::runtime_error);
    const Links expected{{"http://127.0.0.1/t/0", "Track 0"}, {"http://127.0.0.1/t/1", "Track 1"}};
    EXPECT_EQ(appended, expected);
}

TEST(GetLinks, DecodesThePageByItsCharacterSet)
{
    ScriptedServer server;
    Route latin = htmlRoute("<a href=/caf\xE9>Caf\xE9 &amp; Cr\xE8me</a>");
    latin.contentType = "text/html; charset=ISO-8859-1";
    server.addRoute("/", latin);
    Collected got;
    GetLinks(server.url("/"), got.sink());
    const Links expected{{"http://127.0.0.1/caf\xC3\xA9", "Caf\xC3\xA9 & Cr\xC3\xA8me"}};
    EXPECT_EQ(got.links, expected);
}

TEST(PageBase, SchemeAndHostOnly)
{
    EXPECT_EQ(pageBase("http://127.0.0.1:8690/"), "http://127.0.0.1");
    EXPECT_EQ(pageBase("https://user:pw@cat.example:8443/page/2/?x=1#f"), "https://cat.example");
    EXPECT_EQ(pageBase("http://cat.example"), "http://cat.example");
    EXPECT_EQ(pageBase("http://[::1]:8690/page/2/"), "http://[::1]");
}

} // namespace
} // namespace vornel::catalogue
