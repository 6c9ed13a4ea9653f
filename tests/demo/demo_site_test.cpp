// The demo catalogue's own behaviour: page addresses, the links a page carries, the file
// host's snippet and audio replies, and the HTTP server's keep-alive and request log.
#include "demo/catalogue_site.h"
#include "demo/demo_tracks.h"
#include "demo/file_host.h"
#include "demo/http_server.h"
#include "demo/request_log.h"
#include "demo/track_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

using namespace vornel::demo;
namespace fs = std::filesystem;

using vornel::test::TempFolder;

namespace {

struct Anchor {
    std::string href; // empty when the anchor has no href
    std::string text; // tags removed, entities as written
};

std::vector<Anchor> anchorsOf(const std::string& html)
{
    std::vector<Anchor> anchors;
    const std::regex anchor(R"re(<a(\s+href="([^"]*)")?[^>]*>(.*?)</a>)re");
    const std::regex tag("<[^>]*>");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), anchor); it != std::sregex_iterator(); ++it)
        anchors.push_back({(*it)[2].str(), std::regex_replace((*it)[3].str(), tag, "")});
    return anchors;
}

HttpRequest get(const std::string& target, const std::string& range = {})
{
    HttpRequest r;
    r.method = "GET";
    r.target = target;
    r.version = "HTTP/1.1";
    if (!range.empty())
        r.headers.emplace_back("Range", range);
    return r;
}

std::string headerOf(const HttpResponse& r, const std::string& name)
{
    for (const auto& [key, value] : r.headers)
        if (key == name)
            return value;
    return {};
}

// The address cut out of a file page the way the player does it: from after the opening
// marker to the "mp3" of the closing one.
std::string cutSnippet(const std::string& page)
{
    const std::size_t a = page.find("{mp3:\"");
    const std::size_t b = page.find("mp3\"}");
    if (a == std::string::npos || b == std::string::npos || b < a + 6)
        return {};
    return page.substr(a + 6, b + 3 - (a + 6));
}

} // namespace

TEST(DemoCatalogue, PagePathsMapToNumbers)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"/", 1},        {"/page/1/", 1},          {"/page/2/", 2}, {"/page/3", 3}, {"/page/10/", 10},
        {"/page/0/", 0}, {"/page/02/", 0},         {"/page/x/", 0}, {"/page/", 0},  {"/page/2/x", 0},
        {"/about", 0},   {"/page/1234567890/", 0}, {"", 0}};
    for (const auto& [path, page] : cases)
        EXPECT_EQ(pageNumberOf(path), page) << "path " << path;
}

TEST(DemoCatalogue, EachPageListsTenDistinctFileHostEntriesAmongOtherLinks)
{
    const CatalogueSite site("http://127.0.0.1:8690", "http://127.0.0.2:8691");
    std::set<std::string> allTexts;
    for (int page = 1; page <= kPageCount; ++page) {
        const HttpResponse reply = site.handle(get(page == 1 ? "/" : "/page/" + std::to_string(page) + "/"));
        ASSERT_EQ(reply.status, 200);
        int entries = 0, others = 0, withoutHref = 0;
        for (const Anchor& a : anchorsOf(std::string(reply.body()))) {
            if (a.href.find("127.0.0.2") != std::string::npos) {
                ++entries;
                EXPECT_TRUE(allTexts.insert(a.text).second) << "repeated text " << a.text;
                EXPECT_EQ(a.href.rfind("http://127.0.0.2:8691/file/", 0), 0u) << a.href;
            } else if (a.href.empty()) {
                ++withoutHref;
            } else {
                ++others;
            }
        }
        EXPECT_EQ(entries, kTracksPerPage) << "page " << page;
        EXPECT_GE(others, 4) << "page " << page;
        EXPECT_EQ(withoutHref, 1) << "page " << page;
    }
}

