// Opening URLs: the reply head reported and kept as tags, ICY metadata, and failures.
#include "tests/engine/engine_test_support.h"
#include "tests/support/loopback_listener.h"

#include <cstring>
#include <mutex>

namespace vornel::test {
namespace {

struct StatusCalls {
    std::mutex mutex;
    std::vector<std::vector<std::string>> heads;
};

void collectStatus(const void* buffer, DWORD length, void* user)
{
    if (!buffer || length != 0)
        return;
    auto* calls = static_cast<StatusCalls*>(user);
    std::vector<std::string> lines;
    for (const char* line = static_cast<const char*>(buffer); *line; line += std::strlen(line) + 1)
        lines.emplace_back(line);
    std::lock_guard lock(calls->mutex);
    calls->heads.push_back(lines);
}

std::vector<std::string> tagLines(const char* tags)
{
    std::vector<std::string> lines;
    for (; tags && *tags; tags += std::strlen(tags) + 1)
        lines.emplace_back(tags);
    return lines;
}

// Audio bytes with a metadata block after every interval bytes, as a radio server sends them.
std::string withIcyMetadata(const std::string& audio, size_t interval)
{
    std::string out;
    for (size_t at = 0, block = 0; at < audio.size(); at += interval, ++block) {
        out += audio.substr(at, interval);
        if (at + interval > audio.size())
            break;
        if (block % 2 == 0) {
            std::string meta = "StreamTitle='Block " + std::to_string(block) + "';";
            meta.resize((meta.size() + 15) / 16 * 16, '\0');
            out.push_back(static_cast<char>(meta.size() / 16));
            out += meta;
        } else {
            out.push_back('\0');
        }
    }
    return out;
}

class UrlStreamTest : public EngineTest {
protected:
    HSTREAM openWithStatus(const std::string& url, StatusCalls& calls, DWORD extra = 0)
    {
        return BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_STATUS | extra, collectStatus, &calls);
    }
};

TEST_F(UrlStreamTest, ReportsTheHttpHeadBeforeReturningAndKeepsItAsTags)
{
    Route route{makeToneMp3({.seconds = 1}), "audio/mpeg"};
    route.extraHeaders = {"icy-name:Loopback FM", "icy-br: 128"};
    server_.addRoute("/t.mp3", route);
    StatusCalls calls;
    const HSTREAM stream = openWithStatus(server_.url("/t.mp3"), calls);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_EQ(calls.heads.size(), 1u);
    const auto& head = calls.heads[0];
    EXPECT_EQ(head[0], "HTTP/1.1 200 OK");
    EXPECT_NE(std::find(head.begin(), head.end(), "icy-name:Loopback FM"), head.end());
    EXPECT_NE(std::find(head.begin(), head.end(), "Content-Type: audio/mpeg"), head.end());

    EXPECT_EQ(BASS_ChannelGetTags(stream, BASS_TAG_ICY), nullptr);
    EXPECT_EQ(tagLines(BASS_ChannelGetTags(stream, BASS_TAG_HTTP)), head);
    ASSERT_EQ(server_.requestHeads().size(), 1u);
    EXPECT_NE(server_.requestHeads()[0].find("\r\nIcy-MetaData: 1\r\n"), std::string::npos);
}

TEST_F(UrlStreamTest, WithoutTheStatusFlagNothingIsReported)
{
    const std::string url = serve("/t.mp3", {.seconds = 1});
    StatusCalls calls;
    const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, 0, collectStatus, &calls);
    ASSERT_NE(stream, 0u);
    EXPECT_TRUE(calls.heads.empty());
}

TEST_F(UrlStreamTest, IcyReplyGivesIcyTagsAndItsMetadataNeverReachesTheDecoder)
{
    const std::string audio = makeToneMp3({.frequency = 523, .seconds = 2});
    server_.addRoute("/plain.mp3", Route{audio, "audio/mpeg"});
    const std::string head = "ICY 200 OK\r\nicy-name:Loopback FM\r\nicy-br:128\r\nicy-metaint:1000\r\n"
                             "content-type:audio/mpeg\r\n\r\n";
    server_.addConnection(ConnectionScript().expectHead().send(head + withIcyMetadata(audio, 1000)).close());

    StatusCalls calls;
    const HSTREAM radio = openWithStatus(server_.url("/radio"), calls);
    ASSERT_NE(radio, 0u) << BASS_ErrorGetCode();
    ASSERT_EQ(calls.heads.size(), 1u);
    EXPECT_EQ(calls.heads[0][0], "ICY 200 OK");
    EXPECT_EQ(BASS_ChannelGetTags(radio, BASS_TAG_HTTP), nullptr);
    const auto icy = tagLines(BASS_ChannelGetTags(radio, BASS_TAG_ICY));
    ASSERT_GE(icy.size(), 3u);
    EXPECT_EQ(icy[0], "ICY 200 OK");
    EXPECT_EQ(icy[1], "icy-name:Loopback FM");
    EXPECT_EQ(icy[2], "icy-br:128");
    waitForDownload(radio);
    BASS_ChannelPlay(radio, false);
    const auto fromRadio = pullToEnd(radio);
    BASS_StreamFree(radio);

    const HSTREAM plain = open(server_.url("/plain.mp3"));
    ASSERT_NE(plain, 0u);
    waitForDownload(plain);
    BASS_ChannelPlay(plain, false);
    const auto fromFile = pullToEnd(plain);
    EXPECT_GT(toneAmplitude(fromFile, 0, 523), 0.3 * 32767);
    EXPECT_TRUE(fromRadio == fromFile) << "the metadata blocks changed the decoded sound";
}

