// Playlists: recognising them and following them to their first playable entry.
#include "playback/engine/playlist.h"
#include "tests/engine/engine_test_support.h"

namespace vornel::test {
namespace {

using audio::looksLikePlaylist;
using audio::playlistEntries;

TEST(PlaylistParsing, RecognisesPlaylistsByTypeExtensionOrContent)
{
    struct Case {
        std::string type, url, start;
        bool playlist;
    };
    const std::vector<Case> cases = {
        {"audio/x-scpls", "http://h/a", "", true},
        {"audio/x-mpegurl; charset=utf-8", "http://h/a", "", true},
        {"Audio/MpegURL", "http://h/a", "", true},
        {"text/plain", "http://h/list.PLS?x=1", "", true},
        {"application/octet-stream", "http://h/dir/list.m3u", "", true},
        {"text/plain", "http://h/a", "[playlist]\nFile1=x", true},
        {"", "http://h/a", "\xEF\xBB\xBF#EXTM3U\n", true},
        {"audio/mpeg", "http://h/track.mp3", "ID3\x03", false},
        {"audio/mpeg", "http://h/pls/track.mp3", "\xFF\xFB", false},
        {"text/html", "http://h/a", "<html>", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(looksLikePlaylist(c.type, c.url, c.start), c.playlist) << c.type << " " << c.url;
}

TEST(PlaylistParsing, PlsEntriesInNumberOrder)
{
    const std::string pls = "[playlist]\r\nNumberOfEntries=3\r\nFile2=http://b/2.mp3\r\nTitle1=One\r\n"
                            "File1=http://a/1.mp3\r\nfile10=http://c/10.mp3\r\nFile3=\r\nVersion=2\r\n";
    EXPECT_EQ(playlistEntries(pls, "http://h/x.pls"),
              (std::vector<std::string>{"http://a/1.mp3", "http://b/2.mp3", "http://c/10.mp3"}));
}

TEST(PlaylistParsing, M3uEntriesSkipCommentsAndResolveRelativeOnes)
{
    const std::string m3u = "#EXTM3U\n#EXTINF:123,Artist - Title\n  one.mp3  \n\n/root/two.mp3\n"
                            "https://other/three.mp3\n";
    EXPECT_EQ(
        playlistEntries(m3u, "http://h:81/dir/list.m3u?q=1"),
        (std::vector<std::string>{"http://h:81/dir/one.mp3", "http://h:81/root/two.mp3", "https://other/three.mp3"}));
}

class PlaylistStreamTest : public EngineTest {};

TEST_F(PlaylistStreamTest, FollowsPlsAndM3uToTheirFirstPlayableEntry)
{
    const std::string track = serve("/track.mp3", {.frequency = 440, .seconds = 1});
    Route missing{"gone", "text/plain"};
    missing.status = 404;
    server_.addRoute("/missing.mp3", missing);
    const std::string dead = server_.url("/missing.mp3");
    server_.addRoute("/radio", Route{"[playlist]\nFile1=" + dead + "\nFile2=" + track + "\n", "audio/x-scpls"});
    server_.addRoute("/list.m3u", Route{"#EXTM3U\n" + dead + "\n" + track + "\n", "text/plain"});
    server_.addRoute("/sniffed", Route{"#EXTM3U\n/track.mp3\n", "application/octet-stream"});
    for (const std::string path : {"/radio", "/list.m3u", "/sniffed"}) {
        SCOPED_TRACE(path);
        const HSTREAM stream = open(server_.url(path));
        ASSERT_NE(stream, 0u);
        BASS_ChannelPlay(stream, false);
        pull(4096);
        EXPECT_GT(toneAmplitude(pull(8192), 0, 440), 0.4 * 32767);
        BASS_StreamFree(stream);
    }
}

TEST_F(PlaylistStreamTest, PlaylistsAreNotFollowedWhenTheSettingIsOff)
{
    const std::string track = serve("/track.mp3", {.seconds = 1});
    server_.addRoute("/radio", Route{"[playlist]\nFile1=" + track + "\n", "audio/x-scpls"});
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 0);
    EXPECT_EQ(BASS_StreamCreateURL(server_.url("/radio").c_str(), 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

TEST_F(PlaylistStreamTest, PlaylistWithoutPlayableEntryFails)
{
    server_.addRoute("/self.pls", Route{"[playlist]\nFile1=" + server_.url("/self.pls") + "\n", "audio/x-scpls"});
    server_.addRoute("/none.pls", Route{"[playlist]\nNumberOfEntries=0\n", "audio/x-scpls"});
    for (const std::string path : {"/self.pls", "/none.pls"}) {
        EXPECT_EQ(BASS_StreamCreateURL(server_.url(path).c_str(), 0, 0, nullptr, nullptr), 0u) << path;
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM) << path;
    }
}

TEST_F(PlaylistStreamTest, OneOpenFollowsAtMostSixteenPlaylistUrls)
{
    // Each playlist lists itself many times over, and nothing in it plays.
    struct Case {
        std::string path, body;
    };
    std::string selfMany = "[playlist]\n";
    for (int i = 1; i <= 40; ++i)
        selfMany += "File" + std::to_string(i) + "=" + server_.url("/fan.pls") + "\n";
    std::string m3u = "#EXTM3U\n";
    for (int i = 0; i < 40; ++i)
        m3u += server_.url("/fan.m3u") + "\n";
    for (const Case& c : {Case{"/fan.pls", selfMany}, Case{"/fan.m3u", m3u}}) {
        SCOPED_TRACE(c.path);
        server_.addRoute(c.path, Route{c.body, "text/plain"});
        const size_t before = server_.requestHeads().size();
        EXPECT_EQ(BASS_StreamCreateURL(server_.url(c.path).c_str(), 0, 0, nullptr, nullptr), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
        EXPECT_EQ(server_.requestHeads().size() - before, 1u + 16u);
    }
}

} // namespace
} // namespace vornel::test