TEST(DemoCatalogue, PagesPastTheLastListNoEntries)
{
    const CatalogueSite site("http://127.0.0.1:8690", "http://127.0.0.2:8691");
    const HttpResponse reply = site.handle(get("/page/4/"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(std::string(reply.body()).find("127.0.0.2"), std::string::npos);
    EXPECT_EQ(site.handle(get("/nothing-here")).status, 404);
}

TEST(DemoTracks, PitchesAreFarEnoughApartToTellTracksApart)
{
    const auto& tracks = demoTracks();
    ASSERT_EQ(tracks.size(), static_cast<std::size_t>(kPageCount * kTracksPerPage));
    for (std::size_t i = 0; i < tracks.size(); ++i)
        for (std::size_t j = i + 1; j < tracks.size(); ++j)
            EXPECT_GE(std::abs(tracks[i].pitchHz - tracks[j].pitchHz), 30)
                << tracks[i].title << " / " << tracks[j].title;
    EXPECT_EQ(findTrack(1)->pitchHz, 330);
    EXPECT_EQ(findTrack(2)->pitchHz, 440);
    EXPECT_TRUE(findTrack(4)->dead);
    EXPECT_FALSE(findTrack(5)->dead);
}

class DemoFileHost : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempFolder("vornel-demo-test");
        files_ = new TrackFiles;
        ASSERT_EQ(files_->prepare(dir_->path() + "/cache", 1), "");
    }
    static void TearDownTestSuite()
    {
        delete files_;
        delete dir_;
    }
    static TempFolder* dir_;
    static TrackFiles* files_;
};
TempFolder* DemoFileHost::dir_ = nullptr;
TrackFiles* DemoFileHost::files_ = nullptr;

TEST_F(DemoFileHost, MakesAnMp3PerLiveTrackAndReusesItNextTime)
{
    int made = 0;
    for (const DemoTrack& t : demoTracks()) {
        const std::string* bytes = files_->bytes(t.id);
        if (t.dead) {
            EXPECT_EQ(bytes, nullptr);
            continue;
        }
        ASSERT_NE(bytes, nullptr) << t.title;
        ASSERT_GT(bytes->size(), 1000u);
        // An MPEG audio frame header: eleven set sync bits.
        EXPECT_EQ(static_cast<unsigned char>((*bytes)[0]), 0xFF);
        EXPECT_EQ(static_cast<unsigned char>((*bytes)[1]) & 0xE0, 0xE0);
        ++made;
    }
    EXPECT_EQ(made, 28);
    const fs::path first = fs::path(dir_->path()) / "cache" / trackFileName(1, 330, 1);
    const auto before = fs::last_write_time(first);
    TrackFiles again;
    ASSERT_EQ(again.prepare(dir_->path() + "/cache", 1), "");
    EXPECT_EQ(fs::last_write_time(first), before);
    EXPECT_EQ(*again.bytes(1), *files_->bytes(1));
}

TEST_F(DemoFileHost, FilePagesCarryTheAudioAddressExceptTheDeadOne)
{
    const FileHost host("http://127.0.0.2:8691", *files_);
    EXPECT_EQ(cutSnippet(std::string(host.handle(get("/file/01")).body())), "http://127.0.0.2:8691/audio/01.mp3");
    EXPECT_EQ(cutSnippet(std::string(host.handle(get("/file/12")).body())), "http://127.0.0.2:8691/audio/12.mp3");
    const HttpResponse dead = host.handle(get("/file/04"));
    EXPECT_EQ(dead.status, 200);
    EXPECT_EQ(std::string(dead.body()).find("{mp3:"), std::string::npos);
    EXPECT_EQ(host.handle(get("/file/99")).status, 404);
    EXPECT_EQ(host.handle(get("/audio/04.mp3")).status, 404);
}

TEST_F(DemoFileHost, AudioRepliesCarryTheWholeFileOrTheAskedRange)
{
    const FileHost host("http://127.0.0.2:8691", *files_);
    const std::string& bytes = *files_->bytes(1);
    const HttpResponse whole = host.handle(get("/audio/01.mp3"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body(), bytes);
    EXPECT_EQ(headerOf(whole, "icy-name"), "Vornel Demo Radio");
    EXPECT_EQ(headerOf(whole, "icy-br"), "128");
    EXPECT_EQ(headerOf(host.handle(get("/audio/02.mp3")), "icy-name"), "");

    const HttpResponse part = host.handle(get("/audio/01.mp3", "bytes=100-199"));
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.body(), bytes.substr(100, 100));
    EXPECT_EQ(headerOf(part, "Content-Range"), "bytes 100-199/" + std::to_string(bytes.size()));
    EXPECT_EQ(host.handle(get("/audio/01.mp3", "bytes=5-")).body(), bytes.substr(5));
}

