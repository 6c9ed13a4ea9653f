// What a stream says it plays: a radio's ICY StreamTitle and an MP3's ID3v2 text, read as
// tags and announced to the tags proc when they change mid-stream.
#include "tests/engine/engine_test_support.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>

namespace vornel::test {
namespace {

// Every call of the tags proc, from whichever engine thread makes it.
struct TagCalls {
    std::mutex mutex;
    std::vector<std::pair<HSTREAM, DWORD>> calls;

    static void record(HSTREAM handle, DWORD tags, void* user)
    {
        auto* self = static_cast<TagCalls*>(user);
        std::lock_guard lock(self->mutex);
        self->calls.emplace_back(handle, tags);
    }
    size_t count(HSTREAM handle, DWORD tags)
    {
        std::lock_guard lock(mutex);
        return static_cast<size_t>(std::count(calls.begin(), calls.end(), std::make_pair(handle, tags)));
    }
};

std::vector<std::string> lines(const char* tags)
{
    std::vector<std::string> result;
    for (; tags && *tags; tags += std::strlen(tags) + 1)
        result.emplace_back(tags);
    return result;
}

// Audio with a metadata block after every interval bytes; titleAt(block) is the block's
// StreamTitle, or empty for an empty block.
std::string withTitles(const std::string& audio, size_t interval, const std::function<std::string(size_t)>& titleAt)
{
    std::string out;
    for (size_t at = 0, block = 0; at < audio.size(); at += interval, ++block) {
        out += audio.substr(at, interval);
        if (at + interval > audio.size())
            break;
        const std::string title = titleAt(block);
        if (title.empty()) {
            out.push_back('\0');
            continue;
        }
        std::string meta = "StreamTitle='" + title + "';StreamUrl='';";
        meta.resize((meta.size() + 15) / 16 * 16, '\0');
        out.push_back(static_cast<char>(meta.size() / 16));
        out += meta;
    }
    return out;
}

class StreamTagsTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        BASS_SetStreamTagsProc(&TagCalls::record, &calls);
    }
    void TearDown() override
    {
        BASS_SetStreamTagsProc(nullptr, nullptr);
        EngineTest::TearDown();
    }

    TagCalls calls;
};

TEST_F(StreamTagsTest, ARadioTitleIsReadAndEachChangeAnnounced)
{
    const std::string audio = makeToneMp3({.frequency = 440, .seconds = 3});
    constexpr size_t interval = 4000;
    // "One" in the first blocks, then empty blocks that change nothing, then "Two".
    const std::string body = withTitles(audio, interval, [](size_t block) -> std::string {
        if (block < 2)
            return "Band A - One";
        return block < 6 ? "" : "Band B - Tw\xF6"; // Latin-1, as many servers send it
    });
    const std::string head = "ICY 200 OK\r\nicy-name:Loopback FM\r\nicy-metaint:" + std::to_string(interval) +
                             "\r\ncontent-type:audio/mpeg\r\n\r\n";
    // The second title comes only once the test has read the first.
    std::atomic<bool> firstRead{false};
    server_.addConnection(ConnectionScript()
                              .expectHead()
                              .send(head + body.substr(0, 5 * (interval + 1)))
                              .waitFor([&] { return firstRead.load(); })
                              .send(body.substr(5 * (interval + 1)))
                              .close());
    const HSTREAM radio = open(server_.url("/radio"));
    ASSERT_NE(radio, 0u);
    ASSERT_TRUE(waitUntil([&] { return calls.count(radio, BASS_TAG_ICY_TITLE) == 1; }));
    EXPECT_EQ(lines(BASS_ChannelGetTags(radio, BASS_TAG_ICY_TITLE)), std::vector<std::string>{"title=Band A - One"});
    EXPECT_EQ(BASS_ChannelGetTags(radio, BASS_TAG_ID3V2_TEXT), nullptr);
    firstRead = true;
    waitForDownload(radio);
    EXPECT_EQ(lines(BASS_ChannelGetTags(radio, BASS_TAG_ICY_TITLE)),
              std::vector<std::string>{"title=Band B - Tw\xC3\xB6"});
    EXPECT_EQ(calls.count(radio, BASS_TAG_ICY_TITLE), 2u) << "one call per title, none for repeats";
    BASS_StreamFree(radio);
}

TEST_F(StreamTagsTest, Id3TextIsReadAtTheStartAndAgainWhereTheNextFileBegins)
{
    const std::string first = id3v2Tag("First Song", "Band \xC3\x84");
    const std::string second = id3v2Tag("Second Song", "Band B");
    server_.addRoute("/two.mp3", Route{first + makeToneMp3({.frequency = 440, .seconds = 2}) + second +
                                           makeToneMp3({.frequency = 660, .seconds = 2}),
                                       "audio/mpeg"});
    const HSTREAM stream = open(server_.url("/two.mp3"));
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(lines(BASS_ChannelGetTags(stream, BASS_TAG_ID3V2_TEXT)),
              (std::vector<std::string>{"title=First Song", "artist=Band \xC3\x84"}));
    EXPECT_EQ(BASS_ChannelGetTags(stream, BASS_TAG_ICY_TITLE), nullptr);
    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    pullToEnd(stream);
    EXPECT_EQ(lines(BASS_ChannelGetTags(stream, BASS_TAG_ID3V2_TEXT)),
              (std::vector<std::string>{"title=Second Song", "artist=Band B"}));
    EXPECT_EQ(calls.count(stream, BASS_TAG_ID3V2_TEXT), 2u);
}

TEST_F(StreamTagsTest, AStreamWithoutTagsSaysNothingAndAClearedProcHearsNothing)
{
    BASS_SetStreamTagsProc(nullptr, nullptr);
    server_.addRoute("/tagged.mp3", Route{id3v2Tag("Song", "Band") + makeToneMp3({.seconds = 1}), "audio/mpeg"});
    const HSTREAM plain = open(serve("/plain.mp3", {.seconds = 1}));
    const HSTREAM tagged = open(server_.url("/tagged.mp3"));
    ASSERT_NE(plain, 0u);
    ASSERT_NE(tagged, 0u);
    EXPECT_EQ(BASS_ChannelGetTags(plain, BASS_TAG_ID3V2_TEXT), nullptr);
    EXPECT_EQ(BASS_ChannelGetTags(plain, BASS_TAG_ICY_TITLE), nullptr);
    EXPECT_NE(BASS_ChannelGetTags(tagged, BASS_TAG_ID3V2_TEXT), nullptr);
    std::lock_guard lock(calls.mutex);
    EXPECT_TRUE(calls.calls.empty());
}

} // namespace
} // namespace vornel::test
