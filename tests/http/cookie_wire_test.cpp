// Cookies over the wire: what a hostile reply can make the client send next.
#include "http/byte_stream.h"
#include "http/cookie_store.h"
#include "http/http_client.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <string>
#include <vector>

using vornel::http::ClientSettings;
using vornel::http::CookieStore;
using vornel::http::HttpClient;
using vornel::http::MemoryStream;
using vornel::test::Route;
using vornel::test::ScriptedServer;

namespace {

// The Cookie header line of a request head, without its line end; empty when there is none.
std::string cookieLine(const std::string& head)
{
    const size_t start = head.find("\r\nCookie: ");
    if (start == std::string::npos)
        return {};
    return head.substr(start + 2, head.find("\r\n", start + 2) - start - 2);
}

size_t cookiesIn(const std::string& line)
{
    return line.empty() ? 0 : 1 + static_cast<size_t>(std::count(line.begin(), line.end(), ';'));
}

// The lines of each reply's Set-Cookie flood, then the head of one more request.
std::string headAfterReplies(const std::vector<std::vector<std::string>>& replies)
{
    ScriptedServer server;
    for (size_t r = 0; r < replies.size(); ++r)
        server.addRoute("/set" + std::to_string(r), Route{"ok", "text/plain", 200, replies[r]});
    server.addRoute("/next", Route{"ok"});
    ClientSettings settings = ClientSettings::configured();
    settings.maxHeaderLines = 50000;
    HttpClient client(settings);
    MemoryStream body;
    for (size_t r = 0; r < replies.size(); ++r)
        client.GetToStream(server.url("/set" + std::to_string(r)), body);
    client.GetToStream(server.url("/next"), body);
    return server.requestHeads().back();
}

std::vector<std::string> setCookieLines(size_t count, const std::string& prefix, size_t valueBytes)
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < count; ++i)
        lines.push_back("Set-Cookie: " + prefix + std::to_string(i) + "=" + std::string(valueBytes, 'v'));
    return lines;
}

// The replies are made when the case runs, not when the tests are listed: held for the
// whole run they would count in the peak memory of every other test in this program.
using Replies = std::vector<std::vector<std::string>>;

struct FloodCase {
    std::string label;
    std::function<Replies()> replies;
    size_t cookiesSent;
    size_t headerBound;
};

std::ostream& operator<<(std::ostream& out, const FloodCase& c)
{
    return out << c.label;
}

class CookieFlood : public testing::TestWithParam<FloodCase> {};

TEST_P(CookieFlood, NextRequestCarriesABoundedHeader)
{
    const FloodCase& c = GetParam();
    const std::string line = cookieLine(headAfterReplies(c.replies()));
    EXPECT_EQ(cookiesIn(line), c.cookiesSent);
    EXPECT_LE(line.size(), c.headerBound);
}

std::vector<std::vector<std::string>> tenRepliesOfLargeCookies()
{
    std::vector<std::vector<std::string>> replies;
    // 50 per reply keeps each head block under the client's 1 MiB bound.
    for (int r = 0; r < 10; ++r)
        replies.push_back(setCookieLines(50, "r" + std::to_string(r) + "c", 16000));
    return replies;
}

const size_t kPerDomain = CookieStore::kMaxCookiesPerDomain;

INSTANTIATE_TEST_SUITE_P(
    Cookie, CookieFlood,
    testing::Values(FloodCase{"FortyThousandInOneReply", [] { return Replies{setCookieLines(40000, "c", 4)}; },
                              kPerDomain, kPerDomain * 24},
                    FloodCase{"TenRepliesOfSixteenKilobyteCookies", tenRepliesOfLargeCookies, 0, 0},
                    FloodCase{"CookiesAtTheSizeBound",
                              [] { return Replies{setCookieLines(200, "c", CookieStore::kMaxNameAndValueBytes - 4)}; },
                              kPerDomain, kPerDomain*(CookieStore::kMaxNameAndValueBytes + 3) + 8}),
    [](const testing::TestParamInfo<FloodCase>& test) { return test.param.label; });

TEST(CookieWire, LineBreaksInASetCookieNeverReachTheNextHead)
{
    const std::string head =
        headAfterReplies({{"Set-Cookie: s=1\rX-Injected: 2", std::string("Set-Cookie: t=\"a\0\rb\"", 20)}});
    EXPECT_EQ(cookieLine(head), "Cookie: s=1?X-Injected: 2; t=a??b");
    EXPECT_EQ(head.find("\r\nX-Injected"), std::string::npos);
    EXPECT_EQ(head.find('\n'), head.find("\r\n") + 1) << "only CRLF line ends";
    size_t lineFeeds = std::count(head.begin(), head.end(), '\n');
    size_t lineEnds = 0;
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2))
        ++lineEnds;
    EXPECT_EQ(lineFeeds, lineEnds);
    EXPECT_EQ(std::count(head.begin(), head.end(), '\r'), static_cast<std::ptrdiff_t>(lineEnds));
}

} // namespace