TEST_F(UrlStreamTest, FollowsRedirects)
{
    serve("/t.mp3", {.seconds = 1});
    Route moved{"", "text/html"};
    moved.status = 302;
    moved.extraHeaders = {"Location: " + server_.url("/t.mp3")};
    server_.addRoute("/old", moved);
    StatusCalls calls;
    const HSTREAM stream = openWithStatus(server_.url("/old"), calls);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_EQ(calls.heads.size(), 1u);
    EXPECT_EQ(calls.heads[0][0], "HTTP/1.1 200 OK");
}

TEST_F(UrlStreamTest, FailuresGiveNoHandleAndAnErrorCode)
{
    Route missing{"<html>gone</html>", "text/html"};
    missing.status = 404;
    server_.addRoute("/missing.mp3", missing);
    Route denied{"no", "text/plain"};
    denied.status = 500;
    server_.addRoute("/broken.mp3", denied);
    server_.addRoute("/page.html", Route{"<html><body>" + std::string(20000, 'x') + "</body></html>", "text/html"});
    server_.addRoute("/empty.mp3", Route{"", "audio/mpeg"});
    server_.addRoute("/noise.mp3", Route{std::string(100000, '\x55'), "audio/mpeg"});
    struct Case {
        std::string url;
        int error;
    };
    const std::vector<Case> cases = {
        {server_.url("/missing.mp3"), BASS_ERROR_FILEOPEN},
        {server_.url("/broken.mp3"), BASS_ERROR_FILEOPEN},
        {"http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/t.mp3", BASS_ERROR_FILEOPEN},
        {"ftp://127.0.0.1/t.mp3", BASS_ERROR_FILEOPEN},
        {server_.url("/page.html"), BASS_ERROR_FORMAT},
        {server_.url("/empty.mp3"), BASS_ERROR_FORMAT},
        {server_.url("/noise.mp3"), BASS_ERROR_FORMAT},
        {"", BASS_ERROR_ILLPARAM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(BASS_StreamCreateURL(c.url.c_str(), 0, BASS_STREAM_STATUS, nullptr, nullptr), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), c.error);
    }
    EXPECT_EQ(BASS_StreamCreateURL(nullptr, 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
}

TEST_F(UrlStreamTest, AnErrorStatusIsReportedBeforeTheOpenFails)
{
    Route missing{"<html>gone</html>", "text/html"};
    missing.status = 404;
    server_.addRoute("/missing.mp3", missing);
    StatusCalls calls;
    EXPECT_EQ(openWithStatus(server_.url("/missing.mp3"), calls), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
    ASSERT_EQ(calls.heads.size(), 1u);
    EXPECT_EQ(calls.heads[0][0].substr(0, 12), "HTTP/1.1 404");
}

TEST_F(UrlStreamTest, NormalStreamDownloadsTheWholeFileWithoutWaitingForPlayback)
{
    const std::string bytes = makeToneMp3({.seconds = 20});
    server_.addRoute("/t.mp3", Route{bytes, "audio/mpeg"});
    const HSTREAM stream = open(server_.url("/t.mp3"));
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END), bytes.size());
    waitForDownload(stream);
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER), bytes.size());
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BLOCKFULL), 0u);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u);
}

TEST_F(UrlStreamTest, WithoutContentLengthTheTotalIsUnknown)
{
    Route route{makeToneMp3({.seconds = 1}), "audio/mpeg"};
    route.lengthFramed = false;
    server_.addRoute("/t.mp3", route);
    const HSTREAM stream = open(server_.url("/t.mp3"));
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(static_cast<uint32_t>(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END)), 0xFFFFFFFFu);
    waitForDownload(stream);
    BASS_ChannelPlay(stream, false);
    pullToEnd(stream);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), BASS_ChannelGetLength(stream, BASS_POS_BYTE));
}

TEST_F(UrlStreamTest, AnMp3LabelledAsHtmlPlaysWhileItStillDownloads)
{
    // 30 s of sound sent over about 4 s.
    Route route{makeToneMp3({.frequency = 440, .seconds = 30}), "text/html; charset=utf-8"};
    route.dripSize = 8000;
    route.dripPause = Millis(60);
    server_.addRoute("/labelled.html", route);
    const HSTREAM stream = open(server_.url("/labelled.html"));
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED), 1u);
    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    pull(4096);
    EXPECT_GT(toneAmplitude(pull(8192), 0, 440), 0.4 * 32767);
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED), 1u);
    EXPECT_LT(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER),
              BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END));
    BASS_StreamFree(stream);
}

TEST_F(UrlStreamTest, AHugeAnnouncedLengthGivesAHugeEstimateNotAFailure)
{
    // The reply announces far more than it sends; the estimate before the end follows the
    // announcement.
    const std::string audio = makeToneMp3({.seconds = 1, .infoFrame = false});
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\n"
                             "Content-Length: 2000000000000000000\r\n\r\n";
    server_.addConnection(ConnectionScript().expectHead().send(head + audio).wait(Millis(3000)).close());
    const HSTREAM stream =
        BASS_StreamCreateURL(server_.url("/huge.mp3").c_str(), 0, BASS_STREAM_STATUS, nullptr, nullptr);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    ASSERT_NE(length, static_cast<QWORD>(-1));
    EXPECT_GT(length, QWORD(1) << 50);
    BASS_StreamFree(stream);
}

} // namespace
} // namespace vornel::test