TEST(DemoHttp, ByteRanges)
{
    struct Case {
        std::string header;
        bool ok;
        std::size_t first, last;
    };
    const std::vector<Case> cases = {
        {"bytes=0-9", true, 0, 9},   {"bytes=10-", true, 10, 99},      {"bytes=90-500", true, 90, 99},
        {"bytes=100-", false, 0, 0}, {"bytes=-10", false, 0, 0},       {"bytes=5-2", false, 0, 0},
        {"items=0-9", false, 0, 0},  {"bytes=0-9,20-29", false, 0, 0}, {"bytes=a-b", false, 0, 0}};
    for (const Case& c : cases) {
        std::size_t first = 0, last = 0;
        EXPECT_EQ(parseByteRange(c.header, 100, first, last), c.ok) << c.header;
        if (c.ok) {
            EXPECT_EQ(std::make_pair(first, last), std::make_pair(c.first, c.last)) << c.header;
        }
    }
}

TEST(DemoHttp, RequestHeadsAndKeepAlive)
{
    HttpRequest r;
    ASSERT_TRUE(parseRequestHead("GET /page/2/?x=1 HTTP/1.1\r\nHost: a\r\nConnection:  Close \r\n\r\n", r));
    EXPECT_EQ(r.path(), "/page/2/");
    EXPECT_EQ(r.header("connection"), "Close");
    EXPECT_FALSE(r.keepAlive());
    HttpRequest old;
    ASSERT_TRUE(parseRequestHead("GET / HTTP/1.0\r\n\r\n", old));
    EXPECT_FALSE(old.keepAlive());
    HttpRequest plain;
    ASSERT_TRUE(parseRequestHead("GET / HTTP/1.1\r\nHost: a\r\n\r\n", plain));
    EXPECT_TRUE(plain.keepAlive());
    for (const char* bad : {"GET\r\n\r\n", "GET / FTP/1.0\r\n\r\n", "GET nopath HTTP/1.1\r\n\r\n",
                            "GET / HTTP/1.1\r\nno colon\r\n\r\n"}) {
        HttpRequest ignored;
        EXPECT_FALSE(parseRequestHead(bad, ignored)) << bad;
    }
}

namespace {

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads one reply (head and Content-Length body) from the connection, waiting at most 5 s.
std::string readReply(int fd)
{
    std::string data;
    for (;;) {
        const std::size_t headEnd = data.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const std::string head = data.substr(0, headEnd);
            static const std::regex length("Content-Length: (\\d+)");
            std::smatch match;
            const std::size_t body = std::regex_search(head, match, length) ? std::stoul(match[1].str()) : 0;
            if (data.size() >= headEnd + 4 + body)
                return data.substr(0, headEnd + 4 + body);
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return data;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return data;
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(DemoHttp, ServesSeveralRequestsOnOneConnectionAndLogsEach)
{
    TempFolder dir{"vornel-demo-test"};
    RequestLog log;
    ASSERT_EQ(log.open(dir.path() + "/requests.log"), "");
    const CatalogueSite site("http://127.0.0.1:1", "http://127.0.0.2:2");
    HttpServer server([&](const HttpRequest& r) { return site.handle(r); }, log);
    ASSERT_EQ(server.listen("127.0.0.1", 0), "");
    server.start();
    const int fd = connectTo(server.port());
    ASSERT_GE(fd, 0);
    const std::string request1 = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string request2 = "GET /page/2/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(::send(fd, request1.data(), request1.size(), 0), static_cast<ssize_t>(request1.size()));
    const std::string first = readReply(fd);
    EXPECT_NE(first.find("HTTP/1.1 200 OK\r\n"), std::string::npos);
    EXPECT_NE(first.find("Connection: keep-alive\r\n"), std::string::npos);
    EXPECT_NE(first.find("page 1"), std::string::npos);
    ASSERT_EQ(::send(fd, request2.data(), request2.size(), 0), static_cast<ssize_t>(request2.size()));
    const std::string second = readReply(fd);
    EXPECT_NE(second.find("Connection: close\r\n"), std::string::npos);
    EXPECT_NE(second.find("page 2"), std::string::npos);
    char byte;
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 0) << "the server should close after Connection: close";
    ::close(fd);
    const std::string name = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(readAll(dir.path() + "/requests.log"), name + " /\n" + name + " /page/2/\n");
}
